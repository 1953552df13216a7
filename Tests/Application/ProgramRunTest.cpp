// The real program run twice in a temporary HOME on the test display: the first run creates the data
// folder and the app cache; the second loads what the first stored (and what the test added to it)
// and keeps it: the installation id, the relay identities, the drop locations with their armed
// mask, the plan and the preferences. Each run is cut off from every network but its own loopback.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Core/Clock.h"
#include "Mission/MissionPlanRecord.h"

namespace {

struct Record {
    std::string name;
    u64 elementSize;
    std::string data;
};

u64 readU64(const std::string& bytes, size_t at) {
    u64 value = 0;
    for (i32 i = 7; i >= 0; i--) value = value << 8 | (u8)bytes[at + i];
    return value;
}

void putU64(std::string* out, u64 value) {
    for (i32 i = 0; i < 8; i++) out->push_back((char)(value >> (8 * i)));
}

std::vector<Record> readRecords(const std::string& file) {
    std::vector<Record> out;
    size_t at = 0;
    while (at < file.size()) {
        u8 n = (u8)file[at];
        Record r{file.substr(at + 1, n), readU64(file, at + 1 + n), ""};
        u64 size = readU64(file, at + 9 + n);
        r.data = file.substr(at + 17 + n, size);
        out.push_back(r);
        at += 17 + n + size;
    }
    return out;
}

std::string writeRecords(const std::vector<Record>& records) {
    std::string out;
    for (const Record& r : records) {
        out.push_back((char)r.name.size());
        out += r.name;
        putU64(&out, r.elementSize);
        putU64(&out, r.data.size());
        out += r.data;
    }
    return out;
}

const Record* find(const std::vector<Record>& records, const std::string& name) {
    for (const Record& r : records) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A plan record of three waypoints (the first locked on the vehicle), three transect points and a
// four-point geofence.
std::string planBytes() {
    struct Plan {
        WaypointMissionEditor editor;
        TransectRegion transect;
        OrvikGeofence geofence;
    };
    Plan* plan = (Plan*)std::calloc(1, sizeof(Plan));
    plan->editor.referenceLongitude = 8.5;
    plan->editor.referenceLatitude = 47.25;
    for (i32 i = 0; i < 3; i++) {
        insertWaypoint(&plan->editor, i, 0.0236 + i * 1e-4, -0.3 + i * 1e-4, 30.0 + 5 * i);
    }
    plan->editor.waypoints[0].uploadMark = 2;
    plan->editor.waypoints[0].missionItemNumber = 1;
    for (i32 i = 0; i < 4; i++) plan->geofence.points[i] = Vec2{0.0235 + (i & 1) * 5e-4, -0.3 + (i >> 1) * 5e-4};
    plan->geofence.pointCount = 4;
    for (i32 i = 0; i < 3; i++) plan->transect.points[i] = Vec2{0.0236 + i * 2e-4, -0.2999 + (i & 1) * 2e-4};
    plan->transect.pointCount = 3;
    ByteWriter measure = makeMeasuringWriter();
    writePlanRecord(&plan->editor, &plan->transect, &plan->geofence, &measure);
    std::string bytes((size_t)measure.length, '\0');
    ByteWriter writer = makeByteWriter(bytes.data(), measure.length);
    writePlanRecord(&plan->editor, &plan->transect, &plan->geofence, &writer);
    std::free(plan);
    return bytes;
}

std::string u64Bytes(u64 value) {
    std::string out;
    putU64(&out, value);
    return out;
}

class ProgramRuns : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !display[0]) GTEST_SKIP() << "no display";
        // A network namespace of its own keeps the program's DNS look-ups off every real network.
        if (std::system("unshare -n true > /dev/null 2>&1") != 0) GTEST_SKIP() << "no network namespace";
        char pattern[] = "/tmp/orvik-runs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        std::filesystem::create_directory(home + "/Documents");
        dataFolder = home + "/Documents/Tarnwick/";
    }
    void TearDown() override {
        std::error_code ignored;
        if (!home.empty()) std::filesystem::remove_all(home, ignored);
    }
    // Runs the program for a number of frames; returns its output.
    std::string run(i32 frames) {
        std::string command = "env -u XDG_CONFIG_HOME HOME='" + home + "' ORVIK_EXIT_AFTER_FRAMES=" +
                              std::to_string(frames) + " SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0" +
                              " unshare -n '" + ORVIK_BINARY_DIR + "/orvik' 2>&1";
        FILE* program = popen(command.c_str(), "r");
        EXPECT_NE(program, nullptr);
        if (!program) return "";
        std::string output;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof(buffer), program)) > 0) output.append(buffer, got);
        int status = pclose(program);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        return output;
    }
    std::string home;
    std::string dataFolder;
};

