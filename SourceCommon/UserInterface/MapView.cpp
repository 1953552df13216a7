#include "SourceCommon/UserInterface/MapView.h"

#include <cmath>

#include "Core/MathEarth.h"
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

// A pointer starts panning once it is this share of the drag threshold away from its press, so that
// the map follows a finger early while a slightly shaky tap still counts as a tap.
constexpr f64 kPanStartShare = 0.25;

bool isFiniteValue(f64 value) { return value - value == 0.0; }

f64 contentWidth(const MapView* view) { return view->contentXMax - view->contentXMin; }
f64 contentHeight(const MapView* view) { return view->contentYMax - view->contentYMin; }

// The smallest zoom of the view: 1, and for the wrapping world what keeps the world at least as tall
// as the rectangle.
f64 minimumZoom(const MapView* view) {
    f64 minimum = 1;
    if (view->contentXMin == view->contentXMax) {
        f64 height = contentHeight(view);
        f64 rectHeight = view->rect.y1 - view->rect.y0;
        if (height > 0 && rectHeight > 0 && rectHeight / height > minimum) minimum = rectHeight / height;
    }
    return minimum;
}

f64 clampZoom(const MapView* view, f64 zoom) {
    f64 minimum = minimumZoom(view);
    if (!isFiniteValue(zoom) || zoom < minimum) return minimum;
    if (zoom > kMapMaxZoom) return kMapMaxZoom;
    return zoom;
}

// One axis: the centre kept so that the visible part stays inside [low, high]; a content smaller than
// the view is centred, or (alignHigh) shows its high end at the view's high edge.
f64 clampAxis(f64 centre, f64 halfExtent, f64 low, f64 high, bool alignHigh) {
    if (!isFiniteValue(centre)) centre = (low + high) / 2;
    if (high - low <= 2 * halfExtent) return alignHigh ? high - halfExtent : (low + high) / 2;
    if (centre < low + halfExtent) return low + halfExtent;
    if (centre > high - halfExtent) return high - halfExtent;
    return centre;
}

// Zoom to pixels per unit, the centre clamped (or wrapped) and the visible box.
void settleView(MapView* view, bool topAligned) {
    view->zoom = clampZoom(view, view->zoom);
    view->pixelsPerUnit = mapViewFitScale(view) * view->zoom;
    f64 ppu = view->pixelsPerUnit;
    f64 halfWidth = (view->rect.x1 - view->rect.x0) / 2 / ppu;
    f64 halfHeight = (view->rect.y1 - view->rect.y0) / 2 / ppu;
    if (mapViewWraps(view)) {
        view->centreX = isFiniteValue(view->centreX) ? wrapNear(view->centreX, 0) : 0;
        if (view->centreX >= 0.5) view->centreX -= 1;
    } else {
        view->centreX = clampAxis(view->centreX, halfWidth, view->contentXMin, view->contentXMax, false);
    }
    view->centreY = clampAxis(view->centreY, halfHeight, view->contentYMin, view->contentYMax, topAligned);
    view->visibleXMin = view->centreX - halfWidth;
    view->visibleXMax = view->centreX + halfWidth;
    view->visibleYMin = view->centreY - halfHeight;
    view->visibleYMax = view->centreY + halfHeight;
}

bool scrollsVertically(const MapView* view, u32 scrollMode) {
    return scrollMode == MapWheelScrolls || view->mode == MapViewModeScrollList;
}

const PointerSlot* viewPointers(ScreenStack* stack, Platform* platform) {
    if (stack && stack->pointers) return stack->pointers;
    return platform ? platform->pointers : nullptr;
}

// The panning pointers that are pressed or were let go this frame (their last move still counts), in
// press order, at most two.
i32 activePanPointers(const MapView* view, const PointerSlot* pointers, const ScreenStack* stack, i32 out[2]) {
    i32 count = 0;
    for (i32 i = 0; i < 5 && pointers; i++) {
        bool releasedNow = stack && stack->pointerRecords[i].previousState == PointerPressed;
        if (!((view->panningPointerMask >> i) & 1) || (pointers[i].state != PointerPressed && !releasedNow)) continue;
        if (count < 2) {
            out[count++] = i;
        } else if (pointers[i].pressTime < pointers[out[1]].pressTime) {
            out[1] = i;
        }
        if (count == 2 && pointers[out[1]].pressTime < pointers[out[0]].pressTime) {
            i32 t = out[0];
            out[0] = out[1];
            out[1] = t;
        }
    }
    return count;
}

