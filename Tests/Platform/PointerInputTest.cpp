// Mouse, touch, wheel and raw-mouse input through window-system events, and the frame's turn-over.
#include <gtest/gtest.h>

#include <vector>

#include "Platform/SdlWindow.h"

namespace {

struct PointerFixture : ::testing::Test {
    WindowHead head{};
    Platform platform{};

    void SetUp() override { head.clientHeight = 600; }

    void send(SDL_Event event, u64 now) { handleWindowEvent(&event, &head, &platform, now); }
    void motion(i32 x, i32 y, u32 buttons, i32 dx, i32 dy, u64 now) {
        SDL_Event event{};
        event.type = SDL_MOUSEMOTION;
        event.motion.x = x;
        event.motion.y = y;
        event.motion.xrel = dx;
        event.motion.yrel = dy;
        event.motion.state = buttons;
        send(event, now);
    }
    void button(u8 which, bool down, i32 x, i32 y, u64 now) {
        SDL_Event event{};
        event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.button = which;
        event.button.x = x;
        event.button.y = y;
        send(event, now);
    }
    void wheel(i32 y, bool flipped = false) {
        SDL_Event event{};
        event.type = SDL_MOUSEWHEEL;
        event.wheel.y = y;
        event.wheel.direction = flipped ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
        send(event, 0);
    }
    // No window here: touch coordinates are taken against a 0-wide window, so tests use raw handlers
    // for positions and events for the slot rules.
    void finger(u32 type, i64 id, u64 now) {
        SDL_Event event{};
        event.type = type;
        event.tfinger.fingerId = id;
        event.tfinger.x = 0.5f;
        event.tfinger.y = 0.25f;
        send(event, now);
    }
    void frame() {
        prepareFrameInputs(&head, &platform, head.clientHeight);
        finishFrameInputs(&head, &platform);
    }
};

TEST_F(PointerFixture, MouseIsSlotZeroWithYUp) {
    motion(100, 0, 0, 0, 0, 10);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerPresent);
    EXPECT_FLOAT_EQ(platform.pointers[0].x, 100);
    EXPECT_FLOAT_EQ(platform.pointers[0].y, 599);  // top row of a 600-pixel window
    button(SDL_BUTTON_LEFT, true, 120, 99, 20);
    EXPECT_TRUE(isKeyDown(&platform.input, KeyMouseLeft));
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerPressed);
    EXPECT_EQ(platform.pointers[0].pressTime, 20u);
    EXPECT_FLOAT_EQ(platform.pointers[0].pressX, 120);
    EXPECT_FLOAT_EQ(platform.pointers[0].pressY, 500);
    motion(130, 99, SDL_BUTTON_LMASK, 10, 0, 30);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerPressed);
    EXPECT_EQ(platform.pointers[0].pressTime, 20u);  // still the same press
    EXPECT_FLOAT_EQ(platform.pointers[0].x, 130);
    button(SDL_BUTTON_LEFT, false, 130, 99, 40);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerPresent);
    EXPECT_FALSE(isKeyDown(&platform.input, KeyMouseLeft));
}

TEST_F(PointerFixture, PressThatBeganOutsideStartsWhereTheLastFrameSawThePointer) {
    motion(50, 50, 0, 0, 0, 1);
    frame();
    motion(70, 50, SDL_BUTTON_LMASK, 20, 0, 2);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerPressed);
    EXPECT_FLOAT_EQ(platform.pointers[0].pressX, 50);
    EXPECT_FLOAT_EQ(platform.pointers[0].pressY, 549);
    EXPECT_TRUE(isKeyDown(&platform.input, KeyMouseLeft));
}

TEST_F(PointerFixture, RightAndMiddleButtonsAreKeys) {
    button(SDL_BUTTON_RIGHT, true, 0, 0, 1);
    EXPECT_TRUE(isKeyDown(&platform.input, KeyMouseRight));
    EXPECT_EQ(platform.input.eventCount, 0);
    frame();
    button(SDL_BUTTON_RIGHT, false, 0, 0, 2);
    EXPECT_FALSE(isKeyDown(&platform.input, KeyMouseRight));
    button(SDL_BUTTON_MIDDLE, true, 0, 0, 3);
    EXPECT_TRUE(isKeyDown(&platform.input, KeyMouseMiddle));
    EXPECT_EQ(head.mouse.state, PointerAbsent);  // only the left button presses the pointer
}

TEST_F(PointerFixture, WheelAndRawMotionGiveTotalsAndPerFrameChanges) {
    wheel(2);
    wheel(-5);
    wheel(1, true);
    motion(10, 10, 0, 7, 3, 1);
    motion(10, 10, 0, -2, -10, 2);
    prepareFrameInputs(&head, &platform, 600);
    EXPECT_EQ(platform.wheelTotal, -4);
    EXPECT_EQ(platform.wheelDelta, -4);
    EXPECT_EQ(platform.rawMouseX, 5);
    EXPECT_EQ(platform.rawMouseY, 7);  // y up
    EXPECT_EQ(platform.rawMouseDeltaX, 5);
    EXPECT_EQ(platform.rawMouseDeltaY, 7);
    finishFrameInputs(&head, &platform);
    wheel(3);
    prepareFrameInputs(&head, &platform, 600);
    EXPECT_EQ(platform.wheelTotal, -1);
    EXPECT_EQ(platform.wheelDelta, 3);
    EXPECT_EQ(platform.rawMouseDeltaX, 0);
    EXPECT_EQ(platform.rawMouseDeltaY, 0);
}

