#include "FlightLogs/FlightLogger.h"

#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
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

i64 nowMicros(const FlightLogger* logger) { return static_cast<i64>(flightLogMicroseconds(logger)); }

// The bytes of the whole entries that lie within the first `limit` bytes of a buffer of entries.
u32 wholeEntryBytes(const u8* entries, u32 fill, u32 limit) {
    u32 at = 0;
    while (fill - at >= kFlightLogEntryHeaderBytes) {
        u32 length = (u32)entries[at + 9] | (u32)entries[at + 10] << 8;
        u32 next = at + (u32)kFlightLogEntryHeaderBytes + length + (u32)kFlightLogChecksumBytes;
        if (next > limit || next > fill) break;
        at = next;
    }
    return at;
}

u32 countEntries(const u8* entries, u32 fill) {
    u32 count = 0;
    for (u32 at = 0; fill - at >= kFlightLogEntryHeaderBytes; count++) {
        at += (u32)kFlightLogEntryHeaderBytes + ((u32)entries[at + 9] | (u32)entries[at + 10] << 8) +
              (u32)kFlightLogChecksumBytes;
        if (at > fill) break;
    }
    return count;
}

void setWriteFailure(FlightLogger* logger, const FileJobResult* result) {
    logger->writeFailure = formatStr("Flight log: @", fileJobFailureText(result));
}

void clearWriteFailure(FlightLogger* logger) {
    logger->writeFailure = FixedString{};
    logger->failureAnnounced = 0;
}

// Copies one entry whose header is built into the entry buffer and counts it.
void storeEntry(FlightLogger* logger, const ByteWriter* header, u8 type, const void* data, i64 length) {
    appendFlightLogEntry(logger->entryBuffer, kFlightLogBufferBytes, &logger->bufferFill, header, data, length);
    logger->entries++;
    logger->bytes += static_cast<u64>(length);
    if (type < kFlightLogEntryTypes) logger->entriesByType[type]++;
}

// The dropped entries' gap entry, at the end of the entry buffer (room for it is kept whenever
// entries could be dropped).
void closeGap(FlightLogger* logger) {
    if (!logger->gapEntries) return;
    if (logger->bufferFill + kFlightLogGapEntryBytes >= kFlightLogBufferBytes) return;
    u8 payload[kFlightLogGapPayloadBytes];
    ByteWriter body = makeByteWriter(payload, sizeof payload);
    appendU64Le(logger->gapEntries, &body);
    appendU64Le(static_cast<u64>(logger->gapFirstMs), &body);
    appendU64Le(static_cast<u64>(logger->gapLastMs), &body);
    u8 headerBytes[20];
    ByteWriter header = makeByteWriter(headerBytes, sizeof headerBytes);
    LengthFieldMark mark = writeFlightLogEntryHeader(&header, logger->gapFirstMs, FlightLogGap);
    patchLengthField(&mark, static_cast<u64>(body.length));
    storeEntry(logger, &header, FlightLogGap, payload, body.length);
    logger->gapEntries = 0;
}

// Queues the append buffer's waiting bytes: the retry part first when there is one.
void queueAppend(FlightLogger* logger) {
    u32 size = logger->appendRetrySize ? logger->appendRetrySize : logger->appendFill;
    logger->appendRetrySize = 0;
    logger->appendOut = size;
    enqueueFileJob(logger->appendFileName, "application/binary", logger->appendBuffer, size, 0, FileJobAppend,
                   logger->fileJobs, &logger->lastAppend);
}

// The outcome of the append in flight, once the file thread has finished it.
void collectAppend(FlightLogger* logger) {
    if (!logger->appendOut) return;
    u32 status = fileJobStatus(&logger->lastAppend);
    if (status < FileStatusSuccess) return;
    u32 sent = logger->appendOut;
    logger->appendOut = 0;
    if (status == FileStatusSuccess) {
        std::memmove(logger->appendBuffer, logger->appendBuffer + sent, logger->appendFill - sent);
        logger->appendFill -= sent;
        logger->appendRetryAt = 0;
        // Once the writer has caught up: the status goes, and the dropped entries' place is marked
        // behind what the entry buffer holds, which came before them.
        if (!logger->appendFill) {
            clearWriteFailure(logger);
            closeGap(logger);
        }
        return;
    }
    logger->failedAppends++;
    setWriteFailure(logger, &logger->lastAppend);
    logger->appendRetrySize = wholeEntryBytes(logger->appendBuffer, sent, logger->lastAppend.written);
    logger->appendRetryAt = nowMicros(logger) + static_cast<i64>(kFlightLogRetryInterval);
}

// Moves every buffered byte into the free append buffer and queues it. Returns 1 when the buffer is
// empty afterwards. Without a job table or a file the bytes have nowhere to go and are dropped.
i32 handOverBuffer(FlightLogger* logger) {
    if (logger->bufferFill == 0) return 1;
    if (!logger->fileJobs || logger->bufferFileName.length == 0) {
        logger->bufferFill = 0;
        return 1;
    }
    collectAppend(logger);
    if (logger->appendFill || !fileJobSlotAvailable(logger->fileJobs)) return 0;
    std::memcpy(logger->appendBuffer, logger->entryBuffer, logger->bufferFill);
    logger->appendFill = logger->bufferFill;
    logger->appendFileName = logger->bufferFileName;
    logger->bufferFill = 0;
    queueAppend(logger);
    return 1;
}

