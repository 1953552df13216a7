// The fly screen's view passes: the map with all its layers (as main or mini view) and the video (as
// mini view here; as main view with the key pad and the HUD in FlyScreenVideo.cpp), the mini view's
// placement and drag, and the map taps that become waypoints.
#include <cmath>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Core/MathQuaternion.h"
#include "Core/Profiler.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "KmzEditor/KmzEditor.h"
#include "Map/ElevationDrawing.h"
#include "Map/TileMaps.h"
#include "Mission/MissionAltitudes.h"
#include "Mission/MissionMap.h"
#include "Overlays/RasterOverlayDrawing.h"
#include "Overlays/VectorOverlayDrawing.h"
#include "Platform/Platform.h"
#include "Screens/FlyScreenInternal.h"
#include "SourceCommon/Renderer/MapBatches.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr Color kMiniMapBackground = 0xFFE9EFF2;
constexpr Color kTrafficLowLine = 0xFF00FFFF;   // yellow
constexpr Color kTrafficHighLine = 0xFFFFFF00;  // cyan
constexpr u64 kTrafficNearHold = 240000000;
constexpr u64 kTrafficFarHold = 60000000;
constexpr f64 kTrafficNearDistance = 20000.0;
constexpr i32 kAssetPlaneCyan = 29;
constexpr i32 kAssetPlaneYellow = 30;
constexpr i32 kAssetRedArrow = 69;     // then the 3-, 4- and 6-circle ones
constexpr i32 kAssetYellowArrow = 73;  // likewise
constexpr i32 kAssetArrowShadow = 77;  // likewise
constexpr i32 kAssetHelipad = 81;

// Layer offsets over the map's base depth.
constexpr f32 kReplayScaleBarOffset = 0.045f;  // the flight-log viewer's, over all its map layers
constexpr f32 kTapInfoOffset = 0.013f;
constexpr f32 kScaleBarOffset = 0.012f;
constexpr f32 kDroneOffset = 0.011f;
constexpr f32 kTrafficOffset = 0.010f;
constexpr f32 kWaypointOffset = 0.009f;
constexpr f32 kGeofenceOffset = 0.008f;
constexpr f32 kTransectOffset = 0.007f;
constexpr f32 kDropOffset = 0.006f;
constexpr f32 kHomeOffset = 0.005f;
constexpr f32 kKmzOffset = 0.004f;
constexpr f32 kVectorOverlayOffset = 0.003f;
constexpr f32 kElevationOffset = 0.002f;
constexpr f32 kRasterOverlayOffset = 0.001f;
// The flight-log viewer keeps its vehicle over the traffic over the tap information.
constexpr f32 kReplayDroneOffset = 0.02f;
constexpr f32 kReplayTrafficOffset = 0.015f;
constexpr f32 kReplayTapInfoOffset = 0.01f;

Vec2 mercatorOf(f64 longitude, f64 latitude) {
    GeoPoint geo{longitude, latitude};
    Vec2 out;
    latLngToMercator(&out, &geo);
    return out;
}

// The link whose vehicle and traffic the map shows: the replay's in the flight-log viewer.
const DroneConnection* mapConnection(const FlyScreenFrame* f) {
    return f->replay ? &f->replay->connection : &f->app->droneConnection;
}

bool hasPosition(const VehicleState* vehicle) { return vehicle->globalPosition.time != 0; }

GeoPoint dronePoint(const VehicleState* vehicle) {
    return GeoPoint{vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                    vehicle->globalPosition.latitude + vehicle->latitudeOffset};
}

// The arrow's images: 0 plain, 1 three circles, 2 four circles, 3 six circles.
i32 arrowVariant(const VehicleState* vehicle) {
    u32 layout = vehicle->frameKind;
    if (vehicle->autopilotKind == AutopilotPx4) {
        // PX4 reports the MAV_TYPE itself; the layout follows the ArduCopter mapping.
        layout = layout == 2 ? 0 : layout == 15 ? 1 : layout == 13 ? 2 : layout;
    }
    if (layout == 0) return 0;
    if (layout == 1) return 1;
    if (layout == 2) return 3;
    return 2;
}

