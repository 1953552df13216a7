// The exports as walks over a log that stop after any replayed entry and go on from there: the
// photo-info table, the video metadata of one recording and the flight-path GPX.
#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/MathQuaternion.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "FlightLogReplay/FlightLogExports.h"
#include "FlightLogs/FlightLogger.h"
#include "Video/CameraLink.h"

namespace {

constexpr i64 kIdleStepMs = 1000;
constexpr i64 kTrackRowSpacingMs = 100;
constexpr f64 kDegreesPerRadian = 57.29577951308232;
constexpr i64 kUnixEpochFrom1601Ms = 11644473600000;
constexpr const char* kMakerAddress = "https://tarnwick.com";

enum WalkPhase : u32 {
    PhaseStart = 0,
    PhaseDone,
    // Photo info: the replay up to the log's start, then the datagrams read for photos, each photo
    // row written once the replay has reached it.
    PhotoPrelude,
    PhotoScan,
    PhotoDrain,
    // Video metadata: the replay up to the log's start and the recording's, then a row per step.
    FmvPreludeToLog,
    FmvPreludeToRecording,
    FmvRows,
    // Flight path: the drops over the whole log, then the track over it once more.
    GpxDrops,
    GpxTrackStart,
    GpxTrack,
};

u32 readU32Be(const u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }
u64 readU64Be(const u8* p) { return (u64)readU32Be(p) << 32 | readU32Be(p + 4); }

FlightLogReplayStep replayStep(i64* cursor, i64 target, const FlightLogIndex* index, FlightLogReplay* replay,
                               const ReplayElevation* elevation) {
    FlightLogReplayStep step{};
    replayFlightLog(&step, cursor, target, kIdleStepMs, nullptr, index, replay, elevation);
    return step;
}

f64 vehicleLatitude(const FlightLogReplay* replay) {
    const VehicleState* v = &replay->connection.vehicle;
    return v->globalPosition.latitude + v->latitudeOffset;
}
f64 vehicleLongitude(const FlightLogReplay* replay) {
    const VehicleState* v = &replay->connection.vehicle;
    return v->globalPosition.longitude + v->longitudeOffset;
}
f64 vehicleAboveTakeoff(const FlightLogReplay* replay) {
    const VehicleState* v = &replay->connection.vehicle;
    return v->globalPosition.relativeAltitude + v->altitudeOffset;
}

// What one call may still do: replayed entries left, and the room the writer must keep.
struct Budget {
    i64 steps;
    i64 reserve;  // 0: no limit
};

bool canGoOn(const Budget* budget, const ByteWriter* out) {
    return budget->steps > 0 && (budget->reserve == 0 || out->capacity - out->length >= budget->reserve);
}

// ----- photo info -------------------------------------------------------------------------------

// An image name with the characters that would break the row (commas, quotes, line ends) as ";".
void appendImageName(const u8* bytes, i64 capacity, ByteWriter* out) {
    for (i64 i = 0; i < capacity && bytes[i] != 0; i++) {
        u8 c = bytes[i];
        appendU8(c == ',' || c == '"' || c == '\r' || c == '\n' ? (u8)';' : c, out);
    }
}

// A row at time: the photo's name (none for a track row), then the replayed state.
void writePhotoRow(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogReplay* replay, i64 time,
                   const PendingPhoto* photo) {
    appendInt64(time, out);
    appendU8(',', out);
    if (photo && photo->nameOffset >= 0) {
        appendImageName(walk->message.payload + photo->nameOffset, photo->nameCapacity, out);
    } else if (photo && photo->turboNumber >= 0) {
        appendCString("Turbo ", out);
        appendInt64(photo->turboNumber, out);
    }
    appendU8(',', out);
    appendFixedPoint(replay->connection.payload.value3, 2, out);
    appendU8(',', out);
    appendDouble(vehicleLatitude(replay), 7, out);
    appendU8(',', out);
    appendDouble(vehicleLongitude(replay), 7, out);
    appendU8(',', out);
    appendDouble(vehicleAboveTakeoff(replay), 3, out);
    EulerAngles gimbal;
    quaternionToEuler(&gimbal, &replay->connection.gimbalPointing.attitude);
    appendU8(',', out);
    appendDouble(gimbal.yawDegrees, 6, out);
    appendU8(',', out);
    appendDouble(gimbal.pitchDegrees, 6, out);
    appendU8(',', out);
    appendDouble(gimbal.rollDegrees, 6, out);
    appendU8('\n', out);
    walk->previousRowTime = time;
}

void addPhoto(FlightLogExportWalk* walk, i64 time, i32 nameOffset, i32 nameCapacity, i64 turboNumber) {
    if (walk->photoCount >= kMaxPayloadPhotosPerJump) return;
    walk->photos[walk->photoCount++] = PendingPhoto{time, nameOffset, nameCapacity, turboNumber};
}

// The photos one frame of a datagram reports, as rows to write: a camera's capture (at its own time
// when a camera-protocol camera's is earlier than the entry), a NextVision snapshot, the payload's
// photo count rising (up to five photos back from its last one), or, in the log's last datagram, a
// row without a name.
void collectPhotos(FlightLogExportWalk* walk, const FlightLogReplay* replay, bool last) {
    const MavlinkMessage* message = &walk->message;
    const u8* p = message->payload;
    i64 entryTime = walk->entryTime;
    walk->photoCount = 0;
    walk->photoNext = 0;
    if (message->messageId == MavlinkCameraImageCaptured) {
        i64 time = entryTime;
        i64 cameraTime = (i64)(mavlinkU64(p) / 1000);
        if (replay->connection.cameraKind == CameraProtocol && cameraTime < time) time = cameraTime;
        addPhoto(walk, time, 50, 205, -1);
    } else if (message->messageId == MavlinkV2Extension && message->source == kNextVisionSource && mavlinkU16(p) == 5) {
        addPhoto(walk, entryTime, 2, 48, -1);
    } else if (message->messageId == MavlinkEncapsulatedData) {
        PayloadFrameParser frames{};
        nextPayloadFrame(&frames, p, 0, message->payloadLength);
        if (!frames.frameReady || frames.type != PayloadFrameCounters || frames.payloadLength < 35) return;
        const u8* body = frames.payload;
        i64 period = (body[13] << 8) | body[14];
        i64 messageStamp = (i64)readU64Be(body + 15);
        i64 lastPhotoStamp = (i64)readU64Be(body + 23);
        i64 count = (i32)readU32Be(body + 31);
        if (walk->previousPhotoCount >= 0 && walk->previousPhotoCount < count) {
            i64 k = count - walk->previousPhotoCount;
            if (k > kMaxPayloadPhotosPerJump) k = kMaxPayloadPhotosPerJump;
            i64 lastPhoto = (lastPhotoStamp - messageStamp) + entryTime;
            for (i64 j = 0; j < k; j++) addPhoto(walk, lastPhoto - (k - 1 - j) * period, -1, 0, count - (k - 1) + j);
        }
        walk->previousPhotoCount = count;
    } else if (last) {
        addPhoto(walk, entryTime, -1, 0, -1);
    }
}

// The next frame of a datagram that can hold photos (or of the last datagram); false once every
// entry has been read.
bool nextPhotoFrame(FlightLogExportWalk* walk, const FlightLogIndex* index, Budget* budget) {
    for (;;) {
        if (walk->entry >= index->entryCount) return false;
        const u8* payload = flightLogEntryPayload(index, walk->entry);
        u16 length = flightLogEntryLength(index, walk->entry);
        if (walk->framePosition < 0) {
            // A new entry: only datagrams whose first message may report a photo are read.
            u8 type = index->entryTypes[walk->entry];
            i64 id = datagramFirstMessageId(payload, length);
            bool wanted = (type == FlightLogReceivedFromDrone || type == FlightLogReceivedFromCamera) &&
                          (id == MavlinkCameraImageCaptured || id == MavlinkV2Extension ||
                           id == MavlinkEncapsulatedData || walk->entry == walk->lastDatagramEntry);
            budget->steps--;
            if (!wanted) {
                walk->entry++;
                if (budget->steps <= 0) return true;  // asks again with a fresh budget
                continue;
            }
            walk->entryTime = flightLogEntryTime(index, walk->entry);
            std::memset((void*)&walk->message, 0, sizeof(walk->message));
            walk->framePosition = 0;
        }
        if (walk->framePosition < length) {
            walk->framePosition = parseMavlinkBytes(&walk->message, payload, walk->framePosition, length);
            if (walk->message.haveMessage) return true;
        }
        walk->entry++;
        walk->framePosition = -1;
    }
}

void continuePhotoInfo(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogIndex* index,
                       FlightLogReplay* replay, const ReplayElevation* elevation, Budget* budget) {
    while (canGoOn(budget, out) && walk->phase != PhaseDone) {
        switch (walk->phase) {
        case PhaseStart:
            appendCString("Unix Time (ms),Image File,Camera Range (m),Latitude,Longitude,Altitude (m above takeoff "
                          "location),Gimbal Yaw (degrees clockwise from north),Gimbal Pitch (degrees above horizon),"
                          "Gimbal Roll (degrees right)\n",
                          out);
            clearFlightLogReplay(replay);
            walk->phase = PhotoPrelude;
            break;
        case PhotoPrelude: {
            // Every entry up to the log's start (the start block included).
            bool more = walk->cursor < index->entryCount &&
                        replayStep(&walk->cursor, index->startTime, index, replay, elevation).type >= 0;
            budget->steps--;
            if (!more) walk->phase = PhotoScan;
            break;
        }
        case PhotoScan:
            if (!nextPhotoFrame(walk, index, budget)) {
                walk->phase = PhaseDone;
            } else if (walk->message.haveMessage) {
                collectPhotos(walk, replay, walk->entry == walk->lastDatagramEntry);
                walk->message.haveMessage = 0;
                if (walk->photoCount) walk->phase = PhotoDrain;
            }
            break;
        case PhotoDrain: {
            // Replays up to the photo's time, writing track rows more than 100 ms apart on the way,
            // then the photo's row. Once the log has run out the row takes the state at its end.
            const PendingPhoto* photo = &walk->photos[walk->photoNext];
            if (walk->cursor < index->entryCount) {
                FlightLogReplayStep step = replayStep(&walk->cursor, photo->time, index, replay, elevation);
                budget->steps--;
                if (step.type >= 0) {
                    if (step.replayTime > walk->previousRowTime + kTrackRowSpacingMs) {
                        writePhotoRow(walk, out, replay, step.replayTime, nullptr);
                    }
                    break;
                }
            }
            writePhotoRow(walk, out, replay, photo->time, photo);
            if (++walk->photoNext == walk->photoCount) walk->phase = PhotoScan;
            break;
        }
        default: walk->phase = PhaseDone; break;
        }
    }
}

// ----- video metadata -----------------------------------------------------------------------------

void writeFmvRow(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogReplay* replay, i64 time) {
    const DroneConnection* connection = &replay->connection;
    const VehicleState* vehicle = &connection->vehicle;
    const FlightLogRecording* recording = &walk->recording;
    f64 altitude = !recording->mslPilotGap ? replay->altitudeMslFromTakeoffElevation
                   : !recording->mslDemGap ? replay->altitudeMslFromElevationMap
                                           : vehicle->gpsAltitudeMsl;
    Quaternion body, inverse, relative;
    quaternionFromEuler(&body, vehicle->roll, vehicle->pitch, vehicle->yaw);
    inverse = Quaternion{-body.x, -body.y, -body.z, body.w};
    multiplyQuaternions(&relative, &inverse, &connection->gimbalPointing.attitude);
    EulerAngles angles;
    quaternionToEuler(&angles, &relative);
    f64 horizontal, vertical;
    if (connection->cameraKind == CameraGimbal) {
        bool visible = recording->visible;
        f64 halfDiagonal = visible ? 0.5683232183369634 : 0.35145615412042935;
        f64 width = visible ? 1920 : 640, height = visible ? 1080 : 512;
        f64 diagonal = std::sqrt(visible ? 4852800.0 : 671744.0);
        f64 zoom = visible && connection->workswellCamera.zoomLevel > 0 ? connection->workswellCamera.zoomLevel : 1;
        horizontal = std::atan(std::tan(halfDiagonal) * width / diagonal / zoom);
        vertical = std::atan(std::tan(halfDiagonal) * height / diagonal / zoom);
    } else {
        horizontal = std::atan(connection->cameraView.horizontalTangent);
        vertical = std::atan(connection->cameraView.verticalTangent);
    }
    const f64 values[12] = {vehicleLatitude(replay),
                            vehicleLongitude(replay),
                            altitude,
                            std::sqrt(vehicle->velocityNorth * vehicle->velocityNorth +
                                      vehicle->velocityEast * vehicle->velocityEast),
                            vehicle->pitch * kDegreesPerRadian,
                            vehicle->roll * kDegreesPerRadian,
                            vehicle->yaw * kDegreesPerRadian,
                            angles.yawDegrees,
                            angles.pitchDegrees,
                            angles.rollDegrees,
                            2 * horizontal * kDegreesPerRadian,
                            2 * vertical * kDegreesPerRadian};
    appendInt64(time * 1000, out);
    for (f64 value : values) {
        appendU8(',', out);
        appendDouble(value, 6, out);
    }
    appendU8('\n', out);
}

// A row when the step brought a position or moved the gimbal (always for the recording's start when
// it lies after the log's), unless the gimbal's attitude is still unknown or the time has not moved.
void considerFmvRow(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogReplay* replay) {
    const Quaternion* gimbal = &replay->connection.gimbalPointing.attitude;
    bool candidate = walk->first || walk->step.type == FlightLogAugmentedPosition ||
                     std::memcmp(gimbal, &walk->previousGimbal, sizeof(Quaternion)) != 0;
    bool zero = gimbal->x == 0 && gimbal->y == 0 && gimbal->z == 0 && gimbal->w == 0;
    i64 time = walk->first ? walk->recording.start : walk->step.replayTime;
    if (candidate && !zero && time > walk->previousRowTime) {
        walk->previousRowTime = time;
        if (walk->fmvResult.firstRowTime == 0) walk->fmvResult.firstRowTime = time;
        walk->fmvResult.rowsWritten++;
        writeFmvRow(walk, out, replay, time);
    }
    if (candidate) walk->first = 0;
}

void continueFmv(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay,
                 const ReplayElevation* elevation, Budget* budget) {
    while (canGoOn(budget, out) && walk->phase != PhaseDone) {
        switch (walk->phase) {
        case PhaseStart:
            appendCString("UNIX Time Stamp,Sensor Latitude,Sensor Longitude,Sensor True Altitude,Platform True "
                          "Airspeed,Platform Pitch Angle,Platform Roll Angle,Platform Heading Angle,Sensor Relative "
                          "Azimuth Angle,Sensor Relative Elevation Angle,Sensor Relative Roll Angle,Sensor Horizontal "
                          "Field of View,Sensor Vertical Field of View\n",
                          out);
            walk->fmvResult = FmvCsvResult{};
            clearFlightLogReplay(replay);
            walk->phase = FmvPreludeToLog;
            break;
        case FmvPreludeToLog:
        case FmvPreludeToRecording: {
            // Every entry up to the log's start (the start block included), then up to the recording's.
            i64 target = walk->phase == FmvPreludeToLog ? index->startTime : walk->recording.start;
            bool more = walk->cursor < index->entryCount &&
                        replayStep(&walk->cursor, target, index, replay, elevation).type >= 0;
            budget->steps--;
            if (more) break;
            if (walk->phase == FmvPreludeToLog) {
                walk->phase = FmvPreludeToRecording;
                break;
            }
            walk->first = walk->recording.start > index->startTime ? 1 : 0;
            walk->previousRowTime = 0;
            walk->previousGimbal = replay->connection.gimbalPointing.attitude;
            walk->step = FlightLogReplayStep{};
            walk->stepPending = 1;
            walk->phase = FmvRows;
            break;
        }
        case FmvRows:
            if (walk->stepPending) {
                walk->stepPending = 0;
                considerFmvRow(walk, out, replay);
                // The state after the log's last entry is looked at once more before the walk ends.
                if (walk->cursor >= index->entryCount || walk->step.type < 0) {
                    walk->phase = PhaseDone;
                    break;
                }
            }
            walk->previousGimbal = replay->connection.gimbalPointing.attitude;
            walk->step = replayStep(&walk->cursor, walk->recording.start + walk->recording.length, index, replay,
                                    elevation);
            budget->steps--;
            if (walk->step.type < 0) {
                walk->phase = PhaseDone;
            } else {
                walk->stepPending = 1;
            }
            break;
        default: walk->phase = PhaseDone; break;
        }
    }
}

// ----- flight path --------------------------------------------------------------------------------

void appendTabs(i32 count, ByteWriter* out) {
    for (i32 i = 0; i < count; i++) appendU8('\t', out);
}

void appendXmlEscaped(const FixedString* text, ByteWriter* out) {
    for (i64 i = 0; i < fixedStringLength(text); i++) {
        char c = text->text[i];
        if (c == '&') appendCString("&amp;", out);
        else if (c == '<') appendCString("&lt;", out);
        else if (c == '>') appendCString("&gt;", out);
        else if (c == '"') appendCString("&quot;", out);
        else if ((u8)c < 0x20 && c != '\t') appendU8(' ', out);  // not allowed in XML 1.0
        else appendU8((u8)c, out);
    }
}

f64 pointElevation(const FlightLogReplay* replay, u32 variant) {
    switch (variant) {
    case FlightPathAboveTakeoff: return vehicleAboveTakeoff(replay);
    case FlightPathAboveGround: return replay->altitudeAboveGround;
    case FlightPathMslFromElevationMap: return replay->altitudeMslFromElevationMap;
    case FlightPathMslFromTakeoffElevation: return replay->altitudeMslFromTakeoffElevation;
    default: return replay->connection.vehicle.gpsAltitudeMsl;
    }
}

void appendGpxTime(i64 unixMs, ByteWriter* out) {
    DateTimeParts t = calendarFromMilliseconds(unixMs + kUnixEpochFrom1601Ms);
    appendInt64(t.year, out);
    const i64 parts[5] = {t.month, t.day, t.hour, t.minute, t.second};
    const char separators[5] = {'-', '-', 'T', ':', ':'};
    for (i32 i = 0; i < 5; i++) {
        appendU8((u8)separators[i], out);
        appendU8((u8)('0' + parts[i] / 10 % 10), out);
        appendU8((u8)('0' + parts[i] % 10), out);
    }
}

// The body of a wpt or trkpt: its elevation (left out when unknown) and time.
void appendPointBody(i32 tabs, f64 elevation, i64 time, ByteWriter* out) {
    if (std::isfinite(elevation)) {
        appendTabs(tabs, out);
        appendCString("<ele>", out);
        appendDouble(elevation, 3, out);
        appendCString("</ele>\n", out);
    }
    appendTabs(tabs, out);
    appendCString("<time>", out);
    appendGpxTime(time, out);
    appendCString("Z</time>\n", out);
}

void appendPointOpening(const char* element, i32 tabs, const FlightLogReplay* replay, ByteWriter* out) {
    appendTabs(tabs, out);
    appendU8('<', out);
    appendCString(element, out);
    appendCString(" lat=\"", out);
    appendDouble(vehicleLatitude(replay), 6, out);
    appendCString("\" lon=\"", out);
    appendDouble(vehicleLongitude(replay), 6, out);
    appendCString("\">\n", out);
}

// Drops: a waypoint wherever a drop counter rises after the log's first payload status.
void gpxDropStep(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay,
                 const ReplayElevation* elevation) {
    const OrvikPayloadState* orvik = &replay->connection.payload.orvik;
    FlightLogReplayStep step = replayStep(&walk->cursor, index->endTime, index, replay, elevation);
    i64 a = orvik->dropCounterA, b = orvik->dropCounterB;
    u64 statusTime = orvik->statusTime;
    if ((a > walk->previousA || b > walk->previousB) && walk->previousStatusTime != 0) {
        appendPointOpening("wpt", 1, replay, out);
        appendPointBody(2, pointElevation(replay, walk->variant), step.replayTime, out);
        appendCString("\t\t<name>Drop ", out);
        appendInt64(a + b - walk->base, out);
        appendCString("</name>\n\t</wpt>\n", out);
    } else if (walk->previousStatusTime == 0 && statusTime != 0) {
        walk->base = a + b;
    }
    walk->previousA = a;
    walk->previousB = b;
    walk->previousStatusTime = statusTime;
    if (step.type < 0) walk->phase = GpxTrackStart;
}

void continueFlightPath(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogIndex* index,
                        FlightLogReplay* replay, const ReplayElevation* elevation, Budget* budget) {
    while (canGoOn(budget, out) && walk->phase != PhaseDone) {
        switch (walk->phase) {
        case PhaseStart:
            appendCString("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n\n", out);
            appendCString("<gpx version=\"1.1\" creator=\"Tarnwick\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n",
                          out);
            appendCString("\t<metadata>\n\t\t<link href=\"", out);
            appendCString(kMakerAddress, out);
            appendCString("\">\n\t\t\t<text>Tarnwick</text>\n\t\t</link>\n\t</metadata>\n", out);
            clearFlightLogReplay(replay);
            walk->phase = GpxDrops;
            break;
        case GpxDrops:
            if (walk->cursor >= index->entryCount) {
                walk->phase = GpxTrackStart;
                break;
            }
            gpxDropStep(walk, out, index, replay, elevation);
            budget->steps--;
            break;
        case GpxTrackStart:
            appendCString("\t<trk>\n\t\t<name>", out);
            appendXmlEscaped(&walk->exportName, out);
            appendCString("</name>\n\t\t<trkseg>\n", out);
            clearFlightLogReplay(replay);
            walk->cursor = 0;
            walk->phase = GpxTrack;
            break;
        case GpxTrack: {
            FlightLogReplayStep step{};
            step.type = -1;
            if (walk->cursor < index->entryCount) {
                step = replayStep(&walk->cursor, index->endTime, index, replay, elevation);
                budget->steps--;
            }
            if (step.type < 0) {
                appendCString("\t\t</trkseg>\n\t</trk>\n</gpx>\n", out);
                walk->phase = PhaseDone;
            } else if (step.type == FlightLogAugmentedPosition) {
                appendPointOpening("trkpt", 3, replay, out);
                appendPointBody(4, pointElevation(replay, walk->variant), step.replayTime, out);
                appendCString("\t\t\t</trkpt>\n", out);
            }
            break;
        }
        default: walk->phase = PhaseDone; break;
        }
    }
}

void beginWalk(FlightLogExportWalk* walk, u32 kind) {
    std::memset((void*)walk, 0, sizeof(*walk));
    walk->kind = kind;
    walk->phase = PhaseStart;
    walk->framePosition = -1;
    walk->previousPhotoCount = -1;
    walk->lastDatagramEntry = -1;
}

}  // namespace

