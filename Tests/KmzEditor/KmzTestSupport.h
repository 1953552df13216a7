// What the KMZ export tests share: the program's own marker images and font decoded from the asset
// files, a zeroed editor, and a command's output.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Core/Clock.h"
#include "Decoders/Png.h"
#include "KmzEditor/KmzExport.h"

inline std::string sourcePath(const std::string& relative) {
    const char* root = std::getenv("ORVIK_SOURCE_DIR");
    return std::string(root ? root : ORVIK_SOURCE_DIR) + "/" + relative;
}

inline std::vector<u8> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return out;
}

// Milliseconds since 1601-01-01 of a calendar time.
inline i64 calendarMsOf(i64 year, i64 month, i64 day, i64 hour, i64 minute, i64 second) {
    year -= month <= 2;
    i64 era = (year >= 0 ? year : year - 399) / 400;
    i64 yoe = year - era * 400;
    i64 doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    i64 days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;  // since 1970
    return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + kUnixEpochIn1601Milliseconds;
}

// The program's own marker images and font, decoded from the asset files.
struct Assets {
    std::vector<std::vector<u8>> pixels;
    ImageResult images[kKmzMarkerKindCount] = {};
    std::vector<u8> atlasPixels;
    ImageResult atlas = {};
    std::vector<u8> fontInfo;
    KmzExportAssets kmz = {};

    bool decode(const std::vector<u8>& png, ImageResult* out, std::vector<u8>* into, u32 channels) {
        parsePng(out, png.data(), (i64)png.size(), nullptr, 0, channels, 1, nullptr, 0);
        if (!out->width) return false;
        u32 c = channels ? channels : out->channels;
        into->assign((size_t)out->width * out->height * c, 0);
        std::vector<u8> scratch(((size_t)out->width * 8 + 1) * out->height);
        parsePng(out, png.data(), (i64)png.size(), into->data(), (i64)into->size(), channels, 1, scratch.data(),
                 (i64)scratch.size());
        return out->error.length == 0;
    }
    bool load() {
        static const char* const names[] = {"flag_white_marker.png", "obstruction_marker.png", "fire_marker.png",
                                            "smoke_marker.png", "heat_marker.png"};
        pixels.resize(kKmzMarkerKindCount);
        for (u32 k = 0; k < kKmzMarkerKindCount; ++k) {
            if (!decode(fileBytes(sourcePath(std::string("Assets/Images/") + names[k])), &images[k], &pixels[k], 4))
                return false;
            kmz.markerImages[k] = &images[k];
        }
        std::vector<u8> atlasPng = fileBytes(sourcePath("Assets/font_sdf.png.part_0"));
        std::vector<u8> second = fileBytes(sourcePath("Assets/font_sdf.png.part_1"));
        atlasPng.insert(atlasPng.end(), second.begin(), second.end());
        if (!decode(atlasPng, &atlas, &atlasPixels, 0)) return false;
        fontInfo = fileBytes(sourcePath("Assets/FONT_SDF_INFO.BIN"));
        kmz.fontAtlas = &atlas;
        kmz.fontInfo = fontInfo.data();
        return true;
    }
};

struct EditorDeleter {
    void operator()(KmzEditor* e) const { std::free(e); }
};
using EditorPtr = std::unique_ptr<KmzEditor, EditorDeleter>;
inline EditorPtr newEditor() {
    EditorPtr e((KmzEditor*)std::calloc(1, sizeof(KmzEditor)));
    e->lineEnd = -1;
    return e;
}

