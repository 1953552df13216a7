#include "Network/Socket.h"

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Network/NetworkInterfaces.h"
#include "Platform/Socket.h"


namespace {

u64 socketNow(const Socket* socket) { return socket->clock ? socket->clock() : getMicroseconds(); }

// Oversize and empty datagrams read and dropped in one step at most, so that a flood cannot hold the
// frame.
constexpr i32 kDroppedDatagramsPerStep = 256;

bool isStream(SocketMode mode) { return mode == SocketModeTcpClient || mode == SocketModeTcpServer; }

// Sets the live status and offers it to the screens.
SocketResult* show(SocketResult* out, Socket* socket, FixedString text) {
    socket->status = text;
    publishSocketStatus(socket, &socket->status);
    return out;
}

FixedString errorText(i32 code) { return socketErrorString(code); }

i32 countPeers(u64 mask, i32* onlyIndex) {
    i32 count = 0;
    for (i32 i = 0; i < kSocketPeers; i++) {
        if (mask & (1ull << i)) {
            count++;
            *onlyIndex = i;
        }
    }
    return count;
}

// Closes one TCP server client; a packet on its way to it is given up.
void closeClient(Socket* socket, i32 index) {
    i32 handle = socket->clientHandles[index];
    if (handle >= 0) {
        if (socket->sendHandle == handle) {
            dropOldestQueuedPacket(&socket->sendQueue);
            socket->sendHandle = -1;
        }
        platformSocketClose(handle);
    }
    socket->clientHandles[index] = -1;
    socket->peerMask &= ~(1ull << index);
}

TrafficCounters* countersForDestination(Socket* socket, const AddressRecord* destination) {
    if (socket->mode == SocketModeTcpClient) {
        return &socket->server;
    }
    for (i32 i = 0; i < kSocketPeers; i++) {
        if ((socket->peerMask & (1ull << i)) && sameEndpoint(&socket->peers[i].peer, destination)) {
            return &socket->peers[i];
        }
    }
    return nullptr;
}

void countSent(Socket* socket, const AddressRecord* destination, u32 length) {
    TrafficCounters* counters = countersForDestination(socket, destination);
    if (counters) {
        counters->bytesSent += length;
        counters->packetsSent += 1;
    }
}

// Status of the peer-keeping modes, by the number of peers.
FixedString peerStatus(Socket* socket, const char* noneText) {
    i32 only = 0;
    i32 count = countPeers(socket->peerMask, &only);
    if (count == 0) {
        return formatInt(noneText, socket->localPort);
    }
    if (count == 1) {
        return formatStr("Connected to @", endpointString(&socket->peers[only].peer));
    }
    return formatInt("Connected to @ clients", count);
}

// A failure of one TCP server client ends that client's connection only.
void failClient(Socket* socket, i32 index, const char* format, i32 code) {
    closeClient(socket, index);
    socket->status = formatStr(format, errorText(code));
    publishSocketStatus(socket, &socket->status);
}

// A send that failed on a TCP server client ends that client's connection only.
void failClientsOnHandle(Socket* socket, i32 handle, i32 code) {
    for (i32 i = 0; i < kSocketPeers; i++) {
        if ((socket->peerMask & (1ull << i)) && socket->clientHandles[i] == handle) {
            failClient(socket, i, "Error writing packet: @", code);
        }
    }
}

enum SendOutcome { SendDone, SendStopped, SendFailed };

// Sends the queued packets that the system takes now; a stream keeps its partly sent packet in
// flight and continues it from its offset on later steps.
SendOutcome sendQueuedPackets(Socket* socket, SocketResult* out) {
    PacketQueue* queue = &socket->sendQueue;
    if (socket->sendHandle >= 0) {
        ProfilingScope scope("See if our send operation completed");
        PacketSlot* slot = oldestQueuedPacket(queue);
        u32 sent = 0;
        i32 code = platformSocketSend(socket->sendHandle, slot->data + socket->sendOffset,
                                      socket->sendLength - socket->sendOffset, nullptr, &sent);
        if (code == kSocketErrorWouldBlock) {
            return SendStopped;
        }
        if (code != 0) {
            if (socket->mode == SocketModeTcpServer) {
                failClientsOnHandle(socket, socket->sendHandle, code);
                // Closing the client gave up the packet; any other way, it is given up here.
                if (socket->sendHandle >= 0) {
                    dropOldestQueuedPacket(queue);
                    socket->sendHandle = -1;
                }
                return SendStopped;
            }
            show(out, socket, formatStr("Error writing packet: @", errorText(code)));
            out->reset = closeSocket(socket);
            return SendFailed;
        }
        socket->sendOffset += sent;
        if (socket->sendOffset < socket->sendLength) {
            return SendStopped;
        }
        countSent(socket, &socket->sendDestination, socket->sendLength);
        dropOldestQueuedPacket(queue);
        socket->sendHandle = -1;
    }
    while (!isPacketQueueEmpty(queue)) {
        PacketSlot* slot = oldestQueuedPacket(queue);
        // A packet that did not fit its slot would leave cut short: it is not sent at all.
        if (slot->writer.overflow || slot->writer.length < 0 || slot->writer.length > kPacketSlotBytes) {
            dropOldestQueuedPacket(queue);
            continue;
        }
        if (socket->mode != SocketModeTcpClient && slot->destination.family != socket->family) {
            dropOldestQueuedPacket(queue);
            continue;
        }
        AddressRecord destination = slot->destination;
        i32 handle = socket->handle;
        if (socket->mode == SocketModeTcpServer) {
            handle = -1;
            for (i32 i = 0; i < kSocketPeers; i++) {
                if ((socket->peerMask & (1ull << i)) && socket->clientHandles[i] >= 0 &&
                    sameEndpoint(&socket->peers[i].peer, &destination)) {
                    handle = socket->clientHandles[i];
                    break;
                }
            }
            if (handle < 0) {
                dropOldestQueuedPacket(queue);
                continue;
            }
        } else if (socket->mode == SocketModeTcpClient) {
            destination = socket->server.peer;
        }
        ProfilingScope scope("Send a new packet");
        u32 length = (u32)slot->writer.length;
        u8 address[kSockaddrSize];
        // Raw packets carry their ports in the caller's own headers; the system wants none here.
        u16 port = socket->mode == SocketModeRaw ? 0 : destination.port;
        makeSockaddr(address, socket->family, destination.address, port);
        u32 sent = 0;
        i32 code = platformSocketSend(handle, slot->data, length, isStream(socket->mode) ? nullptr : address, &sent);
        if (code == kSocketErrorWouldBlock) {
            return SendStopped;
        }
        if (code != 0) {
            if (socket->mode == SocketModeTcpServer) {
                failClientsOnHandle(socket, handle, code);
                dropOldestQueuedPacket(queue);
                continue;
            }
            show(out, socket, formatStr("Error writing packet: @", errorText(code)));
            out->reset = closeSocket(socket);
            return SendFailed;
        }
        if (isStream(socket->mode) && sent < length) {
            socket->sendHandle = handle;
            socket->sendDestination = destination;
            socket->sendLength = length;
            socket->sendOffset = sent;
            return SendStopped;
        }
        countSent(socket, &destination, length);
        dropOldestQueuedPacket(queue);
    }
    return SendDone;
}

bool isKeptPeer(const Socket* socket, const AddressRecord* endpoint) {
    for (u32 i = 0; i < socket->keptPeerCount && i < (u32)kSocketPeers; i++) {
        if (sameEndpoint(&socket->keptPeers[i], endpoint)) {
            return true;
        }
    }
    return false;
}

// The UDP and raw peer slot for a source: its own, else the lowest free one, else the one heard
// least recently among those that no kept peer holds; -1 when every slot is a kept peer's. Strangers
// may take each other's slots as often as they like; they never take the drone's or a granted peer's.
i32 choosePeerSlot(Socket* socket, const AddressRecord* source, u64 now) {
    for (i32 i = 0; i < kSocketPeers; i++) {
        if ((socket->peerMask & (1ull << i)) && sameEndpoint(&socket->peers[i].peer, source)) {
            return i;
        }
    }
    i32 slot = -1;
    for (i32 i = 0; i < kSocketPeers; i++) {
        if (!(socket->peerMask & (1ull << i))) {
            slot = i;
            break;
        }
    }
    for (i32 i = 0; slot < 0 && i < kSocketPeers; i++) {
        if (isKeptPeer(socket, &socket->peers[i].peer)) {
            continue;
        }
        i32 oldest = i;
        for (i32 j = i + 1; j < kSocketPeers; j++) {
            if (!isKeptPeer(socket, &socket->peers[j].peer) &&
                socket->peers[j].lastActivity < socket->peers[oldest].lastActivity) {
                oldest = j;
            }
        }
        slot = oldest;
    }
    if (slot >= 0) {
        socket->peerMask |= 1ull << slot;
        resetTrafficCounters(&socket->peers[slot], source, now);
    }
    return slot;
}

void deliver(SocketResult* out, TrafficCounters* counters, u8* data, u32 length, i32 peerIndex,
             const AddressRecord* source, u64 now) {
    counters->bytesReceived += length;
    counters->packetsReceived += 1;
    counters->lastActivity = now;
    out->received = 1;
    out->data = data;
    out->length = length;
    out->peerIndex = peerIndex;
    out->source = *source;
}

// At most one packet per step. Returns false when the socket was closed.
bool receivePacket(Socket* socket, SocketResult* out, u64 now) {
    u8 sourceAddress[kSockaddrSize];
    if (socket->mode == SocketModeTcpServer) {
        for (i32 i = 0; i < kSocketPeers; i++) {
            if (!(socket->peerMask & (1ull << i)) || socket->clientHandles[i] < 0) {
                continue;
            }
            ProfilingScope scope("See if a receive operation has finished");
            u8* buffer = socket->receiveBuffers[i];
            u32 received = 0;
            i32 code = platformSocketReceive(socket->clientHandles[i], buffer, kSocketReceiveBytes, sourceAddress,
                                             &received);
            if (code == kSocketErrorWouldBlock) {
                continue;
            }
            if (code == 0 && received == 0) {
                // The client closed its side: its slot falls free for the next connection.
                failClient(socket, i, "Error reading packet: @", kSocketErrorConnectionReset);
                continue;
            }
            if (code != 0) {
                failClient(socket, i, "Error reading packet: @", code);
                continue;
            }
            deliver(out, &socket->peers[i], buffer, received, i, &socket->peers[i].peer, now);
            return true;
        }
        return true;
    }
    ProfilingScope scope("See if a receive operation has finished");
    u8* buffer = socket->receiveBuffers[0];
    u32 received = 0;
    i32 code = 0;
    // A datagram larger than the receive buffer is read, counted and dropped, never delivered cut
    // short, and so is an empty one (it carries nothing for any owner); the step reads on, so a flood
    // of them cannot hold back the next datagram.
    bool dropped = false;
    for (i32 i = 0; i < kDroppedDatagramsPerStep; i++) {
        code = platformSocketReceive(socket->handle, buffer, kSocketReceiveBytes, sourceAddress, &received);
        dropped = !isStream(socket->mode) && (code == kSocketErrorMessageSize || (code == 0 && received == 0));
        if (!dropped) {
            break;
        }
        if (code == kSocketErrorMessageSize) {
            socket->oversizeDatagrams++;
        } else {
            socket->emptyDatagrams++;
        }
    }
    if (code == kSocketErrorWouldBlock || dropped) {
        return true;
    }
    if (code == 0 && received == 0 && socket->mode == SocketModeTcpClient) {
        // The server closed the connection: as lost as after a reset, and reconnected the same way.
        code = kSocketErrorConnectionReset;
    }
    if (code != 0) {
        show(out, socket, formatStr("Error reading packet: @", errorText(code)));
        out->reset = closeSocket(socket);
        return false;
    }
    if (socket->mode == SocketModeTcpClient) {
        deliver(out, &socket->server, buffer, received, 0, &socket->server.peer, now);
        return true;
    }
    AddressRecord source = addressFromSockaddr(sourceAddress, socket->family);
    i32 slot = choosePeerSlot(socket, &source, now);
    if (slot < 0) {
        // Every slot is a kept peer's: the datagram still goes to its owner, whose own check of the
        // source decides (and counts) it, only without a slot's counters.
        out->received = 1;
        out->data = buffer;
        out->length = received;
        out->peerIndex = -1;
        out->source = source;
        return true;
    }
    deliver(out, &socket->peers[slot], buffer, received, slot, &source, now);
    return true;
}

// Set-up: states 0 to 4. Returns false when the step ends here.
bool setUpSocket(SocketResult* out, Socket* socket) {
    if (socket->state == SocketStateNoHandle) {
        if (socket->family != 4 && socket->family != 6) {
            socket->portInUse = 0;
            show(out, socket, makeString("Socket disabled"));
            return false;
        }
        ProfilingScope scope("Create Socket");
        u32 type = socket->mode == SocketModeUdp   ? PlatformSocketDatagram
                   : socket->mode == SocketModeRaw ? PlatformSocketRaw
                                                   : PlatformSocketStream;
        i32 handle = -1;
        i32 code = platformSocketOpen(socket->family, type, &handle);
        if (code != 0) {
            show(out, socket, formatStr("Error creating socket: @", errorText(code)));
            return false;
        }
        socket->handle = handle;
        socket->state = SocketStateCreated;
    }
    if (socket->state == SocketStateCreated) {
        ProfilingScope scope("Make Socket Nonblocking");
        i32 code = platformSocketSetNonBlocking(socket->handle);
        if (code != 0) {
            show(out, socket, formatStr("Error setting socket to nonblocking: @", errorText(code)));
            return false;
        }
        socket->state = SocketStateConfigured;
        i32 wanted = socket->receiveBufferBytes ? (i32)socket->receiveBufferBytes : kSocketReceiveBufferBytes;
        code = platformSocketSetReceiveBuffer(socket->handle, wanted);
        if (code != 0) {
            show(out, socket, formatStr("Error setting socket receive buffer size: @", errorText(code)));
            return false;
        }
        i32 granted = 0;
        platformSocketReceiveBufferSize(socket->handle, &granted);
        socket->receiveBufferGranted = granted > 0 ? (u32)granted : 0;
        if (socket->mode == SocketModeRaw) {
            code = platformSocketSetHeaderIncluded(socket->handle, socket->family);
            if (code != 0) {
                const char* text = socket->family == 4 ? "Error setting socket to transmit custom IP4 headers: @"
                                                       : "Error setting socket to transmit custom IP6 headers: @";
                show(out, socket, formatStr(text, errorText(code)));
                return false;
            }
        }
        if (socket->mode == SocketModeUdp || socket->mode == SocketModeRaw) {
            code = platformSocketSetBroadcast(socket->handle);
            if (code != 0) {
                show(out, socket,
                     formatStr("Error setting socket to be able to send broadcasts: @", errorText(code)));
                return false;
            }
        }
    }
    if (socket->state == SocketStateConfigured) {
        FixedString error{};
        AddressRecord local = findNetworkInterface(&socket->interfaceName, socket->family, &error);
        if (error.length > 0) {
            show(out, socket, error);
            return false;
        }
        ProfilingScope scope("Bind Socket to local port");
        u8 address[kSockaddrSize];
        makeSockaddr(address, socket->family, local.address, socket->wantedPort);
        i32 code = platformSocketBind(socket->handle, address);
        socket->portInUse = code == kSocketErrorAddressInUse ? socket->wantedPort : 0;
        if (code != 0) {
            show(out, socket, formatIntStr("Error binding socket to port @: @", socket->wantedPort, errorText(code)));
            return false;
        }
        socket->boundPort = socket->wantedPort;
        socket->state = SocketStateBound;
    }
    if (socket->state == SocketStateBound) {
        ProfilingScope scope("Get actual local port");
        u16 port = 0;
        i32 code = platformSocketLocalPort(socket->handle, &port);
        if (code != 0) {
            show(out, socket, formatStr("Error getting actual port of socket: @", errorText(code)));
            return false;
        }
        socket->localPort = port;
        socket->state = SocketStateReady;
        socket->sendHandle = -1;
        socket->peerMask = 0;
    }
    return true;
}

void stepPeers(Socket* socket, u64 now) {
    for (i32 i = kSocketPeers - 1; i >= 0; i--) {
        if (!(socket->peerMask & (1ull << i))) {
            continue;
        }
        if (now - socket->peers[i].lastActivity > socket->peerTimeout) {
            if (socket->mode == SocketModeTcpServer) {
                ProfilingScope scope("Close socket to client");
                closeClient(socket, i);
            } else {
                socket->peerMask &= ~(1ull << i);
            }
        } else {
            updateTrafficRates(&socket->peers[i], now);
        }
    }
}

// Listening and taking at most one new client per step. Returns false when the step ends here.
bool serveClients(SocketResult* out, Socket* socket, u64 now) {
    if (socket->state < SocketStateListening) {
        ProfilingScope scope("Start listening for incoming TCP connections");
        i32 code = platformSocketListen(socket->handle, kSocketPeers);
        if (code != 0) {
            show(out, socket, formatStr("Error when configuring connection buffer size: @", errorText(code)));
            return false;
        }
        socket->state = SocketStateListening;
    }
    i32 freeSlot = -1;
    for (i32 i = 0; i < kSocketPeers; i++) {
        if (!(socket->peerMask & (1ull << i))) {
            freeSlot = i;
            break;
        }
    }
    if (freeSlot >= 0) {
        ProfilingScope scope("See if there are any new incoming TCP connections");
        i32 client = -1;
        u8 address[kSockaddrSize];
        i32 code = platformSocketAccept(socket->handle, &client, address);
        if (code == 0) {
            ProfilingScope nonblocking("Set client socket to nonblocking");
            code = platformSocketSetNonBlocking(client);
            if (code != 0) {
                // Not taken into a slot, so nothing else would ever close it.
                platformSocketClose(client);
                show(out, socket, formatStr("Error setting client socket to nonblocking: @", errorText(code)));
                return false;
            }
            AddressRecord peer = addressFromSockaddr(address, socket->family);
            socket->clientHandles[freeSlot] = client;
            resetTrafficCounters(&socket->peers[freeSlot], &peer, now);
            socket->peerMask |= 1ull << freeSlot;
        }
    }
    return true;
}

// Connecting a TCP client. Returns false when the step ends here.
bool connectClient(SocketResult* out, Socket* socket, u64 now) {
    AddressRecord remote = socket->server.peer;
    if (socket->state == SocketStateReady) {
        ProfilingScope scope("Connect to TCP server");
        u8 address[kSockaddrSize];
        makeSockaddr(address, socket->family, remote.address, remote.port);
        i32 code = platformSocketConnect(socket->handle, address);
        if (code == 0 || code == kSocketErrorIsConnected) {
            resetTrafficCounters(&socket->server, &remote, now);
            socket->state = SocketStateConnected;
        } else if (code == kSocketErrorWouldBlock || code == kSocketErrorAlready) {
            if (socket->lastConnectError != 0) {
                show(out, socket,
                     formatStrStr("Error connecting socket to @: @, retrying", endpointString(&remote),
                                  errorText(socket->lastConnectError)));
            } else {
                show(out, socket, formatStr("Connecting to @", endpointString(&remote)));
            }
            return false;
        } else {
            socket->lastConnectError = code;
            show(out, socket, formatStrStr("Error connecting socket to @: @", endpointString(&remote), errorText(code)));
            return false;
        }
    }
    updateTrafficRates(&socket->server, now);
    socket->status = formatStr("Connected to @", endpointString(&remote));
    return true;
}

}  // namespace

