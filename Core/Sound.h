// Warning and feedback sounds: the sound queue that the main thread fills, the eight voices that the
// audio thread keeps, and the synthesis of a voice as a sine tone with gliding frequency and ramped
// volume. Pure functions over these records; the audio thread and its output live in Platform/.
#pragma once
#include "Core/Types.h"

constexpr u32 kSoundFramesPerSecond = 48000;
constexpr u32 kSoundVoices = 8;
constexpr u32 kSoundQueueSlots = 256;
constexpr u32 kSoundMixFrames = 48000;  // the mix buffer: one second

// One step of a sound. It lasts trunc(seconds x 48,000) frames; the frequency glides from
// frequency to frequency + frequencyChange over the step, the volume ramps from startVolume to the
// next step's startVolume (0 after the last step).
struct ToneSegment {
    f64 seconds;
    f64 frequency;        // Hz at the step's start
    f64 startVolume;      // linear, 1 = full scale
    f64 frequencyChange;  // Hz over the step
};

struct SoundRequest {
    u32 skip;  // nonzero: passed over
    const ToneSegment* segments;
    u64 segmentCount;
};

// Single producer (main thread), single consumer (audio thread): the producer fills a slot before it
// moves writeIndex, the consumer reads it before it moves readIndex.
struct SoundQueue {
    u8 writeIndex;
    u8 readIndex;
    SoundRequest requests[kSoundQueueSlots];
};

struct Voice {
    const ToneSegment* segments;  // null: has never sounded
    i64 segmentCount;
    u32 phase;  // in 2^-32 turns
    u32 framesPlayed;
    u32 totalFrames;  // the sum of the steps' frames, set by each mix
};

// The queue and, directly after it, the voices that the audio thread alone touches.
struct SoundMixer {
    SoundQueue queue;
    Voice voices[kSoundVoices];
};

// Frames of one step: trunc(seconds x 48,000); steps that are negative, not a number or longer
// than the counters hold count as 0 or are capped.
u32 toneSegmentFrames(const ToneSegment* segment);

// Queues a sound; returns 1 when queued, 0 when the queue is full (255 pending) or absent.
i32 queueSound(SoundQueue* queue, const ToneSegment* segments, u64 segmentCount);
u32 pendingSoundCount(const SoundQueue* queue);

// Copies of tunes that change while they play (the Design Sound screen's): each request plays from a
// copy that stays untouched until its play has ended, however the original changes or goes away.
constexpr i32 kTuneSteps = 50;
constexpr i32 kTuneCopies = 4;
constexpr u64 kTuneCopyMargin = 1000000;  // us beyond the play's length before a copy is reused

struct TuneCopy {
    u64 busyUntil;  // monotonic us; 0 never used
    u64 stepCount;
    ToneSegment steps[kTuneSteps];
};

struct TuneCopies {
    TuneCopy copies[kTuneCopies];
};

// Copies at most 50 steps into a copy whose last play has ended and queues it. Returns 1 when queued;
// 0 when the queue is full or every copy may still be playing (nothing changes then).
i32 queueTuneCopy(TuneCopies* copies, SoundQueue* queue, const ToneSegment* steps, i64 count, u64 now);

// Audio-thread side: moves every pending request into a voice, oldest first. A voice that has never
// sounded or whose sound has been mixed to its end is taken first; else the one that has played the
// most frames (lowest index on ties).
void takeQueuedSounds(SoundMixer* mixer);
// The voice that a new sound takes.
i32 chooseVoice(const Voice* voices);

// Adds the voice's next frames into mix. A voice that has played to its end lets go of its steps
// (segments null), so that it never reads them again.
void synthesizeVoice(Voice* voice, f32* mix, u32 frames);
// Clears mix (at most kSoundMixFrames frames) and adds every voice that has segments.
void mixVoices(SoundMixer* mixer, f32* mix, u32 frames);
// A mix value as a signed 16-bit sample: trunc(clamp(value, -1, 1) x 32767).
i16 sampleFromMix(f32 value);