// Moves the view so that the pointers hold on to the content points recorded last frame: one pointer
// pans, two also zoom by the change of their distance.
void applyPointerPan(MapView* view, const PointerSlot* pointers, const ScreenStack* stack) {
    i32 active[2];
    i32 count = activePanPointers(view, pointers, stack, active);
    if (count == 0) return;
    if (count == 2) {
        const PointerSlot* a = &pointers[active[0]];
        const PointerSlot* b = &pointers[active[1]];
        f64 anchorDx = view->anchorX[active[1]] - view->anchorX[active[0]];
        f64 anchorDy = view->anchorY[active[1]] - view->anchorY[active[0]];
        f64 anchorDistance = std::sqrt(anchorDx * anchorDx + anchorDy * anchorDy);
        f64 screenDx = (f64)b->x - a->x, screenDy = (f64)b->y - a->y;
        f64 screenDistance = std::sqrt(screenDx * screenDx + screenDy * screenDy);
        f64 fit = mapViewFitScale(view);
        if (anchorDistance > 0 && screenDistance > 0 && fit > 0) {
            view->zoom = clampZoom(view, screenDistance / anchorDistance / fit);
            view->pixelsPerUnit = fit * view->zoom;
        }
        f64 midAnchorX = (view->anchorX[active[0]] + view->anchorX[active[1]]) / 2;
        f64 midAnchorY = (view->anchorY[active[0]] + view->anchorY[active[1]]) / 2;
        f64 midX = ((f64)a->x + b->x) / 2, midY = ((f64)a->y + b->y) / 2;
        view->centreX = midAnchorX - (midX - view->rectCentreX) / view->pixelsPerUnit;
        view->centreY = midAnchorY - (midY - view->rectCentreY) / view->pixelsPerUnit;
        return;
    }
    const PointerSlot* p = &pointers[active[0]];
    view->centreX = view->anchorX[active[0]] - ((f64)p->x - view->rectCentreX) / view->pixelsPerUnit;
    view->centreY = view->anchorY[active[0]] - ((f64)p->y - view->rectCentreY) / view->pixelsPerUnit;
}

void applyWheel(MapView* view, ScreenStack* stack, Platform* platform, u32 scrollMode) {
    if (!platform || platform->wheelDelta == 0) return;
    const PointerSlot* pointers = viewPointers(stack, platform);
    if (!pointers) return;
    const PointerSlot* mouse = &pointers[0];
    if (mouse->state == PointerAbsent || !pointInRect(view->clipRect, mouse->x, mouse->y)) return;
    if (stack && stack->pointerRecords[0].hoverBlocked) return;
    f64 notches = (f64)platform->wheelDelta;
    if (view->mode == MapViewModeHorizontalStrip) {
        // Up (away from the user) moves on to the right.
        view->centreX += notches * kMapWheelScrollShare * (view->rect.x1 - view->rect.x0) / view->pixelsPerUnit;
    } else if (scrollsVertically(view, scrollMode)) {
        view->centreY += notches * kMapWheelScrollShare * (view->rect.y1 - view->rect.y0) / view->pixelsPerUnit;
    } else {
        Vec2 held = screenPointToMap(view, mouse->x, mouse->y);
        view->zoom = clampZoom(view, view->zoom * std::pow(kMapWheelZoomStep, notches));
        view->pixelsPerUnit = mapViewFitScale(view) * view->zoom;
        view->centreX = held.x - ((f64)mouse->x - view->rectCentreX) / view->pixelsPerUnit;
        view->centreY = held.y - ((f64)mouse->y - view->rectCentreY) / view->pixelsPerUnit;
    }
}

}  // namespace

MapView makeMapView(WidgetId id, u32 mode) {
    MapView view{};
    view.id = id;
    view.mode = mode;
    view.zoom = 1;
    view.pixelsPerUnit = 1;
    return view;
}

bool mapViewWraps(const MapView* view) {
    if (view->mode != MapViewModeMap) return false;
    return view->contentXMin == view->contentXMax || (view->contentXMin == -0.5 && view->contentXMax == 0.5);
}

f64 mapViewFitScale(const MapView* view) {
    f64 fit = 1;
    if (view->mode == MapViewModeHorizontalStrip) {
        f64 height = contentHeight(view);
        if (height > 0) fit = (view->rect.y1 - view->rect.y0) / height;
    } else {
        f64 width = contentWidth(view);
        if (width > 0) fit = (view->rect.x1 - view->rect.x0) / width;
    }
    return fit > 0 && isFiniteValue(fit) ? fit : 1;
}

