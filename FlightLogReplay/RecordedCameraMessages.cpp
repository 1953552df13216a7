// Recorded camera messages: the MAVLink camera protocol (storage, capture status, captured images,
// extended parameters) and the NextVision status reports carried in V2_EXTENSION.
#include "FlightLogReplay/RecordedMavlinkLines.h"

namespace {

constexpr u32 kV2Extension = 248;
constexpr u32 kStorageInformation = 261;
constexpr u32 kCameraCaptureStatus = 262;
constexpr u32 kCameraImageCaptured = 263;
constexpr u32 kParamExtValue = 322;

// NextVision report: the u16 report type at offset 0, then the report itself from offset 2, where
// the MAVLink definition of V2_EXTENSION has its target bytes. Angles and rates come in degrees.
void nextVisionLines(const u8* p, const Preferences* prefs, ByteWriter* w) {
    u16 reportType = u16At<0>(p);
    decLine("Report type: ", reportType, "\n", w);
    if (reportType != 0) return;
    doubleLine("Roll: ", f32At<2>(p), 6, RECORDED_DEGREE "\n", w);
    doubleLine("Pitch: ", f32At<6>(p), 6, RECORDED_DEGREE "\n", w);
    doubleLine("FOV: ", f32At<10>(p), 6, RECORDED_DEGREE "\n", w);
    decLine("Tracker status: ", u8At<14>(p), "\n", w);
    hexLine("Recording status: 0x", u8At<15>(p), 2, "\n", w);
    decLine("Active Sensor: ", u8At<16>(p), "\n", w);
    decLine("I/R Sensor polarity: ", u8At<17>(p), "\n", w);
    decLine("System mode: ", u8At<18>(p), "\n", w);
    decLine("Laser status: ", u8At<19>(p), "\n", w);
    decLine("Tracker ROI x: ", u16At<20>(p), "\n", w);
    decLine("Tracker ROI y: ", u16At<22>(p), "\n", w);
    doubleLine("Single Yaw Command: ", f32At<24>(p), 6, RECORDED_DEGREE "\n", w);
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
    doubleLine("Roll Rate: ", f32At<45>(p), 6, RECORDED_DEGREE "/s\n", w);
    doubleLine("Pitch Rate: ", f32At<49>(p), 6, RECORDED_DEGREE "/s\n", w);
    temperatureLine("Camera Temperature: ", f32At<53>(p), prefs, w);
    doubleLine("Roll Derotation angle: ", f32At<57>(p), 6, RECORDED_DEGREE "\n", w);
    decLine("Network Type: ", u8At<61>(p), "\n", w);
}

void storageInformationLines(const u8* p, ByteWriter* w) {
    fixedLine("time_boot: ", u32At<0>(p), 3, " s\n", w);
    trimmedLine("total_capacity: ", f32At<4>(p), " MiB\n", w);
    trimmedLine("used_capacity: ", f32At<8>(p), " MiB\n", w);
    trimmedLine("available_capacity: ", f32At<12>(p), " MiB\n", w);
    trimmedLine("read_speed: ", f32At<16>(p), " MiB/s\n", w);
    trimmedLine("write_speed: ", f32At<20>(p), " MiB/s\n", w);
    decLine("storage_id: ", u8At<24>(p), "\n", w);
    decLine("storage_count: ", u8At<25>(p), "\n", w);
    decLine("status: ", u8At<26>(p), "\n", w);
    decLine("type: ", u8At<27>(p), "\n", w);
    textLine("name: ", textAt<28, 32>(p), "\n", w);
    decLine("storage_usage: ", u8At<60>(p), "\n", w);
}

void cameraCaptureStatusLines(const u8* p, ByteWriter* w) {
    fixedLine("time_boot: ", u32At<0>(p), 3, " s\n", w);
    trimmedLine("image_interval: ", f32At<4>(p), " s\n", w);
    fixedLine("recording_time: ", u32At<8>(p), 3, " s\n", w);
    trimmedLine("available_capacity: ", f32At<12>(p), " MiB\n", w);
    decLine("image_status: ", u8At<16>(p), "\n", w);
    decLine("video_status: ", u8At<17>(p), "\n", w);
    decLine("image_count: ", i32At<18>(p), "\n", w);
}

void cameraImageCapturedLines(const u8* p, ByteWriter* w) {
    unsignedMicrosLine("time_utc: ", u64At<0>(p), " s\n", w);
    fixedLine("time_boot: ", u32At<8>(p), 3, " s\n", w);
    fixedLine("lat: ", i32At<12>(p), 7, RECORDED_DEGREE "\n", w);
    fixedLine("lon: ", i32At<16>(p), 7, RECORDED_DEGREE "\n", w);
    fixedLine("alt: ", i32At<20>(p), 3, " m\n", w);
    fixedLine("relative_alt: ", i32At<24>(p), 3, " m\n", w);
    doubleLine("qw: ", f32At<28>(p), 6, "\n", w);
    doubleLine("qx: ", f32At<32>(p), 6, "\n", w);
    doubleLine("qy: ", f32At<36>(p), 6, "\n", w);
    doubleLine("qz: ", f32At<40>(p), 6, "\n", w);
    decLine("image_index: ", i32At<44>(p), "\n", w);
    decLine("camera_id: ", u8At<48>(p), "\n", w);
    decLine("capture_success: ", u8At<49>(p), "\n", w);
    textLine("url: ", textAt<50, 205>(p), "\n", w);
}

const char* nextVisionReportName(u16 reportType) {
    static const char* const names[18] = {
        "System Report", "LOS",     "Ground Crossing", nullptr,    nullptr,     "Snap Shot",
        "SD Card",       "Video",   "LOS Rate",        "Object Detection", "IMU", "Fire",
        "Tracking",      "LPR",     "AR Marker",       "Parameter", "Car Count", "OGLR",
    };
    return reportType < 18 ? names[reportType] : nullptr;
}

void paramExtValueSuffix(const u8* p, ByteWriter* w) {
    textLine("   ", textAt<4, 16>(p), "", w);
    switch (u8At<148>(p)) {
        case 1: decLine(" = ", u8At<20>(p), "", w); break;    // UINT8
        case 8: decLine(" = ", i64At<20>(p), "", w); break;   // INT64
        case 10:                                              // REAL64
            appendCString(" = ", w);
            appendDoubleTrimmed(f64At<20>(p), 6, w);
            break;
        default: break;
    }
}

}  // namespace

bool appendCameraMessageDetails(const MavlinkMessage* message, const Preferences* prefs, ByteWriter* details) {
    const u8* p = message->payload;
    switch (message->messageId) {
        case kV2Extension: nextVisionLines(p, prefs, details); return true;
        case kStorageInformation: storageInformationLines(p, details); return true;
        case kCameraCaptureStatus: cameraCaptureStatusLines(p, details); return true;
        case kCameraImageCaptured: cameraImageCapturedLines(p, details); return true;
        default: return false;
    }
}

bool appendCameraMessageSuffix(const MavlinkMessage* message, ByteWriter* summary) {
    const u8* p = message->payload;
    switch (message->messageId) {
        case kV2Extension: {
            const char* name = nextVisionReportName(u16At<0>(p));
            if (name) {
                appendCString("   ", summary);
                appendCString(name, summary);
            }
            return true;
        }
        case kCameraImageCaptured: textLine("   ", textAt<50, 205>(p), "", summary); return true;
        case kParamExtValue: paramExtValueSuffix(p, summary); return true;
        default: return false;
    }
}
