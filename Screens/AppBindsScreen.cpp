#include "Screens/AppBindsScreen.h"

#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/PreferenceFields.h"
#include "Core/Profiler.h"
#include "Platform/Platform.h"
#include "Drone/ControllerBindings.h"
#include "Screens/SettingsScreen.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr f32 kRowsDepth = 0.7f;

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// The value of an input for its activity bar, in [-1, 1] before clamping.
f32 activityValue(u32 base, const RcChannels* rc, const GamepadState* pad, const InputState* keys) {
    i32 channel = controllerInputRcChannel(base);
    if (channel >= 0) {
        if (channel >= rc->count || channel >= kRcChannelCount) return 0;
        return ((f32)rc->values[channel] - 1500) / 500;
    }
    i32 source = controllerInputSource(base);
    if (source >= kFirstKeySource) return isKeyDown(keys, source) ? 1.0f : 0.0f;
    if (source >= 0) return gamepadAxis(pad, source);
    return 0;
}

// A number row of the screen: shows its text, stores the number of a finished entry (0 when none).
void numberRow(const char* titleText, FixedString value, f64* field, AppBindsScreenState* state, ScreenStack* stack,
               UiState* ui, const WidgetId* id) {
    FixedString title = makeString(titleText);
    TextFieldRowResult r = textFieldRow(&title, &value, &state->editBuffer, &value, TextKeyboardNumpad, 0, stack, ui,
                                        &stack->runner.textFocus, &state->listView, id);
    if (r.submitted) {
        *field = enteredNumber(&state->editBuffer, 0);
        state->listView.openRowId = WidgetId{};
    }
}

void drawBindActivity(u32 isButton, u32 inverted, const u32* inputs, i32 count, const Rect& firstRow, f32 rowHeight,
                      const RcChannels* rc, Platform* platform, UiState* ui, const MapView* view) {
    const GamepadState* pad = &platform->gamepad;
    f32 t = view->textSize;
    for (i32 i = 0; i < count; i++) {
        u32 base = inputs[i];
        if (base == ControllerInputUnbound) continue;
        bool rcInput = controllerInputRcChannel(base) >= 0;
        if (!rcInput && pad->controllerKind == ControllerNone) continue;
        Rect row{firstRow.x0, firstRow.x1, firstRow.y0 - i * rowHeight, firstRow.y1 - i * rowHeight};
        // The bar runs from the middle of the right half of the row, -1 to its left, 1 to its right.
        f32 left = (row.x0 + row.x1) / 2, right = row.x1 - t / 2;
        f32 middle = (left + right) / 2, half = (right - left) / 2;
        f32 value = activityValue(base, rc, pad, &platform->input);
        if (value > 1) value = 1;
        if (value < -1) value = -1;
        f32 cy = (row.y0 + row.y1) / 2;
        Rect track{left, right, cy - t / 8, cy + t / 8};
        addRoundedRect(track, kRowsDepth, view->clipRect, 0, 0, 0xFF202020, 0xFF202020, &ui->batches.coloredRect,
                       ui->halfWidth, ui->halfHeight);
        f32 end = middle + value * half;
        Rect bar{end < middle ? end : middle, end < middle ? middle : end, cy - t / 4, cy + t / 4};
        if (bar.x1 - bar.x0 < 2) bar.x1 = bar.x0 + 2;
        Color color = bindActivityColor(isButton, inverted, base, rc, pad, &platform->input);
        addRoundedRect(bar, kRowsDepth + 0.001f, view->clipRect, 0, 0, color, color, &ui->batches.coloredRect,
                       ui->halfWidth, ui->halfHeight);
    }
}

}  // namespace

i32 listedBaseInputs(u32 controllerKind, u32* out) {
    i32 count = 0;
    for (u32 base = 0; base < (u32)kBaseControllerInputs; base++) {
        const char* name = controllerInputNames[base];
        if (startsWith(name, "RC")) continue;
        if (controllerKind == ControllerPilotPro && startsWith(name, "Herelink")) continue;
        if (controllerKind == ControllerHerelink && startsWith(name, "Pilot Pro")) continue;
        out[count++] = base;
    }
    return count;
}

u32 flipBindingInversion(u32 binding) {
    if (binding == ControllerInputUnbound) return binding;
    // "Unbound (inverted)" has no source either; it becomes "Unbound" rather than a value past 63.
    if (binding == ControllerInputInverted) return ControllerInputUnbound;
    if (binding >= 1 && binding < 32) return binding + 32;
    if (binding > 32 && binding < kControllerInputs) return binding - 32;
    return binding;
}

