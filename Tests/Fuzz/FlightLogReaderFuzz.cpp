// The flight-log reader and index over arbitrary bytes: the index must describe only bytes of the
// buffer, account for every byte (indexed payloads + 13 per entry + skipped = the input), keep the
// start block in file order and the rest sorted by time, and yield the payloads the scanner found.
#include "FlightLogs/FlightLogIndex.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void fail(int line) {
    fprintf(stderr, "FlightLogReaderFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    // An exact-sized buffer, so a read past the log's end is caught.
    u8* buffer = static_cast<u8*>(std::aligned_alloc(8, (size + 7) & ~size_t(7)));
    if (!buffer) return 0;
    std::memcpy(buffer, data, size);
    // The scanner alone: what it finds, the index must hold.
    i64 position = 0, previous = 0, found = 0, payloadBytes = 0, skipped = 0;
    for (;;) {
        FlightLogEntryScan scan = nextFlightLogEntry(data, &position, (i64)size, &previous);
        check(position <= (i64)size && scan.skipped >= 0);
        skipped += scan.skipped;
        if (!scan.payload) break;
        check(scan.payload == data + scan.offset + 11 && scan.offset + 13 + scan.length == position);
        found++;
        payloadBytes += scan.length;
    }
    check(skipped + payloadBytes + 13 * found == (i64)size);

    FlightLogIndex index = optimizeFlightLogFile(buffer, (i64)size);
    if (index.error.length) {
        check(found == 0 && index.entryCount == 0);
    } else {
        check(index.entryCount >= 1 && index.entryCount <= found);
        check(index.usedBytes + index.skippedBytes == (i64)size);
        check(index.firstSortedEntry >= 0 && index.firstSortedEntry <= index.entryCount);
        i64 total = 0;
        for (i64 i = 0; i < index.entryCount; i++) {
            u64 offset = index.entryRefs[i] >> 16;
            check((i64)offset + flightLogEntryLength(&index, i) <= index.usedBytes - 13 * index.entryCount);
            total += flightLogEntryLength(&index, i);
            if (i > index.firstSortedEntry) {
                check(index.entryTimes[i - 1] < index.entryTimes[i] ||
                      (index.entryTimes[i - 1] == index.entryTimes[i] && index.entryRefs[i - 1] <= index.entryRefs[i]));
            }
            if (i < index.firstSortedEntry && i > 0) check(index.entryRefs[i - 1] <= index.entryRefs[i]);
        }
        check(total == index.usedBytes - 13 * index.entryCount);
    }
    std::free(buffer);
    return 0;
}
