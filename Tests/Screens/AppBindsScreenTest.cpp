// The App Binds Screen through real frames: choosing an input for a control, the Invert box, the
// rows that appear with their bindings, the reset to defaults and the live activity bar; and the
// rules of the choice list and the activity colours.
#include <gtest/gtest.h>

#include "Core/PreferenceFields.h"
#include "Screens/AppBindsScreen.h"
#include "Drone/ControllerBindings.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

enum BindRow : i32 {
    RowPitch = 0,
    RowYaw,
    RowZoom,
    RowTogglePitchYaw,
    RowTogglePitchZoom,
    RowRecenter,
    RowSecondary,
    RowVisIr,
    RowShootPhoto,
    RowRecordVideo,
    RowMap,
    RowDefaults,
};

class AppBindsScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, 800, 1600));
        harness.platform->gamepad.controllerKind = ControllerPilotPro;
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = appBindsScreen;
        clearScreenScratch(stack);
        frames(&harness, 2);
    }
    void TearDown() override { stopScreensHarness(&harness); }

    f32 t() { return listTextSize(&harness); }
    f32 rowHeight() { return 3.2f * t(); }
    void clickRow(i32 row) { click(&harness, 300, rowCentreY(&harness, row)); }
    f32 optionY(i32 row, i32 option) {
        f32 bottom = rowCentreY(&harness, row) - rowHeight() / 2;
        return bottom - t() / 2 - (option + 0.5f) * 2 * t();
    }
    // The centre of a row's Invert box: left of the chevron cell.
    void clickInvert(i32 row) {
        f32 width = (f32)harness.render.width;
        f32 side = 2 * t() - t();
        f32 right = width - 0.66f * rowHeight() - t() / 2;
        click(&harness, right - side / 2, rowCentreY(&harness, row));
    }
    Preferences* prefs() { return &harness.app->preferences; }

    ScreensHarness harness{};
};

TEST_F(AppBindsScreenTest, ChoosingAndInvertingABinding) {
    clickRow(RowShootPhoto);
    click(&harness, 300, optionY(RowShootPhoto, 5));  // Unbound, rockers, L1, R1, L2
    EXPECT_EQ(prefs()->shootPhotoBinding, (u32)ControllerInputPilotProL2);
    clickRow(RowShootPhoto);  // closes the list

    clickInvert(RowShootPhoto);
    EXPECT_EQ(prefs()->shootPhotoBinding, (u32)ControllerInputPilotProL2 + 32);
    clickInvert(RowShootPhoto);
    EXPECT_EQ(prefs()->shootPhotoBinding, (u32)ControllerInputPilotProL2);
    clickInvert(RowRecordVideo);  // "Unbound" stays unbound
    EXPECT_EQ(prefs()->recordVideoBinding, (u32)ControllerInputUnbound);

    // A new choice is never inverted.
    prefs()->shootPhotoBinding = ControllerInputHerelinkA + 32;
    frames(&harness);
    clickRow(RowShootPhoto);
    click(&harness, 300, optionY(RowShootPhoto, 5));
    EXPECT_EQ(prefs()->shootPhotoBinding, (u32)ControllerInputPilotProL2);
}

TEST_F(AppBindsScreenTest, RowsThatComeWithTheirBindings) {
    clickRow(RowPitch);
    click(&harness, 300, optionY(RowPitch, 1));  // Pilot Pro Left Rocker
    EXPECT_EQ(prefs()->pitchGimbalBinding, (u32)ControllerInputPilotProLeftRocker);
    clickRow(RowPitch);
    // The scalar row now follows the zoom row.
    clickRow(3);
    typeText(&harness, "0.25");
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_DOUBLE_EQ(prefs()->gimbalSticksScalar, 0.25);

    prefs()->recenterGimbalBinding = ControllerInputPilotProR1;
    frames(&harness);
    // Pitch, yaw, zoom, scalar, two toggles, recenter, then the recenter pitch.
    clickRow(7);
    typeText(&harness, "-12.5");
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_DOUBLE_EQ(prefs()->recenterPositionPitch, -12.5);
    // Entries beyond what the preference holds are held at its limit; not-a-number reads as 0.
    clickRow(7);
    typeText(&harness, "1e999");
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_DOUBLE_EQ(prefs()->recenterPositionPitch, kMaxPreferenceNumber);
    frames(&harness);
    clickRow(7);
    typeText(&harness, "0e999");
    sendKeyEvent(&harness, KeyEventDone);
    EXPECT_DOUBLE_EQ(prefs()->recenterPositionPitch, 0.0);
}

TEST_F(AppBindsScreenTest, ResetToTheDefaults) {
    harness.app->preferencesState.bindingsAtDefaults = 1;
    frames(&harness);
    clickRow(RowDefaults);
    EXPECT_EQ(harness.app->preferencesState.resetBindingsRequest, 0u);
    harness.app->preferencesState.bindingsAtDefaults = 0;
    frames(&harness);
    clickRow(RowDefaults);
    EXPECT_EQ(harness.app->preferencesState.resetBindingsRequest, 1u);
}

