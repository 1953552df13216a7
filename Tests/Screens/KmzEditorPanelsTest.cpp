// The drawing editor's toolbar, its Save and Load panels and the import, hosted by a test screen
// over a temporary data folder: clicks save the drawing as a new file, rename it (a name that would
// leave the folder is refused), load and merge it back and delete it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <string>

#include "KmzEditor/KmzImport.h"
#include "Platform/FileTables.h"
#include "ScreenTestSupport.h"
#include "Screens/ChildScreens.h"
#include "Screens/FlyScreen.h"
#include "Screens/FlyScreenSharedUiViewLog.h"
#include "SourceCommon/UserInterface/ListView.h"

namespace {

constexpr i32 kWidth = 1280, kHeight = 800;

struct HostState {
    u32 initialised;
    u32 panel;
    MapView scroll;
    KmzExportPanelState exportPanel;
};

Rect toolbarRow(const UiState* ui, const UiMetrics* m) {
    return Rect{0, (f32)ui->width, (f32)ui->height - m->buttonHeight, (f32)ui->height};
}
Rect panelRect(const UiState* ui, const UiMetrics* m) {
    return Rect{0, (f32)ui->width, 0, (f32)ui->height - 2 * m->buttonHeight - 2 * m->margin};
}

void kmzHostScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult*, void* scratch) {
    HostState* state = (HostState*)scratch;
    if (!state->initialised) {
        state->initialised = 1;
        state->panel = KmzPanelNone;
        state->scroll = makeScrollView(WidgetId{1, "kmz panel list"});
    }
    Rect panel = panelRect(ui, &app->uiMetrics);
    if (state->panel == KmzPanelLoad) {
        drawExportedKmzList(panel, &app->exportedKmzList, &state->scroll, &app->pendingLoads.kmzRead,
                            &app->pendingLoads.kmzImportMode, &app->pendingLoads.kmzImportName, &platform->fileReads,
                            platform, ui, stack);
    } else if (state->panel == KmzPanelSave) {
        kmzExportPanel(panel, &app->kmzEditor, &state->exportPanel, &app->kmzExport, &app->exportedKmzList, &state->scroll,
                       &platform->fileJobs, platform, ui, stack, &stack->runner.textFocus);
    }
    drawKmzEditorToolbar(&state->panel, toolbarRow(ui, &app->uiMetrics), &app->kmzEditor, &app->uiMetrics, ui, stack);
}

void kmzUpdate(Platform* platform, UiState* ui, AppState* app) {
    updateExportedKmzList(&app->exportedKmzList, &platform->fileReads, nullptr, (i64)app->screenStack.now, 0);
    if (updateKmzExport(&app->kmzExport, &platform->fileJobs, &platform->jobQueue)) app->exportedKmzList.refresh = 2;
    while (runNextAsyncJob(&platform->jobQueue)) {
    }
    importKmzIntoKmzEditor(&app->pendingLoads.kmzRead, &app->kmzEditor, &app->pendingLoads.kmzImportName,
                           app->pendingLoads.kmzImportMode, &platform->fileReads);
    app->uiMetrics = computeUiMetrics(ui->screenRect);
    updateScreen(&app->screenStack, platform, ui, app);
}

