// Helpers of the overlay tests: overlays on the heap, Python peers, files.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "Overlays/VectorOverlay.h"

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;
template <typename T>
HeapPtr<T> makeZeroed() {
    return HeapPtr<T>((T*)std::calloc(1, sizeof(T)));
}

inline std::string overlayTestScript(const char* name) {
    const char* source = std::getenv("ORVIK_SOURCE_DIR");
    return std::string(source ? source : ORVIK_SOURCE_DIR) + "/Tests/Overlays/" + name;
}

inline std::string runCommandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[65536];
    size_t got;
    while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    if (pipe) pclose(pipe);
    return out;
}

inline std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline FixedString parseKmlText(const std::string& text, VectorOverlay* overlay) {
    return parseKmlDocument((const u8*)text.data(), (i64)text.size(), overlay);
}

// EPSG:3857 metres per normalised Web-Mercator unit.
constexpr double kMetresPerTurn = 2 * 3.14159265358979323846 * 6378137.0;
