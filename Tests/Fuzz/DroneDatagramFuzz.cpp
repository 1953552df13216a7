// The drone link's datagram reading over arbitrary datagrams from the drone's endpoint, from another
// port of the drone's address and from a stranger, with a fixed drone address or in autodetect. The
// input is a run of {flags, length, bytes} records, each handed to the drone socket as one datagram
// for one frame of controlDrone. With a fixed address a stranger's datagram is counted and changes
// nothing of the vehicle, and one from another port of the drone's address never reaches the vehicle
// (only payload frames are taken from there, and only those frames, whole, reach the flight log);
// every datagram is counted at most once.
#include "Core/Preferences.h"
#include "Drone/DroneConnection.h"
#include "FlightLogs/FlightLogIndex.h"
#include "FlightLogs/FlightLogger.h"
#include "Mavlink/Mavlink.h"

#include <cstdio>
#include <cstring>
#include <new>

static void fail(int line) {
    fprintf(stderr, "DroneDatagramFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

namespace {

const u8 kDroneAddress[4] = {127, 0, 0, 1};
const u8 kStrangerAddress[4] = {127, 0, 0, 9};
constexpr u16 kDronePort = 14555;

struct World {
    Socket droneSocket;
    DroneConnection connection;
    Preferences preferences;
    SocketResult datagram;
    u8 bytes[kSocketReceiveBytes];
    FlightLogger logger;
};

// The drone entries logged from fill on: each must be whole ENCAPSULATED_DATA frames and nothing else.
void checkPayloadPortEntries(const FlightLogger* logger, u32 fill) {
    i64 position = fill, previousTime = 0;
    for (;;) {
        FlightLogEntryScan entry = nextFlightLogEntry(logger->entryBuffer, &position, logger->bufferFill, &previousTime);
        if (!entry.payload) break;
        if (entry.type != FlightLogReceivedFromDrone) continue;
        const u8* payload = entry.payload;
        i32 length = entry.length;
        static MavlinkMessage reader;
        reader = MavlinkMessage{};
        i32 position = 0;
        i32 frames = 0;
        for (;;) {
            i32 start = position;
            position = parseMavlinkBytes(&reader, payload, position, length);
            if (!reader.haveMessage) break;
            check(reader.messageId == MavlinkEncapsulatedData);
            check(position - start == reader.frameLength);  // frames stand back to back, nothing between
            frames++;
        }
        check(frames > 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = static_cast<World*>(::operator new(sizeof(World)));
    std::memset((void*)world, 0, sizeof(World));
    World& w = *world;
    if (size < 1) return 0;
    bool fixed = data[0] & 1;
    w.preferences.appSystemId = 255;
    w.preferences.appComponentId = 190;
    w.preferences.lowAltitudeWarning = -1000;
    if (fixed) w.preferences.droneAddress = makeAddressRecord(4, kDroneAddress, kDronePort);
    w.droneSocket.simulatorResult = kSimulatorResultConsumed;
    w.logger.logFileName = makeString("Flight Logs/fuzz.qvlog3");
    DroneLinkInputs inputs{};
    inputs.droneSocket = &w.droneSocket;
    inputs.preferences = &w.preferences;
    inputs.flightLogger = &w.logger;
    inputs.now = 10000000;
    size_t position = 1;
    while (position + 3 <= size) {
        u8 flags = data[position];
        size_t length = (size_t)data[position + 1] | (size_t)(data[position + 2] & 0x0F) << 8;
        position += 3;
        if (length > size - position) length = size - position;
        std::memcpy(w.bytes, data + position, length);
        position += length;
        u32 from = flags % 3;  // the drone's endpoint, another port of its address, a stranger
        AddressRecord source = from == 2 ? makeAddressRecord(4, kStrangerAddress, kDronePort)
                                         : makeAddressRecord(4, kDroneAddress, from == 0 ? kDronePort : 14600);
        w.datagram = SocketResult{};
        w.datagram.received = 1;
        w.datagram.data = w.bytes;
        w.datagram.length = (u32)length;
        w.datagram.source = source;
        w.datagram.peerIndex = -1;
        w.droneSocket.simulatorResult = &w.datagram;

        u64 foreign = w.connection.foreignPackets;
        u64 heard = w.connection.vehicle.lastHeardTime;
        u32 texts = w.connection.vehicle.statusTextCount;
        u16 vehicleId = w.connection.vehicle.vehicleId;
        inputs.now += 20000 + (u64)(flags >> 3) * 100000;
        u32 fill = w.logger.bufferFill;
        controlDrone(&w.connection, &inputs);
        check(w.connection.foreignPackets <= foreign + 1);
        if (fixed && from == 1) checkPayloadPortEntries(&w.logger, fill);
        if (fixed && from != 0) {
            check(w.connection.vehicle.lastHeardTime == heard);
            check(w.connection.vehicle.statusTextCount == texts);
            check(w.connection.vehicle.vehicleId == vehicleId);
        }
        if (fixed && from == 2) check(w.connection.foreignPackets == foreign + 1);
        while (!isPacketQueueEmpty(&w.droneSocket.sendQueue)) dropOldestQueuedPacket(&w.droneSocket.sendQueue);
    }
    return 0;
}
