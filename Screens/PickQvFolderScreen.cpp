#include "Screens/PickQvFolderScreen.h"

#include <cstdlib>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "Core/Profiler.h"
#include "Decoders/Jpeg.h"
#include "Platform/Platform.h"
#include "Screens/MainScreen.h"
#include "SourceCommon/Renderer/ImageAssets.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

constexpr Color kWalkthroughClearColor = 0xFF303030;
constexpr Color kHighlightColor = 0xFF0000DD;
constexpr Color kHighlightFaded = 0x000000DD;

const char* const kSixPictures[6] = {
    "rpafp8_1_3dots.jpg",  "rpafp8_2_show_internal_storage.jpg", "rpafp8_3_3lines.jpg",
    "rpafp8_4_device.jpg", "rpafp8_5_folder.jpg",                "rpafp8_6_select.jpg",
};
const f32 kSixHighlights[6][4] = {
    {420, 500, 80, 170}, {80, 480, 190, 280}, {20, 100, 90, 170},
    {40, 500, 390, 500}, {5, 440, 440, 510},  {330, 490, 410, 490},
};
const char* const kThreePictures[3] = {
    "rpafp10_1_documents.jpg", "rpafp10_2_tarnwick.jpg", "rpafp10_3_use_this_folder.jpg",
};
const f32 kThreeHighlights[3][4] = {{18, 333, 285, 370}, {60, 379, 371, 457}, {612, 961, 432, 490}};

i32 pictureStateOf(const FolderHelpPicture* picture) { return __atomic_load_n(&picture->state, __ATOMIC_ACQUIRE); }

ButtonStyle standardButtonStyle(const UiMetrics* m) {
    ButtonStyle style{};
    style.textStyle = TextStyle{kTextWhite, kNoOutline, kSelectionOrange, m->buttonTextHeight, 0, 0};
    style.anchor = AnchorCentre;
    style.textPadding = m->margin;
    style.cornerRadius = 0.1f * m->buttonHeight;
    style.fill = kButtonGrey;
    style.pressedFill = kPressedGrey;
    style.outlineWidth = 0.5f * m->margin;
    return style;
}

void drawCentredText(UiState* ui, const u8* text, i64 length, const Rect& rect, f32 size, f32 depth) {
    TextStyle style{kTextWhite, kNoOutline, kSelectionOrange, size, 0, 0};
    drawCharsInRect(ui, TextSlice{text, length}, AnchorCentre, depth, rect, ui->screenRect, style);
}

void releasePictureRequest(FolderHelpPicture* picture, Platform* platform) {
    if (!picture->request) return;
    releaseFileReadRequest(picture->request, &platform->resourceReads);
    picture->request = nullptr;
}

// The strip of pictures in the middle cell: a horizontal strip view one unit high, dragged (or
// wheeled) sideways.
void drawPictureStrip(PickQvFolderScreenState* state, const FolderHelpPictureSet& set, const Rect& cell,
                      Platform* platform, ScreenStack* stack, UiState* ui, const UiMetrics* m) {
    f32 cellWidth = cell.x1 - cell.x0, cellHeight = cell.y1 - cell.y0;
    if (!(cellHeight > 0) || !(cellWidth > 0)) return;
    MapView* view = &state->stripView;
    updateMapView(view, &cell, Box2{0, set.count * set.placeWidth, 0, 1}, ui, stack, platform, MapWheelScrolls);

    u64 now = stack->now;
    u64 period = (u64)set.count * kHighlightFlashPeriod;
    u64 phase = period ? now % period : 0;
    for (i32 i = 0; i < set.count; i++) {
        FolderHelpPicture* picture = &state->pictures[i];
        const f64 box[4] = {i * set.placeWidth, (i + 1) * set.placeWidth, 0, 1};
        Rect place = mapRectToScreen(view, box);
        if (place.x1 < cell.x0 || place.x0 > cell.x1) continue;
        if (picture->imageSlot) {
            // The picture goes in the batch drawn before the rectangles, so that the highlight frame's
            // transparent inside leaves it showing.
            Rect drawn = drawIconInRect(&place, &cell, 0.5f, AnchorCentre, IconKindSlot, picture->imageSlot,
                                        &ui->batches.textured2dUnder, ui);
            Rect full = fitRect((f32)picture->result.width, (f32)picture->result.height, AnchorCentre, &place);
            f32 w = full.x1 - full.x0, h = full.y1 - full.y0;
            if (drawn.x1 > drawn.x0 && picture->result.width && picture->result.height) {
                f32 sx = w / (f32)picture->result.width, sy = h / (f32)picture->result.height;
                const f32* r = set.highlights[i];
                Rect frame{full.x0 + r[0] * sx, full.x0 + r[1] * sx, full.y1 - r[3] * sy, full.y1 - r[2] * sy};
                i64 d = (i64)phase - (i64)i * (i64)kHighlightFlashPeriod;
                Color outline = d > 0 ? blendColor(kHighlightColor, kHighlightFaded, (f32)d / kHighlightFlashPeriod)
                                      : 0x00000000;
                addRoundedRect(frame, 0.6f, cell, h / 64, h / 16, 0x00FFFFFF, outline, &ui->batches.coloredRect,
                               ui->halfWidth, ui->halfHeight);
            }
        } else {
            FixedString text;
            if (pictureStateOf(picture) == FolderHelpDecoding) {
                text = makeString("Parsing");
            } else if (!picture->request) {
                text = picture->result.error;
            } else {
                u32 status = fileRequestStatus(picture->request);
                text = status == FileStatusSuccess ? makeString("Loaded") : fileStatusString(status);
            }
            Rect clipped = intersectRect(place, cell);
            TextStyle style{kTextWhite, kNoOutline, kSelectionOrange, m->buttonTextHeight, 0, 0};
            drawTextInRect(ui, text, AnchorCentre, 0.9f, place, clipped, style, noTextCaret());
        }
    }
    drawHorizontalViewScrollbar(1, kSecondaryGrey, 0.5f, view, ui);
    MapTaps taps;
    handleMapPointers(&taps, view, stack);
}

}  // namespace

