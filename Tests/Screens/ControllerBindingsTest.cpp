// The binding readers against hand-worked values: dead bands of RC channels and game-pad axes, the
// ages of RC data, presses, clicks and holds with an injected clock, and inverted inputs.
#include <gtest/gtest.h>

#include "Core/PreferenceFields.h"
#include "Mavlink/VehicleState.h"
#include "Platform/Input.h"
#include "Drone/ControllerBindings.h"

namespace {

constexpr u64 kSecond = 1000000;

u32 rcChannel(i32 n) { return ControllerInputRcChannel1 + (u32)(n - 1); }
u32 inverted(u32 base) { return base + ControllerInputInverted; }

RcChannels rcWith(i32 channel, u16 value, u64 time) {
    RcChannels rc{};
    rc.time = time;
    rc.count = 18;
    for (u16& v : rc.values) v = 1500;
    rc.values[channel - 1] = value;
    rc.previousTime = time >= 20000 ? time - 20000 : 0;
    rc.previousCount = 18;
    for (u16& v : rc.previousValues) v = 1500;
    return rc;
}

// A new RC message: the latest becomes the previous one.
void receiveRc(RcChannels* rc, i32 channel, u16 value, u64 time) {
    rc->previousTime = rc->time;
    rc->previousCount = rc->count;
    for (i32 i = 0; i < kRcChannelCount; i++) rc->previousValues[i] = rc->values[i];
    rc->time = time;
    rc->values[channel - 1] = value;
}

// Turns the key map over as the screen runner does at the end of a frame.
void nextFrame(InputState* keys) {
    for (i32 i = 0; i < kKeyMapWords; i++) keys->previousKeys[i] = keys->keys[i];
}

void setKey(InputState* keys, i32 code, bool down) {
    if (down) keys->keys[code / 64] |= 1ull << (code % 64);
    else keys->keys[code / 64] &= ~(1ull << (code % 64));
}

TEST(ControllerInputValues, NamesBasesAndSources) {
    EXPECT_STREQ(controllerInputName(0).text, "Unbound");
    EXPECT_STREQ(controllerInputName(rcChannel(3)).text, "RC Channel 3");
    EXPECT_STREQ(controllerInputName(inverted(ControllerInputHerelinkA)).text, "Herelink A (inverted)");
    EXPECT_STREQ(controllerInputName(63).text, "RC Channel 18 (inverted)");
    EXPECT_STREQ(controllerInputName(64).text, "Unknown value (64)");
    EXPECT_STREQ(controllerInputName(4000000000u).text, "Unknown value (4000000000)");

    EXPECT_EQ(controllerInputBase(32), 32u);  // "Unbound (inverted)" has no source
    EXPECT_EQ(controllerInputSource(32), kNoInputSource);
    EXPECT_EQ(controllerInputBase(33), 1u);
    EXPECT_EQ(controllerInputSign(33), -1);
    EXPECT_EQ(controllerInputSign(31), 1);
    EXPECT_EQ(controllerInputSource(ControllerInputPilotProL2), 243);
    EXPECT_EQ(controllerInputSource(ControllerInputHerelinkTrigger), 256);
    EXPECT_EQ(controllerInputSource(ControllerInputHerelinkWheel), 6);
    EXPECT_EQ(controllerInputSource(rcChannel(1)), kNoInputSource);
    EXPECT_EQ(controllerInputRcChannel(rcChannel(18)), 17);
    EXPECT_EQ(controllerInputRcChannel(ControllerInputHerelinkTrigger), -1);
}

TEST(BindingAxisValue, RcChannelsWithTheirDeadBandAndAge) {
    u64 now = 10 * kSecond;
    RcChannels rc = rcWith(3, 1500, now - 1000);
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 0.0f);
    rc.values[2] = 2000;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 1.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(inverted(rcChannel(3)), &rc, nullptr, nullptr, now), -1.0f);
    rc.values[2] = 1000;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), -1.0f);
    // The band edges give 0; just outside them the value starts at 0 and grows by 1/480 per us.
    rc.values[2] = 1520;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 0.0f);
    rc.values[2] = 1480;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 0.0f);
    rc.values[2] = 1760;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 0.5f);

    // Data 3 s old or older, or a channel the message did not carry, reads 0.
    rc.time = now - 3 * kSecond + 1;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 0.5f);
    rc.time = now - 3 * kSecond;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 0.0f);
    rc.time = now;
    rc.count = 2;
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), &rc, nullptr, nullptr, now), 0.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(rcChannel(3), nullptr, nullptr, nullptr, now), 0.0f);
}

