// The Overlays Screen, the View Overlay Screen and the overlays panel through real frames on
// llvmpipe, with the overlay list, both overlay loaders, the job ring and the file thread's passes
// under them, and the system file picker replaced by a script that prints the picked path (or gives
// up). Imports of a KML, a KMZ (python zipfile) and a GDAL-made georeferenced PDF show their progress
// and end listed and selected; other files, cancelled picks, "View", "Delete" and the panel's rows
// do what the operator sees.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "Core/JobQueue.h"
#include "Core/MathEarth.h"
#include "Overlays/GeoPdfSupport.h"
#include "Overlays/OverlaysPanel.h"
#include "Overlays/RasterOverlayDrawing.h"
#include "Overlays/VectorOverlayDrawing.h"
#include "Platform/FileThread.h"
#include "ScreenTestSupport.h"
#include "Screens/ChildScreens.h"
#include "Screens/OverlaysScreen.h"
#include "Screens/ViewOverlayScreen.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/UiMetrics.h"

namespace {

constexpr i32 kWidth = 960;
constexpr i32 kHeight = 600;
constexpr u32 kBackground = 0xFFE9EFF2;  // 242, 239, 233 as 0xAABBGGRR
constexpr u64 kExtraFrameMicroseconds = 100000;  // the list's once-a-second listing comes sooner

bool holdJobs = false;

// The application update's steps that these screens rely on, in its order.
void overlaysUpdate(Platform* platform, UiState* ui, AppState* app) {
    while (!holdJobs && runNextAsyncJob(&platform->jobQueue)) {
    }
    FileReadTable* reads = &platform->fileReads;
    ImageSlotTable* slots = &ui->imageSlots;
    u64 now = app->screenStack.clock ? app->screenStack.clock() : 0;
    updateOverlayList(&app->overlayList, reads, slots, platform->scratch, (u64)kScratchSize, now);
    OverlaySelection selection = overlaySelectionOf(&app->preferences);
    updateVectorOverlayLoader(&app->vectorOverlayLoader, &selection, reads, &platform->fileJobs, &platform->jobQueue,
                              slots, &app->downloadPool, &app->pendingLoads.overlayPick);
    updateRasterOverlayLoader(reads, &platform->fileJobs, &platform->renderedPages, &platform->jobQueue,
                              &app->rasterOverlayLoader, &selection, slots);
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    updateScreen(&app->screenStack, platform, ui, app);
}

// A map screen for the panel: the panel on the left half, a map of the imported page on the right.
struct PanelTestState {
    u32 initialised;
    MapView panelScroll;
    MapView map;
};
Rect panelRect() { return Rect{0, kWidth / 2.0f, 0, (f32)kHeight}; }
Rect mapRect() { return Rect{kWidth / 2.0f, (f32)kWidth, 0, (f32)kHeight}; }

void panelTestScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult*, void* scratch) {
    PanelTestState* state = (PanelTestState*)scratch;
    if (!state->initialised) {
        state->initialised = 1;
        state->panelScroll = makeScrollView(WIDGET_ID);
        state->map = makeMapView(WIDGET_ID, MapViewModeMap);
    }
    OverlaySelection selection = overlaySelectionOf(&app->preferences);
    Rect panel = panelRect(), map = mapRect();
    drawOverlaysPanel(platform, stack, ui, &selection, &app->overlayList, &app->elevationMapLoader.status,
                      &state->panelScroll, &panel);
    updateMapView(&state->map, &map, Box2{-0.5, 0.5, -0.5, 0.5}, ui, stack, platform, MapWheelZooms);
    f64 box[4];
    if (rasterOverlayBox(&app->rasterOverlayLoader, box)) zoomMapToFit(&state->map, box, 40);
    drawRasterOverlay(&app->rasterOverlayLoader, &state->map, ui, &selection, 0.2f);
    ui->clearColor[0] = 242;
    ui->clearColor[1] = 239;
    ui->clearColor[2] = 233;
}

std::string textOf(const FixedString& s) { return std::string(s.text, s.length); }

class OverlaysScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-overlays-screen-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        overlays = folder + "/data/Overlays/";
        imports = folder + "/imports/";
        std::filesystem::create_directories(overlays);
        std::filesystem::create_directories(imports);
        holdJobs = false;
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        harness.platform->dataFolder = makeString((folder + "/data/").c_str());
        harness.platform->pathSeparator = '/';
        setHarnessUpdate(&harness.render, overlaysUpdate);
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = overlaysScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
        run(2);
    }
    void TearDown() override {
        if (started) {
            holdJobs = false;
            while (runNextAsyncJob(&harness.platform->jobQueue)) {
            }
            stopScreensHarness(&harness);
        }
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }

    FileThreadState* fileThread() { return (FileThreadState*)harness.render.fileThreadState; }
    // The picker prints the path, as the system's dialog does when a file is chosen.
    void pickerChooses(const std::string& path) {
        pickedPath = path;
        pickerArguments[0] = "/bin/sh";
        pickerArguments[1] = "-c";
        pickerArguments[2] = "printf '%s\\n' \"$0\"";
        pickerArguments[3] = pickedPath.c_str();
        pickerArguments[4] = nullptr;
        fileThread()->picker.command = pickerArguments;
    }
    void pickerCancels() {
        pickerArguments[0] = "/bin/sh";
        pickerArguments[1] = "-c";
        pickerArguments[2] = "exit 1";
        pickerArguments[3] = nullptr;
        fileThread()->picker.command = pickerArguments;
    }

    void run(i32 count) {
        for (i32 i = 0; i < count; i++) {
            harness.render.now += kExtraFrameMicroseconds;
            frames(&harness);
        }
    }
    template <typename Condition>
    bool runUntil(Condition condition, i32 limit = 300) {
        for (i32 i = 0; i < limit; i++) {
            if (condition()) return true;
            run(1);
        }
        return condition();
    }

    OverlaysScreenState* screen() { return (OverlaysScreenState*)harness.app->screenStack.screenState; }
    bool showsRow(const std::string& title, const std::string& text) {
        if (topScreen(&harness) != overlaysScreen) return false;
        for (u32 i = 0; i < screen()->statusRowCount; i++) {
            const OverlaysScreenRow& row = screen()->statusRows[i];
            if (textOf(row.title) == title && textOf(row.text).rfind(text, 0) == 0) return true;
        }
        return false;
    }
    const OverlayListEntry* listed(const std::string& name) {
        const OverlayList* list = &harness.app->overlayList;
        for (u32 i = 0; i < kOverlayListEntries; i++) {
            if ((list->used >> i & 1) && textOf(list->entries[i].fileName) == name) return &list->entries[i];
        }
        return nullptr;
    }
    std::string vectorSelected() { return textOf(harness.app->preferences.vectorOverlayFile); }
    std::string rasterSelected() { return textOf(harness.app->preferences.rasterOverlayFile); }

    // The import button is the first row under the progress rows.
    void pressImport() {
        ASSERT_EQ(screen()->statusRowCount, 0u);
        click(&harness, kWidth / 2.0f, rowCentreY(&harness, 0));
    }
    // Presses import and notes the rows shown until no progress row is left.
    void importWithRows(const std::string& path, std::set<std::string>* seen) {
        pickerChooses(path);
        holdJobs = true;
        pressImport();
        auto note = [&] {
            for (u32 i = 0; i < screen()->statusRowCount; i++) {
                const OverlaysScreenRow& row = screen()->statusRows[i];
                seen->insert(textOf(row.title) + " | " + textOf(row.text));
            }
        };
        note();
        // Parsing waits for the job ring, which the test holds until the row has been seen.
        ASSERT_TRUE(runUntil([&] {
            note();
            for (const std::string& row : *seen) {
                if (row.find("| Parsing") != std::string::npos) return true;
            }
            return false;
        }));
        holdJobs = false;
        ASSERT_TRUE(runUntil([&] {
            note();
            for (u32 i = 0; i < screen()->statusRowCount; i++) {
                std::string title = textOf(screen()->statusRows[i].title), text = textOf(screen()->statusRows[i].text);
                if (title == "Picking file" || text == "Parsing" || text.rfind("Rendering", 0) == 0) return false;
            }
            return true;
        }));
    }
    // The rectangle's centre, clicked.
    void clickRect(const Rect& r) {
        ASSERT_GT(r.x1, r.x0);
        click(&harness, (r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2);
    }
    // Opens the list row of an entry (rows follow the import button) and waits for its buttons.
    void openRow(i32 listRow) {
        click(&harness, kWidth / 2.0f, rowCentreY(&harness, 1 + listRow));
        ASSERT_TRUE(runUntil([&] { return screen()->deleteButton.x1 > screen()->deleteButton.x0; }, 5));
    }
    void placeSolidPage(const char* name) {
        std::string command = "/usr/bin/python3 " + std::string(ORVIK_SOURCE_DIR) +
                              "/Tests/Overlays/overlay_list_folder.py pdfbin '" + overlays + name + "' Solid.pdf";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    u32 pixel(f32 x, f32 y) { return harnessPixel(&harness.render, (i32)std::lround(x), (i32)std::lround(y)); }

    ScreensHarness harness{};
    bool started = false;
    std::string folder, overlays, imports, pickedPath;
    const char* pickerArguments[6] = {};
};

TEST_F(OverlaysScreenTest, AKmlImportShowsItsProgressAndEndsListedAndSelected) {
    std::ofstream(imports + "Route.KML") << R"(<?xml version="1.0"?><kml><Document><Placemark><name>Route</name>
        <LineString><coordinates>10.1,44.8 10.3,44.9 10.5,44.85</coordinates></LineString></Placemark>
        </Document></kml>)";
    std::set<std::string> rows;
    importWithRows(imports + "Route.KML", &rows);
    EXPECT_TRUE(rows.count("Picking file | Please use the system file picker to select the overlay file you want to import"));
    EXPECT_TRUE(rows.count("Route.KML | Parsing"));
    // The cache is named after the picked file, and the selection follows it.
    ASSERT_TRUE(runUntil([&] { return listed("Route.KMLbin") != nullptr; }));
    EXPECT_EQ(vectorSelected(), "Route.KMLbin");
    EXPECT_EQ(listed("Route.KMLbin")->kind, (u32)OverlayListVectorOverlay);
    EXPECT_EQ(textOf(listed("Route.KMLbin")->displayName), "Route.KML");
    EXPECT_EQ(harness.app->vectorOverlayLoader.overlay.lineSegmentCount, 2u);

    // A cache picked from elsewhere is loaded as it is and kept in the folder under its own name.
    std::filesystem::copy_file(overlays + "Route.KMLbin", imports + "Copy.kmlbin");
    importWithRows(imports + "Copy.kmlbin", &rows);
    ASSERT_TRUE(runUntil([&] { return listed("Copy.kmlbin") != nullptr; }));
    EXPECT_EQ(vectorSelected(), "Copy.kmlbin");
    // The same overlay; its first 8 bytes are the time of the file it was read from.
    EXPECT_EQ(readBytes(overlays + "Copy.kmlbin").substr(8), readBytes(imports + "Copy.kmlbin").substr(8));
}

