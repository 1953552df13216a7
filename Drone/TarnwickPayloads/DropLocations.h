// Where the payloads have dropped: the Orvik ignition spheres and the VOSK units, each point with
// its UTC time, kept across runs by the app cache and expired by age at start.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

struct MapView;
struct UiState;

constexpr u32 kMaxOrvikDropLocations = 30000;
constexpr u32 kMaxVoskDropLocations = 256;

// A drop point: the normalised Web-Mercator position times 2^31, truncated toward zero.
struct DropPosition {
    i32 x;
    i32 y;
};
constexpr f64 kDropPositionScale = 2147483648.0;  // 2^31 per world
// Asset images of the drop points on a map.
constexpr u32 kOrvikDropImage = 23;
constexpr u32 kVoskDropImage = 31;
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

// The fixed-point position of a point {longitude, latitude} in degrees; 0 when it does not fit into
// 32 bits (x = +0.5 turn is stored as -2^31, the same meridian).
i32 encodeDropPosition(DropPosition* out, const GeoPoint* geo);
// The normalised Web-Mercator position of a stored point.
Vec2 decodeDropPosition(DropPosition position);

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

// Draw every point in view on a map view, each on the copy of the world nearest the view's centre:
// Orvik points at half the icon size, VOSK points at 2.5 times. One icon instance per point, oldest
// first, so that the newest lie on top; no allocation.
void drawOrvikDropPoints(const OrvikDropLocations* list, f32 iconSize, f32 depth, const MapView* view, UiState* ui);
void drawVoskDropPoints(const DodireruDropLocations* list, f32 iconSize, f32 depth, const MapView* view, UiState* ui);
// The window position of a stored point on a map view.
Vec2F32 dropPointOnView(DropPosition position, const MapView* view);
