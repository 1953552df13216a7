// Indexing a long flight: 10^6 entries of about 87 payload bytes (a 100 MB log), a little out of
// time order as the writer leaves them, copied fresh into the buffer before each run (not timed).
// The target is under 1 s on one core. Reports MB/s of log.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"

namespace {

std::vector<u8> longFlight(i64 entries) {
    std::vector<u8> log;
    log.reserve((size_t)entries * 100);
    std::mt19937 random(7);
    i64 start = 1765000000000;
    for (i64 i = 0; i < entries; i++) {
        u8 type = i == 40 ? 7 : (u8)(1 + random() % 16);
        i64 time = start + i * 3 - (i64)(random() % 50);
        u16 length = (u16)(60 + random() % 55);
        u8 header[20];
        ByteWriter writer = makeByteWriter(header, sizeof(header));
        LengthFieldMark mark = writeFlightLogEntryHeader(&writer, time, type);
        patchLengthField(&mark, length);
        log.insert(log.end(), header, header + writer.length);
        size_t at = log.size();
        log.resize(at + length);
        for (u16 k = 0; k < length; k++) log[at + k] = (u8)random();
        u16 crc = flightLogChecksum(log.data() + at, length, type);
        log.push_back((u8)crc);
        log.push_back((u8)(crc >> 8));
    }
    return log;
}

void IndexMillionEntryLog(benchmark::State& state) {
    static std::vector<u8> log = longFlight(1000000);
    u8* buffer = static_cast<u8*>(std::aligned_alloc(64, (log.size() + 63) & ~size_t(63)));
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(buffer, log.data(), log.size());
        state.ResumeTiming();
        FlightLogIndex index = optimizeFlightLogFile(buffer, (i64)log.size());
        benchmark::DoNotOptimize(index.entryCount);
        if (index.entryCount != 1000000) state.SkipWithError("entries lost");
    }
    state.SetBytesProcessed((i64)state.iterations() * (i64)log.size());
    std::free(buffer);
}
BENCHMARK(IndexMillionEntryLog)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