TEST(BindingAxisValue, GamepadAxesKeysAndNothing) {
    GamepadState pad{};
    pad.controllerKind = ControllerGamepad;
    InputState keys{};
    // Indices 6 and 7 are the rockers (the wheel on a Herelink); past 7 nothing is read.
    EXPECT_FLOAT_EQ(gamepadAxis(&pad, 6), 0.0f);
    pad.leftRocker = -0.5f;
    pad.rightRocker = 0.75f;
    EXPECT_FLOAT_EQ(gamepadAxis(&pad, 6), -0.5f);
    EXPECT_FLOAT_EQ(gamepadAxis(&pad, 7), 0.75f);
    EXPECT_FLOAT_EQ(gamepadAxis(&pad, 8), 0.0f);
    pad.rightStickY = 0.04f;
    EXPECT_FLOAT_EQ(gamepadAxis(&pad, 3), 0.04f);

    setKey(&keys, 244, true);  // Pilot Pro R1
    EXPECT_FLOAT_EQ(bindingAxisValue(ControllerInputPilotProR1, nullptr, &pad, &keys, 0), 1.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(inverted(ControllerInputPilotProR1), nullptr, &pad, &keys, 0), -1.0f);
    setKey(&keys, 244, false);
    EXPECT_FLOAT_EQ(bindingAxisValue(ControllerInputPilotProR1, nullptr, &pad, &keys, 0), 0.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(ControllerInputUnbound, nullptr, &pad, &keys, 0), 0.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(32, nullptr, &pad, &keys, 0), 0.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(200, nullptr, &pad, &keys, 0), 0.0f);
}

TEST(BindingAxisValue, GamepadDeadZone) {
    EXPECT_FLOAT_EQ(axisPastDeadZone(0.04f), 0.0f);
    EXPECT_FLOAT_EQ(axisPastDeadZone(-0.04f), 0.0f);
    EXPECT_FLOAT_EQ(axisPastDeadZone(1.0f), 1.0f);
    EXPECT_FLOAT_EQ(axisPastDeadZone(-1.0f), -1.0f);
    EXPECT_FLOAT_EQ(axisPastDeadZone(0.52f), 0.5f);
    // The wheel and the rockers read their own axes, not the sticks.
    GamepadState pad{};
    pad.leftStickX = 1.0f;
    EXPECT_FLOAT_EQ(bindingAxisValue(ControllerInputHerelinkWheel, nullptr, &pad, nullptr, 0), 0.0f);
    pad.leftRocker = 1.0f;
    pad.rightRocker = -0.52f;
    EXPECT_FLOAT_EQ(bindingAxisValue(ControllerInputHerelinkWheel, nullptr, &pad, nullptr, 0), 1.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(ControllerInputPilotProLeftRocker, nullptr, &pad, nullptr, 0), 1.0f);
    EXPECT_FLOAT_EQ(bindingAxisValue(ControllerInputPilotProRightRocker, nullptr, &pad, nullptr, 0), -0.5f);
    EXPECT_FLOAT_EQ(bindingAxisValue(inverted(ControllerInputPilotProRightRocker), nullptr, &pad, nullptr, 0), 0.5f);
}

TEST(BindingButtonState, KeyPressClickAndHold) {
    InputState keys{};
    u64 pressStart = 0;
    u64 now = 5 * kSecond;
    const u32 binding = ControllerInputHerelinkA;  // key 251

    // Pressed and released within 0.9 s: one click, on the release frame only.
    setKey(&keys, 251, true);
    BindingButtonState s = bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    EXPECT_EQ(s.down, 1u);
    EXPECT_EQ(s.clicked, 0u);
    EXPECT_EQ(pressStart, now);
    nextFrame(&keys);
    now += 900000;
    s = bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    EXPECT_EQ(s.down, 1u);
    EXPECT_EQ(s.held, 0u);
    setKey(&keys, 251, false);
    now += 16000;
    s = bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    EXPECT_EQ(s.clicked, 1u);
    EXPECT_EQ(s.down, 0u);
    EXPECT_EQ(pressStart, 0u);
    nextFrame(&keys);
    now += 16000;
    s = bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    EXPECT_EQ(s.clicked, 0u);

    // Held 1.2 s: held from just after 1 s, and no click on release.
    setKey(&keys, 251, true);
    u64 start = now;
    bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    nextFrame(&keys);
    now = start + kSecond;
    s = bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    EXPECT_EQ(s.held, 0u);
    now = start + kSecond + 1;
    s = bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    EXPECT_EQ(s.held, 1u);
    EXPECT_EQ(s.down, 1u);
    now = start + 1200000;
    setKey(&keys, 251, false);
    s = bindingButtonState(binding, nullptr, nullptr, nullptr, &keys, &pressStart, now);
    EXPECT_EQ(s.clicked, 0u);
    EXPECT_EQ(s.held, 0u);
    EXPECT_EQ(s.down, 0u);
}

