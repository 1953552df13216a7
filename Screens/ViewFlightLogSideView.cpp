// The replay's side view (open panel 23): the whole flight's altitude above the takeoff point against
// the distance flown, the path yellow where the payload was active, the vehicle where the replay is,
// and the terrain under the path with the low-altitude and airspace bands. The axes, grid, sky and
// terrain columns are the mission side view's (Mission/SideViewPlot.h).
#include <cmath>
#include <cstring>

#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Mission/SideViewPlot.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/Renderer/ImageAssets.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/TextLayout.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

const char kDrawTerrain[] = "Draw Terrain";
constexpr f32 kDepthSky = 0.600f;
constexpr f32 kDepthTerrain = 0.601f;
constexpr f32 kDepthPath = 0.602f;
constexpr f32 kDepthVehicle = 0.605f;
constexpr f32 kDepthAxes = 0.606f;

bool payloadActive(const ViewFlightLogState* state, u32 i) { return (state->trackPayloadBits[i >> 6] >> (i & 63)) & 1; }

// The ground under sample i relative to the takeoff point; 0 where the height above ground is missing.
f64 groundAt(const ViewFlightLogState* state, u32 i) {
    f64 g = (f64)state->trackAltitude[i] - (f64)state->trackAgl[i];
    return std::isfinite(g) ? g : 0.0;
}

}  // namespace

void drawFlightLogSideView(ViewFlightLogState* state, Rect panel, f32 textSize, f64 travelled, f64 vehicleAltitude,
                           const Preferences* preferences, UiState* ui, ScreenStack* stack) {
    MapView* side = &state->sideView;
    u32 count = state->trackCount < kMaxTrackSamples ? state->trackCount : kMaxTrackSamples;
    f64 total = state->totalDistance;
    f64 low = preferences ? preferences->lowAltitudeWarning : 0;
    f64 airspace = preferences ? preferences->airspaceIndicatorAltitude : 0;

    // The heights the view must hold: the path, the ground and its bands, found once per track.
    // Plain comparisons pass NaN over; x - x is 0 only for a finite x.
    if (state->trackExtentsCount != count + 1) {
        f32 extents[4] = {0, 0, 0, 0};  // lowest and highest path, lowest and highest ground
        for (u32 i = 0; i < count; ++i) {
            f32 altitude = state->trackAltitude[i];
            if (altitude < extents[0]) extents[0] = altitude;
            if (altitude > extents[1]) extents[1] = altitude;
            f32 g = altitude - state->trackAgl[i];
            if (g - g != 0) g = 0;
            if (g < extents[2]) extents[2] = g;
            if (g > extents[3]) extents[3] = g;
        }
        std::memcpy(state->trackExtents, extents, sizeof(extents));
        state->trackExtentsCount = count + 1;
    }
    f32 lowestPath = state->trackExtents[0], highestPath = state->trackExtents[1];
    f32 lowestGround = state->trackExtents[2], highestGround = state->trackExtents[3];
    f64 lowest = std::fmin(lowestPath, lowestGround);
    f64 highest = std::fmax(std::fmax(0.0, std::fmax(low, airspace)),
                            std::fmax((f64)highestPath, highestGround + std::fmax(low, 0.0)));

    Rect plot = sideViewPlotRect(panel, textSize);
    f64 margin = kSideViewMarginMetres;
    Box2 content = {-margin, total + margin, lowest - margin, highest + margin};
    updateMapView(side, &plot, content, ui, stack, nullptr, MapWheelZooms);
    if (!state->sideViewPlaced) {
        state->sideViewPlaced = 1;
        setMapCenterAndZoom(side, total / 2, (lowest + highest) / 2, 1.0);
    }
    const Rect& clip = side->clipRect;

    drawSideViewSky(plot, ui, kDepthSky);

    // The terrain, one column per pixel; the sample index only moves forward across the columns.
    enterProfilingRegionChecked(kDrawTerrain);
    i32 columns = (i32)std::ceil(plot.x1 - plot.x0);
    u32 segment = 0;  // the segment from sample segment to segment + 1
    f64 segmentStart = 0;
    for (i32 c = 0; c < columns; ++c) {
        f32 x0 = plot.x0 + (f32)c;
        f64 d = side->centreX + ((f64)x0 + 0.5 - side->rectCentreX) / side->pixelsPerUnit;
        f64 ground = 0;
        if (count == 1) {
            ground = groundAt(state, 0);
        } else if (count > 1) {
            while (segment + 2 < count && segmentStart + state->trackStepDistance[segment + 1] < d) {
                segmentStart += state->trackStepDistance[segment + 1];
                ++segment;
            }
            f64 length = state->trackStepDistance[segment + 1];
            f64 f = length > 0 ? (d - segmentStart) / length : (d < segmentStart ? -1.0 : 2.0);
            f64 g0 = groundAt(state, segment);
            f64 g1 = groundAt(state, segment + 1);
            ground = f < 0 ? g0 : f > 1 ? g1 : g0 + (g1 - g0) * f;
        }
        drawSideViewTerrainColumn(side, plot, x0, x0 + 1, d, ground, total, preferences, ui, kDepthTerrain);
    }
    exitProfilingRegion(kDrawTerrain);

    // The path, merged to about one segment per pixel, with a black outline behind it.
    f32 width = textSize * 0.15f;
    i32 firstVertex = ui->batches.line2d.vertexCount;
    {
        // Samples without an altitude (no position yet) are passed over.
        f64 distance = 0;
        Vec2F32 last{};
        bool lastActive = false, haveLast = false;
        for (u32 i = 0; i < count; ++i) {
            if (i > 0) distance += state->trackStepDistance[i];
            if (!std::isfinite(state->trackAltitude[i])) continue;
            Vec2F32 at{mapViewWindowX(side, distance), mapViewWindowY(side, state->trackAltitude[i])};
            bool active = payloadActive(state, i);
            if (!haveLast) {
                last = at, lastActive = active, haveLast = true;
                continue;
            }
            f32 dx = at.x - last.x, dy = at.y - last.y;
            if (!(dx * dx + dy * dy > 1.0f) && active == lastActive) continue;
            addLine(last, at, kDepthPath, clip, active ? kSideViewPathIgnited : kSideViewPathPlain, width,
                    &ui->batches.line2d);
            last = at;
            lastActive = active;
        }
    }
    addThickPolyline(firstVertex, kDepthPath - 0.0005f, kSideViewOutline, width + textSize * 0.1f,
                     &ui->batches.line2d);

    drawIconAt(Vec2F32{mapViewWindowX(side, travelled), mapViewWindowY(side, vehicleAltitude)}, kDepthVehicle,
               AnchorBottomCentre, 0, textSize * 2, clip, ImageKindAsset, AssetDroneIconSideView,
               &ui->batches.textured2d, ui);
    drawSideViewAxes(side, plot, textSize, total, preferences, ui, kDepthAxes);

    MapTaps taps;
    handleMapPointers(&taps, side, stack);
}
