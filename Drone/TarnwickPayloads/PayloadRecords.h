// The records of the payload link that every drone connection carries: the Orvik ignition payload,
// the VOSK two-unit dropper, the strobe light and the mapping kit's counters. Screens command the
// devices by writing wanted values, request counters and request times here; the link turns them
// into frames on its own 100 ms timers. Times are the monotonic clock in microseconds.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"
#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "FlightLogs/FlightLogger.h"

// A status counts as fresh while it is at most this old (and was received at all).
constexpr u64 kPayloadFreshTime = 3000000;
// A request counter returns to 0 this long after its request time.
constexpr u64 kPayloadRequestHoldTime = 5000000;
constexpr u64 kPayloadControlInterval = 100000;

enum PayloadKind : u32 {
    PayloadKindNone = 0,
    PayloadKindOrvik = 1,
    PayloadKindVosk = 2,
};

enum OrvikRequest : u32 {
    OrvikRequestZero = 0,
    OrvikRequestEmergencyRelease = 1,
    OrvikRequestBackwardA = 2,
    OrvikRequestBackwardB = 3,
    OrvikRequestForwardA = 4,
    OrvikRequestForwardB = 5,
    OrvikRequestPurgeA = 6,
    OrvikRequestPurgeB = 7,
    OrvikRequestAgitate = 8,
    OrvikRequestStart = 9,
    OrvikRequestStop = 10,
    kOrvikRequestCount = 11,
};
constexpr u8 kOrvikContinuousDrops = 254;
// The state that arms the automatic emergency release, and the status-word bit that reports one.
constexpr u32 kOrvikStatePunctureMotionError = 163;
constexpr u64 kOrvikEmergencyReleaseBit = 1ull << 19;
constexpr i8 kOrvikTemperatureUnknown = -128;

enum DropDisallowReason : u32 {
    DropAllowedOrNoStatus = 0,
    DropOutsideGeofence = 1,
    DropDisallowedFlightPhase = 2,
};

struct OrvikPayloadState {
    u32 versionId;
    u8 versionBytes[4];
    u16 versionWord;
    FixedString mainFirmwareVersion;
    FixedString mainProgrammingDate;
    FixedString auxFirmwareVersion;
    FixedString auxProgrammingDate;
    u64 versionTime;  // 0 = no version yet

    u32 state;  // the payload's state code
    i16 dropCounterA, dropCounterB;
    u16 status5, status7;
    u8 batteryVoltage;   // 0.1 V
    u8 injectionAmount;  // 0.01 ml
    u8 dropping;         // nonzero while the payload drops
    u16 status12, status14;
    i8 chuteTemp, ambientTemp, internalTemp;  // degrees Celsius; -128 = not measured
    u64 statusWord;  // fault and condition bits
    u64 statusTime;
    u64 lastDropTime;
    u32 disallowReason;  // DropDisallowReason

    u64 lastSendTime;
    u8 sequence;
    u8 wantedInjection;  // 0.01 ml
    u8 wantedDropCount;  // 254 = continuous
    i64 autoReleaseDeadline;  // 0 none, -1 cancelled by the operator, else when it fires
    u8 requestCounters[kOrvikRequestCount];
    u64 requestTimes[kOrvikRequestCount + 1];  // [0] injection request, [k + 1] counter k

    u32 autoStartActive;
    u32 alertRaised;
    u32 previousReleaseBit, previousHighTemp, previousDropping, previousFresh;
};

enum VoskRequest : u32 {
    VoskRequestSafe = 0,
    VoskRequestOpenA = 1,
    VoskRequestDropA = 2,
    VoskRequestOpenB = 3,
    VoskRequestDropB = 4,
    VoskRequestRun1 = 5,
    VoskRequestRun2 = 6,
    VoskRequestRun3 = 7,
    kVoskRequestCount = 8,
};

enum VoskDisarmReason : u32 {
    VoskPrimaryNotFresh = 0,
    VoskSecondaryNotFresh = 1,
    VoskOutsideGeofence = 2,
    VoskDisallowedFlightPhase = 3,
};

