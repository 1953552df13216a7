// The Advanced Configuration screen: which components are heard, the way on to the MAVLink traffic
// view and the flight-controller parameter screens, the gimbal's status, and the switches for
// recording a flight log now and for the Micro Shark camera.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Screens/DroneSetup/DroneSetupRows.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/GremsyParametersScreen.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"

namespace {

// MAVLink's component id of a gimbal.
constexpr u16 kGimbalComponent = 154;

struct AdvancedConfigurationScreenState {
    u32 initialised;
    MapView listView;
};

// The newest source of the drone link that is a gimbal, or null.
const MavlinkSourceTraffic* heardGimbal(const MavlinkSourceTable* sources) {
    const MavlinkSourceTraffic* found = nullptr;
    for (i32 i = 0; i < sources->count; i++) {
        const MavlinkSourceTraffic* entry = &sources->entries[i];
        if ((entry->source & 0xFF) != kGimbalComponent) continue;
        if (!found || entry->lastMessageTime > found->lastMessageTime) found = entry;
    }
    return found;
}

}  // namespace

void px4SerialPortScreenPort0(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                              void* scratch) {
    px4SerialPortScreen(0, platform, stack, ui, app, result, scratch);
}
void px4SerialPortScreenPort1(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                              void* scratch) {
    px4SerialPortScreen(1, platform, stack, ui, app, result, scratch);
}
void px4SerialPortScreenPort2(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                              void* scratch) {
    px4SerialPortScreen(2, platform, stack, ui, app, result, scratch);
}
const ScreenFunction px4SerialPortScreens[3] = {px4SerialPortScreenPort0, px4SerialPortScreenPort1,
                                                px4SerialPortScreenPort2};

void advancedConfigurationScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                 ScreenResult* result, void* scratch) {
    ProfilingScope scope("Advanced Configuration Screen");
    AdvancedConfigurationScreenState* state = (AdvancedConfigurationScreenState*)scratch;
    MapView* view = &state->listView;
    const DroneConnection* connection = &app->droneConnection;
    const VehicleState* vehicle = &connection->vehicle;
    Preferences* preferences = &app->preferences;
    u64 now = stack->now;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("Mavlink Communications");
        FixedString text = formatInt("Receiving messages from @ drone components", connection->droneSources.count);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = mavlinkCommunicationsScreen;
    }
    FixedString vehicleStatus = componentStatusText(vehicle->lastHeartbeatTime, vehicle->vehicleId, now);
    if (vehicle->autopilotKind == AutopilotUnknown || vehicle->autopilotKind == AutopilotPx4) {
        FixedString title = makeString("Px4 Flight Controller Parameters");
        if (buttonRow(&title, &vehicleStatus, 0, stack, ui, view).clicked) result->next = px4FlightControllerScreen;
    }
    if (vehicle->autopilotKind == AutopilotUnknown || vehicle->autopilotKind == AutopilotArduCopter) {
        FixedString title = makeString("ArduCopter Flight Controller Parameters");
        if (buttonRow(&title, &vehicleStatus, 0, stack, ui, view).clicked) {
            result->next = arduCopterFlightControllerScreen;
        }
    }
    {
        // The row shows whether a gimbal is heard and opens its parameters.
        FixedString title = makeString("Gremsy Gimbal Parameters");
        const MavlinkSourceTraffic* gimbal = heardGimbal(&connection->droneSources);
        FixedString text = gimbal ? componentStatusText(gimbal->lastMessageTime, gimbal->source, now)
                                  : makeString("Disconnected");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = gremsyParametersScreen;
    }
    {
        FixedString title = makeString("Record flight log now");
        const FlightLogger* logger = &app->flightLogger;
        // While the log cannot be written, why; "Recording to" only while it can.
        FixedString text = logger->logFileName.length && logger->writeFailure.length ? logger->writeFailure
                           : logger->logFileName.length ? formatStr("Recording to @", logger->logFileName)
                               : makeString("Starts recording a flight log even if the drone isn't flying");
        if (checkboxRow(&title, &text, 0, app->forceLogging ? 1 : 0, stack, ui, view).clicked) {
            app->forceLogging = app->forceLogging ? 0 : 1;
        }
    }
    if (preferences->enableMavlinkJoysticks) {
        FixedString title = makeString("Enable Micro Shark camera");
        FixedString text = makeString("Enables the interface for the Corning Micro HSI 410 Shark camera");
        if (checkboxRow(&title, &text, 0, preferences->enableCorningShark410 ? 1 : 0, stack, ui, view).clicked) {
            preferences->enableCorningShark410 = preferences->enableCorningShark410 ? 0 : 1;
        }
    }
    endMapView(stack, ui, view);
}
