// The PDF object parser over GeoPDFs that GDAL writes (and variants of them), checked against the
// corners GDAL reads; hand-made files for the failures a damaged or degenerate file must give.
#include <gtest/gtest.h>

#include <memory>

#include "GeoPdfSupport.h"

namespace {

std::unique_ptr<PdfGeoResult> parse(const std::string& bytes) {
    auto result = std::make_unique<PdfGeoResult>();
    parsePdfObjects(result.get(), (const u8*)bytes.data(), (i64)bytes.size());
    return result;
}

// A PDF of numbered objects "N 0 obj ... endobj" (no cross-reference table: the parser needs none).
std::string pdfOf(const std::vector<std::string>& objects) {
    std::string pdf = "%PDF-1.7\n";
    for (size_t i = 0; i < objects.size(); i++) pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    return pdf + "%%EOF\n";
}

std::string geoPage(const std::string& gpts, const std::string& lpts) {
    return pdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
                  "<< /Type /Page /MediaBox [ 0 0 200 100 ] /VP [ << /Type /Viewport /BBox [ 0 0 200 100 ] "
                  "/Measure << /Type /Measure /Subtype /GEO /GPTS [ " + gpts + " ] /LPTS [ " + lpts + " ] >> >> ] >>"});
}

TEST(PdfObjects, GdalGeoPdfsLandWithinAMetreOfGdalsCorners) {
    const GeoPdfOracle& oracle = geoPdfOracle();
    ASSERT_TRUE(oracle.failure.empty()) << oracle.failure;
    for (const OraclePage& expected : oracle.pages) {
        SCOPED_TRACE(expected.file + " page " + std::to_string(expected.index));
        std::string bytes = readBytes(oracle.folder + "/" + expected.file + ".pdf");
        auto result = parse(bytes);
        ASSERT_EQ(result->message.length, 0) << result->message.text;
        const PdfPageGeo* page = nullptr;
        for (u32 i = 0; i < result->pageCount; i++) {
            if ((int)result->pages[i].pageIndex == expected.index) page = &result->pages[i];
        }
        ASSERT_NE(page, nullptr);
        EXPECT_GE(page->columns, 2u);
        EXPECT_GE(page->rows, 2u);
        EXPECT_LT(page->columns * page->rows, 401u);
        for (int k = 0; k < 4; k++) {
            EXPECT_LT(metresBetween(gridCorner(page, k), expected.corners[k]), 1.0) << "corner " << k;
        }
        // The grid's aspect follows the page's on the map (within one row of rounding).
        double width = metresBetween(gridCorner(page, 0), expected.corners[1]);
        double height = metresBetween(gridCorner(page, 0), expected.corners[3]);
        EXPECT_NEAR((double)(page->rows - 1) / (page->columns - 1), height / width, 1.0 / (page->columns - 1) + 1e-9);
    }
    // The six-page file: only pages 0, 2 and 5 carry a measure.
    auto multi = parse(readBytes(oracle.folder + "/multi.pdf"));
    ASSERT_EQ(multi->pageCount, 3u);
}

// A page georeferenced only through an LGIDict is named as such; a page tree that loops back on
// itself ends its walk.
TEST(PdfObjects, AnLgiDictPageSaysSoAndALoopingTreeEnds) {
    auto lgi = parse(pdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [ 3 0 R ] /Count 1 >>",
                            "<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 200 100 ] /LGIDict 4 0 R >>",
                            "<< /Type /LGIDict /Version (2.1) /Projection << /Type /Projection /ProjectionType (GEO) >> >>"}));
    EXPECT_STREQ(lgi->message.text, "This PDF's georeference is not of the supported kind");
    EXPECT_EQ(lgi->pageCount, 0u);

    auto loop = parse(pdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [ 3 0 R 2 0 R 3 0 R ] /Parent 3 0 R >>",
                             "<< /Type /Pages /Kids [ 2 0 R 3 0 R 4 0 R ] /Parent 2 0 R /MediaBox [ 0 0 200 100 ] >>",
                             "<< /Type /Page /Parent 3 0 R /VP [ << /Type /Viewport /BBox [ 0 0 200 100 ] /Measure << "
                             "/Type /Measure /Subtype /GEO /GPTS [ 45 10 46 10 46 11 ] /LPTS [ 0 0 0 1 1 1 ] >> >> ] >>"}));
    EXPECT_EQ(loop->message.length, 0) << loop->message.text;
    EXPECT_EQ(loop->pageCount, 1u);
}