class KmzEditorPanels : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-kmz-panels-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        exported = folder + "/data/Exported Kmzs";
        std::filesystem::create_directories(exported);
        ASSERT_TRUE(started = startScreensHarness(&harness, kWidth, kHeight));
        harness.platform->dataFolder = makeString((folder + "/data/").c_str());
        harness.platform->pathSeparator = '/';
        setHarnessUpdate(&harness.render, kmzUpdate);
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[1] = kmzHostScreen;
        stack->depth = 2;
        std::memset(stack->screenState, 0, sizeof(stack->screenState));
        harness.app->kmzEditor.lineEnd = -1;
        frames(&harness, 2);
    }
    void TearDown() override {
        if (started) stopScreensHarness(&harness);
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
    HostState* host() { return (HostState*)harness.app->screenStack.screenState; }
    KmzEditor* editor() { return &harness.app->kmzEditor; }
    template <typename Condition>
    bool framesUntil(Condition condition, i32 limit = 300) {
        for (i32 i = 0; i < limit; i++) {
            harness.render.now += 20000;
            frames(&harness);
            if (condition()) return true;
        }
        return false;
    }
    // The centre of toolbar cell i of 9 (or of a picker cell of count, one row lower).
    void clickCell(i32 i, i32 count = 9, i32 row = 0) {
        const UiMetrics* m = &harness.app->uiMetrics;
        Rect bar = toolbarRow(harness.ui, m);
        f32 width = (bar.x1 - bar.x0) / (f32)count;
        f32 y = (bar.y0 + bar.y1) / 2 - row * (bar.y1 - bar.y0 + m->margin);
        click(&harness, bar.x0 + width * ((f32)i + 0.5f), y);
    }
    // The two buttons at the end of list row r (counted from the panel's top).
    void clickRowButton(i32 r, i32 button) {
        const MapView* view = &host()->scroll;
        f32 t = view->textSize, gap = t / 3, w = 5 * t;
        f32 y = view->rect.y1 - view->rowHeight * ((f32)r + 0.5f);
        f32 x1 = view->rect.x1;
        f32 x = button == 1 ? x1 - gap - w / 2 : x1 - gap - w - gap - w / 2;
        click(&harness, x, y);
    }
    std::vector<std::string> files() {
        std::vector<std::string> out;
        for (auto& entry : std::filesystem::directory_iterator(exported)) {
            if (entry.path().filename().string()[0] != '.') out.push_back(entry.path().filename());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    u32 lines() { return countKmzSlots(editor()->lineUsed); }
    u32 markers() { return countKmzSlots(editor()->markerUsed); }

    ScreensHarness harness = {};
    bool started = false;
    std::string folder, exported;
};

TEST_F(KmzEditorPanels, SaveRenameLoadMergeAndDeleteThroughTheToolbarAndPanels) {
    // A drawing of two points joined by a line and one marker.
    editor()->mode = KmzModeLine;
    addKmzItemAtPosition(editor(), Vec2{0.1, 0.2});
    addKmzItemAtPosition(editor(), Vec2{0.1001, 0.2001});
    editor()->mode = KmzModeMarker;
    addKmzItemAtPosition(editor(), Vec2{0.1002, 0.2});
    ASSERT_EQ(lines(), 1u);
    ASSERT_EQ(markers(), 1u);

    // "Save" opens the export panel; "New File" writes a dated file.
    clickCell(8);
    EXPECT_EQ(host()->panel, (u32)KmzPanelSave);
    frames(&harness, 2);
    clickRowButton(0, 1);
    ASSERT_TRUE(framesUntil([&] { return files().size() == 1; })) << "no file written";
    std::string saved = files()[0];
    EXPECT_EQ(saved.substr(saved.size() - 4), ".kmz");
    ASSERT_TRUE(framesUntil([&] { return std::popcount(harness.app->exportedKmzList.used) == 1; }));

    // "Rename": a name with a "/" is refused with a message and the file stays where it was.
    clickRowButton(1, 2);
    ASSERT_EQ(host()->exportPanel.renaming, 1u);
    host()->exportPanel.editText = makeString("../elsewhere");
    clickRowButton(1, 1);
    EXPECT_NE(host()->exportPanel.message.length, 0);
    EXPECT_EQ(host()->exportPanel.renaming, 1u);
    for (i32 i = 0; i < 20; ++i) frames(&harness);
    EXPECT_EQ(files(), std::vector<std::string>{saved});
    // A plain name is taken, ".kmz" added.
    host()->exportPanel.editText = makeString("Burn block 7");
    clickRowButton(1, 1);
    EXPECT_EQ(host()->exportPanel.renaming, 0u);
    ASSERT_TRUE(framesUntil([&] { return files() == std::vector<std::string>{"Burn block 7.kmz"}; }));

    // "Clear", then "Load" of the file brings the drawing back; "Merge" adds a second copy.
    clickCell(6);
    EXPECT_EQ(lines(), 0u);
    EXPECT_EQ(markers(), 0u);
    clickCell(7);
    EXPECT_EQ(host()->panel, (u32)KmzPanelLoad);
    ASSERT_TRUE(framesUntil([&] {
        const ExportedKmzList* list = &harness.app->exportedKmzList;
        for (u32 i = 0; i < kExportedKmzEntries; ++i)
            if (((list->used >> i) & 1) && equals(list->entries[i].fileName, "Burn block 7.kmz")) return true;
        return false;
    }));
    frames(&harness, 2);
    clickRowButton(0, 2);  // "Load"
    ASSERT_TRUE(framesUntil([&] { return lines() == 1; }));
    EXPECT_EQ(markers(), 1u);
    EXPECT_STREQ(undoLabel(&editor()->history), "Load");
    clickRowButton(0, 1);  // "Merge"
    ASSERT_TRUE(framesUntil([&] { return lines() == 2; }));
    EXPECT_EQ(markers(), 2u);
    EXPECT_STREQ(undoLabel(&editor()->history), "Merge");
    // "Undo Merge" on the toolbar takes the copy away again.
    clickCell(4);
    EXPECT_EQ(lines(), 1u);
    EXPECT_STREQ(redoLabel(&editor()->history), "Merge");

    // The tools and pickers.
    clickCell(7);  // closes the Load panel
    EXPECT_EQ(host()->panel, (u32)KmzPanelNone);
    clickCell(1);  // line tool (from the marker tool): selects it
    EXPECT_EQ(editor()->mode, (u32)KmzModeLine);
    clickCell(1);  // again: the colour picker
    EXPECT_EQ(host()->panel, (u32)KmzPanelLineColor);
    clickCell(4, 7, 1);
    EXPECT_EQ(editor()->color, (u8)KmzBlue);
    clickCell(2);  // marker tool
    EXPECT_EQ(editor()->mode, (u32)KmzModeMarker);
    EXPECT_EQ(host()->panel, (u32)KmzPanelNone);
    clickCell(2);
    clickCell(3, 5, 1);
    EXPECT_EQ(editor()->markerKind, (u32)KmzMarkerSmoke);
    clickCell(0);
    clickCell(5, 8, 1);
    EXPECT_EQ(editor()->dronePathColor, 5u);
    clickCell(3);
    EXPECT_EQ(editor()->mode, (u32)KmzModeEraser);

    // "Delete" removes the file.
    clickCell(8);
    frames(&harness, 2);
    clickRowButton(1, 1);
    ASSERT_TRUE(framesUntil([&] { return files().empty(); }));
}

TEST_F(KmzEditorPanels, AKmzWithoutAKmlSaysSoInTheLoadPanel) {
    std::string archive = exported + "/readme.kmz";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import sys, zipfile; zipfile.ZipFile(sys.argv[1], 'w').writestr("
                           "'readme.txt', 'no drawing here')\" '" + archive + "'").c_str()),
              0);
    clickCell(7);
    ASSERT_TRUE(framesUntil([&] { return std::popcount(harness.app->exportedKmzList.used) == 1; }));
    frames(&harness, 2);
    clickRowButton(0, 2);  // "Load"
    harness.render.captureText = true;
    EXPECT_TRUE(framesUntil([&] { return shownText(&harness, "The .kmz holds no .kml file", true) != nullptr; }));
}

