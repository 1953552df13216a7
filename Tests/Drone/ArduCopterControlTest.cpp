// The ArduCopter handling's own rules that the stand-in does not show: the state texts of unnamed
// modes and states, the basic ID and the flight actions kept through a full send queue, a vehicle that
// never enters AUTO is not commanded to it for ever, and who counts as asking to share.
#include "Core/Preferences.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/SharingRequest.h"
#include "Mission/WaypointMissionEditor.h"
#include "Network/Address.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct ArduCopterRig {
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    std::unique_ptr<ArduCopterState> state = std::make_unique<ArduCopterState>();
    std::unique_ptr<VehicleState> vehicle = std::make_unique<VehicleState>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    MavlinkTrafficStats stats{};
    u8 sequence = 0;
    DroneOutput output{};
    AutopilotFrame frame{};

    ArduCopterRig() {
        output.socket = socket.get();
        output.destination = makeAddressRecord(4, (const u8*)"\x7f\x00\x00\x01", 14555);
        output.sequence = &sequence;
        output.source = 0xFFBE;
        output.stats = &stats;
        vehicle->vehicleId = 0x0101;
        state->missionKnown = 1;
        frame.vehicle = vehicle.get();
        frame.preferences = preferences.get();
        frame.output = &output;
        frame.now = 10000000;
    }
    void heartbeat(u32 mode, u8 mavState) {
        MavlinkMessage message{};
        message.haveMessage = 1;
        message.messageId = MavlinkHeartbeat;
        ByteWriter payload = makeByteWriter(message.payload, sizeof(message.payload));
        appendU32Le(mode, &payload);
        appendU8(2, &payload);
        appendU8(3, &payload);
        appendU8(0x81, &payload);
        appendU8(mavState, &payload);
        appendU8(3, &payload);
        message.payloadLength = (u16)payload.length;
        handleArduCopterMessage(&message, state.get(), vehicle.get(), nullptr, &output, frame.now);
    }
    std::string stateText() const { return std::string(vehicle->stateText.text, vehicle->stateText.length); }
    // What is queued, oldest first, a COMMAND_LONG as "COMMAND PARAM2"; the queue is emptied.
    std::vector<std::string> drain() {
        std::vector<std::string> found;
        while (PacketSlot* slot = oldestQueuedPacket(&socket->sendQueue)) {
            MavlinkMessage message{};
            parseMavlinkBytes(&message, slot->data, 0, (i32)slot->writer.length);
            if (message.messageId == MavlinkCommandLong) {
                found.push_back(std::to_string(mavlinkU16(message.payload + 28)) + " " +
                                std::to_string((i32)mavlinkF32(message.payload + 4)));
            } else {
                found.push_back("message " + std::to_string(message.messageId));
            }
            dropOldestQueuedPacket(&socket->sendQueue);
        }
        return found;
    }
    void fill() {
        while (queueSocketPacket(&output.destination, socket.get())) {
        }
    }
};

TEST(ArduCopterControl, StateTextNamesModeAndStateOrTheirNumbers) {
    ArduCopterRig rig;
    rig.heartbeat(16, 4);
    EXPECT_EQ(rig.stateText(), "ACTIVE - POSHOLD");
    EXPECT_EQ(rig.vehicle->landedState, 2);
    rig.heartbeat(8, 4);
    EXPECT_EQ(rig.stateText(), "ACTIVE - UNKNOWN MODE (8)");
    rig.heartbeat(40, 6);
    EXPECT_EQ(rig.stateText(), "EMERGENCY - UNKNOWN MODE (40)");
    rig.heartbeat(27, 3);
    EXPECT_EQ(rig.stateText(), "STANDBY - AUTO RTL");
    EXPECT_EQ(rig.vehicle->landedState, 0);
    rig.heartbeat(0, 0);
    EXPECT_EQ(rig.stateText(), "UNKNOWN STATE (0)");
}

TEST(ArduCopterControl, BasicIdAndFlightActionsWaitForRoomInTheSendQueue) {
    ArduCopterRig rig;
    rig.state->heartbeatTime = rig.frame.now;
    rig.state->messageRateRequestTime = rig.frame.now;  // no rate requests in this frame
    rig.state->basicIdRequest = 1;
    rig.state->flightActions[ArduCopterActionReturn] = 1;
    rig.state->flightActions[ArduCopterActionEmergencyDisarm] = 1;
    rig.fill();
    controlArduCopter(rig.state.get(), &rig.frame);
    EXPECT_EQ(rig.state->basicIdRequest, 1u);
    EXPECT_EQ(rig.state->flightActions[ArduCopterActionReturn], 1u);
    EXPECT_EQ(rig.state->flightActions[ArduCopterActionEmergencyDisarm], 1u);

    rig.socket->sendQueue = PacketQueue{};
    rig.frame.now += 20000;
    controlArduCopter(rig.state.get(), &rig.frame);
    EXPECT_EQ(rig.drain(), (std::vector<std::string>{"message 12900", "176 6", "400 21196"}));
    EXPECT_EQ(rig.state->basicIdRequest, 0u);
    EXPECT_EQ(rig.state->flightActions[ArduCopterActionReturn], 0u);
    EXPECT_EQ(rig.state->flightActions[ArduCopterActionEmergencyDisarm], 0u);
}

TEST(ArduCopterControl, AcceptedMissionThatNeverEntersAutoGivesUpWithText) {
    ArduCopterRig rig;
    rig.state->startState = MissionUploaded;
    rig.state->missionMessageTime = rig.frame.now;
    i32 autoCommands = 0;
    for (i32 i = 0; i < 400; i++) {
        controlArduCopter(rig.state.get(), &rig.frame);
        for (const std::string& command : rig.drain()) autoCommands += command == "176 3";
        rig.frame.now += 20000;
    }
    // AUTO every half second for five seconds, then the text and no more commands.
    EXPECT_GE(autoCommands, 10);
    EXPECT_LE(autoCommands, 11);
    EXPECT_EQ(rig.state->startState, (u32)MissionIdle);
    EXPECT_EQ(std::string(rig.vehicle->missionStatusText.text), kStartTimedOutText);
}

TEST(SharingRequest, UndecidedPeerAwayFromTheReferenceAddressIsPending) {
    auto host = std::make_unique<SecureLinkHost>();
    auto preferences = std::make_unique<Preferences>();
    EXPECT_EQ(hasPendingSharingRequest(host.get(), preferences.get()), 0u);
    const u8 listener[4] = {192, 168, 7, 20};
    const u8 other[4] = {192, 168, 7, 21};
    host->referenceAddress = makeAddressRecord(4, listener, 0);
    host->peers[2].address = makeAddressRecord(4, listener, 40000);
    EXPECT_EQ(hasPendingSharingRequest(host.get(), preferences.get()), 0u) << "the listener itself, any port";
    host->peers[2].counter = 3;
    EXPECT_EQ(hasPendingSharingRequest(host.get(), preferences.get()), 1u);
    host->peers[2].counter = 0;
    host->peers[4].address = makeAddressRecord(4, other, 40000);
    EXPECT_EQ(hasPendingSharingRequest(host.get(), preferences.get()), 1u);
    host->peers[4].userDecision = 1;
    EXPECT_EQ(hasPendingSharingRequest(host.get(), preferences.get()), 0u);
    preferences->relayModeDisableEncryption = 1;
    EXPECT_EQ(hasPendingSharingRequest(host.get(), preferences.get()), 1u);
}

}  // namespace
