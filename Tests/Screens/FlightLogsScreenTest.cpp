// The Flight Logs screen through real frames with the flight-log list and the file passes under
// it: a folder of more than 3,000 files shows the first 3,000 in listing order, newest first (python
// lists the folder as the file thread does and sets the times), the newest shown log is the first
// read, "View" on a log that fails to index never opens the viewer while on a good one it does, and
// leaving the screen gives back the kept log's read slot.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "Map/TileMaps.h"
#include "Platform/FileTables.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlightLogsScreen.h"
#include "ScreenTestSupport.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;

void flightLogsUpdate(Platform* platform, UiState* ui, AppState* app) {
    while (runNextAsyncJob(&platform->jobQueue)) {
    }
    updateFlightLogList(&app->flightLogList, &platform->fileReads, &platform->jobQueue, nullptr,
                        (i64)app->screenStack.now);
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    updateScreen(&app->screenStack, platform, ui, app);
}

std::string runPython(const std::string& script) {
    std::string command = "/usr/bin/python3 -c '" + script + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t got;
    while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    EXPECT_TRUE(pipe && pclose(pipe) == 0) << out;
    return out;
}

// Files of the folder, each "name mtime"; two real logs are the newest, the empty one just after.
const char* kWriteFolder = R"(
import os, random, struct, sys
sys.path.insert(0, sys.argv[2] + "/Tests/FlightLogs")
import flight_log_index
folder = sys.argv[1]
def entry(kind, time, payload=b""):
    crc = flight_log_index.crc16(payload + bytes([kind]))
    return struct.pack("<BqH", kind, time, len(payload)) + payload + struct.pack("<H", crc)
rng = random.Random(7)
count = int(sys.argv[3])
times = rng.sample(range(1000000, 2000000), count)
for i in range(count):
    name = "flight_log_%04d.qvlog3" % i
    open(os.path.join(folder, name), "wb").write(b"x")
    os.utime(os.path.join(folder, name), (times[i], times[i]))
good = entry(7, 1765100000000, b"\x00\x00\x00\x00") + entry(1, 1765100065000)
open(os.path.join(folder, "a_good.qvlog3"), "wb").write(good)
open(os.path.join(folder, "b_empty.qvlog3"), "wb").write(b"")
os.utime(os.path.join(folder, "a_good.qvlog3"), (3000002, 3000002))
os.utime(os.path.join(folder, "b_empty.qvlog3"), (3000001, 3000001))
os.mkdir(os.path.join(folder, "a folder"))
)";

// The rows the operator must see: the first 3,000 files in the folder's own order, newest first.
const char* kExpectedRows = R"(
import os, sys
folder = sys.argv[1]
names = [e.name for e in os.scandir(folder) if e.is_file()][:3000]
names.sort(key=lambda n: -os.stat(os.path.join(folder, n)).st_mtime_ns)
print("\n".join(names))
)";

class FlightLogsScreenTest : public ::testing::Test {
protected:
    void SetUp() override {}
    void start(i32 files) {
        char pattern[] = "/tmp/orvik-flight-logs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        logs = folder + "/data/Flight Logs";
        std::filesystem::create_directories(logs);
        runPython(std::string(kWriteFolder) + "' '" + logs + "' '" ORVIK_SOURCE_DIR "' '" + std::to_string(files));
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        harness.platform->dataFolder = makeString((folder + "/data/").c_str());
        harness.platform->pathSeparator = '/';
        setHarnessUpdate(&harness.render, flightLogsUpdate);
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = flightLogsScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
    }
    void TearDown() override {
        if (started) stopScreensHarness(&harness);
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }

    FlightLogsScreenState* state() { return (FlightLogsScreenState*)harness.app->screenStack.screenState; }
    FlightLogList* list() { return &harness.app->flightLogList; }
    std::string rowName(i32 row) {
        const FileReadRequest* listing = list()->currentListing;
        const FolderEntry* entries = (const FolderEntry*)(listing->data + listing->headroom);
        return entries[state()->rowOrder[row]].name.text;
    }
    const FlightLogListEntry* entryOf(const char* name) {
        FixedString text = makeString(name);
        return findFlightLogEntry(list(), &text);
    }
    template <typename Condition>
    bool framesUntil(Condition condition, i32 limit = 200) {
        for (i32 i = 0; i < limit; i++) {
            harness.render.now += 20000;
            frames(&harness);
            if (condition()) return true;
        }
        return false;
    }
    // Read slots in use besides the folder listings and the map's tile reads.
    i32 readSlotsInUse() {
        i32 count = 0;
        for (u64 word : harness.platform->fileReads.used) count += std::popcount(word);
        // The replay's map reads tiles; they are the map's, kept until a map is drawn again.
        for (const TileEntry& tile : harness.app->tileMaps.entries) count -= tile.read ? 1 : 0;
        return count - (list()->currentListing ? 1 : 0) - (list()->pendingListing ? 1 : 0);
    }
    // Selects a row, then presses the "View" button that opens under it.
    void view(i32 row) {
        click(&harness, kWidth / 2.0f, rowCentreY(&harness, row));
        const MapView* v = &state()->listView;
        f32 rowHeight = 3.2f * listTextSize(&harness);
        click(&harness, kWidth / 2.0f, kHeight - (row + 1) * rowHeight - (v->textSize + v->padding));
    }

    ScreensHarness harness{};
    bool started = false;
    std::string folder;
    std::string logs;
};

TEST_F(FlightLogsScreenTest, MoreThan3000FilesShowTheFirst3000InListingOrderNewestFirst) {
    ASSERT_NO_FATAL_FAILURE(start(3010));
    ASSERT_TRUE(framesUntil([&] { return state()->rowCount > 0; }));
    std::istringstream expected(runPython(std::string(kExpectedRows) + "' '" + logs));
    ASSERT_EQ(state()->rowCount, 3000);
    std::string line;
    for (i32 row = 0; std::getline(expected, line); row++) {
        ASSERT_LT(row, 3000);
        ASSERT_EQ(rowName(row), line) << "row " << row;
    }
}

TEST_F(FlightLogsScreenTest, ViewOpensOnlyAnIndexedLogAndLeavingGivesBackTheKeptRead) {
    ASSERT_NO_FATAL_FAILURE(start(20));
    // The two logs are the newest rows; shown, they are read one after the other.
    ASSERT_TRUE(framesUntil(
        [&] { return entryOf("a_good.qvlog3") && entryOf("b_empty.qvlog3") && !list()->logRequest; }));
    ASSERT_EQ(rowName(0), "a_good.qvlog3");
    EXPECT_STREQ(entryOf("a_good.qvlog3")->summary.text, "1 min 5 s");
    EXPECT_STREQ(entryOf("b_empty.qvlog3")->summary.text, "Didn't parse any entries");
    EXPECT_GT(entryOf("a_good.qvlog3")->lastShownTime, 0);
    i32 idleSlots = readSlotsInUse();

    view(1);
    EXPECT_TRUE(equals(list()->wantedLog, "b_empty.qvlog3"));
    EXPECT_FALSE(framesUntil([&] { return topScreen(&harness) != (ScreenFunction)flightLogsScreen; }, 50));
    EXPECT_STREQ(entryOf("b_empty.qvlog3")->summary.text, "Didn't parse any entries");
    ASSERT_NE(list()->logRequest, nullptr);  // kept while chosen
    EXPECT_EQ(readSlotsInUse(), idleSlots + 1);
    writeHarnessPng(&harness.render, outputPath("flight_logs_screen.png").c_str());

    view(0);
    ASSERT_TRUE(framesUntil([&] { return topScreen(&harness) == (ScreenFunction)viewFlightLogScreen; }));
    EXPECT_EQ(list()->index.entryCount, 2);
    EXPECT_TRUE(equals(list()->logRequest->name, "a_good.qvlog3"));

    // Back on the list nothing is chosen: the kept log goes; so it does when the list is left.
    tapKey(&harness, KeyEscape);
    ASSERT_EQ(topScreen(&harness), (ScreenFunction)flightLogsScreen);
    ASSERT_TRUE(framesUntil([&] { return !list()->logRequest; }));
    view(1);
    ASSERT_TRUE(framesUntil([&] { return list()->logRequest && flightLogParseState(list()) == FlightLogParseDone; }));
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(stackDepth(&harness), 1);
    frames(&harness, 2);
    EXPECT_EQ(list()->logRequest, nullptr);
    EXPECT_EQ(list()->wantedLog.length, 0);
    EXPECT_EQ(readSlotsInUse(), idleSlots);
}

}  // namespace
