#include "Video/VideoDecoder.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/Profiler.h"

namespace {

VideoDecoder* programDecoder = nullptr;

i32 smaller(i32 a, i32 b) { return a < b ? a : b; }

// Cuts the picture in the frame (w x h as delivered) to the SPS's sizes where those are smaller, in
// place, and returns the size shown; 0 x 0 before the first SPS.
void fitPictureToSps(VideoDecoder* d, i32 w, i32 h, i32* shownWidth, i32* shownHeight) {
    i32 width = smaller(d->width, w);
    i32 height = smaller(d->height, h);
    if (width <= 0 || height <= 0) {
        *shownWidth = *shownHeight = 0;
        return;
    }
    if (width != w || height != h) {
        // Rows only move towards the start of the frame, so each can be moved in turn.
        for (i64 row = 1; row < height; ++row) std::memmove(d->frame + row * width, d->frame + row * w, (size_t)width);
        const u8* chroma = d->frame + (i64)w * h;
        u8* to = d->frame + (i64)width * height;
        for (i64 row = 0; row < height / 2; ++row) std::memmove(to + row * width, chroma + row * w, (size_t)width);
    }
    *shownWidth = width;
    *shownHeight = height;
}

}  // namespace

VideoDecoder* programVideoDecoder() { return programDecoder; }

void initializeH264Decoder(VideoDecoder* decoder) {
    programDecoder = decoder;
    decoder->ready = 0;
    decoder->error = FixedString{};
    i32 code = 0;
    i32 status = openH264Decoder(&decoder->decoder, &code);
    if (status == H264DecoderNoLibrary) {
        decoder->error = makeString("The system's libavcodec could not be loaded");
    } else if (status == H264DecoderNotFound) {
        decoder->error = makeString("The system's libavcodec has no H.264 decoder");
    } else if (status == H264DecoderOutOfMemory) {
        decoder->error = makeString("Not enough memory for the H.264 decoder");
    } else if (status != H264DecoderOk) {
        decoder->error = formatHex("avcodec_open2(H264) failed with code: @", (u32)code, 8);
    } else {
        decoder->ready = 1;
    }
}

void processH264BytestreamNalu(const u8* bytes, i64 length, ImageSlotTable* slots) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready || !bytes || length <= 0) return;
    ProfilingScope profile("Process H264 Bytestream NALU");
    for (i32 drains = 0;; ++drains) {
        i32 code = 0;
        i32 status;
        {
            ProfilingScope pass("Pass input to decoder");
            status = sendH264Unit(&d->decoder, bytes, length, &code);
        }
        if (status == H264DecoderOk) return;
        if (status == H264DecoderNotAccepting) {
            if (drains == kVideoDecoderDrainLimit) {
                d->error = formatInt("The video decoder refused a NAL unit of @ bytes; it was dropped", length);
                return;
            }
            processH264DecoderOutput(slots);
            continue;
        }
        if (status == H264DecoderOutOfMemory) {
            d->error = formatInt("Not enough memory to decode a NAL unit of @ bytes", length);
        } else if (status == H264DecoderTooLarge) {
            d->error = formatInt("A NAL unit of @ bytes is too large for the video decoder", length);
        } else {
            d->error = formatInt("ProcessInput returned @\n", code);
        }
        return;
    }
}

void processH264DecoderOutput(ImageSlotTable* slots) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready) return;
    ProfilingScope profile("Process H264 Decoder Output");
    i32 code = 0;
    i32 status;
    H264PictureLayout layout{};
    {
        ProfilingScope get("Get decoder output");
        status = receiveH264Picture(&d->decoder, d->frame, kVideoFrameCapacity, &layout, &code);
    }
    if (status == H264DecoderUnsupported) {
        d->error = makeString("The video decoder can't convert this stream's pictures to NV12");
        return;
    }
    if (status == H264DecoderTooLarge) {
        d->error = makeString("The video picture is too large to show");
        return;
    }
    if (status != H264DecoderOk) return;

    i32 width = 0, height = 0;
    fitPictureToSps(d, layout.width, layout.height, &width, &height);
    // Before the first SPS there is nothing to show: no empty image is registered.
    if (width == 0) return;
    if (d->imageSlotId) {
        if (ImageSlot* slot = getImageSlot(slots, (i32)d->imageSlotId)) slot->releaseRequested = 1;
    }
    d->imageSlotId = (u32)allocImageSlot(d->frame, (u32)width, (u32)height, kVideoFormatNv12, slots);
    d->picturesPublished++;
}
