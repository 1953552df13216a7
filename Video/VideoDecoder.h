// The program's one H.264 decoder. Both stream clients feed it Annex-B NAL units as their
// depacketiser produces them (processH264BytestreamNalu); it gathers them into whole access units
// and feeds the platform decoder one picture at a time. Once a frame the application update takes
// the next picture (processH264DecoderOutput) as tightly packed NV12 into the record's frame and
// publishes it as a renderer image slot of format 12, which screens draw by its id.
//
// Damage: when part of a picture was lost on the way (the stream clients say so), or the decoder
// met errors in it, no picture is shown from that one on until the next IDR picture, which is fed
// and shown again: a damaged picture costs at most the pictures up to the next IDR. While waiting,
// access units with slices but no IDR slice are not fed at all.
//
// The stream clients write the picture geometry from each changed SPS (width, height, stride =
// coded width, coded height; see parseSequenceParameterSet). Until the first SPS the sizes are 0
// and no picture is published. The shown size is the SPS's within the picture the decoder
// delivered: sizes an SPS claims beyond the picture are cut to it, and a picture larger than the
// frame is not published (the error text says so).
#pragma once
#include "Core/FixedString.h"
#include "Platform/H264Decoder.h"
#include "Video/H264AccessUnit.h"

struct ImageSlotTable;

// Room for one 1920 x 1080 picture three times over (NV12 needs half of it).
constexpr i64 kVideoFrameCapacity = 1920 * 1080 * 3;
constexpr u32 kVideoFormatNv12 = 12;
// A unit the decoder keeps refusing is dropped after this many pictures taken without success (the
// decoder holds at most 16 for reordering).
constexpr i32 kVideoDecoderDrainLimit = 20;
constexpr i64 kVideoNeverShown = INT64_MAX;

// Zero-filled at start, inside the program's state block.
struct VideoDecoder {
    H264Decoder decoder;   // the platform decoder; not open when set-up failed
    u32 ready;             // 1 once set-up completed
    i32 width;             // displayed luma width, from the SPS
    i32 height;            // displayed luma height
    i32 stride;            // the SPS's coded width
    i32 codedHeight;       // the SPS's coded height
    u32 imageSlotId;       // renderer image slot of the newest picture; 0 while there is none
    u32 picturesPublished;         // pictures registered as image slots so far
    FixedString error;             // text of the most recent failure; a later success keeps it
    i64 accessUnitCount;           // access units gathered so far, fed or not; a picture carries its unit's number
    i64 damagedFrom;               // pictures of access units numbered from here ...
    i64 shownFrom;                 // ... up to here are not shown (kVideoNeverShown: waiting for an IDR)
    i64 picturesDropped;           // pictures not shown because of damage
    i64 accessUnitsSkipped;        // access units not fed while waiting for an IDR
    H264AccessUnit accessUnit;     // the units of the picture being gathered
    u8 frame[kVideoFrameCapacity];  // the newest picture: height rows of width luma bytes, then
                                    // height / 2 rows of width bytes of interleaved Cb/Cr
};

// Sets up the decoder once at start-up and makes `decoder` the program's decoder. On failure the
// error text says why and video stays black; on success it is empty.
void initializeH264Decoder(VideoDecoder* decoder);

// Hands Annex-B NAL units (one, or several each behind its start code) to the program's decoder.
// They are gathered into access units; a complete access unit is fed to the platform decoder. When
// the decoder refuses input until a picture is taken, takes one (publishing it to slots) and feeds
// the access unit again, at most kVideoDecoderDrainLimit times. An access unit that cannot be fed is
// dropped with its message in the error text.
void processH264BytestreamNalu(const u8* bytes, i64 length, ImageSlotTable* slots);

// The transport marks the end of a picture: the access unit gathered so far is fed now.
void endH264AccessUnit(ImageSlotTable* slots);

// The stream lost data on the way (a sequence gap, a unit too large to collect): the picture being
// gathered is damaged.
void noteH264DataLost();

// The stream ended or changes: the access unit gathered so far is fed and the pictures the decoder
// holds back for reordering come out on the next output steps. The next stream starts at its
// first IDR picture.
void endH264Stream(ImageSlotTable* slots);

// Takes decoded pictures until one may be shown and publishes it: the previous image slot is
// released and the frame registered as a new one (id 0 when all slots are taken). Damaged pictures
// and those after them up to the next IDR are taken and dropped.
void processH264DecoderOutput(ImageSlotTable* slots);

// 1 while pictures are held back after damage until the next IDR picture.
i32 videoDecoderWaitsForIdr(const VideoDecoder* decoder);

// The decoder set by initializeH264Decoder, or null.
VideoDecoder* programVideoDecoder();
