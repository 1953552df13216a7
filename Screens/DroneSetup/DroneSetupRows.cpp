#include "Screens/DroneSetup/DroneSetupRows.h"

#include "Core/Format.h"
#include "Network/Address.h"
#include "Network/NetworkInterfaces.h"

u32 enumChoiceRow(const char* titleText, u32* value, const FixedString options[], i32 count, ScreenStack* stack,
                  UiState* ui, MapView* view, const WidgetId* id) {
    FixedString title = makeString(titleText);
    i32 current = *value < (u32)count ? (i32)*value : -1;
    FixedString fallback{};
    if (current < 0) fallback = formatInt("Unknown Value (@)", (i64)*value);
    i32 selected = current;
    ChoiceRowResult r = choiceRow(&title, &fallback, current, &selected, options, count, 0, stack, ui, view, id);
    if (r.changed && selected >= 0 && selected < count) {
        *value = (u32)selected;
        return 1;
    }
    return 0;
}

FixedString componentStatusText(u64 lastHeardTime, u16 id, u64 now) {
    if (lastHeardTime == 0 || now - lastHeardTime >= kComponentHeardTimeout) return makeString("Disconnected");
    return formatIntInt("Connected to @.@", id >> 8, id & 0xFF);
}

void makeOptionLabels(FixedString* labels, const char* const* texts, i32 count) {
    for (i32 i = 0; i < count; i++) labels[i] = makeString(texts[i]);
}

namespace {

FixedString interfaceKey(const InterfaceChoices* choices, i32 i) {
    return choices->names[i].length ? choices->names[i] : addressString(&choices->addresses[i]);
}

}  // namespace

void listInterfaceChoices(InterfaceChoices* choices) {
    choices->count = listNetworkInterfaces(choices->addresses, choices->names, kMaxListedInterfaces, 4);
    if (choices->count < 0) choices->count = 0;
    if (choices->count > kMaxListedInterfaces) choices->count = kMaxListedInterfaces;
    choices->options[0] = makeString("Any");
    for (i32 i = 0; i < choices->count; i++) {
        FixedString address = addressString(&choices->addresses[i]);
        choices->options[i + 1] =
            choices->names[i].length ? formatStrStr("@ (@)", choices->names[i], address) : address;
    }
}

void interfaceChoiceRow(const char* titleText, FixedString* stored, const InterfaceChoices* choices,
                        ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id) {
    FixedString title = makeString(titleText);
    i32 current = -1;
    if (stored->length == 0) {
        current = 0;
    } else {
        for (i32 i = 0; i < choices->count && current < 0; i++) {
            if (equals(interfaceKey(choices, i), *stored)) current = i + 1;
        }
    }
    // An interface that is gone: its stored text stands in the row, nothing is selected.
    FixedString description = current < 0 ? *stored : FixedString{};
    i32 selected = current;
    ChoiceRowResult r =
        choiceRow(&title, &description, current, &selected, choices->options, choices->count + 1, 0, stack, ui, view, id);
    if (r.changed && selected >= 0 && selected <= choices->count) {
        *stored = selected == 0 ? FixedString{} : interfaceKey(choices, selected - 1);
    }
}

void startEntryWithText(MapView* view, const WidgetId* id, TextEditState* focus, u32 keyboardMode,
                        FixedString* editBuffer, const FixedString& text) {
    if (!view->rowJustOpened || !sameWidget(view->openRowId, *id)) return;
    // The row then sees itself open but not just opened, and leaves the entry as it is set here.
    view->rowJustOpened = 0;
    *editBuffer = text;
    focus->focusedId = *id;
    focus->selectingPointer = -1;
    focus->selectionAnchor = focus->caret = text.length;
    focus->caretBlinkStart = 0;
    focus->keyboardMode = keyboardMode;
    focus->focusRenewed = 1;
}
