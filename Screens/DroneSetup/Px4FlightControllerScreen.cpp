// The PX4 Flight Controller screen: the three MAVLink serial-port pages, then a row for every other
// parameter that the program keeps in step with the vehicle: a choice of the named values for the
// parameters that PX4 defines them for, a number otherwise.
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

// The named values of PX4's INT32 parameters that have them, as PX4's parameter reference names them.
struct NamedChoices {
    const char* parameter;
    const i32* values;
    const char* const* labels;
    i32 count;
};

constexpr i32 kFailsafeValues[] = {0, 1, 2, 3, 5, 6};
constexpr const char* kFailsafeLabels[] = {"Disabled", "Hold mode", "Return mode", "Land mode", "Terminate", "Disarm"};
constexpr i32 kLowBatteryValues[] = {0, 2, 3};
constexpr const char* kLowBatteryLabels[] = {"Warning", "Land mode",
                                             "Return at critical level, land at emergency level"};
constexpr i32 kTrafficValues[] = {0, 1, 2, 3, 4};
constexpr const char* kTrafficLabels[] = {"Disabled", "Warn only", "Return mode", "Land mode", "Position Hold mode"};
constexpr i32 kOverrideValues[] = {0, 1, 2, 3};
constexpr const char* kOverrideLabels[] = {"Disabled", "During auto modes", "During offboard mode",
                                           "During auto modes and offboard mode"};
constexpr i32 kYawModeValues[] = {0, 1, 2, 3, 4};
constexpr const char* kYawModeLabels[] = {"Towards waypoint", "Towards home", "Away from home", "Along trajectory",
                                          "Towards waypoint (yaw first)"};
constexpr i32 kRcInValues[] = {0, 1, 2, 3, 4};
constexpr const char* kRcInLabels[] = {"RC Transmitter only", "Joystick only", "RC and Joystick with fallback",
                                       "RC or Joystick keep first", "Stick input disabled"};
constexpr i32 kOffboardLossValues[] = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr const char* kOffboardLossLabels[] = {"Position mode", "Altitude mode", "Manual", "Return mode",
                                               "Land mode", "Hold mode", "Terminate", "Disarm"};
constexpr i32 kFlightModeValues[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13};
constexpr const char* kFlightModeLabels[] = {"Unassigned", "Manual", "Altitude", "Position", "Mission",
                                             "Hold", "Return", "Acro", "Offboard", "Stabilized",
                                             "Takeoff", "Land", "Follow Me", "Precision Land"};
constexpr i32 kReturnTypeValues[] = {0, 1, 2, 3};
constexpr const char* kReturnTypeLabels[] = {"Return home via direct path", "Return to closest mission landing",
                                             "Follow mission path", "Return via closest safe point"};
