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

// What maxLines left out of transectLines: the lines past them that still cross the region (every
// offset short of the far edge does, the region's edge being one closed ring), and the part of the
// region beyond half a spacing past the last line given (all of it when none was), as a polygon of
// normalised Web-Mercator points; no lines left out: no points.
struct TransectShortfall {
    i64 remainingLines;
    i32 uncoveredCount;
    Vec2 uncovered[kMaxUncoveredPoints];
};

// The lines Generate flies, in flying order: each line's start and end as Web-Mercator points, at
// most maxLines of them. Returns how many; 0 under the same conditions as Generate. With shortfall
// given, it is filled as above.
i32 transectLines(const TransectRegion* region, const Preferences* preferences, Vec2 (*ends)[2], i32 maxLines,
                  TransectShortfall* shortfall = nullptr);

// Replaces the unlocked waypoints with the generated ones as one undoable "Generate" step and
// returns how many there are. Returns 0 and changes nothing when the region has fewer than 3
// points, the spacing is 0 or less, a preference is not a finite number, or no line crosses the
// region.
//
// It also tells the region what it could not do. region->generateMessage becomes "Add at least 3
// points to the transect region", "Set the transect spacing first" (spacing 0 or less, or no
// number), "Set the transect heading and overshoot first", "The transect region is narrower than the
// spacing" (no line crosses it), or, when the lines that fit beside the locked waypoints stop short
// of the far edge, "Transect needs @ waypoints; @ generated" with the two counts; else it is empty.
// In that last case region->uncovered holds the part of the region beyond half a spacing past the
// last generated line, keyed to the region's points (transectRegionKey); else it holds no points.
i32 generateWaypointsFromTransects(WaypointMissionEditor* editor, TransectRegion* region,
                                   const ElevationMapLoader* elevation, VehicleState* vehicle,
                                   Preferences* preferences);

// A key of the region's points (FNV-1a over their count and bytes): a region edited after Generate
// no longer matches its uncoveredKey.
u64 transectRegionKey(const TransectRegion* region);
