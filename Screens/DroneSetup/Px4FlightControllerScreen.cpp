// The PX4 Flight Controller screen: the three MAVLink serial-port pages, then a number row for every
// other parameter that the program keeps in step with the vehicle.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Drone/FlightController/Parameters.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/MavlinkConnectionSettings.h"
#include "Screens/DroneSetup/ParameterRows.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"

namespace {

struct Px4FlightControllerScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
};

// The parameter rows' ids: the slot index with a tag of their own, apart from the call-site ids.
const char kParameterRowTag[] = "Px4FlightControllerScreen parameter rows";

// The serial-port parameters have their own pages.
bool onSerialPortPage(const FixedString& name) {
    return (name.length >= 4 && std::memcmp(name.text, "MAV_", 4) == 0) ||
           (name.length >= 4 && std::memcmp(name.text, "SER_", 4) == 0);
}

}  // namespace

void px4FlightControllerScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                               ScreenResult* result, void* scratch) {
    ProfilingScope scope("Px4 Flight Controller Screen");
    Px4FlightControllerScreenState* state = (Px4FlightControllerScreenState*)scratch;
    MapView* view = &state->listView;
    Px4State* px4 = &app->droneConnection.px4;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    for (i32 instance = 0; instance < 3; instance++) {
        FixedString title = formatInt("MAVLink instance @ serial port", instance);
        FixedString configName = formatInt("MAV_@_CONFIG", instance);
        i32 slot = px4ParameterSlotByName(configName.text);
        FixedString text{};
        if (slot >= 0) {
            px4->parameters[slot].viewedTime = stack->now;
            text = formatIntStr("MAV_@_CONFIG: @", instance, parameterValueText(&px4->parameters[slot], false));
        }
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = px4SerialPortScreens[instance];
    }
    for (i32 i = 0; i < kPx4Parameters; i++) {
        FixedString name = fixedStringFromCharField((const u8*)Px4ParameterNames[i], kParameterNameBytes);
        if (onSerialPortPage(name)) continue;
        WidgetId id{(u64)i, kParameterRowTag};
        parameterNumberRow(name.text, &px4->parameters[i], i >= kPx4IntParameters, &state->editBuffer, stack, ui, view,
                           &id);
    }
    endMapView(stack, ui, view);
}
