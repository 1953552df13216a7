// What the payload screens share: the number fields' commits to the preferences (lengths typed in
// the unit that "Units" selects and stored in metres, times in seconds either way), the bench
// setup screens' button style and their scrolling status text.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/Widgets.h"

struct Preferences;
struct Platform;
struct UiMetrics;

constexpr f64 kFeetPerMetre = 3.280839895;
constexpr Color kPayloadHintGrey = 0xFF505050;
constexpr Color kPayloadSetupBackground = 0xFF303030;

// A length typed in metres, or in feet while "Units" is above 1. Empty text commits nothing;
// text that holds no number commits 0; a number beyond what a preference holds is held at its
// limit. Returns 1 when *metres was written.
u32 commitLengthEntry(const FixedString* text, const Preferences* preferences, f64* metres);
// The same for a time in seconds, without conversion.
u32 commitSecondsEntry(const FixedString* text, f64* seconds);
// The ground drop timing held to the max drop period (on the period field's "Done").
void clampGroundDropTiming(Preferences* preferences);

// The bench screens' push buttons, with the caption in the given colour.
ButtonStyle payloadSetupButtonStyle(const UiMetrics* metrics, Color caption);
// A status report in a scroll view over the rectangle, wrapped to its width, with a scroll bar.
void drawStatusTextView(MapView* view, const Rect& rect, const u8* text, i64 length, Platform* platform, UiState* ui,
                        ScreenStack* stack);
