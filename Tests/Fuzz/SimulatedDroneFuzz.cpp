// The simulated drone and its payload devices over arbitrary messages and steps: every message the
// ground station may send (with any payload, checksums aside), frames of time (also none or
// negative), sticks and the payload command readers. Whatever arrives, the drone's position stays
// finite, its mission store within bounds, and everything it queues is a whole MAVLink 1 frame that
// reads back with its checksum.
#include "Core/Preferences.h"
#include "Drone/SimulatedDroneInternal.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

static void fail(int line) {
    fprintf(stderr, "SimulatedDroneFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static const u32 kIds[] = {0, 20, 23, 42, 43, 44, 45, 47, 51, 73, 76, 131};

static void drainQueue(Socket* socket) {
    while (PacketSlot* slot = oldestQueuedPacket(&socket->sendQueue)) {
        check(!slot->writer.overflow);
        MavlinkMessage message{};
        i32 end = (i32)slot->writer.length;
        i32 position = parseMavlinkBytes(&message, slot->data, 0, end);
        check(message.haveMessage && message.version == 1 && position == end);
        dropOldestQueuedPacket(&socket->sendQueue);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<Socket> socket = std::make_unique<Socket>();
    auto drone = std::make_unique<SimulatedDrone>();
    Preferences preferences{};
    preferences.simulatorTakeoffLatitude = 47.4;
    preferences.simulatorTakeoffLongitude = 8.5;
    u64 now = 1000000;
    initialiseSimulatedDrone(drone.get(), now);
    drone->groundStation = AddressRecord{14550, 4, 0, {127, 0, 0, 1}};
    drone->groundStationId = 255 << 8 | 190;
    AddressRecord source = drone->groundStation;
    size_t at = 0;
    while (at + 2 <= size) {
        u8 selector = data[at];
        u8 length = data[at + 1];
        at += 2;
        if (selector & 0x80) {
            // A frame: sticks and time from the two bytes, the flags of the payload devices.
            f32 sticks[4] = {(f32)((length & 3) - 1), (f32)(((length >> 2) & 3) - 1), (f32)(((length >> 4) & 3) - 1),
                             (f32)(((length >> 6) & 3) - 1)};
            i64 step = ((i64)(selector & 0x3F) - 8) * 50000;
            now = (u64)((i64)now + step);
            preferences.simulateOrvik = selector & 0x40 ? 1 : 0;
            preferences.simulateStrobe = length & 1;
            f64 dt = (f64)step / 1e6;
            moveSimulatedDrone(drone.get(), sticks, dt, preferences.simulatorTakeoffLongitude,
                               preferences.simulatorTakeoffLatitude, socket.get());
            updateSimulatedArming(drone.get(), sticks, now);
            simPayloadSendStatus(socket.get(), &source, &drone->orvik, now);
            simPayloadSendFrame7(socket.get(), &source, &drone->vosk[0], 0, now);
            simPayloadSendFrame10(socket.get(), &source, &drone->strobe, now);
            sendSimulatedPeriodicMessages(drone.get(), socket.get(), preferences.simulatorTakeoffLongitude,
                                          preferences.simulatorTakeoffLatitude, 0, now);
        } else {
            MavlinkMessage message{};
            message.messageId = kIds[selector % (sizeof(kIds) / sizeof(kIds[0]))];
            message.version = 1;
            message.source = (u16)(selector & 0x20 ? 255 << 8 | 190 : 1 << 8 | 1);
            size_t count = length < size - at ? length : size - at;
            std::memcpy(message.payload, data + at, count);
            message.payloadLength = (u16)count;
            at += count;
            handleSimulatedDroneMessage(drone.get(), &message, &source, &preferences, socket.get(), now);
            handleSimulatedKtqPacketA(&message, &drone->vosk[1], now);
        }
        check(std::isfinite(drone->east) && std::isfinite(drone->north) && std::isfinite(drone->altitude));
        check(std::isfinite(drone->heading));
        check(drone->storedCount <= kSimulatedMissionItems && drone->expectedCount <= kSimulatedMissionItems);
        check(drone->currentItem >= 0 && drone->currentItem <= drone->storedCount);
        drainQueue(socket.get());
    }
    return 0;
}
