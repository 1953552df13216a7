// Sound output: the frames each pass mixes ahead of the device, and the real audio thread writing a
// queued tone through SDL's "disk" driver, whose file is measured afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "Platform/Audio.h"
#include "Platform/Platform.h"

namespace {

TEST(AudioFramesToWrite, KeepsTwentyMillisecondsPastTheWriteCursor) {
    // First pass: the own position starts at the write cursor.
    u32 own = 2048;
    EXPECT_EQ(audioFramesToWrite(1024, 2048, &own), 960u);
    EXPECT_EQ(own, 2048u);
    // After writing 960 frames nothing more is due until the device moves on.
    own = 2048 + 1920;
    EXPECT_EQ(audioFramesToWrite(1024, 2048, &own), 0u);
    // The device took 100 frames: 100 are due.
    EXPECT_EQ(audioFramesToWrite(1224, 2248, &own), 100u);
    // Across the end of the ring.
    own = (kAudioRingBytes - 100 + 1920) % kAudioRingBytes;
    EXPECT_EQ(audioFramesToWrite(kAudioRingBytes - 1100, kAudioRingBytes - 100, &own), 0u);
}

TEST(AudioFramesToWrite, AnOverrunOwnPositionRestartsAtTheWriteCursor) {
    // The device has played past what was written: the position restarts at the write cursor
    // instead of waiting for the ring to come round again.
    u32 own = 1000;
    EXPECT_EQ(audioFramesToWrite(4000, 5000, &own), 960u);
    EXPECT_EQ(own, 5000u);
    own = 4500;  // between the play and the write cursor
    EXPECT_EQ(audioFramesToWrite(4000, 5000, &own), 960u);
    EXPECT_EQ(own, 5000u);
}

std::vector<i16> readSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<i16> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); i++) {
        samples[i] = (i16)((u8)bytes[2 * i] | (u8)bytes[2 * i + 1] << 8);
    }
    return samples;
}

// Power of one frequency in a run of samples (Goertzel).
f64 powerAt(const std::vector<i16>& samples, size_t from, size_t count, f64 frequency) {
    f64 coefficient = 2 * std::cos(2 * 3.14159265358979323846 * frequency / 48000.0);
    f64 s1 = 0, s2 = 0;
    for (size_t i = 0; i < count; i++) {
        f64 s = samples[from + i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

TEST(AudioThread, AOneKilohertzToneReachesTheDeviceAsOneKilohertz) {
    char pattern[] = "/tmp/orvik-audio-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string folder = pattern;
    std::string path = folder + "/mix.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    // The disk device takes a 512-frame buffer every 40 ms, about a quarter of real time, so a loaded
    // test machine that holds up the audio thread for a while does not starve it.
    setenv("SDL_DISKAUDIODELAY", "40", 1);

    std::unique_ptr<AudioOutput> output(new AudioOutput{});
    std::unique_ptr<SoundMixer> mixer(new SoundMixer{});
    FixedString failure = openAudioOutput(output.get());
    if (failure.length) {
        std::filesystem::remove_all(folder);
        GTEST_SKIP() << failure.text;
    }
    static const ToneSegment tone[] = {{0.4, 1000.0, 0.5, 0.0}, {0.1, 1000.0, 0.5, 0.0}};
    ASSERT_EQ(queueSound(&mixer->queue, tone, 2), 1);

    WindowHead head{};
    setRunning(&head, 1);
    std::thread audio([&] { audioThread(output.get(), mixer.get(), &head); });
    // The disk driver takes the stream at the device's pace; wait for a second of it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (std::filesystem::file_size(path, error) >= 48000 * 2 && !error) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    setRunning(&head, 0);
    audio.join();
    closeAudioOutput(output.get());
    EXPECT_GT(output->passes, 0u);

    std::vector<i16> samples = readSamples(path);
    std::filesystem::remove_all(folder);
    ASSERT_GE(samples.size(), 48000u);
    size_t first = 0;
    while (first < samples.size() && std::abs(samples[first]) < 1000) first++;
    ASSERT_LT(first + 9600, samples.size()) << "no tone in the output";
    // The tone in windows of 50 ms. A window in which the device ran ahead of the thread (a run of
    // silence, possible on a loaded machine) says nothing about the frequency and is passed over.
    size_t count = 2400;
    i32 measured = 0;
    size_t end = std::min<size_t>(first + (size_t)(0.38 * 48000), samples.size());
    for (size_t from = first + 240; from + count < end; from += count) {
        i32 quiet = 0;
        bool gap = false;
        for (size_t i = from; i < from + count; i++) {
            quiet = std::abs(samples[i]) < 200 ? quiet + 1 : 0;
            if (quiet > 8) gap = true;
        }
        if (gap) continue;
        measured++;
        i32 crossings = 0;
        for (size_t i = from + 1; i < from + count; i++) {
            if ((samples[i - 1] < 0) != (samples[i] < 0)) crossings++;
        }
        EXPECT_NEAR(crossings / 2.0 / (count / 48000.0), 1000.0, 21.0) << from;
        f64 at = powerAt(samples, from, count, 1000.0);
        EXPECT_GT(at, 100 * powerAt(samples, from, count, 900.0)) << from;
        EXPECT_GT(at, 100 * powerAt(samples, from, count, 1100.0)) << from;
        // Full-scale 0.5: peaks near 16,383.
        i16 peak = 0;
        for (size_t i = from; i < from + count; i++) peak = std::max<i16>(peak, (i16)std::abs(samples[i]));
        EXPECT_NEAR(peak, 16383, 400) << from;
    }
    EXPECT_GT(measured, 0) << "every window of the tone had a gap";
}

}  // namespace
