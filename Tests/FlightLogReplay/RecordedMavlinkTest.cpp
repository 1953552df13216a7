// What the entries list shows of recorded datagrams that are odd: several messages, none, cut-off
// extension fields, full-length texts, noise between frames, payload-link frames, NextVision reports,
// camera parameters, and the battery charge and energy lines.
#include "Core/Preferences.h"
#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "FlightLogReplay/RecordedMavlink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

using Bytes = std::vector<u8>;

// One frame of our own writer (version 1 unless forced or the id needs 2), appended to a datagram.
void appendFrame(Bytes* datagram, u32 id, const Bytes& payload, u32 forceVersion2 = 0, u16 source = 0x0101) {
    u8 buffer[300];
    u8 sequence = 7;
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    LengthFieldMark mark = beginMavlinkPacket(&writer, &sequence, source, id, forceVersion2);
    appendBytes(payload.data(), (i64)payload.size(), &writer);
    finishMavlinkPacket(&mark, &writer);
    datagram->insert(datagram->end(), buffer, buffer + writer.length);
}

void put32(Bytes* p, size_t offset, u32 value) {
    for (int i = 0; i < 4; i++) (*p)[offset + i] = (u8)(value >> (8 * i));
}
void putF32(Bytes* p, size_t offset, f32 value) {
    u32 bits;
    memcpy(&bits, &value, 4);
    put32(p, offset, bits);
}

struct Shown {
    MavlinkEntrySummary result;
    std::string summary;
    std::string details;
};

