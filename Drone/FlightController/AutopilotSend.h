// What both autopilots' control steps send to the followed vehicle, and how they show the mission's
// progress.
#pragma once
#include "Core/FixedString.h"

struct AutopilotFrame;
struct MavlinkMessage;
struct NamedCommand;
struct VehicleState;

// The mission status text that the screens show, with the time it was set.
void setMissionStatus(VehicleState* vehicle, FixedString text, u64 now);
void setMissionStatus(VehicleState* vehicle, const char* text, u64 now);

// A COMMAND_LONG that the crew asked for, named for its refusal: sent as sendVehicleCommand sends,
// and remembered in *named when it went out.
bool sendNamedCommand(NamedCommand* named, const char* name, u16 command, f32 param1, f32 param2, f32 param3,
                      const AutopilotFrame* frame);

// A COMMAND_ACK of the followed vehicle. One that refuses a command of this station (any result but
// accepted and in progress, addressed to the station's own id or to nobody) sets the vehicle's
// refusal text "<name> refused (<result>)": the name of the named command when the refused command
// is the one named within the last 5 s, else the command's MAVLink name. Always taken (returns 1).
u32 handleCommandAck(const MavlinkMessage* message, VehicleState* vehicle, const NamedCommand* named, u16 ownSource,
                     u64 now);
// The words of a MAV_RESULT in a refusal ("denied"); "result @" for a number without them.
FixedString commandResultText(u8 result);

// COMMAND_LONG to the vehicle; false when the send queue was full.
bool sendVehicleCommand(u16 command, f32 param1, f32 param2, f32 param3, f32 param4, f32 param5, f32 param6,
                        f32 param7, const AutopilotFrame* frame);

// A message with the vehicle's system and component between two runs of bytes (at most 14 bytes in
// all); false when the send queue was full.
bool sendTargetedMessage(u32 messageId, const u8* before, i32 beforeLength, const u8* after, i32 afterLength,
                         const AutopilotFrame* frame);

// Ends any mission transfer (MISSION_ACK cancelled), clears the vehicle's mission and announces a
// count of 0; false when any of the three found the send queue full.
bool sendMissionClear(const AutopilotFrame* frame);
