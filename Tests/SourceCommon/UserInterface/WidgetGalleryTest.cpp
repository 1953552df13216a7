// A test screen with one of every widget, drawn through the real renderer and saved as
// screenshots in the build folder for a person to look at: a list with every kind of row and its
// scroll bar, a second list with an open stepper, buttons (one held down by a touch), an icon,
// text fields and the corner button; then the same screen with a field focused for the keypad.
#include <gtest/gtest.h>

#include "UiTestSupport.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;

struct GalleryState {
    u32 initialised;
    MapView list;
    MapView pickers;
    i32 choice;
    u32 step;
    FixedString name;
    FixedString edit;
    FixedString number;
};

const FixedString kUnits[3] = {makeString("Metres"), makeString("Feet"), makeString("Fathoms")};
const FixedString kSteps[5] = {makeString("1 s"), makeString("2 s"), makeString("5 s"), makeString("10 s"),
                               makeString("20 s")};
const Rect kPressedButton{700, 960, 250, 320};
const Rect kNumberField{980, 1260, 380, 440};

void galleryScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void* scratch) {
    GalleryState* s = (GalleryState*)scratch;
    WidgetId choiceId = WIDGET_ID;
    WidgetId stepperId = WIDGET_ID;
    if (!s->initialised) {
        s->initialised = 1;
        s->list = makeScrollView(WIDGET_ID);
        s->pickers = makeScrollView(WIDGET_ID);
        s->list.openRowId = choiceId;
        s->list.rowJustOpened = 1;
        s->pickers.openRowId = stepperId;
        s->pickers.rowJustOpened = 1;
        s->choice = 1;
        s->step = 2;
        s->name = makeString("Orvik 7");
        s->edit = makeString("Editable text");
        s->number = makeString("42.5");
    }
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 24;
    FixedString none{};

    Rect listRect{0, 660, 0, (f32)kHeight};
    beginMapView(&listRect, platform, ui, &s->list);
    FixedString title = makeString("Information");
    FixedString value = makeString("A row that only shows a value");
    infoRow(&title, &value, 0, ui, &s->list);
    title = makeString("Checked, with an icon");
    RowResult row = checkboxRow(&title, &none, 1, 1, stack, ui, &s->list);
    drawIconInRect(&row.layout.iconRect, &s->list.clipRect, 0.71f, 8, IconKindAsset, AssetCamera,
                   &ui->batches.textured2d, ui);
    title = makeString("Unchecked");
    value = makeString("With a description");
    checkboxRow(&title, &value, 0, 0, stack, ui, &s->list);
    title = makeString("Button row");
    buttonRow(&title, &none, 0, stack, ui, &s->list);
    title = makeString("Units");
    i32 selected = s->choice;
    choiceRow(&title, &none, s->choice, &selected, kUnits, 3, 0, stack, ui, &s->list, &choiceId);
    title = makeString("Option grid");
    WidgetId gridId = WIDGET_ID;
    optionGridRow(&title, &none, 100, 0, stack, ui, &s->list, &gridId);
    title = makeString("Name");
    FixedString placeholder = makeString("Type a name");
    WidgetId nameId = WIDGET_ID;
    textFieldRow(&title, &s->name, &s->name, &placeholder, TextKeyboardFull, 0, stack, ui, &stack->runner.textFocus,
                 &s->list, &nameId);
    for (i32 i = 0; i < 6; i++) {
        title = makeString("More rows below");
        buttonRow(&title, &none, 0, stack, ui, &s->list);
    }
    endMapView(stack, ui, &s->list);

    Rect pickerRect{680, 1260, 450, 700};
    beginMapView(&pickerRect, platform, ui, &s->pickers);
    title = makeString("Interval");
    stepperRow(&title, &none, (i32)s->step, &s->step, kSteps, 5, 1.5f, 0, stack, ui, &s->pickers, &stepperId);
    endMapView(stack, ui, &s->pickers);

    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, 28, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = 6;
    style.cornerRadius = 12;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = 3;
    Rect plain{700, 960, 330, 370};
    WidgetId plainId = WIDGET_ID;
    FixedString label = makeString("Button");
    buttonState(&label, &plain, 0.5f, &style, ui, stack, &plainId);
    label = makeString("Pressed");
    WidgetId pressedId = WIDGET_ID;
    buttonState(&label, &kPressedButton, 0.5f, &style, ui, stack, &pressedId);
    Rect iconRect{980, 1260, 170, 370};
    drawIconInRect(&iconRect, &iconRect, 0.5f, 8, IconKindAsset, AssetLogo, &ui->batches.textured2d, ui);

    TextStyle fieldStyle{kTextWhite, kNoOutline, kSelectionOrange, 28, 0, 0};
    Rect editRect{700, 960, 170, 230};
    addRoundedRect(editRect, 0.4f, editRect, 2, 6, kKeyGrey, kSecondaryGrey, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);
    FixedString hint = makeString("Placeholder");
    WidgetId editId = WIDGET_ID;
    textField(&s->edit, &hint, AnchorLeftCentre, TextKeyboardFull, &editRect, &editRect, 0.5f, &fieldStyle,
              kButtonGrey, ui, stack, &stack->runner.textFocus, &editId);
    addRoundedRect(kNumberField, 0.4f, kNumberField, 2, 6, kKeyGrey, kSecondaryGrey, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    WidgetId numberId = WIDGET_ID;
    textField(&s->number, &hint, AnchorLeftCentre, TextKeyboardNumpad, &kNumberField, &kNumberField, 0.5f,
              &fieldStyle, kButtonGrey, ui, stack, &stack->runner.textFocus, &numberId);
    Rect emptyRect{700, 960, 100, 160};
    addRoundedRect(emptyRect, 0.4f, emptyRect, 2, 6, kKeyGrey, kSecondaryGrey, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);
    FixedString empty{};
    WidgetId emptyId = WIDGET_ID;
    textField(&empty, &hint, AnchorLeftCentre, TextKeyboardFull, &emptyRect, &emptyRect, 0.5f, &fieldStyle, kButtonGrey,
              ui, stack, &stack->runner.textFocus, &emptyId);
}

TEST(WidgetGallery, EveryWidgetOnOneScreen) {
    ScreenHarness harness{};
    ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, galleryScreen));
    UiState* ui = &harness.render.app->renderer.ui;
    for (i32 i = 0; i < 200 && !(ui->assets[AssetLogo].state == 2 && ui->assets[AssetCamera].state == 2); i++) {
        screenFrame(&harness);
    }
    EXPECT_EQ(ui->assets[AssetLogo].state, 2);
    touchDown(&harness, 1, midX(kPressedButton), midY(kPressedButton));
    screenFrame(&harness, 3);
    EXPECT_EQ(harnessPixel(&harness.render, (i32)kPressedButton.x0 + 8, (i32)midY(kPressedButton)), 0xFFC0C0C0u);
    FixedString written = writeHarnessPng(&harness.render, testOutputPath("UserInterfaceWidgets.png"));
    EXPECT_EQ(written.length, 0) << written.text;
    touchUp(&harness, 1);
    screenFrame(&harness);

    // A press on the number field focuses it: the keypad replaces the corner button, and a drag
    // selects.
    touchDown(&harness, 2, kNumberField.x0 + 5, midY(kNumberField));
    screenFrame(&harness);
    touchMove(&harness, 2, kNumberField.x1 - 5, midY(kNumberField));
    screenFrame(&harness);
    touchUp(&harness, 2);
    screenFrame(&harness, 2);
    TextEditState* focus = &harness.stack->runner.textFocus;
    EXPECT_EQ(focus->keyboardMode, (u32)TextKeyboardNumpad);
    EXPECT_EQ(focus->selectionAnchor, 0);
    EXPECT_EQ(focus->caret, 4);
    written = writeHarnessPng(&harness.render, testOutputPath("UserInterfaceWidgetsKeypad.png"));
    EXPECT_EQ(written.length, 0) << written.text;
    stopScreenHarness(&harness);
}

}  // namespace
