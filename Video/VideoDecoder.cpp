// The main thread's side of the decoder: gathering access units into the worker's ring, the end of
// a stream, and publishing the newest picture. The worker's side is in VideoDecodeWorker.cpp.
#include "Video/VideoDecoder.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/ImageSlots.h"
#include "Core/Profiler.h"

namespace {

VideoDecoder* programDecoder = nullptr;

constexpr u32 kFresh = 4;

i32 smaller(i32 a, i32 b) { return a < b ? a : b; }

bool workerAttached(const VideoDecoder* d) { return d->workerAttached.load(std::memory_order_acquire) != 0; }

void wakeWorker(VideoDecoder* d) {
    d->signal.fetch_add(1, std::memory_order_release);
    d->signal.notify_one();
}

bool slotFree(const VideoDecoder* d) {
    return d->unitsWritten.load(std::memory_order_relaxed) - d->unitsRead.load(std::memory_order_acquire) <
           kVideoAccessUnitSlots;
}

// Without a worker thread a full ring is emptied here.
void makeRoomInline(VideoDecoder* d) {
    if (workerAttached(d)) return;
    while (runVideoDecodeStep(d)) {
    }
}

void handOverSlot(VideoDecoder* d, i64 start, i64 length, u32 flags, i64 parameterSetsEnd) {
    u32 written = d->unitsWritten.load(std::memory_order_relaxed);
    VideoAccessUnitSlot* slot = &d->slots[written % kVideoAccessUnitSlots];
    slot->start = start;
    slot->length = length;
    slot->flags = flags;
    slot->parameterSetsEnd = (u32)(parameterSetsEnd < length ? parameterSetsEnd : length);
    d->ringEnd = start + length;
    d->unitsWritten.store(written + 1, std::memory_order_release);
    wakeWorker(d);
}

// Hands over the end of a stream once a slot is free; false while none is.
bool handOverStreamEnd(VideoDecoder* d) {
    if (!d->endPending) return true;
    if (!slotFree(d)) makeRoomInline(d);
    if (!slotFree(d)) return false;
    handOverSlot(d, d->ringEnd, 0, VideoUnitStreamEnd, 0);
    d->endPending = 0;
    return true;
}

// The bytes free in one piece from ring position `start` on.
i64 roomAt(const VideoDecoder* d, i64 start) {
    u32 read = d->unitsRead.load(std::memory_order_acquire);
    i64 oldest = read == d->unitsWritten.load(std::memory_order_relaxed)
                     ? start
                     : d->slots[read % kVideoAccessUnitSlots].start;
    i64 toEnd = kVideoUnitRingBytes - start % kVideoUnitRingBytes;
    i64 toOldest = oldest + kVideoUnitRingBytes - start;
    i64 room = toEnd < toOldest ? toEnd : toOldest;
    return room < kH264AccessUnitCapacity ? room : kH264AccessUnitCapacity;
}

// Gives the access unit being gathered a place in the ring for `more` bytes besides what it holds:
// where it is, or moved to the ring's start. Without one it goes on without bytes (and is damaged).
void makeRoom(VideoDecoder* d, i64 more) {
    H264AccessUnit* unit = &d->accessUnit;
    if (!d->gatherSlot) {
        if (!handOverStreamEnd(d)) return;
        if (!slotFree(d)) makeRoomInline(d);
        if (!slotFree(d)) return;
        d->gatherSlot = 1;
        d->gatherStart = d->ringEnd;
        unit->bytes = d->unitRing + d->gatherStart % kVideoUnitRingBytes;
        unit->capacity = roomAt(d, d->gatherStart);
    }
    if (unit->capacity - unit->length >= more) return;
    if (roomAt(d, d->gatherStart) - unit->length < more) makeRoomInline(d);
    unit->capacity = roomAt(d, d->gatherStart);
    if (unit->capacity - unit->length >= more) return;
    if (d->gatherStart % kVideoUnitRingBytes == 0) {
        d->gatherShort = 1;
        return;
    }
    i64 wrapped = d->gatherStart - d->gatherStart % kVideoUnitRingBytes + kVideoUnitRingBytes;
    i64 room = roomAt(d, wrapped);
    if (room - unit->length < more) {
        d->gatherShort = 1;
        return;
    }
    std::memmove(d->unitRing, unit->bytes, (size_t)unit->length);
    d->gatherStart = wrapped;
    unit->bytes = d->unitRing;
    unit->capacity = room;
}

// The access unit gathered so far goes to the worker (or, with no slot for it, is dropped, and what
// follows it waits for a resume point).
void handOverAccessUnit(VideoDecoder* d) {
    H264AccessUnit* unit = &d->accessUnit;
    if (unit->units == 0) return;  // a loss noted before the unit began stays with it
    if (unit->slices) d->parameterSetsMissing = unit->setsMissing;
    bool lost = false;
    if (d->gatherSlot) {
        u32 flags = 0;
        if (unit->slices) flags |= VideoUnitHasSlices;
        if (accessUnitIntact(unit)) flags |= VideoUnitIntact;
        if (isResumePoint(unit)) flags |= VideoUnitResumePoint;
        handOverSlot(d, d->gatherStart, unit->length, flags, unit->parameterSetsEnd);
        d->gatherSlot = 0;
        if (d->gatherShort) d->accessUnitsDroppedBehind++;
    } else {
        d->accessUnitsDroppedBehind++;
        lost = true;
    }
    // Parameter sets may have been among what was dropped: the stream client gives them again.
    if (lost || d->gatherShort) d->joinedStream = 0;
    d->gatherShort = 0;
    clearAccessUnit(unit);
    unit->bytes = nullptr;
    unit->capacity = 0;
    if (lost) noteAccessUnitLoss(unit);
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

// Cuts the picture (w x h as delivered) to the SPS's sizes where those are smaller, in place, and
// returns the size shown; 0 x 0 before the first SPS.
void fitPictureToSps(const VideoDecoder* d, u8* frame, i32 w, i32 h, i32* shownWidth, i32* shownHeight) {
    i32 width = smaller(d->width, w);
    i32 height = smaller(d->height, h);
    if (width <= 0 || height <= 0) {
        *shownWidth = *shownHeight = 0;
        return;
    }
    if (width != w || height != h) {
        // Rows only move towards the start of the frame, so each can be moved in turn.
        for (i64 row = 1; row < height; ++row) std::memmove(frame + row * width, frame + row * w, (size_t)width);
        const u8* chroma = frame + (i64)w * h;
        u8* to = frame + (i64)width * height;
        for (i64 row = 0; row < height / 2; ++row) std::memmove(to + row * width, chroma + row * w, (size_t)width);
    }
    *shownWidth = width;
    *shownHeight = height;
}

FixedString failureText(u64 failure) {
    u32 kind = (u32)(failure >> 56);
    i64 value = (i32)(u32)failure;
    switch (kind) {
    case VideoFailureRefused:
        return formatInt("The video decoder refused an access unit of @ bytes; it was dropped", value);
    case VideoFailureOutOfMemory:
        return formatInt("Not enough memory to decode an access unit of @ bytes", value);
    case VideoFailureUnitTooLarge:
        return formatInt("An access unit of @ bytes is too large for the video decoder", value);
    case VideoFailureDamaged:
        return makeString("Damaged video could not be decoded; waiting for the next key frame");
    case VideoFailureInput:
        return formatInt("The video decoder failed on a picture (libavcodec error @); waiting for the next key frame",
                         value);
    case VideoFailureNoNv12:
        return makeString("The video decoder can't convert this stream's pictures to NV12");
    case VideoFailurePictureTooLarge:
        return makeString("The video picture is too large to show");
    default:
        return formatInt("A fresh video decoder could not be opened (code @)", value);
    }
}

}  // namespace

VideoDecoder* programVideoDecoder() { return programDecoder; }

void initializeH264Decoder(VideoDecoder* decoder) {
    programDecoder = decoder;
    decoder->ready = 0;
    decoder->joinedStream = 0;
    decoder->error = FixedString{};
    decoder->errorUnit = kVideoNeverShown;
    decoder->failure.store(0, std::memory_order_relaxed);
    decoder->front = 0;
    decoder->work.back = 1;
    decoder->newest.store(2, std::memory_order_relaxed);
    decoder->work.accessUnitCount = 0;
    decoder->work.damagedFrom = 0;
    decoder->work.shownFrom = 0;
    decoder->work.freshContext = 1;
    decoder->work.outputPending = 0;
    decoder->work.draining = 0;
    decoder->work.awaitingResume = 0;
    decoder->work.refusals = 0;
    forgetH264ParameterSets(&decoder->work.parameterSets);
    decoder->waitingForResume.store(0, std::memory_order_relaxed);
    // No worker runs yet: whatever an earlier decoder left in the ring is forgotten.
    u32 written = decoder->unitsWritten.load(std::memory_order_relaxed);
    decoder->unitsRead.store(written, std::memory_order_relaxed);
    decoder->idleThrough.store(written, std::memory_order_relaxed);
    decoder->endPending = 0;
    decoder->parameterSetsMissing = 0;
    decoder->gatherSlot = 0;
    decoder->ringEnd = 0;
    resetAccessUnit(&decoder->accessUnit);
    decoder->accessUnit.bytes = nullptr;
    decoder->accessUnit.capacity = 0;
    i32 code = 0;
    i32 status = openH264Decoder(&decoder->work.decoder, &code);
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

void closeVideoDecoder(VideoDecoder* decoder) {
    closeH264Decoder(&decoder->work.decoder);
    decoder->ready = 0;
    decoder->workerAttached.store(0, std::memory_order_relaxed);
    if (programDecoder == decoder) programDecoder = nullptr;
}

void processH264BytestreamNalu(const u8* bytes, i64 length, ImageSlotTable*) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready || !bytes || length <= 0) return;
    ProfilingScope profile("Process H264 Bytestream NALU");
    for (i64 start = nextStartCode(bytes, length, 0); start < length;) {
        i64 begin = start + 3;
        i64 end = nextStartCode(bytes, length, begin);
        start = end;
        while (end > begin && bytes[end - 1] == 0) --end;  // the next start code's leading zero
        if (end == begin) continue;
        i64 more = end - begin + 4 + d->accessUnit.heldLength;
        makeRoom(d, more);
        while (gatherH264Unit(&d->accessUnit, bytes + begin, end - begin)) {
            handOverAccessUnit(d);
            makeRoom(d, more);
        }
    }
}