Shown show(const Bytes& datagram, u32 units = UnitsMetricMps) {
    Preferences prefs{};
    prefs.units = units;
    Shown shown;
    u8 summary[kMavlinkSummaryBytes];
    ByteWriter summaryWriter = makeByteWriter(summary, sizeof(summary));
    shown.result = summarizeMavlinkEntry(datagram.data(), (u16)datagram.size(), &summaryWriter);
    shown.summary.assign((const char*)summary, (size_t)summaryWriter.length);
    u8 details[2000];
    ByteWriter detailsWriter = makeByteWriter(details, sizeof(details));
    appendMavlinkEntryDetails(datagram.data(), (u16)datagram.size(), &prefs, &detailsWriter);
    shown.details.assign((const char*)details, (size_t)detailsWriter.length);
    return shown;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(RecordedMavlink, HeartbeatThenAttitudeReadsAsTheFirstPlusOneMoreWithBothMessagesLines) {
    Bytes heartbeat(9);
    heartbeat[4] = 2;   // type
    heartbeat[5] = 12;  // autopilot
    heartbeat[8] = 3;
    Bytes attitude(28);
    put32(&attitude, 0, 123456);
    putF32(&attitude, 4, 0.5f);
    Bytes datagram;
    appendFrame(&datagram, MavlinkHeartbeat, heartbeat, 0, 0x0102);
    appendFrame(&datagram, MavlinkAttitude, attitude);
    Shown shown = show(datagram);
    EXPECT_EQ(shown.summary, "HEARTBEAT (0) + 1 more");
    EXPECT_EQ(shown.result.messageCount, 2);
    FixedString sender = mavlinkSenderText(shown.result.sender);
    EXPECT_EQ(std::string(sender.text, sender.length), "1.2");
    EXPECT_EQ(shown.details,
              "custom_mode: 0\ntype: 2\nautopilot: 12\nbase_mode: 0\nsystem_status: 0\nmavlink_version: 3\n"
              "time_boot_ms: 123.456 s\nroll: 28.647889\xC2\xB0\npitch: 0.000000\xC2\xB0\nyaw: 0.000000\xC2\xB0\n"
              "rollspeed: 0.000000 \xC2\xB0/s\npitchspeed: 0.000000 \xC2\xB0/s\nyawspeed: 0.000000 \xC2\xB0/s\n");
}

TEST(RecordedMavlink, BytesWithoutAStartByteShowNoMessageAndNoLines) {
    Bytes datagram;
    for (int i = 0; i < 20; i++) datagram.push_back((u8)(i * 11 + 1));
    Shown shown = show(datagram);
    EXPECT_EQ(shown.result.messageCount, 0);
    EXPECT_EQ(shown.summary, "");
    EXPECT_EQ(shown.details, "");
    EXPECT_STREQ(kMavlinkEntryParseError, "ERROR: Failed to parse any Mavlink packet from this UDP payload");
}

TEST(RecordedMavlink, SysStatusWithoutItsExtensionFieldsShowsThemAsZero) {
    Bytes status(31, 0xFF);
    Bytes datagram;
    appendFrame(&datagram, MavlinkSysStatus, status, 1);
    Shown shown = show(datagram);
    EXPECT_TRUE(contains(shown.details, "onboard_control_sensors_present: 0xFFFFFFFF\n"));
    EXPECT_TRUE(contains(shown.details, "battery_remaining: -1%\n"));
    EXPECT_TRUE(contains(shown.details, "onboard_control_sensors_present_extended: 0x00000000\n"
                                        "onboard_control_sensors_enabled_extended: 0x00000000\n"
                                        "onboard_control_sensors_health_extended: 0x00000000\n"));
}

TEST(RecordedMavlink, StatusTextFillingAllFiftyBytesKeepsTheFieldsBehindIt) {
    Bytes text(54);
    text[0] = 4;
    std::string words = "Battery low: land now or the drone lands by itself";  // 50 bytes
    ASSERT_EQ(words.size(), 50u);
    memcpy(text.data() + 1, words.data(), 50);
    text[51] = 0x34;
    text[52] = 0x12;
    text[53] = 9;
    Bytes datagram;
    appendFrame(&datagram, MavlinkStatusText, text, 1);
    Shown shown = show(datagram);
    EXPECT_EQ(shown.summary, "STATUSTEXT (253)   " + words);
    EXPECT_EQ(shown.details, "severity: 4\ntext: " + words + "\nid: 4660\nseq: 9\n");
}

TEST(RecordedMavlink, GarbageBetweenTwoGoodFramesIsSkippedAndBothAreCounted) {
    Bytes datagram;
    appendFrame(&datagram, MavlinkHeartbeat, Bytes(9, 1));
    Bytes bad;
    appendFrame(&bad, MavlinkHeartbeat, Bytes(9, 2));
    bad[8] ^= 0x40;  // checksum no longer fits
    datagram.insert(datagram.end(), bad.begin(), bad.end());
    datagram.insert(datagram.end(), {0xFD, 0x03, 0x00, 0x55, 0xAA});
    appendFrame(&datagram, MavlinkGlobalPositionInt, Bytes(28, 0));
    Shown shown = show(datagram);
    EXPECT_EQ(shown.summary, "HEARTBEAT (0) + 1 more");
    EXPECT_TRUE(contains(shown.details, "custom_mode: 16843009\n"));
    EXPECT_TRUE(contains(shown.details, "hdg: 0.00\xC2\xB0\n"));
    EXPECT_FALSE(contains(shown.details, "custom_mode: 33686018"));
}

Bytes encapsulated(u8 type, const Bytes& body) {
    u8 frame[kPayloadFrameWriterBytes];
    u8 sequence = 0;
    ByteWriter writer = makeByteWriter(frame, sizeof(frame));
    LengthFieldMark mark = beginPayloadFrame(&sequence, type, &writer);
    appendBytes(body.data(), (i64)body.size(), &writer);
    finishPayloadFrame(&mark, &writer);
    Bytes payload = {0x12, 0x00};  // the message's sequence number
    payload.insert(payload.end(), frame, frame + writer.length);
    Bytes datagram;
    appendFrame(&datagram, MavlinkEncapsulatedData, payload, 1);
    return datagram;
}

TEST(RecordedMavlink, CountersFrameOfTwelveBytesShowsOnlyTheThreeRangefinders) {
    Bytes body = {0, 0, 0x04, 0xD2, 0xFF, 0xFF, 0xFF, 0x9C, 0, 0, 0, 7};  // 12.34 m, -1.00 m, 0.07 m
    Shown shown = show(encapsulated(PayloadFrameCounters, body));
    EXPECT_EQ(shown.summary, "ENCAPSULATED_DATA (131)");
    EXPECT_EQ(shown.details, "forward rangefinder: 12.34 m\ndownward rangefinder: -1.00 m\ncamera rangefinder: 0.07 m\n");
    EXPECT_EQ(show(encapsulated(PayloadFrameOrvikStatus, body)).details, "");
}

// A NextVision system report: version bytes 4, 2, 1 at 37 to 39, CPU temperature 45.4.
Bytes nextVisionReport(u16 reportType) {
    Bytes report(62);
    report[0] = (u8)reportType;
    report[1] = (u8)(reportType >> 8);
    putF32(&report, 2, 12.5f);
    putF32(&report, 29, 45.4f);
    putF32(&report, 33, 3.25f);
    putF32(&report, 53, -0.5f);
    report[37] = 4;
    report[38] = 2;
    report[39] = 1;
    report[41] = 0xCD;
    report[42] = 0xAB;
    Bytes datagram;
    appendFrame(&datagram, 248, report, 1);
    return datagram;
}

TEST(RecordedMavlink, SystemReportReadsItsVersionAndTemperaturesInBothUnitSystems) {
    Shown metric = show(nextVisionReport(0));
    EXPECT_EQ(metric.summary, "V2_EXTENSION (248)   System Report");
    EXPECT_TRUE(contains(metric.details, "Report type: 0\nRoll: 12.500000\xC2\xB0\n"));
    EXPECT_TRUE(contains(metric.details, "TRIP Version Number: 1.2.4\n"));
    EXPECT_TRUE(contains(metric.details, "CPU Temperature: 45 \xC2\xB0" "C\n"));
    EXPECT_TRUE(contains(metric.details, "Camera Temperature: -1 \xC2\xB0" "C\n"));  // half away from zero
    EXPECT_TRUE(contains(metric.details, "Camera Version Number: 3.250\n"));
    EXPECT_TRUE(contains(metric.details, "BIT Report: 0xABCD\n"));
    EXPECT_TRUE(contains(metric.details, "Network Type: 0\n"));
    Shown imperial = show(nextVisionReport(0), UnitsImperialFps);
    EXPECT_TRUE(contains(imperial.details, "CPU Temperature: 114 \xC2\xB0" "F\n"));
}

TEST(RecordedMavlink, OtherReportTypesShowOnlyTheirTypeAndTheNamedOnesTheirName) {
    Shown los = show(nextVisionReport(1));
    EXPECT_EQ(los.summary, "V2_EXTENSION (248)   LOS");
    EXPECT_EQ(los.details, "Report type: 1\n");
    Shown three = show(nextVisionReport(3));
    EXPECT_EQ(three.summary, "V2_EXTENSION (248)");
    EXPECT_EQ(three.details, "Report type: 3\n");
}

Bytes paramExtValue(u8 type, const Bytes& value) {
    Bytes payload(149);
    memcpy(payload.data() + 4, "CAM_EV", 6);
    memcpy(payload.data() + 20, value.data(), value.size());
    payload[148] = type;
    Bytes datagram;
    appendFrame(&datagram, 322, payload, 1);
    return datagram;
}

TEST(RecordedMavlink, ExtendedParameterShowsItsValueForByteLongAndDoubleOnly) {
    EXPECT_EQ(show(paramExtValue(1, {200})).summary, "PARAM_EXT_VALUE (322)   CAM_EV = 200");
    EXPECT_EQ(show(paramExtValue(8, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})).summary,
              "PARAM_EXT_VALUE (322)   CAM_EV = -2");
    EXPECT_EQ(show(paramExtValue(9, {0, 0, 0x80, 0x3F})).summary, "PARAM_EXT_VALUE (322)   CAM_EV");
    f64 value = -2.75;
    Bytes bytes(8);
    memcpy(bytes.data(), &value, 8);
    EXPECT_EQ(show(paramExtValue(10, bytes)).summary, "PARAM_EXT_VALUE (322)   CAM_EV = -2.75");
    EXPECT_EQ(show(paramExtValue(10, bytes)).details, "");
}

