// The exported-KMZ list over a temporary "Exported Kmzs" folder, the file thread run pass by pass
// and the clock and time zone in the test's hands: files come and go, each gets its local date, a
// file that is not a ".kmz" keeps the extension text, and the rows come newest first.
#include <utime.h>

#include <filesystem>
#include <functional>
#include <map>

#include "KmzEditor/ExportedKmzList.h"
#include "Platform/FileTables.h"
#include "Platform/FileTestSupport.h"

namespace {

constexpr i64 kFrame = 16667;

class ExportedKmzListTest : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        list = (ExportedKmzList*)std::calloc(1, sizeof(ExportedKmzList));
        folder = dataFolder + "Exported Kmzs/";
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        if (list->listing) releaseFileReadRequest(list->listing, &platform->fileReads);
        if (list->entryRead) releaseFileReadRequest(list->entryRead, &platform->fileReads);
        pass();
        std::free(list);
        FileThreadFixture::TearDown();
    }
    void frame() {
        updateExportedKmzList(list, &platform->fileReads, nullptr, now, timeZone);
        pass();
        now += kFrame;
    }
    bool framesUntil(const std::function<bool()>& done, i32 limit = 400) {
        for (i32 i = 0; i < limit; ++i) {
            if (done()) return true;
            frame();
        }
        return done();
    }
    // A file with its modification time in Unix seconds.
    void place(const std::string& name, i64 unixSeconds) {
        writeFile(folder + name, "PK not really an archive");
        utimbuf times{(time_t)unixSeconds, (time_t)unixSeconds};
        ASSERT_EQ(utime((folder + name).c_str(), &times), 0);
    }
    std::map<std::string, std::string> rows() {
        std::map<std::string, std::string> out;
        for (u32 i = 0; i < kExportedKmzEntries; ++i) {
            if ((list->used >> i) & 1) out[list->entries[i].fileName.text] = list->entries[i].subtitle.text;
        }
        return out;
    }
    std::vector<std::string> order() {
        u32 indexes[kExportedKmzEntries];
        u32 count = sortedExportedKmzEntries(list, indexes);
        std::vector<std::string> out;
        for (u32 i = 0; i < count; ++i) out.push_back(list->entries[indexes[i]].fileName.text);
        return out;
    }

    ExportedKmzList* list = nullptr;
    std::string folder;
    i64 now = 5000000;
    i64 timeZone = 2 * 3600 * 1000;  // UTC+2
};

// 2026-03-05 07:08:09 UTC and a day and some later.
constexpr i64 kMarch5 = 1772694489;
constexpr i64 kMarch6 = kMarch5 + 86400 + 3600 * 20 + 60 * 55;

TEST_F(ExportedKmzListTest, FilesComeAndGoWithTheirLocalDatesNewestFirst) {
    place("2026_3_5_9_08_09.kmz", kMarch5);
    place("Drawing.KMZ", kMarch6);
    place("notes.kml", kMarch5 - 60);
    ASSERT_TRUE(framesUntil([&] { return rows().size() == 3; }));
    std::map<std::string, std::string> expected = {
        {"2026_3_5_9_08_09.kmz", "2026-3-5   9:08"},
        {"Drawing.KMZ", "2026-3-7   6:03"},  // 7 March 04:03 UTC
        {"notes.kml", "Unrecognized file extension. (Should be .kmz)."},
    };
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(order(), (std::vector<std::string>{"Drawing.KMZ", "2026_3_5_9_08_09.kmz", "notes.kml"}));

    // Each file was read once; with nothing new, no read is asked for while the listing is renewed.
    u32 ids = list->nextId;
    for (i32 i = 0; i < 200; ++i) frame();  // over three seconds: several listings
    EXPECT_EQ(list->nextId, ids);
    EXPECT_EQ(rows().size(), 3u);

    // A file that leaves the folder loses its row within about a second; a new one arrives.
    std::filesystem::remove(folder + "notes.kml");
    place("later.kmz", kMarch6 + 60);
    i64 removedAt = now;
    ASSERT_TRUE(framesUntil([&] { return rows().size() == 3 && rows().count("later.kmz"); }));
    EXPECT_FALSE(rows().count("notes.kml"));
    EXPECT_LE(now - removedAt, 2 * kExportedKmzListingMicros + 10 * kFrame);
    EXPECT_EQ(order().front(), "later.kmz");

    // A refresh lists the folder again at once, without waiting for the second to pass.
    std::filesystem::remove(folder + "later.kmz");
    for (i32 i = 0; i < 3; ++i) frame();
    list->refresh = 2;
    i64 refreshedAt = now;
    ASSERT_TRUE(framesUntil([&] { return !rows().count("later.kmz"); }));
    EXPECT_LT(now - refreshedAt, kExportedKmzListingMicros / 2);
}

TEST_F(ExportedKmzListTest, TheTimeZoneDecidesTheDateText) {
    EXPECT_EQ(std::string(exportedKmzDateText((u64)kMarch5 * 1000, 0).text), "2026-3-5   7:08");
    EXPECT_EQ(std::string(exportedKmzDateText((u64)kMarch5 * 1000, -8 * 3600 * 1000).text), "2026-3-4   23:08");
    EXPECT_EQ(std::string(exportedKmzDateText((u64)(kMarch5 - 8 * 60) * 1000, 0).text), "2026-3-5   7:00");
}

}  // namespace
