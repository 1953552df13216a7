// A list screen through real frames: checkbox, button, choice, option-grid, stepper and
// text-field rows in a scrolling view longer than the window, with rows outside its visible part.
#include <gtest/gtest.h>

#include "Core/Format.h"
#include "UiTestSupport.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;
constexpr i32 kFillerRows = 24;

struct ListScreenState {
    u32 initialised;
    MapView view;
    i32 checked;
    i32 choiceCurrent;
    i32 choiceSelected;
    i32 stepperCurrent;
    u32 stepperSelected;
    FixedString text;
    u32 buttonClicks;
    u32 lastClicks;
    u32 fillerVisible;
    RowResult checkbox, button, last;
    ChoiceRowResult choice;
    ExpandableRowResult grid;
    StepperRowResult stepper;
    TextFieldRowResult field;
    WidgetId fieldId;
};

const FixedString kChoices[3] = {makeString("Metres"), makeString("Feet"), makeString("Fathoms")};
const FixedString kSteps[5] = {makeString("1"), makeString("2"), makeString("5"), makeString("10"), makeString("20")};

void listScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void* scratch) {
    ListScreenState* s = (ListScreenState*)scratch;
    if (!s->initialised) {
        s->initialised = 1;
        s->view = makeScrollView(WIDGET_ID);
        s->choiceCurrent = 1;
        s->choiceSelected = -1;
        s->stepperCurrent = 2;
        s->text = makeString("old");
    }
    Rect viewRect{0, (f32)kWidth, 0, (f32)kHeight};
    beginMapView(&viewRect, platform, ui, &s->view);
    FixedString title = makeString("Checkbox"), none{};
    s->checkbox = checkboxRow(&title, &none, 0, s->checked, stack, ui, &s->view);
    if (s->checkbox.clicked) s->checked = !s->checked;
    title = makeString("Button");
    s->button = buttonRow(&title, &none, 0, stack, ui, &s->view);
    s->buttonClicks += s->button.clicked;
    title = makeString("Units");
    WidgetId choiceId = WIDGET_ID;
    s->choice = choiceRow(&title, &none, s->choiceCurrent, &s->choiceSelected, kChoices, 3, 0, stack, ui, &s->view,
                          &choiceId);
    if (s->choice.changed) s->choiceCurrent = s->choiceSelected;
    title = makeString("Option grid");
    WidgetId gridId = WIDGET_ID;
    s->grid = optionGridRow(&title, &none, 100, 0, stack, ui, &s->view, &gridId);
    title = makeString("Step");
    WidgetId stepperId = WIDGET_ID;
    s->stepper = stepperRow(&title, &none, s->stepperCurrent, &s->stepperSelected, kSteps, 5, 1, 0, stack, ui, &s->view,
                            &stepperId);
    if (s->stepper.changed) s->stepperCurrent = (i32)s->stepperSelected;
    title = makeString("Name");
    FixedString placeholder = makeString("Type a name");
    s->fieldId = WIDGET_ID;
    s->field = textFieldRow(&title, &none, &s->text, &placeholder, TextKeyboardFull, 0, stack, ui,
                            &stack->runner.textFocus, &s->view, &s->fieldId);
    s->fillerVisible = 0;
    for (i32 i = 0; i < kFillerRows; i++) {
        FixedString filler = formatInt("Filler @", i);
        s->fillerVisible |= buttonRow(&filler, &none, 0, stack, ui, &s->view).visible << (i % 32);
    }
    title = makeString("Last");
    s->last = buttonRow(&title, &none, 0, stack, ui, &s->view);
    s->lastClicks += s->last.clicked;
    endMapView(stack, ui, &s->view);
}

class ListRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, listScreen));
        screenFrame(&harness, 2);
        s = (ListScreenState*)harness.stack->screenState;
    }
    void TearDown() override { stopScreenHarness(&harness); }
    void clickRow(const RowLayout& layout) { mouseClick(&harness, midX(layout.rowRect), midY(layout.rowRect)); }
    ScreenHarness harness{};
    ListScreenState* s = nullptr;
};

TEST_F(ListRowsTest, RowsAreLaidOutDownTheViewAndRowsOutsideItAreNotVisible) {
    EXPECT_FLOAT_EQ(s->checkbox.layout.rowRect.y1, 720);
    EXPECT_NEAR(s->button.layout.rowRect.y1, 720 - 76.8f, 1e-3f);
    EXPECT_TRUE(s->checkbox.visible);
    EXPECT_FALSE(s->last.visible);
    EXPECT_LT(s->last.layout.rowRect.y1, 0);
    EXPECT_NE(s->fillerVisible, 0u);
    // The content height is known from the second frame on: every row and the room below the last.
    EXPECT_NEAR(s->view.contentYMin, -(31 * 76.8 + 720 - 76.8), 1e-3);
}

TEST_F(ListRowsTest, CheckboxAndButtonRowsClick) {
    clickRow(s->checkbox.layout);
    EXPECT_EQ(s->checked, 1);
    clickRow(s->checkbox.layout);
    EXPECT_EQ(s->checked, 0);
    clickRow(s->button.layout);
    EXPECT_EQ(s->buttonClicks, 1u);
    writeHarnessPng(&harness.render, testOutputPath("UserInterfaceListRows.png"));
}

