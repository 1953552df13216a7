// The View Flight Log screen. Its first pass over logs that python writes from node-mavlink
// datagrams (a flight of more than 90,000 augmented positions, some altitudes NaN, whose extremes
// come after the kept samples; a camera-protocol camera that records three times, the last to the
// end of the log) against what python works out from the bytes it wrote. The playback clock under
// a clock of the test's own. And real frames on llvmpipe: the entries list opens centred on the
// replay's row, nothing steps while it is open, and Escape closes the list before the screen.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "Mavlink/NodePeer.h"
#include "FlightLogReplay/FlightLogList.h"
#include "FlightLogReplay/FlightLogReplay.h"
#include "Platform/FileTables.h"
#include "Platform/FileThread.h"
#include "FlightLogReplay/FlightLogTestLogs.h"
#include "ScreenTestSupport.h"
#include "Screens/ChildScreens.h"
#include "Screens/ViewFlightLogScreen.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace {

using flightlogtest::Entry;
using flightlogtest::IndexedLog;

constexpr i64 kStart = 1765100000000;  // Unix ms, as the python writer's logs

struct ViewerRecords {
    ViewFlightLogState* state = (ViewFlightLogState*)std::calloc(1, sizeof(ViewFlightLogState));
    FlightLogReplay* replay = (FlightLogReplay*)std::calloc(1, sizeof(FlightLogReplay));
    ~ViewerRecords() {
        std::free(state);
        std::free(replay);
    }
    void clear() {
        std::memset((void*)state, 0, sizeof(*state));
        std::memset((void*)replay, 0, sizeof(*replay));
    }
};

bool allZero(const void* record, size_t size) {
    const u8* bytes = (const u8*)record;
    for (size_t i = 0; i < size; i++) {
        if (bytes[i]) return false;
    }
    return true;
}

std::vector<u8> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string runCommand(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t got;
    while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    EXPECT_TRUE(pipe && pclose(pipe) == 0) << out;
    return out;
}

void expectSame(f64 expected, f32 got, f64 tolerance, const char* what, i64 sample) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(got)) << what << " of sample " << sample;
    } else {
        EXPECT_NEAR(got, expected, tolerance) << what << " of sample " << sample;
    }
}

