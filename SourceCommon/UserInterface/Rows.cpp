#include "SourceCommon/UserInterface/Rows.h"

#include <cmath>

#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Screen.h"

namespace {

constexpr Color kLineGrey = 0xFFC0C0C0;

void line(UiState* ui, const MapView* view, f32 x0, f32 y0, f32 x1, f32 y1, Color color, f32 thickness) {
    addLine(Vec2F32{x0, y0}, Vec2F32{x1, y1}, kRowDepth, view->clipRect, color, thickness, &ui->batches.line2d);
}

bool rowIsVisible(const MapView* view, const RowLayout& layout) {
    return view->visibleXMin <= layout.contentX1 && layout.contentX0 <= view->visibleXMax &&
           view->visibleYMin <= layout.contentY1 && layout.contentY0 <= view->visibleYMax;
}

void drawTitleAndDescription(UiState* ui, const MapView* view, const RowLayout& layout, const FixedString* title,
                             const FixedString* description) {
    if (title && title->length) {
        drawTextInRect(ui, *title, AnchorBottomLeft, kRowDepth, layout.titleRect, view->clipRect, rowTitleStyle(view),
                       noTextCaret());
    }
    if (description && description->length) {
        drawTextInRect(ui, *description, AnchorTopLeft, kRowDepth, layout.descriptionRect, view->clipRect,
                       rowLabelStyle(view), noTextCaret());
    }
}

// The part every row shares: layout, cursor, visibility, title and description.
RowLayout beginRow(u32 hasIcon, u32 hasSide, MapView* view, u32* visible) {
    RowLayout layout = widgetRectFromLayout(hasIcon, hasSide, view);
    view->layoutCursor = layout.contentY0;
    *visible = rowIsVisible(view, layout) ? 1 : 0;
    return layout;
}

f64 roundHalfAway(f64 value) { return value < 0 ? -std::floor(-value + 0.5) : std::floor(value + 0.5); }

void sideCentre(const RowLayout& layout, f32* cx, f32* cy, f32* q) {
    *cx = (layout.sideRect.x0 + layout.sideRect.x1) * 0.5f;
    *cy = (layout.sideRect.y0 + layout.sideRect.y1) * 0.5f;
    *q = (layout.sideRect.x1 - layout.sideRect.x0) / 4;
}

}  // namespace

TextStyle rowTitleStyle(const MapView* view) {
    return TextStyle{kTextWhite, kNoOutline, kSelectionOrange, view->titleSize, 0, 0};
}

TextStyle rowLabelStyle(const MapView* view) {
    return TextStyle{kSecondaryGrey, kNoOutline, kSelectionOrange, view->textSize, 0, 0};
}

RowLayout widgetRectFromLayout(u32 hasIcon, u32 hasSide, const MapView* view) {
    f32 T = view->textSize, p = view->padding, R = view->rowHeight;
    f64 cursor = view->layoutCursor;
    RowLayout layout{};
    layout.contentX0 = view->contentXMin;
    layout.contentX1 = view->contentXMax;
    layout.contentY0 = cursor - R / (view->pixelsPerUnit > 0 ? view->pixelsPerUnit : 1);
    layout.contentY1 = cursor;
    f32 X0 = mapViewWindowX(view, layout.contentX0), X1 = mapViewWindowX(view, layout.contentX1);
    f32 Y0 = mapViewWindowY(view, layout.contentY0), Y1 = mapViewWindowY(view, layout.contentY1);
    layout.rowRect = Rect{X0, X1, Y0, Y1};
    layout.iconRect = Rect{X0 + p, X0 + R - p, Y0 + p, Y1 - p};
    layout.sideRect = Rect{X1 - 0.66f * R, X1, Y0, Y1};
    layout.titleRect = Rect{X0 + (hasIcon ? R : 1.5f * p), hasSide ? layout.sideRect.x0 - p : X1 - p,
                            Y1 - p - 1.2f * T, Y1};
    layout.descriptionRect = Rect{layout.titleRect.x0, layout.titleRect.x1, Y0, Y0 + p + T};
    return layout;
}

