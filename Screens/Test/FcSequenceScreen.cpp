// The first 256 messages of the flight controller (system 1, component 1) since the last reset, with
// their MAVLink sequence numbers: a row whose number does not follow the row before it is red, so
// lost packets and interleaved senders with the same ids stand out.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr Color kOutOfSequenceRed = 0xFF0000DD;
constexpr u32 kNamedMessageIds = 420;

}  // namespace

FcSequenceRow fcSequenceRow(const u8* sequences, const u32* messageIds, i32 index) {
    FcSequenceRow row{};
    row.sequence = stringFromInt(sequences[index]);
    u32 id = messageIds[index];
    const char* name = id < kNamedMessageIds ? mavlinkMessageName(id) : nullptr;
    if (name && std::strcmp(name, "Unrecognized message") == 0) name = nullptr;
    row.message = formatCstrInt("@ (@)", name ? name : "Unrecognized Message", id);
    row.inSequence = index == 0 || sequences[index] == (u8)(sequences[index - 1] + 1);
    return row;
}

void fcSequenceScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                      void* scratch) {
    (void)result;
    ProfilingScope scope("FC Sequence Screen");
    setBackground(ui, kBlackBackground);
    FcSequenceState* state = (FcSequenceState*)scratch;
    MapView* view = &state->view;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeMapView(WidgetId{28, __FILE__}, MapViewModeMap);
    }
    MavlinkTrafficStats* traffic = &app->droneConnection.traffic[TrafficDroneLink];
    Rect content = ui->screenRect;
    f32 unit = screenLineHeight(ui), padding = unit / 8;
    TextStyle textStyle{kTextWhite, kNoOutline, kSelectionOrange, 0.7f * unit, 0, 0};

    // The bar: "Reset" and the rate at which the drone's bytes arrive.
    Rect resetRect{content.x0 + padding, content.x0 + padding + 10 * unit, content.y1 - padding - 2 * unit,
                   content.y1 - padding};
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, 0.9f * unit, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = padding;
    style.cornerRadius = padding;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    WidgetId resetId{31, __FILE__};
    if (button(makeString("Reset"), &resetRect, &content, 0.5f, &style, ui, stack, &resetId).clicked) {
        traffic->fcSequenceCount = 0;
    }
    FixedString rate = formatInt("@ bytes/s", app->droneSocket.peers[0].rates[0]);
    drawTextAt(ui, rate, AnchorLeftCentre, Vec2F32{resetRect.x1 + 2 * padding, (resetRect.y0 + resetRect.y1) / 2},
               0.5f, content, textStyle);

    Rect list{content.x0, content.x1, content.y0, resetRect.y0 - padding};
    i32 count = traffic->fcSequenceCount < 0 ? 0 : traffic->fcSequenceCount > kFcSequenceEntries
                                                        ? kFcSequenceEntries
                                                        : traffic->fcSequenceCount;
    f64 rowHeight = unit + padding;
    f64 height = count * rowHeight > list.y1 - list.y0 ? count * rowHeight : list.y1 - list.y0;
    updateMapView(view, &list, Box2{0, (f64)(list.x1 - list.x0), -height, 0}, ui, stack, platform, MapWheelScrolls);
    f32 columnWidth = (list.x1 - list.x0 - 3 * padding) / 2;
    for (i32 i = 0; i < count; i++) {
        f32 top = mapViewWindowY(view, -i * rowHeight);
        f32 bottom = top - (f32)(rowHeight * view->pixelsPerUnit);
        if (top < list.y0 || bottom > list.y1) continue;
        FcSequenceRow row = fcSequenceRow(traffic->fcSequence, traffic->fcMessageId, i);
        TextStyle rowStyle = textStyle;
        if (!row.inSequence) rowStyle.markColor = kOutOfSequenceRed;
        f32 middle = (top + bottom) / 2;
        f32 left = mapViewWindowX(view, 0);
        drawTextAt(ui, row.sequence, AnchorLeftCentre, Vec2F32{left, middle}, 0.5f, view->clipRect, rowStyle);
        drawTextAt(ui, row.message, AnchorLeftCentre, Vec2F32{left + columnWidth + 3 * padding, middle}, 0.5f,
                   view->clipRect, rowStyle);
    }
    drawViewScrollbar(3, 0xFFC0C0C0, 0.5f, view, ui);
    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}
