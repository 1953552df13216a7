// The encrypted relay link between app instances. The app at the drone's radio (the host) relays
// every drone datagram and its video to the other apps of the crew (its peers, at most 6), and takes
// MAVLink from the one peer it lets control the drone. Every datagram is UDP; its byte 0 is the type:
//
//   1 host key     host -> client  1, u16 client peer id, 32 B host public key, 16 B host nonce
//   2 hello        client -> host  2, u16 peer id, 32 B client public key, u8 streams wanted (SecureLinkGrant
//                                  bits), then the block {16 B control proof, u8 name length, name}:
//                                  sealed (u64 counter, 16 B IV, AES-128-CBC of the block, 16 B MAC) once the
//                                  host key is known, plain to a host that sends plain
//   3 sealed data  host -> client  3, u16 peer id, u8 stream, u64 counter, 16 B IV, AES-128-CBC (PKCS#7) of
//   4 sealed data  client -> host  the inner packet, 16 B MAC
//
// All numbers are little-endian. K = SHA-256(X25519 shared secret | host public key | client public
// key | host nonce); the cipher key is K[0..16], the MAC is HMAC-SHA-256 under K[16..32] over the
// stream byte (0 MAVLink, 1 video: the stream the datagram was sealed for) and then everything before
// the MAC, cut to 16 bytes, and it is checked before anything is decrypted. A receiver checks it for
// the stream it receives on (the host: the relay port's; the client: the record's), so a datagram,
// hellos included, opens only on its own stream. Each direction counts its datagrams per stream from
// 0; a receiver drops a counter it has accepted already or one more than 63 behind the highest it
// accepted, so nothing captured can be replayed within a session.
//
// Every device the user grants something holds a password of its own from the host, 8 random bytes
// sent to it sealed (inner type 5) until it proves it, which it keeps across restarts (the app cache):
// the device granted control holds the control password, drawn anew whenever control is given to a
// device or taken away, so nothing an earlier controller holds opens control (a device that lost
// control keeps the password it had as its own, for the grants it still has). A password never
// leaves the client: a hello carries a proof of it for this one session and stream, the first 16
// bytes of HMAC-SHA-256(key = the 8-byte password, "orvik control proof" | host public key | client
// public key | host nonce | u8 stream), or 16 zero bytes from a client that holds no password. The
// host checks it, in constant time, only against what the entry can serve: the entry's own password;
// for a new entry, the password of an entry at the same address (the device started over: it takes
// that entry's place, its grants and its password, and the earlier entry leaves) or, at the
// controlling listener's address, the control password (a host that started again gives its kept
// controller control and telemetry back); with encryption off a new entry proves these only on the
// MAVLink stream. What anyone reads of a hello sealed under a host key of its
// own, or relays from another address, proves nothing at the real host. A hello under the entry's keys
// whose proof fails takes the entry's proof back, and the host sends its password again. A password a
// client hears in plain never replaces one it got sealed.
//
// A session is one entry of the host's list: the host draws a fresh nonce for every entry it lists and
// sends it with its key, so nothing sealed for an earlier entry (a client's earlier session, captured
// and replayed from its address) opens in a later one, whatever key and peer id it shows; the hello of a
// peer not yet listed is never opened, only answered with the key and the new entry's nonce. A client
// that starts over (another host, or the connection switched away and back) draws a fresh key pair and
// peer id (once for both its records): it then says hello anew and proves its password to the entry the
// host lists for it. One that gives up keys it has counted under (for another host key, or a host that
// sends plain, once its link has been silent for 3 s) remembers their host key and nonce and keeps its
// key pair, as another host key or nonce gives keys that never counted (a host that started again lists
// the device under the peer id it knows); only a host key and nonce it has counted under before, or one
// more than it can remember, takes a fresh key pair and peer id. So no key ever counts from 0 twice,
// whatever host key and nonce come back later. A stopped record takes nothing from the link until its
// next hello has started it over. A record that holds no keys also starts over when the socket its
// hellos go out from moved to another port (once a second at most), and when the relay host it has heard
// there has said nothing through 3 s of its hellos (again only after another such silence; the MAVLink
// record does this for both, the video record only while the MAVLink record says hello to no relay host
// it has heard): where the host cannot tell the device from a copy of its hellos, the device breaks the
// tie, and its new run is heard first from its own port. A new run that finds the list full, of an
// address where a device the user decided on is listed (or of the controlling listener's), stands in the
// spare place off the list and hears the host key, its nonce and the host's state without grants there,
// and nothing else, until it proves a password: the entry whose password it proves is its own then (the
// control password, with no entry holding it, takes a place on the list granted control and telemetry
// again); one that proved nothing within 3 s and three host frames gives the place up, one whose hello
// there proved nothing gives it up at once to another run that asks, and neither is let in again for 3 s
// from its endpoint or under its peer id, so the runs that can prove have it in turn (with encryption off
// only a MAVLink hello takes it: a new entry proves nothing on the video stream). One entry a device: a
// device that starts over and proves nothing is asked about anew, and its earlier entry at the same
// address and port leaves once it has been silent for 3 s if the user had not decided on it, as does an
// entry that never completed a sealed hello at the address and port where another entry has proved its
// password; one the user decided on stays (shown as gone silent) until a new device needs its place once
// it has been gone for kSecureLinkGoneExpiry. The peer id and key of an entry that leaves because its
// device started over are retired at its address: the device never says hello under them again, so hellos
// under them from there (a neighbour replaying them) are counted and dropped, and no entry that looks
// like the device's earlier run is listed again. What goes to a peer's port on a stream (telemetry,
// video, its password, the host's state, the host key) goes only while that port has been heard on that
// stream within 3 s: a record that stopped, or a device gone, is sent nothing at a port that may be
// anyone's.
//
// Each client record says hello once a second, so the host hears every running device; the host costs
// the link a check only where it can matter: a listed entry gets one hello checked a frame and stream
// from its own port on that stream (while it has none there, from the port its first hello there came
// from), whatever else comes under its id (the hellos under its id from other ports of its address share
// one check of their own, and one from another port whose counter is no newer than any the entry has
// taken, or whose counter is one of the entry's own hellos dropped unchecked over that check, is a copy,
// dropped unchecked as a replay), sealed data (type 4) is opened only from the MAVLink port of the peer
// in control (nobody else's is used), and the hellos of devices not yet listed wait for the few key
// exchanges a frame does and for a place on the list.
//
// The exchange has no secret shared beforehand: both apps show the link's fingerprint (the first 10
// bytes of SHA-256(host public key | client public key) as five groups of four hex digits) where
// control is granted, so the crew can compare them before trusting the link. At 80 bits, whoever stands
// between the two during the pairing must find a key pair for each side whose fingerprints agree: a
// birthday search of about 2^41 key pairs and hashes, years on one processor core, far less on many
// cores or graphics processors.
//
// Inner packets: 0xFD/0xFE MAVLink, 0xB7/0xB8 video, 5 the device's password (5, u64), 6 the host's
// state (6, u8 grants, u32 controller kind, u8 name length, name, 8 f32 axes, u64 buttons; sent plain,
// then also 32 B host public key, 16 B host nonce). The state's grants are the peer's own, with the
// control bit only while it controls and kSecureLinkStateControlAwaited while control is granted to it
// but its password not yet proved; a peer that holds no grant hears nothing of the host's controller
// (kind 0, no name, axes and buttons 0). It goes on each stream from that stream's relay port.
//
// With "Relay mode disable encryption" only the sealing changes: the host sends and takes everything plain
// and exchanges no keys (a peer listed so gets its keys once encryption is on again), but telemetry and video
// go only to the peers the user granted them, and MAVLink is taken only from the peer in control. A device is
// then its endpoint: its MAVLink endpoint (its address and the port of its first MAVLink hello) is where its
// password, its state and its telemetry go, and a hello under a new peer id from there is the device started
// over (at most once a second); no other port starts an entry over, and the endpoint moves only to a new
// entry that proves the entry's password (the device started over elsewhere). Only what is heard from its
// MAVLink port keeps an entry heard (one listed by its video hello alone, its hellos there). An endpoint that
// is a listed entry's port on a stream is that entry's: a hello under another peer id from there lists
// nothing. A hello under a listed peer id from another port of its address than the entry's on the stream
// changes nothing, whenever it comes, nor does one under an id not listed yet from another port than the id's
// first there (its device may wait for a place): it carries the device's own bytes, so the device breaks the
// tie (one whose socket moved, or whose host fell silent, starts over under a new peer id from its own port);
// whoever copies them holds at most an entry of its own under the device's earlier id, which gets nothing
// unless the user grants it. An entry listed apart by a new run's video hello is one with no MAVLink port.
// But an entry keeps no port it has not been heard from on that stream for 3 s, and one that proved nothing
// (undecided, holding no password) keeps none from an entry whose session proved its password: the port goes
// to the other entry of its address that says hello from there. A device that starts over is sent nothing
// more at its earlier video port: the first hello of its new run on the video stream, however late, sets the
// port there (its new run may have a new socket), once the new session has proved the entry's password at the
// MAVLink endpoint; an entry that holds no password (and so is sent no video) takes its first one. So a hello
// under its peer id forged from its endpoint brings nobody its video, nor does a hello forged at its video
// socket the moment it starts over; a neighbour at its address that reads its traffic and says hello under
// its new peer id first gets that video. A listed device that keeps saying hello keeps its place: an
// undecided one gives way to a new device only once it has been silent for 3 s (with encryption on too, once
// it completed a sealed hello), and new devices beyond the free places wait, counted, until one is free; one
// the user decided on is gone a minute after it was last heard, unless its video port is heard. The client
// forms its proof over the host key and entry nonce that the host's plain state carries. A client that holds
// keys follows a host that sends its state plain only once its link has been silent for 3 s, as it takes a
// new host key. With encryption on, nothing relayed leaves unsealed.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"

