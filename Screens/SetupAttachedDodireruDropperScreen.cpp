// The VOSK dropper on the bench: its status report, and under it the opening of channel A or B,
// each confirmed by a second press in the other cell of the row.
#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Drone/TarnwickPayloads/PayloadDevices.h"
#include "Screens/MainScreen.h"
#include "Screens/PayloadScreenCommon.h"
#include "Screens/PayloadSetupScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

constexpr Color kCaptionBlack = 0xFF000000;
constexpr f32 kControlDepth = 0.8f;

enum ConfirmStep : u32 {
    ConfirmNone = 0,
    ConfirmOpenA = 1,
    ConfirmOpenB = 2,
};

struct SetupAttachedDodireruDropperState {
    u32 initialised;
    MapView statusView;
    u32 confirmStep;  // ConfirmStep
};

}  // namespace

u32 isVoskReadyToOpen(const VoskPayloadState* vosk) {
    if (!vosk->dropAllowed) return 0;
    for (const VoskUnitStatus& unit : vosk->units) {
        if (unit.flying || unit.sbusArmed) return 0;
    }
    return 1;
}

u32 isVoskChannelOpenable(const VoskPayloadState* vosk, i32 channel) {
    i32 c = channel ? 1 : 0;
    return isVoskReadyToOpen(vosk) && (vosk->units[0].dropServo[c] == 0 || vosk->units[1].dropServo[c] == 0);
}

void setupAttachedDodireruDropperScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                        ScreenResult* result, void* scratch) {
    ProfilingScope scope("Setup Attached Vezarire Dropper Screen");
    (void)result;
    SetupAttachedDodireruDropperState* state = (SetupAttachedDodireruDropperState*)scratch;
    if (!state->initialised) {
        state->initialised = 1;
        state->statusView = makeScrollView(WIDGET_ID);
    }
    setClearColor(ui, kPayloadSetupBackground);
    const UiMetrics* m = &app->uiMetrics;
    VoskPayloadState* vosk = &app->droneConnection.payload.vosk;
    u64 now = stack->now;
    Rect screen = ui->screenRect;

    // The row of two buttons a line height above the bottom edge, right of the corner button.
    f32 L = m->buttonTextHeight, p = m->margin;
    Rect row{screen.x0 + stack->runner.reservedWidth + p, screen.x1 - p, screen.y0 + L, screen.y0 + L + m->rowHeight};
    LayoutCells cells = splitLayout(LayoutAlongX, nullptr, 2, p, &row);

    u32 openable[2] = {isVoskChannelOpenable(vosk, 0), isVoskChannelOpenable(vosk, 1)};
    if (state->confirmStep != ConfirmNone && !openable[state->confirmStep - 1]) state->confirmStep = ConfirmNone;

    const char* captions[2] = {"OPEN A", "OPEN B"};
    if (state->confirmStep == ConfirmOpenA) {
        captions[0] = "CANCEL";
        captions[1] = "CONFIRM OPEN A";
    } else if (state->confirmStep == ConfirmOpenB) {
        captions[0] = "CONFIRM OPEN B";
        captions[1] = "CANCEL";
    }
    static const WidgetId ids[2] = {
        WIDGET_ID,
        WIDGET_ID,
    };
    bool pressed[2] = {};
    for (i32 side = 0; side < 2; side++) {
        // An opening that may not be done shows its caption in black; its press is undone next frame.
        bool refused = state->confirmStep == ConfirmNone && !openable[side];
        ButtonStyle style = payloadSetupButtonStyle(m, refused ? kCaptionBlack : kTextWhite);
        pressed[side] = button(makeString(captions[side]), &cells.cells[side], &screen, kControlDepth, &style, ui, stack,
                               &ids[side])
                            .clicked;
    }
    if (state->confirmStep == ConfirmOpenA) {
        if (pressed[1]) raiseVoskRequest(vosk, VoskRequestOpenA, now);
        if (pressed[0] || pressed[1]) state->confirmStep = ConfirmNone;
    } else if (state->confirmStep == ConfirmOpenB) {
        if (pressed[0]) raiseVoskRequest(vosk, VoskRequestOpenB, now);
        if (pressed[0] || pressed[1]) state->confirmStep = ConfirmNone;
    } else if (pressed[0]) {
        state->confirmStep = ConfirmOpenA;
    } else if (pressed[1]) {
        state->confirmStep = ConfirmOpenB;
    }

    u8 bytes[1000];
    ByteWriter report = makeByteWriter(bytes, sizeof(bytes));
    appendVoskStatus(vosk, &report, now);
    drawStatusTextView(&state->statusView, Rect{screen.x0, screen.x1, row.y1 + p, screen.y1}, bytes, report.length,
                       platform, ui, stack);
}
