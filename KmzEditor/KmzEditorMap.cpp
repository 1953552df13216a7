// The editor on a map view: taps that add, presses and holds that drag, connect and recolour, the
// eraser, and the drawing of segments, points, the line end and the markers.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "KmzEditor/KmzEditor.h"
#include "KmzEditor/KmzEditorDrawing.h"
#include "SourceCommon/Renderer/MapBatches.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr Color kBlack = 0xFF000000;
constexpr f32 kPointHalfSize = 8;
constexpr f32 kMarkerHitHalfSize = 40;
constexpr f32 kRingRadius = 24;
const char kKmzEditorIds[] = "KmzEditor/KmzEditor";

WidgetId markerId(u32 slot) { return WidgetId{691ull << 32 | slot, kKmzEditorIds}; }
WidgetId pointId(u32 slot) { return WidgetId{746ull << 32 | slot, kKmzEditorIds}; }
WidgetId lineId(u32 slot) { return WidgetId{800ull << 32 | slot, kKmzEditorIds}; }

// Map <-> window with every x brought within half a turn of the reference.
struct KmzProjection {
    const MapView* view;
    f64 reference;
    Vec2F32 toWindow(f64 x, f64 y) const {
        f64 near = x - reference <= 0.5 && x - reference >= -0.5 ? x : wrapNear(x, reference);
        return Vec2F32{mapViewWindowX(view, near), mapViewWindowY(view, y)};
    }
    Vec2 toMap(Vec2F32 pixel) const {
        Vec2 p = screenPointToMap(view, pixel.x, pixel.y);
        return Vec2{wrapNear(p.x, 0), p.y};
    }
};

KmzProjection projectionOf(const KmzEditor* editor, const MapView* view) {
    KmzProjection projection{view, view->centreX};
    i32 first = -1;
    for (u32 w = 0; w < kKmzPoolWords && first < 0; ++w) {
        if (editor->pointUsed[w]) first = (i32)(w * 64 + (u32)__builtin_ctzll(editor->pointUsed[w]));
    }
    if (first >= 0) projection.reference = wrapNear(editor->points[first].x, view->centreX);
    return projection;
}

// The window positions of the used points, made once a frame after the interaction has moved them.
Vec2F32 gPointWindow[kKmzPoolSlots];

void placePoints(const KmzEditor* editor, const KmzProjection& projection) {
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->pointUsed[w]; bits; bits &= bits - 1) {
            u32 slot = w * 64 + (u32)__builtin_ctzll(bits);
            gPointWindow[slot] = projection.toWindow(editor->points[slot].x, editor->points[slot].y);
        }
    }
}

Vec2F32 placed(const KmzEditor* editor, const KmzProjection& projection, u32 slot) {
    // A segment's end that is not a used point (never left by the actions) is placed from its bytes.
    return kmzSlotUsed(editor->pointUsed, slot) ? gPointWindow[slot]
                                                : projection.toWindow(editor->points[slot].x, editor->points[slot].y);
}

Rect boxAround(Vec2F32 c, f32 half) { return Rect{c.x - half, c.x + half, c.y - half, c.y + half}; }

bool nearClip(const Rect& clip, Vec2F32 p, f32 margin) {
    return p.x >= clip.x0 - margin && p.x <= clip.x1 + margin && p.y >= clip.y0 - margin && p.y <= clip.y1 + margin;
}

// The hit box cut to the view (a box outside it takes no new press but keeps its pointer).
PointerHit hitBox(Rect box, const MapView* view, ScreenStack* stack, WidgetId id) {
    Rect inside = intersectRect(box, view->clipRect);
    if (!(inside.x0 <= inside.x1 && inside.y0 <= inside.y1)) inside = Rect{1, 0, 1, 0};
    return rectHitTest(&inside, 1, stack, &id);
}

void writeU32(u8* p, u32 v) {
    for (i32 i = 0; i < 4; ++i) p[i] = (u8)(v >> (8 * i));
}

void pushMovePoint(KmzEditor* editor, u32 slot) {
    u8 payload[24] = {};
    std::memcpy(payload, &editor->points[slot], 16);
    writeU32(payload + 16, slot);
    runNewEdit(&editor->history, moveKmzPointAction, payload, sizeof payload);
}

