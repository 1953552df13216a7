#include "Drone/ControllerBindings.h"

#include "Core/Format.h"
#include "Core/PreferenceFields.h"
#include "Mavlink/VehicleState.h"
#include "Platform/Input.h"

namespace {

// The source of base inputs 0 to 13: -1 none, 0-19 a game-pad axis, 20 and above a key code.
constexpr i32 kInputSources[14] = {
    kNoInputSource,
    6,    // Pilot Pro Left Rocker
    7,    // Pilot Pro Right Rocker
    242,  // Pilot Pro L1
    244,  // Pilot Pro R1
    243,  // Pilot Pro L2
    245,  // Pilot Pro R2
    6,    // Herelink Wheel
    251,  // Herelink A
    252,  // Herelink B
    255,  // Herelink Home
    253,  // Herelink C
    254,  // Herelink D
    KeyHerelinkTrigger,
};

bool rcChannelPressed(i32 channel, i32 count, const u16* values, bool inverted) {
    if (channel < 0 || channel >= count || channel >= kRcChannelCount) return false;
    i32 value = values[channel];
    return inverted ? value < kRcButtonPressedInverted : value > kRcButtonPressed;
}

}  // namespace

u32 controllerInputBase(u32 input) { return input < 33 ? input : input - 32; }

i32 controllerInputSign(u32 input) { return input < 33 ? 1 : -1; }

bool isControllerInputInverted(u32 input) { return input >= 33; }

i32 controllerInputSource(u32 base) {
    if (base >= sizeof(kInputSources) / sizeof(kInputSources[0])) return kNoInputSource;
    return kInputSources[base];
}

i32 controllerInputRcChannel(u32 base) {
    if (base < ControllerInputRcChannel1 || base > ControllerInputRcChannel18) return -1;
    return (i32)(base - ControllerInputRcChannel1);
}

f32 gamepadAxis(const GamepadState* pad, i32 index) {
    if (!pad) return 0;
    switch (index) {
        case 0: return pad->leftStickX;
        case 1: return pad->leftStickY;
        case 2: return pad->rightStickX;
        case 3: return pad->rightStickY;
        case 4: return pad->leftTrigger;
        case 5: return pad->rightTrigger;
        case 6: return pad->leftRocker;
        case 7: return pad->rightRocker;
        default: return 0;
    }
}

f32 axisPastDeadZone(f32 a) {
    if (a > kAxisDeadZone) return (a - kAxisDeadZone) / (1 - kAxisDeadZone);
    if (a < -kAxisDeadZone) return (a + kAxisDeadZone) / (1 - kAxisDeadZone);
    return 0;
}

FixedString controllerInputName(u32 input) {
    if (input >= kControllerInputCount) return formatInt("Unknown value (@)", (i64)input);
    return makeString(controllerInputNames[input]);
}

f32 bindingAxisValue(u32 input, const RcChannels* rc, const GamepadState* pad, const InputState* keys, u64 now) {
    if (input >= kControllerInputs) return 0;
    u32 base = controllerInputBase(input);
    f32 sign = (f32)controllerInputSign(input);

    i32 channel = controllerInputRcChannel(base);
    if (channel >= 0) {
        if (!rc || rc->time > now || now - rc->time >= kRcAxisMaxAge) return 0;
        if (channel >= rc->count || channel >= kRcChannelCount) return 0;
        i32 p = rc->values[channel];
        if (p > kRcCentreHigh) return sign * (f32)(p - kRcCentreHigh) / kRcAxisSpan;
        if (p < kRcCentreLow) return sign * (f32)(p - kRcCentreLow) / kRcAxisSpan;
        return 0;
    }
    i32 source = controllerInputSource(base);
    if (source >= kFirstKeySource) return keys && isKeyDown(keys, source) ? sign : 0.0f;
    if (source >= 0) {
        return sign * axisPastDeadZone(gamepadAxis(pad, source));
    }
    return 0;
}

BindingButtonState bindingButtonState(u32 input, const RcChannels* rc, const GamepadState* previousPad,
                                      const GamepadState* pad, const InputState* keys, u64* pressStart, u64 now) {
    BindingButtonState result{};
    bool current = false, previous = false;
    // Keys and axes are sampled every frame, so their samples count as fresh.
    u64 interval = 0, age = 0;
    if (input < kControllerInputs) {
        u32 base = controllerInputBase(input);
        bool inverted = isControllerInputInverted(input);
        i32 channel = controllerInputRcChannel(base);
        i32 source = controllerInputSource(base);
        if (channel >= 0) {
            if (rc) {
                current = rcChannelPressed(channel, rc->count, rc->values, inverted);
                previous = rcChannelPressed(channel, rc->previousCount, rc->previousValues, inverted);
                // A message from the future or a pair out of order counts as too old.
                interval = rc->time >= rc->previousTime ? rc->time - rc->previousTime : ~0ull;
                age = now >= rc->time ? now - rc->time : ~0ull;
            }
        } else if (source >= kFirstKeySource) {
            if (keys) {
                current = isKeyDown(keys, source) != inverted;
                previous = wasKeyDown(keys, source) != inverted;
            }
        } else if (source >= 0) {
            f32 sign = (f32)controllerInputSign(input);
            current = sign * gamepadAxis(pad, source) > kAxisButtonThreshold;
            previous = sign * gamepadAxis(previousPad, source) > kAxisButtonThreshold;
        }
    }

    if (interval < kRcButtonMaxAge) {
        if (current && !previous) *pressStart = now;
        if (previous && !current && *pressStart != 0 && now - *pressStart < kBindingClickTime) result.clicked = 1;
    }
    if (age < kRcButtonMaxAge) {
        result.down = current ? 1 : 0;
        result.held = current && now - *pressStart > kBindingHoldTime ? 1 : 0;
    }
    if (!current) *pressStart = 0;
    return result;
}