constexpr i32 kGeofenceValues[] = {0, 1, 2, 3, 4, 5};
constexpr const char* kGeofenceLabels[] = {"None", "Warning", "Hold mode", "Return mode", "Terminate", "Land mode"};
constexpr i32 kSwitchValues[] = {0, 1};
constexpr const char* kSwitchLabels[] = {"Disabled", "Enabled"};
constexpr i32 kPrearmValues[] = {0, 1, 2};
constexpr const char* kPrearmLabels[] = {"Disabled", "Safety button", "Always"};
constexpr i32 kBatterySourceValues[] = {-1, 0, 1, 2};
constexpr const char* kBatterySourceLabels[] = {"Disabled", "Power Module", "External", "ESCs"};
constexpr i32 kChannelValues[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
constexpr const char* kChannelLabels[] = {"Unassigned", "Channel 1",  "Channel 2",  "Channel 3",  "Channel 4",
                                          "Channel 5",  "Channel 6",  "Channel 7",  "Channel 8",  "Channel 9",
                                          "Channel 10", "Channel 11", "Channel 12", "Channel 13", "Channel 14",
                                          "Channel 15", "Channel 16", "Channel 17", "Channel 18"};
constexpr i32 kPositionLossValues[] = {0, 1};
constexpr const char* kPositionLossLabels[] = {"Altitude/Manual", "Land/Terminate"};
constexpr i32 kMagStrengthValues[] = {0, 1, 2};
constexpr const char* kMagStrengthLabels[] = {"Disabled", "Deny arming", "Warning only"};
constexpr i32 kLogModeValues[] = {-1, 0, 1, 2, 3, 4};
constexpr const char* kLogModeLabels[] = {"Disabled", "When armed until disarm", "From boot until disarm",
                                          "From boot until shutdown", "Depends on AUX1 RC channel",
                                          "From 1st armed until shutdown"};
constexpr i32 kTakeoffLandingValues[] = {0, 1, 2, 3, 4, 5};
constexpr const char* kTakeoffLandingLabels[] = {"No requirements", "Require a takeoff", "Require a landing",
                                                 "Require a takeoff and a landing",
                                                 "Require both a takeoff and a landing, or neither",
                                                 "Require a takeoff if the mission has a landing"};

template <i32 N>
constexpr NamedChoices choices(const char* parameter, const i32 (&values)[N], const char* const (&labels)[N]) {
    return {parameter, values, labels, N};
}

constexpr NamedChoices kNamedChoices[] = {
    choices("COM_LOW_BAT_ACT", kLowBatteryValues, kLowBatteryLabels),
    choices("NAV_RCL_ACT", kFailsafeValues, kFailsafeLabels),
    choices("NAV_DLL_ACT", kFailsafeValues, kFailsafeLabels),
    choices("NAV_TRAFF_AVOID", kTrafficValues, kTrafficLabels),
    choices("COM_RC_OVERRIDE", kOverrideValues, kOverrideLabels),
    choices("MPC_YAW_MODE", kYawModeValues, kYawModeLabels),
    choices("COM_RC_IN_MODE", kRcInValues, kRcInLabels),
    choices("COM_OBL_RC_ACT", kOffboardLossValues, kOffboardLossLabels),
    choices("COM_FLTMODE1", kFlightModeValues, kFlightModeLabels),
    choices("COM_FLTMODE2", kFlightModeValues, kFlightModeLabels),
    choices("COM_FLTMODE3", kFlightModeValues, kFlightModeLabels),
    choices("COM_FLTMODE4", kFlightModeValues, kFlightModeLabels),
    choices("COM_FLTMODE5", kFlightModeValues, kFlightModeLabels),
    choices("COM_FLTMODE6", kFlightModeValues, kFlightModeLabels),
    choices("RTL_TYPE", kReturnTypeValues, kReturnTypeLabels),
    choices("GF_ACTION", kGeofenceValues, kGeofenceLabels),
    choices("GF_PREDICT", kSwitchValues, kSwitchLabels),
    choices("COM_PREARM_MODE", kPrearmValues, kPrearmLabels),
    choices("BAT1_SOURCE", kBatterySourceValues, kBatterySourceLabels),
    choices("RC_MAP_ROLL", kChannelValues, kChannelLabels),
    choices("RC_MAP_PITCH", kChannelValues, kChannelLabels),
    choices("RC_MAP_YAW", kChannelValues, kChannelLabels),
    choices("RC_MAP_THROTTLE", kChannelValues, kChannelLabels),
    choices("RC_MAP_FLTMODE", kChannelValues, kChannelLabels),
    choices("RC_MAP_KILL_SW", kChannelValues, kChannelLabels),
    choices("RC_MAP_RETURN_SW", kChannelValues, kChannelLabels),
    choices("COM_POSCTL_NAVL", kPositionLossValues, kPositionLossLabels),
    choices("COM_ARM_MAG_STR", kMagStrengthValues, kMagStrengthLabels),
    choices("SDLOG_MODE", kLogModeValues, kLogModeLabels),
    choices("COM_ARM_SWISBTN", kSwitchValues, kSwitchLabels),
    choices("MIS_TKO_LAND_REQ", kTakeoffLandingValues, kTakeoffLandingLabels),
    choices("COM_ARM_CHK_ESCS", kSwitchValues, kSwitchLabels),
    choices("SYS_HAS_BARO", kSwitchValues, kSwitchLabels),
};

const NamedChoices* namedChoicesOf(const FixedString& name) {
    for (const NamedChoices& c : kNamedChoices) {
        size_t length = std::strlen(c.parameter);
        if ((size_t)name.length == length && std::memcmp(name.text, c.parameter, length) == 0) return &c;
    }
    return nullptr;
}

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
        const NamedChoices* named = i < kPx4IntParameters ? namedChoicesOf(name) : nullptr;
        if (named) {
            parameterChoiceRow(name.text, &px4->parameters[i], named->values, named->labels, named->count, stack, ui,
                               view, &id);
        } else {
            parameterNumberRow(name.text, &px4->parameters[i], i >= kPx4IntParameters, &state->editBuffer, stack, ui,
                               view, &id);
        }
    }
    endMapView(stack, ui, view);
}
