// A log of any bytes, indexed, then every export's measuring pass over it followed by the filling
// pass into a buffer of exactly the measured length: the two must agree, and nothing is written
// past the buffer.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FlightLogReplay/FlightLogExports.h"

static void fail(int line) {
    fprintf(stderr, "FlightLogExportsFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static FlightLogReplay replay;

template <typename Producer>
static void measureThenFill(Producer producer) {
    ByteWriter measure = makeMeasuringWriter();
    std::memset(static_cast<void*>(&replay), 0, sizeof(replay));
    producer(&measure);
    check(measure.length > 0 && measure.length < (i64)1 << 32);
    u8* buffer = static_cast<u8*>(std::malloc((size_t)measure.length));
    ByteWriter fill = makeByteWriter(buffer, measure.length);
    std::memset(static_cast<void*>(&replay), 0, sizeof(replay));
    producer(&fill);
    check(fill.length == measure.length && !fill.overflow);
    std::free(buffer);
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
        FixedString name = makeString("fuzz & <log>");
        if (choice & 1) {
            measureThenFill([&](ByteWriter* out) { writePhotoInfoCsv(out, &index, &replay, lastDatagram, nullptr); });
        }
        if (choice & 2) {
            FlightLogRecording recording{index.startTime + (choice >> 4) * 300, 1000 + (i64)(choice & 12) * 500,
                                         (u8)(choice & 4), (u8)(choice & 8), (u8)(choice & 16), (u8)(choice & 32)};
            measureThenFill([&](ByteWriter* out) { writeFmvCsv(out, &index, &replay, &recording, nullptr); });
        }
        measureThenFill([&](ByteWriter* out) {
            writeFlightPathGpx(out, &index, &replay, (u32)(choice >> 2) % kFlightPathVariants, name, nullptr);
        });
    }
    std::free(aligned);
    return 0;
}
