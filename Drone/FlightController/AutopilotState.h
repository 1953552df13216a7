// The records that the PX4 and ArduCopter handling keep inside the drone connection: parameter
// slots, the mission item list of an upload, and each autopilot's state between frames.
#pragma once
#include "Core/FixedString.h"
#include "FlightLogs/FlightLogger.h"

// PX4's parameters kept in step with the vehicle, in the order of Px4ParameterNames: the INT32 ones
// first, then the REAL32 ones.
constexpr i32 kPx4IntParameters = 62;
constexpr i32 kPx4FloatParameters = 22;
constexpr i32 kPx4Parameters = kPx4IntParameters + kPx4FloatParameters;
constexpr i32 kParameterNameBytes = 16;
// A PARAM_VALUE frame at its largest: header, 25 payload bytes, checksum, signature.
constexpr i32 kParameterFrameBytes = 10 + 25 + 2 + 13;

// One vehicle or device parameter. Screens only write the wanted value (with the change time, and a
// last-send time of -10,000,000 to send at once) and the viewed time; the drone link does the rest.
struct ParameterSlot {
    u32 received;       // nonzero once a value has arrived
    u16 index;          // the vehicle's index of the parameter, as last reported
    u16 reserved;
    u64 receiveTime;    // us
    u64 viewedTime;     // us; set each frame a row shows it, which asks for reads
    u64 changeTime;     // us; when the wanted value was edited, 0 = never
    i64 lastSendTime;   // us of the last PARAM_SET or PARAM_REQUEST_READ
    u32 value;          // the 4 value bytes as the vehicle reported them (i32 or f32)
    u32 wanted;         // the 4 value bytes the user wants
    FlightLogEntryRecord logEntry;  // the last PARAM_VALUE frame, so every log starts with it
    u8 frame[kParameterFrameBytes];
};

i32 parameterInt(u32 bytes);
f32 parameterFloat(u32 bytes);
u32 parameterBytesFromInt(i32 value);
u32 parameterBytesFromFloat(f32 value);

// One item of a mission upload.
struct MissionItem {
    f32 param1;
    f32 param2;
    f32 param3;
    f32 param4;
    f64 longitude;  // degrees
    f64 latitude;   // degrees
    f32 altitude;   // m, relative to the vehicle's altitude reference
    u16 command;    // MAV_CMD
    u8 frame;       // MAV_FRAME
    u8 flag;
};

// DO_CHANGE_SPEED, an optional level or vertical waypoint, 99 waypoints and the last one again.
constexpr i32 kMaxMissionItems = 102;

// The list being uploaded and what the vehicle has asked of it.
struct MissionItemList {
    u16 count;
    u16 nextRequested;  // index of the last item the vehicle asked for; 65535 = none yet
    MissionItem items[kMaxMissionItems];
};

// The COMMAND_LONG the station sent last for something the crew asked for (a flight action, a
// mission start or stop), so that the vehicle's refusal can name it.
struct NamedCommand {
    u16 command;       // MAV_CMD
    u16 reserved;
    const char* name;  // "Takeoff", "Start mission"; null: none sent yet
    u64 time;          // us
};

enum MissionStartState : u32 {
    MissionIdle = 0,
    MissionUploading = 1,
    MissionUploaded = 2,  // accepted, switching to AUTO
    MissionStarted = 3,
};

enum Px4FlightAction : u32 {
    Px4ActionReboot = 0,
    Px4ActionTakeoff = 1,
    Px4ActionLand = 2,
    Px4ActionReturn = 3,
    Px4ActionHover = 4,
    Px4ActionDisarm = 5,
    Px4ActionEmergencyDisarm = 6,
    kPx4FlightActions = 7,
};

struct Px4State {
    u8 mavState;  // MAV_STATE of the last HEARTBEAT
    u8 mainMode;  // PX4 custom mode: main mode and sub mode
    u8 subMode;
    u8 reserved;
    u64 heartbeatTime;  // us of the vehicle's last HEARTBEAT; 0 = none yet

    ParameterSlot parameters[kPx4Parameters];

    u32 modeToneClass;
    u64 modeToneTime;  // last AUTO tone
    u32 gpsGood;
    u64 gpsToneTime;

    u64 remoteIdHeardTime;  // last OPEN_DRONE_ID_LOCATION or _AUTHENTICATION from the vehicle
    u64 remoteIdTime;       // last OPEN_DRONE_ID_SYSTEM sent
    u8 remoteIdSequence;
    u8 parameterBlockSequence;

    u32 missionKnown;  // 1 once the vehicle's mission count has arrived
    u16 droneMissionCount;
    u64 missionListRequestTime;
    u64 missionCountTime;  // last MISSION_COUNT received or clear sent

    u32 startState;        // MissionStartState
    u64 pendingStepTime;   // when the current stop, learn or clear step began; 0 = no upload asked
    u64 modeCommandTime;   // last DO_SET_MODE or clear sent
    u64 uploadTime;        // last progress of the upload: MISSION_COUNT sent, an item served, accepted
    u64 uploadResendTime;  // last MISSION_COUNT or item sent again while the vehicle was silent
    MissionItemList mission;

    u32 flightActions[kPx4FlightActions];  // requests of the fly screen's flight-action buttons
    NamedCommand namedCommand;
    u64 manualControlTime;

    // The last HEARTBEAT, registered with the flight logger every frame so every log starts with it.
    FlightLogEntryRecord logEntry;
    u8 logFrame[64];
};

enum ArduCopterFlightAction : u32 {
    ArduCopterActionReturn = 0,
    ArduCopterActionHover = 1,
    ArduCopterActionDisarm = 2,
    ArduCopterActionEmergencyDisarm = 3,
    kArduCopterFlightActions = 4,
};

struct ArduCopterState {
    u32 customMode;  // ArduCopter flight mode number
    u32 missionKnown;
    u16 droneMissionCount;
    i16 lastRequestedIndex;  // negative = none yet
    u32 startState;          // MissionStartState
    u64 modeCommandTime;
    u64 missionMessageTime;  // last MISSION_REQUEST(_INT) or accepted MISSION_ACK
    u64 heartbeatTime;
    u64 messageRateRequestTime;
    u64 remoteIdTime;
    u64 missionListRequestTime;
    u64 pendingStepTime;
    MissionItemList mission;
    u32 flightActions[kArduCopterFlightActions];
    NamedCommand namedCommand;
    u32 basicIdRequest;
    u32 remoteIdType;  // 0 none, 1 manufacturer serial number
    u8 uasId[20];
};
