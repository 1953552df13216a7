// The NextVision camera (reports inside V2_EXTENSION, every command a DO_DIGICAM_CONTROL with a
// vendor code in param1) and the hyperspectral sensor's XML start and stop texts.
#include "Core/Format.h"
#include "Core/MathQuaternion.h"
#include "Core/Preferences.h"
#include "Mavlink/VehicleState.h"
#include "Platform/Input.h"
#include "Video/CameraLinkSend.h"

#include <algorithm>
#include <cstring>

namespace {
const u8 kHyperspectralHost[16] = {192, 168, 144, 80};
}
AddressRecord hyperspectralSensorAddress = makeAddressRecord(4, kHyperspectralHost, 4460);

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr u64 kReportRoundInterval = 1000000;
constexpr u64 kCardReportLife = 2000000;
constexpr u64 kHistoryInterval = 50000;
constexpr u64 kPointingInterval = 100000;
constexpr u64 kPointHold = 1000001;
constexpr u16 kDigicam = 203;

// One for the whole program, as the camera keeps its own mode between connections.
bool stabilisedLatch = true;
bool pointingToggle = false;

f32 f32At(const u8* p) { return mavlinkF32(p); }

f64 wrapDegrees(f64 angle) {
    angle = std::fmod(angle + 180.0, 360.0);
    if (angle < 0) angle += 360.0;
    return angle - 180.0;
}

bool digicam(f32 p1, f32 p2, f32 p3, f32 p4, f32 p5, f32 p6, f32 p7, DroneOutput* output, u64 now) {
    return sendCameraCommand(kDigicam, p1, p2, p3, p4, p5, p6, p7, kNextVisionTarget, output, now);
}

void pushSample(u64* times, f32* angles, u64 now, f32 angle) {
    std::memmove(times + 1, times, sizeof(u64) * (kAngleHistory - 1));
    std::memmove(angles + 1, angles, sizeof(f32) * (kAngleHistory - 1));
    times[0] = now;
    angles[0] = angle;
}

f32 historyRate(const u64* times, const f32* angles) {
    i32 oldest = kAngleHistory - 1;
    while (oldest > 0 && times[oldest] == 0) oldest--;
    if (oldest == 0 || times[0] == times[oldest]) return 0;
    return (f32)((angles[0] - angles[oldest]) / ((f64)(times[0] - times[oldest]) / 1e6));
}

}  // namespace

u32 handleNextVisionExtension(const MavlinkMessage* message, NextVisionState* state, u32* imagesCaptured, u64 now) {
    if (message->messageId != MavlinkV2Extension || message->source != kNextVisionSource) return 0;
    const u8* p = message->payload;
    switch (mavlinkU16(p)) {
    case 0:
        state->tilt = f32At(p + 2);
        state->pan = f32At(p + 6);
        state->roll = f32At(p + 57);
        state->horizontalFov = f32At(p + 10);
        state->statusByte14 = p[14];
        state->recordingChannel1 = p[15] & 15;
        state->recordingChannel2 = p[15] >> 4;
        state->activeSensor = p[16];
        state->stabilised = (p[43] >> 1) & 1;
        state->statusByte44 = p[44];
        state->temperature = f32At(p + 53);
        state->reportTime[0] = now;
        break;
    case 1:
        state->reportTime[1] = now;
        break;
    case 2:
        state->reportTime[2] = now;
        break;
    case 5:
        ++*imagesCaptured;
        break;
    case 6:
        state->cardPresent = p[2];
        state->cardValue = f32At(p + 3);
        state->cardFreeMiB = f32At(p + 7);
        state->reportTime[3] = now;
        break;
    default:
        break;
    }
    return 1;
}