TEST_F(OverlaysScreenTest, AKmzImportShowsItsProgressAndEndsListedAndSelected) {
    ASSERT_EQ(std::system(("/usr/bin/python3 " + std::string(ORVIK_SOURCE_DIR) + "/Tests/Overlays/kmz_oracle.py make '" +
                           imports + "' 1 > /dev/null")
                              .c_str()),
              0);
    std::set<std::string> rows;
    importWithRows(imports + "stored.kmz", &rows);
    EXPECT_TRUE(rows.count("Picking file | Please use the system file picker to select the overlay file you want to import"));
    EXPECT_TRUE(rows.count("stored.kmz | Parsing"));
    ASSERT_TRUE(runUntil([&] { return listed("stored.kmzbin") != nullptr; }));
    EXPECT_EQ(vectorSelected(), "stored.kmzbin");
    EXPECT_EQ(listed("stored.kmzbin")->kind, (u32)OverlayListVectorOverlay);
    EXPECT_GT(harness.app->vectorOverlayLoader.overlay.markerCount, 0u);
}

TEST_F(OverlaysScreenTest, AKmzWithoutAKmlSaysSo) {
    std::string archive = imports + "readme.kmz";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import sys, zipfile; zipfile.ZipFile(sys.argv[1], 'w').writestr("
                           "'readme.txt', 'no drawing here')\" '" + archive + "'").c_str()),
              0);
    std::ofstream(overlays + "Shown.kml") << R"(<?xml version="1.0"?><kml><Document><Placemark>
        <LineString><coordinates>10.1,44.8 10.3,44.9</coordinates></LineString></Placemark></Document></kml>)";
    harness.app->preferences.vectorOverlayFile = makeString("Shown.kml");
    ASSERT_TRUE(runUntil([&] { return harness.app->vectorOverlayLoader.state == 1; }));
    pickerChooses(archive);
    pressImport();
    ASSERT_TRUE(runUntil([&] { return showsRow("readme.kmz", "The .kmz holds no .kml file"); }));
    // The overlay shown before is loaded again, and the row stays.
    ASSERT_TRUE(runUntil([&] { return harness.app->vectorOverlayLoader.state == 1; }));
    EXPECT_TRUE(showsRow("readme.kmz", "The .kmz holds no .kml file"));
}

