// Sound output: SDL audio at 48,000 Hz, mono, signed 16-bit. The layer keeps its own looping
// two-second ring; the device callback plays from it at the play cursor and advances the cursor, and
// the audio thread mixes the voices into the ring a little ahead of the device.
#pragma once
#include "Core/FixedString.h"
#include "Core/Sound.h"

struct WindowHead;

constexpr u32 kAudioRingBytes = 192000;  // 96,000 frames of 2 bytes: two seconds
constexpr u32 kAudioLeadFrames = 960;    // 20 ms kept filled past the write cursor

struct AudioOutput {
    u32 device;  // SDL audio device id, 0 while closed
    u32 playCursor;  // bytes; advanced by the device callback
    u32 writeLead;  // bytes the device may take in its next callback: the write cursor is this far ahead
    u32 ownPosition;  // bytes; where the audio thread writes next
    u32 started;  // the thread's first pass has set ownPosition
    u64 passes;  // passes the thread has run
    u8 ring[kAudioRingBytes];
    f32 mix[kSoundMixFrames];
};

// Opens the default output device and starts it playing the (silent) ring. Returns an empty text on
// success, else why there is no sound; the program then runs silent.
FixedString openAudioOutput(AudioOutput* output);
void closeAudioOutput(AudioOutput* output);

// The play and write cursors as byte positions in the ring.
void readAudioCursors(AudioOutput* output, u32* playCursor, u32* writeCursor);

// Frames to mix this pass: max(0, a - b + 960), with a the frames from the play cursor to the write
// cursor and b those from the play cursor to the thread's own position. When the device has run past
// the own position (it lies before the write cursor or behind the play cursor), the position is
// moved to the write cursor first, so an underrun costs one short gap instead of a silent loop.
u32 audioFramesToWrite(u32 playCursor, u32 writeCursor, u32* ownPosition);

// One pass of the audio thread: take queued sounds into voices, mix the frames the device has freed
// and write them into the ring at the own position.
void runAudioPass(AudioOutput* output, SoundMixer* mixer);

// The audio thread: a pass every 10 ms while the running flag is set; returns at once when it is 0.
i32 audioThread(AudioOutput* output, SoundMixer* mixer, WindowHead* head);
