// The raster overlay loader end to end: a six-page GeoPDF imported through the file thread (poppler
// renders its pages), its .pdfbin caches written from the highest page down with GDAL's corners,
// the lowest one selected and read back; the .pdfbin reader's texts for damaged files.
#include <algorithm>
#include <cstring>
#include <set>

#include "Core/ImageSlots.h"
#include "Core/JobQueue.h"
#include "GeoPdfSupport.h"
#include "Overlays/RasterOverlayLoader.h"
#include "Platform/FileTestSupport.h"

namespace {

f64 readF64Be(const u8* p) {
    u64 bits = 0;
    for (int i = 0; i < 8; i++) bits = bits << 8 | p[i];
    f64 value;
    std::memcpy(&value, &bits, 8);
    return value;
}

class RasterOverlayLoading : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        loader = (RasterOverlayLoader*)std::calloc(1, sizeof(RasterOverlayLoader));
        slots = (ImageSlotTable*)std::calloc(1, sizeof(ImageSlotTable));
        // Pages of a quarter million pixels keep the PNG work of the test short.
        loader->renderBytes = 1000000;
    }
    void TearDown() override {
        delete[] loader->pixels;
        std::free(loader);
        std::free(slots);
        FileThreadFixture::TearDown();
    }
    // One frame: the loader's step, the job ring run here, then the file thread's pass. Returns the
    // .pdfbin files that appeared in the overlay folder during the frame.
    std::vector<std::string> frame() {
        OverlaySelection selection{};
        selection.rasterOverlayName = &selected;
        updateRasterOverlayLoader(&platform->fileReads, &platform->fileJobs, &platform->renderedPages, &jobs, loader,
                                  &selection, slots);
        while (runNextAsyncJob(&jobs)) {
        }
        pass();
        std::vector<std::string> appeared;
        for (const auto& entry : std::filesystem::directory_iterator(dataFolder + "Overlays")) {
            std::string name = entry.path().filename().string();
            if (name.size() > 7 && name.substr(name.size() - 7) == ".pdfbin" && !seen.count(name)) {
                seen.insert(name);
                appeared.push_back(name);
            }
        }
        return appeared;
    }
    JobQueue jobs{};
    RasterOverlayLoader* loader = nullptr;
    ImageSlotTable* slots = nullptr;
    FixedString selected{};
    std::set<std::string> seen;
};

