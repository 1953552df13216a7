#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Core/Sound.h"
#include "Core/WarningSounds.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/VehicleState.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/FlightController/AutopilotSend.h"
#include "Drone/FlightController/Parameters.h"
#include "Mission/MissionFlightLog.h"
#include "Mission/WaypointMissionEditor.h"
#include "Platform/Input.h"

#include <cmath>
#include <cstring>

const char* const kPx4FlightActionNames[kPx4FlightActions] = {"Reboot", "Takeoff", "Land",           "Return",
                                                             "Hover",  "Disarm",  "Emergency Disarm"};

namespace {

constexpr u32 kMissionRequestList = 43;
constexpr u32 kMissionCount = 44;
constexpr u32 kManualControl = 69;
constexpr u32 kOpenDroneIdSystem = 12904;
constexpr u16 kDoSetMode = 176;
constexpr u16 kComponentArmDisarm = 400;
constexpr u16 kRebootShutdown = 246;
constexpr u16 kParameterBlockSource = 44288;  // system 173, component 0
constexpr u16 kRemoteIdSource = 65470;        // system 255, component 190
constexpr u64 kRemoteIdInterval = 333334;
constexpr u64 kAutoToneRepeat = 1000000;
constexpr u64 kGpsToneInterval = 5000000;
constexpr u64 kManualControlInterval = 40001;
constexpr u64 kControllerFreshness = 70000;
// 2019-01-01 00:00 UTC in seconds since 1601-01-01.
constexpr i64 kOpenDroneIdEpochSeconds = 13190774400;

template <size_t N>
void playTone(SoundQueue* sounds, const ToneSegment (&tone)[N]) {
    if (sounds) queueSound(sounds, tone, N);
}

bool inAutoMission(const Px4State* px4) { return px4->mainMode == kPx4MainAuto && px4->subMode == kPx4SubMission; }


void sendMissionCount(u16 count, const AutopilotFrame* frame) {
    u8 countBytes[2] = {(u8)count, (u8)(count >> 8)};
    u8 missionType = 0;
    sendTargetedMessage(kMissionCount, countBytes, 2, &missionType, 1, frame);
}

// ---------------------------------------------------------------------------------------------------

void playModeTones(Px4State* px4, const AutopilotFrame* frame) {
    u32 toneClass = 0;
    if (px4->mavState == 5 || px4->mavState == 6 || px4->mavState == 8) {
        toneClass = 1;
    } else if (px4->mainMode == kPx4MainPosctl) {
        toneClass = 2;
    } else if (px4->mainMode == kPx4MainAltctl) {
        toneClass = 3;
    } else if (px4->mainMode == kPx4MainAuto) {
        toneClass = 4;
    }
    if (toneClass != px4->modeToneClass) {
        px4->modeToneClass = toneClass;
        if (toneClass == 1) {
            playTone(frame->sounds, kCriticalTone);
        } else if (toneClass == 2) {
            playTone(frame->sounds, kPositionToneLow);
            playTone(frame->sounds, kPositionToneHigh);
        } else if (toneClass == 3) {
            playTone(frame->sounds, kAltitudeToneLow);
            playTone(frame->sounds, kAltitudeToneHigh);
        } else if (toneClass == 4) {
            playTone(frame->sounds, kAutoTone);
            px4->modeToneTime = frame->now;
        }
    }
    bool returningOrLanding = px4->mavState == 4 && px4->mainMode == kPx4MainAuto &&
                              (px4->subMode == kPx4SubRtl || px4->subMode == kPx4SubLand);
    if (returningOrLanding && frame->now - px4->modeToneTime >= kAutoToneRepeat) {
        playTone(frame->sounds, kAutoTone);
        px4->modeToneTime = frame->now;
    }
}

void playGpsTone(Px4State* px4, const AutopilotFrame* frame) {
    const VehicleState* vehicle = frame->vehicle;
    u32 good = vehicle->gpsFixType >= 3 && vehicle->horizontalAccuracyMm < 2000;
    bool quiet = px4->gpsToneTime == 0 || frame->now - px4->gpsToneTime >= kGpsToneInterval;
    if (px4->gpsGood && !good && quiet) {
        playTone(frame->sounds, kGpsLostTone);
        px4->gpsToneTime = frame->now;
    }
    px4->gpsGood = good;
}

void syncParameters(Px4State* px4, const AutopilotFrame* frame) {
    u16 target = frame->vehicle->vehicleId;
    for (i32 i = 0; i < kPx4Parameters; i++) {
        DroneOutput output = *frame->output;
        // The parameter block's circuit breaker speaks as a system of its own.
        if (i == 0 && output.source != kParameterBlockSource) {
            output.source = kParameterBlockSource;
            output.sequence = &px4->parameterBlockSequence;
        }
        if (i < kPx4IntParameters) {
            syncParamInt(&px4->parameters[i], Px4ParameterNames[i], target, &output, frame->now, frame->logger);
        } else {
            syncParamFloat(&px4->parameters[i], Px4ParameterNames[i], target, &output, frame->now, frame->logger);
        }
    }
}

void sendOperatorLocation(Px4State* px4, const AutopilotFrame* frame) {
    if (px4->remoteIdHeardTime == 0 || (px4->remoteIdTime != 0 && frame->now - px4->remoteIdTime < kRemoteIdInterval)) {
        return;
    }
    u8 bytes[54];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    if (!writeOperatorLocationPayload(&payload, frame->vehicle, frame->utcMilliseconds, 1, 51)) return;
    DroneOutput output = *frame->output;
    if (output.source != kRemoteIdSource) {
        output.source = kRemoteIdSource;
        output.sequence = &px4->remoteIdSequence;
    }
    ByteWriter* slot = reserveDroneOutput(&output);
    if (!slot) return;
    sendMavlinkMessage(1, kOpenDroneIdSystem, &payload, slot, output.sequence, output.source, output.stats, frame->now);
    px4->remoteIdTime = frame->now;
}

void pollMissionList(Px4State* px4, const AutopilotFrame* frame) {
    u64 now = frame->now;
    bool listQuiet = px4->missionListRequestTime == 0 || now - px4->missionListRequestTime > kMissionListRequestInterval;
    bool countQuiet = px4->missionCountTime == 0 || now - px4->missionCountTime > kMissionListRequestInterval;
    if (px4->missionKnown || !listQuiet || !countQuiet) return;
    u8 missionType = 0;
    if (sendTargetedMessage(kMissionRequestList, nullptr, 0, &missionType, 1, frame)) {
        px4->missionListRequestTime = now;
    }
}

// ---------------------------------------------------------------------------------------------------
// Mission upload and start.

// A step of state 0 with a pending upload: its text while it may still succeed, else its failure.
void reportPendingStep(Px4State* px4, const AutopilotFrame* frame, const char* waiting, const char* failed) {
    if (px4->pendingStepTime == 0) return;
    if (frame->now - px4->pendingStepTime <= kMissionStepTimeout) {
        setMissionStatus(frame->vehicle, waiting, frame->now);
    } else {
        setMissionStatus(frame->vehicle, failed, frame->now);
        px4->pendingStepTime = 0;
    }
}

bool commandDue(const Px4State* px4, u64 now) {
    return px4->modeCommandTime == 0 || now - px4->modeCommandTime >= kMissionCommandInterval;
}

void clearDroneMission(Px4State* px4, const AutopilotFrame* frame) {
    if (!commandDue(px4, frame->now)) return;
    if (!sendMissionClear(frame)) return;
    px4->modeCommandTime = frame->now;
    px4->missionKnown = 0;
    px4->missionCountTime = frame->now;
}

void startUpload(Px4State* px4, const AutopilotFrame* frame) {
    VehicleState* vehicle = frame->vehicle;
    u64 now = frame->now;
    px4->pendingStepTime = 0;
    if (!frame->plan || frame->plan->waypointCount == 0) {
        setMissionStatus(vehicle, "No mission to start", now);
        return;
    }
    if (vehicle->globalPosition.time == 0) {
        setMissionStatus(vehicle, "Can't start a mission if the drone's location isn't known", now);
        return;
    }
    if (vehicle->landedState < 2) {
        setMissionStatus(vehicle, "You must take off before you can start the mission", now);
        return;
    }
    buildMissionItemList(&px4->mission, frame->plan, vehicle, frame->preferences,
                         frame->preferences->waypointMissionCruiseSpeed, 1);
    sendMissionCount(px4->mission.count, frame);
    px4->uploadTime = now;
    px4->uploadResendTime = now;
    px4->mission.nextRequested = 0xFFFF;
    px4->startState = MissionUploading;
    setMissionStatus(vehicle, "Uploading 0%", now);
}

// While the vehicle is silent during an upload it gets the count again (nothing asked yet) or the
// last item it asked for, as it may have lost either; then the upload gives up with a text.
void continueUpload(Px4State* px4, const AutopilotFrame* frame) {
    VehicleState* vehicle = frame->vehicle;
    u64 now = frame->now;
    vehicle->missionStatusTime = now;
    if (now - px4->uploadTime > kMissionUploadTimeout) {
        px4->startState = MissionIdle;
        px4->missionKnown = 0;
        setMissionStatus(vehicle, kUploadTimedOutText, now);
        return;
    }
    if (now - px4->uploadResendTime < kMissionResendInterval) return;
    MissionItemList* list = &px4->mission;
    if (list->nextRequested >= list->count) {
        sendMissionCount(list->count, frame);
    } else {
        u8 request[5] = {(u8)list->nextRequested, (u8)(list->nextRequested >> 8), (u8)(frame->output->source >> 8),
                         (u8)frame->output->source, 0};
        MavlinkMessage asked{};
        asked.messageId = 51;  // as MISSION_REQUEST_INT
        std::memcpy(asked.payload, request, sizeof(request));
        asked.payloadLength = sizeof(request);
        u16 index;
        serveMissionRequest(&asked, list, vehicle->vehicleId, frame->output, now, &index);
    }
    px4->uploadResendTime = now;
}

void runMission(Px4State* px4, const AutopilotFrame* frame) {
    VehicleState* vehicle = frame->vehicle;
    u64 now = frame->now;
    if (vehicle->uploadRequest) {
        vehicle->uploadRequest = 0;
        px4->startState = MissionIdle;
        px4->pendingStepTime = now;
    }
    if (vehicle->stopRequest) {
        vehicle->stopRequest = 0;
        px4->startState = MissionIdle;
    }
    switch (px4->startState) {
    case MissionIdle:
        if (px4->mainMode == kPx4MainAuto && (px4->subMode == kPx4SubLoiter || px4->subMode == kPx4SubMission)) {
            if (commandDue(px4, now) &&
                sendNamedCommand(&px4->namedCommand, "Stop mission", kDoSetMode, 1, kPx4MainPosctl, 0, frame)) {
                px4->modeCommandTime = now;
            }
            reportPendingStep(px4, frame, "Stopping mission", "Couldn't stop mission. Aborting upload.");
        } else if (!px4->missionKnown) {
            reportPendingStep(px4, frame, "Checking for previously uploaded mission",
                              "Couldn't learn mission state of drone. Aborting upload.");
        } else if (px4->droneMissionCount > 0) {
            reportPendingStep(px4, frame, "Clearing previous mission",
                              "Couldn't clear previously uploaded mission. Aborting upload.");
            clearDroneMission(px4, frame);
        } else if (px4->pendingStepTime == 0) {
            clearPlanUploadMarks(frame->plan);
        } else {
            startUpload(px4, frame);
        }
        break;
    case MissionUploading:
        continueUpload(px4, frame);
        break;
    case MissionUploaded:
        if (inAutoMission(px4)) {
            px4->startState = MissionStarted;
            setMissionStatus(vehicle, "Started mission", now);
            if (frame->plan) {
                logWaypointMissionStarted(frame->logger, (i64)now, frame->plan, frame->transect, frame->preferences);
            }
        } else if (now - px4->uploadTime > kMissionUploadTimeout) {
            px4->startState = MissionIdle;
            px4->missionKnown = 0;
            setMissionStatus(vehicle, kStartTimedOutText, now);
        } else if (commandDue(px4, now) && sendNamedCommand(&px4->namedCommand, "Start mission", kDoSetMode, 1,
                                                             kPx4MainAuto, kPx4SubMission, frame)) {
            px4->modeCommandTime = now;
        }
        break;
    case MissionStarted:
        if (!inAutoMission(px4)) px4->startState = MissionIdle;
        break;
    default:
        px4->startState = MissionIdle;
        break;
    }
}

// ---------------------------------------------------------------------------------------------------

// Each request is sent once; it stays set until its COMMAND_LONG has a place in the send queue.
void sendFlightActions(Px4State* px4, const AutopilotFrame* frame) {
    struct Action {
        u16 command;
        f32 param1, param2, param3;
    };
    static const Action kActions[kPx4FlightActions] = {
        {kRebootShutdown, 1, 0, 0},       {kDoSetMode, 1, kPx4MainAuto, kPx4SubTakeoff},
        {kDoSetMode, 1, kPx4MainAuto, kPx4SubLand}, {kDoSetMode, 1, kPx4MainAuto, kPx4SubRtl},
        {kDoSetMode, 1, kPx4MainPosctl, 0}, {kComponentArmDisarm, 0, 0, 0},
        {kComponentArmDisarm, 0, 21196, 0},
    };
    if (frame->outputWithheld) return;  // never into the sink: the request waits or expires
    for (i32 i = 0; i < (i32)kPx4FlightActions; i++) {
        if (!px4->flightActions[i]) continue;
        const Action& action = kActions[i];
        if (sendNamedCommand(&px4->namedCommand, kPx4FlightActionNames[i], action.command, action.param1,
                             action.param2, action.param3, frame)) {
            px4->flightActions[i] = 0;
        }
    }
}

i16 axisValue(f32 value, f32 scale, f32 offset) {
    f64 scaled = ((f64)value + offset) * scale;
    if (!(scaled == scaled)) return 0;
    if (scaled > 32767) return 32767;
    if (scaled < -32768) return -32768;
    return (i16)scaled;
}

void sendManualControl(Px4State* px4, const AutopilotFrame* frame) {
    const GamepadState* pad = frame->gamepad;
    u64 now = frame->now;
    if (!frame->preferences->enableMavlinkJoysticks || !pad || pad->controllerKind != ControllerPilotPro ||
        now - pad->time >= kControllerFreshness || now - px4->manualControlTime < kManualControlInterval) {
        return;
    }
    ByteWriter* slot = reserveDroneOutput(frame->output);
    if (!slot) return;
    static const i32 kButtonKeys[15] = {303, 304, 305, 307, 301, 309, 0, 312, 310, 311, 313, 0, 302, 308, 306};
    u16 buttons = 0;
    for (i32 bit = 0; bit < 15; bit++) {
        if (kButtonKeys[bit] && frame->input && isKeyDown(frame->input, kButtonKeys[bit])) buttons |= (u16)(1u << bit);
    }
    u8 bytes[22];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendU16Le((u16)axisValue(pad->rightStickY, 1000, 0), &payload);  // x: pitch
    appendU16Le((u16)axisValue(pad->rightStickX, 1000, 0), &payload);  // y: roll
    appendU16Le((u16)axisValue(pad->leftStickY, 500, 1), &payload);    // z: throttle
    appendU16Le((u16)axisValue(pad->leftStickX, 1000, 0), &payload);   // r: yaw
    appendU16Le(buttons, &payload);
    appendU8((u8)(frame->vehicle->vehicleId >> 8), &payload);
    appendU16Le(0, &payload);  // buttons2
    appendU8(12, &payload);    // aux1 and aux2 carried
    appendU16Le(32767, &payload);  // s
    appendU16Le(32767, &payload);  // t
    appendU16Le((u16)axisValue(-pad->leftRocker, 1000, 0), &payload);
    appendU16Le((u16)axisValue(pad->rightRocker, 1000, 0), &payload);
    DroneOutput* output = frame->output;
    sendMavlinkMessage(1, kManualControl, &payload, slot, output->sequence, output->source, output->stats, now);
    px4->manualControlTime = now;
}

}  // namespace

