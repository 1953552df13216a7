// The video this program relays to its peers, as Qv video datagrams (0xB8, u16 number, one RTP H.264
// payload). A peer may begin to take a stream anywhere in it (it joins late, or is granted the video
// late), while a sender may give its SPS and PPS only once: at the start of its stream, or, over
// RTSP, only in the SDP. So the relay keeps the stream's newest parameter sets and sends them, each
// unit in a datagram of its own, in front of every IDR picture that comes without them; a peer shows
// pictures from the first IDR picture it gets.
//
// The datagrams added take numbers of their own: every later one is numbered the sender's number
// plus the datagrams added so far (mod 65,536), so the peers see no gap and a loss before the relay
// still shows as one. A datagram the sender numbered shortly before the last addition that comes
// late keeps its number from before it.
#pragma once
#include "Video/H264Stream.h"

struct ByteWriter;

// Numbers before the last addition within which a datagram counts as late rather than as a sender
// that numbers afresh.
constexpr u16 kVideoRelayLateWindow = 64;

struct VideoRelay {
    H264ParameterSets sets;  // the stream's newest, as they passed (or as the SDP gave them)
    u32 setsSinceSlice;      // bit 0: an SPS, bit 1: a PPS passed since the last slice
    u32 lateWindow;          // 1 while a datagram from before the last addition may still come
    u16 added;               // datagrams added so far
    u16 addedBefore;         // datagrams added before the last addition
    u16 addedAt;             // the sender's number of the datagram the last addition went in front of
    u16 pad;
};

// Sends one datagram to the peers (the writer holds it whole).
typedef void (*VideoRelaySend)(void* context, const ByteWriter* datagram);

// A new stream: the sets and the numbering of the last are forgotten. `sets` (Annex-B units, may be
// empty) are those the new stream gave beforehand (an RTSP stream's SDP).
void startVideoRelay(VideoRelay* relay, const u8* sets, i64 length);

// One video payload of the stream, with the sender's number (the RTP or Qv sequence number): its
// parameter sets are kept, and `send` (null: nothing is sent) gets the datagrams for the peers: the
// kept sets first when the payload begins an IDR picture (its first slice, whole or the first
// fragment) and no SPS and PPS passed since the last slice, then the payload itself. An empty payload
// goes on as a datagram of 3 bytes. A payload too long for one datagram slot is not sent.
void relayVideoPayload(VideoRelay* relay, u16 sequence, const u8* payload, i64 length, VideoRelaySend send,
                       void* context);
