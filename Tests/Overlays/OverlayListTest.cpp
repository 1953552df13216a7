// The overlay list over a real "Overlays" folder through the file thread's passes, with the clock in
// the test's hands and the local time zone set: what it shows for each file (names, subtitles with the
// local date and minutes, pages, previews) equals what an independent python reader of the same files
// shows; added, replaced and removed files are followed within about a second (a folder that has
// gone lists nothing); a failed read is tried again after 2 seconds; the 65th file is never shown
// (nor read) while 64 are listed.
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "Core/ImageSlots.h"
#include "OverlayTestSupport.h"
#include "Overlays/OverlayList.h"
#include "Platform/FileTestSupport.h"

namespace {

constexpr u64 kFrameMicroseconds = 50000;

struct ExpectedEntry {
    u32 kind;
    std::string display, subtitle;
    u64 header;
    u32 width, height;
    std::string rgb;  // hex, rows aligned to 4
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

std::string hexOf(const u8* bytes, u64 count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (u64 i = 0; i < count; i++) text += std::string{digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return text;
}

std::string textOf(const FixedString& s) { return std::string(s.text, s.length); }

class OverlayListTest : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        if (const char* zone = std::getenv("TZ")) savedZone = zone, hadZone = true;
        // Half an hour off the whole hours, no daylight saving: minutes and hours both move.
        setenv("TZ", "Asia/Kolkata", 1);
        tzset();
        list = makeZeroed<OverlayList>();
        slots = makeZeroed<ImageSlotTable>();
        scratch.resize(1 << 20);
        folder = dataFolder + "Overlays/";
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        releaseOverlayList(list.get(), &platform->fileReads, slots.get());
        pass();
        if (hadZone) setenv("TZ", savedZone.c_str(), 1); else unsetenv("TZ");
        tzset();
        FileThreadFixture::TearDown();
    }

    void frame() {
        updateOverlayList(list.get(), &platform->fileReads, slots.get(), scratch.data(), scratch.size(), now);
        pass();
        now += kFrameMicroseconds;
    }
    template <typename Condition>
    bool framesUntil(Condition condition, u64 limitMicroseconds) {
        u64 end = now + limitMicroseconds;
        while (now <= end) {
            frame();
            if (condition()) return true;
        }
        return false;
    }

    const OverlayListEntry* entryNamed(const std::string& name) {
        for (u32 i = 0; i < kOverlayListEntries; i++) {
            if ((list->used >> i & 1) && textOf(list->entries[i].fileName) == name) return &list->entries[i];
        }
        return nullptr;
    }
    u32 usedCount() { return (u32)std::popcount(list->used); }

    void writeCache(const std::string& name, const std::string& message) {
        std::string bytes(36, '\0');
        bytes[0] = 0x42;
        bytes += (char)message.size();
        bytes += message;
        writeFile(folder + name, bytes);
    }

    HeapPtr<OverlayList> list;
    HeapPtr<ImageSlotTable> slots;
    std::vector<u8> scratch;
    std::string folder;
    u64 now = 10000000;
    std::string savedZone;
    bool hadZone = false;
};

TEST_F(OverlayListTest, EachFileIsShownAsAnIndependentReaderOfItsBytesShowsIt) {
    std::string out = runCommandOutput("/usr/bin/python3 " + overlayTestScript("overlay_list_folder.py") + " make '" +
                                       folder + "' 2>&1");
    std::map<std::string, ExpectedEntry> expected;
    for (const std::string& line : split(out, '\n')) {
        std::vector<std::string> f = split(line, '\t');
        ASSERT_EQ(f.size(), 8u) << out;
        expected[f[0]] = ExpectedEntry{(u32)std::stoul(f[1]), f[2], f[3], std::stoull(f[4]), (u32)std::stoul(f[5]),
                                       (u32)std::stoul(f[6]), f[7]};
    }
    ASSERT_EQ(expected.size(), 18u) << out;
    ASSERT_TRUE(framesUntil([&] { return usedCount() == expected.size(); }, 10000000));
    u32 previews = 0;
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        const OverlayListEntry* entry = entryNamed(name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->kind, want.kind);
        EXPECT_EQ(textOf(entry->displayName), want.display);
        EXPECT_EQ(textOf(entry->subtitle), want.subtitle);
        EXPECT_EQ(entry->cacheHeader, want.header);
        EXPECT_EQ(entry->previewWidth, want.width);
        EXPECT_EQ(entry->previewHeight, want.height);
        if (want.rgb != "-") {
            previews++;
            u64 stride = ((u64)want.width * 3 + 3) / 4 * 4;
            EXPECT_EQ(hexOf(entry->previewPixels, stride * want.height), want.rgb);
            const ImageSlot* slot = getImageSlot(slots.get(), (i32)entry->previewSlot);
            ASSERT_NE(slot, nullptr);
            EXPECT_EQ(slot->pixels, entry->previewPixels);
            EXPECT_EQ(slot->width, want.width);
        } else {
            EXPECT_EQ(entry->previewSlot, 0u);
        }
    }
    EXPECT_EQ(previews, 2u);
    // Nothing is read again while the files stay as they are.
    for (i32 i = 0; i < 60; i++) {
        frame();
        EXPECT_EQ(list->entryRead, nullptr);
    }
    EXPECT_EQ(usedCount(), expected.size());
}