void publishSocketStatus(Socket* socket, const FixedString* status) {
    u64 now = socketNow(socket);
    bool due = socket->shownStatusTime == 0 || now - socket->shownStatusTime > kSocketStatusHoldTime;
    if (due && !equals(socket->shownStatus, *status)) {
        socket->shownStatus = *status;
        socket->shownStatusTime = now;
    }
}

void resetTrafficCounters(TrafficCounters* counters, const AddressRecord* peer, u64 now) {
    u64 starts = counters->starts + 1;
    *counters = TrafficCounters{};
    counters->starts = starts;
    counters->lastActivity = now;
    counters->rateTime = now;
    counters->peer = *peer;
}

void updateTrafficRates(TrafficCounters* counters, u64 now) {
    if (now - counters->rateTime < 1000000) {
        return;
    }
    u64 elapsed = now - counters->rateTime;
    counters->rateTime = now;
    i64 values[4] = {(i64)counters->bytesReceived, (i64)counters->packetsReceived, (i64)counters->bytesSent,
                     (i64)counters->packetsSent};
    for (i32 i = 0; i < 4; i++) {
        counters->rates[i] = (values[i] - counters->previous[i]) * 1000000 / (i64)elapsed;
        counters->previous[i] = values[i];
    }
}

u64 systemDroppedDatagrams(const Socket* socket) {
    if (!socket || socket->state == SocketStateNoHandle || socket->mode != SocketModeUdp) return 0;
    return platformSocketDroppedDatagrams(socket->handle);
}

