// The flight HUD and the top-bar indicators of a drone connection: battery, video signal, link
// quality, GPS, sensor health and the VOSK two-cell status; the telemetry text below the top bar; and
// the flight-action buttons with their confirmations. The fly screen, the flight-log viewer and the
// developer screens draw them over their own map or video.
//
// Every indicator is drawn into the bar's vertical extent right to left: it takes the bar's right
// cursor *xCursor, draws in the cell left of it and moves the cursor left by the cell's width. A press
// on an indicator changes the caller's open-panel value as stated with each one.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "SourceCommon/UserInterface/Widgets.h"

struct DroneConnection;
struct VehicleState;
struct VoskPayloadState;
struct VideoStreamStats;
struct Preferences;
struct Platform;
struct ScreenStack;
struct UiState;

// Open-panel values that the indicators and the flight-action buttons own.
constexpr u32 kPanelSignal = 17;
constexpr u32 kPanelLinkQuality = 19;
constexpr u32 kPanelFlightAction = 20;
constexpr u32 kPanelSensorHealth = 36;
constexpr u32 kPanelVoskFirst = 8;
constexpr u32 kPanelVoskLast = 14;

// The link counts as lost this long after the last message from the vehicle.
constexpr u64 kLinkLostTime = 3000000;
// The pitch circles show this long after the last gimbal command.
constexpr u64 kHudGimbalShowTime = 2000000;
// A status text stays on the HUD's bottom line this long after it came.
constexpr u64 kHudStatusTextTime = 5000000;

// The translucent black behind the top bar and the telemetry text.
constexpr Color kHudBackground = 0x77000000;

// The HUD's own state between frames.
struct Hud {
    u64 lastGimbalActivity;  // us of the last frame the gimbal was commanded
    u32 tapped;              // the HUD was tapped on its last frame
    u32 reserved;
};

// The flight HUD over the rectangle: the pitch circles of the camera (while the gimbal was moved in
// the last 2 s, always with "Always show HUD") and a bottom line with the vehicle's state text and,
// for 5 s after it came, its newest status text. Returns 1 on the frame the rectangle is clicked,
// which also raises the connection's hudInUse flag; else 0. stats may be null.
u32 drawHud(Hud* hud, Rect rect, const VideoStreamStats* stats, f32 lineHeight, DroneConnection* connection,
            const Preferences* preferences, ScreenStack* stack, UiState* ui);

// "@V" (one decimal) or "@%" by the "Show battery voltage" preference, with one of five battery
// images (80/60/40/20 % steps). A press toggles volts and percent and sets *openPanel to 0.
void drawBatteryIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                          const VehicleState* vehicle, Preferences* preferences, UiState* ui, ScreenStack* stack);
// The video stream's received share (0-100) as one of six bar images; no stream gives 0 bars. A press
// toggles *openPanel 17. stats may be null.
void drawSignalIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                         const VideoStreamStats* stats, UiState* ui, ScreenStack* stack, const Preferences* preferences);
// The drone link's received share as bars, or "DISCONNECTED" 3 s after the vehicle's last message. A
// press toggles *openPanel 19 (the flight-action row, drawFlightActionButtons).
// The indicators that time out take `now` on the connection's clock: the live one's, or a replay's.
void drawLinkQualityIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                              const DroneConnection* connection, UiState* ui, ScreenStack* stack,
                              const Preferences* preferences, u64 now);
// The GPS image with the fix text and the satellite count. A press sets *openPanel to 0.
void drawGpsIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                      const VehicleState* vehicle, ScreenStack* stack, UiState* ui, const Preferences* preferences);
// "DISCONNECTED" while the vehicle was not heard for 3 s, else "@ - @ Errors" with the state text
// and the number of unhealthy sensors. A press toggles *openPanel 36.
void drawSensorHealthIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                               const VehicleState* vehicle, UiState* ui, ScreenStack* stack, u64 now);
// The VOSK payload's two units as two cells, grey while a unit's status is stale. A press sets
// *openPanel to 8, or to 0 when it is 8 to 14.
void drawDualStatusIndicator(u32* openPanel, f32* xCursor, const Rect* bar, const ButtonStyle* style,
                             const VoskPayloadState* vosk, UiState* ui, ScreenStack* stack, u64 now);

// The sensor-health indicator's texts and the names of the SYS_STATUS sensor bits (bits 0 to 33; a
// bit without a name, and every bit from 34, gives null).
FixedString sensorHealthText(const VehicleState* vehicle, u64 now);
const char* sysStatusSensorName(i32 bit);

// The telemetry lines below the top bar, chosen by the six "Show ..." preferences in the "Units"
// preference; an altitude that cannot be formed (NaN) reads "---". agl is the height above ground,
// mslElevation the MSL altitude from the elevation data, mslTakeoff the one from the typed take-off
// elevation.
FixedString telemetryText(const Preferences* preferences, const DroneConnection* connection, u64 now, f32 agl,
                          f32 mslElevation, f32 mslTakeoff);
// Draws telemetryText right-aligned under the top bar on a rounded background of the given colour:
// textArea is where the lines go, two lines high (its top edge is the bar's bottom), clip the
// rectangle they are cut to.
void drawTelemetryText(Rect textArea, Color background, const Preferences* preferences,
                       const DroneConnection* connection, Platform* platform, ScreenStack* stack, UiState* ui,
                       Rect clip, u64 now, f32 agl, f32 mslElevation, f32 mslTakeoff);

// The flight actions of the followed vehicle's autopilot, in button order.
// PX4: "Reboot", "Takeoff", "Land", "Return", "Hover", "Disarm", "Emergency Disarm"; ArduCopter:
// "Return", "Hover", "Disarm", "Emergency Disarm"; none for an unknown autopilot.
i32 flightActionCount(u32 autopilotKind);
const char* flightActionName(u32 autopilotKind, i32 action);
// Sets the request of an action (PX4 or ArduCopter by the vehicle's autopilot); 0 when the action is
// not one of them, or while a relay peer controls the drone.
u32 requestFlightAction(DroneConnection* connection, i32 action);

// While *openPanel is 19 or 20: a row of the flight-action buttons of the vehicle's autopilot under
// the top bar, starting at screen.y1 - *usedHeight and moving *usedHeight down by what it drew. A
// press opens the confirmation (*openPanel 20) "Are you sure you want to @?" with "Cancel" (back to
// 19) and "Yes" (sets the request with requestFlightAction, *openPanel 0). While a relay peer controls
// the drone the row says "Control lies with <its name>" and takes no request.
void drawFlightActionButtons(u32* openPanel, f32* usedHeight, Rect screen, f32 rowHeight, const ButtonStyle* style,
                             DroneConnection* connection, ScreenStack* stack, UiState* ui);
