// "OrvikAppCache.bin": the records written and read back, the first run, rewrites on change, records
// that do not fit and truncated files, and a file that cannot be read being left alone; and the
// drop-location lists it keeps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AppState/AppState.h"
#include "Application/AppCache.h"
#include "Platform/FileTestSupport.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using AppStatePtr = std::unique_ptr<AppState, FreeDeleter>;
AppStatePtr makeApp() { return AppStatePtr((AppState*)std::calloc(1, sizeof(AppState))); }

struct Record {
    std::string name;
    u64 elementSize;
    std::string data;
};

void putU64(std::string* out, u64 value) {
    for (i32 i = 0; i < 8; i++) out->push_back((char)(value >> (8 * i)));
}

std::string record(const std::string& name, u64 elementSize, const std::string& data) {
    std::string out(1, (char)name.size());
    out += name;
    putU64(&out, elementSize);
    putU64(&out, data.size());
    return out + data;
}

// Splits a file into its records the way the format describes them.
std::vector<Record> records(const std::string& file) {
    std::vector<Record> out;
    size_t at = 0;
    while (at < file.size()) {
        u8 n = (u8)file[at];
        Record r;
        r.name = file.substr(at + 1, n);
        u64 size = 0;
        r.elementSize = 0;
        for (i32 i = 7; i >= 0; i--) r.elementSize = r.elementSize << 8 | (u8)file[at + 1 + n + i];
        for (i32 i = 7; i >= 0; i--) size = size << 8 | (u8)file[at + 9 + n + i];
        r.data = file.substr(at + 17 + n, size);
        out.push_back(r);
        at += 17 + n + size;
    }
    return out;
}

