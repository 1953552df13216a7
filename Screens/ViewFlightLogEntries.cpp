// The entries list of the View Flight Log screen (open panel 38): every entry of the log in time
// order over the whole window, one row per entry with its time and title, a marker where the replay
// stands, and the details of one selected row under it. Row i lies at y = -i in the list's view
// (one row is one unit), shifted down by the selected row's details for the rows after it. Only the
// rows in view are visited, so a frame costs the same at the top of a log of a million entries as at
// its end.
#include <cmath>

#include "Core/Format.h"
#include "FlightLogs/FlightLogEntryText.h"
#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/UiMetrics.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

constexpr Color kBlack = 0xFF000000;
constexpr Color kOwnRowColour = 0xFFAAAAAA;
constexpr Color kScrollbarGrey = 0xFF505050;
constexpr f32 kRowDepth = 0.5f;
constexpr f32 kRowTextDepth = 0.55f;
constexpr f32 kMarkerDepth = 0.58f;
constexpr f32 kControlDepth = 0.7f;

bool isDatagram(u8 type) { return type >= FlightLogReceivedFromDrone && type <= FlightLogSentToCamera; }

struct ListFrame {
    ViewFlightLogState* state;
    const FlightLogIndex* index;
    const Preferences* units;
    MapView* view;
    UiState* ui;
    ScreenStack* stack;
    f32 textSize;   // the text unit in pixels
    f32 margin;     // a quarter text unit
    f32 rowPixels;  // one row on the screen
    f32 left, right;
    i32 choice;     // the selection after this frame's clicks
};

f32 yOf(const ListFrame* f, f64 rowY) { return mapViewWindowY(f->view, rowY); }

// The replay marker at a row's top edge: a black triangle pointing into the list and two lines.
void drawMarker(const ListFrame* f, f32 y) {
    f32 s = f->textSize * 0.4f;
    Rect clip = f->view->clipRect;
    addTriangleFromPoints(Vec2F32{f->left, y + s}, Vec2F32{f->left, y - s}, Vec2F32{f->left + 1.2f * s, y}, clip,
                          kMarkerDepth, kBlack, &f->ui->batches.colored2d);
    addLine(Vec2F32{f->left, y}, Vec2F32{f->right, y}, kMarkerDepth, clip, kBlack, 2, &f->ui->batches.line2d);
    addLine(Vec2F32{f->left, y + 1}, Vec2F32{f->left + 4 * f->textSize, y + 1}, kMarkerDepth, clip, kBlack, 2,
            &f->ui->batches.line2d);
}

// Lays out the details of the selected row under its bottom edge (pixels) and returns where the next
// row starts (pixels).
f32 drawDetails(const ListFrame* f, i64 entry, f32 rowBottom) {
    u8 buffer[kEntryDetailsCapacity];
    ByteWriter details = makeByteWriter(buffer, kEntryDetailsCapacity);
    u8 type = f->index->entryTypes[entry];
    const u8* payload = flightLogEntryPayload(f->index, entry);
    u16 length = flightLogEntryLength(f->index, entry);
    if (isDatagram(type)) {
        appendDatagramDetails(type, payload, length, f->units, &details);
    } else {
        appendFlightLogEntryDetails(type, payload, length, f->units, &details);
    }
    appendHexBytesSpaced(payload, length, &details);
    Rect box{f->left + f->margin, f->right - f->margin, rowBottom - 1e6f, rowBottom - f->margin};
    TextStyle style{kBlack, kNoOutline, kSelectionOrange, f->textSize, 0, 0};
    TextLayoutResult drawn = drawCharsInRect(f->ui, TextSlice{buffer, details.length}, AnchorTopLeft, kRowTextDepth,
                                             box, f->view->clipRect, style);
    f32 textBottom = drawn.bounds.y1 > drawn.bounds.y0 ? drawn.bounds.y0 : rowBottom - f->margin;
    return textBottom - 2 * f->margin;
}

// One row from its top (list units); returns its bottom (list units), details included.
f64 drawRow(ListFrame* f, i64 entry, f64 top) {
    const FlightLogIndex* index = f->index;
    bool selected = entry == f->state->selectedEntry;
    f32 y1 = yOf(f, top);
    f32 y0 = yOf(f, top - 1);
    f32 bottom = selected ? drawDetails(f, entry, y0) : y0;
    u8 type = index->entryTypes[entry];
    Color colour = isDatagram(type) ? datagramRowColour(type) : kOwnRowColour;
    Rect clip = f->view->clipRect;
    Rect background{f->left, f->right, bottom, y1};
    addRoundedRect(background, kRowDepth, clip, 1, f->margin, colour, colour, &f->ui->batches.coloredRect,
                   f->ui->halfWidth, f->ui->halfHeight);
    f32 thickness = 0.02f * f->textSize > 1 ? 0.02f * f->textSize : 1;
    addLine(Vec2F32{f->left, y1}, Vec2F32{f->right, y1}, kRowTextDepth, clip, kBlack, thickness, &f->ui->batches.line2d);

    TextStyle style{kBlack, kNoOutline, kSelectionOrange, f->textSize, 0, 0};
    i64 sinceStart = flightLogEntryTime(index, entry) - index->startTime;
    Rect timeBox{f->left + f->margin, f->left + 4 * f->textSize, y0, y1};
    drawTextInRectAt(f->ui, formatFixed("@ s", sinceStart, 3), AnchorLeftCentre, kRowTextDepth, timeBox, clip, style);
    Rect textArea{timeBox.x1 + 0.5f * f->textSize, f->right - f->margin, y0, y1};
    const u8* payload = flightLogEntryPayload(index, entry);
    u16 length = flightLogEntryLength(index, entry);
    if (isDatagram(type)) {
        drawDatagramRowText(type, payload, length, textArea, &clip, f->textSize, f->ui);
    } else {
        FixedString title = flightLogEntryTitle(type, payload, length);
        if (title.length) drawTextInRectAt(f->ui, title, AnchorLeftCentre, kRowTextDepth, textArea, clip, style);
    }

    Rect rowRect{f->left, f->right, y0, y1};
    if (buttonBehavior(&rowRect, f->view, f->stack) > 0xFFFFFFFFull) {
        f->choice = selected ? -1 : static_cast<i32>(entry);
    }
    if (!selected) return top - 1;
    return top - (y1 - bottom) / f->view->pixelsPerUnit;
}

// The two page buttons at the right edge, each an arrow of three lines.
void drawPageButtons(const ListFrame* f, f64 pageRows) {
    static const WidgetId kUpId = WIDGET_ID;
    static const WidgetId kDownId = WIDGET_ID;
    const Rect& screen = f->ui->screenRect;
    f32 size = 2.5f * f->textSize;
    f32 x1 = screen.x1 - 1.5f * f->textSize;
    f32 x0 = x1 - size;
    Rect up{x0, x1, screen.y1 - 2 * size, screen.y1 - size};
    Rect down{x0, x1, screen.y0 + size, screen.y0 + 2 * size};
    ButtonStyle style{};
    style.fill = 0xCC303030;
    style.pressedFill = 0xCC808080;
    style.cornerRadius = size / 4;
    for (i32 i = 0; i < 2; i++) {
        const Rect& r = i == 0 ? up : down;
        FixedString none{};
        ButtonResult pressed = buttonState(&none, &r, kControlDepth, &style, f->ui, f->stack, i == 0 ? &kUpId : &kDownId);
        f32 cx = (r.x0 + r.x1) / 2, cy = (r.y0 + r.y1) / 2, a = size * 0.3f;
        f32 tip = i == 0 ? a : -a;
        Vec2F32 head{cx, cy + tip}, tail{cx, cy - tip};
        Line2dBatch* lines = &f->ui->batches.line2d;
        addLine(tail, head, kControlDepth + 0.01f, screen, kTextWhite, 3, lines);
        addLine(head, Vec2F32{cx - a, cy + tip - (i == 0 ? a : -a)}, kControlDepth + 0.01f, screen, kTextWhite, 3, lines);
        addLine(head, Vec2F32{cx + a, cy + tip - (i == 0 ? a : -a)}, kControlDepth + 0.01f, screen, kTextWhite, 3, lines);
        if (pressed.clicked) {
            f64 shift = i == 0 ? pageRows : -pageRows;
            setMapCenterAndZoom(f->view, f->view->centreX, f->view->centreY + shift, f->view->zoom);
        }
    }
}

}  // namespace

void drawFlightLogEntries(ViewFlightLogState* state, const FlightLogIndex* index, const Preferences* units,
                          const UiMetrics* metrics, Platform* platform, ScreenStack* stack, UiState* ui,
                          ScreenResult* result) {
    if (result->back) {
        state->openPanel = ViewerPanelNone;
        result->back = 0;
    }
    ui->clearColor[0] = ui->clearColor[1] = ui->clearColor[2] = 0;
    f32 rowPixels = metrics->rowHeight > 0 ? metrics->rowHeight : 1;
    Rect screen = ui->screenRect;
    MapView* view = &state->entriesView;
    Box2 content{0, (screen.x1 - screen.x0) / rowPixels, state->entriesBottom, 0};
    updateMapView(view, &screen, content, ui, stack, platform, MapWheelScrolls);
    if (state->jumpToCursor) {
        state->selectedEntry = -1;
        setMapCenterAndZoom(view, 0, -static_cast<f64>(state->cursor), 1.0);
        state->jumpToCursor = 0;
    }
    f64 pageRows = std::floor((screen.y1 - screen.y0) / rowPixels);

    ListFrame f{};
    f.state = state;
    f.index = index;
    f.units = units;
    f.view = view;
    f.ui = ui;
    f.stack = stack;
    f.textSize = metrics->textHeight;
    f.margin = metrics->textHeight / 4;
    f.rowPixels = rowPixels;
    f.left = mapViewWindowX(view, 0);
    f.right = mapViewWindowX(view, content.maxX);
    if (state->selectedEntry >= index->entryCount) state->selectedEntry = -1;
    f.choice = state->selectedEntry;

    // The selected row is always laid out, so that the rows after it know how far its details reach.
    i64 selected = state->selectedEntry;
    f64 extra = 0;  // rows of the selected entry's details
    u32 drawn = 0;
    if (selected >= 0) {
        f64 bottom = drawRow(&f, selected, -static_cast<f64>(selected));
        extra = -static_cast<f64>(selected) - 1 - bottom;
        if (extra < 0) extra = 0;
        drawn++;
    }
    auto topOf = [&](i64 i) { return -static_cast<f64>(i) - (selected >= 0 && i > selected ? extra : 0); };
    auto startAt = [&](f64 y) {
        f64 row = std::floor(-y) - 1;
        return row < 0 ? static_cast<i64>(0) : row > static_cast<f64>(index->entryCount) ? index->entryCount
                                                                                          : static_cast<i64>(row);
    };
    i64 first = startAt(view->visibleYMax);
    if (selected >= 0 && first > selected) {
        first = startAt(view->visibleYMax + extra);
        if (first <= selected) first = selected + 1;
    }
    for (i64 i = first; i <= index->entryCount; i++) {
        f64 top = topOf(i);
        if (top - 1 > view->visibleYMax) continue;
        if (top < view->visibleYMin) break;
        if (i == state->cursor) drawMarker(&f, yOf(&f, top));
        if (i == index->entryCount) break;
        if (i == selected) continue;
        if (drawn >= kMaxEntryRowsPerFrame) break;
        drawRow(&f, i, top);
        drawn++;
    }

    drawPageButtons(&f, pageRows);
    drawViewScrollbar(7, kScrollbarGrey, kControlDepth, view, ui);
    f64 viewRows = (screen.y1 - screen.y0) / view->pixelsPerUnit;
    state->entriesBottom = -static_cast<f64>(index->entryCount) - extra - (viewRows - 1);
    state->selectedEntry = f.choice;
    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}
