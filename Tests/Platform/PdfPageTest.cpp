// PDF documents read through the file table and pages rendered through the page table: a page of
// vector shapes made here, checked pixel by pixel at known places; the page-size search; the texts of
// failed calls.
#include <cstring>
#include <sstream>

#include "Platform/FileTestSupport.h"

namespace {

// A one-page PDF written by hand: a w x h point page with a red box at (20, 20)-(80, 60) and a blue
// box at (120, 50)-(180, 90), in PDF units (origin bottom-left), rotated by `rotate` degrees.
std::string shapesPdf(int width, int height, int rotate) {
    std::string content = "1 0 0 rg 20 20 60 40 re f 0 0 1 rg 120 50 60 40 re f\n";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " + std::to_string(height) +
            "] /Rotate " + std::to_string(rotate) + " /Contents 4 0 R /Resources << >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); i++) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof(line), "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

struct Rgba {
    u8 r, g, b, a;
};

Rgba pixelAt(const std::vector<u8>& pixels, u32 width, u32 x, u32 y) {
    const u8* p = &pixels[((u64)y * width + x) * 4];
    return Rgba{p[0], p[1], p[2], p[3]};
}

::testing::AssertionResult isColour(Rgba pixel, u8 r, u8 g, u8 b) {
    if (pixel.r == r && pixel.g == g && pixel.b == b && pixel.a == 255) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << (int)pixel.r << "," << (int)pixel.g << "," << (int)pixel.b
                                         << "," << (int)pixel.a;
}

class PdfPages : public FileThreadFixture {
protected:
    // Reads a PDF below the data folder through the file table; returns the finished request.
    FileReadRequest* readPdf(const std::string& relative) {
        FileReadRequest* request = requestFile(makeString(relative.c_str()), 1000000, 0, &platform->fileReads);
        pass();
        EXPECT_EQ(fileRequestStatus(request), FileStatusSuccess);
        return request;
    }

    RenderedPageSlot* renderPage(std::vector<u8>* pixels, u32 document, u32 page, i64 budget) {
        pixels->assign((size_t)budget * 4, 0);
        RenderedPageSlot* request = requestRenderedPage(pixels->data(), document, page, (u64)budget * 4, &platform->renderedPages);
        EXPECT_NE(request, &platform->renderedPages.errorSlot);
        pass();
        return request;
    }
};

TEST_F(PdfPages, ShapesRenderAtTheirPlaces) {
    writeDataFile("Overlays/map.pdf", shapesPdf(200, 100, 0));
    FileReadRequest* read = readPdf("Overlays/map.pdf");
    EXPECT_EQ(read->pdfDocumentNumber, 1u);
    EXPECT_EQ(read->statusText.length, 0) << read->statusText.text;
    EXPECT_EQ(read->bytesRead, shapesPdf(200, 100, 0).size());

    std::vector<u8> pixels;
    RenderedPageSlot* page = renderPage(&pixels, 1, 0, 20000);
    ASSERT_EQ(renderedPageStatus(page), PdfPageDone) << page->message.text;
    EXPECT_EQ(page->message.length, 0);
    ASSERT_EQ(page->width, 200u);
    ASSERT_EQ(page->height, 100u);
    // One pixel per point, rows from the top.
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 50, 60), 255, 0, 0));
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 21, 78), 255, 0, 0));
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 78, 41), 255, 0, 0));
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 150, 30), 0, 0, 255));
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 100, 50), 255, 255, 255));
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 0, 0), 255, 255, 255));
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 50, 20), 255, 255, 255));  // above the red box
    EXPECT_TRUE(isColour(pixelAt(pixels, 200, 199, 99), 255, 255, 255));
    releaseRenderedPageSlot(page, &platform->renderedPages);

    // A larger budget scales the page: two pixels per point.
    page = renderPage(&pixels, 1, 0, 80000);
    ASSERT_EQ(renderedPageStatus(page), PdfPageDone);
    ASSERT_EQ(page->width, 400u);
    ASSERT_EQ(page->height, 200u);
    EXPECT_TRUE(isColour(pixelAt(pixels, 400, 100, 120), 255, 0, 0));
    EXPECT_TRUE(isColour(pixelAt(pixels, 400, 300, 60), 0, 0, 255));
    EXPECT_TRUE(isColour(pixelAt(pixels, 400, 200, 100), 255, 255, 255));
    releaseRenderedPageSlot(page, &platform->renderedPages);

    // A page beyond the last one.
    page = renderPage(&pixels, 1, 1, 20000);
    EXPECT_EQ(renderedPageStatus(page), PdfPageFailed);
    EXPECT_STREQ(page->message.text, "PdfDocument.GetPage() returned E_INVALIDARG");
    releaseRenderedPageSlot(page, &platform->renderedPages);
    releaseFileReadRequest(read, &platform->fileReads);
}

TEST_F(PdfPages, RotatedPageIsRenderedUpright) {
    writeDataFile("Overlays/turned.pdf", shapesPdf(200, 100, 90));
    FileReadRequest* read = readPdf("Overlays/turned.pdf");
    ASSERT_EQ(read->pdfDocumentNumber, 1u);
    std::vector<u8> pixels;
    RenderedPageSlot* page = renderPage(&pixels, 1, 0, 20000);
    ASSERT_EQ(renderedPageStatus(page), PdfPageDone) << page->message.text;
    ASSERT_EQ(page->width, 100u);
    ASSERT_EQ(page->height, 200u);
    // Turned a quarter clockwise: the page's bottom edge is now its left edge.
    EXPECT_TRUE(isColour(pixelAt(pixels, 100, 40, 50), 255, 0, 0));
    EXPECT_TRUE(isColour(pixelAt(pixels, 100, 70, 150), 0, 0, 255));
    EXPECT_TRUE(isColour(pixelAt(pixels, 100, 50, 100), 255, 255, 255));
    releaseRenderedPageSlot(page, &platform->renderedPages);
    releaseFileReadRequest(read, &platform->fileReads);
}

