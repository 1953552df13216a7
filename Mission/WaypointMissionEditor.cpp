#include "Mission/WaypointMissionEditor.h"

#include "Mission/WaypointUndo.h"

i32 findWaypoint(const WaypointMissionEditor* editor, u32 id) {
    for (i32 i = 0; i < editor->waypointCount; ++i) {
        if (editor->waypoints[i].id == id) return i;
    }
    return -1;
}

i32 lockedWaypointCount(const WaypointMissionEditor* editor) {
    i32 locked = 0;
    while (locked < editor->waypointCount && editor->waypoints[locked].uploadMark != 0) ++locked;
    return locked;
}

u32 takeWaypointId(WaypointMissionEditor* editor) {
    u32 id = editor->nextWaypointId ? editor->nextWaypointId : 1;
    editor->nextWaypointId = id + 1 ? id + 1 : 1;
    return id;
}

u32 insertWaypoint(WaypointMissionEditor* editor, i32 index, f64 x, f64 y, f64 altitudeM) {
    if (editor->waypointCount >= kMaxWaypoints || index < lockedWaypointCount(editor) ||
        index > editor->waypointCount) {
        return 0;
    }
    InsertWaypointPayload insert = {};
    insert.waypoint.x = x;
    insert.waypoint.y = y;
    insert.waypoint.altitude = altitudeM;
    // After the counter went round, an id still in the mission is skipped.
    do {
        insert.waypoint.id = takeWaypointId(editor);
    } while (findWaypoint(editor, insert.waypoint.id) >= 0);
    insert.id = insert.waypoint.id;
    insert.index = static_cast<u32>(index);
    insert.previousId = index > 0 ? editor->waypoints[index - 1].id : 0;
    return runNewEdit(&editor->history, insertWaypointAction, &insert, sizeof insert).ok;
}
