// A game controller on the system's controller layer (a virtual one): its sticks, triggers and
// buttons reach the game pad record the way the XInput path delivers them.
#include <gtest/gtest.h>

#include "Platform/SdlWindow.h"

namespace {

struct VirtualController : ::testing::Test {
    SDL_Joystick* joystick = nullptr;
    i32 deviceIndex = -1;

    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
        deviceIndex = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                                SDL_CONTROLLER_BUTTON_MAX, 0);
        ASSERT_GE(deviceIndex, 0) << SDL_GetError();
        ASSERT_TRUE(SDL_IsGameController(deviceIndex));
        openGameController(deviceIndex);
        joystick = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(deviceIndex));
        ASSERT_NE(joystick, nullptr);
    }
    void TearDown() override {
        closeAllGameControllers();
        if (deviceIndex >= 0) SDL_JoystickDetachVirtual(deviceIndex);
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    }
    void axis(SDL_GameControllerAxis which, i16 value) { SDL_JoystickSetVirtualAxis(joystick, which, value); }
    void button(SDL_GameControllerButton which, bool down) { SDL_JoystickSetVirtualButton(joystick, which, down); }
    void poll(Platform* platform, u64 now) {
        SDL_GameControllerUpdate();
        pollGameControllers(platform, now, 0);
    }
};

TEST_F(VirtualController, SticksPointUpAndTriggersAreBytes) {
    Platform platform{};
    axis(SDL_CONTROLLER_AXIS_LEFTX, -32768);
    axis(SDL_CONTROLLER_AXIS_LEFTY, -32768);  // pushed forward
    axis(SDL_CONTROLLER_AXIS_RIGHTX, 16384);
    axis(SDL_CONTROLLER_AXIS_RIGHTY, 32767);  // pulled back
    axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);  // a virtual trigger spans the whole raw range
    button(SDL_CONTROLLER_BUTTON_A, true);
    button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    button(SDL_CONTROLLER_BUTTON_BACK, true);
    poll(&platform, 500);
    GamepadState* pad = &platform.gamepad;
    EXPECT_TRUE(equals(pad->name, "XInput 0"));
    EXPECT_EQ(pad->controllerKind, ControllerGamepad);
    EXPECT_EQ(pad->time, 500u);
    EXPECT_FLOAT_EQ(pad->leftStickX, -1.0f);
    EXPECT_FLOAT_EQ(pad->leftStickY, 32767.0f / 32768.0f);
    EXPECT_FLOAT_EQ(pad->rightStickX, 0.5f);
    EXPECT_FLOAT_EQ(pad->rightStickY, -32767.0f / 32768.0f);
    EXPECT_FLOAT_EQ(pad->leftTrigger, 1.0f);
    EXPECT_EQ(pad->rightTrigger, 0.0f);
    EXPECT_TRUE(isKeyDown(&platform.input, KeyPadCross));
    EXPECT_TRUE(isKeyDown(&platform.input, KeyPadLeft));
    EXPECT_TRUE(isKeyDown(&platform.input, KeyPadShare));
    EXPECT_FALSE(isKeyDown(&platform.input, KeyPadCircle));

    button(SDL_CONTROLLER_BUTTON_A, false);
    poll(&platform, 600);
    EXPECT_FALSE(isKeyDown(&platform.input, KeyPadCross));
    EXPECT_TRUE(isKeyDown(&platform.input, KeyPadLeft));

    // A relay host's feed is left alone.
    platform.gamepad.remote = 1;
    button(SDL_CONTROLLER_BUTTON_Y, true);
    poll(&platform, 700);
    EXPECT_EQ(platform.gamepad.time, 600u);
    EXPECT_FALSE(isKeyDown(&platform.input, KeyPadTriangle));
}

TEST_F(VirtualController, ARemovedControllerChangesNothing) {
    Platform platform{};
    poll(&platform, 1);
    EXPECT_EQ(platform.gamepad.time, 1u);
    closeGameController(SDL_JoystickGetDeviceInstanceID(deviceIndex));
    poll(&platform, 2);
    EXPECT_EQ(platform.gamepad.time, 1u);
}

}  // namespace
