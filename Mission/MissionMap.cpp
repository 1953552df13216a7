#include "Mission/MissionMap.h"

#include "Core/MathEarth.h"
#include "Mission/TransectGenerator.h"
#include "Mission/WaypointUndo.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/UserInterface/Screen.h"

namespace {

constexpr Color kOutlineBlack = 0xFF000000;
constexpr Color kPathWhite = 0xFFFFFFFF;
constexpr Color kIgniteOrange = 0xFF0080FF;
constexpr Color kGeofenceRed = 0xFF3030FF;
constexpr Color kTransectCyan = 0xFFFFFF00;
constexpr Color kUncoveredMagenta = 0xFFFF00FF;
constexpr Color kTransectPreview = 0xC0FFFF00;
constexpr Color kDeleteRed = 0xFF2020D0;

// Map positions as window pixels and back; a position taken from the window is kept within
// [-0.5, 0.5] turns.
Vec2F32 toWindow(const MapView* view, Vec2 point) { return mapPointToScreen(view, point); }
Vec2 toMap(const MapView* view, Vec2F32 pixel) {
    Vec2 point = screenPointToMap(view, pixel.x, pixel.y);
    return Vec2{wrapNear(point.x, 0), point.y};
}

// Widget ids of the handles: one per layer and element, never equal to a call site's id.
const char kHandleIds[] = "MissionMap";
enum HandleLayer : u64 {
    HandleWaypoint = 1,
    HandleDelete = 2,
    HandleInsert = 3,
    HandleGeofenceVertex = 4,
    HandleTransectVertex = 5,
};
WidgetId handleId(HandleLayer layer, u32 element) { return WidgetId{(u64)layer << 32 | element, kHandleIds}; }

Rect boxAround(Vec2F32 centre, f32 halfWidth, f32 halfHeight) {
    return Rect{centre.x - halfWidth, centre.x + halfWidth, centre.y - halfHeight, centre.y + halfHeight};
}

// What the pointer that owns a handle did this frame.
struct HandleGesture {
    u32 owned;
    u32 tapped;
    u32 holdStarted;  // the press has just been held for 250 ms
    u32 held;
    Vec2F32 pointer;
};

// Hit-tests a handle inside the view's clip (a handle outside it takes no new press, but keeps the
// pointer that already owns it).
HandleGesture trackHandle(Rect box, const MapView* view, ScreenStack* stack, WidgetId id) {
    Rect inside = intersectRect(box, view->clipRect);
    if (!(inside.x0 <= inside.x1 && inside.y0 <= inside.y1)) inside = Rect{1, 0, 1, 0};
    PointerHit hit = rectHitTest(&inside, 1, stack, &id);
    HandleGesture gesture = {};
    if (hit.primaryPointer < 0) return gesture;
    u32 flags = hit.pointerFlags[hit.primaryPointer];
    const PointerSlot* slot = &stack->pointers[hit.primaryPointer];
    gesture.owned = (flags & PointerFlagReleased) == 0;
    gesture.tapped = hit.clicked;
    gesture.holdStarted = (flags & PointerFlagHoldNew) != 0;
    gesture.held = (flags & PointerFlagPressed) && (flags & PointerFlagHeld);
    gesture.pointer = Vec2F32{slot->x, slot->y};
    return gesture;
}

enum DragStep { DragNone, DragStart, DragFollow, DragEnd };

// A hold starts the element's drag; while held it follows the pointer at the offset it had; the
// drag ends when the pointer lets go.
DragStep dragStep(MapEditDrag* drag, u32 element, Vec2F32 at, const HandleGesture& gesture) {
    if (gesture.holdStarted) {
        *drag = MapEditDrag{1, element, at.x - gesture.pointer.x, at.y - gesture.pointer.y};
        return DragStart;
    }
    if (!drag->active || drag->element != element) return DragNone;
    if (gesture.owned && gesture.held) return DragFollow;
    if (!gesture.owned) {
        drag->active = 0;
        return DragEnd;
    }
    return DragNone;
}

Vec2 dragPosition(const MapView* view, const MapEditDrag* drag, const HandleGesture& gesture) {
    return toMap(view, Vec2F32{gesture.pointer.x + drag->offsetX, gesture.pointer.y + drag->offsetY});
}

// A segment with a black outline under it.
void drawOutlinedLine(Vec2F32 a, Vec2F32 b, f32 depth, const Rect& clip, Color color, f32 thickness, UiState* ui) {
    addLine(a, b, depth, clip, kOutlineBlack, thickness * 5 / 3, &ui->batches.line2d);
    addLine(a, b, depth + 0.0001f, clip, color, thickness, &ui->batches.line2d);
}

void drawVertexDisc(Vec2F32 at, f32 depth, const Rect& clip, Color fill, UiState* ui) {
    addRoundedRect(boxAround(at, kVertexHandleHalfSize, kVertexHandleHalfSize), depth, clip, 1,
                   kVertexHandleHalfSize, fill, kOutlineBlack, &ui->batches.coloredRect, ui->halfWidth,
                   ui->halfHeight);
}

Vec2F32 deleteHandleCentre(Vec2F32 at, f32 markerWidth) {
    return Vec2F32{at.x + markerWidth * 0.8f, at.y + markerWidth * 0.8f};
}

// The vertices of a polygon: dragged with one Move record per drag. Returns 1 when a drag ended
// this frame.
template <typename Owner>
u32 editVertices(Owner* polygon, i32 count, UndoAction move, HandleLayer layer, MapView* view, ScreenStack* stack) {
    MapEditDrag* drag = &polygon->drag;
    if (drag->active && drag->element >= (u32)count) drag->active = 0;
    u32 ended = 0;
    for (i32 i = count - 1; i >= 0; --i) {
        Vec2F32 at = toWindow(view, polygon->points[i]);
        HandleGesture gesture = trackHandle(boxAround(at, kVertexHandleHalfSize, kVertexHandleHalfSize), view, stack,
                                            handleId(layer, (u32)i));
        switch (dragStep(drag, (u32)i, at, gesture)) {
            case DragStart: {
                PolygonMovePayload unchanged = {i, 0, polygon->points[i]};
                runNewEdit(&polygon->history, move, &unchanged, sizeof unchanged);
                break;
            }
            case DragFollow:
                polygon->points[i] = dragPosition(view, drag, gesture);
                break;
            case DragEnd:
                ended = 1;
                break;
            case DragNone:
                break;
        }
    }
    return ended;
}

// A polygon's outline (a closed one from 3 points on) and, with a drag record (editable), its vertex
// discs.
void drawPolygon(const Vec2* points, i32 count, const MapEditDrag* drag, Color color, const MapView* view, UiState* ui,
                 f32 depth) {
    f32 thickness = waypointMarkerWidth(ui) * 0.1f;
    const Rect& clip = view->clipRect;
    for (i32 i = 0; i + 1 < count || (count >= 3 && i < count); ++i) {
        Vec2F32 a = toWindow(view, points[i]);
        Vec2F32 b = toWindow(view, points[(i + 1) % count]);
        drawOutlinedLine(a, b, depth, clip, color, thickness, ui);
    }
    if (!drag) return;
    for (i32 i = 0; i < count; ++i) {
        Vec2F32 at = toWindow(view, points[i]);
        u32 dragged = drag->active && drag->element == (u32)i;
        drawVertexDisc(at, depth + 0.0003f, clip, dragged ? kPathWhite : color, ui);
    }
}

// The waypoint path (orange where the segment drops ignition spheres) and the markers; editable adds
// the insert handles after the locked waypoints and the selected waypoint's colour and delete handle.
void drawWaypointPath(const Waypoint* waypoints, i32 count, i32 locked, u32 selectedId, u32 editable,
                      const MapView* view, UiState* ui, f32 depth) {
    f32 width = waypointMarkerWidth(ui);
    f32 deleteRadius = width * 0.3f;
    const Rect& clip = view->clipRect;
    f32 thickness = width * 0.1f;
    for (i32 i = 1; i < count; ++i) {
        const Waypoint* a = &waypoints[i - 1];
        const Waypoint* b = &waypoints[i];
        Color color = b->ignitePreviousSegment ? kIgniteOrange : kPathWhite;
        drawOutlinedLine(toWindow(view, Vec2{a->x, a->y}), toWindow(view, Vec2{b->x, b->y}), depth, clip, color,
                         thickness, ui);
        if (editable && i >= locked) {
            Vec2 middle = {(a->x + wrapNear(b->x, a->x)) / 2, (a->y + b->y) / 2};
            drawIconAt(toWindow(view, middle), depth + 0.0002f, 8, 0, width * 0.6f, clip, ImageKindAsset,
                       AssetAddWaypoint, &ui->batches.textured2d, ui);
        }
    }
    for (i32 i = 0; i < count; ++i) {
        const Waypoint* w = &waypoints[i];
        u32 selected = editable && w->id == selectedId;
        drawIconAt(toWindow(view, Vec2{w->x, w->y}), depth + (selected ? 0.0004f : 0.0003f), 1, 0, width, clip,
                   ImageKindAsset, selected ? AssetYellowMarker : AssetBlueMarker, &ui->batches.textured2d, ui);
        if (selected && i >= locked) {
            Vec2F32 centre = deleteHandleCentre(toWindow(view, Vec2{w->x, w->y}), width);
            addRoundedRect(boxAround(centre, deleteRadius, deleteRadius), depth + 0.0005f, clip, 2, deleteRadius,
                           kDeleteRed, kPathWhite, &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
            f32 arm = deleteRadius * 0.45f;
            addLine(Vec2F32{centre.x - arm, centre.y - arm}, Vec2F32{centre.x + arm, centre.y + arm}, depth + 0.0006f,
                    clip, kPathWhite, thickness, &ui->batches.line2d);
            addLine(Vec2F32{centre.x - arm, centre.y + arm}, Vec2F32{centre.x + arm, centre.y - arm}, depth + 0.0006f,
                    clip, kPathWhite, thickness, &ui->batches.line2d);
        }
    }
}

i32 clampCount(i32 count, i32 capacity) { return count < 0 ? 0 : count > capacity ? capacity : count; }

}  // namespace

f32 waypointMarkerWidth(const UiState* ui) { return screenLineHeight(ui); }

void drawWaypointMission(WaypointMissionEditor* editor, MapView* view, UiState* ui, ScreenStack* stack,
                         Preferences* preferences, const ElevationMapLoader* elevation, u32 editable, f32 depth) {
    (void)preferences;
    (void)elevation;
    f32 width = waypointMarkerWidth(ui);
    f32 deleteRadius = width * 0.3f;
    MapEditDrag* drag = &editor->drag;
    if (drag->active && (!editable || findWaypoint(editor, drag->element) < lockedWaypointCount(editor))) {
        drag->active = 0;
    }

    if (editable) {
        i32 locked = lockedWaypointCount(editor);
        // The delete handle of the selected waypoint comes first: it lies over the markers.
        i32 selected = findWaypoint(editor, editor->selectedWaypointId);
        if (selected >= locked && selected >= 0) {
            const Waypoint* w = &editor->waypoints[selected];
            Vec2F32 centre = deleteHandleCentre(toWindow(view, Vec2{w->x, w->y}), width);
            HandleGesture gesture =
                trackHandle(boxAround(centre, deleteRadius, deleteRadius), view, stack, handleId(HandleDelete, w->id));
            DeleteWaypointPayload remove = {w->id};
            if (gesture.tapped && runNewEdit(&editor->history, deleteWaypointAction, &remove, sizeof remove).ok) {
                editor->selectedWaypointId = 0;
            }
        }
        // Markers, the topmost (last drawn) first.
        i32 count = clampCount(editor->waypointCount, kMaxWaypoints);
        for (i32 i = count - 1; i >= locked; --i) {
            Waypoint* w = &editor->waypoints[i];
            Vec2F32 at = toWindow(view, Vec2{w->x, w->y});
            Rect box = {at.x - width / 2, at.x + width / 2, at.y, at.y + width};
            HandleGesture gesture = trackHandle(box, view, stack, handleId(HandleWaypoint, w->id));
            if (gesture.tapped) editor->selectedWaypointId = w->id;
            switch (dragStep(drag, w->id, at, gesture)) {
                case DragStart: {
                    editor->selectedWaypointId = w->id;
                    MoveWaypointPayload unchanged = {w->x, w->y, w->altitude, w->id, 0};
                    runNewEdit(&editor->history, moveWaypointAction, &unchanged, sizeof unchanged);
                    break;
                }
                case DragFollow: {
                    Vec2 position = dragPosition(view, drag, gesture);
                    w->x = position.x;
                    w->y = position.y;
                    break;
                }
                default:
                    break;
            }
        }
        // Insert handles at the midpoints of the segments that end at an unlocked waypoint.
        for (i32 i = locked > 1 ? locked : 1; i < count; ++i) {
            const Waypoint* a = &editor->waypoints[i - 1];
            const Waypoint* b = &editor->waypoints[i];
            Vec2 middle = {wrapNear((a->x + wrapNear(b->x, a->x)) / 2, 0), (a->y + b->y) / 2};
            f32 half = width * 0.3f;
            HandleGesture gesture = trackHandle(boxAround(toWindow(view, middle), half, half), view, stack,
                                                handleId(HandleInsert, b->id));
            if (gesture.tapped && insertWaypoint(editor, i, middle.x, middle.y, (a->altitude + b->altitude) / 2)) {
                editor->selectedWaypointId = editor->waypoints[i].id;
                break;
            }
        }
    }

    // Drawing: the path, insert handles, markers, then the delete handle.
    drawWaypointPath(editor->waypoints, clampCount(editor->waypointCount, kMaxWaypoints), lockedWaypointCount(editor),
                     editor->selectedWaypointId, editable, view, ui, depth);
}

void editOrvikGeofence(OrvikGeofence* geofence, MapView* view, UiState* ui, ScreenStack* stack, u32 editable,
                       f32 depth) {
    i32 count = clampCount(geofence->pointCount, kMaxGeofencePoints);
    if (editable) {
        if (editVertices(geofence, count, moveGeofencePointAction, HandleGeofenceVertex, view, stack)) {
            logOrvikGeofence(geofence);
        }
    } else if (geofence->drag.active) {
        geofence->drag.active = 0;
        logOrvikGeofence(geofence);
    }
    drawPolygon(geofence->points, count, editable ? &geofence->drag : nullptr, kGeofenceRed, view, ui, depth);
}

void drawTransectRegion(TransectRegion* region, MapView* view, UiState* ui, ScreenStack* stack, u32 editable,
                        f32 depth, const Preferences* preferences) {
    i32 count = clampCount(region->pointCount, kMaxTransectPoints);
    if (editable) {
        editVertices(region, count, moveTransectPointAction, HandleTransectVertex, view, stack);
    } else {
        region->drag.active = 0;
    }
    if (preferences) {
        // The lines Generate would fly, under the region's outline, with the region as it is now
        // (a vertex being dragged included).
        Vec2 ends[kMaxWaypoints / 2][2];
        i32 lines = transectLines(region, preferences, ends, kMaxWaypoints / 2);
        f32 thickness = waypointMarkerWidth(ui) * 0.06f;
        for (i32 l = 0; l < lines; ++l) {
            addLine(toWindow(view, ends[l][0]), toWindow(view, ends[l][1]), depth - 0.0002f, view->clipRect,
                    kTransectPreview, thickness, &ui->batches.line2d);
        }
    }
    drawPolygon(region->points, count, editable ? &region->drag : nullptr, kTransectCyan, view, ui, depth);
    // What the last Generate left uncovered, while the region is the one it was generated for.
    i32 uncovered = clampCount(region->uncoveredCount, kMaxUncoveredPoints);
    if (uncovered >= 3 && region->uncoveredKey == transectRegionKey(region)) {
        drawPolygon(region->uncovered, uncovered, nullptr, kUncoveredMagenta, view, ui, depth + 0.0001f);
    }
}

void drawMissionPlan(const MissionPlanView* plan, const MapView* view, UiState* ui, f32 waypointDepth,
                     f32 geofenceDepth, f32 transectDepth) {
    drawWaypointPath(plan->waypoints, plan->waypointCount, plan->waypointCount, 0, 0, view, ui, waypointDepth);
    drawPolygon(plan->geofencePoints, plan->geofencePointCount, nullptr, kGeofenceRed, view, ui, geofenceDepth);
    drawPolygon(plan->transectPoints, plan->transectPointCount, nullptr, kTransectCyan, view, ui, transectDepth);
}
