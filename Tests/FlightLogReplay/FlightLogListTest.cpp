// The flight-log list over a temporary "Flight Logs" folder with the real file thread and job
// worker, the clock in the test's hands: every summary against the line an independent python
// reader builds from the same bytes, the slot shown longest ago giving way, a vanished log leaving
// after its keep-until time, and a chosen log that cannot be read asked for at most once per 2 s.
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "FlightLogReplay/FlightLogList.h"
#include "Platform/FileTables.h"
#include "FlightLogReplay/FlightLogTestLogs.h"
#include "Platform/FileTestSupport.h"

namespace {

using Bytes = std::vector<u8>;

std::string hexOf(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (u8 b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

using flightlogtest::mavlinkFrame;

class FlightLogListFixture : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        list = (FlightLogList*)std::calloc(1, sizeof(FlightLogList));
        folder = dataFolder + "Flight Logs";
        std::filesystem::create_directories(folder);
        running = 1;
        if (realFileThread) fileThread = std::thread([this] { runFileThread(platform, &running); });
        jobWorker = std::thread([this] { runAsyncJobWorker(&platform->jobQueue, &running, 1000); });
    }
    void TearDown() override {
        __atomic_store_n(&running, 0, __ATOMIC_RELEASE);
        if (fileThread.joinable()) fileThread.join();
        jobWorker.join();
        std::free(list);
        FileThreadFixture::TearDown();
    }

    // The python writer's files and the summary it expects for each.
    std::map<std::string, std::string> writeLogs(const std::string& arguments) {
        std::string command =
            "/usr/bin/python3 '" ORVIK_SOURCE_DIR "/Tests/FlightLogReplay/flight_log_list_logs.py' '" + folder + "' " +
            arguments;
        std::map<std::string, std::string> expected;
        FILE* pipe = popen(command.c_str(), "r");
        std::string text;
        char buffer[4096];
        size_t got;
        while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
        EXPECT_TRUE(pipe && pclose(pipe) == 0) << text;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            size_t tab = line.find('\t');
            if (tab != std::string::npos) expected[line.substr(0, tab)] = line.substr(tab + 1);
        }
        return expected;
    }

    void update() { updateFlightLogList(list, &platform->fileReads, &platform->jobQueue, nullptr, now); }

    // Frames at a standing clock until the condition holds (bounded: the threads are real).
    template <typename Condition>
    bool framesUntil(Condition condition) {
        for (int i = 0; i < 20000; i++) {
            if (!realFileThread) pass();
            update();
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    }

    bool listed() { return list->currentListing && list->listingTime != 0; }

    // As the screen does for a visible row: ask for the log until it has an entry, then until its
    // read, parse and summary are done.
    const FlightLogListEntry* readLog(const std::string& name) {
        list->nextLogToRead = makeString(name.c_str());
        FixedString wanted = list->nextLogToRead;
        bool done = framesUntil([&] {
            const FlightLogListEntry* entry = findFlightLogEntry(list, &wanted);
            return entry && !list->logRequest && !equals(entry->summary, "Parsing...");
        });
        list->nextLogToRead = FixedString{};
        EXPECT_TRUE(done) << name;
        return findFlightLogEntry(list, &wanted);
    }

    FlightLogList* list = nullptr;
    std::string folder;
    bool realFileThread = true;  // else the test runs the file thread's passes itself
    u32 running = 0;
    std::thread fileThread;
    std::thread jobWorker;
    i64 now = 1000000;
};

TEST_F(FlightLogListFixture, EverySummaryIsTheLineThePythonReaderBuildsFromTheSameBytes) {
    std::string statuses = home + "/statuses.txt";
    std::ofstream out(statuses);
    out << "0 0 " << hexOf(mavlinkFrame(MavlinkHeartbeat, Bytes{0, 0, 0, 0, 2, 12, 0x81, 4, 3}, 0x0101)) << "\n";
    i16 counters[][2] = {{3, 2}, {3, 2}, {7, 2}, {7, 5}, {12, 6}};
    for (auto& c : counters) out << c[0] << " " << c[1] << " " << hexOf(flightlogtest::orvikStatus(c[0], c[1])) << "\n";
    out.close();
    std::map<std::string, std::string> expected = writeLogs("'" + statuses + "'");
    ASSERT_EQ(expected.size(), 9u);
    EXPECT_EQ(expected["flight_log_2025_12_7_11_0_0.qvlog3"].find("13 ignition spheres") != std::string::npos, true);

    ASSERT_TRUE(framesUntil([&] { return listed(); }));
    for (const auto& [name, summary] : expected) {
        const FlightLogListEntry* entry = readLog(name);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_STREQ(entry->summary.text, summary.c_str()) << name;
        EXPECT_EQ(list->parseState, (u32)FlightLogParseNone) << name;  // an unwanted log is not kept
    }
    // A file the listing does not hold is never read.
    list->nextLogToRead = makeString("flight_log_missing.qvlog3");
    update();
    EXPECT_EQ(list->logRequest, nullptr);
}

TEST_F(FlightLogListFixture, The65thLogTakesTheSlotShownLongestAgoAndAVanishedFailedLogLeavesAfterItsKeepTime) {
    std::map<std::string, std::string> expected = writeLogs("--many 65");
    ASSERT_TRUE(framesUntil([&] { return listed(); }));
    std::vector<std::string> names;
    for (const auto& item : expected) names.push_back(item.first);
    for (size_t i = 0; i < 64; i++) {
        now += 1000;
        readLog(names[i]);
        for (u32 s = 0; s < kMaxFlightLogListEntries; s++) {
            if ((list->occupied >> s) & 1) list->entries[s].lastShownTime = now;  // all rows on screen
        }
    }
    ASSERT_EQ(list->occupied, ~0ull);
    FixedString oldest = makeString(names[20].c_str());
    findFlightLogEntry(list, &oldest)->lastShownTime = 5;
    const FlightLogListEntry* last = readLog(names[64]);
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last->summary.text, expected[names[64]].c_str());
    EXPECT_EQ(findFlightLogEntry(list, &oldest), nullptr);
    for (size_t i = 0; i < 64; i++) {
        FixedString name = makeString(names[i].c_str());
        if (i != 20) {
            EXPECT_NE(findFlightLogEntry(list, &name), nullptr) << names[i];
        }
    }

