// Logs built in memory for the flight-log tests: entries encoded as the writer lays them out, and the
// index over them.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
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

// One MAVLink frame of the message from source (system << 8 | component).
inline Bytes mavlinkFrame(u32 messageId, const Bytes& payload, u16 source) {
    u8 buffer[300];
    u8 sequence = 0;
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, source, messageId, 0);
    appendBytes(payload.data(), (i64)payload.size(), &writer);
    finishMavlinkPacket(&mark, &writer);
    return Bytes(buffer, buffer + writer.length);
}

// An Orvik status frame with its two drop counters, inside ENCAPSULATED_DATA from the payload.
inline Bytes orvikStatus(i16 counterA, i16 counterB) {
    u8 frame[64];
    u8 sequence = 1;
    ByteWriter writer = makeByteWriter(frame, sizeof(frame));
    LengthFieldMark mark = beginPayloadFrame(&sequence, PayloadFrameOrvikStatus, &writer);
    u8 body[27] = {2, (u8)(counterA >> 8), (u8)counterA, (u8)(counterB >> 8), (u8)counterB};
    appendBytes(body, sizeof(body), &writer);
    finishPayloadFrame(&mark, &writer);
    Bytes payload(frame, frame + writer.length);
    payload.resize(255);
    return mavlinkFrame(MavlinkEncapsulatedData, payload, 0x0119);
}

}  // namespace flightlogtest