// On the Fly Screen, with the drawing tools open, map taps draw a red polyline that shows on the
// map; with them closed the drawing stays on the map but taps no longer add to it.
TEST(KmzOnTheFlyScreen, DrawingToolTapsAddPointsAndLinesThatShowOnTheMap) {
    ScreensHarness harness{};
    ASSERT_TRUE(startScreensHarness(&harness, 1280, 800));
    ScreenStack* stack = &harness.app->screenStack;
    stack->depth = 2;
    stack->screens[1] = flyScreen;
    clearScreenScratch(stack);
    moveMouseAway(&harness);
    frames(&harness, 2);
    FlyScreenState* state = (FlyScreenState*)stack->screenState;
    KmzEditor* editor = &harness.app->kmzEditor;
    editor->lineEnd = -1;
    state->openPanel = FlyPanelDrawFirst;
    frames(&harness);
    click(&harness, 500, 300);
    click(&harness, 700, 300);
    EXPECT_EQ(countKmzSlots(editor->pointUsed), 2u);
    EXPECT_EQ(countKmzSlots(editor->lineUsed), 1u);
    EXPECT_STREQ(undoLabel(&editor->history), "Add");
    moveMouseAway(&harness);
    frames(&harness, 2);
    u32 pixel = harnessPixel(&harness.render, 600, 300);
    EXPECT_GT(pixel & 0xFF, 0xA0u) << std::hex << pixel;          // the segment's red
    EXPECT_LT((pixel >> 8) & 0xFF, 0x40u) << std::hex << pixel;
    state->openPanel = 0;
    frames(&harness);
    click(&harness, 600, 500);
    EXPECT_EQ(countKmzSlots(editor->pointUsed), 2u);
    stopScreensHarness(&harness);
}

TEST(KmzRenameTarget, NamesThatWouldLeaveTheFolderAreRefused) {
    FixedString refusal;
    for (const char* bad : {"a/b", "a\\b", "..", "x..kmz", "", "tab\there"}) {
        FixedString typed = makeString(bad);
        EXPECT_EQ(kmzRenameTarget(&typed, &refusal).length, 0) << bad;
        EXPECT_NE(refusal.length, 0) << bad;
    }
    FixedString typed = makeString("Morning.KMZ");
    EXPECT_TRUE(equals(kmzRenameTarget(&typed, &refusal), "Morning.KMZ"));
    typed = makeString("Evening");
    EXPECT_TRUE(equals(kmzRenameTarget(&typed, &refusal), "Evening.kmz"));
    EXPECT_EQ(refusal.length, 0);
}

}  // namespace
