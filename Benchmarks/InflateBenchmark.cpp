// inflate beside zlib's inflate and libdeflate on the same raw DEFLATE streams: filtered rows of
// generated map tiles, text, random bytes and filtered rows of a photo. The three alternate within
// each iteration, timed in process CPU; the ratios are ours / zlib and ours / libdeflate (above 1
// means ours is faster).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "Benchmarks/MapTileImage.h"
#include "Benchmarks/PhotoImage.h"
#include "Benchmarks/ReferenceRatio.h"
#include "Decoders/Inflate.h"

namespace {

// A map tile as PNG rows (filter byte 1, Sub, per row) of the given channel count.
std::vector<u8> mapTileRows(u32 seed, int channels) {
    std::vector<u8> image = mapTileRgba(seed);
    const int size = kMapTileSize;
    std::vector<u8> rows;
    for (int y = 0; y < size; y++) {
        rows.push_back(1);
        for (int x = 0; x < size; x++)
            for (int c = 0; c < channels; c++) {
                int left = x ? image[size_t(y * size + x - 1) * 4 + size_t(c)] : 0;
                rows.push_back(u8(image[size_t(y * size + x) * 4 + size_t(c)] - left));
            }
    }
    return rows;
}

// A photo as PNG rows with the Paeth filter (4) on every row, as encoders choose for photographs.
std::vector<u8> photoRows(int width, int height) {
    std::vector<u8> image = photoRgb(width, height, 5);
    const size_t stride = size_t(width) * 3;
    std::vector<u8> rows;
    for (int y = 0; y < height; y++) {
        rows.push_back(4);
        const u8* row = &image[size_t(y) * stride];
        const u8* up = y ? row - stride : nullptr;
        for (size_t i = 0; i < stride; i++) {
            int a = i >= 3 ? row[i - 3] : 0;
            int b = up ? up[i] : 0;
            int c = up && i >= 3 ? up[i - 3] : 0;
            int p = a + b - c;
            int pa = std::abs(p - a);
            int pb = std::abs(p - b);
            int pc = std::abs(p - c);
            int predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            rows.push_back(u8(row[i] - predictor));
        }
    }
    return rows;
}

std::vector<u8> sampleText(size_t size) {
    static const char* const kWords[] = {"drone ", "mission ", "waypoint ", "altitude ", "terrain ", "tile ",
                                         "payload ", "geofence ", "\n", "the ", "of ", "<coordinates>", "-122.4194,37.7749,0 "};
    std::mt19937 random(3);
    std::vector<u8> text;
    while (text.size() < size) {
        const char* word = kWords[random() % 13];
        text.insert(text.end(), word, word + std::strlen(word));
    }
    text.resize(size);
    return text;
}

struct Sample {
    std::vector<u8> original;
    std::vector<u8> stream;
};

Sample makeSample(int kind) {
    Sample s;
    if (kind == 0) {
        for (u32 tile = 0; tile < 16; tile++) {
            std::vector<u8> rows = mapTileRows(tile, tile % 2 ? 4 : 3);
            s.original.insert(s.original.end(), rows.begin(), rows.end());
        }
    } else if (kind == 1) {
        s.original = sampleText(4 << 20);
    } else if (kind == 3) {
        s.original = photoRows(1000, 1000);
    } else {
        std::mt19937 random(9);
        s.original.resize(4 << 20);
        for (u8& b : s.original) b = u8(random());
    }
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    s.stream.resize(deflateBound(&z, uLong(s.original.size())));
    z.next_in = s.original.data();
    z.avail_in = uInt(s.original.size());
    z.next_out = s.stream.data();
    z.avail_out = uInt(s.stream.size());
    ::deflate(&z, Z_FINISH);
    s.stream.resize(z.total_out);
    deflateEnd(&z);
    return s;
}

const Sample& sample(int kind) {
    static Sample samples[4] = {makeSample(0), makeSample(1), makeSample(2), makeSample(3)};
    return samples[kind];
}

void inflateBeside(benchmark::State& state) {
    const Sample& s = sample(int(state.range(0)));
    std::vector<u8> out(s.original.size());
    auto* inflateState = new InflateState;
    libdeflate_decompressor* fastest = libdeflate_alloc_decompressor();
    compareSides(state, {{"ours",
                          [&] {
                              std::memset(inflateState, 0, sizeof *inflateState);
                              inflateState->output = out.data();
                              inflateState->outputCapacity = i64(out.size());
                              i64 position = 0;
                              i32 result = inflate(s.stream.data(), &position, i64(s.stream.size()), inflateState);
                              return result == InflateDone;
                          }},
                         {"zlib",
                          [&] {
                              z_stream z{};
                              inflateInit2(&z, -15);
                              z.next_in = const_cast<u8*>(s.stream.data());
                              z.avail_in = uInt(s.stream.size());
                              z.next_out = out.data();
                              z.avail_out = uInt(out.size());
                              int status = ::inflate(&z, Z_FINISH);
                              inflateEnd(&z);
                              return status == Z_STREAM_END;
                          }},
                         {"libdeflate", [&] {
                              size_t produced = 0;
                              return libdeflate_deflate_decompress(fastest, s.stream.data(), s.stream.size(), out.data(),
                                                                   out.size(), &produced) == LIBDEFLATE_SUCCESS;
                          }}});
    delete inflateState;
    libdeflate_free_decompressor(fastest);
    state.counters["MB"] = double(s.original.size()) / 1e6;
}

}  // namespace

// 0: map tile rows, 1: text, 2: random bytes, 3: photo rows.
BENCHMARK(inflateBeside)->ArgName("tiles_text_random_photo")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
