#include "Mission/WaypointMissionEditor.h"

i32 findWaypoint(const WaypointMissionEditor* editor, u32 id) {
    for (i32 i = 0; i < editor->waypointCount; ++i) {
        if (editor->waypoints[i].id == id) return i;
    }
    return -1;
}
