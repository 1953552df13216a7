// The path a waypoint mission flies, as the terrain check, the side view and the statistics see it,
// and the walk along it in even steps with the terrain under every step.
//
// The path starts at the vehicle at its altitude above the take-off point (on the ground or with no
// position: the mission's reference point at altitude 0, or under the first waypoint while the
// mission has no reference) and reaches the first waypoint as the
// mission upload flies it: with "Vertical flight path to first waypoint" "Safe", a vertical climb
// before or a vertical descent after a level leg (when the altitudes differ by more than 1 m),
// else one straight leg. Then it runs from waypoint to waypoint. Distances are horizontal metres.
//
// The walk samples the path every step = max(5 m, length / 4000) from distance 0, once more at its
// end, and at every waypoint at the waypoint's own altitude. A sample is low when its altitude above
// the take-off point less the terrain's height above the take-off point is below "Low altitude
// warning (m)"; terrain that is not known, or a take-off height that is not known, is never low.
// Only the take-off climb is spared: the vertical climb to the first waypoint's altitude, or, on a
// straight first leg that climbs, its samples before the first waypoint. From the first waypoint on
// every sample counts, so a waypoint below the warning over known terrain is always low. Legs that
// end at a locked waypoint (on the vehicle already) are not checked. Consecutive low samples form
// one low spot; a spot is acknowledged as a whole when any of its samples lies within one step of an
// acknowledged position.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"
#include "Mission/WaypointMissionEditor.h"

struct VehicleState;
struct ElevationMapLoader;
struct Preferences;

constexpr i32 kMaxMissionPathPoints = kMaxWaypoints + 3;
constexpr f64 kMinimumPathStep = 5.0;
constexpr f64 kPathStepsPerMission = 4000.0;

struct MissionPathPoint {
    Vec2 position;    // normalised Web-Mercator
    f64 altitude;     // metres above the take-off point
    f64 distance;     // horizontal metres from the start
    u32 checked;      // the leg that ends here is checked against the terrain
    u32 ignited;      // the leg that ends here drops ignition spheres
    i32 waypoint;     // the waypoint's index, or -1 for the start and the turn of a vertical leg
    u32 climb;        // the leg that ends here is the take-off climb, spared until its end
};

struct MissionPath {
    i32 count;
    u32 reserved;
    f64 totalDistance;
    MissionPathPoint points[kMaxMissionPathPoints];
};

void buildMissionPath(MissionPath* out, const WaypointMissionEditor* editor, const VehicleState* vehicle,
                      const Preferences* preferences);
f64 missionPathStep(const MissionPath* path);

// Where the path is at a distance: the last leg of positive length that starts at or before it,
// so that at the foot of a vertical leg the lower end counts. `leg` carries the leg index between
// calls whose distances do not go down (start it at 0).
struct MissionPathPlace {
    Vec2 position;
    f64 altitude;
    i32 leg;  // index of the leg's end point
    u32 checked;
    u32 climb;  // on the take-off climb, before its end
    u32 reserved;
};
MissionPathPlace missionPathPlaceAt(const MissionPath* path, f64 distance, i32* leg);

struct MissionSample {
    f64 distance;
    Vec2 position;
    f64 altitude;
    f64 ground;  // terrain above the take-off point; NaN when not known
    u32 low;     // below the clearance, on a checked leg, not on the take-off climb
    i32 waypoint;  // the waypoint this sample stands at, or -1 between waypoints
};

// A low spot: consecutive low samples.
struct LowSpotRun {
    MissionSample first, last;
    u32 acknowledged;
    u32 reserved;
};

// The walk, one sample at a time, with the low spots it closes.
struct MissionWalk {
    const MissionPath* path;
    const WaypointMissionEditor* editor;
    const ElevationMapLoader* elevation;
    f64 clearance;
    f64 step;
    i64 index;  // of the next sample of the even steps
    i64 count;
    i32 leg;
    i32 nextPoint;  // the next path point to look at for a waypoint sample
    u32 inRun;
    u32 reserved;
    LowSpotRun run;
};

void beginMissionWalk(MissionWalk* walk, const MissionPath* path, const WaypointMissionEditor* editor,
                      const ElevationMapLoader* elevation, const Preferences* preferences);
// The next sample; 0 after the last. When the sample ends a low spot (or the walk ends inside one),
// the spot is copied to *closed and closedRun is set to 1.
u32 nextMissionSample(MissionWalk* walk, MissionSample* sample, LowSpotRun* closed, u32* closedRun);

// 1 when the path keeps the clearance everywhere but at acknowledged spots; else 0 with the first
// other low spot stored in the editor (its first sample: the distance before it, the step and its
// altitude). The result is kept in the editor's safetyCheckResult.
i32 isWaypointMissionSafe(WaypointMissionEditor* editor, const ElevationMapLoader* elevation,
                          Preferences* preferences, VehicleState* vehicle);

// Keeps a position as acknowledged; 0 when 32 are kept already.
u32 acknowledgeLowSpot(WaypointMissionEditor* editor, Vec2 position);

struct MissionStats {
    f64 durationS;
    i64 spheres;
    f64 averageSpacingM;
};

// Duration: per leg of the path the longest of horizontal length / "Waypoint mission cruise Speed
// (m/s)", climb / 6 m/s and descent / 3 m/s. Spheres: over the ignited legs, the whole number of
// drop spacings in each, the spacing being the smaller of "Orvik drop spacing (m)" and cruise speed
// x "Orvik max drop period (s)"; the average spacing is the ignited length over the spheres (0 for
// none).
MissionStats* calculateMissionStats(MissionStats* out, WaypointMissionEditor* editor, VehicleState* vehicle,
                                    Preferences* preferences);
