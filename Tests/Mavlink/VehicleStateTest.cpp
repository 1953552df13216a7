#include "Mavlink/VehicleState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace {

MavlinkMessage messageOf(u32 id, const u8* payload, u16 length, u16 source = 0x0101) {
    MavlinkMessage message{};
    message.haveMessage = 1;
    message.messageId = id;
    message.source = source;
    message.payloadLength = length;
    std::memcpy(message.payload, payload, length);
    return message;
}

TEST(VehicleTelemetry, UnknownBatteryAndHeadingValues) {
    auto vehicle = std::make_unique<VehicleState>();
    u8 status[31] = {};
    status[14] = 0xFF;  // voltage UINT16_MAX: not known
    status[15] = 0xFF;
    status[16] = 0xFF;  // current -1: not known
    status[17] = 0xFF;
    status[30] = 0xFF;  // remaining -1
    MavlinkMessage message = messageOf(MavlinkSysStatus, status, sizeof(status));  // no extension fields
    TelemetryResult result;
    decodeTelemetryMessage(&result, &message, vehicle.get(), 77);
    EXPECT_EQ(result.taken, 1u);
    EXPECT_EQ(result.positionUpdated, 0u);
    EXPECT_TRUE(std::isnan(vehicle->batteryVoltage));
    EXPECT_TRUE(std::isnan(vehicle->batteryCurrent));
    EXPECT_EQ(vehicle->batteryRemaining, -1);
    EXPECT_EQ(vehicle->sensorsPresent, 0u);
    EXPECT_EQ(vehicle->sysStatusTime, 77u);

    u8 position[28] = {};
    position[26] = 0xFF;
    position[27] = 0xFF;
    message = messageOf(MavlinkGlobalPositionInt, position, sizeof(position));
    decodeTelemetryMessage(&result, &message, vehicle.get(), 78);
    EXPECT_EQ(result.positionUpdated, 1u);
    EXPECT_TRUE(std::isnan(vehicle->heading));

    // Messages outside the telemetry set are not taken.
    message = messageOf(MavlinkCommandLong, position, 28);
    decodeTelemetryMessage(&result, &message, vehicle.get(), 79);
    EXPECT_EQ(result.taken, 0u);
}

TEST(VehicleTelemetry, StatusTextRingKeepsTheNewest256) {
    auto vehicle = std::make_unique<VehicleState>();
    EXPECT_EQ(newestStatusText(vehicle.get()), nullptr);
    for (int i = 0; i < 300; i++) {
        u8 payload[54] = {};
        payload[0] = (u8)(i % 8);
        std::string text = "Message " + std::to_string(i);
        if (i == 299) {
            text = std::string(50, 'x');  // a full text carries no terminating zero
        }
        std::memcpy(payload + 1, text.data(), text.size());
        MavlinkMessage message = messageOf(MavlinkStatusText, payload, 54);
        TelemetryResult result;
        decodeTelemetryMessage(&result, &message, vehicle.get(), 1000 + (u64)i);
    }
    EXPECT_EQ(vehicle->statusTextCount, 300u);
    const StatusTextEntry* newest = newestStatusText(vehicle.get());
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(std::string(newest->text), std::string(50, 'x'));
    EXPECT_EQ(newest->time, 1299u);
    EXPECT_EQ(vehicle->statusTextNewest, (u8)(299 % 256));
    EXPECT_EQ(vehicle->statusTextOldest, (u8)(300 % 256));
    EXPECT_STREQ(vehicle->statusTexts[vehicle->statusTextOldest].text, "Message 44");
}

TEST(VehicleTelemetry, ReferencePositionPrefersTheSelectedSecondPosition) {
    auto vehicle = std::make_unique<VehicleState>();
    vehicle->home = {1, 8.5, 47.4, 500};
    vehicle->secondPosition = {2, 9.0, 46.0, 400};
    vehicle->longitudeOffset = 0.25;
    vehicle->latitudeOffset = -0.5;
    LongitudeLatitude reference = vehiclePosition(vehicle.get());
    EXPECT_DOUBLE_EQ(reference.longitude, 8.75);
    EXPECT_DOUBLE_EQ(reference.latitude, 46.9);
    vehicle->secondPositionSelected = 1;
    reference = vehiclePosition(vehicle.get());
    EXPECT_DOUBLE_EQ(reference.longitude, 9.25);
    EXPECT_DOUBLE_EQ(reference.latitude, 45.5);
}

TEST(VehicleTelemetry, RcChannelsKeepThePreviousMessage) {
    auto vehicle = std::make_unique<VehicleState>();
    u8 payload[42] = {};
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < 18; i++) {
            payload[4 + 2 * i] = (u8)(round * 10 + i);
        }
        payload[40] = (u8)(round ? 99 : 6);  // a count above 18 is kept at 18
        MavlinkMessage message = messageOf(MavlinkRcChannels, payload, 42);
        TelemetryResult result;
        decodeTelemetryMessage(&result, &message, vehicle.get(), 500 + (u64)round);
    }
    EXPECT_EQ(vehicle->rcChannels.count, 18);
    EXPECT_EQ(vehicle->rcChannels.previousCount, 6);
    EXPECT_EQ(vehicle->rcChannels.values[3], 13);
    EXPECT_EQ(vehicle->rcChannels.previousValues[3], 3);
    EXPECT_EQ(vehicle->rcChannels.time, 501u);
    EXPECT_EQ(vehicle->rcChannels.previousTime, 500u);
}

}  // namespace