std::string writeCache(AppState* app) {
    ByteWriter measure = makeMeasuringWriter(1 << 30);
    writeAppCacheFile(app, &measure);
    std::string bytes((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(bytes.data(), measure.length);
    writeAppCacheFile(app, &fill);
    EXPECT_EQ(fill.length, measure.length);
    return bytes;
}

void fillApp(AppState* app) {
    for (i32 i = 0; i < 32; i++) app->installationId[i] = (u8)(i * 7 + 1);
    app->secureLinkClientIdentity.name = makeString("ground-station 0a0b0c0d");
    std::memcpy(app->secureLinkClientIdentity.relayPassword, "relaypw!", 8);
    app->relayHostIdentity.controllingListener = AddressRecord{14551, 4, 0, {192, 168, 1, 20}};
    std::memcpy(app->relayHostIdentity.controllingListenerPassword, "listenpw", 8);
    for (u32 i = 0; i < 3; i++) {
        addOrvikDropLocation(&app->orvikDropLocations, DropPosition{(i32)(1000 + i), -(i32)i}, 5000 + i);
    }
    addVoskDropLocation(&app->dodireruDropLocations, DropPosition{11, 12}, 7000, 1);
    addVoskDropLocation(&app->dodireruDropLocations, DropPosition{13, 14}, 7001, 0);
    addVoskDropLocation(&app->dodireruDropLocations, DropPosition{15, 16}, 7002, 1);
    std::memcpy(app->arduCopterId.idType, "\x01\x02\x03\x04", 4);
    std::memcpy(app->arduCopterId.id, "ARDU-0123456789ABCDE", 20);
}

// The bytes a row writes.
std::string rowBytes(AppState* app, const AppCacheField& row) {
    std::string bytes((size_t)cacheFieldByteCount(app, &row), '\0');
    if (row.kind != AppCacheRecord) return std::string((const char*)row.field(app), bytes.size());
    ByteWriter writer = makeByteWriter(bytes.data(), (i64)bytes.size());
    row.writeRecord(app, &writer);
    return bytes;
}

void expectSameCache(AppState* a, AppState* b) {
    for (const AppCacheField& row : appCacheFields) EXPECT_EQ(rowBytes(a, row), rowBytes(b, row)) << row.name;
}

TEST(AppCacheFile, RecordsInTableOrderReadBackWhole) {
    AppStatePtr app = makeApp();
    fillApp(app.get());
    std::string file = writeCache(app.get());
    std::vector<Record> found = records(file);
    ASSERT_EQ(found.size(), 13u);
    const char* names[] = {"Installation ID", "Device Name", "Encryption to Relay Password", "Controlling Listener IP",
                           "Encryption to Controlling Listener Password", "Orvik Drop Coordinates", "Orvik Drop Times",
                           "VOSK Drop Coordinates", "VOSK Drop Times", "VOSK Armed", "ArduCopter ID Type",
                           "ArduCopter ID", "Mission Plan"};
    for (size_t i = 0; i < 13; i++) EXPECT_EQ(found[i].name, names[i]);
    EXPECT_EQ(found[0].data.size(), 32u);
    EXPECT_EQ(found[1].data.size(), 256u);
    EXPECT_EQ(found[5].elementSize, 8u);
    EXPECT_EQ(found[5].data.size(), 24u);
    EXPECT_EQ(found[6].data.size(), 24u);
    EXPECT_EQ(found[8].data.size(), 24u);
    EXPECT_EQ(found[9].elementSize, 0u);
    ASSERT_EQ(found[9].data.size(), 32u);
    EXPECT_EQ((u8)found[9].data[0], 0x05);  // points 0 and 2 armed
    // Times little-endian.
    EXPECT_EQ((u8)found[6].data[8], (5001 & 0xff));

    AppStatePtr read = makeApp();
    u32 took[kAppCacheRowCount] = {};
    parseAppCacheFile(read.get(), (const u8*)file.data(), file.size(), took);
    for (u32 r = 0; r < kAppCacheRowCount; r++) EXPECT_EQ(took[r], 1u) << r;
    expectSameCache(app.get(), read.get());
    EXPECT_EQ(read->orvikDropLocations.count, 3u);
    EXPECT_EQ(isVoskDropArmed(&read->dodireruDropLocations, 2), 1u);
    EXPECT_EQ(isVoskDropArmed(&read->dodireruDropLocations, 1), 0u);
    // 13 headers of 17 bytes, 247 bytes of names, 484,476 bytes of fields at capacity and a plan of
    // 99 waypoints and 200 points.
    EXPECT_EQ(appCacheMaxFileSize(), 484915u + 17 + 12 + 28 + 99 * 34 + 200 * 16 + 4);
}

TEST(AppCacheFile, RecordsThatDoNotFitAreSkippedOrCut) {
    std::string positions(30001 * 8, '\x01');
    std::string times(30001 * 8, '\x02');
    std::string file = record("Orvik Drop Coordinates", 8, positions) + record("Orvik Drop Times", 8, times) +
                       record("VOSK Drop Coordinates", 8, std::string(16, '\x03')) +
                       record("VOSK Drop Times", 8, std::string(12, '\x04')) +
                       record("installation id", 0, std::string(32, '\x05')) +
                       record("ArduCopter ID", 8, std::string(24, '\x06')) +
                       record("Device Name", 0, std::string(100, 'x'));
    AppStatePtr app = makeApp();
    u32 took[kAppCacheRowCount] = {};
    parseAppCacheFile(app.get(), (const u8*)file.data(), file.size(), took);
    EXPECT_EQ(app->orvikDropLocations.count, 30000u);
    EXPECT_EQ(took[5], 1u);
    EXPECT_EQ(took[6], 1u);
    EXPECT_EQ(app->orvikDropLocations.times[29999], 0x0202020202020202ull);
    EXPECT_EQ(took[7], 1u);
    EXPECT_EQ(took[8], 0u);  // 12 bytes is not a whole number of times
    EXPECT_EQ(app->dodireruDropLocations.count, 2u);
    EXPECT_EQ(took[0], 0u);  // the name differs in case
    EXPECT_EQ(app->installationId[0], 0);
    EXPECT_EQ(took[11], 0u);  // another element size
    EXPECT_EQ(took[1], 0u);  // a whole field of another size
}

TEST(AppCacheFile, PositionsAndTimesOfDifferentLengthsKeepTheShorter) {
    std::string file = record("Orvik Drop Coordinates", 8, std::string(5 * 8, '\x01')) +
                       record("Orvik Drop Times", 8, std::string(9 * 8, '\x02'));
    AppStatePtr app = makeApp();
    u32 took[kAppCacheRowCount] = {};
    parseAppCacheFile(app.get(), (const u8*)file.data(), file.size(), took);
    EXPECT_EQ(app->orvikDropLocations.count, 5u);
}

TEST(AppCacheFile, ATruncatedFileLoadsTheWholeRecordsBeforeTheCut) {
    AppStatePtr app = makeApp();
    fillApp(app.get());
    std::string file = writeCache(app.get());
    std::vector<Record> all = records(file);
    size_t cut = 0;
    for (size_t i = 0; i < 6; i++) cut += 17 + all[i].name.size() + all[i].data.size();
    for (size_t extra : {0u, 1u, 16u, 40u}) {
        AppStatePtr read = makeApp();
        u32 took[kAppCacheRowCount] = {};
        parseAppCacheFile(read.get(), (const u8*)file.data(), cut + extra, took);
        for (u32 r = 0; r < 6; r++) EXPECT_EQ(took[r], 1u) << extra << " " << r;
        for (u32 r = 6; r < 12; r++) EXPECT_EQ(took[r], 0u) << extra << " " << r;
    }
}

class AppCacheStep : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        app = makeApp();
        cache.reset(new AppCacheState{});
    }
    i32 frame() {
        i32 loaded = updateAppCache(app.get(), cache.get(), platform);
        pass();
        return loaded;
    }
    void frames(i32 count) {
        for (i32 i = 0; i < count; i++) frame();
    }
    std::string file() { return readWholeFile(dataFolder + "OrvikAppCache.bin"); }

    AppStatePtr app;
    std::unique_ptr<AppCacheState> cache;
};

