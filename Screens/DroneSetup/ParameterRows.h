// Rows over the PX4 parameter slots: a row shows the value the vehicle reported (or the one asked
// for while a change is being sent), marks the slot as viewed so the drone link reads it, and an
// entry writes only the wanted value; the drone link sends it.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/Rows.h"

struct ParameterSlot;

// The shown value of a slot: the wanted value (which follows the reported one outside a change), or
// "Not received yet" before anything arrived or was asked for.
FixedString parameterValueText(const ParameterSlot* slot, bool isFloat);

// A choice row over named values of an INT32 parameter; a value without a name shows
// "Unknown Value (@)". Returns 1 on the frame a new value was asked for.
u32 parameterChoiceRow(const char* name, ParameterSlot* slot, const i32* values, const char* const* labels,
                       i32 count, ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id);

// A number row (numeric keypad). Returns 1 on the frame a new value was asked for; an entry without a
// number asks for nothing.
u32 parameterNumberRow(const char* title, ParameterSlot* slot, bool isFloat, FixedString* editBuffer,
                       ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id);
