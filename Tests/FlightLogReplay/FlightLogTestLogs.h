// Logs built in memory for the flight-log tests: entries encoded as the writer lays them out, and the
// index over them.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"

namespace flightlogtest {

using Bytes = std::vector<u8>;

struct Entry {
    u8 type;
    i64 time;  // Unix ms
    Bytes payload;
};

inline Bytes encodeLog(const std::vector<Entry>& entries) {
    Bytes log;
    for (const Entry& entry : entries) {
        u8 header[20];
        ByteWriter writer = makeByteWriter(header, sizeof(header));
        LengthFieldMark mark = writeFlightLogEntryHeader(&writer, entry.time, entry.type);
        patchLengthField(&mark, entry.payload.size());
        log.insert(log.end(), header, header + writer.length);
        log.insert(log.end(), entry.payload.begin(), entry.payload.end());
        u16 crc = flightLogChecksum(entry.payload.data(), (i64)entry.payload.size(), entry.type);
        log.push_back((u8)crc);
        log.push_back((u8)(crc >> 8));
    }
    return log;
}

// A log's index over an 8-byte aligned copy of its bytes, which the index lives in.
struct IndexedLog {
    std::vector<u64> buffer;
    FlightLogIndex index{};

    void build(const std::vector<Entry>& entries) {
        Bytes log = encodeLog(entries);
        buffer.assign(log.size() / 8 + 1, 0);
        std::memcpy(buffer.data(), log.data(), log.size());
        index = optimizeFlightLogFile((u8*)buffer.data(), (i64)log.size());
        ASSERT_EQ(index.error.length, 0) << index.error.text;
    }
};

}  // namespace flightlogtest
