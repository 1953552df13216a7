// The on-screen keyboard, numeric keypad and text-selection menu typing into a focused field, with
// scripted touches on their keys, and the runner's gathering of the frame's key events.
#include <gtest/gtest.h>

#include <string>

#include "Platform/Clipboard.h"
#include "UiTestSupport.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;

struct FieldScreenState {
    FixedString text;
    u32 submitted;
    u32 focused;
    ButtonResult under;
};

u32 fieldMode = TextKeyboardFull;
bool fieldReadOnly = false;
i32 eventsSeen = 0;
i32 eventsSample[3];
const Rect kFieldRect{300, 980, 500, 560};
const Rect kUnderRect{0, (f32)kWidth, 0, 150};  // a button where the overlays come

void fieldScreen(Platform*, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void* scratch) {
    FieldScreenState* s = (FieldScreenState*)scratch;
    TextEditState* focus = &stack->runner.textFocus;
    eventsSeen = focus->eventCount;
    eventsSample[0] = focus->events[0];
    eventsSample[1] = focus->events[279];
    eventsSample[2] = focus->events[280];
    TextStyle style{kTextWhite, kNoOutline, kSelectionOrange, 30, 0, 0};
    FixedString placeholder = makeString(fieldReadOnly ? "Read-only text" : "Type here");
    WidgetId id = WIDGET_ID;
    TextEditResult result = textField(fieldReadOnly ? nullptr : &s->text, &placeholder, AnchorLeftCentre, fieldMode,
                                      &kFieldRect, &kFieldRect, 0.5f, &style, kButtonGrey, ui, stack, focus, &id);
    s->submitted += result.submitted;
    s->focused = result.focused;
    ButtonStyle buttonStyle{};
    buttonStyle.fill = kKeyGrey;
    buttonStyle.pressedFill = kPressedGrey;
    WidgetId underId = WIDGET_ID;
    s->under = button(FixedString{}, &kUnderRect, &kUnderRect, 0.5f, &buttonStyle, ui, stack, &underId);
}

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        fieldMode = TextKeyboardFull;
        fieldReadOnly = false;
        ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, fieldScreen));
        s = (FieldScreenState*)harness.stack->screenState;
    }
    void TearDown() override { stopScreenHarness(&harness); }
    UiState* ui() { return &harness.render.app->renderer.ui; }
    std::string text() { return std::string(s->text.text, s->text.length); }
    void focusField() {
        mouseClick(&harness, midX(kFieldRect), midY(kFieldRect));
        screenFrame(&harness);
        ASSERT_TRUE(s->focused);
    }
    Rect key(i32 row, i32 index) { return onScreenKeyRect(fieldMode, ui(), row, index); }
    void press(i32 row, i32 index, u64 touch) {
        Rect r = key(row, index);
        touchDown(&harness, touch, midX(r), midY(r));
        screenFrame(&harness);
    }
    void release(u64 touch) {
        touchUp(&harness, touch);
        screenFrame(&harness);
    }
    void tap(i32 row, i32 index) {
        press(row, index, ++nextTouch);
        release(nextTouch);
    }
    ScreenHarness harness{};
    FieldScreenState* s = nullptr;
    u64 nextTouch = 100;
};

// Keys of the full keyboard by row and place.
constexpr i32 kRowDigits = 0, kRowQ = 1, kRowA = 2, kRowZ = 3, kRowBottom = 4;

TEST_F(KeyboardTest, KeysTypeIntoTheFocusedField) {
    focusField();
    EXPECT_EQ(harness.stack->runner.cornerButtonRect.x1, 0);
    tap(kRowA, 1);       // a
    tap(kRowDigits, 1);  // 1
    tap(kRowBottom, 2);  // space
    tap(kRowQ, 1);       // q
    EXPECT_EQ(text(), "a1 q");
    tap(kRowBottom, 4);  // left arrow
    tap(kRowDigits, 13); // Backspace: the space goes
    EXPECT_EQ(text(), "a1q");
    tap(kRowA, 12);      // New Line
    EXPECT_EQ(text(), "a1\nq");
    writeHarnessPng(&harness.render, testOutputPath("UserInterfaceKeyboard.png"));
    tap(kRowZ, 11);      // Done
    EXPECT_EQ(s->submitted, 1u);
    EXPECT_FALSE(s->focused);
    screenFrame(&harness);
    EXPECT_GT(harness.stack->runner.cornerButtonRect.x1, 0);  // the corner button is back
}

