// The drone-link set-up screens that the Main Screen and the Settings screen open.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/Screen.h"

ORVIK_SCREEN_FUNCTION(droneSetupScreen);
ORVIK_SCREEN_FUNCTION(sharingPermissionsScreen);
ORVIK_SCREEN_FUNCTION(relaySettingsScreen);
ORVIK_SCREEN_FUNCTION(simulatorSettingsScreen);
ORVIK_SCREEN_FUNCTION(selectVideoStreamConnectionScreen);
ORVIK_SCREEN_FUNCTION(configureCustomVideoStreamConnectionScreen);
ORVIK_SCREEN_FUNCTION(videoStreamScreen);

// A typed custom port: stored when it is a port number (no digits store 0); a number outside 0 to
// 65535 is refused with the message returned, the stored port kept. Empty when stored.
FixedString customVideoPortEntry(const FixedString* entry, AddressRecord* server);
