#include "SourceCommon/UserInterface/ListView.h"

#include "Platform/Platform.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Screen.h"

namespace {

constexpr Color kListBackground = 0xFF303030;
constexpr f32 kListBackgroundDepth = 0.6f;
constexpr f32 kScrollbarDepth = 0.71f;
constexpr f64 kWheelRows = 1.0;  // rows scrolled per wheel notch

}  // namespace

MapView makeScrollView(WidgetId id) {
    MapView view{};
    view.id = id;
    view.mode = MapViewModeScrollList;
    view.zoom = 1.0;
    view.pixelsPerUnit = 1.0;
    view.layoutCursor = kUnknownLayoutCursor;
    return view;
}

void beginMapView(const Rect* viewRect, Platform* platform, UiState* ui, MapView* view) {
    if (view->zoom < 1) view->zoom = 1;
    bool firstFrame = view->layoutCursor == kUnknownLayoutCursor;
    f32 shorter = ui->halfWidth < ui->halfHeight ? ui->halfWidth : ui->halfHeight;
    f32 T = shorter / 15 > 22 ? shorter / 15 : 22;
    view->textSize = T;
    view->padding = T / 2;
    view->titleSize = 1.2f * T;
    view->rowHeight = 3.2f * T;

    view->rect = *viewRect;
    view->clipRect = *viewRect;
    view->rectCentreX = (viewRect->x0 + viewRect->x1) / 2;
    view->rectCentreY = (viewRect->y0 + viewRect->y1) / 2;
    view->pixelsPerUnit = view->zoom;
    f64 ppu = view->pixelsPerUnit;
    f64 halfWidth = (viewRect->x1 - viewRect->x0) / 2 / ppu;
    f64 halfHeight = (viewRect->y1 - viewRect->y0) / 2 / ppu;
    view->contentXMin = 0;
    view->contentXMax = 2 * halfWidth;
    view->contentYMax = 0;
    view->contentYMin = firstFrame ? -2 * halfHeight : view->layoutCursor;
    view->centreX = halfWidth;

    if (firstFrame) view->centreY = view->contentYMax - halfHeight;
    const PointerSlot* mouse = &platform->pointers[0];
    if (platform->wheelDelta && mouse->state != PointerAbsent && pointInRect(*viewRect, mouse->x, mouse->y)) {
        view->centreY += (f64)platform->wheelDelta * kWheelRows * view->rowHeight / ppu;
    }
    if (view->centreY < view->contentYMin + halfHeight) view->centreY = view->contentYMin + halfHeight;
    if (view->centreY > view->contentYMax - halfHeight) view->centreY = view->contentYMax - halfHeight;

    view->visibleXMin = view->centreX - halfWidth;
    view->visibleXMax = view->centreX + halfWidth;
    view->visibleYMin = view->centreY - halfHeight;
    view->visibleYMax = view->centreY + halfHeight;
    view->layoutCursor = 0;
    view->hover = 0;
    view->clickedPointerMask = 0;
}

void endMapView(ScreenStack* stack, UiState* ui, MapView* view) {
    addRoundedRect(view->rect, kListBackgroundDepth, view->clipRect, 0, 0, kListBackground, kListBackground,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    // Room below the last row, so that it can be scrolled up to the top of the view.
    f64 ppu = view->pixelsPerUnit > 0 ? view->pixelsPerUnit : 1;
    f64 viewHeight = (view->rect.y1 - view->rect.y0) / ppu;
    f64 room = viewHeight - view->rowHeight / ppu;
    if (room > 0) view->layoutCursor -= room;
    drawViewScrollbar(7, kSecondaryGrey, kScrollbarDepth, view, ui);

    if (!stack->pointers) return;
    for (i32 i = 0; i < 5; i++) {
        const PointerSlot* pointer = &stack->pointers[i];
        PointerRecord* record = &stack->pointerRecords[i];
        u32 bit = 1u << i;
        // The backdrop is opaque: what lies under the list (a map under a panel, drawn later) neither
        // hovers nor takes the wheel under a pointer over it, nor a press on it that no row took.
        if (pointer->state != PointerAbsent && pointInRect(view->clipRect, pointer->x, pointer->y)) {
            record->hoverTaken = 1;
            record->hoverBlocked = 1;
        }
        if (pointer->state == PointerPressed && record->previousState != PointerPressed &&
            isNoWidget(record->owner) && pointInRect(view->clipRect, pointer->pressX, pointer->pressY)) {
            record->owner = view->id;
        }
        if (pointer->state != PointerPressed) {
            view->draggingMask &= ~bit;
            continue;
        }
        if (!(view->draggingMask & bit)) {
            // Pointers pressed on the rows (owned by the view) or on nothing start a drag once they
            // leave the click distance.
            bool ours = isNoWidget(record->owner) || sameWidget(record->owner, view->id);
            f32 dx = pointer->x - pointer->pressX, dy = pointer->y - pointer->pressY;
            if (!ours || !pointInRect(view->rect, pointer->pressX, pointer->pressY) ||
                (f64)(dx * dx + dy * dy) < stack->dragThresholdSquared) {
                continue;
            }
            if (isNoWidget(record->owner)) record->owner = view->id;
            view->draggingMask |= bit;
            view->lastPointerY[i] = pointer->pressY;
        }
        view->centreY -= (pointer->y - view->lastPointerY[i]) / ppu;
        view->lastPointerY[i] = pointer->y;
    }
}