void markerPass(KmzEditor* editor, const KmzProjection& projection, MapView* view, ScreenStack* stack) {
    if (editor->mode != KmzModeEraser && editor->mode != KmzModeMarker) return;
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->markerUsed[w]; bits; bits &= bits - 1) {
            u32 slot = w * 64 + (u32)__builtin_ctzll(bits);
            KmzMarker* marker = &editor->markers[slot];
            Vec2F32 at = projection.toWindow(marker->x, marker->y);
            if (!nearClip(view->clipRect, at, kMarkerHitHalfSize)) continue;
            PointerHit hit = hitBox(boxAround(at, kMarkerHitHalfSize), view, stack, markerId(slot));
            if (hit.primaryPointer < 0) continue;
            if (editor->mode == KmzModeEraser) {
                if (hit.clicked) {
                    u8 payload[4];
                    writeU32(payload, slot);
                    runNewEdit(&editor->history, deleteKmzMarker, payload, 4);
                }
                continue;
            }
            u32 flags = hit.pointerFlags[hit.primaryPointer];
            const PointerSlot* pointer = &stack->pointers[hit.primaryPointer];
            if (flags & PointerFlagHoldNew) {
                u8 payload[24] = {};
                std::memcpy(payload, marker, 16);
                writeU32(payload + 16, slot);
                runNewEdit(&editor->history, moveKmzMarkerAction, payload, sizeof payload);
            }
            if ((flags & PointerFlagPressed) && (flags & PointerFlagHeld)) {
                Vec2 p = projection.toMap(Vec2F32{pointer->x, pointer->y});
                marker->x = p.x;
                marker->y = p.y;
            }
        }
    }
}

// The used line between two points (either direction), or -1.
i32 findLineBetween(const KmzEditor* editor, u32 a, u32 b) {
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->lineUsed[w]; bits; bits &= bits - 1) {
            u32 slot = w * 64 + (u32)__builtin_ctzll(bits);
            const KmzLine& line = editor->lines[slot];
            if ((line.pointA == a && line.pointB == b) || (line.pointA == b && line.pointB == a)) return (i32)slot;
        }
    }
    return -1;
}

// A tap on a point while the line end is another used point: connect or recolour.
void connectToLineEnd(KmzEditor* editor, u32 slot) {
    u32 end = (u32)editor->lineEnd;
    i32 existing = findLineBetween(editor, slot, end);
    if (existing >= 0) {
        if ((u8)editor->lines[existing].color != editor->color) {
            u8 payload[8];
            writeU32(payload, (u32)existing);
            writeU32(payload + 4, editor->color);
            runNewEdit(&editor->history, recolorLineAction, payload, sizeof payload);
        } else {
            // Already joined in this colour: the polyline goes on from here without a second segment.
            editor->lineEnd = (i32)slot;
        }
        return;
    }
    KmzLine line{slot, end, editor->color};
    if (runNewEdit(&editor->history, addKmzLine, &line, sizeof line).ok) editor->lineEnd = (i32)slot;
}

