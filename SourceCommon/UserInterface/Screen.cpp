#include "SourceCommon/UserInterface/Screen.h"

#include <cstddef>
#include <cstring>

#include "Core/Clock.h"
#include "Core/Profiler.h"
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/OnScreenKeyboard.h"
#include "SourceCommon/UserInterface/Widgets.h"

static_assert(sizeof(ScreenStack) - offsetof(ScreenStack, runner) == kScreenScratchBytes,
              "the scratch area runs from the runner's state to the end of the stack");

namespace {

// The corner button's ids: one for the fullscreen toggle of the first screen, one for back.
constexpr u64 kFullscreenButtonLine = 119;
constexpr u64 kBackButtonLine = 172;

void appendFocusEvents(TextEditState* focus, const i32* events, i32 count) {
    for (i32 i = 0; i < count && focus->eventCount < kMaxKeyEvents; i++) focus->events[focus->eventCount++] = events[i];
}

void drawCornerButton(ScreenStack* stack, Platform* platform, UiState* ui, ScreenResult* result, f32 lineHeight,
                      f32 padding) {
    ScreenRunnerState* runner = &stack->runner;
    Rect rect{padding, 3 * padding + 2 * lineHeight, padding, 3 * padding + 2 * lineHeight};
    runner->cornerButtonRect = rect;
    runner->reservedWidth = runner->reservedHeight = 2 * lineHeight + 4 * padding;
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, lineHeight, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = padding;
    style.cornerRadius = (2 * padding + lineHeight) / 4;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = padding / 2;
    bool first = stack->depth <= 1;
    WidgetId id{first ? kFullscreenButtonLine : kBackButtonLine, __FILE__};
    ButtonResult pressed = button(FixedString{}, &rect, &rect, 0.98f, &style, ui, stack, &id);

    // The icon: the button shrunk by a fifth of its height on every side.
    f32 inset = (rect.y1 - padding) * 0.2f;
    f32 l = rect.x0 + inset, r = rect.x1 - inset, b = rect.y0 + inset, t = rect.y1 - inset;
    f32 s = (r - l) / 3;
    f32 thickness = lineHeight / 15 > 1 ? lineHeight / 15 : 1;
    Vec2F32 segments[16][2];
    i32 count = 0;
    auto segment = [&](f32 x0, f32 y0, f32 x1, f32 y1) {
        segments[count][0] = Vec2F32{x0, y0};
        segments[count][1] = Vec2F32{x1, y1};
        count++;
    };
    if (first) {
        if (pressed.clicked) platform->fullscreenWanted = platform->fullscreen ? 0 : 1;
        if (!platform->fullscreen) {
            segment(l, t, l + s, t), segment(l, t, l, t - s);
            segment(r, t, r - s, t), segment(r, t, r, t - s);
            segment(l, b, l + s, b), segment(l, b, l, b + s);
            segment(r, b, r - s, b), segment(r, b, r, b + s);
        } else {
            f32 f = (t - b) * 0.2f;
            segment(l, b, r - f, b), segment(r - f, b, r - f, t - f);
            segment(r - f, t - f, l, t - f), segment(l, t - f, l, b);
            segment(l + f, t - f, l + f, t), segment(l + f, t, r, t);
            segment(r, t, r, b + f), segment(r, b + f, r - f, b + f);
        }
    } else {
        if (pressed.clicked) result->back = 1;
        f32 m = (b + t) / 2;
        segment(l, m, r, m), segment(l, m, l + s, m + s), segment(l, m, l + s, m - s);
    }
    for (i32 i = 0; i < count; i++) {
        addLine(segments[i][0], segments[i][1], 1.0f, rect, kTextWhite, thickness, &ui->batches.line2d);
    }
}

}  // namespace

f32 screenLineHeight(const UiState* ui) {
    f32 shorter = ui->halfWidth < ui->halfHeight ? ui->halfWidth : ui->halfHeight;
    f32 size = shorter / 15;
    return (size > 22 ? size : 22) * 1.3f;
}

void clearScreenScratch(ScreenStack* stack) {
    std::memset((void*)&stack->runner, 0, sizeof(stack->runner));
    std::memset(stack->screenState, 0, sizeof(stack->screenState));
}

void resetInputStates(ScreenStack* stack, const PointerSlot* pointers, u32 screenChanged) {
    for (i32 i = 0; i < 5; i++) {
        PointerRecord* record = &stack->pointerRecords[i];
        record->hoverTaken = 0;
        record->hoverBlocked = 0;
        record->previousState = pointers[i].state;
        if (pointers[i].state == PointerPressed) record->pressedSeenTime = stack->now;
        if (pointers[i].state != PointerPressed || screenChanged) {
            record->holdReported = 0;
            record->owner = WidgetId{};
        }
    }
}

void updateScreen(ScreenStack* stack, Platform* platform, UiState* ui, AppState* app) {
    InputState* input = &platform->input;
    ScreenRunnerState* runner = &stack->runner;
    stack->now = stack->clock ? stack->clock() : getMicroseconds();
    if (stack->depth < 1) return;  // the application has not set up the stack yet

    ScreenResult result{};
    bool escape = (isKeyDown(input, KeyEscape) && !wasKeyDown(input, KeyEscape)) ||
                  (isKeyDown(input, KeyMouseMiddle) && !wasKeyDown(input, KeyMouseMiddle));
    result.back = escape ? 1 : 0;

    f32 lineHeight = screenLineHeight(ui);
    f32 padding = lineHeight * 0.125f;
    f32 threshold = 2 * lineHeight;
    stack->dragThresholdSquared = (f64)threshold * (f64)threshold;
    stack->pointers = platform->pointers;
    runner->reservedWidth = runner->reservedHeight = 0;
    runner->cornerButtonRect = Rect{};

    TextEditState* focus = &runner->textFocus;
    if (isNoWidget(focus->focusedId)) {
        drawCornerButton(stack, platform, ui, &result, lineHeight, padding);
    } else if (focus->keyboardMode == TextKeyboardFull) {
        drawOnScreenKeyboard(&runner->keyboard, stack, ui);
    } else if (focus->keyboardMode == TextKeyboardNumpad) {
        drawOnScreenNumpad(&runner->keyboard, stack, ui);
    } else if (focus->keyboardMode == TextKeyboardSelectionMenu) {
        drawTextSelectionMenu(&runner->keyboard, stack, ui);
    }

    focus->eventCount = 0;
    appendFocusEvents(focus, input->events, input->eventCount);
    input->eventCount = 0;
    appendFocusEvents(focus, runner->keyboard.keys.events, runner->keyboard.keys.eventCount);
    runner->keyboard.keys.eventCount = 0;

    focus->focusRenewed = 0;
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 0;

    i32 depthBefore = stack->depth;
    {
        ProfilingScope scope("Screen");
        stack->screens[stack->depth - 1](platform, stack, ui, app, &result, stack->screenState);
    }
    if (!focus->focusRenewed) focus->focusedId = WidgetId{};

    if (result.back && stack->depth >= 2) {
        stack->depth--;
        clearScreenScratch(stack);
        platform->screenChanged = 0;
    } else if (result.back) {
        platform->fullscreenWanted = 0;
        platform->screenChanged = 0;
    } else if (result.next && stack->depth < kMaxScreens) {
        stack->screens[stack->depth] = result.next;
        stack->depth++;
        clearScreenScratch(stack);
        platform->screenChanged = 0;
    }
    resetInputStates(stack, platform->pointers, stack->depth != depthBefore ? 1 : 0);

    input->eventCount = 0;
    std::memcpy(input->previousKeys, input->keys, sizeof(input->keys));
}