FixedString rowDescriptionCutInMiddle(const FixedString& text, i64 keepStart, u32 hasIcon, u32 hasSide,
                                      const MapView* view, UiState* ui) {
    RowLayout layout = widgetRectFromLayout(hasIcon, hasSide, view);
    TextStyle style = rowLabelStyle(view);
    f32 width = layout.descriptionRect.x1 - layout.descriptionRect.x0 - 2 * style.size * style.outlineFraction;
    return cutTextInMiddle(text, keepStart, width, style, uiTextTarget(ui).font);
}

RowResult infoRow(const FixedString* title, const FixedString* value, u32 hasIcon, UiState* ui, MapView* view) {
    RowResult result{};
    result.layout = beginRow(hasIcon, 0, view, &result.visible);
    if (result.visible) {
        const RowLayout& l = result.layout;
        drawTitleAndDescription(ui, view, l, title, value);
        line(ui, view, l.rowRect.x0, l.rowRect.y0, l.rowRect.x1, l.rowRect.y0, kLineGrey, 1);
    }
    return result;
}

RowResult checkboxRow(const FixedString* title, const FixedString* description, u32 hasIcon, i32 checked,
                      ScreenStack* stack, UiState* ui, MapView* view) {
    RowResult result{};
    result.layout = beginRow(hasIcon, 1, view, &result.visible);
    const RowLayout& l = result.layout;
    if (result.visible) {
        drawTitleAndDescription(ui, view, l, title, description);
        f32 cx, cy, q;
        sideCentre(l, &cx, &cy, &q);
        addRoundedRect(Rect{cx - q, cx + q, cy - q, cy + q}, kRowDepth, view->clipRect, 2, view->padding / 2,
                       checked ? kCheckedYellow : kKeyGrey, kLineGrey, &ui->batches.coloredRect, ui->halfWidth,
                       ui->halfHeight);
        if (checked) {
            f32 h = q / 2;
            addLine(Vec2F32{cx - h, cy}, Vec2F32{cx, cy - h}, kRowDepth + 0.001f, view->clipRect, kTextWhite, 3,
                    &ui->batches.line2d);
            addLine(Vec2F32{cx + h, cy + h}, Vec2F32{cx, cy - h}, kRowDepth + 0.001f, view->clipRect, kTextWhite, 3,
                    &ui->batches.line2d);
        }
        line(ui, view, l.rowRect.x0, l.rowRect.y0, l.rowRect.x1, l.rowRect.y0, kLineGrey, 1);
    }
    result.clicked = buttonBehavior(&l.rowRect, view, stack) > 0xFFFFFFFFull ? 1 : 0;
    return result;
}

RowResult buttonRow(const FixedString* title, const FixedString* description, u32 hasIcon, ScreenStack* stack,
                    UiState* ui, MapView* view) {
    RowResult result{};
    result.layout = beginRow(hasIcon, 1, view, &result.visible);
    const RowLayout& l = result.layout;
    if (result.visible) {
        drawTitleAndDescription(ui, view, l, title, description);
        f32 cx, cy, q;
        sideCentre(l, &cx, &cy, &q);
        line(ui, view, cx - q, cy, cx + q, cy, kLineGrey, 1);
        line(ui, view, cx + q / 2, cy + q / 2, cx + q, cy, kLineGrey, 1);
        line(ui, view, cx + q / 2, cy - q / 2, cx + q, cy, kLineGrey, 1);
        line(ui, view, l.rowRect.x0, l.rowRect.y0, l.rowRect.x1, l.rowRect.y0, kLineGrey, 1);
    }
    result.clicked = buttonBehavior(&l.rowRect, view, stack) > 0xFFFFFFFFull ? 1 : 0;
    return result;
}