void updateMapView(MapView* view, const Rect* rect, Box2 content, UiState* ui, ScreenStack* stack,
                   Platform* platform, u32 scrollMode) {
    view->rect = *rect;
    view->clipRect = ui ? intersectRect(*rect, ui->screenRect) : *rect;
    view->rectCentreX = (rect->x0 + rect->x1) / 2;
    view->rectCentreY = (rect->y0 + rect->y1) / 2;
    view->contentXMin = content.minX;
    view->contentXMax = content.maxX >= content.minX ? content.maxX : content.minX;
    view->contentYMin = content.minY;
    view->contentYMax = content.maxY >= content.minY ? content.maxY : content.minY;
    view->zoom = clampZoom(view, view->zoom);
    view->pixelsPerUnit = mapViewFitScale(view) * view->zoom;
    view->hover = 0;
    view->clickedPointerMask = 0;

    const PointerSlot* pointers = viewPointers(stack, platform);
    applyPointerPan(view, pointers, stack);
    applyWheel(view, stack, platform, scrollMode);
    settleView(view, scrollsVertically(view, scrollMode));
}

void setMapCenterAndZoom(MapView* view, f64 centreX, f64 centreY, f64 zoom) {
    view->centreX = centreX;
    view->centreY = centreY;
    view->zoom = zoom < 1 || !isFiniteValue(zoom) ? 1 : zoom;
    settleView(view, view->mode == MapViewModeScrollList);
}

MapTaps* handleMapPointers(MapTaps* out, MapView* view, ScreenStack* stack) {
    out->count = 0;
    if (!stack || !stack->pointers) return out;
    // Hover: the first present (not pressed) pointer over the view whose hover no opaque widget of
    // the view took.
    for (i32 i = 0; i < 5 && !view->hover; i++) {
        const PointerSlot* slot = &stack->pointers[i];
        const PointerRecord* record = &stack->pointerRecords[i];
        if (slot->state != PointerPresent || record->hoverBlocked || !pointInRect(view->clipRect, slot->x, slot->y)) {
            continue;
        }
        view->hover = 1;
        view->hoverX = slot->x;
        view->hoverY = slot->y;
    }
    u32 pressedTracked = 0;
    for (i32 i = 0; i < 5; i++) {
        const PointerSlot* slot = &stack->pointers[i];
        PointerRecord* record = &stack->pointerRecords[i];
        u32 bit = 1u << i;
        bool ours = isNoWidget(record->owner) || sameWidget(record->owner, view->id);
        if (slot->state == PointerPressed) {
            if (!(view->trackedPointerMask & bit)) {
                if (!ours || !pointInRect(view->clipRect, slot->pressX, slot->pressY)) continue;
                record->owner = view->id;
                view->trackedPointerMask |= bit;
                view->panningPointerMask &= ~bit;
            } else if (!ours) {
                // Another widget took the pointer over.
                view->trackedPointerMask &= ~bit;
                view->panningPointerMask &= ~bit;
                continue;
            }
            pressedTracked |= bit;
            continue;
        }
        if (!(view->trackedPointerMask & bit)) continue;
        // Released: a tap when it never panned and was let go soon enough, close by and inside.
        f64 dx = (f64)slot->x - slot->pressX, dy = (f64)slot->y - slot->pressY;
        u64 held = stack->now >= slot->pressTime ? stack->now - slot->pressTime : 0;
        if (!(view->panningPointerMask & bit) && held < kClickMicroseconds &&
            dx * dx + dy * dy < stack->dragThresholdSquared && pointInRect(view->clipRect, slot->x, slot->y) &&
            out->count < kMapMaxTaps) {
            out->positions[out->count] = screenPointToMap(view, slot->x, slot->y);
            out->screen[out->count] = Vec2F32{slot->x, slot->y};
            out->count++;
        }
        view->trackedPointerMask &= ~bit;
        view->panningPointerMask &= ~bit;
    }

    // Two pointers pinch at once; one pans after it has moved a little.
    i32 pressedCount = __builtin_popcount(pressedTracked);
    f64 panStart = stack->dragThresholdSquared * kPanStartShare * kPanStartShare;
    for (i32 i = 0; i < 5; i++) {
        u32 bit = 1u << i;
        if (!(pressedTracked & bit)) continue;
        const PointerSlot* slot = &stack->pointers[i];
        Vec2 at;
        if (view->panningPointerMask & bit) {
            at = screenPointToMap(view, slot->x, slot->y);
        } else {
            f64 dx = (f64)slot->x - slot->pressX, dy = (f64)slot->y - slot->pressY;
            if (pressedCount < 2 && dx * dx + dy * dy < panStart) continue;
            // From now on the content point first pressed follows the pointer.
            view->panningPointerMask |= bit;
            at = screenPointToMap(view, slot->pressX, slot->pressY);
        }
        view->anchorX[i] = at.x;
        view->anchorY[i] = at.y;
    }
    return out;
}

