// "Preferences.txt": the field table, the text written and read back, hand-written files with odd
// spacing, case, unknown keys and bad values, and the per-frame step against the real file thread:
// first run, loading, saving on change, bindings by controller, and files that must not be
// overwritten.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "Application/PreferencesFile.h"
#include "Platform/FileTestSupport.h"
#include "Platform/Platform.h"

namespace {

std::string writeText(const Preferences* preferences) {
    ByteWriter measure = makeMeasuringWriter();
    writePreferencesText(preferences, &measure);
    std::string text((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(text.data(), measure.length);
    writePreferencesText(preferences, &fill);
    EXPECT_EQ(fill.length, measure.length);
    EXPECT_FALSE(fill.overflow);
    return text;
}

void parseText(Preferences* preferences, const std::string& text) {
    parsePreferencesText(preferences, (const u8*)text.data(), (i64)text.size());
}

std::unique_ptr<Preferences> defaults(u32 controllerKind = 0) {
    std::unique_ptr<Preferences> p(new Preferences{});
    setDefaultPreferences(p.get(), controllerKind);
    return p;
}

// Field-by-field equality through the table (texts by their length and bytes).
void expectSameValues(const Preferences* a, const Preferences* b, std::set<std::string> except = {}) {
    for (const PreferenceField& row : preferenceFields) {
        if (except.count(row.key)) continue;
        const u8* x = (const u8*)a + row.offset;
        const u8* y = (const u8*)b + row.offset;
        if (row.size == PreferenceText) {
            const FixedString* s = (const FixedString*)x;
            const FixedString* t = (const FixedString*)y;
            EXPECT_EQ(std::string(s->text, s->length), std::string(t->text, t->length)) << row.key;
        } else {
            EXPECT_EQ(std::memcmp(x, y, row.size), 0) << row.key;
        }
    }
}

std::string lineOf(const std::string& text, const std::string& key) {
    size_t at = text.find(key + ": ");
    if (at == std::string::npos) return "";
    size_t start = text.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, text.find('\n', at) - start);
}

TEST(PreferenceFieldTable, DescribesEveryFieldOnceInRecordOrder) {
    std::set<std::string> keys;
    u32 previousEnd = 0;
    u32 longest = 0;
    for (const PreferenceField& row : preferenceFields) {
        EXPECT_TRUE(keys.insert(row.key).second) << row.key;
        EXPECT_GE(row.offset, previousEnd) << row.key;
        EXPECT_LE(row.offset + row.size, sizeof(Preferences)) << row.key;
        previousEnd = row.offset + row.size;
        longest = std::max<u32>(longest, (u32)std::strlen(row.key));
        if (row.size == PreferenceEnum) {
            ASSERT_NE(row.enumNames, nullptr) << row.key;
            EXPECT_GE(row.enumCount, 2u) << row.key;
        } else {
            EXPECT_EQ(row.enumNames, nullptr) << row.key;
        }
    }
    EXPECT_EQ(keys.size(), 92u);
    EXPECT_EQ(longest, (u32)kLongestPreferenceKey);
    EXPECT_EQ(preferenceFieldAt(offsetof(Preferences, units))->enumNames[3], std::string("Imperial (mph)"));
    const PreferenceField* binding = preferenceFieldAt(offsetof(Preferences, pitchGimbalBinding));
    EXPECT_EQ(binding->enumCount, 64u);
    EXPECT_STREQ(binding->enumNames[0], "Unbound");
    EXPECT_STREQ(binding->enumNames[32], "Unbound (inverted)");
    EXPECT_STREQ(binding->enumNames[63], "RC Channel 18 (inverted)");
    u32 notLogged = 0;
    for (const PreferenceField& row : preferenceFields) notLogged += row.notLogged;
    EXPECT_EQ(notLogged, 6u);
    EXPECT_EQ(findPreferenceField((const u8*)"uNiTs", 5), preferenceFieldAt(offsetof(Preferences, units)));
    EXPECT_EQ(findPreferenceField((const u8*)"Unit", 4), nullptr);
}

TEST(PreferencesText, WrittenRecordReadsBackToTheSameValues) {
    auto written = defaults();
    Preferences* p = written.get();
    p->customElevationDataFile = makeString("Elevation/Ridge ü.tif");
    p->showTopographicOverlay = 1;
    p->lowAltitudeWarning = -12.5;
    p->waypointSnapAltitudeMode = 2;
    p->maxWaypointsToUpload = 250;
    p->transectZigZagHeading = 359.9999999;
    p->payloadType = PayloadVosk;
    p->appSystemId = 255;
    p->droneConnection = DroneConnectionIp;
    p->droneAddress = AddressRecord{14550, 4, 0, {192, 168, 144, 10}};
    p->customDroneAddress = AddressRecord{5760, 6, 0, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
    p->droneLocalPort = 65535;
    p->videoStreamProtocol = VideoStreamRtsp;
    p->qvVideoServerAddress = AddressRecord{5600, 4, 0, {10, 0, 0, 7}};
    p->rtspUrl = makeString("rtsp://10.0.0.9:8554/main");
    p->units = UnitsNauticalKn;
    p->simulatorTakeoffLatitude = -33.8688197;
    p->simulatorTakeoffLongitude = 151.2092955;
    p->pitchGimbalBinding = 45;
    p->secondaryPositionYaw = -180.0;
    p->copernicusSaveLoginInfo = 1;
    p->copernicusUsername = makeString("pilot@example.org");
    p->copernicusPassword = makeString("00112233445566778899AABBCCDDEEFF0123");
    p->enableCorningShark410 = 1;
    std::string text = writeText(p);

    std::unique_ptr<Preferences> read(new Preferences{});
    parseText(read.get(), text);
    expectSameValues(p, read.get());

    // Every line has its ":" in column 51.
    size_t lines = 0;
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1, lines++) {
        EXPECT_EQ(text.substr(at + 50, 2), ": ") << text.substr(at, 80);
    }
    EXPECT_EQ(lines, 92u);
    EXPECT_EQ(lineOf(text, "Low altitude warning (m)"), std::string(26, ' ') + "Low altitude warning (m): -12.5000000");
    EXPECT_EQ(lineOf(text, "Secondary position yaw"), std::string(28, ' ') + "Secondary position yaw: -180.0000000");
    EXPECT_EQ(lineOf(text, "Airspace indicator altitude (m)").substr(50), ": 120.0000000");
    EXPECT_EQ(lineOf(text, "App Component Id").substr(50), ": 0");
    EXPECT_EQ(lineOf(text, "Drone IP address and port").substr(50), ": 192.168.144.10:14550");
    EXPECT_EQ(lineOf(text, "Pitch gimbal").substr(50), ": Herelink Trigger (inverted)");
    EXPECT_EQ(lineOf(text, "Units").substr(50), ": Nautical (kn)");
    EXPECT_EQ(lineOf(text, "Show Lat/Lng").substr(50), ": False");
    EXPECT_EQ(lineOf(text, "Show Vertical Speed").substr(50), ": True");
}

TEST(PreferencesText, BothVideoEndpointsAreWrittenWhateverTheProtocol) {
    auto p = defaults();
    p->qvVideoServerAddress = AddressRecord{5600, 4, 0, {10, 0, 0, 7}};
    p->rtspUrl = makeString("rtsp://camera/stream");
    for (u32 protocol : {VideoStreamNone, VideoStreamQv, VideoStreamRtsp}) {
        p->videoStreamProtocol = protocol;
        std::string text = writeText(p.get());
        EXPECT_EQ(lineOf(text, "QV video server IP address and port").substr(50), ": 10.0.0.7:5600") << protocol;
        EXPECT_EQ(lineOf(text, "RTSP URL").substr(50), ": rtsp://camera/stream") << protocol;
    }
}

TEST(PreferencesText, CopernicusLoginIsWrittenOnlyWhenSaved) {
    auto p = defaults();
    p->copernicusUsername = makeString("pilot");
    p->copernicusPassword = makeString("ABCDEF");
    std::string text = writeText(p.get());
    EXPECT_EQ(text.find("Copernicus username"), std::string::npos);
    EXPECT_EQ(text.find("Copernicus password"), std::string::npos);
    EXPECT_NE(text.find("Copernicus save login info: False"), std::string::npos);
    p->copernicusSaveLoginInfo = 1;
    text = writeText(p.get());
    EXPECT_EQ(lineOf(text, "Copernicus username").substr(50), ": pilot");
    EXPECT_EQ(lineOf(text, "Copernicus password").substr(50), ": ABCDEF");
}

TEST(PreferencesText, ValuesThatCannotBeWrittenAreHeldOrLeftOut) {
    auto p = defaults();
    p->lowAltitudeWarning = std::nan("");
    p->airspaceIndicatorAltitude = 1e300;
    p->waypointCurveRange = -INFINITY;
    p->units = 99;  // outside its names
    p->rtspUrl = makeString("line one\nline two");
    p->rtspUrl.text[8] = '\n';
    std::string text = writeText(p.get());
    EXPECT_EQ(lineOf(text, "Low altitude warning (m)").substr(50), ": 0.0000000");
    EXPECT_EQ(lineOf(text, "Airspace indicator altitude (m)").substr(50), ": 900000000000.0000000");
    EXPECT_EQ(lineOf(text, "Waypoint curve range (m)").substr(50), ": 0.0000000");
    EXPECT_EQ(text.find("               Units:"), std::string::npos);
    EXPECT_EQ(lineOf(text, "RTSP URL").substr(50), ": line one line two");
}

TEST(PreferencesText, HandWrittenLinesWithOddSpacingCaseAndValues) {
    auto p = defaults();
    p->payloadType = PayloadOrvik;
    p->videoStreamProtocol = VideoStreamQv;
    std::string text =
        "UNITS:   imperial (MPH)\r\n"
        "\t  App System Id :300\n"
        "App Component Id: -5\n"
        "Max number of waypoints to upload: 0\n"
        "Payload Type: Rocket\n"
        "Video stream protocol: rtsp\n"
        "Favourite colour: Blue\n"
        "this line has no colon\n"
        "\n"
        "Drone IP address and port: 10.0.0.2:14550\n"
        "Custom drone connection IP address and port: [2001:db8:0:0:0:0:0:1]:5760\n"
        "QV video server IP address and port: 300.1.1.1:5600\n"
        "Relay mode port: 99999999999999999999999999\n"
        "Drone connection local port: 65536\n"
        "Low altitude warning (m): 33.25\n"
        "Low altitude warning (m): 44.5\n"
        "Waypoint curve range (m): nan\n"
        "Airspace indicator altitude (m): " + std::string(400, '9') + "\n"
        "Transect Spacing (meters): 123456789012345678\n"
        "Transect Overshoot Distance (meters): metres\n"
        "Pitch gimbal: herelink d\n"
        "Show Lat/Lng: true\n"
        "Drone network interface:    eth0  \r\n"
        "Custom drone network interface:   \n"
        "Map style: dark\r";
    parseText(p.get(), text);
    EXPECT_EQ(p->units, UnitsImperialMph);
    EXPECT_EQ(p->appSystemId, 255);
    EXPECT_EQ(p->appComponentId, 0);
    EXPECT_EQ(p->maxWaypointsToUpload, 0);  // the step makes it 1
    EXPECT_EQ(p->payloadType, PayloadOrvik);
    EXPECT_EQ(p->videoStreamProtocol, VideoStreamRtsp);
    EXPECT_EQ(p->droneAddress.family, 4);
    EXPECT_EQ(p->droneAddress.port, 14550);
    EXPECT_EQ(p->droneAddress.address[3], 2);
    EXPECT_EQ(p->customDroneAddress.family, 6);
    EXPECT_EQ(p->customDroneAddress.port, 5760);
    EXPECT_EQ(p->customDroneAddress.address[15], 1);
    EXPECT_EQ(p->qvVideoServerAddress.family, 0);
    EXPECT_EQ(p->relayModePort, 65535);
    EXPECT_EQ(p->droneLocalPort, 65535);
    EXPECT_EQ(p->lowAltitudeWarning, 44.5);
    EXPECT_EQ(p->waypointCurveRange, 1.0);  // not a number: the default stays
    EXPECT_EQ(p->airspaceIndicatorAltitude, kMaxPreferenceNumber);
    EXPECT_EQ(p->transectSpacing, kMaxPreferenceNumber);
    EXPECT_EQ(p->transectOvershootDistance, 0.0);
    EXPECT_EQ(p->pitchGimbalBinding, 12u);
    EXPECT_EQ(p->showLatLng, 1u);
    EXPECT_EQ(std::string(p->droneNetworkInterface.text, p->droneNetworkInterface.length), "eth0  ");
    EXPECT_EQ(p->customDroneNetworkInterface.length, 0);
    EXPECT_EQ(std::string(p->mapStyle.text, p->mapStyle.length), "dark");
}

TEST(PreferencesText, DamagedNumbersLeaveTheirRowsAtTheDefault) {
    auto p = defaults();
    parseText(p.get(),
              "Low altitude warning (m): 3x5!!\n"
              "Airspace indicator altitude (m): !!\n"
              "Waypoint mission cruise speed (m/s): -\n"
              "Waypoint curve range (m): .\n"
              "ADSB audible warning cylinder altitude (m MSL): 1e\n"
              "ADSB audible warning cylinder radius (m): 12 34\n"
              "Orvik drop spacing (m): 0x10\n"
              "Orvik max drop period (s): 7.5.1\n");
    expectSameValues(p.get(), defaults().get());

    // Whole numbers, with blanks around them, still read; so does every number the program writes.
    parseText(p.get(), "Low altitude warning (m):  -0.5e1 \r\nWaypoint curve range (m): .25\n");
    EXPECT_EQ(p->lowAltitudeWarning, -5.0);
    EXPECT_EQ(p->waypointCurveRange, 0.25);
    std::mt19937_64 random(24);
    for (int i = 0; i < 2000; i++) {
        auto written = defaults();
        written->lowAltitudeWarning = std::ldexp((f64)(i64)random(), -(int)(random() % 90));
        std::string line = lineOf(writeText(written.get()), "Low altitude warning (m)");
        std::string value = line.substr(line.find(": ") + 2);
        i64 position = 0;
        f64 before = parseDouble((const u8*)value.data(), &position, (i64)value.size(), 0.0);
        auto read = defaults();
        read->lowAltitudeWarning = -1.0;
        parseText(read.get(), line + "\n");
        ASSERT_EQ(read->lowAltitudeWarning, before) << line;
    }
}

TEST(PreferencesText, ATextBeginningWithACarriageReturnIsWrittenBackUnchanged) {
    for (const std::string value : {"\rdark", "\r", "a\rb", "dark\r", "\r\r"}) {
        auto p = defaults();
        parseText(p.get(), "Map style: " + value + "\r\n");
        EXPECT_EQ(std::string(p->mapStyle.text, p->mapStyle.length), value);
        std::string text = writeText(p.get());
        auto again = defaults();
        parseText(again.get(), text);
        EXPECT_EQ(std::string(again->mapStyle.text, again->mapStyle.length), value);
        EXPECT_EQ(writeText(again.get()), text);
    }
}

// The colons are aligned, so a long text's line is longer than the text: it must still read back
// whole, and a text cut to fit is cut at a whole code point.
TEST(PreferencesText, ALongTextReadsBackWholeAfterASave) {
    for (const std::string& value : {std::string(300, 'x'), std::string(210, 'y'), [] {
             std::string accents;
             for (int i = 0; i < 150; i++) accents += "\xC3\xA9";
             return accents;
         }()}) {
        auto p = defaults();
        parseText(p.get(), "Map URL: " + value + "\n");
        std::string kept(p->mapUrl.text, p->mapUrl.length);
        EXPECT_EQ(kept, value.substr(0, kept.size()));
        EXPECT_GE(kept.size(), std::min<size_t>(value.size(), 252));
        std::string text = writeText(p.get());
        auto again = defaults();
        parseText(again.get(), text);
        EXPECT_EQ(std::string(again->mapUrl.text, again->mapUrl.length), kept);
        EXPECT_EQ(writeText(again.get()), text);
    }
}

TEST(PreferencesText, MalformedUtf8EndsALineAndLongLinesAreCut) {
    auto p = defaults();
    std::string text = "Map style: da\xff" "rk\nUnits: Nautical (kn)\nRTSP URL: " + std::string(600, 'x') +
                       "\nDeveloper mode: True";
    parseText(p.get(), text);
    EXPECT_EQ(std::string(p->mapStyle.text, p->mapStyle.length), "da");
    EXPECT_EQ(p->units, UnitsNauticalKn);
    EXPECT_EQ(p->rtspUrl.length, 253);
    EXPECT_EQ(p->developerMode, 1u);
    // Nothing at all, or a lone byte of a sequence, changes nothing.
    auto q = defaults();
    parseText(q.get(), "");
    parseText(q.get(), "\xe2\x82");
    expectSameValues(q.get(), defaults().get());
}

// The step against the real file thread, run pass by pass.
class PreferencesStep : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        preferences.reset(new Preferences{});
        state.reset(new PreferencesState{});
    }
    // One frame of the step followed by one pass of the file thread.
    u32 frame() {
        u32 saved = updatePreferences(preferences.get(), state.get(), platform);
        pass();
        return saved;
    }
    void frames(i32 count) {
        for (i32 i = 0; i < count; i++) frame();
    }
    std::string fileText() { return readWholeFile(dataFolder + "Preferences.txt"); }
    bool fileExists() { return std::filesystem::exists(dataFolder + "Preferences.txt"); }

    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<PreferencesState> state;
};