TEST_F(OverlaysScreenTest, AGeoreferencedPdfImportShowsItsProgressAndEndsListedAndSelected) {
    const GeoPdfOracle& pdfs = geoPdfOracle();
    ASSERT_TRUE(pdfs.failure.empty()) << pdfs.failure;
    harness.app->preferences.vectorOverlayFile = makeString("Shown.kmlbin");
    // Pages of a quarter million pixels keep the PNG work of the test short.
    harness.app->rasterOverlayLoader.renderBytes = 1000000;
    std::set<std::string> rows;
    importWithRows(pdfs.folder + "/north.pdf", &rows);
    EXPECT_TRUE(rows.count("Picking file | Please use the system file picker to select the overlay file you want to import"));
    EXPECT_TRUE(rows.count("north.pdf | Parsing"));
    EXPECT_TRUE(rows.count("north.pdf | Rendering page 1"));
    ASSERT_TRUE(runUntil([&] { return listed("north.pdf_0.pdfbin") != nullptr; }));
    EXPECT_EQ(rasterSelected(), "north.pdf_0.pdfbin");
    const OverlayListEntry* page = listed("north.pdf_0.pdfbin");
    EXPECT_EQ(page->kind, (u32)OverlayListRasterPage);
    EXPECT_EQ(textOf(page->displayName), "north.pdf");
    EXPECT_NE(page->previewSlot, 0u);
    // The vector overlay shown before stays chosen beside the page.
    EXPECT_EQ(vectorSelected(), "Shown.kmlbin");
}

TEST_F(OverlaysScreenTest, AnotherFileTypeIsNamedAndACancelledPickLeavesNoTrace) {
    std::ofstream(imports + "notes.txt") << "not an overlay";
    pickerChooses(imports + "notes.txt");
    pressImport();
    ASSERT_TRUE(runUntil([&] { return showsRow("notes.txt", "Unrecognized file type, should be .pdf, .kml, or .kmz"); }));
    EXPECT_EQ(screen()->pick, nullptr);

    FileReadTable* reads = &harness.platform->fileReads;
    auto slotsInUse = [&] {
        u32 count = 0;
        for (u64 word : reads->used) count += (u32)std::popcount(word);
        return count;
    };
    run(2);
    pickerCancels();
    click(&harness, kWidth / 2.0f, rowCentreY(&harness, 0));
    run(1);  // the file thread's next pass opens the picker
    ASSERT_TRUE(showsRow("Picking file", "Please use"));
    ASSERT_TRUE(runUntil([&] { return screen()->pick == nullptr; }));
    run(2);
    EXPECT_EQ(screen()->statusRowCount, 0u);  // the picker's row and the last pick's message have gone
    EXPECT_EQ(harness.app->pendingLoads.overlayPick, nullptr);
    EXPECT_EQ(harness.app->vectorOverlayLoader.request, nullptr);
    EXPECT_EQ(harness.app->rasterOverlayLoader.request, nullptr);
    u32 listRequests = (harness.app->overlayList.listing ? 1 : 0) + (harness.app->overlayList.entryRead ? 1 : 0);
    EXPECT_EQ(slotsInUse(), listRequests);
    EXPECT_EQ(vectorSelected(), "");
    EXPECT_EQ(rasterSelected(), "");
}

