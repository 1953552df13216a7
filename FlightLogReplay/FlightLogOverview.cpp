#include "FlightLogReplay/FlightLogOverview.h"

#include <cmath>
#include <cstring>

#include "Core/MathEarth.h"
#include "FlightLogs/FlightLogger.h"

namespace {

bool isFinite(f64 value) { return value - value == 0.0; }

// Sets bit 0 for a finite value, bit 1 for a NaN or infinite one; true for the latter.
bool notePresence(u32* set, f64 value) {
    bool gap = !isFinite(value);
    *set |= gap ? 2u : 1u;
    return gap;
}

void closeRecording(FlightLogOverview* overview, OpenRecording* recording, u32 thermal, i64 end) {
    if (!recording->open) return;
    recording->open = 0;
    if (overview->recordingCount >= kMaxReplayRecordings) return;
    u32 i = overview->recordingCount++;
    u64 bit = 1ull << i;
    overview->recordingStart[i] = recording->start;
    overview->recordingLength[i] = end - recording->start;
    if (!thermal && recording->kind == CameraGimbal) overview->recordingVisible |= bit;
    if (thermal) overview->recordingThermal |= bit;
    if (recording->mslPilotGap) overview->recordingMslPilotGap |= bit;
    if (recording->mslDemGap) overview->recordingMslDemGap |= bit;
}

// Follows one sensor's flag after a step: opens a recording when it starts, closes it when it stops.
void followRecording(FlightLogOverview* overview, OpenRecording* recording, u32 thermal, u32 flag,
                     const ReplayCameraState* camera, u64 statusTimeBefore, i64 replayTime) {
    if (flag && !recording->open) {
        *recording = OpenRecording{};
        recording->open = 1;
        recording->kind = camera->kind;
        // A camera whose very first status already reports a recording started it that long ago.
        recording->start = statusTimeBefore == 0 ? replayTime - camera->elapsedMs : replayTime;
    } else if (!flag && recording->open) {
        closeRecording(overview, recording, thermal, replayTime);
    }
}

void widenTrackBounds(f64 bounds[4], f64 longitude, f64 latitude) {
    if (!isFinite(longitude) || !isFinite(latitude)) return;
    if (bounds[0] <= bounds[1]) longitude = wrapLongitudeNear(longitude, bounds[0]);
    if (longitude < bounds[0]) bounds[0] = longitude;
    if (longitude > bounds[1]) bounds[1] = longitude;
    if (latitude < bounds[2]) bounds[2] = latitude;
    if (latitude > bounds[3]) bounds[3] = latitude;
}

i32 payloadDrops(const DroneConnection* connection) {
    const OrvikPayloadState* orvik = &connection->payload.orvik;
    return static_cast<i32>(orvik->dropCounterA) + static_cast<i32>(orvik->dropCounterB);
}

// The list's counts from the replay as it stands.
void takeCounts(FlightLogOverviewPass* pass, FlightLogOverview* overview, const FlightLogReplay* replay) {
    // Counters that went back (a payload restarted) count nothing rather than wrap.
    i32 spheres = pass->haveBaseline ? payloadDrops(&replay->connection) - pass->baseline : 0;
    overview->ignitionSpheres = spheres > 0 ? static_cast<u32>(spheres) : 0;
    overview->videos = pass->videos;
    overview->photos = replayCameraState(&replay->connection).photos + replay->mappingKitPhotos;
    pass->countsTaken = 1;
}

// The list's part of a step: the payload's first status and the ends of recordings.
void countStep(FlightLogOverviewPass* pass, const FlightLogReplay* replay, const ReplayCameraState* camera,
               i64 entriesLeft) {
    const DroneConnection* connection = &replay->connection;
    const OrvikPayloadState* orvik = &connection->payload.orvik;
    if (!pass->haveBaseline && orvik->statusTime != 0 && orvik->statusTime == static_cast<u64>(replay->replayMicros)) {
        pass->baseline = payloadDrops(connection);
        pass->haveBaseline = 1;
    }
    pass->videos += videoEndsAfterEntry(pass->wasRecording, camera->recording, entriesLeft);
    pass->wasRecording = camera->recording;
}

// The viewer's part of a position entry: the presence sets, the track and its bounds.
void trackStep(FlightLogOverviewPass* pass, FlightLogOverview* overview, const FlightLogReplay* replay) {
    const DroneConnection* connection = &replay->connection;
    const VehicleState* vehicle = &connection->vehicle;
    notePresence(&overview->aglPresence, replay->altitudeAboveGround);
    bool demGap = notePresence(&overview->mslDemPresence, replay->altitudeMslFromElevationMap);
    bool pilotGap = notePresence(&overview->mslPilotPresence, replay->altitudeMslFromTakeoffElevation);
    OpenRecording* opened[2] = {&pass->visible, &pass->thermal};
    for (OpenRecording* open : opened) {
        if (!open->open) continue;
        open->mslDemGap |= demGap ? 1u : 0u;
        open->mslPilotGap |= pilotGap ? 1u : 0u;
    }
    // The track follows the vehicle itself: its last reported position and its altitude above
    // takeoff, each with the vehicle's offset.
    bool located = vehicle->globalPosition.time != 0;
    if (overview->trackCount < kMaxTrackSamples) {
        u32 i = overview->trackCount++;
        overview->trackStepDistance[i] = static_cast<f32>(replay->lastStepDistance);
        overview->trackAltitude[i] =
            located ? static_cast<f32>(vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset) : NAN;
        overview->trackAgl[i] = static_cast<f32>(replay->altitudeAboveGround);
        if (connection->payload.orvik.dropping) overview->trackPayloadBits[i / 64] |= 1ull << (i % 64);
    }
    if (located) {
        widenTrackBounds(overview->trackBounds, vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                         vehicle->globalPosition.latitude + vehicle->latitudeOffset);
    }
}

}  // namespace