void beginPhotoInfoExport(FlightLogExportWalk* walk, i64 lastDatagramEntry) {
    beginWalk(walk, ExportKindPhotoInfo);
    walk->lastDatagramEntry = lastDatagramEntry;
}

void beginFmvExport(FlightLogExportWalk* walk, const FlightLogRecording* recording) {
    beginWalk(walk, ExportKindFmv);
    walk->recording = *recording;
}

void beginFlightPathExport(FlightLogExportWalk* walk, u32 variant, FixedString exportName) {
    beginWalk(walk, ExportKindFlightPath);
    walk->variant = variant;
    walk->exportName = exportName;
}

u32 continueFlightLogExport(FlightLogExportWalk* walk, ByteWriter* out, const FlightLogIndex* index,
                            FlightLogReplay* replay, const ReplayElevation* elevation, i64 maxSteps, i64 reserve) {
    Budget budget{maxSteps, reserve};
    switch (walk->kind) {
    case ExportKindPhotoInfo: continuePhotoInfo(walk, out, index, replay, elevation, &budget); break;
    case ExportKindFmv: continueFmv(walk, out, index, replay, elevation, &budget); break;
    case ExportKindFlightPath: continueFlightPath(walk, out, index, replay, elevation, &budget); break;
    default: walk->phase = PhaseDone; break;
    }
    return walk->phase == PhaseDone ? 1 : 0;
}

u32 flightLogExportPercent(const FlightLogExportWalk* walk, const FlightLogIndex* index) {
    if (walk->phase == PhaseDone) return 100;
    i64 count = index->entryCount > 0 ? index->entryCount : 1;
    switch (walk->phase) {
    case PhotoScan:
    case PhotoDrain: return (u32)(walk->entry * 100 / count);
    case FmvRows: {
        // The recording's share of the log, by time.
        i64 span = walk->recording.length > 0 ? walk->recording.length : 1;
        i64 done = walk->step.replayTime - walk->recording.start;
        return done <= 0 ? 0 : done >= span ? 99 : (u32)(done * 100 / span);
    }
    case GpxDrops: return (u32)(walk->cursor * 50 / count);
    case GpxTrack: return (u32)(50 + walk->cursor * 50 / count);
    default: return 0;
    }
}
