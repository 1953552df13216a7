// The Qv video stream: UDP datagrams from a video server, or from another instance of this program
// that relays its video. Byte 0 gives the kind (numbers big-endian):
//   0xB8 video    u16 sequence number, then one RTP H.264 payload (single unit or fragment)
//   0xB7 text     UTF-8 text to the end of the datagram
//   0xB9 request  app -> server, once a second: keep sending
// Every datagram received is relayed on to this program's own video peers, so relays chain: text
// unchanged, video with the stream's parameter sets in front of IDR pictures that come without them
// (see VideoRelay).
// Only datagrams from the configured server's address are taken; others are counted and dropped.
// Video datagrams pass a reorder window before they are depacketised.
#pragma once
#include "Video/H264Stream.h"
#include "Video/PacketReorder.h"
#include "Video/VideoRelay.h"
#include "Video/VideoDecoder.h"
#include "Video/VideoStreamStats.h"

struct Socket;
struct Preferences;
struct ImageSlotTable;
struct SecureLinkHost;
struct SecureLinkClient;

// The local UDP port of the video relay socket on which this program serves its video to peers
// (both stream clients drive that socket). Tests move it off the well-known port.
extern u16 videoRelayPort;

constexpr u8 kQvText = 0xB7;
constexpr u8 kQvVideo = 0xB8;
constexpr u8 kQvRequest = 0xB9;

// The receive buffer asked for the video sockets (unless their owner asks for another): a 1080p I
// picture arrives as one burst of about 500 kB between two frames.
constexpr u32 kVideoReceiveBufferBytes = 4 * 1024 * 1024;
// A frame takes datagrams from a video socket until it is empty or this much time has gone (us).
constexpr i64 kVideoIntakeBudget = 10000;
// After this long without video the picture being gathered is shown: nothing more of it will come
// (us).
constexpr i64 kVideoPictureSilence = 1000000;
// A Qv stream without video for this long has ended, as when the protocol or the server changes:
// the pictures the decoder holds back for reordering are shown, and the next stream starts at an
// IDR picture (us).
constexpr i64 kVideoStreamEndSilence = 3000000;

struct QvVideoStream {
    VideoStreamStats stats;
    i64 lastRequestTime;   // us; 0 sends the request at once
    i64 lastTextTime;      // us; 0: none yet
    FixedString relayingAppText;  // the latest text packet
    u32 streaming;         // video has come since the stream last ended
    AddressRecord streamingFrom;  // the server it came from
    PacketReorderWindow reorder;
    VideoRelay relay;      // of the video relayed to the peers; started afresh with each stream
};

// Once per frame. Active while "Video stream protocol" is QV: receives, decodes and relays datagrams
// from "QV video server IP address and port", asks for the stream every second, serves the relay
// socket (may be null) and writes the status line. With another protocol the video socket is closed
// but the request keeps its one-second rhythm.
void controlQvVideoStream(Socket* videoSocket, Socket* videoRelaySocket, SecureLinkHost* relayHost,
                          SecureLinkClient* secureLinkClient, QvVideoStream* stream, H264StreamState* h264,
                          Preferences* preferences, ImageSlotTable* slots, FlightLogger* logger);

// One opened datagram: counts it, relays it to the video peers (relay socket may be null; see
// relayVideoToPeers) and passes its video through the reorder window to the decoder. Datagrams
// shorter than 3 bytes and of other kinds are dropped.
void handleQvDatagram(QvVideoStream* stream, u8* data, u32 length, H264StreamState* h264,
                      SecureLinkHost* relayHost, Socket* videoRelaySocket, const Preferences* preferences,
                      ImageSlotTable* slots, i64 now);

// One video payload with the sender's number on to the video peers as VideoRelay has it; with no relay
// host or socket it is only looked at (so that a relay that starts later has the stream's sets).
void relayVideoToPeers(VideoRelay* relay, u16 sequence, const u8* payload, i64 length, SecureLinkHost* relayHost,
                       Socket* videoRelaySocket, const Preferences* preferences, i64 now);

// Delivers what the Qv reorder window holds for longer than it may wait (once a frame).
void expireQvVideo(QvVideoStream* stream, H264StreamState* h264, ImageSlotTable* slots, i64 now);

// Feeds one depacketised unit to the decoder: a changed SPS first sets the decoder's picture sizes;
// a unit the depacketiser dropped is reported to the decoder as lost data. The first unit after the
// decoder opened (or dropped an access unit) gives it the stream's sizes and kept parameter sets
// first (see keepH264ParameterSets).
void feedVideoUnit(H264NalUnit unit, H264StreamState* h264, ImageSlotTable* slots);

// The stream ended or changes (endH264Stream), and the parameter sets kept from it are forgotten:
// the next stream brings its own.
void endVideoStream(H264StreamState* h264, ImageSlotTable* slots);

// Drains the relay socket into the secure link's host side (stream 1: video), at most
// kSecureLinkDatagramsPerFrame datagrams a call, then does the key exchanges its new peers' hellos
// wait for. Called once a frame (by the QV stream), so the port reads and exchanges keys within one
// bound a frame.
void serveVideoRelaySocket(Socket* videoRelaySocket, SecureLinkHost* relayHost, const Preferences* preferences,
                           i64 now);

// The status line with what the user needs to know about the video besides: a receive buffer
// smaller than asked, datagrams from other addresses dropped, units too large dropped, and pictures
// that cannot be decoded for want of their SPS or PPS or else are held back after damage (said only
// while video has come within kVideoStreamEndSilence).
FixedString videoStatusWithNotes(FixedString status, const VideoStreamStats* stats, const Socket* videoSocket,
                                 const H264StreamState* h264);
