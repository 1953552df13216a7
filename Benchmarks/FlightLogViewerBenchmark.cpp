// The flight-log viewer's heavy moments. Opening a 300 MB log (target: at most 1.5 s on one core):
// the flight-log list's parse job over it, that is the index and the one replay of the whole log
// that finds the list's counts and the viewer's overview, over a long flight's mix of received
// datagrams (HEARTBEAT, ATTITUDE and GLOBAL_POSITION_INT frames written by the program's own MAVLink
// writer), sent datagrams and augmented positions, on a thread beside the main one as the job
// worker runs it (its thread's processor time). One frame of the entries list of a log of 10^6
// entries scrolled to its end with a row's details open (target: under 1 ms), its text laid out with
// the program's font into the frame's batches (CPU time; nothing is drawn). And one frame of the
// side view.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Mavlink/Mavlink.h"
#include "FlightLogReplay/FlightLogList.h"
#include "Platform/FileTables.h"
#include "FlightLogs/FlightLogger.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/UserInterface/Screen.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace {

constexpr i64 kStart = 1765000000000;

void appendEntry(std::vector<u8>* log, u8 type, i64 time, const u8* payload, u16 length) {
    u8 header[20];
    ByteWriter writer = makeByteWriter(header, sizeof(header));
    LengthFieldMark mark = writeFlightLogEntryHeader(&writer, time, type);
    patchLengthField(&mark, length);
    log->insert(log->end(), header, header + writer.length);
    log->insert(log->end(), payload, payload + length);
    u16 crc = flightLogChecksum(payload, length, type);
    log->push_back((u8)crc);
    log->push_back((u8)(crc >> 8));
}

// One message of the vehicle (system 1, component 1) with the payload bytes given.
void appendFrame(ByteWriter* out, u8* sequence, u32 id, const u8* payload, i64 length) {
    LengthFieldMark mark = beginMavlinkPacket(out, sequence, 0x0101, id, 1);
    appendBytes(payload, length, out);
    finishMavlinkPacket(&mark, out);
}

std::vector<u8> flightOfBytes(i64 bytes) {
    std::vector<u8> log;
    log.reserve((size_t)bytes + 4096);
    u8 headerPayload[4] = {0, 0, 3, 0};
    appendEntry(&log, FlightLogHeader, kStart, headerPayload, 4);
    u8 sequence = 0;
    for (i64 i = 0; (i64)log.size() < bytes; i++) {
        i64 time = kStart + 1000 + i * 25;
        u8 datagram[280];
        ByteWriter out = makeByteWriter(datagram, sizeof(datagram));
        u8 payload[28] = {};
        if (i % 10 == 0) {
            u8 heartbeat[9] = {0, 0, 0, 0, 2, 12, 81, 4, 3};  // PX4 quadrotor, armed, active
            appendFrame(&out, &sequence, 0, heartbeat, 9);
        }
        f32 roll = (f32)std::sin(i * 0.01);
        std::memcpy(payload + 4, &roll, 4);
        appendFrame(&out, &sequence, 30, payload, 28);
        i32 lat = 473977420 + (i32)(i % 20000), lon = 85455940 + (i32)(i % 30000), relative = (i32)(i % 120000);
        std::memcpy(payload + 4, &lat, 4);
        std::memcpy(payload + 8, &lon, 4);
        std::memcpy(payload + 16, &relative, 4);
        appendFrame(&out, &sequence, 33, payload, 28);
        appendEntry(&log, FlightLogReceivedFromDrone, time, datagram, (u16)out.length);
        u8 sent[30] = {0xFD, 9};
        appendEntry(&log, FlightLogSentToDrone, time + 1, sent, sizeof(sent));
        f64 position[2] = {lat / 1e7, lon / 1e7};
        f32 altitudes[5] = {relative / 1000.0f, 400, (i % 7) ? 30.0f : NAN, 430, 431};
        u8 augmented[36];
        std::memcpy(augmented, position, 16);
        std::memcpy(augmented + 16, altitudes, 20);
        appendEntry(&log, FlightLogAugmentedPosition, time + 2, augmented, 36);
    }
    return log;
}