TEST(RecordedMavlink, CameraInformationAndSettingsShowNoLinesOnlyTheirName) {
    Bytes information(235);
    memcpy(information.data() + 30, "Maker", 5);
    Bytes settings(13);
    settings[4] = 1;
    for (auto [id, payload, name] : {std::tuple<u32, Bytes, std::string>{259, information, "CAMERA_INFORMATION (259)"},
                                     {260, settings, "CAMERA_SETTINGS (260)"}}) {
        Bytes datagram;
        appendFrame(&datagram, id, payload, 1);
        Shown shown = show(datagram);
        EXPECT_EQ(shown.summary, name);
        EXPECT_EQ(shown.details, "");
    }
}

TEST(RecordedMavlink, ImageWithAnEmptyUrlEndsTheRowInThreeBlanks) {
    Bytes captured(255);
    captured[48] = 1;
    Bytes datagram;
    appendFrame(&datagram, 263, captured, 1);
    Shown shown = show(datagram);
    EXPECT_EQ(shown.summary, "CAMERA_IMAGE_CAPTURED (263)   ");
    EXPECT_TRUE(contains(shown.details, "camera_id: 1\ncapture_success: 0\nurl: \n"));
}

TEST(RecordedMavlink, CommandWithoutANameShowsOnlyTheMessage) {
    Bytes command(33);
    command[28] = 0x90;  // 400
    command[29] = 0x01;
    Bytes datagram;
    appendFrame(&datagram, MavlinkCommandLong, command);
    EXPECT_EQ(show(datagram).summary, "COMMAND_LONG (76)   MAV_CMD_COMPONENT_ARM_DISARM");
    command[28] = 0xFE;  // 65534: no command
    command[29] = 0xFF;
    datagram.clear();
    appendFrame(&datagram, MavlinkCommandLong, command);
    EXPECT_EQ(show(datagram).summary, "COMMAND_LONG (76)");
}