ExpandableRowResult optionGridRow(const FixedString* title, const FixedString* description, f32 extraHeight,
                                  u32 hasIcon, ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id) {
    ExpandableRowResult result{};
    result.expanded = sameWidget(view->openRowId, *id) ? 1 : 0;
    result.justOpened = result.expanded && view->rowJustOpened ? 1 : 0;
    RowLayout l = widgetRectFromLayout(hasIcon, 1, view);
    result.area = Rect{l.rowRect.x0, l.rowRect.x1, l.rowRect.y0, l.rowRect.y0};
    if (result.expanded) {
        view->rowJustOpened = 0;
        f64 unit = view->pixelsPerUnit > 0 ? view->pixelsPerUnit : 1;
        l.contentY0 -= extraHeight / unit;
        result.area.y0 -= extraHeight;
    }
    result.layout = l;
    view->layoutCursor = l.contentY0;
    result.visible = rowIsVisible(view, l) ? 1 : 0;
    if (result.visible) {
        drawTitleAndDescription(ui, view, l, title, description);
        f32 cx, cy, q;
        sideCentre(l, &cx, &cy, &q);
        if (result.expanded) {
            line(ui, view, cx - q, cy, cx + q, cy, kLineGrey, 1);
        } else {
            line(ui, view, cx - q, cy + q / 2, cx, cy - q / 2, kLineGrey, 1);
            line(ui, view, cx, cy - q / 2, cx + q, cy + q / 2, kLineGrey, 1);
        }
        line(ui, view, l.rowRect.x0, result.area.y0, l.rowRect.x1, result.area.y0, kLineGrey, 1);
    }
    if (buttonBehavior(&l.rowRect, view, stack) > 0xFFFFFFFFull) {
        if (sameWidget(view->openRowId, *id)) {
            view->openRowId = WidgetId{};
        } else {
            view->openRowId = *id;
            view->rowJustOpened = 1;
        }
    }
    return result;
}

ChoiceRowResult choiceRow(const FixedString* title, const FixedString* description, i32 current, i32* selected,
                          const FixedString options[], i32 count, u32 hasIcon, ScreenStack* stack, UiState* ui,
                          MapView* view, const WidgetId* id) {
    FixedString note{};
    return choiceRowBody(title, description, &note, current, selected, options, count, hasIcon, stack, ui, view, id);
}

ChoiceRowResult choiceRowBody(const FixedString* title, const FixedString* description, const FixedString* note,
                              i32 current, i32* selected, const FixedString options[], i32 count, u32 hasIcon,
                              ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id) {
    ChoiceRowResult result{};
    f32 T = view->textSize, p = view->padding;
    if (count < 0) count = 0;
    const FixedString* shown = description;
    if ((!description || description->length == 0) && current >= 0 && current < count) shown = &options[current];
    f32 n = note && note->length ? 2 * T : 0;
    ExpandableRowResult row = optionGridRow(title, shown, count * 2 * T + 2 * p + n, hasIcon, stack, ui, view, id);
    result.layout = row.layout;
    result.expanded = row.expanded;
    result.justOpened = row.justOpened;
    result.visible = row.visible;
    result.optionHeight = 2 * T;
    if (row.justOpened) *selected = current;
    if (!row.expanded) return result;
    const Rect& area = row.area;
    i32 selectedAtStart = *selected;
    TextStyle labelStyle = rowLabelStyle(view);
    for (i32 i = 0; i < count; i++) {
        Rect box{area.x0 + 2 * p, area.x1 - 2 * p, area.y1 - p - (i + 1) * 2 * T, area.y1 - p - i * 2 * T};
        if (i == 0) result.firstOptionRect = box;
        bool clicked = buttonBehavior(&box, view, stack) > 0xFFFFFFFFull;
        Rect circle{box.x0 + p, box.x0 + 2 * T - p, box.y0 + p, box.y1 - p};
        addRoundedRect(circle, kRowDepth, view->clipRect, 2, (circle.x1 - circle.x0) / 2,
                       i == selectedAtStart ? kCheckedYellow : kNoOutline, kLineGrey, &ui->batches.coloredRect,
                       ui->halfWidth, ui->halfHeight);
        Rect labelCrop = intersectRect(box, view->clipRect);
        TextLayoutResult drawn = drawTextAt(ui, options[i], AnchorLeftCentre, Vec2F32{box.x0 + 2 * T, (box.y0 + box.y1) / 2},
                                            kRowDepth, labelCrop, labelStyle);
        if (drawn.bounds.x1 > result.labelsRight) result.labelsRight = drawn.bounds.x1;
        if (clicked) {
            result.changed = 1;
            *selected = i;
        }
    }
    if (n > 0) {
        Rect noteRect{area.x0 + 2 * p, area.x1 - 2 * p, area.y0 + p, area.y0 + p + n};
        drawTextInRect(ui, *note, AnchorLeftCentre, kRowDepth, noteRect, view->clipRect, labelStyle, noTextCaret());
    }
    return result;
}