TEST_F(PreferencesStep, FirstRunKeepsDefaultsAndWritesOnlyAfterAChange) {
    frames(5);
    EXPECT_EQ(state->loaded, 1u);
    EXPECT_EQ(state->loadStatus, (u32)FileStatusNotFound);
    EXPECT_EQ(preferences->lowAltitudeWarning, 20.0);
    EXPECT_EQ(preferences->maxWaypointsToUpload, 65535);
    EXPECT_FALSE(fileExists());
    preferences->units = UnitsMetricKmh;
    EXPECT_EQ(frame(), 1u);
    frames(2);
    ASSERT_TRUE(fileExists());
    auto read = defaults();
    parseText(read.get(), fileText());
    expectSameValues(preferences.get(), read.get());
    EXPECT_EQ(read->units, UnitsMetricKmh);
    // No change, no write.
    std::filesystem::remove(dataFolder + "Preferences.txt");
    frames(5);
    EXPECT_FALSE(fileExists());
}

TEST_F(PreferencesStep, LoadsTheFileAndSavesAZeroWaypointLimitAsOne) {
    writeDataFile("Preferences.txt", "Units: Imperial (ft/s)\nMax number of waypoints to upload: 0\n");
    frames(4);
    EXPECT_EQ(state->loadStatus, (u32)FileStatusSuccess);
    EXPECT_EQ(preferences->units, UnitsImperialFps);
    EXPECT_EQ(preferences->maxWaypointsToUpload, 1);
    std::string text = fileText();
    EXPECT_EQ(lineOf(text, "Max number of waypoints to upload").substr(50), ": 1");
    EXPECT_EQ(lineOf(text, "Units").substr(50), ": Imperial (ft/s)");
}

