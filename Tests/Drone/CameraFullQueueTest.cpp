// A press that meets a full send queue is delayed, never lost: every camera's request flags and the
// gimbal's one-shot pointing request stay raised until their commands are queued.
#include "Core/Preferences.h"
#include "Drone/CameraControl.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

const u8 kLoopback[4] = {127, 0, 0, 1};

struct Bench {
    std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    std::unique_ptr<DroneConnection> connection = std::make_unique<DroneConnection>();
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    u8 sequence = 0;
    DroneOutput output{};
    DroneLinkInputs inputs{};
    u64 now = 100000000;

    Bench() {
        output = DroneOutput{socket.get(), makeAddressRecord(4, kLoopback, 14555), &sequence, 0xFFBE,
                             &connection->traffic[0]};
        inputs.preferences = preferences.get();
        preferences->videoStreamProtocol = VideoStreamQv;
        connection->vehicle.vehicleId = 0x0101;
        connection->cameraIdentity.cameraSource = 0x0164;
        connection->gremsyGimbal.gimbalSource = 0x019A;
    }
    void fill() {
        AddressRecord nowhere = makeAddressRecord(4, kLoopback, 9);
        while (queueSocketPacket(&nowhere, socket.get())) {
        }
    }
    // The COMMAND_LONG numbers queued, and an emptied queue.
    std::vector<int> drain() {
        std::vector<int> found;
        while (PacketSlot* slot = oldestQueuedPacket(&socket->sendQueue)) {
            MavlinkMessage message{};
            parseMavlinkBytes(&message, slot->data, 0, (i32)slot->writer.length);
            if (message.haveMessage && message.messageId == MavlinkCommandLong) {
                found.push_back(mavlinkU16(message.payload + 28));
            }
            dropOldestQueuedPacket(&socket->sendQueue);
        }
        return found;
    }
    void frame() {
        now += 20000;
        inputs.now = now;
        controlCameras(connection.get(), &inputs, &output);
    }
};

bool has(const std::vector<int>& commands, int command) {
    for (int c : commands) {
        if (c == command) return true;
    }
    return false;
}

}  // namespace

TEST(CameraFullQueue, EveryRequestWaitsForRoomInsteadOfBeingLost) {
    struct Case {
        u32 kind;
        u32* flags;
        u32 count;
    };
    Bench bench;
    DroneConnection* c = bench.connection.get();
    const Case cases[] = {
        {CameraProtocol, c->protocolCamera.requests, kProtocolCameraRequests},
        {CameraGimbal, c->workswellCamera.requests, kWorkswellRequests},
        {CameraNextVision, c->nextVision.requests, kNextVisionRequests},
    };
    for (const Case& k : cases) {
        c->cameraKind = k.kind;
        for (u32 i = 0; i < k.count; i++) k.flags[i] = 1;
        bench.fill();
        bench.frame();
        for (u32 i = 0; i < k.count; i++) EXPECT_EQ(k.flags[i], 1u) << "kind " << k.kind << " request " << i;
        bench.drain();
        for (int frame = 0; frame < 3; frame++) bench.frame();
        for (u32 i = 0; i < k.count; i++) EXPECT_EQ(k.flags[i], 0u) << "kind " << k.kind << " request " << i;
        bench.drain();
    }

    // The gimbal's one-shot pointing request.
    c->cameraKind = CameraNone;
    c->gremsyGimbal.requestPending = 1;
    bench.fill();
    bench.frame();
    EXPECT_EQ(c->gremsyGimbal.requestPending, 1u);
    bench.drain();
    bench.frame();
    EXPECT_EQ(c->gremsyGimbal.requestPending, 0u);
    EXPECT_TRUE(has(bench.drain(), 205));
}
