// The program's own frames while it works through large files: it opens a long flight log in the
// View Flight Log screen, plays it at 1x and 30x and exports it; and it reads a 10 MB KMZ into the
// drawing editor. The application update (screens, flight-log list, exports, KMZ import) runs at 60
// frames a second with the program's file thread and job worker under it, and the screens' texts
// are laid out into the frame's batches (nothing is drawn: no GL). The log is written first by the
// program's own flight-log writer on simulated clocks: a PX4 vehicle's telemetry 50 times a second,
// a camera-protocol camera that records a third of the flight and takes a photo every 2 s, a gimbal,
// an Orvik payload that drops, the station's own messages and an augmented position with every
// position; the KMZ by the program's own KML and zip writers (nine drawings of 20,000 points, just under the 10,000,000 bytes the editor reads). Per
// phase: the longest frame (wall and processor time of the update) and the processor time of the
// whole process (every thread, and the job worker's and the file thread's of it) from the phase's
// first frame until its work is done.
//
// The same source builds against an older tree (only what both have is used), so that
// Benchmarks/compare_with_base.sh can run the code before a change beside the code after it, on the
// same files. ORVIK_BENCH_HOME names the folder whose Documents hold them; they are written once.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AppState/AppState.h"
#include "Application/AppUpdate.h"
#include "Core/Format.h"
#include "Core/JobQueue.h"
#include "Decoders/Zip.h"
#include "FlightLogs/FlightLogSession.h"
#include "KmzEditor/KmzExport.h"
#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "Platform/FileThread.h"
#include "Platform/SystemInfo.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlightLogsScreen.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

constexpr i32 kWidth = 1920;
constexpr i32 kHeight = 1080;
constexpr i64 kFrameMicros = 16667;
constexpr i64 kStartUtcMs = 13410000000000;  // ms since 1601: December 2025
constexpr u32 kKmzDrawingPoints = 20000;
constexpr i32 kKmzDrawings = 9;

i64 wallMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
i64 threadMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (i64)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}
i64 threadMicros(std::thread* thread) {
    clockid_t clock;
    timespec t{};
    if (pthread_getcpuclockid(thread->native_handle(), &clock) != 0 || clock_gettime(clock, &t) != 0) return 0;
    return (i64)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}
i64 processMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (i64)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec + (i64)usage.ru_stime.tv_sec * 1000000 +
           usage.ru_stime.tv_usec;
}

// ---------------------------------------------------------------------------------------------------
// The log, written by the program's flight-log writer.

i64 simulatedMicros = 0;
u64 writerMicros() { return (u64)simulatedMicros; }
i64 writerUtc() { return kStartUtcMs + simulatedMicros / 1000; }
i64 writerZoneOffset() { return 0; }

struct Datagram {
    u8 bytes[2048];
    ByteWriter out;
    u8 sequence = 0;
    Datagram() { out = makeByteWriter(bytes, sizeof(bytes)); }
    void reset() { out.length = 0; }
    void frame(u16 source, u32 id, const void* payload, i64 length) {
        LengthFieldMark mark = beginMavlinkPacket(&out, &sequence, source, id, id > 255);
        appendBytes(payload, length, &out);
        finishMavlinkPacket(&mark, &out);
    }
};

void put32(u8* p, u32 v) { std::memcpy(p, &v, 4); }
void putF(u8* p, f32 v) { std::memcpy(p, &v, 4); }

// The payload's status frame with its drop counters, inside ENCAPSULATED_DATA.
void orvikStatus(Datagram* d, i16 dropsA, u8 dropping) {
    u8 frame[64];
    u8 frameSequence = 1;
    ByteWriter w = makeByteWriter(frame, sizeof(frame));
    LengthFieldMark mark = beginPayloadFrame(&frameSequence, PayloadFrameOrvikStatus, &w);
    u8 body[27] = {2, (u8)(dropsA >> 8), (u8)dropsA, 0, 0, dropping};
    appendBytes(body, sizeof(body), &w);
    finishPayloadFrame(&mark, &w);
    u8 encapsulated[255] = {};
    std::memcpy(encapsulated, frame, (size_t)w.length);
    d->frame(0x0119, MavlinkEncapsulatedData, encapsulated, 255);
}

