// The camera panels that the fly screen and the flight-log viewer share: the compact camera HUD of
// each camera kind and the camera-protocol camera's settings list. Neither sends anything: they
// raise the cameras' request flags and write wanted parameter values for the camera control.
#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"
#include "SourceCommon/UserInterface/Widgets.h"

namespace {

const char* const kCameraFile = "Screens/FlyScreenSharedUiViewLogCamera";
constexpr f32 kHudDepth = 0.9f;
constexpr Color kHudPanelFill = 0x77000000;
constexpr Color kWarningColour = 0xFF3030FF;
constexpr i64 kSendNow = -10000000;

// The parameter rows of the settings list.
struct CameraParamEntry {
    i32 value;
    const char* label;
};
struct CameraParamRow {
    const char* title;
    const char* name;
    u32 stepper;
    const CameraParamEntry* entries;
    i32 count;
};

const CameraParamEntry kFocus[] = {{0, "Infinity"}, {1, "Auto"}};
const CameraParamEntry kWhiteBalance[] = {
    {0, "Auto"},        {1, "Daylight"},  {2, "Incandescent"},          {3, "Flash"},
    {4, "Fluor Warm White (-1)"}, {5, "Fluor Cool White (0)"}, {6, "Fluor Day White (+1)"},
    {7, "Fluor Daylight (+2)"},   {8, "Cloudy"},   {9, "Shade"},   {10, "Color Temp./Filter"},
    {11, "Custom 1"},   {12, "Custom 2"}, {13, "Custom 3"},           {14, "Underwater Auto"}};
const CameraParamEntry kExposureMode[] = {
    {0, "Manual"}, {11, "Program Auto"}, {12, "Aperture Priority"}, {13, "Shutter Priority"}};
const char* const kEvLabels[31] = {"-5.0", "-4.7", "-4.3", "-4.0", "-3.7", "-3.3", "-3.0", "-2.7",
                                   "-2.3", "-2.0", "-1.7", "-1.3", "-1.0", "-0.7", "-0.3", "0",
                                   "+0.3", "+0.7", "+1.0", "+1.3", "+1.7", "+2.0", "+2.3", "+2.7",
                                   "+3.0", "+3.3", "+3.7", "+4.0", "+4.3", "+4.7", "+5.0"};
const char* const kIsoLabels[33] = {"Auto", "64",    "80",    "100",   "125",   "160",   "200",
                                    "250",  "320",   "400",   "500",   "640",   "800",   "1000",
                                    "1250", "1600",  "2000",  "2500",  "3200",  "4000",  "5000",
                                    "6400", "8000",  "10000", "12800", "16000", "20000", "25600",
                                    "32000", "40000", "51200", "64000", "80000"};
const char* const kShutterLabels[55] = {
    "1/8000 s", "1/6400 s", "1/5000 s", "1/4000 s", "1/3200 s", "1/2500 s", "1/2000 s", "1/1600 s",
    "1/1250 s", "1/1000 s", "1/800 s",  "1/640 s",  "1/500 s",  "1/400 s",  "1/320 s",  "1/250 s",
    "1/200 s",  "1/160 s",  "1/125 s",  "1/100 s",  "1/80 s",   "1/60 s",   "1/50 s",   "1/40 s",
    "1/30 s",   "1/25 s",   "1/20 s",   "1/15 s",   "1/13 s",   "1/10 s",   "1/8 s",    "1/6 s",
    "1/5 s",    "1/4 s",    "1/3 s",    "0.4 s",    "0.5 s",    "0.6 s",    "0.8 s",    "1 s",
    "1.3 s",    "1.6 s",    "2 s",      "2.5 s",    "3.2 s",    "4 s",      "5 s",      "6 s",
    "8 s",      "10 s",     "13 s",     "15 s",     "20 s",     "25 s",     "30 s"};
const CameraParamEntry kAperture[] = {{15, "f/16"}, {9, "f/8"}, {8, "f/7.1"}, {7, "f/6.3"}, {6, "f/5.6"},
                                      {5, "f/5"},   {4, "f/4.5"}, {3, "f/4"}, {2, "f/3.5"}};
const CameraParamEntry kImageStorage[] = {{0, "Camera"}, {1, "External USB"}, {2, "Both"}};
const CameraParamEntry kImageSize[] = {{0, "Large"}, {1, "Medium"}, {2, "Small"}};
const CameraParamEntry kJpegQuality[] = {{0, "Extra Fine"}, {1, "Fine"}, {2, "Standard"}};

// The stepper tables, filled once from the label lists (EV and ISO count up from 0, the shutter
// down from 54).
CameraParamEntry gEv[31], gIso[33], gShutter[55];

void fillStepperTables() {
    for (i32 i = 0; i < 31; i++) gEv[i] = CameraParamEntry{i, kEvLabels[i]};
    for (i32 i = 0; i < 33; i++) gIso[i] = CameraParamEntry{i, kIsoLabels[i]};
    for (i32 i = 0; i < 55; i++) gShutter[i] = CameraParamEntry{54 - i, kShutterLabels[i]};
}

const CameraParamRow kParamRows[] = {
    {"Focus Mode", "CAM_FOCUSMODE", 0, kFocus, 2},
    {"White Balance", "CAM_WBMODE", 0, kWhiteBalance, 15},
    {"Exposure Mode", "CAM_EXPMODE", 0, kExposureMode, 4},
    {"Exposure Compensation", "CAM_EV", 1, gEv, 31},
    {"ISO", "CAM_ISO", 1, gIso, 33},
    {"Shutter time", "CAM_SHUTTER", 1, gShutter, 55},
    {"Aperture", "CAM_APERTURE", 1, kAperture, 9},
    {"Image Storage", "CAM_IMGDEST", 0, kImageStorage, 3},
    {"Image Size", "CAM_IMGSIZE", 0, kImageSize, 3},
    {"JPEG Quality", "CAM_VND_1", 0, kJpegQuality, 3},
};

ExtParamSlot* cameraParameter(ProtocolCameraState* camera, const char* name) {
    char padded[kExtParamNameBytes] = {};
    std::memcpy(padded, name, strnlen(name, kExtParamNameBytes));  // a full-length name has no terminator
    for (i32 i = 0; i < kCameraParameters; i++) {
        if (std::memcmp(padded, kCameraParameterNames[i], kExtParamNameBytes) == 0) return &camera->parameters[i];
    }
    return nullptr;
}

const ExtParamSlot* cameraParameter(const ProtocolCameraState* camera, const char* name) {
    return cameraParameter(const_cast<ProtocolCameraState*>(camera), name);
}

// A received value that is not 0 (an unknown one counts as 0).
bool receivedNonZero(const ProtocolCameraState* camera, const char* name) {
    const ExtParamSlot* slot = cameraParameter(camera, name);
    return slot && slot->receiveTime != 0 && slot->value != 0;
}

struct HudLayout {
    f32 x, y, size, width;
    f32 cursor;  // y of the next line's top
    UiState* ui;
    ScreenStack* stack;
    Rect window;
};

TextStyle hudTextStyle(f32 size, Color colour = 0xFFFFFFFF) {
    return TextStyle{colour, 0xFF000000, 0xFFE36400, size, 0.1f, 0};
}

void hudLine(HudLayout* h, const FixedString& text, Color colour = 0xFFFFFFFF) {
    drawTextAt(h->ui, text, AnchorLeftCentre, Vec2F32{h->x + h->size / 2, h->cursor - 0.75f * h->size}, kHudDepth + 0.01f,
               h->window, hudTextStyle(h->size, colour));
    h->cursor -= 1.5f * h->size;
}

// A row of equal buttons across the HUD; the index of the one clicked, or -1.
i32 hudButtons(HudLayout* h, const char* const* labels, i32 count, u64 line) {
    f32 gap = h->size / 4;
    f32 width = (h->width - gap * (count + 1)) / count;
    f32 top = h->cursor - gap, bottom = top - 2 * h->size;
    ButtonStyle style{};
    style.textStyle = hudTextStyle(h->size);
    style.anchor = AnchorCentre;
    style.textPadding = gap;
    style.cornerRadius = 0.2f * h->size;
    style.fill = 0xE0303030;
    style.pressedFill = 0xFF606060;
    i32 clicked = -1;
    for (i32 i = 0; i < count; i++) {
        f32 x0 = h->x + gap + i * (width + gap);
        Rect cell{x0, x0 + width, bottom, top};
        WidgetId id{line + (u64)i, kCameraFile};
        if (button(makeString(labels[i]), &cell, &h->window, kHudDepth + 0.01f, &style, h->ui, h->stack, &id).clicked) {
            clicked = i;
        }
    }
    h->cursor = bottom - gap;
    return clicked;
}

FixedString storageText(const char* format, u32 present, f32 freeBytes, const char* missing) {
    if (!present) return makeString(missing);
    return formatInt(format, (i64)(freeBytes / 1000000.0f));
}

// The red capture mark: a circle when idle, a square while capturing; darker while pressed.
void captureButton(HudLayout* h, ProtocolCameraState* camera, PayloadLink* payload, f64 interval) {
    f32 side = 2.4f * h->size;
    f32 cx = h->x + h->width / 2, top = h->cursor - h->size / 4;
    Rect mark{cx - side / 2, cx + side / 2, top - side, top};
    WidgetId id{900, kCameraFile};
    PointerHit hit = rectHitTest(&mark, 1, h->stack, &id);
    bool square = cameraCaptureShowsSquare(camera, payload) != 0;
    Color fill = hit.down ? 0xFF1010AA : 0xFF2020FF;
    Color outline = hit.down ? 0xFFAAAAAA : 0xFFFFFFFF;
    addRoundedRect(mark, kHudDepth + 0.01f, h->window, 0.12f * h->size, square ? 0 : side / 2, fill, outline,
                   &h->ui->batches.coloredRect, h->ui->halfWidth, h->ui->halfHeight);
    if (hit.clicked) pressCameraCapture(camera, payload, interval);
    h->cursor = mark.y0 - h->size / 4;
}

}  // namespace

