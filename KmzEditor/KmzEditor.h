// The drawing editor of the map screens: the operator's own points joined by coloured segments
// (polylines) and markers of five kinds, kept in fixed pools with used-bitmaps. Every change is an
// undoable record on the editor's own UndoHistory, so "Undo @" and "Redo @" walk through them.
//
// Slots: a new item always takes the lowest free slot (scanning the bitmap from bit 0); freeing an
// item only clears its bit. Segments and the line end refer to points by slot.
//
// Payloads are little-endian. A content payload (Load, Clear, Merge):
//   u16 pointCount, u16 lineCount, u16 markerCount,
//   pointCount x {f64 x, f64 y, u8 colour},
//   lineCount x KmzLine whose pointA and pointB are positions among this payload's points,
//   markerCount x KmzMarker.
#pragma once
#include "Core/Undo.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

struct ScreenStack;

constexpr u32 kKmzPoolSlots = 65536;
constexpr u32 kKmzPoolWords = kKmzPoolSlots / 64;
constexpr u32 kKmzColorCount = 7;
constexpr u32 kKmzMarkerKindCount = 5;
constexpr u64 kKmzContentHeaderBytes = 6;
constexpr u64 kKmzPayloadPointBytes = 17;
constexpr u64 kKmzPayloadLineBytes = 12;
constexpr u64 kKmzPayloadMarkerBytes = 24;

enum KmzEditorMode : u32 {
    KmzModeLine = 0,
    KmzModeMarker = 1,
    KmzModeEraser = 2,
};

enum KmzMarkerKind : u32 {
    KmzMarkerFlag = 0,
    KmzMarkerObstruction = 1,
    KmzMarkerFire = 2,
    KmzMarkerSmoke = 3,
    KmzMarkerHeat = 4,
};

// Colour indexes 0 to 6: red, orange, yellow, aqua, blue, purple, white.
enum KmzColor : u8 {
    KmzRed = 0,
    KmzOrange = 1,
    KmzYellow = 2,
    KmzAqua = 3,
    KmzBlue = 4,
    KmzPurple = 5,
    KmzWhite = 6,
};

struct KmzPoint {
    f64 x, y;  // normalised Web-Mercator
};

// Read as one u64 order key (kind << 32 | number) by the export and the drawing.
struct KmzMarker {
    f64 x, y;
    u32 number;
    u32 kind;  // KmzMarkerKind
};

struct KmzLine {
    u32 pointA;
    u32 pointB;
    u32 color;  // colour index in the low byte
};

static_assert(sizeof(KmzPoint) == 16 && sizeof(KmzMarker) == 24 && sizeof(KmzLine) == 12);

struct KmzEditor {
    UndoHistory history;  // first: the actions are handed the editor through it
    KmzMarker markers[kKmzPoolSlots];
    u64 markerUsed[kKmzPoolWords];
    KmzPoint points[kKmzPoolSlots];
    u8 pointColor[kKmzPoolSlots];
    u64 pointUsed[kKmzPoolWords];
    KmzLine lines[kKmzPoolSlots];
    u64 lineUsed[kKmzPoolWords];
    u32 mode;        // KmzEditorMode
    u32 markerKind;  // the kind new markers get
    u8 color;        // the colour index new points and segments get
    u32 dronePathColor;  // 0 none, 1 to 7 a colour index + 1
    i32 lineEnd;     // the point the next point connects to; -1 none
    u32 nextMarkerNumber;
    // Interaction between frames: the point being dragged + 1 (0 none), and whether the press on
    // it found it already the line end.
    i32 dragPoint;
    u32 pressWasLineEnd;
};

// The drawing colour of a colour index (indexes above 6 draw white).
Color kmzColor(u32 colorIndex);

inline bool kmzSlotUsed(const u64* used, u32 slot) {
    return slot < kKmzPoolSlots && ((used[slot >> 6] >> (slot & 63)) & 1) != 0;
}
// The lowest clear bit of a pool's bitmap, or -1 when the pool is full.
i32 lowestFreeKmzSlot(const u64* used);
// Used slots of a pool.
u32 countKmzSlots(const u64* used);

// The undoable operations (UndoAction: owner is the KmzEditor). Labels:
//   addKmzLine "Add Line"/"Delete Line"; deleteKmzLine the reverse; addKmzMarker "Add Marker"/
//   "Delete Marker"; deleteKmzMarker the reverse; addKmzPoint "Add"/"Delete"; deleteKmzPoint the
//   reverse; the moves "Move"/"Move"; clearKmzEditorAction "Load" ("Clear" for an empty payload),
//   inverse "Load" ("Clear" while the editor is empty); mergeIntoKmzEditorAction "Merge"/"Unmerge";
//   unmergeKmzAction "Unmerge"/"Merge"; recolorLineAction "Recolor Line" both ways.
// Payloads:
//   addKmzLine: KmzLine, optionally followed by the u32 slot it goes back to (as deleteKmzLine
//   pushes it; otherwise the lowest free slot). deleteKmzLine: u32 line slot. addKmzMarker:
//   KmzMarker, optionally followed by its u32 slot. deleteKmzMarker: u32 marker slot. addKmzPoint: KmzPoint then per segment to create {u32 other point, u8 colour}.
//   deleteKmzPoint: u64 point slot. moveKmzPointAction: KmzPoint new position, u32 point slot.
//   moveKmzMarkerAction: f64 x, f64 y new position, u32 marker slot. clearKmzEditorAction and
//   mergeIntoKmzEditorAction: a content payload (the editor's own Clear records add the u16 slots
//   of every item after it, and Load puts the items back into them). unmergeKmzAction: u16 point, line and marker
//   counts, then that many u16 slots of points, lines and markers. recolorLineAction: u32 line
//   slot, u32 colour index (low byte used).
UndoActionResult addKmzLine(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult deleteKmzLine(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult addKmzMarker(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult deleteKmzMarker(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult addKmzPoint(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult deleteKmzPoint(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
// The inverse of deleteKmzPoint: the point with its colour and its segments back in their own slots
// ("Add"/"Delete"). Payload: KmzPoint, u32 slot, u8 colour, then per segment KmzLine and u32 slot.
UndoActionResult restoreKmzPoint(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult moveKmzPointAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult moveKmzMarkerAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult clearKmzEditorAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult mergeIntoKmzEditorAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult unmergeKmzAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult recolorLineAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);

// The size of a well-formed content payload with these counts.
inline u64 kmzContentPayloadSize(u64 points, u64 lines, u64 markers) {
    return kKmzContentHeaderBytes + points * kKmzPayloadPointBytes + lines * kKmzPayloadLineBytes +
           markers * kKmzPayloadMarkerBytes;
}

// The tap-to-add of the map screens: a marker of the current kind (marker tool) or a point joined
// to the line end (line tool); nothing in the eraser or when the pool is full. A fresh edit.
void addKmzItemAtPosition(KmzEditor* editor, Vec2 point);

// Once a frame inside a map view: with editing set, the marker and point interaction (add, drag,
// connect, recolour, erase) with the view's pointers; always the segments, and the eraser's line
// deletion; then the drawing: segments at depth, points at +0.002, line-end rings, markers with
// their rank and coordinates. iconSize sets the segment widths (3/20 and 5/20 of it), the line
// hit tolerance (half of it) and the marker squares (4 x it). Call it after updateMapView and
// before handleMapPointers, so that a press on a point or marker does not pan the map.
void updateKmzEditor(KmzEditor* editor, f32 depth, u32 editing, MapView* view, UiState* ui, ScreenStack* stack,
                     f32 iconSize);
