#include "Core/WarningSounds.h"

#define TONE(seconds, frequency, level) ToneSegment{seconds, frequency, level, 0}

const ToneSegment kLowAltitudeTone[7] = {
    TONE(0.25, 440, 0.5), TONE(0.25, 620, 0.5), TONE(0.25, 440, 0.5), TONE(0.25, 620, 0.5),
    TONE(0.25, 440, 0.5), TONE(0.25, 620, 0.5), TONE(0, 620, 0.5),
};
const ToneSegment kGpsLostTone[10] = {
    TONE(0.2, 425, 0.5), TONE(0, 425, 0.5), TONE(0.2, 425, 0), TONE(0, 425, 0),
    TONE(0.2, 425, 0.5), TONE(0, 425, 0.5), TONE(0.2, 425, 0), TONE(0, 425, 0),
    TONE(0.2, 425, 0.5), TONE(0, 425, 0.5),
};
const ToneSegment kPositionToneLow[6] = {
    TONE(0.035, 400, 0.5), TONE(0, 400, 0.5), TONE(0.2, 400, 0), TONE(0, 400, 0), TONE(0.035, 400, 0.5), TONE(0, 400, 0.5),
};
const ToneSegment kPositionToneHigh[6] = {
    TONE(0.035, 1200, 0.5), TONE(0, 1200, 0.5), TONE(0.2, 1200, 0), TONE(0, 1200, 0), TONE(0.035, 1200, 0.5),
    TONE(0, 1200, 0.5),
};
const ToneSegment kAutoTone[3] = {TONE(0.1, 1200, 0.5), TONE(0, 1200, 0.5), TONE(0, 1200, 0.5)};
const ToneSegment kAltitudeToneLow[2] = {TONE(0.2, 400, 0.5), TONE(0, 400, 0.5)};
const ToneSegment kAltitudeToneHigh[2] = {TONE(0.2, 1200, 0.5), TONE(0, 1200, 0.5)};
const ToneSegment kCriticalTone[12] = {
    TONE(0.125, 941, 0.5), TONE(0, 941, 0.5), TONE(0.01, 941, 0), TONE(0, 941, 0),
    TONE(0.125, 941, 0.5), TONE(0, 941, 0.5), TONE(0.01, 941, 0), TONE(0, 941, 0),
    TONE(0.125, 941, 0.5), TONE(0, 941, 0.5), TONE(0.01, 941, 0), TONE(0, 941, 0),
};
const ToneSegment kPayloadErrorTone[10] = {
    TONE(0.125, 1319, 0.5), TONE(0, 1319, 0.5), TONE(0.125, 1319, 0), TONE(0, 1319, 0),
    TONE(0.125, 1319, 0.5), TONE(0, 1319, 0.5), TONE(0.125, 1319, 0), TONE(0, 1319, 0),
    TONE(0.125, 1319, 0.5), TONE(0, 1319, 0.5),
};

#undef TONE
