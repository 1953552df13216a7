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
constexpr i32 kMaxTerrainColumns = 8192;  // pixel columns of the widest plot

bool payloadActive(const ViewFlightLogState* state, u32 i) { return (state->trackPayloadBits[i >> 6] >> (i & 63)) & 1; }

// The ground under sample i relative to the takeoff point; 0 where the height above ground is missing.
f64 groundAt(const ViewFlightLogState* state, u32 i) {
    f64 g = (f64)state->trackAltitude[i] - (f64)state->trackAgl[i];
    return std::isfinite(g) ? g : 0.0;
}

// Where the path's points go: a segment from the last drawn point to a point is drawn only when it
// is longer than one pixel on screen or the payload state changes there, in the colour of the
// point's state.
struct PathStroke {
    const Rect* clip;
    f32 width;
    UiState* ui;
    Vec2F32 last;
    bool lastActive;
    bool haveLast;
};

void strokeTo(PathStroke* p, Vec2F32 at, bool active) {
    if (!p->haveLast) {
        p->last = at, p->lastActive = active, p->haveLast = true;
        return;
    }
    f32 dx = at.x - p->last.x, dy = at.y - p->last.y;
    if (!(dx * dx + dy * dy > 1.0f) && active == p->lastActive) return;
    addLine(p->last, at, kDepthPath, *p->clip, active ? kSideViewPathIgnited : kSideViewPathPlain, p->width,
            &p->ui->batches.line2d);
    p->last = at;
    p->lastActive = active;
}

// The path's samples in one window pixel column and one payload state: of them only the first, the
// lowest, the highest and the last reach the stroke, in their order, so that the column's stroke
// covers the heights of all of them while a track of 90,000 samples costs a few points per column.
struct PathColumn {
    u32 index[4];      // first, lowest, highest, last
    f64 distance[4];
    f32 altitude[4];
};

void flushColumn(const PathColumn* c, bool active, const MapView* side, PathStroke* stroke) {
    u32 order[4] = {0, 1, 2, 3};
    for (u32 i = 1; i < 4; ++i) {
        for (u32 j = i; j > 0 && c->index[order[j]] < c->index[order[j - 1]]; --j) {
            u32 t = order[j];
            order[j] = order[j - 1];
            order[j - 1] = t;
        }
    }
    u32 previous = 0xFFFFFFFFu;
    for (u32 k = 0; k < 4; ++k) {
        u32 i = order[k];
        if (c->index[i] == previous) continue;
        previous = c->index[i];
        strokeTo(stroke, Vec2F32{mapViewWindowX(side, c->distance[i]), mapViewWindowY(side, c->altitude[i])}, active);
    }
}

// The plot's terrain columns: column c is centred at distance firstDistance + c x columnStep; the
// walk below writes each column's ground height (relative to the takeoff point) into grounds.
struct TerrainColumns {
    i32 count;
    f64 firstDistance;
    f64 columnStep;
    f32* grounds;
};