TEST(ViewFlightLogSetUp, TrackPresenceRecordingsAndDistanceAreAsThePythonWriterBuiltThem) {
    ASSERT_EQ(prepareNodePeer(), "");
    std::string folder = temporaryPath("viewer-logs");
    runCommand("rm -rf '" + folder + "' && mkdir -p '" + folder + "'");
    runNodePeer("flight 905 > '" + folder + "/flight.txt'");
    // The camera's script runs beside the installed node-mavlink.
    std::string peer = std::string(ORVIK_BINARY_DIR) + "/node-peer";
    runCommand("cp '" ORVIK_SOURCE_DIR "/Tests/Screens/recorded_camera.mjs' '" + peer + "/recorded_camera.mjs' && node '" +
               peer + "/recorded_camera.mjs' > '" + folder + "/camera.txt'");
    std::istringstream expected(runCommand("/usr/bin/python3 '" ORVIK_SOURCE_DIR
                                           "/Tests/Screens/flight_log_viewer_logs.py' '" + folder + "/flight.txt' '" +
                                           folder + "/camera.txt' '" + folder + "'"));
    ViewerRecords viewer;
    ViewFlightLogState* state = viewer.state;
    std::vector<u64> buffer;
    FlightLogIndex index{};
    u32 recordings = 0;
    auto indexFile = [&](const std::string& path) {
        std::vector<u8> log = readFile(path);
        buffer.assign(log.size() / 8 + 1, 0);
        std::memcpy(buffer.data(), log.data(), log.size());
        return optimizeFlightLogFile((u8*)buffer.data(), (i64)log.size());
    };
    i32 logs = 0;
    std::string line;
    auto finishLog = [&] {
        if (logs == 0) return;
        EXPECT_EQ(state->recordingCount, recordings);
        EXPECT_EQ(state->recordingVisible | state->recordingThermal, 0u);  // a camera-protocol camera
    };
    while (std::getline(expected, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "log") {
            finishLog();
            std::string name;
            words >> name;
            SCOPED_TRACE(name);
            index = indexFile(folder + "/" + name + ".qvlog3");
            ASSERT_EQ(index.error.length, 0) << index.error.text;
            viewer.clear();
            setUpFlightLogViewer(state, &index, viewer.replay, 720, 40, 5000000);
            recordings = 0;
            logs++;
            // The pass leaves an empty replay and a clock that plays at 1x from the start.
            EXPECT_TRUE(allZero(viewer.replay, sizeof(FlightLogReplay)));
            EXPECT_EQ(state->playbackTime, index.startTime);
            EXPECT_EQ(state->isPlaying, 1u);
            EXPECT_EQ(state->playbackSpeed, 1);
            EXPECT_EQ(state->jumpToCursor, 1u);
            EXPECT_EQ(state->selectedEntry, -1);
        } else if (word == "samples") {
            i64 samples;
            words >> samples;
            EXPECT_EQ(state->trackCount, (u32)std::min<i64>(samples, kMaxTrackSamples)) << line;
        } else if (word == "bounds") {
            for (f64 bound : state->trackBounds) {
                f64 want;
                words >> want;
                EXPECT_EQ(bound, want) << line;
            }
        } else if (word == "presence") {
            u32 agl, dem, pilot;
            words >> agl >> dem >> pilot;
            EXPECT_EQ(state->aglPresence, agl) << line;
            EXPECT_EQ(state->mslDemPresence, dem) << line;
            EXPECT_EQ(state->mslPilotPresence, pilot) << line;
        } else if (word == "distance") {
            f64 metres;
            words >> metres;
            EXPECT_NEAR(state->totalDistance, metres, 1e-9 * metres + 1e-9) << line;
        } else if (word == "last-datagram") {
            i64 entry;
            words >> entry;
            EXPECT_EQ(state->lastDatagramEntry, entry) << line;
        } else if (word == "photos") {
            u32 photos;
            words >> photos;
            EXPECT_EQ(state->photoCount, photos) << line;
        } else if (word == "recording") {
            i64 start, length;
            u32 pilotGap, demGap;
            words >> start >> length >> pilotGap >> demGap;
            u32 i = recordings++;
            ASSERT_LT(i, state->recordingCount) << line;
            EXPECT_EQ(state->recordingStart[i], start) << line;
            EXPECT_EQ(state->recordingLength[i], length) << line;
            EXPECT_EQ((state->recordingMslPilotGap >> i) & 1, pilotGap) << line;
            EXPECT_EQ((state->recordingMslDemGap >> i) & 1, demGap) << line;
        } else if (word == "sample") {
            i64 i;
            f64 step, altitude, agl;
            std::string a, b, c;
            words >> i >> a >> b >> c;
            step = std::stod(a), altitude = std::stod(b), agl = std::stod(c);
            ASSERT_LT(i, (i64)state->trackCount);
            expectSame(step, state->trackStepDistance[i], 1e-5 * step + 1e-6, "step", i);
            expectSame(altitude, state->trackAltitude[i], 0, "altitude", i);
            expectSame(agl, state->trackAgl[i], 0, "agl", i);
            EXPECT_EQ((state->trackPayloadBits[i / 64] >> (i % 64)) & 1, 0u);
        } else {
            FAIL() << "python said: " << line;
        }
    }
    finishLog();
    EXPECT_EQ(logs, 2);

    // The Flight Logs screen's summary of the camera log counts the same photos and recordings.
    FlightLogList* list = (FlightLogList*)std::calloc(1, sizeof(FlightLogList));
    std::vector<u8> bytes = readFile(folder + "/camera.qvlog3");
    std::vector<u64> copy(bytes.size() / 8 + 1);
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    FileReadRequest read{};
    read.name = makeString("camera.qvlog3");
    read.data = (u8*)copy.data();
    read.bytesRead = bytes.size();
    list->logRequest = &read;
    parseFlightLogJob(list);
    EXPECT_EQ(list->photos, 2u);
    EXPECT_EQ(list->videos, 3u);
    std::free(list);
    runCommand("rm -rf '" + folder + "'");
}

// A minute of augmented positions, one a second after the header.
std::vector<Entry> minuteLog() {
    std::vector<Entry> entries{{7, kStart, std::vector<u8>{0, 0, 3, 0}}};
    for (i64 s = 1; s <= 60; s++) {
        std::vector<u8> position(36, 0);
        f64 lat = 47.0 + s * 1e-5, lon = 8.0;
        std::memcpy(position.data(), &lat, 8);
        std::memcpy(position.data() + 8, &lon, 8);
        entries.push_back({10, kStart + 1000 * s, position});
    }
    return entries;
}

