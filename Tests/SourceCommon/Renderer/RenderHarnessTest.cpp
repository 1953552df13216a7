// The harness itself: scripted input reaches the frame's update as the platform layer would hand it
// over, and a snapshot written as PNG decodes back to the pixels on the window.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "Decoders/Png.h"
#include "RendererTestSupport.h"

namespace {

struct SeenInput {
    PointerSlot pointer;
    PointerSlot touches[2];
    i32 eventCount;
    i32 firstEvent;
    bool keyDown;
    i32 frames;
};
SeenInput seen;

void recordInput(Platform* platform, UiState* ui, AppState*) {
    seen.pointer = platform->pointers[0];
    seen.touches[0] = platform->pointers[1];
    seen.touches[1] = platform->pointers[2];
    seen.eventCount = platform->input.eventCount;
    seen.firstEvent = platform->input.eventCount > 0 ? platform->input.events[0] : 0;
    seen.keyDown = isKeyDown(&platform->input, 'A');
    seen.frames++;
    // Something to draw, from inside the update as screens do.
    addColored2dQuad(&ui->batches.colored2d, 0, 0, 80, 120, 0.5f, 0xFF00FF00);
}

class Harness : public RendererTest {};

TEST_F(Harness, ScriptedInputReachesTheUpdate) {
    startHarness(true);
    setHarnessUpdate(&harness, recordInput);
    seen = SeenInput{};
    harnessMouseMove(&harness, 40, 30);
    harnessMouseButton(&harness, KeyMouseLeft, true);
    harnessKey(&harness, 'A', true);
    runHarnessFrame(&harness);
    EXPECT_EQ(seen.frames, 1);
    EXPECT_EQ(seen.pointer.state, (u32)PointerPressed);
    EXPECT_FLOAT_EQ(seen.pointer.x, 40);
    EXPECT_FLOAT_EQ(seen.pointer.y, 30);
    EXPECT_TRUE(seen.keyDown);
    EXPECT_GE(seen.eventCount, 1);
    EXPECT_EQ(seen.firstEvent, 'a');
    harnessMouseButton(&harness, KeyMouseLeft, false);
    harnessKey(&harness, 'A', false);
    runHarnessFrame(&harness);
    EXPECT_EQ(seen.pointer.state, (u32)PointerPresent);
    EXPECT_FALSE(seen.keyDown);
}

TEST_F(Harness, TwoTouchesAtOnceTakeTwoSlots) {
    startHarness(true);
    setHarnessUpdate(&harness, recordInput);
    seen = SeenInput{};
    harnessTouchDown(&harness, 7, 20, 100);
    harnessTouchDown(&harness, 9, 120, 10);
    runHarnessFrame(&harness);
    EXPECT_EQ(seen.touches[0].state, (u32)PointerPressed);
    EXPECT_FLOAT_EQ(seen.touches[0].x, 20);
    EXPECT_FLOAT_EQ(seen.touches[0].y, 100);
    EXPECT_EQ(seen.touches[1].state, (u32)PointerPressed);
    EXPECT_FLOAT_EQ(seen.touches[1].x, 120);
    EXPECT_FLOAT_EQ(seen.touches[1].y, 10);
    harnessTouchMove(&harness, 7, 20, 100, true);
    runHarnessFrame(&harness);
    EXPECT_NE(seen.touches[0].state, (u32)PointerPressed);
    EXPECT_EQ(seen.touches[1].state, (u32)PointerPressed);
}

TEST_F(Harness, ASnapshotDecodesBackToTheWindowsPixels) {
    startHarness(true);
    setHarnessUpdate(&harness, recordInput);
    runUntilProgramsBuilt();
    runHarnessFrame(&harness);
    std::vector<u8> window((size_t)kWidth * kHeight * 4);
    readHarnessPixels(&harness, window.data());
    std::string path = ::testing::TempDir() + "harness_snapshot.png";
    FixedString written = writeHarnessPng(&harness, path.c_str());
    ASSERT_EQ(written.length, 0) << written.text;
    std::ifstream file(path, std::ios::binary);
    std::vector<u8> png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<u8> decoded(window.size() + 4096);
    std::vector<u8> scratch((size_t)kHeight * (kWidth * 4 + 1) + 4096);
    ImageResult image{};
    parsePng(&image, png.data(), (i64)png.size(), decoded.data(), (i64)decoded.size(), 4, 1, scratch.data(), (i64)scratch.size());
    ASSERT_EQ(image.error.length, 0) << image.error.text;
    ASSERT_EQ(image.width, (u32)kWidth);
    ASSERT_EQ(image.height, (u32)kHeight);
    EXPECT_TRUE(std::equal(window.begin(), window.end(), decoded.begin()));
    // Rows run from the top: the green left half is at the start of every row.
    EXPECT_EQ(decoded[1], 255);
    EXPECT_EQ(decoded[(kWidth - 1) * 4 + 1], 0);
    std::remove(path.c_str());
}

}  // namespace