// Start-up queues the read before the first frame, so that the first frame shows the user's settings
// (a read asked for in a frame is served after it). The step takes the read over.
TEST_F(PreferencesStep, AReadQueuedAtStartUpIsAppliedOnTheFirstFrame) {
    writeDataFile("Preferences.txt", "Units: Nautical (kn)\nDeveloper mode: True\n");
    requestPreferencesFile(state.get(), platform);
    pass();
    EXPECT_EQ(frame(), 0u);
    EXPECT_EQ(state->loaded, 1u);
    EXPECT_EQ(preferences->units, UnitsNauticalKn);
    EXPECT_EQ(preferences->developerMode, 1u);
}

TEST_F(PreferencesStep, AFileThatFailsToLoadIsNeverOverwritten) {
    std::string big = "Units: Nautical (kn)\n" + std::string(60000, '#');
    writeDataFile("Preferences.txt", big);
    frames(3);
    EXPECT_EQ(state->loaded, 0u);
    EXPECT_EQ(state->loadStatus, (u32)FileStatusTooLarge);
    preferences->developerMode = 1;
    frames(3 * (i32)kPreferencesRetryFrames);
    EXPECT_EQ(state->loaded, 0u);
    EXPECT_EQ(fileText(), big);
    // Once the file can be read, its values win and the change is saved.
    writeDataFile("Preferences.txt", "Units: Nautical (kn)\n");
    frames((i32)kPreferencesRetryFrames + 4);
    EXPECT_EQ(state->loaded, 1u);
    EXPECT_EQ(preferences->units, UnitsNauticalKn);
    EXPECT_EQ(lineOf(fileText(), "Developer mode").substr(50), ": True");
}

