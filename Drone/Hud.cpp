#include "Drone/Hud.h"

#include <cmath>

#include "Core/Format.h"
#include "Core/MathQuaternion.h"
#include "Drone/DroneConnection.h"
#include "SourceCommon/Renderer/Icons.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "Video/VideoStreamStats.h"

namespace {

constexpr f32 kIndicatorDepth = 0.95f;
constexpr f32 kHudDepth = 0.5f;
constexpr f64 kPi = 3.14159265358979323846;

const char* const kSensorNames[34] = {
    "Gyro Error",
    "Accelerometer Error",
    "Magnetometer Error",
    "Absolute Pressure Sensor Error",
    "Differential Pressure Sensor Error",
    "GPS Error",
    "Optical Flow Sensor Error",
    "Computer Vision Position Sensor Error",
    "Laser Based Position Sensor Error",
    "External Ground Truth (Vicon or Leica) Sensor Error",
    "Angular Rate Control Sensor Error",
    "Attitude Stabilization Sensor Error",
    "Yaw Position Error",
    "Z/Altitude Control Error",
    "X/Y Position Control Error",
    "Motor Outputs Control Error",
    "RC Receiver Error",
    "2nd Gyro Error",
    "2nd Accelerometer Error",
    "2nd Magnetometer Error",
    "Geofence Error",
    "AHRS Subsystem Error",
    "Terrain Subsystem Error",
    "Motors are reversed",
    "Logging Error",
    "Battery Error",
    "Proximity Sensor Error",
    "Satellite Communication Error",
    "Prearm Check Failure",
    "Obstacle Avoidance Sensor Error",
    "Propulsion Sensor Error",
    nullptr,
    "Recovery System Error",
    "Open Drone ID System Error",
};

const char* const kFixNames[9] = {"No GPS", "No Fix", "2D Fix", "3D Fix", "DGPS", "RTK Float", "RTK Fixed", "Static",
                                  "PPP"};

f32 barHeightOf(const Rect* bar) { return bar->y1 - bar->y0; }

// The cell left of the cursor, width wide; moves the cursor.
Rect takeCell(f32* xCursor, f32 width, const Rect* bar) {
    Rect cell{*xCursor - width, *xCursor, bar->y0, bar->y1};
    *xCursor -= width;
    return cell;
}

TextStyle indicatorText(const ButtonStyle* style, Color colour) {
    TextStyle text = style->textStyle;
    text.markColor = colour;
    return text;
}

// A text and an image left of it in one cell ending at the cursor; the text is laid out first and
// the cell takes its width. Returns the press result.
PointerHit indicatorCell(f32* xCursor, const Rect* bar, const ButtonStyle* style, i32 asset, const FixedString& text,
                         Color colour, UiState* ui, ScreenStack* stack, const WidgetId* id) {
    f32 height = barHeightOf(bar);
    f32 pad = style->textPadding;
    f32 left = *xCursor - pad;
    if (text.length) {
        TextLayoutResult layout = drawTextAt(ui, text, AnchorRightCentre, Vec2F32{left, (bar->y0 + bar->y1) / 2},
                                             kIndicatorDepth, *bar, indicatorText(style, colour));
        f32 width = layout.bounds.x1 > layout.bounds.x0 ? layout.bounds.x1 - layout.bounds.x0 : 0.6f * style->textStyle.size * text.length;
        left -= width + pad;
    }
    if (asset >= 0) {
        f32 iconWidth = height * 0.8f;
        Rect icon{left - iconWidth, left, bar->y0 + height * 0.1f, bar->y1 - height * 0.1f};
        drawIconInRect(&icon, bar, kIndicatorDepth, AnchorCentre, IconKindAsset, asset, &ui->batches.textured2d, ui);
        left -= iconWidth;
    }
    Rect cell{left - pad, *xCursor, bar->y0, bar->y1};
    *xCursor = cell.x0;
    return rectHitTest(&cell, 1, stack, id);
}

void togglePanel(u32* openPanel, u32 value) { *openPanel = *openPanel == value ? 0 : value; }

}  // namespace

const char* sysStatusSensorName(i32 bit) { return bit >= 0 && bit < 34 ? kSensorNames[bit] : nullptr; }

FixedString sensorHealthText(const VehicleState* vehicle, u64 now) {
    if (vehicle->lastHeardTime == 0 || now > vehicle->lastHeardTime + kLinkLostTime) return makeString("DISCONNECTED");
    u64 faults = vehicle->sensorsPresent & vehicle->sensorsEnabled & ~vehicle->sensorsHealthy;
    i64 count = 0;
    for (i32 i = 0; i < 64; i++) count += (faults >> i) & 1;
    return formatStrInt("@ - @ Errors", vehicle->stateText, count);
}