void pointPass(KmzEditor* editor, const KmzProjection& projection, MapView* view, ScreenStack* stack) {
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->pointUsed[w]; bits; bits &= bits - 1) {
            u32 slot = w * 64 + (u32)__builtin_ctzll(bits);
            if (!kmzSlotUsed(editor->pointUsed, slot)) continue;  // deleted earlier in this pass
            Vec2F32 at = projection.toWindow(editor->points[slot].x, editor->points[slot].y);
            if (!nearClip(view->clipRect, at, kPointHalfSize)) continue;
            PointerHit hit = hitBox(boxAround(at, kPointHalfSize), view, stack, pointId(slot));
            if (hit.primaryPointer < 0) continue;
            u32 flags = hit.pointerFlags[hit.primaryPointer];
            const PointerSlot* pointer = &stack->pointers[hit.primaryPointer];
            if (editor->mode == KmzModeEraser) {
                if (hit.clicked) {
                    u8 payload[8] = {};
                    writeU32(payload, slot);
                    runNewEdit(&editor->history, deleteKmzPoint, payload, sizeof payload);
                }
                continue;
            }
            if (editor->mode != KmzModeLine) continue;
            bool pressedNow = (flags & PointerFlagClaimed) != 0;
            bool endIsOther = editor->lineEnd >= 0 && editor->lineEnd != (i32)slot &&
                              kmzSlotUsed(editor->pointUsed, (u32)editor->lineEnd);
            bool dragging = editor->dragPoint == (i32)slot + 1;
            if (pressedNow) {
                editor->pressWasLineEnd = editor->lineEnd == (i32)slot;
                editor->dragPoint = 0;
            }
            if (endIsOther && !dragging) {
                if (hit.clicked) connectToLineEnd(editor, slot);
                if (flags & PointerFlagHoldNew) {
                    pushMovePoint(editor, slot);
                    editor->lineEnd = (i32)slot;
                    editor->dragPoint = (i32)slot + 1;
                }
            } else {
                if (pressedNow) {
                    pushMovePoint(editor, slot);
                    editor->lineEnd = (i32)slot;
                    editor->dragPoint = (i32)slot + 1;
                }
                // A tap on the point that already was the line end ends the polyline.
                if (hit.clicked && editor->pressWasLineEnd && editor->lineEnd == (i32)slot) editor->lineEnd = -1;
            }
            if (editor->dragPoint == (i32)slot + 1 && (flags & PointerFlagPressed) && !hit.clicked) {
                Vec2 p = projection.toMap(Vec2F32{pointer->x, pointer->y});
                editor->points[slot] = KmzPoint{p.x, p.y};
            }
            if (flags & PointerFlagReleased) editor->dragPoint = 0;
        }
    }
}

void linePass(KmzEditor* editor, const KmzProjection& projection, MapView* view, ScreenStack* stack, f32 iconSize) {
    if (editor->mode != KmzModeEraser) return;
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->lineUsed[w]; bits; bits &= bits - 1) {
            u32 slot = w * 64 + (u32)__builtin_ctzll(bits);
            const KmzLine& line = editor->lines[slot];
            if (line.pointA >= kKmzPoolSlots || line.pointB >= kKmzPoolSlots) continue;
            Vec2F32 a = placed(editor, projection, line.pointA), b = placed(editor, projection, line.pointB);
            WidgetId id = lineId(slot);
            PointerHit hit = circleHitTest(SegmentF32{a.x, a.y, b.x, b.y}, iconSize / 2, &view->clipRect, 1, stack, &id);
            if (hit.clicked) {
                u8 payload[4];
                writeU32(payload, slot);
                runNewEdit(&editor->history, deleteKmzLine, payload, 4);
            }
        }
    }
}

bool segmentOutside(const Rect& clip, Vec2F32 a, Vec2F32 b, f32 margin) {
    return (a.x < clip.x0 - margin && b.x < clip.x0 - margin) || (a.x > clip.x1 + margin && b.x > clip.x1 + margin) ||
           (a.y < clip.y0 - margin && b.y < clip.y0 - margin) || (a.y > clip.y1 + margin && b.y > clip.y1 + margin);
}

void drawLines(const KmzEditor* editor, const KmzProjection& projection, const MapView* view, UiState* ui,
               f32 depth, f32 iconSize) {
    f32 outline = iconSize * 5 / 20, width = iconSize * 3 / 20;
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->lineUsed[w]; bits; bits &= bits - 1) {
            const KmzLine& line = editor->lines[w * 64 + (u32)__builtin_ctzll(bits)];
            if (line.pointA >= kKmzPoolSlots || line.pointB >= kKmzPoolSlots) continue;
            Vec2F32 a = placed(editor, projection, line.pointA), b = placed(editor, projection, line.pointB);
            if (segmentOutside(view->clipRect, a, b, outline)) continue;
            addMapSegment(a, b, depth, view->clipRect, kBlack, outline, &ui->batches.mapLines);
            addMapSegment(a, b, depth + 0.001f, view->clipRect, kmzColor((u8)line.color), width, &ui->batches.mapLines);
        }
    }
}

