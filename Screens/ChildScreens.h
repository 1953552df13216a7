// The screens that the Main Screen and the Settings screen open, with those of the screen
// sub-libraries.
#pragma once
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/UserInterface/Screen.h"

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
ORVIK_SCREEN_FUNCTION(viewFlightLogScreen);
