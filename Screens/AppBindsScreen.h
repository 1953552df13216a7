// The App Binds Screen: one row per bindable control of the gimbal, camera and map, where the
// operator picks the controller input that drives it, inverts it, and watches every candidate input
// move live; with the numbers that go with the gimbal bindings and a reset to the controller's
// defaults.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/Screen.h"

struct RcChannels;
struct GamepadState;
struct InputState;

constexpr Color kBindIdleColor = 0xFFE36400;
constexpr Color kBindPositiveColor = 0xFFCACC00;
constexpr Color kBindNegativeColor = 0xFF9E0283;
constexpr Color kBindPressedColor = 0xFF00DDFF;
constexpr i32 kMaxListedInputs = 32;

struct AppBindsScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
};

// The base inputs a controller kind may choose from, in value order: none of the RC channels, and
// for a Pilot Pro no Herelink input, for a Herelink no Pilot Pro input. Returns their number.
i32 listedBaseInputs(u32 controllerKind, u32* out);

// The value a row stores when the Invert box is clicked: 1 to 31 gain 32, 33 to 63 lose 32,
// "Unbound" stays 0 and "Unbound (inverted)" becomes 0.
u32 flipBindingInversion(u32 binding);

// The colour of one input's activity bar.
Color bindActivityColor(u32 isButton, u32 inverted, u32 base, const RcChannels* rc, const GamepadState* pad,
                        const InputState* keys);

// "12.5° above horizon": a number with at most 6 decimals, the degree sign and the rest of the text.
FixedString degreesText(f64 value, const char* after);

// One binding row; edits the binding in place. Returns 1 when the binding changed.
u32 bindingRowWidget(const char* label, u32* binding, u32 isButton, Platform* platform, AppState* app,
                     ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id);

void appBindsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                    void* scratch);
