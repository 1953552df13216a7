// The MAVLink message and command tables of the common dialect, generated from the message
// definitions by Tools/generate_mavlink_tables.py.
#pragma once
#include "Core/Types.h"

struct MavlinkMessageInfo {
    u32 id;
    u8 crcExtra;
    u8 minimumPayloadLength;  // without the extension fields
    u8 maximumPayloadLength;  // with them
    const char* name;
};

extern const MavlinkMessageInfo mavlinkMessageTable[];  // sorted by id
extern const i32 mavlinkMessageCount;

struct MavlinkCommandInfo {
    u16 value;
    const char* name;  // the full name, "MAV_CMD_NAV_WAYPOINT"
};

extern const MavlinkCommandInfo mavlinkCommandTable[];  // every MAV_CMD entry, sorted by value
extern const i32 mavlinkCommandCount;
