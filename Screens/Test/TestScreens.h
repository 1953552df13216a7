// The diagnostic screens that the Settings screen opens.
#pragma once
#include "SourceCommon/UserInterface/Screen.h"

ORVIK_SCREEN_FUNCTION(testSelectorScreen);
ORVIK_SCREEN_FUNCTION(testSoundsScreen);
