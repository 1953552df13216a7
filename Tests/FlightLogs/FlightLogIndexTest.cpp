// The reader and index against an independent python reader over damaged logs: bytes flipped, cut,
// inserted and swapped, each log indexed by both; the same entries in the same order and the same
// count of skipped bytes.
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Core/Profiler.h"
#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"

namespace {

using Bytes = std::vector<u8>;

constexpr i64 kDay = 86400000;

void appendEntry(Bytes* log, u8 type, i64 time, const Bytes& payload) {
    u8 header[20];
    ByteWriter writer = makeByteWriter(header, sizeof(header));
    LengthFieldMark mark = writeFlightLogEntryHeader(&writer, time, type);
    patchLengthField(&mark, payload.size());
    log->insert(log->end(), header, header + writer.length);
    log->insert(log->end(), payload.begin(), payload.end());
    u16 crc = flightLogChecksum(payload.data(), (i64)payload.size(), type);
    log->push_back((u8)(crc & 0xFF));
    log->push_back((u8)(crc >> 8));
}

Bytes randomBytes(std::mt19937* random, size_t count) {
    Bytes bytes(count);
    for (u8& b : bytes) b = (u8)(*random)();
    return bytes;
}

// A start block, a header, then entries a little out of time order, some with equal times, and a
// few outside the index's window (40 days later, 25 days earlier) that the index must pass over.
// Long logs cross the index's batches of a thousand descriptors and the growth of its arrays.
Bytes makeLog(std::mt19937* random, i64 start, i32 entries = 240) {
    Bytes log;
    appendEntry(&log, 1, start, randomBytes(random, 30));
    appendEntry(&log, 9, start - 100, Bytes{0});
    appendEntry(&log, 15, start, randomBytes(random, 12));
    appendEntry(&log, 16, start, randomBytes(random, 34));
    appendEntry(&log, 7, start, Bytes{0x78, 0x00, 0x00, 0x00, 5, '3', '.', '1', '.', '0'});
    for (i32 i = 0; i < entries; i++) {
        i64 time = start + i * 200 + (i64)((*random)() % 1500) - 700;
        if (i % 17 == 5) time = start + i * 200;  // ties with other entries
        if (i == 100 || i == 180) time = start + 40 * kDay;
        if (i == 150) time = start - 25 * kDay;
        u8 type = (u8)(1 + (*random)() % 16);
        appendEntry(&log, type, time, randomBytes(random, (*random)() % 90));
        if (i % 23 == 0) {
            // Empty entries of one time, which share their payload offset: only file order tells them apart.
            for (u8 k = 1; k <= 3; k++) appendEntry(&log, (u8)(k * 5), start + i * 200, Bytes{});
        }
    }
    return log;
}

void damage(std::mt19937* random, Bytes* log) {
    i32 operations = 1 + (i32)((*random)() % 4);
    for (i32 k = 0; k < operations && !log->empty(); k++) {
        size_t at = (*random)() % log->size();
        switch ((*random)() % 4) {
            case 0:  // bytes flipped
                for (i32 n = 1 + (i32)((*random)() % 6); n > 0; n--) (*log)[(*random)() % log->size()] ^= (u8)(1 + (*random)() % 255);
                break;
            case 1:  // cut
                log->resize(at + (log->size() - at) / 2);
                break;
            case 2: {  // inserted
                Bytes extra = randomBytes(random, 1 + (*random)() % 60);
                log->insert(log->begin() + (long)at, extra.begin(), extra.end());
                break;
            }
            default: {  // two stretches swapped
                size_t length = 1 + (*random)() % 120;
                if (log->size() < 2 * length) break;
                size_t a = (*random)() % (log->size() - 2 * length + 1);
                size_t b = a + length + (*random)() % (log->size() - a - 2 * length + 1);
                std::swap_ranges(log->begin() + (long)a, log->begin() + (long)(a + length), log->begin() + (long)b);
                break;
            }
        }
    }
}

std::string hexOf(const u8* bytes, i64 length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (i64 i = 0; i < length; i++) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    return out;
}

// The index of a log as the lines the python reader prints.
std::vector<std::string> indexLines(const Bytes& log) {
    std::vector<u64> buffer(log.size() / 8 + 1);
    std::memcpy(buffer.data(), log.data(), log.size());
    FlightLogIndex index = optimizeFlightLogFile((u8*)buffer.data(), (i64)log.size());
    std::vector<std::string> lines;
    if (index.error.length) {
        lines.push_back(std::string("error ") + index.error.text);
        return lines;
    }
    lines.push_back("index skipped=" + std::to_string(index.skippedBytes) + " count=" + std::to_string(index.entryCount) +
                    " first=" + std::to_string(index.firstSortedEntry));
    for (i64 i = 0; i < index.entryCount; i++) {
        lines.push_back(std::to_string(index.entryTypes[i]) + " " + std::to_string(flightLogEntryTime(&index, i)) + " " +
                        hexOf(flightLogEntryPayload(&index, i), flightLogEntryLength(&index, i)));
    }
    EXPECT_EQ(index.usedBytes, (i64)log.size() - index.skippedBytes);
    return lines;
}

std::vector<std::string> runPython(const std::vector<std::string>& paths) {
    std::string command = std::string("/usr/bin/python3 '") + ORVIK_SOURCE_DIR + "/Tests/FlightLogs/flight_log_index.py'";
    for (const std::string& path : paths) command += " '" + path + "'";
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return lines;
    std::string line;
    int c;
    while ((c = fgetc(pipe)) != EOF) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back((char)c);
        }
    }
    EXPECT_EQ(pclose(pipe), 0);
    return lines;
}