StepperRowResult stepperRow(const FixedString* title, const FixedString* description, i32 current, u32* selected,
                            const FixedString options[], i32 count, f32 itemWidth, u32 hasIcon, ScreenStack* stack,
                            UiState* ui, MapView* view, const WidgetId* id) {
    StepperRowResult result{};
    f32 T = view->textSize, p = view->padding;
    if (count < 0) count = 0;
    const FixedString* shown = description;
    if ((!description || description->length == 0) && current >= 0 && current < count) shown = &options[current];
    ExpandableRowResult row = optionGridRow(title, shown, 4 * T + 2 * p, hasIcon, stack, ui, view, id);
    result.layout = row.layout;
    result.expanded = row.expanded;
    result.justOpened = row.justOpened;
    result.visible = row.visible;
    if (row.justOpened) *selected = current >= 0 && current < count ? (u32)current : (u32)(count / 2);
    if (!row.expanded || count == 0) return result;
    const Rect& area = row.area;
    f32 s = 2 * itemWidth * T;
    f32 cx = (area.x0 + area.x1) / 2, cy = (area.y0 + area.y1) / 2, k = 2 * s / 3;
    line(ui, view, cx - k, cy + 2 * T - T / 2, cx - k, cy + 2 * T, kLineGrey, 1);
    line(ui, view, cx - k, cy + 2 * T, cx + k, cy + 2 * T, kLineGrey, 1);
    line(ui, view, cx + k, cy + 2 * T, cx + k, cy + 2 * T - T / 2, kLineGrey, 1);
    line(ui, view, cx - k, cy - 2 * T + T / 2, cx - k, cy - 2 * T, kLineGrey, 1);
    line(ui, view, cx - k, cy - 2 * T, cx + k, cy - 2 * T, kLineGrey, 1);
    line(ui, view, cx + k, cy - 2 * T, cx + k, cy - 2 * T + T / 2, kLineGrey, 1);

    PointerHit hit = rectHitTest(&area, 0, stack, id);
    f32 d = 0;
    bool released = false;
    if (hit.primaryPointer >= 0 && s > 0) {
        const PointerSlot* pointer = &stack->pointers[hit.primaryPointer];
        d = pointer->x - pointer->pressX;
        released = (hit.pointerFlags[hit.primaryPointer] & PointerFlagReleased) != 0;
    }
    f64 steps = s > 0 ? (f64)d / s : 0;
    i64 m = (i64)roundHalfAway(steps * 3);
    f32 shift = d;
    i64 centred = -1;
    if (m % 3 == 0) {
        shift = (f32)(m / 3) * s;
        centred = (i64)*selected - m / 3;
    }
    TextStyle style{kSecondaryGrey, kNoOutline, kSelectionOrange, T, 0, 0};
    for (i32 i = 0; i < count; i++) {
        f32 x = cx - ((f32)*selected * s - shift) + i * s;
        bool isCentred = i == centred;
        f32 h = isCentred ? 2 * s / 3 : s / 3;
        Rect box{x - h, x + h, area.y0, area.y1};
        style.size = isCentred ? 2 * T : T;
        Rect crop = intersectRect(intersectRect(box, area), view->clipRect);
        if (crop.x1 <= crop.x0) continue;
        drawTextInRect(ui, options[i], AnchorCentre, kRowDepth, box, crop, style, noTextCaret());
    }
    if (released) {
        i64 moved = (i64)roundHalfAway(steps);
        i64 value = (i64)*selected - moved;
        if (value < 0) value = 0;
        if (value > count - 1) value = count - 1;
        *selected = (u32)value;
        result.changed = 1;
    }
    (void)p;
    return result;
}

