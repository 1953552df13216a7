// Opening and exporting a long flight log through real frames, with the real file thread and job
// worker under them: the frames keep coming while the log is parsed and exported (each frame's
// update stays short and the work spans many frames), a replay far behind its clock catches up over
// several frames, the streamed GPX is byte for byte the one the writer makes in one go, and Back
// gives up a parse or an export (a cancelled export leaves no file, not even its hidden one, and the
// earlier export of that name stays). To stop the work at a known
// point, a job that holds the worker is queued: the parse and the export give up their turn to it.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FlightLogReplay/FlightLogExportJob.h"
#include "FlightLogReplay/FlightLogTestLogs.h"
#include "Platform/FileThread.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlightLogsScreen.h"
#include "Screens/MainScreen.h"
#include "Screens/ViewFlightLogScreen.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace {

using flightlogtest::Entry;
using flightlogtest::mavlinkFrame;

constexpr i32 kWidth = 800;
constexpr i32 kHeight = 600;
constexpr i64 kStart = 1765100000000;
const char* kLogName = "flight_log_2025_12_07_09_33_20.qvlog3";

// The application update's steps that the flight logs take part in, in its order. How long a frame
// takes meanwhile is measured by LongWorkFramesBenchmark; here the work must run beside the frames.
void slicesUpdate(Platform* platform, UiState* ui, AppState* app) {
    i64 now = (i64)app->screenStack.now;
    updateFlightLogExport(&app->flightLogExport, &platform->fileJobs, &platform->jobQueue,
                          &app->flightLogExportProgress, now);
    app->flightLogList.logInUse = flightLogExportBusy(&app->flightLogExport);
    updateFlightLogList(&app->flightLogList, &platform->fileReads, &platform->jobQueue, nullptr, now);
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    updateScreen(&app->screenStack, platform, ui, app);
}

// A PX4 vehicle heard ten times a second, each datagram followed by its augmented position.
std::vector<Entry> longFlight(i32 seconds) {
    std::vector<Entry> entries{{FlightLogHeader, kStart, {0, 0, 0, 0}}};
    for (i32 i = 0; i < seconds * 10; i++) {
        i64 time = kStart + 1000 + i * 100;
        flightlogtest::Bytes datagram = mavlinkFrame(MavlinkHeartbeat, {0, 0, 0, 0, 2, 12, 0x81, 4, 3}, 0x0101);
        flightlogtest::Bytes position(28, 0);
        i32 lat = 473977420 + i % 2000, lon = 85455940 + i % 3000, relative = 50000 + i % 700;
        std::memcpy(position.data() + 4, &lat, 4);
        std::memcpy(position.data() + 8, &lon, 4);
        std::memcpy(position.data() + 16, &relative, 4);
        flightlogtest::Bytes frame = mavlinkFrame(MavlinkGlobalPositionInt, position, 0x0101);
        datagram.insert(datagram.end(), frame.begin(), frame.end());
        entries.push_back({FlightLogReceivedFromDrone, time, datagram});
        flightlogtest::Bytes augmented(36, 0);
        f64 place[2] = {lat / 1e7, lon / 1e7};
        f32 heights[5] = {relative / 1000.0f, 0, 30, 430, 431};
        std::memcpy(augmented.data(), place, 16);
        std::memcpy(augmented.data() + 16, heights, 20);
        entries.push_back({FlightLogAugmentedPosition, time + 5, augmented});
    }
    return entries;
}

