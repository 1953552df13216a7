// The telemetry text under the top bar and the flight-action buttons with their confirmations.
#include <cmath>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/Hud.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Screen.h"

namespace {

constexpr f32 kTelemetryDepth = 0.93f;
constexpr f32 kActionDepth = 0.96f;
// The mapping kit's rangefinder report counts as fresh this long.
constexpr u64 kCountersFreshTime = 20000000;

FixedString altitudeOrDashes(f32 metres, const Preferences* preferences) {
    if (!std::isfinite(metres)) return makeString("---");
    return formatLength(metres, 1, preferences);
}

void appendField(ByteWriter* writer, const FixedString& text, u32* fields) {
    if (*fields) appendCString("   ", writer);
    appendFixedStringRef(&text, writer);
    (*fields)++;
}

}  // namespace

FixedString telemetryText(const Preferences* preferences, const DroneConnection* connection, u64 now, f32 agl,
                          f32 mslElevation, f32 mslTakeoff) {
    const VehicleState* vehicle = &connection->vehicle;
    bool position = vehicle->globalPosition.time != 0;
    return buildFixedString([&](ByteWriter* w) {
        u32 fields = 0;
        if (preferences->showHorizontalGroundSpeed) {
            f64 speed = std::hypot(vehicle->velocityNorth, vehicle->velocityEast);
            appendField(w, formatStr("H.Spd @", speedString(speed, preferences)), &fields);
        }
        if (preferences->showVerticalSpeed) {
            appendField(w, formatStr("V.Spd @", speedString(-vehicle->velocityDown, preferences)), &fields);
        }
        if (preferences->showLatLng && position) {
            appendField(w,
                        formatStrStr("@   @", latitudeString(vehicle->globalPosition.latitude, preferences),
                                     longitudeString(vehicle->globalPosition.longitude, preferences)),
                        &fields);
        }
        if (preferences->showDistanceFromHome) {
            FixedString distance = makeString("---");
            if (position && vehicle->home.time != 0) {
                GeoPoint a{vehicle->globalPosition.longitude, vehicle->globalPosition.latitude};
                GeoPoint b{vehicle->home.longitude, vehicle->home.latitude};
                distance = formatLength(std::sqrt(geoDistanceSquared(&a, &b)), 1, preferences);
            }
            appendField(w, formatStr("Dist @", distance), &fields);
        }
        FixedString relative = position ? formatLength(vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset,
                                                       1, preferences)
                                         : makeString("---");
        appendField(w, formatStrStr("Alt @ ATO / @ AGL", relative, altitudeOrDashes(agl, preferences)), &fields);
        if (preferences->showAltMslFromElevationMap) {
            appendField(w, formatStr("MSL @", altitudeOrDashes(mslElevation, preferences)), &fields);
        }
        if (preferences->showAltMslFromTakeoffElevation) {
            appendField(w, formatStr("MSL @ (takeoff)", altitudeOrDashes(mslTakeoff, preferences)), &fields);
        }
        const PayloadLink* payload = &connection->payload;
        bool countersFresh = payload->countersActiveTime != 0 && now < payload->countersActiveTime + kCountersFreshTime;
        bool thirdFresh = payload->thirdActiveTime != 0 && now < payload->thirdActiveTime + kCountersFreshTime;
        if (countersFresh) {
            appendCString("\n", w);
            fields = 0;
            appendField(w,
                        formatStrStr("Fwd @  Down @", formatLength(payload->value1 / 100.0, 0.1, preferences),
                                     formatLength(payload->value2 / 100.0, 0.1, preferences)),
                        &fields);
            if (thirdFresh) appendField(w, formatInt("Cam @", payload->value3), &fields);
        }
    });
}

