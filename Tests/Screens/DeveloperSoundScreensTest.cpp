// The Test Sounds and Design Sound screens through real frames, their requests mixed by the app's own
// mixer and measured with numpy: each warning's frequencies and timing, the two tones of the mode
// rows sounding together, a nearly full queue, and a designed tune that keeps its steps after its
// screen's scratch has gone to the next screen.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "Core/WarningSounds.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "ScreenTestSupport.h"

namespace {

struct Measure {
    double share = 0;
    double peak = 0;
    std::vector<std::pair<double, double>> intervals;
    std::vector<double> window;
};

// Mixes what the queue holds for the given seconds, as the audio thread would, and measures it.
Measure mixAndMeasure(SoundMixer* mixer, double seconds, const std::string& freqs, const std::string& window = "") {
    static f32 block[kSoundMixFrames];
    std::vector<f32> samples;
    takeQueuedSounds(mixer);
    u32 frames = (u32)(seconds * kSoundFramesPerSecond);
    while (frames > 0) {
        u32 n = frames < 4800 ? frames : 4800;
        mixVoices(mixer, block, n);
        samples.insert(samples.end(), block, block + n);
        frames -= n;
    }
    // Tests of this program run in parallel: each mix gets a file of its own.
    static i32 mixes = 0;
    std::string path = outputPath(("developer_sound_mix_" + std::to_string(getpid()) + "_" + std::to_string(mixes++) +
                                   ".f32").c_str());
    FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(file);
    std::fwrite(samples.data(), sizeof(f32), samples.size(), file);
    std::fclose(file);
    std::string command = "/usr/bin/python3 " + std::string(ORVIK_SOURCE_DIR) + "/Tests/Screens/oracles/sound_check.py " +
                          path + " " + freqs + " " + window;
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
    EXPECT_EQ(pclose(pipe), 0) << output;
    std::remove(path.c_str());
    Measure m;
    std::istringstream lines(output);
    std::string word;
    while (lines >> word) {
        if (word == "share") lines >> m.share;
        if (word == "peak") lines >> m.peak;
        if (word == "interval") {
            double a, b;
            lines >> a >> b;
            m.intervals.emplace_back(a, b);
        }
        if (word == "window") {
            double f, s;
            lines >> f >> s;
            m.window.push_back(s);
        }
    }
    return m;
}

class DeveloperSoundsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, 800, 1200)); }
    void TearDown() override { stopScreensHarness(&harness); }
    void open(ScreenFunction screen) {
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = screen;
        clearScreenScratch(stack);
        moveMouseAway(&harness);
        frames(&harness, 2);
    }
    void pressRow(i32 row) {
        harness.app->sound = SoundMixer{};
        click(&harness, 400, rowCentreY(&harness, row));
    }
    SoundMixer* mixer() { return &harness.app->sound; }

    ScreensHarness harness{};
};

TEST_F(DeveloperSoundsTest, EachRowPlaysItsWarningAtItsFrequenciesAndTimes) {
    open(testSoundsScreen);
    struct Row {
        const char* freqs;
        double length;  // seconds of sound
        u32 requests;
    };
    const Row rows[8] = {
        {"440,620", 1.5, 1},        {"425", 1.0, 1},  {"400,1200", 0.27, 2},  {"1200", 0.1, 1},
        {"400,1200", 0.2, 2},       {"941", 0.395, 1}, {"587,784,831,1109", 0.496, 1}, {"1319", 0.625, 1},
    };
    for (i32 i = 0; i < 8; i++) {
        pressRow(i);
        ASSERT_EQ(pendingSoundCount(&mixer()->queue), rows[i].requests) << "row " << i;
        Measure m = mixAndMeasure(mixer(), rows[i].length + 0.2, rows[i].freqs);
        EXPECT_GT(m.share, 0.93) << "row " << i;
        ASSERT_FALSE(m.intervals.empty()) << "row " << i;
        EXPECT_NEAR(m.intervals.front().first, 0.0, 0.011) << "row " << i;
        EXPECT_NEAR(m.intervals.back().second, rows[i].length, 0.011) << "row " << i;
    }

    // Three 0.2 s beeps at 425 Hz, 0.2 s apart.
    pressRow(1);
    Measure gps = mixAndMeasure(mixer(), 1.2, "425");
    ASSERT_EQ(gps.intervals.size(), 3u);
    for (i32 b = 0; b < 3; b++) {
        EXPECT_NEAR(gps.intervals[b].first, 0.4 * b, 0.011) << b;
        EXPECT_NEAR(gps.intervals[b].second, 0.4 * b + 0.2, 0.011) << b;
    }
    EXPECT_NEAR(gps.peak, 425, 2);

    // The mode rows' two tones sound at once: both hold a good share of the first beep.
    for (i32 row : {2, 4}) {
        pressRow(row);
        Measure both = mixAndMeasure(mixer(), 0.5, "400,1200", row == 2 ? "0 0.035" : "0 0.2");
        ASSERT_EQ(both.window.size(), 2u);
        EXPECT_GT(both.window[0], 0.3) << row;
        EXPECT_GT(both.window[1], 0.3) << row;
    }
}

