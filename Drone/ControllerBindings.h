// Controller bindings: each gimbal, camera and map control is a preference holding a ControllerInput,
// one of 64 values. Values 0 to 31 are the base inputs (the rockers and buttons of the Pilot Pro and
// Herelink controllers and the drone's RC channels 1 to 18); 32 + k is base input k inverted. The
// two readers below turn a binding into an axis value or a button state once per frame.
#pragma once
#include "Core/FixedString.h"

struct RcChannels;
struct GamepadState;
struct InputState;

enum ControllerInput : u32 {
    ControllerInputUnbound = 0,
    ControllerInputPilotProLeftRocker = 1,
    ControllerInputPilotProRightRocker = 2,
    ControllerInputPilotProL1 = 3,
    ControllerInputPilotProR1 = 4,
    ControllerInputPilotProL2 = 5,
    ControllerInputPilotProR2 = 6,
    ControllerInputHerelinkWheel = 7,
    ControllerInputHerelinkA = 8,
    ControllerInputHerelinkB = 9,
    ControllerInputHerelinkHome = 10,
    ControllerInputHerelinkC = 11,
    ControllerInputHerelinkD = 12,
    ControllerInputHerelinkTrigger = 13,
    ControllerInputRcChannel1 = 14,
    ControllerInputRcChannel18 = 31,
    ControllerInputInverted = 32,  // added to a base input
    kControllerInputs = 64,
};

constexpr i32 kBaseControllerInputs = 32;
constexpr i32 kNoInputSource = -1;
constexpr i32 kFirstKeySource = 20;  // sources from here on are key codes; below, game-pad axes

// Binding time limits, microseconds.
constexpr u64 kRcAxisMaxAge = 3000000;
constexpr u64 kRcButtonMaxAge = 2000000;
constexpr u64 kBindingClickTime = 1000000;  // a release sooner than this after the press is a click
constexpr u64 kBindingHoldTime = 1000000;   // a press held longer than this is a hold

// RC channel pulse widths, microseconds.
constexpr i32 kRcCentreLow = 1480;
constexpr i32 kRcCentreHigh = 1520;
constexpr f32 kRcAxisSpan = 480.0f;
constexpr i32 kRcButtonPressed = 1600;
constexpr i32 kRcButtonPressedInverted = 1400;

constexpr f32 kAxisDeadZone = 0.04f;
constexpr f32 kAxisButtonThreshold = 0.2f;

struct BindingButtonState {
    u32 clicked;  // a press ended this frame within a second of its start
    u32 down;     // pressed now
    u32 held;     // pressed now for more than a second
};

// A value's base input (0 to 31; 32 for "Unbound (inverted)", which has no source) and sign.
u32 controllerInputBase(u32 input);
i32 controllerInputSign(u32 input);
bool isControllerInputInverted(u32 input);

// Where a base input is read: kNoInputSource, a game-pad axis index (0 to 19) or a key code (20 and
// above). RC channels and anything outside 0 to 13 give kNoInputSource.
i32 controllerInputSource(u32 base);
// The RC channel index (0 to 17) of a base input, or -1 when it is no RC channel.
i32 controllerInputRcChannel(u32 base);

// A game-pad axis by its index: 0 to 3 the sticks (left x, left y, right x, right y), 4 and 5 the
// triggers. Other indices (the rockers and wheel of the radio controllers among them) read 0 until
// the platform layer reports them.
f32 gamepadAxis(const GamepadState* pad, i32 index);

// A game-pad axis past its dead zone of 0.04, stretched back to [-1, 1].
f32 axisPastDeadZone(f32 a);

// The name of a value, or "Unknown value (@)" outside 0 to 63.
FixedString controllerInputName(u32 input);

// A control that moves continuously: [-1, 1] with the dead bands of each source.
f32 bindingAxisValue(u32 input, const RcChannels* rc, const GamepadState* pad, const InputState* keys, u64 now);

// A control that acts on a press. pressStart is the caller's per-binding press-start time (0 while
// released), which this updates.
BindingButtonState bindingButtonState(u32 input, const RcChannels* rc, const GamepadState* previousPad,
                                      const GamepadState* pad, const InputState* keys, u64* pressStart, u64 now);
