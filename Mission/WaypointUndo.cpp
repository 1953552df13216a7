#include "Mission/WaypointUndo.h"

#include <cstring>
#include <initializer_list>

namespace {

const UndoActionResult kRefused = {nullptr, nullptr, 0};

WaypointMissionEditor* asEditor(void* owner) { return static_cast<WaypointMissionEditor*>(owner); }

void removeWaypoints(WaypointMissionEditor* editor, i32 at, i32 count) {
    std::memmove(&editor->waypoints[at], &editor->waypoints[at + count],
                 sizeof(Waypoint) * static_cast<size_t>(editor->waypointCount - at - count));
    editor->waypointCount -= count;
}

// Pushes an inverse record and copies its payload in; a record too large for the ring leaves the
// edit without history.
void pushInverse(UndoRing* ring, UndoAction operation, const void* payload, u64 size) {
    u8* place = pushUndoAction(ring, operation, size);
    if (place && size) std::memcpy(place, payload, size);
}

u32 wordAt(const u8* payload, u64 index) {
    u32 word;
    std::memcpy(&word, payload + index * 4, 4);
    return word;
}

}  // namespace

UndoActionResult deleteWaypointAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    UndoActionResult labels = {"Delete", "Add", 1};
    if (!inverseTarget) return labels;
    WaypointMissionEditor* editor = asEditor(owner);
    if (payloadSize < sizeof(DeleteWaypointPayload)) return kRefused;
    DeleteWaypointPayload edit;
    std::memcpy(&edit, payload, sizeof edit);
    i32 at = findWaypoint(editor, edit.id);
    if (at < 0) return kRefused;
    InsertWaypointPayload inverse = {};
    inverse.index = static_cast<u32>(at);
    inverse.id = edit.id;
    inverse.previousId = at > 0 ? editor->waypoints[at - 1].id : 0;
    inverse.waypoint = editor->waypoints[at];
    pushInverse(inverseTarget, insertWaypointAction, &inverse, sizeof inverse);
    removeWaypoints(editor, at, 1);
    return labels;
}

UndoActionResult insertWaypointAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    UndoActionResult labels = {"Add", "Delete", 1};
    if (!inverseTarget) return labels;
    WaypointMissionEditor* editor = asEditor(owner);
    if (payloadSize < sizeof(InsertWaypointPayload) || editor->waypointCount >= kMaxWaypoints) return kRefused;
    InsertWaypointPayload edit;
    std::memcpy(&edit, payload, sizeof edit);
    if (edit.waypoint.id == 0 || findWaypoint(editor, edit.waypoint.id) >= 0) return kRefused;
    i32 at = 0;
    if (edit.previousId != 0) {
        i32 previous = findWaypoint(editor, edit.previousId);
        if (previous < 0) return kRefused;
        at = previous + 1;
    }
    DeleteWaypointPayload inverse = {edit.waypoint.id};
    pushInverse(inverseTarget, deleteWaypointAction, &inverse, sizeof inverse);
    std::memmove(&editor->waypoints[at + 1], &editor->waypoints[at],
                 sizeof(Waypoint) * static_cast<size_t>(editor->waypointCount - at));
    editor->waypoints[at] = edit.waypoint;
    editor->waypointCount += 1;
    return labels;
}

UndoActionResult moveWaypointAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    UndoActionResult labels = {"Move", "Move", 1};
    if (!inverseTarget) return labels;
    WaypointMissionEditor* editor = asEditor(owner);
    if (payloadSize < sizeof(MoveWaypointPayload)) return kRefused;
    MoveWaypointPayload edit;
    std::memcpy(&edit, payload, sizeof edit);
    i32 at = findWaypoint(editor, edit.id);
    if (at < 0) return kRefused;
    Waypoint* waypoint = &editor->waypoints[at];
    MoveWaypointPayload inverse = {waypoint->x, waypoint->y, waypoint->altitude, edit.id, 0};
    pushInverse(inverseTarget, moveWaypointAction, &inverse, sizeof inverse);
    waypoint->x = edit.x;
    waypoint->y = edit.y;
    waypoint->altitude = edit.altitude;
    return labels;
}

UndoActionResult appendWaypointsAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    UndoActionResult labels = {"Append", "Clear", 1};
    if (!inverseTarget) return labels;
    WaypointMissionEditor* editor = asEditor(owner);
    u64 count = payloadSize / sizeof(Waypoint);
    if (count == 0 || payloadSize % sizeof(Waypoint) != 0 ||
        count > static_cast<u64>(kMaxWaypoints - editor->waypointCount)) {
        return kRefused;
    }
    for (u64 i = 0; i < count; ++i) {
        Waypoint waypoint;
        std::memcpy(&waypoint, payload + i * sizeof(Waypoint), sizeof waypoint);
        if (waypoint.id == 0 || findWaypoint(editor, waypoint.id) >= 0) return kRefused;
    }
    pushInverse(inverseTarget, clearWaypointsAction, nullptr, 0);
    std::memcpy(&editor->waypoints[editor->waypointCount], payload, payloadSize);
    editor->waypointCount += static_cast<i32>(count);
    return labels;
}