TEST_F(DeveloperSoundsTest, WithTwoHundredFiftyFourPendingOnlyTheLowAltitudeToneFits) {
    open(testSoundsScreen);
    harness.app->sound = SoundMixer{};
    for (i32 i = 0; i < 254; i++) ASSERT_EQ(queueSound(&mixer()->queue, kAutoTone, 3), 1);
    click(&harness, 400, rowCentreY(&harness, 4));
    EXPECT_EQ(pendingSoundCount(&mixer()->queue), 255u);
    const SoundRequest& last = mixer()->queue.requests[(u8)(mixer()->queue.writeIndex - 1)];
    EXPECT_EQ(last.segments, kAltitudeToneLow);
    EXPECT_EQ(last.segmentCount, 2u);
}

TEST_F(DeveloperSoundsTest, ATuneLeftBehindKeepsPlayingItsOwnStepsOnly) {
    ScreenStack* stack = &harness.app->screenStack;
    stack->depth = 3;
    stack->screens[1] = testSelectorScreen;
    stack->screens[2] = designSoundScreen;
    clearScreenScratch(stack);
    harness.app->sound = SoundMixer{};
    DesignSoundState* state = (DesignSoundState*)stack->screenState;
    state->text = makeString("{0.3, 440, 0.5}, {0.3, 660, 0.5}");
    frames(&harness);
    ASSERT_EQ(state->segmentCount, 2);
    ASSERT_EQ(pendingSoundCount(&mixer()->queue), 1u);
    // Back to the Test Selector, which takes over the scratch, before the audio thread takes the play.
    tapKey(&harness, KeyEscape);
    ASSERT_EQ(topScreen(&harness), testSelectorScreen);
    frames(&harness, 3);
    Measure m = mixAndMeasure(mixer(), 1.0, "440,660");
    EXPECT_GT(m.share, 0.97);
    ASSERT_FALSE(m.intervals.empty());
    // The last step fades from 0.5 to silence: it sounds above the measure's floor until 0.3 + 0.258 s.
    EXPECT_NEAR(m.intervals.back().second, 0.558, 0.011);
}

TEST(DesignSoundTune, SegmentsNeedOneToFourNumbersAndCloseWithABrace) {
    ToneSegment steps[kTuneSteps];
    auto parse = [&](const std::string& text) { return parseTune((const u8*)text.data(), (i64)text.size(), steps); };
    EXPECT_EQ(parse(""), 0);
    EXPECT_EQ(parse("{0.2, 440, 0.5"), 0);
    ASSERT_EQ(parse("{0.2, 440}"), 1);
    EXPECT_EQ(steps[0].seconds, 0.2);
    EXPECT_EQ(steps[0].frequency, 440);
    EXPECT_EQ(steps[0].startVolume, 0);
    EXPECT_EQ(steps[0].frequencyChange, 0);
    EXPECT_EQ(parse("{1, 2, 3, 4, 5}, {}, {0.1, 300, 0.4, -50}"), 1);
    EXPECT_EQ(steps[0].frequencyChange, -50);
    std::string many;
    for (i32 i = 0; i < 51; i++) many += "{0.1, " + std::to_string(100 + i) + ", 0.5}";
    ASSERT_EQ(parse(many), 50);
    EXPECT_EQ(steps[49].frequency, 149);
}

}  // namespace
