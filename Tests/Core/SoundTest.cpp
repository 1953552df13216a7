// The sound queue, the voices and their synthesis: frame counts of steps, volume ramps across steps,
// frequency glides measured from the phase, voice stealing and the full queue.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Core/Sound.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;

// Runs a voice to its end in blocks of the given size and returns every frame it produced.
std::vector<f32> renderVoice(const ToneSegment* segments, i64 count, u32 block) {
    Voice voice{};
    voice.segments = segments;
    voice.segmentCount = count;
    std::vector<f32> all;
    std::vector<f32> mix(block);
    for (i32 guard = 0; guard < 100000; guard++) {
        std::fill(mix.begin(), mix.end(), 0.0f);
        u32 before = voice.framesPlayed;
        synthesizeVoice(&voice, mix.data(), block);
        u32 produced = voice.framesPlayed - before;
        all.insert(all.end(), mix.begin(), mix.begin() + produced);
        if (voice.framesPlayed >= voice.totalFrames) break;
    }
    return all;
}

// The local amplitude around frame i from the sample and its quarter-period neighbour of a tone.
f64 envelopeAt(const std::vector<f32>& samples, size_t i, size_t quarter) {
    f64 a = samples[i];
    f64 b = samples[i + quarter];
    return std::sqrt(a * a + b * b);
}

TEST(SynthesizeVoice, OneStepOfHalfASecondIsAFadingOneKilohertzTone) {
    ToneSegment tone[] = {{0.5, 1000.0, 1.0, 0.0}};
    std::vector<f32> samples = renderVoice(tone, 1, 4800);
    ASSERT_EQ(samples.size(), 24000u);
    // Zero crossings: 1,000 cycles per second give 2 crossings per millisecond.
    i32 crossings = 0;
    for (size_t i = 1; i < 20000; i++) {
        if ((samples[i - 1] < 0) != (samples[i] < 0)) crossings++;
    }
    EXPECT_NEAR(crossings, 2 * 1000 * 20000 / 48000, 2);
    // Linear fade from 1 to 0: at frame e the volume is (24000 - e) / 24000.
    for (size_t e : {1000u, 6000u, 12000u, 18000u, 23000u}) {
        EXPECT_NEAR(envelopeAt(samples, e, 12), (24000.0 - e) / 24000.0, 0.01) << e;
    }
}

TEST(SynthesizeVoice, ZeroLengthStepsAreSkippedWithoutSound) {
    ToneSegment steps[] = {{0.0, 500.0, 1.0, 0.0}, {0.01, 1000.0, 0.5, 0.0}, {0.0, 700.0, 1.0, 0.0}};
    std::vector<f32> samples = renderVoice(steps, 3, 1000);
    EXPECT_EQ(samples.size(), 480u);
    for (f32 s : samples) ASSERT_TRUE(std::isfinite(s));
    ToneSegment silent[] = {{0.0, 500.0, 1.0, 0.0}};
    Voice voice{};
    voice.segments = silent;
    voice.segmentCount = 1;
    f32 mix[16] = {};
    synthesizeVoice(&voice, mix, 16);
    EXPECT_EQ(voice.totalFrames, 0u);
    EXPECT_EQ(voice.framesPlayed, 0u);
    for (f32 s : mix) EXPECT_EQ(s, 0.0f);
}

TEST(SynthesizeVoice, VolumeRampsToTheNextStepsStartAndTheLastStepFadesOut) {
    ToneSegment steps[] = {{0.1, 1000.0, 1.0, 0.0}, {0.1, 1000.0, 0.5, 0.0}};
    std::vector<f32> samples = renderVoice(steps, 2, 777);  // blocks that cut across the step boundary
    ASSERT_EQ(samples.size(), 9600u);
    EXPECT_NEAR(envelopeAt(samples, 0, 12), 1.0, 0.01);
    EXPECT_NEAR(envelopeAt(samples, 2400, 12), 0.75, 0.01);
    EXPECT_NEAR(envelopeAt(samples, 4790, 8), 0.5, 0.01);
    EXPECT_NEAR(envelopeAt(samples, 4800, 12), 0.5, 0.01);
    EXPECT_NEAR(envelopeAt(samples, 7200, 12), 0.25, 0.01);
    EXPECT_LT(envelopeAt(samples, 9580, 12), 0.01);
}

