#include "SourceCommon/UserInterface/Widgets.h"

#include <cmath>

#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/Renderer/TexturedQuads.h"
#include "SourceCommon/UserInterface/Screen.h"

namespace {

f32 squaredDistanceToSegment(f32 px, f32 py, const SegmentF32& s) {
    f32 dx = s.x1 - s.x0, dy = s.y1 - s.y0;
    f32 lengthSquared = dx * dx + dy * dy;
    f32 t = 0;
    if (lengthSquared > 0) {
        t = ((px - s.x0) * dx + (py - s.y0) * dy) / lengthSquared;
        t = t < 0 ? 0 : (t > 1 ? 1 : t);
    }
    f32 ex = s.x0 + t * dx - px, ey = s.y0 + t * dy - py;
    return ex * ex + ey * ey;
}

}  // namespace

bool pointInRect(const Rect& rect, f32 x, f32 y) { return rect.x0 <= x && x <= rect.x1 && rect.y0 <= y && y <= rect.y1; }

Rect intersectRect(const Rect& a, const Rect& b) {
    return Rect{a.x0 > b.x0 ? a.x0 : b.x0, a.x1 < b.x1 ? a.x1 : b.x1, a.y0 > b.y0 ? a.y0 : b.y0,
                a.y1 < b.y1 ? a.y1 : b.y1};
}

u64 heldWhenLastSeenPressed(const ScreenStack* stack, i32 slot) {
    u64 seen = stack->pointerRecords[slot].pressedSeenTime, pressTime = stack->pointers[slot].pressTime;
    return seen > pressTime ? seen - pressTime : 0;
}

PointerHit trackPointerPresses(u32 pressInsideMask, u32 currentInsideMask, u32 opaque, ScreenStack* stack,
                               const WidgetId* id) {
    PointerHit hit{};
    hit.primaryPointer = -1;
    if (!stack->pointers) return hit;
    u64 now = stack->now;
    for (i32 i = 0; i < 5; i++) {
        const PointerSlot* slot = &stack->pointers[i];
        PointerRecord* record = &stack->pointerRecords[i];
        bool claimed = false;
        if (isNoWidget(record->owner) && record->previousState != PointerPressed && slot->state == PointerPressed &&
            ((pressInsideMask >> i) & 1)) {
            record->owner = *id;
            claimed = true;
        }
        if (slot->state == PointerPresent && ((currentInsideMask >> i) & 1)) {
            if (!record->hoverTaken) {
                record->hoverTaken = 1;
                hit.hovered = 1;
                hit.hoverX = slot->x;
                hit.hoverY = slot->y;
            }
            if (!record->hoverBlocked) {
                if (opaque) record->hoverBlocked = 1;
                hit.hoverUnblocked = 1;
                hit.hoverX = slot->x;
                hit.hoverY = slot->y;
            }
        }
        if (!sameWidget(record->owner, *id)) continue;
        u32 flags = 0;
        u64 held = now >= slot->pressTime ? now - slot->pressTime : 0;
        if (record->previousState == PointerPressed && slot->state != PointerPressed) {
            f32 dx = slot->x - slot->pressX, dy = slot->y - slot->pressY;
            f32 distanceSquared = dx * dx + dy * dy;
            if (heldWhenLastSeenPressed(stack, i) < kClickMicroseconds && ((currentInsideMask >> i) & 1) &&
                (f64)distanceSquared < stack->dragThresholdSquared) {
                hit.clicked = 1;
                flags = PointerFlagReleased | PointerFlagClicked;
            } else {
                flags = PointerFlagReleased;
            }
        } else if (slot->state == PointerPressed) {
            if (held < kHoldMicroseconds) {
                hit.recentPress = 1;
                flags = PointerFlagPressed | PointerFlagRecent;
            } else if (!record->holdReported) {
                record->holdReported = 1;
                flags = PointerFlagPressed | PointerFlagHeld | PointerFlagHoldNew;
            } else {
                flags = PointerFlagPressed | PointerFlagHeld;
            }
            hit.down = 1;
            if (claimed) flags |= PointerFlagClaimed;
        } else {
            flags = PointerFlagReleased;
        }
        hit.pointerMask |= 1ull << i;
        hit.pointerFlags[i] = flags;
    }
    for (i32 i = 0; i < 5; i++) {
        if (!((hit.pointerMask >> i) & 1)) continue;
        if (hit.primaryPointer < 0 || stack->pointers[i].pressTime < stack->pointers[hit.primaryPointer].pressTime) {
            hit.primaryPointer = i;
        }
    }
    return hit;
}