void beginFlightLogOverview(FlightLogOverviewPass* pass, FlightLogOverview* overview, FlightLogReplay* replay) {
    *pass = FlightLogOverviewPass{};
    std::memset(static_cast<void*>(overview), 0, sizeof(*overview));
    overview->trackBounds[0] = 1e12;
    overview->trackBounds[1] = -1e12;
    overview->trackBounds[2] = 1e12;
    overview->trackBounds[3] = -1e12;
    std::memset(static_cast<void*>(replay), 0, sizeof(*replay));
}

u32 continueFlightLogOverview(FlightLogOverviewPass* pass, FlightLogOverview* overview, FlightLogReplay* replay,
                              const FlightLogIndex* index, i64 maxEntries) {
    const DroneConnection* connection = &replay->connection;
    for (i64 done = 0; done < maxEntries && pass->cursor < index->entryCount; done++) {
        // The list's replay goes up to the log's end time; an entry after it (only a log of fewer than
        // two entries has one) would stop it, so its counts are taken before.
        if (!pass->countsTaken && pass->cursor >= index->firstSortedEntry &&
            flightLogEntryTime(index, pass->cursor) > index->endTime) {
            takeCounts(pass, overview, replay);
        }
        u64 statusTimeBefore = replayCameraState(connection).statusTime;
        FlightLogReplayStep step;
        replayFlightLog(&step, &pass->cursor, INT64_MAX, kOverviewIdleStepMs, nullptr, index, replay, nullptr);
        ReplayCameraState camera = replayCameraState(connection);
        if (!pass->countsTaken) countStep(pass, replay, &camera, index->entryCount - pass->cursor);
        if (step.type == FlightLogAugmentedPosition) {
            trackStep(pass, overview, replay);
        } else if (step.type == FlightLogReceivedFromDrone || step.type == FlightLogReceivedFromCamera) {
            overview->lastDatagramEntry = pass->cursor - 1;
        }
        followRecording(overview, &pass->visible, 0, camera.visible, &camera, statusTimeBefore, step.replayTime);
        followRecording(overview, &pass->thermal, 1, camera.thermal, &camera, statusTimeBefore, step.replayTime);
    }
    if (pass->cursor < index->entryCount) return 0;
    if (!pass->countsTaken) takeCounts(pass, overview, replay);
    // Recordings still running at the last entry end there.
    closeRecording(overview, &pass->visible, 0, replay->replayTime);
    closeRecording(overview, &pass->thermal, 1, replay->replayTime);
    overview->totalDistance = replay->travelledDistance;
    overview->photoCount = replayCameraState(connection).photos + replay->mappingKitPhotos;
    return 1;
}

u32 flightLogOverviewPercent(const FlightLogOverviewPass* pass, const FlightLogIndex* index) {
    if (index->entryCount <= 0) return 100;
    return static_cast<u32>(pass->cursor * 100 / index->entryCount);
}

ReplayCameraState replayCameraState(const DroneConnection* connection) {
    ReplayCameraState camera{};
    camera.kind = connection->cameraKind;
    camera.photos = connection->cameraView.imagesCaptured;
    switch (connection->cameraKind) {
        case CameraGimbal:
            camera.visible = connection->workswellCamera.recording ? 1 : 0;
            camera.statusTime = connection->workswellCamera.recordingTimeReceived;
            camera.elapsedMs = connection->workswellCamera.recordingTimeMs;
            break;
        case CameraNextVision:
            camera.visible = connection->nextVision.recordingChannel1 ? 1 : 0;
            camera.thermal = connection->nextVision.recordingChannel2 ? 1 : 0;
            camera.statusTime = connection->nextVision.reportTime[0];
            break;
        case CameraProtocol:
            camera.visible = connection->protocolCamera.recording ? 1 : 0;
            camera.statusTime = connection->protocolCamera.captureStatusTime;
            camera.elapsedMs = connection->protocolCamera.recordingTimeMs;
            break;
        default: break;
    }
    camera.recording = camera.visible | camera.thermal;
    return camera;
}

u32 videoEndsAfterEntry(u32 wasRecording, u32 recording, i64 entriesLeft) {
    if (wasRecording && !recording) return 1;
    return recording && entriesLeft == 0 ? 1 : 0;
}
