// The payload texts the operator reads, from the edge lists of the Orvik and VOSK tables, and the
// frame reader's handling of noise, bad length bytes and backlogs.
#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Drone/TarnwickPayloads/OrvikTexts.h"
#include "Drone/TarnwickPayloads/PayloadDevices.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr u64 kNow = 100000000;

std::string orvikLine(const OrvikPayloadState& orvik) {
    FixedString text = orvikStatusText(&orvik, kNow);
    return std::string(text.text, text.length);
}

std::string voskLine(const VoskPayloadState& vosk) {
    char bytes[256];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    voskStateText(&vosk, kNow, &writer);
    return std::string(bytes, (size_t)writer.length);
}

std::vector<u8> frame(u8 type, const std::vector<u8>& body, u8 sequence = 0) {
    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    LengthFieldMark mark = beginPayloadFrame(&sequence, type, &writer);
    appendBytes(body.data(), (i64)body.size(), &writer);
    finishPayloadFrame(&mark, &writer);
    return std::vector<u8>(bytes, bytes + writer.length);
}

}  // namespace

TEST(OrvikTexts, StateLineFollowsTheFaultOrderAndTheStateTable) {
    struct Case {
        u32 state;
        u64 word;
        u32 disallow;
        u8 dropping;
        i8 chute;
        bool fresh;
        const char* text;
    } cases[] = {
        {0, 0, 0, 0, 20, false, "DISCONNECTED"},
        {0, 0, 0, 0, 61, false, "DISCONNECTED    HIGH TEMP"},
        {0, 1 << 13 | 1, 0, 0, 20, true, "LOST DRONE DATA"},
        {0, 0x700, 0, 0, 20, true, "LOST_DRONE_PWM"},
        {0, 0x100, 0, 0, 20, true, "LOST DRONE PWM 0"},
        {0, 8, 1, 0, 20, true, "FLYING OUTSIDE GEOFENCE"},
        {0, 8, 2, 0, 20, true, "DISALLOWED DRONE MODE"},
        {0, 8, 0, 0, 20, true, "DISARMED DUE TO RECENT DISCONNECTION"},
        {0, 1ull << 37 | 1ull << 19, 0, 0, 20, true, "OVER VOLTAGE BATTERY"},
        {0, 1ull << 40, 0, 0, 20, true, "IDLE"},
        {0, 1 << 19, 0, 1, 20, true, "DROPPING"},
        {100, 0, 0, 0, 60, true, "IDLE (STOPPED B/C UNKNOWN ERROR 100)"},
        {102, 0, 0, 0, 20, true, "IDLE (STOPPED B/C LOW BATTERY)"},
        {115, 0, 0, 0, 20, true, "IDLE (STOPPED B/C LOST DRONE PWM 4)"},
        {160, 0, 0, 0, 20, true, "UNKNOWN HARD ERROR 160"},
        {163, 0, 0, 0, 61, true, "PUNCTURE MOTOR MOTION ERROR    HIGH TEMP"},
        {200, 0, 0, 0, 20, true, "UNKNOWN HARD ERROR 200"},
    };
    for (const Case& c : cases) {
        OrvikPayloadState orvik{};
        orvik.state = c.state;
        orvik.statusWord = c.word;
        orvik.disallowReason = c.disallow;
        orvik.dropping = c.dropping;
        orvik.chuteTemp = c.chute;
        orvik.statusTime = c.fresh ? kNow - 3000000 : kNow - 3000001;
        EXPECT_EQ(orvikLine(orvik), c.text) << c.state << " " << c.word;
    }
    char scratch[40];
    EXPECT_STREQ(orvikFaultName(38, scratch, sizeof(scratch)), "UNKNOWN FAULT (1 << 38)");
    EXPECT_STREQ(orvikFaultName(63, scratch, sizeof(scratch)), "UNABLE TO START DROPPING");
}

