// Where one kind of the app's own MAVLink goes in a frame: the socket, the destination, the sequence
// counter, the own source id and the statistics that count it. The drone connection fills it; the
// autopilot, payload and camera senders write through it.
#pragma once
#include "Mavlink/Mavlink.h"
#include "Network/Socket.h"

struct DroneOutput {
    Socket* socket;
    AddressRecord destination;
    u8* sequence;
    u16 source;
    MavlinkTrafficStats* stats;
};

// A send slot of the output for its destination; null when its queue is full or the output has no
// socket.
ByteWriter* reserveDroneOutput(DroneOutput* output);

// A flight-log replay's output has no socket: nothing is built for it, and no parameter is kept in
// step through it.
inline bool droneOutputSends(const DroneOutput* output) { return output && output->socket; }