u32 drawHud(Hud* hud, Rect rect, const VideoStreamStats* stats, f32 lineHeight, DroneConnection* connection,
            const Preferences* preferences, ScreenStack* stack, UiState* ui) {
    (void)stats;
    u64 now = stack->now;
    const VehicleState* vehicle = &connection->vehicle;
    if (connection->gimbalCommandActive || connection->gimbalPitchRate != 0 || connection->gimbalYawRate != 0) {
        hud->lastGimbalActivity = now;
    }
    bool showCircles = preferences->alwaysShowHud ||
                       (hud->lastGimbalActivity != 0 && now < hud->lastGimbalActivity + kHudGimbalShowTime);
    Vec2F32 centre{(rect.x0 + rect.x1) / 2, (rect.y0 + rect.y1) / 2};
    if (showCircles) {
        // Rings of constant camera pitch (0, -30, -60 and -90 degrees) seen through the camera: the
        // ring's height in the picture follows the gimbal's pitch and the vertical field of view.
        EulerAngles euler;
        quaternionToEuler(&euler, &connection->gimbalPointing.attitude);
        f64 tangent = connection->cameraView.verticalTangent > 0 ? connection->cameraView.verticalTangent : 0.5;
        f32 halfHeight = (rect.y1 - rect.y0) / 2;
        for (i32 ring = 0; ring < 4; ring++) {
            f64 angle = -ring * kPi / 6 - euler.pitch;
            if (std::fabs(angle) >= kPi / 2) continue;
            f32 y = centre.y + (f32)(std::tan(angle) / tangent) * halfHeight;
            if (y < rect.y0 || y > rect.y1) continue;
            f32 halfWidth = (rect.x1 - rect.x0) * (0.2f + 0.05f * ring);
            addLine(Vec2F32{centre.x - halfWidth, y}, Vec2F32{centre.x + halfWidth, y}, kHudDepth, rect, 0xC0FFFFFF,
                    0.08f * lineHeight, &ui->batches.line2d);
            FixedString label = formatInt("@", -30 * ring);
            TextStyle style{kTextWhite, 0xFF000000, kSelectionOrange, lineHeight * 0.7f, 0.12f, 0};
            drawTextAt(ui, label, AnchorLeftCentre, Vec2F32{centre.x + halfWidth + lineHeight * 0.2f, y}, kHudDepth,
                       rect, style);
        }
    }
    // Bottom line: the state text and, for a while, the newest status text.
    FixedString line = vehicle->stateText;
    const StatusTextEntry* newest = newestStatusText(vehicle);
    if (newest && now < newest->time + kHudStatusTextTime) {
        line = line.length ? formatStrCstr("@   @", line, newest->text) : makeString(newest->text);
    }
    if (line.length) {
        TextStyle style{kTextWhite, 0xFF000000, kSelectionOrange, lineHeight * 0.8f, 0.15f, 0};
        drawTextAt(ui, line, AnchorBottomCentre, Vec2F32{centre.x, rect.y0 + lineHeight * 0.5f}, kHudDepth, rect,
                   style);
    }
    WidgetId id = WIDGET_ID;
    PointerHit hit = rectHitTest(&rect, 0, stack, &id);
    hud->tapped = hit.clicked ? 1 : 0;
    if (hit.clicked || hit.down) connection->hudInUse = 1;
    return hud->tapped;
}

void drawBatteryIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                          const VehicleState* vehicle, Preferences* preferences, UiState* ui, ScreenStack* stack) {
    i32 percent = vehicle->batteryRemaining;
    i32 level = percent >= 80 ? 4 : percent >= 60 ? 3 : percent >= 40 ? 2 : percent >= 20 ? 1 : 0;
    FixedString text;
    if (preferences->showBatteryVoltage) {
        text = std::isfinite(vehicle->batteryVoltage)
                   ? formatFixed("@V", (i64)std::llround(vehicle->batteryVoltage * 10.0), 1)
                   : makeString("?V");
    } else {
        text = percent >= 0 ? formatInt("@%", percent) : makeString("?%");
    }
    WidgetId id = WIDGET_ID;
    PointerHit hit = indicatorCell(xCursor, bar, style, AssetBattery0 + level, text,
                                   level == 0 && percent >= 0 ? 0xFF3030FF : kTextWhite, ui, stack, &id);
    if (hit.clicked) {
        preferences->showBatteryVoltage = preferences->showBatteryVoltage ? 0 : 1;
        *openPanel = 0;
    }
}

void drawSignalIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                         const VideoStreamStats* stats, UiState* ui, ScreenStack* stack, const Preferences* preferences) {
    (void)preferences;
    i32 percent = stats ? stats->receivedPercent : 0;
    i32 bars = percent >= 100 ? 5 : percent / 20;
    if (bars > 5) bars = 5;
    WidgetId id = WIDGET_ID;
    FixedString none{};
    PointerHit hit = indicatorCell(xCursor, bar, style, AssetSignalBars0 + bars, none, kTextWhite, ui, stack, &id);
    if (hit.clicked) togglePanel(openPanel, kPanelSignal);
}

void drawLinkQualityIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                              const DroneConnection* connection, UiState* ui, ScreenStack* stack,
                              const Preferences* preferences, u64 now) {
    (void)preferences;
    u64 last = connection->lastDroneMessageTime;
    FixedString text;
    i32 asset = -1;
    if (last == 0 || now > last + kLinkLostTime) {
        text = makeString("DISCONNECTED");
    } else {
        const MavlinkTrafficStats* traffic = &connection->traffic[TrafficDroneLink];
        f64 received = traffic->messagesPerSecond;
        f64 total = received + traffic->lostPerSecond;
        i32 percent = total > 0 ? (i32)std::lround(100.0 * received / total) : 100;
        asset = AssetSignalBars0 + (percent >= 100 ? 5 : percent / 20);
        text = formatInt("@%", percent);
    }
    WidgetId id = WIDGET_ID;
    PointerHit hit = indicatorCell(xCursor, bar, style, asset, text, kTextWhite, ui, stack, &id);
    if (hit.clicked) *openPanel = *openPanel == kPanelLinkQuality || *openPanel == kPanelFlightAction ? 0 : kPanelLinkQuality;
}

void drawGpsIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                      const VehicleState* vehicle, ScreenStack* stack, UiState* ui, const Preferences* preferences) {
    (void)preferences;
    u32 fix = vehicle->gpsFixType;
    FixedString text = vehicle->gpsRawTime == 0 ? makeString("No GPS")
                                                : formatCstrInt("@ (@)", fix < 9 ? kFixNames[fix] : "Fix", vehicle->satellites);
    WidgetId id = WIDGET_ID;
    PointerHit hit =
        indicatorCell(xCursor, bar, style, AssetGps, text, fix >= 3 ? kTextWhite : 0xFF30A0FF, ui, stack, &id);
    if (hit.clicked) *openPanel = 0;
}

void drawSensorHealthIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                               const VehicleState* vehicle, UiState* ui, ScreenStack* stack, u64 now) {
    FixedString text = sensorHealthText(vehicle, now);
    u64 faults = vehicle->sensorsPresent & vehicle->sensorsEnabled & ~vehicle->sensorsHealthy;
    WidgetId id = WIDGET_ID;
    PointerHit hit = indicatorCell(xCursor, bar, style, -1, text, faults ? 0xFF3030FF : kTextWhite, ui, stack, &id);
    if (hit.clicked) togglePanel(openPanel, kPanelSensorHealth);
}

void drawDualStatusIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                             const VoskPayloadState* vosk, UiState* ui, ScreenStack* stack, u64 now) {
    f32 height = barHeightOf(bar);
    Rect cell = takeCell(xCursor, 2.2f * height, bar);
    for (i32 unit = 0; unit < 2; unit++) {
        const VoskUnitStatus* status = &vosk->units[unit];
        bool fresh = isPayloadStatusFresh(status->statusTime, now);
        Color fill = !fresh ? 0xFF404040 : status->faults ? 0xFF2020C0 : status->sbusArmed ? 0xFF20A0E0 : 0xFF20A020;
        f32 x0 = cell.x0 + unit * 1.1f * height + style->textPadding;
        Rect box{x0, x0 + height, cell.y0 + 0.1f * height, cell.y1 - 0.1f * height};
        addRoundedRect(box, kIndicatorDepth, cell, 1, 0.15f * height, fill, 0xFFFFFFFF, &ui->batches.coloredRect,
                       ui->halfWidth, ui->halfHeight);
        FixedString label = makeString(unit == 0 ? "1" : "2");
        drawTextAt(ui, label, AnchorCentre, Vec2F32{(box.x0 + box.x1) / 2, (box.y0 + box.y1) / 2},
                   kIndicatorDepth + 0.001f, cell, indicatorText(style, kTextWhite));
    }
    WidgetId id = WIDGET_ID;
    PointerHit hit = rectHitTest(&cell, 1, stack, &id);
    if (hit.clicked) *openPanel = *openPanel >= kPanelVoskFirst && *openPanel <= kPanelVoskLast ? 0 : kPanelVoskFirst;
}
