// The PX4 control's own rules that no peer shows: a flight action survives a full send queue, the
// item list's caps, the distance across the date line, the upload failure texts, the mode tones and
// the words of a refused command.
#include "Core/Preferences.h"
#include "Core/Sound.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Mission/WaypointMissionEditor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

struct ControlRig {
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    std::unique_ptr<Px4State> px4 = std::make_unique<Px4State>();
    std::unique_ptr<VehicleState> vehicle = std::make_unique<VehicleState>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    std::unique_ptr<WaypointMissionEditor> plan = std::make_unique<WaypointMissionEditor>();
    std::unique_ptr<SoundQueue> sounds = std::make_unique<SoundQueue>();
    MavlinkTrafficStats stats{};
    u8 sequence = 0;
    DroneOutput output{};
    AutopilotFrame frame{};

    ControlRig() {
        output.socket = socket.get();
        output.destination = makeAddressRecord(4, (const u8*)"\x7f\x00\x00\x01", 14555);
        output.sequence = &sequence;
        output.source = 0xFFBE;
        output.stats = &stats;
        vehicle->vehicleId = 0x0101;
        px4->heartbeatTime = 1;
        px4->missionKnown = 1;
        frame.vehicle = vehicle.get();
        frame.plan = plan.get();
        frame.sounds = sounds.get();
        frame.preferences = preferences.get();
        frame.output = &output;
        frame.now = 10000000;
    }
    i32 queued() const { return queuedPacketCount(&socket->sendQueue); }
};

TEST(Px4Control, FlightActionStaysRequestedWhileTheSendQueueIsFull) {
    ControlRig rig;
    while (queueSocketPacket(&rig.output.destination, rig.socket.get())) {
    }
    rig.px4->flightActions[Px4ActionEmergencyDisarm] = 1;
    controlPx4(rig.px4.get(), &rig.frame);
    EXPECT_EQ(rig.px4->flightActions[Px4ActionEmergencyDisarm], 1u);

    rig.socket->sendQueue = PacketQueue{};
    rig.frame.now += 20000;
    controlPx4(rig.px4.get(), &rig.frame);
    EXPECT_EQ(rig.px4->flightActions[Px4ActionEmergencyDisarm], 0u);
    ASSERT_EQ(rig.queued(), 1);
    const PacketSlot& slot = rig.socket->sendQueue.slots[rig.socket->sendQueue.readIndex];
    MavlinkMessage message{};
    parseMavlinkBytes(&message, slot.data, 0, (i32)slot.writer.length);
    ASSERT_TRUE(message.haveMessage);
    EXPECT_EQ(message.messageId, (u32)MavlinkCommandLong);
    EXPECT_EQ(mavlinkU16(message.payload + 28), 400);
    EXPECT_EQ(mavlinkF32(message.payload + 4), 21196.0f);
}

TEST(Px4Control, ItemListStopsAtTheWaypointCapAndNeverExceeds102Items) {
    ControlRig rig;
    rig.plan->waypointCount = kMaxWaypoints;
    for (i32 i = 0; i < kMaxWaypoints; i++) {
        rig.plan->waypoints[i].x = 0.02 + i * 1e-6;
        rig.plan->waypoints[i].y = 0.1;
        rig.plan->waypoints[i].altitude = 40;
    }
    rig.vehicle->globalPosition.relativeAltitude = 10;
    MissionItemList list{};
    rig.preferences->maxWaypointsToUpload = 10;
    buildMissionItemList(&list, rig.plan.get(), rig.vehicle.get(), rig.preferences.get(), 5, 1);
    EXPECT_EQ(list.count, 13);  // speed, climb, 10 waypoints, the last again
    EXPECT_EQ(rig.plan->waypoints[9].uploadMark, 1u);
    EXPECT_EQ(rig.plan->waypoints[10].uploadMark, 0u);
    rig.preferences->maxWaypointsToUpload = 65535;
    buildMissionItemList(&list, rig.plan.get(), rig.vehicle.get(), rig.preferences.get(), 5, 1);
    EXPECT_EQ(list.count, kMaxMissionItems);
    EXPECT_EQ(list.items[101].param2, 1.0f);
    EXPECT_EQ(list.items[101].longitude, list.items[100].longitude);
}

TEST(Px4Control, DistanceAcrossTheDateLineIsTheShortWay) {
    f64 result[3];
    mercatorDistanceAndDirection(result, Vec2{0.4999, 0}, Vec2{-0.4999, 0});
    EXPECT_NEAR(result[0], 0.0002 * 360 * 111319.5, 50);
    EXPECT_NEAR(result[1], 1.0, 1e-9);
    mercatorDistanceAndDirection(result, Vec2{0.1, 0.1}, Vec2{0.1, 0.1});
    EXPECT_EQ(result[0], 0.0);
    EXPECT_EQ(result[1], 0.0);
    EXPECT_EQ(result[2], 0.0);
}

