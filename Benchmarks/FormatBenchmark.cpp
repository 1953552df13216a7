// Speed of the everyday text paths: the "@" formatter, number appenders and UTF-8 re-encoding.
#include <benchmark/benchmark.h>

#include <string>

#include "Core/FixedString.h"
#include "Core/Format.h"

static void formatIntegers(benchmark::State& state) {
    i64 value = 0;
    for (auto _ : state) {
        FixedString s = formatInt6("Missions/@_@_@_@_@_@.csv", 2026, 12, 7, value & 23, value & 59, value & 59);
        benchmark::DoNotOptimize(s);
        value++;
    }
}
BENCHMARK(formatIntegers);

static void appendDoubles(benchmark::State& state) {
    u8 buffer[4096];
    f64 value = 0.29;
    for (auto _ : state) {
        ByteWriter w = makeByteWriter(buffer, sizeof buffer);
        for (int i = 0; i < 64; i++) appendDouble(value + i, 5, &w);
        benchmark::DoNotOptimize(w.length);
    }
    state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(appendDoubles);

static void reencodeUtf8(benchmark::State& state) {
    std::string text;
    while (text.size() < 65536) text += "Pr\xC3\xA9" "ferences \xE2\x82\xAC \xF0\x9F\x98\x80 ascii text, ";
    std::string out(text.size() + 16, '\0');
    for (auto _ : state) {
        ByteWriter w = makeByteWriter(out.data(), (i64)out.size());
        appendUtf8Text(text.data(), (i64)text.size(), &w);
        benchmark::DoNotOptimize(w.length);
    }
    state.SetBytesProcessed(state.iterations() * (i64)text.size());
}
BENCHMARK(reencodeUtf8);