TEST_F(OverlayListTest, AddedReplacedAndRemovedFilesAreFollowedWithinASecond) {
    writeCache("A.kmlbin", "");
    ASSERT_TRUE(framesUntil([&] { return entryNamed("A.kmlbin") != nullptr; }, 2000000));
    u32 firstId = entryNamed("A.kmlbin")->id;

    writeCache("B.kmzbin", "");
    ASSERT_TRUE(framesUntil([&] { return entryNamed("B.kmzbin") != nullptr; }, 1200000));

    // Written anew with a message, a minute later: the entry is read again.
    writeCache("A.kmlbin", "2 polygons were cut");
    auto later = std::filesystem::last_write_time(folder + "A.kmlbin") + std::chrono::minutes(1);
    std::filesystem::last_write_time(folder + "A.kmlbin", later);
    ASSERT_TRUE(framesUntil(
        [&] {
            const OverlayListEntry* a = entryNamed("A.kmlbin");
            return a && a->id != firstId;
        },
        1200000));
    EXPECT_EQ(textOf(entryNamed("A.kmlbin")->subtitle).rfind("2 polygons were cut   ", 0), 0u);

    std::filesystem::remove(folder + "B.kmzbin");
    ASSERT_TRUE(framesUntil([&] { return entryNamed("B.kmzbin") == nullptr; }, 1200000));
    EXPECT_NE(entryNamed("A.kmlbin"), nullptr);

    // With the folder gone, so are its files.
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(framesUntil([&] { return list->used == 0; }, 1200000));
}

TEST_F(OverlayListTest, AFailedReadIsTriedAgainAfterTwoSeconds) {
    std::string path = folder + "Big.kmlbin";
    writeFile(path, "");
    std::filesystem::resize_file(path, kOverlayListReadMaxBytes + 1);  // sparse
    ASSERT_TRUE(framesUntil([&] { return entryNamed("Big.kmlbin") != nullptr; }, 2000000));
    EXPECT_EQ(entryNamed("Big.kmlbin")->kind, (u32)OverlayListUnusable);
    EXPECT_EQ(textOf(entryNamed("Big.kmlbin")->subtitle), textOf(fileStatusString(FileStatusTooLarge)));
    u64 failedAt = now;

    writeCache("Big.kmlbin", "");
    while (now < failedAt + 1900000) {
        frame();
        ASSERT_NE(entryNamed("Big.kmlbin"), nullptr);
        ASSERT_EQ(entryNamed("Big.kmlbin")->kind, (u32)OverlayListUnusable);
    }
    ASSERT_TRUE(framesUntil(
        [&] {
            const OverlayListEntry* big = entryNamed("Big.kmlbin");
            return big && big->kind == OverlayListVectorOverlay;
        },
        600000));
}

TEST_F(OverlayListTest, TheSixtyFifthFileIsNeitherShownNorReadWhileSixtyFourAre) {
    for (i32 i = 0; i < 65; i++) writeCache("Overlay" + std::to_string(i) + ".kmlbin", "");
    ASSERT_TRUE(framesUntil([&] { return usedCount() == 64; }, 20000000));
    std::set<u32> ids;
    for (const OverlayListEntry& entry : list->entries) ids.insert(entry.id);
    for (i32 i = 0; i < 60; i++) {
        frame();
        ASSERT_EQ(list->entryRead, nullptr);
    }
    std::set<u32> after;
    for (const OverlayListEntry& entry : list->entries) after.insert(entry.id);
    EXPECT_EQ(after, ids);
    std::string missing;
    for (i32 i = 0; i < 65; i++) {
        std::string name = "Overlay" + std::to_string(i) + ".kmlbin";
        if (!entryNamed(name)) missing = name;
    }
    ASSERT_FALSE(missing.empty());
    // Once a file goes, the one left out comes in.
    std::string gone = missing == "Overlay0.kmlbin" ? "Overlay1.kmlbin" : "Overlay0.kmlbin";
    std::filesystem::remove(folder + gone);
    ASSERT_TRUE(framesUntil([&] { return entryNamed(missing) != nullptr; }, 2500000));
    EXPECT_EQ(entryNamed(gone), nullptr);
}

TEST(OverlayListOrder, NewestFirstAndEqualTimesInEntryOrder) {
    auto list = makeZeroed<OverlayList>();
    const i64 keys[] = {5, 9, 5, 1, 9};
    for (u32 i = 0; i < 5; i++) list->entries[i * 3].sortKey = keys[i];
    for (u32 i = 0; i < 5; i++) list->used |= 1ull << (i * 3);
    u8 order[kOverlayListEntries];
    ASSERT_EQ(sortedOverlayListEntries(list.get(), order), 5u);
    const u8 want[] = {3, 12, 0, 6, 9};
    EXPECT_EQ(std::memcmp(order, want, 5), 0);
}

}  // namespace
