#include "FlightLogs/FlightLogIndex.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Mavlink/Mavlink.h"
#include "FlightLogs/FlightLogger.h"
#include "Platform/FileTables.h"

namespace {

constexpr i64 kEntryFraming = kFlightLogEntryHeaderBytes + kFlightLogChecksumBytes;  // 13
constexpr u64 kMaxPayloadOffset = 0xFFFFFFFFFFFFull;
constexpr u64 kTimeWindow = 0xFFFFFFFFull;

u16 readU16(const u8* p) { return static_cast<u16>(p[0] | p[1] << 8); }
u64 readU64(const u8* p) {
    u64 value = 0;
    for (i32 i = 7; i >= 0; i--) value = value << 8 | p[i];
    return value;
}

// The descriptors of the entries found so far, as arrays in one temporary block of 17 bytes per
// entry of capacity: the index's three, and each entry's place in the file. Empty payloads share
// their offset with the next entry, so only the place tells equal times apart in file order.
constexpr i64 kTemporaryEntryBytes = 17;
struct DescriptorArrays {
    u8* block;
    i64 capacity;
    u64* refs;
    u32* times;
    u32* places;
    u8* types;
    i64 failedBytes;  // the size that could not be had
};

bool growArrays(DescriptorArrays* arrays, i64 count, i64 logLength) {
    // A log of n bytes holds at most n / 13 entries.
    i64 most = logLength / kEntryFraming + 1;
    i64 capacity = arrays->capacity ? arrays->capacity * 2 : 4096;
    if (capacity > most) capacity = most;
    if (capacity <= count) capacity = count + 1;
    u8* block = allocateFileBuffer(static_cast<u64>(capacity * kTemporaryEntryBytes));
    if (!block) {
        arrays->failedBytes = capacity * kTemporaryEntryBytes;
        return false;
    }
    DescriptorArrays grown{block,
                           capacity,
                           reinterpret_cast<u64*>(block),
                           reinterpret_cast<u32*>(block + 8 * capacity),
                           reinterpret_cast<u32*>(block + 12 * capacity),
                           block + 16 * capacity,
                           0};
    if (count) {
        std::memcpy(grown.refs, arrays->refs, static_cast<size_t>(8 * count));
        std::memcpy(grown.times, arrays->times, static_cast<size_t>(4 * count));
        std::memcpy(grown.places, arrays->places, static_cast<size_t>(4 * count));
        std::memcpy(grown.types, arrays->types, static_cast<size_t>(count));
    }
    if (arrays->block) freeFileBuffer(arrays->block);
    *arrays = grown;
    return true;
}

void releaseArrays(DescriptorArrays* arrays) {
    if (arrays->block) freeFileBuffer(arrays->block);
    *arrays = DescriptorArrays{};
}

// Descriptors gathered a thousand at a time before they join the arrays.
constexpr i32 kDescriptorBatch = 1000;
struct DescriptorBatch {
    i32 count;
    u64 refs[kDescriptorBatch];
    u32 times[kDescriptorBatch];
    u8 types[kDescriptorBatch];
};

// Moves the batch into the arrays (grown as needed) after the `count` descriptors they hold; false
// when the arrays could not grow.
bool copyBatch(DescriptorArrays* arrays, DescriptorBatch* batch, i64* count, i64 logLength) {
    ProfilingScope copy("Copy to SOA");
    while (*count + batch->count > arrays->capacity) {
        if (!growArrays(arrays, *count, logLength)) return false;
    }
    for (i32 i = 0; i < batch->count; i++) {
        i64 at = *count + i;
        arrays->refs[at] = batch->refs[i];
        arrays->times[at] = batch->times[i];
        arrays->places[at] = static_cast<u32>(at);
        arrays->types[at] = batch->types[i];
    }
    *count += batch->count;
    batch->count = 0;
    return true;
}

struct SortArrays {
    u64* refs;
    u32* times;
    u32* places;
    u8* types;
};

void swapEntries(SortArrays* a, i64 i, i64 j) {
    u64 ref = a->refs[i];
    a->refs[i] = a->refs[j];
    a->refs[j] = ref;
    u32 time = a->times[i];
    a->times[i] = a->times[j];
    a->times[j] = time;
    u32 place = a->places[i];
    a->places[i] = a->places[j];
    a->places[j] = place;
    u8 type = a->types[i];
    a->types[i] = a->types[j];
    a->types[j] = type;
}

// Quicksort of [lo, hi] by time, then place in the file (unique, so the order is total): the middle
// element as pivot, Hoare partition, the larger part kept on an explicit stack and the smaller part
// sorted next, so the stack never holds more than 64 ranges.
void sortEntries(SortArrays* a, i64 lo, i64 hi) {
    struct Range {
        i64 lo, hi;
    };
    Range stack[128];
    i32 depth = 0;
    for (;;) {
        while (lo < hi) {
            i64 middle = lo / 2 + hi / 2 + (lo & hi & 1);
            u32 pivotTime = a->times[middle];
            u32 pivotPlace = a->places[middle];
            i64 i = lo - 1;
            i64 j = hi + 1;
            for (;;) {
                do i++;
                while (a->times[i] < pivotTime || (a->times[i] == pivotTime && a->places[i] < pivotPlace));
                do j--;
                while (a->times[j] > pivotTime || (a->times[j] == pivotTime && a->places[j] > pivotPlace));
                if (i >= j) break;
                swapEntries(a, i, j);
            }
            // [lo, j] and [j + 1, hi]
            if (j - lo < hi - j - 1) {
                stack[depth++] = Range{j + 1, hi};
                hi = j;
            } else {
                stack[depth++] = Range{lo, j};
                lo = j + 1;
            }
        }
        if (depth == 0) return;
        depth--;
        lo = stack[depth].lo;
        hi = stack[depth].hi;
    }
}

// ---------------------------------------------------------------------------------------------------
// Checksums of many overlapping ranges. While the scanner resynchronises it tries a candidate at
// every byte, each with a checksum over up to 65,535 bytes; computed one by one, a stretch of
// garbage would cost its length times 32 KB. The checksum is linear, so with s[i] the register
// after the bytes up to i (from 0), the checksum of [a, b) from 0xFFFF is
//   advance(0xFFFF ^ s[a], b - a) ^ s[b]
// where advance runs the register over that many zero bytes. The registers of a window of 2^17
// positions are kept in a ring; advance goes by powers of two through tables.

constexpr i64 kRingPositions = 1 << 17;  // more than the longest entry from any candidate
constexpr i64 kShortRange = 64;          // checksummed directly

u16 crcStepZero(u16 crc) { return mavlinkCrcAccumulate(crc, 0); }

// advanceTables[k][0][v]: the register v (low byte) after 2^k zero bytes; [k][1][v]: the same
// for v as the high byte.
struct AdvanceTables {
    u16 table[16][2][256];
};

const AdvanceTables* advanceTables() {
    static const AdvanceTables* tables = [] {
        static AdvanceTables built;
        for (u32 v = 0; v < 256; v++) {
            built.table[0][0][v] = crcStepZero(static_cast<u16>(v));
            built.table[0][1][v] = crcStepZero(static_cast<u16>(v << 8));
        }
        for (i32 k = 1; k < 16; k++) {
            for (u32 half = 0; half < 2; half++) {
                for (u32 v = 0; v < 256; v++) {
                    u16 once = built.table[k - 1][half][v];
                    built.table[k][half][v] = built.table[k - 1][0][once & 0xFF] ^ built.table[k - 1][1][once >> 8];
                }
            }
        }
        return &built;
    }();
    return tables;
}

u16 advanceZeros(const AdvanceTables* tables, u16 crc, u32 count) {
    for (i32 k = 0; count; k++, count >>= 1) {
        if (count & 1) crc = tables->table[k][0][crc & 0xFF] ^ tables->table[k][1][crc >> 8];
    }
    return crc;
}

struct RangeChecksums {
    const u8* bytes;
    u16* ring;       // registers of positions [frontier - kRingPositions + 1, frontier]
    i64 frontier;    // the last position whose register is known
    u16 register_;   // the register at the frontier
    const AdvanceTables* tables;
};

u16 registerAt(RangeChecksums* ranges, i64 position) {
    while (ranges->frontier < position) {
        ranges->register_ = mavlinkCrcAccumulate(ranges->register_, ranges->bytes[ranges->frontier]);
        ranges->frontier++;
        ranges->ring[ranges->frontier & (kRingPositions - 1)] = ranges->register_;
    }
    return ranges->ring[position & (kRingPositions - 1)];
}

// The entry checksum of the payload [first, first + length) and the type byte.
u16 rangeChecksum(RangeChecksums* ranges, i64 first, u16 length, u8 type) {
    u16 atEnd = registerAt(ranges, first + length);
    u16 atFirst = registerAt(ranges, first);
    u16 crc = static_cast<u16>(advanceZeros(ranges->tables, static_cast<u16>(0xFFFF ^ atFirst), length) ^ atEnd);
    return mavlinkCrcAccumulate(crc, type);
}

FlightLogIndex failed(FixedString error) {
    FlightLogIndex index{};
    index.error = error;
    return index;
}

}  // namespace

