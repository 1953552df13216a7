// The program: reserves its state, sets up the application, starts the worker threads and the window,
// runs one frame per display refresh until the window closes, and ends in order.
#include <atomic>
#include <cstdio>
#include <thread>

#include "Core/Clock.h"
#include "Core/JobQueue.h"
#include "Core/Profiler.h"
#include "Network/Dns.h"
#include "Platform/Audio.h"
#include "Platform/FileThread.h"
#include "Platform/H264Decoder.h"
#include "Platform/ProgramWindow.h"
#include "Platform/SystemInfo.h"
#include "Application/AppUpdate.h"
#include "Application/PreferencesFile.h"
#include "Application/ApplicationMemory.h"
#include "SourceCommon/Renderer/Renderer.h"
#include "Video/VideoDecoder.h"

namespace {

// The sound output's ring and mix buffer; the audio thread runs only when the device opened.
AudioOutput audioOutput;

constexpr u64 alignedSize(u64 size) { return (size + 63) & ~u64(63); }

void updateAndRender(void*, i32 width, i32 height) {
    ByteWriter platformMessage = makeMeasuringWriter();
    updateAndRenderApplication(&globalMemory->platform, globalMemory->application, &globalMemory->head.gl, width,
                               height, 1, &platformMessage, 1);
}

// Complete also means drawn with the user's settings, once their file was read (or found missing).
u32 frameComplete(void*) {
    const ApplicationMemory* memory = globalMemory->application;
    return memory->renderer.frameComplete && memory->app.preferencesState.loaded;
}

// The video decode worker starts with the decoder, once the library has loaded.
std::thread videoWorker;

void openVideoDecoder(void*) {
    VideoDecoder* decoder = globalMemory->head.videoDecoder;
    initializeH264Decoder(decoder);
    if (!decoder->ready) return;
    attachVideoDecodeWorker(decoder);
    videoWorker = std::thread([decoder] { runVideoDecodeWorker(decoder); });
}

}  // namespace

int main(int, char**) {
    readProgramEnvironment();
    enterProfilingRegionChecked("Main Setup");
    u64 stateSize = alignedSize(sizeof(WindowsAndApplicationMemory));
    u64 decoderSize = alignedSize(sizeof(VideoDecoder));
    u64 applicationSize = alignedSize(sizeof(ApplicationMemory));
    u64 blockSize = stateSize + decoderSize + applicationSize + (u64)kScratchSize;
    u8* block = reserveProgramBlock(blockSize);
    if (!block) return -1;
    globalMemory = (WindowsAndApplicationMemory*)block;
    WindowHead* head = &globalMemory->head;
    Platform* platform = &globalMemory->platform;
    head->videoDecoder = (VideoDecoder*)(block + stateSize);
    globalMemory->application = (ApplicationMemory*)(block + stateSize + decoderSize);
    platform->scratch = block + stateSize + decoderSize + applicationSize;

    // The renderer queues its first reads and a thread of its own decodes the font atlas while SDL and
    // the GL driver start: the first frame finds both ready.
    globalMemory->application->glslHeader = makeString("#version 330 core\n");
    setUpApplicationMemory(globalMemory->application);
    Renderer* renderer = &globalMemory->application->renderer;
    prepareRenderer(platform, renderer, globalMemory->application->imageMemory, globalMemory->application->glslHeader);
    std::thread fontWorker([renderer, platform] { decodeFontAtlasFromResources(renderer, platform->scratch, kScratchSize); });

    std::thread driverWorker;
    if (!startWindowSystem(&driverWorker)) {
        fontWorker.join();
        return 1;
    }

    platform->documentsFolderAccess = 1;
    platform->appFolderAccess = 1;
    platform->blockSize = blockSize;
    platform->applicationSize = applicationSize;
    platform->jobQueue.running = &head->running;

    if (readSystemDnsServers(&platform->dnsServers) == 0) setDefaultDnsServers(&platform->dnsServers);
    readDataFolder(platform);
    readSystemStrings(platform);
    requestPreferencesFile(&globalMemory->application->app.preferencesState, platform);

    // The file thread serves the renderer's first reads while the window opens. It has a running flag
    // of its own: it is cleared only once the last frame's saves are queued.
    setRunning(head, 1);
    u32 fileThreadRunning = 1;
    std::thread fileWorker([platform, &fileThreadRunning] { runFileThread(platform, &fileThreadRunning); });
    std::thread jobWorker([queue = &platform->jobQueue] { asyncJobThread(queue); });

    void* window = openProgramWindow();
    driverWorker.join();
    if (!window) {
        setRunning(head, 0);
        std::atomic_ref<u32>(fileThreadRunning).store(0, std::memory_order_release);
        jobWorker.join();
        fileWorker.join();
        fontWorker.join();
        freeFileThreadBuffers(platform);
        releaseRendererBuffers(renderer);
        closeWindowSystem(head);
        return 1;
    }
    platform->soundSystemError = openAudioOutput(&audioOutput);
    bool soundOpen = platform->soundSystemError.length == 0;

    head->window = window;
    std::thread audioWorker;
    if (soundOpen) {
        SoundMixer* sound = &globalMemory->application->app.sound;
        audioWorker = std::thread([head, sound] { audioThread(&audioOutput, sound, head); });
    }
    fontWorker.join();
    exitProfilingRegion("Main Setup");
    markProgramSetUpDone();

    ProgramFrameHooks hooks{nullptr, updateAndRender, frameComplete, openVideoDecoder, loadOpenGlFunctions};
    runMainLoop(head, platform, &hooks);

    // A preference changed in the last frame is queued before the file thread finishes its jobs.
    finishApp(platform, &globalMemory->application->app);
    std::atomic_ref<u32>(fileThreadRunning).store(0, std::memory_order_release);
    printProfilingReport(&globalProfiler);
    jobWorker.join();
    if (audioWorker.joinable()) audioWorker.join();
    closeAudioOutput(&audioOutput);
    fileWorker.join();
    freeFileThreadBuffers(platform);
    releaseRendererBuffers(&globalMemory->application->renderer);
    if (videoWorker.joinable()) {
        stopVideoDecodeWorker(head->videoDecoder);
        videoWorker.join();
    }
    closeVideoDecoder(head->videoDecoder);
    closeWindowSystem(head);
    return 0;
}
