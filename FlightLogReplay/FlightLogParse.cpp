#include <cstring>

#include "Core/Format.h"
#include "FlightLogReplay/FlightLogList.h"
#include "Platform/FileTables.h"

namespace {

constexpr i64 kParseIdleStepMs = 1000000;

bool endsWithIgnoringCase(const FixedString* name, const char* suffix) {
    i64 length = static_cast<i64>(std::strlen(suffix));
    if (name->length < length) return false;
    const char* tail = name->text + name->length - length;
    for (i64 i = 0; i < length; i++) {
        char a = tail[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (a != suffix[i]) return false;
    }
    return true;
}

i32 payloadDrops(const DroneConnection* connection) {
    const OrvikPayloadState* orvik = &connection->payload.orvik;
    return static_cast<i32>(orvik->dropCounterA) + static_cast<i32>(orvik->dropCounterB);
}

// Replays the whole log once, counting what happened in it.
void countReplayedEvents(FlightLogList* list) {
    FlightLogReplay* replay = &list->parseReplay;
    std::memset(static_cast<void*>(replay), 0, sizeof(*replay));
    const FlightLogIndex* index = &list->index;
    i64 cursor = 0;
    bool haveBaseline = false;
    i32 baseline = 0;
    u32 wasRecording = 0;
    u32 videos = 0;
    while (cursor < index->entryCount) {
        FlightLogReplayStep step;
        replayFlightLog(&step, &cursor, index->endTime, kParseIdleStepMs, nullptr, index, replay, nullptr);
        if (step.type == -1) break;
        const DroneConnection* connection = &replay->connection;
        if (!haveBaseline && connection->payload.orvik.statusTime != 0 &&
            connection->payload.orvik.statusTime == static_cast<u64>(replay->replayMicros)) {
            baseline = payloadDrops(connection);
            haveBaseline = true;
        }
        u32 recording = replayCameraState(connection).recording;
        videos += videoEndsAfterEntry(wasRecording, recording, index->entryCount - cursor);
        wasRecording = recording;
    }
    // Counters that went back (a payload restarted) count nothing rather than wrap.
    i32 spheres = haveBaseline ? payloadDrops(&replay->connection) - baseline : 0;
    list->ignitionSpheres = spheres > 0 ? static_cast<u32>(spheres) : 0;
    list->videos = videos;
    list->photos = replayCameraState(&replay->connection).photos + replay->mappingKitPhotos;
}

}  // namespace

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

u32 flightLogParseState(const FlightLogList* list) { return __atomic_load_n(&list->parseState, __ATOMIC_ACQUIRE); }

i64 parseFlightLogJob(void* argument) {
    FlightLogList* list = static_cast<FlightLogList*>(argument);
    FileReadRequest* request = list->logRequest;
    list->index = FlightLogIndex{};
    list->ignitionSpheres = 0;
    list->photos = 0;
    list->videos = 0;
    if (!request || !endsWithIgnoringCase(&request->name, ".qvlog3")) {
        list->index.error = format("Unrecognized file extension, should be .qvlog3");
    } else {
        list->extensionFound = 1;
        list->index = optimizeFlightLogFile(request->data + request->headroom, static_cast<i64>(request->bytesRead));
        if (list->index.error.length == 0) countReplayedEvents(list);
    }
    __atomic_store_n(&list->parseState, static_cast<u32>(FlightLogParseDone), __ATOMIC_RELEASE);
    return 0;
}
