// The RTSP/RTP video client: over a control connection (TCP for rtsp://, UDP for rtspu:// URLs) it
// negotiates one H.264 stream with DESCRIBE, SETUP and PLAY, receives RTP on UDP, feeds the decoder,
// keeps per-source reception counts, answers with RTCP receiver reports every 3 s, and tears the
// session down when the preferences change or the stream falls silent. It also serves this program's
// video relay: every payload goes on to the video peers as a Qv video datagram, with the stream's
// parameter sets (also those of the SDP) in front of IDR pictures that come without them (see
// VideoRelay), and its status line as a Qv text datagram once a second (the relay port's intake is
// the QV stream's).
//
// States: 0 idle (sockets closed), 1 DESCRIBE, 2 SETUP, 3 SETUP acknowledged, 4 PLAY, 5 playing,
// 6 teardown wanted, 7 TEARDOWN sent, 8 TEARDOWN acknowledged. A reply other than 200 restarts at 1;
// a redirect (301, 302, 303, 307) restarts at 1 with the URL it names, at most 5 times a session.
//
// Replies are gathered from the control connection until their headers and their Content-Length
// bytes are whole. RTP and RTCP are taken only from the server's address (others are counted and
// dropped); RTP passes a reorder window, and the end of a picture (the marker bit, or a new
// timestamp) is passed on to the decoder at once.
#pragma once
#include "Core/AddressRecord.h"
#include "Video/QvVideoStream.h"

constexpr i32 kRtpSourceCapacity = 32;
constexpr i32 kRtcpReportBlocksMax = 31;  // the report count field has 5 bits
constexpr u16 kRtspDefaultPort = 554;
constexpr i64 kRtpHeaderBytes = 12;
constexpr i32 kRtspParameterSetBytes = 1024;
constexpr i32 kRtspReplyCapacity = 16384;
constexpr i32 kRtspRedirectLimit = 5;

enum RtspState : i32 {
    RtspIdle = 0,
    RtspDescribe = 1,
    RtspSetup = 2,
    RtspSetupDone = 3,
    RtspPlay = 4,
    RtspPlaying = 5,
    RtspTeardownWanted = 6,
    RtspTeardownSent = 7,
    RtspTeardownDone = 8,
};

// Reception state of one RTP source (SSRC).
struct RtpSourceStats {
    u32 ssrc;
    u32 packetsReceived;
    u32 packetsLost;
    u32 receivedAtLastReport;
    u32 lostAtLastReport;
    u16 sequenceCycles;
    u16 highestSequence;
    u64 lastSenderReportNtp;   // 0 until a sender report arrived
    i64 lastSenderReportTime;  // us when it arrived
};

struct RtspVideoStream {
    VideoStreamStats stats;
    FixedString requestedUrl;  // the "RTSP URL" the session started from
    FixedString url;         // of the current session: the requested one, or where it was redirected
    i32 redirects;           // redirects followed since the requested URL was adopted
    AddressRecord server;    // from the URL; port 554 when it names none
    u32 controlMode;         // SocketMode: TCP client for rtsp://, UDP for rtspu://
    i32 state;               // RtspState
    i32 cseq;                // of the next request; only counts up
    i32 teardownCseq;
    u16 serverRtpPort;
    u16 serverRtcpPort;      // receiver reports go there
    i64 lastRequestTime;     // us; 0 sends the next request at once
    FixedString session;
    FixedString contentBase;
    FixedString sessionControl;  // empty for "*"
    FixedString mediaControl;    // empty for "*"
    FixedString reason;          // of the last reply
    i64 statusCode;              // of the last reply
    i64 lastReplyTime;
    u32 ownSsrc;
    i64 lastStatusRelayTime;
    i32 sourceCount;
    RtpSourceStats sources[kRtpSourceCapacity];
    // The SPS and PPS given only in the SDP ("sprop-parameter-sets"), as Annex-B units, fed to the
    // decoder before the first RTP payload of the session (the decoder keeps them for the session
    // from there).
    i32 parameterSetLength;
    u32 parameterSetsPending;
    u8 parameterSets[kRtspParameterSetBytes];
    // Replies gathered from the control connection.
    i32 replyLength;
    i64 replySkip;              // bytes still to come of a reply too large to gather
    i64 repliesTooLarge;
    u8 reply[kRtspReplyCapacity];
    // RTP after the reorder window.
    u32 streaming;              // RTP has come since the stream last ended
    u32 timestampKnown;
    u32 lastTimestamp;          // of the last RTP packet delivered
    PacketReorderWindow reorder;
    // The video relayed to the peers: started afresh, with the SDP's sets, by each DESCRIBE reply.
    VideoRelay relay;
};

// Once per frame, right after controlQvVideoStream. The relay socket and host may be null.
void controlRtspVideoStream(Socket* controlSocket, Socket* rtpSocket, Socket* rtcpSocket, Socket* videoRelaySocket,
                            SecureLinkHost* relayHost, RtspVideoStream* stream, H264StreamState* h264,
                            Preferences* preferences, ImageSlotTable* slots, FlightLogger* logger);

// The pieces controlRtspVideoStream runs, for tests and fuzzing.
// One received chunk of the control connection: added to what was gathered, and every message now
// whole (headers and Content-Length bytes; interleaved binary data is skipped) goes to
// handleRtspReply. A message that cannot fit kRtspReplyCapacity is skipped and counted.
void gatherRtspReplies(RtspVideoStream* stream, const u8* chunk, i64 length, i64 now);
// One whole reply.
void handleRtspReply(RtspVideoStream* stream, const u8* reply, i64 length, i64 now);
// One RTP datagram (ignored under the 12 bytes of an RTP header): counted, relayed, and passed
// through the reorder window to the decoder. The relay socket may be null.
void handleRtpDatagram(RtspVideoStream* stream, u8* data, i64 length, H264StreamState* h264,
                       SecureLinkHost* relayHost, Socket* videoRelaySocket, const Preferences* preferences,
                       ImageSlotTable* slots, i64 now);
// Delivers what the RTP reorder window holds for longer than it may wait (once a frame).
void expireRtpVideo(RtspVideoStream* stream, H264StreamState* h264, ImageSlotTable* slots, i64 now);
// The RTP stream ended: what the window holds is delivered, the decoder shows what it held back, and
// the session's parameter sets are forgotten (see endVideoStream).
void endRtpVideo(RtspVideoStream* stream, H264StreamState* h264, ImageSlotTable* slots);
// The first RTCP packet of a datagram: a sender report's time is kept for the receiver reports.
void handleRtcpDatagram(RtspVideoStream* stream, const u8* data, i64 length, i64 now);
// A receiver report for the sources with new packets (at most 31 of them); their counts at the last
// report move on. Returns the bytes written.
i64 writeReceiverReport(RtspVideoStream* stream, ByteWriter* writer, i64 now);
// The server address of an rtsp:// or rtspu:// URL (numeric IPv4 or bracketed IPv6; port 554 when
// none is given); family 0 when there is none.
AddressRecord parseRtspServer(const FixedString* url, u32* controlMode);