TEST(RecordedMavlink, BatteryChargeIsInAmpereHoursAndALargeEnergyDoesNotOverflow) {
    Bytes battery(54);
    put32(&battery, 0, 1500);        // mAh
    put32(&battery, 4, 2000000000);  // hJ: times 100 does not fit 32 bits
    Bytes datagram;
    appendFrame(&datagram, 147, battery, 1);
    Shown shown = show(datagram);
    EXPECT_TRUE(contains(shown.details, "current_consumed: 1.500 Ah\n"));
    EXPECT_TRUE(contains(shown.details, "energy_consumed: 200000000000 J\n"));
    EXPECT_TRUE(contains(shown.details, "cell 14: 0.000 V\nmode: 0\n"));
}

TEST(RecordedMavlink, OnlyLinkDatagramsAreDecodedAndSentOnesAreGrey) {
    for (u8 type : {1, 2, 3, 4}) EXPECT_TRUE(isDecodedMavlinkEntry(type));
    for (u8 type : {0, 5, 6, 7, 10}) EXPECT_FALSE(isDecodedMavlinkEntry(type));
    EXPECT_EQ(mavlinkEntryRowColor(1), 0xFFFFFFFFu);
    EXPECT_EQ(mavlinkEntryRowColor(2), 0xFFFFFFFFu);
    EXPECT_EQ(mavlinkEntryRowColor(3), 0xFFEEEEEEu);
    EXPECT_EQ(mavlinkEntryRowColor(4), 0xFFEEEEEEu);
}

}  // namespace
