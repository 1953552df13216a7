#include "FlightLogs/FlightLogSession.h"

#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "FlightLogs/FlightLogProducers.h"
#include "Platform/Platform.h"

namespace {

constexpr const char* kAppVersion = "3.1.0";
constexpr const char* kAppName = "Orvik";
constexpr i64 kInstallationIdBytes = 8;

i64 utcMilliseconds(const FlightLogger* logger) {
    return logger->clocks.utcMilliseconds ? logger->clocks.utcMilliseconds() : currentTimeMilliseconds();
}

i64 timeZoneOffset(const FlightLogger* logger) {
    return logger->clocks.timeZoneOffsetMs ? logger->clocks.timeZoneOffsetMs() : getTimeZoneOffsetMs();
}

// A length byte and its text, only when both fit whole.
bool appendWholeText(const FixedString* text, ByteWriter* writer) {
    i64 length = text->length > kFixedStringCapacity ? kFixedStringCapacity : text->length;
    if (writer->capacity - writer->length < 1 + length) return false;
    appendU8(static_cast<u8>(length), writer);
    appendBytes(text->text, length, writer);
    return true;
}

bool appendWholeBytes(const void* bytes, i64 count, ByteWriter* writer) {
    if (writer->capacity - writer->length < count) return false;
    appendBytes(bytes, count, writer);
    return true;
}

void startLog(FlightLogger* logger, const u8* installationId, Platform* platform, const Preferences* preferences) {
    i64 utc = utcMilliseconds(logger);
    i64 now = static_cast<i64>(flightLogMicroseconds(logger));
    i64 offset = timeZoneOffset(logger);

    // The last log's bytes still waiting for the file thread get one more try; a new log needs the
    // buffer.
    forceFlightLogFlush(logger);
    discardFlightLogBuffer(logger);

    logger->logFileName = flightLogFileName(utc + offset);
    logger->bufferFileName = logger->logFileName;
    logger->startMicros = now;
    logger->lastFlushMicros = now;
    logger->startUnixMs = utc - kUnixEpochIn1601Milliseconds;

    for (u32 i = 0; i < logger->registeredEntryCount && i < kMaxRegisteredLogEntries; i++) {
        const FlightLogEntryRecord* entry = logger->registeredEntries[i];
        addFlightLogEntry(logger, entry->time, static_cast<u8>(entry->type), entry->payload.data,
                          entry->payload.length);
    }

    std::memset(&logger->lastControllerState, 0, sizeof(logger->lastControllerState));
    if (platform) logControllerState(logger, &platform->gamepad, &platform->input);
    if (preferences) logPreferences(logger, preferences, now, 1);

    u8 bytes[kFlightLogHeaderEntryBytes];
    ByteWriter header = makeByteWriter(bytes, sizeof(bytes));
    writeFlightLogHeaderEntry(&header, logger->startUnixMs, offset, installationId, platform);
    if (flushFlightLogBuffer(logger, header.length, 0)) {
        ByteWriter headerOnly = header;
        headerOnly.length = kFlightLogEntryHeaderBytes;
        appendFlightLogEntry(logger->entryBuffer, kFlightLogBufferBytes, &logger->bufferFill, &headerOnly,
                             bytes + kFlightLogEntryHeaderBytes, header.length - kFlightLogEntryHeaderBytes);
        logger->entries++;
        logger->entriesByType[FlightLogHeader]++;
    } else {
        logger->refusedEntries++;
    }
}

}  // namespace

FixedString flightLogFileName(i64 localMilliseconds) {
    DateTimeParts parts = calendarFromMilliseconds(localMilliseconds);
    i64 year = parts.year, month = parts.month, day = parts.day, hour = parts.hour;
    const void* arguments[] = {&year, &month, &day, &hour, parts.minuteText, parts.secondText};
    const u32 kinds[] = {FormatArgInt, FormatArgInt, FormatArgInt, FormatArgInt, FormatArgCString, FormatArgCString};
    return formatString("Flight Logs/flight_log_@_@_@_@_@_@.qvlog3", arguments, kinds, 6);
}

void writeFlightLogHeaderEntry(ByteWriter* writer, i64 startUnixMs, i64 timeZoneOffsetMs, const u8* installationId,
                               const Platform* platform) {
    LengthFieldMark length = writeFlightLogEntryHeader(writer, startUnixMs, FlightLogHeader);
    i64 payloadStart = writer->length;
    appendU16Le(static_cast<u16>(static_cast<i16>(timeZoneOffsetMs / 60000)), writer);
    appendU16Le(0, writer);  // log version
    FixedString version = makeString(kAppVersion);
    FixedString name = makeString(kAppName);
    FixedString empty{};
    const FixedString* texts[4] = {&empty, &empty, &empty, &empty};
    if (platform) {
        texts[0] = &platform->systemReleaseId;
        texts[1] = &platform->systemVersion;
        texts[2] = &platform->biosManufacturer;
        texts[3] = &platform->biosProductName;
    }
    u8 system = 0;
    u8 zeros[kInstallationIdBytes] = {};
    bool fits = appendWholeText(&version, writer) && appendWholeText(&name, writer) &&
                appendWholeBytes(&system, 1, writer);
    for (const FixedString* text : texts) fits = fits && appendWholeText(text, writer);
    if (fits) appendWholeBytes(installationId ? installationId : zeros, kInstallationIdBytes, writer);
    patchLengthField(&length, static_cast<u64>(writer->length - payloadStart));
}

void updateFlightLogger(FlightLogger* logger, const u8* installationId, Platform* platform,
                        const Preferences* preferences, i32 logging, u32 preferencesChanged) {
    stepFlightLogAppends(logger);
    checkFlightLogFolder(logger);
    if (!logging) {
        // The last bytes of a closed log keep trying until the file thread takes them.
        if (logger->bufferFill) forceFlightLogFlush(logger);
        logger->logFileName = FixedString{};
        logger->highAboveGroundSince = 0;
        logger->registeredEntryCount = 0;
        return;
    }
    if (logger->logFileName.length == 0) startLog(logger, installationId, platform, preferences);
    i64 now = static_cast<i64>(flightLogMicroseconds(logger));
    if (preferencesChanged && preferences) logPreferences(logger, preferences, now, 0);
    if (now - logger->lastFlushMicros > static_cast<i64>(kFlightLogFlushInterval)) {
        if (forceFlightLogFlush(logger)) logger->lastFlushMicros = now;
    }
    logger->registeredEntryCount = 0;
}