u32 closeSocket(Socket* socket) {
    socket->state = SocketStateNoHandle;
    if (!socket->initialised) {
        return 0;
    }
    if (socket->handle != -1) {
        platformSocketClose(socket->handle);
        socket->handle = -1;
    }
    if (socket->family == 0) {
        return 0;
    }
    if (socket->mode == SocketModeTcpServer) {
        for (i32 i = 0; i < kSocketPeers; i++) {
            if (socket->clientHandles[i] >= 0) {
                platformSocketClose(socket->clientHandles[i]);
                socket->clientHandles[i] = -1;
            }
        }
    }
    socket->peerMask = 0;
    socket->lastConnectError = 0;
    socket->sendQueue.writeIndex = 0;
    socket->sendQueue.readIndex = 0;
    socket->sendHandle = -1;
    return 1;
}

SocketResult* updateSocket(SocketResult* out, Socket* socket, u8 family, SocketMode mode, u16 localPort,
                           const FixedString* interfaceName, const u8* remoteAddress, u16 remotePort) {
    ProfilingScope scope("Socket");
    *out = SocketResult{};
    out->peerIndex = -1;
    u64 now = socketNow(socket);
    if (!socket->initialised) {
        socket->initialised = 1;
        if (socket->peerTimeout == 0) {
            socket->peerTimeout = kDefaultPeerTimeout;
        }
        socket->handle = -1;
        socket->sendHandle = -1;
        for (i32 i = 0; i < kSocketPeers; i++) {
            socket->clientHandles[i] = -1;
        }
        socket->creationTime = now;
        socket->status = makeString("Socket not yet created");
    }
    if (socket->testMode) {
        return show(out, socket, makeString("Socket is in test mode"));
    }
    if (socket->simulatorResult) {
        socket->status = makeString("Socket is in simulator mode");
        publishSocketStatus(socket, &socket->status);
        if (socket->simulatorResult != kSimulatorResultConsumed) {
            *out = *socket->simulatorResult;
        }
        socket->simulatorResult = kSimulatorResultConsumed;
        return out;
    }

    FixedString noName{};
    const FixedString* name = interfaceName ? interfaceName : &noName;
    bool changed = family != socket->family || localPort != socket->boundPort || !equals(*name, socket->interfaceName) ||
                   mode != socket->mode;
    AddressRecord remote{};
    if (mode == SocketModeTcpClient) {
        u8 zero[16] = {};
        remote = makeAddressRecord(family, remoteAddress ? remoteAddress : zero, remotePort);
        changed = changed || !sameEndpoint(&remote, &socket->server.peer);
    }
    if (changed) {
        out->reset = closeSocket(socket);
        socket->family = family;
        socket->interfaceName = *name;
        socket->mode = mode;
        if (mode == SocketModeTcpClient) {
            resetTrafficCounters(&socket->server, &remote, now);
            socket->server.lastActivity = 0;
        }
    }
    socket->wantedPort = localPort;

    if (!setUpSocket(out, socket)) {
        return out;
    }
    if (mode == SocketModeUdp || mode == SocketModeRaw) {
        stepPeers(socket, now);
        socket->status = peerStatus(socket, "Listening for incoming packets on port @");
    } else if (mode == SocketModeTcpServer) {
        stepPeers(socket, now);
        if (!serveClients(out, socket, now)) {
            return out;
        }
        socket->status = peerStatus(socket, "Listening for connections on port @");
    } else if (!connectClient(out, socket, now)) {
        return out;
    }

    if (sendQueuedPackets(socket, out) == SendFailed) {
        return out;
    }
    if (!receivePacket(socket, out, now)) {
        return out;
    }
    publishSocketStatus(socket, &socket->status);
    return out;
}

void keepSocketPeers(Socket* socket, const AddressRecord* endpoints, i32 count) {
    socket->keptPeerCount = 0;
    for (i32 i = 0; i < count && socket->keptPeerCount < (u32)kSocketPeers; i++) {
        if (endpoints[i].family != 0) {
            socket->keptPeers[socket->keptPeerCount++] = endpoints[i];
        }
    }
}

ByteWriter* queueSocketPacket(const AddressRecord* destination, Socket* socket) {
    return queuePacket(destination, &socket->sendQueue);
}

ByteWriter* queueSocketPacketToPeer(i32 peerIndex, Socket* socket) {
    if (socket->mode == SocketModeTcpClient) {
        AddressRecord destination{};
        destination.family = socket->family;
        return queuePacket(&destination, &socket->sendQueue);
    }
    if (socket->mode == SocketModeRaw || peerIndex < 0 || peerIndex >= kSocketPeers ||
        !(socket->peerMask & (1ull << peerIndex))) {
        return nullptr;
    }
    return queuePacket(&socket->peers[peerIndex].peer, &socket->sendQueue);
}

ByteWriter* queuePacketDisplacing(const AddressRecord* destination, Socket* socket) {
    return queuePacketDisplacingIn(destination, &socket->sendQueue);
}
