// libpng as the reference PNG writer and reader of the PNG tests, and chunk-level helpers for
// building damaged and unusual files.
#pragma once
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include "Core/Types.h"

struct PngPicture {
    u32 width = 0;
    u32 height = 0;
    int colorType = 0;
    int bitDepth = 8;
    // One sample per byte for depths below 8, two big-endian bytes per sample at 16.
    std::vector<u8> samples;
    std::vector<u8> palette;  // 3 bytes per entry
    std::vector<u8> transparency;
};

inline int pngChannelsOf(int colorType) {
    switch (colorType) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    default: return 4;
    }
}

inline size_t pngSampleBytesPerRow(const PngPicture& p) {
    return size_t(p.width) * size_t(pngChannelsOf(p.colorType)) * (p.bitDepth == 16 ? 2 : 1);
}

// Writes the picture with libpng (all row filters allowed, zlib buffer of bufferSize bytes per IDAT).
inline std::vector<u8> libpngWrite(const PngPicture& p, int level = 6, size_t bufferSize = 8192) {
    std::vector<u8> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &file,
        [](png_structp s, png_bytep data, png_size_t size) {
            auto* out = static_cast<std::vector<u8>*>(png_get_io_ptr(s));
            out->insert(out->end(), data, data + size);
        },
        [](png_structp) {});
    png_set_IHDR(png, info, p.width, p.height, p.bitDepth, p.colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!p.palette.empty())
        png_set_PLTE(png, info, reinterpret_cast<const png_color*>(p.palette.data()), int(p.palette.size() / 3));
    if (!p.transparency.empty()) png_set_tRNS(png, info, p.transparency.data(), int(p.transparency.size()), nullptr);
    png_set_compression_level(png, level);
    png_set_compression_buffer_size(png, bufferSize);
    png_set_filter(png, 0, PNG_ALL_FILTERS);
    png_write_info(png, info);
    if (p.bitDepth < 8) png_set_packing(png);
    const size_t stride = pngSampleBytesPerRow(p);
    std::vector<u8> row(stride);
    for (u32 y = 0; y < p.height; y++) {
        std::memcpy(row.data(), p.samples.data() + y * stride, stride);
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}

struct PngReadSource {
    const std::vector<u8>* file;
    size_t at;
};