struct PlaybackClock : ::testing::Test {
    ViewerRecords viewer;
    IndexedLog log;
    FlightLogIndex& index = log.index;
    u64 now = 7000000;
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(log.build(minuteLog()));
        ASSERT_EQ(index.endTime, kStart + 60000);
        setUpFlightLogViewer(viewer.state, &index, viewer.replay, 720, 40, now);
    }
    // One frame of the clock and the replay, a frame time after the last.
    void frame(u64 micros = 16667) {
        now += micros;
        advanceFlightLogClock(viewer.state, &index, now);
        stepFlightLogReplay(viewer.state, &index, viewer.replay, nullptr, nullptr);
    }
    void press(u32 button) { pressPlaybackButton(viewer.state, button, &index, viewer.replay, now); }
};

TEST_F(PlaybackClock, FastForward30AddsThirtySecondsInOneSecond) {
    frame(2000000);
    i64 t = viewer.state->playbackTime;
    EXPECT_EQ(t, kStart + 2000);
    press(ViewerFastForward30);
    frame(1000000);
    EXPECT_EQ(viewer.state->playbackTime, t + 30000);
    EXPECT_EQ(viewer.state->cursor, 1 + 32);  // the header and every position up to the clock
    EXPECT_EQ(viewer.state->jumpToCursor, 1u);
}

TEST_F(PlaybackClock, PlayPastTheEndClampsAndStops) {
    press(ViewerFastForward10);
    frame(7000000);
    EXPECT_EQ(viewer.state->playbackTime, index.endTime);
    EXPECT_EQ(viewer.state->isPlaying, 0u);
    EXPECT_EQ(viewer.state->cursor, index.entryCount);
    press(ViewerPlay);
    frame();
    EXPECT_EQ(viewer.state->playbackTime, index.endTime);
    EXPECT_EQ(viewer.state->isPlaying, 0u);
}

TEST_F(PlaybackClock, RestartStopsAtTheStartWithAnEmptyReplay) {
    frame(20000000);
    ASSERT_GT(viewer.state->cursor, 10);
    ASSERT_FALSE(allZero(viewer.replay, sizeof(FlightLogReplay)));
    press(ViewerRestart);
    EXPECT_EQ(viewer.state->isPlaying, 0u);
    EXPECT_EQ(viewer.state->playbackTime, index.startTime);
    EXPECT_EQ(viewer.state->cursor, 0);
    EXPECT_TRUE(allZero(viewer.replay, sizeof(FlightLogReplay)));
    frame(5000000);  // paused: the clock stays, only the header at the start is due
    EXPECT_EQ(viewer.state->playbackTime, index.startTime);
    EXPECT_EQ(viewer.state->cursor, 1);
    EXPECT_EQ(viewer.replay->positionEntries, 0u);
    press(ViewerPlay);
    frame(3000000);
    EXPECT_EQ(viewer.state->playbackTime, index.startTime + 3000);
    EXPECT_EQ(viewer.replay->positionEntries, 3u);
}

// ---------------------------------------------------------------------------------------------------
// Real frames.

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;

struct ViewerFrames : ::testing::Test {
    ScreensHarness harness{};
    bool started = false;
    IndexedLog log;

    // Two thousand entries a tenth of a second apart: positions and button presses.
    virtual std::vector<Entry> entries() {
        std::vector<Entry> entries{{7, kStart, std::vector<u8>{0, 0, 3, 0}}};
        for (i64 i = 1; i <= 2000; i++) entries.push_back({(u8)(i % 3 ? 10 : 12), kStart + 100 * i, std::vector<u8>(36, (u8)i)});
        return entries;
    }
    void SetUp() override {
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        ASSERT_NO_FATAL_FAILURE(log.build(entries()));
        harness.app->flightLogList.index = log.index;
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = viewFlightLogScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
    }
    void TearDown() override {
        if (started) stopScreensHarness(&harness);
    }
    ViewFlightLogState* state() { return (ViewFlightLogState*)harness.app->screenStack.screenState; }
    void wait(u64 micros) {
        harness.render.now += micros;
        frames(&harness);
    }
};