void controlNextVisionCamera(NextVisionState* state, CameraView* view, GimbalPointing* pointing,
                             const VehicleState* vehicle, const Preferences* preferences, DroneOutput* output, u64 now) {
    // 1. Which reports the camera sends.
    if (now - state->reportRoundTime > kReportRoundInterval) {
        state->reportRoundTime = now;
        if (state->reportTime[1] && now - state->reportTime[1] < kReportRoundInterval) {
            digicam(12, 1, 0, NAN, NAN, NAN, NAN, output, now);
        }
        if (state->reportTime[2] && now - state->reportTime[2] < kReportRoundInterval) {
            digicam(12, 2, 0, NAN, NAN, NAN, NAN, output, now);
        }
        if (now - state->reportTime[3] > kCardReportLife) digicam(12, 6, 1, NAN, NAN, NAN, NAN, output, now);
    }

    // 2. The camera's attitude: the vehicle's, then the sensor's pan and tilt, then its roll.
    f64 degree = kPi / 180.0;
    Quaternion body, sensor, sensorRoll, turned;
    quaternionFromEuler(&body, vehicle->roll, vehicle->pitch, vehicle->yaw);
    if (state->stabilised) {
        quaternionFromEuler(&sensor, 0, -state->tilt * degree, -state->pan * degree);
        pointing->gimbalAngle = state->tilt * degree;
    } else {
        quaternionFromEuler(&sensor, 0, state->tilt * degree, (state->pan - 90.0) * degree);
        pointing->gimbalAngle = 0;
    }
    quaternionFromEuler(&sensorRoll, -state->roll * degree, 0, 0);
    multiplyQuaternions(&turned, &body, &sensor);
    multiplyQuaternions(&pointing->attitude, &turned, &sensorRoll);
    EulerAngles camera;
    quaternionToEuler(&camera, &pointing->attitude);
    f32 currentPitch = (f32)camera.pitchDegrees;
    f32 currentYaw = (f32)wrapDegrees(camera.yawDegrees - vehicle->yaw / degree);

    // 3. Field of view.
    view->horizontalTangent = std::tan(state->horizontalFov * degree / 2.0);
    view->verticalTangent = view->horizontalTangent * 9.0 / 16.0;
    view->crop.x0 = 0;
    view->crop.x1 = 1;
    view->crop.y1 = 1;

    // 4. Angle histories and rates.
    if (now - state->pitchHistoryTime[0] > kHistoryInterval) {
        pushSample(state->pitchHistoryTime, state->pitchHistory, now, currentPitch);
        pushSample(state->yawHistoryTime, state->yawHistory, now, currentYaw);
        state->pitchRate = historyRate(state->pitchHistoryTime, state->pitchHistory);
        state->yawRate = historyRate(state->yawHistoryTime, state->yawHistory);
    }

    // 5. Targets.
    f32 pitchInput = pointing->pitchInput, yawInput = pointing->yawInput;
    if (pointing->recenterHeld) {
        state->pitchTarget = (f32)preferences->recenterPositionPitch;
        state->yawTarget = 0;
    } else if (pointing->secondaryHeld) {
        state->pitchTarget = (f32)preferences->secondaryPositionPitch;
        state->yawTarget = (f32)preferences->secondaryPositionYaw;
    } else if (pitchInput != 0 || yawInput != 0) {
        if (pitchInput != 0) state->pitchTarget = currentPitch + 1.25f * pitchInput;
        if (yawInput != 0) state->yawTarget = currentYaw + 1.25f * yawInput;
        state->pointingHold = 0;
    } else if (state->lastPitchInput != 0 || state->lastYawInput != 0) {
        state->pitchTarget = currentPitch + (state->lastPitchInput + state->pitchRate) * 0.25f;
        state->yawTarget = currentYaw + (state->lastYawInput + state->yawRate) * 0.25f;
    }
    state->pitchTarget = std::clamp(state->pitchTarget, -90.0f, 35.0f);
    state->yawTarget = std::clamp(state->yawTarget, -175.0f, 175.0f);
    state->lastPitchInput = pitchInput;
    state->lastYawInput = yawInput;

    // 6. After a point-at the camera holds its own aim for a while.
    bool holding = false;
    if (state->pointingHold && (state->statusByte14 != 0 || now - state->pointCommandTime < kPointHold)) {
        state->pitchTarget = currentPitch;
        state->yawTarget = currentYaw;
        holding = true;
    } else {
        state->pointingHold = 0;
    }

    // 7. Pointing, where it can be sent (a replay's output has no socket).
    if (!holding && now - state->pointingCommandTime > kPointingInterval && droneOutputSends(output)) {
        f32 vehiclePitch = (f32)(vehicle->pitch / degree), vehicleRoll = (f32)(vehicle->roll / degree);
        f32 vehicleYaw = (f32)(vehicle->yaw / degree);
        f32 mode, pitch = state->pitchTarget, yaw;
        if (state->stabilised) {
            f32 difference = vehiclePitch - state->pitchTarget;
            if (difference > 75 && state->pan > 70) stabilisedLatch = false;
            if (difference <= 70 && state->pan < 75) stabilisedLatch = true;
            if (stabilisedLatch) {
                mode = 5;
                yaw = vehicleYaw + state->yawTarget;
            } else {
                mode = 4;
                state->yawTarget = 0;
                yaw = state->yawTarget;
            }
        } else if (state->pitchTarget > vehiclePitch) {
            mode = 4;
            pitch = state->pitchTarget + 90 - vehiclePitch;
            yaw = -vehicleRoll;
        } else {
            mode = 5;
            yaw = vehicleYaw;
        }
        pointingToggle = !pointingToggle;
        if (pointingToggle) pitch += 0.01f;
        if (digicam(0, mode, pitch, yaw, NAN, NAN, NAN, output, now)) {
            state->pointingCommandTime = now;
            state->commandedMode = mode;
            state->commandedAngles[0] = pitch;
            state->commandedAngles[1] = yaw;
        }
    }

    // 8. Zoom.
    if (!view->zoomWanted) {
        state->zoomState = 0;
    } else if (view->wantedTangent > state->previousWantedTangent) {
        state->zoomState = 2;
    } else if (view->wantedTangent < state->previousWantedTangent) {
        state->zoomState = 1;
    }
    state->previousWantedTangent = view->wantedTangent;
    if (now - state->zoomCommandTime > kPointingInterval) {
        f32 direction = 0;
        if (view->zoomWanted && view->wantedTangent > view->horizontalTangent && state->zoomState != 1) {
            direction = 2;
        } else if (view->zoomWanted && view->wantedTangent < view->horizontalTangent && state->zoomState != 2) {
            direction = 1;
        }
        if (digicam(23, direction, NAN, NAN, NAN, NAN, NAN, output, now)) {
            state->zoomCommandTime = now;
            if (direction != 0) state->zoomState = direction;
        }
    }

    // 9. Requests; each stays raised until its commands are queued.
    u32* requests = state->requests;
    if (requests[NextVisionRequestCode11] && digicam(11, NAN, NAN, NAN, NAN, NAN, NAN, output, now)) {
        requests[NextVisionRequestCode11] = 0;
    }
    if (requests[NextVisionRequestSensor1] && digicam(3, 1, NAN, NAN, NAN, NAN, NAN, output, now)) {
        requests[NextVisionRequestSensor1] = 0;
    }
    if (requests[NextVisionRequestSensor0] && digicam(3, 0, NAN, NAN, NAN, NAN, NAN, output, now)) {
        requests[NextVisionRequestSensor0] = 0;
    }
    struct Pair {
        NextVisionRequest request;
        f32 first[3], second[3];
    };
    const Pair kPairs[] = {
        {NextVisionRequestSnapshot, {1, 0, NAN}, {1, 1, NAN}},
        {NextVisionRequestStartRecording, {2, 1, 1}, {2, 1, 0}},
        {NextVisionRequestStopRecording, {2, 0, 0}, {2, 0, 1}},
    };
    for (const Pair& pair : kPairs) {
        // Both halves go in the same frame or neither does.
        if (!requests[pair.request] || output->socket == nullptr ||
            kPacketQueueSlots - 1 - queuedPacketCount(&output->socket->sendQueue) < 2) {
            continue;
        }
        digicam(pair.first[0], pair.first[1], pair.first[2], NAN, NAN, NAN, NAN, output, now);
        digicam(pair.second[0], pair.second[1], pair.second[2], NAN, NAN, NAN, NAN, output, now);
        requests[pair.request] = 0;
    }
    if (requests[NextVisionRequestPointAt] &&
        digicam(0, 7, state->pointAt[0], state->pointAt[1], 0, 0, 0, output, now)) {
        requests[NextVisionRequestPointAt] = 0;
        state->pointingHold = 1;
        state->pointCommandTime = now;
    }
}