TEST(OrvikTexts, BoardReportShowsMeasurementsVersionsAndEveryFault) {
    OrvikPayloadState orvik{};
    orvik.statusTime = kNow;
    orvik.lastDropTime = kNow - 65000000;
    orvik.dropCounterA = 10;
    orvik.dropCounterB = 2;
    orvik.batteryVoltage = 126;
    orvik.injectionAmount = 50;
    orvik.chuteTemp = kOrvikTemperatureUnknown;
    orvik.ambientTemp = 20;
    orvik.internalTemp = 30;
    orvik.statusWord = 1ull << 11 | 1ull << 63;
    orvik.versionTime = 1;
    orvik.mainFirmwareVersion = makeString("1.2");
    orvik.auxProgrammingDate = makeString("2024-02-03");
    Preferences preferences{};
    char bytes[2048];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendOrvikBoardStatus(&orvik, &preferences, kNow, &writer);
    std::string report(bytes, (size_t)writer.length);
    FixedString unknown = unknownTemperatureString(&preferences);
    FixedString twenty = temperatureString(20, &preferences);
    std::string expected = "IDLE\nTime since last drop: " +
                           std::string(durationString(65000000).text, durationString(65000000).length) +
                           "\nSpheres dropped: 12\nBattery voltage: 12.6 V\nInjection amount: 0.50 ml\nChute temp: " +
                           std::string(unknown.text, unknown.length) + "\nAmbient temp: " +
                           std::string(twenty.text, twenty.length);
    EXPECT_EQ(report.substr(0, expected.size()), expected);
    EXPECT_NE(report.find("   Firmware version: 1.2\n"), std::string::npos);
    EXPECT_NE(report.find("   Programming date: 2024-02-03\n"), std::string::npos);
    EXPECT_NE(report.find("\nLOST DRONE PWM 3\nUNABLE TO START DROPPING\n"), std::string::npos);
}

TEST(OrvikTexts, CountIndicatorShowsQuestionMarkWhenStaleAndColoursBySeverity) {
    OrvikPayloadState orvik{};
    orvik.dropCounterA = 3;
    orvik.dropCounterB = 4;
    orvik.statusTime = kNow - 3000001;
    u64 spin = 0;
    PayloadCountLook look;
    orvikPayloadCountLook(&look, &orvik, &spin, kNow);
    EXPECT_EQ(std::string(look.text.text, look.text.length), "?");
    orvik.statusTime = kNow;
    orvik.statusWord = 1 << 24;
    orvikPayloadCountLook(&look, &orvik, &spin, kNow);
    EXPECT_EQ(std::string(look.text.text, look.text.length), "7");
    EXPECT_EQ(look.image, 22u);
    orvik.statusWord = 1;
    orvikPayloadCountLook(&look, &orvik, &spin, kNow);
    EXPECT_EQ(look.image, 21u);
    orvik.statusWord = 0;
    orvik.dropping = 1;
    orvikPayloadCountLook(&look, &orvik, &spin, kNow + 250000);
    EXPECT_EQ(look.image, 20u);
    EXPECT_DOUBLE_EQ(look.rotationTurns, 0.25);
}

