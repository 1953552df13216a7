// The drone-link set-up screens: the connection to the drone (presets and a custom connection), the
// advanced configuration hub with the flight-controller parameter screens and the MAVLink traffic
// view, and the sharing, relaying and simulator screens that the Settings screen opens. Each is a
// screen function whose title is its profiling region; each keeps its own zero-started scratch state.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/Screen.h"

ORVIK_SCREEN_FUNCTION(droneSetupScreen);
ORVIK_SCREEN_FUNCTION(selectMavlinkConnectionScreen);
ORVIK_SCREEN_FUNCTION(configureCustomMavlinkConnectionScreen);
ORVIK_SCREEN_FUNCTION(advancedConfigurationScreen);
ORVIK_SCREEN_FUNCTION(mavlinkCommunicationsScreen);
ORVIK_SCREEN_FUNCTION(px4FlightControllerScreen);
ORVIK_SCREEN_FUNCTION(arduCopterFlightControllerScreen);
ORVIK_SCREEN_FUNCTION(sharingPermissionsScreen);
ORVIK_SCREEN_FUNCTION(relaySettingsScreen);
ORVIK_SCREEN_FUNCTION(simulatorSettingsScreen);
ORVIK_SCREEN_FUNCTION(selectVideoStreamConnectionScreen);
ORVIK_SCREEN_FUNCTION(configureCustomVideoStreamConnectionScreen);
ORVIK_SCREEN_FUNCTION(videoStreamScreen);

struct AppState;
// The Drone Setup screen's "MAVLink Connection Status": a drone-link port held by another program when
// it is, else the drone socket's status, else "Not connected".
FixedString mavlinkConnectionStatusText(const AppState* app);

// A typed custom port: stored when it is a port number (no digits store 0); a number outside 0 to
// 65535 is refused with the message returned, the stored port kept. Empty when stored.
FixedString customVideoPortEntry(const FixedString* entry, AddressRecord* server);

// The serial-port screen of PX4 MAVLink instance 0, 1 or 2 (its MAV_n_* parameters and the baud rate
// of the port it runs on), and the three entries that the PX4 screen pushes, one per instance.
void px4SerialPortScreen(u32 instance, Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                         ScreenResult* result, void* scratch);
ORVIK_SCREEN_FUNCTION(px4SerialPortScreenPort0);
ORVIK_SCREEN_FUNCTION(px4SerialPortScreenPort1);
ORVIK_SCREEN_FUNCTION(px4SerialPortScreenPort2);
extern const ScreenFunction px4SerialPortScreens[3];