// One VOSK unit (0 primary, 1 secondary) as its last status frame told; channels A and B.
struct VoskUnitStatus {
    AddressRecord address;  // the control frame for this unit goes here; family 0 until it reported
    u64 statusTime;
    u32 flags;
    u32 flying;
    u32 sbusArmed;
    u32 loadingButton[2];  // per channel: status flags bits 2 and 3
    u64 faults;
    u32 lastError;
    u32 safetyServo[2];  // 0 closed, 1 open, other values an error
    u32 dropServo[2];    // also the previous value for the drop edge
    u16 safetyValue[2];
    u16 dropValue[2];
};

struct VoskPayloadState {
    VoskUnitStatus units[2];
    u32 previousBothFresh;
    u32 disarmReason;  // VoskDisarmReason
    u32 dropAllowed;
    u64 lastSendTime;
    u8 mavlinkSequence;
    u8 frameSequence;
    u8 requestCounters[kVoskRequestCount];
    u64 requestTimes[kVoskRequestCount];
};

enum StrobeBrightness : u32 {
    StrobeOff = 1,
    StrobeLow = 2,
    StrobeMedium = 3,
    StrobeHigh = 4,
};
enum StrobePattern : u32 {
    StrobePulse = 0,
    StrobeOn = 1,
    StrobeFlash = 2,
    StrobeRotate = 3,
};
enum StrobeMode : u32 {
    StrobeManual = 0,
    StrobeAutoDay = 2,
    StrobeAutoNight = 3,
};
// The light link runs while the light reported within this time.
constexpr u64 kStrobeReportHoldTime = 10000000;

struct StrobeLight {
    u64 reportTime;  // 0 = never
    u8 reportedBrightness, reportedPattern, reportedMode;
    u64 lastSendTime;
    u8 sequence;
    u32 requestPending;
    u32 requestedBrightness, requestedPattern, requestedMode;
    u32 brightness, pattern, mode;  // what the app sends
    u8 changeCounter;
    u64 changeTime;
};

constexpr i32 kPayloadLogSlots = 2;
constexpr i32 kPayloadMessageCopyBytes = 268;

struct PayloadLink {
    u16 sender;  // source of the MAVLink message that carried the last frame
    u32 kind;    // PayloadKind
    PayloadFrameParser parser;
    // The mapping kit's counters report (type 4).
    u64 countersTime;
    u64 countersActiveTime;
    u64 thirdActiveTime;
    i32 value1, value2;
    i32 value3;  // -3 when the report was shorter than 12 bytes
    u8 value4;
    u64 value5Time;
    i32 value5;
    u32 photoIntervalStart;  // request flags
    u32 photoIntervalStop;
    OrvikPayloadState orvik;
    VoskPayloadState vosk;
    StrobeLight light;
    // The last ENCAPSULATED_DATA per slot as received (Orvik: 0 version, 1 status; VOSK: the unit),
    // registered with the flight logger so that every new log starts with them.
    FlightLogEntryRecord logRecords[kPayloadLogSlots];
    u32 logRecordHasData[kPayloadLogSlots];
    u8 lastMessages[kPayloadLogSlots][kPayloadMessageCopyBytes];
};

inline bool isPayloadStatusFresh(u64 statusTime, u64 now) {
    return statusTime != 0 && now >= statusTime && now - statusTime <= kPayloadFreshTime;
}

// The screens' side of the request convention: counter k raised by one (wrapping) with its request
// time. The Orvik times are shifted by one: element 0 belongs to the injection request.
inline void raiseOrvikRequest(OrvikPayloadState* orvik, u32 request, u64 now) {
    orvik->requestCounters[request]++;
    orvik->requestTimes[request + 1] = now;
}
inline void raiseVoskRequest(VoskPayloadState* vosk, u32 request, u64 now) {
    vosk->requestCounters[request]++;
    vosk->requestTimes[request] = now;
}