std::atomic<int> gateOpen{0};
i64 holdWorker(void*) {
    while (!gateOpen.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

class FlightLogSlices : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-log-slices-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::filesystem::create_directories(folder + "/data/Flight Logs");
        entries = longFlight(4000);
        flightlogtest::Bytes bytes = flightlogtest::encodeLog(entries);
        std::ofstream(folder + "/data/Flight Logs/" + kLogName, std::ios::binary)
            .write((const char*)bytes.data(), (std::streamsize)bytes.size());
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        harness.platform->dataFolder = makeString((folder + "/data/").c_str());
        harness.platform->pathSeparator = '/';
        setHarnessUpdate(&harness.render, slicesUpdate);
        harness.render.runFilePasses = 0;
        running = 1;
        gateOpen = 0;
        fileThread = std::thread([this] { runFileThread(harness.platform, &running); });
        jobWorker = std::thread([this] { runAsyncJobWorker(&harness.platform->jobQueue, &running, 1000); });
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = flightLogsScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
    }
    void TearDown() override {
        gateOpen = 1;
        __atomic_store_n(&running, 0u, __ATOMIC_RELEASE);
        if (fileThread.joinable()) fileThread.join();
        if (jobWorker.joinable()) jobWorker.join();
        if (started) stopScreensHarness(&harness);
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }

    void frame() {
        frames(&harness);
        frameCount++;
    }
    template <typename Condition>
    bool framesUntil(Condition condition, i32 limit = 3000) {
        for (i32 i = 0; i < limit; i++) {
            frame();
            if (condition()) return true;
        }
        return false;
    }
    FlightLogList* list() { return &harness.app->flightLogList; }
    FlightLogExportJob* exportJob() { return &harness.app->flightLogExport; }
    const FlightLogListEntry* logEntry() {
        FixedString name = makeString(kLogName);
        return findFlightLogEntry(list(), &name);
    }
    ScreenFunction top() { return topScreen(&harness); }
    // The Flight Logs screen's one row, then its "View" button.
    void viewTheLog() {
        ASSERT_TRUE(framesUntil([&] { return list()->currentListing && list()->listingTime != 0; }));
        click(&harness, kWidth / 2.0f, rowCentreY(&harness, 0));
        f32 rowHeight = 3.2f * listTextSize(&harness);
        const MapView* view = &((FlightLogsScreenState*)harness.app->screenStack.screenState)->listView;
        click(&harness, kWidth / 2.0f, kHeight - rowHeight - (view->textSize + view->padding));
        ASSERT_EQ(list()->wantedLog.length, (i64)std::strlen(kLogName));
    }
    // Queues the job that holds the worker until the gate opens: the running work gives up its turn
    // at its next slice and waits behind it.
    void closeGate() {
        gateOpen = 0;
        ASSERT_TRUE(pushAsyncJob(holdWorker, nullptr, &harness.platform->jobQueue));
    }
    std::string dataPath(const FixedString& path) { return folder + "/data/" + std::string(path.text, path.length); }

    ScreensHarness harness{};
    bool started = false;
    std::string folder;
    std::vector<Entry> entries;
    u32 running = 0;
    std::thread fileThread;
    std::thread jobWorker;
    i64 frameCount = 0;
};