TEST_F(ViewerFrames, TheListOpensOnTheReplayRowHoldsTheReplayAndEscapeClosesItFirst) {
    frames(&harness);
    ASSERT_EQ(state()->isInitialised, 1u);
    EXPECT_EQ(harness.app->flightLogViewerOpen, 1u);
    wait(25000000);  // 25 s at 1x: 250 entries are due
    i64 cursor = state()->cursor;
    EXPECT_EQ(cursor, 251);

    // "Entries" in the playback controls, which a tap on the elapsed time opens.
    const UiMetrics* metrics = &harness.app->uiMetrics;
    f32 barMiddle = kHeight - metrics->buttonHeight / 2;
    click(&harness, metrics->margin + 2 * metrics->textHeight, barMiddle);
    ASSERT_EQ(state()->openPanel, (u32)ViewerPanelPlayback);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_controls.png").c_str());
    f32 buttonHeight = 2.2f * metrics->textHeight;
    f32 entriesTop = kHeight - metrics->buttonHeight - metrics->margin - 6 * (buttonHeight + metrics->margin);
    click(&harness, metrics->margin + 2 * metrics->textHeight, entriesTop - buttonHeight / 2);
    ASSERT_EQ(state()->openPanel, (u32)ViewerPanelEntries);
    frames(&harness);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_entries.png").c_str());

    const MapView* list = &state()->entriesView;
    EXPECT_EQ(list->centreY, -(f64)state()->cursor);
    EXPECT_NEAR(list->pixelsPerUnit, metrics->rowHeight, 1e-3);
    EXPECT_EQ(state()->jumpToCursor, 0u);

    // Nothing steps while the list is open.
    i64 time = state()->playbackTime;
    cursor = state()->cursor;
    wait(10000000);
    wait(10000000);
    EXPECT_EQ(state()->playbackTime, time);
    EXPECT_EQ(state()->cursor, cursor);

    // A click on a row opens its details under it; a second click closes them.
    f32 rowY = kHeight / 2.0f + metrics->rowHeight * 2.5f;  // two rows above the centre row's top
    click(&harness, kWidth / 2.0f, rowY);
    EXPECT_EQ(state()->selectedEntry, cursor - 3);
    frames(&harness);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_details.png").c_str());
    click(&harness, kWidth / 2.0f, rowY);
    EXPECT_EQ(state()->selectedEntry, -1);

    tapKey(&harness, KeyEscape);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)viewFlightLogScreen);
    EXPECT_EQ(state()->openPanel, (u32)ViewerPanelNone);
    // Closed, a playing clock is where it would have been.
    wait(16667);
    EXPECT_GT(state()->playbackTime, time + 20000);
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(stackDepth(&harness), 1);
    EXPECT_EQ(harness.app->flightLogViewerOpen, 0u);
}

