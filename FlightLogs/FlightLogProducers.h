// The flight-log producers of the controller and the preferences: entries written on change against
// the copies the logger keeps. (The geofence and mission producers are with the mission records.)
#pragma once
#include "FlightLogs/FlightLogger.h"

// Writes ControllerAxes (type 16: u8 controller type, u8 emulated flag, eight f32 axes) when the
// type or an axis changed, ControllerName (type 13: the name's bytes) when the name changed, and one
// ButtonPressed / ButtonReleased (types 12 / 11: u16 index 64 w + i) per changed bit of the key map;
// then keeps the new state. Null gamepad or input: that part is left alone. Null logger: nothing.
void logControllerState(FlightLogger* logger, const GamepadState* gamepad, const InputState* input);

// Writes one PreferenceValue entry (type 15) for a row of the preference table:
//   u8 kind (0 enum name, 1 text, 2 integer, 3 f64, 4 address), u8 key length, key, u8 value length,
//   value; and keeps the row's bytes in lastLoggedPreferences (also with no open log).
void logPreference(FlightLogger* logger, const Preferences* preferences, i64 time, u32 row);

// The rows that flight logs carry, in table order, are logged when their bytes differ from the
// last logged ones (all = 1: every such row).
void logPreferences(FlightLogger* logger, const Preferences* preferences, i64 time, u32 all);

// The video statistics of one measuring interval (type 14, 32 bytes): u64 interval us, u64 bytes,
// u32 packets received, u32 packets dropped, i32 frame width, i32 frame height.
struct VideoStreamStatistics {
    u64 intervalMicros;
    u64 bytesReceived;
    u32 packetsReceived;
    u32 packetsDropped;
    i32 frameWidth;
    i32 frameHeight;
};
constexpr i64 kVideoStreamStatusBytes = 32;
// Writes the entry (a null logger or no open log: nothing). With kept and keptPayload given, the
// payload is built in keptPayload (32 bytes) and kept records it with the time and the type, so that
// its owner can register it for the start of every new log.
void logVideoStreamStatus(FlightLogger* logger, i64 time, const VideoStreamStatistics* statistics,
                          FlightLogEntryRecord* kept = nullptr, u8* keptPayload = nullptr);