// Logs a flight of about `megabytes` MB into the data folder; the file's path.
std::string writeLog(Platform* platform, i64 megabytes) {
    FlightLogger* logger = (FlightLogger*)std::calloc(1, sizeof(FlightLogger));
    Preferences* preferences = (Preferences*)std::calloc(1, sizeof(Preferences));
    logger->fileJobs = &platform->fileJobs;
    logger->clocks.microseconds = writerMicros;
    logger->clocks.utcMilliseconds = writerUtc;
    logger->clocks.timeZoneOffsetMs = writerZoneOffset;
    u8 installation[32] = {1, 2, 3, 4};
    simulatedMicros = 1000000;
    updateFlightLogger(logger, installation, platform, preferences, 1, 1);
    std::string path = std::string(platform->dataFolder.text) + logger->logFileName.text;
    Datagram d;
    u8 p[255];
    // Just under the size the flight-log list reads (300,000,000 bytes for the largest).
    i64 target = megabytes * 997000;
    i64 tick = 0;
    i16 drops = 0;
    for (; (i64)(logger->bytes + 13 * logger->entries) < target; tick++) {
        simulatedMicros += 20000;  // 50 datagrams a second
        i64 second = tick / 50;
        d.reset();
        std::memset(p, 0, sizeof(p));
        put32(p, (u32)(tick * 20));
        putF(p + 4, 0.1f * std::sin(tick * 0.001f));
        putF(p + 8, 0.05f * std::cos(tick * 0.0013f));
        putF(p + 12, (f32)std::fmod(tick * 0.0005, 6.28));
        d.frame(0x0101, MavlinkAttitude, p, 28);
        d.frame(0x0101, 31, p, 32);   // ATTITUDE_QUATERNION
        d.frame(0x0101, 105, p, 62);  // HIGHRES_IMU
        bool position = tick % 5 == 0;
        i32 lat = 473977420 + (i32)(tick % 40000), lon = 85455940 + (i32)(tick % 60000) / 2, relative = 60000;
        if (position) {
            std::memset(p, 0, 28);
            put32(p, (u32)(tick * 20));
            put32(p + 4, (u32)lat);
            put32(p + 8, (u32)lon);
            put32(p + 12, 480000);
            put32(p + 16, (u32)relative);
            d.frame(0x0101, MavlinkGlobalPositionInt, p, 28);
            std::memset(p, 0, 40);
            putF(p + 4, std::cos(tick * 0.0002f));
            putF(p + 16, std::sin(tick * 0.0002f));
            d.frame(0x019A, 285, p, 40);  // GIMBAL_DEVICE_ATTITUDE_STATUS
        }
        if (tick % 50 == 0) {
            u8 heartbeat[9] = {0, 0, 0x04, 0x04, 2, 12, 0x81, 4, 3};  // PX4 quadrotor in a mission, armed
            d.frame(0x0101, MavlinkHeartbeat, heartbeat, 9);
            u8 extended[2] = {0, 2};  // in the air
            d.frame(0x0101, 245, extended, 2);
            std::memset(p, 0, 43);
            d.frame(0x0101, MavlinkSysStatus, p, 31);
            d.frame(0x0101, MavlinkGpsRawInt, p, 30);
            u8 camera[9] = {0, 0, 0, 0, 30, 8, 0, 4, 3};
            d.frame(0x0164, MavlinkHeartbeat, camera, 9);
            if (second % 5 == 0) {
                u8 information[235] = {};
                std::memcpy(information + 30, "Sony", 4);
                d.frame(0x0164, 259, information, 235);
            }
            // The camera records in the middle third of the flight.
            i64 seconds = target / 10000;  // about 10 kB a second
            std::memset(p, 0, 47);
            p[17] = second > seconds / 3 && second < 2 * seconds / 3;
            put32(p + 8, (u32)(second * 1000));
            d.frame(0x0164, 262, p, 47);  // CAMERA_CAPTURE_STATUS
        }
        if (tick % 100 == 7) {
            std::memset(p, 0, 255);
            std::memcpy(p + 50, "IMG_0042.JPG", 12);
            d.frame(0x0164, 263, p, 255);  // CAMERA_IMAGE_CAPTURED
        }
        if (tick % 25 == 3) {
            u8 dropping = (second / 60) % 4 == 1;
            if (dropping && tick % 50 == 3) drops++;
            orvikStatus(&d, drops, dropping);
        }
        addFlightLogEntry(logger, simulatedMicros, FlightLogReceivedFromDrone, d.bytes, d.out.length);
        if (position) {
            u8 augmented[36];
            f64 place[2] = {lat / 1e7, lon / 1e7};
            f32 heights[5] = {relative / 1000.0f, 420.0f, 60.0f, 480.0f, 481.0f};
            std::memcpy(augmented, place, 16);
            std::memcpy(augmented + 16, heights, 20);
            addFlightLogEntry(logger, simulatedMicros + 1000, FlightLogAugmentedPosition, augmented, 36);
        }
        if (tick % 50 == 25) {
            Datagram sent;
            u8 gcs[9] = {0, 0, 0, 0, 6, 8, 0xC0, 4, 3};
            sent.frame(0xFFBE, MavlinkHeartbeat, gcs, 9);
            addFlightLogEntry(logger, simulatedMicros, FlightLogSentToDrone, sent.bytes, sent.out.length);
            updateFlightLogger(logger, installation, platform, preferences, 1, 0);
            // The file thread keeps up; the writer waits rather than refuse entries.
            while (hasUnfinishedFileJobs(&platform->fileJobs) && logger->bufferFill > kFlightLogBufferBytes / 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    updateFlightLogger(logger, installation, platform, preferences, 0, 0);
    while (logger->bufferFill || hasUnfinishedFileJobs(&platform->fileJobs)) {
        updateFlightLogger(logger, installation, platform, preferences, 0, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (logger->refusedEntries) std::fprintf(stderr, "the writer refused %llu entries\n", (unsigned long long)logger->refusedEntries);
    std::free(preferences);
    std::free(logger);
    return path;
}

// ---------------------------------------------------------------------------------------------------
// The program: its state, its two worker threads and its frames.

struct Program {
    Platform* platform = nullptr;
    AppState* app = nullptr;
    UiState* ui = nullptr;
    WindowHead head{};
    std::vector<u8> font;
    u32 running = 0;
    std::thread fileThread;
    std::thread jobWorker;
    i64 nextFrame = 0;
    // The phase being measured.
    i64 longestWall = 0;
    i64 longestCpu = 0;
    i64 frames = 0;
};

void startProgram(Program* program) {
    program->platform = (Platform*)std::calloc(1, sizeof(Platform));
    program->app = (AppState*)std::calloc(1, sizeof(AppState));
    program->ui = (UiState*)std::calloc(1, sizeof(UiState));
    Platform* platform = program->platform;
    readDataFolder(platform);
    platform->documentsFolderAccess = 1;
    platform->appFolderAccess = 1;
    platform->pathSeparator = '/';
    UiState* ui = program->ui;
    ui->width = kWidth;
    ui->height = kHeight;
    ui->halfWidth = kWidth / 2.0f;
    ui->halfHeight = kHeight / 2.0f;
    ui->screenRect = Rect{0, (f32)kWidth, 0, (f32)kHeight};
    ui->safeRect = ui->screenRect;
#ifdef ORVIK_SOURCE_DIR
    std::ifstream fontFile(ORVIK_SOURCE_DIR "/Assets/FONT_SDF_INFO.BIN", std::ios::binary);
    program->font.assign(std::istreambuf_iterator<char>(fontFile), std::istreambuf_iterator<char>());
#endif
    ui->fontInfo = program->font.empty() ? nullptr : program->font.data();
    program->running = 1;
    platform->jobQueue.running = &program->running;
    program->fileThread = std::thread([program] { runFileThread(program->platform, &program->running); });
    program->jobWorker = std::thread([program] { asyncJobThread(&program->platform->jobQueue); });
}

void stopProgram(Program* program) {
    __atomic_store_n(&program->running, 0u, __ATOMIC_RELEASE);
    program->fileThread.join();
    program->jobWorker.join();
    freeFileThreadBuffers(program->platform);
}

void resetBatches(UiState* ui) {
    DrawBatches* b = &ui->batches;
    b->colored3d.vertexCount = b->colored3d.triangleCount = 0;
    b->line3d.vertexCount = b->line3d.triangleCount = 0;
    b->colored2d.vertexCount = b->colored2d.triangleCount = 0;
    b->coloredRectUnder.vertexCount = b->coloredRectUnder.triangleCount = 0;
    b->coloredRect.vertexCount = b->coloredRect.triangleCount = 0;
    b->line2dUnder.vertexCount = b->line2dUnder.triangleCount = 0;
    b->line2d.vertexCount = b->line2d.triangleCount = 0;
    b->textured2dUnder.triangleCount = b->textured2dMiddle.triangleCount = b->textured2d.triangleCount = 0;
    b->texturedPerspective.count = 0;
    b->sdf.quadCount = 0;
}

// One frame at the display's pace: the input turn-over and the application update, measured.
void frame(Program* program) {
    i64 now = wallMicros();
    if (program->nextFrame > now) std::this_thread::sleep_for(std::chrono::microseconds(program->nextFrame - now));
    program->nextFrame = (program->nextFrame > now ? program->nextFrame : now) + kFrameMicros;
    i64 wall = wallMicros(), cpu = threadMicros();
    prepareFrameInputs(&program->head, program->platform, kHeight);
    resetBatches(program->ui);
    updateApp(program->platform, program->ui, program->app);
    finishFrameInputs(&program->head, program->platform);
    wall = wallMicros() - wall;
    cpu = threadMicros() - cpu;
    if (wall > program->longestWall) program->longestWall = wall;
    if (cpu > program->longestCpu) program->longestCpu = cpu;
    program->frames++;
}

void click(Program* program, f32 x, f32 y) {
    u64 now = (u64)wallMicros();
    mouseMoved(&program->head, program->platform, (i32)x, (i32)(kHeight - 1 - y), 0, 0, now);
    frame(program);
    mouseButtonChanged(&program->head, program->platform, KeyMouseLeft, 1, now);
    frame(program);
    mouseButtonChanged(&program->head, program->platform, KeyMouseLeft, 0, now);
    frame(program);
}

struct PhaseResult {
    f64 cpuSeconds;        // every thread of the process
    f64 workerCpuSeconds;  // the job worker's (the flight-log work on the job ring)
    f64 fileCpuSeconds;    // the file thread's
    f64 wallSeconds;
    f64 longestFrameMs;
    f64 longestFrameCpuMs;
    i64 frames;
};

// Frames until done() (at most limitFrames; a phase that never ends is reported as such).
struct PhaseStart {
    i64 cpu, worker, file, wall;
};

PhaseStart startPhase(Program* program) {
    program->longestWall = program->longestCpu = program->frames = 0;
    return PhaseStart{processMicros(), threadMicros(&program->jobWorker), threadMicros(&program->fileThread),
                      wallMicros()};
}

PhaseResult endPhase(Program* program, const PhaseStart* start) {
    return PhaseResult{(processMicros() - start->cpu) / 1e6,
                       (threadMicros(&program->jobWorker) - start->worker) / 1e6,
                       (threadMicros(&program->fileThread) - start->file) / 1e6,
                       (wallMicros() - start->wall) / 1e6,
                       program->longestWall / 1e3,
                       program->longestCpu / 1e3,
                       program->frames};
}

template <typename Done>
PhaseResult runPhase(Program* program, Done done, i64 limitFrames = 100000) {
    PhaseStart start = startPhase(program);
    while (!done() && program->frames < limitFrames) frame(program);
    return endPhase(program, &start);
}

ViewFlightLogState* viewer(Program* program) { return (ViewFlightLogState*)program->app->screenStack.screenState; }
ScreenFunction topScreen(Program* program) {
    const ScreenStack* stack = &program->app->screenStack;
    return stack->screens[stack->depth - 1];
}

void report(benchmark::State& state, const char* phase, const PhaseResult& result) {
    std::string name(phase);
    state.counters[name + "_cpu_s"] = result.cpuSeconds;
    state.counters[name + "_longest_frame_ms"] = result.longestFrameMs;
    state.counters[name + "_worker_cpu_s"] = result.workerCpuSeconds;
    std::printf("  %-13s cpu %6.3f s (job worker %6.3f, file thread %6.3f)   wall %7.3f s   frames %6lld   "
                "longest frame %8.1f ms (%.1f ms cpu)\n",
                phase, result.cpuSeconds, result.workerCpuSeconds, result.fileCpuSeconds, result.wallSeconds,
                (long long)result.frames, result.longestFrameMs, result.longestFrameCpuMs);
    std::fflush(stdout);
}

// An export row of the viewer's Export panel, counted from the top (the photo row, the recordings'
// rows in developer mode, then the flight paths): clicked, then frames until its file is written.
PhaseResult exportRow(Program* program, i32 row) {
    AppState* app = program->app;
    viewer(program)->openPanel = ViewerPanelExport;
    frame(program);
    app->flightLogExportProgress = FileJobResult{};
    f32 shorter = kWidth < kHeight ? kWidth / 2.0f : kHeight / 2.0f;
    f32 rowHeight = 3.2f * (shorter / 15 > 22 ? shorter / 15 : 22);
    f32 top = kHeight - app->uiMetrics.buttonHeight;
    PhaseStart start = startPhase(program);
    click(program, kWidth * 0.75f, top - (row + 0.5f) * rowHeight);
    while ((fileJobStatus(&app->flightLogExportProgress) < FileStatusSuccess || app->flightLogExportProgress.size == 0) &&
           program->frames < 100000) {
        frame(program);
    }
    if (app->flightLogExportProgress.status != FileStatusSuccess) std::fprintf(stderr, "export row %d failed\n", row);
    return endPhase(program, &start);
}

void ViewFlightLogFrames(benchmark::State& state) {
    i64 megabytes = state.range(0);
    // The viewer's map would fetch tiles: the program runs without a network.
    if (unshare(CLONE_NEWNET) != 0) std::printf("no network namespace of its own: the map may reach the network\n");
    const char* home = std::getenv("ORVIK_BENCH_HOME");
    std::string folder = home ? home : "/tmp/orvik-flight-log-frames";
    std::filesystem::create_directories(folder + "/Documents/Tarnwick/Flight Logs");
    setenv("HOME", folder.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    Program* program = new Program;
    startProgram(program);
    std::string logs = folder + "/Documents/Tarnwick/Flight Logs";
    std::string name = "flight_log_" + std::to_string(megabytes) + "mb.qvlog3";
    if (!std::filesystem::exists(logs + "/" + name)) {
        std::string written = writeLog(program->platform, megabytes);
        std::filesystem::rename(written, logs + "/" + name);
    }
    for (auto _ : state) {
        AppState* app = program->app;
        for (i32 i = 0; i < 30; i++) frame(program);  // the first frame and the preferences
        app->preferences.developerMode = 1;
        // The Flight Logs screen with the log chosen, as its "View" button leaves it.
        ScreenStack* stack = &app->screenStack;
        stack->screens[stack->depth++] = flightLogsScreen;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
        frame(program);
        ((FlightLogsScreenState*)stack->screenState)->chosenLog = makeString(name.c_str());
        std::printf("%lld MB log:\n", (long long)megabytes);
        std::fflush(stdout);
        PhaseResult open = runPhase(program, [&] {
            return topScreen(program) == viewFlightLogScreen && viewer(program)->isInitialised;
        });
        report(state, "open", open);
        if (topScreen(program) != viewFlightLogScreen) {
            state.SkipWithError("the log did not open");
            break;
        }
        report(state, "play_1x", runPhase(program, [] { return false; }, 300));
        pressPlaybackButton(viewer(program), ViewerFastForward30, &app->flightLogList.index, &app->flightLogReplay,
                            (u64)wallMicros());
        report(state, "play_30x", runPhase(program, [] { return false; }, 300));
        viewer(program)->isPlaying = 0;
        u32 recordings = viewer(program)->recordingCount;
        report(state, "export_photo", exportRow(program, 0));
        report(state, "export_fmv", exportRow(program, 1));
        report(state, "export_gpx", exportRow(program, 1 + (i32)recordings));
        state.SetIterationTime(open.wallSeconds);
    }
    stopProgram(program);
}
BENCHMARK(ViewFlightLogFrames)->Arg(300)->Arg(100)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Drawings of 20,000 points in polylines and 600 markers each, as KML documents in one stored zip
// archive; *lastSum is the sum of the last drawing's x coordinates.
std::vector<u8> largeKmz(f64* lastSum) {
    KmzEditor* editor = (KmzEditor*)std::calloc(1, sizeof(KmzEditor));
    std::vector<std::vector<u8>> documents;
    std::mt19937 random(3);
    std::uniform_real_distribution<f64> across(-0.05, 0.05), step(-0.0001, 0.0001);
    for (i32 d = 0; d < kKmzDrawings; d++) {
        std::memset((void*)editor, 0, sizeof(*editor));
        editor->lineEnd = -1;
        u32 point = 0, line = 0;
        for (u32 polyline = 0; point < kKmzDrawingPoints; ++polyline) {
            Vec2 at{across(random), across(random)};
            for (u32 k = 0; k <= 100 && point < kKmzDrawingPoints; ++k, ++point) {
                editor->points[point] = KmzPoint{at.x, at.y};
                editor->pointColor[point] = (u8)(polyline % 7);
                editor->pointUsed[point >> 6] |= 1ull << (point & 63);
                if (k > 0) {
                    editor->lines[line] = KmzLine{point - 1, point, polyline % 7};
                    editor->lineUsed[line >> 6] |= 1ull << (line & 63);
                    ++line;
                }
                at = Vec2{at.x + step(random), at.y + step(random)};
            }
        }
        for (u32 m = 0; m < 600; ++m) {
            editor->markers[m] = KmzMarker{across(random), across(random), m, m % 5};
            editor->markerUsed[m >> 6] |= 1ull << (m & 63);
        }
        *lastSum = 0;
        for (u32 p = 0; p < point; ++p) *lastSum += editor->points[p].x;
        ByteWriter measure = makeMeasuringWriter();
        writeKmzDocument(editor, &measure);
        documents.emplace_back((size_t)measure.length);
        ByteWriter fill = makeByteWriter(documents.back().data(), measure.length);
        writeKmzDocument(editor, &fill);
    }
    std::free(editor);
    std::vector<u8> archive(12 << 20);
    ByteWriter out = makeByteWriter(archive.data(), (i64)archive.size());
    ZipWrittenEntry written[kKmzDrawings];
    u64 total = 0;
    for (i32 d = 0; d < kKmzDrawings; d++) {
        FixedString name = formatInt("drawing @.kml", d + 1);
        writeZipLocalFile(&written[d], 0, &name, documents[d].data(), documents[d].size(), &total, &out);
    }
    i64 directoryStart = out.length;
    for (const ZipWrittenEntry& entry : written) writeZipCentralDirectoryHeader(&entry, &out);
    appendU32Le(0x06054B50, &out);  // end of the central directory
    appendU16Le(0, &out);
    appendU16Le(0, &out);
    appendU16Le(kKmzDrawings, &out);
    appendU16Le(kKmzDrawings, &out);
    appendU32Le((u32)(out.length - directoryStart), &out);
    appendU32Le((u32)directoryStart, &out);
    appendU16Le(0, &out);
    archive.resize((size_t)out.length);
    return archive;
}

// The sum of the x coordinates of the drawing's points (a drawing of another point count: NaN).
f64 editorPointSum(const KmzEditor* editor, u32 points) {
    u32 count = 0;
    f64 sum = 0;
    for (u32 p = 0; p < kKmzPoolSlots; ++p) {
        if (!(editor->pointUsed[p >> 6] >> (p & 63) & 1)) continue;
        count++;
        sum += editor->points[p].x;
    }
    return count == points ? sum : NAN;
}

void KmzImportFrames(benchmark::State& state) {
    if (unshare(CLONE_NEWNET) != 0) std::printf("no network namespace of its own: the map may reach the network\n");
    const char* home = std::getenv("ORVIK_BENCH_HOME");
    std::string folder = home ? home : "/tmp/orvik-flight-log-frames";
    std::string kmzFolder = folder + "/Documents/Tarnwick/Exported Kmzs";
    std::filesystem::create_directories(kmzFolder);
    setenv("HOME", folder.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    std::string kmzPath = kmzFolder + "/large.kmz";
    f64 lastSum = 0;
    std::vector<u8> kmz = largeKmz(&lastSum);
    if (!std::filesystem::exists(kmzPath)) {
        std::ofstream(kmzPath, std::ios::binary).write((const char*)kmz.data(), (std::streamsize)kmz.size());
    }
    Program* program = new Program;
    startProgram(program);
    for (auto _ : state) {
        AppState* app = program->app;
        for (i32 i = 0; i < 30; i++) frame(program);
        std::printf("%.1f MB KMZ:\n", (f64)std::filesystem::file_size(kmzPath) / 1e6);
        std::fflush(stdout);
        // As the Load panel's "Load" leaves it.
        app->pendingLoads.kmzRead = requestFile(makeString("Exported Kmzs/large.kmz"), 10000000, 0,
                                                &program->platform->fileReads);
        app->pendingLoads.kmzImportMode = 0;
        // Done once every drawing has gone in, each replacing the last.
        PhaseResult import = runPhase(program, [&] {
            return !app->pendingLoads.kmzRead && std::fabs(editorPointSum(&app->kmzEditor, kKmzDrawingPoints) - lastSum) < 1e-3;  // the KML rounds
        }, 3000);
        report(state, "import", import);
        if (import.frames >= 3000) {
            std::printf("message: %s, points sum %f expected %f\n", app->pendingLoads.kmzImportName.text, editorPointSum(&app->kmzEditor, kKmzDrawingPoints), lastSum);
            state.SkipWithError("the drawing did not arrive");
        }
        state.SetIterationTime(import.wallSeconds);
    }
    stopProgram(program);
}
BENCHMARK(KmzImportFrames)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
