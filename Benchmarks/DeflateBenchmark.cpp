// deflate beside zlib on the same input: 1 MB of English text (the licence texts every Debian system
// carries, concatenated in name order and repeated), filtered rows of generated map tiles, and random
// bytes. Ours and zlib level 1 alternate within each iteration, timed in process CPU, and it reports:
//   size_ratio   our output size / zlib level 6's output size (below 1.05 is the aim)
//   ratio_zlib1  our speed / zlib level 1's speed (above 0.5 is the aim)
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "Benchmarks/MapTileImage.h"
#include "Benchmarks/ReferenceRatio.h"
#include "Core/FixedString.h"
#include "Decoders/Deflate.h"

namespace {

constexpr size_t kTextSize = 1 << 20;

// The regular files of /usr/share/common-licenses (symbolic links left out) in name order, repeated
// up to 1 MB; empty when the folder is missing.
std::vector<u8> licenceText() {
    const std::string folder = "/usr/share/common-licenses/";
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            struct stat info {};
            std::string path = folder + entry->d_name;
            if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.push_back(path);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    std::vector<u8> all;
    for (const std::string& name : names) {
        std::ifstream file(name, std::ios::binary);
        all.insert(all.end(), std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    if (all.empty()) return all;
    std::vector<u8> text;
    while (text.size() < kTextSize) text.insert(text.end(), all.begin(), all.end());
    text.resize(kTextSize);
    return text;
}

// Map tiles as PNG rows (filter byte 1, Sub, per row).
std::vector<u8> mapTileRows() {
    std::vector<u8> rows;
    for (u32 tile = 0; tile < 8; tile++) {
        std::vector<u8> image = mapTileRgba(tile);
        const int size = kMapTileSize;
        for (int y = 0; y < size; y++) {
            rows.push_back(1);
            for (int x = 0; x < size * 4; x++) {
                int left = x >= 4 ? image[size_t(y * size * 4 + x - 4)] : 0;
                rows.push_back(u8(image[size_t(y * size * 4 + x)] - left));
            }
        }
    }
    return rows;
}

std::vector<u8> randomBytes() {
    std::mt19937 random(9);
    std::vector<u8> data(1 << 20);
    for (u8& b : data) b = u8(random());
    return data;
}

const std::vector<u8>& sample(int kind) {
    static std::vector<u8> samples[3] = {licenceText(), mapTileRows(), randomBytes()};
    return samples[kind];
}

size_t zlibDeflate(const std::vector<u8>& data, int level, std::vector<u8>* out) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    out->resize(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<u8*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out->data();
    z.avail_out = uInt(out->size());
    int status = ::deflate(&z, Z_FINISH);
    size_t size = z.total_out;
    deflateEnd(&z);
    return status == Z_STREAM_END ? size : 0;
}

size_t ourDeflate(const std::vector<u8>& data, std::vector<u8>* out) {
    ByteWriter writer = makeByteWriter(out->data(), i64(out->size()));
    BitWriter bits = makeBitWriter(&writer, 0);
    deflateCompress(data.data(), i64(data.size()), 1, &bits);
    return writer.overflow ? 0 : size_t(writer.length);
}

void deflateBeside(benchmark::State& state) {
    const std::vector<u8>& data = sample(int(state.range(0)));
    if (data.empty()) {
        state.SkipWithError("no input (/usr/share/common-licenses missing)");
        return;
    }
    std::vector<u8> ourOut(data.size() + data.size() / 8 + 4096);
    std::vector<u8> zlibOut;
    const size_t zlib6Size = zlibDeflate(data, 6, &zlibOut);
    size_t ourSize = 0;
    size_t zlib1Size = 0;
    compareSides(state, {{"ours", [&] { return (ourSize = ourDeflate(data, &ourOut)) != 0; }},
                         {"zlib1", [&] { return (zlib1Size = zlibDeflate(data, 1, &zlibOut)) != 0; }}});
    if (zlib6Size == 0) return state.SkipWithError("compression failed");
    state.counters["MB"] = double(data.size()) / 1e6;
    state.counters["ours_pct"] = 100.0 * double(ourSize) / double(data.size());
    state.counters["zlib1_pct"] = 100.0 * double(zlib1Size) / double(data.size());
    state.counters["zlib6_pct"] = 100.0 * double(zlib6Size) / double(data.size());
    state.counters["size_ratio"] = double(ourSize) / double(zlib6Size);
}

}  // namespace

// 0: licence text, 1: map tile rows, 2: random bytes.
BENCHMARK(deflateBeside)->ArgName("text_tiles_random")->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