void endH264AccessUnit(ImageSlotTable*) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready || d->accessUnit.slices == 0) return;
    handOverAccessUnit(d);
}

void noteH264DataLost() {
    if (programDecoder) noteAccessUnitLoss(&programDecoder->accessUnit);
}

void endH264Stream(ImageSlotTable*) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready) return;
    if (d->accessUnit.slices) handOverAccessUnit(d);
    // What is left belongs to no picture of this stream; the next one brings its own parameter sets.
    resetAccessUnit(&d->accessUnit);
    d->parameterSetsMissing = 0;
    d->endPending = 1;
    if (d->gatherSlot) {
        // The place claimed holds nothing.
        d->gatherSlot = 0;
        d->accessUnit.bytes = nullptr;
        d->accessUnit.capacity = 0;
    }
    handOverStreamEnd(d);
}

i32 videoDecoderWaitsForIdr(const VideoDecoder* decoder) {
    return decoder && decoder->waitingForResume.load(std::memory_order_relaxed) ? 1 : 0;
}

i32 videoDecoderLacksParameterSets(const VideoDecoder* decoder) {
    return decoder && decoder->parameterSetsMissing ? 1 : 0;
}

i32 videoDecoderIdle(const VideoDecoder* decoder) {
    return !decoder->endPending && decoder->idleThrough.load(std::memory_order_acquire) ==
                                       decoder->unitsWritten.load(std::memory_order_relaxed);
}

