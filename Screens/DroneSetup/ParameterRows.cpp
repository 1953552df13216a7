#include "Screens/DroneSetup/ParameterRows.h"

#include <cmath>

#include "Core/Format.h"
#include "Drone/FlightController/Parameters.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr i32 kMaxChoiceLabels = 20;

bool hasValue(const ParameterSlot* slot) { return slot->received || slot->changeTime != 0; }

}  // namespace

FixedString parameterValueText(const ParameterSlot* slot, bool isFloat) {
    if (!hasValue(slot)) return makeString("Not received yet");
    if (isFloat) return stringFromDoubleTrimmed(parameterFloat(slot->wanted), 4);
    return stringFromInt(parameterInt(slot->wanted));
}

u32 parameterChoiceRow(const char* name, ParameterSlot* slot, const i32* values, const char* const* labels,
                       i32 count, ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id) {
    if (count > kMaxChoiceLabels) count = kMaxChoiceLabels;
    FixedString options[kMaxChoiceLabels];
    for (i32 i = 0; i < count; i++) options[i] = makeString(labels[i]);
    i32 value = parameterInt(slot->wanted);
    i32 current = -1;
    for (i32 i = 0; i < count && hasValue(slot); i++) {
        if (values[i] == value) current = i;
    }
    FixedString description{};
    if (!hasValue(slot)) {
        description = makeString("Not received yet");
    } else if (current < 0) {
        description = formatInt("Unknown Value (@)", value);
    }
    FixedString title = makeString(name);
    i32 selected = current;
    ChoiceRowResult r = choiceRow(&title, &description, current, &selected, options, count, 0, stack, ui, view, id);
    if (r.visible) slot->viewedTime = stack->now;
    if (!r.changed || selected < 0 || selected >= count) return 0;
    editParameter(slot, parameterBytesFromInt(values[selected]), stack->now);
    return 1;
}

u32 parameterNumberRow(const char* titleText, ParameterSlot* slot, bool isFloat, FixedString* editBuffer,
                       ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id) {
    FixedString title = makeString(titleText);
    FixedString shown = parameterValueText(slot, isFloat);
    TextFieldRowResult r = textFieldRow(&title, &shown, editBuffer, &shown, TextKeyboardNumpad, 0, stack, ui,
                                        &stack->runner.textFocus, view, id);
    if (r.visible) slot->viewedTime = stack->now;
    if (!r.submitted) return 0;
    view->openRowId = WidgetId{};
    i64 position = 0;
    i64 length = fixedStringLength(editBuffer);
    f64 entered = parseDouble((const u8*)editBuffer->text, &position, length, NAN);
    if (!std::isfinite(entered)) return 0;
    if (isFloat) {
        editParameter(slot, parameterBytesFromFloat((f32)entered), stack->now);
    } else {
        if (entered > 2147483647.0 || entered < -2147483648.0) return 0;
        editParameter(slot, parameterBytesFromInt((i32)std::lround(entered)), stack->now);
    }
    return 1;
}