// One pass over the track for both the terrain and the path, so that the distance flown is summed
// once per frame. Terrain: a column's ground is interpolated along the segment that holds its
// distance (the first sample's ground before the track, the last one's after it). Path: samples
// without an altitude (no position yet) are passed over; the per-sample work is the distance, a
// comparison with the column's end and the column's extremes, the rest runs once per column.
void walkTrack(const ViewFlightLogState* state, u32 count, const MapView* side, TerrainColumns* terrain,
               PathStroke* stroke) {
    i32 next = 0;  // the next terrain column without a ground
    auto columnDistance = [&](i32 c) { return terrain->firstDistance + c * terrain->columnStep; };
    if (count == 0) {
        for (; next < terrain->count; ++next) terrain->grounds[next] = 0;
        return;
    }
    f64 firstGround = groundAt(state, 0);
    for (; next < terrain->count && (count == 1 || columnDistance(next) <= 0); ++next) {
        terrain->grounds[next] = (f32)firstGround;
    }
    f64 nextDistance = next < terrain->count ? columnDistance(next) : INFINITY;

    const f64 scale = side->pixelsPerUnit > 0 ? side->pixelsPerUnit : 1;
    const f64 originX = side->rectCentreX - side->centreX * scale;  // window x of distance 0
    // The open path column in locals (first, lowest, highest, last), so that they stay in registers.
    u32 firstIndex = 0, lowIndex = 0, highIndex = 0, lastIndex = 0;
    f64 firstDistance = 0, lowDistance = 0, highDistance = 0, lastDistance = 0;
    f32 firstAltitude = 0, lowAltitude = 0, highAltitude = 0, lastAltitude = 0;
    bool open = false;
    bool active = false;
    f64 columnEnd = 0;  // the distance where the path's next window column starts
    f64 distance = 0;
    for (u32 i = 0; i < count; ++i) {
        // The common case first: a sample in the open column, in its payload state, short of the next
        // terrain column and with an altitude only moves the column's extremes.
        if (open) {
            f64 limit = columnEnd < nextDistance ? columnEnd : nextDistance;
            u32 start = i;
            while (i < count) {
                f64 d = distance + state->trackStepDistance[i];
                f32 a = state->trackAltitude[i];
                if (!(d < limit) || !(a - a == 0) || payloadActive(state, i) != active) break;
                distance = d;
                if (a < lowAltitude) lowIndex = i, lowDistance = d, lowAltitude = a;
                if (a > highAltitude) highIndex = i, highDistance = d, highAltitude = a;
                ++i;
            }
            if (i > start) lastIndex = i - 1, lastDistance = distance, lastAltitude = state->trackAltitude[i - 1];
            if (i >= count) break;
        }
        if (i > 0) {
            f64 step = state->trackStepDistance[i];
            f64 previous = distance;
            distance += step;
            if (nextDistance <= distance) {
                f64 from = groundAt(state, i - 1);
                f64 to = groundAt(state, i);
                do {
                    f64 f = (nextDistance - previous) / step;
                    terrain->grounds[next] = (f32)(from + (to - from) * f);
                    ++next;
                    nextDistance = next < terrain->count ? columnDistance(next) : INFINITY;
                } while (nextDistance <= distance);
            }
        }
        f32 altitude = state->trackAltitude[i];
        if (!(altitude - altitude == 0)) continue;  // NaN or infinite
        bool sampleActive = payloadActive(state, i);
        if (!open || distance >= columnEnd || sampleActive != active) {
            if (open) {
                PathColumn column{{firstIndex, lowIndex, highIndex, lastIndex},
                                  {firstDistance, lowDistance, highDistance, lastDistance},
                                  {firstAltitude, lowAltitude, highAltitude, lastAltitude}};
                flushColumn(&column, active, side, stroke);
            }
            open = true;
            active = sampleActive;
            f64 x = distance * scale + originX;
            f64 key = std::floor(x < -1e9 ? -1e9 : x > 1e9 ? 1e9 : x);
            columnEnd = key >= 1e9 ? INFINITY : (key + 1 - originX) / scale;
            firstIndex = lowIndex = highIndex = lastIndex = i;
            firstDistance = lowDistance = highDistance = lastDistance = distance;
            firstAltitude = lowAltitude = highAltitude = lastAltitude = altitude;
            continue;
        }
        if (altitude < lowAltitude) lowIndex = i, lowDistance = distance, lowAltitude = altitude;
        if (altitude > highAltitude) highIndex = i, highDistance = distance, highAltitude = altitude;
        lastIndex = i, lastDistance = distance, lastAltitude = altitude;
    }
    if (open) {
        PathColumn column{{firstIndex, lowIndex, highIndex, lastIndex},
                          {firstDistance, lowDistance, highDistance, lastDistance},
                          {firstAltitude, lowAltitude, highAltitude, lastAltitude}};
        flushColumn(&column, active, side, stroke);
    }
    f64 lastGround = groundAt(state, count - 1);
    for (; next < terrain->count; ++next) terrain->grounds[next] = (f32)lastGround;
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

    // The terrain's grounds and the path (merged to a few points per pixel column) in one walk over
    // the track; then the terrain, one column per pixel, and the path's black outline behind it.
    f32 width = textSize * 0.15f;
    i32 firstVertex = ui->batches.line2d.vertexCount;
    f32 grounds[kMaxTerrainColumns];
    i32 columns = (i32)std::ceil(plot.x1 - plot.x0);
    if (columns < 0) columns = 0;
    if (columns > kMaxTerrainColumns) columns = kMaxTerrainColumns;
    f64 ppu = side->pixelsPerUnit > 0 ? side->pixelsPerUnit : 1;
    TerrainColumns terrain{columns, side->centreX + ((f64)plot.x0 + 0.5 - side->rectCentreX) / ppu, 1 / ppu, grounds};
    PathStroke stroke{&clip, width, ui, {}, false, false};
    walkTrack(state, count, side, &terrain, &stroke);
    addThickPolyline(firstVertex, kDepthPath - 0.0005f, kSideViewOutline, width + textSize * 0.1f,
                     &ui->batches.line2d);

    enterProfilingRegionChecked(kDrawTerrain);
    for (i32 c = 0; c < columns; ++c) {
        f32 x0 = plot.x0 + (f32)c;
        drawSideViewTerrainColumn(side, plot, x0, x0 + 1, terrain.firstDistance + c * terrain.columnStep, grounds[c],
                                  total, preferences, ui, kDepthTerrain);
    }
    exitProfilingRegion(kDrawTerrain);

    drawIconAt(Vec2F32{mapViewWindowX(side, travelled), mapViewWindowY(side, vehicleAltitude)}, kDepthVehicle,
               AnchorBottomCentre, 0, textSize * 2, clip, ImageKindAsset, AssetDroneIconSideView,
               &ui->batches.textured2d, ui);
    drawSideViewAxes(side, plot, textSize, total, preferences, ui, kDepthAxes);

    MapTaps taps;
    handleMapPointers(&taps, side, stack);
}
