// The decode worker's side of the decoder: feeding the access units handed over to the platform
// decoder, the damage rules, and handing finished pictures to the main thread. Runs on the worker's
// thread, or, without one, inside processH264DecoderOutput.
#include "Video/VideoDecoder.h"

#include "Core/Profiler.h"

namespace {

constexpr u32 kFresh = 4;

// A failure after access unit `unit`: pictures of later units show that it no longer holds.
void report(VideoDecoder* d, u32 kind, i64 value, i64 unit) {
    d->failureUnit.store(unit, std::memory_order_relaxed);
    d->failure.store((u64)kind << 56 | (u32)(i32)value, std::memory_order_release);
}

// Pictures from access unit `number` on are damaged: none is shown until the next resume point.
void holdUntilResume(VideoDecoder* d, i64 number) {
    VideoDecodeWork* w = &d->work;
    if (w->shownFrom == kVideoNeverShown) return;
    w->damagedFrom = number;
    w->shownFrom = kVideoNeverShown;
    w->awaitingResume = 0;
    d->waitingForResume.store(1, std::memory_order_relaxed);
}

// Done with the access unit in turn: its parameter sets are the stream's from here on; after the end
// of a stream there are none.
void advance(VideoDecoder* d) {
    H264ParameterSets* sets = &d->work.parameterSets;
    const VideoAccessUnitSlot* slot = &d->slots[d->unitsRead.load(std::memory_order_relaxed) % kVideoAccessUnitSlots];
    if (slot->flags & VideoUnitStreamEnd) {
        forgetH264ParameterSets(sets);
    } else if (slot->parameterSetsEnd) {
        keepH264ParameterSets(d->unitRing + slot->start % kVideoUnitRingBytes, slot->parameterSetsEnd, sets, true);
    }
    d->work.refusals = 0;
    d->unitsRead.store(d->unitsRead.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

// The decoder gives out what it holds; a fresh context follows (see takePicture).
void beginDrain(VideoDecoder* d) {
    endH264Input(&d->work.decoder);
    d->work.draining = 1;
    d->work.outputPending = 1;
}

// Flushing a context does not clear everything it keeps from the pictures before: after damage or at
// a new stream the next pictures are decoded by a new one.
void reopenDecoder(VideoDecoder* d) {
    VideoDecodeWork* w = &d->work;
    closeH264Decoder(&w->decoder);
    i32 code = 0;
    if (openH264Decoder(&w->decoder, &code) != H264DecoderOk) report(d, VideoFailureReopen, code, w->accessUnitCount);
    w->draining = 0;
    w->freshContext = 1;
}

const VideoAccessUnitSlot* slotInTurn(const VideoDecoder* d) {
    u32 read = d->unitsRead.load(std::memory_order_relaxed);
    if (read == d->unitsWritten.load(std::memory_order_acquire)) return nullptr;
    return &d->slots[read % kVideoAccessUnitSlots];
}

i32 takePicture(VideoDecoder* d) {
    VideoDecodeWork* w = &d->work;
    VideoPicture* picture = &d->pictures[w->back];
    H264PictureLayout layout{};
    i32 code = 0;
    i32 status;
    {
        ProfilingScope get("Get decoder output");
        status = receiveH264Picture(&w->decoder, picture->pixels, kVideoPictureCapacity, &layout, &code);
    }
    if (status == H264DecoderUnsupported || status == H264DecoderTooLarge) {
        report(d, status == H264DecoderUnsupported ? VideoFailureNoNv12 : VideoFailurePictureTooLarge, 0,
               w->accessUnitCount);
        return 1;
    }
    if (status != H264DecoderOk) {
        w->outputPending = 0;
        if (w->draining) {
            reopenDecoder(d);
            const VideoAccessUnitSlot* slot = slotInTurn(d);
            if (slot && (slot->flags & VideoUnitStreamEnd)) advance(d);
        }
        return 1;
    }
    // Pictures that come out of a fresh context before the resume picture refer to pictures before it.
    bool leading = false;
    if (w->awaitingResume) {
        if (layout.number == w->resumeNumber) w->awaitingResume = 0;
        else if (layout.number > w->resumeNumber) leading = true;
    }
    // Errors in a picture since the last resume point shown: its successors may carry them on.
    if (!leading && layout.damaged && layout.number >= w->shownFrom) holdUntilResume(d, layout.number);
    if (leading || layout.damaged || (layout.number >= w->damagedFrom && layout.number < w->shownFrom)) {
        d->picturesDropped.fetch_add(1, std::memory_order_relaxed);
        return 1;
    }
    picture->width = layout.width;
    picture->height = layout.height;
    picture->number = layout.number;
    if (d->pictureShown) d->pictureShown(d->pictureShownContext, picture);
    w->back = d->newest.exchange(w->back | kFresh, std::memory_order_acq_rel) & 3;
    return 1;
}

i32 feedAccessUnit(VideoDecoder* d) {
    VideoDecodeWork* w = &d->work;
    const VideoAccessUnitSlot* slot = slotInTurn(d);
    if (!slot) return 0;
    if (slot->flags & VideoUnitStreamEnd) {
        if (w->freshContext) advance(d);
        else beginDrain(d);
        return 1;
    }
    i64 number = w->accessUnitCount + 1;
    bool slices = slot->flags & VideoUnitHasSlices;
    bool waiting = w->shownFrom == kVideoNeverShown;
    if (slices && (!(slot->flags & VideoUnitIntact) || (waiting && !(slot->flags & VideoUnitResumePoint)))) {
        w->accessUnitCount = number;
        if (!(slot->flags & VideoUnitIntact)) holdUntilResume(d, number);
        d->accessUnitsSkipped.fetch_add(1, std::memory_order_relaxed);
        advance(d);
        return 1;
    }
    bool resuming = slices && waiting;
    if (resuming && !w->freshContext) {
        beginDrain(d);
        return 1;
    }
    i32 code = 0;
    i32 status;
    {
        ProfilingScope pass("Pass input to decoder");
        const u8* bytes = d->unitRing + slot->start % kVideoUnitRingBytes;
        // A fresh context knows none of the stream's parameter sets; the unit's own follow them.
        i64 sets = w->freshContext ? w->parameterSets.length : 0;
        status = sendH264AccessUnit(&w->decoder, w->parameterSets.bytes, sets, bytes, slot->length, number, &code);
    }
    if (status == H264DecoderOk) {
        w->accessUnitCount = number;
        w->freshContext = 0;
        w->outputPending = 1;
        if (resuming) {
            w->shownFrom = number;
            w->awaitingResume = 1;
            w->resumeNumber = number;
            d->waitingForResume.store(0, std::memory_order_relaxed);
        }
        advance(d);
        return 1;
    }
    if (status == H264DecoderNotAccepting || status == H264DecoderDraining) {
        if (++w->refusals <= kVideoDecoderDrainLimit) {
            w->outputPending = 1;
            return 1;
        }
        report(d, VideoFailureRefused, slot->length, number);
    } else if (status == H264DecoderOutOfMemory) {
        report(d, VideoFailureOutOfMemory, slot->length, number);
    } else if (status == H264DecoderTooLarge) {
        report(d, VideoFailureUnitTooLarge, slot->length, number);
    } else if (status == H264DecoderInvalidData) {
        report(d, VideoFailureDamaged, slot->length, number);
    } else {
        report(d, VideoFailureInput, code, number);
    }
    w->accessUnitCount = number;
    holdUntilResume(d, number);
    advance(d);
    return 1;
}

}  // namespace

i32 runVideoDecodeStep(VideoDecoder* d) {
    if (!d->ready) return 0;
    if (d->work.outputPending) return takePicture(d);
    if (feedAccessUnit(d)) return 1;
    d->idleThrough.store(d->unitsRead.load(std::memory_order_relaxed), std::memory_order_release);
    return 0;
}

void attachVideoDecodeWorker(VideoDecoder* d) {
    d->stopWorker.store(0, std::memory_order_relaxed);
    d->workerAttached.store(1, std::memory_order_release);
}

i64 runVideoDecodeWorker(VideoDecoder* d) {
    for (;;) {
        u32 seen = d->signal.load(std::memory_order_acquire);
        if (d->stopWorker.load(std::memory_order_acquire)) break;
        if (runVideoDecodeStep(d)) continue;
        d->signal.wait(seen, std::memory_order_acquire);
    }
    return 0;
}

void stopVideoDecodeWorker(VideoDecoder* d) {
    d->stopWorker.store(1, std::memory_order_release);
    d->signal.fetch_add(1, std::memory_order_release);
    d->signal.notify_one();
}
