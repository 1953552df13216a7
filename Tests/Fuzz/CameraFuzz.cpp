// The camera and gimbal handlers over arbitrary messages: the input is a run of {message id choice,
// source choice, payload length, payload} records offered to the connection's camera handlers, with
// a frame of the camera control after each. Whatever arrives, the kind stays one of the four, the
// gimbal's pitch target stays within its limits, and everything the controls queue reads back as one
// good MAVLink frame. (A NextVision camera holding a point-at lends the targets its own angles, so
// they have no fixed bounds.)
#include "Core/Preferences.h"
#include "Drone/CameraControl.h"

#include <cstdio>
#include <cstring>
#include <new>

static void fail(int line) {
    fprintf(stderr, "CameraFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

namespace {

const u32 kIds[] = {0, 22, 248, 259, 260, 261, 262, 263, 265, 281, 285, 322};
const u16 kSources[] = {0x0164, 0x019A, 0xFFBE, 0x0101, 0x029A};

struct World {
    Socket socket;
    DroneConnection connection;
    Preferences preferences;
    u8 sequence;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = static_cast<World*>(::operator new(sizeof(World)));
    std::memset((void*)world, 0, sizeof(World));
    World& w = *world;
    w.preferences.videoStreamProtocol = VideoStreamQv;
    w.preferences.recenterPositionPitch = -90;
    DroneConnection* c = &w.connection;
    c->vehicle.vehicleId = 0x0101;
    DroneOutput output{&w.socket, makeAddressRecord(4, (const u8*)"\x7f\x00\x00\x01", 14555), &w.sequence, 0xFFBE,
                       &c->traffic[0]};
    DroneLinkInputs inputs{};
    inputs.preferences = &w.preferences;
    inputs.now = 1000000;
    inputs.videoHeight = 576;
    size_t position = 0;
    while (position + 3 <= size) {
        MavlinkMessage message{};
        u8 flags = data[position];
        message.messageId = kIds[flags % (sizeof(kIds) / sizeof(kIds[0]))];
        message.source = kSources[data[position + 1] % (sizeof(kSources) / sizeof(kSources[0]))];
        size_t length = data[position + 2];
        position += 3;
        if (length > size - position) length = size - position;
        std::memcpy(message.payload, data + position, length);
        message.payloadLength = (u16)length;
        position += length;
        handleCameraMessages(c, &message, inputs.now);
        if (flags & 0x80) c->protocolCamera.requests[flags % kProtocolCameraRequests] = 1;
        if (flags & 0x40) c->workswellCamera.requests[flags % kWorkswellRequests] = 1;
        if ((flags & 0xC0) == 0xC0) c->nextVision.requests[flags % kNextVisionRequests] = 1;
        c->gimbalPointing.pitchInput = (f32)((i32)(flags & 0x0F) - 8) * 10;
        c->gimbalPointing.yawInput = (f32)((i32)(data[position - length - 2] & 0x0F) - 8) * 10;
        if (flags & 0x20) c->cameraView.zoomWanted = 1, c->cameraView.wantedTangent = (flags & 7) * 0.1;
        inputs.now += 20000 + (u64)(flags & 0x0F) * 100000;
        controlCameras(c, &inputs, &output);

        check(c->cameraKind <= CameraProtocol);
        check(!(c->gremsyGimbal.pitchTarget > 35) && !(c->gremsyGimbal.pitchTarget < -90));
        while (PacketSlot* slot = oldestQueuedPacket(&w.socket.sendQueue)) {
            check(!slot->writer.overflow);
            MavlinkMessage back{};
            i32 end = (i32)slot->writer.length;
            i32 next = parseMavlinkBytes(&back, slot->data, 0, end);
            check(back.haveMessage && next == end);
            dropOldestQueuedPacket(&w.socket.sendQueue);
        }
    }
    return 0;
}
