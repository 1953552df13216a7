// The undoable edits of a waypoint mission. Each is an UndoAction on the WaypointMissionEditor's
// history; a fresh edit runs through runNewEdit.
#pragma once
#include "Core/Types.h"
#include "Core/Undo.h"
#include "Mission/WaypointMissionEditor.h"

// "Delete" (inverse "Add"): removes the waypoint with the id.
struct DeleteWaypointPayload {
    u32 id;
};

// "Add" (inverse "Delete"): puts the waypoint back right after the waypoint `previousId` (at the
// front when 0); `index` is where it stood when it was removed.
struct InsertWaypointPayload {
    u32 index;
    u32 id;
    u32 previousId;
    u32 reserved;
    Waypoint waypoint;
};

// "Move" (inverse "Move"): sets the position and altitude of the waypoint with the id.
struct MoveWaypointPayload {
    f64 x, y;
    f64 altitude;
    u32 id;
    u32 reserved;
};

static_assert(sizeof(InsertWaypointPayload) == 64 && sizeof(MoveWaypointPayload) == 32);

UndoActionResult deleteWaypointAction(void* editor, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult insertWaypointAction(void* editor, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
UndoActionResult moveWaypointAction(void* editor, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
// "Append" (inverse "Clear"): the payload is whole Waypoint records, added after the last one.
UndoActionResult appendWaypointsAction(void* editor, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
// "Clear" (inverse "Append"), no payload: removes the waypoints from the first unlocked one on;
// refused when there is none.
UndoActionResult clearWaypointsAction(void* editor, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
// "Generate" (inverse "Generate"): the payload is whole Waypoint records (possibly none) that take
// the place of the waypoints from the first unlocked one on; the inverse puts those back. Refused
// when the result would pass 99 waypoints or repeat an id.
UndoActionResult generateWaypointsAction(void* editor, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);
// "Load" (inverse "Load"): the same replacement for a mission read from a file.
UndoActionResult loadWaypointsAction(void* editor, const u8* payload, u64 payloadSize, UndoRing* inverseTarget);

// After the vehicle has reached mission item `number`: removes the waypoints up to the one with that
// item number (among the leading uploaded ones) and the history records that refer to them.
void purgeUndoActionsFor(WaypointMissionEditor* editor, u32 number);