TEST_F(PointerFixture, MouseEventsMadeFromTouchesAreIgnored) {
    SDL_Event event{};
    event.type = SDL_MOUSEBUTTONDOWN;
    event.button.which = SDL_TOUCH_MOUSEID;
    event.button.button = SDL_BUTTON_LEFT;
    send(event, 5);
    EXPECT_FALSE(isKeyDown(&platform.input, KeyMouseLeft));
    EXPECT_EQ(head.lastMouseMessageTime, 0u);
}

TEST_F(PointerFixture, FiveFingersFillFourSlots) {
    for (i64 id = 11; id <= 15; id++) finger(SDL_FINGERDOWN, id, 100);
    for (i32 slot = 1; slot <= 4; slot++) {
        EXPECT_EQ(platform.pointers[slot].state, PointerPressed) << slot;
        EXPECT_EQ(head.touchIds[slot], (u64)(10 + slot));
        EXPECT_EQ(platform.pointers[slot].pressTime, 100u);
    }
    // The fifth finger has no slot: its moves and lift change nothing.
    finger(SDL_FINGERUP, 15, 110);
    for (i32 slot = 1; slot <= 4; slot++) EXPECT_EQ(platform.pointers[slot].state, PointerPressed);
    EXPECT_EQ(head.releasedPointerBits, 0u);
}

TEST_F(PointerFixture, ALiftedSlotIsNotReusedUntilTheFrameHasPassed) {
    finger(SDL_FINGERDOWN, 1, 100);
    finger(SDL_FINGERDOWN, 2, 100);
    frame();
    finger(SDL_FINGERUP, 1, 101);
    finger(SDL_FINGERDOWN, 3, 102);
    EXPECT_EQ(platform.pointers[1].state, PointerAbsent);
    EXPECT_EQ(head.releasedPointerBits, 1u << 1);
    EXPECT_EQ(head.touchIds[3], 3u);  // the new finger went past the lifted slot
    frame();
    EXPECT_EQ(head.releasedPointerBits, 0u);
    finger(SDL_FINGERDOWN, 4, 200);
    EXPECT_EQ(head.touchIds[1], 4u);
}

TEST_F(PointerFixture, TouchPositionsAreWindowPixelsWithYUp) {
    touchPointDown(&head, &platform, 7, 40.0f, 100.0f, 5);
    EXPECT_FLOAT_EQ(platform.pointers[1].x, 40);
    EXPECT_FLOAT_EQ(platform.pointers[1].y, 500);
    EXPECT_FLOAT_EQ(platform.pointers[1].pressY, 500);
    touchPointMoved(&head, &platform, 7, 60.0f, 300.0f, 0, 6);
    EXPECT_FLOAT_EQ(platform.pointers[1].x, 60);
    EXPECT_FLOAT_EQ(platform.pointers[1].y, 300);
    EXPECT_FLOAT_EQ(platform.pointers[1].pressX, 40);
    touchPointMoved(&head, &platform, 8, 1.0f, 1.0f, 0, 7);  // unknown finger
    EXPECT_FLOAT_EQ(platform.pointers[1].x, 60);
}

TEST_F(PointerFixture, TouchHoldsTheMouseAbsentFor250Milliseconds) {
    motion(10, 10, 0, 0, 0, 1000);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerPresent);  // no touch yet
    finger(SDL_FINGERDOWN, 1, 2000000);
    motion(20, 20, 0, 0, 0, 2000000 + kTouchOverMouseMicroseconds);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerAbsent);  // exactly 250 ms is still the touch's
    motion(30, 20, 0, 0, 0, 2000000 + kTouchOverMouseMicroseconds + 1);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerPresent);
    EXPECT_FLOAT_EQ(platform.pointers[0].x, 30);
    finger(SDL_FINGERMOTION, 1, 3000000);
    frame();
    EXPECT_EQ(platform.pointers[0].state, PointerAbsent);
}

// A click quicker than a frame (a tap-to-click sends press and release together), and a tap as
// quick, through SDL's own queue: the next frame sees them pressed, the one after let go.
TEST_F(PointerFixture, PressAndReleaseBetweenTwoFramesAreOneClick) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
    auto pushAndRunThreeFrames = [&](u32 downType, u32 upType, i32 slot) {
        for (u32 type : {downType, upType}) {
            SDL_Event event{};
            event.type = type;
            if (slot == 0) {
                event.button.button = SDL_BUTTON_LEFT;
                event.button.x = 200;
                event.button.y = 100;
            } else {
                event.tfinger.fingerId = 9;
            }
            EXPECT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
        }
        handleWaitingWindowEvents(&head, &platform);
        std::vector<u32> states;
        for (i32 i = 0; i < 3; i++) {
            prepareFrameInputs(&head, &platform, head.clientHeight);
            states.push_back(platform.pointers[slot].state);
            if (slot == 0) states.push_back(isKeyDown(&platform.input, KeyMouseLeft));
            finishFrameInputs(&head, &platform);
        }
        return states;
    };
    EXPECT_EQ(pushAndRunThreeFrames(SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP, 0),
              (std::vector<u32>{PointerPressed, 1, PointerPresent, 0, PointerPresent, 0}));
    EXPECT_FLOAT_EQ(platform.pointers[0].pressX, 200);
    EXPECT_FLOAT_EQ(platform.pointers[0].pressY, 499);
    EXPECT_EQ(pushAndRunThreeFrames(SDL_FINGERDOWN, SDL_FINGERUP, 1),
              (std::vector<u32>{PointerPressed, PointerAbsent, PointerAbsent}));
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

TEST_F(PointerFixture, FrameKeepsThePreviousGamepad) {
    platform.gamepad.leftStickX = 0.5f;
    frame();
    EXPECT_FLOAT_EQ(platform.previousGamepad.leftStickX, 0.5f);
}

}  // namespace