// The export panel of a log without photos or recordings: its first row writes the GPS flight path,
// and playback goes on from where it was.
TEST_F(ViewerFrames, ExportPanelWritesTheFlightPathAndPlaybackGoesOn) {
    char folder[] = "/tmp/orvik-viewer-export-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    harness.platform->dataFolder = makeString((std::string(folder) + "/").c_str());
    harness.app->flightLogList.logName = makeString("flight_log_2025_12_07_09_33_20.qvlog3");
    frames(&harness);
    wait(5000000);
    i64 cursor = state()->cursor;
    i64 time = state()->playbackTime;
    state()->openPanel = ViewerPanelExport;
    state()->isPlaying = 0;
    frames(&harness);
    writeHarnessPng(&harness.render, outputPath("view_flight_log_export.png").c_str());

    // The first row is the plain flight path: export number 3 (no video rows).
    f32 top = kHeight - harness.app->uiMetrics.buttonHeight;
    f32 rowHeight = 3.2f * listTextSize(&harness);
    click(&harness, kWidth * 0.75f, top - 0.5f * rowHeight);
    EXPECT_EQ(state()->exportNumber, 3);
    EXPECT_STREQ(state()->exportPath.text, "Flight Logs GPX/flight_log_2025_12_07_09_33_20.gpx");
    EXPECT_EQ(state()->cursor, cursor);
    EXPECT_EQ(state()->playbackTime, time);
    EXPECT_GT(harness.app->flightLogReplay.positionEntries, 0u);

    FileThreadState files{};
    for (int i = 0; i < 200 && fileJobStatus(&harness.app->flightLogExportProgress) < FileStatusSuccess; i++) {
        runFileThreadPass(&files, harness.platform);
    }
    finishFileThread(&files);
    ASSERT_EQ(harness.app->flightLogExportProgress.status, (u32)FileStatusSuccess);
    // The row says where the file is on its one line: "Saved to ", then the data folder and the file's
    // path in it, cut in the middle where they do not fit, so that the line ends with the file's name.
    harness.render.captureText = true;
    frames(&harness);
    const TextRun* saved = shownText(&harness, "Saved to ");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->text.rfind("Saved to ", 0), 0u) << saved->text;
    std::string file = "/flight_log_2025_12_07_09_33_20.gpx";
    ASSERT_GT(saved->text.size(), file.size());
    EXPECT_EQ(saved->text.substr(saved->text.size() - file.size()), file) << saved->text;
    EXPECT_LT(saved->x1, (f32)kWidth);
    std::ifstream written(std::string(folder) + "/Flight Logs GPX/flight_log_2025_12_07_09_33_20.gpx");
    std::string gpx((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_NE(gpx.find("<name>flight_log_2025_12_07_09_33_20</name>"), std::string::npos);
    size_t points = 0;
    for (size_t at = gpx.find("<trkpt"); at != std::string::npos; at = gpx.find("<trkpt", at + 1)) points++;
    EXPECT_EQ(points, 1334u);  // the position entries of the log
    std::system((std::string("rm -rf ") + folder).c_str());
}

// A vehicle heard for three seconds, then a silent log: paused within 3 s of its last HEARTBEAT the
// top bar shows the link, paused later it shows it lost, as it was in flight. The live clock of
// the program (here the harness's, near its start) never reaches the replay's times, so an
// indicator timed on it would show the link alive for ever.
struct ReplayIndicators : ViewerFrames {
    std::vector<Entry> entries() override {
        std::vector<Entry> entries = ViewerFrames::entries();
        u8 sequence = 0;
        for (i64 s = 1; s <= 3; s++) {
            u8 heartbeat[9] = {0, 0, 0, 0, 2, 12, 0x81, 4, 3};  // a PX4 quadrotor, armed, active
            ByteWriter payload = makeByteWriter(heartbeat, sizeof heartbeat);
            payload.length = sizeof heartbeat;
            u8 frame[64];
            ByteWriter writer = makeByteWriter(frame, sizeof frame);
            sendMavlinkMessage(0, 0, &payload, &writer, &sequence, 0x0101, nullptr, 0);
            entries.push_back({1, kStart + 1000 * s, std::vector<u8>(frame, frame + writer.length)});
        }
        return entries;
    }
    // The right half of the top bar, where the indicators are, paused at a log time.
    std::vector<u8> indicatorsAt(i64 sinceStartMs) {
        state()->isPlaying = 0;
        state()->playbackTime = kStart + sinceStartMs;
        frames(&harness, 2);
        std::vector<u8> pixels((size_t)kWidth * kHeight * 4);
        readHarnessPixels(&harness.render, pixels.data());
        i32 barRows = (i32)harness.app->uiMetrics.buttonHeight;
        std::vector<u8> bar;
        for (i32 y = 0; y < barRows; y++) {  // the rows read from the top
            const u8* row = &pixels[((size_t)y * kWidth + kWidth / 2) * 4];
            bar.insert(bar.end(), row, row + kWidth / 2 * 4);
        }
        return bar;
    }
};

TEST_F(ReplayIndicators, LinkAndSensorHealthTimeOutOnTheReplaysClock) {
    frames(&harness);
    ASSERT_EQ(state()->isInitialised, 1u);
    std::vector<u8> heard = indicatorsAt(3500);
    ASSERT_NE(harness.app->flightLogReplay.connection.vehicle.vehicleId, 0);
    std::vector<u8> stillHeard = indicatorsAt(5900);
    std::vector<u8> lost = indicatorsAt(9000);
    std::vector<u8> lostLater = indicatorsAt(15000);
    EXPECT_TRUE(heard == stillHeard) << "within 3 s of the last HEARTBEAT";
    EXPECT_TRUE(lost == lostLater);
    EXPECT_FALSE(heard == lost) << "more than 3 s of log time after the last HEARTBEAT";
}

}  // namespace