TEST(VoskTexts, StateLineAndChannelReportFollowTheUnitsAndServos) {
    VoskPayloadState vosk{};
    EXPECT_EQ(voskLine(vosk), "DISCONNECTED");
    vosk.units[1].statusTime = kNow;
    EXPECT_EQ(voskLine(vosk), "DISCONNECTED FROM R1");
    vosk.units[0].statusTime = kNow;
    EXPECT_EQ(voskLine(vosk), "SBUS DISARMED");
    vosk.units[0].sbusArmed = 1;
    EXPECT_EQ(voskLine(vosk), "READY");
    vosk.units[1].faults = 2;
    vosk.disarmReason = VoskOutsideGeofence;
    EXPECT_EQ(voskLine(vosk), "FLYING OUTSIDE GEOFENCE");
    vosk.units[0].faults = 1ull << 9;
    EXPECT_EQ(voskLine(vosk), "FLYING OUTSIDE GEOFENCE");
    vosk.units[1].faults = 1ull << 9;
    EXPECT_EQ(voskLine(vosk), "UNKNOWN FAULT (1 << 9)");
    vosk.units[0].faults = 1ull << 5 | 1;
    EXPECT_EQ(voskLine(vosk), "SAFETY MODE");

    vosk.units[0].safetyServo[0] = 1;
    vosk.units[1].dropServo[0] = 2;
    vosk.units[0].dropServo[1] = 1;
    char bytes[2048];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendVoskStatus(&vosk, &writer, kNow);
    std::string report(bytes, (size_t)writer.length);
    EXPECT_EQ(report.rfind("FAULTS\n\nA Error, Safe\nSafety Servo: Open (0)\nPrimary Servo: Closed (0)\n"
                           "Secondary Servo: Error 2 (0)\nLoading Button: Not Pressed\nB Partial\n", 0),
              0u);
    EXPECT_NE(report.find("Primary Router: FAULTS\nNot flying\nLast Error: 0\nSAFETY MODE\nSERVO MALFUNCTION\n\n"),
              std::string::npos);
}

TEST(VoskTexts, LoadingButtonsAreThePrimarysStatusFlagsBitsTwoAndThree) {
    VoskPayloadState vosk{};
    i32 slot = -1;
    u8 body[25] = {0x08};  // primary, channel B's button down
    ASSERT_EQ(handleVoskStatusFrame(body, 25, PayloadFrameVoskStatus, nullptr, nullptr, nullptr, nullptr, &vosk, &slot,
                                    kNow, 0),
              1u);
    body[0] = 0x01 | 0x04;  // the secondary's channel A button: not the report's
    handleVoskStatusFrame(body, 25, PayloadFrameVoskStatus, nullptr, nullptr, nullptr, nullptr, &vosk, &slot, kNow, 0);
    char bytes[2048];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    appendVoskStatus(&vosk, &writer, kNow);
    std::string report(bytes, (size_t)writer.length);
    size_t b = report.find("B Loaded\n");
    ASSERT_NE(b, std::string::npos) << report;
    EXPECT_NE(report.rfind("Loading Button: Not Pressed\n", b), std::string::npos) << report;
    EXPECT_EQ(report.find("Loading Button: Pressed\n"), report.find("Loading Button: Pressed\n", b)) << report;
    EXPECT_NE(report.find("Loading Button: Pressed\n", b), std::string::npos) << report;
    // A later frame with the button up clears it.
    body[0] = 0x00;
    handleVoskStatusFrame(body, 25, PayloadFrameVoskStatus, nullptr, nullptr, nullptr, nullptr, &vosk, &slot, kNow, 0);
    EXPECT_EQ(vosk.units[0].loadingButton[1], 0u);
}

TEST(PayloadFrames, ReaderDeliversEveryBufferedFrameAndSkipsImpossibleLengths) {
    EXPECT_EQ(payloadLinkChecksum(nullptr, 0, 0), 0);
    std::vector<u8> stream = {0x00, 0xB7, 0x03, 0xB7, 0x00, 0x00};  // noise, two candidates too short to be frames
    std::vector<u8> first = frame(5, std::vector<u8>(27, 1), 255);
    std::vector<u8> second = frame(1, {});
    std::vector<u8> bad = frame(9, {1, 2, 3});
    bad.back() ^= 1;
    stream.insert(stream.end(), first.begin(), first.end());
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), second.begin(), second.end());
    PayloadFrameParser parser{};
    std::vector<std::pair<u8, u8>> delivered;  // type, body length
    i64 position = 0;
    // Fed in pieces of 7 bytes; every call loops until no frame is left.
    for (size_t start = 0; start < stream.size(); start += 7) {
        i64 end = (i64)std::min(stream.size() - start, (size_t)7);
        position = 0;
        for (;;) {
            position = nextPayloadFrame(&parser, stream.data() + start, position, end);
            if (!parser.frameReady) break;
            delivered.push_back({parser.type, parser.payloadLength});
        }
    }
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0], std::make_pair((u8)5, (u8)27));
    EXPECT_EQ(delivered[1], std::make_pair((u8)1, (u8)0));
    // Two frames in one message: both come out of the one call loop, nothing waits in the buffer.
    std::vector<u8> both = frame(10, {4, 3, 2});
    both.insert(both.end(), second.begin(), second.end());
    PayloadFrameParser again{};
    int count = 0;
    position = 0;
    for (;;) {
        position = nextPayloadFrame(&again, both.data(), position, (i64)both.size());
        if (!again.frameReady) break;
        count++;
    }
    EXPECT_EQ(count, 2);
    EXPECT_EQ(again.buffered, 0);
}