void drawDroneArrow(FlyScreenFrame* f, const MapView* view, f32 depth) {
    const VehicleState* vehicle = &mapConnection(f)->vehicle;
    UiState* ui = f->ui;
    Vec2F32 at = geoPointToScreen(view, dronePoint(vehicle));
    f32 half = 0.9f * f->metrics->buttonTextHeight;
    i32 variant = arrowVariant(vehicle);
    i32 image = (f->app->preferences.droneColor == DroneColorYellow ? kAssetYellowArrow : kAssetRedArrow) + variant;
    // The corners are body vectors in north-east-down axes, so the attitude is taken in those axes.
    // The shadow image is the arrow with its shadow drawn in: it takes the same corners, just below
    // the arrow, so pitch and roll turn both about the arrow's own axes at every heading.
    Quaternion attitude;
    quaternionFromNedEuler(&attitude, vehicle->roll, vehicle->pitch, vehicle->yaw);
    const f32 image2d[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};  // texture (0,1) (1,1) (1,0) (0,0)
    f32 arrow[4][3];
    for (i32 i = 0; i < 4; i++) {
        // Body axes: forward (the image's up), right, down; the map's x is east, y north, z up.
        Vec3 body{image2d[i][1] * half, image2d[i][0] * half, 0};
        Vec3 ned;
        rotateVectorByQuaternion(&ned, &body, &attitude);
        arrow[i][0] = (f32)ned.y;
        arrow[i][1] = (f32)ned.x;
        arrow[i][2] = (f32)-ned.z;
    }
    TexturedPerspectiveList* list = &ui->batches.texturedPerspective;
    f32 distance = 12 * half;
    if (list->count + 2 > kTexturedPerspectiveEntries) return;
    makePerspectiveQuad(&list->entries[list->count++], ImageKindAsset, (u32)image, 0, arrow[0], arrow[1], arrow[2],
                        arrow[3], view->clipRect, distance, ui->halfWidth, ui->halfHeight, at, depth);
    makePerspectiveQuad(&list->entries[list->count++], ImageKindAsset, (u32)(kAssetArrowShadow + variant), 0,
                        arrow[0], arrow[1], arrow[2], arrow[3], view->clipRect, distance, ui->halfWidth,
                        ui->halfHeight, at, depth - 0.0005f);
}

void drawTraffic(FlyScreenFrame* f, const MapView* view, f32 depth) {
    const DroneConnection* connection = mapConnection(f);
    const VehicleState* vehicle = &connection->vehicle;
    const Preferences* preferences = &f->app->preferences;
    UiState* ui = f->ui;
    f32 lineHeight = f->metrics->buttonTextHeight;
    bool knowDrone = hasPosition(vehicle);
    GeoPoint drone = dronePoint(vehicle);
    for (i32 i = 0; i < kAirTrafficSlots; i++) {
        if (!((connection->airTraffic.usedSlots >> i) & 1)) continue;
        const AirTrafficSlot* slot = &connection->airTraffic.slots[i];
        i64 ageUs = (i64)f->now - slot->lastContactTime;
        if (ageUs < 0) ageUs = 0;
        Vec2 reported{slot->x, slot->y};
        GeoPoint at;
        mercatorToLatLng(&at, &reported);
        f64 travelled = slot->horizontalSpeed * (f64)ageUs * 1e-6;
        f64 heading = slot->heading * kPi / 180.0;
        at.latitude += travelled * std::cos(heading) / metersPerDegreeLatitude(at.latitude);
        f64 perLongitude = metersPerDegreeLongitude(at.latitude);
        if (perLongitude > 1e-6) at.longitude += travelled * std::sin(heading) / perLongitude;
        f64 distance = knowDrone ? std::sqrt(geoDistanceSquared(&drone, &at)) : -1;
        if (!isTrafficShown(distance, (u64)ageUs)) continue;
        bool low = isTrafficLow(slot->altitude, preferences);
        Vec2F32 p = geoPointToScreen(view, at);
        f32 length = 1.5f * lineHeight;
        Vec2F32 tip{p.x + (f32)std::sin(heading) * length, p.y + (f32)std::cos(heading) * length};
        addLine(p, tip, depth, view->clipRect, 0xFF000000, 0.12f * lineHeight, &ui->batches.line2d);
        addLine(p, tip, depth + 0.0002f, view->clipRect, low ? kTrafficLowLine : kTrafficHighLine, 0.08f * lineHeight,
                &ui->batches.line2d);
        drawMapIcon(p, depth + 0.0004f, AnchorCentre, -slot->heading / 360.0, 1.8f * lineHeight, view->clipRect,
                    ImageKindAsset, low ? kAssetPlaneYellow : kAssetPlaneCyan, ui);
        FixedString label = trafficLabel(slot, preferences);
        TextStyle style{0xFF000000, 0xFFFFFFFF, kSelectionOrange, f->metrics->textHeight * 0.8f, 0.15f, 0};
        drawTextAt(ui, label, AnchorTopLeft, Vec2F32{p.x + 0.9f * lineHeight, p.y - 0.2f * lineHeight},
                   depth + 0.0006f, view->clipRect, style);
    }
}