TEST_F(RasterOverlayLoading, ImportWritesPagesHighestFirstWithGdalsCornersAndReadsTheLowestBack) {
    const GeoPdfOracle& oracle = geoPdfOracle();
    ASSERT_TRUE(oracle.failure.empty()) << oracle.failure;
    writeDataFile("Overlays/X.pdf", readBytes(oracle.folder + "/multi.pdf"));
    selected = makeString("X.pdf");
    std::vector<std::string> order;
    for (int i = 0; i < 40 && !(loader->state == RasterOverlayIdle && equals(selected, "X.pdf_0.pdfbin")); i++) {
        for (const std::string& name : frame()) order.push_back(name);
    }
    EXPECT_EQ(loader->message.length, 0) << loader->message.text;
    EXPECT_EQ(order, (std::vector<std::string>{"X.pdf_5.pdfbin", "X.pdf_2.pdfbin", "X.pdf_0.pdfbin"}));
    EXPECT_STREQ(selected.text, "X.pdf_0.pdfbin");
    EXPECT_EQ(platform->renderedPages.used, 0u);
    ASSERT_EQ(loader->loaded, 1u);
    ASSERT_NE(getImageSlot(slots, (i32)loader->imageSlot), nullptr);

    // Each cache: the source name and page, then the corners bottom-left, top-left, top-right,
    // bottom-right as latitude, longitude, within a metre of GDAL's.
    for (int index : {0, 2, 5}) {
        std::string bytes = readBytes(dataFolder + "Overlays/X.pdf_" + std::to_string(index) + ".pdfbin");
        ASSERT_GT(bytes.size(), 100u);
        const u8* b = (const u8*)bytes.data();
        ASSERT_EQ(std::string(bytes.data() + 4, 5), "X.pdf");
        EXPECT_EQ(b[4 + 5 + 3], index);
        const OraclePage* expected = nullptr;
        for (const OraclePage& page : oracle.pages) {
            if (page.file == "multi" && page.index == index) expected = &page;
        }
        ASSERT_NE(expected, nullptr);
        const int oracleCorner[4] = {3, 0, 1, 2};
        for (int k = 0; k < 4; k++) {
            double latitude = readF64Be(b + 5 + 16 + 16 * k), longitude = readF64Be(b + 5 + 24 + 16 * k);
            Vec2 map{longitude / 360, 0};
            GeoPoint geo{longitude, latitude};
            latLngToMercator(&map, &geo);
            double point[2] = {map.x, map.y};
            EXPECT_LT(metresBetween(point, expected->corners[oracleCorner[k]]), 1.0) << "page " << index << " corner " << k;
        }
    }

    // The lowest page, read back by a second loader, has the same grid and the same pixels.
    RasterOverlayLoader* second = (RasterOverlayLoader*)std::calloc(1, sizeof(RasterOverlayLoader));
    FixedString secondSelected = selected;
    OverlaySelection secondSelection{};
    secondSelection.rasterOverlayName = &secondSelected;
    for (int i = 0; i < 10 && !(second->state == RasterOverlayIdle && second->loaded); i++) {
        updateRasterOverlayLoader(&platform->fileReads, &platform->fileJobs, &platform->renderedPages, &jobs, second,
                                  &secondSelection, slots);
        while (runNextAsyncJob(&jobs)) {
        }
        pass();
    }
    EXPECT_EQ(second->message.length, 0) << second->message.text;
    ASSERT_EQ(second->loaded, 1u);
    EXPECT_STREQ(second->pdfbinName.text, "X.pdf_0.pdfbin");
    // The .pdfbin's grid takes its rows by the ceiling where the page's own rounds them, so the two
    // may differ in size; they cover the same place, corner for corner.
    const PdfPageGeo& a = loader->grid;
    const PdfPageGeo& g = second->grid;
    ASSERT_LT(g.columns * g.rows, 400u);
    ASSERT_GE(g.rows, a.rows);
    const u32 cornersA[4] = {0, a.columns - 1, (a.rows - 1) * a.columns, a.rows * a.columns - 1};
    const u32 cornersG[4] = {0, g.columns - 1, (g.rows - 1) * g.columns, g.rows * g.columns - 1};
    for (int k = 0; k < 4; k++) {
        EXPECT_NEAR(g.points[cornersG[k]][0], a.points[cornersA[k]][0], 1e-9) << "corner " << k;
        EXPECT_NEAR(g.points[cornersG[k]][1], a.points[cornersA[k]][1], 1e-9) << "corner " << k;
    }
    ASSERT_EQ(second->width, loader->width);
    ASSERT_EQ(second->height, loader->height);
    EXPECT_EQ(second->channels, 3u);
    u32 stride = (second->width * 3 + 3) & ~3u, differing = 0;
    for (u32 y = 0; y < second->height; y++) {
        for (u32 x = 0; x < second->width; x++) {
            const u8* a = loader->pixels + ((u64)y * loader->width + x) * 4;
            const u8* b = second->pixels + (u64)y * stride + x * 3;
            differing += a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
        }
    }
    EXPECT_EQ(differing, 0u);
    delete[] second->pixels;
    std::free(second);
}