struct Socket;
struct SocketResult;
struct Preferences;
struct GamepadState;

constexpr i32 kSecureLinkPeers = 6;
constexpr i32 kSecureLinkStreams = 2;
constexpr u16 kSecureLinkVideoPort = 32423;
constexpr u64 kSecureLinkKeyInterval = 1000000;      // the host key to each peer, per stream
constexpr u64 kSecureLinkStateInterval = 500000;     // the host's state to each peer
constexpr u64 kSecureLinkPasswordInterval = 1000000; // the control password to the granted peer
// A client whose host is silent this long takes a new host key; one that holds no keys starts over.
constexpr u64 kSecureLinkHostSilence = 3000000;
constexpr u64 kSecureLinkHelloInterval = 1000000;    // every client record's hello
// A listed peer not heard for this long has gone silent (the sharing list says so); an earlier session
// of a device that started over leaves the list then. Its port on a stream not heard for this long is
// sent nothing.
constexpr u64 kSecureLinkPeerSilence = 3000000;
// An undecided peer not heard for this long leaves the sharing list.
constexpr u64 kSecureLinkUndecidedExpiry = 30000000;
// A peer the user decided on that has been silent this long is gone: its place goes to a new device
// when nothing else can give way (never the place of the device granted control, nor of one whose video
// port is heard).
constexpr u64 kSecureLinkGoneExpiry = 60000000;
// With encryption off, one endpoint starts over (a hello under a new peer id) at most this often; a
// client record whose socket moved starts over at most this often too.
constexpr u64 kSecureLinkStartOverInterval = 1000000;
// Peer ids and keys that devices gave up by starting over, remembered at their addresses.
constexpr i32 kSecureLinkRetiredIds = 16;
// With encryption off, peer ids not listed yet remembered with the ports they first said hello from.
constexpr i32 kSecureLinkUnlistedIds = 16;
// Undecided peers that one address may hold on the sharing list, whether or not they completed the
// key exchange.
constexpr i32 kSecureLinkUndecidedPerAddress = 2;
// Host frames a run keeps the spare place at least, beside kSecureLinkPeerSilence: a slow host reads its
// proof two frames after it took the place.
constexpr u32 kSecureLinkSpareFrames = 3;
// Runs remembered as having given the spare place up unproved: none is let in again from its endpoint or
// under its peer id for kSecureLinkPeerSilence.
constexpr i32 kSecureLinkUnprovedRuns = 4;
constexpr i32 kSecureLinkFingerprintBytes = 10;
// Datagrams a relay socket takes in one frame that cost the link more than their reading (a MAC
// checked, a proof or a nonce drawn, a packet opened); the rest wait in the socket for the next. Only
// the peer in control can ask for many: every other listed entry gets one hello checked a frame.
constexpr i32 kSecureLinkDatagramsPerFrame = 256;
// Datagrams a relay socket reads in one frame at most. Those that cost little (a hello from a peer not
// yet listed, anything refused before a MAC check) are read and dropped up to this bound, so a flood
// of them is read faster than it comes and the granted peers' datagrams find room in the socket.
constexpr i32 kSecureLinkReadsPerFrame = 2048;
// The receive buffer the relay sockets ask for: room for a frame's reads (the system may grant less).
constexpr u32 kSecureLinkReceiveBufferBytes = 2097152;
// Key exchanges (X25519) the host does in one frame and relay port for hellos from peers not yet listed.
// Anyone can say hello under ever new peer ids, so a flood of hellos costs a frame no more than these;
// the hellos over them are dropped and counted (a real client says hello again a second later). They
// are shared between the addresses that ask: one a frame for each address, the controlling listener's
// address first, then the addresses of devices the user decided on, then the others; among equals the
// address served longest ago (or never) first, then the one that sent fewer hellos in the drain.
constexpr i32 kSecureLinkKeyExchangesPerFrame = 2;
// Addresses whose hellos wait for the frame's key exchanges on a relay port (one hello each), and
// addresses remembered with the time of their latest key exchange there.
constexpr i32 kSecureLinkKeyExchangeWaiting = 8;
constexpr i32 kSecureLinkServedAddresses = 16;
constexpr i32 kSecureLinkHostNonceBytes = 16;
// Host keys and nonces a client record remembers having counted under; one more takes a fresh key pair.
constexpr i32 kSecureLinkCountedHosts = 8;
constexpr i32 kSecureLinkProofBytes = 16;
// Hellos answered with the host key in one frame and stream; a client whose hello went unanswered
// says hello again.
constexpr i32 kSecureLinkKeyAnswers = 8;
// Counters of a peer's latest hellos from its own port dropped unchecked over the frame's check, per
// stream: a hello from another port under one of them is a copy.
constexpr i32 kSecureLinkUncheckedCounters = 4;

