// Recorded NextVision reports: V2_EXTENSION messages whose u16 at offset 0 is the report type and
// whose report follows from offset 2, where the MAVLink definition of V2_EXTENSION has its target
// bytes. Every multi-byte field is little-endian; angles and rates come in degrees.
#include "FlightLogReplay/RecordedMavlinkLines.h"

namespace {

#define DEG RECORDED_DEGREE

// The system report (type 0), line by line.
void systemReportLines(const u8* p, const Preferences* prefs, ByteWriter* w) {
    doubleLine("Roll: ", f32At<2>(p), 6, DEG "\n", w);
    doubleLine("Pitch: ", f32At<6>(p), 6, DEG "\n", w);
    doubleLine("FOV: ", f32At<10>(p), 6, DEG "\n", w);
    decLine("Tracker status: ", u8At<14>(p), "\n", w);
    hexLine("Recording status: 0x", u8At<15>(p), 2, "\n", w);
    decLine("Active Sensor: ", u8At<16>(p), "\n", w);
    decLine("I/R Sensor polarity: ", u8At<17>(p), "\n", w);
    decLine("System mode: ", u8At<18>(p), "\n", w);
    decLine("Laser status: ", u8At<19>(p), "\n", w);
    decLine("Tracker ROI x: ", u16At<20>(p), "\n", w);
    decLine("Tracker ROI y: ", u16At<22>(p), "\n", w);
    doubleLine("Single Yaw Command: ", f32At<24>(p), 6, DEG "\n", w);
    hexLine("Snapshot status: 0x", u8At<28>(p), 2, "\n", w);
    temperatureLine("CPU Temperature: ", f32At<29>(p), prefs, w);
    doubleLine("Camera Version Number: ", f32At<33>(p), 3, "\n", w);
    decLine("TRIP Version Number: ", u8At<39>(p), ".", w);
    decLine("", u8At<38>(p), ".", w);
    decLine("", u8At<37>(p), "\n", w);
    hexLine("TRIP Capabilities: 0x", u8At<40>(p), 2, "\n", w);
    hexLine("BIT Report: 0x", u16At<41>(p), 4, "\n", w);
    hexLine("Status Flags: 0x", u8At<43>(p), 2, "\n", w);
    decLine("Camera Type: ", u8At<44>(p), "\n", w);
    doubleLine("Roll Rate: ", f32At<45>(p), 6, DEG "/s\n", w);
    doubleLine("Pitch Rate: ", f32At<49>(p), 6, DEG "/s\n", w);
    temperatureLine("Camera Temperature: ", f32At<53>(p), prefs, w);
    doubleLine("Roll Derotation angle: ", f32At<57>(p), 6, DEG "\n", w);
    decLine("Network Type: ", u8At<61>(p), "\n", w);
}

// Angles in degrees with 6 decimals, like the system report's; other reals with at most 6.
constexpr FieldLine angle(const char* label, u8 offset, const char* suffix = DEG "\n") {
    return {label, offset, FormFixedFloat, 4, 6, suffix};
}
constexpr FieldLine real(const char* label, u8 offset, const char* suffix = "\n") {
    return {label, offset, FormFloat, 4, 0, suffix};
}
constexpr FieldLine count(const char* label, u8 offset, u8 size) { return {label, offset, FormUnsigned, size, 0, "\n"}; }

// The time stamps that the later reports carry after their type: the camera's time since boot and
// its UTC time stamp, as sent.
constexpr FieldLine kStamps[] = {count("Time Since Boot: ", 2, 4), count("UTC Timestamp: ", 6, 8)};

constexpr FieldLine kLineOfSight[] = {
    real("LOS X: ", 2), real("LOS Y: ", 6), real("LOS Z: ", 10),
    angle("Upper Left Corner Latitude: ", 14), angle("Upper Left Corner Longitude: ", 18),
    angle("Upper Right Corner Latitude: ", 22), angle("Upper Right Corner Longitude: ", 26),
    angle("Lower Right Corner Latitude: ", 30), angle("Lower Right Corner Longitude: ", 34),
    angle("Lower Left Corner Latitude: ", 38), angle("Lower Left Corner Longitude: ", 42),
    angle("LOS Elevation: ", 46), angle("LOS Azimuth: ", 50),
};
constexpr FieldLine kGroundCrossing[] = {
    angle("Ground Crossing Latitude: ", 2), angle("Ground Crossing Longitude: ", 6),
    real("Ground Crossing Altitude: ", 10, " m\n"), real("Slant Range: ", 14, " m\n"),
};
constexpr FieldLine kSnapShot[] = {
    {"File Name: ", 2, FormText, 48, 0, "\n"},
    count("Video Channel: ", 50, 1),
};
constexpr FieldLine kSdCard[] = {
    count("SD Card Detected: ", 2, 1),
    real("SD Card Total Capacity: ", 3, " MiB\n"),
    real("SD Card Available Capacity: ", 7, " MiB\n"),
};
constexpr FieldLine kVideo[] = {
    count("Stream Bitrate Channel 0: ", 2, 2), count("Record Bitrate Channel 0: ", 4, 2),
    count("Stream Bitrate Channel 1: ", 6, 2), count("Record Bitrate Channel 1: ", 8, 2),
};
constexpr FieldLine kLineOfSightRate[] = {
    angle("LOS Rate X: ", 2, DEG "/s\n"), angle("LOS Rate Y: ", 6, DEG "/s\n"), angle("LOS Pan: ", 10),
    real("LOS X: ", 14), angle("LOS Tilt: ", 18), real("LOS Y: ", 22),
    count("Time Since Boot: ", 26, 4), count("UTC Timestamp: ", 30, 8),
};
constexpr FieldLine kImu[] = {
    angle("Camera Roll: ", 2), angle("Camera Pitch: ", 6), real("Camera X: ", 10), real("Camera Y: ", 14),
    angle("LOS Rate X: ", 18, DEG "/s\n"), angle("LOS Rate Y: ", 22, DEG "/s\n"),
    real("Acceleration X: ", 26), real("Acceleration Y: ", 30), real("Acceleration Z: ", 34),
    real("Gyro X: ", 38), real("Gyro Y: ", 42), real("Gyro Z: ", 46),
    real("Compass X: ", 50), real("Compass Y: ", 54), real("Compass Z: ", 58),
    count("Timestamp: ", 62, 2), count("Time Since Boot: ", 64, 4), count("UTC Timestamp: ", 68, 8),
};
constexpr FieldLine kFire[] = {
    angle("Ground Crossing Latitude: ", 2), angle("Ground Crossing Longitude: ", 6),
    real("Ground Crossing Altitude: ", 10, " m\n"), angle("FOV: ", 14),
    count("Saturated Pixels: ", 18, 2),
    count("Regional Line 0: ", 20, 1), count("Regional Line 1: ", 21, 1), count("Regional Line 2: ", 22, 1),
    count("Regional Line 3: ", 23, 1), count("Regional Line 4: ", 24, 1), count("Regional Line 5: ", 25, 1),
    count("Regional Line 6: ", 26, 1), count("Regional Line 7: ", 27, 1),
    count("Time Since Boot: ", 28, 4), count("UTC Timestamp: ", 32, 8),
};
constexpr FieldLine kTracking[] = {
    real("LOS X: ", 2), real("LOS Y: ", 6), real("LOS Z: ", 10),
    angle("LOS Rate X: ", 14, DEG "/s\n"), angle("LOS Rate Y: ", 18, DEG "/s\n"),
    angle("ROI Azimuth: ", 22), angle("ROI Elevation: ", 26), angle("ROI Latitude: ", 30),
    angle("ROI Longitude: ", 34), real("ROI Altitude: ", 38, " m\n"), real("ROI X: ", 42), real("ROI Y: ", 46),
    count("Time Since Boot: ", 50, 4), count("UTC Timestamp: ", 54, 8),
};
constexpr FieldLine kParameter[] = {
    count("Status: ", 2, 1), count("Parameter ID: ", 3, 2), real("Parameter Value: ", 5),
};
constexpr FieldLine kCarCount[] = {
    count("Time Since Boot: ", 2, 4), count("UTC Timestamp: ", 6, 8), count("Car Count: ", 14, 4),
};
constexpr FieldLine kOglr[] = {
    count("Time Since Boot: ", 2, 4), count("UTC Timestamp: ", 6, 8), count("PTS Timestamp: ", 14, 4),
    {"Refined Target Latitude: ", 18, FormFixedFloat, 8, 7, DEG "\n"},
    {"Refined Target Longitude: ", 26, FormFixedFloat, 8, 7, DEG "\n"},
    real("Refined Target Altitude MSL: ", 34, " m\n"), real("Refined Target Altitude AGL: ", 38, " m\n"),
};

// The reports with a list: after the time stamps (bytes 2 to 13), as many records as the payload
// holds, offsets within a record.
constexpr FieldLine kDetection[] = {
    count("Class ID: ", 0, 2), count("Unique ID: ", 2, 2), real("X: ", 4), real("Y: ", 8),
    real("Width: ", 12), real("Height: ", 16), angle("Latitude: ", 20), angle("Longitude: ", 24),
    real("Altitude: ", 28, " m\n"),
};
constexpr FieldLine kPlate[] = {
    {"Plate: ", 0, FormText, 16, 0, "\n"}, real("X: ", 16), real("Y: ", 20), angle("Latitude: ", 24),
    angle("Longitude: ", 28), real("Altitude: ", 32, " m\n"),
};
constexpr FieldLine kMarker[] = {
    count("Marker ID: ", 0, 2), real("X1: ", 2), real("Y1: ", 6), real("X2: ", 10), real("Y2: ", 14),
    real("X3: ", 18), real("Y3: ", 22), real("X4: ", 26), real("Y4: ", 30),
};
constexpr i32 kListStart = 14;
constexpr i32 kPayloadEnd = 254;  // V2_EXTENSION's whole payload

static_assert(fieldsInside(kStamps) && fieldsInside(kLineOfSight) && fieldsInside(kGroundCrossing) &&
              fieldsInside(kSnapShot) && fieldsInside(kSdCard) && fieldsInside(kVideo) &&
              fieldsInside(kLineOfSightRate) && fieldsInside(kImu) && fieldsInside(kFire) &&
              fieldsInside(kTracking) && fieldsInside(kParameter) && fieldsInside(kCarCount) && fieldsInside(kOglr));
static_assert(fieldsInside(kDetection, 32) && fieldsInside(kPlate, 36) && fieldsInside(kMarker, 34));

struct ReportList {
    const char* name;  // each record's heading is the name and its number: "Detection 2:"
    const FieldLine* lines;
    i32 lineCount;
    i32 recordBytes;
};
template <i32 N>
constexpr ReportList reportList(const char* name, const FieldLine (&lines)[N], i32 recordBytes) {
    return {name, lines, N, recordBytes};
}
constexpr ReportList kDetections = reportList("Detection ", kDetection, 32);
constexpr ReportList kPlates = reportList("Plate ", kPlate, 36);
constexpr ReportList kMarkers = reportList("Marker ", kMarker, 34);

// The records a payload of `length` bytes holds: a record cut short by MAVLink 2's trailing-zero
// trimming still counts, its missing bytes reading zero.
void listLines(const u8* p, i32 length, const ReportList& list, ByteWriter* w) {
    appendFieldLines(p, 0, kStamps, 2, w);
    i32 most = (kPayloadEnd - kListStart) / list.recordBytes;
    i32 records = length > kListStart ? (length - kListStart + list.recordBytes - 1) / list.recordBytes : 0;
    if (records > most) records = most;
    decLine("Records: ", records, "\n", w);
    for (i32 r = 0; r < records; r++) {
        decLine(list.name, r + 1, ":\n", w);
        appendFieldLines(p, kListStart + r * list.recordBytes, list.lines, list.lineCount, w);
    }
}

template <i32 N>
void report(const u8* p, const FieldLine (&table)[N], ByteWriter* w) {
    appendFieldLines(p, 0, table, N, w);
}

#undef DEG

}  // namespace

void appendNextVisionReportLines(const MavlinkMessage* message, const Preferences* prefs, ByteWriter* w) {
    const u8* p = message->payload;
    u16 reportType = u16At<0>(p);
    i32 length = (i32)message->payloadLength;
    decLine("Report type: ", reportType, "\n", w);
    switch (reportType) {
        case 0: systemReportLines(p, prefs, w); break;
        case 1: report(p, kLineOfSight, w); break;
        case 2: report(p, kGroundCrossing, w); break;
        case 5: report(p, kSnapShot, w); break;
        case 6: report(p, kSdCard, w); break;
        case 7: report(p, kVideo, w); break;
        case 8: report(p, kLineOfSightRate, w); break;
        case 9: listLines(p, length, kDetections, w); break;
        case 10: report(p, kImu, w); break;
        case 11: report(p, kFire, w); break;
        case 12: report(p, kTracking, w); break;
        case 13: listLines(p, length, kPlates, w); break;
        case 14: listLines(p, length, kMarkers, w); break;
        case 15: report(p, kParameter, w); break;
        case 16: report(p, kCarCount, w); break;
        case 17: report(p, kOglr, w); break;
        default: break;
    }
}