TEST_F(KeyboardTest, ShiftHeldByASecondPointer) {
    focusField();
    press(kRowZ, 0, 1);  // Shift, held
    EXPECT_TRUE(isKeyDown(&harness.stack->runner.keyboard.keys, KeyLeftShift));
    tap(kRowA, 1);
    tap(kRowDigits, 2);
    release(1);
    EXPECT_FALSE(isKeyDown(&harness.stack->runner.keyboard.keys, KeyLeftShift));
    tap(kRowA, 1);
    EXPECT_EQ(text(), "A@a");
}

TEST_F(KeyboardTest, CapsLockWithShiftTypesWhatTheLabelShows) {
    focusField();
    tap(kRowA, 0);  // CapsLock
    EXPECT_EQ(harness.stack->runner.keyboard.keys.shiftLock, 1u);
    tap(kRowA, 1);
    tap(kRowDigits, 1);
    EXPECT_EQ(text(), "A!");
    // Both active: the labels show the plain characters, and so do the keys.
    EXPECT_EQ(onScreenKeyCharacter('A', true, true), 'a');
    press(kRowZ, 0, 1);
    tap(kRowA, 1);
    tap(kRowDigits, 1);
    release(1);
    EXPECT_EQ(text(), "A!a1");
}

TEST_F(KeyboardTest, AHeldKeyTypesOnce) {
    focusField();
    press(kRowZ, 5, 1);  // b
    screenFrame(&harness, 30);
    release(1);
    EXPECT_EQ(text(), "b");
}

TEST_F(KeyboardTest, TheBackdropTakesPressesBetweenKeys) {
    focusField();
    Rect a = key(kRowA, 1), s2 = key(kRowA, 2);
    touchDown(&harness, 1, (a.x1 + s2.x0) / 2, midY(a));
    screenFrame(&harness);
    EXPECT_EQ(s->under.pressed, 0u);
    release(1);
    EXPECT_EQ(s->under.clicked, 0u);
    EXPECT_EQ(text(), "");
    EXPECT_TRUE(s->focused);
}

TEST_F(KeyboardTest, NumericKeypadTypesAndDoneSubmits) {
    fieldMode = TextKeyboardNumpad;
    focusField();
    Rect seven = key(0, 0);
    EXPECT_NEAR(seven.y1 - seven.y0, 2 * (55.2f / 8) + 55.2f, 1e-3f);  // L = 24 x 2.3
    tap(0, 0);  // 7
    tap(2, 3);  // .
    tap(1, 1);  // 5
    tap(1, 3);  // -
    EXPECT_EQ(text(), "7.5-");
    tap(0, 4);  // Backspace
    EXPECT_EQ(text(), "7.5");
    // Shift changes nothing on the keypad.
    harnessKey(&harness.render, KeyLeftShift, true);
    tap(2, 0);  // 1
    harnessKey(&harness.render, KeyLeftShift, false);
    EXPECT_EQ(text(), "7.51");
    tap(1, 4);  // Done
    EXPECT_EQ(s->submitted, 1u);
    EXPECT_FALSE(s->focused);
}

TEST_F(KeyboardTest, SelectionMenuSelectsAndCopiesAReadOnlyField) {
    fieldMode = TextKeyboardSelectionMenu;
    fieldReadOnly = true;
    focusField();
    tap(0, 1);  // Select All
    tap(0, 0);  // Copy
    char buffer[64];
    ByteWriter out = makeByteWriter(buffer, sizeof(buffer));
    pasteFromClipboard(&out);
    EXPECT_EQ(std::string(buffer, (size_t)out.length), "Read-only text");
}

TEST_F(KeyboardTest, AFrameHoldsAtMostThreeHundredEventsPhysicalOnesFirst) {
    screenFrame(&harness);
    InputState* input = &harness.render.platform->input;
    for (i32 i = 0; i < 280; i++) input->events[i] = 'p';
    input->eventCount = 280;
    OnScreenKeyboard* keyboard = &harness.stack->runner.keyboard;
    for (i32 i = 0; i < 40; i++) keyboard->keys.events[i] = 'k';
    keyboard->keys.eventCount = 40;
    screenFrame(&harness);
    EXPECT_EQ(eventsSeen, 300);
    EXPECT_EQ(eventsSample[0], 'p');
    EXPECT_EQ(eventsSample[1], 'p');
    EXPECT_EQ(eventsSample[2], 'k');
    EXPECT_EQ(input->eventCount, 0);
    EXPECT_EQ(keyboard->keys.eventCount, 0);
}

}  // namespace