TEST_F(OverlaysScreenTest, ViewFramesThePageAndATapHidesItAndDeleteRemovesTheFileThenItsRow) {
    placeSolidPage("Solid.pdf_0.pdfbin");
    ASSERT_TRUE(runUntil([&] { return listed("Solid.pdf_0.pdfbin") != nullptr; }));
    openRow(0);
    clickRect(screen()->viewButton);
    EXPECT_EQ(rasterSelected(), "Solid.pdf_0.pdfbin");
    ASSERT_TRUE(runUntil([&] { return topScreen(&harness) == viewRasterOverlayScreen; }));
    run(2);
    const ViewOverlayScreenState* view = (const ViewOverlayScreenState*)harness.app->screenStack.screenState;
    ASSERT_EQ(view->framed, 1u);

    // Just inside each corner the page's colour; just outside, the bare map.
    const GeoPoint corners[4] = {{10.0, 44.7}, {10.0, 45.0}, {10.6, 45.0}, {10.6, 44.7}};
    // The screen runner's back button covers one corner of the window.
    Rect backButton = harness.app->screenStack.runner.cornerButtonRect;
    auto underBackButton = [&](f32 x, f32 y) {
        return x >= backButton.x0 - 2 && x <= backButton.x1 + 2 && y >= backButton.y0 - 2 && y <= backButton.y1 + 2;
    };
    auto insideAndOutside = [&](bool shown) {
        for (const GeoPoint& corner : corners) {
            Vec2F32 at = geoPointToScreen(&view->view, corner);
            f32 cx = kWidth / 2.0f, cy = kHeight / 2.0f;
            f32 sx = at.x < cx ? 1.0f : -1.0f, sy = at.y < cy ? 1.0f : -1.0f;
            // Framed with 5 pixels to spare along the page's longer side.
            ASSERT_GE(at.x, 3.0f);
            ASSERT_LE(at.x, kWidth - 3.0f);
            ASSERT_GE(at.y, 3.0f);
            ASSERT_LE(at.y, kHeight - 3.0f);
            if (underBackButton(at.x, at.y)) continue;
            u32 inside = pixel(at.x + 3 * sx, at.y + 3 * sy);
            u32 outside = pixel(at.x - 2 * sx, at.y - 2 * sy);
            if (shown) {
                EXPECT_NEAR((int)(inside & 0xFF), 200, 12) << std::hex << inside;
                EXPECT_NEAR((int)(inside >> 8 & 0xFF), 30, 12) << std::hex << inside;
            } else {
                EXPECT_EQ(inside, kBackground);
            }
            EXPECT_EQ(outside, kBackground);
        }
        f32 left = geoPointToScreen(&view->view, corners[0]).x, right = geoPointToScreen(&view->view, corners[2]).x;
        f32 bottom = geoPointToScreen(&view->view, corners[0]).y, top = geoPointToScreen(&view->view, corners[2]).y;
        // Fitted: one side of the page runs to within 5 pixels of the window's edges.
        EXPECT_TRUE(std::fabs(left - 5) < 1.5f || std::fabs(bottom - 5) < 1.5f) << left << " " << bottom;
        EXPECT_TRUE(std::fabs(right - (kWidth - 5)) < 1.5f || std::fabs(top - (kHeight - 5)) < 1.5f);
    };
    insideAndOutside(true);
    click(&harness, kWidth / 2.0f, kHeight / 2.0f);
    run(1);
    EXPECT_EQ(view->hidden, 1u);
    insideAndOutside(false);
    click(&harness, kWidth / 2.0f, kHeight / 2.0f);
    run(1);
    insideAndOutside(true);

    tapKey(&harness, KeyEscape);
    ASSERT_EQ(topScreen(&harness), overlaysScreen);
    run(2);
    openRow(0);
    clickRect(screen()->deleteButton);
    ASSERT_TRUE(runUntil([&] { return !std::filesystem::exists(overlays + "Solid.pdf_0.pdfbin"); }, 5));
    EXPECT_NE(listed("Solid.pdf_0.pdfbin"), nullptr);  // the row goes with the next listing
    ASSERT_TRUE(runUntil([&] { return listed("Solid.pdf_0.pdfbin") == nullptr; }, 30));
    EXPECT_EQ(rasterSelected(), "");
}