FolderHelpPictureSet folderHelpPictureSet(i32 apiLevel) {
    if (apiLevel < kNewPictureSetApiLevel) return FolderHelpPictureSet{6, kSixPictures, kSixHighlights, 1.1};
    return FolderHelpPictureSet{3, kThreePictures, kThreeHighlights, 2.2};
}

i64 decodeFolderHelpPicture(void* argument) {
    FolderHelpPicture* picture = (FolderHelpPicture*)argument;
    ImageResult result{};
    const FileReadRequest* request = picture->request;
    parseJpeg(&result, request->data + request->headroom, (i64)request->bytesRead, picture->pixels, picture->capacity,
              3, 4);
    picture->result = result;
    __atomic_store_n(&picture->state, (i32)FolderHelpDecoded, __ATOMIC_RELEASE);
    return 0;
}

i32 updateFolderHelpPictures(PickQvFolderScreenState* state, Platform* platform, ImageSlotTable* slots) {
    bool queuedOne = false, decodingSeen = false;
    i32 inFlight = 0;
    i64 share = state->pictureCount ? kFolderHelpBufferBytes / state->pictureCount : 0;
    for (i32 i = 0; i < state->pictureCount; i++) {
        FolderHelpPicture* picture = &state->pictures[i];
        i32 pictureState = pictureStateOf(picture);
        if (pictureState == FolderHelpDecoding) {
            decodingSeen = true;
            inFlight = 1;
            continue;
        }
        if (!picture->request) continue;
        u32 status = fileRequestStatus(picture->request);
        if (status < FileStatusSuccess) {
            inFlight = 1;
            continue;
        }
        if (status > FileStatusSuccess) {
            picture->result.error = fileStatusString(status);
            releasePictureRequest(picture, platform);
            continue;
        }
        if (pictureState == FolderHelpWaiting) {
            if (queuedOne || decodingSeen) {
                inFlight = 1;
                continue;
            }
            picture->pixels = state->pictureBuffer + i * share;
            picture->capacity = share;
            picture->state = FolderHelpDecoding;
            if (pushAsyncJob(decodeFolderHelpPicture, picture, &platform->jobQueue)) {
                queuedOne = true;
                decodingSeen = true;
            } else {
                picture->state = FolderHelpWaiting;  // the ring is full: again on a later frame
            }
            inFlight = 1;
        } else if (pictureState == FolderHelpDecoded) {
            if (picture->result.error.length == 0) {
                picture->imageSlot = allocImageSlot(picture->pixels, picture->result.width, picture->result.height,
                                                    picture->result.channels, slots);
            }
            releasePictureRequest(picture, platform);
        }
    }
    return inFlight;
}

void pickQvFolderScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                        void* scratch) {
    ProfilingScope scope("Pick QV Folder Screen");
    PickQvFolderScreenState* state = (PickQvFolderScreenState*)scratch;
    FolderHelpPictureSet set = folderHelpPictureSet(kPlatformApiLevel);
    const UiMetrics* m = &app->uiMetrics;
    if (!state->initialised) {
        state->initialised = 1;
        state->pictureCount = set.count;
        state->stripView = makeMapView(WIDGET_ID, MapViewModeHorizontalStrip);
        state->pictureBuffer = (u8*)std::calloc(1, (size_t)kFolderHelpBufferBytes);
        if (state->pictureBuffer) {
            for (i32 i = 0; i < set.count; i++) {
                FixedString path = formatCstrCstr("@/Android/@", kAssetsFolder, set.names[i]);
                state->pictures[i].request = requestFile(path, kFolderHelpPictureMaxBytes, 0, &platform->resourceReads);
            }
        }
    }
    setClearColor(ui, kWalkthroughClearColor);
    Rect screen = ui->screenRect;
    f32 inset = m->buttonTextHeight;
    Rect content{screen.x0 + inset, screen.x1 - inset, screen.y0 + inset, screen.y1 - inset};
    ButtonStyle style = standardButtonStyle(m);
    f32 halfWidth = (screen.x1 - screen.x0) / 2;

    if (!platform->documentsFolderAccess) {
        LayoutCells cells = splitLayout(LayoutAlongY, nullptr, 2, 0, &content);
        const char* text = "This app requires permission to read and write files on your device in order to save and "
                           "load settings, flight logs, and maps.\n";
        u8 bytes[500];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        appendCString(text, &writer);
        drawCentredText(ui, bytes, writer.length, cells.cells[0], m->buttonTextHeight, 0.9f);
        Rect ok = alignRect(halfWidth, m->buttonHeight, AnchorCentre, &cells.cells[1]);
        static const WidgetId okId = WIDGET_ID;
        if (button(makeString("OK"), &ok, &screen, 0.6f, &style, ui, stack, &okId).clicked) {
            platform->documentsFolderAccess = 1;
        }
    } else {
        LayoutCells cells = splitLayout(LayoutAlongY, nullptr, 3, 0, &content);
        u8 bytes[500];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        appendCString("This app requires permission to access the folder:   ", &writer);
        appendFixedStringRef(&platform->dataFolder, &writer);
        appendCString("\nThis will allow the app to save maps, settings, and logs.\nUse the system folder picker to "
                      "choose this folder.",
                      &writer);
        if (kPlatformApiLevel < kNewPictureSetApiLevel) {
            appendCString("\nYou may need to enable showing Internal Storage in order to find this folder.", &writer);
        }
        drawCentredText(ui, bytes, writer.length, cells.cells[0], m->buttonTextHeight, 0.9f);
        if (!state->pictureBuffer) {
            FixedString text = makeString("Insufficient memory to load instructional images");
            drawCentredText(ui, (const u8*)text.text, text.length, cells.cells[1], m->buttonTextHeight, 0.9f);
        } else {
            drawPictureStrip(state, set, cells.cells[1], platform, stack, ui, m);
        }
        Rect open = alignRect(halfWidth, m->buttonHeight, AnchorCentre, &cells.cells[2]);
        static const WidgetId openId = WIDGET_ID;
        if (button(makeString("Open Folder Picker"), &open, &screen, 0.6f, &style, ui, stack, &openId).clicked) {
            platform->appFolderAccess = 1;
            result->back = 1;
        }
        if (platform->appFolderAccess) result->back = 1;
    }

    i32 inFlight = 0;
    if (!result->back) {
        inFlight = updateFolderHelpPictures(state, platform, &ui->imageSlots);
    } else {
        for (i32 i = 0; i < state->pictureCount; i++) {
            FolderHelpPicture* picture = &state->pictures[i];
            i32 s = pictureStateOf(picture);
            if (s == FolderHelpDecoding) inFlight = 1;
            if (picture->request && fileRequestStatus(picture->request) < FileStatusSuccess) inFlight = 1;
        }
    }
    if (!result->back) return;
    if (inFlight) {
        // Stay until nothing is read or decoded; finished reads that no job uses are let go now.
        result->back = 0;
        for (i32 i = 0; i < state->pictureCount; i++) {
            FolderHelpPicture* picture = &state->pictures[i];
            if (pictureStateOf(picture) == FolderHelpDecoding || !picture->request) continue;
            if (fileRequestStatus(picture->request) >= FileStatusSuccess) releasePictureRequest(picture, platform);
        }
        return;
    }
    for (i32 i = 0; i < state->pictureCount; i++) {
        FolderHelpPicture* picture = &state->pictures[i];
        releasePictureRequest(picture, platform);
        if (ImageSlot* slot = getImageSlot(&ui->imageSlots, picture->imageSlot)) slot->releaseRequested = 1;
        picture->imageSlot = 0;
    }
    std::free(state->pictureBuffer);
    state->pictureBuffer = nullptr;
}
