// A generated map-like 256 x 256 tile shared by the DEFLATE and PNG benchmarks: flat land and water
// areas, anti-aliased roads with casings, and small dense label patches; water is transparent.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "Core/Types.h"

constexpr int kMapTileSize = 256;

// RGBA pixels, rows top to bottom, 4 bytes a pixel.
inline std::vector<u8> mapTileRgba(u32 seed) {
    std::mt19937 random(seed);
    const int size = kMapTileSize;
    std::vector<u8> image(size_t(size) * size * 4);
    const u8 colours[5][3] = {{242, 239, 233}, {170, 211, 223}, {205, 235, 176}, {224, 223, 223}, {255, 255, 229}};
    int centres[6][3];
    for (auto& c : centres) c[0] = int(random() % 256), c[1] = int(random() % 256), c[2] = int(random() % 5);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            int best = 0;
            int bestDistance = 1 << 30;
            for (int i = 0; i < 6; i++) {
                int d = (x - centres[i][0]) * (x - centres[i][0]) + (y - centres[i][1]) * (y - centres[i][1]);
                if (d < bestDistance) bestDistance = d, best = i;
            }
            u8* p = &image[size_t(y * size + x) * 4];
            std::memcpy(p, colours[centres[best][2]], 3);
            p[3] = centres[best][2] == 1 ? 0 : 255;
        }
    for (int road = 0; road < 8; road++) {
        double x0 = random() % 256, y0 = random() % 256, x1 = random() % 256, y1 = random() % 256;
        double width = 2 + random() % 5;
        double dx = x1 - x0, dy = y1 - y0, length = std::sqrt(dx * dx + dy * dy) + 1e-9;
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) {
                double t = ((x - x0) * dx + (y - y0) * dy) / (length * length);
                if (t < 0 || t > 1) continue;
                double d = std::fabs((x - x0) * dy - (y - y0) * dx) / length;
                if (d > width + 1.5) continue;
                u8* p = &image[size_t(y * size + x) * 4];
                double casing = std::min(1.0, std::max(0.0, width + 1.5 - d));
                double fill = std::min(1.0, std::max(0.0, width - d));
                for (int c = 0; c < 3; c++) {
                    double v = p[c] * (1 - casing) + 180 * casing;
                    v = v * (1 - fill) + (c == 2 ? 160 : 250) * fill;
                    p[c] = u8(v);
                }
                p[3] = 255;
            }
    }
    for (int label = 0; label < 6; label++) {
        int lx = int(random() % 220), ly = int(random() % 245);
        for (int y = ly; y < ly + 9; y++)
            for (int x = lx; x < lx + 34; x++)
                if (random() % 3 == 0) {
                    u8* p = &image[size_t(y * size + x) * 4];
                    p[0] = p[1] = p[2] = u8(60 + random() % 40);
                    p[3] = 255;
                }
    }
    return image;
}
