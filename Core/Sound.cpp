#include "Core/Sound.h"

#include <cmath>

namespace {

constexpr f64 kTwoPi = 6.283185307179586476925;
constexpr f64 kPhaseUnitsPerTurn = 4294967296.0;
constexpr u32 kMaxSegmentFrames = 0x7fffffff;

u32 totalSoundFrames(const ToneSegment* segments, i64 count) {
    u64 total = 0;
    for (i64 i = 0; i < count; i++) {
        total += toneSegmentFrames(&segments[i]);
        if (total > 0xffffffffull) return 0xffffffffu;
    }
    return (u32)total;
}

// The phase step of a frequency in 2^-32 turns per frame, wrapped like the phase. Frequencies that
// are not numbers step by 0; absurd ones are held within the range an i64 can take.
u32 phaseIncrement(f64 frequency) {
    f64 step = frequency * kPhaseUnitsPerTurn / kSoundFramesPerSecond;
    if (!(step == step)) return 0;
    if (step > 4.0e18) step = 4.0e18;
    if (step < -4.0e18) step = -4.0e18;
    return (u32)(u64)(i64)step;
}

}  // namespace

u32 toneSegmentFrames(const ToneSegment* segment) {
    f64 frames = segment->seconds * kSoundFramesPerSecond;
    if (!(frames >= 1.0)) return 0;  // negative, zero and not-a-number steps are silent
    if (frames >= (f64)kMaxSegmentFrames) return kMaxSegmentFrames;
    return (u32)frames;
}

i32 queueSound(SoundQueue* queue, const ToneSegment* segments, u64 segmentCount) {
    if (!queue) return 0;
    u8 write = queue->writeIndex;  // this thread is its only writer
    u8 read = __atomic_load_n(&queue->readIndex, __ATOMIC_ACQUIRE);
    if ((u8)(write - read) >= kSoundQueueSlots - 1) return 0;
    SoundRequest* request = &queue->requests[write];
    request->skip = 0;
    request->segments = segments;
    request->segmentCount = segmentCount;
    __atomic_store_n(&queue->writeIndex, (u8)(write + 1), __ATOMIC_RELEASE);
    return 1;
}

i32 queueTuneCopy(TuneCopies* copies, SoundQueue* queue, const ToneSegment* steps, i64 count, u64 now) {
    if (!copies || !queue) return 0;
    if (count > kTuneSteps) count = kTuneSteps;
    if (count < 0) count = 0;
    u8 read = __atomic_load_n(&queue->readIndex, __ATOMIC_ACQUIRE);
    if ((u8)(queue->writeIndex - read) >= kSoundQueueSlots - 1) return 0;
    for (i32 i = 0; i < kTuneCopies; i++) {
        TuneCopy* copy = &copies->copies[i];
        if (copy->busyUntil > now) continue;
        for (i64 k = 0; k < count; k++) copy->steps[k] = steps[k];
        copy->stepCount = (u64)count;
        u64 frames = totalSoundFrames(copy->steps, count);
        copy->busyUntil = now + frames * 1000000ull / kSoundFramesPerSecond + kTuneCopyMargin;
        return queueSound(queue, copy->steps, copy->stepCount);
    }
    return 0;
}

u32 pendingSoundCount(const SoundQueue* queue) {
    u8 write = __atomic_load_n(&queue->writeIndex, __ATOMIC_ACQUIRE);
    u8 read = __atomic_load_n(&queue->readIndex, __ATOMIC_ACQUIRE);
    return (u8)(write - read);
}

i32 chooseVoice(const Voice* voices) {
    for (u32 i = 0; i < kSoundVoices; i++) {
        const Voice* voice = &voices[i];
        if (!voice->segments || voice->framesPlayed >= voice->totalFrames) return (i32)i;
    }
    i32 longest = 0;
    for (u32 i = 1; i < kSoundVoices; i++) {
        if (voices[i].framesPlayed > voices[longest].framesPlayed) longest = (i32)i;
    }
    return longest;
}

void takeQueuedSounds(SoundMixer* mixer) {
    SoundQueue* queue = &mixer->queue;
    u8 read = queue->readIndex;  // this thread is its only writer
    u8 write = __atomic_load_n(&queue->writeIndex, __ATOMIC_ACQUIRE);
    while (read != write) {
        SoundRequest request = queue->requests[read];
        if (!request.skip && request.segments) {
            Voice* voice = &mixer->voices[chooseVoice(mixer->voices)];
            i64 count = request.segmentCount > 0x7fffffffull ? 0x7fffffff : (i64)request.segmentCount;
            voice->phase = 0;
            voice->framesPlayed = 0;
            voice->segments = request.segments;
            voice->segmentCount = count;
            // The length is known at once, so a voice taken in this pass is not mistaken for a
            // finished one by the next request of the same pass.
            voice->totalFrames = totalSoundFrames(request.segments, count);
        }
        read++;
        __atomic_store_n(&queue->readIndex, read, __ATOMIC_RELEASE);
    }
}

void synthesizeVoice(Voice* voice, f32* mix, u32 frames) {
    if (voice->segmentCount < 1 || !voice->segments) {
        voice->totalFrames = 0;
        return;
    }
    const ToneSegment* segments = voice->segments;
    u32 filled = 0;
    u64 start = 0;
    for (i64 i = 0; i < voice->segmentCount; i++) {
        const ToneSegment* segment = &segments[i];
        u32 n = toneSegmentFrames(segment);
        u64 end = start + n;
        if (voice->framesPlayed >= start && voice->framesPlayed < end && filled < frames) {
            f64 nextVolume = i + 1 < voice->segmentCount ? segments[i + 1].startVolume : 0.0;
            u64 left = end - voice->framesPlayed;
            u64 todo = frames - filled < left ? frames - filled : left;
            f64 f0 = segment->frequency;
            f64 f1 = segment->frequency + segment->frequencyChange;
            for (u64 k = 0; k < todo; k++) {
                f64 e = (f64)(voice->framesPlayed - start);
                f64 r = (f64)n - e;
                f64 sample = std::sin(kTwoPi * (f64)voice->phase / kPhaseUnitsPerTurn);
                f64 volume = (r * segment->startVolume + e * nextVolume) / n;
                mix[filled] += (f32)(sample * volume);
                f64 frequency = (f0 * r + f1 * e) / n;
                voice->phase += phaseIncrement(frequency);
                voice->framesPlayed++;
                filled++;
            }
        }
        start = end;
        if (start > 0xffffffffull) break;  // frames played can count no further
    }
    voice->totalFrames = totalSoundFrames(segments, voice->segmentCount);
    if (voice->framesPlayed >= voice->totalFrames) {
        voice->segments = nullptr;
        voice->segmentCount = 0;
    }
}

void mixVoices(SoundMixer* mixer, f32* mix, u32 frames) {
    if (frames > kSoundMixFrames) frames = kSoundMixFrames;
    for (u32 i = 0; i < frames; i++) mix[i] = 0;
    for (u32 v = 0; v < kSoundVoices; v++) {
        if (mixer->voices[v].segments) synthesizeVoice(&mixer->voices[v], mix, frames);
    }
}

i16 sampleFromMix(f32 value) {
    if (!(value == value)) return 0;
    if (value > 1.0f) value = 1.0f;
    if (value < -1.0f) value = -1.0f;
    return (i16)(value * 32767.0f);
}