void drawScaleBar(FlyScreenFrame* f, const MapView* view, f32 depth) {
    const VehicleState* vehicle = &mapConnection(f)->vehicle;
    f64 latitude;
    if (hasPosition(vehicle)) {
        latitude = dronePoint(vehicle).latitude;
    } else {
        latitude = screenPointToGeo(view, view->rectCentreX, view->rectCentreY).latitude;
    }
    f64 metresPerUnit = metersPerDegreeLongitude(latitude) * 360.0;
    if (view->pixelsPerUnit <= 0 || metresPerUnit <= 0) return;
    f64 metresPerPixel = metresPerUnit / view->pixelsPerUnit;
    f32 textSize = f->metrics->textHeight;
    f32 available = 0.4f * (view->rect.x1 - view->rect.x0);
    ScaleBar bar = flyScaleBar(metresPerPixel, textSize, available, f->app->preferences.units);
    if (bar.stepPixels <= 0) return;
    UiState* ui = f->ui;
    Vec2F32 centre{view->rect.x0 + f->metrics->margin + available / 2, view->rect.y0 + 2.5f * textSize};
    f32 thickness = 0.12f * textSize;
    f32 shortTick = 0.5f * textSize;
    i32 n = bar.stepsPerSide;
    addLine(Vec2F32{centre.x, centre.y}, Vec2F32{centre.x, centre.y + shortTick}, depth, view->clipRect, 0xFF000000,
            thickness, &ui->batches.line2d);
    for (i32 k = 1; k <= n; k++) {
        f32 tick = k == n ? textSize : shortTick;
        for (i32 side = -1; side <= 1; side += 2) {
            f32 x = centre.x + side * k * bar.stepPixels;
            addLine(Vec2F32{x, centre.y}, Vec2F32{x, centre.y + tick}, depth, view->clipRect, 0xFF000000, thickness,
                    &ui->batches.line2d);
        }
    }
    addLine(Vec2F32{centre.x - n * bar.stepPixels, centre.y}, Vec2F32{centre.x + n * bar.stepPixels, centre.y}, depth,
            view->clipRect, 0xFF000000, thickness, &ui->batches.line2d);
    TextStyle style{0xFF000000, 0xFFFFFFFF, kSelectionOrange, textSize, 0.15f, 0};
    drawTextAt(ui, bar.label, AnchorBottomCentre, Vec2F32{centre.x, centre.y + textSize * 1.1f}, depth, view->clipRect,
               style);
}

