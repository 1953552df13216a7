// The developer screens behind the Main Screen's "DEBUG" button: the Test Selector and the screens
// it opens to check controllers, keys, sounds, the gimbal, the 3D path, clipping, the link's
// sequence numbers and where frame time goes. The Settings screen also opens Test Sounds.
#pragma once
#include "SourceCommon/UserInterface/Screen.h"

ORVIK_SCREEN_FUNCTION(testSelectorScreen);
ORVIK_SCREEN_FUNCTION(testGamepadScreen);
ORVIK_SCREEN_FUNCTION(testSoundsScreen);
ORVIK_SCREEN_FUNCTION(testPixyUScreen);
ORVIK_SCREEN_FUNCTION(test3DScreen);
ORVIK_SCREEN_FUNCTION(profilingScreen);
ORVIK_SCREEN_FUNCTION(fcSequenceScreen);
ORVIK_SCREEN_FUNCTION(debugNvScreen);
ORVIK_SCREEN_FUNCTION(designSoundScreen);
ORVIK_SCREEN_FUNCTION(duvevDebugScreen);
ORVIK_SCREEN_FUNCTION(testClippingScreen);
ORVIK_SCREEN_FUNCTION(testKeysScreen);
