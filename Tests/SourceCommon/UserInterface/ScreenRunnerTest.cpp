// The screen runner through real frames of the render harness: pushes and pops with the scratch
// state cleared, Escape, back over next, the corner button, and buttons driven by scripted mouse
// and touch pointers.
#include <gtest/gtest.h>

#include "UiTestSupport.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;

// What the test screens saw and what they are told to do next.
struct ScreenLog {
    i32 calls[3];
    u32 scratchOnEntry[3];  // the first scratch word when the screen was called
    ScreenFunction pushNext;
    u32 setBack;
    u32 backAndNext;
    ButtonResult buttons[2];
    u32 firstNeverPressed;
};
ScreenLog screenLog;

void childScreen(Platform*, ScreenStack*, UiState*, AppState*, ScreenResult* result, void* scratch);

void recordEntry(i32 which, void* scratch, ScreenResult* result) {
    u32* word = (u32*)scratch;
    screenLog.calls[which]++;
    screenLog.scratchOnEntry[which] = *word;
    *word = 0xABCD0000u + (u32)which;
    if (screenLog.pushNext) {
        result->next = screenLog.pushNext;
        screenLog.pushNext = nullptr;
    }
    if (screenLog.setBack) {
        result->back = 1;
        screenLog.setBack = 0;
    }
    if (screenLog.backAndNext) {
        result->back = 1;
        result->next = childScreen;
        screenLog.backAndNext = 0;
    }
}

void firstScreen(Platform*, ScreenStack*, UiState*, AppState*, ScreenResult* result, void* scratch) {
    recordEntry(0, scratch, result);
}

void childScreen(Platform*, ScreenStack*, UiState*, AppState*, ScreenResult* result, void* scratch) {
    recordEntry(1, scratch, result);
}

// Two buttons side by side.
const Rect kButtonA{200, 400, 300, 400};
const Rect kButtonB{500, 700, 300, 400};

void buttonScreen(Platform*, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void*) {
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, 30, 0, 0};
    style.anchor = AnchorCentre;
    style.cornerRadius = 8;
    style.fill = kKeyGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = 2;
    FixedString a = makeString("A"), b = makeString("B");
    WidgetId idA = WIDGET_ID;
    WidgetId idB = WIDGET_ID;
    screenLog.buttons[0] = buttonState(&a, &kButtonA, 0.5f, &style, ui, stack, &idA);
    screenLog.buttons[1] = buttonState(&b, &kButtonB, 0.5f, &style, ui, stack, &idB);
}

class ScreenRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        screenLog = ScreenLog{};
        ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, firstScreen));
    }
    void TearDown() override { stopScreenHarness(&harness); }
    Platform* platform() { return harness.render.platform; }
    ScreenHarness harness{};
};

TEST_F(ScreenRunnerTest, PushAndPopClearTheScratchState) {
    screenFrame(&harness);
    EXPECT_EQ(screenLog.scratchOnEntry[0], 0u);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.scratchOnEntry[0], 0xABCD0000u);  // kept while the screen stays
    screenLog.pushNext = childScreen;
    screenFrame(&harness);
    EXPECT_EQ(harness.stack->depth, 2);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.calls[1], 1);
    EXPECT_EQ(screenLog.scratchOnEntry[1], 0u);
    screenLog.setBack = 1;
    screenFrame(&harness);
    EXPECT_EQ(harness.stack->depth, 1);
    i32 firstCalls = screenLog.calls[0];
    screenFrame(&harness);
    EXPECT_EQ(screenLog.calls[0], firstCalls + 1);
    EXPECT_EQ(screenLog.scratchOnEntry[0], 0u);  // cleared by the pop too
}

TEST_F(ScreenRunnerTest, EscapeClosesOneScreenAndLeavesFullscreenOnTheFirst) {
    screenLog.pushNext = childScreen;
    screenFrame(&harness);
    screenLog.pushNext = childScreen;
    screenFrame(&harness);
    ASSERT_EQ(harness.stack->depth, 3);
    harnessKey(&harness.render, KeyEscape, true);
    screenFrame(&harness, 5);  // held over several frames
    EXPECT_EQ(harness.stack->depth, 2);
    harnessKey(&harness.render, KeyEscape, false);
    screenFrame(&harness);
    keyTap(&harness, KeyEscape);
    EXPECT_EQ(harness.stack->depth, 1);
    platform()->fullscreen = 1;
    platform()->fullscreenWanted = 1;
    keyTap(&harness, KeyEscape);
    EXPECT_EQ(harness.stack->depth, 1);
    EXPECT_EQ(platform()->fullscreenWanted, 0u);
}

