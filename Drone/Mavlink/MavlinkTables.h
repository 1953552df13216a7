// The MAVLink message table of the common dialect, generated from the message definitions.
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