u8* alignedCopy(const std::vector<u8>& log) {
    u8* buffer = static_cast<u8*>(std::aligned_alloc(64, (log.size() + 63) & ~size_t(63)));
    std::memcpy(buffer, log.data(), log.size());
    return buffer;
}

// The processor time of the calling thread, in seconds.
f64 threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (f64)t.tv_sec + t.tv_nsec / 1e9;
}

// The parse runs where the program runs it, on a thread of its own beside the main thread (which the
// profiler follows), and its thread's processor time is the figure.
void OpenOver300MbLog(benchmark::State& state) {
    static std::vector<u8> log = flightOfBytes(300000000);
    { ProfilingScope mainThread("Benchmark"); }
    auto* list = static_cast<FlightLogList*>(std::calloc(1, sizeof(FlightLogList)));
    FileReadRequest request{};
    request.name = makeString("flight_log_2025_12_07_09_33_20.qvlog3");
    request.bytesRead = log.size();
    list->logRequest = &request;
    for (auto _ : state) {
        u8* buffer = alignedCopy(log);  // the parse indexes its log in place
        request.data = buffer;
        list->parsePhase = 0;
        f64 seconds = 0;
        std::thread worker([&] {
            f64 start = threadSeconds();
            parseFlightLogJob(list);
            seconds = threadSeconds() - start;
        });
        worker.join();
        benchmark::DoNotOptimize(list->overview.totalDistance);
        state.SetIterationTime(seconds);
        std::free(buffer);
    }
    if (list->overview.trackCount != kMaxTrackSamples) state.SkipWithError("track not filled");
    state.counters["entries"] = (f64)list->index.entryCount;
    state.SetBytesProcessed((i64)state.iterations() * (i64)log.size());
    std::free(list);
}
BENCHMARK(OpenOver300MbLog)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// A zeroed 1920 x 1080 UI whose font record is read into *font (none when the file is missing); free
// it with std::free.
UiState* makeFullHdUi(std::vector<u8>* font) {
    auto* ui = static_cast<UiState*>(std::calloc(1, sizeof(UiState)));
    ui->width = 1920;
    ui->height = 1080;
    ui->halfWidth = 960;
    ui->halfHeight = 540;
    ui->screenRect = Rect{0, 1920, 0, 1080};
    ui->safeRect = ui->screenRect;
    std::ifstream fontFile(ORVIK_SOURCE_DIR "/Assets/FONT_SDF_INFO.BIN", std::ios::binary);
    font->assign(std::istreambuf_iterator<char>(fontFile), std::istreambuf_iterator<char>());
    ui->fontInfo = font->empty() ? nullptr : font->data();
    return ui;
}

