// The Orvik payload on the bench: its board report on the left, and on the right seven rows of two
// buttons that move its motors, set its injection amount, start (after a confirmation), stop and
// release it, with one number field: the drop spacing in the air, the dropping period on the ground.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "Screens/MainScreen.h"
#include "Screens/PayloadScreenCommon.h"
#include "Screens/PayloadSetupScreens.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr i32 kControlRows = 7;
constexpr u8 kTwoDrops = 2;
constexpr f32 kControlDepth = 0.8f;

struct SetupAttachedOrvik2State {
    u32 initialised;
    MapView statusView;
    u32 editingField;    // the number field is a text field
    u32 startConfirm;    // "START" was pressed: the start row confirms or cancels
    u32 dropTwoConfirm;  // "DROP 2" was pressed
    FixedString fieldText;
};

struct Controls {
    UiState* ui;
    ScreenStack* stack;
    Rect screen;
    ButtonStyle style;
    LayoutCells rows;
};

Rect cellOf(const Controls* controls, i32 row, i32 side) {
    LayoutCells cells = splitLayout(LayoutAlongX, nullptr, 2, controls->style.textPadding, &controls->rows.cells[row]);
    return cells.cells[side];
}

bool press(Controls* controls, const char* caption, i32 row, i32 side, const WidgetId& id) {
    Rect cell = cellOf(controls, row, side);
    return button(makeString(caption), &cell, &controls->screen, kControlDepth, &controls->style, controls->ui,
                  controls->stack, &id)
        .clicked;
}

// The first row's left cell: a button that shows the value, or the text field while it is edited.
void numberField(SetupAttachedOrvik2State* state, Controls* controls, Preferences* preferences, bool flying) {
    static const WidgetId fieldId = WIDGET_ID;
    Rect cell = cellOf(controls, 0, 0);
    FixedString value = flying ? formatLength(preferences->orvikDropSpacing, 0.1, preferences)
                               : stringFromDoubleTrimmed(preferences->orvikGroundDropTiming, 6);
    TextEditState* focus = &controls->stack->runner.textFocus;
    if (!state->editingField) {
        FixedString caption = flying ? formatStr("DROP SPACING: @", value) : formatStr("DROPPING PERIOD: @ s", value);
        if (!button(caption, &cell, &controls->screen, kControlDepth, &controls->style, controls->ui, controls->stack,
                    &fieldId)
                 .clicked) {
            return;
        }
        state->editingField = 1;
        state->fieldText = FixedString{};
        focus->focusedId = fieldId;
        focus->selectingPointer = -1;
        focus->selectionAnchor = focus->caret = focus->caretBlinkStart = 0;
        focus->keyboardMode = TextKeyboardNumpad;
        focus->focusRenewed = 1;
    }
    UiState* ui = controls->ui;
    addRoundedRect(cell, kControlDepth, controls->screen, 0, controls->style.cornerRadius, kKeyGrey, kKeyGrey,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    FixedString hint = flying ? value : formatStr("@ s", value);
    TextEditResult edit = textField(&state->fieldText, &hint, AnchorCentre, TextKeyboardNumpad, &cell,
                                    &controls->screen, kControlDepth + 0.01f, &controls->style.textStyle,
                                    kPayloadHintGrey, ui, controls->stack, focus, &fieldId);
    if (edit.changed) {
        if (flying) {
            commitLengthEntry(&state->fieldText, preferences, &preferences->orvikDropSpacing);
        } else {
            commitSecondsEntry(&state->fieldText, &preferences->orvikGroundDropTiming);
        }
    }
    if (edit.submitted) {
        state->editingField = 0;
        if (!flying) clampGroundDropTiming(preferences);
    }
}

}  // namespace

u8 lowerInjection(u8 amount) { return amount >= 20 ? (u8)(amount - 10) : 10; }
u8 raiseInjection(u8 amount) { return amount > 190 ? 200 : (u8)(amount + 10); }

