// Camera identification, the camera-protocol camera and the Workswell camera.
#include "Video/CameraLink.h"

#include "Core/MathQuaternion.h"
#include "Core/Preferences.h"
#include "Mavlink/VehicleState.h"
#include "Video/CameraLinkSend.h"

#include <algorithm>
#include <cstring>

const char kCameraParameterNames[kCameraParameters][kExtParamNameBytes] = {
    {'C', 'A', 'M', '_', 'M', 'O', 'D', 'E'},
    {'C', 'A', 'M', '_', 'F', 'O', 'C', 'U', 'S', 'M', 'O', 'D', 'E'},
    {'C', 'A', 'M', '_', 'V', 'N', 'D', '_', '8', '0', '0', '0', '0', '0', '0', '0'},
    {'C', 'A', 'M', '_', 'E', 'X', 'P', 'M', 'O', 'D', 'E'},
    {'C', 'A', 'M', '_', 'W', 'B', 'M', 'O', 'D', 'E'},
    {'C', 'A', 'M', '_', 'E', 'V'},
    {'C', 'A', 'M', '_', 'I', 'S', 'O'},
    {'C', 'A', 'M', '_', 'S', 'H', 'U', 'T', 'T', 'E', 'R'},
    {'C', 'A', 'M', '_', 'A', 'P', 'E', 'R', 'T', 'U', 'R', 'E'},
    {'C', 'A', 'M', '_', 'I', 'M', 'G', 'D', 'E', 'S', 'T'},
    {'C', 'A', 'M', '_', 'I', 'M', 'G', 'S', 'I', 'Z', 'E'},
    {'C', 'A', 'M', '_', 'V', 'N', 'D', '_', '0'},
    {'C', 'A', 'M', '_', 'V', 'N', 'D', '_', '1'},
};