Rect mapRectToScreen(const MapView* view, const f64 box[4]) {
    f64 minX = box[0], maxX = box[1];
    if (mapViewWraps(view)) {
        f64 middle = wrapNear((minX + maxX) / 2, view->centreX);
        f64 shift = middle - (minX + maxX) / 2;
        minX += shift;
        maxX += shift;
    }
    return Rect{mapViewWindowX(view, minX), mapViewWindowX(view, maxX), mapViewWindowY(view, box[2]),
                mapViewWindowY(view, box[3])};
}

void zoomMapToFit(MapView* view, const f64 box[4], f32 marginPixels) {
    f64 width = box[1] - box[0], height = box[3] - box[2];
    f64 availableWidth = (view->rect.x1 - view->rect.x0) - 2.0 * marginPixels;
    f64 availableHeight = (view->rect.y1 - view->rect.y0) - 2.0 * marginPixels;
    if (availableWidth < 1) availableWidth = 1;
    if (availableHeight < 1) availableHeight = 1;
    f64 ppu = 0;
    if (width > 0) ppu = availableWidth / width;
    if (height > 0 && (ppu == 0 || availableHeight / height < ppu)) ppu = availableHeight / height;
    f64 zoom = view->zoom;
    if (ppu > 0 && isFiniteValue(ppu)) zoom = ppu / mapViewFitScale(view);
    setMapCenterAndZoom(view, (box[0] + box[1]) / 2, (box[2] + box[3]) / 2, zoom);
}

Vec2F32 mapPointToScreen(const MapView* view, Vec2 point) {
    f64 x = mapViewWraps(view) ? wrapNear(point.x, view->centreX) : point.x;
    return Vec2F32{mapViewWindowX(view, x), mapViewWindowY(view, point.y)};
}

Vec2 screenPointToMap(const MapView* view, f32 x, f32 y) {
    f64 ppu = view->pixelsPerUnit > 0 ? view->pixelsPerUnit : 1;
    return Vec2{view->centreX + ((f64)x - view->rectCentreX) / ppu, view->centreY + ((f64)y - view->rectCentreY) / ppu};
}

Vec2F32 geoPointToScreen(const MapView* view, GeoPoint point) {
    Vec2 mercator;
    latLngToMercator(&mercator, &point);
    return mapPointToScreen(view, mercator);
}

GeoPoint screenPointToGeo(const MapView* view, f32 x, f32 y) {
    Vec2 mercator = screenPointToMap(view, x, y);
    GeoPoint geo;
    mercatorToLatLng(&geo, &mercator);
    return geo;
}

void drawHorizontalViewScrollbar(u32 side, u32 colour, f32 depth, const MapView* view, UiState* ui) {
    f64 range = contentWidth(view);
    if (!(range > 0) || !isFiniteValue(range) || (side != 1 && side != 5)) return;
    if (view->visibleXMin <= view->contentXMin && view->visibleXMax >= view->contentXMax) return;
    f32 thickness = ui->halfWidth / 200 > 2 ? ui->halfWidth / 200 : 2;
    f32 width = view->rect.x1 - view->rect.x0;
    f32 x0 = view->rect.x0 + (f32)(width * (view->visibleXMin - view->contentXMin) / range);
    f32 x1 = view->rect.x0 + (f32)(width * (view->visibleXMax - view->contentXMin) / range);
    if (x1 - x0 < 2 * thickness) {
        f32 middle = (x0 + x1) / 2;
        x0 = middle - thickness;
        x1 = middle + thickness;
    }
    Rect thumb = side == 1 ? Rect{x0, x1, view->rect.y0, view->rect.y0 + thickness}
                           : Rect{x0, x1, view->rect.y1 - thickness, view->rect.y1};
    addRoundedRect(thumb, depth, view->clipRect, 0, 0, colour, colour, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);
}
