// The encrypted relay link between app instances, as the drone connection calls it. For now no
// peer is accepted, nothing is relayed or sealed and datagrams pass unchanged; the relay link
// replaces this.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"

struct Socket;
struct SocketResult;
struct Preferences;

constexpr i32 kSecureLinkPeers = 6;

enum RelayStream : u32 {
    RelayStreamMavlink = 0,
    RelayStreamVideo = 1,
};

struct SecureLinkPeer {
    AddressRecord address;
    FixedString name;
    u32 userDecision;
    u32 pending;
    u32 counter;
    u64 lastHeardTime;  // us
};

// The relay host side: the listed peers and the one that controls the drone (null for none).
struct SecureLinkHost {
    SecureLinkPeer peers[kSecureLinkPeers];
    SecureLinkPeer* controllingPeer;
    AddressRecord referenceAddress;  // the list's own reference: the controlling listener's address
};

// The client side: this app's connection to another app's relay.
struct SecureLinkClient {
    u32 active;
    u64 lastHostDatagramTime;
    u64 lastTelemetryTime;
    u64 lastVideoTime;
    u64 lastControlGrantTime;
};

struct SecureLinkReceived {
    SecureLinkPeer* peer;  // null when the datagram was rejected
    const u8* data;        // the opened payload
    u32 length;
};

void sendSecureLinkPublicKey(SecureLinkHost* host, Socket* relaySocket, u32 stream, const Preferences* preferences, u64 now);
void sendSecureLinkStateUpdates(SecureLinkHost* host, Socket* relaySocket, const Preferences* preferences, u64 now);
SecureLinkReceived* receiveFromSecureLinkPeer(SecureLinkReceived* out, const SocketResult* datagram, SecureLinkHost* host,
                                              u32 stream, const Preferences* preferences, u64 now);
// Leaves in place of the datagram the one to handle: the opened inner packet of a sealed datagram,
// else the datagram unchanged.
void receiveFromSecureLinkHost(u8** data, u32* length, SecureLinkClient* client, u64 now);
void relayPacketToPeers(SecureLinkHost* host, Socket* relaySocket, u32 stream, const Preferences* preferences,
                        const ByteWriter* packet);
void sendSecureLinkHello(SecureLinkClient* client, const AddressRecord* server, Socket* socket, u64 now);
void encryptSecureLinkSendQueue(SecureLinkClient* client, Socket* socket);