TEST_F(AppCacheStep, FirstRunWritesTheIdAndEmptyListsAtOnce) {
    app->installationId[0] = 0xAB;
    EXPECT_EQ(frame(), 0);
    EXPECT_EQ(frame(), 0);  // "File not found": loaded, nothing to expire
    frames(2);
    EXPECT_EQ(cache->loadStatus, (u32)FileStatusNotFound);
    std::vector<Record> found = records(file());
    ASSERT_EQ(found.size(), 13u);
    EXPECT_EQ((u8)found[0].data[0], 0xAB);
    EXPECT_EQ(found[5].data.size(), 0u);
    EXPECT_EQ(found[9].data, std::string(32, '\0'));
    EXPECT_EQ(cache->rewrites, 1u);
    frames(5);
    EXPECT_EQ(cache->rewrites, 1u);
}

TEST_F(AppCacheStep, LoadsStoredValuesAndRewritesOnEveryChangeOfContent) {
    AppStatePtr stored = makeApp();
    fillApp(stored.get());
    writeDataFile("OrvikAppCache.bin", writeCache(stored.get()));
    app->installationId[0] = 0x99;  // drawn on the first frame, replaced by the stored one
    frame();
    EXPECT_EQ(frame(), 1);
    EXPECT_EQ(frame(), 0);
    expectSameCache(app.get(), stored.get());
    frames(3);
    EXPECT_EQ(cache->rewrites, 0u);

    addOrvikDropLocation(&app->orvikDropLocations, DropPosition{5, 6}, 9999);
    frames(2);
    EXPECT_EQ(cache->rewrites, 1u);
    EXPECT_EQ(records(file())[5].data.size(), 32u);
    // An edited time with the same count is a change too.
    app->orvikDropLocations.times[0] = 1;
    frames(2);
    EXPECT_EQ(cache->rewrites, 2u);
    EXPECT_EQ((u8)records(file())[6].data[0], 1);
    // The armed mask is stored.
    setVoskDropArmed(&app->dodireruDropLocations, 1, 1);
    frames(2);
    EXPECT_EQ(cache->rewrites, 3u);
    EXPECT_EQ((u8)records(file())[9].data[0], 0x07);
}