// The flight-log viewer's scale bar: centred one text size above the bottom of the map, at most half
// its width long, white over a black outline, its label on its centre. It lies below the side view's
// axis labels (whose plot stands three text sizes above its panel), which stay readable.
void drawReplayScaleBar(FlyScreenFrame* f, const MapView* view, f32 depth) {
    f32 textSize = f->metrics->textHeight;
    Vec2F32 centre{(view->rect.x0 + view->rect.x1) / 2, view->rect.y0 + textSize};
    f64 latitude = screenPointToGeo(view, centre.x, centre.y).latitude;
    f64 perDegree = metersPerDegreeLongitude(latitude);
    if (view->pixelsPerUnit <= 0 || !(perDegree > 0)) return;
    f64 metresPerPixel = perDegree * 360.0 / view->pixelsPerUnit;
    f32 width = view->rect.x1 - view->rect.x0;
    ScaleBar bar = flyScaleBar(metresPerPixel, textSize, width / 2, f->app->preferences.units);
    if (!(bar.stepPixels > 0)) return;
    i32 m = 1;
    while ((m + 1) * (f64)bar.stepPixels < width / 4 && m < 1000) m++;
    UiState* ui = f->ui;
    f32 half = 0.5f * textSize;
    Vec2F32 lines[64][2];
    i32 count = 0;
    lines[count][0] = Vec2F32{centre.x - m * bar.stepPixels, centre.y};
    lines[count++][1] = Vec2F32{centre.x + m * bar.stepPixels, centre.y};
    for (i32 k = -(m - 1); k <= m - 1 && count < 62; k++) {
        f32 x = centre.x + k * bar.stepPixels;
        lines[count][0] = Vec2F32{x, centre.y};
        lines[count++][1] = Vec2F32{x, centre.y + half};
    }
    for (i32 side = -1; side <= 1; side += 2) {
        f32 x = centre.x + side * m * bar.stepPixels;
        lines[count][0] = Vec2F32{x, centre.y - half};
        lines[count++][1] = Vec2F32{x, centre.y + half};
    }
    for (i32 i = 0; i < count; i++) {
        addLine(lines[i][0], lines[i][1], depth, view->clipRect, 0xFFFFFFFF, 3, &ui->batches.line2d);
        addLine(lines[i][0], lines[i][1], depth - 0.0002f, view->clipRect, 0xFF000000, 5, &ui->batches.line2d);
    }
    TextStyle style{0xFFFFFFFF, 0xFF000000, kSelectionOrange, textSize, 0.15f, 0};
    FixedString label = formatIntCstr("@ @", (i64)(2 * m) * bar.step, bar.unit);
    drawTextAt(ui, label, AnchorCentre, centre, depth + 0.0001f, view->clipRect, style);
}

