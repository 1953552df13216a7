#include "FlightLogReplay/FlightLogExports.h"

#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/MathQuaternion.h"
#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "Video/CameraLink.h"
#include "FlightLogs/FlightLogger.h"

namespace {

constexpr i64 kIdleStepMs = 1000;
constexpr i64 kTrackRowSpacingMs = 100;
constexpr i32 kMaxPayloadPhotosPerJump = 5;
constexpr f64 kDegreesPerRadian = 57.29577951308232;
constexpr i64 kUnixEpochFrom1601Ms = 11644473600000;
constexpr const char* kMakerAddress = "https://tarnwick.com";

u32 readU32Be(const u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }
u64 readU64Be(const u8* p) { return (u64)readU32Be(p) << 32 | readU32Be(p + 4); }

FlightLogReplayStep replayStep(i64* cursor, i64 target, const FlightLogIndex* index, FlightLogReplay* replay,
                               const ReplayElevation* elevation) {
    FlightLogReplayStep step{};
    replayFlightLog(&step, cursor, target, kIdleStepMs, nullptr, index, replay, elevation);
    return step;
}

// Applies every entry up to target (the start block included).
void replayUpTo(i64* cursor, i64 target, const FlightLogIndex* index, FlightLogReplay* replay,
                const ReplayElevation* elevation) {
    while (*cursor < index->entryCount) {
        if (replayStep(cursor, target, index, replay, elevation).type < 0) break;
    }
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

// ----- photo info -------------------------------------------------------------------------------

struct PhotoRowWriter {
    ByteWriter* out;
    const FlightLogReplay* replay;
    i64 previousRowTime;
};

// An image name with the characters that would break the row (commas, quotes, line ends) as ";".
void appendImageName(const u8* bytes, i64 capacity, ByteWriter* out) {
    for (i64 i = 0; i < capacity && bytes[i] != 0; i++) {
        u8 c = bytes[i];
        appendU8(c == ',' || c == '"' || c == '\r' || c == '\n' ? (u8)';' : c, out);
    }
}

struct PhotoName {
    const u8* bytes;  // null: none
    i64 capacity;
    i64 turboNumber;  // >= 0: a payload photo "Turbo N"
};

void writePhotoRow(PhotoRowWriter* w, i64 time, const PhotoName* name) {
    ByteWriter* out = w->out;
    const FlightLogReplay* replay = w->replay;
    appendInt64(time, out);
    appendU8(',', out);
    if (name && name->bytes) appendImageName(name->bytes, name->capacity, out);
    if (name && !name->bytes && name->turboNumber >= 0) {
        appendCString("Turbo ", out);
        appendInt64(name->turboNumber, out);
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
    w->previousRowTime = time;
}

struct PhotoWalk {
    PhotoRowWriter rows;
    i64 cursor;
    const FlightLogIndex* index;
    FlightLogReplay* replay;
    const ReplayElevation* elevation;
};

// Replays up to the photo's time, writing track rows more than 100 ms apart on the way, then the
// photo's row. Once the log has run out the row takes the state at its end.
void writePhotoAt(PhotoWalk* walk, i64 photoTime, const PhotoName* name) {
    while (walk->cursor < walk->index->entryCount) {
        FlightLogReplayStep step = replayStep(&walk->cursor, photoTime, walk->index, walk->replay, walk->elevation);
        if (step.type < 0) break;
        if (step.replayTime > walk->rows.previousRowTime + kTrackRowSpacingMs) {
            writePhotoRow(&walk->rows, step.replayTime, nullptr);
        }
    }
    writePhotoRow(&walk->rows, photoTime, name);
}

}  // namespace

i64 datagramFirstMessageId(const u8* payload, i64 length) {
    if (!payload || length < 1) return -1;
    if (payload[0] == 0xFD) {
        if (length < 10) return -1;
        return (i64)payload[7] | (i64)payload[8] << 8 | (i64)payload[9] << 16;
    }
    if (length < 6) return -1;
    return payload[5];
}

FixedString flightLogExportName(FixedString logFileName) {
    i64 length = fixedStringLength(&logFileName);
    return stringFromBytes(logFileName.text, length > 7 ? length - 7 : 0);
}

FixedString photoInfoCsvPath(FixedString exportName) {
    return formatCpStr("Exported Photo Info@@_photo_info.csv", '/', exportName);
}

FixedString fmvCsvBase(FixedString exportName, i64 logStartTime, const FlightLogRecording* recording) {
    const char* kind = recording->visible ? "_vis" : recording->thermal ? "_ir" : "";
    return buildFixedString([&](ByteWriter* w) {
        appendCString("Exported FMV Metadata/", w);
        appendFixedStringRef(&exportName, w);
        appendCString("_fmv_", w);
        appendInt64((recording->start - logStartTime) / 1000, w);
        appendU8('_', w);
        appendInt64(recording->length / 1000, w);
        appendCString(kind, w);
    });
}

FixedString flightPathGpxPath(FixedString exportName, u32 variant) {
    static const char* const formats[kFlightPathVariants] = {
        "Flight Logs GPX@@.gpx", "Flight Logs GPX@@_ATO.gpx", "Flight Logs GPX@@_AGL.gpx",
        "Flight Logs GPX@@_MSL_DEM.gpx", "Flight Logs GPX@@_MSL_Pilot.gpx"};
    return formatCpStr(formats[variant < kFlightPathVariants ? variant : 0], '/', exportName);
}

void clearFlightLogReplay(FlightLogReplay* replay) { std::memset((void*)replay, 0, sizeof(*replay)); }

void writePhotoInfoCsv(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay, i64 lastDatagramEntry,
                       const ReplayElevation* elevation) {
    appendCString("Unix Time (ms),Image File,Camera Range (m),Latitude,Longitude,Altitude (m above takeoff location),"
                  "Gimbal Yaw (degrees clockwise from north),Gimbal Pitch (degrees above horizon),"
                  "Gimbal Roll (degrees right)\n",
                  out);
    clearFlightLogReplay(replay);
    PhotoWalk walk{{out, replay, 0}, 0, index, replay, elevation};
    replayUpTo(&walk.cursor, index->startTime, index, replay, elevation);
    i64 previousPhotoCount = -1;
    MavlinkMessage* message = new MavlinkMessage;
    PayloadFrameParser* frames = new PayloadFrameParser;
    for (i64 i = 0; i < index->entryCount; i++) {
        u8 type = index->entryTypes[i];
        if (type != FlightLogReceivedFromDrone && type != FlightLogReceivedFromCamera) continue;
        const u8* payload = flightLogEntryPayload(index, i);
        u16 length = flightLogEntryLength(index, i);
        i64 id = datagramFirstMessageId(payload, length);
        bool last = i == lastDatagramEntry;
        if (id != MavlinkCameraImageCaptured && id != MavlinkV2Extension && id != MavlinkEncapsulatedData && !last) {
            continue;
        }
        i64 entryTime = flightLogEntryTime(index, i);
        std::memset((void*)message, 0, sizeof(*message));
        i32 position = 0;
        while (position < length) {
            position = parseMavlinkBytes(message, payload, position, length);
            if (!message->haveMessage) break;
            const u8* p = message->payload;
            if (message->messageId == MavlinkCameraImageCaptured) {
                i64 time = entryTime;
                i64 cameraTime = (i64)(mavlinkU64(p) / 1000);
                if (replay->connection.cameraKind == CameraProtocol && cameraTime < time) time = cameraTime;
                PhotoName name{p + 50, 205, -1};
                writePhotoAt(&walk, time, &name);
            } else if (message->messageId == MavlinkV2Extension && message->source == kNextVisionSource &&
                       mavlinkU16(p) == 5) {
                PhotoName name{p + 2, 48, -1};
                writePhotoAt(&walk, entryTime, &name);
            } else if (message->messageId == MavlinkEncapsulatedData) {
                std::memset((void*)frames, 0, sizeof(*frames));
                nextPayloadFrame(frames, p, 0, message->payloadLength);
                if (!frames->frameReady || frames->type != PayloadFrameCounters || frames->payloadLength < 35) continue;
                const u8* body = frames->payload;
                i64 period = (body[13] << 8) | body[14];
                i64 messageStamp = (i64)readU64Be(body + 15);
                i64 lastPhotoStamp = (i64)readU64Be(body + 23);
                i64 count = (i32)readU32Be(body + 31);
                if (previousPhotoCount >= 0 && previousPhotoCount < count) {
                    i64 k = count - previousPhotoCount;
                    if (k > kMaxPayloadPhotosPerJump) k = kMaxPayloadPhotosPerJump;
                    i64 lastPhoto = (lastPhotoStamp - messageStamp) + entryTime;
                    for (i64 j = 0; j < k; j++) {
                        PhotoName name{nullptr, 0, count - (k - 1) + j};
                        writePhotoAt(&walk, lastPhoto - (k - 1 - j) * period, &name);
                    }
                }
                previousPhotoCount = count;
            } else if (last) {
                writePhotoAt(&walk, entryTime, nullptr);
            }
        }
    }
    delete frames;
    delete message;
}

FmvCsvResult writeFmvCsv(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay,
                         const FlightLogRecording* recording, const ReplayElevation* elevation) {
    appendCString("UNIX Time Stamp,Sensor Latitude,Sensor Longitude,Sensor True Altitude,Platform True Airspeed,"
                  "Platform Pitch Angle,Platform Roll Angle,Platform Heading Angle,Sensor Relative Azimuth Angle,"
                  "Sensor Relative Elevation Angle,Sensor Relative Roll Angle,Sensor Horizontal Field of View,"
                  "Sensor Vertical Field of View\n",
                  out);
    FmvCsvResult result{};
    clearFlightLogReplay(replay);
    i64 cursor = 0;
    i64 start = recording->start;
    replayUpTo(&cursor, index->startTime, index, replay, elevation);
    replayUpTo(&cursor, start, index, replay, elevation);

    const DroneConnection* connection = &replay->connection;
    const VehicleState* vehicle = &connection->vehicle;
    const Quaternion* gimbal = &connection->gimbalPointing.attitude;
    bool first = start > index->startTime;
    i64 previousRowTime = 0;
    Quaternion previous = *gimbal;
    FlightLogReplayStep step{};
    for (;;) {
        bool candidate = first || step.type == FlightLogAugmentedPosition ||
                         std::memcmp(gimbal, &previous, sizeof(Quaternion)) != 0;
        bool zero = gimbal->x == 0 && gimbal->y == 0 && gimbal->z == 0 && gimbal->w == 0;
        i64 time = first ? start : step.replayTime;
        if (candidate && !zero && time > previousRowTime) {
            previousRowTime = time;
            if (result.firstRowTime == 0) result.firstRowTime = time;
            result.rowsWritten++;
            f64 altitude = !recording->mslPilotGap ? replay->altitudeMslFromTakeoffElevation
                           : !recording->mslDemGap ? replay->altitudeMslFromElevationMap
                                                   : vehicle->gpsAltitudeMsl;
            Quaternion body, inverse, relative;
            quaternionFromEuler(&body, vehicle->roll, vehicle->pitch, vehicle->yaw);
            inverse = Quaternion{-body.x, -body.y, -body.z, body.w};
            multiplyQuaternions(&relative, &inverse, gimbal);
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
        if (candidate) first = false;
        // The state after the log's last entry is looked at once more before the walk ends.
        if (cursor >= index->entryCount || step.type < 0) break;
        previous = *gimbal;
        step = replayStep(&cursor, start + recording->length, index, replay, elevation);
        if (step.type < 0) break;
    }
    return result;
}

void writeFmvTimeShift(ByteWriter* out, i64 recordingStart, i64 firstRowTime) {
    appendCString("Elapsed Time into video (days.hours:minutes:seconds),\"Time Shift (seconds).  Video relative to "
                  "metadata. If video lags footprint, use negative values\"\n0.00:00:00,",
                  out);
    appendFixedPoint(recordingStart - firstRowTime, 3, out);
    appendU8('\n', out);
}

namespace {

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

}  // namespace

void writeFlightPathGpx(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay, u32 variant,
                        FixedString exportName, const ReplayElevation* ground) {
    appendCString("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n\n", out);
    appendCString("<gpx version=\"1.1\" creator=\"Tarnwick\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n", out);
    appendCString("\t<metadata>\n\t\t<link href=\"", out);
    appendCString(kMakerAddress, out);
    appendCString("\">\n\t\t\t<text>Tarnwick</text>\n\t\t</link>\n\t</metadata>\n", out);

    // Drops: a waypoint wherever a drop counter rises after the log's first payload status.
    clearFlightLogReplay(replay);
    const OrvikPayloadState* orvik = &replay->connection.payload.orvik;
    i64 cursor = 0;
    i64 previousA = 0, previousB = 0, base = 0;
    u64 previousStatusTime = 0;
    while (cursor < index->entryCount) {
        FlightLogReplayStep step = replayStep(&cursor, index->endTime, index, replay, ground);
        i64 a = orvik->dropCounterA, b = orvik->dropCounterB;
        u64 statusTime = orvik->statusTime;
        if ((a > previousA || b > previousB) && previousStatusTime != 0) {
            appendPointOpening("wpt", 1, replay, out);
            appendPointBody(2, pointElevation(replay, variant), step.replayTime, out);
            appendCString("\t\t<name>Drop ", out);
            appendInt64(a + b - base, out);
            appendCString("</name>\n\t</wpt>\n", out);
        } else if (previousStatusTime == 0 && statusTime != 0) {
            base = a + b;
        }
        previousA = a;
        previousB = b;
        previousStatusTime = statusTime;
        if (step.type < 0) break;
    }

    appendCString("\t<trk>\n\t\t<name>", out);
    appendXmlEscaped(&exportName, out);
    appendCString("</name>\n\t\t<trkseg>\n", out);
    clearFlightLogReplay(replay);
    cursor = 0;
    while (cursor < index->entryCount) {
        FlightLogReplayStep step = replayStep(&cursor, index->endTime, index, replay, ground);
        if (step.type < 0) break;
        if (step.type != FlightLogAugmentedPosition) continue;
        appendPointOpening("trkpt", 3, replay, out);
        appendPointBody(4, pointElevation(replay, variant), step.replayTime, out);
        appendCString("\t\t\t</trkpt>\n", out);
    }
    appendCString("\t\t</trkseg>\n\t</trk>\n</gpx>\n", out);
}

FixedString exportRowDescription(i32 rowNumber, const char* defaultDescription, const FlightLogExportStatus* status,
                                 const FileJobResult* progress, FixedString dataFolder, i64 nowMicros) {
    if (status->exportNumber != rowNumber) return makeString(defaultDescription);
    u32 state = fileJobStatus(progress);
    if (state < FileStatusSuccess) {
        i64 total = progress->size;
        i64 percent = total > 0 ? (i64)progress->written * 100 / total : 0;
        return formatInt("Writing @%", percent);
    }
    if (nowMicros - status->exportStartMicros < 5000000) {
        if (state == FileStatusSuccess) {
            // The file's name first: the row shows one line, and a long folder would push it off.
            const FixedString& path = status->exportPath;
            i32 slash = -1;
            for (i32 i = 0; i < path.length; i++) {
                if (path.text[i] == '/') slash = i;
            }
            FixedString name = stringFromBytes(path.text + slash + 1, path.length - slash - 1);
            FixedString folder = formatStrStr("@@", dataFolder, stringFromBytes(path.text, slash > 0 ? slash : 0));
            return formatStrStr("Saved @ to @", name, folder);
        }
        return formatStr("Error saving file: @", fileStatusString(state));
    }
    return makeString(defaultDescription);
}

u32 queuePhotoInfoExport(const FlightLogExportSource* source, i64 lastDatagramEntry, const FlightLogExportTarget* target) {
    return queueFlightLogExport(photoInfoCsvPath(source->exportName), "text/csv", 1, target, source->replay,
                                [&](ByteWriter* out) {
                                    writePhotoInfoCsv(out, source->index, source->replay, lastDatagramEntry,
                                                      source->elevation);
                                });
}

u32 queueFmvExport(const FlightLogExportSource* source, const FlightLogRecording* recording, i32 rowNumber,
                   const FlightLogExportTarget* target) {
    FixedString base = fmvCsvBase(source->exportName, source->index->startTime, recording);
    FmvCsvResult result{};
    u32 queued = queueFlightLogExport(formatStr("@.csv", base), "text/csv", rowNumber, target, source->replay,
                                      [&](ByteWriter* out) {
                                          result = writeFmvCsv(out, source->index, source->replay, recording,
                                                               source->elevation);
                                      });
    if (!queued || result.rowsWritten == 0 || result.firstRowTime == recording->start) return queued;
    FlightLogExportTarget shiftTarget = *target;
    shiftTarget.progress = nullptr;
    queueFlightLogExport(formatStr("@_timeshift.csv", base), "text/csv", rowNumber, &shiftTarget, nullptr,
                         [&](ByteWriter* out) { writeFmvTimeShift(out, recording->start, result.firstRowTime); });
    return queued;
}

u32 queueFlightPathExport(const FlightLogExportSource* source, u32 variant, i32 rowNumber,
                          const FlightLogExportTarget* target) {
    return queueFlightLogExport(flightPathGpxPath(source->exportName, variant), "application/gpx+xml", rowNumber,
                                target, source->replay, [&](ByteWriter* out) {
                                    writeFlightPathGpx(out, source->index, source->replay, variant,
                                                       source->exportName, source->elevation);
                                });
}
