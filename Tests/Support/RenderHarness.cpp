#include "Support/RenderHarness.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Decoders/Png.h"
#include "Support/DrawnText.h"
#include "Platform/FileThread.h"
#include "SourceCommon/Renderer/GlConstants.h"

namespace {

void* eglLookup(const char* name) { return (void*)eglGetProcAddress(name); }

u64 alignedSize(u64 size) { return (size + 4095) & ~u64(4095); }

void bindHarnessFramebuffer(RenderHarness* harness) {
    harness->gl.glBindFramebuffer(kGlFramebuffer, harness->framebuffer);
}

RenderHarness* activeHarness = nullptr;

// The installed update, then the text capture.
void harnessUpdate(Platform* platform, UiState* ui, AppState* app) {
    if (!activeHarness) return;
    if (activeHarness->update) activeHarness->update(platform, ui, app);
    if (activeHarness->captureText) activeHarness->text = drawnTextRuns(ui);
}

}  // namespace

FixedString startRenderHarness(RenderHarness* harness, i32 width, i32 height) {
    *harness = RenderHarness{};
    harness->width = width;
    harness->height = height;
    harness->runFilePasses = 1;
    harness->now = 1000000;

    auto getPlatformDisplay = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
    if (!getPlatformDisplay) return makeString("EGL has no eglGetPlatformDisplayEXT");
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) return makeString("No surfaceless EGL display");
    harness->display = display;
    if (!eglBindAPI(EGL_OPENGL_API)) return makeString("EGL cannot bind OpenGL");
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config;
    EGLint configs = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1) {
        return makeString("No EGL configuration for OpenGL");
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_CONTEXT_OPENGL_DEBUG, EGL_TRUE, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) return makeString("No OpenGL 4.3 core context");
    harness->context = context;
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) return makeString("Context not current");
    loadOpenGlFunctions(&harness->gl, eglLookup);

    GlFunctionTable* gl = &harness->gl;
    gl->glGenFramebuffers(1, &harness->framebuffer);
    gl->glBindFramebuffer(kGlFramebuffer, harness->framebuffer);
    gl->glGenRenderbuffers(1, &harness->colorBuffer);
    gl->glBindRenderbuffer(kGlRenderbuffer, harness->colorBuffer);
    gl->glRenderbufferStorage(kGlRenderbuffer, kGlRgba8, width, height);
    gl->glFramebufferRenderbuffer(kGlFramebuffer, kGlColorAttachment0, kGlRenderbuffer, harness->colorBuffer);
    gl->glGenRenderbuffers(1, &harness->depthBuffer);
    gl->glBindRenderbuffer(kGlRenderbuffer, harness->depthBuffer);
    gl->glRenderbufferStorage(kGlRenderbuffer, kGlDepthComponent24, width, height);
    gl->glFramebufferRenderbuffer(kGlFramebuffer, kGlDepthAttachment, kGlRenderbuffer, harness->depthBuffer);
    if (gl->glCheckFramebufferStatus(kGlFramebuffer) != kGlFramebufferComplete) return makeString("Framebuffer incomplete");

    // The state block as start-up lays it out: the platform's records, the application memory and
    // the scratch area, all zero-filled.
    harness->applicationBytes = alignedSize(sizeof(ApplicationMemory));
    u64 total = alignedSize(sizeof(WindowsAndApplicationMemory)) + harness->applicationBytes + alignedSize(kScratchSize);
    void* block = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (block == MAP_FAILED) return makeString("No memory for the state block");
    harness->memory = (WindowsAndApplicationMemory*)block;
    harness->app = (ApplicationMemory*)((u8*)block + alignedSize(sizeof(WindowsAndApplicationMemory)));
    harness->memory->application = harness->app;
    harness->platform = &harness->memory->platform;
    harness->platform->scratch = (u8*)harness->app + harness->applicationBytes;
    harness->platform->blockSize = total;
    harness->platform->applicationSize = harness->applicationBytes;
    harness->memory->head.glReady = 1;
    harness->memory->head.clientHeight = height;
    harness->app->glslHeader = makeString("#version 330 core\n");
    harness->fileThreadState = new FileThreadState{};
    // Frames draw only what the test puts in the batches until it installs an update (null: the
    // application's own, which runs the screens and draws their widgets).
    harness->app->renderer.update = harnessUpdate;
    activeHarness = harness;
    globalMemory = harness->memory;
    return FixedString{};
}

