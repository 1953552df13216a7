#include "Screens/PayloadScreenCommon.h"

#include "Core/PreferenceFields.h"
#include "Core/Preferences.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

u32 commitSecondsEntry(const FixedString* text, f64* seconds) {
    if (fixedStringLength(text) == 0) return 0;
    *seconds = heldPreferenceNumber(parseDoubleOr(*text, 0), 0);
    return 1;
}

u32 commitLengthEntry(const FixedString* text, const Preferences* preferences, f64* metres) {
    f64 value = 0;
    if (!commitSecondsEntry(text, &value)) return 0;  // held within what a preference stores
    if (preferences->units > UnitsMetricKmh) value /= kFeetPerMetre;
    *metres = value;
    return 1;
}

void clampGroundDropTiming(Preferences* preferences) {
    if (preferences->orvikGroundDropTiming > preferences->orvikMaxDropPeriod) {
        preferences->orvikGroundDropTiming = preferences->orvikMaxDropPeriod;
    }
}

ButtonStyle payloadSetupButtonStyle(const UiMetrics* metrics, Color caption) {
    ButtonStyle style{};
    style.textStyle = TextStyle{caption, kNoOutline, kSelectionOrange, metrics->buttonTextHeight, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = metrics->margin;
    style.cornerRadius = 0.1f * metrics->buttonHeight;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = 0.5f * metrics->margin;
    return style;
}

void drawStatusTextView(MapView* view, const Rect& rect, const u8* text, i64 length, Platform* platform, UiState* ui,
                        ScreenStack* stack) {
    beginMapView(&rect, platform, ui, view);
    f32 p = view->padding;
    f32 top = mapViewWindowY(view, 0);
    // The text hangs from the content's top; its height becomes the content's for the next frame.
    Rect layout{rect.x0 + p, rect.x1 - 2 * p, top - 1e7f, top - p};
    TextStyle style{kTextWhite, kNoOutline, kSelectionOrange, view->textSize, 0, 0};
    TextLayoutResult drawn =
        drawCharsInRect(ui, TextSlice{text, length}, AnchorTopLeft, kRowDepth, layout, view->clipRect, style);
    f64 ppu = view->pixelsPerUnit > 0 ? view->pixelsPerUnit : 1;
    if (drawn.bounds.y1 > drawn.bounds.y0) view->layoutCursor = (drawn.bounds.y0 - top - p) / ppu;
    endMapView(stack, ui, view);
}
