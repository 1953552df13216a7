// The Automated Tests screen through real frames: the first frame runs every suite and shows their
// codes, staying runs none again, the square's colour follows the mouse and the F key, and block A's
// local time agrees with python's zoneinfo in zones half an hour off the hour.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "Core/Clock.h"
#include "Screens/Test/TestScreen.h"
#include "ScreenTestSupport.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 800;

class TestScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, kWidth, kHeight));
        ScreenStack* stack = &harness.app->screenStack;
        stack->depth = 2;
        stack->screens[1] = testScreen;
        clearScreenScratch(stack);
    }
    void TearDown() override { stopScreensHarness(&harness); }
    TestScreenState* state() { return (TestScreenState*)harness.app->screenStack.screenState; }
    std::string blockA(i64 utcMilliseconds) {
        u8 bytes[1000];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        FixedString dns = makeString("");
        appendTestScreenBlockA(&writer, state(), utcMilliseconds, &dns);
        return std::string((const char*)bytes, (size_t)writer.length);
    }
    ScreensHarness harness{};
};

TEST_F(TestScreenTest, FirstFrameRunsEverySuiteAndShowsZeroAfterEachLabel) {
    frames(&harness);
    ASSERT_EQ(state()->testsRun, 1u);
    EXPECT_EQ(state()->huffmanResult, 0);
    EXPECT_EQ(std::string(state()->editText.text, state()->editText.length), "Edit Me\nSecondLine");
    std::string block = blockA(kUnixEpochIn1601Milliseconds);
    for (const char* label : {"ECC", "AES GCM", "AES CBC", "MD5", "SHA1", "SHA256", "SHA384", "SHA512", "TLS13",
                              "TLS12Basic", "TLS12Extended"}) {
        EXPECT_NE(block.find("\n" + std::string(label) + ":\t0\n"), std::string::npos) << label << "\n" << block;
    }
    EXPECT_EQ(block.substr(block.size() - 5), "DNS:\t");  // the last line feed is dropped

    // Staying runs nothing again: a code changed by hand stays as it is.
    state()->md5Result = 77;
    frames(&harness, 2);
    EXPECT_EQ(state()->md5Result, 77);
    // Leaving and coming back runs every suite again.
    clearScreenScratch(&harness.app->screenStack);
    frames(&harness);
    EXPECT_EQ(state()->testsRun, 1u);
    EXPECT_EQ(state()->md5Result, 0);
}

TEST(TestScreenHuffmanCheck, FindsTheExampleTreeOfRfc1951) { EXPECT_EQ(huffmanTreeCheck(), 0); }

TEST_F(TestScreenTest, SquareIsRedWhileTheMouseIsPressedAndOrangeWhileFIsHeld) {
    frames(&harness);
    const i32 cx = kWidth / 2, cy = kHeight / 2;
    // The mouse pressed away from the square: its circle does not cover the centre.
    harnessMouseMove(&harness.render, 40, kHeight - 40);
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, cx, cy), 0xFFCACC00u);
    writeHarnessPng(&harness.render, outputPath("test_screen.png").c_str());  // for a person to look at
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, cx, cy), 0xFF0000DDu);
    harnessKey(&harness.render, 'F', true);
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, cx, cy), 0xFF0000DDu);  // the mouse wins
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, cx, cy), 0xFF0070DDu);
    harnessKey(&harness.render, 'F', false);
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, cx, cy), 0xFFCACC00u);
}

TEST_F(TestScreenTest, PressedPointerGetsACircle) {
    frames(&harness);
    harnessMouseMove(&harness.render, 1100, 700);
    frames(&harness);
    u32 before = harnessPixel(&harness.render, 1100 + 60, 700);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness);
    EXPECT_EQ(harnessPixel(&harness.render, 1100 + 60, 700), 0xFF0070DDu);
    EXPECT_NE(before, 0xFF0070DDu);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
}

// Local time at an instant in zones with half-hour offsets, winter and summer, against zoneinfo.
TEST_F(TestScreenTest, LocalTimeAgreesWithZoneinfoInHalfHourZones) {
    const char* saved = getenv("TZ");
    std::string savedZone = saved ? saved : "";
    const long long instants[] = {1736930096789LL, 1752575400123LL};  // January and July 2025, Unix ms
    for (const char* zone : {"Asia/Kolkata", "America/St_Johns", "Australia/Adelaide"}) {
        setenv("TZ", zone, 1);
        tzset();
        for (long long unixMs : instants) {
            char command[512];
            snprintf(command, sizeof(command),
                     "/usr/bin/python3 -c \"import datetime, zoneinfo; t = datetime.datetime.fromtimestamp(%lld / 1000, "
                     "zoneinfo.ZoneInfo('%s')); print(f'{t.year}-{t.month}-{t.day} {t.hour}:{t.minute}:{t.second}."
                     "{t.microsecond // 1000}')\"",
                     unixMs, zone);
            FILE* pipe = popen(command, "r");
            ASSERT_NE(pipe, nullptr);
            char line[128] = {};
            ASSERT_NE(fgets(line, sizeof(line), pipe), nullptr);
            pclose(pipe);
            std::string expected = std::string("Local Time:\t") + line;  // python's line feed ends the line
            std::string block = blockA(unixMs + kUnixEpochIn1601Milliseconds);
            EXPECT_EQ(block.substr(0, expected.size()), expected) << zone;
        }
    }
    if (saved) {
        setenv("TZ", savedZone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace
