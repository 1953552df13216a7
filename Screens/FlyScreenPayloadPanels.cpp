#include "Screens/FlyScreenPayloadPanels.h"

#include "Core/Format.h"
#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "Drone/TarnwickPayloads/PayloadDevices.h"
#include "Screens/PayloadScreenCommon.h"
#include "SourceCommon/Renderer/ImageAssets.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Rows.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr i32 kGeofenceIconAsset = 24;  // "geofence_icon.png"
constexpr Color kRowBackground = 0xA0000000;
constexpr Color kButtonPressed = 0x80FFFFFF;
constexpr Color kNoFill = 0x00FFFFFF;
constexpr f32 kBackgroundDepth = 0.90f;
constexpr f32 kButtonDepth = 0.91f;
constexpr f32 kOutlineDepth = 0.92f;
constexpr f32 kCaptionDepth = 0.93f;
constexpr u64 kOrvikRedStatusBits = 0x1090000;  // puncture motion error, release triggered, auto release
constexpr u32 kOrvikRedState = 160;
constexpr u32 kOrvikYellowState = 96;
constexpr i8 kOrvikHotChute = 60;

// Where the rows of one frame go, and the sizes they are laid out in.
struct PanelLayout {
    PayloadPanelFrame* frame;
    Rect screen;
    f32 H;  // rowHeight
    f32 L;  // lineHeight
    f32 T;  // textSize
    f32 pad;
    f32 used;
};

// A row under the previous one; the cells of a toolbar are taken from its right end leftwards.
struct PanelRow {
    Rect rect;
    f32 right;  // the cursor of the cells taken from the right
};

PanelRow nextRow(PanelLayout* layout) {
    f32 top = layout->screen.y1 - layout->used;
    layout->used += layout->H;
    PanelRow row{Rect{layout->screen.x0, layout->screen.x1, top - layout->H, top}, layout->screen.x1};
    UiState* ui = layout->frame->ui;
    addRoundedRect(row.rect, kBackgroundDepth, layout->screen, 0, 0, kRowBackground, kRowBackground,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
    return row;
}

Rect takeFromRight(PanelRow* row, f32 width) {
    Rect cell{row->right - width, row->right, row->rect.y0, row->rect.y1};
    row->right -= width;
    return cell;
}

// The rest of a toolbar, from a line height right of the window's left edge.
Rect restOfRow(const PanelLayout* layout, const PanelRow* row) {
    return Rect{row->rect.x0 + layout->L, row->right, row->rect.y0, row->rect.y1};
}

TextStyle captionStyle(const PanelLayout* layout, Color colour, f32 scale, i32 lines) {
    f32 size = layout->L;
    if (lines > 1 && layout->H / (f32)lines < size) size = layout->H / (f32)lines;
    return TextStyle{colour, kNoOutline, kSelectionOrange, scale * size, 0, 0};
}

i32 lineCount(const char* text) {
    i32 lines = 1;
    for (const char* c = text; *c; c++) lines += *c == '\n';
    return lines;
}

// The width and height of a text laid out on one line per newline, in pixels.
Vec2F32 measureText(UiState* ui, const u8* text, i64 length, const TextStyle& style) {
    TextTarget measure = uiTextTarget(ui);
    measure.quads = nullptr;
    measure.highlights = nullptr;
    Rect unbounded{0, 1e6f, 0, 1e6f};
    TextLayoutResult block =
        addTextBox(TextSlice{text, length}, AnchorBottomLeft, 0, unbounded, unbounded, style, noTextCaret(), measure);
    return Vec2F32{block.bounds.x1 - block.bounds.x0, block.bounds.y1 - block.bounds.y0};
}

// The caption's style, its size made smaller where the cell is too narrow or too low for it. A
// caption of several words may rather wrap onto two lines, when that leaves it larger.
TextStyle fittedStyle(PanelLayout* layout, const FixedString& text, const Rect& cell, Color colour, f32 scale) {
    UiState* ui = layout->frame->ui;
    i32 lines = lineCount(text.text);
    TextStyle style = captionStyle(layout, colour, scale, lines);
    const u8* bytes = (const u8*)text.text;
    i64 length = fixedStringLength(&text);
    f32 room = 0.72f * (cell.x1 - cell.x0), height = cell.y1 - cell.y0;
    Vec2F32 size = measureText(ui, bytes, length, style);
    f32 single = style.size;
    if (size.x > room && size.x > 0) single *= room / size.x;
    if (lines > 1 && size.y > height && size.y > 0) single *= height / size.y;
    f32 best = single;
    if (lines == 1 && single < style.size) {
        TextStyle wrapped = style;
        wrapped.size = style.size < height / 2 ? style.size : height / 2;
        f32 widest = 0;
        for (i64 start = 0; start < length;) {
            i64 end = start;
            while (end < length && bytes[end] != ' ') end++;
            f32 word = measureText(ui, bytes + start, end - start, wrapped).x;
            if (word > widest) widest = word;
            start = end + 1;
        }
        f32 twoLines = widest > room && widest > 0 ? wrapped.size * room / widest : wrapped.size;
        if (widest > 0 && twoLines > best) best = twoLines;
    }
    style.size = best;
    return style;
}

void drawCaption(PanelLayout* layout, const FixedString& text, i32 anchor, const Rect& cell, Color colour, f32 scale) {
    drawLabelInRect(layout->frame->ui, text, anchor, kCaptionDepth, cell, fittedStyle(layout, text, cell, colour, scale));
}

// Long texts keep their size and are cut at the cell's end.
void drawLongText(PanelLayout* layout, const FixedString& text, const Rect& cell, Color colour) {
    TextStyle style = captionStyle(layout, colour, 0.92f, 1);
    drawTextCheckedAlt(layout->frame->ui, TextSlice{(const u8*)text.text, fixedStringLength(&text)}, AnchorLeftCentre,
                       kCaptionDepth, cell, style);
}

void drawOutline(PanelLayout* layout, const Rect& cell) {
    f32 inset = 0.05f * layout->T;
    Rect outline{cell.x0 + inset, cell.x1 - inset, cell.y0 + inset, cell.y1 - inset};
    UiState* ui = layout->frame->ui;
    addRoundedRect(outline, kOutlineDepth, layout->screen, 0.1f * layout->T, 0.2f * layout->T, kNoFill, kTextWhite,
                   &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
}

bool pressed(PanelLayout* layout, const Rect& cell, const WidgetId& id) {
    PayloadPanelFrame* frame = layout->frame;
    ButtonStyle style{};
    if (frame->buttonStyle) {
        style = *frame->buttonStyle;
    } else {
        style.textStyle = captionStyle(layout, kTextWhite, 0.92f, 1);
        style.anchor = AnchorCentre;
        style.textPadding = layout->pad;
        style.cornerRadius = 0.2f * layout->T;
        style.fill = kNoFill;
        style.pressedFill = kButtonPressed;
    }
    return button(FixedString{}, &cell, &layout->screen, kButtonDepth, &style, frame->ui, frame->stack, &id).clicked;
}

// A caption, its white outline, then a label-less button over the cell.
bool captionButton(PanelLayout* layout, const FixedString& caption, const Rect& cell, const WidgetId& id) {
    drawCaption(layout, caption, AnchorCentre, cell, kTextWhite, 0.92f);
    drawOutline(layout, cell);
    return pressed(layout, cell, id);
}

bool geofenceButton(PanelLayout* layout, const Rect& cell, const WidgetId& id) {
    f32 inset = 0.1f * layout->H;
    Rect icon{cell.x0, cell.x1, cell.y0 + inset, cell.y1 - inset};
    UiState* ui = layout->frame->ui;
    drawIconInRect(&icon, &layout->screen, kCaptionDepth, AnchorCentre, IconKindAsset, kGeofenceIconAsset,
                   &ui->batches.textured2d, ui);
    drawOutline(layout, cell);
    return pressed(layout, cell, id);
}

// The seven cells of a confirmation row: a line height, the question (6 parts), 1 part, the
// cancel button, 1 part, the confirm button, 1 part.
LayoutCells confirmationCells(const PanelLayout* layout, const PanelRow* row) {
    const f32 sizes[7] = {layout->L, -6, -1, 1.4f * layout->H, -1, 1.4f * layout->H, -1};
    return splitLayout(LayoutAlongX, sizes, 7, 0, &row->rect);
}

void setOpen(PayloadPanelFrame* frame, u32 value) { *frame->openPanel = value; }
u32 toggled(u32 current, u32 value, u32 back) { return current == value ? back : value; }

void openDropSpacingEditor(PayloadPanelFrame* frame) {
    setOpen(frame, PayloadPanelOrvikDropSpacing);
    *frame->editText = FixedString{};
    TextEditState* focus = &frame->stack->runner.textFocus;
    focus->focusedId = *frame->editFieldId;
    focus->selectingPointer = -1;
    focus->selectionAnchor = focus->caret = focus->caretBlinkStart = 0;
    focus->keyboardMode = TextKeyboardNumpad;
    focus->focusRenewed = 1;
}

void drawOrvikToolbar(PanelLayout* layout) {
    PayloadPanelFrame* frame = layout->frame;
    OrvikPayloadState* orvik = &frame->app->droneConnection.payload.orvik;
    Preferences* preferences = &frame->app->preferences;
    PanelRow row = nextRow(layout);
    f32 H = layout->H;

    Rect temperature = takeFromRight(&row, 1.4f * H);
    bool unknown = orvik->statusTime == 0 || orvik->chuteTemp == kOrvikTemperatureUnknown;
    FixedString degrees = unknown ? unknownTemperatureString(preferences) : temperatureString(orvik->chuteTemp, preferences);
    drawCaption(layout, degrees, AnchorCentre, temperature, kTextWhite, 0.92f);

    Rect volts = takeFromRight(&row, 0.8f * H);
    drawCaption(layout, formatFixed("@V", orvik->batteryVoltage, 1), AnchorCentre, volts, kTextWhite, 0.96f);

    Rect battery = takeFromRight(&row, 0.6f * H);
    Rect batteryIcon{battery.x0, battery.x1, battery.y0 + 0.1f * H, battery.y1 - 0.1f * H};
    drawIconInRect(&batteryIcon, &layout->screen, kCaptionDepth, AnchorCentre, IconKindAsset,
                   orvikBatteryAsset(orvik->batteryVoltage), &frame->ui->batches.textured2d, frame->ui);

    if (geofenceButton(layout, takeFromRight(&row, 1.4f * H), WIDGET_ID)) setOpen(frame, PayloadPanelGeofence);
    if (captionButton(layout, makeString("Emg. Release"), takeFromRight(&row, 1.4f * H), WIDGET_ID)) {
        setOpen(frame, toggled(*frame->openPanel, PayloadPanelOrvikReleaseConfirm, PayloadPanelOrvik));
    }
    if (captionButton(layout, makeString("Stop"), takeFromRight(&row, 1.4f * H), WIDGET_ID)) {
        raiseOrvikRequest(orvik, OrvikRequestStop, frame->now);
    }
    if (captionButton(layout, makeString("Start"), takeFromRight(&row, 1.4f * H), WIDGET_ID)) {
        orvik->wantedDropCount = kOrvikContinuousDrops;
        raiseOrvikRequest(orvik, OrvikRequestStart, frame->now);
    }
    FixedString spacing = formatLengthToTenth(preferences->orvikDropSpacing, preferences);
    if (captionButton(layout, spacing, takeFromRight(&row, 1.4f * H), WIDGET_ID)) {
        if (*frame->openPanel == PayloadPanelOrvikDropSpacing) {
            setOpen(frame, PayloadPanelOrvik);
        } else {
            openDropSpacingEditor(frame);
        }
    }
    drawLongText(layout, orvikStatusText(orvik, frame->now), restOfRow(layout, &row), orvikStatusColor(orvik));
}

void drawOrvikReleaseConfirmation(PanelLayout* layout) {
    PayloadPanelFrame* frame = layout->frame;
    PanelRow row = nextRow(layout);
    LayoutCells cells = confirmationCells(layout, &row);
    drawLongText(layout, makeString("Are you sure you want to emergency release?"), cells.cells[1], kTextWhite);
    if (captionButton(layout, makeString("Cancel"), cells.cells[3], WIDGET_ID)) setOpen(frame, PayloadPanelOrvik);
    if (captionButton(layout, makeString("Yes"), cells.cells[5], WIDGET_ID)) {
        // The row stays open: every further "Yes" asks again.
        raiseOrvikRequest(&frame->app->droneConnection.payload.orvik, OrvikRequestEmergencyRelease, frame->now);
    }
}

void drawOrvikReleaseCountdown(PanelLayout* layout) {
    PayloadPanelFrame* frame = layout->frame;
    OrvikPayloadState* orvik = &frame->app->droneConnection.payload.orvik;
    PanelRow row = nextRow(layout);
    LayoutCells cells = confirmationCells(layout, &row);
    i64 seconds = (orvik->autoReleaseDeadline - (i64)frame->now) / 1000000;
    drawLongText(layout, formatInt("Orvik will automatically Emg. Release in @ seconds", seconds), cells.cells[1],
                 kTextWhite);
    if (captionButton(layout, makeString("Cancel"), cells.cells[3], WIDGET_ID)) orvik->autoReleaseDeadline = -1;
    if (captionButton(layout, makeString("Emg. Release Now"), cells.cells[5], WIDGET_ID)) {
        orvik->autoReleaseDeadline = (i64)frame->now;
    }
}

void drawDropSpacingEditor(PanelLayout* layout) {
    PayloadPanelFrame* frame = layout->frame;
    Preferences* preferences = &frame->app->preferences;
    PanelRow row = nextRow(layout);
    Rect area{row.rect.x0 + layout->L, row.rect.x1 - layout->L, row.rect.y0, row.rect.y1};
    const f32 sizes[2] = {5 * layout->T, -1};
    LayoutCells cells = splitLayout(LayoutAlongX, sizes, 2, 0, &area);
    drawLongText(layout, makeString("Drop Spacing:"), cells.cells[0], kTextWhite);
    FixedString hint = formatLengthToTenth(preferences->orvikDropSpacing, preferences);
    TextStyle style = captionStyle(layout, kTextWhite, 0.92f, 1);
    TextEditResult edit = textField(frame->editText, &hint, AnchorLeftCentre, TextKeyboardNumpad, &cells.cells[1],
                                    &layout->screen, kCaptionDepth, &style, kPayloadDisabledGrey, frame->ui,
                                    frame->stack, &frame->stack->runner.textFocus, frame->editFieldId);
    if (edit.submitted) commitLengthEntry(frame->editText, preferences, &preferences->orvikDropSpacing);
    if (!edit.focused) setOpen(frame, PayloadPanelOrvik);
}

void drawStrobePanel(PanelLayout* layout) {
    PayloadPanelFrame* frame = layout->frame;
    StrobeLight* light = &frame->app->droneConnection.payload.light;
    PanelRow row = nextRow(layout);
    struct StrobeButton {
        const char* caption;
        u32 mode, brightness, pattern;  // brightness and pattern 0: unchanged
    };
    static const StrobeButton buttons[8] = {
        {"Auto\nNight", StrobeAutoNight, 0, 0},
        {"Auto\nDay", StrobeAutoDay, 0, 0},
        {"Rotate\nHigh", 1, StrobeHigh, StrobeRotate},
        {"Strobe\nHigh", 1, StrobeHigh, StrobeFlash},
        {"Strobe\nLow", 1, StrobeLow, StrobeFlash},
        {"On\nHigh", 1, StrobeHigh, StrobeOn},
        {"On\nLow", 1, StrobeLow, StrobeOn},
        {"Off", 1, StrobeOff, StrobeOn},
    };
    // One id per button, each from its own line.
    const WidgetId ids[8] = {
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
    };
    for (i32 i = 0; i < 8; i++) {
        const StrobeButton* b = &buttons[i];
        if (!captionButton(layout, makeString(b->caption), takeFromRight(&row, 1.6f * layout->H), ids[i])) continue;
        light->requestedMode = b->mode;
        if (b->brightness) {
            light->requestedBrightness = b->brightness;
            light->requestedPattern = b->pattern;
        }
        light->requestPending = 1;
    }
    u8 bytes[200];
    ByteWriter text = makeByteWriter(bytes, sizeof(bytes));
    appendStrobeStateText(light, &text);
    TextStyle style = captionStyle(layout, kTextWhite, 0.92f, 1);
    drawTextCheckedAlt(frame->ui, TextSlice{bytes, text.length}, AnchorLeftCentre, kCaptionDepth,
                       restOfRow(layout, &row), style);
}

void drawVoskToolbar(PanelLayout* layout) {
    PayloadPanelFrame* frame = layout->frame;
    const VoskPayloadState* vosk = &frame->app->droneConnection.payload.vosk;
    PanelRow row = nextRow(layout);
    f32 width = 1.6f * layout->H;
    u32 open = *frame->openPanel;
    if (geofenceButton(layout, takeFromRight(&row, width), WIDGET_ID)) setOpen(frame, PayloadPanelGeofence);
    if (captionButton(layout, makeString("Safety"), takeFromRight(&row, width), WIDGET_ID)) {
        setOpen(frame, toggled(open, PayloadPanelVoskSafeConfirm, PayloadPanelVosk));
    }
    const WidgetId dropIds[2] = {
        WIDGET_ID,
        WIDGET_ID,
    };
    for (i32 channel = 1; channel >= 0; channel--) {
        Rect cell = takeFromRight(&row, width);
        FixedString caption = formatCp("Drop @", 'A' + channel);
        if (!isVoskChannelReadyToDrop(vosk, channel)) {
            drawCaption(layout, caption, AnchorCentre, cell, kPayloadDisabledGrey, 0.92f);
            continue;
        }
        if (captionButton(layout, caption, cell, dropIds[channel])) {
            setOpen(frame, toggled(open, PayloadPanelVoskDropAConfirm + (u32)channel, PayloadPanelVosk));
        }
    }
    if (frame->app->preferences.developerMode) {
        const WidgetId runIds[3] = {
            WIDGET_ID,
            WIDGET_ID,
            WIDGET_ID,
        };
        for (i32 run = 2; run >= 0; run--) {
            Rect cell = takeFromRight(&row, width);
            if (captionButton(layout, formatCp("Run @", '1' + run), cell, runIds[run])) {
                setOpen(frame, toggled(open, PayloadPanelVoskRun1Confirm + (u32)run, PayloadPanelVosk));
            }
        }
    }
    bool bothReported = vosk->units[0].statusTime != 0 && vosk->units[1].statusTime != 0;
    for (i32 channel = 1; channel >= 0; channel--) {
        Rect cell = takeFromRight(&row, width);
        if (!bothReported) continue;
        FixedString text = buildFixedString([&](ByteWriter* writer) { appendVoskChannelText(vosk, channel, writer); });
        drawCaption(layout, text, AnchorCentre, cell, kTextWhite, 0.92f);
    }
    u8 bytes[256];
    ByteWriter text = makeByteWriter(bytes, sizeof(bytes));
    voskStateText(vosk, frame->now, &text);
    TextStyle style = captionStyle(layout, kTextWhite, 0.92f, 1);
    drawTextCheckedAlt(frame->ui, TextSlice{bytes, text.length}, AnchorLeftCentre, kCaptionDepth,
                       restOfRow(layout, &row), style);
}

void drawVoskConfirmation(PanelLayout* layout) {
    PayloadPanelFrame* frame = layout->frame;
    VoskPayloadState* vosk = &frame->app->droneConnection.payload.vosk;
    u32 open = *frame->openPanel;
    if (open == PayloadPanelVoskDropAConfirm || open == PayloadPanelVoskDropBConfirm) {
        // A drop is confirmed only while drops are allowed in the air: the question goes away (and
        // its "Yes" with it) as soon as the vehicle lands or the permission is withdrawn.
        if (!vosk->dropAllowed || payloadFlightPhase(&frame->app->droneConnection.vehicle) < 2) {
            setOpen(frame, PayloadPanelVosk);
            return;
        }
    }
    struct Question {
        const char* text;
        u32 request;
    };
    static const Question questions[6] = {
        {"Are you sure you want to safe the system?", VoskRequestSafe},
        {"Are you sure you want to drop A?", VoskRequestDropA},
        {"Are you sure you want to drop B?", VoskRequestDropB},
        {"Are you sure you want to run 1?", VoskRequestRun1},
        {"Are you sure you want to run 2?", VoskRequestRun2},
        {"Are you sure you want to run 3?", VoskRequestRun3},
    };
    const Question* question = &questions[open - PayloadPanelVoskSafeConfirm];
    PanelRow row = nextRow(layout);
    LayoutCells cells = confirmationCells(layout, &row);
    drawLongText(layout, makeString(question->text), cells.cells[1], kTextWhite);
    if (captionButton(layout, makeString("Cancel"), cells.cells[3], WIDGET_ID)) setOpen(frame, PayloadPanelVosk);
    if (captionButton(layout, makeString("Yes"), cells.cells[5], WIDGET_ID)) {
        raiseVoskRequest(vosk, question->request, frame->now);
        setOpen(frame, PayloadPanelVosk);
    }
}

bool isOpen(const PayloadPanelFrame* frame, u32 first, u32 last) {
    return *frame->openPanel >= first && *frame->openPanel <= last;
}

}  // namespace

Color orvikStatusColor(const OrvikPayloadState* orvik) {
    if (orvik->state >= kOrvikRedState || (orvik->statusWord & kOrvikRedStatusBits)) return kOrvikStatusRed;
    if (orvik->state >= kOrvikYellowState || orvik->chuteTemp > kOrvikHotChute || orvik->statusWord != 0) {
        return kOrvikStatusYellow;
    }
    return kTextWhite;
}

i32 orvikBatteryAsset(u8 tenthsOfVolt) {
    i32 level = tenthsOfVolt >= 82 ? 4 : tenthsOfVolt >= 79 ? 3 : tenthsOfVolt >= 76 ? 2 : tenthsOfVolt >= 73 ? 1 : 0;
    return AssetBattery0 + level;
}

void appendStrobeStateText(const StrobeLight* light, ByteWriter* writer) {
    if (light->reportedMode == StrobeAutoDay) appendCString("Auto Day - ", writer);
    if (light->reportedMode == StrobeAutoNight) appendCString("Auto Night - ", writer);
    if (light->reportedBrightness == StrobeOff) {
        appendCString("Off", writer);
        return;
    }
    static const char* const patterns[4] = {"Pulse", "On", "Strobe", "Rotate"};
    if (light->reportedPattern < 4) {
        appendCString(patterns[light->reportedPattern], writer);
    } else {
        appendFixedString(formatInt("Pattern @", light->reportedPattern), writer);
    }
    appendCString(" ", writer);
    static const char* const levels[3] = {"Low", "Medium", "High"};
    if (light->reportedBrightness >= StrobeLow && light->reportedBrightness <= StrobeHigh) {
        appendCString(levels[light->reportedBrightness - StrobeLow], writer);
    }
}

u32 isVoskReadyToDrop(const VoskPayloadState* vosk) {
    if (!vosk->dropAllowed) return 0;
    for (const VoskUnitStatus& unit : vosk->units) {
        if (!unit.flying || !unit.sbusArmed || unit.faults) return 0;
    }
    return 1;
}

u32 isVoskChannelReadyToDrop(const VoskPayloadState* vosk, i32 channel) {
    i32 c = channel ? 1 : 0;
    return isVoskReadyToDrop(vosk) && vosk->units[0].safetyServo[c] == 0 && vosk->units[0].dropServo[c] == 0 &&
           vosk->units[1].dropServo[c] == 0;
}

f32 drawFlyScreenPayloadPanels(PayloadPanelFrame* frame, f32 usedHeight) {
    const UiMetrics* m = &frame->app->uiMetrics;
    PanelLayout layout{frame, frame->ui->screenRect, m->rowHeight, m->buttonTextHeight, m->textHeight, m->margin,
                       usedHeight};
    if (isOpen(frame, PayloadPanelOrvik, PayloadPanelOrvikLast)) drawOrvikToolbar(&layout);
    if (*frame->openPanel == PayloadPanelOrvikReleaseConfirm) drawOrvikReleaseConfirmation(&layout);
    if (*frame->openPanel == PayloadPanelOrvikCountdown) drawOrvikReleaseCountdown(&layout);
    if (*frame->openPanel == PayloadPanelOrvikDropSpacing) drawDropSpacingEditor(&layout);
    if (*frame->openPanel == PayloadPanelStrobe) drawStrobePanel(&layout);
    if (isOpen(frame, PayloadPanelVosk, PayloadPanelVoskRun3Confirm)) drawVoskToolbar(&layout);
    if (isOpen(frame, PayloadPanelVoskSafeConfirm, PayloadPanelVoskRun3Confirm)) drawVoskConfirmation(&layout);
    return layout.used;
}