PointerHit rectHitTest(const Rect* rect, u32 opaque, ScreenStack* stack, const WidgetId* id) {
    u32 pressInside = 0, currentInside = 0;
    if (stack->pointers) {
        for (i32 i = 0; i < 5; i++) {
            const PointerSlot* slot = &stack->pointers[i];
            if (pointInRect(*rect, slot->pressX, slot->pressY)) pressInside |= 1u << i;
            if (pointInRect(*rect, slot->x, slot->y)) currentInside |= 1u << i;
        }
    }
    return trackPointerPresses(pressInside, currentInside, opaque, stack, id);
}

PointerHit circleHitTest(SegmentF32 segment, f32 radius, const Rect* crop, u32 opaque, ScreenStack* stack,
                         const WidgetId* id) {
    SegmentF32 clipped[1];
    i32 count = 0;
    clipSegmentToRect(&segment, *crop, clipped, 1, &count);
    u32 pressInside = 0, currentInside = 0;
    if (count > 0 && stack->pointers) {
        f32 radiusSquared = radius * radius;
        for (i32 i = 0; i < 5; i++) {
            const PointerSlot* slot = &stack->pointers[i];
            if (pointInRect(*crop, slot->pressX, slot->pressY) &&
                squaredDistanceToSegment(slot->pressX, slot->pressY, clipped[0]) <= radiusSquared) {
                pressInside |= 1u << i;
            }
            if (pointInRect(*crop, slot->x, slot->y) &&
                squaredDistanceToSegment(slot->x, slot->y, clipped[0]) <= radiusSquared) {
                currentInside |= 1u << i;
            }
        }
    }
    return trackPointerPresses(pressInside, currentInside, opaque, stack, id);
}

void resetPointerDrags(ScreenStack* stack, const PointerHit* hit) {
    for (i32 i = 0; i < 5; i++) {
        if (((hit->pointerMask >> i) & 1) && (hit->pointerFlags[i] & PointerFlagHeld)) {
            stack->pointerRecords[i].previousState = PointerPresent;
            stack->pointerRecords[i].owner = WidgetId{};
        }
    }
}

Rect alignRect(f32 width, f32 height, i32 anchor, const Rect* area) {
    i32 horizontal = 1, vertical = 1;  // 0 left/bottom, 1 centre/middle, 2 right/top
    switch (anchor) {
        case 0: horizontal = 2, vertical = 0; break;
        case 1: horizontal = 1, vertical = 0; break;
        case 2: horizontal = 0, vertical = 0; break;
        case 3: horizontal = 0, vertical = 1; break;
        case 4: horizontal = 0, vertical = 2; break;
        case 5: horizontal = 1, vertical = 2; break;
        case 6: horizontal = 2, vertical = 2; break;
        case 7: horizontal = 2, vertical = 1; break;
        default: break;
    }
    Rect box;
    if (horizontal == 0) {
        box.x0 = area->x0, box.x1 = area->x0 + width;
    } else if (horizontal == 2) {
        box.x1 = area->x1, box.x0 = area->x1 - width;
    } else {
        f32 middle = (area->x0 + area->x1) * 0.5f;
        box.x0 = middle - width * 0.5f, box.x1 = middle + width * 0.5f;
    }
    if (vertical == 0) {
        box.y0 = area->y0, box.y1 = area->y0 + height;
    } else if (vertical == 2) {
        box.y1 = area->y1, box.y0 = area->y1 - height;
    } else {
        f32 middle = (area->y0 + area->y1) * 0.5f;
        box.y0 = middle - height * 0.5f, box.y1 = middle + height * 0.5f;
    }
    if (box.x0 > box.x1) std::swap(box.x0, box.x1);
    if (box.y0 > box.y1) std::swap(box.y0, box.y1);
    return box;
}

Rect fitRect(f32 width, f32 height, i32 anchor, const Rect* area) {
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height)) return Rect{};
    f32 areaWidth = area->x1 - area->x0, areaHeight = area->y1 - area->y0;
    Rect box = *area;
    if (areaWidth * height <= areaHeight * width) {
        f32 boxHeight = areaWidth * height / width;
        if (anchor == 3 || anchor == 7 || anchor == 8) {
            box.y0 = (area->y0 + area->y1) * 0.5f - boxHeight * 0.5f;
        } else if (anchor >= 4 && anchor <= 6) {
            box.y0 = area->y1 - boxHeight;
        }
        box.y1 = box.y0 + boxHeight;
    } else {
        f32 boxWidth = areaHeight * width / height;
        if (anchor == 1 || anchor == 5 || anchor == 8) {
            box.x0 = (area->x0 + area->x1) * 0.5f - boxWidth * 0.5f;
        } else if (anchor >= 2 && anchor <= 4) {
            box.x0 = area->x0;
        } else {
            box.x0 = area->x1 - boxWidth;
        }
        box.x1 = box.x0 + boxWidth;
    }
    return box;
}

