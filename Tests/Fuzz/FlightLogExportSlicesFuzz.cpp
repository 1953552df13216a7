// A log of any bytes, indexed, then an export (the input's first byte picks which, and how many
// entries a slice replays) written in slices into chunks just larger than the room a slice keeps,
// against the same export written in one go: the bytes must be the same, and no chunk overflows.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FlightLogReplay/FlightLogExports.h"

static void fail(int line) {
    fprintf(stderr, "FlightLogExportSlicesFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static FlightLogReplay replay;

static std::string inOneGo(const FlightLogExportWalk* begun, const FlightLogIndex* index) {
    FlightLogExportWalk walk = *begun;
    ByteWriter measure = makeMeasuringWriter();
    check(continueFlightLogExport(&walk, &measure, index, &replay, nullptr, INT64_MAX, 0) == 1);
    std::string text((size_t)measure.length, '\0');
    walk = *begun;
    ByteWriter fill = makeByteWriter(text.data(), measure.length);
    check(continueFlightLogExport(&walk, &fill, index, &replay, nullptr, INT64_MAX, 0) == 1);
    check(fill.length == measure.length && !fill.overflow);
    return text;
}

static std::string inSlices(const FlightLogExportWalk* begun, const FlightLogIndex* index, i64 steps, i64 extra) {
    FlightLogExportWalk walk = *begun;
    std::string text;
    std::string chunk((size_t)(kExportEntryReserve + extra), '\0');
    ByteWriter out = makeByteWriter(chunk.data(), (i64)chunk.size());
    for (i64 calls = 0;; calls++) {
        check(calls < 10000000);
        u32 done = continueFlightLogExport(&walk, &out, index, &replay, nullptr, steps, kExportEntryReserve);
        check(!out.overflow);
        if (done || out.capacity - out.length < kExportEntryReserve) {
            text.append(chunk.data(), (size_t)out.length);
            out.length = 0;
        }
        if (done) return text;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 200000) return 0;
    u8 choice = data[0];
    u64* aligned = static_cast<u64*>(std::malloc(((size - 1) / 8 + 1) * 8));
    std::memcpy(aligned, data + 1, size - 1);
    FlightLogIndex index = optimizeFlightLogFile(reinterpret_cast<u8*>(aligned), (i64)(size - 1));
    if (index.error.length == 0 && index.entryCount > 0) {
        i64 lastDatagram = -1;
        for (i64 i = 0; i < index.entryCount; i++) {
            if (index.entryTypes[i] == FlightLogReceivedFromDrone || index.entryTypes[i] == FlightLogReceivedFromCamera) {
                lastDatagram = i;
            }
        }
        FlightLogExportWalk walk;
        u32 kind = choice % 3;
        if (kind == 0) {
            beginPhotoInfoExport(&walk, lastDatagram);
        } else if (kind == 1) {
            FlightLogRecording recording{index.startTime + (choice >> 4) * 300, 1000 + (i64)(choice & 12) * 500,
                                         (u8)(choice & 4), (u8)(choice & 8), (u8)(choice & 16), (u8)(choice & 32)};
            beginFmvExport(&walk, &recording);
        } else {
            beginFlightPathExport(&walk, (u32)(choice >> 2) % kFlightPathVariants, makeString("fuzz & <log>"));
        }
        std::string whole = inOneGo(&walk, &index);
        std::string sliced = inSlices(&walk, &index, 1 + (choice >> 5), 1 + (choice & 31) * 7);
        check(sliced == whole);
    }
    std::free(aligned);
    return 0;
}