TEST_F(PdfPages, OnlyTheLatestDocumentRenders) {
    writeDataFile("Overlays/first.pdf", shapesPdf(200, 100, 0));
    writeDataFile("Overlays/SECOND.PDF", shapesPdf(100, 100, 0));
    writeDataFile("Overlays/broken.pdf", "%PDF-1.4\nthis is not a document\n");
    writeDataFile("Overlays/picture.png", shapesPdf(200, 100, 0));

    FileReadRequest* first = readPdf("Overlays/first.pdf");
    FileReadRequest* second = readPdf("Overlays/SECOND.PDF");
    EXPECT_EQ(first->pdfDocumentNumber, 1u);
    EXPECT_EQ(second->pdfDocumentNumber, 2u);

    std::vector<u8> oldPixels, newPixels;
    RenderedPageSlot* old = renderPage(&oldPixels, 1, 0, 20000);
    EXPECT_EQ(renderedPageStatus(old), PdfPageNotLoaded);
    EXPECT_STREQ(old->message.text, "Pdf is no longer loaded in memory");

    // A failed load and a file that is no PDF leave the loaded document alone.
    FileReadRequest* broken = readPdf("Overlays/broken.pdf");
    EXPECT_EQ(broken->pdfDocumentNumber, 0u);
    EXPECT_STREQ(broken->statusText.text, "IPdfDocumentStatics.LoadFromFileAsync() terminated with an error");
    EXPECT_EQ(broken->data != nullptr, true);
    FileReadRequest* picture = readPdf("Overlays/picture.png");
    EXPECT_EQ(picture->pdfDocumentNumber, 0u);
    EXPECT_STREQ(picture->statusText.text, "picture.png does not end with .pdf");

    RenderedPageSlot* current = renderPage(&newPixels, 2, 0, 10000);
    ASSERT_EQ(renderedPageStatus(current), PdfPageDone) << current->message.text;
    EXPECT_EQ(current->width, 100u);
    EXPECT_EQ(current->height, 100u);
    EXPECT_TRUE(isColour(pixelAt(newPixels, 100, 50, 60), 255, 0, 0));

    for (FileReadRequest* request : {first, second, broken, picture}) releaseFileReadRequest(request, &platform->fileReads);
    releaseRenderedPageSlot(old, &platform->renderedPages);
    releaseRenderedPageSlot(current, &platform->renderedPages);
    EXPECT_EQ(platform->renderedPages.used, 0u);
}

TEST(PdfPageSize, SearchesForTheExactRatioWithinTheBudget) {
    struct Case {
        f32 width, height;
        u32 expectedWidth, expectedHeight;
    };
    for (Case c : {Case{100, 100, 4000, 4000}, Case{612, 792, 3502, 4532}, Case{595, 842, 2975, 4210},
                   Case{595.276f, 841.89f, 3363, 4756}}) {
        PdfPixelSize size = choosePdfPixelSize(c.width, c.height, 16000000);
        EXPECT_EQ(size.width, c.expectedWidth) << c.width << " x " << c.height;
        EXPECT_EQ(size.height, c.expectedHeight) << c.width << " x " << c.height;
        EXPECT_LE((i64)size.width * size.height, 16000000);
    }
    PdfPixelSize none = choosePdfPixelSize(100, 100, 0);
    EXPECT_EQ(none.width, 0u);
    EXPECT_EQ(none.height, 0u);
}

TEST(RenderedPageTable, SixtyFourSlots) {
    RenderedPageTable table{};
    u8 pixels[4];
    for (u32 i = 0; i < kRenderedPageSlots; i++) {
        EXPECT_EQ(requestRenderedPage(pixels, 1, i, 4, &table), &table.slots[i]);
    }
    RenderedPageSlot* full = requestRenderedPage(pixels, 1, 0, 4, &table);
    ASSERT_EQ(full, &table.errorSlot);
    EXPECT_GT(renderedPageStatus(full), 2u);
    EXPECT_STREQ(full->message.text, "Too many rendered pages");
    releaseRenderedPageSlot(full, &table);
    EXPECT_EQ(table.used, ~0ull);
    releaseRenderedPageSlot(&table.slots[9], &table);
    RenderedPageSlot* again = requestRenderedPage(pixels, 3, 7, 16000000, &table);
    ASSERT_EQ(again, &table.slots[9]);
    EXPECT_EQ(again->document, 3u);
    EXPECT_EQ(again->page, 7u);
    EXPECT_EQ(again->capacity, 16000000u);
    EXPECT_EQ(again->status, (u32)PdfPageNew);
}

TEST(PdfCallTexts, CheckHresult) {
    FixedString out = makeString("untouched");
    EXPECT_EQ(checkHresult(0, "X", &out), 1u);
    EXPECT_STREQ(out.text, "untouched");
    EXPECT_EQ(checkHresult(0x80070057, "X", &out), 0u);
    EXPECT_STREQ(out.text, "X returned E_INVALIDARG");
    checkHresult(0x8000FFFF, "PdfPage.get_Size()", &out);
    EXPECT_STREQ(out.text, "PdfPage.get_Size() returned E_UNEXPECTED");
    checkHresult(1, "X", &out);
    EXPECT_STREQ(out.text, "X returned unrecognized error code 0x00000001");
    checkHresult(0x8007ABCD, "X", &out);
    EXPECT_STREQ(out.text, "X returned unrecognized error code 0x8007ABCD");
}

}  // namespace