void drawPoints(const KmzEditor* editor, const KmzProjection& projection, const MapView* view, UiState* ui,
                f32 depth) {
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->pointUsed[w]; bits; bits &= bits - 1) {
            u32 slot = w * 64 + (u32)__builtin_ctzll(bits);
            Vec2F32 at = gPointWindow[slot];
            if (!nearClip(view->clipRect, at, kPointHalfSize)) continue;
            // A disc is a segment of no length: a black one under a coloured one a pixel narrower.
            addMapSegment(at, at, depth + 0.002f, view->clipRect, kBlack, 2 * kPointHalfSize, &ui->batches.mapLines);
            addMapSegment(at, at, depth + 0.002f, view->clipRect, kmzColor(editor->pointColor[slot]),
                          2 * kPointHalfSize - 2, &ui->batches.mapLines);
        }
    }
    if (editor->mode == KmzModeMarker || editor->lineEnd < 0 || !kmzSlotUsed(editor->pointUsed, (u32)editor->lineEnd))
        return;
    const KmzPoint& end = editor->points[editor->lineEnd];
    Vec2F32 at = projection.toWindow(end.x, end.y);
    addRoundedRect(boxAround(at, 24.9f), depth + 0.0025f, view->clipRect, 3.5f, 24.8f, 0x00000000, kBlack,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    addRoundedRect(boxAround(at, kRingRadius), depth + 0.003f, view->clipRect, 2, kRingRadius, 0x00000000,
                   kmzColor(editor->color), &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
}

void drawMarkers(const KmzEditor* editor, const KmzProjection& projection, const MapView* view, UiState* ui,
                 f32 depth, f32 iconSize) {
    static u32 order[kKmzPoolSlots];
    u32 count = kmzMarkersInOrder(editor, order);
    u32 rank = 0, previousKind = 0xFFFFFFFF;
    f32 side = 4 * iconSize;
    for (u32 i = 0; i < count; ++i) {
        const KmzMarker& marker = editor->markers[order[i]];
        rank = marker.kind == previousKind ? rank + 1 : 1;
        previousKind = marker.kind;
        Vec2F32 at = projection.toWindow(marker.x, marker.y);
        if (!nearClip(view->clipRect, at, side * 2)) continue;
        u32 kind = marker.kind < kKmzMarkerKindCount ? marker.kind : 0;
        drawMapIcon(at, depth + 0.004f, AnchorCentre, 0, side, view->clipRect, ImageKindAsset,
                    (u32)kmzMarkerImageAsset(kind), ui);
        KmzLabelOffsets offsets = kmzMarkerLabelOffsets(kind);
        TextStyle rankStyle{kBlack, 0x00FFFFFF, kmzColor(KmzBlue), side * 0.2f, 0, 0};
        drawTextAt(ui, stringFromInt(rank), AnchorCentre,
                   Vec2F32{at.x + offsets.rankX * side, at.y + offsets.rankY * side}, depth + 0.005f, view->clipRect,
                   rankStyle);
        if (kind == KmzMarkerObstruction) continue;
        TextStyle coordinateStyle{0xFFFFFFFF, kBlack, kmzColor(KmzBlue), side * 0.12f, 0.1f, 0};
        drawTextAt(ui, kmzCoordinateLabel(marker.x, marker.y), AnchorTopCentre,
                   Vec2F32{at.x + offsets.coordinatesX * side, at.y + offsets.coordinatesY * side}, depth + 0.005f,
                   view->clipRect, coordinateStyle);
    }
}

struct MarkerOrder {
    u64 key;
    u32 slot;
};
MarkerOrder gMarkerOrder[kKmzPoolSlots];

}  // namespace

u32 kmzMarkersInOrder(const KmzEditor* editor, u32* slots) {
    u32 count = 0;
    for (u32 w = 0; w < kKmzPoolWords; ++w) {
        for (u64 bits = editor->markerUsed[w]; bits; bits &= bits - 1) {
            u32 slot = w * 64 + (u32)__builtin_ctzll(bits);
            const KmzMarker& m = editor->markers[slot];
            gMarkerOrder[count++] = MarkerOrder{(u64)m.kind << 32 | m.number, slot};
        }
    }
    std::sort(gMarkerOrder, gMarkerOrder + count, [](const MarkerOrder& a, const MarkerOrder& b) {
        return a.key != b.key ? a.key < b.key : a.slot < b.slot;
    });
    for (u32 i = 0; i < count; ++i) slots[i] = gMarkerOrder[i].slot;
    return count;
}

