// Waypoints from a transect region: parallel lines across the region along "Transect Zig-Zag
// Heading (degrees)" (clockwise from north), "Transect Spacing (meters)" apart, the first half a
// spacing in from the region's edge; each line runs from its outermost crossing of the region's
// edge to its other outermost crossing, lengthened by "Transect Overshoot Distance (meters)" at both
// ends (a negative overshoot counts as 0), and the lines alternate in direction. Every line gives
// two waypoints, as many lines as fit beside the locked waypoints within 99. Altitudes are the snap
// altitude over the ground at each waypoint; with "Transect Usage" "Ignition" the waypoint that ends
// each line ignites the line.
#pragma once
#include "Core/Types.h"
#include "Mission/PlanPolygons.h"
#include "Mission/WaypointMissionEditor.h"

struct VehicleState;
struct ElevationMapLoader;
struct Preferences;

// The lines Generate flies, in flying order: each line's start and end as Web-Mercator points, at
// most maxLines of them. Returns how many; 0 under the same conditions as Generate.
i32 transectLines(const TransectRegion* region, const Preferences* preferences, Vec2 (*ends)[2], i32 maxLines);

// Replaces the unlocked waypoints with the generated ones as one undoable "Generate" step and
// returns how many there are. Returns 0 and changes nothing when the region has fewer than 3
// points, the spacing is 0 or less, a preference is not a finite number, or no line crosses the
// region.
i32 generateWaypointsFromTransects(WaypointMissionEditor* editor, TransectRegion* region,
                                   const ElevationMapLoader* elevation, VehicleState* vehicle,
                                   Preferences* preferences);
