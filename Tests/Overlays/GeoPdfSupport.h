// Shared by the raster overlay tests: the GeoPDFs GDAL writes (made once per test program by
// geopdf_oracle.py into a temporary folder) with the corners GDAL reads from them, and small
// helpers for grids and files.
#pragma once
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Core/MathEarth.h"
#include "Overlays/PdfObjects.h"

struct OraclePage {
    std::string file;
    int index;
    double corners[4][2];  // top-left, top-right, bottom-right, bottom-left: longitude, latitude
};

struct GeoPdfOracle {
    std::string folder;
    std::vector<OraclePage> pages;
    double dot[2];  // longitude, latitude of the red dot of north.tif
    std::string failure;
};

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Made on first use; the folder goes when the test program ends.
inline const GeoPdfOracle& geoPdfOracle() {
    static GeoPdfOracle oracle = [] {
        GeoPdfOracle o{};
        char pattern[] = "/tmp/orvik-geopdf-XXXXXX";
        if (!mkdtemp(pattern)) return o.failure = "mkdtemp", o;
        o.folder = pattern;
        static std::string made = o.folder;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        const char* source = std::getenv("ORVIK_SOURCE_DIR");
        std::string command = "/usr/bin/python3 " + std::string(source ? source : ORVIK_SOURCE_DIR) +
                              "/Tests/Overlays/geopdf_oracle.py " + o.folder + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        std::string text;
        char buffer[4096];
        size_t got;
        while (pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
        if (pipe) pclose(pipe);
        std::istringstream lines(text);
        std::string word;
        while (lines >> word) {
            if (word == "page") {
                OraclePage page{};
                lines >> page.file >> page.index;
                for (auto& corner : page.corners) lines >> corner[0] >> corner[1];
                o.pages.push_back(page);
            } else if (word == "dot") {
                lines >> o.dot[0] >> o.dot[1];
            } else {
                o.failure = text;
                break;
            }
        }
        if (o.pages.size() != 12) o.failure = "GDAL, numpy and qpdf are needed: " + text;
        return o;
    }();
    return oracle;
}

// Ground distance in metres between a map position and a longitude/latitude.
inline double metresBetween(const double* mapPoint, const double* lonLat) {
    Vec2 mercator{mapPoint[0], mapPoint[1]};
    GeoPoint geo{};
    mercatorToLatLng(&geo, &mercator);
    GeoPoint other{lonLat[0], lonLat[1]};
    return std::sqrt(geoDistanceSquared(&geo, &other));
}

// The grid's corners in the oracle's order: top-left, top-right, bottom-right, bottom-left.
inline const double* gridCorner(const PdfPageGeo* grid, int k) {
    u32 c = grid->columns, r = grid->rows;
    const u32 index[4] = {0, c - 1, r * c - 1, (r - 1) * c};
    return grid->points[index[k]];
}
