// Vehicle parameters kept in step with the drone: the PX4 parameter table, storing a received
// PARAM_VALUE and the per-frame senders that write an edited value and read a shown one.
#pragma once
#include "Drone/FlightController/AutopilotState.h"
#include "Mavlink/Mavlink.h"

struct DroneOutput;

// The 84 PX4 parameter ids, 16 bytes each, zero-padded and without a terminating zero at 16
// characters: 62 INT32 ids (CBRK_PARAMBLOCK first, BOOM3_COLOR last), then 22 REAL32 ids
// (BAT_LOW_THR first, MIS_DIST_1WP last). The simulated drone keeps its values in the same order.
extern const char (&Px4ParameterNames)[kPx4Parameters][kParameterNameBytes];

// The slot of a 16-byte id (exact match over 16 bytes), or -1.
i32 px4ParameterSlot(const u8* id);
i32 px4ParameterSlotByName(const char* name);

// A change is sent with PARAM_SET at most every 0.5 s until the vehicle reports the wanted value
// after the change or 3 s have passed. A slot shown within the last 5 s is read with
// PARAM_REQUEST_READ (by name) at most every second.
constexpr u64 kParameterSetInterval = 500000;
constexpr u64 kParameterSetDuration = 3000000;
constexpr u64 kParameterReadInterval = 1000000;
constexpr u64 kParameterReadDuration = 5000000;
// The last-send time that makes the next sync send at once.
constexpr i64 kParameterSendNow = -10000000;

// Asks for a new value (as a screen does): wanted value, change time, send at once.
void editParameter(ParameterSlot* slot, u32 wantedBytes, u64 now);

// Stores a received PARAM_VALUE: value, index, receive time and a copy of the frame. Outside a
// change the wanted value follows the reported one.
void storeParamValue(ParameterSlot* slot, u32 valueBytes, u16 index, u64 now, const MavlinkMessage* message);

// One frame of keeping a slot in step: PARAM_SET (param_type 6 for INT32, 9 for REAL32) or
// PARAM_REQUEST_READ to target (system << 8 | component) through the output; registers the slot's
// frame copy with the flight logger. A full send queue sends nothing and tries again next frame.
void syncParamInt(ParameterSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now,
                  FlightLogger* logger);
void syncParamFloat(ParameterSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now,
                    FlightLogger* logger);