TEST(PdfObjects, DegenerateGeoreferencesFailInsteadOfGivingNaNGrids) {
    // Control points on one line on the page, and all on one place on the earth.
    auto collinear = parse(geoPage("45 10 45.1 10.1 45.2 10.2", "0 0 0.5 0.5 1 1"));
    EXPECT_STREQ(collinear->message.text, "Geo object 3 0 has a degenerate georeference");
    EXPECT_EQ(collinear->pageCount, 0u);
    auto onePlace = parse(geoPage("45 10 45 10 45 10 45 10", "0 0 0 1 1 1 1 0"));
    EXPECT_STREQ(onePlace->message.text, "Geo object 3 0 has a degenerate georeference");
    // A good page: a map twice as tall as wide gives 14 x 27 points.
    auto tall = parse(geoPage("0 0 0.002 0 0.002 0.001", "0 0 0 1 1 1"));
    ASSERT_EQ(tall->message.length, 0) << tall->message.text;
    ASSERT_EQ(tall->pageCount, 1u);
    EXPECT_EQ(tall->pages[0].columns, 14u);
    EXPECT_EQ(tall->pages[0].rows, 27u);
}

TEST(PdfObjects, PointCountIsThePairsGivenInBothArrays) {
    // Three geographic pairs and four page pairs: an affine fit through the three, not a projective
    // fit through a fourth point that was never given.
    auto three = parse(geoPage("45 10 44 10 44 11", "0 1 0 0 1 0 1 1"));
    ASSERT_EQ(three->message.length, 0) << three->message.text;
    ASSERT_EQ(three->pageCount, 1u);
    const double topRight[2] = {11, 45};
    EXPECT_LT(metresBetween(gridCorner(&three->pages[0], 1), topRight), 1e-3);
    auto five = parse(geoPage("1 1 2 2 3 3 4 4 5 5", "0 0 1 0 1 1 0 1 0.5 0.5"));
    EXPECT_STREQ(five->message.text, "Geo object 3 0 should have exactly 3 or 4 LPTS/GPTS coordinates, found 5");
}

TEST(PdfObjects, ObjectStreamLengthsAreCheckedBeforeUse) {
    // An object stream whose header points beyond its data, backwards, or past /First.
    const char* headers[] = {"3 0 4 999999", "3 50 4 10", "3 0 4 5"};
    const char* firsts[] = {"12", "10", "999999999999"};
    for (int i = 0; i < 3; i++) {
        std::string body = std::string(headers[i]) + " << /Type /Pages /Kids [ ] >> << /Type /Page >>";
        // A stored (uncompressed) deflate block inside a zlib header: 0x78 0x01, then BTYPE 00.
        std::string stream = "\x78\x01";
        stream += '\x01';
        u16 n = (u16)body.size();
        stream += (char)(n & 255);
        stream += (char)(n >> 8);
        stream += (char)(~n & 255);
        stream += (char)((~n >> 8) & 255);
        stream += body + std::string(4, (char)0);
        std::string object = "<< /Type /ObjStm /N 2 /First " + std::string(firsts[i]) + " /Filter /FlateDecode /Length " +
                             std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream";
        auto result = parse(pdfOf({object}));
        EXPECT_STREQ(result->message.text, "Object 1 0's object stream is improperly formatted.") << i;
    }
    // A /Length beyond the end of the file is not followed.
    auto longLength = parse(pdfOf({"<< /Length 99999999999999 >>\nstream\nabc\nendstream", "<< /Type /Pages /Kids [ ] >>"}));
    EXPECT_EQ(longLength->message.length, 0) << longLength->message.text;
}

}  // namespace
