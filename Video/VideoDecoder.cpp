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

// Pictures from access unit `number` on are damaged: none is shown until the next IDR picture.
void holdUntilIdr(VideoDecoder* d, i64 number) {
    if (d->shownFrom == kVideoNeverShown) return;
    d->damagedFrom = number;
    d->shownFrom = kVideoNeverShown;
}

// Feeds one access unit, taking pictures while the decoder asks for it. False when it was dropped.
bool sendAccessUnit(VideoDecoder* d, const u8* bytes, i64 length, i64 number, ImageSlotTable* slots) {
    for (i32 drains = 0;; ++drains) {
        i32 code = 0;
        i32 status;
        {
            ProfilingScope pass("Pass input to decoder");
            status = sendH264AccessUnit(&d->decoder, bytes, length, number, &code);
        }
        if (status == H264DecoderOk) return true;
        if (status == H264DecoderNotAccepting || status == H264DecoderDraining) {
            if (drains == kVideoDecoderDrainLimit) {
                d->error = formatInt("The video decoder refused an access unit of @ bytes; it was dropped", length);
                return false;
            }
            processH264DecoderOutput(slots);
            continue;
        }
        if (status == H264DecoderOutOfMemory) {
            d->error = formatInt("Not enough memory to decode an access unit of @ bytes", length);
        } else if (status == H264DecoderTooLarge) {
            d->error = formatInt("An access unit of @ bytes is too large for the video decoder", length);
        } else {
            d->error = formatInt("ProcessInput returned @\n", code);
        }
        return false;
    }
}

// Feeds the access unit gathered so far (or drops it while waiting for an IDR picture) and starts
// the next one.
void feedAccessUnit(VideoDecoder* d, ImageSlotTable* slots) {
    H264AccessUnit* unit = &d->accessUnit;
    if (unit->length == 0) return;  // a loss noted before the unit began stays with it
    i64 number = ++d->accessUnitCount;
    bool waiting = d->shownFrom == kVideoNeverShown;
    if (unit->slices && (unit->damaged || (waiting && !unit->idr))) {
        if (unit->damaged) holdUntilIdr(d, number);
        d->accessUnitsSkipped++;
    } else if (!sendAccessUnit(d, unit->bytes, unit->length, number, slots)) {
        holdUntilIdr(d, number);
    } else if (waiting && unit->idr) {
        d->shownFrom = number;
    }
    clearAccessUnit(unit);
}

// The index of the first start code (00 00 01) at or after from, or length.
i64 nextStartCode(const u8* bytes, i64 length, i64 from) {
    for (i64 i = from + 2; i < length;) {
        const u8* one = (const u8*)std::memchr(bytes + i, 1, (size_t)(length - i));
        if (!one) break;
        i = one - bytes;
        if (bytes[i - 1] == 0 && bytes[i - 2] == 0) return i - 2;
        ++i;
    }
    return length;
}

}  // namespace

VideoDecoder* programVideoDecoder() { return programDecoder; }

void initializeH264Decoder(VideoDecoder* decoder) {
    programDecoder = decoder;
    decoder->ready = 0;
    decoder->error = FixedString{};
    decoder->accessUnitCount = 0;
    decoder->damagedFrom = 0;
    decoder->shownFrom = 0;
    clearAccessUnit(&decoder->accessUnit);
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
    for (i64 start = nextStartCode(bytes, length, 0); start < length;) {
        i64 begin = start + 3;
        i64 end = nextStartCode(bytes, length, begin);
        start = end;
        while (end > begin && bytes[end - 1] == 0) --end;  // the next start code's leading zero
        if (end == begin) continue;
        if (beginsNewAccessUnit(&d->accessUnit, bytes + begin, end - begin)) feedAccessUnit(d, slots);
        addToAccessUnit(&d->accessUnit, bytes + begin, end - begin);
    }
}

void endH264AccessUnit(ImageSlotTable* slots) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready || d->accessUnit.slices == 0) return;
    feedAccessUnit(d, slots);
}

void noteH264DataLost() {
    if (programDecoder) programDecoder->accessUnit.damaged = 1;
}

void endH264Stream(ImageSlotTable* slots) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready) return;
    if (d->accessUnit.slices) feedAccessUnit(d, slots);
    clearAccessUnit(&d->accessUnit);
    endH264Input(&d->decoder);
}

i32 videoDecoderWaitsForIdr(const VideoDecoder* decoder) {
    return decoder && decoder->shownFrom == kVideoNeverShown ? 1 : 0;
}

void processH264DecoderOutput(ImageSlotTable* slots) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready) return;
    ProfilingScope profile("Process H264 Decoder Output");
    for (;;) {
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
        // Errors in a picture since the last IDR shown: its successors may carry them on.
        if (layout.damaged && layout.number >= d->shownFrom) holdUntilIdr(d, layout.number);
        if (layout.damaged || (layout.number >= d->damagedFrom && layout.number < d->shownFrom)) {
            d->picturesDropped++;
            continue;
        }

        i32 width = 0, height = 0;
        fitPictureToSps(d, layout.width, layout.height, &width, &height);
        // Before the first SPS there is nothing to show: no empty image is registered.
        if (width == 0) return;
        if (d->imageSlotId) {
            if (ImageSlot* slot = getImageSlot(slots, (i32)d->imageSlotId)) slot->releaseRequested = 1;
        }
        d->imageSlotId = (u32)allocImageSlot(d->frame, (u32)width, (u32)height, kVideoFormatNv12, slots);
        d->picturesPublished++;
        return;
    }
}
