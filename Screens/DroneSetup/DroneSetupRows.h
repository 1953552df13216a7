// What the drone set-up list screens share: a choice row over a stored enum value, and the
// connection status text of a heard component.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Screen.h"

// A component counts as connected while it was heard less than 3 s ago.
constexpr u64 kComponentHeardTimeout = 3000000;

// A choice row over *value: a value outside the options shows "Unknown Value (@)" and selects none.
// Returns 1 on the frame the user picked an option (stored into *value).
u32 enumChoiceRow(const char* title, u32* value, const FixedString options[], i32 count, ScreenStack* stack,
                  UiState* ui, MapView* view, const WidgetId* id);

// "Disconnected" when never heard or heard 3 s ago or more, else "Connected to @.@" with the system
// and component of the id (system << 8 | component).
FixedString componentStatusText(u64 lastHeardTime, u16 id, u64 now);

// Copies a list of C texts into option labels.
void makeOptionLabels(FixedString* labels, const char* const* texts, i32 count);

// The local IPv4 interfaces offered by an interface choice: "Any", then "name (address)" or the
// address alone for a nameless one. Listed once, when a screen starts.
constexpr i32 kMaxListedInterfaces = 10;
struct InterfaceChoices {
    i32 count;
    AddressRecord addresses[kMaxListedInterfaces];
    FixedString names[kMaxListedInterfaces];
    FixedString options[kMaxListedInterfaces + 1];
};
void listInterfaceChoices(InterfaceChoices* choices);
// A choice row over a stored interface text: "Any" when it is empty, else the first interface whose
// name (or, for a nameless one, whose address text) equals it; none is selected when nothing
// matches. Choosing "Any" clears the text; an interface stores its name, or its address text.
void interfaceChoiceRow(const char* title, FixedString* stored, const InterfaceChoices* choices, ScreenStack* stack,
                        UiState* ui, MapView* view, const WidgetId* id);

// Call before a text-field row: on the frame the row opens, its entry starts with a text (caret at
// its end) instead of empty, and takes the focus as the row would.
void startEntryWithText(MapView* view, const WidgetId* id, TextEditState* focus, u32 keyboardMode,
                        FixedString* editBuffer, const FixedString& text);