GeoPoint kmzGeoOf(f64 x, f64 y) {
    GeoPoint geo;
    geo.longitude = wrapNear(x, 0) * 360.0;
    geo.latitude = (std::atan(std::exp(2 * kPi * y)) - kPi / 4) * 360.0 / kPi;
    return geo;
}

FixedString kmzDegreesText(f64 degrees) { return stringFromFixedPoint((i64)std::trunc(degrees * 100000.0), 5); }

FixedString kmzCoordinateLabel(f64 x, f64 y) {
    GeoPoint geo = kmzGeoOf(x, y);
    return formatStrStr("@\n@", kmzDegreesText(geo.latitude), kmzDegreesText(geo.longitude));
}

void addKmzItemAtPosition(KmzEditor* editor, Vec2 point) {
    if (editor->mode == KmzModeMarker) {
        if (lowestFreeKmzSlot(editor->markerUsed) < 0) return;
        KmzMarker marker{point.x, point.y, editor->nextMarkerNumber++, editor->markerKind};
        runNewEdit(&editor->history, addKmzMarker, &marker, sizeof marker);
        return;
    }
    if (editor->mode != KmzModeLine) return;
    u8 payload[21];
    std::memcpy(payload, &point, 16);
    u64 size = 16;
    if (editor->lineEnd >= 0 && kmzSlotUsed(editor->pointUsed, (u32)editor->lineEnd)) {
        writeU32(payload + 16, (u32)editor->lineEnd);
        payload[20] = editor->color;
        size = 21;
    }
    runNewEdit(&editor->history, addKmzPoint, payload, size);
}

void updateKmzEditor(KmzEditor* editor, f32 depth, u32 editing, MapView* view, UiState* ui, ScreenStack* stack,
                     f32 iconSize) {
    KmzProjection projection = projectionOf(editor, view);
    if (editing) {
        markerPass(editor, projection, view, stack);
        pointPass(editor, projection, view, stack);
    } else {
        editor->dragPoint = 0;
    }
    placePoints(editor, projection);
    linePass(editor, projection, view, stack, iconSize);
    drawLines(editor, projection, view, ui, depth, iconSize);
    if (editing) drawPoints(editor, projection, view, ui, depth);
    drawMarkers(editor, projection, view, ui, depth, iconSize);
}

i32 kmzAssetIndex(const char* name) {
    static ImageAssetTable table = initImageAssets();
    for (i32 i = 0; i < kImageAssetCount; ++i) {
        if (table.assets[i].name && std::strcmp(table.assets[i].name, name) == 0) return i;
    }
    return -1;
}

i32 kmzMarkerImageAsset(u32 kind) {
    static const char* const names[kKmzMarkerKindCount] = {"flag_white_marker.png", "obstruction_marker.png",
                                                           "fire_marker.png", "smoke_marker.png", "heat_marker.png"};
    static i32 indexes[kKmzMarkerKindCount] = {-2, -2, -2, -2, -2};
    if (kind >= kKmzMarkerKindCount) kind = 0;
    if (indexes[kind] == -2) indexes[kind] = kmzAssetIndex(names[kind]);
    return indexes[kind];
}

KmzLabelOffsets kmzMarkerLabelOffsets(u32 kind) {
    // The rank sits on the image's badge, the coordinates under the image (same places as on the
    // exported icons, counted from the square's centre).
    switch (kind) {
        case KmzMarkerObstruction: return {0.0f, 1.0f / 3 + 1.0f / 13 - 0.5f, 0, -0.5f};
        case KmzMarkerFire: return {0.0f, 1.0f / 3 + 1.0f / 9 - 0.5f, 0, 1.0f / 6 - 0.5f};
        case KmzMarkerSmoke: return {1.0f / 6 + 1.0f / 25, 1.0f / 4 + 1.0f / 25, 0, 1.0f / 3 - 0.5f};
        case KmzMarkerHeat: return {0.0f, 1.0f / 3 + 1.0f / 7 + 1.0f / 48 - 0.5f, 0, 0.2f - 0.5f};
        default: return {0.125f, 0.25f, 0, 0.25f - 0.5f};
    }
}