void drawTelemetryText(Rect textArea, Color background, const Preferences* preferences,
                       const DroneConnection* connection, Platform* platform, ScreenStack* stack, UiState* ui,
                       Rect clip, u64 now, f32 agl, f32 mslElevation, f32 mslTakeoff) {
    (void)platform;
    (void)stack;
    FixedString text = telemetryText(preferences, connection, now, agl, mslElevation, mslTakeoff);
    f32 size = (textArea.y1 - textArea.y0);
    i32 lines = 1;
    for (i32 i = 0; i < text.length; i++) lines += text.text[i] == '\n';
    // The area holds two lines: the telemetry and the rangefinder's.
    f32 lineSize = size / 2;
    TextStyle style{kTextWhite, kNoOutline, 0xFFE36400, lineSize * 0.9f, 0, 0};
    f32 pad = lineSize * 0.2f;
    TextLayoutResult layout = drawTextAt(ui, text, AnchorTopRight, Vec2F32{textArea.x1 - pad, textArea.y1 - pad * 0.5f},
                                         kTelemetryDepth, clip, style);
    f32 width = layout.bounds.x1 - layout.bounds.x0 + 2 * pad;
    Rect box{textArea.x1 - width, textArea.x1, textArea.y1 - lines * lineSize, textArea.y1};
    if (box.x0 < textArea.x0) box.x0 = textArea.x0;
    addRoundedRect(box, kTelemetryDepth - 0.001f, clip, 0, pad, background, background, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
}

i32 flightActionCount(u32 autopilotKind) {
    if (autopilotKind == AutopilotPx4) return kPx4FlightActions;
    if (autopilotKind == AutopilotArduCopter) return kArduCopterFlightActions;
    return 0;
}

const char* flightActionName(u32 autopilotKind, i32 action) {
    if (action < 0 || action >= flightActionCount(autopilotKind)) return nullptr;
    return autopilotKind == AutopilotPx4 ? kPx4FlightActionNames[action] : kArduCopterFlightActionNames[action];
}

u32 requestFlightAction(DroneConnection* connection, i32 action) {
    u32 kind = connection->vehicle.autopilotKind;
    if (action < 0 || action >= flightActionCount(kind) || connection->relayControlled) return 0;
    if (kind == AutopilotPx4) {
        connection->px4.flightActions[action] = 1;
    } else {
        connection->arduCopter.flightActions[action] = 1;
    }
    return 1;
}

void drawFlightActionButtons(u32* openPanel, f32* usedHeight, Rect screen, f32 rowHeight, const ButtonStyle* style,
                             DroneConnection* connection, ScreenStack* stack, UiState* ui) {
    if (*openPanel != kPanelLinkQuality && *openPanel != kPanelFlightAction) return;
    u32 kind = connection->vehicle.autopilotKind;
    i32 count = flightActionCount(kind);
    f32 top = screen.y1 - *usedHeight;
    f32 width = screen.x1 - screen.x0;
    f32 gap = style->textPadding;
    if (connection->relayControlled && count > 0) {
        // A relay peer flies the drone: this station asks for nothing until its control ends.
        Rect row{screen.x0, screen.x1, top - rowHeight, top};
        FixedString owner = formatStr("Control lies with @", connection->relayControllerName);
        drawTextAt(ui, owner, AnchorCentre, Vec2F32{(row.x0 + row.x1) / 2, (row.y0 + row.y1) / 2}, kActionDepth, screen,
                   style->textStyle);
        if (*openPanel == kPanelFlightAction) *openPanel = kPanelLinkQuality;
        *usedHeight += rowHeight + gap;
        return;
    }
    if (*openPanel == kPanelFlightAction) {
        const char* name = flightActionName(kind, connection->pendingFlightAction);
        if (!name) {
            *openPanel = kPanelLinkQuality;
            return;
        }
        FixedString question = formatCstr("Are you sure you want to @?", name);
        Rect row{screen.x0 + width * 0.2f, screen.x1 - width * 0.2f, top - rowHeight, top};
        addRoundedRect(row, kActionDepth - 0.002f, screen, 0, 0, 0xC0000000, 0xC0000000, &ui->batches.coloredRect,
                       ui->halfWidth, ui->halfHeight);
        drawTextAt(ui, question, AnchorCentre, Vec2F32{(row.x0 + row.x1) / 2, (row.y0 + row.y1) / 2}, kActionDepth,
                   screen, style->textStyle);
        f32 buttonWidth = (row.x1 - row.x0 - gap) / 2;
        Rect cancel{row.x0, row.x0 + buttonWidth, top - 2 * rowHeight - gap, top - rowHeight - gap};
        Rect yes{cancel.x1 + gap, row.x1, cancel.y0, cancel.y1};
        WidgetId cancelId = WIDGET_ID;
        WidgetId yesId = WIDGET_ID;
        if (button(makeString("Cancel"), &cancel, &screen, kActionDepth, style, ui, stack, &cancelId).clicked) {
            *openPanel = kPanelLinkQuality;
        }
        ButtonStyle danger = *style;
        danger.fill = 0xFF2020B0;
        if (button(makeString("Yes"), &yes, &screen, kActionDepth, &danger, ui, stack, &yesId).clicked) {
            requestFlightAction(connection, connection->pendingFlightAction);
            *openPanel = 0;
        }
        *usedHeight += 2 * rowHeight + 2 * gap;
        return;
    }
    if (count == 0) {
        Rect row{screen.x0, screen.x1, top - rowHeight, top};
        drawTextAt(ui, makeString("No flight controller"), AnchorCentre, Vec2F32{(row.x0 + row.x1) / 2, (row.y0 + row.y1) / 2},
                   kActionDepth, screen, style->textStyle);
        *usedHeight += rowHeight + gap;
        return;
    }
    f32 buttonWidth = (width - gap * (f32)(count + 1)) / (f32)count;
    const WidgetId ids[kPx4FlightActions] = {WIDGET_ID, WIDGET_ID, WIDGET_ID, WIDGET_ID,
                                             WIDGET_ID, WIDGET_ID, WIDGET_ID};
    for (i32 i = 0; i < count; i++) {
        f32 x0 = screen.x0 + gap + (f32)i * (buttonWidth + gap);
        Rect cell{x0, x0 + buttonWidth, top - rowHeight, top};
        WidgetId id = ids[i];
        id.line = id.line * 16 + (u64)i;  // the seven ids share a line
        if (button(makeString(flightActionName(kind, i)), &cell, &screen, kActionDepth, style, ui, stack, &id).clicked) {
            connection->pendingFlightAction = i;
            *openPanel = kPanelFlightAction;
        }
    }
    *usedHeight += rowHeight + gap;
}
