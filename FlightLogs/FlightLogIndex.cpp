#include "FlightLogs/FlightLogIndex.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Drone/Mavlink/Mavlink.h"
#include "FlightLogs/FlightLogger.h"
#include "Platform/FileTables.h"

namespace {

constexpr i64 kEntryFraming = kFlightLogEntryHeaderBytes + kFlightLogChecksumBytes;  // 13
constexpr i64 kDescriptorBatch = 1000;
constexpr i64 kDescriptorBytes = 7;  // u32 time offset, u16 length, u8 type
constexpr u64 kMaxPayloadOffset = 0xFFFFFFFFFFFFull;
constexpr u64 kTimeWindow = 0xFFFFFFFFull;

u16 readU16(const u8* p) { return static_cast<u16>(p[0] | p[1] << 8); }
u64 readU64(const u8* p) {
    u64 value = 0;
    for (i32 i = 7; i >= 0; i--) value = value << 8 | p[i];
    return value;
}

struct Descriptor {
    u32 time;
    u16 length;
    u8 type;
};

void storeDescriptor(u8* at, const Descriptor* descriptor) {
    std::memcpy(at, &descriptor->time, 4);
    std::memcpy(at + 4, &descriptor->length, 2);
    at[6] = descriptor->type;
}

Descriptor loadDescriptor(const u8* at) {
    Descriptor descriptor;
    std::memcpy(&descriptor.time, at, 4);
    std::memcpy(&descriptor.length, at + 4, 2);
    descriptor.type = at[6];
    return descriptor;
}

struct SortArrays {
    u64* refs;
    u32* times;
    u8* types;
};

void swapEntries(SortArrays* a, i64 i, i64 j) {
    u64 ref = a->refs[i];
    a->refs[i] = a->refs[j];
    a->refs[j] = ref;
    u32 time = a->times[i];
    a->times[i] = a->times[j];
    a->times[j] = time;
    u8 type = a->types[i];
    a->types[i] = a->types[j];
    a->types[j] = type;
}

// Quicksort of [lo, hi] by time, then payload offset (unique, so the order is total): the middle
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
            u64 pivotRef = a->refs[middle];
            i64 i = lo - 1;
            i64 j = hi + 1;
            for (;;) {
                do i++;
                while (a->times[i] < pivotTime || (a->times[i] == pivotTime && a->refs[i] < pivotRef));
                do j--;
                while (a->times[j] > pivotTime || (a->times[j] == pivotTime && a->refs[j] > pivotRef));
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
        if (mavlinkCrc16(entry + kFlightLogEntryHeaderBytes, 0, length, entry[0]) != stored) continue;
        scan.skipped = p - start;
        scan.offset = p;
        scan.time = time;
        scan.type = entry[0];
        scan.length = length;
        scan.payload = entry + kFlightLogEntryHeaderBytes;
        *previousTime = time;
        *position = p + kEntryFraming + length;
        return scan;
    }
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

    // The buffer while parsing: packed payloads at the front, then the unread bytes, free space,
    // and the descriptors at the back growing downward. Every entry gives up its 13 framing bytes
    // and needs 7 for its descriptor, so the three never meet.
    i64 packed = 0;  // end of the packed payloads
    i64 read = 0;    // the scanner's position in the unread bytes
    i64 unreadEnd = length;
    i64 descriptorTop = length & ~static_cast<i64>(3);
    i64 descriptorBottom = descriptorTop;
    i64 count = 0;
    i64 skipped = 0;
    i64 previousTime = 0;
    i64 timeBase = 0;
    bool haveTimeBase = false;
    Descriptor batch[kDescriptorBatch];
    i64 batchCount = 0;
    {
        ProfilingScope parse("Parse flight log file");
        for (;;) {
            FlightLogEntryScan scan = nextFlightLogEntry(bytes, &read, unreadEnd, &previousTime);
            skipped += scan.skipped;
            if (scan.payload) {
                if (!haveTimeBase) {
                    timeBase = static_cast<i64>(static_cast<u64>(scan.time) - kFlightLogTimeBaseLeadMs);
                    haveTimeBase = true;
                }
                // Times are taken modulo 2^64 so that no time, however hostile, overflows.
                u64 offset = static_cast<u64>(scan.time) - static_cast<u64>(timeBase);
                if (offset > kTimeWindow) {
                    // Outside what a u32 offset from the time base can hold: not indexed.
                    skipped += kEntryFraming + scan.length;
                } else {
                    std::memmove(bytes + packed, scan.payload, scan.length);
                    packed += scan.length;
                    batch[batchCount++] = Descriptor{static_cast<u32>(offset), scan.length, scan.type};
                    count++;
                }
            }
            if (batchCount == kDescriptorBatch || !scan.payload) {
                i64 unread = unreadEnd - read;
                std::memmove(bytes + packed, bytes + read, static_cast<size_t>(unread));
                read = packed;
                unreadEnd = packed + unread;
                for (i64 i = 0; i < batchCount; i++) {
                    descriptorBottom -= kDescriptorBytes;
                    storeDescriptor(bytes + descriptorBottom, &batch[i]);
                }
                batchCount = 0;
                if (!scan.payload) break;
            }
        }
    }

    if (count == 0) return failed(format("Didn't parse any entries"));
    if (static_cast<u64>(packed) > kMaxPayloadOffset) {
        return failed(formatStr("Too much entry data for 48-bit offsets. Found @ of entry data", byteSizeString(packed)));
    }
    if (static_cast<u64>(count) * 13 > 0xFFFFFFFFull) {
        return failed(formatIntInt("Too many entries. Found @ entries, but max supported is @", count,
                                   kMaxFlightLogIndexEntries));
    }
    i64 arrayBytes = count * kEntryFraming;
    u8* block = allocateFileBuffer(static_cast<u64>(arrayBytes));
    if (!block) {
        return failed(formatStr("Failed to allocate @ of temporary memory", byteSizeString(arrayBytes)));
    }
    SortArrays arrays{reinterpret_cast<u64*>(block), reinterpret_cast<u32*>(block + 8 * count), block + 12 * count};
    i64 firstHeader = -1;
    {
        ProfilingScope copy("Copy to SOA");
        u64 payloadOffset = 0;
        for (i64 i = 0; i < count; i++) {
            Descriptor descriptor = loadDescriptor(bytes + descriptorTop - (i + 1) * kDescriptorBytes);
            arrays.refs[i] = payloadOffset << 16 | descriptor.length;
            arrays.times[i] = descriptor.time;
            arrays.types[i] = descriptor.type;
            payloadOffset += descriptor.length;
            if (firstHeader < 0 && descriptor.type == FlightLogHeader) firstHeader = i;
        }
    }
    i64 firstSorted = firstHeader + 1;
    {
        ProfilingScope sort("Quicksort");
        if (count - 1 > firstSorted) sortEntries(&arrays, firstSorted, count - 1);
    }
    {
        ProfilingScope shift("Shift entry data");
        std::memmove(bytes + arrayBytes, bytes, static_cast<size_t>(packed));
    }
    {
        ProfilingScope copy("Copy SOA");
        std::memcpy(bytes, block, static_cast<size_t>(arrayBytes));
        freeFileBuffer(block);
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
