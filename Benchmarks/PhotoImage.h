// A generated aerial-photo-like RGB image shared by the DEFLATE and PNG benchmarks: fields and
// woods as smooth multi-scale value noise, field boundaries, and sensor grain on every pixel, so it
// compresses about as poorly as a real photograph does.
#pragma once
#include <cmath>
#include <random>
#include <vector>

#include "Core/Types.h"

// RGB pixels, rows top to bottom, 3 bytes a pixel.
inline std::vector<u8> photoRgb(int width, int height, u32 seed) {
    std::mt19937 random(seed);
    const int grid = 64;
    std::vector<float> lattice(size_t(grid) * grid * 4);
    for (float& v : lattice) v = float(random() % 1000) / 1000.0f;
    auto noise = [&](float x, float y, int octave) {
        int x0 = int(x);
        int y0 = int(y);
        float fx = x - float(x0);
        float fy = y - float(y0);
        fx = fx * fx * (3 - 2 * fx);
        fy = fy * fy * (3 - 2 * fy);
        auto at = [&](int gx, int gy) { return lattice[(size_t((gy & 63) * grid + (gx & 63)) * 4) + size_t(octave)]; };
        float top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
        float bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
        return top + (bottom - top) * fy;
    };
    const float tones[4][3] = {{92, 118, 60}, {140, 150, 84}, {60, 84, 48}, {168, 146, 112}};
    std::vector<u8> image(size_t(width) * size_t(height) * 3);
    std::normal_distribution<float> grain(0.0f, 3.0f);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            float field = noise(float(x) / 180.0f, float(y) / 180.0f, 0);
            int kind = int(field * 3.99f);
            float detail = noise(float(x) / 23.0f, float(y) / 23.0f, 1) * 0.6f + noise(float(x) / 5.0f, float(y) / 5.0f, 2) * 0.4f;
            float edge = std::fabs(field * 3.99f - float(kind) - 0.5f) > 0.48f ? 0.7f : 1.0f;
            u8* p = &image[(size_t(y) * size_t(width) + size_t(x)) * 3];
            for (int c = 0; c < 3; c++) {
                float v = tones[kind][c] * (0.75f + 0.5f * detail) * edge + grain(random);
                p[c] = u8(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    return image;
}