void EntriesListFrameAtTheEndOfAMillionEntries(benchmark::State& state) {
    std::vector<u8> log;
    log.reserve(70000000);
    u8 payload[36];
    for (i64 i = 0; i < 1000000; i++) {
        for (u8& b : payload) b = (u8)(i * 7 + (&b - payload));
        u8 type = (u8)(7 + i % 10);
        appendEntry(&log, type, kStart + i * 10, payload, 36);
    }
    u8* buffer = alignedCopy(log);
    FlightLogIndex index = optimizeFlightLogFile(buffer, (i64)log.size());

    std::vector<u8> font;
    UiState* ui = makeFullHdUi(&font);
    auto* stack = static_cast<ScreenStack*>(std::calloc(1, sizeof(ScreenStack)));
    auto* viewer = static_cast<ViewFlightLogState*>(std::calloc(1, sizeof(ViewFlightLogState)));
    UiMetrics metrics = computeUiMetrics(ui->screenRect);
    Preferences units{};
    viewer->entriesView = makeMapView(WidgetId{1, __FILE__}, MapViewModeScrollList);
    viewer->entriesBottom = -(f64)index.entryCount - 30;
    viewer->cursor = index.entryCount;
    viewer->jumpToCursor = 1;
    viewer->selectedEntry = -1;
    viewer->openPanel = ViewerPanelEntries;
    ScreenResult result{};
    // Scrolled to the end, with the last row's details open.
    drawFlightLogEntries(viewer, &index, &units, &metrics, nullptr, stack, ui, &result);
    viewer->selectedEntry = (i32)index.entryCount - 3;
    for (auto _ : state) {
        ui->batches.coloredRect.vertexCount = ui->batches.coloredRect.triangleCount = 0;
        ui->batches.line2d.vertexCount = ui->batches.line2d.triangleCount = 0;
        ui->batches.colored2d.vertexCount = ui->batches.colored2d.triangleCount = 0;
        ui->batches.sdf.quadCount = 0;
        drawFlightLogEntries(viewer, &index, &units, &metrics, nullptr, stack, ui, &result);
        benchmark::DoNotOptimize(ui->batches.sdf.quadCount);
    }
    if (!ui->fontInfo) state.SkipWithError("font not found: texts not laid out");
    state.counters["glyphs"] = (f64)ui->batches.sdf.quadCount;
    std::free(viewer);
    std::free(stack);
    std::free(ui);
    std::free(buffer);
}
BENCHMARK(EntriesListFrameAtTheEndOfAMillionEntries)->Unit(benchmark::kMicrosecond);

// One side-view frame over a full track of 90,000 samples (a climbing and sinking flight over rolling
// ground, the payload active in stretches) at 1920 x 1080 (target: under 1 ms of CPU): the terrain
// columns, the merged path, the axes and labels into the frame's batches.
void SideViewFrameOf90000Samples(benchmark::State& state) {
    std::vector<u8> font;
    UiState* ui = makeFullHdUi(&font);
    auto* stack = static_cast<ScreenStack*>(std::calloc(1, sizeof(ScreenStack)));
    auto* viewer = static_cast<ViewFlightLogState*>(std::calloc(1, sizeof(ViewFlightLogState)));
    viewer->sideView = makeMapView(WidgetId{2, __FILE__}, MapViewModeMap);
    viewer->trackCount = kMaxTrackSamples;
    f64 total = 0;
    for (u32 i = 0; i < kMaxTrackSamples; i++) {
        viewer->trackStepDistance[i] = i ? 0.4f + 0.2f * (f32)std::sin(i * 0.001) : 0;
        total += viewer->trackStepDistance[i];
        viewer->trackAltitude[i] = 80 + 40 * (f32)std::sin(i * 0.0003);
        viewer->trackAgl[i] = viewer->trackAltitude[i] - 20 * (f32)std::sin(i * 0.0011);
        if ((i / 5000) % 3 == 1) viewer->trackPayloadBits[i / 64] |= 1ull << (i % 64);
    }
    viewer->totalDistance = total;
    UiMetrics metrics = computeUiMetrics(ui->screenRect);
    Preferences preferences{};
    preferences.lowAltitudeWarning = 30;
    preferences.airspaceIndicatorAltitude = 120;
    Rect panel{0, 1920, 0, 1080};
    for (auto _ : state) {
        ui->batches.coloredRect.vertexCount = ui->batches.coloredRect.triangleCount = 0;
        ui->batches.line2d.vertexCount = ui->batches.line2d.triangleCount = 0;
        ui->batches.colored2d.vertexCount = ui->batches.colored2d.triangleCount = 0;
        ui->batches.textured2d.triangleCount = 0;
        ui->batches.sdf.quadCount = 0;
        drawFlightLogSideView(viewer, panel, metrics.textHeight, total / 2, 80, &preferences, ui, stack);
        benchmark::DoNotOptimize(ui->batches.colored2d.vertexCount);
    }
    state.counters["lineVertices"] = (f64)ui->batches.line2d.vertexCount;
    state.counters["quadVertices"] = (f64)ui->batches.colored2d.vertexCount;
    std::free(viewer);
    std::free(stack);
    std::free(ui);
}
BENCHMARK(SideViewFrameOf90000Samples)->Unit(benchmark::kMicrosecond);

}  // namespace
