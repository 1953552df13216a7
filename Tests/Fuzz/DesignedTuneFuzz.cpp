// The Design Sound screen's tune text as a developer may type it: any bytes parse without fault into
// at most 50 steps, and the steps queue as a copy that the mixer plays without reading past it.
#include <cstdlib>

#include "Core/Sound.h"
#include "Screens/Test/TestScreenStates.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    static ToneSegment steps[kTuneSteps];
    static SoundMixer mixer;
    static TuneCopies copies;
    static f32 mix[480];
    mixer = SoundMixer{};
    copies = TuneCopies{};
    i32 count = parseTune(data, (i64)size, steps);
    if (count < 0 || count > kTuneSteps) std::abort();
    if (count > 0 && queueTuneCopy(&copies, &mixer.queue, steps, count, 1000) != 1) std::abort();
    takeQueuedSounds(&mixer);
    mixVoices(&mixer, mix, 480);
    return 0;
}
