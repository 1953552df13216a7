// The ArduCopter handling and the air-traffic list over arbitrary vehicle messages: the input is a run
// of {message id choice, payload length, payload} records fed to handleArduCopterMessage (and to
// decodeAdsbVehicle when it does not take them), with a frame of controlArduCopter and the flight
// phase after each. Whatever arrives, the upload stays within its list, each aircraft has one slot,
// the phase is one of its five values, and every queued frame reads back as a good MAVLink frame.
#include "Core/Preferences.h"
#include "Core/Sound.h"
#include "Drone/AirTraffic.h"
#include "Drone/DroneConnection.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Drone/FlightController/FlightPhase.h"
#include "Mission/WaypointMissionEditor.h"

#include <cstdio>
#include <cstring>
#include <new>

static void fail(int line) {
    fprintf(stderr, "ArduCopterFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

namespace {

const u32 kIds[] = {0, 40, 44, 47, 51, 253, 246, 246, 33, 24, 1, 30, 77};

struct World {
    Socket socket;
    ArduCopterState arduCopter;
    Px4State px4;
    VehicleState vehicle;
    Preferences preferences;
    WaypointMissionEditor plan;
    SoundQueue sounds;
    AirTrafficList traffic;
    MavlinkTrafficStats stats;
    u8 sequence;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = static_cast<World*>(::operator new(sizeof(World)));
    std::memset((void*)world, 0, sizeof(World));
    World& w = *world;
    w.vehicle.vehicleId = 0x0101;
    w.vehicle.autopilotKind = AutopilotArduCopter;
    w.vehicle.globalPosition.time = 1;
    w.vehicle.globalPosition.latitude = 47.4;
    w.vehicle.globalPosition.longitude = 8.5;
    w.arduCopter.remoteIdType = 1;
    w.preferences.maxWaypointsToUpload = 65535;
    w.preferences.waypointCurveRange = 10;
    w.preferences.adsbWarningCylinderAltitude = 1000;
    w.preferences.adsbWarningCylinderRadius = 5000;
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
        message.haveMessage = 1;
        message.source = 0x0101;
        position += length;
        if (flags & 0x80) w.vehicle.uploadRequest = 1;
        if (flags & 0x40) w.vehicle.stopRequest = 1;
        if ((flags & 0x30) == 0x30) w.arduCopter.flightActions[flags % kArduCopterFlightActions] = 1;
        w.vehicle.lastHeardTime = frame.now;
        if (!handleArduCopterMessage(&message, &w.arduCopter, &w.vehicle, &w.plan, &output, frame.now)) {
            TelemetryResult decoded;
            decodeTelemetryMessage(&decoded, &message, &w.vehicle, frame.now);
            if (!decoded.taken) decodeAdsbVehicle(&message, &w.vehicle, &w.preferences, &w.sounds, &w.traffic, frame.now);
        }
        frame.now += 20000 + (u64)(flags & 0x0F) * 300000;
        controlArduCopter(&w.arduCopter, &frame);
        updateFlightPhase(&w.vehicle, &w.px4, &w.arduCopter, frame.now);

        check(w.arduCopter.startState <= MissionStarted);
        check(w.arduCopter.mission.count <= kMaxMissionItems);
        check(w.arduCopter.lastRequestedIndex < (i32)w.arduCopter.mission.count || w.arduCopter.mission.count == 0);
        check(w.vehicle.flightPhase >= FlightPhaseNoVehicle && w.vehicle.flightPhase <= FlightPhaseMission);
        check(w.vehicle.stateText.length <= 253);
        for (i32 i = 0; i < kAirTrafficSlots; i++) {
            if (!(w.traffic.usedSlots >> i & 1)) continue;
            for (i32 j = i + 1; j < kAirTrafficSlots; j++) {
                check(!(w.traffic.usedSlots >> j & 1) || w.traffic.slots[j].icaoAddress != w.traffic.slots[i].icaoAddress);
            }
        }
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
