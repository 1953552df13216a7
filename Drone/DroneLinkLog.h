// The link messages the drone connection remembers for the flight log: the last frame of each of a
// few messages that tell who the vehicle and its camera are and what state they are in. Every frame
// they are registered with the logger, so that a log started mid-flight begins with them.
#pragma once
#include "Mavlink/Mavlink.h"
#include "FlightLogs/FlightLogger.h"

enum LinkLogGroup : u32 {
    LinkLogVehicle = 0,  // the followed vehicle's state messages
    LinkLogCamera = 1,   // the camera's identity: its HEARTBEAT, then what it says of itself
    LinkLogRadio = 2,    // the radio link
};

constexpr i32 kLinkLogRecords = 12;
constexpr i64 kLinkLogFrameBytes = 280;  // a whole MAVLink 2 frame with signature

struct LinkLogRecords {
    FlightLogEntryRecord records[kLinkLogRecords];  // payload unset until its message arrived
    u8 frames[kLinkLogRecords][kLinkLogFrameBytes];
};

// Keeps the message's frame when it is one of the remembered ones of that group (vehicle messages
// only from the vehicle, the others from any source; of the HEARTBEATs the camera group keeps only
// a camera's). type: the log type of the link it came on.
void rememberLinkLogMessage(LinkLogRecords* records, u32 group, const MavlinkMessage* message, u8 type, u64 now);

// Registers the group's remembered frames with the logger; a null logger registers nothing.
void registerLinkLogRecords(LinkLogRecords* records, u32 group, FlightLogger* logger);