TEST(SynthesizeVoice, FrequencyGlidesLinearlyAndThePhaseRunsOnAcrossSteps) {
    // 1 s gliding from 200 Hz to 1,200 Hz: the phase after the step is the integral, 700 turns.
    ToneSegment glide[] = {{1.0, 200.0, 1.0, 1000.0}, {0.5, 1200.0, 1.0, 0.0}};
    Voice voice{};
    voice.segments = glide;
    voice.segmentCount = 2;
    std::vector<f32> mix(48000);
    synthesizeVoice(&voice, mix.data(), 48000);
    EXPECT_EQ(voice.framesPlayed, 48000u);
    EXPECT_EQ(voice.totalFrames, 72000u);
    // Crossings in the first and last 0.1 s give the frequency there.
    auto frequencyIn = [&](size_t from, size_t to) {
        i32 crossings = 0;
        for (size_t i = from + 1; i < to; i++) {
            if ((mix[i - 1] < 0) != (mix[i] < 0)) crossings++;
        }
        return crossings / 2.0 / ((to - from) / 48000.0);
    };
    EXPECT_NEAR(frequencyIn(0, 4800), 250.0, 10.0);
    EXPECT_NEAR(frequencyIn(43200, 48000), 1150.0, 15.0);
    // No jump into the second step: the sample continues the sine where it was.
    std::vector<f32> next(10);
    u32 phaseBefore = voice.phase;
    synthesizeVoice(&voice, next.data(), 10);
    EXPECT_NEAR(next[0], std::sin(2 * kPi * phaseBefore / 4294967296.0) * 1.0, 1e-5);
    // 700 turns less the half frame of glide that the discrete sum leaves out.
    f64 turns = phaseBefore / 4294967296.0;
    EXPECT_LT(std::fmin(turns, 1.0 - turns), 0.02);
}

TEST(SynthesizeVoice, AbsurdStepsNeverMisbehave) {
    ToneSegment steps[] = {{-1.0, 1000.0, 1.0, 0.0},
                           {std::nan(""), 1000.0, 1.0, 0.0},
                           {0.001, std::nan(""), 1.0, 0.0},
                           {0.001, 1e300, 1.0, -1e300},
                           {1e300, 500.0, 0.0, 0.0}};
    Voice voice{};
    voice.segments = steps;
    voice.segmentCount = 5;
    std::vector<f32> mix(4800);
    synthesizeVoice(&voice, mix.data(), 4800);
    EXPECT_EQ(voice.framesPlayed, 4800u);
    EXPECT_EQ(voice.totalFrames, 0xffffffffu - 0xffffffffu + 48 + 48 + 0x7fffffffu);
    Voice none{};
    synthesizeVoice(&none, mix.data(), 10);
    EXPECT_EQ(none.totalFrames, 0u);
}

TEST(SoundQueue, HoldsAtMost255PendingSoundsAndDropsTheNext) {
    static SoundMixer mixer;
    mixer = SoundMixer{};
    static const ToneSegment beep[] = {{0.01, 440.0, 1.0, 0.0}};
    for (i32 i = 0; i < 255; i++) ASSERT_EQ(queueSound(&mixer.queue, beep, 1), 1) << i;
    EXPECT_EQ(pendingSoundCount(&mixer.queue), 255u);
    EXPECT_EQ(queueSound(&mixer.queue, beep, 1), 0);
    EXPECT_EQ(pendingSoundCount(&mixer.queue), 255u);
    EXPECT_EQ(queueSound(nullptr, beep, 1), 0);
    takeQueuedSounds(&mixer);
    EXPECT_EQ(pendingSoundCount(&mixer.queue), 0u);
    // The indexes wrap at 256.
    for (i32 i = 0; i < 10; i++) ASSERT_EQ(queueSound(&mixer.queue, beep, 1), 1);
    EXPECT_EQ(mixer.queue.writeIndex, (u8)(255 + 10));
    EXPECT_EQ(pendingSoundCount(&mixer.queue), 10u);
}

TEST(SoundQueue, NineSoundsInOnePassTakeEightVoicesAndTheNinthStealsVoiceZero) {
    static SoundMixer mixer;
    mixer = SoundMixer{};
    static ToneSegment sounds[9][1];
    for (i32 i = 0; i < 9; i++) {
        sounds[i][0] = ToneSegment{0.5, 300.0 + 100 * i, 1.0, 0.0};
        queueSound(&mixer.queue, sounds[i], 1);
    }
    takeQueuedSounds(&mixer);
    EXPECT_EQ(mixer.voices[0].segments, sounds[8]);
    for (i32 v = 1; v < 8; v++) EXPECT_EQ(mixer.voices[v].segments, sounds[v]) << v;
}