void setupAttachedOrvik2Screen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                               void* scratch) {
    ProfilingScope scope("Setup Attached Orvik 2 Screen");
    (void)result;
    SetupAttachedOrvik2State* state = (SetupAttachedOrvik2State*)scratch;
    if (!state->initialised) {
        state->initialised = 1;
        state->statusView = makeScrollView(WIDGET_ID);
    }
    setClearColor(ui, kPayloadSetupBackground);
    const UiMetrics* m = &app->uiMetrics;
    Preferences* preferences = &app->preferences;
    OrvikPayloadState* orvik = &app->droneConnection.payload.orvik;
    u64 now = stack->now;
    bool flying = payloadFlightPhase(&app->droneConnection.vehicle) >= 2;
    Rect screen = ui->screenRect;
    f32 middle = (screen.x0 + screen.x1) / 2;

    u8 bytes[1000];
    ByteWriter report = makeByteWriter(bytes, sizeof(bytes));
    appendOrvikBoardStatus(orvik, preferences, now, &report);
    drawStatusTextView(&state->statusView, Rect{screen.x0, middle, screen.y0, screen.y1}, bytes, report.length,
                       platform, ui, stack);

    f32 p = m->margin;
    Rect column{middle + p, screen.x1 - p, screen.y0 + p, screen.y1 - p};
    Controls controls{ui, stack, screen, payloadSetupButtonStyle(m, kTextWhite),
                      splitLayout(LayoutAlongY, nullptr, kControlRows, p, &column)};

    numberField(state, &controls, preferences, flying);
    if (press(&controls, "AGITATE", 0, 1, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestAgitate, now);
    if (press(&controls, "BACKWARD A", 1, 0, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestBackwardA, now);
    if (press(&controls, "BACKWARD B", 1, 1, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestBackwardB, now);
    if (press(&controls, "FORWARD A", 2, 0, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestForwardA, now);
    if (press(&controls, "FORWARD B", 2, 1, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestForwardB, now);
    if (press(&controls, "PURGE A", 3, 0, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestPurgeA, now);
    if (press(&controls, "PURGE B", 3, 1, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestPurgeB, now);
    if (press(&controls, "INJECT -", 4, 0, WIDGET_ID)) {
        orvik->wantedInjection = lowerInjection(orvik->wantedInjection);
        orvik->requestTimes[0] = now;
    }
    if (press(&controls, "INJECT +", 4, 1, WIDGET_ID)) {
        orvik->wantedInjection = raiseInjection(orvik->wantedInjection);
        orvik->requestTimes[0] = now;
    }
    // The start row: one widget per cell whatever it shows, so that a second press on the cell just
    // pressed lands on its cancel button.
    static const WidgetId startLeft = WIDGET_ID;
    static const WidgetId startRight = WIDGET_ID;
    const char* leftCaption = state->startConfirm ? "CANCEL START" : state->dropTwoConfirm ? "CONFIRM DROP 2" : "START";
    const char* rightCaption = state->startConfirm ? "CONFIRM START" : state->dropTwoConfirm ? "CANCEL DROP 2" : "DROP 2";
    bool left = press(&controls, leftCaption, 5, 0, startLeft);
    bool right = press(&controls, rightCaption, 5, 1, startRight);
    if (state->startConfirm) {
        if (right) {
            orvik->wantedDropCount = kOrvikContinuousDrops;
            raiseOrvikRequest(orvik, OrvikRequestStart, now);
        }
        if (left || right) state->startConfirm = 0;
    } else if (state->dropTwoConfirm) {
        if (left) {
            preferences->orvikGroundDropTiming = 0;
            orvik->wantedDropCount = kTwoDrops;
            raiseOrvikRequest(orvik, OrvikRequestStart, now);
        }
        if (left || right) state->dropTwoConfirm = 0;
    } else if (left) {
        state->startConfirm = 1;
    } else if (right) {
        state->dropTwoConfirm = 1;
    }
    if (press(&controls, "STOP", 6, 0, WIDGET_ID)) raiseOrvikRequest(orvik, OrvikRequestStop, now);
    if (press(&controls, "EMERGENCY RELEASE", 6, 1, WIDGET_ID)) {
        raiseOrvikRequest(orvik, OrvikRequestEmergencyRelease, now);
    }
}
