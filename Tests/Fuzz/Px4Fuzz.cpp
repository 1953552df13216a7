// The PX4 handling over arbitrary vehicle messages: the input is a run of {message id choice,
// payload length, payload} records fed to handlePx4Message, with a frame of controlPx4 after each.
// Whatever arrives, the upload state stays within its list, the plan within its capacity, a command
// refusal is a whole text, and every frame that the control queues reads back as a good MAVLink
// frame.
#include "Core/Preferences.h"
#include "Core/Sound.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Mission/WaypointMissionEditor.h"

#include <cstdio>
#include <cstring>
#include <new>

static void fail(int line) {
    fprintf(stderr, "Px4Fuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

namespace {

const u32 kIds[] = {0, 22, 40, 44, 46, 47, 51, 245, 12901, 12902, 33, 24, 77};

struct World {
    Socket socket;
    Px4State px4;
    VehicleState vehicle;
    Preferences preferences;
    WaypointMissionEditor plan;
    SoundQueue sounds;
    MavlinkTrafficStats stats;
    u8 sequence;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = static_cast<World*>(::operator new(sizeof(World)));
    std::memset((void*)world, 0, sizeof(World));
    World& w = *world;
    w.vehicle.vehicleId = 0x0101;
    w.vehicle.landedState = 2;
    w.vehicle.globalPosition.time = 1;
    w.preferences.maxWaypointsToUpload = 65535;
    w.preferences.waypointCurveRange = 10;
    w.plan.waypointCount = 5;
    for (i32 i = 0; i < 5; i++) {
        w.plan.waypoints[i].x = 0.01 * i;
        w.plan.waypoints[i].y = 0.2;
        w.plan.waypoints[i].id = (u32)(i + 1);
    }
    DroneOutput output{&w.socket, makeAddressRecord(4, (const u8*)"\x7f\x00\x00\x01", 14555), &w.sequence, 0xFFBE,
                       &w.stats};
    AutopilotFrame frame{};
    frame.vehicle = &w.vehicle;
    frame.plan = &w.plan;
    frame.sounds = &w.sounds;
    frame.preferences = &w.preferences;
    frame.output = &output;
    frame.now = 1000000;
    size_t position = 0;
    while (position + 2 <= size) {
        MavlinkMessage message{};
        message.messageId = kIds[data[position] % (sizeof(kIds) / sizeof(kIds[0]))];
        u8 flags = data[position];
        size_t length = data[position + 1];
        position += 2;
        if (length > size - position) length = size - position;
        std::memcpy(message.payload, data + position, length);
        message.payloadLength = (u16)length;
        message.source = 0x0101;
        position += length;
        if (flags & 0x80) w.vehicle.uploadRequest = 1;
        if (flags & 0x40) w.vehicle.stopRequest = 1;
        if ((flags & 0x30) == 0x30) w.px4.flightActions[flags % kPx4FlightActions] = 1;
        handlePx4Message(&message, &w.px4, &w.vehicle, &w.plan, &output, frame.now);
        frame.now += 20000 + (u64)(flags & 0x0F) * 300000;
        controlPx4(&w.px4, &frame);

        check(w.px4.startState <= MissionStarted);
        check(w.px4.mission.count <= kMaxMissionItems);
        // No list yet (the zero-filled record), none requested yet, or an item of the list.
        check(w.px4.mission.count == 0 || w.px4.mission.nextRequested == 0xFFFF ||
              w.px4.mission.nextRequested < w.px4.mission.count);
        check(w.plan.waypointCount >= 0 && w.plan.waypointCount <= kMaxWaypoints);
        // A refusal is a whole text that names what was refused.
        const FixedString& refusal = w.vehicle.commandRefusalText;
        check(refusal.length <= 253 && refusal.text[refusal.length] == 0);
        check(refusal.length == 0 || std::strstr(refusal.text, " refused (") != nullptr);
        // Everything queued is a whole, good frame; then the queue is emptied as a socket step would.
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