enum RelayStream : u32 {
    RelayStreamMavlink = 0,
    RelayStreamVideo = 1,
};

enum SecureLinkType : u8 {
    SecureLinkHostKey = 1,
    SecureLinkHello = 2,
    SecureLinkFromHost = 3,
    SecureLinkFromClient = 4,
    SecureLinkControlPassword = 5,
    SecureLinkHostState = 6,
};

// Whether a datagram's first byte is one of the link's own types.
inline bool isSecureLinkType(u8 type) { return type >= SecureLinkHostKey && type <= SecureLinkHostState; }

// A peer's user decision (0 = undecided), a hello's streams wanted and the host state's grants (where
// control means that the peer controls).
enum SecureLinkGrant : u32 {
    SecureLinkGrantTelemetry = 1,
    SecureLinkGrantVideo = 2,
    SecureLinkGrantControl = 4,
};
// The host state's grants only: control is granted to the peer, which has not proved its password yet.
constexpr u32 kSecureLinkStateControlAwaited = 8;

// The relay host side's identity: drawn on the first frame, the password and the listener kept by
// the app cache.
struct RelayHostIdentity {
    u8 privateKey[32];
    u8 publicKey[32];  // X25519(privateKey, 9)
    u8 controllingListenerPassword[8];  // the host's control password, drawn anew with every grant of control
                                        // and every taking away (u64 little-endian; all zero: none)
    AddressRecord controllingListener;  // the listener granted control
};