TEST(FlightLogIndex, DamagedLogsAreIndexedAsAnIndependentReaderIndexesThem) {
    char folder[] = "/tmp/orvik-flightlog-index-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::mt19937 random(20261207);
    std::vector<Bytes> logs;
    std::vector<std::string> paths;
    for (i32 n = 0; n < 160; n++) {
        // Half the logs start exactly 20 days after 1970, so their time base is 0.
        Bytes log = makeLog(&random, n % 2 ? 1765000000000LL : kFlightLogTimeBaseLeadMs, n % 40 == 3 ? 5000 : 240);
        if (n >= 2) damage(&random, &log);
        std::string path = std::string(folder) + "/" + std::to_string(n) + ".qvlog3";
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(log.data(), 1, log.size(), file);
        std::fclose(file);
        logs.push_back(log);
        paths.push_back(path);
    }
    std::vector<std::string> python = runPython(paths);
    size_t at = 0;
    i64 skippedSeen = 0, entriesSeen = 0;
    for (size_t n = 0; n < logs.size(); n++) {
        ASSERT_LT(at, python.size());
        ASSERT_EQ(python[at++], "file " + paths[n]);
        std::vector<std::string> expected;
        while (at < python.size() && python[at] != "end") expected.push_back(python[at++]);
        at++;
        std::vector<std::string> ours = indexLines(logs[n]);
        if (expected.at(0).find(" count=0 ") != std::string::npos) {
            EXPECT_EQ(ours, std::vector<std::string>{"error Didn't parse any entries"}) << paths[n];
            continue;
        }
        EXPECT_EQ(ours, expected) << paths[n];
        skippedSeen += expected.at(0).find("skipped=0 ") == std::string::npos ? 1 : 0;
        entriesSeen += (i64)expected.size() - 1;
    }
    // The undamaged logs lose exactly the three entries outside the window.
    EXPECT_EQ(python.at(1).rfind("index skipped=", 0), 0u);
    EXPECT_NE(python.at(1).find(" count=275 first=5"), std::string::npos) << python.at(1);
    EXPECT_GT(skippedSeen, 100);
    EXPECT_GT(entriesSeen, 10000);
    for (const std::string& path : paths) unlink(path.c_str());
    rmdir(folder);
}

TEST(FlightLogIndex, ChecksumsAndDescriptorCopiesAreProfilingRegionsOfTheParse) {
    std::mt19937 random(72);
    Bytes log = makeLog(&random, 1765000000000LL);
    std::vector<u64> buffer(log.size() / 8 + 1);
    std::memcpy(buffer.data(), log.data(), log.size());
    ASSERT_EQ(optimizeFlightLogFile((u8*)buffer.data(), (i64)log.size()).error.length, 0);
    static u8 bytes[1 << 16];
    ByteWriter writer = makeByteWriter(bytes, sizeof bytes);
    appendProfilingReportB(&globalProfiler, &writer);
    std::string report((const char*)bytes, (size_t)writer.length);
    size_t parse = report.find("\n\tParse flight log file\t");
    ASSERT_NE(parse, std::string::npos) << report;
    EXPECT_NE(report.find("\n\t\tMAVLink CRC\t", parse), std::string::npos) << report;
    EXPECT_NE(report.find("\n\t\tCopy to SOA\t", parse), std::string::npos) << report;
}

TEST(FlightLogIndex, HeaderGivesStartTimeAndTimeShiftAndAShortHeaderIsReadOnlyWithinItself) {
    Bytes log;
    appendEntry(&log, 1, 1000000000000, Bytes{1, 2});
    appendEntry(&log, 7, 1000000001000, Bytes{0x88, 0xFF, 0x00, 0x00});  // -120 minutes
    appendEntry(&log, 1, 1000000003000, Bytes{});
    appendEntry(&log, 1, 1000000002000, Bytes{});
    appendEntry(&log, 7, 1000000000500, Bytes{0x05});  // a cut second header
    std::vector<u64> buffer(log.size() / 8 + 1);
    std::memcpy(buffer.data(), log.data(), log.size());
    FlightLogIndex index = optimizeFlightLogFile((u8*)buffer.data(), (i64)log.size());
    ASSERT_EQ(index.error.length, 0);
    EXPECT_EQ(index.startTime, 1000000001000);
    EXPECT_EQ(index.endTime, 1000000003000);
    EXPECT_EQ(index.timeShiftMs, -120 * 60000);
    EXPECT_EQ(index.firstSortedEntry, 2);
    EXPECT_EQ(index.entryTypes[2], 7);  // the second header sorted by its time

    u8* misaligned = (u8*)buffer.data() + 1;
    FlightLogIndex refused = optimizeFlightLogFile(misaligned, 13);
    EXPECT_EQ(std::string(refused.error.text).rfind("logBytes pointer (0x", 0), 0u);
    EXPECT_EQ(refused.entryCount, 0);
}

}  // namespace