TEST_F(AppCacheStep, AFileMissingRowsIsRewrittenAfterItLoads) {
    writeDataFile("OrvikAppCache.bin", record("Installation ID", 0, std::string(32, '\x42')) +
                                           record("VOSK Drop Times", 8, std::string(12, '\x04')));
    frames(4);
    EXPECT_EQ(app->installationId[31], 0x42);
    std::vector<Record> found = records(file());
    ASSERT_EQ(found.size(), 13u);
    EXPECT_EQ(found[0].data, std::string(32, '\x42'));
    EXPECT_EQ(found[8].data.size(), 0u);
}

TEST_F(AppCacheStep, AFileThatCannotBeReadIsNeverReplaced) {
    // Larger than any cache the program writes: the read fails with "File is larger than allowed".
    std::string big = record("Installation ID", 0, std::string(32, '\x42')) + std::string(600000, '\0');
    writeDataFile("OrvikAppCache.bin", big);
    addOrvikDropLocation(&app->orvikDropLocations, DropPosition{5, 6}, 9999);
    frames(3 * (i32)kAppCacheRetryFrames);
    EXPECT_EQ(cache->loaded, 0u);
    EXPECT_EQ(cache->loadStatus, (u32)FileStatusTooLarge);
    EXPECT_EQ(cache->rewrites, 0u);
    EXPECT_EQ(file(), big);
}

TEST(DropLocations, ExpiryRemovesOldPointsAndKeepsArmedBitsWithTheirPoints) {
    AppStatePtr app = makeApp();
    OrvikDropLocations* orvik = &app->orvikDropLocations;
    DodireruDropLocations* vosk = &app->dodireruDropLocations;
    const i64 now = 13000000000000;
    const i64 hour = 3600000;
    for (i32 i = 0; i < 6; i++) addOrvikDropLocation(orvik, DropPosition{i, i}, (u64)(now - (i % 2 ? 30 : 1) * hour));
    addVoskDropLocation(vosk, DropPosition{0, 0}, (u64)(now - 30 * hour), 1);
    addVoskDropLocation(vosk, DropPosition{1, 1}, (u64)(now - 1 * hour), 0);
    addVoskDropLocation(vosk, DropPosition{2, 2}, (u64)(now - 30 * hour), 0);
    addVoskDropLocation(vosk, DropPosition{3, 3}, (u64)(now - 2 * hour), 1);
    addVoskDropLocation(vosk, DropPosition{4, 4}, (u64)(now + hour), 1);

    EXPECT_EQ(expireDropLocations(orvik, vosk, 24.0, now), 5u);
    ASSERT_EQ(orvik->count, 3u);
    EXPECT_EQ(orvik->positions[0].x, 0);
    EXPECT_EQ(orvik->positions[1].x, 2);
    EXPECT_EQ(orvik->positions[2].x, 4);
    ASSERT_EQ(vosk->count, 3u);
    EXPECT_EQ(vosk->positions[0].x, 1);
    EXPECT_EQ(isVoskDropArmed(vosk, 0), 0u);
    EXPECT_EQ(vosk->positions[1].x, 3);
    EXPECT_EQ(isVoskDropArmed(vosk, 1), 1u);
    EXPECT_EQ(isVoskDropArmed(vosk, 2), 1u);
    EXPECT_EQ(isVoskDropArmed(vosk, 3), 0u);

    // A negative or unreadable persistence removes nothing; zero removes all but future points.
    EXPECT_EQ(expireDropLocations(orvik, vosk, -1.0, now), 0u);
    EXPECT_EQ(expireDropLocations(orvik, vosk, std::nan(""), now), 0u);
    EXPECT_EQ(orvik->count, 3u);
    EXPECT_EQ(expireDropLocations(orvik, vosk, 0.0, now), 5u);
    EXPECT_EQ(orvik->count, 0u);
    ASSERT_EQ(vosk->count, 1u);
    EXPECT_EQ(vosk->positions[0].x, 4);
    EXPECT_EQ(isVoskDropArmed(vosk, 0), 1u);

    removeVoskDropLocation(vosk, 0);
    EXPECT_EQ(vosk->count, 0u);
    EXPECT_EQ(vosk->armed[0], 0u);
    for (u32 i = 0; i < kMaxVoskDropLocations; i++) addVoskDropLocation(vosk, DropPosition{}, 0, i % 3 == 0);
    EXPECT_EQ(addVoskDropLocation(vosk, DropPosition{}, 0, 1), 0);
    removeVoskDropLocation(vosk, 100);
    EXPECT_EQ(isVoskDropArmed(vosk, 99), 1u);
    EXPECT_EQ(isVoskDropArmed(vosk, 100), 0u);
    EXPECT_EQ(isVoskDropArmed(vosk, 101), 1u);
    EXPECT_EQ(isVoskDropArmed(vosk, 102), 0u);
    EXPECT_EQ(vosk->count, kMaxVoskDropLocations - 1);
}

}  // namespace

