// Test support for the GeoTIFF reader: small TIFF files built byte by byte, an LZW code packer, and
// the files made by geotiff_oracle.py with GDAL, geotifcp and tiffcp.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Core/Types.h"
#include "Decoders/GeoTiff.h"
#include "Core/ElevationRaster.h"

namespace geotifftest {

const f64 kWorld[4] = {-180.0, 180.0, -90.0, 90.0};

// A raster read by parseGeoTiff and released at the end of its scope. The progress byte starts at a
// value the reader must overwrite.
struct ParsedRaster {
    ElevationRaster raster{};
    u8 progress = 77;
    ~ParsedRaster() { releaseElevationRaster(&raster); }
    std::string error() const { return std::string(raster.error.text, raster.error.length); }
};

inline void parseBytes(ParsedRaster* parsed, const std::vector<u8>& bytes, i64 budget = 1 << 30,
                       const f64* area = kWorld) {
    parseGeoTiff(&parsed->raster, bytes.data(), (i64)bytes.size(), budget, 4, area, &parsed->progress);
}

// The stored sample at row and column as its little-endian 32-bit word.
inline u32 storedWord(const ElevationRaster& r, u32 row, u32 column) {
    const u8* p = r.samples + (u64)row * r.rowStride + column * 4;
    return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
}

inline f32 storedValue(const ElevationRaster& r, u32 row, u32 column) {
    u32 word = storedWord(r, row, column);
    f32 value;
    std::memcpy(&value, &word, 4);
    return value;
}

enum : u16 { kShort = 3, kLong = 4, kAscii = 2, kDouble = 12, kLong8 = 16 };

struct Entry {
    u16 tag;
    u16 type;
    std::vector<f64> numbers;
    std::string text;  // ASCII entries
};

struct TiffLayout {
    bool bigEndian = false;
    bool bigTiff = false;
};

inline void putUnsigned(std::vector<u8>* out, u64 position, u64 value, i32 size, bool bigEndian) {
    if (out->size() < position + size) out->resize(position + size);
    for (i32 i = 0; i < size; i++) {
        i32 shift = bigEndian ? (size - 1 - i) * 8 : i * 8;
        (*out)[position + i] = (u8)(value >> shift);
    }
}

inline i32 typeBytes(u16 type) {
    switch (type) {
        case kShort: return 2;
        case kLong: return 4;
        case kAscii: return 1;
        default: return 8;
    }
}

// A file of: header, `data` at the first byte after the header (kDataOffset), then each directory
// with its out-of-line values, chained in order.
inline u64 dataOffset(const TiffLayout& layout) { return layout.bigTiff ? 16 : 8; }

inline std::vector<u8> buildTiff(const TiffLayout& layout, const std::vector<u8>& data,
                                 const std::vector<std::vector<Entry>>& directories) {
    bool be = layout.bigEndian;
    std::vector<u8> out;
    out.push_back(be ? 'M' : 'I');
    out.push_back(be ? 'M' : 'I');
    putUnsigned(&out, 2, layout.bigTiff ? 43 : 42, 2, be);
    if (layout.bigTiff) {
        putUnsigned(&out, 4, 8, 2, be);
        putUnsigned(&out, 6, 0, 2, be);
    }
    out.resize(dataOffset(layout));
    out.insert(out.end(), data.begin(), data.end());
    u64 pointerAt = layout.bigTiff ? 8 : 4;
    i32 pointerSize = layout.bigTiff ? 8 : 4;
    u64 countSize = layout.bigTiff ? 8 : 2;
    u64 entrySize = layout.bigTiff ? 20 : 12;
    u64 inlineBytes = layout.bigTiff ? 8 : 4;
    for (const std::vector<Entry>& entries : directories) {
        if (out.size() % 2) out.push_back(0);
        u64 directory = out.size();
        putUnsigned(&out, pointerAt, directory, pointerSize, be);
        putUnsigned(&out, directory, entries.size(), (i32)countSize, be);
        u64 values = directory + countSize + entries.size() * entrySize + pointerSize;
        out.resize(values);
        for (size_t k = 0; k < entries.size(); k++) {
            const Entry& e = entries[k];
            u64 at = directory + countSize + k * entrySize;
            std::vector<u8> bytes;
            u64 count;
            if (e.type == kAscii) {
                bytes.assign(e.text.begin(), e.text.end());
                bytes.push_back(0);
                count = bytes.size();
            } else {
                count = e.numbers.size();
                i32 size = typeBytes(e.type);
                bytes.resize(count * size);
                for (size_t i = 0; i < count; i++) {
                    u64 bits;
                    if (e.type == kDouble) {
                        std::memcpy(&bits, &e.numbers[i], 8);
                    } else {
                        bits = (u64)(i64)e.numbers[i];
                    }
                    putUnsigned(&bytes, i * size, bits, size, be);
                }
            }
            putUnsigned(&out, at, e.tag, 2, be);
            putUnsigned(&out, at + 2, e.type, 2, be);
            putUnsigned(&out, at + 4, count, layout.bigTiff ? 8 : 4, be);
            u64 field = at + (layout.bigTiff ? 12 : 8);
            if (bytes.size() <= inlineBytes) {
                for (size_t i = 0; i < bytes.size(); i++) out[field + i] = bytes[i];
            } else {
                if (out.size() % 2) out.push_back(0);
                u64 where = out.size();
                out.insert(out.end(), bytes.begin(), bytes.end());
                putUnsigned(&out, field, where, pointerSize, be);
            }
        }
        pointerAt = directory + countSize + entries.size() * entrySize;
    }
    return out;
}

// Float samples in the file's byte order.
inline std::vector<u8> floatBytes(const std::vector<f32>& values, bool bigEndian) {
    std::vector<u8> out;
    for (f32 v : values) {
        u32 bits;
        std::memcpy(&bits, &v, 4);
        putUnsigned(&out, out.size(), bits, 4, bigEndian);
    }
    return out;
}

// Packs LZW codes MSB first with the widths the decoder expects: the width follows the next free
// code, which grows by one for every code after the first since the last clear.
inline std::vector<u8> packLzwCodes(const std::vector<i32>& codes) {
    std::vector<u8> out;
    u64 bits = 0;
    i32 count = 0;
    i32 nextCode = 258;
    bool havePrevious = false;
    for (i32 code : codes) {
        i32 width = nextCode < 511 ? 9 : nextCode < 1023 ? 10 : nextCode < 2047 ? 11 : 12;
        bits = bits << width | (u64)code;
        count += width;
        while (count >= 8) {
            out.push_back((u8)(bits >> (count - 8)));
            count -= 8;
        }
        if (code == 256) {
            nextCode = 258;
            havePrevious = false;
        } else {
            if (havePrevious) nextCode++;
            havePrevious = true;
        }
    }
    if (count > 0) out.push_back((u8)(bits << (8 - count)));
    return out;
}

// A literal-only LZW stream of `bytes`: clear, every byte as its own code, end.
inline std::vector<u8> lzwLiterals(const std::vector<u8>& bytes) {
    std::vector<i32> codes{256};
    for (u8 b : bytes) codes.push_back(b);
    codes.push_back(257);
    return packLzwCodes(codes);
}

inline std::vector<u8> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder of files made by geotiff_oracle.py, made once per test program; empty on failure.
inline const std::string& oracleFolder() {
    static std::string folder = [] {
        char pattern[] = "/tmp/orvik-geotiff-XXXXXX";
        static char made[sizeof(pattern)];
        if (!mkdtemp(pattern)) return std::string();
        std::memcpy(made, pattern, sizeof(pattern));
        std::atexit([] { std::filesystem::remove_all(made); });
        std::string command = std::string("/usr/bin/python3 ") + ORVIK_SOURCE_DIR +
                              "/Tests/Decoders/geotiff_oracle.py " + pattern + " > " + pattern + "/log.txt 2>&1";
        if (std::system(command.c_str()) != 0) return std::string();
        return std::string(made);
    }();
    return folder;
}

}  // namespace geotifftest
