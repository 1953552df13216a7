// The payload rows of the fly screen's panel step. They drop down from the top bar, one under the
// other and each rowHeight high across the window, while the screen's panel selector holds a payload
// value: the Orvik toolbar (2 to 6) with its emergency-release confirmation (3), the automatic
// emergency-release countdown (4) and the drop-spacing editor (5); the strobe-light panel (16); the
// VOSK toolbar (8 to 14) with its confirmations (9 to 14). The rows only write wanted values, request
// counters, request times and the drop-spacing preference; the payload link sends.
#pragma once
#include "AppState/AppState.h"
#include "SourceCommon/UserInterface/Widgets.h"

// Values of the fly screen's panel selector that these rows read or set.
enum PayloadPanelValue : u32 {
    PayloadPanelNone = 0,
    PayloadPanelGeofence = 1,
    PayloadPanelOrvik = 2,
    PayloadPanelOrvikReleaseConfirm = 3,
    PayloadPanelOrvikCountdown = 4,
    PayloadPanelOrvikDropSpacing = 5,
    PayloadPanelOrvikLast = 6,
    PayloadPanelVosk = 8,
    PayloadPanelVoskSafeConfirm = 9,
    PayloadPanelVoskDropAConfirm = 10,
    PayloadPanelVoskDropBConfirm = 11,
    PayloadPanelVoskRun1Confirm = 12,
    PayloadPanelVoskRun3Confirm = 14,
    PayloadPanelStrobe = 16,
};

constexpr Color kOrvikStatusRed = 0xFF0000DD;
constexpr Color kOrvikStatusYellow = 0xFF00DDFF;
constexpr Color kPayloadDisabledGrey = 0xFF505050;

struct PayloadPanelFrame {
    UiState* ui;
    ScreenStack* stack;
    AppState* app;
    u32* openPanel;                // the fly screen's panel selector
    const WidgetId* editFieldId;   // the fly screen's one number field
    FixedString* editText;         // the text typed into it
    const ButtonStyle* buttonStyle;  // the fly screen's; null: a transparent one
    u64 now;                       // monotonic microseconds
};

// Draws the rows that *openPanel selects, in their order, the first one usedHeight pixels below the
// top of the window; returns the height used after them. A press acts on the frame it is reported.
f32 drawFlyScreenPayloadPanels(PayloadPanelFrame* frame, f32 usedHeight);

// The colour of the Orvik status text: red for the high states and the release and motor faults,
// yellow for the other faults, high states and a hot chute, else white.
Color orvikStatusColor(const OrvikPayloadState* orvik);
// The image asset of the payload battery for its voltage in tenths of a volt.
i32 orvikBatteryAsset(u8 tenthsOfVolt);
// The light's reported state as the panel shows it ("Auto Day - Strobe High", "Off", ...).
void appendStrobeStateText(const StrobeLight* light, ByteWriter* writer);
// The VOSK drop buttons' readiness: drops allowed, both units flying, SBUS armed and free of faults,
// and (for a channel, 0 A or 1 B) its safety and drop servos closed.
u32 isVoskReadyToDrop(const VoskPayloadState* vosk);
u32 isVoskChannelReadyToDrop(const VoskPayloadState* vosk, i32 channel);