void pressCameraCapture(ProtocolCameraState* camera, PayloadLink* payload, f64 interval) {
    u32* requests = camera->requests;
    u8 kit = payload->value4;
    if (camera->pictureShape == 2) {
        requests[camera->recording ? ProtocolRequestStopVideo : ProtocolRequestStartVideo] = 1;
    } else if (camera->pictureShape == 1) {
        if (camera->intervalCaptureActive) {
            requests[ProtocolRequestStopCapture] = 1;
            if (kit == 2) payload->photoIntervalStop = 1;
        } else if (kit == 2) {
            payload->photoIntervalStop = 1;
        } else if (interval == 0) {
            requests[ProtocolRequestSinglePhoto] = 1;
        } else if (kit == 1 && interval < 1) {
            payload->photoIntervalStart = 1;
        } else {
            requests[ProtocolRequestStartInterval] = 1;
        }
    }
}

u32 cameraCaptureShowsSquare(const ProtocolCameraState* camera, const PayloadLink* payload) {
    if (camera->pictureShape == 2) return camera->recording ? 1 : 0;
    if (camera->pictureShape == 1) return camera->intervalCaptureActive || payload->value4 == 2 ? 1 : 0;
    return 0;
}

f32 drawCameraHud(f32 x, f32 y, f32 size, const Preferences* preferences, u32* panel, DroneConnection* connection,
                  UiState* ui, ScreenStack* stack) {
    u32 kind = connection->cameraKind;
    if (*panel != 17 || (kind != CameraGimbal && kind != CameraNextVision && kind != CameraProtocol)) return 0;
    HudLayout h{x, y, size, 14 * size, y, ui, stack, Rect{0, 2 * ui->halfWidth, 0, 2 * ui->halfHeight}};
    // The rows are laid out first; the background goes under them (at a lower depth) once the
    // height is known.
    if (kind == CameraProtocol) {
        ProtocolCameraState* camera = &connection->protocolCamera;
        PayloadLink* payload = &connection->payload;
        const char* const labels[3] = {"Photo Mode", "Video Mode", "Config"};
        i32 pressed = hudButtons(&h, labels, 3, 100);
        if (pressed == 0) camera->requests[ProtocolRequestPhotoMode] = 1;
        if (pressed == 1) camera->requests[ProtocolRequestVideoMode] = 1;
        if (pressed == 2) *panel = 18;
        const char* mode = camera->pictureShape == 2 ? "Video" : camera->pictureShape == 1 ? "Photo" : "? Mode";
        hudLine(&h, makeString(mode));
        if (camera->pictureShape == 1 || camera->pictureShape == 2) {
            captureButton(&h, camera, payload, preferences->mappingKitPhotoInterval);
        }
        if (camera->recording) {
            hudLine(&h, durationString((i64)camera->recordingTimeMs * 1000));
        } else {
            i64 kitPhotos = payload->value5Time != 0 && payload->value5 > 0 ? payload->value5 : 0;
            hudLine(&h, formatInt("@ photos", (i64)camera->imageCount + kitPhotos));
        }
        hudLine(&h, storageText("@ MB SD", camera->sdPresent, camera->sdFreeBytes, "No SD"));
        hudLine(&h, storageText("@ MB USB", camera->usbPresent, camera->usbFreeBytes, "No USB"));
    } else if (kind == CameraGimbal) {
        WorkswellCameraState* camera = &connection->workswellCamera;
        const char* const labels[2] = {"Photo", "Video"};
        i32 pressed = hudButtons(&h, labels, 2, 200);
        if (pressed == 0) camera->requests[WorkswellRequestTakePhoto] = 1;
        if (pressed == 1) camera->requests[camera->recording ? WorkswellRequestStopVideo : WorkswellRequestStartVideo] = 1;
        if (camera->recording) hudLine(&h, durationString((i64)camera->recordingTimeMs * 1000));
        hudLine(&h, storageText("@ MB SD", camera->sdPresent, camera->sdFreeBytes, "No SD"));
        hudLine(&h, formatInt("@ MB SSD", (i64)(camera->ssdFreeBytes / 1000000.0f)));
    } else {
        NextVisionState* camera = &connection->nextVision;
        const char* const labels[2] = {"Photo", "Video"};
        i32 pressed = hudButtons(&h, labels, 2, 300);
        bool recording = camera->recordingChannel1 == 1 || camera->recordingChannel2 == 1;
        if (pressed == 0) camera->requests[NextVisionRequestSnapshot] = 1;
        if (pressed == 1) {
            camera->requests[recording ? NextVisionRequestStopRecording : NextVisionRequestStartRecording] = 1;
        }
        hudLine(&h, camera->cardPresent ? formatInt("@ MiB", (i64)camera->cardFreeMiB) : makeString("No SD"));
        hudLine(&h, temperatureString(camera->temperature, preferences),
                camera->temperature > 55.0f ? kWarningColour : 0xFFFFFFFF);
    }
    Rect box{x, x + h.width, h.cursor, y};
    addRoundedRect(box, kHudDepth, h.window, 0, 0.3f * size, kHudPanelFill, kHudPanelFill, &ui->batches.coloredRect,
                   ui->halfWidth, ui->halfHeight);
    WidgetId id{1, kCameraFile};
    rectHitTest(&box, 1, stack, &id);
    return y - h.cursor;
}