TEST(SoundQueue, ANewSoundTakesAFinishedVoiceFirstElseTheLongestPlaying) {
    static SoundMixer mixer;
    mixer = SoundMixer{};
    static const ToneSegment longTone[] = {{1.0, 440.0, 1.0, 0.0}};
    static const ToneSegment shortTone[] = {{0.01, 880.0, 1.0, 0.0}};
    static const ToneSegment late[] = {{0.2, 660.0, 1.0, 0.0}};
    static f32 mix[kSoundMixFrames];
    for (i32 v = 0; v < 8; v++) queueSound(&mixer.queue, v == 3 ? shortTone : longTone, 1);
    takeQueuedSounds(&mixer);
    mixVoices(&mixer, mix, 4800);  // voice 3 has finished
    queueSound(&mixer.queue, late, 1);
    takeQueuedSounds(&mixer);
    EXPECT_EQ(mixer.voices[3].segments, late);
    EXPECT_EQ(mixer.voices[3].framesPlayed, 0u);
    // All busy: voice 5 has played most, so it is taken (lower indexes only on ties).
    mixer.voices[5].framesPlayed = 4801;
    queueSound(&mixer.queue, late, 1);
    takeQueuedSounds(&mixer);
    EXPECT_EQ(mixer.voices[5].segments, late);
    EXPECT_EQ(mixer.voices[5].framesPlayed, 0u);
    EXPECT_EQ(mixer.voices[5].phase, 0u);
    // A skipped request is passed over but consumed.
    queueSound(&mixer.queue, shortTone, 1);
    mixer.queue.requests[(u8)(mixer.queue.writeIndex - 1)].skip = 1;
    Voice before[8];
    std::copy(mixer.voices, mixer.voices + 8, before);
    takeQueuedSounds(&mixer);
    EXPECT_EQ(pendingSoundCount(&mixer.queue), 0u);
    for (i32 v = 0; v < 8; v++) EXPECT_EQ(mixer.voices[v].segments, before[v].segments);
}

TEST(SoundMix, SamplesAreClampedAndTruncated) {
    EXPECT_EQ(sampleFromMix(0.0f), 0);
    EXPECT_EQ(sampleFromMix(1.0f), 32767);
    EXPECT_EQ(sampleFromMix(2.5f), 32767);
    EXPECT_EQ(sampleFromMix(-3.0f), -32767);
    EXPECT_EQ(sampleFromMix(0.5f), 16383);
    EXPECT_EQ(sampleFromMix(-0.5f), -16383);
    EXPECT_EQ(sampleFromMix(std::nanf("")), 0);
}

}  // namespace

TEST(SoundMix, AFinishedVoiceNeverReadsItsStepsAgain) {
    static SoundMixer mixer;
    mixer = SoundMixer{};
    static ToneSegment steps[2] = {{0.01, 500.0, 0.5, 0.0}, {0, 500.0, 0.5, 0.0}};
    static f32 mix[4800];
    queueSound(&mixer.queue, steps, 2);
    takeQueuedSounds(&mixer);
    mixVoices(&mixer, mix, 4800);  // 480 frames sound, then the voice is done
    EXPECT_EQ(mixer.voices[0].segments, nullptr);
    // The memory the steps were in now holds a longer sound: the finished voice stays silent.
    steps[0].seconds = 1.0;
    mixVoices(&mixer, mix, 4800);
    for (f32 sample : mix) ASSERT_EQ(sample, 0.0f);
}

TEST(TuneCopies, ACopyIsReusedOnlyAfterItsPlayCanHaveEnded) {
    static SoundQueue queue;
    static TuneCopies copies;
    queue = SoundQueue{};
    copies = TuneCopies{};
    ToneSegment tune[2] = {{0.5, 440.0, 0.5, 0.0}, {0.5, 660.0, 0.5, 0.0}};
    const u64 start = 1000000;
    for (i32 i = 0; i < kTuneCopies; i++) ASSERT_EQ(queueTuneCopy(&copies, &queue, tune, 2, start), 1) << i;
    EXPECT_EQ(queueTuneCopy(&copies, &queue, tune, 2, start + 1999999), 0);  // 1 s of sound + 1 s margin
    EXPECT_EQ(pendingSoundCount(&queue), (u32)kTuneCopies);
    // The queued copies hold the tune as it was; changing the original changes none of them.
    tune[0].frequency = 2000;
    for (i32 i = 0; i < kTuneCopies; i++) EXPECT_EQ(queue.requests[i].segments[0].frequency, 440.0) << i;
    EXPECT_EQ(queueTuneCopy(&copies, &queue, tune, 2, start + 2000000), 1);
    EXPECT_EQ(queue.requests[kTuneCopies].segments, copies.copies[0].steps);
    EXPECT_EQ(queue.requests[kTuneCopies].segments[0].frequency, 2000.0);
    // Longer tunes are cut at 50 steps.
    static ToneSegment many[60];
    EXPECT_EQ(queueTuneCopy(&copies, &queue, many, 60, start + 9000000), 1);
    EXPECT_EQ(queue.requests[kTuneCopies + 1].segmentCount, (u64)kTuneSteps);
}