void stopRenderHarness(RenderHarness* harness) {
    if (harness->memory) {
        // Requests still open hold buffers of the file layer.
        freeFileTableBuffers(&harness->platform->resourceReads);
        for (i32 i = 0; i < kAssetLoadsAtOnce; i++) discardAssetLoadBuffer(&harness->app->renderer.assetLoads[i]);
        if (harness->fileThreadState) {
            finishFileThread((FileThreadState*)harness->fileThreadState);
            delete (FileThreadState*)harness->fileThreadState;
        }
        if (globalMemory == harness->memory) globalMemory = nullptr;
        if (activeHarness == harness) activeHarness = nullptr;
        munmap(harness->memory, harness->platform->blockSize);
    }
    if (harness->context) {
        GlFunctionTable* gl = &harness->gl;
        gl->glDeleteRenderbuffers(1, &harness->colorBuffer);
        gl->glDeleteRenderbuffers(1, &harness->depthBuffer);
        gl->glDeleteFramebuffers(1, &harness->framebuffer);
        eglMakeCurrent((EGLDisplay)harness->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext((EGLDisplay)harness->display, (EGLContext)harness->context);
    }
    if (harness->display) eglTerminate((EGLDisplay)harness->display);
    *harness = RenderHarness{};
}

void setHarnessUpdate(RenderHarness* harness, ApplicationUpdateFunction update) {
    harness->update = update ? update : updateApp;
}

void runHarnessFilePass(RenderHarness* harness) {
    runFileThreadPass((FileThreadState*)harness->fileThreadState, harness->platform);
}

void runHarnessFrame(RenderHarness* harness) {
    if (harness->runFilePasses) runHarnessFilePass(harness);
    bindHarnessFramebuffer(harness);
    WindowHead* head = &harness->memory->head;
    prepareFrameInputs(head, harness->platform, harness->height);
    ByteWriter platformMessage = makeMeasuringWriter();
    updateAndRenderApplication(harness->platform, harness->app, &harness->gl, harness->width, harness->height, 1, &platformMessage, 1);
    finishFrameInputs(head, harness->platform);
    harness->gl.glFinish();
    harness->frameCount++;
    harness->now += 16667;
}

void runHarnessFrames(RenderHarness* harness, i32 count) {
    for (i32 i = 0; i < count; i++) runHarnessFrame(harness);
}

void harnessMouseMove(RenderHarness* harness, f32 x, f32 y) {
    WindowHead* head = &harness->memory->head;
    i32 left = isKeyDown(&harness->platform->input, KeyMouseLeft) ? 1 : 0;
    i32 right = isKeyDown(&harness->platform->input, KeyMouseRight) ? 1 : 0;
    // The window system counts rows from the top; the handler turns them into rows from the bottom.
    mouseMoved(head, harness->platform, (i32)x, (i32)((f32)harness->height - 1 - y), left, right, harness->now);
}

void harnessMouseButton(RenderHarness* harness, i32 keyCode, bool down) {
    mouseButtonChanged(&harness->memory->head, harness->platform, keyCode, down ? 1 : 0, harness->now);
}

void harnessKey(RenderHarness* harness, i32 keyCode, bool down) {
    setKeyState(keyCode, &harness->platform->input, down ? 1 : 0);
}

void harnessTouchDown(RenderHarness* harness, u64 id, f32 x, f32 y) {
    touchPointDown(&harness->memory->head, harness->platform, id, x, (f32)harness->height - y, harness->now);
}

void harnessTouchMove(RenderHarness* harness, u64 id, f32 x, f32 y, bool up) {
    touchPointMoved(&harness->memory->head, harness->platform, id, x, (f32)harness->height - y, up ? 1 : 0, harness->now);
}

u32 harnessPixel(RenderHarness* harness, i32 x, i32 y) {
    u8 rgba[4] = {};
    bindHarnessFramebuffer(harness);
    harness->gl.glPixelStorei(kGlPackAlignment, 1);
    harness->gl.glReadPixels(x, y, 1, 1, kGlRgba, kGlUnsignedByte, rgba);
    return (u32)rgba[0] | (u32)rgba[1] << 8 | (u32)rgba[2] << 16 | (u32)rgba[3] << 24;
}

void readHarnessPixels(RenderHarness* harness, u8* rgba) {
    i64 rowBytes = (i64)harness->width * 4;
    bindHarnessFramebuffer(harness);
    harness->gl.glPixelStorei(kGlPackAlignment, 1);
    harness->gl.glReadPixels(0, 0, harness->width, harness->height, kGlRgba, kGlUnsignedByte, rgba);
    // GL rows start at the bottom; images start at the top.
    u8* row = (u8*)std::malloc(rowBytes);
    for (i32 y = 0; y < harness->height / 2; y++) {
        u8* a = rgba + y * rowBytes;
        u8* b = rgba + (harness->height - 1 - y) * rowBytes;
        std::memcpy(row, a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, row, rowBytes);
    }
    std::free(row);
}

FixedString writeHarnessPng(RenderHarness* harness, const char* path) {
    i64 pixelBytes = (i64)harness->width * harness->height * 4;
    u8* pixels = (u8*)std::malloc(pixelBytes);
    readHarnessPixels(harness, pixels);
    FixedString result{};
    ByteWriter measure = makeMeasuringWriter();
    encodePng(&result, pixels, harness->width, harness->height, 1, 4, 4, &measure);
    if (result.length == 0) {
        u8* bytes = (u8*)std::malloc(measure.length);
        ByteWriter writer = makeByteWriter(bytes, measure.length);
        encodePng(&result, pixels, harness->width, harness->height, 1, 4, 4, &writer);
        if (result.length == 0) {
            FILE* file = std::fopen(path, "wb");
            if (!file || std::fwrite(bytes, 1, writer.length, file) != (size_t)writer.length) result = makeString("Could not write the PNG file");
            if (file) std::fclose(file);
        }
        std::free(bytes);
    }
    std::free(pixels);
    return result;
}

bool harnessLogContains(RenderHarness* harness, const char* text) {
    const ByteWriter* log = &harness->app->renderer.ui.rendererLog;
    std::string all((const char*)log->data, (size_t)log->length);
    return all.find(text) != std::string::npos;
}

FixedString harnessLogLine(RenderHarness* harness, const char* containing) {
    const ByteWriter* log = &harness->app->renderer.ui.rendererLog;
    std::string all((const char*)log->data, (size_t)log->length);
    size_t at = all.find(containing);
    if (at == std::string::npos) return FixedString{};
    size_t start = all.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    return stringFromBytes(all.data() + start, (i64)(end - start));
}