// The renderer draws the crop box turned by /Rotate; the grid must span the same shown page, so
// the rendered image and the grid on the map have the same shape.
TEST_F(RasterOverlayLoading, CroppedAndTurnedPagesRenderWithTheShapeOfTheirGrid) {
    const GeoPdfOracle& oracle = geoPdfOracle();
    ASSERT_TRUE(oracle.failure.empty()) << oracle.failure;
    for (const char* name : {"cropped", "turned", "mercator"}) {
        SCOPED_TRACE(name);
        std::string file = std::string(name) + ".pdf";
        writeDataFile("Overlays/" + file, readBytes(oracle.folder + "/" + file));
        selected = makeString(file.c_str());
        std::string written = file + "_0.pdfbin";
        for (int i = 0; i < 20 && !(loader->state == RasterOverlayIdle && equals(selected, written.c_str())); i++) frame();
        ASSERT_STREQ(selected.text, written.c_str()) << loader->message.text;
        const PdfPageGeo* grid = &loader->grid;
        const double* tl = gridCorner(grid, 0);
        const double* tr = gridCorner(grid, 1);
        const double* bl = gridCorner(grid, 3);
        double gridAspect = std::hypot(tr[0] - tl[0], tr[1] - tl[1]) / std::hypot(bl[0] - tl[0], bl[1] - tl[1]);
        double imageAspect = (double)loader->width / loader->height;
        EXPECT_NEAR(imageAspect / gridAspect, 1.0, 0.01) << loader->width << " x " << loader->height;
    }
}

TEST_F(RasterOverlayLoading, FailedLoadsKeepTheirMessageAndVanishedFilesClearTheSelection) {
    writeDataFile("Overlays/notes.txt", "hello");
    writeDataFile("Overlays/plain.pdf", readBytes(geoPdfOracle().folder + "/plain.pdf"));
    selected = makeString("notes.txt");
    for (int i = 0; i < 5; i++) frame();
    EXPECT_STREQ(loader->message.text, "notes.txt isn't a pdf file");
    EXPECT_EQ(selected.length, 0);
    selected = makeString("plain.pdf");
    for (int i = 0; i < 5; i++) frame();
    EXPECT_STREQ(loader->message.text, "Didn't contain any georeferenced maps");
    EXPECT_EQ(selected.length, 0);
    selected = makeString("gone.pdfbin");
    for (int i = 0; i < 5; i++) frame();
    EXPECT_EQ(selected.length, 0);
    EXPECT_EQ(loader->loaded, 0u);
}

