#include "ScreenTestSupport.h"

#include "SourceCommon/UserInterface/UiMetrics.h"
#include "Screens/MainScreen.h"
#include "SourceCommon/Renderer/RendererState.h"
#include "Video/VideoDecoder.h"

namespace {

ScreensHarness* current = nullptr;

u64 testClock() { return current ? current->render.now : 0; }

// The application update's last two steps: UI metrics from the window, then the screen runner.
void screensUpdate(Platform* platform, UiState* ui, AppState* app) {
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    updateScreen(&app->screenStack, platform, ui, app);
}

}  // namespace

bool startScreensHarness(ScreensHarness* harness, i32 width, i32 height) {
    FixedString error = startRenderHarness(&harness->render, width, height);
    if (error.length) return false;
    current = harness;
    harness->app = &harness->render.app->app;
    harness->platform = harness->render.platform;
    harness->ui = &harness->render.app->renderer.ui;
    harness->render.now = 10000000;
    harness->platform->documentsFolderAccess = 1;
    harness->platform->appFolderAccess = 1;
    ScreenStack* stack = &harness->app->screenStack;
    stack->depth = 1;
    stack->screens[0] = mainScreen;
    stack->clock = testClock;
    setHarnessUpdate(&harness->render, screensUpdate);
    Renderer* renderer = &harness->render.app->renderer;
    for (i32 frame = 0; frame < 400; frame++) {
        bool built = true;
        for (const ShaderProgram& program : renderer->shaders.programs) built = built && program.program != 0;
        const UiState* ui = harness->ui;
        bool assetsDone = true;  // loaded or failed, every one
        for (const ImageAsset& asset : ui->assets) assetsDone = assetsDone && asset.state >= 2;
        if (built && ui->fontInfo && assetsDone && ui->assets[AssetLogo].state == 2) return true;
        runHarnessFrame(&harness->render);
    }
    return false;
}

void stopScreensHarness(ScreensHarness* harness) {
    stopRenderHarness(&harness->render);
    if (current == harness) current = nullptr;
}

void frames(ScreensHarness* harness, i32 count) { runHarnessFrames(&harness->render, count); }

void click(ScreensHarness* harness, f32 x, f32 y) {
    harnessMouseMove(&harness->render, x, y);
    frames(harness);
    harnessMouseButton(&harness->render, KeyMouseLeft, true);
    frames(harness);
    harnessMouseButton(&harness->render, KeyMouseLeft, false);
    frames(harness);
}

void tapKey(ScreensHarness* harness, i32 code) {
    harnessKey(&harness->render, code, true);
    frames(harness);
    harnessKey(&harness->render, code, false);
    frames(harness);
}

void sendKeyEvent(ScreensHarness* harness, i32 event) {
    InputState* input = &harness->platform->input;
    if (input->eventCount < kMaxKeyEvents) input->events[input->eventCount++] = event;
    frames(harness);
}

void typeText(ScreensHarness* harness, const char* text) {
    for (const char* c = text; *c; c++) {
        i32 code = *c;
        if (code >= 'a' && code <= 'z') code -= 32;
        if (code == '.') code = 190;  // VK_OEM_PERIOD
        if (code == '-') code = 189;  // VK_OEM_MINUS
        tapKey(harness, code);
    }
}

void wheel(ScreensHarness* harness, f32 x, f32 y, i32 notches) {
    harnessMouseMove(&harness->render, x, y);
    addWheelNotches(harness->platform, notches);
    frames(harness);
}

void moveMouseAway(ScreensHarness* harness) {
    harnessMouseMove(&harness->render, 1, 1);
    frames(harness);
}

const TextRun* shownText(const ScreensHarness* harness, const char* text, bool exact) {
    return findTextRun(harness->render.text, text, exact);
}

bool clickText(ScreensHarness* harness, const char* text, bool exact) {
    const TextRun* run = shownText(harness, text, exact);
    if (!run) return false;
    click(harness, (run->x0 + run->x1) / 2, (run->y0 + run->y1) / 2);
    frames(harness);  // drawn as the click left it
    return true;
}

ScreenFunction topScreen(const ScreensHarness* harness) {
    const ScreenStack* stack = &harness->app->screenStack;
    return stack->depth > 0 ? stack->screens[stack->depth - 1] : nullptr;
}

i32 stackDepth(const ScreensHarness* harness) { return harness->app->screenStack.depth; }

f32 listTextSize(const ScreensHarness* harness) {
    f32 shorter = harness->ui->halfWidth < harness->ui->halfHeight ? harness->ui->halfWidth : harness->ui->halfHeight;
    return shorter / 15 > 22 ? shorter / 15 : 22;
}

f32 rowCentreY(const ScreensHarness* harness, i32 row) {
    f32 rowHeight = 3.2f * listTextSize(harness);
    return (f32)harness->render.height - (row + 0.5f) * rowHeight;
}

std::string outputPath(const char* name) { return std::string(ORVIK_BINARY_DIR) + "/" + name; }

VideoDecoder* testDecoder() {
    static VideoDecoder* decoder = [] {
        VideoDecoder* d = new VideoDecoder{};
        initializeH264Decoder(d);
        return d;
    }();
    return decoder;
}

StillVideo::StillVideo(UiState* ui) : decoder(testDecoder()), pixels(64 * 36 * 4, 0x80) {
    decoder->imageSlotId = (u32)allocImageSlot(pixels.data(), 64, 36, ImageFormatRgba, &ui->imageSlots);
}

StillVideo::~StillVideo() { decoder->imageSlotId = 0; }
