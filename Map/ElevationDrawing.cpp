#include "Map/ElevationDrawing.h"

#include <cmath>

#include "Core/ElevationRaster.h"
#include "Core/ImageSlots.h"
#include "Core/MathEarth.h"
#include "Core/Profiler.h"
#include "Map/ElevationMapLoader.h"
#include "SourceCommon/Renderer/Shaders.h"
#include "SourceCommon/Renderer/TexturedQuads.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/MapView.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr f64 kMercatorLatitudeLimit = 85.0511287798;

// A raster's sample position to unwrapped Web-Mercator: x = longitude / 360 without wrapping, so
// that a raster across the date line stays in one piece.
Vec2 rasterPointToMercator(const RasterGeoreference* georeference, f64 column, f64 row) {
    GeoPoint geo = rasterPixelToLonLat(georeference, column, row);
    f64 latitude = std::fmin(std::fmax(geo.latitude, -kMercatorLatitudeLimit), kMercatorLatitudeLimit);
    return Vec2{geo.longitude / 360.0, std::log(std::tan(latitude * kPi / 360.0 + kPi / 4)) / (2 * kPi)};
}

}  // namespace

u32 elevationMapMode(u32 topographic, u32 lowAltitude, f32 dangerElevation) {
    u32 mode = (topographic ? kElevationModeTopographic : 0u) | (lowAltitude ? kElevationModeDanger : 0u);
    bool threshold = std::isfinite(dangerElevation) && dangerElevation > kNoDangerBelow && dangerElevation < kNoDangerAbove;
    if (!threshold) mode &= ~kElevationModeDanger;
    return mode;
}

void setElevationUniforms(Uniforms* uniforms, const MapView* view, u32 mode, u32 metric, f32 dangerElevation) {
    Vec2 centre{view->centreX, view->centreY};
    GeoPoint geo;
    mercatorToLatLng(&geo, &centre);
    f64 metresPerTurn = metersPerDegreeLongitude(geo.latitude) * 360.0;
    const f32* intervals = metric ? kMetricContourIntervals : kImperialContourIntervals;
    uniforms->elevationMapMode = (f32)mode;
    uniforms->pixelsPerMeter = metresPerTurn > 0 ? (f32)(view->pixelsPerUnit / metresPerTurn) : 0.0f;
    uniforms->dangerElevation = dangerElevation;
    uniforms->thinTopoLineHalfThickness = kContourHalfThicknesses[0];
    uniforms->thickTopoLineHalfThickness = kContourHalfThicknesses[1];
    uniforms->thickestTopoLineHalfThickness = kContourHalfThicknesses[2];
    uniforms->thinTopoLineElevation = intervals[0];
    uniforms->thickTopoLineElevation = intervals[1];
    uniforms->thickestTopoLineElevation = intervals[2];
}

i32 elevationRasterMapBox(const ElevationRaster* raster, f64 box[4]) {
    if (raster->width == 0 || raster->height == 0) return 0;
    box[0] = box[2] = 1e30;
    box[1] = box[3] = -1e30;
    // Along the edges: a projected raster's corners need not be its extremes.
    for (i32 k = 0; k <= kProjectedRasterCells; k++) {
        f64 f = (f64)k / kProjectedRasterCells;
        const f64 edge[4][2] = {{f, 0}, {f, 1}, {0, f}, {1, f}};
        for (const auto& e : edge) {
            Vec2 p = rasterPointToMercator(&raster->georeference, -0.5 + raster->width * e[0], -0.5 + raster->height * e[1]);
            box[0] = std::fmin(box[0], p.x);
            box[1] = std::fmax(box[1], p.x);
            box[2] = std::fmin(box[2], p.y);
            box[3] = std::fmax(box[3], p.y);
        }
    }
    return 1;
}