    // A log whose read fails is kept 2 s; gone from the folder, it leaves at the first listing after.
    std::filesystem::remove(folder + "/" + names[30]);
    std::filesystem::remove(folder + "/" + names[31]);
    {
        std::ofstream big(folder + "/huge.qvlog3");
    }
    std::filesystem::resize_file(folder + "/huge.qvlog3", kMaxFlightLogBytes + 1);
    now += kFlightLogListingPeriodMicros + 1;
    ASSERT_TRUE(framesUntil([&] { return listed() && list->listingTime == now; }));
    now += kFlightLogListingPeriodMicros - 500000;
    const FlightLogListEntry* huge = readLog("huge.qvlog3");
    ASSERT_NE(huge, nullptr);
    EXPECT_STREQ(huge->summary.text, "File is larger than allowed");
    EXPECT_EQ(huge->keepUntil, now + kFlightLogRetryMicros);
    std::filesystem::remove(folder + "/huge.qvlog3");
    FixedString hugeName = makeString("huge.qvlog3");
    now += 500001;  // the next listing comes before the keep-until time
    ASSERT_TRUE(framesUntil([&] { return listed() && list->listingTime == now; }));
    EXPECT_NE(findFlightLogEntry(list, &hugeName), nullptr);
    now += kFlightLogListingPeriodMicros + 1;  // and the one after it, after
    ASSERT_TRUE(framesUntil([&] { return listed() && list->listingTime == now; }));
    EXPECT_EQ(findFlightLogEntry(list, &hugeName), nullptr);
    // Logs read whole stay until their slot is reused, gone from the folder or not.
    FixedString deleted = makeString(names[30].c_str());
    EXPECT_NE(findFlightLogEntry(list, &deleted), nullptr);
}

// The file thread's passes run by the test, so that every read asked for is seen before it is served.
class ChosenLogFixture : public FlightLogListFixture {
protected:
    ChosenLogFixture() { realFileThread = false; }
};

TEST_F(ChosenLogFixture, AChosenLogThatCannotBeUsedIsReadAtMostOnceEveryTwoSeconds) {
    writeFile(folder + "/notes.txt", "not a log");
    {
        std::ofstream big(folder + "/huge.qvlog3");
    }
    std::filesystem::resize_file(folder + "/huge.qvlog3", kMaxFlightLogBytes + 1);
    ASSERT_TRUE(framesUntil([&] { return listed(); }));
    for (const char* name : {"huge.qvlog3", "notes.txt"}) {
        list->wantedLog = makeString(name);
        i64 start = now;
        int reads = 0;
        // Ten seconds of frames 50 ms apart, each with a file pass and waiting for the job.
        while (now < start + 10000000) {
            update();
            if (list->logRequest && fileRequestStatus(list->logRequest) == FileStatusNotYetProcessed) reads++;
            pass();
            while (flightLogParseState(list) == FlightLogParsing) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            now += 50000;
        }
        EXPECT_GE(reads, 4) << name;
        EXPECT_LE(reads, 6) << name;
        FixedString wanted = list->wantedLog;
        ASSERT_NE(findFlightLogEntry(list, &wanted), nullptr);
    }
    // A good log chosen is read once and kept with its index while it stays chosen.
    std::map<std::string, std::string> expected = writeLogs("--many 1");
    std::string good = expected.begin()->first;
    now += kFlightLogListingPeriodMicros + 1;
    list->wantedLog = makeString(good.c_str());
    ASSERT_TRUE(framesUntil([&] { return list->logRequest && flightLogParseState(list) == FlightLogParseDone; }));
    FileReadRequest* kept = list->logRequest;
    for (int i = 0; i < 100; i++, now += 50000) update();
    EXPECT_EQ(list->logRequest, kept);
    EXPECT_EQ(list->index.entryCount, 2);
    list->wantedLog = FixedString{};
    update();
    EXPECT_EQ(list->logRequest, nullptr);
    EXPECT_EQ(list->parseState, (u32)FlightLogParseNone);
}

TEST_F(FlightLogListFixture, ALogAskedForWhileTheReadTableIsFullFailsUnderItsOwnName) {
    writeFile(folder + "/flight_log_a.qvlog3", "x");
    ASSERT_TRUE(framesUntil([&] { return listed(); }));
    std::vector<FileReadRequest*> fillers;
    for (;;) {
        FileReadRequest* filler = requestFolderListing(makeString("no such folder"), &platform->fileReads);
        if (filler == &platform->fileReads.fullTableSlot) break;
        fillers.push_back(filler);
    }
    const FlightLogListEntry* entry = readLog("flight_log_a.qvlog3");
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->summary.text, fileStatusString(FileStatusTooManyOpenFiles).text);
    for (FileReadRequest* filler : fillers) releaseFileReadRequest(filler, &platform->fileReads);
}

}  // namespace
