// The Gremsy Parameters Screen: the gimbal's firmware version and its message rates, each rate
// editable; edits go to the live connection's gimbal, which the drone link keeps in step.
#pragma once
#include "SourceCommon/UserInterface/Screen.h"

struct GremsyGimbalState;

ORVIK_SCREEN_FUNCTION(gremsyParametersScreen);

// The firmware row's value: "X.Y.Z" of the three version parameters, or "Unknown" until all three
// have arrived.
FixedString gremsyFirmwareText(const GremsyGimbalState* gimbal);
