// The missions dialog in real frames of the screen runner, with the file thread's pass before each
// frame over a temporary data folder: the operator saves under a typed name, picks the file, loads,
// renames and deletes it by pressing rows.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "Core/MathEarth.h"
#include "Mission/MissionFiles.h"
#include "Platform/SystemInfo.h"
#include "SourceCommon/UserInterface/UiTestSupport.h"

namespace {

constexpr i32 kWidth = 1000, kHeight = 1400;

struct DialogState {
    WaypointMissionEditor editor;
    TransectRegion transect;
    OrvikGeofence geofence;
    Preferences preferences;
    MissionList list;
    MapView scroll;
    i32 selectedRow;
    FixedString editText;
    FileReadRequest* pending;
};
DialogState* dialog = nullptr;

void dialogScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState*, ScreenResult*, void*) {
    updateMissionList(&dialog->list, &platform->fileReads);
    FixedString loaded = applyLoadedMission(&dialog->pending, &dialog->editor, &dialog->transect, &dialog->geofence,
                                            nullptr, &dialog->preferences, &platform->fileReads);
    if (loaded.length) dialog->list.message = loaded;
    Rect panel = {0, (f32)kWidth, 0, (f32)kHeight};
    MissionPlanView plan = editedMissionPlan(&dialog->editor, &dialog->transect, &dialog->geofence);
    drawMissionFilesDialog(40, 8, 60, platform, stack, ui, &stack->runner.textFocus, &dialog->preferences, &plan,
                           &dialog->list, &dialog->scroll,
                           &dialog->selectedRow, &dialog->editText, panel, &dialog->pending);
}

class MissionFilesDialog : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-missions-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        std::filesystem::create_directory(home + "/Documents");
        if (const char* value = std::getenv("HOME")) savedHome = value;
        setenv("HOME", home.c_str(), 1);
        state = std::make_unique<DialogState>();
        dialog = state.get();
        dialog->scroll = makeScrollView(WidgetId{1, "missions dialog"});
        dialog->selectedRow = -1;
        ASSERT_TRUE(startScreenHarness(&harness, kWidth, kHeight, dialogScreen));
        readDataFolder(harness.render.platform);
        folder = home + "/Documents/Tarnwick/Missions/";
        ASSERT_TRUE(waitForFont(&harness));
        screenFrame(&harness, 3);
    }
    void TearDown() override {
        stopScreenHarness(&harness);
        dialog = nullptr;
        if (!savedHome.empty()) setenv("HOME", savedHome.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    }
    // Rows are one row height each from the top while none is open.
    void pressRow(i32 row) {
        f32 height = dialog->scroll.rowHeight;
        mouseClick(&harness, kWidth / 2.0f, kHeight - (row + 0.5f) * height);
        screenFrame(&harness, 3);
    }
    // The on-screen keyboard's Done.
    void done() {
        InputState* input = &harness.render.platform->input;
        input->events[input->eventCount++] = KeyEventDone;
        screenFrame(&harness);
    }
    void type(const char* text) {
        for (const char* c = text; *c; c++) keyTap(&harness, *c >= 'a' && *c <= 'z' ? *c - 32 : *c);
    }

    ScreenHarness harness{};
    std::unique_ptr<DialogState> state;
    std::string home, savedHome, folder;
};

TEST_F(MissionFilesDialog, OperatorSavesLoadsRenamesAndDeletesByPressingRows) {
    Vec2 points[] = {{0.1, 0.2}, {0.1001, 0.2}, {0.1001, 0.2001}};
    for (Vec2 p : points) addGeofencePoint(&dialog->geofence, p);
    ASSERT_TRUE(insertWaypoint(&dialog->editor, 0, 0.1, 0.2, 75));
    EXPECT_TRUE(dialog->list.listed);
    EXPECT_EQ(dialog->list.count, 0);

    // Row 0 is "Save": it opens a name field; Enter saves.
    pressRow(0);
    type("ridge");
    done();
    screenFrame(&harness, 6);
    EXPECT_STREQ(dialog->list.message.text, "Saved ridge.csv");
    ASSERT_EQ(dialog->list.count, 1);
    EXPECT_STREQ(dialog->list.entries[0].name.text, "ridge.csv");
    EXPECT_TRUE(std::filesystem::exists(folder + "ridge.csv"));

    // The plan changes; loading the file brings the saved one back, and undo the changed one.
    insertWaypoint(&dialog->editor, 1, 0.1002, 0.2, 75);
    dialog->geofence.pointCount = 0;
    pressRow(2);  // the file, under "Save" and the message
    EXPECT_EQ(dialog->selectedRow, 0);
    pressRow(3);  // "Load"
    screenFrame(&harness, 3);
    EXPECT_STREQ(dialog->list.message.text, "Loaded ridge.csv");
    EXPECT_EQ(dialog->editor.waypointCount, 1);
    EXPECT_EQ(dialog->geofence.pointCount, 3);
    EXPECT_NEAR(dialog->geofence.points[2].y, 0.2001, 1e-11);

    // "Rename" opens a field under the file's row.
    pressRow(4);
    type("east");
    done();
    screenFrame(&harness, 6);
    EXPECT_STREQ(dialog->list.message.text, "Renamed ridge.csv to east.csv");
    ASSERT_EQ(dialog->list.count, 1);
    EXPECT_STREQ(dialog->list.entries[0].name.text, "east.csv");
    EXPECT_FALSE(std::filesystem::exists(folder + "ridge.csv"));

    // "Delete" asks for a second press.
    pressRow(5);
    EXPECT_TRUE(std::filesystem::exists(folder + "east.csv"));
    pressRow(5);
    screenFrame(&harness, 6);
    EXPECT_STREQ(dialog->list.message.text, "Deleted east.csv");
    EXPECT_EQ(dialog->list.count, 0);
    EXPECT_FALSE(std::filesystem::exists(folder + "east.csv"));

    // A name that would leave the folder is refused and nothing is written.
    pressRow(0);
    keyTap(&harness, 190);  // "."
    keyTap(&harness, 190);
    type("x");
    done();
    screenFrame(&harness, 4);
    EXPECT_STREQ(dialog->list.message.text, "A mission name can't contain ..");
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