FlightLogEntryScan nextFlightLogEntry(const u8* bytes, i64* position, i64 end, i64* previousTime) {
    FlightLogEntryScan scan{};
    i64 start = *position;
    bool resynchronising = false;
    RangeChecksums ranges{};
    for (i64 p = start; p + kEntryFraming <= end; p++, resynchronising = true) {
        const u8* entry = bytes + p;
        i64 time = static_cast<i64>(readU64(entry + 1));
        u16 length = readU16(entry + 9);
        if (resynchronising && *previousTime != 0) {
            // Unsigned distance, so times near the ends of the i64 range cannot overflow.
            u64 distance = time >= *previousTime ? static_cast<u64>(time) - static_cast<u64>(*previousTime)
                                                  : static_cast<u64>(*previousTime) - static_cast<u64>(time);
            if (distance > static_cast<u64>(kFlightLogResyncWindowMs)) continue;
        }
        if (length > end - p - kEntryFraming) continue;
        u16 stored = readU16(entry + kFlightLogEntryHeaderBytes + length);
        u16 crc;
        ProfilingScope checksum("MAVLink CRC");
        if (resynchronising && length > kShortRange) {
            if (!ranges.ring) {
                ranges.ring = reinterpret_cast<u16*>(allocateFileBuffer(kRingPositions * sizeof(u16)));
                ranges.bytes = bytes;
                ranges.frontier = p;
                ranges.register_ = 0;
                ranges.tables = advanceTables();
                if (ranges.ring) ranges.ring[p & (kRingPositions - 1)] = 0;
            }
            crc = ranges.ring ? rangeChecksum(&ranges, p + kFlightLogEntryHeaderBytes, length, entry[0])
                              : mavlinkCrc16(entry + kFlightLogEntryHeaderBytes, 0, length, entry[0]);
        } else {
            crc = mavlinkCrc16(entry + kFlightLogEntryHeaderBytes, 0, length, entry[0]);
        }
        if (crc != stored) continue;
        scan.skipped = p - start;
        scan.offset = p;
        scan.time = time;
        scan.type = entry[0];
        scan.length = length;
        scan.payload = entry + kFlightLogEntryHeaderBytes;
        *previousTime = time;
        *position = p + kEntryFraming + length;
        if (ranges.ring) freeFileBuffer(ranges.ring);
        return scan;
    }
    if (ranges.ring) freeFileBuffer(ranges.ring);
    scan.skipped = end > start ? end - start : 0;
    scan.offset = end;
    *position = end > start ? end : start;
    return scan;
}