ButtonResult button(FixedString label, const Rect* rect, const Rect* crop, f32 depth, const ButtonStyle* style,
                    UiState* ui, ScreenStack* stack, const WidgetId* id) {
    ButtonResult result{};
    PointerHit hit = rectHitTest(rect, 0, stack, id);
    f32 fade = 1;
    bool heldSeen = false;
    for (i32 i = 0; i < 5; i++) {
        if (!((hit.pointerMask >> i) & 1)) continue;
        u32 flags = hit.pointerFlags[i];
        if (flags & PointerFlagClicked) {
            result.clicked = 1;
            result.pressed = 0;
        } else if (flags & PointerFlagRecent) {
            result.pressed = 1;
        } else if (flags & PointerFlagHeld) {
            result.held = 1;
            result.pressed = 1;
            heldSeen = true;
            f32 t = (f32)((f64)((i64)stack->now - (i64)stack->pointers[i].pressTime - (i64)kHoldMicroseconds) / 100000.0);
            if (t < fade) fade = t;
        }
    }
    Color fill = style->fill, outline = style->fill;
    if (result.pressed && !heldSeen) {
        fill = outline = style->pressedFill;
    } else if (hit.hovered || heldSeen) {
        // A held button fades back from the pressed colour over 100,000 us.
        outline = style->pressedFill;
        fill = blendColor(style->pressedFill, style->fill, fade);
    }
    if ((fill >> 24) || (outline >> 24)) {
        addRoundedRect(*rect, depth, *crop, style->outlineWidth, style->cornerRadius, fill, outline,
                       &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    }
    if (label.length) {
        Rect labelRect{rect->x0 + style->textPadding, rect->x1 - style->textPadding, rect->y0, rect->y1};
        drawTextInRect(ui, label, (i32)style->anchor, depth + 0.001f, labelRect, *crop, style->textStyle, noTextCaret());
    }
    return result;
}

ButtonResult buttonState(const FixedString* label, const Rect* rect, f32 depth, const ButtonStyle* style, UiState* ui,
                         ScreenStack* stack, const WidgetId* id) {
    return button(*label, rect, rect, depth, style, ui, stack, id);
}

u64 buttonBehavior(const Rect* rect, MapView* view, ScreenStack* stack) {
    Rect area = intersectRect(*rect, view->clipRect);
    PointerHit hit = rectHitTest(&area, 1, stack, &view->id);
    if (hit.hoverUnblocked) {
        view->hover = 1;
        view->hoverX = hit.hoverX;
        view->hoverY = hit.hoverY;
    }
    u64 result = 0;
    for (i32 i = 0; i < 5; i++) {
        if (!((hit.pointerMask >> i) & 1) || !(hit.pointerFlags[i] & PointerFlagClicked)) continue;
        // The rows of a view share the view's id: a click belongs to the row its press began in.
        if (!pointInRect(area, stack->pointers[i].pressX, stack->pointers[i].pressY)) continue;
        view->clickedPointerMask |= 1ull << i;
        result = 1ull << 32;
    }
    return result;
}

Rect drawIconInRect(const Rect* rect, const Rect* crop, f32 depth, u32 anchor, u32 kind, i32 index,
                    Textured2dBatch* batch, UiState* ui) {
    f32 width = 0, height = 0, format = 0;
    if (kind == IconKindAsset) {
        if (index < 0 || index >= kImageAssetCount) return Rect{};
        const ImageAsset* asset = &ui->assets[index];
        width = (f32)asset->image.width;
        height = (f32)asset->image.height;
        format = (f32)asset->image.channels;
    } else if (kind == IconKindSlot) {
        const ImageSlot* slot = getImageSlot(&ui->imageSlots, index);
        if (!slot) return Rect{};
        width = (f32)slot->width;
        height = (f32)slot->height;
        format = (f32)slot->format;
    } else {
        return fitRect(1, 1, (i32)anchor, rect);
    }
    // An image not loaded (or of no size) has no aspect: nothing is drawn.
    Rect box = fitRect(width, height, (i32)anchor, rect);
    if (!(box.x1 > box.x0) || !(box.y1 > box.y0)) return Rect{};
    if (!(crop->x1 > box.x0 && box.x1 > crop->x0 && crop->y1 > box.y0 && box.y1 > crop->y0)) return Rect{};
    // The image's first row at the top.
    addTexturedQuadClipped(kind, (u32)index, (u32)format, width, height, Vec2F32{box.x0, box.y1},
                           Vec2F32{box.x0, box.y0}, Vec2F32{box.x1, box.y0}, Vec2F32{box.x1, box.y1}, Vec2F32{0, 0},
                           Vec2F32{0, 1}, Vec2F32{1, 1}, Vec2F32{1, 0}, *crop, depth, ui->halfWidth, ui->halfHeight,
                           batch, 0);
    return intersectRect(box, *crop);
}