const VideoPicture* shownVideoPicture(const VideoDecoder* decoder) {
    return decoder->picturesPublished ? &decoder->pictures[decoder->front] : nullptr;
}

void processH264DecoderOutput(ImageSlotTable* slots) {
    VideoDecoder* d = programDecoder;
    if (!d || !d->ready) return;
    ProfilingScope profile("Process H264 Decoder Output");
    handOverStreamEnd(d);
    if (!workerAttached(d)) {
        while (runVideoDecodeStep(d)) {
        }
    }
    u64 failure = d->failure.exchange(0, std::memory_order_acquire);
    if (failure) {
        d->error = failureText(failure);
        d->errorUnit = d->failureUnit.load(std::memory_order_relaxed);
    }
    if (!(d->newest.load(std::memory_order_acquire) & kFresh)) return;
    d->front = d->newest.exchange(d->front, std::memory_order_acq_rel) & 3;
    VideoPicture* picture = &d->pictures[d->front];
    i32 width = 0, height = 0;
    fitPictureToSps(d, picture->pixels, picture->width, picture->height, &width, &height);
    // Before the first SPS there is nothing to show: no empty image is registered.
    if (width == 0) return;
    // A picture decoded after the failure is shown: the stream decodes again.
    if (picture->number > d->errorUnit) {
        d->error = FixedString{};
        d->errorUnit = kVideoNeverShown;
    }
    if (d->imageSlotId) {
        if (ImageSlot* slot = getImageSlot(slots, (i32)d->imageSlotId)) slot->releaseRequested = 1;
    }
    d->imageSlotId = (u32)allocImageSlot(picture->pixels, (u32)width, (u32)height, kVideoFormatNv12, slots);
    d->picturesPublished++;
}
