// One network endpoint stepped once per frame: UDP, TCP client, TCP server with up to four clients,
// or raw UDP with a caller-written IP header. The owner states the wanted configuration on every
// step; a change re-creates the socket. Nothing blocks: progress and failures are status texts.
#pragma once
#include "Network/SendQueue.h"

enum SocketMode : u32 {
    SocketModeUdp = 0,
    SocketModeTcpClient = 1,
    SocketModeTcpServer = 2,
    SocketModeRaw = 3,
};

enum SocketState : u32 {
    SocketStateNoHandle = 0,
    SocketStateCreated = 1,
    SocketStateConfigured = 2,  // non-blocking, options applied
    SocketStateBound = 3,
    SocketStateReady = 4,       // local port known; a TCP client is connecting
    SocketStateConnected = 5,   // TCP client
    SocketStateListening = 6,   // TCP server
};

constexpr i32 kSocketPeers = 4;
constexpr u32 kSocketReceiveBytes = 6000;
constexpr u64 kDefaultPeerTimeout = 3000000;
constexpr u64 kSocketStatusHoldTime = 500000;
constexpr i32 kSocketReceiveBufferBytes = 131072;

struct TrafficCounters {
    u64 starts;
    u64 lastActivity;
    u64 bytesReceived;
    u64 packetsReceived;
    u64 bytesSent;
    u64 packetsSent;
    u64 rateTime;
    i64 previous[4];
    i64 rates[4];  // bytes received, packets received, bytes sent, packets sent per second
    AddressRecord peer;
};

struct SocketResult {
    u32 reset;     // the socket was closed in this step; forget what was known about the connection
    u32 received;  // a packet is described below
    u8* data;      // inside the socket's receive buffer, valid until its next step
    u32 length;
    i32 peerIndex;  // server client slot, UDP/raw peer slot, 0 for a TCP client, -1 none (a UDP source
                    // that found no slot: every slot is held by a kept peer)
    AddressRecord source;
};

struct Socket {
    u64 shownStatusTime;
    FixedString shownStatus;
    FixedString status;
    u64 peerTimeout;  // 3,000,000 us when left 0
    u32 testMode;
    u32 receiveBufferBytes;    // the receive buffer to ask for when the socket is made; 0: 131,072
    u32 receiveBufferGranted;  // what the system granted (0 until known)
    SocketResult* simulatorResult;  // replayed data; kSimulatorResultConsumed once taken
    u32 initialised;
    u64 creationTime;
    u64 (*clock)();  // null: getMicroseconds; tests set their own
    PacketQueue sendQueue;
    i32 handle;
    u8 family;
    SocketMode mode;
    u16 boundPort;   // the local port asked for, kept once the bind succeeded
    u16 wantedPort;  // the local port of the current step's configuration
    u16 localPort;
    u16 portInUse;   // the local port that another program holds: the last bind was refused for it, else 0
    u64 oversizeDatagrams;  // UDP and raw datagrams over kSocketReceiveBytes, read and dropped
    u64 emptyDatagrams;     // UDP and raw datagrams of 0 bytes, read and dropped
    u64 unknownSenderDatagrams;  // datagrams the owner ignored for their sender (it counts them here)
    // UDP and raw: the endpoints the owner must always hear (the drone, the relay peers it granted),
    // set before each step. They take a slot whatever the number of other sources, and no other
    // source takes theirs.
    AddressRecord keptPeers[kSocketPeers];
    u32 keptPeerCount;
    FixedString interfaceName;
    u32 state;

    // The packet being sent: a stream may take it in several parts.
    i32 sendHandle;  // -1 none
    AddressRecord sendDestination;
    u32 sendLength;
    u32 sendOffset;

    // TCP client.
    TrafficCounters server;
    i32 lastConnectError;
    // UDP and raw peers, or TCP server clients.
    u64 peerMask;
    TrafficCounters peers[kSocketPeers];
    i32 clientHandles[kSocketPeers];
    u8 receiveBuffers[kSocketPeers][kSocketReceiveBytes];  // one per client; UDP, raw and TCP client use the first
};

inline SocketResult* const kSimulatorResultConsumed = (SocketResult*)1;

SocketResult* updateSocket(SocketResult* out, Socket* socket, u8 family, SocketMode mode, u16 localPort,
                           const FixedString* interfaceName, const u8* remoteAddress, u16 remotePort);
u32 closeSocket(Socket* socket);
// UDP: the datagrams the system dropped before the socket read them (its receive queue was full),
// as far as the system tells; 0 without a handle.
u64 systemDroppedDatagrams(const Socket* socket);
// The endpoints a UDP socket must always hear from its next step on (at most kSocketPeers; family 0
// entries are skipped).
void keepSocketPeers(Socket* socket, const AddressRecord* endpoints, i32 count);
void publishSocketStatus(Socket* socket, const FixedString* status);
void resetTrafficCounters(TrafficCounters* counters, const AddressRecord* peer, u64 now);
// Recomputes the per-second rates once at least a second has passed since the last time.
void updateTrafficRates(TrafficCounters* counters, u64 now);

// Send queue operations on a socket's queue.
ByteWriter* queueSocketPacket(const AddressRecord* destination, Socket* socket);
ByteWriter* queueSocketPacketToPeer(i32 peerIndex, Socket* socket);
// Used by the stream relay once queueSocketPacket has returned null for the same destination.
ByteWriter* queuePacketDisplacing(const AddressRecord* destination, Socket* socket);
