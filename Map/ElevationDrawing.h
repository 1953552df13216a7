// Terrain on a map view: every loaded elevation raster drawn as a warped textured mesh over its image
// slots (one, or tiles where the raster is larger than a texture may be), which the textured_2d
// program shades by the frame's elevation uniforms: hill shading and contour lines (topographic), and
// a red tint with a dark red line where the ground rises above the danger elevation (low altitude).
// No-data samples leave holes through which the map shows.
#pragma once
#include "Core/Types.h"

struct ElevationMapLoader;
struct MapView;
struct UiState;
struct Uniforms;
struct ElevationRaster;
struct ElevationTiles;

// Elevation map modes of the uniforms: the topographic bit and the danger bit.
constexpr u32 kElevationModeTopographic = 1;
constexpr u32 kElevationModeDanger = 2;

// Danger elevations that mean "no threshold": no danger shading at all.
constexpr f32 kNoDangerBelow = -32768.0f;  // this or lower
constexpr f32 kNoDangerAbove = 10000.0f;   // this or higher

// Contour intervals in metres, thin, thick and thickest: 10, 50 and 100 m, or 20, 100 and 500 ft.
constexpr f32 kMetricContourIntervals[3] = {10.0f, 50.0f, 100.0f};
constexpr f32 kImperialContourIntervals[3] = {20.0f * 0.3048f, 100.0f * 0.3048f, 500.0f * 0.3048f};
// Their half thicknesses in pixels.
constexpr f32 kContourHalfThicknesses[3] = {0.5f, 1.0f, 1.5f};

// Mesh cells of one raster: a longitude/latitude grid is linear across, so only its rows are cut
// into bands (Web-Mercator is not linear in latitude); a projected raster is warped both ways.
constexpr i32 kGridRasterBands = 32;
constexpr i32 kProjectedRasterCells = 16;

// The mode: topographic x 1 + low altitude x 2, without the danger bit when the threshold is not a
// finite height between the two "no threshold" values.
u32 elevationMapMode(u32 topographic, u32 lowAltitude, f32 dangerElevation);

// Sets the elevation uniforms for the view: mode, pixels per metre at the view's centre latitude,
// danger elevation, and the metric or imperial contour intervals with their half thicknesses.
void setElevationUniforms(Uniforms* uniforms, const MapView* view, u32 mode, u32 metric, f32 dangerElevation);

// Draws the loaded rasters that have a texture (the one nearest the area's centre on top) into the
// middle textured batch at depth, over the tiles and under the map's content, and sets the frame's
// elevation uniforms (one setting per frame: the last caller's). Nothing when the mode is 0.
void drawElevationMaps(const ElevationMapLoader* loader, MapView* view, UiState* ui, u32 topographic,
                       u32 lowAltitude, u32 metric, f32 dangerElevation, f32 depth);

// The normalised Web-Mercator box {minX, maxX, minY, maxY} that a raster covers (to its outer sample
// edges); 0 when the raster is empty.
i32 elevationRasterMapBox(const ElevationRaster* raster, f64 box[4]);

// One raster's mesh over its tiles' image slots; for drawElevationMaps and tests.
void drawElevationRaster(const ElevationRaster* raster, const ElevationTiles* tiles, const MapView* view, UiState* ui,
                         f32 depth);