void drawTapInfo(FlyScreenFrame* f, MapView* view, f32 depth) {
    FlyScreenState* s = f->state;
    const Preferences* preferences = &f->app->preferences;
    UiState* ui = f->ui;
    GeoPoint at;
    mercatorToLatLng(&at, &s->tapInfoPosition);
    FixedString text = flyTapInfoText(at, &f->app->elevationMapLoader, preferences);
    f32 textSize = f->metrics->textHeight;
    i32 lines = 1;
    for (i32 i = 0; i < text.length; ++i) lines += text.text[i] == '\n' ? 1 : 0;
    Vec2F32 point = mapPointToScreen(view, s->tapInfoPosition);
    f32 pad = f->metrics->margin;
    f32 width = 0.55f * textSize * 16 + 2 * pad;
    f32 height = lines * textSize * 1.2f + 2 * pad;
    f32 pointer = 0.6f * textSize;
    Rect box{point.x - width / 2, point.x + width / 2, point.y + pointer, point.y + pointer + height};
    addRoundedRect(box, depth, view->clipRect, 1.5f, pad, 0xFFFFFFFF, 0xFF000000, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    addTriangleFromPoints(Vec2F32{point.x - pointer, box.y0 + 1}, Vec2F32{point.x + pointer, box.y0 + 1}, point,
                          view->clipRect, depth + 0.0002f, 0xFF000000, &ui->batches.colored2d);
    addTriangleFromPoints(Vec2F32{point.x - pointer * 0.75f, box.y0 + 1.5f},
                          Vec2F32{point.x + pointer * 0.75f, box.y0 + 1.5f}, Vec2F32{point.x, point.y + 2.5f},
                          view->clipRect, depth + 0.0004f, 0xFFFFFFFF, &ui->batches.colored2d);
    TextStyle style{0xFF000000, kNoOutline, kSelectionOrange, textSize, 0, 0};
    drawTextAt(ui, text, AnchorCentre, Vec2F32{(box.x0 + box.x1) / 2, (box.y0 + box.y1) / 2}, depth + 0.0006f,
               view->clipRect, style);
    if (buttonBehavior(&box, view, f->stack) > 0xFFFFFFFFull) {
        s->showTapInfo = 0;
        f->tapInfoClosed = 1;
        f->tapInfoBox = box;
    }
}

// Everything drawn on the map, in the layer order of the depth offsets.
void drawMapLayers(FlyScreenFrame* f, MapView* view, f32 base, u32 miniView) {
    AppState* app = f->app;
    FlyScreenState* s = f->state;
    UiState* ui = f->ui;
    const VehicleState* vehicle = &mapConnection(f)->vehicle;
    Preferences* preferences = &app->preferences;
    f32 lineHeight = f->metrics->buttonTextHeight;

    if (!s->mapCenteredOnce && hasPosition(vehicle)) {
        GeoPoint drone = dronePoint(vehicle);
        Vec2 centre = mercatorOf(drone.longitude, drone.latitude);
        f64 perDegree = metersPerDegreeLongitude(drone.latitude);
        if (perDegree < 0) perDegree = 0;
        setMapCenterAndZoom(view, centre.x, centre.y, perDegree * 360.0 * lineHeight / 20.0);
        s->mapCenteredOnce = 1;
    }
    if (!(s->mapMinimized && f->videoAvailable)) {
        if (f->replay) {
            drawReplayScaleBar(f, view, base + kReplayScaleBarOffset);
        } else {
            drawScaleBar(f, view, base + kScaleBarOffset);
        }
    }
    if (hasPosition(vehicle)) drawDroneArrow(f, view, base + (f->replay ? kReplayDroneOffset : kDroneOffset));
    drawTraffic(f, view, base + (f->replay ? kReplayTrafficOffset : kTrafficOffset));
    if (s->showTapInfo) drawTapInfo(f, view, base + (f->replay ? kReplayTapInfoOffset : kTapInfoOffset));
    ScreenStack* stack = f->stack;
    u32 panel = s->openPanel;
    // The plan: the live one is edited with its toolbars open; a replay shows the plan it flew.
    if (f->replay) {
        MissionPlanView plan = replayedMissionPlan(&f->replay->mission, &f->replay->geofence);
        drawMissionPlan(&plan, view, ui, base + kWaypointOffset, base + kGeofenceOffset, base + kTransectOffset);
    } else {
        drawWaypointMission(&app->waypointMissionEditor, view, ui, stack, preferences, &app->elevationMapLoader,
                            panel == FlyPanelWaypoints ? 1 : 0, base + kWaypointOffset);
        editOrvikGeofence(&app->orvikGeofence, view, ui, stack, panel == FlyPanelGeofence ? 1 : 0,
                          base + kGeofenceOffset);
        drawTransectRegion(&app->transectRegion, view, ui, stack, panel == FlyPanelTransect ? 1 : 0,
                           base + kTransectOffset,
                           panel == FlyPanelTransect || panel == FlyPanelTransectSettings ? preferences : nullptr);
    }
    f32 dropIcon = 0.8f * lineHeight;
    drawVoskDropPoints(f->replay ? &f->replay->voskDrops : &app->dodireruDropLocations, dropIcon, base + kDropOffset,
                       view, ui);
    drawOrvikDropPoints(f->replay ? &f->replay->orvikDrops : &app->orvikDropLocations, dropIcon, base + kDropOffset,
                        view, ui);
    if (vehicle->home.time != 0) {
        GeoPoint home{vehicle->home.longitude + vehicle->longitudeOffset, vehicle->home.latitude + vehicle->latitudeOffset};
        drawMapIcon(geoPointToScreen(view, home), base + kHomeOffset, AnchorCentre, 0, 1.5f * lineHeight,
                    view->clipRect, ImageKindAsset, kAssetHelipad, ui);
    }
    // The drawing editor's items, editable while the drawing tools are open (not in the mini view).
    u32 drawing = !miniView && panel >= FlyPanelDrawFirst && panel <= FlyPanelDrawLast ? 1 : 0;
    updateKmzEditor(&app->kmzEditor, base + kKmzOffset, drawing, view, ui, stack, lineHeight);
    OverlaySelection overlays = overlaySelectionOf(preferences);
    drawVectorOverlay(&app->vectorOverlayLoader, view, ui, &overlays, base + kVectorOverlayOffset,
                      f->metrics->textHeight);
    if (!miniView && (preferences->showTopographicOverlay || preferences->showLowAltitudeOverlay)) {
        f32 danger = flyShadingThreshold(vehicle, f->homeGroundHeight, preferences->lowAltitudeWarning);
        drawElevationMaps(&app->elevationMapLoader, view, ui, preferences->showTopographicOverlay,
                          preferences->showLowAltitudeOverlay, preferences->units <= 1 ? 1 : 0, danger,
                          base + kElevationOffset);
    }
    drawRasterOverlay(&app->rasterOverlayLoader, view, ui, &overlays, base + kRasterOverlayOffset);
    drawTileMaps(view, ui, f->platform, preferences, &app->tileMaps, base, miniView);
}

}  // namespace