// Reads raw samples with libpng (depths below 8 unpacked to a byte each, nothing else changed).
inline bool libpngRead(const std::vector<u8>& file, PngPicture* p) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngReadSource source{&file, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, [](png_structp s, png_bytep data, png_size_t size) {
        auto* src = static_cast<PngReadSource*>(png_get_io_ptr(s));
        if (src->at + size > src->file->size()) png_error(s, "read past end");
        std::memcpy(data, src->file->data() + src->at, size);
        src->at += size;
    });
    png_read_info(png, info);
    p->width = png_get_image_width(png, info);
    p->height = png_get_image_height(png, info);
    p->colorType = png_get_color_type(png, info);
    p->bitDepth = png_get_bit_depth(png, info);
    png_colorp palette = nullptr;
    int entries = 0;
    p->palette.clear();
    p->transparency.clear();
    if (png_get_PLTE(png, info, &palette, &entries) & PNG_INFO_PLTE)
        p->palette.assign(reinterpret_cast<u8*>(palette), reinterpret_cast<u8*>(palette) + entries * 3);
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    if ((png_get_tRNS(png, info, &alpha, &alphaCount, nullptr) & PNG_INFO_tRNS) && alpha)
        p->transparency.assign(alpha, alpha + alphaCount);
    if (p->bitDepth < 8) png_set_packing(png);
    png_read_update_info(png, info);
    const size_t stride = pngSampleBytesPerRow(*p);
    p->samples.assign(stride * p->height, 0);
    for (u32 y = 0; y < p->height; y++) png_read_row(png, p->samples.data() + y * stride, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// The pixel the decoder must give for (x, y) of a picture, in the requested channel count.
inline void expectedPixel(const PngPicture& p, u32 x, u32 y, u32 channels, u8* out) {
    const int ic = pngChannelsOf(p.colorType);
    const size_t stride = pngSampleBytesPerRow(p);
    auto sample = [&](int c) -> u32 {
        size_t k = size_t(x) * size_t(ic) + size_t(c);
        const u8* row = p.samples.data() + y * stride;
        if (p.bitDepth == 16) return ((u32(row[2 * k]) << 8) | row[2 * k + 1]) * 255 / 65535;
        if (p.colorType == 3 || p.bitDepth == 8) return row[k];
        return row[k] * 255u / ((1u << p.bitDepth) - 1);
    };
    u32 r, g, b, a = 255, grey;
    if (p.colorType == 3) {
        u32 index = sample(0);
        r = p.palette[index * 3];
        g = p.palette[index * 3 + 1];
        b = p.palette[index * 3 + 2];
        if (index < p.transparency.size()) a = p.transparency[index];
        grey = (r + g + b) / 3;
    } else if (ic <= 2) {
        r = g = b = grey = sample(0);
        if (ic == 2) a = sample(1);
    } else {
        r = sample(0);
        g = sample(1);
        b = sample(2);
        if (ic == 4) a = sample(3);
        grey = (r + g + b) / 3;
    }
    const u8 values[4][4] = {{u8(grey)}, {u8(grey), u8(a)}, {u8(r), u8(g), u8(b)}, {u8(r), u8(g), u8(b), u8(a)}};
    std::memcpy(out, values[channels - 1], channels);
}

// File-level pieces.
inline u32 pngReadU32(const u8* p) { return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | p[3]; }

inline void pngAppendU32(std::vector<u8>* out, u32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(u8(value >> shift));
}

inline void pngAppendChunk(std::vector<u8>* out, const char* type, const std::vector<u8>& data) {
    pngAppendU32(out, u32(data.size()));
    size_t typeAt = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    pngAppendU32(out, u32(::crc32(0, out->data() + typeAt, uInt(4 + data.size()))));
}

inline std::vector<u8> pngSignature() { return {137, 80, 78, 71, 13, 10, 26, 10}; }

inline std::vector<u8> pngIhdr(u32 width, u32 height, u8 depth, u8 colorType, u8 compression = 0, u8 filter = 0,
                               u8 interlace = 0) {
    std::vector<u8> data;
    pngAppendU32(&data, width);
    pngAppendU32(&data, height);
    data.insert(data.end(), {depth, colorType, compression, filter, interlace});
    return data;
}

struct PngChunk {
    std::string type;
    std::vector<u8> data;
};

inline std::vector<PngChunk> pngChunks(const std::vector<u8>& file) {
    std::vector<PngChunk> chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        u32 length = pngReadU32(file.data() + at);
        chunks.push_back({std::string(file.begin() + long(at) + 4, file.begin() + long(at) + 8),
                          std::vector<u8>(file.begin() + long(at) + 8, file.begin() + long(at + 8 + length))});
        at += 12 + length;
    }
    return chunks;
}

// The concatenated IDAT data (the zlib stream) of a file.
inline std::vector<u8> pngIdatData(const std::vector<u8>& file) {
    std::vector<u8> data;
    for (const PngChunk& chunk : pngChunks(file))
        if (chunk.type == "IDAT") data.insert(data.end(), chunk.data.begin(), chunk.data.end());
    return data;
}

// Rebuilds a file with its IDAT data cut at the given sizes (the rest in the last chunk).
inline std::vector<u8> pngWithIdatPieces(const std::vector<u8>& file, const std::vector<size_t>& sizes) {
    std::vector<u8> out = pngSignature();
    std::vector<u8> idat = pngIdatData(file);
    bool written = false;
    for (const PngChunk& chunk : pngChunks(file)) {
        if (chunk.type != "IDAT") {
            pngAppendChunk(&out, chunk.type.c_str(), chunk.data);
            continue;
        }
        if (written) continue;
        written = true;
        size_t at = 0;
        for (size_t size : sizes) {
            size = std::min(size, idat.size() - at);
            pngAppendChunk(&out, "IDAT", std::vector<u8>(idat.begin() + long(at), idat.begin() + long(at + size)));
            at += size;
        }
        pngAppendChunk(&out, "IDAT", std::vector<u8>(idat.begin() + long(at), idat.end()));
    }
    return out;
}
