// The export as the panel runs it, frame by frame with the job ring and the file thread: a drawing of
// 1,000 labelled markers (about 18 MB, past any memory limit the export once had) is written in
// pieces and read by Python's zipfile and GDAL's OGR; two exports within one second make two files
// (without the font, the markers of a kind share one stored icon); a disk that refuses the bytes
// shows "Error saving file: disk full" and leaves no file behind.
#include <map>
#include <sstream>

#include "Core/Clock.h"
#include "Core/JobQueue.h"
#include "Core/MathEarth.h"
#include "KmzTestSupport.h"
#include "Platform/FileSystem.h"
#include "Platform/FileTestSupport.h"

namespace {

const i64 kLocalTime = calendarMsOf(2026, 3, 5, 7, 8, 9);

class KmzExportRuns : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        ASSERT_TRUE(assets.load());
        saving = (KmzExportRun*)std::calloc(1, sizeof(KmzExportRun));
    }
    void TearDown() override {
        std::free(saving);
        FileThreadFixture::TearDown();
    }
    // Frames until the export is over; returns how many it took and what it showed on the way.
    i32 framesUntilDone(std::vector<std::string>* shown = nullptr) {
        i32 frames = 0;
        for (; frames < 5000 && (saving->step != KmzExportIdle || saving->writeOut); frames++) {
            updateKmzExport(saving, &platform->fileJobs, &jobs);
            while (runNextAsyncJob(&jobs)) {
            }
            pass();
            if (shown && (shown->empty() || shown->back() != saving->message.text)) shown->push_back(saving->message.text);
        }
        pass();  // a delete queued by a failure
        return frames;
    }
    void addMarker(KmzEditor* editor, f64 longitude, f64 latitude, u32 kind) {
        GeoPoint geo{longitude, latitude};
        Vec2 at;
        latLngToMercator(&at, &geo);
        editor->markerKind = kind;
        editor->mode = KmzModeMarker;
        addKmzItemAtPosition(editor, at);
    }
    std::vector<std::string> exported() {
        std::vector<std::string> names;
        if (!std::filesystem::exists(dataFolder + "Exported Kmzs")) return names;
        for (auto& entry : std::filesystem::directory_iterator(dataFolder + "Exported Kmzs")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    Assets assets;
    JobQueue jobs{};
    KmzExportRun* saving = nullptr;
};

TEST_F(KmzExportRuns, AThousandLabelledMarkersAreWrittenInPiecesAndReadByZipfileAndOgr) {
    EditorPtr editor = newEditor();
    for (u32 i = 0; i < 1000; i++) addMarker(editor.get(), 10.000004 + (i % 40) * 0.001, 50.000004 + (i / 40) * 0.001, i % 5);
    ASSERT_EQ(countKmzSlots(editor->markerUsed), 1000u);
    ASSERT_EQ(exportKmz(saving, editor.get(), &assets.kmz, kLocalTime).length, 0);
    std::vector<std::string> shown;
    i32 frames = framesUntilDone(&shown);
    EXPECT_STREQ(saving->message.text, "Saved 2026_3_5_7_08_09.kmz");
    EXPECT_GT(frames, 100);  // a few icons a frame, never the whole archive in one
    EXPECT_NE(std::find(shown.begin(), shown.end(), "Saving 48%"), shown.end());
    ASSERT_EQ(exported(), std::vector<std::string>{"2026_3_5_7_08_09.kmz"});
    std::string path = dataFolder + "Exported Kmzs/2026_3_5_7_08_09.kmz";
    EXPECT_GT(std::filesystem::file_size(path), 10000000u);

    std::string report = run("/usr/bin/python3 " + sourcePath("Tests/KmzEditor/kmz_export_oracle.py") + " read '" + path +
                             "' " + home);
    std::istringstream lines(report);
    std::string line;
    std::map<std::string, u32> counts;
    u32 icons = 0;
    while (std::getline(lines, line)) {
        counts[line.substr(0, line.find(' '))]++;
        if (line.rfind("PNG ", 0) == 0 && line.find(" RGBA") != std::string::npos) icons++;
    }
    EXPECT_NE(report.find("ZIP ok"), std::string::npos) << report.substr(0, 2000);
    EXPECT_EQ(counts["ENTRY"], 1001u);
    EXPECT_EQ(icons, 1000u);
    EXPECT_EQ(counts["FEATURE"], 1000u);  // every placemark, as OGR reads it
    EXPECT_NE(report.find("XMLLINT 0"), std::string::npos);
}

// Two exports within one second: the second takes the name with " (2)" and leaves the first as it
// was. The second is made without the font: its markers of a kind share one stored icon.
TEST_F(KmzExportRuns, TwoExportsWithinOneSecondMakeTwoFilesAndUnlabelledIconsAreStoredOnce) {
    EditorPtr editor = newEditor();
    addMarker(editor.get(), 1.5, 2.5, KmzMarkerFire);
    ASSERT_EQ(exportKmz(saving, editor.get(), &assets.kmz, kLocalTime).length, 0);
    framesUntilDone();
    std::string first = FileThreadFixture::readWholeFile(dataFolder + "Exported Kmzs/2026_3_5_7_08_09.kmz");
    for (u32 i = 0; i < 11; i++) addMarker(editor.get(), 5.0 + i * 0.01, 6.0, i % 2 ? KmzMarkerFire : KmzMarkerFlag);
    KmzExportAssets unlabelled = assets.kmz;
    unlabelled.fontInfo = nullptr;
    ASSERT_EQ(exportKmz(saving, editor.get(), &unlabelled, kLocalTime + 400).length, 0);
    // A second press while it runs is refused.
    EXPECT_STREQ(exportKmz(saving, editor.get(), &assets.kmz, kLocalTime + 500).text, "Wait for the file being saved");
    framesUntilDone();
    EXPECT_STREQ(saving->message.text, "Saved 2026_3_5_7_08_09 (2).kmz");
    EXPECT_EQ(exported(), (std::vector<std::string>{"2026_3_5_7_08_09 (2).kmz", "2026_3_5_7_08_09.kmz"}));
    EXPECT_EQ(FileThreadFixture::readWholeFile(dataFolder + "Exported Kmzs/2026_3_5_7_08_09.kmz"), first);

    std::string path = dataFolder + "Exported Kmzs/2026_3_5_7_08_09 (2).kmz";
    std::string report = run("/usr/bin/python3 " + sourcePath("Tests/KmzEditor/kmz_export_oracle.py") + " read '" + path +
                             "' " + home);
    EXPECT_NE(report.find("ZIP ok"), std::string::npos) << report;
    EXPECT_NE(report.find("ENTRY flag_white_marker1.png 0"), std::string::npos) << report;
    EXPECT_NE(report.find("ENTRY fire_marker1.png 0"), std::string::npos) << report;
    EXPECT_EQ(report.find("marker2.png"), std::string::npos) << report;
    std::string text = FileThreadFixture::readWholeFile(path);
    size_t shared = 0;
    for (size_t at = text.find("<href>fire_marker1.png</href>"); at != std::string::npos;
         at = text.find("<href>fire_marker1.png</href>", at + 1)) {
        shared++;
    }
    EXPECT_EQ(shared, 6u);
    EXPECT_NE(text.find("<styleUrl>#fire6</styleUrl>"), std::string::npos);
}

i64 refuseAll(void*, i64, int* error) {
    *error = ENOSPC;
    return 0;
}

TEST_F(KmzExportRuns, ADiskThatRefusesTheBytesShowsWhyAndLeavesNoFile) {
    EditorPtr editor = newEditor();
    for (u32 i = 0; i < 30; i++) addMarker(editor.get(), 3.0 + i * 0.01, 4.0, KmzMarkerHeat);
    FileSystemTestHooks hooks{nullptr, refuseAll, nullptr};
    setFileSystemTestHooks(&hooks);
    ASSERT_EQ(exportKmz(saving, editor.get(), &assets.kmz, kLocalTime).length, 0);
    framesUntilDone();
    setFileSystemTestHooks(nullptr);
    EXPECT_STREQ(saving->message.text, "Error saving file: disk full");
    EXPECT_EQ(exported(), std::vector<std::string>{});
    EXPECT_EQ(saving->drawing, nullptr);
}

}  // namespace