TEST(PayloadTiming, UnusableTimingValuesCountAsUnsetNotAsZeroPeriod) {
    VehicleState vehicle{};
    Preferences preferences{};
    preferences.orvikDropSpacing = 20;
    preferences.orvikMaxDropPeriod = 30;  // above the 25.4 s a byte holds
    preferences.orvikGroundDropTiming = 2.5;
    EXPECT_EQ(orvikDropPeriodByte(&vehicle, 1, &preferences), 25);
    EXPECT_EQ(orvikDropPeriodByte(&vehicle, 2, &preferences), 254);  // hovering: the max period
    vehicle.velocityNorth = 3;
    vehicle.velocityEast = 4;
    EXPECT_EQ(orvikDropPeriodByte(&vehicle, 2, &preferences), 40);
    preferences.orvikDropSpacing = NAN;
    preferences.orvikMaxDropPeriod = 6;
    EXPECT_EQ(orvikDropPeriodByte(&vehicle, 2, &preferences), 60);
    preferences.orvikDropSpacing = -5;
    EXPECT_EQ(orvikDropPeriodByte(&vehicle, 2, &preferences), 60);
    preferences.orvikGroundDropTiming = -1;
    EXPECT_EQ(orvikDropPeriodByte(&vehicle, 1, &preferences), 60);
    preferences.orvikDropSpacing = 0;
    vehicle.velocityNorth = vehicle.velocityEast = 0;
    EXPECT_EQ(orvikDropPeriodByte(&vehicle, 2, &preferences), 0);  // no spacing asked: as fast as it goes
    EXPECT_EQ(photoIntervalMilliseconds(2.5), 2500);
    EXPECT_EQ(photoIntervalMilliseconds(0), 0);
    EXPECT_EQ(photoIntervalMilliseconds(70), 65535);
    EXPECT_EQ(photoIntervalMilliseconds(NAN), 0);
}

TEST(PayloadFrames, ShortStatusBodiesChangeNothing) {
    OrvikPayloadState orvik{};
    VoskPayloadState vosk{};
    VehicleState vehicle{};
    u8 body[248];
    for (u8& b : body) b = 0x5A;
    i32 slot = -1;
    EXPECT_EQ(handleOrvikFrame(body, 26, 5, nullptr, &vehicle, &orvik, &slot, kNow, 0), 0u);
    EXPECT_EQ(orvik.statusTime, 0u);
    EXPECT_EQ(handleOrvikFrame(body, 9, 6, nullptr, &vehicle, &orvik, &slot, kNow, 0), 0u);
    EXPECT_EQ(orvik.versionTime, 0u);
    EXPECT_EQ(handleVoskStatusFrame(body, 24, 7, nullptr, nullptr, &vehicle, nullptr, &vosk, &slot, kNow, 0), 1u);
    EXPECT_EQ(vosk.units[0].statusTime + vosk.units[1].statusTime, 0u);
    EXPECT_EQ(slot, -1);
}