TEST(BindingButtonState, InvertedKeyIsDownWhileUp) {
    InputState keys{};
    u64 pressStart = 0;
    const u32 trigger = inverted(ControllerInputHerelinkTrigger);
    BindingButtonState s = bindingButtonState(trigger, nullptr, nullptr, nullptr, &keys, &pressStart, kSecond);
    EXPECT_EQ(s.down, 1u);
    setKey(&keys, KeyHerelinkTrigger, true);
    s = bindingButtonState(trigger, nullptr, nullptr, nullptr, &keys, &pressStart, kSecond);
    EXPECT_EQ(s.down, 0u);
    s = bindingButtonState(ControllerInputHerelinkTrigger, nullptr, nullptr, nullptr, &keys, &pressStart, kSecond);
    EXPECT_EQ(s.down, 1u);
}

TEST(BindingButtonState, RcChannelAgesAndInterval) {
    u64 pressStart = 0;
    u64 now = 20 * kSecond;
    RcChannels rc = rcWith(5, 1500, now);
    const u32 binding = rcChannel(5);

    receiveRc(&rc, 5, 1700, now);
    BindingButtonState s = bindingButtonState(binding, &rc, nullptr, nullptr, nullptr, &pressStart, now);
    EXPECT_EQ(s.down, 1u);
    EXPECT_EQ(pressStart, now);
    u64 invertedStart = 0;
    EXPECT_EQ(bindingButtonState(inverted(binding), &rc, nullptr, nullptr, nullptr, &invertedStart, now).down, 0u);

    // Held: later messages keep the channel high; down and held last while the latest message is
    // under 2 s old.
    receiveRc(&rc, 5, 1700, now + 100000);
    s = bindingButtonState(binding, &rc, nullptr, nullptr, nullptr, &pressStart, now + 1000000);
    EXPECT_EQ(s.down, 1u);
    EXPECT_EQ(s.held, 0u);
    s = bindingButtonState(binding, &rc, nullptr, nullptr, nullptr, &pressStart, now + 1000001);
    EXPECT_EQ(s.held, 1u);
    s = bindingButtonState(binding, &rc, nullptr, nullptr, nullptr, &pressStart, now + 2099999);
    EXPECT_EQ(s.down, 1u);
    EXPECT_EQ(s.held, 1u);
    s = bindingButtonState(binding, &rc, nullptr, nullptr, nullptr, &pressStart, now + 2100000);
    EXPECT_EQ(s.down, 0u);
    EXPECT_EQ(s.held, 0u);

    // A release 0.5 s after the press is a click when the two messages are close together...
    pressStart = 0;
    RcChannels quick = rcWith(5, 1500, now);
    receiveRc(&quick, 5, 1700, now);
    bindingButtonState(binding, &quick, nullptr, nullptr, nullptr, &pressStart, now);
    receiveRc(&quick, 5, 1500, now + 500000);
    s = bindingButtonState(binding, &quick, nullptr, nullptr, nullptr, &pressStart, now + 500000);
    EXPECT_EQ(s.clicked, 1u);
    // ...and on the next frame with the same messages there is no second click.
    s = bindingButtonState(binding, &quick, nullptr, nullptr, nullptr, &pressStart, now + 516000);
    EXPECT_EQ(s.clicked, 0u);

    // Messages 2 s apart or more neither press nor click.
    pressStart = 0;
    RcChannels slow = rcWith(5, 1500, now);
    receiveRc(&slow, 5, 1700, now + 2000000);
    bindingButtonState(binding, &slow, nullptr, nullptr, nullptr, &pressStart, now + 2000000);
    EXPECT_EQ(pressStart, 0u);

    // A channel beyond the received count reads as released.
    RcChannels few = rcWith(5, 1900, now);
    few.count = 4;
    pressStart = 0;
    EXPECT_EQ(bindingButtonState(binding, &few, nullptr, nullptr, nullptr, &pressStart, now).down, 0u);
    // Inverted RC buttons press below 1400.
    RcChannels low = rcWith(5, 1300, now);
    EXPECT_EQ(bindingButtonState(inverted(binding), &low, nullptr, nullptr, nullptr, &pressStart, now).down, 1u);
    EXPECT_EQ(bindingButtonState(binding, &low, nullptr, nullptr, nullptr, &pressStart, now).down, 0u);
}

TEST(BindingButtonState, NoSourceNeverPresses) {
    InputState keys{};
    for (i32 w = 0; w < kKeyMapWords; w++) keys.keys[w] = ~0ull;
    u64 pressStart = 123;
    for (u32 value : {0u, 32u, 64u, 1000u}) {
        BindingButtonState s = bindingButtonState(value, nullptr, nullptr, nullptr, &keys, &pressStart, kSecond);
        EXPECT_EQ(s.down, 0u);
        EXPECT_EQ(s.clicked, 0u);
        EXPECT_EQ(pressStart, 0u);
    }
}

}  // namespace