TEST_F(AppBindsScreenTest, LiveActivityOfAPressedKey) {
    clickRow(RowShootPhoto);
    moveMouseAway(&harness);
    harnessKey(&harness.render, 242, true);  // Pilot Pro L1, option 3
    frames(&harness);
    f32 width = (f32)harness.render.width;
    f32 p = t() / 2;
    f32 left = width / 2, right = width - 2 * p - t() / 2;
    f32 middle = (left + right) / 2;
    i32 x = (i32)((middle + right) / 2), y = (i32)optionY(RowShootPhoto, 3);
    EXPECT_EQ(harnessPixel(&harness.render, x, y), kBindPressedColor);
    FixedString error = writeHarnessPng(&harness.render, outputPath("ScreensAppBindsScreen.png").c_str());
    EXPECT_EQ(error.length, 0) << error.text;
    harnessKey(&harness.render, 242, false);
    frames(&harness);
    EXPECT_NE(harnessPixel(&harness.render, x, y), kBindPressedColor);
}

TEST(BindingChoices, ListedInputsByController) {
    u32 inputs[kMaxListedInputs];
    i32 count = listedBaseInputs(ControllerPilotPro, inputs);
    ASSERT_EQ(count, 7);
    for (i32 i = 0; i < count; i++) EXPECT_EQ(inputs[i], (u32)i);  // Unbound and the six Pilot Pro inputs
    count = listedBaseInputs(ControllerHerelink, inputs);
    ASSERT_EQ(count, 8);
    EXPECT_EQ(inputs[0], (u32)ControllerInputUnbound);
    EXPECT_EQ(inputs[1], (u32)ControllerInputHerelinkWheel);
    EXPECT_EQ(inputs[7], (u32)ControllerInputHerelinkTrigger);
    count = listedBaseInputs(ControllerGamepad, inputs);
    EXPECT_EQ(count, 14);  // every input but the RC channels
}

TEST(BindingChoices, InversionFlip) {
    EXPECT_EQ(flipBindingInversion(0), 0u);
    EXPECT_EQ(flipBindingInversion(1), 33u);
    EXPECT_EQ(flipBindingInversion(31), 63u);
    EXPECT_EQ(flipBindingInversion(32), 0u);  // "Unbound (inverted)" becomes "Unbound", not a value past 63
    EXPECT_EQ(flipBindingInversion(40), 8u);
    EXPECT_EQ(flipBindingInversion(63), 31u);
    EXPECT_EQ(flipBindingInversion(100), 100u);
}

TEST(BindingChoices, ActivityColours) {
    RcChannels rc{};
    rc.count = 18;
    for (u16& v : rc.values) v = 1500;
    GamepadState pad{};
    pad.controllerKind = ControllerGamepad;
    InputState keys{};
    const u32 rc3 = ControllerInputRcChannel1 + 2;
    EXPECT_EQ(bindActivityColor(0, 0, rc3, &rc, &pad, &keys), kBindIdleColor);
    rc.values[2] = 1521;
    EXPECT_EQ(bindActivityColor(0, 0, rc3, &rc, &pad, &keys), kBindPositiveColor);
    EXPECT_EQ(bindActivityColor(0, 1, rc3, &rc, &pad, &keys), kBindNegativeColor);
    rc.values[2] = 1479;
    EXPECT_EQ(bindActivityColor(0, 0, rc3, &rc, &pad, &keys), kBindNegativeColor);
    EXPECT_EQ(bindActivityColor(1, 0, rc3, &rc, &pad, &keys), kBindIdleColor);
    rc.values[2] = 1399;
    EXPECT_EQ(bindActivityColor(1, 1, rc3, &rc, &pad, &keys), kBindPressedColor);
    rc.values[2] = 1601;
    EXPECT_EQ(bindActivityColor(1, 0, rc3, &rc, &pad, &keys), kBindPressedColor);
    rc.count = 2;
    EXPECT_EQ(bindActivityColor(1, 0, rc3, &rc, &pad, &keys), kBindIdleColor);

    keys.keys[256 / 64] |= 1ull << (256 % 64);  // Herelink trigger down
    EXPECT_EQ(bindActivityColor(1, 0, ControllerInputHerelinkTrigger, &rc, &pad, &keys), kBindPressedColor);
    EXPECT_EQ(bindActivityColor(1, 1, ControllerInputHerelinkTrigger, &rc, &pad, &keys), kBindIdleColor);
}

TEST(BindingChoices, DegreeTexts) {
    EXPECT_STREQ(degreesText(12.5, " above horizon").text, "12.5\xC2\xB0 above horizon");
    EXPECT_STREQ(degreesText(-30, " right from front").text, "-30\xC2\xB0 right from front");
    EXPECT_STREQ(degreesText(0.1234561, "").text, "0.123456\xC2\xB0");
}

}  // namespace
