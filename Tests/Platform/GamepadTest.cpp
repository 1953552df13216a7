// The game pad: the DualShock 4 report decoder and the XInput-path poll, both feeding the same
// record and keys 223-236.
#include <gtest/gtest.h>

#include <cstring>

#include "Platform/Input.h"

namespace {

// A neutral report: sticks centred, hat released, no buttons, triggers up.
struct Report {
    u8 bytes[64] = {0x01, 128, 127, 128, 127, 0x08, 0, 0, 0, 0};
};

struct GamepadFixture : ::testing::Test {
    GamepadState pad{};
    InputState input{};
    i32 decode(const Report& report, u64 now = 1) { return decodeDualShock4Report(report.bytes, 64, now, &pad, &input); }
    bool down(i32 code) const { return isKeyDown(&input, code); }
};

TEST(DualShock4Axis, DeadBandAndEnds) {
    EXPECT_EQ(dualShock4Axis(128, false), 0.0f);
    EXPECT_EQ(dualShock4Axis(127, true), 0.0f);
    EXPECT_FLOAT_EQ(dualShock4Axis(132, false), 1.0f / 124);
    EXPECT_EQ(dualShock4Axis(131, false), 0.0f);
    EXPECT_EQ(dualShock4Axis(124, false), 0.0f);  // v = -4: still inside
    EXPECT_FLOAT_EQ(dualShock4Axis(123, false), -1.0f / 124);
    EXPECT_FLOAT_EQ(dualShock4Axis(0, false), -1.0f);
    EXPECT_FLOAT_EQ(dualShock4Axis(255, false), 1.0f);
    // y axes point up: a stick pushed forward reports small bytes.
    EXPECT_FLOAT_EQ(dualShock4Axis(0, true), 1.0f);
    EXPECT_FLOAT_EQ(dualShock4Axis(255, true), -1.0f);
    for (i32 b = 0; b < 256; b++) {
        f32 x = dualShock4Axis((u8)b, false);
        f32 y = dualShock4Axis((u8)b, true);
        ASSERT_GE(x, -1.0f);
        ASSERT_LE(x, 1.0f);
        ASSERT_GE(y, -1.0f);
        ASSERT_LE(y, 1.0f);
    }
}

TEST_F(GamepadFixture, ReportFillsTheRecord) {
    Report report;
    report.bytes[1] = 0;
    report.bytes[2] = 0;
    report.bytes[3] = 255;
    report.bytes[4] = 127;
    report.bytes[8] = 255;
    report.bytes[9] = 51;
    pad.leftTrigger = 0.7f;
    ASSERT_EQ(decode(report, 42), 0);
    EXPECT_TRUE(equals(pad.name, "Sony Dualshock 4"));
    EXPECT_EQ(pad.controllerKind, ControllerGamepad);
    EXPECT_EQ(pad.time, 42u);
    EXPECT_FLOAT_EQ(pad.leftStickX, -1.0f);
    EXPECT_FLOAT_EQ(pad.leftStickY, 1.0f);
    EXPECT_FLOAT_EQ(pad.rightStickX, 1.0f);
    EXPECT_EQ(pad.rightStickY, 0.0f);
    EXPECT_FLOAT_EQ(pad.leftTrigger, 1.0f);
    EXPECT_FLOAT_EQ(pad.rightTrigger, 0.2f);
    for (i32 code = KeyPadCross; code <= KeyPadShare; code++) EXPECT_FALSE(down(code)) << code;
}

TEST_F(GamepadFixture, HatDirections) {
    struct {
        u8 hat;
        bool left, right, up, downKey;
    } cases[] = {
        {0, false, false, true, false}, {1, false, true, true, false}, {2, false, true, false, false},
        {3, false, true, false, true},  {4, false, false, false, true}, {5, true, false, false, true},
        {6, true, false, false, false}, {7, true, false, true, false},  {8, false, false, false, false},
        {15, false, false, false, false},
    };
    for (auto& c : cases) {
        Report report;
        report.bytes[5] = c.hat;
        decode(report);
        EXPECT_EQ(down(KeyPadLeft), c.left) << (int)c.hat;
        EXPECT_EQ(down(KeyPadRight), c.right) << (int)c.hat;
        EXPECT_EQ(down(KeyPadUp), c.up) << (int)c.hat;
        EXPECT_EQ(down(KeyPadDown), c.downKey) << (int)c.hat;
    }
}

TEST_F(GamepadFixture, ButtonsByBit) {
    struct {
        i32 byte;
        u8 bit;
        i32 code;
    } buttons[] = {
        {5, 0x20, KeyPadCross},        {5, 0x40, KeyPadCircle},        {5, 0x10, KeyPadSquare},
        {5, 0x80, KeyPadTriangle},     {6, 0x01, KeyPadLeftShoulder},  {6, 0x02, KeyPadRightShoulder},
        {6, 0x40, KeyPadLeftThumb},    {6, 0x80, KeyPadRightThumb},    {6, 0x20, KeyPadOptions},
        {6, 0x10, KeyPadShare},
    };
    for (auto& button : buttons) {
        Report report;
        report.bytes[button.byte] |= button.bit;
        decode(report);
        for (auto& other : buttons) EXPECT_EQ(down(other.code), other.code == button.code) << button.code << " " << other.code;
    }
    Report released;
    decode(released);
    for (auto& button : buttons) EXPECT_FALSE(down(button.code));
    EXPECT_EQ(input.eventCount, 0);  // pad buttons have no key events
}

TEST_F(GamepadFixture, ShortReportsAndRemoteFeedsAreIgnored) {
    Report report;
    report.bytes[5] = 0x28;
    EXPECT_EQ(decodeDualShock4Report(report.bytes, 9, 1, &pad, &input), 1);
    EXPECT_EQ(decodeDualShock4Report(nullptr, 64, 1, &pad, &input), 1);
    EXPECT_EQ(pad.controllerKind, ControllerNone);
    pad.remote = 1;
    pad.leftStickX = 0.25f;
    EXPECT_EQ(decode(report), 1);
    EXPECT_EQ(pad.leftStickX, 0.25f);
    EXPECT_FALSE(down(KeyPadCross));
}

TEST_F(GamepadFixture, PadPollScalesSticksAndTriggers) {
    PadPoll poll{};
    poll.leftStickX = -32768;
    poll.leftStickY = 32767;
    poll.rightStickX = 16384;
    poll.rightStickY = -1;
    poll.leftTrigger = 255;
    poll.rightTrigger = 128;
    poll.buttons = PadButtonA | PadButtonUp | PadButtonStart;
    applyPadPoll(&poll, 2, 77, &pad, &input);
    EXPECT_TRUE(equals(pad.name, "XInput 2"));
    EXPECT_EQ(pad.controllerKind, ControllerGamepad);
    EXPECT_EQ(pad.time, 77u);
    EXPECT_FLOAT_EQ(pad.leftStickX, -1.0f);
    EXPECT_FLOAT_EQ(pad.leftStickY, 32767.0f / 32768.0f);
    EXPECT_FLOAT_EQ(pad.rightStickX, 0.5f);
    EXPECT_FLOAT_EQ(pad.rightStickY, -1.0f / 32768.0f);
    EXPECT_FLOAT_EQ(pad.leftTrigger, 1.0f);
    EXPECT_FLOAT_EQ(pad.rightTrigger, 128.0f / 255.0f);
    EXPECT_TRUE(down(KeyPadCross));
    EXPECT_TRUE(down(KeyPadUp));
    EXPECT_TRUE(down(KeyPadOptions));
    EXPECT_FALSE(down(KeyPadCircle));

    poll.buttons = PadButtonB | PadButtonX | PadButtonY | PadButtonLeft | PadButtonRight | PadButtonDown |
                   PadButtonLeftShoulder | PadButtonRightShoulder | PadButtonLeftThumb | PadButtonRightThumb |
                   PadButtonBack;
    applyPadPoll(&poll, 0, 78, &pad, &input);
    for (i32 code = KeyPadCross; code <= KeyPadShare; code++) {
        bool expected = code != KeyPadCross && code != KeyPadUp && code != KeyPadOptions;
        EXPECT_EQ(down(code), expected) << code;
    }
}

TEST_F(GamepadFixture, PadPollReplacesADualShockButNotARemoteFeed) {
    Report report;
    report.bytes[1] = 0;
    decode(report);
    PadPoll poll{};
    applyPadPoll(&poll, 0, 5, &pad, &input);
    EXPECT_TRUE(equals(pad.name, "XInput 0"));
    EXPECT_EQ(pad.leftStickX, 0.0f);

    pad.remote = 1;
    pad.rightTrigger = 0.5f;
    poll.buttons = PadButtonA;
    poll.rightTrigger = 255;
    applyPadPoll(&poll, 1, 6, &pad, &input);
    EXPECT_EQ(pad.rightTrigger, 0.5f);
    EXPECT_FALSE(down(KeyPadCross));
}

}  // namespace
