// The Drone Setup screen: the connection to the drone in one line, the drone socket's status, and
// the way on to choosing the connection and to the advanced configuration.
#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/MavlinkConnectionSettings.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

struct DroneSetupScreenState {
    u32 initialised;
    MapView listView;
};

}  // namespace

void droneSetupScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                      void* scratch) {
    ProfilingScope scope("Drone Setup Screen");
    DroneSetupScreenState* state = (DroneSetupScreenState*)scratch;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("MAVLink Connection");
        MavlinkConnectionSetting active = activeMavlinkConnection(&app->preferences);
        FixedString text = mavlinkConnectionDescription(&active);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = selectMavlinkConnectionScreen;
    }
    {
        FixedString title = makeString("MAVLink Connection Status");
        FixedString text = app->droneSocket.shownStatus;
        if (text.length == 0) text = makeString("Not connected");
        infoRow(&title, &text, 0, ui, view);
    }
    {
        FixedString title = makeString("Advanced Configuration");
        FixedString text = makeString("Flight controller parameters, MAVLink traffic and flight log recording");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = advancedConfigurationScreen;
    }
    endMapView(stack, ui, view);
}
