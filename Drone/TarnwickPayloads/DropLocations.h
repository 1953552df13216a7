// Where the payloads have dropped: the Orvik ignition spheres and the VOSK units, each point with
// its UTC time, kept across runs by the app cache and expired by age at start.
#pragma once
#include "Core/Types.h"

constexpr u32 kMaxOrvikDropLocations = 30000;
constexpr u32 kMaxVoskDropLocations = 256;

// A drop point: two i32, longitude and latitude in 1e-7 degrees.
struct DropPosition {
    i32 longitude;
    i32 latitude;
};
static_assert(sizeof(DropPosition) == 8);

struct OrvikDropLocations {
    u32 count;
    DropPosition positions[kMaxOrvikDropLocations];
    u64 times[kMaxOrvikDropLocations];  // UTC milliseconds since 1601-01-01
};

struct DodireruDropLocations {
    u32 count;
    u64 armed[kMaxVoskDropLocations / 64];  // bit i: point i was dropped armed
    DropPosition positions[kMaxVoskDropLocations];
    u64 times[kMaxVoskDropLocations];
};

// Appends a point; returns 0 when the list is full.
i32 addOrvikDropLocation(OrvikDropLocations* list, DropPosition position, u64 time);
i32 addVoskDropLocation(DodireruDropLocations* list, DropPosition position, u64 time, u32 armed);

u32 isVoskDropArmed(const DodireruDropLocations* list, u32 index);
void setVoskDropArmed(DodireruDropLocations* list, u32 index, u32 armed);

// Removes one point, moving every later point (and for VOSK its armed bit) one place down.
void removeOrvikDropLocation(OrvikDropLocations* list, u32 index);
void removeVoskDropLocation(DodireruDropLocations* list, u32 index);

// Removes the points whose time + persistence <= now from both lists, last to first. A persistence
// that is negative or not a number removes nothing: a mistyped setting must not wipe the lists.
// Only the first orvikConsidered and voskConsidered points are candidates, so points added after
// those are kept. Returns the number of points removed.
u32 expireDropLocations(OrvikDropLocations* orvik, DodireruDropLocations* vosk, f64 persistenceHours, i64 nowMs,
                        u32 orvikConsidered = 0xFFFFFFFFu, u32 voskConsidered = 0xFFFFFFFFu);