// This app as a client of another app's relay.
struct SecureLinkClientIdentity {
    FixedString name;  // "<BIOS product name> <first 4 installation id bytes as hex>"; kept by the app cache
    u8 privateKey[32];
    u16 peerId;
    u8 publicKey[32];
    u8 relayPassword[8];  // the password the host gave sealed (u64 little-endian); kept by the app cache
    u8 plainPassword[8];  // one a host sent in the clear (its encryption off): proved only to a host that
                          // sends plain, and never kept
    u32 generation;  // raised with every fresh key pair; a client record keyed with an older one starts over
    // When the MAVLink record last said hello to a relay host it has heard (0: never). While it does, it
    // starts the identity over when that host falls silent; else the video record does so itself.
    u64 mavlinkHelloTime;
};

// The keys of one host-client pair; ready is 0 until the exchange is done.
struct SecureLinkKeys {
    u32 ready;
    u8 cipherKey[16];
    u8 macKey[16];
};

// The counters accepted on one stream: the highest, and a bit for each of the 64 below and at it.
struct SecureLinkReplayWindow {
    u32 started;
    u64 highest;
    u64 seen;  // bit i: highest - i was accepted
};

// Key exchanges done in one frame (a frame is told by its time): the link's costly steps a datagram
// can ask for are held to a few a frame.
struct KeyExchangeBudget {
    u64 frameTime;
    i32 done;
};

struct SecureLinkPeer {
    AddressRecord address;  // of its first hello (the MAVLink stream's port when it has one)
    FixedString name;
    u32 userDecision;  // SecureLinkGrant bits; 0 = undecided
    u32 pending;       // its hello asked for control
    u32 counter;       // hellos seen while undecided
    u64 lastHeardTime;  // us
    u32 verified;       // it completed a sealed hello or sent sealed data: it holds the key it showed
    u32 listOrder;      // its place on the sharing list: later listings below earlier ones
    u64 sessionTime;    // when its session began (with encryption off: when the endpoint last started over)

    u16 peerId;
    u8 streamsWanted;
    u16 ports[kSecureLinkStreams];  // the source port of its hello on each stream's socket; 0 = none
    u64 heardTimes[kSecureLinkStreams];  // when its port on each stream was last heard there; 0 = never
    // With encryption off: the port of the session's first hello under its peer id on the video stream
    // while it held a password not yet proved (0: none), and when it came; the video port once the
    // session proves the password.
    u16 videoPortAwaitingProof;
    u64 videoHelloAwaitingProofTime;
    u8 publicKey[32];
    u8 hostNonce[kSecureLinkHostNonceBytes];  // drawn when the peer was listed; in its keys
    SecureLinkKeys keys;  // not ready while it is listed with encryption off
    u64 sendCounters[kSecureLinkStreams];
    SecureLinkReplayWindow windows[kSecureLinkStreams];
    u8 password[8];      // the password the host gave this device (all zero: none); the control
                         // password while the user grants it control
    u32 passwordProved;  // a hello of this session proved it
    KeyExchangeBudget helloChecks[kSecureLinkStreams];  // its hellos from its own port checked in the
                                                        // frame: one a stream
    // While it has no port on a stream: the port of the first hello under its id there since it was
    // listed, whose hellos take that check (the others share the one below).
    u16 firstHelloPorts[kSecureLinkStreams];
    // Hellos under its id from other ports of its address checked in the frame: one a stream between
    // them, so none of them takes the check of its own port.
    KeyExchangeBudget otherPortHelloChecks[kSecureLinkStreams];
    // The counters (plus one; 0: none) of its latest sealed hellos from its own port on each stream that
    // were dropped unchecked over the frame's check: one from another port under such a counter is a copy
    // of the device's own, newer than any the entry has taken though it is.
    u64 uncheckedCounters[kSecureLinkStreams][kSecureLinkUncheckedCounters];
    u32 uncheckedNext[kSecureLinkStreams];
    u64 keySentTime[kSecureLinkStreams];
    u64 stateSentTime[kSecureLinkStreams];
    u64 passwordSentTime;
};

// A hello to be answered with the host key, at the port it came from.
struct SecureLinkKeyAnswer {
    AddressRecord destination;
    u16 peerId;
};

