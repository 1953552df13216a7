#include "Mission/SideViewPlot.h"

#include <cmath>

#include "Core/Format.h"
#include "Core/Preferences.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

constexpr f64 kFeetPerMetre = 3.280839895;

bool imperial(const Preferences* preferences) { return preferences && preferences->units > UnitsMetricKmh; }

// An axis-aligned rectangle cut to the plot, as the two counter-clockwise triangles that
// addConvexPolygon makes of it, written straight into the batch: the terrain adds thousands a frame.
void fillRect(f32 x0, f32 x1, f32 y0, f32 y1, const Rect& plot, Color color, UiState* ui, f32 depth) {
    // As fmax and fmin: a NaN edge gives way to the plot's.
    x0 = x0 > plot.x0 ? x0 : plot.x0;
    x1 = x1 < plot.x1 ? x1 : plot.x1;
    y0 = y0 > plot.y0 ? y0 : plot.y0;
    y1 = y1 < plot.y1 ? y1 : plot.y1;
    if (!(x0 < x1 && y0 < y1)) return;
    Colored2dBatch* batch = &ui->batches.colored2d;
    i32 n = batch->vertexCount;
    i32 t = batch->triangleCount;
    if (n + 4 > kBatchVertexCapacity || t + 2 > kColored2dTriangles) return;
    const f32 corners[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    for (i32 i = 0; i < 4; ++i) {
        Colored2dVertex* v = &batch->vertices[n + i];
        v->x = corners[i][0];
        v->y = corners[i][1];
        v->z = depth;
        v->color = (i32)color;
        v->extra = 0;
    }
    u16* indices = batch->indices + 3 * (i64)t;
    const i32 fan[6] = {n, n + 1, n + 2, n, n + 2, n + 3};
    for (i32 i = 0; i < 6; ++i) indices[i] = (u16)fan[i];
    batch->vertexCount = n + 4;
    batch->triangleCount = t + 2;
}

// A tick drawn white over a slightly wider black copy.
void drawTick(Vec2F32 a, Vec2F32 b, f32 textSize, UiState* ui, f32 depth) {
    f32 width = textSize * 0.1f;
    Rect everywhere = {-1e9f, 1e9f, -1e9f, 1e9f};
    addLine(a, b, depth, everywhere, kSideViewOutline, width + textSize * 0.1f, &ui->batches.line2d);
    addLine(a, b, depth + 0.0001f, everywhere, kSideViewTick, width, &ui->batches.line2d);
}

TextStyle labelStyle(f32 textSize) { return TextStyle{kSideViewTick, kSideViewOutline, 0, textSize, 0.15f, 0}; }

}  // namespace

Rect sideViewPlotRect(Rect panel, f32 textSize) {
    f32 inset = textSize * 3;
    return Rect{panel.x0 + inset, panel.x1 - inset, panel.y0 + inset, panel.y1 - inset};
}

f64 sideViewGridStep(const MapView* view, f32 textSize, const Preferences* preferences) {
    f64 factor = imperial(preferences) ? kFeetPerMetre : 1.0;
    f64 spacing = view->pixelsPerUnit > 0 ? textSize * 6.0 / view->pixelsPerUnit * factor : 1e18;
    static const f64 kMantissas[3] = {1, 2, 5};
    f64 decade = 0.1;
    for (i32 i = 0; i < 30; ++i) {
        f64 t = decade * kMantissas[i % 3];
        f64 next = i % 3 == 2 ? decade * 10 : decade * kMantissas[i % 3 + 1];
        if (t > 500000000.0 * 1.0000001) break;
        if ((t + next) / 2 > spacing) return t / factor;
        if (i % 3 == 2) decade *= 10;
    }
    return 1000000000.0 / factor;
}

void drawSideViewSky(const Rect& plot, UiState* ui, f32 depth) {
    fillRect(plot.x0, plot.x1, plot.y0, plot.y1, plot, kSideViewSky, ui, depth);
}

