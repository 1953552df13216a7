// The Drone Setup screen: the connection to the drone in one line, the drone socket's status, and
// the way on to choosing the connection and to the advanced configuration.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Network/Address.h"
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

FixedString mavlinkConnectionStatusText(const AppState* app) {
    FixedString problem = linkPortProblem(&app->droneConnection);
    if (problem.length) return problem;
    if (app->droneSocket.shownStatus.length) return app->droneSocket.shownStatus;
    return makeString("Not connected");
}

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
        // While the simulator runs the link talks to it, whatever connection is chosen; a port that
        // another program holds (a second station on this machine) is said instead, as nothing can
        // arrive then.
        if (app->simulatorRunning) {
            const u8 loopback[4] = {127, 0, 0, 1};
            u16 port = app->simulatedDrone.localPorts[0] ? app->simulatedDrone.localPorts[0] : kSimulatorDronePort;
            AddressRecord simulator = makeAddressRecord(4, loopback, port);
            FixedString problem = linkPortProblem(&app->droneConnection);
            text = problem.length ? problem : formatStr("Connected to the simulator at @", endpointString(&simulator));
        }
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = selectMavlinkConnectionScreen;
    }
    {
        FixedString title = makeString("MAVLink Connection Status");
        FixedString text = mavlinkConnectionStatusText(app);
        infoRow(&title, &text, 0, ui, view);
    }
    {
        // The video source: the protocol and where it comes from, or the stream's own status line.
        const Preferences* preferences = &app->preferences;
        FixedString title = makeString("Video Stream Connection");
        FixedString text = makeString("No Video Stream");
        if (preferences->videoStreamProtocol == VideoStreamRtsp) {
            text = app->rtspVideoStream.stats.status.length ? app->rtspVideoStream.stats.status : preferences->rtspUrl;
        } else if (preferences->videoStreamProtocol == VideoStreamQv) {
            text = app->qvVideoStream.stats.status.length ? app->qvVideoStream.stats.status
                                                          : endpointString(&preferences->qvVideoServerAddress);
        }
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = selectVideoStreamConnectionScreen;
    }
    {
        FixedString title = makeString("Advanced Configuration");
        FixedString text = makeString("Flight controller parameters, MAVLink traffic and flight log recording");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = advancedConfigurationScreen;
    }
    endMapView(stack, ui, view);
}