FixedString flyTapInfoText(GeoPoint at, const ElevationMapLoader* elevation, const Preferences* preferences) {
    f32 ground;
    {
        ProfilingScope scope("getElevation");
        ground = getElevation(elevation, at, kUnknownTapGround);
    }
    FixedString text = formatStrStr("@\n@", latitudeString(at.latitude, preferences),
                                    longitudeString(at.longitude, preferences));
    if (ground != kUnknownTapGround) {
        text = formatStrStr("@\n@", text, formatStr("@ MSL", formatLength(ground, 0.1, preferences)));
    }
    return text;
}

f32 flyShadingThreshold(const VehicleState* vehicle, f32 takeoffGround, f64 lowAltitudeWarning) {
    if (takeoffGround == kUnknownGround || takeoffGround == kUnknownTapGround) return kUnknownTapGround;
    f64 aboveTakeoff = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
    if (!std::isfinite(aboveTakeoff)) aboveTakeoff = 0;
    return (f32)((f64)takeoffGround + aboveTakeoff - lowAltitudeWarning);
}

bool isTrafficLow(f64 altitude, const Preferences* preferences) {
    return altitude <= preferences->adsbWarningCylinderAltitude;
}

FixedString trafficLabel(const AirTrafficSlot* slot, const Preferences* preferences) {
    FixedString altitude = formatLength(slot->altitude, 1, preferences);
    return slot->callsign[0] ? formatStrStr("@\n@", altitude, makeString(slot->callsign))
                             : formatStrStr("@@", altitude, formatHex("\nICAO: @", slot->icaoAddress, 6));
}

bool isTrafficShown(f64 distanceMetres, u64 ageMicroseconds) {
    bool near = distanceMetres >= 0 && distanceMetres <= kTrafficNearDistance;
    return ageMicroseconds < (near ? kTrafficNearHold : kTrafficFarHold);
}

ScaleBar flyScaleBar(f64 metresPerPixel, f32 textSize, f32 availableWidth, u32 units) {
    ScaleBar bar{};
    f64 length = 6.0 * textSize * metresPerPixel;
    const char* unit;
    f64 factor;
    if (units <= 1) {
        if (length < 0.5) {
            unit = "mm", factor = 1000.0;
        } else if (length < 500.0) {
            unit = "m", factor = 1.0;
        } else {
            unit = "km", factor = 0.001;
        }
    } else if (length < 0.1524) {
        unit = "in", factor = 39.37;
    } else if (length < 804.672) {
        unit = "ft", factor = 3.280839895;
    } else {
        unit = "mi", factor = 0.00062137119;
    }
    f64 inUnits = length * factor;
    f64 step = 1e9;
    for (f64 p = 1; p <= 1e9; p *= 10) {
        if ((p + 10 * p) / 2 >= inUnits) {
            step = p;
            break;
        }
    }
    if (!(metresPerPixel > 0) || !std::isfinite(metresPerPixel)) return bar;
    bar.stepPixels = (f32)(step / factor / metresPerPixel);
    i32 n = 0;
    while ((n + 1) * bar.stepPixels <= availableWidth / 2 && n < 1000) n++;
    if (n == 0) n = 1;
    bar.stepsPerSide = n;
    bar.step = (i64)step;
    bar.unit = unit;
    bar.label = formatIntCstr("@ @", (i64)(2 * n) * (i64)step, unit);
    return bar;
}

