// Recorded camera messages: the MAVLink camera protocol (the camera's identity and settings, storage,
// capture status, captured images, video streams, field of view, tracking, extended parameters) and
// the NextVision reports carried in V2_EXTENSION.
#include "FlightLogReplay/RecordedMavlinkLines.h"

namespace {

constexpr u32 kV2Extension = 248;
constexpr u32 kCameraInformation = 259;
constexpr u32 kCameraSettings = 260;
constexpr u32 kStorageInformation = 261;
constexpr u32 kCameraCaptureStatus = 262;
constexpr u32 kCameraImageCaptured = 263;
constexpr u32 kVideoStreamInformation = 269;
constexpr u32 kVideoStreamStatus = 270;
constexpr u32 kCameraFovStatus = 271;
constexpr u32 kCameraTrackingImageStatus = 275;
constexpr u32 kCameraTrackingGeoStatus = 276;
constexpr u32 kParamExtRequestRead = 320;
constexpr u32 kParamExtRequestList = 321;
constexpr u32 kParamExtValue = 322;
constexpr u32 kParamExtSet = 323;
constexpr u32 kParamExtAck = 324;

#define DEG RECORDED_DEGREE

// The fields in the order they travel (MAVLink's wire order), named as the message definitions name
// them; times in ms are shown in seconds, degE7 in degrees and mm in metres, as the other details do.
constexpr FieldLine kCameraInformationLines[] = {
    {"time_boot: ", 0, FormScaledUnsigned, 4, 3, " s\n"},
    {"firmware_version: ", 4, FormVersion, 4, 0, "\n"},
    {"focal_length: ", 8, FormFloat, 4, 0, " mm\n"},
    {"sensor_size_h: ", 12, FormFloat, 4, 0, " mm\n"},
    {"sensor_size_v: ", 16, FormFloat, 4, 0, " mm\n"},
    {"flags: 0x", 20, FormHex, 4, 0, "\n"},
    {"resolution_h: ", 24, FormUnsigned, 2, 0, " px\n"},
    {"resolution_v: ", 26, FormUnsigned, 2, 0, " px\n"},
    {"cam_definition_version: ", 28, FormUnsigned, 2, 0, "\n"},
    {"vendor_name: ", 30, FormText, 32, 0, "\n"},
    {"model_name: ", 62, FormText, 32, 0, "\n"},
    {"lens_id: ", 94, FormUnsigned, 1, 0, "\n"},
    {"cam_definition_uri: ", 95, FormText, 140, 0, "\n"},
    {"gimbal_device_id: ", 235, FormUnsigned, 1, 0, "\n"},
    {"camera_device_id: ", 236, FormUnsigned, 1, 0, "\n"},
};
constexpr FieldLine kCameraSettingsLines[] = {
    {"time_boot: ", 0, FormScaledUnsigned, 4, 3, " s\n"},
    {"mode_id: ", 4, FormUnsigned, 1, 0, "\n"},
    {"zoomLevel: ", 5, FormFloat, 4, 0, "\n"},
    {"focusLevel: ", 9, FormFloat, 4, 0, "\n"},
    {"camera_device_id: ", 13, FormUnsigned, 1, 0, "\n"},
};
// VIDEO_STREAM_STATUS is the head of VIDEO_STREAM_INFORMATION up to stream_id.
constexpr FieldLine kVideoStreamLines[] = {
    {"framerate: ", 0, FormFloat, 4, 0, " Hz\n"},
    {"bitrate: ", 4, FormUnsigned, 4, 0, " bits/s\n"},
    {"flags: 0x", 8, FormHex, 2, 0, "\n"},
    {"resolution_h: ", 10, FormUnsigned, 2, 0, " px\n"},
    {"resolution_v: ", 12, FormUnsigned, 2, 0, " px\n"},
    {"rotation: ", 14, FormUnsigned, 2, 0, DEG "\n"},
    {"hfov: ", 16, FormUnsigned, 2, 0, DEG "\n"},
    {"stream_id: ", 18, FormUnsigned, 1, 0, "\n"},
};
constexpr FieldLine kVideoStreamInformationTail[] = {
    {"count: ", 19, FormUnsigned, 1, 0, "\n"},
    {"type: ", 20, FormUnsigned, 1, 0, "\n"},
    {"name: ", 21, FormText, 32, 0, "\n"},
    {"uri: ", 53, FormText, 160, 0, "\n"},
    {"encoding: ", 213, FormUnsigned, 1, 0, "\n"},
    {"camera_device_id: ", 214, FormUnsigned, 1, 0, "\n"},
};
constexpr FieldLine kVideoStreamStatusTail[] = {
    {"camera_device_id: ", 19, FormUnsigned, 1, 0, "\n"},
};
constexpr FieldLine kCameraFovStatusLines[] = {
    {"time_boot: ", 0, FormScaledUnsigned, 4, 3, " s\n"},
    {"lat_camera: ", 4, FormScaled, 4, 7, DEG "\n"},
    {"lon_camera: ", 8, FormScaled, 4, 7, DEG "\n"},
    {"alt_camera: ", 12, FormScaled, 4, 3, " m\n"},
    {"lat_image: ", 16, FormScaled, 4, 7, DEG "\n"},
    {"lon_image: ", 20, FormScaled, 4, 7, DEG "\n"},
    {"alt_image: ", 24, FormScaled, 4, 3, " m\n"},
    {"qw: ", 28, FormFixedFloat, 4, 6, "\n"},
    {"qx: ", 32, FormFixedFloat, 4, 6, "\n"},
    {"qy: ", 36, FormFixedFloat, 4, 6, "\n"},
    {"qz: ", 40, FormFixedFloat, 4, 6, "\n"},
    {"hfov: ", 44, FormFloat, 4, 0, DEG "\n"},
    {"vfov: ", 48, FormFloat, 4, 0, DEG "\n"},
    {"camera_device_id: ", 52, FormUnsigned, 1, 0, "\n"},
};
constexpr FieldLine kCameraTrackingImageLines[] = {
    {"point_x: ", 0, FormFloat, 4, 0, "\n"},
    {"point_y: ", 4, FormFloat, 4, 0, "\n"},
    {"radius: ", 8, FormFloat, 4, 0, "\n"},
    {"rec_top_x: ", 12, FormFloat, 4, 0, "\n"},
    {"rec_top_y: ", 16, FormFloat, 4, 0, "\n"},
    {"rec_bottom_x: ", 20, FormFloat, 4, 0, "\n"},
    {"rec_bottom_y: ", 24, FormFloat, 4, 0, "\n"},
    {"tracking_status: ", 28, FormUnsigned, 1, 0, "\n"},
    {"tracking_mode: ", 29, FormUnsigned, 1, 0, "\n"},
    {"target_data: ", 30, FormUnsigned, 1, 0, "\n"},
    {"camera_device_id: ", 31, FormUnsigned, 1, 0, "\n"},
};
constexpr FieldLine kCameraTrackingGeoLines[] = {
    {"lat: ", 0, FormScaled, 4, 7, DEG "\n"},
    {"lon: ", 4, FormScaled, 4, 7, DEG "\n"},
    {"alt: ", 8, FormFloat, 4, 0, " m\n"},
    {"h_acc: ", 12, FormFloat, 4, 0, " m\n"},
    {"v_acc: ", 16, FormFloat, 4, 0, " m\n"},
    {"vel_n: ", 20, FormFloat, 4, 0, " m/s\n"},
    {"vel_e: ", 24, FormFloat, 4, 0, " m/s\n"},
    {"vel_d: ", 28, FormFloat, 4, 0, " m/s\n"},
    {"vel_acc: ", 32, FormFloat, 4, 0, " m/s\n"},
    {"dist: ", 36, FormFloat, 4, 0, " m\n"},
    {"hdg: ", 40, FormDegreesFromRadians, 4, 0, DEG "\n"},
    {"hdg_acc: ", 44, FormDegreesFromRadians, 4, 0, DEG "\n"},
    {"tracking_status: ", 48, FormUnsigned, 1, 0, "\n"},
    {"camera_device_id: ", 49, FormUnsigned, 1, 0, "\n"},
};
constexpr FieldLine kParamExtRequestReadLines[] = {
    {"param_index: ", 0, FormSigned, 2, 0, "\n"},
    {"target: ", 2, FormTarget, 2, 0, "\n"},
    {"param_id: ", 4, FormText, 16, 0, "\n"},
};
constexpr FieldLine kParamExtRequestListLines[] = {
    {"target: ", 0, FormTarget, 2, 0, "\n"},
};
constexpr FieldLine kParamExtValueHead[] = {
    {"param_count: ", 0, FormUnsigned, 2, 0, "\n"},
    {"param_index: ", 2, FormUnsigned, 2, 0, "\n"},
    {"param_id: ", 4, FormText, 16, 0, "\n"},
};
constexpr FieldLine kParamExtSetHead[] = {
    {"target: ", 0, FormTarget, 2, 0, "\n"},
    {"param_id: ", 2, FormText, 16, 0, "\n"},
};
constexpr FieldLine kParamExtAckHead[] = {
    {"param_id: ", 0, FormText, 16, 0, "\n"},
};

static_assert(fieldsInside(kCameraInformationLines) && fieldsInside(kCameraSettingsLines) &&
              fieldsInside(kVideoStreamLines) && fieldsInside(kVideoStreamInformationTail) &&
              fieldsInside(kVideoStreamStatusTail) && fieldsInside(kCameraFovStatusLines) &&
              fieldsInside(kCameraTrackingImageLines) && fieldsInside(kCameraTrackingGeoLines) &&
              fieldsInside(kParamExtRequestReadLines) && fieldsInside(kParamExtRequestListLines) &&
              fieldsInside(kParamExtValueHead) && fieldsInside(kParamExtSetHead) && fieldsInside(kParamExtAckHead));

template <i32 N>
void lines(const u8* p, const FieldLine (&table)[N], ByteWriter* w) {
    appendFieldLines(p, 0, table, N, w);
}

// An extended parameter's value (128 bytes at `at`) by its MAV_PARAM_EXT_TYPE, then the type: the
// numeric types little-endian from the value's first bytes, CUSTOM and unknown types as text.
void paramExtValueLines(const u8* p, i32 at, u8 type, ByteWriter* w) {
    static const FieldLine kNumbers[] = {
        {"param_value: ", 0, FormUnsigned, 1, 0, "\n"}, {"param_value: ", 0, FormSigned, 1, 0, "\n"},
        {"param_value: ", 0, FormUnsigned, 2, 0, "\n"}, {"param_value: ", 0, FormSigned, 2, 0, "\n"},
        {"param_value: ", 0, FormUnsigned, 4, 0, "\n"}, {"param_value: ", 0, FormSigned, 4, 0, "\n"},
        {"param_value: ", 0, FormUnsigned, 8, 0, "\n"}, {"param_value: ", 0, FormSigned, 8, 0, "\n"},
        {"param_value: ", 0, FormFloat, 4, 0, "\n"},    {"param_value: ", 0, FormFloat, 8, 0, "\n"},
    };
    static const FieldLine kText = {"param_value: ", 0, FormText, 128, 0, "\n"};
    appendFieldLines(p, at, type >= 1 && type <= 10 ? &kNumbers[type - 1] : &kText, 1, w);
    decLine("param_type: ", type, "\n", w);
}

#undef DEG

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
        case kV2Extension: appendNextVisionReportLines(message, prefs, details); return true;
        case kCameraInformation: lines(p, kCameraInformationLines, details); return true;
        case kCameraSettings: lines(p, kCameraSettingsLines, details); return true;
        case kStorageInformation: storageInformationLines(p, details); return true;
        case kCameraCaptureStatus: cameraCaptureStatusLines(p, details); return true;
        case kCameraImageCaptured: cameraImageCapturedLines(p, details); return true;
        case kVideoStreamInformation:
            lines(p, kVideoStreamLines, details);
            lines(p, kVideoStreamInformationTail, details);
            return true;
        case kVideoStreamStatus:
            lines(p, kVideoStreamLines, details);
            lines(p, kVideoStreamStatusTail, details);
            return true;
        case kCameraFovStatus: lines(p, kCameraFovStatusLines, details); return true;
        case kCameraTrackingImageStatus: lines(p, kCameraTrackingImageLines, details); return true;
        case kCameraTrackingGeoStatus: lines(p, kCameraTrackingGeoLines, details); return true;
        case kParamExtRequestRead: lines(p, kParamExtRequestReadLines, details); return true;
        case kParamExtRequestList: lines(p, kParamExtRequestListLines, details); return true;
        case kParamExtValue:
            lines(p, kParamExtValueHead, details);
            paramExtValueLines(p, 20, u8At<148>(p), details);
            return true;
        case kParamExtSet:
            lines(p, kParamExtSetHead, details);
            paramExtValueLines(p, 18, u8At<146>(p), details);
            return true;
        case kParamExtAck:
            lines(p, kParamExtAckHead, details);
            paramExtValueLines(p, 16, u8At<144>(p), details);
            decLine("param_result: ", u8At<145>(p), "\n", details);
            return true;
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
