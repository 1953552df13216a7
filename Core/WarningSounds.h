// The warning sounds that the drone link and the payload links queue when their events happen, and
// that the Test Sounds screen plays on demand: constant step tables for the sound queue.
#pragma once
#include "Core/Sound.h"

// Six alternating 440 and 620 Hz steps of 0.25 s.
extern const ToneSegment kLowAltitudeTone[7];
// Three 0.2 s beeps at 425 Hz with 0.2 s of silence between them.
extern const ToneSegment kGpsLostTone[10];
// Two short blips 0.2 s apart, low at 400 Hz and high at 1200 Hz; played together.
extern const ToneSegment kPositionToneLow[6];
extern const ToneSegment kPositionToneHigh[6];
extern const ToneSegment kAutoTone[3];
// 0.2 s at 400 Hz and at 1200 Hz, played together.
extern const ToneSegment kAltitudeToneLow[2];
extern const ToneSegment kAltitudeToneHigh[2];
// Three 0.125 s beeps at 941 Hz.
extern const ToneSegment kCriticalTone[12];
// Three 0.125 s beeps at 1319 Hz.
extern const ToneSegment kPayloadErrorTone[10];

template <typename T, u64 N>
constexpr u64 toneSteps(const T (&)[N]) {
    return N;
}
