// The drone-link set-up screens that the Main Screen and the Settings screen open.
#pragma once
#include "SourceCommon/UserInterface/Screen.h"

ORVIK_SCREEN_FUNCTION(droneSetupScreen);
ORVIK_SCREEN_FUNCTION(sharingPermissionsScreen);
ORVIK_SCREEN_FUNCTION(relaySettingsScreen);
ORVIK_SCREEN_FUNCTION(simulatorSettingsScreen);