Color bindActivityColor(u32 isButton, u32 inverted, u32 base, const RcChannels* rc, const GamepadState* pad,
                        const InputState* keys) {
    i32 channel = controllerInputRcChannel(base);
    i32 source = controllerInputSource(base);
    if (!isButton) {
        f32 value = 0, low = 0, high = 0;
        if (channel >= 0) {
            if (channel >= rc->count || channel >= kRcChannelCount) return kBindIdleColor;
            value = rc->values[channel], low = 1480, high = 1520;
        } else if (source >= 0 && source < kFirstKeySource) {
            value = gamepadAxis(pad, source), low = -kAxisDeadZone, high = kAxisDeadZone;
        } else {
            return kBindIdleColor;
        }
        if (value > high) return inverted ? kBindNegativeColor : kBindPositiveColor;
        if (value < low) return inverted ? kBindPositiveColor : kBindNegativeColor;
        return kBindIdleColor;
    }
    bool active = false;
    if (channel >= 0) {
        if (channel < rc->count && channel < kRcChannelCount) {
            i32 p = rc->values[channel];
            active = inverted ? p < kRcButtonPressedInverted : p > kRcButtonPressed;
        }
    } else if (source >= kFirstKeySource) {
        active = isKeyDown(keys, source) != (inverted != 0);
    } else if (source >= 0) {
        f32 a = gamepadAxis(pad, source);
        active = inverted ? a < -kAxisButtonThreshold : a > kAxisButtonThreshold;
    }
    return active ? kBindPressedColor : kBindIdleColor;
}

FixedString degreesText(f64 value, const char* after) {
    return formatStrCstr("@\xC2\xB0@", stringFromDoubleTrimmed(value, 6), after);
}