TEST_F(ListRowsTest, ChoiceRowOpensPicksAndOnlyOneRowIsOpen) {
    clickRow(s->choice.layout);
    screenFrame(&harness);
    EXPECT_TRUE(s->choice.expanded);
    EXPECT_EQ(s->choiceSelected, 1);  // taken from the current value when it opened
    Rect third = s->choice.firstOptionRect;
    third.y0 -= 2 * s->choice.optionHeight;
    third.y1 -= 2 * s->choice.optionHeight;
    mouseClick(&harness, midX(third), midY(third));
    EXPECT_EQ(s->choiceCurrent, 2);
    // Opening the option grid closes the choice.
    clickRow(s->grid.layout);
    screenFrame(&harness);
    EXPECT_TRUE(s->grid.expanded);
    EXPECT_FALSE(s->choice.expanded);
    EXPECT_NEAR(s->grid.area.y1 - s->grid.area.y0, 100, 1e-3);
    clickRow(s->grid.layout);
    screenFrame(&harness);
    EXPECT_FALSE(s->grid.expanded);
}

TEST_F(ListRowsTest, StepperSnapsAndMovesByRoundedItems) {
    clickRow(s->stepper.layout);
    screenFrame(&harness);
    ASSERT_TRUE(s->stepper.expanded);
    EXPECT_EQ(s->stepperSelected, 2u);
    // The area opened under the row: drag one item (48 pixels) to the left and a bit.
    f32 y = s->stepper.layout.rowRect.y0 - 30;
    touchDown(&harness, 1, 640, y);
    screenFrame(&harness);
    touchMove(&harness, 1, 640 - 43, y);  // 0.9 items
    screenFrame(&harness);
    touchUp(&harness, 1);
    screenFrame(&harness);
    EXPECT_EQ(s->stepperCurrent, 3);
    // A long drag clamps at the last item.
    touchDown(&harness, 2, 640, y);
    screenFrame(&harness);
    touchMove(&harness, 2, 40, y);
    screenFrame(&harness);
    touchUp(&harness, 2);
    screenFrame(&harness);
    EXPECT_EQ(s->stepperCurrent, 4);
}

TEST_F(ListRowsTest, TextFieldRowOpensEmptiedWithTheFocusAndTakesKeys) {
    clickRow(s->field.layout);
    screenFrame(&harness, 2);  // opens, then the keyboard shows from the next frame
    EXPECT_TRUE(s->field.expanded);
    EXPECT_TRUE(s->field.focused);
    EXPECT_EQ(s->text.length, 0);  // emptied when it opened
    EXPECT_TRUE(sameWidget(harness.stack->runner.textFocus.focusedId, s->fieldId));
    // The keyboard takes the corner button's place.
    EXPECT_EQ(harness.stack->runner.reservedWidth, 0);
    EXPECT_EQ(harness.stack->runner.cornerButtonRect.x1, 0);
    keyTap(&harness, 'H');
    keyTap(&harness, 'I');
    EXPECT_EQ(std::string(s->text.text, s->text.length), "hi");
    keyTap(&harness, KeyBackspace);
    EXPECT_EQ(std::string(s->text.text, s->text.length), "h");
    // Closing the row drops the focus: the field is no longer drawn.
    clickRow(s->field.layout);
    screenFrame(&harness);
    EXPECT_FALSE(s->field.expanded);
    EXPECT_TRUE(isNoWidget(harness.stack->runner.textFocus.focusedId));
}

TEST_F(ListRowsTest, RowsBelowTheWindowAreReachedByScrolling) {
    // A drag on the rows scrolls the list and is no click.
    f32 start = midY(s->button.layout.rowRect);
    touchDown(&harness, 1, 640, start);
    screenFrame(&harness);
    for (i32 step = 1; step <= 5; step++) {
        touchMove(&harness, 1, 640, start + 20 * step);
        screenFrame(&harness);
    }
    touchUp(&harness, 1);
    screenFrame(&harness);
    EXPECT_EQ(s->buttonClicks, 0u);
    EXPECT_NEAR(s->checkbox.layout.rowRect.y1, 720 + 100, 1.5f);
    // The wheel takes the view to its end, where the last row shows and clicks.
    addWheelNotches(harness.render.platform, -100);
    screenFrame(&harness, 20);  // the mouse takes over from the touch after 250 ms
    harnessMouseMove(&harness.render, 640, 400);
    addWheelNotches(harness.render.platform, -100);
    screenFrame(&harness, 2);
    EXPECT_TRUE(s->last.visible);
    EXPECT_FLOAT_EQ(s->last.layout.rowRect.y1, 720);  // scrolled up to the top of the view, no further
    clickRow(s->last.layout);
    EXPECT_EQ(s->lastClicks, 1u);
    writeHarnessPng(&harness.render, testOutputPath("UserInterfaceListEnd.png"));
}

}  // namespace