FlightLogIndex optimizeFlightLogFile(u8* bytes, i64 length) {
    ProfilingScope scope("Optimize flight log file");
    if (reinterpret_cast<uintptr_t>(bytes) % 8 != 0) {
        return failed(formatHex("logBytes pointer (0x@) is not aligned to 8-bytes", reinterpret_cast<uintptr_t>(bytes), 16));
    }
    if (length < 0) length = 0;

    // The scan runs over the buffer in place: each entry's payload moves down to the end of the
    // packed payloads (it never overtakes the scan, as every entry leaves 13 framing bytes behind),
    // and its descriptor goes, a thousand at a time, to the temporary arrays, which grow by doubling.
    // The unread bytes never move, so a long log costs one pass over its bytes.
    DescriptorArrays arrays{};
    DescriptorBatch batch;
    batch.count = 0;
    i64 packed = 0;
    i64 read = 0;
    i64 count = 0;
    i64 skipped = 0;
    i64 previousTime = 0;
    i64 timeBase = 0;
    bool haveTimeBase = false;
    {
        ProfilingScope parse("Parse flight log file");
        for (;;) {
            FlightLogEntryScan scan = nextFlightLogEntry(bytes, &read, length, &previousTime);
            skipped += scan.skipped;
            if (!scan.payload) break;
            if (!haveTimeBase) {
                timeBase = static_cast<i64>(static_cast<u64>(scan.time) - kFlightLogTimeBaseLeadMs);
                haveTimeBase = true;
            }
            // Times are taken modulo 2^64 so that no time, however hostile, overflows.
            u64 offset = static_cast<u64>(scan.time) - static_cast<u64>(timeBase);
            if (offset > kTimeWindow) {
                // Outside what a u32 offset from the time base can hold: not indexed.
                skipped += kEntryFraming + scan.length;
                continue;
            }
            std::memmove(bytes + packed, scan.payload, scan.length);
            batch.refs[batch.count] = static_cast<u64>(packed) << 16 | scan.length;
            batch.times[batch.count] = static_cast<u32>(offset);
            batch.types[batch.count] = scan.type;
            batch.count++;
            packed += scan.length;
            if (batch.count == kDescriptorBatch && !copyBatch(&arrays, &batch, &count, length)) break;
        }
        if (batch.count && !copyBatch(&arrays, &batch, &count, length)) batch.count = -1;
        if (batch.count != 0 || arrays.failedBytes) {
            FixedString size = byteSizeString(arrays.failedBytes);
            releaseArrays(&arrays);
            return failed(formatStr("Failed to allocate @ of temporary memory", size));
        }
    }

    if (count == 0) {
        releaseArrays(&arrays);
        return failed(format("Didn't parse any entries"));
    }
    if (static_cast<u64>(packed) > kMaxPayloadOffset) {
        releaseArrays(&arrays);
        return failed(formatStr("Too much entry data for 48-bit offsets. Found @ of entry data", byteSizeString(packed)));
    }
    if (static_cast<u64>(count) * 13 > 0xFFFFFFFFull) {
        releaseArrays(&arrays);
        return failed(formatIntInt("Too many entries. Found @ entries, but max supported is @", count,
                                   kMaxFlightLogIndexEntries));
    }
    i64 firstHeader = -1;
    for (i64 i = 0; i < count && firstHeader < 0; i++) {
        if (arrays.types[i] == FlightLogHeader) firstHeader = i;
    }
    i64 firstSorted = firstHeader + 1;
    {
        ProfilingScope sort("Quicksort");
        SortArrays sortArrays{arrays.refs, arrays.times, arrays.places, arrays.types};
        if (count - 1 > firstSorted) sortEntries(&sortArrays, firstSorted, count - 1);
    }
    i64 arrayBytes = count * kEntryFraming;
    {
        ProfilingScope shift("Shift entry data");
        std::memmove(bytes + arrayBytes, bytes, static_cast<size_t>(packed));
    }
    {
        ProfilingScope copy("Copy SOA");
        std::memcpy(bytes, arrays.refs, static_cast<size_t>(8 * count));
        std::memcpy(bytes + 8 * count, arrays.times, static_cast<size_t>(4 * count));
        std::memcpy(bytes + 12 * count, arrays.types, static_cast<size_t>(count));
        releaseArrays(&arrays);
    }

    FlightLogIndex index{};
    index.skippedBytes = skipped;
    index.timeBase = timeBase;
    index.entryCount = count;
    index.firstSortedEntry = firstSorted;
    index.entryRefs = reinterpret_cast<u64*>(bytes);
    index.entryTimes = reinterpret_cast<u32*>(bytes + 8 * count);
    index.entryTypes = bytes + 12 * count;
    index.payloadData = bytes + arrayBytes;
    index.usedBytes = arrayBytes + packed;
    if (count >= 2) {
        index.endTime = flightLogEntryTime(&index, count - 1);
        index.startTime = flightLogEntryTime(&index, 0);
        for (i64 i = 0; i < count; i++) {
            if (index.entryTypes[i] != FlightLogHeader) continue;
            // The header's fields are read only where its payload holds them.
            const u8* payload = flightLogEntryPayload(&index, i);
            u16 payloadLength = flightLogEntryLength(&index, i);
            if (payloadLength >= 2) index.timeShiftMs = static_cast<i64>(static_cast<i16>(readU16(payload))) * 60000;
            if (payloadLength >= 4) index.logVersion = readU16(payload + 2);
            index.startTime = flightLogEntryTime(&index, i);
            break;
        }
    }
    return index;
}
