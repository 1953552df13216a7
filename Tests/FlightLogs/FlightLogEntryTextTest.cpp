// The readable texts of the program's own flight-log entries: full payloads as the writer lays
// them out read back line by line, and every payload cut short at every length reads no byte beyond
// its end (each case sits in a heap block of exactly its size, so ASan sees any overread) and shows
// the lines read so far, the last one possibly cut.
#include <cmath>
#include <sstream>

#include "Core/Preferences.h"
#include "FlightLogs/FlightLogEntryText.h"
#include "FlightLogs/FlightLogger.h"

namespace {

using Bytes = std::vector<u8>;

void put(Bytes* out, const void* bytes, size_t count) {
    out->insert(out->end(), (const u8*)bytes, (const u8*)bytes + count);
}
template <typename T>
void put(Bytes* out, T value) {
    put(out, &value, sizeof(value));
}
void text(Bytes* out, const std::string& value) {
    out->push_back((u8)value.size());
    put(out, value.data(), value.size());
}

std::string title(u8 type, const Bytes& payload) {
    u8* exact = (u8*)std::malloc(payload.size() + 1);
    if (!payload.empty()) std::memcpy(exact, payload.data(), payload.size());
    FixedString result = flightLogEntryTitle(type, exact, (u16)payload.size());
    std::free(exact);
    return std::string(result.text, result.length);
}

std::string details(u8 type, const Bytes& payload, const Preferences* units) {
    u8* exact = (u8*)std::malloc(payload.size() + 1);
    if (!payload.empty()) std::memcpy(exact, payload.data(), payload.size());
    u8 buffer[2000];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    appendFlightLogEntryDetails(type, exact, (u16)payload.size(), units, &writer);
    std::free(exact);
    return std::string((const char*)buffer, (size_t)writer.length);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

Bytes windowsHeader() {
    Bytes p;
    put<i16>(&p, -300);
    put<u16>(&p, 3);
    text(&p, "2.14.1");
    text(&p, "Orvik GCS");
    p.push_back(0);
    text(&p, "10.0.22631");
    text(&p, "22631.4317");
    text(&p, "Panasonic");
    text(&p, "FZ-G2");
    for (u8 b : {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}) p.push_back(b);
    return p;
}

Bytes augmentedPosition(f32 agl, f32 dem) {
    Bytes p;
    put<f64>(&p, -33.8688197);
    put<f64>(&p, 151.2092955);
    put<f32>(&p, 42.26f);
    put<f32>(&p, 12.0f);
    put<f32>(&p, agl);
    put<f32>(&p, dem);
    put<f32>(&p, 54.3f);
    return p;
}

Bytes videoStatus(u32 received, u32 dropped) {
    Bytes p;
    put<u64>(&p, 1000123);
    put<u64>(&p, 18446744073709551615ull);
    put<u32>(&p, received);
    put<u32>(&p, dropped);
    put<i32>(&p, 1920);
    put<i32>(&p, 1080);
    return p;
}

Bytes preference(u8 kind, const std::string& name, const Bytes& value) {
    Bytes p{kind};
    text(&p, name);
    p.push_back((u8)value.size());
    put(&p, value.data(), value.size());
    return p;
}

Bytes address(u16 port, u8 family, const Bytes& bytes) {
    Bytes v;
    put<u16>(&v, port);
    v.push_back(family);
    put(&v, bytes.data(), bytes.size());
    return v;
}

Bytes controllerAxes() {
    Bytes p{1, 0};
    for (f32 axis : {0.12345f, -0.9999f, 1.0f, 0.0f, 0.5f, -0.5f, NAN, -0.0004f}) put<f32>(&p, axis);
    return p;
}

TEST(FlightLogEntryText, AWindowsHeaderShowsItsTextsAndIdButNoSdkVersion) {
    Preferences units{};
    EXPECT_EQ(title(FlightLogHeader, windowsHeader()), "Log header");
    EXPECT_EQ(details(FlightLogHeader, windowsHeader(), &units),
              "local time shift: -300 min\nlog version: 3\napp version: 2.14.1\napp name: Orvik GCS\n"
              "operating system: Windows\nrelease: 10.0.22631\nincremental: 22631.4317\nmanufacturer: Panasonic\n"
              "device: FZ-G2\ninstallation id: 0123456789ABCDEF\n");
    // An Android header carries the SDK version after its four texts.
    Bytes android;
    put<i16>(&android, 60);
    put<u16>(&android, 3);
    text(&android, "2.14.1");
    text(&android, "Orvik GCS");
    android.push_back(1);
    for (const char* t : {"14", "UP1A", "samsung", "SM-X700"}) text(&android, t);
    put<i32>(&android, 34);
    std::vector<std::string> got = lines(details(FlightLogHeader, android, &units));
    ASSERT_EQ(got.size(), 10u);
    EXPECT_EQ(got[4], "operating system: Android");
    EXPECT_EQ(got[9], "sdkVersion: 34");
}

TEST(FlightLogEntryText, UnknownAltitudesShowAsNaNWithTheLengthUnit) {
    Preferences units{};
    EXPECT_EQ(details(FlightLogAugmentedPosition, augmentedPosition(NAN, NAN), &units),
              "lat: -33.868819\xC2\xB0\nlng: 151.209295\xC2\xB0\naltitude above takeoff: 42.3 m\n"
              "ground elevation: 12.0 m\naltitude agl: NaN m\naltitude msl from elevation map: NaN m\n"
              "altitude msl from inputted takeoff elevation: 54.3 m\n");
    units.units = UnitsImperialFps;
    std::vector<std::string> got = lines(details(FlightLogAugmentedPosition, augmentedPosition(10.0f, NAN), &units));
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[4], "altitude agl: 32.8 ft");
    EXPECT_EQ(got[5], "altitude msl from elevation map: NaN ft");
}

TEST(FlightLogEntryText, VideoStatusWithNoPacketsShowsZeroPercentAndFullCounts) {
    Preferences units{};
    EXPECT_EQ(title(FlightLogVideoStreamStatus, videoStatus(0, 0)), "Video stream status: 0%");
    EXPECT_EQ(title(FlightLogVideoStreamStatus, videoStatus(4000000000u, 4000000000u)), "Video stream status: 50%");
    EXPECT_EQ(title(FlightLogVideoStreamStatus, videoStatus(2, 1)), "Video stream status: 66%");
    EXPECT_EQ(details(FlightLogVideoStreamStatus, videoStatus(0, 0), &units),
              "measuring interval: 1.000123 s\nbytes received: 18446744073709551615 bytes\npackets received: 0\n"
              "packets dropped: 0\nwidth: 1920\nheight: 1080\n");
}

TEST(FlightLogEntryText, PreferenceValuesOfEveryKindIncludingIpv4AndIpv6Addresses) {
    Preferences units{};
    Bytes v4 = preference(4, "Drone address", address(14550, 4, Bytes{192, 168, 1, 20}));
    EXPECT_EQ(title(FlightLogPreferenceValue, v4), "Drone address = 192.168.1.20:14550");
    Bytes v6bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0xEE, 0xEE};  // 18: the first 16 count
    Bytes v6 = preference(4, "Relay address", address(9876, 6, v6bytes));
    EXPECT_EQ(details(FlightLogPreferenceValue, v6, &units),
              "type: 4\nname: Relay address\nvalue: [2001:0DB8:0000:0000:0000:0000:0000:0001]:9876\n");
    Bytes number;
    put<i64>(&number, -12345678901);
    EXPECT_EQ(title(FlightLogPreferenceValue, preference(2, "Big", number)), "Big = -12345678901");
    EXPECT_EQ(title(FlightLogPreferenceValue, preference(2, "Small", Bytes{200})), "Small = 200");
    Bytes real;
    put<f64>(&real, 2.5);
    EXPECT_EQ(title(FlightLogPreferenceValue, preference(3, "Spacing", real)), "Spacing = 2.5");
    EXPECT_EQ(title(FlightLogPreferenceValue, preference(0, "Units", Bytes{'M', 'E', 'T', 'R', 'I', 'C'})),
              "Units = METRIC");
    EXPECT_EQ(title(FlightLogPreferenceValue, preference(9, "Odd", Bytes{1, 2})), "Odd = ");
}