// Whether an entry of entryBytes may go into the entry buffer now: it leaves a free byte, and while
// the append buffer is taken (so that entries may yet be dropped) room for the gap entry as well.
bool entryFits(const FlightLogger* logger, i64 entryBytes) {
    i64 reserve = logger->appendFill ? kFlightLogGapEntryBytes : 0;
    return logger->bufferFill + entryBytes + reserve < (i64)kFlightLogBufferBytes;
}

void dropEntry(FlightLogger* logger, i64 unixMs) {
    if (!logger->gapEntries) logger->gapFirstMs = unixMs;
    logger->gapLastMs = unixMs;
    logger->gapEntries++;
    logger->refusedEntries++;
}

}  // namespace

i32 flushFlightLogBuffer(FlightLogger* logger, i64 headerLength, i64 payloadLength) {
    if (entryFits(logger, headerLength + kFlightLogChecksumBytes + payloadLength)) return 1;
    if (!handOverBuffer(logger)) return 0;
    logger->lastFlushMicros = nowMicros(logger);
    return headerLength + kFlightLogChecksumBytes + payloadLength < (i64)kFlightLogBufferBytes ? 1 : 0;
}

i32 forceFlightLogFlush(FlightLogger* logger) {
    flushFlightLogBuffer(logger, kFlightLogBufferBytes, 1);
    return logger->bufferFill == 0 ? 1 : 0;
}

void stepFlightLogAppends(FlightLogger* logger) {
    collectAppend(logger);
    if (logger->appendOut || !logger->appendFill || !logger->fileJobs) return;
    if (nowMicros(logger) < logger->appendRetryAt || !fileJobSlotAvailable(logger->fileJobs)) return;
    queueAppend(logger);
}

void discardFlightLogBuffer(FlightLogger* logger) {
    logger->refusedEntries += countEntries(logger->entryBuffer, logger->bufferFill);
    logger->bufferFill = 0;
    logger->gapEntries = 0;
}

void checkFlightLogFolder(FlightLogger* logger) {
    bool logPending = logger->logFileName.length || logger->appendFill;
    if (logger->folderCheckOut) {
        u32 status = fileJobStatus(&logger->folderCheck);
        if (status < FileStatusSuccess) return;
        logger->folderCheckOut = 0;
        // While a log is open or its bytes wait, the appends themselves tell.
        if (!logPending) {
            if (status == FileStatusSuccess) clearWriteFailure(logger);
            else setWriteFailure(logger, &logger->folderCheck);
        }
    }
    if (logPending || !logger->fileJobs) return;
    i64 now = nowMicros(logger);
    if (now < logger->nextFolderCheck || !fileJobSlotAvailable(logger->fileJobs)) return;
    enqueueFileJob(makeString("Flight Logs/.check"), "application/binary", nullptr, 0, 0, FileJobCheck,
                   logger->fileJobs, &logger->folderCheck);
    logger->folderCheckOut = 1;
    logger->nextFolderCheck = now + static_cast<i64>(kFlightLogFolderCheckInterval);
}

void finishFlightLogger(FlightLogger* logger) {
    if (!logger->fileJobs) return;
    collectAppend(logger);
    if (logger->appendFill && !logger->appendOut) {
        logger->appendRetrySize = 0;
        queueAppend(logger);
    }
    closeGap(logger);
    if (logger->bufferFill && logger->bufferFileName.length) {
        enqueueFileJob(logger->bufferFileName, "application/binary", logger->entryBuffer, logger->bufferFill, 0,
                       FileJobAppend, logger->fileJobs, nullptr);
    }
    logger->bufferFill = 0;
    logger->logFileName = FixedString{};
}

void addFlightLogEntry(FlightLogger* logger, i64 time, u8 type, const void* data, i64 length) {
    if (!logger || logger->logFileName.length == 0) return;
    if (length < 0 || length > kMaxFlightLogPayload || (length > 0 && !data)) {
        logger->refusedEntries++;
        return;
    }
    i64 unixMs = logger->startUnixMs + (time - logger->startMicros) / 1000;
    collectAppend(logger);  // a finished append may have made room, or closed a gap
    if (logger->gapEntries) {
        dropEntry(logger, unixMs);
        return;
    }
    u8 headerBytes[20];
    ByteWriter header = makeByteWriter(headerBytes, sizeof(headerBytes));
    LengthFieldMark mark = writeFlightLogEntryHeader(&header, unixMs, type);
    patchLengthField(&mark, static_cast<u64>(length));
    if (!flushFlightLogBuffer(logger, header.length, length)) {
        dropEntry(logger, unixMs);
        return;
    }
    storeEntry(logger, &header, type, data, length);
}

i32 registerFlightLogEntry(FlightLogger* logger, const FlightLogEntryRecord* entry) {
    if (!logger || !entry || !entry->payload.data || logger->registeredEntryCount >= kMaxRegisteredLogEntries) {
        return 0;
    }
    logger->registeredEntries[logger->registeredEntryCount++] = entry;
    return 1;
}