u32 bindingRowWidget(const char* label, u32* binding, u32 isButton, Platform* platform, AppState* app,
                     ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id) {
    u32 before = *binding;
    f32 t = view->textSize, p = view->padding;
    u32 inputs[kMaxListedInputs];
    i32 count = listedBaseInputs(platform->gamepad.controllerKind, inputs);
    FixedString title = makeString(label);
    FixedString value = controllerInputName(*binding);
    WidgetId openBefore = view->openRowId;
    u32 justOpenedBefore = view->rowJustOpened;

    ExpandableRowResult row = optionGridRow(&title, &value, count * 2 * t + 2 * p, 0, stack, ui, view, id);
    u32 inverted = isControllerInputInverted(*binding) ? 1 : 0;

    // The Invert box, left of the row's chevron.
    bool invertClicked = false;
    if (row.visible) {
        const RowLayout& l = row.layout;
        f32 side = 2 * t - 2 * p;
        f32 cy = (l.rowRect.y0 + l.rowRect.y1) / 2;
        f32 right = l.sideRect.x0 - p;
        Rect box{right - side, right, cy - side / 2, cy + side / 2};
        Rect hit{box.x0 - 4 * t, box.x1, l.rowRect.y0, l.rowRect.y1};
        TextStyle labelStyle{kSecondaryGrey, kNoOutline, kSelectionOrange, t, 0, 0};
        drawTextAt(ui, makeString("Invert"), AnchorRightCentre, Vec2F32{box.x0 - p, cy}, kRowsDepth, view->clipRect,
                   labelStyle);
        addRoundedRect(box, kRowsDepth, view->clipRect, 2, p / 2, inverted ? kCheckedYellow : kKeyGrey, kSecondaryGrey,
                       &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
        if (inverted) {
            f32 cx = (box.x0 + box.x1) / 2, w = box.x1 - box.x0;
            addLine(Vec2F32{cx - w / 4, cy}, Vec2F32{cx, cy - w / 4}, kRowsDepth + 0.001f, view->clipRect, kTextWhite,
                    3, &ui->batches.line2d);
            addLine(Vec2F32{cx + w / 4, cy + w / 4}, Vec2F32{cx, cy - w / 4}, kRowsDepth + 0.001f, view->clipRect,
                    kTextWhite, 3, &ui->batches.line2d);
        }
        if (buttonBehavior(&hit, view, stack) > 0xFFFFFFFFull) {
            invertClicked = true;
            *binding = flipBindingInversion(*binding);
            // The click was meant for the box, not for opening or closing the list.
            view->openRowId = openBefore;
            view->rowJustOpened = justOpenedBefore;
        }
    }

    if (row.expanded && !invertClicked) {
        const Rect& area = row.area;
        TextStyle labelStyle{kSecondaryGrey, kNoOutline, kSelectionOrange, t, 0, 0};
        u32 currentBase = controllerInputBase(*binding);
        Rect first{};
        for (i32 i = 0; i < count; i++) {
            Rect box{area.x0 + 2 * p, area.x1 - 2 * p, area.y1 - p - (i + 1) * 2 * t, area.y1 - p - i * 2 * t};
            if (i == 0) first = box;
            Rect circle{box.x0 + p, box.x0 + 2 * t - p, box.y0 + p, box.y1 - p};
            addRoundedRect(circle, kRowsDepth, view->clipRect, 2, (circle.x1 - circle.x0) / 2,
                           inputs[i] == currentBase ? kCheckedYellow : kNoOutline, kSecondaryGrey,
                           &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
            Rect labelCrop = intersectRect(box, view->clipRect);
            drawTextAt(ui, makeString(controllerInputNames[inputs[i]]), AnchorLeftCentre,
                       Vec2F32{box.x0 + 2 * t, (box.y0 + box.y1) / 2}, kRowsDepth, labelCrop, labelStyle);
            if (buttonBehavior(&box, view, stack) > 0xFFFFFFFFull) *binding = inputs[i];
        }
        drawBindActivity(isButton, inverted, inputs, count, first, 2 * t, &app->droneConnection.vehicle.rcChannels,
                         platform, ui, view);
    }
    return *binding != before ? 1 : 0;
}

void appBindsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                    void* scratch) {
    (void)result;
    ProfilingScope scope("App Binds Screen");
    AppBindsScreenState* state = (AppBindsScreenState*)scratch;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    Preferences* prefs = &app->preferences;
    beginMapView(&ui->screenRect, platform, ui, view);

    // Ids of the rows, one source line each.
    const WidgetId pitchId = WIDGET_ID;
    const WidgetId yawId = WIDGET_ID;
    const WidgetId zoomId = WIDGET_ID;
    const WidgetId scalarId = WIDGET_ID;
    const WidgetId togglePitchYawId = WIDGET_ID;
    const WidgetId togglePitchZoomId = WIDGET_ID;
    const WidgetId recenterId = WIDGET_ID;
    const WidgetId recenterPitchId = WIDGET_ID;
    const WidgetId secondaryId = WIDGET_ID;
    const WidgetId secondaryPitchId = WIDGET_ID;
    const WidgetId secondaryYawId = WIDGET_ID;
    const WidgetId visIrId = WIDGET_ID;
    const WidgetId photoId = WIDGET_ID;
    const WidgetId videoId = WIDGET_ID;
    const WidgetId mapId = WIDGET_ID;

    bindingRowWidget("Pitch gimbal", &prefs->pitchGimbalBinding, 0, platform, app, stack, ui, view, &pitchId);
    bindingRowWidget("Yaw gimbal", &prefs->yawGimbalBinding, 0, platform, app, stack, ui, view, &yawId);
    bindingRowWidget("Zoom camera", &prefs->zoomCameraBinding, 0, platform, app, stack, ui, view, &zoomId);
    if (prefs->pitchGimbalBinding != ControllerInputUnbound) {
        numberRow("Pitch/yaw gimbal scalar", stringFromDoubleTrimmed(prefs->gimbalSticksScalar, 8),
                  &prefs->gimbalSticksScalar, state, stack, ui, &scalarId);
    }
    bindingRowWidget("Toggle pitch gimbal to control yaw instead, hold to recenter", &prefs->togglePitchYawBinding, 1,
                     platform, app, stack, ui, view, &togglePitchYawId);
    bindingRowWidget("Toggle pitch gimbal to control zoom instead, hold to recenter", &prefs->togglePitchZoomBinding,
                     1, platform, app, stack, ui, view, &togglePitchZoomId);
    bindingRowWidget("Recenter gimbal", &prefs->recenterGimbalBinding, 1, platform, app, stack, ui, view, &recenterId);
    if (prefs->togglePitchYawBinding != ControllerInputUnbound || prefs->togglePitchZoomBinding != ControllerInputUnbound ||
        prefs->recenterGimbalBinding != ControllerInputUnbound) {
        numberRow("Recenter position pitch", degreesText(prefs->recenterPositionPitch, " above horizon"),
                  &prefs->recenterPositionPitch, state, stack, ui, &recenterPitchId);
    }
    bindingRowWidget("Go to secondary gimbal position", &prefs->secondaryGimbalPositionBinding, 1, platform, app, stack,
                     ui, view, &secondaryId);
    if (prefs->secondaryGimbalPositionBinding != ControllerInputUnbound) {
        numberRow("Secondary position pitch", degreesText(prefs->secondaryPositionPitch, " above horizon"),
                  &prefs->secondaryPositionPitch, state, stack, ui, &secondaryPitchId);
        numberRow("Secondary position yaw", degreesText(prefs->secondaryPositionYaw, " right from front"),
                  &prefs->secondaryPositionYaw, state, stack, ui, &secondaryYawId);
    }
    bindingRowWidget("Toggle visible/thermal", &prefs->toggleVisIrCameraBinding, 1, platform, app, stack, ui, view,
                     &visIrId);
    bindingRowWidget("Shoot photo", &prefs->shootPhotoBinding, 1, platform, app, stack, ui, view, &photoId);
    bindingRowWidget("Start/stop video", &prefs->recordVideoBinding, 1, platform, app, stack, ui, view, &videoId);
    bindingRowWidget("Maximize/minimize map", &prefs->minimizeMapBinding, 1, platform, app, stack, ui, view, &mapId);

    {
        PreferencesState* preferencesState = &app->preferencesState;
        FixedString title = makeString("Default bindings");
        FixedString text = makeString(preferencesState->bindingsAtDefaults ? "You're using the default bindings"
                                                                            : "Click to reset bindings to default");
        RowResult r = checkboxRow(&title, &text, 0, (i32)preferencesState->bindingsAtDefaults, stack, ui, view);
        if (r.clicked && !preferencesState->bindingsAtDefaults) preferencesState->resetBindingsRequest = 1;
    }
    endMapView(stack, ui, view);
}