void drawSideViewTerrainColumn(const MapView* view, const Rect& plot, f32 x0, f32 x1, f64 distance, f64 ground,
                               f64 totalDistance, const Preferences* preferences, UiState* ui, f32 depth) {
    if (!std::isfinite(ground)) ground = 0;
    f64 low = preferences ? preferences->lowAltitudeWarning : 0;
    f64 airspace = preferences ? preferences->airspaceIndicatorAltitude : 0;
    f32 yGround = mapViewWindowY(view, ground);
    fillRect(x0, x1, plot.y0, yGround, plot, kSideViewEarth, ui, depth);
    if (low > 0) {
        f64 v = (totalDistance - distance) / (low * 0.8333333);
        v -= std::floor(v);
        f64 h = 2 * low * v;
        if (h > low) h = 2 * low - h;
        f32 yZig = mapViewWindowY(view, ground + h);
        fillRect(x0, x1, yGround, yZig, plot, kSideViewBandDark, ui, depth);
        fillRect(x0, x1, yZig, mapViewWindowY(view, ground + low), plot, kSideViewBandLight, ui, depth);
    }
    // A warning altitude of 0 or less has no band: no zigzag (its period would be zero) and the
    // airspace band starts at the ground instead of reaching into the earth.
    if (low < 0) low = 0;
    if (airspace > low) {
        fillRect(x0, x1, mapViewWindowY(view, ground + low), mapViewWindowY(view, ground + airspace), plot,
                 kSideViewAirspace, ui, depth);
    }
}

void drawSideViewAxes(const MapView* view, const Rect& plot, f32 textSize, f64 totalDistance,
                      const Preferences* preferences, UiState* ui, f32 depth) {
    f64 step = sideViewGridStep(view, textSize, preferences);
    Rect everywhere = {-1e9f, 1e9f, -1e9f, 1e9f};
    TextStyle style = labelStyle(textSize);
    f32 half = textSize * 0.5f;
    // Altitudes.
    Vec2 bottomLeft = screenPointToMap(view, plot.x0, plot.y0);
    Vec2 topRight = screenPointToMap(view, plot.x1, plot.y1);
    for (f64 k = std::floor(bottomLeft.y / step); k * step <= topRight.y && k < std::floor(bottomLeft.y / step) + 1000;
         k += 1) {
        f64 altitude = k * step;
        f32 y = mapViewWindowY(view, altitude);
        if (y < plot.y0) continue;
        drawTick(Vec2F32{plot.x0 - half, y}, Vec2F32{plot.x0, y}, textSize, ui, depth);
        drawTextAt(ui, formatLength(altitude, step, preferences), AnchorRightCentre, Vec2F32{plot.x0 - half * 1.5f, y},
                   depth, everywhere, style);
    }
    // Distances: the total first, then the multiples of the step that do not run into its label.
    f32 xTotal = mapViewWindowX(view, totalDistance);
    f32 totalLeft = xTotal;
    if (xTotal >= plot.x0 && xTotal <= plot.x1) {
        drawTick(Vec2F32{xTotal, plot.y0 - half}, Vec2F32{xTotal, plot.y0}, textSize, ui, depth);
        TextLayoutResult placed = drawTextAt(ui, formatLength(totalDistance, step / 10, preferences), AnchorTopCentre,
                                             Vec2F32{xTotal, plot.y0 - half}, depth, everywhere, style);
        totalLeft = placed.bounds.x0 < placed.bounds.x1 ? placed.bounds.x0 : xTotal - textSize * 2;
    }
    f64 from = std::fmax(0.0, bottomLeft.x);
    f64 to = std::fmin(totalDistance, topRight.x);
    for (f64 k = std::floor(from / step); k * step < to && k < std::floor(from / step) + 1000; k += 1) {
        f64 distance = k * step;
        f32 x = mapViewWindowX(view, distance);
        if (x < plot.x0) continue;
        drawTick(Vec2F32{x, plot.y0 - half}, Vec2F32{x, plot.y0}, textSize, ui, depth);
        FixedString label = formatLength(distance, step, preferences);
        // A label whose right half would reach the total's label is left out.
        if (xTotal >= plot.x0 && xTotal <= plot.x1 && x + textSize * 0.3f * label.length > totalLeft &&
            x < xTotal) {
            continue;
        }
        drawTextAt(ui, label, AnchorTopCentre, Vec2F32{x, plot.y0 - half}, depth, everywhere, style);
    }
}