// A hello that waits for a key exchange at the end of the relay port's drain: its header and where it
// stands (0 the controlling listener's address, 1 the address of a device the user decided on, 2 any
// other).
struct SecureLinkWaitingHello {
    AddressRecord source;
    u16 peerId;
    u8 publicKey[32];
    u8 streams;
    u8 rank;
    u32 repeats;  // the address's further hellos in the same drain, dropped
};

// A peer id and key that a device gave up by starting over, at its address: the device never says
// hello under them again, so a hello under them from there is a replay.
struct SecureLinkRetiredId {
    AddressRecord address;
    u16 peerId;
    u8 publicKey[32];
};

// With encryption off, a peer id not listed yet at its address, with the port of its first hello on each
// stream (0: none yet): a device waiting for a place keeps its id there, and a hello under it from
// another port of the address (a copy of the device's) lists nothing and starts no entry over.
struct SecureLinkUnlistedId {
    AddressRecord address;
    u16 peerId;
    u8 publicKey[32];
    u16 ports[kSecureLinkStreams];
};

// A run (its endpoint and peer id) that gave the spare place up without proving a password, and when.
struct SecureLinkUnprovedRun {
    AddressRecord address;
    u16 peerId;
    u64 time;
};

// An address and the time of its latest key exchange on a relay port.
struct SecureLinkServedAddress {
    AddressRecord address;
    u64 time;
};

// The relay host side: the listed peers and the one that controls the drone (null for none).
struct SecureLinkHost {
    SecureLinkPeer peers[kSecureLinkPeers];
    // The spare place, off the list: a new run that found no place on it, of an address where a device
    // the user decided on is listed (or of the controlling listener's), given the host key and the host's
    // state without grants until it proves a password. It then leaves for the entry whose password it
    // proved (or, the control password, for a place on the list); one that proved nothing within
    // kSecureLinkPeerSilence and kSecureLinkSpareFrames host frames gives it up, as does one whose hello
    // there proved nothing when another run asks for it, counted (the debug report shows them), and is not
    // let in again for kSecureLinkPeerSilence from its endpoint or under its peer id: the place goes to each
    // run that can prove in turn, however a run that cannot says hello.
    SecureLinkPeer spare;
    u64 spareRunsUnproved;
    u32 spareFrames;  // host frames the run in the spare place has held it
    u32 spareProvedNothing;  // a hello of that run proved nothing there: it gives way to another that asks
    SecureLinkUnprovedRun unprovedRuns[kSecureLinkUnprovedRuns];
    u32 unprovedNext;  // the slot the next run that gave the place up unproved takes (the oldest)
    SecureLinkPeer* controllingPeer;
    AddressRecord referenceAddress;  // the list's own reference: the controlling listener's address
    u32 listings;  // peers listed so far: the list order of the next one
    RelayHostIdentity* identity;  // null: the link does nothing

    // Per stream: the hellos from peers not yet listed, those of them dropped over the frame's key
    // exchanges, and the hellos under a listed peer id that did not open under its keys (also copies
    // from another port whose counter is no newer than the entry has taken, as replays would not; the
    // debug report shows them under the relay socket's line).
    u64 unlistedHellos[kSecureLinkStreams];
    u64 hellosOverKeyExchanges[kSecureLinkStreams];
    u64 unopenedHellos[kSecureLinkStreams];
    // Per stream: hellos of listed peers dropped unchecked over the one a frame each gets checked (and,
    // with encryption off, an endpoint's hellos under new peer ids within a second of its last start).
    u64 hellosOverEntryChecks[kSecureLinkStreams];
    // Per stream: sealed data under a listed peer's id from its address that the host does not use (not
    // the peer in control, or not its MAVLink port), dropped unopened.
    u64 dataNotInControl[kSecureLinkStreams];
    // Per stream, with encryption off: hellos under a listed peer id from another port of its address than
    // the entry's (or under one not listed yet, than its first), which change nothing; hellos from a listed
    // entry's endpoint on the stream under another peer id, which list nothing and move nothing; and video
    // hellos of an entry that holds a password its session has not proved yet, which set no port.
    u64 hellosFromOtherPorts[kSecureLinkStreams];
    u64 hellosAtOtherEntries[kSecureLinkStreams];
    u64 hellosAwaitingProof[kSecureLinkStreams];
    // Per stream, with encryption off: ports that an entry which proved nothing, or was not heard there
    // for kSecureLinkPeerSilence, gave up to a hello of another entry of its address.
    u64 portsGivenUp[kSecureLinkStreams];
    // Per stream: hellos of new devices that found no place on the sharing list (they wait for one).
    u64 hellosWithoutPlace[kSecureLinkStreams];
    // Per stream: hellos under a peer id and key that a device of their address gave up by starting
    // over (replays), dropped.
    u64 retiredHellos[kSecureLinkStreams];
    SecureLinkRetiredId retiredIds[kSecureLinkRetiredIds];
    u32 retiredNext;  // the slot the next retired id takes (the oldest)
    SecureLinkUnlistedId unlistedIds[kSecureLinkUnlistedIds];
    u32 unlistedNext;  // the slot the next unlisted id takes (the oldest)
    // The video streams of listed peers ask the video relay port for video once a second; the host
    // relays by the user's grants and only counts them.
    u64 peerVideoRequests;
    KeyExchangeBudget keyExchanges[kSecureLinkStreams];  // for hellos from peers not yet listed
    // Per stream: the hellos waiting for the frame's key exchanges.
    SecureLinkWaitingHello waitingHellos[kSecureLinkStreams][kSecureLinkKeyExchangeWaiting];
    i32 waitingHelloCount[kSecureLinkStreams];
    SecureLinkServedAddress servedAddresses[kSecureLinkStreams][kSecureLinkServedAddresses];
    // Per stream: the hellos to answer with the host key, sent by sendSecureLinkPublicKey.
    SecureLinkKeyAnswer keyAnswers[kSecureLinkStreams][kSecureLinkKeyAnswers];
    i32 keyAnswerCount[kSecureLinkStreams];
};

