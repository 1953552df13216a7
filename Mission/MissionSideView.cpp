#include "Mission/MissionSideView.h"

#include <cmath>

#include "Core/Geometry.h"
#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Mavlink/VehicleState.h"
#include "Map/ElevationMapLoader.h"
#include "Mission/MissionPath.h"
#include "Mission/SideViewPlot.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/TextLayout.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

const char kDrawTerrain[] = "Draw Terrain";
constexpr f32 kDepthSky = 0.600f;
constexpr f32 kDepthTerrain = 0.601f;
constexpr f32 kDepthPath = 0.602f;
constexpr f32 kDepthMarkers = 0.603f;
constexpr f32 kDepthLowSpots = 0.604f;
constexpr f32 kDepthVehicle = 0.605f;
constexpr f32 kDepthAxes = 0.606f;

struct SideViewFrame {
    MissionPath path;
    LowSpotRun runs[kSideViewLowSpots];
    i32 runCount;
    f64 lowest, highest;  // altitudes of the path and ground above the take-off point
};

Vec2F32 onScreen(const MapView* view, f64 distance, f64 altitude) {
    return Vec2F32{mapViewWindowX(view, distance), mapViewWindowY(view, altitude)};
}

}  // namespace

void waypointMissionSideView(MapView* side, Rect rect, f32 textSize, const ElevationMapLoader* elevation,
                             WaypointMissionEditor* editor, VehicleState* vehicle, UiState* ui, ScreenStack* stack,
                             Preferences* preferences, u32 openedNow) {
    SideViewFrame frame;
    buildMissionPath(&frame.path, editor, vehicle, preferences);
    const MissionPath* path = &frame.path;
    f64 clearance = preferences ? preferences->lowAltitudeWarning : 0;

    // One walk finds the low spots and the heights the view must hold.
    frame.runCount = 0;
    frame.lowest = 0;
    frame.highest = clearance > 0 ? clearance : 0;
    MissionWalk walk;
    beginMissionWalk(&walk, path, editor, elevation, preferences);
    MissionSample sample;
    LowSpotRun run;
    u32 closed = 0;
    bool more = true;
    while (more) {
        more = nextMissionSample(&walk, &sample, &run, &closed) != 0;
        if (closed && frame.runCount < kSideViewLowSpots) frame.runs[frame.runCount++] = run;
        if (!more) break;
        frame.lowest = std::fmin(frame.lowest, sample.altitude);
        frame.highest = std::fmax(frame.highest, sample.altitude);
        if (std::isfinite(sample.ground)) {
            frame.lowest = std::fmin(frame.lowest, sample.ground);
            frame.highest = std::fmax(frame.highest, sample.ground + clearance);
        }
    }
    for (i32 i = 0; i < path->count; ++i) {
        frame.lowest = std::fmin(frame.lowest, path->points[i].altitude);
        frame.highest = std::fmax(frame.highest, path->points[i].altitude);
    }

    Rect plot = sideViewPlotRect(rect, textSize);
    f64 total = path->totalDistance;
    f64 margin = kSideViewMarginMetres;
    Box2 content = {-margin, total + margin, frame.lowest - margin, frame.highest + margin};
    updateMapView(side, &plot, content, ui, stack, nullptr, MapWheelZooms);
    if (openedNow) setMapCenterAndZoom(side, total / 2, (frame.lowest + frame.highest) / 2, 1.0);
    const Rect& clip = side->clipRect;

    drawSideViewSky(plot, ui, kDepthSky);
    // The terrain, one column per pixel.
    enterProfilingRegionChecked(kDrawTerrain);
    i32 leg = 0;
    i32 columns = (i32)std::ceil(plot.x1 - plot.x0);
    for (i32 c = 0; c < columns && path->count > 0; ++c) {
        f32 x0 = plot.x0 + (f32)c;
        Vec2 at = screenPointToMap(side, x0 + 0.5f, plot.y0);
        f64 distance = at.x < 0 ? 0 : at.x > total ? total : at.x;
        MissionPathPlace place = missionPathPlaceAt(path, distance, &leg);
        f64 ground = NAN;
        if (elevation && std::isfinite(editor->takeoffTerrainHeight) &&
            editor->takeoffTerrainHeight != kUnknownTerrainHeight) {
            GeoPoint geo;
            mercatorToLatLng(&geo, &place.position);
            f32 height = getElevation(elevation, geo, NAN);
            if (std::isfinite(height)) ground = (f64)height - editor->takeoffTerrainHeight;
        }
        drawSideViewTerrainColumn(side, plot, x0, x0 + 1, distance, ground, total, preferences, ui, kDepthTerrain);
    }
    exitProfilingRegion(kDrawTerrain);

    // The path, yellow where it ignites, with a black outline behind it.
    f32 width = textSize * 0.15f;
    i32 firstVertex = ui->batches.line2d.vertexCount;
    for (i32 i = 1; i < path->count; ++i) {
        const MissionPathPoint* a = &path->points[i - 1];
        const MissionPathPoint* b = &path->points[i];
        addLine(onScreen(side, a->distance, a->altitude), onScreen(side, b->distance, b->altitude), kDepthPath, clip,
                b->ignited ? kSideViewPathIgnited : kSideViewPathPlain, width, &ui->batches.line2d);
    }
    addThickPolyline(firstVertex, kDepthPath - 0.0005f, kSideViewOutline, width + textSize * 0.1f,
                     &ui->batches.line2d);
    f32 radius = textSize * 0.3f;
    for (i32 i = 0; i < path->count; ++i) {
        if (path->points[i].waypoint < 0) continue;
        Vec2F32 at = onScreen(side, path->points[i].distance, path->points[i].altitude);
        addRoundedRect(Rect{at.x - radius, at.x + radius, at.y - radius, at.y + radius}, kDepthMarkers, clip, 2,
                       radius, kSideViewTick, kSideViewOutline, &ui->batches.coloredRect, ui->halfWidth,
                       ui->halfHeight);
    }

    // Low spots: red, grey once acknowledged; a tap near one acknowledges it.
    MapTaps taps;
    handleMapPointers(&taps, side, stack);
    f32 spotRadius = textSize * 0.45f;
    for (i32 r = 0; r < frame.runCount; ++r) {
        LowSpotRun* spot = &frame.runs[r];
        Vec2F32 a = onScreen(side, spot->first.distance, spot->first.altitude);
        Vec2F32 b = onScreen(side, spot->last.distance, spot->last.altitude);
        for (i32 t = 0; t < taps.count && !spot->acknowledged; ++t) {
            SegmentF32 stretch = {a.x, a.y, b.x, b.y};
            if (distanceSquaredToSegment(&stretch, taps.screen[t]) <= textSize * textSize &&
                acknowledgeLowSpot(editor, spot->first.position)) {
                spot->acknowledged = 1;
            }
        }
        Color color = spot->acknowledged ? kSideViewAcknowledged : kSideViewLowSpot;
        addLine(a, b, kDepthLowSpots, clip, color, textSize * 0.3f, &ui->batches.line2d);
        addRoundedRect(Rect{a.x - spotRadius, a.x + spotRadius, a.y - spotRadius, a.y + spotRadius}, kDepthLowSpots,
                       clip, 2, spotRadius, color, kSideViewOutline, &ui->batches.coloredRect, ui->halfWidth,
                       ui->halfHeight);
    }

    if (vehicle && vehicle->globalPosition.time != 0 && vehicle->flightPhase >= 2 && path->count > 0) {
        drawIconAt(onScreen(side, 0, path->points[0].altitude), kDepthVehicle, AnchorBottomCentre, 0, textSize * 2,
                   clip, ImageKindAsset, AssetDroneIconSideView, &ui->batches.textured2d, ui);
    }
    drawSideViewAxes(side, plot, textSize, total, preferences, ui, kDepthAxes);
}
