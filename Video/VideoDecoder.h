// The program's one H.264 decoder. Both stream clients feed it Annex-B NAL units as their
// depacketiser produces them (processH264BytestreamNalu); once a frame the application update takes
// the newest picture (processH264DecoderOutput) as tightly packed NV12 into the record's frame and
// publishes it as a renderer image slot of format 12, which screens draw by its id.
//
// The stream clients write the picture geometry from each changed SPS (width, height, stride =
// coded width, coded height; see parseSequenceParameterSet). Until the first SPS the sizes are 0
// and no picture is published. The shown size is the SPS's within the picture the decoder
// delivered: sizes an SPS claims beyond the picture are cut to it, and a picture larger than the
// frame is not published (the error text says so).
#pragma once
#include "Core/FixedString.h"
#include "Platform/H264Decoder.h"

struct ImageSlotTable;

// Room for one 1920 x 1080 picture three times over (NV12 needs half of it).
constexpr i64 kVideoFrameCapacity = 1920 * 1080 * 3;
constexpr u32 kVideoFormatNv12 = 12;
// A unit the decoder keeps refusing is dropped after this many pictures taken without success.
constexpr i32 kVideoDecoderDrainLimit = 8;

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
    u8 frame[kVideoFrameCapacity];  // the newest picture: height rows of width luma bytes, then
                                    // height / 2 rows of width bytes of interleaved Cb/Cr
};

// Sets up the decoder once at start-up and makes `decoder` the program's decoder. On failure the
// error text says why and video stays black; on success it is empty.
void initializeH264Decoder(VideoDecoder* decoder);

// Feeds one Annex-B NAL unit (start code included) to the program's decoder. When the decoder
// refuses input until a picture is taken, takes one (publishing it to slots) and feeds the unit
// again, at most kVideoDecoderDrainLimit times. A unit that cannot be fed is dropped with its
// message in the error text.
void processH264BytestreamNalu(const u8* bytes, i64 length, ImageSlotTable* slots);

// Takes at most one decoded picture and publishes it: the previous image slot is released and the
// frame registered as a new one (id 0 when all slots are taken).
void processH264DecoderOutput(ImageSlotTable* slots);

// The decoder set by initializeH264Decoder, or null.
VideoDecoder* programVideoDecoder();