// The client side: this app's connection to another app's relay, one record per stream (MAVLink, video);
// both share the app's client identity.
struct SecureLinkClient {
    u32 active;
    u64 lastHostDatagramTime;
    u64 lastSealedTime;  // the last datagram that opened under the keys: the link is live within 3 s of it
    u64 lastTelemetryTime;
    u64 lastVideoTime;
    u64 lastControlGrantTime;    // the host's state said this app controls
    u64 lastControlAwaitedTime;  // it said control is granted, this app's password not yet proved

    SecureLinkClientIdentity* identity;  // null: the link does nothing
    AddressRecord server;  // the host's endpoint that the hellos go to
    u32 stream;            // the stream of the record's hellos: the only one its sealed datagrams open on
    u8 hostPublicKey[32];
    u8 hostNonce[kSecureLinkHostNonceBytes];  // of the host's entry for this client
    SecureLinkKeys keys;
    u32 hostPlain;  // the host sends plain (its encryption is off)
    u32 hostGrants;
    u64 hostButtons;
    u32 helloPending;  // the host needs a hello now (new keys or a new password)
    u64 helloTime;
    u64 sendCounters[kSecureLinkStreams];
    SecureLinkReplayWindow windows[kSecureLinkStreams];
    u32 started;        // a hello has gone out: starting over from here draws a fresh key pair
    // The run under the identity's key pair: when its first hello went out (0: none yet), and the local
    // port of the socket it went out from. A record that holds no keys starts its run over when that
    // socket moved or its host has been silent through kSecureLinkHostSilence of hellos.
    u64 runTime;
    u16 runPort;
    u32 keyGeneration;  // the identity's generation the record was keyed with
    // The host keys and entry nonces the record has counted under with the identity's key pair (keys
    // derived from one of them again would count from 0 a second time); forgotten with the key pair.
    u8 countedHosts[kSecureLinkCountedHosts][32 + kSecureLinkHostNonceBytes];
    i32 countedHostCount;
    KeyExchangeBudget hostKeyExchanges;  // for new host keys: one a frame
};

struct SecureLinkReceived {
    SecureLinkPeer* peer;  // null when the datagram was rejected or was the link's own
    const u8* data;        // the opened payload (MAVLink or video), null for none
    u32 length;
    u32 refused;  // rejected: from no listed peer, or not opening under its keys (the owner counts it)
    u32 limited;  // a hello from a peer not yet listed, dropped over the frame's key exchanges (the host
                  // counts it; not refused)
    u32 costly;   // it took a costly step (a MAC checked, a proof or a nonce drawn): counted against
                  // kSecureLinkDatagramsPerFrame
};

// Whether the address (any port of it) is a listed peer's.
bool isSecureLinkPeerAddress(const SecureLinkHost* host, const AddressRecord* address);

// Host side, once per frame and stream before the relay socket is drained: the host's public key, with
// the peer's host nonce, in answer to the hellos taken since the last call (at the ports they came
// from), and to every listed peer not served on that stream for more than 1 s at the stream's port while
// that port is heard. A listed peer without keys (listed while encryption was off) waits for the next
// drain's key exchanges. On the video stream it also sends the host's state (each peer's grants) from
// that stream's port every half second to the video ports heard within 3 s, as
// sendSecureLinkStateUpdates does on the MAVLink stream (a new session's first state at once).
void sendSecureLinkPublicKey(SecureLinkHost* host, Socket* relaySocket, u32 stream, const Preferences* preferences,
                             u64 now);
// Host side, once per frame: frees the spare place of a run that proved nothing there within 3 s and three
// host frames (not let in again for 3 s), drops undecided peers not heard for 30 s and the undecided earlier
// sessions of devices that started over once silent for 3 s (also one that never completed a sealed hello at
// the address and port where another entry proved its password, whichever was listed first; an entry the user
// decided on is never dropped here), names the controlling peer, sends every peer whose MAVLink port was
// heard within 3 s and that holds a password not yet proved its password (once a second at most), and the
// host's state on the MAVLink stream to every such peer, every half second (a new session's first state at
// once; the controller only to those granted something). The controlling listener of an earlier run that
// comes back undecided and proves the password it was given is granted control and telemetry again. A
// password that could not be drawn (all zero) is drawn again here.
void sendSecureLinkStateUpdates(SecureLinkHost* host, Socket* relaySocket, const GamepadState* gamepad,
                                u64 buttons, const Preferences* preferences, u64 now);