TEST(FlightLogEntryText, TitlesOfButtonsControllersAndPlainTypes) {
    Preferences units{};
    Bytes button300;
    put<u16>(&button300, 300);
    EXPECT_EQ(title(FlightLogButtonPressed, button300), "Button 300 pressed");
    EXPECT_EQ(title(FlightLogButtonReleased, Bytes{7}), "Button 7 released");
    EXPECT_EQ(title(FlightLogControllerName, Bytes{'X', 'b', 'o', 'x'}), "Controller Name: Xbox");
    EXPECT_EQ(title(FlightLogStartedMission, Bytes{}), "Started waypoint mission");
    EXPECT_EQ(title(FlightLogGeofenceChanged, Bytes{3}), "Orvik geofence changed");
    EXPECT_EQ(title(5, Bytes{1, 2, 3}), "");
    EXPECT_EQ(details(5, Bytes{1, 2, 3}, &units), "");
    EXPECT_EQ(title(FlightLogControllerAxes, controllerAxes()), "Controller Axes");
    EXPECT_EQ(details(FlightLogControllerAxes, controllerAxes(), &units),
              "type: 1\nisEmulated: 0\nleftStickX: 0.123\nleftStickY: -0.999\nrightStickX: 1.000\nrightStickY: 0.000\n"
              "leftTrigger: 0.500\nrightTrigger: -0.500\nleftRocker: NaN\nrightRocker: 0.000\n");
}

