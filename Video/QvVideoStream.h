// The Qv video stream: UDP datagrams from a video server, or from another instance of this program
// that relays its video. Byte 0 gives the kind (numbers big-endian):
//   0xB8 video    u16 sequence number, then one RTP H.264 payload (single unit or fragment)
//   0xB7 text     UTF-8 text to the end of the datagram
//   0xB9 request  app -> server, once a second: keep sending
// Every datagram received is relayed on unchanged to this program's own video peers, so relays chain.
#pragma once
#include "Video/H264Stream.h"
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

struct QvVideoStream {
    VideoStreamStats stats;
    i64 lastRequestTime;   // us
    i64 lastTextTime;      // us; 0: none yet
    u16 lastSequence;
    FixedString relayingAppText;  // the latest text packet
};

// Once per frame. Active while "Video stream protocol" is QV: receives, decodes and relays datagrams
// from "QV video server IP address and port", asks for the stream every second, serves the relay
// socket (may be null) and writes the status line. With another protocol the video socket is closed
// but the request keeps its one-second rhythm.
void controlQvVideoStream(Socket* videoSocket, Socket* videoRelaySocket, SecureLinkHost* relayHost,
                          SecureLinkClient* secureLinkClient, QvVideoStream* stream, H264StreamState* h264,
                          Preferences* preferences, ImageSlotTable* slots, FlightLogger* logger);

// One opened datagram: counts it, relays it to the video peers (relay socket may be null) and feeds
// its video to the decoder. Datagrams shorter than 3 bytes and of other kinds are dropped.
void handleQvDatagram(QvVideoStream* stream, u8* data, u32 length, H264StreamState* h264,
                      SecureLinkHost* relayHost, Socket* videoRelaySocket, const Preferences* preferences,
                      ImageSlotTable* slots, i64 now);

// Feeds one depacketised unit to the decoder: a changed SPS first sets the decoder's picture sizes.
void feedVideoUnit(H264NalUnit unit, H264StreamState* h264, ImageSlotTable* slots);

// Drains the relay socket into the secure link's host side (stream 1: video).
void serveVideoRelaySocket(Socket* videoRelaySocket, SecureLinkHost* relayHost, const Preferences* preferences,
                           i64 now);
