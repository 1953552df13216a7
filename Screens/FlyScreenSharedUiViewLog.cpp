#include "Screens/FlyScreenSharedUiViewLog.h"

#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Widgets.h"

void drawPayloadCountIndicator(u32* panel, Rect slot, const UiMetrics* metrics, const OrvikPayloadState* orvik,
                               UiState* ui, ScreenStack* stack, u64* spinStart, u64 now) {
    PayloadCountLook look;
    orvikPayloadCountLook(&look, orvik, spinStart, now);
    f32 width = slot.x1 - slot.x0;
    Vec2F32 centre{(slot.x0 + slot.x1) / 2, (slot.y0 + slot.y1) / 2};
    drawIconAt(centre, 0.95f, AnchorCentre, look.rotationTurns, width * 0.8f, slot, ImageKindAsset, look.image,
               &ui->batches.textured2d, ui);
    TextStyle style{look.color, 0xFF000000, kSelectionOrange, metrics->textHeight, 0.1f, 0};
    drawTextAt(ui, look.text, AnchorLeftCentre, Vec2F32{slot.x0 + metrics->margin, centre.y}, 0.96f, slot, style);
    WidgetId id = WIDGET_ID;
    PointerHit hit = rectHitTest(&slot, 1, stack, &id);
    if (hit.clicked) *panel = *panel >= 2 && *panel <= 6 ? 0 : 2;
}

void strobeToggleButton(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                        const StrobeLight* light, UiState* ui, ScreenStack* stack, u64 now) {
    constexpr u32 kStrobePanel = 16;
    constexpr f32 kBarButtonDepth = 0.95f;
    constexpr Color kOpenFill = 0x80E36400;
    if (light->reportTime == 0 || now < light->reportTime || now - light->reportTime >= kStrobeReportHoldTime) return;
    f32 width = 1.4f * (bar->y1 - bar->y0);
    Rect slot{*xCursor - width, *xCursor, bar->y0, bar->y1};
    *xCursor -= width;
    ButtonStyle look = *style;
    if (*openPanel == kStrobePanel) look.fill = kOpenFill;
    WidgetId id = WIDGET_ID;
    if (button(makeString("Strobe"), &slot, bar, kBarButtonDepth, &look, ui, stack, &id).clicked) {
        *openPanel = *openPanel == kStrobePanel ? 0 : kStrobePanel;
    }
}
