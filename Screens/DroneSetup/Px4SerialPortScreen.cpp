// The PX4 serial-port page of one MAVLink instance: which port the instance runs on, its mode, data
// rate and forwarding, and the baud rate of the port it runs on.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Drone/FlightController/Parameters.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/ParameterRows.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"

namespace {

struct Px4SerialPortScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
};

constexpr i32 kConfigValues[] = {0, 101, 102, 103, 104, 201, 202, 300, 301, 1000};
constexpr const char* kConfigLabels[] = {"Disabled", "TELEM 1", "TELEM 2", "TELEM 3", "TELEM/SERIAL 4", "GPS 1",
                                         "GPS 2", "Radio Controller", "Wifi Port", "Ethernet"};
constexpr i32 kModeValues[] = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr const char* kModeLabels[] = {"Normal", "Custom", "Onboard", "OSD", "Magic", "Config", "Iridium", "Minimal"};
constexpr i32 kForwardValues[] = {0, 1};
constexpr const char* kForwardLabels[] = {"Disabled", "Enabled"};

ParameterSlot* slotNamed(Px4State* px4, const FixedString& name) {
    i32 index = px4ParameterSlotByName(name.text);
    return index >= 0 ? &px4->parameters[index] : nullptr;
}

// The baud-rate parameter of the port an instance runs on, or null for a port the program does not
// keep one for.
const char* baudParameterOf(i32 config) {
    switch (config) {
        case 101: return "SER_TEL1_BAUD";
        case 102: return "SER_TEL2_BAUD";
        case 201: return "SER_GPS1_BAUD";
        default: return nullptr;
    }
}

}  // namespace

void px4SerialPortScreen(u32 instance, Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                         ScreenResult* result, void* scratch) {
    (void)result;
    ProfilingScope scope("Px4 Serial Port Screen");
    Px4SerialPortScreenState* state = (Px4SerialPortScreenState*)scratch;
    MapView* view = &state->listView;
    Px4State* px4 = &app->droneConnection.px4;
    if (instance > 2) instance = 2;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = formatInt("MAVLink instance @", instance);
        FixedString text = makeString("Changes are sent to the flight controller; reboot it to apply them");
        infoRow(&title, &text, 0, ui, view);
    }
    FixedString configName = formatInt("MAV_@_CONFIG", instance);
    ParameterSlot* config = slotNamed(px4, configName);
    if (config) {
        WidgetId id = WIDGET_ID;
        parameterChoiceRow(configName.text, config, kConfigValues, kConfigLabels, 10, stack, ui, view, &id);
    }
    if (ParameterSlot* slot = slotNamed(px4, formatInt("MAV_@_MODE", instance))) {
        WidgetId id = WIDGET_ID;
        FixedString name = formatInt("MAV_@_MODE", instance);
        parameterChoiceRow(name.text, slot, kModeValues, kModeLabels, 8, stack, ui, view, &id);
    }
    if (ParameterSlot* slot = slotNamed(px4, formatInt("MAV_@_RATE", instance))) {
        WidgetId id = WIDGET_ID;
        FixedString name = formatInt("MAV_@_RATE", instance);
        parameterNumberRow(name.text, slot, false, &state->editBuffer, stack, ui, view, &id);
    }
    if (ParameterSlot* slot = slotNamed(px4, formatInt("MAV_@_FORWARD", instance))) {
        WidgetId id = WIDGET_ID;
        FixedString name = formatInt("MAV_@_FORWARD", instance);
        parameterChoiceRow(name.text, slot, kForwardValues, kForwardLabels, 2, stack, ui, view, &id);
    }
    const char* baud = config && (config->received || config->changeTime) ? baudParameterOf(parameterInt(config->wanted))
                                                                           : nullptr;
    if (baud) {
        WidgetId id = WIDGET_ID;
        parameterNumberRow(baud, slotNamed(px4, makeString(baud)), false, &state->editBuffer, stack, ui, view, &id);
    }
    endMapView(stack, ui, view);
}
