#include "UiTestSupport.h"

#include <string>

namespace {

ScreenHarness* currentHarness = nullptr;

u64 harnessClock() { return currentHarness ? currentHarness->render.now : 0; }

ScreenStack* allocStack() { return (ScreenStack*)std::calloc(1, sizeof(ScreenStack)); }

void idleScreen(Platform*, ScreenStack*, UiState*, AppState*, ScreenResult*, void*) {}

void screenUpdate(Platform* platform, UiState* ui, AppState* app) {
    if (currentHarness) updateScreen(currentHarness->stack, platform, ui, app);
}

}  // namespace

WidgetBench* makeWidgetBench(f32 width, f32 height) {
    WidgetBench* bench = (WidgetBench*)std::calloc(1, sizeof(WidgetBench));
    bench->stack = allocStack();
    bench->ui = (UiState*)std::calloc(1, sizeof(UiState));
    bench->ui->width = (i32)width;
    bench->ui->height = (i32)height;
    bench->ui->halfWidth = width / 2;
    bench->ui->halfHeight = height / 2;
    bench->ui->screenRect = Rect{0, width, 0, height};
    bench->ui->safeRect = bench->ui->screenRect;
    bench->stack->pointers = bench->pointers;
    bench->stack->now = 1000000;
    f64 threshold = 2 * screenLineHeight(bench->ui);
    bench->stack->dragThresholdSquared = threshold * threshold;
    return bench;
}

void freeWidgetBench(WidgetBench* bench) {
    std::free(bench->stack);
    std::free(bench->ui);
    std::free(bench);
}

void endBenchFrame(WidgetBench* bench, u64 microseconds) {
    resetInputStates(bench->stack, bench->pointers, 0);
    bench->stack->now += microseconds;
}

void benchPress(WidgetBench* bench, i32 slot, f32 x, f32 y) {
    PointerSlot* p = &bench->pointers[slot];
    p->state = PointerPressed;
    p->x = p->pressX = x;
    p->y = p->pressY = y;
    p->pressTime = bench->stack->now;
}

void benchMove(WidgetBench* bench, i32 slot, f32 x, f32 y) {
    bench->pointers[slot].x = x;
    bench->pointers[slot].y = y;
}

void benchRelease(WidgetBench* bench, i32 slot) { bench->pointers[slot].state = PointerPresent; }

bool startScreenHarness(ScreenHarness* harness, i32 width, i32 height, ScreenFunction first) {
    FixedString error = startRenderHarness(&harness->render, width, height);
    if (error.length) return false;
    harness->stack = allocStack();
    harness->stack->clock = harnessClock;
    harness->stack->depth = 1;
    harness->stack->screens[0] = idleScreen;
    currentHarness = harness;
    setHarnessUpdate(&harness->render, screenUpdate);
    // The shader programs and the font come in over the first frames.
    Renderer* renderer = &harness->render.app->renderer;
    for (i32 frame = 0; frame < 300; frame++) {
        bool built = true;
        for (const ShaderProgram& program : renderer->shaders.programs) built = built && program.program != 0;
        if (built && renderer->ui.fontInfo && renderer->ui.assets[AssetFontSdf].state == 2) break;
        screenFrame(harness);
    }
    harness->stack->screens[0] = first;
    return true;
}

void stopScreenHarness(ScreenHarness* harness) {
    stopRenderHarness(&harness->render);
    std::free(harness->stack);
    harness->stack = nullptr;
    if (currentHarness == harness) currentHarness = nullptr;
}

void screenFrame(ScreenHarness* harness, i32 count) { runHarnessFrames(&harness->render, count); }

bool waitForFont(ScreenHarness* harness) {
    for (i32 i = 0; i < 200; i++) {
        UiState* ui = &harness->render.app->renderer.ui;
        if (ui->fontInfo && ui->assets[AssetFontSdf].state == 2) return true;
        screenFrame(harness);
    }
    return false;
}

void touchDown(ScreenHarness* harness, u64 id, f32 x, f32 y) {
    RenderHarness* r = &harness->render;
    touchPointDown(&r->memory->head, r->platform, id, x, (f32)r->height - y, r->now);
}

void touchMove(ScreenHarness* harness, u64 id, f32 x, f32 y) {
    RenderHarness* r = &harness->render;
    touchPointMoved(&r->memory->head, r->platform, id, x, (f32)r->height - y, 0, r->now);
}

void touchUp(ScreenHarness* harness, u64 id) {
    RenderHarness* r = &harness->render;
    for (i32 slot = 1; slot < kPointerSlots; slot++) {
        if (r->memory->head.touchIds[slot] == id && r->platform->pointers[slot].state != PointerAbsent) {
            const PointerSlot* p = &r->platform->pointers[slot];
            touchPointMoved(&r->memory->head, r->platform, id, p->x, (f32)r->height - p->y, 1, r->now);
            return;
        }
    }
}

void mouseClick(ScreenHarness* harness, f32 x, f32 y) {
    harnessMouseMove(&harness->render, x, y + 1);  // the mouse handler counts rows from the top pixel
    harnessMouseButton(&harness->render, KeyMouseLeft, true);
    screenFrame(harness);
    harnessMouseButton(&harness->render, KeyMouseLeft, false);
    screenFrame(harness);
}

void keyTap(ScreenHarness* harness, i32 code) {
    harnessKey(&harness->render, code, true);
    screenFrame(harness);
    harnessKey(&harness->render, code, false);
    screenFrame(harness);
}

const char* testOutputPath(const char* name) {
    static std::string path;
    path = std::string(ORVIK_BINARY_DIR) + "/" + name;
    return path.c_str();
}