FixedString cameraIntervalText(f64 seconds) {
    if (!std::isfinite(seconds)) seconds = 0;
    i64 thousandths = (i64)std::llround(seconds * 1000.0);
    i64 decimals = 3;
    while (decimals > 0 && thousandths % 10 == 0) {
        thousandths /= 10;
        decimals--;
    }
    return formatFixed("@", thousandths, decimals);
}

FixedString cameraIntervalSummary(f64 interval, const ProtocolCameraState* camera, const PayloadLink* payload) {
    if (interval == 0) return makeString("Single");
    FixedString seconds = cameraIntervalText(interval);
    if (interval < 1 && payload->value4 != 0) {
        FixedString summary = formatStr("Turbo Interval @ s", seconds);
        if (receivedNonZero(camera, "CAM_FOCUSMODE")) summary = formatStr("@     Please set Focus Mode to Infinity", summary);
        if (receivedNonZero(camera, "CAM_IMGDEST")) summary = formatStr("@     Please set Image Storage to Camera", summary);
        return summary;
    }
    return formatStr("Interval @ s", seconds);
}

void drawCameraSettingsPanel(Rect rect, Platform* platform, ScreenStack* stack, UiState* ui, MapView* view,
                             Preferences* preferences, ProtocolCameraState* camera, const PayloadLink* payload,
                             FixedString* editText, u32* stepperIndex, u64 now) {
    if (gEv[30].label == nullptr) fillStepperTables();
    beginMapView(&rect, platform, ui, view);
    TextEditState* focus = &stack->runner.textFocus;

    f64 interval = preferences->mappingKitPhotoInterval;
    FixedString title = makeString("Photo Interval");
    FixedString value = formatStr("@ s", cameraIntervalText(interval));
    FixedString hint = makeString("Enter 0 for single photos.");
    WidgetId intervalId{10, kCameraFile};
    TextFieldRowResult entry = textFieldBody(&title, &value, editText, &hint, nullptr, TextKeyboardNumpad, 0, stack, ui,
                                             focus, view, &intervalId);
    if (entry.submitted) {
        view->openRowId = WidgetId{};
        if (editText->length) {
            f64 typed = parseDoubleOr(*editText, 0.0);
            if (!(typed > 0)) typed = 0;  // NaN too
            else if (typed < 0.5) typed = 0.5;
            preferences->mappingKitPhotoInterval = typed;
        }
    }
    FixedString empty{};
    FixedString summary = cameraIntervalSummary(preferences->mappingKitPhotoInterval, camera, payload);
    infoRow(&empty, &summary, 0, ui, view);

    const ExtParamSlot* exposure = cameraParameter(camera, "CAM_EXPMODE");
    bool exposureKnown = exposure && exposure->receiveTime != 0;
    u32 mode = exposureKnown ? exposure->value : 0xFFFFFFFF;
    i32 rowCount = (i32)(sizeof(kParamRows) / sizeof(kParamRows[0]));
    for (i32 r = 0; r < rowCount; r++) {
        const CameraParamRow* row = &kParamRows[r];
        if (exposureKnown) {
            if (std::strcmp(row->name, "CAM_EV") == 0 && mode == 0) continue;
            if (std::strcmp(row->name, "CAM_SHUTTER") == 0 && (mode == 11 || mode == 12)) continue;
            if (std::strcmp(row->name, "CAM_APERTURE") == 0 && (mode == 11 || mode == 13)) continue;
        }
        ExtParamSlot* slot = cameraParameter(camera, row->name);
        if (!slot) continue;
        slot->readAskedTime = now;
        FixedString options[55];
        i32 current = -1;
        for (i32 i = 0; i < row->count; i++) {
            options[i] = makeString(row->entries[i].label);
            if (slot->receiveTime != 0 && row->entries[i].value == (i32)slot->value) current = i;
        }
        FixedString fallback{};
        if (slot->receiveTime == 0) {
            fallback = makeString("Unknown");
        } else if (current < 0) {
            fallback = formatInt("Unrecognized Value: @", slot->value);
        }
        FixedString rowTitle = makeString(row->title);
        WidgetId id{(u64)(100 + r), kCameraFile};
        i32 chosen = -1;
        if (row->stepper) {
            StepperRowResult result = stepperRow(&rowTitle, &fallback, current, stepperIndex, options, row->count, 2.5f,
                                                 0, stack, ui, view, &id);
            if (result.changed) chosen = (i32)*stepperIndex;
        } else {
            i32 selected = current;
            ChoiceRowResult result =
                choiceRow(&rowTitle, &fallback, current, &selected, options, row->count, 0, stack, ui, view, &id);
            if (result.changed) chosen = selected;
        }
        if (chosen >= 0 && chosen < row->count) {
            slot->wanted = (u8)row->entries[chosen].value;
            slot->changeAskedTime = now;
            slot->lastSetTime = (u64)kSendNow;
        }
    }
    endMapView(stack, ui, view);
}