// A .pdfbin of a page 301 x 7 pixels (an odd width) on a square footprint of a projective page.
struct SmallPdfBin {
    static constexpr u32 width = 301, height = 7;
    std::vector<u8> rgba;
    std::unique_ptr<PdfPageGeo> grid;
    std::vector<u8> file;
};
SmallPdfBin smallPdfBin() {
    SmallPdfBin page;
    const u32 width = SmallPdfBin::width, height = SmallPdfBin::height;
    page.rgba.resize(width * height * 4);
    for (size_t i = 0; i < page.rgba.size(); i++) page.rgba[i] = (u8)(i * 7919 % 251);
    page.grid = std::make_unique<PdfPageGeo>();
    PdfPageGeo* grid = page.grid.get();
    std::memset(grid, 0, sizeof(PdfPageGeo));
    // 19 x 19 points.
    Vec2 square[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    Vec2 corners[4] = {{0.499, 0.1}, {0.5012, 0.1003}, {0.50125, 0.0979}, {0.4991, 0.0978}};
    Transformation fit;
    createProjectiveTransformation(&fit, &square[0], &square[1], &square[2], &square[3], &corners[0], &corners[1],
                                   &corners[2], &corners[3]);
    Vec2 top, bottom, left, right, u{0.5, 0}, v{0.5, 1}, l{0, 0.5}, r{1, 0.5};
    applyProjectiveTransformation(&top, &u, &fit);
    applyProjectiveTransformation(&bottom, &v, &fit);
    applyProjectiveTransformation(&left, &l, &fit);
    applyProjectiveTransformation(&right, &r, &fit);
    choosePdfGrid(std::hypot(top.x - bottom.x, top.y - bottom.y) / std::hypot(left.x - right.x, left.y - right.y), 1,
                  &grid->columns, &grid->rows);
    for (u32 j = 0; j < grid->rows; j++) {
        for (u32 i = 0; i < grid->columns; i++) {
            Vec2 at{(f64)i / (grid->columns - 1), (f64)j / (grid->rows - 1)}, out;
            applyProjectiveTransformation(&out, &at, &fit);
            grid->points[j * grid->columns + i][0] = out.x;
            grid->points[j * grid->columns + i][1] = out.y;
        }
    }
    ByteWriter measure = makeMeasuringWriter();
    writePdfBin(&measure, makeString("map.pdf"), 3, 1700000000000ull, grid, page.rgba.data(), width, height);
    page.file.resize((size_t)measure.length);
    ByteWriter writer = makeByteWriter(page.file.data(), measure.length);
    writePdfBin(&writer, makeString("map.pdf"), 3, 1700000000000ull, grid, page.rgba.data(), width, height);
    if (writer.overflow || writer.length != measure.length) page.file.clear();
    return page;
}

// A ".pdfbin" the operator picks from outside the data folder is shown, and a copy of it goes to
// "Overlays/", so that after a restart (a new loader, the picked file gone) the selection still
// loads.
TEST_F(RasterOverlayLoading, APickedPdfbinIsCopiedToTheOverlaysAndSurvivesARestart) {
    SmallPdfBin page = smallPdfBin();
    ASSERT_FALSE(page.file.empty());
    std::string picked = home + "/elsewhere/ridge.pdfbin";
    writeFile(picked, std::string(page.file.begin(), page.file.end()));
    std::filesystem::create_directories(dataFolder + "Overlays");
    loader->request = requestFile(makeString(picked.c_str()), kRasterOverlayMaxFileBytes, 0, &platform->fileReads);
    for (int i = 0; i < 10 && !(loader->state == RasterOverlayIdle && loader->loaded && !loader->request); i++) frame();
    EXPECT_EQ(loader->message.length, 0) << loader->message.text;
    EXPECT_STREQ(selected.text, "ridge.pdfbin");
    pass();
    EXPECT_EQ(readBytes(dataFolder + "Overlays/ridge.pdfbin"), std::string(page.file.begin(), page.file.end()));

    std::filesystem::remove(picked);
    RasterOverlayLoader* restarted = (RasterOverlayLoader*)std::calloc(1, sizeof(RasterOverlayLoader));
    std::swap(loader, restarted);
    for (int i = 0; i < 10 && !(loader->state == RasterOverlayIdle && loader->loaded); i++) frame();
    EXPECT_EQ(loader->message.length, 0) << loader->message.text;
    EXPECT_EQ(loader->loaded, 1u);
    EXPECT_STREQ(selected.text, "ridge.pdfbin");
    EXPECT_EQ(loader->width, SmallPdfBin::width);
    std::swap(loader, restarted);
    delete[] restarted->pixels;
    std::free(restarted);
}

// A .pdfbin of a page of odd width, written and read back, and the reader's texts for damage.
TEST(PdfBin, RoundTripAtAnOddWidthAndDamagedFileTexts) {
    SmallPdfBin page = smallPdfBin();
    ASSERT_FALSE(page.file.empty());
    const u32 width = SmallPdfBin::width, height = SmallPdfBin::height;
    const std::vector<u8>& file = page.file;
    const std::vector<u8>& rgba = page.rgba;
    const PdfPageGeo* grid = page.grid.get();

    std::vector<u8> pixels(4 << 20), scratch(4 << 20);
    auto back = std::make_unique<PdfPageGeo>();
    u32 w = 0, h = 0;
    auto read = [&](const std::vector<u8>& bytes) {
        return readPdfBin(bytes.data(), bytes.size(), makeString("m.pdfbin"), back.get(), pixels.data(), pixels.size(),
                          scratch.data(), scratch.size(), &w, &h);
    };
    FixedString failure = read(file);
    ASSERT_EQ(failure.length, 0) << failure.text;
    ASSERT_EQ(back->columns, grid->columns);
    ASSERT_EQ(back->rows, grid->rows);
    for (u32 i = 0; i < grid->columns * grid->rows; i++) {
        EXPECT_NEAR(back->points[i][0], grid->points[i][0], 1e-9);
        EXPECT_NEAR(back->points[i][1], grid->points[i][1], 1e-9);
    }
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    const u32 stride = (width * 3 + 3) & ~3u;
    for (u32 y = 0; y < height; y++) {
        for (u32 x = 0; x < width; x++) {
            for (int c = 0; c < 3; c++) ASSERT_EQ(pixels[y * stride + x * 3 + c], rgba[(y * width + x) * 4 + c]);
        }
    }

    std::vector<u8> small(file.begin(), file.begin() + 79);
    EXPECT_STREQ(read(small).text, "m.pdfbin is too small to be a .pdfbin file");
    std::vector<u8> shortName(80, 0);
    shortName[3] = 1;
    EXPECT_STREQ(read(shortName).text, "m.pdfbin ended before we got to the lat/lngs");
    std::vector<u8> cut(file.begin(), file.begin() + 4 + 7 + 12 + 64 + 10);
    EXPECT_STREQ(read(cut).text, "m.pdfbin ended before we got to the image");
    std::vector<u8> longer = file;
    longer.push_back(0);
    EXPECT_STREQ(read(longer).text, "m.pdfbin ended before the end of the image data");
    // A page length far beyond the file is caught without reading past it.
    std::vector<u8> huge = file;
    u32 m = (u32)huge[4 + 7 + 76] << 24 | (u32)huge[4 + 7 + 77] << 16 | (u32)huge[4 + 7 + 78] << 8 | huge[4 + 7 + 79];
    for (int k = 0; k < 4; k++) huge[4 + 7 + 80 + m + k] = 0xFF;
    EXPECT_STREQ(read(huge).text, "m.pdfbin ended before the end of the image data");
    // Four corners on one place: no grid.
    std::vector<u8> flat = file;
    for (int k = 1; k < 4; k++) std::memcpy(&flat[4 + 7 + 12 + 16 * k], &flat[4 + 7 + 12], 16);
    EXPECT_STREQ(read(flat).text, "m.pdfbin has a degenerate georeference");

    // A page 0.35 times as tall as wide on the map: rows by the ceiling, 32 x 12 (rounding would
    // give 33 x 12).
    auto wide = std::make_unique<PdfPageGeo>();
    std::memset(wide.get(), 0, sizeof(PdfPageGeo));
    wide->columns = 2;
    wide->rows = 2;
    const f64 x0 = 0.02, y0 = 0.1, across = 1e-3, down = 0.35e-3;
    const f64 placed[4][2] = {{x0, y0}, {x0 + across, y0}, {x0, y0 - down}, {x0 + across, y0 - down}};
    std::memcpy(wide->points, placed, sizeof(placed));
    ByteWriter measureWide = makeMeasuringWriter();
    writePdfBin(&measureWide, makeString("wide.pdf"), 1, 1700000000000ull, wide.get(), rgba.data(), width, height);
    std::vector<u8> wideFile((size_t)measureWide.length);
    ByteWriter wideWriter = makeByteWriter(wideFile.data(), measureWide.length);
    writePdfBin(&wideWriter, makeString("wide.pdf"), 1, 1700000000000ull, wide.get(), rgba.data(), width, height);
    ASSERT_EQ(read(wideFile).length, 0);
    EXPECT_EQ(back->columns, 32u);
    EXPECT_EQ(back->rows, 12u);
}

}  // namespace
