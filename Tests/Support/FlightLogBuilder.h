// Flight logs built in memory for tests: entries encoded as the writer stores them, and the index
// built over them in an 8-byte aligned buffer that the test keeps.
#pragma once
#include <cstring>
#include <vector>

#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"

struct FlightLogTestEntry {
    u8 type;
    i64 time;  // Unix ms
    std::vector<u8> payload;
};

// The bytes of a log file holding the entries in the given order.
inline std::vector<u8> encodeFlightLog(const std::vector<FlightLogTestEntry>& entries) {
    std::vector<u8> log;
    for (const FlightLogTestEntry& entry : entries) {
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

// Indexes the log's bytes inside buffer, which the index then points into.
inline FlightLogIndex indexFlightLogBytes(const std::vector<u8>& log, std::vector<u64>* buffer) {
    buffer->assign(log.size() / 8 + 1, 0);
    std::memcpy(buffer->data(), log.data(), log.size());
    return optimizeFlightLogFile((u8*)buffer->data(), (i64)log.size());
}