// ---------------------------------------------------------------------------------------------------
// The hyperspectral sensor.

namespace {

const char kStopText[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><command><sensor>2_HSI</sensor><image>stop</image></command>";

bool wentDown(const InputState* input, i32 code) { return isKeyDown(input, code) && !wasKeyDown(input, code); }

void sendDatagram(const ByteWriter* text, Socket* socket) {
    ByteWriter* slot = queueSocketPacket(&hyperspectralSensorAddress, socket);
    if (slot) appendBytes(text->data, text->length, slot);
}

}  // namespace

void sendHyperspectralCommand(const InputState* input, Socket* socket, i64 utcMilliseconds, i64 timeZoneOffsetMs) {
    if (!input || !socket) return;
    if (wentDown(input, 242)) {
        DateTimeParts local = calendarFromMilliseconds(utcMilliseconds + timeZoneOffsetMs);
        u8 bytes[400];
        ByteWriter text = makeByteWriter(bytes, sizeof(bytes));
        appendCString("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><command><sensor>2_HSI</sensor><image>start"
                      "</image><cal_type>none</cal_type><mission>",
                      &text);
        appendInt64(local.year, &text);
        appendCString(local.monthText, &text);
        appendCString(local.dayText, &text);
        appendCString(local.hourText, &text);
        appendCString(local.minuteText, &text);
        appendCString(local.secondText, &text);
        appendCString("</mission><target>001</target><pass>001</pass><frames>0</frames></command>", &text);
        sendDatagram(&text, socket);
    }
    if (wentDown(input, 244)) {
        ByteWriter text = makeByteWriter((void*)kStopText, sizeof(kStopText) - 1);
        text.length = sizeof(kStopText) - 1;
        sendDatagram(&text, socket);
    }
}
