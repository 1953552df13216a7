// H.264 over RTP (the payload format both video transports carry): turning one RTP payload into
// Annex-B byte-stream NAL units for the decoder, reassembling fragmented units, and reading the
// picture size from each sequence parameter set. Also the RBSP bit reader the SPS walk uses.
#pragma once
#include "Core/Types.h"

// The largest picture the decoder's frame area shows is 1920 x 1080, coded as 8,160 macroblocks of
// at most 3,200 bits (400 bytes) each at 8 bits 4:2:0; emulation-prevention bytes add at most half
// again. A unit that still does not fit is dropped whole and counted.
constexpr i32 kH264FragmentCapacity = 8160 * 400 * 3 / 2;
// An aggregation packet fits one datagram; each of its units gains 2 bytes (start code for size).
constexpr i32 kH264AggregateCapacity = 2 * 65536;
// Room for the parameter sets a stream has in force (see H264ParameterSets): an SPS or PPS takes a
// few dozen bytes, with scaling matrices a few hundred.
constexpr i32 kH264ParameterSetsCapacity = 4096;
// Parameter set ids: seq_parameter_set_id below 32, pic_parameter_set_id below 256.
constexpr i32 kH264SpsCount = 32;
constexpr i32 kH264PpsCount = 256;

// NAL unit types this code looks at.
enum H264NalType : u32 {
    NalSlice = 1,
    NalIdr = 5,
    NalSei = 6,
    NalSps = 7,
    NalPps = 8,
    NalDelimiter = 9,
    NalStapA = 24,
    NalStapB = 25,
    NalFuA = 28,
    NalFuB = 29,
};

// The parameter sets a stream has in force, as a decoder context that opens in the middle of it
// must be given them before its first access unit: the newest SPS of each id, then the newest PPS of
// each id, each behind a 4-byte start code. Zero-filled: none.
struct H264ParameterSets {
    i32 length;      // bytes in use
    i32 spsLength;   // bytes of the SPS units, which come first
    u8 bytes[kH264ParameterSetsCapacity];
};

// One record shared by both stream clients (only one runs at a time); zero-filled at start.
struct H264StreamState {
    u32 spsSeen;        // 1 once an SPS unit has been parsed
    u32 codedWidth;     // (pic_width_in_mbs_minus1 + 1) * 16 of the last SPS
    u32 codedHeight;    // map units * (2 - frame_mbs_only_flag) * 16 of the last SPS
    u32 width;          // coded width minus the horizontal cropping of the last SPS
    u32 height;         // coded height minus the vertical cropping of the last SPS
    i32 fragmentLength; // bytes collected in fragmentBuffer; 0 when no unit is being collected
    u16 expectedSequence;  // RTP sequence number the next fragment must carry
    u16 pad;
    i32 aggregateLength;   // bytes of the last split aggregation packet in aggregateBuffer
    u32 unitsTooLarge;     // fragmented units dropped whole because they did not fit fragmentBuffer
    u32 lossPending;       // 1 when a unit was dropped since the stream client last reported a loss
    // The running stream's parameter sets, for a decoder that opens while it runs; forgotten when the
    // stream ends (see endVideoStream).
    H264ParameterSets kept;
    u8 fragmentBuffer[kH264FragmentCapacity];   // start code, rebuilt NAL header, fragments' data
    u8 aggregateBuffer[kH264AggregateCapacity]; // units of an aggregation packet, each with a start code
};

// Annex-B bytes handed to the decoder: one NAL unit beginning 00 00 00 01 (or, for an aggregation
// packet, several such units one after another); {null, 0} means nothing this time.
struct H264NalUnit {
    u8* bytes;
    i64 length;
};

// Turns the RTP payload packet[payloadOffset .. packetEnd) with the packet's sequence number into
// byte-stream NAL units:
//  - a single NAL unit (types 0-23): the start code is written over the 4 bytes in front of the
//    payload and the result points into the caller's packet. The caller keeps 4 writable bytes
//    there (an RTP header provides them); with a payload offset below 4 the unit is copied instead.
//  - FU-A / FU-B (28, 29): fragments are collected in the state's fragment buffer and the unit comes
//    out, start code and rebuilt header first, with its end fragment; a sequence gap drops the unit
//    until the next start fragment. A unit larger than kH264FragmentCapacity is dropped whole (never
//    cut), counted in unitsTooLarge, and sets lossPending. Fragments too short for their FU header
//    (and decoding order number) are dropped.
//  - STAP-A / STAP-B (24, 25): the aggregated units come out together, each with its own start
//    code, from the state's aggregation buffer; a unit whose size runs past the payload ends them.
//  - MTAP16 / MTAP24 and types 30, 31 (not sent in non-interleaved mode) and empty payloads give
//    nothing.
// A result in the state's buffers stays valid until the next call.
H264NalUnit convertPacketTransportNalUnit(u8* packet, i64 payloadOffset, i64 packetEnd, H264StreamState* state,
                                          u16 sequenceNumber);

// When the bytes hold an SPS (the first type-7 unit among them, before any slice), stores its sizes
// in the state and returns 1 when the displayed width or height differs from those stored before;
// 0 otherwise (no SPS, empty, or the same size). Malformed or truncated data reads as zeros and is
// not reported.
i32 parseSequenceParameterSet(H264NalUnit unit, H264StreamState* state);

// Keeps the SPS and PPS units among Annex-B bytes (as convertPacketTransportNalUnit gives them, or an
// access unit's): each replaces the kept unit of its kind and id, so that giving the kept bytes to a
// decoder leaves it with the parameter sets the stream has in force. The search ends at the first
// slice unless `throughSlices` (an access unit may repeat its sets between its slices). A unit whose
// id cannot be read or is out of range (no decoder takes it) is not kept; when the room runs out the
// oldest PPS go first, then the oldest SPS; a unit larger than the whole room is not kept.
void keepH264ParameterSets(const u8* bytes, i64 length, H264ParameterSets* sets, bool throughSlices);
// The end of the Annex-B unit that begins at `start` (after its start code): where the next start
// code begins, without the zero bytes before it; `length` for the last unit.
i64 h264UnitEnd(const u8* bytes, i64 length, i64 start);
// Forgets every kept set (the stream they served has ended).
void forgetH264ParameterSets(H264ParameterSets* sets);

// Reads RBSP bits, most significant bit of byte 0 first.
struct BitReader {
    const u8* data;
    u32 bitLength;
    u32 bitPosition;
};

// The next n bits (n from 1 to 64), most significant first. When fewer than n bits remain or n is
// out of range: 0, and the position does not move.
u64 readBits(BitReader* reader, i32 n);

// One unsigned Exp-Golomb value ue(v). A code that runs past the data, or whose zero prefix is
// longer than 32 bits (no valid ue(v) is), reads as 0 and leaves the reader at its end.
u64 readExpGolomb(BitReader* reader);

// The signed form se(v) of the next Exp-Golomb code.
i64 readSignedExpGolomb(BitReader* reader);

// Whether an SPS of this profile_idc carries the chroma format, bit depths and scaling matrices.
bool isH264HighProfile(u64 profile);

// Reads past an SPS's scaling lists (8, or 12 for 4:4:4), each present or not by its own flag.
void skipH264ScalingLists(BitReader* reader, i32 lists);