// Host side: the undecided peers silent for longer than silence leave the sharing list (all of them
// with silence 0: relaying was switched off, and nobody waits for a decision any more).
void dropUndecidedSecureLinkPeers(SecureLinkHost* host, u64 silence, u64 now);
// Host side: one datagram of the relay socket of the stream. Hellos from listed peers refresh their peer; a
// sealed datagram is opened in place. The peer is null when the datagram is rejected. With encryption on, a
// hello from a peer not yet listed is never opened: it waits for a key exchange at the end of the drain
// (exchangeKeysWithNewSecureLinkPeers), one hello an address; one from an address that already has one
// waiting, or that finds the waiting room full of better-placed addresses, is dropped and counted (limited).
// With encryption on, a stream's port is set only by a hello sealed under the peer's keys on that stream (the
// header travels in the clear, and anyone on the peer's address can replay it); a hello that does not open
// under them (a header alone, or sealed under other keys) is counted, answered with the host key at its own
// port and moves nothing, and one from another port than the stream's proven one changes nothing (only a
// hello whose sealed part did not open is counted as not opened: a header alone is a client without a key on
// that stream yet). A sealed hello moves the stream's port only when its counter is newer than any the entry
// has taken there and is not that of one of its own hellos from its own port dropped unchecked over the
// frame's check: one from another port that is either (a copy) is dropped unchecked and counted as not opened.
// A listed peer gets one hello checked a frame and stream (a MAC, a proof) from its own port on the stream
// (while it has none there, from the port of its first hello there), and the hellos under its id from other
// ports of its address share one more; the others in that frame are dropped and counted. Sealed data is
// opened only from the MAVLink port of the peer in control, on the MAVLink stream; anyone else's is refused
// unopened. With encryption off, a new peer is listed at once without a key exchange but with a fresh host
// nonce (within the frame's key exchanges, when it finds a place: else its hello is counted and it waits), a
// hello under a new peer id from a listed peer's MAVLink endpoint takes that entry over (control then waits
// for a new proof; once a second at most), and from nowhere else: a hello under another peer id from a listed
// entry's endpoint on the stream lists nothing and moves nothing, counted. A start-over leaves the entry no
// video port. Only a plain block of the exact form is read, and a hello sets a stream's port that the entry
// has none of yet (on the video stream, for an entry that holds a password, only once its session has proved
// it: the session's first such hello is counted and its port taken with the proof), also one that another
// entry of its address holds there while unheard for 3 s, or while it proved nothing and this one's session
// proved its password (that entry gives it up, counted); one under a listed peer id from another port than
// the entry's on the stream is counted and changes nothing, as is one under a peer id not listed yet from
// another port than the id's first hello there. Only hellos from the entry's MAVLink port (any, while it has
// none) keep it heard. An undecided entry with no MAVLink port, which the new run's video hello listed apart,
// leaves when the device starts over under its id at its MAVLink endpoint, its video port taken as the new
// run's video hello would be. A new entry's hello that proves the password of an entry at its address is that
// device started over: it takes over that entry (its decision, password and place on the list), which leaves
// (a run in the spare place moves to that entry's place). A new peer that finds no place on the list stands in
// the spare place when that is free (or held by a run whose hello there proved nothing), if its address is the
// controlling listener's or a decided device's and it did not give the place up unproved within 3 s (with
// encryption off, by a MAVLink hello only).
// The peer id and key that a device gave up by starting over are retired at its address: a hello under them
// from there is a replay, counted and dropped. A new peer is listed below every listed one.
SecureLinkReceived* receiveFromSecureLinkPeer(SecureLinkReceived* out, const SocketResult* datagram,
                                              SecureLinkHost* host, u32 stream, const Preferences* preferences,
                                              u64 now);
// Host side, after each drain of the stream's relay socket: the key exchanges for the hellos from peers
// not yet listed that waited in it, at most kSecureLinkKeyExchangesPerFrame a frame, one an address:
// the controlling listener's address first, then those of devices the user decided on, then the
// others, and among equals the address served longest ago first, then the one with fewer hellos. Each
// lists its peer with a fresh host nonce and answers it with the host key (a peer listed while
// encryption was off keeps its place and gets its keys). A new peer takes a free place, else that of
// the longest silent peer that never completed a sealed hello (not one at the controlling listener's
// address); one address holds at most two undecided peers, finished key exchange or not. A hello from
// the controlling listener's address, or from that of another device the user decided on, always finds
// a place (an undecided peer of another address gives way). A peer the user decided on gives up its
// place only when it has been gone for kSecureLinkGoneExpiry and nothing else can (the one granted
// control never). An undecided peer that has been silent for 3 s gives way; with encryption off only
// such a one does. A peer that finds no place stands in the spare place, when that is free, if its
// address is the controlling listener's or that of a device the user decided on, and it did not give
// the place up unproved within 3 s (a run there whose hello proved nothing gives way to it).
// The waiting hellos over the frame's key exchanges, and those that find no place, are dropped and
// counted.
void exchangeKeysWithNewSecureLinkPeers(SecureLinkHost* host, u32 stream, const Preferences* preferences, u64 now);
// Host side: the endpoints on the stream's socket of the peers the user decided on and of the peer in
// control (at most capacity); their count.
i32 grantedSecureLinkEndpoints(const SecureLinkHost* host, u32 stream, AddressRecord* endpoints, i32 capacity);
// Host side: queues one packet for every peer the user granted that stream whose port on the stream
// was heard within kSecureLinkPeerSilence (each client record says hello every second: one that
// stopped, crashed or moved is sent nothing until it is heard again), sealed for each (plain with
// encryption off).
void relayPacketToPeers(SecureLinkHost* host, Socket* relaySocket, u32 stream, const Preferences* preferences,
                        const ByteWriter* packet, u64 now);