TEST_F(FlightLogSlices, FramesKeepComingWhileALongLogIsOpenedAndExportedAndBackGivesUpEither) {
    // Back while the log is being parsed: the parse stops and the log is given back.
    ASSERT_NO_FATAL_FAILURE(viewTheLog());
    ASSERT_TRUE(framesUntil([&] { return __atomic_load_n(&list()->parsePercent, __ATOMIC_RELAXED) > 30; }));
    ASSERT_NE(logEntry(), nullptr);
    EXPECT_EQ(std::string(logEntry()->summary.text).rfind("Parsing ", 0), 0u) << logEntry()->summary.text;
    closeGate();
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(top(), (ScreenFunction)mainScreen);
    gateOpen = 1;
    ASSERT_TRUE(framesUntil([&] { return !list()->logRequest; }));
    EXPECT_EQ(logEntry(), nullptr) << "a finished parse would have left its summary: " << (logEntry() ? logEntry()->summary.text : "");

    // Opened whole: the viewer comes up with the parse's overview.
    harness.app->screenStack.screens[1] = flightLogsScreen;
    harness.app->screenStack.depth = 2;
    std::memset(harness.app->screenStack.screenState, 0, sizeof(harness.app->screenStack.screenState));
    ASSERT_NO_FATAL_FAILURE(viewTheLog());
    i64 framesBefore = frameCount;
    ASSERT_TRUE(framesUntil([&] { return top() == (ScreenFunction)viewFlightLogScreen; }));
    EXPECT_GE(frameCount - framesBefore, 5) << "the parse ran beside the frames";
    frame();
    auto* viewer = (ViewFlightLogState*)harness.app->screenStack.screenState;
    EXPECT_EQ(viewer->trackCount, 40000u);
    EXPECT_GT(viewer->totalDistance, 0.0);

    // A clock far ahead of the replay (as after the entries list was open for long at 30x) is caught
    // up over several frames.
    i64 before = viewer->cursor;
    viewer->isPlaying = 0;
    viewer->playbackTime = list()->index.endTime;
    frame();
    EXPECT_EQ(viewer->cursor - before, kMaxReplayEntriesPerFrame);
    ASSERT_TRUE(framesUntil([&] { return viewer->cursor == list()->index.entryCount; }));

    // The flight path written in slices and chunks: the same bytes as the writer's in one go.
    flightlogtest::IndexedLog log;
    ASSERT_NO_FATAL_FAILURE(log.build(entries));
    FlightLogReplay* replay = (FlightLogReplay*)std::calloc(1, sizeof(FlightLogReplay));
    FixedString exportName = flightLogExportName(makeString(kLogName));
    ByteWriter measure = makeMeasuringWriter();
    writeFlightPathGpx(&measure, &log.index, replay, FlightPathGpsAltitude, exportName, nullptr);
    std::string expected((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(expected.data(), measure.length);
    std::memset((void*)replay, 0, sizeof(*replay));
    writeFlightPathGpx(&fill, &log.index, replay, FlightPathGpsAltitude, exportName, nullptr);
    std::free(replay);
    ASSERT_GT(expected.size(), 4u * kExportChunkBytes);

    viewer->openPanel = ViewerPanelExport;
    viewer->isPlaying = 0;
    frame();
    f32 rowHeight = 3.2f * listTextSize(&harness);
    f32 firstRow = kHeight - harness.app->uiMetrics.buttonHeight - 0.5f * rowHeight;
    click(&harness, kWidth * 0.75f, firstRow);
    ASSERT_TRUE(flightLogExportBusy(exportJob()));
    framesBefore = frameCount;
    FixedString gpx = flightPathGpxPath(exportName, FlightPathGpsAltitude);
    EXPECT_STREQ(viewer->exportPath.text, gpx.text);
    ASSERT_TRUE(framesUntil([&] { return exportJob()->chunksWritten > 0; }));
    FixedString writing = exportRowDescription(3, "", &exportJob()->status, &harness.app->flightLogExportProgress,
                                               harness.platform->dataFolder, (i64)harness.render.now);
    EXPECT_EQ(std::string(writing.text).rfind("Writing ", 0), 0u) << writing.text;
    ASSERT_TRUE(framesUntil([&] {
        return !flightLogExportBusy(exportJob()) &&
               fileJobStatus(&harness.app->flightLogExportProgress) >= FileStatusSuccess;
    }));
    ASSERT_EQ(harness.app->flightLogExportProgress.status, (u32)FileStatusSuccess);
    EXPECT_GE(frameCount - framesBefore, 5) << "the export ran beside the frames";
    std::ifstream written(dataPath(gpx), std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(got == expected) << got.size() << " bytes written, " << expected.size() << " expected";
    EXPECT_FALSE(std::filesystem::exists(dataPath(exportJob()->partPath)));

    // Exported again and given up with Back once chunks are on disk: the hidden file goes, and the
    // earlier export of that name stays as it was.
    click(&harness, kWidth * 0.75f, firstRow);
    ASSERT_TRUE(flightLogExportBusy(exportJob()));
    ASSERT_TRUE(framesUntil([&] {
        return exportJob()->chunksWritten > 1 && std::filesystem::exists(dataPath(exportJob()->partPath));
    }));
    closeGate();
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(top(), (ScreenFunction)flightLogsScreen);
    gateOpen = 1;
    ASSERT_TRUE(framesUntil([&] {
        return !flightLogExportBusy(exportJob()) && !hasUnfinishedFileJobs(&harness.platform->fileJobs);
    }));
    EXPECT_FALSE(std::filesystem::exists(dataPath(exportJob()->partPath)));
    std::ifstream kept(dataPath(gpx), std::ios::binary);
    EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()) == expected);
}

}  // namespace
