#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/VehicleState.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/FlightController/AutopilotSend.h"
#include "Mission/MissionFlightLog.h"
#include "Mission/WaypointMissionEditor.h"

#include <cmath>
#include <cstring>

const char* const kArduCopterFlightActionNames[kArduCopterFlightActions] = {"Return", "Hover", "Disarm",
                                                                          "Emergency Disarm"};

namespace {

constexpr u32 kMissionRequestList = 43;
constexpr u32 kMissionCount = 44;
constexpr u32 kOpenDroneIdBasicId = 12900;
constexpr u32 kOpenDroneIdSystem = 12904;
constexpr u16 kDoSetMode = 176;
constexpr u16 kComponentArmDisarm = 400;
constexpr u16 kSetMessageInterval = 511;
constexpr u64 kRemoteIdInterval = 333334;
constexpr u8 kUaTypeMultirotor = 2;

bool olderThan(u64 time, u64 age, u64 now) { return time == 0 || now < time || now - time > age; }


// DO_SET_MODE of a mission step, named for the vehicle's refusal.
bool setMode(ArduCopterState* arduCopter, const char* name, u32 mode, const AutopilotFrame* frame) {
    return sendNamedCommand(&arduCopter->namedCommand, name, kDoSetMode, 1, (f32)mode, 0, frame);
}


// ---------------------------------------------------------------------------------------------------

// ArduCopter streams only what it is asked for: each stream that has stopped is asked again.
void requestMessageRates(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    const VehicleState* vehicle = frame->vehicle;
    u64 now = frame->now;
    if (olderThan(arduCopter->heartbeatTime, kMessageRateHeartbeatFreshness - 1, now)) return;
    if (!olderThan(arduCopter->messageRateRequestTime, kMessageRateRequestInterval, now)) return;
    struct Stream {
        u64 lastTime;
        u64 maxAge;
        u32 messageId;
        f32 interval;
    };
    const Stream streams[] = {
        {vehicle->sysStatusTime, 3000000, 1, 1000000},
        {vehicle->attitudeTime, 3000000, 30, 100000},
        {vehicle->globalPosition.time, 3000000, 33, 100000},
        {vehicle->gpsRawTime, 1000000, 24, 1000000},
        {vehicle->gpsRawTime, 1000000, 242, 5000000},  // HOME_POSITION
    };
    bool queued = true;
    for (const Stream& stream : streams) {
        if (!olderThan(stream.lastTime, stream.maxAge, now)) continue;
        queued = sendVehicleCommand(kSetMessageInterval, (f32)stream.messageId, stream.interval, NAN, NAN, NAN, NAN, 0,
                             frame) && queued;
    }
    // A full queue asks again next frame.
    if (queued) arduCopter->messageRateRequestTime = now;
}

void sendOperatorLocation(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    if (!olderThan(arduCopter->remoteIdTime, kRemoteIdInterval - 1, frame->now)) return;
    u16 vehicleId = frame->vehicle->vehicleId;
    u8 bytes[54];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    if (!writeOperatorLocationPayload(&payload, frame->vehicle, frame->utcMilliseconds, (u8)(vehicleId >> 8),
                                      (u8)vehicleId)) {
        return;
    }
    ByteWriter* slot = reserveDroneOutput(frame->output);
    if (!slot) return;
    DroneOutput* output = frame->output;
    sendMavlinkMessage(1, kOpenDroneIdSystem, &payload, slot, output->sequence, output->source, output->stats,
                       frame->now);
    arduCopter->remoteIdTime = frame->now;
}

void pollMissionList(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    u64 now = frame->now;
    if (arduCopter->missionKnown || !olderThan(arduCopter->missionListRequestTime, kMissionListRequestInterval, now) ||
        !olderThan(arduCopter->missionMessageTime, kMissionListRequestInterval, now)) {
        return;
    }
    u8 missionType = 0;
    if (sendTargetedMessage(kMissionRequestList, nullptr, 0, &missionType, 1, frame)) {
        arduCopter->missionListRequestTime = now;
    }
}

// ---------------------------------------------------------------------------------------------------
// Mission upload and start.

void reportPendingStep(ArduCopterState* arduCopter, const AutopilotFrame* frame, const char* waiting,
                       const char* failed) {
    if (arduCopter->pendingStepTime == 0) return;
    if (frame->now - arduCopter->pendingStepTime <= kMissionStepTimeout) {
        setMissionStatus(frame->vehicle, waiting, frame->now);
    } else {
        setMissionStatus(frame->vehicle, failed, frame->now);
        arduCopter->pendingStepTime = 0;
    }
}

bool commandDue(const ArduCopterState* arduCopter, u64 now) {
    return olderThan(arduCopter->modeCommandTime, kMissionCommandInterval - 1, now);
}

// Ends any transfer, clears the vehicle's mission and tells it the new count is 0; the mission is then
// learned again once the vehicle has had a second for it.
void clearDroneMission(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    if (!commandDue(arduCopter, frame->now)) return;
    if (!sendMissionClear(frame)) return;
    arduCopter->modeCommandTime = frame->now;
    arduCopter->missionKnown = 0;
    arduCopter->missionMessageTime = frame->now;
}

void startUpload(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    VehicleState* vehicle = frame->vehicle;
    u64 now = frame->now;
    if (!frame->plan || frame->plan->waypointCount == 0) {
        arduCopter->pendingStepTime = 0;
        setMissionStatus(vehicle, "No mission to start", now);
        return;
    }
    if (vehicle->globalPosition.time == 0) {
        arduCopter->pendingStepTime = 0;
        setMissionStatus(vehicle, "Can't start a mission if the drone's location isn't known", now);
        return;
    }
    if (vehicle->landedState < 2) {
        arduCopter->pendingStepTime = 0;
        setMissionStatus(vehicle, "You must take off before you can start the mission", now);
        return;
    }
    // The step stays pending until the count is queued.
    ByteWriter* slot = reserveDroneOutput(frame->output);
    if (!slot) return;
    arduCopter->pendingStepTime = 0;
    buildMissionItemList(&arduCopter->mission, frame->plan, vehicle, frame->preferences,
                         frame->preferences->waypointMissionCruiseSpeed, 0);
    u16 count = arduCopter->mission.count;
    u8 bytes[5] = {(u8)count, (u8)(count >> 8), (u8)(vehicle->vehicleId >> 8), (u8)vehicle->vehicleId, 0};
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    payload.length = sizeof(bytes);
    sendVehicleMessage(kMissionCount, &payload, slot, frame->output, now);
    arduCopter->mission.nextRequested = 0xFFFF;
    arduCopter->lastRequestedIndex = -1;
    arduCopter->missionMessageTime = now;
    arduCopter->startState = MissionUploading;
    setMissionStatus(vehicle, "Uploading 0%", now);
}

void runMission(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    VehicleState* vehicle = frame->vehicle;
    u64 now = frame->now;
    if (vehicle->uploadRequest) {
        vehicle->uploadRequest = 0;
        arduCopter->startState = MissionIdle;
        arduCopter->pendingStepTime = now;
    }
    if (vehicle->stopRequest) {
        vehicle->stopRequest = 0;
        arduCopter->startState = MissionIdle;
    }
    switch (arduCopter->startState) {
    case MissionIdle:
        if (arduCopter->customMode == kArduCopterModeAuto) {
            if (commandDue(arduCopter, now) && setMode(arduCopter, "Stop mission", kArduCopterModePoshold, frame)) arduCopter->modeCommandTime = now;
            reportPendingStep(arduCopter, frame, "Stopping mission", "Couldn't stop mission. Aborting upload.");
        } else if (!arduCopter->missionKnown) {
            reportPendingStep(arduCopter, frame, "Checking for previously uploaded mission",
                              "Couldn't learn mission state of drone. Aborting upload.");
        } else if (arduCopter->droneMissionCount > 0) {
            reportPendingStep(arduCopter, frame, "Clearing previous mission",
                              "Couldn't clear previously uploaded mission. Aborting upload.");
            clearDroneMission(arduCopter, frame);
        } else if (arduCopter->pendingStepTime == 0) {
            clearPlanUploadMarks(frame->plan);
        } else {
            startUpload(arduCopter, frame);
        }
        break;
    case MissionUploading:
        // The vehicle asks again for what it misses; an upload it has stopped asking for is given up.
        vehicle->missionStatusTime = now;
        if (now - arduCopter->missionMessageTime > kMissionUploadTimeout) {
            arduCopter->startState = MissionIdle;
            arduCopter->missionKnown = 0;
            setMissionStatus(vehicle, kUploadTimedOutText, now);
        }
        break;
    case MissionUploaded:
        if (arduCopter->customMode == kArduCopterModeAuto) {
            arduCopter->startState = MissionStarted;
            arduCopter->missionKnown = 0;
            setMissionStatus(vehicle, "Started mission", now);
            if (frame->plan) {
                logWaypointMissionStarted(frame->logger, (i64)now, frame->plan, frame->transect, frame->preferences);
            }
        } else if (now - arduCopter->missionMessageTime > kMissionUploadTimeout) {
            // A vehicle that will not fly the mission is not commanded to AUTO for ever.
            arduCopter->startState = MissionIdle;
            arduCopter->missionKnown = 0;
            setMissionStatus(vehicle, kStartTimedOutText, now);
        } else if (commandDue(arduCopter, now) && setMode(arduCopter, "Start mission", kArduCopterModeAuto, frame)) {
            arduCopter->modeCommandTime = now;
        }
        break;
    case MissionStarted:
        if (arduCopter->customMode != kArduCopterModeAuto) arduCopter->startState = MissionIdle;
        break;
    default:
        arduCopter->startState = MissionIdle;
        break;
    }
}

// ---------------------------------------------------------------------------------------------------

// OPEN_DRONE_ID_BASIC_ID: the Remote ID type and UAS id entered for this vehicle, as a multirotor.
void sendBasicId(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    if (!arduCopter->basicIdRequest) return;
    ByteWriter* slot = reserveDroneOutput(frame->output);
    if (!slot) return;  // asked again next frame
    u16 vehicleId = frame->vehicle->vehicleId;
    u8 bytes[44];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendU8((u8)(vehicleId >> 8), &payload);
    appendU8((u8)vehicleId, &payload);
    for (i32 i = 0; i < 20; i++) appendU8(0, &payload);  // id_or_mac
    appendU8((u8)arduCopter->remoteIdType, &payload);
    appendU8(kUaTypeMultirotor, &payload);
    appendBytes(arduCopter->uasId, sizeof(arduCopter->uasId), &payload);
    DroneOutput* output = frame->output;
    sendMavlinkMessage(1, kOpenDroneIdBasicId, &payload, slot, output->sequence, output->source, output->stats,
                       frame->now);
    arduCopter->basicIdRequest = 0;
}

void sendFlightActions(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    struct Action {
        u16 command;
        f32 param1, param2, param3;
    };
    static const Action kActions[kArduCopterFlightActions] = {
        {kDoSetMode, 1, kArduCopterModeRtl, 0},
        {kDoSetMode, 1, kArduCopterModePoshold, 0},
        {kComponentArmDisarm, 0, 0, 0},
        {kComponentArmDisarm, 0, 21196, 0},
    };
    if (frame->outputWithheld) return;  // never into the sink: the request waits or expires
    for (i32 i = 0; i < (i32)kArduCopterFlightActions; i++) {
        if (!arduCopter->flightActions[i]) continue;
        const Action& action = kActions[i];
        if (sendNamedCommand(&arduCopter->namedCommand, kArduCopterFlightActionNames[i], action.command,
                             action.param1, action.param2, action.param3, frame)) {
            arduCopter->flightActions[i] = 0;
        }
    }
}

}  // namespace

void controlArduCopter(ArduCopterState* arduCopter, const AutopilotFrame* frame) {
    requestMessageRates(arduCopter, frame);
    sendOperatorLocation(arduCopter, frame);
    pollMissionList(arduCopter, frame);
    runMission(arduCopter, frame);
    sendBasicId(arduCopter, frame);
    sendFlightActions(arduCopter, frame);
}