UndoActionResult clearWaypointsAction(void* owner, const u8*, u64, UndoRing* inverseTarget) {
    UndoActionResult labels = {"Clear", "Append", 1};
    if (!inverseTarget) return labels;
    WaypointMissionEditor* editor = asEditor(owner);
    i32 from = lockedWaypointCount(editor);
    if (from == editor->waypointCount) return kRefused;
    pushInverse(inverseTarget, appendWaypointsAction, &editor->waypoints[from],
                sizeof(Waypoint) * static_cast<u64>(editor->waypointCount - from));
    editor->waypointCount = from;
    editor->acknowledgedLowSpotCount = 0;  // the spots were on a path that is gone
    return labels;
}

namespace {

// The waypoints from the first unlocked one on give way to the payload's; the inverse, the same
// operation, puts them back.
UndoActionResult replaceUnlockedWaypoints(UndoAction self, UndoActionResult labels, void* owner, const u8* payload,
                                          u64 payloadSize, UndoRing* inverseTarget) {
    if (!inverseTarget) return labels;
    WaypointMissionEditor* editor = asEditor(owner);
    i32 from = lockedWaypointCount(editor);
    u64 count = payloadSize / sizeof(Waypoint);
    if (payloadSize % sizeof(Waypoint) != 0 || count > static_cast<u64>(kMaxWaypoints - from)) return kRefused;
    for (u64 i = 0; i < count; ++i) {
        Waypoint waypoint;
        std::memcpy(&waypoint, payload + i * sizeof(Waypoint), sizeof waypoint);
        i32 at = findWaypoint(editor, waypoint.id);
        if (waypoint.id == 0 || (at >= 0 && at < from)) return kRefused;
        for (u64 j = 0; j < i; ++j) {
            if (std::memcmp(payload + j * sizeof(Waypoint), &waypoint.id, 4) == 0) return kRefused;
        }
    }
    pushInverse(inverseTarget, self, &editor->waypoints[from],
                sizeof(Waypoint) * static_cast<u64>(editor->waypointCount - from));
    if (count) std::memcpy(&editor->waypoints[from], payload, payloadSize);
    editor->waypointCount = from + static_cast<i32>(count);
    editor->acknowledgedLowSpotCount = 0;  // the spots were on a path that is gone
    return labels;
}

}  // namespace

UndoActionResult generateWaypointsAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    return replaceUnlockedWaypoints(generateWaypointsAction, {"Generate", "Generate", 1}, owner, payload, payloadSize,
                                    inverseTarget);
}

UndoActionResult loadWaypointsAction(void* owner, const u8* payload, u64 payloadSize, UndoRing* inverseTarget) {
    return replaceUnlockedWaypoints(loadWaypointsAction, {"Load", "Load", 1}, owner, payload, payloadSize,
                                    inverseTarget);
}

namespace {

bool refersToAny(UndoRecord* record, const WaypointMissionEditor* editor, i32 k) {
    auto isPurged = [&](u32 id) {
        for (i32 i = 0; i < k; ++i) {
            if (editor->waypoints[i].id == id) return true;
        }
        return false;
    };
    const u8* payload = undoRecordPayload(record);
    u64 size = record->payloadSize;
    if (record->operation == deleteWaypointAction) return size >= 4 && isPurged(wordAt(payload, 0));
    if (record->operation == insertWaypointAction) return size >= 12 && isPurged(wordAt(payload, 2));
    if (record->operation == moveWaypointAction) return size >= 28 && isPurged(wordAt(payload, 6));
    if (record->operation == appendWaypointsAction) {
        for (u64 offset = 0; offset + sizeof(Waypoint) <= size; offset += sizeof(Waypoint)) {
            Waypoint waypoint;
            std::memcpy(&waypoint, payload + offset, sizeof waypoint);
            if (isPurged(waypoint.id)) return true;
        }
    }
    return false;
}

}  // namespace

void purgeUndoActionsFor(WaypointMissionEditor* editor, u32 number) {
    i32 k = 0;
    for (i32 i = 0; i < editor->waypointCount && editor->waypoints[i].uploadMark != 0; ++i) {
        if (static_cast<u32>(editor->waypoints[i].missionItemNumber) == number) {
            k = i + 1;
            break;
        }
    }
    if (k == 0) return;
    for (UndoRing* ring : {&editor->history.undo, &editor->history.redo}) {
        // The newest record that refers to a waypoint about to go, and every record older than it,
        // could no longer be applied: they all go.
        i32 referring = -1, position = 0;
        for (UndoRecord* record = oldestUndoAction(ring); record; record = nextUndoAction(ring, record), ++position) {
            if (refersToAny(record, editor, k)) referring = position;
        }
        for (i32 i = 0; i <= referring; ++i) dropOldestUndoAction(ring);
    }
    removeWaypoints(editor, 0, k);
}