LayoutCells splitLayout(u32 axis, const f32* sizes, i32 count, f32 spacing, const Rect* area) {
    LayoutCells out{};
    if (count <= 0) return out;
    if (count > kMaxLayoutCells) count = kMaxLayoutCells;
    f32 length = axis == LayoutAlongX ? area->x1 - area->x0 : area->y1 - area->y0;
    f32 available = length - (count - 1) * spacing;
    f32 lengths[kMaxLayoutCells];
    if (!sizes) {
        for (i32 i = 0; i < count; i++) lengths[i] = available / count;
    } else {
        f32 fixed = 0, weights = 0;
        for (i32 i = 0; i < count; i++) {
            if (sizes[i] > 0) {
                fixed += sizes[i];
            } else {
                weights += -sizes[i];
            }
        }
        bool anyWeight = false;
        for (i32 i = 0; i < count; i++) anyWeight = anyWeight || sizes[i] <= 0;
        if (anyWeight) {
            f32 room = available - fixed;
            for (i32 i = 0; i < count; i++) {
                if (fixed <= available) {
                    lengths[i] = sizes[i] > 0 ? sizes[i] : (weights > 0 ? -sizes[i] * room / weights : 0);
                } else {
                    lengths[i] = sizes[i] > 0 ? sizes[i] * available / fixed : 0;
                }
            }
        } else if (fixed <= available) {
            for (i32 i = 0; i < count; i++) lengths[i] = sizes[i];
            if (count > 1) spacing = (length - fixed) / (count - 1);
        } else {
            for (i32 i = 0; i < count; i++) lengths[i] = sizes[i] * available / fixed;
        }
    }
    f32 cursor = 0;
    for (i32 i = 0; i < count; i++) {
        Rect cell = *area;
        if (axis == LayoutAlongX) {
            cell.x0 = area->x0 + cursor;
            cell.x1 = cell.x0 + lengths[i];
        } else {
            cell.y1 = area->y1 - cursor;
            cell.y0 = cell.y1 - lengths[i];
        }
        out.cells[i] = cell;
        cursor += lengths[i] + spacing;
    }
    return out;
}

Rect scrollbarThumb(u32 side, f32 thickness, const Rect* rect, f64 contentMin, f64 contentMax, f64 visibleMin,
                    f64 visibleMax) {
    f64 range = contentMax - contentMin;
    if (!(range > 0) || !std::isfinite(range) || (side != 3 && side != 7)) return Rect{};
    f32 height = rect->y1 - rect->y0;
    f32 y0 = rect->y0 + (f32)(height * (visibleMin - contentMin) / range);
    f32 y1 = rect->y0 + (f32)(height * (visibleMax - contentMin) / range);
    if (y1 - y0 < 2 * thickness) {
        f32 middle = (y0 + y1) / 2;
        y0 = middle - thickness;
        y1 = middle + thickness;
    }
    if (side == 3) return Rect{rect->x0, rect->x0 + thickness, y0, y1};
    return Rect{rect->x1 - thickness, rect->x1, y0, y1};
}

void drawViewScrollbar(u32 side, Color colour, f32 depth, const MapView* view, UiState* ui) {
    f32 thickness = ui->halfWidth / 200 > 2 ? ui->halfWidth / 200 : 2;
    Rect thumb = scrollbarThumb(side, thickness, &view->rect, view->contentYMin, view->contentYMax,
                                view->visibleYMin, view->visibleYMax);
    if (!(thumb.x1 > thumb.x0)) return;
    addRoundedRect(thumb, depth, view->clipRect, 0, 0, colour, colour, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);
}

ButtonStyle rowButtonStyle(const MapView* view) {
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, view->textSize, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = view->padding;
    style.cornerRadius = view->padding;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = view->padding / 2;
    return style;
}
