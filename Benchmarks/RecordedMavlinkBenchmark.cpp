// The entries list formats the summary of every row it lays out (up to 200 a frame) and the details
// of the selected one, from the recorded bytes, every frame.
#include "Core/Preferences.h"
#include "Mavlink/Mavlink.h"
#include "FlightLogReplay/RecordedMavlink.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<u8> datagramOf(std::initializer_list<std::pair<u32, i32>> messages) {
    std::vector<u8> datagram;
    u8 sequence = 0;
    for (auto [id, length] : messages) {
        u8 buffer[300];
        ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
        LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, 0x0101, id, 1);
        for (i32 i = 0; i < length; i++) appendU8((u8)(i * 37 + 11), &writer);
        finishMavlinkPacket(&mark, &writer);
        datagram.insert(datagram.end(), buffer, buffer + writer.length);
    }
    return datagram;
}

void SummariesOfTwoHundredRows(benchmark::State& state) {
    std::vector<u8> datagram = datagramOf({{0, 9}, {30, 28}, {33, 28}, {24, 52}});
    for (auto _ : state) {
        for (int row = 0; row < 200; row++) {
            u8 text[kMavlinkSummaryBytes];
            ByteWriter writer = makeByteWriter(text, sizeof(text));
            MavlinkEntrySummary summary = summarizeMavlinkEntry(datagram.data(), (u16)datagram.size(), &writer);
            benchmark::DoNotOptimize(summary);
        }
    }
}
BENCHMARK(SummariesOfTwoHundredRows);

void DetailsOfTheSelectedRow(benchmark::State& state) {
    std::vector<u8> datagram = datagramOf({{147, 54}, {1, 43}, {24, 52}, {253, 54}});
    Preferences prefs{};
    for (auto _ : state) {
        u8 text[2000];
        ByteWriter writer = makeByteWriter(text, sizeof(text));
        appendMavlinkEntryDetails(datagram.data(), (u16)datagram.size(), &prefs, &writer);
        benchmark::DoNotOptimize(writer.length);
    }
}
BENCHMARK(DetailsOfTheSelectedRow);

}  // namespace
