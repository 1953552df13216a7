// The pieces every altitude profile shares (the mission's side view and a flight log's): the plot
// area, its colours, the 1-2-5 grid step, the axes with their length labels, the sky and one
// terrain column with the low-altitude and airspace bands. The view is a MapView whose x is the
// distance along the path and y the altitude above the take-off point, both in metres.
#pragma once
#include "Core/GeometryTypes.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/MapView.h"

struct UiState;
struct Preferences;

constexpr Color kSideViewSky = 0xFFFFA64D;            // 77, 166, 255
constexpr Color kSideViewEarth = 0xFF364459;          // 89, 68, 54
constexpr Color kSideViewBandDark = 0xFF267326;       // 38, 115, 38
constexpr Color kSideViewBandLight = 0xFF339933;      // 51, 153, 51
constexpr Color kSideViewAirspace = 0xFFFFCC99;       // 153, 204, 255
constexpr Color kSideViewPathIgnited = 0xFF00DDFF;    // 255, 221, 0
constexpr Color kSideViewPathPlain = 0xFFE36400;      // 0, 100, 227
constexpr Color kSideViewLowSpot = 0xFF1E1EE6;        // 230, 30, 30
constexpr Color kSideViewAcknowledged = 0xFFB4B4B4;   // 180, 180, 180
constexpr Color kSideViewOutline = 0xFF000000;
constexpr Color kSideViewTick = 0xFFFFFFFF;
constexpr f64 kSideViewMarginMetres = 60.0;  // the content reaches this far before and after the path

// The panel less 3 text sizes on every side, where the labels go.
Rect sideViewPlotRect(Rect panel, f32 textSize);

// The grid step in metres: the first value t of 0.1, 0.2, 0.5, 1, 2, 5, ... 500,000,000 in the
// display unit (feet when "Units" is imperial) whose midpoint with the next value is above the
// spacing of 6 text sizes in that unit; 1,000,000,000 when none is.
f64 sideViewGridStep(const MapView* view, f32 textSize, const Preferences* preferences);

void drawSideViewSky(const Rect& plot, UiState* ui, f32 depth);

// One column of terrain, from window x0 to x1, at a distance with the ground g above the take-off
// point (not finite: 0): earth up to g; from g to g + L the band split by a zigzag that repeats every
// 0.8333333 L of distance; from g + L to g + A the airspace band. L and A are "Low altitude warning
// (m)" and "Airspace indicator altitude (m)". Everything is cut to the plot.
void drawSideViewTerrainColumn(const MapView* view, const Rect& plot, f32 x0, f32 x1, f64 distance, f64 ground,
                               f64 totalDistance, const Preferences* preferences, UiState* ui, f32 depth);

// Altitude ticks with labels left of the plot, distance ticks with labels below it, and a tick with
// the total distance at the path's end.
void drawSideViewAxes(const MapView* view, const Rect& plot, f32 textSize, f64 totalDistance,
                      const Preferences* preferences, UiState* ui, f32 depth);