TEST_F(ScreenRunnerTest, BackWinsOverNextAndTheStackStopsAtTwenty) {
    screenLog.pushNext = childScreen;
    screenFrame(&harness);
    screenLog.backAndNext = 1;
    screenFrame(&harness);
    EXPECT_EQ(harness.stack->depth, 1);
    for (i32 i = 0; i < 25; i++) {
        screenLog.pushNext = childScreen;
        screenFrame(&harness);
    }
    EXPECT_EQ(harness.stack->depth, kMaxScreens);
}

TEST_F(ScreenRunnerTest, CornerButtonTogglesFullscreenFirstAndGoesBackDeeper) {
    screenFrame(&harness);
    ScreenRunnerState* runner = &harness.stack->runner;
    EXPECT_NEAR(runner->cornerButtonRect.x0, 3.9f, 1e-4f);
    EXPECT_NEAR(runner->cornerButtonRect.y1, 74.1f, 1e-4f);
    EXPECT_NEAR(runner->reservedWidth, 78.0f, 1e-4f);
    EXPECT_NEAR(harness.stack->dragThresholdSquared, 62.4 * 62.4, 1e-2);
    EXPECT_EQ(harnessPixel(&harness.render, 10, 39), 0xFF505050u);  // the button's fill beside its icon
    EXPECT_EQ(harnessPixel(&harness.render, 24, 60), 0xFFFFFFFFu);  // the top-left bracket of the fullscreen icon
    writeHarnessPng(&harness.render, testOutputPath("UserInterfaceCornerButton.png"));
    mouseClick(&harness, 39, 39);
    EXPECT_EQ(platform()->fullscreenWanted, 1u);
    EXPECT_EQ(harness.stack->depth, 1);
    platform()->fullscreen = 1;
    mouseClick(&harness, 39, 39);
    EXPECT_EQ(platform()->fullscreenWanted, 0u);

    screenLog.pushNext = childScreen;
    screenFrame(&harness);
    ASSERT_EQ(harness.stack->depth, 2);
    screenFrame(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, 39, 39), 0xFFFFFFFFu);  // the back arrow's shaft
    mouseClick(&harness, 39, 39);
    EXPECT_EQ(harness.stack->depth, 1);
}

TEST_F(ScreenRunnerTest, APressOnOneScreenDoesNothingOnTheNext) {
    harness.stack->screens[0] = buttonScreen;
    harnessMouseMove(&harness.render, 300, 351);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].pressed, 1u);
    // Another screen comes on top and goes again while the pointer is still down.
    harness.stack->screens[1] = childScreen;
    harness.stack->depth = 2;
    screenLog.setBack = 1;
    screenFrame(&harness);
    EXPECT_EQ(harness.stack->depth, 1);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].pressed, 0u);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].clicked, 0u);
}

class ButtonScreenTest : public ScreenRunnerTest {
protected:
    void SetUp() override {
        ScreenRunnerTest::SetUp();
        harness.stack->screens[0] = buttonScreen;
        screenFrame(&harness);
    }
};

TEST_F(ButtonScreenTest, ClickHoldAndDrag) {
    // A click: pressed while down, clicked on the frame of the release.
    harnessMouseMove(&harness.render, 300, 351);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].pressed, 1u);
    EXPECT_EQ(harnessPixel(&harness.render, 210, 350), 0xFFC0C0C0u);  // drawn in the pressed colour
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].clicked, 1u);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].clicked, 0u);

    // A hold: reported once the press passes 250 ms, and its release is no click.
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    i32 heldFrames = 0;
    for (i32 i = 0; i < 20; i++) {
        screenFrame(&harness);
        heldFrames += screenLog.buttons[0].held;
    }
    EXPECT_EQ(heldFrames, 20 - 15);  // 16,667 us frames: held from the sixteenth on
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].clicked, 0u);

    // A drag beyond the threshold that ends inside again is no click.
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    screenFrame(&harness);
    harnessMouseMove(&harness.render, 300 + 63, 351);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].pressed, 1u);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].clicked, 0u);
}

TEST_F(ButtonScreenTest, PointerStaysWithTheWidgetItPressed) {
    harnessMouseMove(&harness.render, 300, 351);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    screenFrame(&harness);
    harnessMouseMove(&harness.render, 600, 351);  // onto B
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].pressed, 1u);
    EXPECT_EQ(screenLog.buttons[1].pressed, 0u);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].clicked, 0u);  // released outside A
    EXPECT_EQ(screenLog.buttons[1].clicked, 0u);  // B never had it
}

TEST_F(ButtonScreenTest, TwoTouchesAtOnce) {
    touchDown(&harness, 11, 300, 350);
    touchDown(&harness, 12, 600, 350);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].pressed, 1u);
    EXPECT_EQ(screenLog.buttons[1].pressed, 1u);
    touchUp(&harness, 11);
    touchUp(&harness, 12);
    screenFrame(&harness);
    EXPECT_EQ(screenLog.buttons[0].clicked, 1u);
    EXPECT_EQ(screenLog.buttons[1].clicked, 1u);
}

}  // namespace