namespace {

// A plan of every kind: waypoints (the first two locked on the vehicle), a transect region and a
// geofence.
void fillPlan(AppState* app) {
    WaypointMissionEditor* editor = &app->waypointMissionEditor;
    editor->referenceLongitude = 150.25;
    editor->referenceLatitude = -33.75;
    for (i32 i = 0; i < 5; i++) {
        insertWaypoint(editor, i, 0.41 + i * 1e-4, -0.09 - i * 1e-4, 40.0 + i);
        editor->waypoints[i].ignitePreviousSegment = (u32)(i % 2);
        editor->waypoints[i].uploadMark = i == 0 ? 2 : i == 1 ? 1 : 0;
        editor->waypoints[i].missionItemNumber = i < 2 ? i + 1 : 0;
    }
    for (i32 i = 0; i < 4; i++) {
        app->transectRegion.points[i] = Vec2{0.41 + (i & 1) * 1e-3, -0.09 - (i >> 1) * 1e-3};
        app->orvikGeofence.points[i] = Vec2{0.409 + (i & 1) * 3e-3, -0.089 - (i >> 1) * 3e-3};
    }
    app->transectRegion.pointCount = 4;
    app->orvikGeofence.pointCount = 4;
}

std::string planRecordOf(AppState* app) {
    for (const AppCacheField& row : appCacheFields) {
        if (row.kind == AppCacheRecord) return rowBytes(app, row);
    }
    return "";
}

// The plan is written once it has stood still for a while (a drag is not written every frame) and
// comes back whole after a restart: waypoints with their locks, transect region and geofence.
TEST_F(AppCacheStep, ThePlanIsKeptOnceItRestsAndRestoredWholeAfterARestart) {
    frames(4);  // first run: the file is written
    u32 rewrites = cache->rewrites;
    fillPlan(app.get());
    for (i32 i = 0; i < 20; i++) {
        app->waypointMissionEditor.waypoints[4].x += 1e-6;  // dragged
        frame();
    }
    EXPECT_EQ(cache->rewrites, rewrites);
    frames(40);
    EXPECT_EQ(cache->rewrites, rewrites + 1);
    std::string kept = planRecordOf(app.get());

    AppStatePtr restarted = makeApp();
    restarted->orvikGeofence.flightLogger = nullptr;
    std::swap(app, restarted);
    cache.reset(new AppCacheState{});
    frames(3);
    ASSERT_EQ(cache->loaded, 1u);
    EXPECT_STREQ(app->keptPlanNote.text, "Restored 5 waypoints (2 locked), 4 transect points and 4 geofence points");
    const WaypointMissionEditor& before = restarted->waypointMissionEditor;
    const WaypointMissionEditor& after = app->waypointMissionEditor;
    ASSERT_EQ(after.waypointCount, 5);
    EXPECT_EQ(std::memcmp(after.waypoints, before.waypoints, sizeof(Waypoint) * 5), 0);
    EXPECT_EQ(after.referenceLongitude, before.referenceLongitude);
    EXPECT_EQ(after.referenceLatitude, before.referenceLatitude);
    EXPECT_EQ(after.nextWaypointId, before.nextWaypointId);
    EXPECT_EQ(app->transectRegion.pointCount, 4);
    EXPECT_EQ(std::memcmp(app->transectRegion.points, restarted->transectRegion.points, 4 * sizeof(Vec2)), 0);
    EXPECT_EQ(app->orvikGeofence.pointCount, 4);
    EXPECT_EQ(std::memcmp(app->orvikGeofence.points, restarted->orvikGeofence.points, 4 * sizeof(Vec2)), 0);
    // Every new log starts with the restored geofence.
    EXPECT_EQ(app->orvikGeofence.logEntry.type, (u32)FlightLogGeofenceChanged);
    EXPECT_EQ(planRecordOf(app.get()), kept);
    frames(40);
    EXPECT_EQ(cache->rewrites, 0u);  // restored as kept: nothing to write
}

// An empty or damaged plan record restores nothing, says why (for the debug report) and leaves the
// plan as it was.
TEST(AppCacheFile, AnEmptyOrDamagedPlanRecordRestoresNothingAndSaysWhy) {
    AppStatePtr source = makeApp();
    fillPlan(source.get());
    std::string plan = planRecordOf(source.get());
    std::string flipped = plan;
    flipped[40] ^= 0x10;
    std::string shortened = plan.substr(0, plan.size() - 34);
    struct Case {
        std::string bytes;
        const char* why;
    } cases[] = {
        {"", "nothing restored: the record is empty"},
        {flipped, "nothing restored: its checksum does not match"},
        {shortened, "nothing restored: its length does not match its counts (296 bytes)"},
        {std::string(plan.size(), '\0'), "nothing restored: the record is not a plan"},
    };
    for (const Case& c : cases) {
        AppStatePtr app = makeApp();
        u32 took[kAppCacheRowCount] = {};
        std::string file = record("Mission Plan", 0, c.bytes);
        parseAppCacheFile(app.get(), (const u8*)file.data(), file.size(), took);
        EXPECT_STREQ(app->keptPlanNote.text, c.why);
        EXPECT_EQ(app->waypointMissionEditor.waypointCount, 0);
        EXPECT_EQ(app->transectRegion.pointCount, 0);
        EXPECT_EQ(app->orvikGeofence.pointCount, 0);
    }
}

// A file with two plan records (one written over another's place, or joined by hand): the first is
// restored and the note says what it restored, whatever the second holds.
TEST(AppCacheFile, ASecondPlanRecordNeitherReplacesTheFirstNorItsNote) {
    AppStatePtr source = makeApp();
    fillPlan(source.get());
    std::string plan = planRecordOf(source.get());
    for (const std::string& second : {std::string(), std::string(plan.size(), '\0'), plan}) {
        AppStatePtr app = makeApp();
        u32 took[kAppCacheRowCount] = {};
        std::string file = record("Mission Plan", 0, plan) + record("Mission Plan", 0, second);
        parseAppCacheFile(app.get(), (const u8*)file.data(), file.size(), took);
        EXPECT_STREQ(app->keptPlanNote.text, "Restored 5 waypoints (2 locked), 4 transect points and 4 geofence points");
        EXPECT_EQ(app->waypointMissionEditor.waypointCount, 5);
        EXPECT_EQ(planRecordOf(app.get()), plan);
    }
}

}  // namespace