// A file of one point and one line: the View Overlay screen draws both, the point as the default pin
// (it names no icon), standing on its point.
TEST_F(OverlaysScreenTest, ViewOverlayDrawsAPointPlacemarkBesideALine) {
    std::ofstream(imports + "Both.kml") << R"(<?xml version="1.0"?><kml><Document>
        <Style id="r"><LineStyle><color>ff0000ff</color><width>4</width></LineStyle></Style>
        <Placemark><name>Spot</name><Point><coordinates>10.2,44.9</coordinates></Point></Placemark>
        <Placemark><styleUrl>#r</styleUrl><LineString><coordinates>10.3,44.8 10.5,44.8</coordinates></LineString>
        </Placemark></Document></kml>)";
    std::set<std::string> rows;
    importWithRows(imports + "Both.kml", &rows);
    ASSERT_TRUE(runUntil([&] { return listed("Both.kmlbin") != nullptr; }));
    openRow(0);
    clickRect(screen()->viewButton);
    ASSERT_TRUE(runUntil([&] { return topScreen(&harness) == viewVectorOverlayScreen; }));
    run(2);
    const ViewOverlayScreenState* view = (const ViewOverlayScreenState*)harness.app->screenStack.screenState;
    ASSERT_EQ(view->framed, 1u);
    auto dark = [&](Vec2F32 at, i32 x0, i32 x1, i32 y0, i32 y1) {
        i32 n = 0;
        for (i32 y = y0; y <= y1; y++) {
            for (i32 x = x0; x <= x1; x++) n += (pixel(at.x + x, at.y + y) & 0xFF) < 100;
        }
        return n;
    };
    // The pin's dark outline and dot fill part of the 32 pixels above the point (framed 5 pixels
    // from the window's left edge).
    Vec2F32 spot = geoPointToScreen(&view->view, GeoPoint{10.2, 44.9});
    ASSERT_GE(spot.x, 4.0f);
    EXPECT_GT(dark(spot, -4, 12, 1, 32), 25);
    writeHarnessPng(&harness.render, outputPath("view_overlay_point_and_line.png").c_str());
    // The line, red, along its middle.
    Vec2F32 line = geoPointToScreen(&view->view, GeoPoint{10.4, 44.8});
    u32 red = pixel(line.x, line.y);
    EXPECT_GT((i32)(red & 0xFF), 200) << std::hex << red;
    EXPECT_LT((i32)(red >> 8 & 0xFF), 60) << std::hex << red;
}

// Lines beyond what memory gives: the segments that fit are drawn and the overlay's row says how many
// of how many, in the list and after the cache is read back.
TEST_F(OverlaysScreenTest, LinesBeyondTheMemoryGivenShowNOfMLinesInTheOverlaysRow) {
    std::string kml = R"(<?xml version="1.0"?><kml><Document><Placemark><LineString><coordinates>)";
    for (i32 i = 0; i < 300; i++) kml += std::to_string(10.0 + 0.001 * i) + ",44.8 ";
    kml += "</coordinates></LineString></Placemark></Document></kml>";
    std::ofstream(imports + "Long.kml") << kml;
    harness.app->vectorOverlayLoader.overlay.lineSegmentByteLimit = 100 * sizeof(OverlayLineSegment);
    std::set<std::string> rows;
    importWithRows(imports + "Long.kml", &rows);
    ASSERT_TRUE(runUntil([&] { return listed("Long.kmlbin") != nullptr; }));
    EXPECT_EQ(harness.app->vectorOverlayLoader.overlay.lineSegmentCount, 100u);
    EXPECT_EQ(textOf(listed("Long.kmlbin")->subtitle).rfind("Showing 100 of 299 lines   ", 0), 0u)
        << textOf(listed("Long.kmlbin")->subtitle);
}

TEST_F(OverlaysScreenTest, APanelRowTogglesWhatTheMapDrawsAndTheTerrainRowsTheirSwitches) {
    placeSolidPage("Solid.pdf_0.pdfbin");
    ASSERT_TRUE(runUntil([&] { return listed("Solid.pdf_0.pdfbin") != nullptr; }));
    ScreenStack* stack = &harness.app->screenStack;
    stack->screens[1] = panelTestScreen;
    std::memset(stack->screenState, 0, sizeof(stack->screenState));
    run(2);
    Rect map = mapRect();
    f32 mx = (map.x0 + map.x1) / 2, my = (map.y0 + map.y1) / 2;
    EXPECT_EQ(pixel(mx, my), kBackground);  // nothing chosen yet

    // Rows: the terrain warning, the topographic shading, then the page.
    f32 x = kWidth / 4.0f;
    click(&harness, x, rowCentreY(&harness, 2));
    EXPECT_EQ(rasterSelected(), "Solid.pdf_0.pdfbin");
    ASSERT_TRUE(runUntil([&] { return (pixel(mx, my) & 0xFF) > 150; }, 30));
    click(&harness, x, rowCentreY(&harness, 2));
    EXPECT_EQ(rasterSelected(), "");
    run(1);
    EXPECT_EQ(pixel(mx, my), kBackground);

    Preferences* preferences = &harness.app->preferences;
    click(&harness, x, rowCentreY(&harness, 0));
    EXPECT_EQ(preferences->showLowAltitudeOverlay, 1u);
    EXPECT_EQ(preferences->showTopographicOverlay, 0u);
    click(&harness, x, rowCentreY(&harness, 1));
    EXPECT_EQ(preferences->showTopographicOverlay, 1u);
    click(&harness, x, rowCentreY(&harness, 0));
    EXPECT_EQ(preferences->showLowAltitudeOverlay, 0u);
}

}  // namespace