// The user's decision on a peer (SecureLinkGrant bits). Granting control makes the peer the controlling
// listener (and takes control from any other); taking it away forgets the listener. Either draws a
// fresh control password (none while the system gives no random bytes: then nobody proves one until
// the next frame draws it), so what an earlier controller holds opens nothing; the peer granted control
// holds it from then on, while one that lost control keeps its own. A peer granted anything that held
// no password is given one; one the user took everything from holds none.
void setSecureLinkPeerDecision(SecureLinkHost* host, SecureLinkPeer* peer, u32 decision);
// Host side: the peer the user granted control (whether or not it controls yet); null for none.
const SecureLinkPeer* secureLinkControlGrantee(const SecureLinkHost* host);
// Host side: the listed peer at another address that showed the same public key (a device and one
// that relays its hellos); null for none.
const SecureLinkPeer* secureLinkPeerWithSameKey(const SecureLinkHost* host, const SecureLinkPeer* peer);

// Client side: leaves in place of the datagram the one to handle: the opened inner packet of a sealed
// datagram from the host, the datagram unchanged when it is none of the link's (or there is no
// client identity, or it is shorter than 2 bytes), and a length of 0 when the link used it (the key
// exchange, the password, the host's state) or dropped it. Once the keys are known every datagram
// that is not sealed is dropped, and another host key, or the host's state sent plain (a host that
// started again with its encryption off), is taken only after the link has been silent for 3 s: an
// unsealed datagram never re-keys or unseals a live link. A record that has counted under its keys
// (sealed a datagram or accepted one) remembers their host key and nonce as it gives them up and
// keeps its key pair; a host key and nonce it has counted under before (or one more than
// kSecureLinkCountedHosts) takes a fresh key pair and peer id for the identity, and the record then
// waits for the answer to its next hello (nothing is given up on a frame where the system cannot give
// random bytes). Callers hand it only datagrams from the host's endpoint; a record stopped, or that
// has not said hello yet, uses none of the link's own. A sealed datagram opens only when it was sealed
// for the record's stream. The host's controller fills gamepad (when not null). A password that comes sealed is kept as the identity's; one
// that comes plain never replaces it and is held apart for plain hosts.
void receiveFromSecureLinkHost(u8** data, u32* length, SecureLinkClient* client, GamepadState* gamepad, u64 now);
// Client side: the hello to the host once a second, and at once when the host needs it (new keys, a new
// password). A server other than the record's starts the record over, as does another stream; when it
// had said hello before, with a fresh key pair and peer id for the identity unless the other record
// drew one since this one last used the identity's (nothing is sent on a frame
// where the system cannot give random bytes). A record that holds no keys draws a fresh key pair and
// peer id for the identity when the socket's local port is no longer the one its run began on (once a
// second at most), and when the relay host it has heard has sent nothing through kSecureLinkHostSilence
// of its hellos (again only after another such silence): on the MAVLink stream, and on the video stream
// while the MAVLink record says hello to no relay host it has heard. The hello proves the
// identity's password for the record's host key, nonce and stream: the one kept from a sealed link, or
// toward a host that sends plain the one it sent plain (when it sent one).
void sendSecureLinkHello(SecureLinkClient* client, const AddressRecord* server, Socket* socket, u32 stream, u64 now);
// Client side: the connection no longer goes to a relaying app. The record forgets the host and takes
// nothing from the link (a host key, sealed data, the host's state or a password) until its next hello
// has started it over with a fresh key pair (the one the other record drew meanwhile, if it did).
void stopSecureLinkClient(SecureLinkClient* client);
// Client side: seals the MAVLink queued on the socket for the host while the keys are known.
void encryptSecureLinkSendQueue(SecureLinkClient* client, Socket* socket);

// The link's fingerprint, "3F9A 1C00 B27E 44D1 09AB": the first 10 bytes of SHA-256(host public key |
// client public key). The host shows it for a listed peer that holds keys, the client for the host
// whose key it holds (empty while either holds none: with encryption off).
FixedString secureLinkFingerprint(const u8* hostPublicKey, const u8* clientPublicKey);
FixedString secureLinkPeerFingerprint(const SecureLinkHost* host, const SecureLinkPeer* peer);
FixedString secureLinkClientFingerprint(const SecureLinkClient* client);
