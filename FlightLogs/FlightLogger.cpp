#include "FlightLogs/FlightLogger.h"

#include <cstring>

#include "Core/Clock.h"
#include "Mavlink/Mavlink.h"

u64 flightLogMicroseconds(const FlightLogger* logger) {
    return logger->clocks.microseconds ? logger->clocks.microseconds() : getMicroseconds();
}

u16 flightLogChecksum(const void* payload, i64 length, u8 type) {
    const u8* bytes = static_cast<const u8*>(payload);
    u16 crc = 0xFFFF;
    for (i64 i = 0; i < length; i++) crc = mavlinkCrcAccumulate(crc, bytes[i]);
    return mavlinkCrcAccumulate(crc, type);
}

LengthFieldMark writeFlightLogEntryHeader(ByteWriter* writer, i64 unixMs, u8 type) {
    appendU8(type, writer);
    appendU64Le(static_cast<u64>(unixMs), writer);
    return reserveLengthField(writer, LengthFieldU16Le);
}

void appendFlightLogEntry(u8* buffer, u32 size, u32* fill, const ByteWriter* header, const void* payload,
                          i64 payloadLength) {
    u32 mask = size - 1;
    u32 at = *fill;
    for (i64 i = 0; i < header->length; i++) buffer[(at++) & mask] = header->data[i];
    const u8* bytes = static_cast<const u8*>(payload);
    u16 crc = 0xFFFF;
    for (i64 i = 0; i < payloadLength; i++) {
        buffer[(at++) & mask] = bytes[i];
        crc = mavlinkCrcAccumulate(crc, bytes[i]);
    }
    crc = mavlinkCrcAccumulate(crc, header->data[0]);
    buffer[(at++) & mask] = static_cast<u8>(crc & 0xFF);
    buffer[(at++) & mask] = static_cast<u8>(crc >> 8);
    *fill = at;
}

namespace {

// Hands every buffered byte to the file thread. Returns 1 when the buffer is empty afterwards. Without
// a job table or a file the bytes have nowhere to go and are dropped; a full table or a failed
// allocation keeps them for the next try.
i32 handOverBuffer(FlightLogger* logger) {
    if (logger->bufferFill == 0) return 1;
    if (!logger->fileJobs || logger->bufferFileName.length == 0) {
        logger->bufferFill = 0;
        return 1;
    }
    if (!fileJobSlotAvailable(logger->fileJobs)) return 0;
    u8* block = allocateFileBuffer(logger->bufferFill);
    if (!block) return 0;
    std::memcpy(block, logger->entryBuffer, logger->bufferFill);
    enqueueFileJob(logger->bufferFileName, "application/binary", block, logger->bufferFill, 1, FileJobAppend,
                   logger->fileJobs, &logger->lastAppend);
    logger->bufferFill = 0;
    return 1;
}

}  // namespace

i32 flushFlightLogBuffer(FlightLogger* logger, i64 headerLength, i64 payloadLength) {
    if (headerLength + kFlightLogChecksumBytes + logger->bufferFill + payloadLength < (i64)kFlightLogBufferBytes) {
        return 1;
    }
    if (!handOverBuffer(logger)) return 0;
    logger->lastFlushMicros = static_cast<i64>(flightLogMicroseconds(logger));
    return headerLength + kFlightLogChecksumBytes + payloadLength < (i64)kFlightLogBufferBytes ? 1 : 0;
}

i32 forceFlightLogFlush(FlightLogger* logger) {
    flushFlightLogBuffer(logger, kFlightLogBufferBytes, 1);
    return logger->bufferFill == 0 ? 1 : 0;
}

void addFlightLogEntry(FlightLogger* logger, i64 time, u8 type, const void* data, i64 length) {
    if (!logger || logger->logFileName.length == 0) return;
    if (length < 0 || length > kMaxFlightLogPayload || (length > 0 && !data)) {
        logger->refusedEntries++;
        return;
    }
    i64 unixMs = logger->startUnixMs + (time - logger->startMicros) / 1000;
    u8 headerBytes[20];
    ByteWriter header = makeByteWriter(headerBytes, sizeof(headerBytes));
    LengthFieldMark mark = writeFlightLogEntryHeader(&header, unixMs, type);
    patchLengthField(&mark, static_cast<u64>(length));
    if (!flushFlightLogBuffer(logger, header.length, length)) {
        logger->refusedEntries++;
        return;
    }
    appendFlightLogEntry(logger->entryBuffer, kFlightLogBufferBytes, &logger->bufferFill, &header, data, length);
    logger->entries++;
    logger->bytes += static_cast<u64>(length);
    if (type < kFlightLogEntryTypes) logger->entriesByType[type]++;
}

i32 registerFlightLogEntry(FlightLogger* logger, const FlightLogEntryRecord* entry) {
    if (!logger || !entry || !entry->payload.data || logger->registeredEntryCount >= kMaxRegisteredLogEntries) {
        return 0;
    }
    logger->registeredEntries[logger->registeredEntryCount++] = entry;
    return 1;
}