void drawElevationRaster(const ElevationRaster* raster, const ElevationTiles* tiles, const MapView* view, UiState* ui,
                         f32 depth) {
    if (raster->width == 0 || raster->height == 0 || tiles->columns == 0) return;
    const RasterGeoreference* georeference = &raster->georeference;
    bool grid = georeference->kind == kGeoreferenceLonLatGrid;
    i32 columns = grid ? 1 : kProjectedRasterCells;
    i32 rows = grid ? kGridRasterBands : kProjectedRasterCells;
    // One shift by whole turns for the whole raster, to lie nearest the view's centre.
    f64 shift = 0;
    if (mapViewWraps(view)) {
        f64 rowMiddle = 0.5 * raster->height - 0.5;
        f64 west = rasterPointToMercator(georeference, -0.5, rowMiddle).x;
        f64 east = rasterPointToMercator(georeference, raster->width - 0.5, rowMiddle).x;
        f64 middle = 0.5 * (west + east);
        shift = wrapNear(middle, view->centreX) - middle;
    }
    const Rect& clip = view->clipRect;
    for (u32 tileRow = 0; tileRow < tiles->rows; tileRow++) {
        for (u32 tileColumn = 0; tileColumn < tiles->columns; tileColumn++) {
            // The tile's part of the raster in sample positions: from its first sample's centre to its
            // last one's, or half a sample beyond where it is the raster's edge.
            u32 x0, x1, y0, y1;
            elevationTileRange(raster->width, tileColumn, &x0, &x1);
            elevationTileRange(raster->height, tileRow, &y0, &y1);
            f64 left = x0 == 0 ? -0.5 : x0, right = x1 + 1 == raster->width ? x1 + 0.5 : x1;
            f64 top = y0 == 0 ? -0.5 : y0, bottom = y1 + 1 == raster->height ? y1 + 0.5 : y1;
            f64 tileWidth = x1 - x0 + 1, tileHeight = y1 - y0 + 1;
            i32 slot = tiles->slots[tileRow * tiles->columns + tileColumn];
            Vec2 corners[kProjectedRasterCells + 1][kGridRasterBands + 1];
            for (i32 i = 0; i <= columns; i++) {
                for (i32 j = 0; j <= rows; j++) {
                    corners[i][j] = rasterPointToMercator(georeference, left + (right - left) * i / columns,
                                                          top + (bottom - top) * j / rows);
                }
            }
            for (i32 i = 0; i < columns; i++) {
                for (i32 j = 0; j < rows; j++) {
                    // Going round: top-left, bottom-left, bottom-right, top-right (rows grow southwards).
                    const Vec2* cell[4] = {&corners[i][j], &corners[i][j + 1], &corners[i + 1][j + 1], &corners[i + 1][j]};
                    const i32 di[4] = {0, 0, 1, 1}, dj[4] = {0, 1, 1, 0};
                    Vec2F32 p[4], uv[4];
                    f32 minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
                    for (i32 k = 0; k < 4; k++) {
                        p[k] = Vec2F32{mapViewWindowX(view, cell[k]->x + shift), mapViewWindowY(view, cell[k]->y)};
                        // A texel's centre lies half a texel in from its edge.
                        f64 sampleX = left + (right - left) * (i + di[k]) / columns;
                        f64 sampleY = top + (bottom - top) * (j + dj[k]) / rows;
                        uv[k] = Vec2F32{(f32)((sampleX - x0 + 0.5) / tileWidth), (f32)((sampleY - y0 + 0.5) / tileHeight)};
                        minX = std::fmin(minX, p[k].x);
                        maxX = std::fmax(maxX, p[k].x);
                        minY = std::fmin(minY, p[k].y);
                        maxY = std::fmax(maxY, p[k].y);
                    }
                    if (maxX < clip.x0 || minX > clip.x1 || maxY < clip.y0 || minY > clip.y1) continue;
                    addTexturedQuadClipped(ImageKindSlot, (u32)slot, raster->sampleFormat, (f32)tileWidth,
                                           (f32)tileHeight, p[0], p[1], p[2], p[3], uv[0], uv[1], uv[2], uv[3], clip,
                                           depth, ui->halfWidth, ui->halfHeight, &ui->batches.textured2dMiddle,
                                           (f32)raster->noData);
                }
            }
        }
    }
}

void drawElevationMaps(const ElevationMapLoader* loader, MapView* view, UiState* ui, u32 topographic,
                       u32 lowAltitude, u32 metric, f32 dangerElevation, f32 depth) {
    ProfilingScope scope("Draw Elevation Maps");
    u32 mode = elevationMapMode(topographic, lowAltitude, dangerElevation);
    setElevationUniforms(&ui->uniforms, view, mode, metric, dangerElevation);
    if (mode == 0) return;
    for (u32 k = 0; k < loader->loadedCount && k < kElevationMapSlots; k++) {
        const ElevationMapSlot* slot = &loader->slots[loader->order[k]];
        if (slot->state != ElevationMapLoaded) continue;
        // Tiles the table no longer holds for these samples are not drawn.
        if (!elevationTilesCurrent(&slot->tiles, &slot->raster, &ui->imageSlots)) continue;
        drawElevationRaster(&slot->raster, &slot->tiles, view, ui, depth);
    }
}
