// What the camera controls share inside this folder: sending one command or message through a
// drone output, and the extended-parameter name copy.
#pragma once
#include "Video/CameraLink.h"

#include <cmath>

constexpr f32 kNoParam = NAN;

// COMMAND_LONG to target in a freshly reserved send slot; false when the queue was full.
bool sendCameraCommand(u16 command, f32 param1, f32 param2, f32 param3, f32 param4, f32 param5, f32 param6,
                       f32 param7, u16 target, DroneOutput* output, u64 now);
// Any message with the output's own sequence and source; false when the queue was full.
bool sendCameraMessage(u32 messageId, const ByteWriter* payload, DroneOutput* output, u64 now);

// A received param_id copied up to its first zero byte, at most 16 bytes, into a zeroed name.
void copyExtParamName(u8 name[kExtParamNameBytes], const u8* paramId);