// Every cut of every payload above: the lines are those of the whole payload up to where it ends,
// the last possibly cut short, and nothing is read past the end.
TEST(FlightLogEntryText, CutPayloadsShowTheLinesReadSoFarAndReadNothingBeyond) {
    Preferences units{};
    Bytes button300;
    put<u16>(&button300, 300);
    std::vector<std::pair<u8, Bytes>> cases{
        {FlightLogHeader, windowsHeader()},
        {FlightLogAugmentedPosition, augmentedPosition(NAN, 3.0f)},
        {FlightLogVideoStreamStatus, videoStatus(5, 5)},
        {FlightLogPreferenceValue, preference(4, "Drone address", address(14550, 4, Bytes{10, 0, 0, 1}))},
        {FlightLogPreferenceValue, preference(1, "Map style", Bytes{'o', 's', 'm'})},
        {FlightLogControllerAxes, controllerAxes()},
        {FlightLogButtonPressed, button300},
        {FlightLogControllerName, Bytes{'P', 'i', 'l', 'o', 't'}},
    };
    for (const auto& [type, whole] : cases) {
        std::vector<std::string> full = lines(details(type, whole, &units));
        for (size_t cut = 0; cut < whole.size(); cut++) {
            Bytes part(whole.begin(), whole.begin() + (long)cut);
            title(type, part);
            std::vector<std::string> got = lines(details(type, part, &units));
            ASSERT_LE(got.size(), full.size()) << "type " << (int)type << " cut " << cut;
            for (size_t i = 0; i < got.size(); i++) {
                if (i + 1 < got.size()) {
                    EXPECT_EQ(got[i], full[i]) << "type " << (int)type << " cut " << cut;
                } else {
                    EXPECT_EQ(full[i].compare(0, got[i].size(), got[i]), 0) << "type " << (int)type << " cut " << cut;
                }
            }
        }
    }
}

}  // namespace
