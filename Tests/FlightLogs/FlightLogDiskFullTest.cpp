// The writer and the file thread's own code against a disk that fills in mid-flight and then frees
// space: a tmpfs of its own (where a mount namespace can be had) and a write hook that lets a set
// number of bytes through. Read back by the independent python reader, the log holds whole entries
// only, in order, with one gap entry standing for exactly the entries that were lost, and the
// writer showed "Flight log: disk full" while the disk refused.
#include <cstdio>

#include "Core/Clock.h"
#include "FlightLogReader.h"
#include "FlightLogs/FlightLogSession.h"
#include "Platform/FileSystem.h"
#include "Platform/FileTestSupport.h"

namespace {

u64 gMicros;
u64 testMicros() { return gMicros; }
i64 testUtc() { return 1719997507000LL + kUnixEpochIn1601Milliseconds + (i64)(gMicros / 1000); }
i64 testZone() { return 0; }

constexpr u32 kEntriesPerFrame = 20;
constexpr i64 kPayload = 1000;     // 20 kB a 50 ms frame: the 512 kB buffer lasts about 1.3 s
constexpr u64 kFrameMicros = 50000;
constexpr i64 kLeftOnTheDisk = 100123;  // what the full disk still takes: an append stops mid-entry

// What a flight through a full disk left: the log's bytes and what the writer showed.
struct DiskFullFlight {
    std::string log;
    u32 added = 0;
    bool statusWhileFull = false;  // "Flight log: disk full" on every frame once an append had failed
    bool clearedAfter = false;     // and gone again once space was freed
    std::string status;
};

// Ten seconds of numbered entries: three on a disk with room, then fillDisk(), four on the full
// disk, then freeSpace(), three more; then logging stops and the rest goes out.
DiskFullFlight flyThroughAFullDisk(Platform* platform, FileThreadState* files, const std::string& dataFolder,
                                   const std::function<void()>& fillDisk, const std::function<void()>& freeSpace) {
    DiskFullFlight flight;
    FlightLogger* logger = (FlightLogger*)std::calloc(1, sizeof(FlightLogger));
    logger->fileJobs = &platform->fileJobs;
    logger->clocks = FlightLogClocks{testMicros, testUtc, testZone};
    gMicros = 10000000;
    u8 id[32] = {};
    auto frame = [&](i32 logging) {
        updateFlightLogger(logger, id, platform, nullptr, logging, 0);
        runFileThreadPass(files, platform);
    };
    frame(1);
    std::string name = logger->logFileName.text;
    bool failedYet = false;
    flight.statusWhileFull = true;
    for (u32 f = 0; f < 200; f++) {
        if (f == 60) fillDisk();
        if (f == 140) freeSpace();
        gMicros += kFrameMicros;
        for (u32 e = 0; e < kEntriesPerFrame; e++) addNumbered(logger, (i64)gMicros, &flight.added, kPayload);
        frame(1);
        failedYet = failedYet || logger->failedAppends > 0;
        if (failedYet && f < 140) {
            flight.statusWhileFull = flight.statusWhileFull && equals(logger->writeFailure, "Flight log: disk full");
            flight.status = logger->writeFailure.text;
        }
    }
    flight.statusWhileFull = flight.statusWhileFull && failedYet;
    for (u32 f = 0; f < 20 && (logger->bufferFill || logger->appendFill); f++) {
        gMicros += kFrameMicros;
        frame(0);
    }
    flight.clearedAfter = logger->writeFailure.length == 0 && !logger->bufferFill && !logger->appendFill;
    std::free(logger);
    std::FILE* in = std::fopen((dataFolder + name).c_str(), "rb");
    for (int c; in && (c = std::fgetc(in)) != EOF;) flight.log.push_back((char)c);
    if (in) std::fclose(in);
    return flight;
}

// The log as the python reader finds it: whole entries only, the numbered ones in order with one
// run of them missing, and one gap entry, in that run's place, counting it and spanning its times.
void expectWholeEntriesAndOneGap(const DiskFullFlight& flight, const std::string& folder) {
    EXPECT_TRUE(flight.statusWhileFull) << "last status: \"" << flight.status << "\"";
    EXPECT_TRUE(flight.clearedAfter);
    std::string copy = folder + "/read.qvlog3";
    std::FILE* out = std::fopen(copy.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(flight.log.data(), 1, flight.log.size(), out);
    std::fclose(out);
    FlightLogReading log = readFlightLogWithPython(copy);
    ASSERT_EQ(log.exitStatus, 0) << (log.lines.empty() ? "" : log.lines.back());
    EXPECT_EQ(log.lines.back(), "end entries=" + std::to_string(log.lines.size() - 1) + " tail=0");

    std::vector<std::string> gaps = linesStartingWith(log.lines, "type=17 ");
    ASSERT_EQ(gaps.size(), 1u);
    unsigned long long count = 0;
    long long first = 0, last = 0, start = 0;
    ASSERT_EQ(std::sscanf(entryBody(gaps[0]).c_str(), "gap entries=%llu first=%lld last=%lld", &count, &first, &last), 3);
    ASSERT_EQ(std::sscanf(linesStartingWith(log.lines, "type=7 ").at(0).c_str(), "type=7 time=%lld", &start), 1);
    // Entry n was added on frame n / 20, 50 ms apart, the first 50 ms after the log's start.
    auto timeOf = [&](u64 n) { return start + (long long)(n / kEntriesPerFrame + 1) * 50; };
    u32 expected = 0;
    for (const std::string& line : log.lines) {
        long long time = 0;
        std::sscanf(line.c_str(), "type=%*d time=%lld", &time);
        if (line.rfind("type=17 ", 0) == 0) {
            // In the lost entries' place, spanning their times.
            EXPECT_EQ(first, timeOf(expected));
            EXPECT_EQ(last, timeOf(expected + count - 1));
            EXPECT_EQ(time, first);
            expected += (u32)count;
        } else if (line.rfind("type=1 ", 0) == 0) {
            ASSERT_EQ(numberOfLine(line), expected) << line;
            EXPECT_EQ(time, timeOf(expected));
            expected++;
        }
    }
    EXPECT_EQ(expected, flight.added);
    // The disk was full for four seconds of 400 kB each against two buffers of 512 kB: entries
    // were lost, but not all of those seconds.
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, 4 * 20 * kEntriesPerFrame);
}

struct FullDisk : FileThreadFixture {};

// The disk is a hook that takes a set number of bytes and then refuses with ENOSPC.
struct ByteBudget {
    i64 left = -1;  // -1: no limit
};

i64 allowFromBudget(void* context, i64 count, int* error) {
    ByteBudget* budget = (ByteBudget*)context;
    if (budget->left < 0) return count;
    *error = ENOSPC;
    i64 allowed = count < budget->left ? count : budget->left;
    budget->left -= allowed;
    return allowed;
}

TEST_F(FullDisk, AWriteHookThatRunsOutLeavesWholeEntriesInOrderAndOneGap) {
    ByteBudget budget;
    FileSystemTestHooks hooks{&budget, allowFromBudget, nullptr};
    setFileSystemTestHooks(&hooks);
    DiskFullFlight flight = flyThroughAFullDisk(
        platform, &state, dataFolder, [&] { budget.left = kLeftOnTheDisk; }, [&] { budget.left = -1; });
    setFileSystemTestHooks(nullptr);
    expectWholeEntriesAndOneGap(flight, home);
}

// Fills a file system until it refuses, then gives back `left` bytes.
void fillLeaving(const std::string& ballast, i64 left) {
    int fd = open(ballast.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> block(65536, 'b');
    i64 total = 0;
    for (;;) {
        ssize_t wrote = write(fd, block.data(), block.size());
        if (wrote <= 0) break;
        total += wrote;
    }
    if (ftruncate(fd, total > left ? total - left : 0) != 0) total = 0;
    close(fd);
}

TEST_F(FullDisk, ARealFileSystemThatFillsLeavesWholeEntriesInOrderAndOneGap) {
    // A child flies over a 4 MB tmpfs of its own mounted on the Documents folder and hands back the
    // log and what it saw.
    std::string skipped;
    std::string report = runWithPrivateTmpfs(home + "/Documents", "size=4m", home + "/report", [&] {
        std::string ballast = home + "/Documents/ballast";
        DiskFullFlight flight = flyThroughAFullDisk(
            platform, &state, dataFolder, [&] { fillLeaving(ballast, kLeftOnTheDisk); },
            [&] { unlink(ballast.c_str()); });
        char seen[512];
        std::snprintf(seen, sizeof seen, "%u %d %d %s\n", flight.added, flight.statusWhileFull, flight.clearedAfter,
                      flight.status.c_str());
        return seen + flight.log;
    }, &skipped);
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    size_t lineEnd = report.find('\n');
    ASSERT_NE(lineEnd, std::string::npos) << report;
    DiskFullFlight flight;
    flight.log = report.substr(lineEnd + 1);
    int whileFull = 0, cleared = 0;
    char text[256] = {};
    std::sscanf(report.substr(0, lineEnd).c_str(), "%u %d %d %255[^\n]", &flight.added, &whileFull, &cleared, text);
    flight.statusWhileFull = whileFull;
    flight.clearedAfter = cleared;
    flight.status = text;
    expectWholeEntriesAndOneGap(flight, home);
}

}  // namespace
