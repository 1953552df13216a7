#include "Platform/Audio.h"

#include <SDL2/SDL.h>

#include "Core/Format.h"
#include "Platform/Platform.h"

namespace {

constexpr u32 kBytesPerFrame = 2;

// The device callback: plays len bytes from the play cursor, leaves silence behind it so that a
// thread that falls behind is heard as a gap, never as a two-second-old echo, and advances the cursor.
void playFromRing(void* userData, Uint8* stream, int length) {
    AudioOutput* output = (AudioOutput*)userData;
    u32 play = __atomic_load_n(&output->playCursor, __ATOMIC_ACQUIRE);
    u32 remaining = length > 0 ? (u32)length : 0;
    while (remaining > 0) {
        u32 run = kAudioRingBytes - play;
        if (run > remaining) run = remaining;
        SDL_memcpy(stream, output->ring + play, run);
        SDL_memset(output->ring + play, 0, run);
        stream += run;
        remaining -= run;
        play = (play + run) % kAudioRingBytes;
    }
    __atomic_store_n(&output->playCursor, play, __ATOMIC_RELEASE);
}

}  // namespace

FixedString openAudioOutput(AudioOutput* output) {
    output->device = 0;
    output->playCursor = 0;
    output->ownPosition = 0;
    output->started = 0;
    SDL_memset(output->ring, 0, sizeof(output->ring));
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return formatCstr("No audio: @", SDL_GetError());
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = (int)kSoundFramesPerSecond;
    want.format = AUDIO_S16LSB;
    want.channels = 1;
    want.samples = 512;
    want.callback = playFromRing;
    want.userdata = output;
    SDL_AudioSpec have;
    SDL_zero(have);
    // No changes allowed: SDL converts to whatever the device takes.
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        FixedString message = formatCstr("No audio device: @", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return message;
    }
    u32 lead = (u32)have.samples * kBytesPerFrame;
    if (lead == 0 || lead > kAudioRingBytes / 4) lead = 1024 * kBytesPerFrame;
    output->writeLead = lead;
    output->device = device;
    SDL_PauseAudioDevice(device, 0);
    return FixedString{};
}

void closeAudioOutput(AudioOutput* output) {
    if (!output->device) return;
    SDL_CloseAudioDevice(output->device);
    output->device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void readAudioCursors(AudioOutput* output, u32* playCursor, u32* writeCursor) {
    u32 play = __atomic_load_n(&output->playCursor, __ATOMIC_ACQUIRE);
    *playCursor = play;
    *writeCursor = (play + output->writeLead) % kAudioRingBytes;
}

u32 audioFramesToWrite(u32 playCursor, u32 writeCursor, u32* ownPosition) {
    u32 a = (writeCursor + kAudioRingBytes - playCursor) % kAudioRingBytes / kBytesPerFrame;
    u32 b = (*ownPosition + kAudioRingBytes - playCursor) % kAudioRingBytes / kBytesPerFrame;
    // Never legitimately more than the lead ahead of the write cursor; anything else means the play
    // cursor has passed the own position.
    if (b < a || b > a + kAudioLeadFrames) {
        *ownPosition = writeCursor;
        b = a;
    }
    i64 frames = (i64)a - (i64)b + kAudioLeadFrames;
    return frames > 0 ? (u32)frames : 0;
}

void runAudioPass(AudioOutput* output, SoundMixer* mixer) {
    u32 play = 0;
    u32 write = 0;
    readAudioCursors(output, &play, &write);
    if (!output->started) {
        output->ownPosition = write;
        output->started = 1;
    }
    u32 frames = audioFramesToWrite(play, write, &output->ownPosition);
    if (frames > kSoundMixFrames) frames = kSoundMixFrames;
    takeQueuedSounds(mixer);
    mixVoices(mixer, output->mix, frames);
    u32 position = output->ownPosition;
    // The device callback reads and clears the ring under the device's lock; writing under it too
    // keeps the two from touching the ring at the same time.
    if (output->device) SDL_LockAudioDevice(output->device);
    for (u32 i = 0; i < frames; i++) {
        i16 sample = sampleFromMix(output->mix[i]);
        output->ring[position] = (u8)((u16)sample & 0xff);
        output->ring[position + 1] = (u8)((u16)sample >> 8);
        position = (position + kBytesPerFrame) % kAudioRingBytes;
    }
    if (output->device) SDL_UnlockAudioDevice(output->device);
    output->ownPosition = position;
    output->passes++;
}

i32 audioThread(AudioOutput* output, SoundMixer* mixer, WindowHead* head) {
    while (isRunning(head)) {
        runAudioPass(output, mixer);
        SDL_Delay(10);
    }
    return 0;
}