bool writeOperatorLocationPayload(ByteWriter* payload, const VehicleState* vehicle, i64 utcMilliseconds,
                                  u8 targetSystem, u8 targetComponent) {
    const StoredPosition* reference = vehicle->secondPositionSelected ? &vehicle->secondPosition : &vehicle->home;
    f64 longitude, latitude;
    if (vehicle->landedState < 2 && vehicle->globalPosition.time != 0) {
        longitude = vehicle->globalPosition.longitude;
        latitude = vehicle->globalPosition.latitude;
    } else if (reference->time != 0) {
        longitude = reference->longitude;
        latitude = reference->latitude;
    } else {
        return false;
    }
    longitude += vehicle->longitudeOffset;
    latitude += vehicle->latitudeOffset;
    appendU32Le((u32)(i32)std::lround(latitude * 1e7), payload);
    appendU32Le((u32)(i32)std::lround(longitude * 1e7), payload);
    appendF32Le(-1000, payload);  // area ceiling
    appendF32Le(-1000, payload);  // area floor
    appendF32Le(-1000, payload);  // operator altitude
    i64 seconds = utcMilliseconds / 1000 - kOpenDroneIdEpochSeconds;
    appendU32Le(seconds > 0 ? (u32)seconds : 0, payload);
    appendU16Le(1, payload);  // area count
    appendU16Le(0, payload);  // area radius
    appendU8(targetSystem, payload);
    appendU8(targetComponent, payload);
    for (i32 i = 0; i < 20 + 4; i++) appendU8(0, payload);  // id, location type, classification, category, class
    return true;
}

void playPx4Tones(Px4State* px4, const AutopilotFrame* frame) {
    if (px4->heartbeatTime == 0) return;
    playModeTones(px4, frame);
    playGpsTone(px4, frame);
}

void controlPx4(Px4State* px4, const AutopilotFrame* frame) {
    if (px4->heartbeatTime == 0) return;
    registerFlightLogEntry(frame->logger, &px4->logEntry);
    playPx4Tones(px4, frame);
    syncParameters(px4, frame);
    sendOperatorLocation(px4, frame);
    pollMissionList(px4, frame);
    runMission(px4, frame);
    sendFlightActions(px4, frame);
    sendManualControl(px4, frame);
}
