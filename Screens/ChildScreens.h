// The screens that the Main Screen and the Settings screen open, as their subsystems provide them.
#pragma once
#include "SourceCommon/UserInterface/Screen.h"

#define ORVIK_SCREEN_FUNCTION(name) \
    void name(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result, void* scratch)

// Map and terrain.
ORVIK_SCREEN_FUNCTION(selectCopernicusRegionScreen);
ORVIK_SCREEN_FUNCTION(selectElevationDataSourceScreen);
// Payload control and the fly screen.
ORVIK_SCREEN_FUNCTION(flyScreen);
ORVIK_SCREEN_FUNCTION(selectOrvikSetupConnectionScreen);
// Overlays.
ORVIK_SCREEN_FUNCTION(overlaysScreen);
// Flight logs.
ORVIK_SCREEN_FUNCTION(flightLogsScreen);
// Drone link.
ORVIK_SCREEN_FUNCTION(droneSetupScreen);
ORVIK_SCREEN_FUNCTION(sharingPermissionsScreen);
ORVIK_SCREEN_FUNCTION(relaySettingsScreen);
ORVIK_SCREEN_FUNCTION(simulatorSettingsScreen);
// Diagnostics.
ORVIK_SCREEN_FUNCTION(testSelectorScreen);
ORVIK_SCREEN_FUNCTION(testSoundsScreen);