TEST_F(PreferencesStep, AFailedSaveIsTriedAgain) {
    frames(3);
    // A folder where the file should be makes the write fail.
    std::filesystem::create_directories(dataFolder + "Preferences.txt/blocked");
    preferences->showLatLng = 1;
    frames(3);
    EXPECT_GT(fileJobStatus(&state->saveJob), (u32)FileStatusSuccess);
    std::filesystem::remove_all(dataFolder + "Preferences.txt");
    frames((i32)kPreferencesRetryFrames + 4);
    ASSERT_TRUE(fileExists());
    EXPECT_EQ(lineOf(fileText(), "Show Lat/Lng").substr(50), ": True");
    EXPECT_EQ(fileJobStatus(&state->saveJob), (u32)FileStatusSuccess);
}

TEST_F(PreferencesStep, APilotProGetsItsBindingsOnlyWhenTheFileHasNone) {
    platform->gamepad.controllerKind = 3;
    // A file written with a game pad: every binding "Unbound".
    auto padFile = defaults(1);
    padFile->units = UnitsMetricKmh;
    writeDataFile("Preferences.txt", writeText(padFile.get()));
    frames(4);
    EXPECT_EQ(preferences->pitchGimbalBinding, 1u);  // "Pilot Pro Left Rocker"
    EXPECT_EQ(preferences->minimizeMapBinding, 6u);  // "Pilot Pro R2"
    EXPECT_EQ(state->bindingsAtDefaults, 1u);
    EXPECT_EQ(lineOf(fileText(), "Recenter gimbal").substr(50), ": Pilot Pro R1");

    // With a binding of its own in the file, the file's bindings stay.
    std::filesystem::remove(dataFolder + "Preferences.txt");
    preferences.reset(new Preferences{});
    state.reset(new PreferencesState{});
    writeDataFile("Preferences.txt", "Yaw gimbal: RC Channel 4\n");
    frames(4);
    EXPECT_EQ(preferences->yawGimbalBinding, 17u);
    EXPECT_EQ(preferences->pitchGimbalBinding, 1u);  // the rest of the group as it started
    EXPECT_EQ(state->bindingsAtDefaults, 0u);
    EXPECT_EQ(fileText(), "Yaw gimbal: RC Channel 4\n");  // nothing changed, nothing written

    // The App Binds Screen's reset brings the controller's defaults.
    state->resetBindingsRequest = 1;
    frames(3);
    EXPECT_EQ(preferences->yawGimbalBinding, 0u);
    EXPECT_EQ(preferences->pitchGimbalBinding, 1u);
    EXPECT_EQ(state->bindingsAtDefaults, 1u);
    EXPECT_EQ(lineOf(fileText(), "Yaw gimbal").substr(50), ": Unbound");
}

}  // namespace

namespace {

// The window closes right after a frame that changed a preference: the change is queued at quit and
// the file thread writes it before it returns.
TEST_F(PreferencesStep, AChangeOfTheLastFrameIsSavedAtQuit) {
    writeDataFile("Preferences.txt", "Low altitude warning (m): 30.0000000\n");
    frames(5);
    ASSERT_EQ(state->loaded, 1u);
    preferences->lowAltitudeWarning = 45.5;
    EXPECT_EQ(savePreferencesAtQuit(preferences.get(), state.get(), platform), 1u);
    u32 stopped = 0;
    runFileThread(platform, &stopped);
    EXPECT_NE(fileText().find("Low altitude warning (m): 45.5000000"), std::string::npos) << fileText();
}

}  // namespace