Rect flyMiniViewRect(const FlyScreenFrame* f) {
    f32 lineHeight = f->metrics->buttonTextHeight;
    Rect area{f->window.x0 + lineHeight, f->window.x1 - lineHeight, f->window.y0 + lineHeight, f->window.y1 - lineHeight};
    u32 corner = f->app->preferences.minimapCorner;
    if (corner > 8) corner = 0;
    return alignRect(8 * lineHeight, 8 * lineHeight, (i32)corner, &area);
}

void dragFlyMiniView(FlyScreenFrame* f, const PointerHit* hit) {
    FlyScreenState* s = f->state;
    const PointerSlot* pointers = f->stack->pointers ? f->stack->pointers : f->platform->pointers;
    i32 earliest = -1;
    for (i32 i = 0; i < kPointerSlots; i++) {
        if (!((hit->pointerMask >> i) & 1) || pointers[i].state == 0) continue;
        if (earliest < 0 || pointers[i].pressTime < pointers[earliest].pressTime) earliest = i;
    }
    if (earliest < 0) return;
    const PointerSlot* p = &pointers[earliest];
    f32 dx = p->x - p->pressX;
    f32 dy = p->y - p->pressY;
    if ((f64)(dx * dx + dy * dy) <= f->stack->dragThresholdSquared) return;  // not a drag yet
    s->miniPointerMask |= 1u << earliest;
    f32 centreX = (f->content.x0 + f->content.x1) / 2;
    f32 centreY = (f->content.y0 + f->barBottom) / 2;
    bool left = p->x < centreX;
    bool below = p->y < centreY;
    f->app->preferences.minimapCorner = left ? (below ? MinimapBottomLeft : MinimapTopLeft)
                                             : (below ? MinimapBottomRight : MinimapTopRight);
}

void drawFlyMapPass(FlyScreenFrame* f, u32 miniView, MapTaps* taps) {
    FlyScreenState* s = f->state;
    // The key pad hides the map only while the video is the main view.
    if (s->openPanel == FlyPanelKeyPad && miniView) return;
    MapView* view = &s->mapView;
    Box2 world{0, 0, -0.5, 0.5};
    if (miniView) {
        Rect box = flyMiniViewRect(f);
        updateMapView(view, &box, world, f->ui, f->stack, f->platform, MapWheelZooms);
        addRoundedRect(box, kMiniViewDepth - 0.0001f, f->window, 0, 0, kMiniMapBackground, kMiniMapBackground,
                       &f->ui->batches.coloredRectUnder, f->ui->halfWidth, f->ui->halfHeight);
        drawMapLayers(f, view, kMiniViewDepth, 1);
        WidgetId id{2515, "Screens/FlyScreen"};
        PointerHit hit = rectHitTest(&box, 1, f->stack, &id);
        if (hit.down) dragFlyMiniView(f, &hit);
        if (hit.clicked && !s->miniPointerMask) s->mapMinimized = 0;
        if (!hit.down) s->miniPointerMask = 0;
        taps->count = 0;
        return;
    }
    updateMapView(view, &f->window, world, f->ui, f->stack, f->platform, MapWheelZooms);
    drawMapLayers(f, view, kMainViewDepth, 0);
    handleMapPointers(taps, view, f->stack);
}

void addTappedWaypoint(FlyScreenFrame* f, Vec2 point) {
    AppState* app = f->app;
    WaypointMissionEditor* editor = &app->waypointMissionEditor;
    f64 ground;
    {
        ProfilingScope scope("getElevation");
        GeoPoint at;
        mercatorToLatLng(&at, &point);
        ground = getElevation(&app->elevationMapLoader, at, kUnknownTapGround);
    }
    f64 altitude = waypointSnapAltitude(&app->preferences, ground, editor->takeoffTerrainHeight);
    insertWaypoint(editor, editor->waypointCount, point.x, point.y, altitude);
}

void addKmzItemAtTap(FlyScreenFrame* f, Vec2 point) { addKmzItemAtPosition(&f->app->kmzEditor, point); }