TEST_F(ProgramRuns, TheSecondRunKeepsWhatTheFirstStoredAndWhatWasAdded) {
    std::string output = run(40);
    std::string cachePath = dataFolder + "OrvikAppCache.bin";
    ASSERT_TRUE(std::filesystem::exists(cachePath)) << output;
    std::vector<Record> first = readRecords(readFile(cachePath));
    ASSERT_EQ(first.size(), 13u);
    const Record* id = find(first, "Installation ID");
    ASSERT_NE(id, nullptr);
    EXPECT_NE(id->data, std::string(32, '\0'));
    const Record* name = find(first, "Device Name");
    ASSERT_NE(name, nullptr);
    ASSERT_EQ(name->data.size(), 256u);
    EXPECT_GE((u8)name->data[0], 9);  // "<product> " and 8 hex digits
    std::string listenerPassword = find(first, "Encryption to Controlling Listener Password")->data;
    EXPECT_EQ(find(first, "Orvik Drop Coordinates")->data.size(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dataFolder + "Preferences.txt"));  // nothing changed yet

    // Between the runs: three Orvik drops (one older than the 24-hour persistence), two VOSK drops
    // with the second armed, a relay password, a plan; the ArduCopter records are left out, so the
    // second run rewrites the file from what it loaded. And a preferences file.
    std::string plan = planBytes();
    i64 now = currentTimeMilliseconds();
    const i64 hour = 3600000;
    std::vector<Record> edited;
    for (const Record& r : first) {
        Record copy = r;
        if (r.name == "Orvik Drop Coordinates") copy.data = u64Bytes(0x1111) + u64Bytes(0x2222) + u64Bytes(0x3333);
        if (r.name == "Orvik Drop Times") {
            copy.data = u64Bytes(now - hour) + u64Bytes(now - 48 * hour) + u64Bytes(now - 2 * hour);
        }
        if (r.name == "VOSK Drop Coordinates") copy.data = u64Bytes(0x4444) + u64Bytes(0x5555);
        if (r.name == "VOSK Drop Times") copy.data = u64Bytes(now - hour) + u64Bytes(now - hour);
        if (r.name == "VOSK Armed") copy.data[0] = 0x02;
        if (r.name == "Encryption to Relay Password") copy.data = "secret!!";
        if (r.name == "Mission Plan") copy.data = plan;
        if (r.name.rfind("ArduCopter", 0) == 0) continue;
        edited.push_back(copy);
    }
    std::ofstream(cachePath, std::ios::binary) << writeRecords(edited);
    std::ofstream(dataFolder + "Preferences.txt") << "Units: Nautical (kn)\nMax number of waypoints to upload: 0\n";

    // The debug report is written on the first frame, before the app cache has loaded, and again every
    // second: 300 paced frames last five seconds at least, so a report after the load is there even
    // when a loaded machine is slow to read the cache.
    output = run(300);
    std::vector<Record> second = readRecords(readFile(cachePath));
    ASSERT_EQ(second.size(), 13u) << output;
    EXPECT_EQ(find(second, "Installation ID")->data, id->data);
    EXPECT_EQ(find(second, "Device Name")->data, name->data);
    EXPECT_EQ(find(second, "Encryption to Controlling Listener Password")->data, listenerPassword);
    EXPECT_EQ(find(second, "Encryption to Relay Password")->data, "secret!!");
    EXPECT_EQ(find(second, "Orvik Drop Coordinates")->data, u64Bytes(0x1111) + u64Bytes(0x3333));
    EXPECT_EQ(find(second, "Orvik Drop Times")->data, u64Bytes(now - hour) + u64Bytes(now - 2 * hour));
    EXPECT_EQ(find(second, "VOSK Drop Coordinates")->data, u64Bytes(0x4444) + u64Bytes(0x5555));
    EXPECT_EQ((u8)find(second, "VOSK Armed")->data[0], 0x02);
    EXPECT_EQ(find(second, "ArduCopter ID")->data.size(), 20u);
    // The plan came back whole: restored, and written again as it was kept.
    EXPECT_EQ(find(second, "Mission Plan")->data, plan);
    EXPECT_NE(readFile(dataFolder + "Debug/DebugReport.txt")
                  .find("Plan in the app cache: Restored 3 waypoints (1 locked), 3 transect points and 4 geofence points\n"),
              std::string::npos);

    std::string preferences = readFile(dataFolder + "Preferences.txt");
    EXPECT_NE(preferences.find(std::string(45, ' ') + "Units: Nautical (kn)\n"), std::string::npos) << preferences;
    EXPECT_NE(preferences.find("Max number of waypoints to upload: 1\n"), std::string::npos) << preferences;
}

}  // namespace
