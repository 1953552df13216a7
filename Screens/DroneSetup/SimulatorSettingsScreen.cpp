// The Simulator Settings screen: a map on which a tap places the simulated drone's take-off point,
// and below it the switch that stops the simulator, the take-off point's coordinates and the three
// check boxes of the simulated payload devices that the simulated drone carries.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Core/Profiler.h"
#include "Map/TileMaps.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr f32 kTileDepth = 0.5f;
constexpr f32 kMarkerDepth = 0.9f;
constexpr f64 kStartPixelsPerTurn = 256.0 * 65536.0;  // tile level 16
constexpr Color kMarkerFill = 0xFF0000FF;  // red
constexpr Color kMarkerOutline = 0xFFFFFFFF;

struct SimulatorSettingsScreenState {
    u32 initialised;
    MapView map;
    MapView listView;
};

struct SimulateRow {
    const char* title;
    const char* description;
    u32 Preferences::*field;
};
const SimulateRow kSimulateRows[3] = {
    {"Simulate Orvik", "The simulated drone carries an Orvik payload", &Preferences::simulateOrvik},
    {"Simulate VOSK", "The simulated drone carries two VOSK units", &Preferences::simulateVosk},
    {"Simulate Strobe", "The simulated drone carries a strobe light", &Preferences::simulateStrobe},
};

Vec2 takeoffPoint(const Preferences* preferences) {
    GeoPoint geo{preferences->simulatorTakeoffLongitude, preferences->simulatorTakeoffLatitude};
    Vec2 point{};
    latLngToMercator(&point, &geo);
    return point;
}

}  // namespace

void simulatorSettingsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                             ScreenResult* result, void* scratch) {
    ProfilingScope scope("Simulator Settings Screen");
    SimulatorSettingsScreenState* state = (SimulatorSettingsScreenState*)scratch;
    Preferences* preferences = &app->preferences;
    Rect screen = ui->screenRect;
    f32 split = screen.y0 + (screen.y1 - screen.y0) * 0.45f;
    Rect mapRect{screen.x0, screen.x1, split, screen.y1};
    Rect listRect{screen.x0, screen.x1, screen.y0, split};
    if (!state->initialised) {
        state->initialised = 1;
        state->map = makeMapView(WIDGET_ID, MapViewModeMap);
        state->listView = makeScrollView(WIDGET_ID);
    }

    // The map, centred on the take-off point when the screen opens.
    MapView* map = &state->map;
    updateMapView(map, &mapRect, Box2{0, 0, -0.5, 0.5}, ui, stack, platform, MapWheelZooms);
    if (state->initialised == 1) {
        state->initialised = 2;
        Vec2 point = takeoffPoint(preferences);
        setMapCenterAndZoom(map, point.x, point.y, kStartPixelsPerTurn);
    }
    drawTileMaps(map, ui, platform, preferences, &app->tileMaps, kTileDepth, 0);
    {
        Vec2 point = takeoffPoint(preferences);
        f32 x = mapViewWindowX(map, wrapNear(point.x, map->centreX));
        f32 y = mapViewWindowY(map, point.y);
        f32 r = screenLineHeight(ui) / 3;
        addRoundedRect(Rect{x - r, x + r, y - r, y + r}, kMarkerDepth, map->clipRect, 2, r, kMarkerFill,
                       kMarkerOutline, &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    }

    // The list under the map.
    MapView* view = &state->listView;
    beginMapView(&listRect, platform, ui, view);
    {
        // Unticked, the simulator stops (the application update closes it down) and the screen
        // closes; "Enable simulator" in the settings starts it again.
        FixedString title = makeString("Simulator running");
        FixedString text = makeString("Untick to stop the simulated drone");
        if (checkboxRow(&title, &text, 0, app->simulatorRunning ? 1 : 0, stack, ui, view).clicked) {
            app->simulatorRunning = 0;
            result->back = 1;
        }
    }
    {
        FixedString title = makeString("Takeoff location");
        FixedString coordinates = formatStrStr("@, @", stringFromDouble(preferences->simulatorTakeoffLatitude, 6),
                                               stringFromDouble(preferences->simulatorTakeoffLongitude, 6));
        FixedString text = formatStr("@. Tap the map to move it; the simulator takes off there when it starts",
                                     coordinates);
        infoRow(&title, &text, 0, ui, view);
    }
    for (const SimulateRow& row : kSimulateRows) {
        FixedString title = makeString(row.title);
        FixedString text = makeString(row.description);
        if (checkboxRow(&title, &text, 0, preferences->*row.field ? 1 : 0, stack, ui, view).clicked) {
            preferences->*row.field = preferences->*row.field ? 0 : 1;
        }
    }
    endMapView(stack, ui, view);

    // A tap on the map moves the take-off point.
    MapTaps taps{};
    handleMapPointers(&taps, map, stack);
    if (taps.count > 0) {
        Vec2 tapped = taps.positions[taps.count - 1];
        tapped.x = wrapNear(tapped.x, 0);
        GeoPoint geo{};
        mercatorToLatLng(&geo, &tapped);
        preferences->simulatorTakeoffLatitude = geo.latitude;
        preferences->simulatorTakeoffLongitude = geo.longitude;
    }
}
