// The drag of one waypoint or vertex on a map, kept in the record being edited between frames.
#pragma once
#include "Core/Types.h"

struct MapEditDrag {
    u32 active;
    u32 element;           // the waypoint's id, or the vertex's index
    f32 offsetX, offsetY;  // window pixels from the pointer to the element's position
};
