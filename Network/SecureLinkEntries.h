// The relay host's files (see Network/SecureLink.h for the link): SecureLinkEntries.cpp decides which
// entry of the host's list a hello or datagram belongs to, and when an entry is listed, started over,
// joined, taken over or dropped, and SecureLinkPlainHellos.cpp does so for the hellos that come with
// encryption off; SecureLinkHost.cpp runs the host's frame step, its state and passwords, the grants,
// the opening of what a peer sends and the relaying of packets. This is what each lends the others.
#pragma once
#include "Network/SecureLink.h"

struct Preferences;

inline bool isListed(const SecureLinkPeer* peer) { return peer->address.family != 0; }
inline bool isUndecided(const SecureLinkPeer* peer) { return isListed(peer) && peer->userDecision == 0; }
inline u64 silentFor(const SecureLinkPeer* peer, u64 now) {
    return now > peer->lastHeardTime ? now - peer->lastHeardTime : 0;
}
// Whether the entry's port on the stream has been heard within kSecureLinkPeerSilence. Each client
// record says hello every second: a port silent longer (the record stopped, the device gone or moved)
// may be anyone's now, and is sent nothing until it is heard again.
inline bool heardOn(const SecureLinkPeer* peer, u32 stream, u64 now) {
    u64 heard = peer->heardTimes[stream];
    return heard && (now <= heard || now - heard <= kSecureLinkPeerSilence);
}
// The entries a hello or datagram can belong to: the places on the list, then the spare place.
constexpr i32 kSecureLinkEntries = kSecureLinkPeers + 1;
inline SecureLinkPeer* entryAt(SecureLinkHost* host, i32 i) {
    return i < kSecureLinkPeers ? &host->peers[i] : &host->spare;
}
bool encryptionOff(const Preferences* preferences);
bool holdsPassword(const u8* password);
// Whether the entry is at the address of the listener the user granted control.
bool atListener(const SecureLinkHost* host, const SecureLinkPeer* peer);

// --- The entries (SecureLinkEntries.cpp)

// What a hello shows in the clear: its peer id, key and streams wanted, and where it came from.
struct HelloHeader {
    u16 peerId;
    const u8* publicKey;
    u8 streams;
    const AddressRecord* source;
};
HelloHeader helloHeader(const SocketResult* datagram);

// The listed entry under the peer id at the source's address (any port); null for none.
SecureLinkPeer* findPeer(SecureLinkHost* host, u16 peerId, const AddressRecord* source);
// Keeps a hello from a peer whose keys are not yet exchanged for the key exchanges at the end of the
// drain; false when it is dropped.
bool waitForKeyExchange(SecureLinkHost* host, u32 stream, u16 peerId, const u8* publicKey, u8 streams,
                        const AddressRecord* source);
// One hello on the stream's relay port: the entry it refreshed, null when it changed none.
SecureLinkPeer* receiveHello(SecureLinkHost* host, const SocketResult* datagram, u32 stream, bool plain, u64 now,
                             SecureLinkReceived* out);
// Whether a datagram comes from the MAVLink port of the entry in control, on the MAVLink stream: the
// only sender whose MAVLink the host takes.
bool fromControllersMavlinkPort(const SecureLinkHost* host, const AddressRecord* source, u32 stream);
// The earlier entries of devices that started over leave (once a frame).
void dropEarlierSessions(SecureLinkHost* host, u64 now);

// The rules both kinds of hello share (their comments are at their definitions).
SecureLinkPeer* peerAtEndpoint(SecureLinkHost* host, u32 stream, const AddressRecord* source);
bool keyUnchanged(SecureLinkHost* host, const SecureLinkPeer* peer, const HelloHeader* hello, u32 stream);
void setHelloPort(SecureLinkPeer* peer, u32 stream, u16 port);
void heardHello(SecureLinkPeer* peer, u8 streams, u32 stream, const AddressRecord* source, u64 now, bool keepsAlive);
SecureLinkRetiredId* findRetired(SecureLinkHost* host, u16 peerId, const u8* publicKey, const AddressRecord* address);
void retirePeerId(SecureLinkHost* host, const SecureLinkPeer* peer);
bool replaysEarlierRun(SecureLinkHost* host, const HelloHeader* hello, u32 stream);
SecureLinkPeer* readHelloBlock(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, bool plain, const u8* block,
                               i64 length, u64 now);
SecureLinkPeer* freePeer(SecureLinkHost* host, const AddressRecord* source, u64 now, bool plain);
SecureLinkPeer* sparePlace(SecureLinkHost* host, const AddressRecord* source, u16 peerId, u64 now);
void freeSparePlace(SecureLinkHost* host, u64 now, bool giveWay);
void listNewEntry(SecureLinkHost* host, SecureLinkPeer* place, const AddressRecord* source);

// --- Hellos with encryption off (SecureLinkPlainHellos.cpp)

// One hello with encryption off: the entry it refreshed, null when it changed none.
SecureLinkPeer* receivePlainHello(SecureLinkHost* host, const SocketResult* datagram, u32 stream, u64 now,
                                  SecureLinkReceived* out);

// --- The host's part that the entries' rules call on (SecureLinkHost.cpp)

// Whether the proof is the one of the password for the entry's session on the stream.
bool provesPassword(const SecureLinkHost* host, const SecureLinkPeer* peer, u32 stream, const u8* proof,
                    const u8* password);
// A hello's proof of the entry's own password; false when the entry holds none.
bool checkOwnPassword(SecureLinkHost* host, SecureLinkPeer* peer, u32 stream, const u8* proof);
// The host key for the port a hello came from, sent with the next frame's keys.
void answerHello(SecureLinkHost* host, u32 stream, u16 peerId, const AddressRecord* source);