TEST(Px4Control, RefusalAfterTheFourthWaypointNamesIt) {
    MissionItemList list{};
    list.count = 5;
    for (MissionItem& item : list.items) item.command = 16;
    list.nextRequested = 3;
    FixedString text = missionUploadFailureText(7, &list);
    EXPECT_STREQ(text.text, "Upload Failed (Accept Radius of WP 4 has an invalid value)");
    list.nextRequested = 0xFFFF;
    EXPECT_STREQ(missionUploadFailureText(7, &list).text, "Upload Failed (Unrecognized error 7)");
}

TEST(Px4Control, EachModeChangePlaysItsToneOnce) {
    ControlRig rig;
    const u8 modes[] = {kPx4MainPosctl, kPx4MainPosctl, kPx4MainAltctl, kPx4MainAuto, kPx4MainAuto};
    const u32 expected[] = {2, 0, 2, 1, 0};
    for (size_t i = 0; i < sizeof(modes); i++) {
        u32 before = pendingSoundCount(rig.sounds.get());
        rig.px4->mainMode = modes[i];
        rig.px4->subMode = kPx4SubLoiter;
        rig.frame.now += 100000;
        controlPx4(rig.px4.get(), &rig.frame);
        EXPECT_EQ(pendingSoundCount(rig.sounds.get()) - before, expected[i]) << i;
    }
}

}  // namespace

namespace {

// COMMAND_ACK as the vehicle sends it: command, result, progress, result_param2, then the target
// (0 in a MAVLink 1 frame, which has no room for it).
MavlinkMessage commandAck(u16 command, u8 result, u16 target) {
    MavlinkMessage message{};
    message.messageId = 77;
    message.source = 0x0101;
    message.payload[0] = (u8)command;
    message.payload[1] = (u8)(command >> 8);
    message.payload[2] = result;
    message.payload[8] = (u8)(target >> 8);
    message.payload[9] = (u8)target;
    message.payloadLength = 10;
    return message;
}

// A refused command is named by the flight action that sent it while that is recent, else by its
// MAVLink name; accepted and in-progress answers, and answers to another station, say nothing.
TEST(Px4Control, RefusalsNameTheActionOrTheCommandAndTheResult) {
    ControlRig rig;
    rig.vehicle->autopilotKind = AutopilotPx4;
    rig.px4->flightActions[Px4ActionTakeoff] = 1;
    controlPx4(rig.px4.get(), &rig.frame);
    const u64 sent = rig.frame.now;
    struct Case {
        u16 command;
        u8 result;
        u16 target;
        u64 after;
        const char* shown;  // null: nothing new
    };
    const Case cases[] = {
        {176, 2, 0, 100000, "Takeoff refused (denied)"},
        {176, 1, 0xFFBE, 200000, "Takeoff refused (temporarily rejected)"},
        {176, 4, 0, 4999999, "Takeoff refused (failed)"},
        {176, 2, 0, 5000000, "DO_SET_MODE refused (denied)"},  // no longer the take-off's answer
        {400, 3, 0, 100000, "COMPONENT_ARM_DISARM refused (unsupported)"},
        {246, 6, 0, 100000, "PREFLIGHT_REBOOT_SHUTDOWN refused (cancelled)"},
        {176, 9, 0, 100000, "Takeoff refused (unsupported frame)"},
        {64999, 42, 0, 100000, "Command 64999 refused (result 42)"},
        {176, 0, 0, 100000, nullptr},
        {176, 5, 0, 100000, nullptr},
        {176, 2, 0xFF01, 100000, nullptr},  // another ground station's
    };
    for (const Case& c : cases) {
        rig.vehicle->commandRefusalText = FixedString{};
        rig.vehicle->commandRefusalTime = 0;
        MavlinkMessage ack = commandAck(c.command, c.result, c.target);
        EXPECT_EQ(handlePx4Message(&ack, rig.px4.get(), rig.vehicle.get(), rig.plan.get(), &rig.output, sent + c.after),
                  1u);
        EXPECT_STREQ(rig.vehicle->commandRefusalText.text, c.shown ? c.shown : "") << c.command << " " << (int)c.result;
        EXPECT_EQ(rig.vehicle->commandRefusalTime, c.shown ? sent + c.after : 0u);
    }
}

}  // namespace
