// Terrain heights against GDAL: rasters of every kind the program reads, made by GDAL at test time
// (elevation_oracle.py), and the heights gdal.Warp interpolates bilinearly at points over them,
// including points beside no-data samples, outside the rasters and where two rasters overlap.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Decoders/GeoTiff.h"
#include "Map/ElevationMapLoader.h"

namespace {

struct OraclePoint {
    std::string raster;
    f64 longitude, latitude;
    bool covered;
    f64 height;
};

std::string folder;
std::map<std::string, std::vector<OraclePoint>> groups;
std::map<std::string, ElevationRaster> rasters;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ElevationRaster loadRaster(const std::string& name) {
    std::string bytes = readFile(folder + "/" + name);
    const u8* data = (const u8*)bytes.data();
    ElevationRaster raster{};
    if (name.ends_with(".tif")) {
        u8 progress = 0;
        parseGeoTiff(&raster, data, (i64)bytes.size(), kElevationSampleBudget, 4, nullptr, &progress);
    } else if (name.ends_with(".hgt")) {
        i32 south = 0, west = 0;
        EXPECT_TRUE(parseSrtmTileName(makeString(name.c_str()), &south, &west));
        readSrtmTile(&raster, data, (i64)bytes.size(), south, west, kElevationSampleBudget, 4, nullptr);
    } else {
        std::string text = readFile(folder + "/" + name.substr(0, name.size() - 4) + ".hdr");
        BilHeader header;
        FixedString problem = parseBilHeader(&header, (const u8*)text.data(), (i64)text.size());
        EXPECT_EQ(std::string(problem.text), "");
        readBilRaster(&raster, data, (i64)bytes.size(), &header, kElevationSampleBudget, 4, nullptr);
    }
    EXPECT_EQ(std::string(raster.error.text), "") << name;
    return raster;
}

// A loader holding the rasters in the order given, as manageElevationMaps leaves loaded ones.
std::unique_ptr<ElevationMapLoader> loaderWith(std::initializer_list<const char*> names) {
    std::unique_ptr<ElevationMapLoader> loader(new ElevationMapLoader{});
    for (const char* name : names) {
        u32 s = loader->loadedCount;
        loader->slots[s].state = ElevationMapLoaded;
        loader->slots[s].raster = rasters[name];
        loader->order[s] = s;
        loader->loadedCount++;
    }
    return loader;
}

class ElevationOracle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/orvik-elevation-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::string script = std::string(ORVIK_SOURCE_DIR) + "/Tests/Map/elevation_oracle.py";
        ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + folder).c_str()), 0);
        std::istringstream lines(readFile(folder + "/heights.txt"));
        std::string group, raster, height;
        f64 longitude, latitude;
        while (lines >> group >> raster >> longitude >> latitude >> height) {
            bool covered = height != "none";
            groups[group].push_back({raster, longitude, latitude, covered, covered ? std::stod(height) : 0.0});
        }
        rasters["grid"] = loadRaster("grid.tif");
        rasters["albers"] = loadRaster("albers.tif");
        rasters["srtm1"] = loadRaster("N47E008.hgt");
        rasters["srtm3"] = loadRaster("N46E009.hgt");
        rasters["bil"] = loadRaster("terrain.bil");
        rasters["dem16"] = loadRaster("dem16.tif");
        rasters["sea"] = loadRaster("sea.tif");
    }
    static void TearDownTestSuite() {
        for (auto& entry : rasters) releaseElevationRaster(&entry.second);
        std::system(("rm -rf '" + folder + "'").c_str());
    }
};

TEST_F(ElevationOracle, BilinearHeightsMatchGdalOnEveryRasterKind) {
    ASSERT_EQ(rasters["srtm1"].width, 3601u);
    ASSERT_EQ(rasters["srtm3"].width, 1201u);
    EXPECT_EQ(rasters["albers"].georeference.kind, kGeoreferenceAlbers);
    // dem16: a DEM as gdal_translate writes it in EPSG:4326 (16-bit, pixel is area, no unit key);
    // sea: float heights with a "nan" no-data and a block at 0 m, which is ground, not missing.
    for (const char* name : {"grid", "albers", "srtm1", "srtm3", "bil", "dem16", "sea"}) {
        auto loader = loaderWith({name});
        const auto& points = groups[name];
        ASSERT_GT(points.size(), 500u) << name;
        i32 covered = 0, uncovered = 0, wrong = 0;
        for (const OraclePoint& p : points) {
            f32 height = getElevation(loader.get(), GeoPoint{p.longitude, p.latitude}, -32768.0f);
            if (p.covered) {
                covered++;
                if (!(std::fabs(height - p.height) <= 1e-3) && wrong++ < 5) {
                    ADD_FAILURE() << name << " at " << p.longitude << " " << p.latitude << ": " << height
                                  << ", GDAL " << p.height;
                }
            } else {
                uncovered++;
                if (height != -32768.0f && wrong++ < 5) {
                    ADD_FAILURE() << name << " at " << p.longitude << " " << p.latitude
                                  << " has no four valid samples, but gave " << height;
                }
            }
        }
        EXPECT_EQ(wrong, 0) << name;
        // Both kinds of point were asked: next to no-data and outside, and inside.
        EXPECT_GT(covered, 400) << name;
        EXPECT_GT(uncovered, 10) << name;
    }
}

TEST_F(ElevationOracle, PointsWithoutFourValidSamplesFallToTheNextRasterThenTheDefault) {
    auto loader = loaderWith({"grid", "bil"});
    const auto& points = groups["cross"];
    i32 fromGrid = 0, fromBil = 0, fromNeither = 0, wrong = 0;
    for (size_t i = 0; i + 1 < points.size(); i += 2) {
        const OraclePoint& grid = points[i];
        const OraclePoint& bil = points[i + 1];
        ASSERT_EQ(grid.raster, "grid");
        ASSERT_EQ(bil.raster, "bil");
        f32 height = getElevation(loader.get(), GeoPoint{grid.longitude, grid.latitude}, NAN);
        f64 expected = grid.covered ? grid.height : bil.covered ? bil.height : NAN;
        (grid.covered ? fromGrid : bil.covered ? fromBil : fromNeither)++;
        bool same = std::isnan(expected) ? std::isnan(height) : std::fabs(height - expected) <= 1e-3;
        if (!same && wrong++ < 5) {
            ADD_FAILURE() << grid.longitude << " " << grid.latitude << ": " << height << ", expected " << expected;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(fromGrid, 100);
    EXPECT_GT(fromBil, 20);
    EXPECT_GT(fromNeither, 5);
    // Far from every raster: the caller's default, unchanged.
    EXPECT_EQ(getElevation(loader.get(), GeoPoint{-120.0, 10.0}, 10000.0f), 10000.0f);
    EXPECT_TRUE(std::isnan(getElevation(loader.get(), GeoPoint{NAN, 47.5}, NAN)));
}

}  // namespace