namespace {

const char kLayoutMain[kExtParamNameBytes] = {'L', 'A', 'Y', 'O', 'U', 'T', '_', 'M', 'A', 'I', 'N'};
constexpr f64 kPi = 3.14159265358979323846;
constexpr u64 kZeroRateRepeat = 1000000;
constexpr u64 kNoRecentInput = (u64)-1000000;  // "last input at -1 s": no zero-rate repeat
constexpr u64 kLayoutValueLife = 1000000;
constexpr u64 kWorkswellZoomInterval = 200001;

// A name of up to 16 bytes as a NUL-safe C string for the senders.
struct NameText {
    char text[kExtParamNameBytes + 1];
};
NameText nameText(const char* name) {
    NameText result{};
    std::memcpy(result.text, name, kExtParamNameBytes);
    return result;
}

bool changing(u64 changeAskedTime, u64 now) {
    return changeAskedTime != 0 && now - changeAskedTime < kExtParamSetDuration;
}

f32 capacityBytes(f32 mebibytes) { return mebibytes * 1024.0f * 1024.0f; }

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Identification.

u32 handleCameraInformation(const MavlinkMessage* message, CameraIdentity* identity, u64 now) {
    const u8* p = message->payload;
    if (message->messageId == MavlinkHeartbeat && p[4] == kMavTypeCamera) {
        identity->cameraSource = message->source;
        copyMavlinkPayload(&identity->heartbeat, message, identity->heartbeatFrame, sizeof(identity->heartbeatFrame),
                           now);
        return 1;
    }
    if (message->messageId == MavlinkCameraInformation && identity->cameraSource != 0 &&
        message->source == identity->cameraSource) {
        identity->informationTime = now;
        identity->timeBootMs = mavlinkU32(p);
        identity->firmwareVersion = mavlinkU32(p + 4);
        identity->focalLength = mavlinkF32(p + 8);
        identity->sensorSizeH = mavlinkF32(p + 12);
        identity->sensorSizeV = mavlinkF32(p + 16);
        identity->flags = mavlinkU32(p + 20);
        identity->resolutionH = mavlinkU16(p + 24);
        identity->resolutionV = mavlinkU16(p + 26);
        identity->camDefinitionVersion = mavlinkU16(p + 28);
        std::memcpy(identity->vendorName, p + 30, 32);
        std::memcpy(identity->modelName, p + 62, 32);
        identity->lensId = p[94];
        copyMavlinkPayload(&identity->information, message, identity->informationFrame,
                           sizeof(identity->informationFrame), now);
        return 1;
    }
    return 0;
}

i32 cameraKindFromInformation(const CameraIdentity* identity, u64 now) {
    if (identity->informationTime == 0 || now - identity->informationTime >= kCameraInformationInterval) return -1;
    u8 workswell[32] = {'W', 'O', 'R', 'K', 'S', 'W', 'E', 'L', 'L'};
    u8 sony[32] = {'S', 'o', 'n', 'y'};
    if (std::memcmp(identity->vendorName, workswell, 32) == 0) return CameraGimbal;
    if (std::memcmp(identity->vendorName, sony, 32) == 0) return CameraProtocol;
    return -1;
}

void requestCameraInformation(CameraIdentity* identity, DroneOutput* output, u64 now) {
    if (identity->cameraSource == 0 || identity->informationTime != 0) return;
    if (identity->informationRequestTime != 0 && now - identity->informationRequestTime < kCameraInformationInterval) {
        return;
    }
    if (sendCameraCommand(521, 1, 0, 0, 0, 0, 0, 0, identity->cameraSource, output, now)) {
        identity->informationRequestTime = now;
    }
}

// ---------------------------------------------------------------------------------------------------
// The camera-protocol camera.

u32 handleCameraProtocolMessage(const MavlinkMessage* message, ProtocolCameraState* state, u16 cameraSource,
                                CameraView* view, u64 now) {
    const u8* p = message->payload;
    if (message->source != cameraSource) {
        if (message->messageId != MavlinkGimbalDeviceAttitudeStatus) return 0;
        f32 w = mavlinkF32(p + 4), x = mavlinkF32(p + 8), y = mavlinkF32(p + 12), z = mavlinkF32(p + 16);
        state->gimbalAttitude = Quaternion{y, x, -z, w};  // north-east-down to east-north-up
        return 1;
    }
    switch (message->messageId) {
    case MavlinkCameraSettings:
        state->cameraMode = p[4];
        return 1;
    case MavlinkStorageInformation: {
        f32 total = mavlinkF32(p + 4);
        f32 available = mavlinkF32(p + 12);
        if (p[27] == 2) {
            state->sdPresent = total > 0;
            state->usbPresent = p[25] == 3;
            state->sdFreeBytes = capacityBytes(available);
        } else if (p[27] == 1) {
            state->usbPresent = total > 0;
            state->usbFreeBytes = capacityBytes(available);
        }
        return 1;
    }
    case MavlinkCameraCaptureStatus:
        state->recordingTimeMs = mavlinkU32(p + 8);
        state->intervalCaptureActive = p[16] == 2 || p[16] == 3;
        state->recording = p[17] != 0;
        state->imageCount = mavlinkU32(p + 18);
        state->captureStatusTime = now;
        return 1;
    case MavlinkCameraImageCaptured:
        view->imagesCaptured++;
        return 1;
    case MavlinkGimbalManagerStatus:
        state->gimbalManagerStatusTime = now;
        state->gimbalControllerId = (u16)(p[9] << 8 | p[10]);
        return 1;
    case MavlinkParamExtValue: {
        u8 name[kExtParamNameBytes];
        copyExtParamName(name, p + 4);
        if (p[148] != 1) return 1;
        for (i32 i = 0; i < kCameraParameters; i++) {
            if (std::memcmp(name, kCameraParameterNames[i], kExtParamNameBytes) != 0) continue;
            ExtParamSlot* slot = &state->parameters[i];
            slot->value = p[20];
            if (!changing(slot->changeAskedTime, now)) slot->wanted = slot->value;
            slot->paramIndex = mavlinkU16(p + 2);
            slot->indexKnown = 1;
            slot->receiveTime = now;
            copyMavlinkPayload(&slot->frameCopy, message, slot->frame, sizeof(slot->frame), now);
        }
        return 1;
    }
    default:
        return 0;
    }
}

namespace {

enum GimbalCommandKind { GimbalNothing, GimbalRate, GimbalAngle };

bool sendManualControl(ProtocolCameraState* state, f32 pitchRate, const VehicleState* vehicle, DroneOutput* output,
                       u64 now) {
    u8 bytes[23] = {};
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendU32Le(12, &payload);  // roll lock and pitch lock
    appendF32Le(NAN, &payload);
    appendF32Le(NAN, &payload);
    appendF32Le(pitchRate, &payload);
    appendF32Le(0, &payload);
    appendU8((u8)(vehicle->vehicleId >> 8), &payload);
    appendU8((u8)vehicle->vehicleId, &payload);
    appendU8(0, &payload);
    if (state->gimbalControllerId == output->source) {
        return sendCameraMessage(MavlinkGimbalManagerSetManualControl, &payload, output, now);
    }
    // Another controller holds the gimbal: speak as it, with a sequence of our own.
    DroneOutput asController = *output;
    asController.source = state->gimbalControllerId;
    asController.sequence = &state->controllerSequence;
    return sendCameraMessage(MavlinkGimbalManagerSetManualControl, &payload, &asController, now);
}

// The gimbal's command (an angle at the pitch limits or for the recenter and secondary positions,
// else the pilot's rate), the parameters, the status round and the requests.
void commandCamera(ProtocolCameraState* state, u16 cameraSource, GimbalPointing* pointing, const VehicleState* vehicle,
                   const Preferences* preferences, DroneOutput* output, u64 now) {
    EulerAngles camera;
    quaternionToEuler(&camera, &pointing->attitude);
    f32 r = pointing->pitchInput;
    f64 predicted = camera.pitchDegrees + 0.2 * r;
    GimbalCommandKind command = GimbalNothing;
    f32 anglePitch = 0, angleYaw = 0, rate = 0;
    if (pointing->recenterHeld) {
        command = GimbalAngle;
        anglePitch = (f32)preferences->recenterPositionPitch;
        state->lastPitchInputTime = kNoRecentInput;
    } else if (pointing->secondaryHeld) {
        command = GimbalAngle;
        anglePitch = (f32)preferences->secondaryPositionPitch;
        angleYaw = (f32)preferences->secondaryPositionYaw;
        state->lastPitchInputTime = kNoRecentInput;
    } else if (predicted > 5) {
        command = GimbalAngle;
        anglePitch = 5;
        state->lastPitchInputTime = kNoRecentInput;
    } else if (predicted < -90) {
        command = GimbalAngle;
        anglePitch = -90;
        state->lastPitchInputTime = kNoRecentInput;
    } else if (r == 0) {
        if ((i64)(now - state->lastPitchInputTime) < (i64)kZeroRateRepeat) command = GimbalRate;
    } else {
        command = GimbalRate;
        rate = r;
        state->lastPitchInputTime = now;
    }

    for (i32 i = 0; i < kCameraParameters; i++) {
        syncExtParamB(&state->parameters[i], nameText(kCameraParameterNames[i]).text, cameraSource, output, now);
    }

    if (now - state->gimbalMessageTime >= kGimbalCommandInterval) {
        if (command == GimbalRate) {
            f32 pitchRate = std::clamp(rate / 50.0f, -1.0f, 1.0f);
            if (sendManualControl(state, pitchRate, vehicle, output, now)) state->gimbalMessageTime = now;
        } else if (command == GimbalAngle) {
            sendCameraCommand(205, anglePitch, 0, angleYaw, 0, 0, 0, 2, vehicle->vehicleId, output, now);
        }
    }

    if (now - state->statusRoundTime > kCameraStatusInterval) {
        state->statusRoundTime = now;
        sendCameraCommand(522, 1, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
        sendCameraCommand(527, 1, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
        sendCameraCommand(525, 0, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
        sendCameraCommand(525, 1, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
    }

    u32* requests = state->requests;
    if (requests[ProtocolRequestPhotoMode] &&
        sendCameraCommand(530, 0, 0, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now)) {
        requests[ProtocolRequestPhotoMode] = 0;
    }
    if (requests[ProtocolRequestVideoMode] &&
        sendCameraCommand(530, 0, 1, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now)) {
        requests[ProtocolRequestVideoMode] = 0;
    }
    if (requests[ProtocolRequestSinglePhoto] &&
        sendCameraCommand(2000, 0, 2, 1, (f32)(state->captureSequence + 1), NAN, NAN, NAN, cameraSource, output, now)) {
        state->captureSequence++;
        requests[ProtocolRequestSinglePhoto] = 0;
    }
    if (requests[ProtocolRequestStartInterval] &&
        sendCameraCommand(2000, 0, (f32)preferences->mappingKitPhotoInterval, 0, (f32)(state->captureSequence + 1),
                          NAN, NAN, NAN, cameraSource, output, now)) {
        state->captureSequence++;
        requests[ProtocolRequestStartInterval] = 0;
    }
    if (requests[ProtocolRequestStopCapture] &&
        sendCameraCommand(2001, 0, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now)) {
        requests[ProtocolRequestStopCapture] = 0;
    }
    if (requests[ProtocolRequestStartVideo] &&
        sendCameraCommand(2500, 6, 10, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now)) {
        requests[ProtocolRequestStartVideo] = 0;
    }
    if (requests[ProtocolRequestStopVideo] &&
        sendCameraCommand(2501, NAN, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now)) {
        requests[ProtocolRequestStopVideo] = 0;
    }
    if (requests[ProtocolRequestParameterList]) {
        u8 bytes[2] = {(u8)(cameraSource >> 8), (u8)cameraSource};
        ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
        payload.length = 2;
        if (sendCameraMessage(MavlinkParamExtRequestList, &payload, output, now)) {
            requests[ProtocolRequestParameterList] = 0;
        }
    }
}

}  // namespace

void controlCamera(ProtocolCameraState* state, u16 cameraSource, CameraView* view, GimbalPointing* pointing,
                   const VehicleState* vehicle, const Preferences* preferences, i32 videoHeight, DroneOutput* output,
                   u64 now) {
    view->crop = Rect{0, 1, 0, 1};

    f64 c = std::cos(vehicle->yaw / 2.0), s = std::sin(vehicle->yaw / 2.0);
    Quaternion rotation{0, 0, -s, c};
    multiplyQuaternions(&pointing->attitude, &rotation, &state->gimbalAttitude);
    // The gimbal's own angle changes only with its attitude (a replay comes here for every datagram).
    if (!state->gimbalAngleKnown ||
        std::memcmp(&state->gimbalAngleAttitude, &state->gimbalAttitude, sizeof(Quaternion)) != 0) {
        EulerAngles gimbal;
        quaternionToEuler(&gimbal, &state->gimbalAttitude);
        state->gimbalAngle = gimbal.roll;
        state->gimbalAngleAttitude = state->gimbalAttitude;
        state->gimbalAngleKnown = 1;
    }
    pointing->gimbalAngle = state->gimbalAngle;

    f64 t = std::tan(35.0 * kPi / 180.0);
    f64 photoAspect = 6336.0 / 9504.0, videoAspect = 720.0 / 1280.0;
    bool videoMode = state->cameraMode == 1;
    view->horizontalTangent = t;
    if (videoHeight == 680) {
        view->verticalTangent = t * photoAspect;
        state->pictureShape = videoMode ? 0 : 1;
    } else if (videoHeight == 576) {
        view->verticalTangent = t * videoAspect;
        state->pictureShape = videoMode ? 2 : 0;
    } else {
        view->verticalTangent = t * (videoMode ? videoAspect : photoAspect);
        state->pictureShape = videoMode ? 2 : 1;
    }

    // What the camera is told: nothing without a socket (a replay's output has none).
    if (droneOutputSends(output)) commandCamera(state, cameraSource, pointing, vehicle, preferences, output, now);
}

// ---------------------------------------------------------------------------------------------------
// The Workswell camera.

u32 handleLayoutCameraMessage(const MavlinkMessage* message, WorkswellCameraState* state, u16 cameraSource,
                              CameraView* view, u64 now) {
    if (message->source != cameraSource) return 0;
    const u8* p = message->payload;
    switch (message->messageId) {
    case MavlinkParamExtValue: {
        u8 name[kExtParamNameBytes];
        copyExtParamName(name, p + 4);
        if (p[148] <= 8 && std::memcmp(name, kLayoutMain, kExtParamNameBytes) == 0) {
            WideExtParamSlot* slot = &state->layout;
            slot->value = mavlinkU64(p + 20);
            if (!changing(slot->changeAskedTime, now)) slot->wanted = slot->value;
            slot->paramIndex = mavlinkU16(p + 2);
            slot->paramType = p[148];
            slot->indexKnown = 1;
            slot->receiveTime = now;
            copyMavlinkPayload(&slot->frameCopy, message, slot->frame, sizeof(slot->frame), now);
        }
        return 1;
    }
    case MavlinkCameraSettings:
        state->cameraMode = p[4];
        state->zoomLevel = mavlinkF32(p + 5);
        return 1;
    case MavlinkStorageInformation: {
        f32 total = mavlinkF32(p + 4);
        f32 available = mavlinkF32(p + 12);
        if (p[27] == 3) {
            state->sdPresent = total != 0;  // a NaN counts as present
            state->sdFreeBytes = capacityBytes(available);
        } else if (p[27] == 7) {
            state->ssdFreeBytes = capacityBytes(available);
        }
        return 1;
    }
    case MavlinkCameraCaptureStatus:
        state->recordingTimeMs = mavlinkU32(p + 8);
        state->recordingTimeReceived = now;
        state->recording = p[17] != 0;
        return 1;
    case MavlinkCameraImageCaptured:
        view->imagesCaptured++;
        return 1;
    default:
        return 0;
    }
}

void updateCameraControl(WorkswellCameraState* state, u16 cameraSource, CameraView* view, DroneOutput* output,
                         u64 now) {
    if (cameraSource == 0) return;
    WideExtParamSlot* layout = &state->layout;
    layout->readAskedTime = now;
    if (layout->receiveTime != 0 && now - layout->receiveTime > kLayoutValueLife) layout->receiveTime = 0;
    syncExtParamA(layout, nameText(kLayoutMain).text, cameraSource, output, now);

    u64 l = layout->value;
    if (state->cameraMode != 0 || l == 3) {
        f64 t = std::tan(0.5683232183369634);
        f64 diagonal = std::sqrt(1920.0 * 1920.0 + 1080.0 * 1080.0);
        view->horizontalTangent = t * 1920.0 / diagonal;
        view->verticalTangent = t * 1080.0 / diagonal;
        view->crop = l == 0 ? Rect{0, 0.7640625f, 0.08055556f, 1} : (l == 2 || l == 3) ? Rect{0, 1, 0, 1}
                                                                                        : Rect{0, 0.703125f, 0, 1};
    } else {
        f64 t = std::tan(0.35145615412042935);
        f64 diagonal = std::sqrt(640.0 * 640.0 + 512.0 * 512.0);
        view->horizontalTangent = t * 640.0 / diagonal;
        view->verticalTangent = t * 512.0 / diagonal;
        view->crop = l == 0 ? Rect{0, 0.646484375f, 0.08055556f, 1} : Rect{0, 0.703125f, 0, 1};
    }

    if (now - state->statusRoundTime > kCameraStatusInterval) {
        state->statusRoundTime = now;
        sendCameraCommand(522, 1, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
        sendCameraCommand(527, 1, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
        sendCameraCommand(525, 0, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
        sendCameraCommand(525, 2, NAN, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now);
    }

    if (view->zoomWanted && view->wantedTangent > 0 && now - state->zoomCommandTime >= kWorkswellZoomInterval) {
        f32 factor = (f32)std::max(1.0, view->horizontalTangent / view->wantedTangent);
        if (sendCameraCommand(203, NAN, factor, NAN, NAN, NAN, NAN, NAN, cameraSource, output, now)) {
            state->zoomCommandTime = now;
        }
    }

    if (state->zoomLevel > 0) {
        view->horizontalTangent /= state->zoomLevel;
        view->verticalTangent /= state->zoomLevel;
    }

    struct RequestCommand {
        WorkswellRequest request;
        u16 command;
        f32 p[7];
    };
    const RequestCommand kCommands[] = {
        {WorkswellRequestTakePhoto, 2000, {0, 2, 1, 0, NAN, NAN, NAN}},
        {WorkswellRequestStartVideo, 2500, {6, 10, NAN, NAN, NAN, NAN, NAN}},
        {WorkswellRequestStopVideo, 2501, {NAN, NAN, NAN, NAN, NAN, NAN, NAN}},
        {WorkswellRequestInfrared, 530, {NAN, 0, NAN, NAN, NAN, 1, NAN}},
        {WorkswellRequestVisible, 530, {NAN, 1, NAN, NAN, NAN, 2, NAN}},
        {WorkswellRequestVendor1, 31012, {1, NAN, NAN, NAN, NAN, NAN, NAN}},
        {WorkswellRequestVendor2, 31012, {2, NAN, NAN, NAN, NAN, NAN, NAN}},
        {WorkswellRequestVendor3, 31012, {3, NAN, NAN, NAN, NAN, NAN, NAN}},
        {WorkswellRequestVendor4, 31012, {4, NAN, NAN, NAN, NAN, NAN, NAN}},
    };
    for (const RequestCommand& c : kCommands) {
        if (state->requests[c.request] && sendCameraCommand(c.command, c.p[0], c.p[1], c.p[2], c.p[3], c.p[4], c.p[5],
                                                            c.p[6], cameraSource, output, now)) {
            state->requests[c.request] = 0;
        }
    }
}
