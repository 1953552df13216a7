// The Select Mavlink Connection screen: the custom connection's own screen, then the presets and the
// custom connection (while it is set) as check rows of which the active connection is checked.
// Choosing one makes it the active connection and goes back.
#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/MavlinkConnectionSettings.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

struct SelectMavlinkConnectionScreenState {
    u32 initialised;
    MapView listView;
};

// One connection row; returns true on its click, after making the connection the active one.
bool connectionRow(const char* name, const MavlinkConnectionSetting* setting, Preferences* preferences,
                   ScreenStack* stack, UiState* ui, MapView* view) {
    FixedString title = makeString(name);
    FixedString text = mavlinkConnectionDescription(setting);
    i32 checked = isActiveMavlinkConnection(preferences, setting) ? 1 : 0;
    if (!checkboxRow(&title, &text, 0, checked, stack, ui, view).clicked) return false;
    setActiveMavlinkConnection(preferences, setting);
    return true;
}

}  // namespace

void selectMavlinkConnectionScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                   ScreenResult* result, void* scratch) {
    ProfilingScope scope("Select Mavlink Connection Screen");
    SelectMavlinkConnectionScreenState* state = (SelectMavlinkConnectionScreenState*)scratch;
    MapView* view = &state->listView;
    Preferences* preferences = &app->preferences;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("Configure custom MAVLink connection");
        FixedString text = makeString("Specify a different IP address and port to connect to");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = configureCustomMavlinkConnectionScreen;
    }
    bool chosen = false;
    chosen |= connectionRow(mavlinkConnectionPresets[0].name, &mavlinkConnectionPresets[0].setting, preferences, stack,
                            ui, view);
    chosen |= connectionRow(mavlinkConnectionPresets[1].name, &mavlinkConnectionPresets[1].setting, preferences, stack,
                            ui, view);
    MavlinkConnectionSetting custom = customMavlinkConnection(preferences);
    if (custom.kind == DroneConnectionIp) {
        chosen |= connectionRow("Custom Connection", &custom, preferences, stack, ui, view);
    }
    for (i32 i = 2; i < kMavlinkConnectionPresetCount; i++) {
        chosen |= connectionRow(mavlinkConnectionPresets[i].name, &mavlinkConnectionPresets[i].setting, preferences,
                                stack, ui, view);
    }
    endMapView(stack, ui, view);
    if (chosen) result->back = 1;
}
