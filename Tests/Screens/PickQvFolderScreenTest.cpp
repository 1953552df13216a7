// The folder walkthrough with both folder grants forced to 0: the Main Screen opens it once, the
// permission stage, the instruction pictures read from the program's resources and decoded by jobs
// of the job ring, and leaving only when no picture is read or decoded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "Core/JobQueue.h"
#include "Platform/FileThread.h"
#include "Screens/MainScreen.h"
#include "Screens/PickQvFolderScreen.h"
#include "ScreenTestSupport.h"

namespace {

class PickQvFolderScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(startScreensHarness(&harness, 1280, 720));
        harness.platform->documentsFolderAccess = 0;
        harness.platform->appFolderAccess = 0;
        frames(&harness);
    }
    void TearDown() override {
        while (runNextAsyncJob(&harness.platform->jobQueue)) {
        }
        stopScreensHarness(&harness);
    }
    PickQvFolderScreenState* state() { return (PickQvFolderScreenState*)harness.app->screenStack.screenState; }
    Rect content() {
        Rect s = harness.ui->screenRect;
        f32 inset = harness.app->uiMetrics.buttonTextHeight;
        return Rect{s.x0 + inset, s.x1 - inset, s.y0 + inset, s.y1 - inset};
    }
    void clickOk() {
        Rect c = content();
        click(&harness, (c.x0 + c.x1) / 2, c.y0 + (c.y1 - c.y0) / 4);
    }
    void clickOpenFolderPicker() {
        Rect c = content();
        click(&harness, (c.x0 + c.x1) / 2, c.y0 + (c.y1 - c.y0) / 6);
    }
    i32 decodingCount() {
        i32 n = 0;
        for (i32 i = 0; i < state()->pictureCount; i++) n += state()->pictures[i].state == FolderHelpDecoding;
        return n;
    }

    ScreensHarness harness{};
};

TEST_F(PickQvFolderScreenTest, PermissionThenPicturesThenTheFolder) {
    ASSERT_EQ(stackDepth(&harness), 2);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)pickQvFolderScreen);
    clickOk();
    EXPECT_EQ(harness.platform->documentsFolderAccess, 1u);
    EXPECT_EQ(harness.platform->appFolderAccess, 0u);
    ASSERT_NE(state()->pictureBuffer, nullptr);
    ASSERT_EQ(state()->pictureCount, 6);

    // One decode at a time: each frame queues at most one job, and none while one is decoding.
    for (i32 round = 0; round < 40; round++) {
        frames(&harness);
        EXPECT_LE(decodingCount(), 1);
        EXPECT_LE(queuedJobCount(&harness.platform->jobQueue) & 0xFF, 1u);
        runNextAsyncJob(&harness.platform->jobQueue);
    }
    for (i32 i = 0; i < 6; i++) {
        const FolderHelpPicture& picture = state()->pictures[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(picture.result.error.length, 0) << picture.result.error.text;
        EXPECT_EQ(picture.result.width, 512u);
        EXPECT_EQ(picture.result.height, 512u);
        EXPECT_EQ(picture.result.channels, 3u);
        EXPECT_NE(picture.imageSlot, 0);
        EXPECT_EQ(picture.request, nullptr);
    }
    moveMouseAway(&harness);
    FixedString error = writeHarnessPng(&harness.render, outputPath("ScreensFolderWalkthrough.png").c_str());
    EXPECT_EQ(error.length, 0) << error.text;

    i32 slots[6];
    for (i32 i = 0; i < 6; i++) slots[i] = state()->pictures[i].imageSlot;
    clickOpenFolderPicker();
    EXPECT_EQ(harness.platform->appFolderAccess, 1u);
    EXPECT_EQ(stackDepth(&harness), 1);
    for (i32 slot : slots) {
        const ImageSlot* s = getImageSlot(&harness.ui->imageSlots, slot);
        EXPECT_TRUE(s == nullptr || s->releaseRequested);
    }
}

TEST_F(PickQvFolderScreenTest, LeavesOnlyWhenNothingIsInFlight) {
    clickOk();
    // Frames until the first picture is decoding, its job not yet run.
    for (i32 i = 0; i < 20 && decodingCount() == 0; i++) frames(&harness);
    ASSERT_EQ(decodingCount(), 1);
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(stackDepth(&harness), 2);
    EXPECT_EQ(decodingCount(), 1);
    // The other pictures' finished reads were let go; the decoding one keeps its read.
    i32 held = 0;
    for (i32 i = 0; i < state()->pictureCount; i++) held += state()->pictures[i].request != nullptr;
    EXPECT_EQ(held, 1);

    ASSERT_EQ(runNextAsyncJob(&harness.platform->jobQueue), 1);
    frames(&harness);
    EXPECT_EQ(decodingCount(), 0);
    tapKey(&harness, KeyEscape);
    EXPECT_EQ(stackDepth(&harness), 1);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)mainScreen);

    // The walkthrough is offered once per run, though a grant is still missing.
    frames(&harness, 3);
    EXPECT_EQ(stackDepth(&harness), 1);
    EXPECT_EQ(harness.app->mainScreenWord, 1u);
}

TEST(FolderHelpPictures, SetsByApiLevel) {
    FolderHelpPictureSet six = folderHelpPictureSet(29);
    EXPECT_EQ(six.count, 6);
    EXPECT_STREQ(six.names[0], "rpafp8_1_3dots.jpg");
    EXPECT_STREQ(six.names[5], "rpafp8_6_select.jpg");
    EXPECT_DOUBLE_EQ(six.placeWidth, 1.1);
    EXPECT_FLOAT_EQ(six.highlights[3][0], 40);
    EXPECT_FLOAT_EQ(six.highlights[3][3], 500);
    FolderHelpPictureSet three = folderHelpPictureSet(30);
    EXPECT_EQ(three.count, 3);
    EXPECT_STREQ(three.names[2], "rpafp10_3_use_this_folder.jpg");
    EXPECT_DOUBLE_EQ(three.placeWidth, 2.2);
    EXPECT_FLOAT_EQ(three.highlights[2][1], 961);
}

}  // namespace


namespace {

// The pictures' loading without frames: a read that fails keeps its file-status text, a file that
// is no JPEG keeps the decoder's text, and neither takes an image slot.
TEST(FolderHelpPictures, FailedReadsAndDecodesKeepTheirMessages) {
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    ImageSlotTable* slots = (ImageSlotTable*)std::calloc(1, sizeof(ImageSlotTable));
    PickQvFolderScreenState* state = (PickQvFolderScreenState*)std::calloc(1, sizeof(PickQvFolderScreenState));
    state->pictureBuffer = (u8*)std::calloc(1, (size_t)kFolderHelpBufferBytes);
    state->pictureCount = 2;
    state->pictures[0].request =
        requestFile(makeString("AppOrvik\\Assets/Android/no_such_picture.jpg"), kFolderHelpPictureMaxBytes, 0,
                    &platform->resourceReads);
    u8* bytes = allocateFileBuffer(64);
    std::memset(bytes, 0x5A, 64);
    state->pictures[1].request = fileRequestFromBuffer(bytes, 64, 1, makeString("not_a_jpeg.jpg"), 0,
                                                       &platform->resourceReads);

    EXPECT_EQ(updateFolderHelpPictures(state, platform, slots), 1);  // the first read is pending
    FileThreadState files{};
    runFileThreadPass(&files, platform);
    EXPECT_EQ(updateFolderHelpPictures(state, platform, slots), 1);  // the second is decoding
    EXPECT_STREQ(state->pictures[0].result.error.text, "File not found");
    EXPECT_EQ(state->pictures[0].request, nullptr);
    EXPECT_EQ(state->pictures[1].state, (i32)FolderHelpDecoding);
    EXPECT_EQ(runNextAsyncJob(&platform->jobQueue), 1);
    EXPECT_EQ(updateFolderHelpPictures(state, platform, slots), 0);
    EXPECT_GT(state->pictures[1].result.error.length, 0);
    EXPECT_EQ(state->pictures[1].imageSlot, 0);
    EXPECT_EQ(state->pictures[1].request, nullptr);
    finishFileThread(&files);

    std::free(state->pictureBuffer);
    std::free(state);
    std::free(slots);
    std::free(platform);
}

TEST_F(PickQvFolderScreenTest, TheStripScrollsWithADrag) {
    clickOk();
    Rect c = content();
    f32 y = c.y0 + (c.y1 - c.y0) / 2;
    EXPECT_EQ(state()->stripView.visibleXMin, 0.0);
    harnessMouseMove(&harness.render, 900, y);
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness);
    for (f32 x = 850; x >= 700; x -= 50) {
        harnessMouseMove(&harness.render, x, y);
        frames(&harness);
    }
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    f64 cellHeight = (c.y1 - c.y0) / 3;
    EXPECT_NEAR(state()->stripView.visibleXMin, 200 / cellHeight, 1e-3);
    // Scrolled past the end it stops at the last picture.
    harnessMouseButton(&harness.render, KeyMouseLeft, true);
    frames(&harness);
    harnessMouseMove(&harness.render, 0, y);
    frames(&harness);
    harnessMouseButton(&harness.render, KeyMouseLeft, false);
    frames(&harness);
    f64 visible = (c.x1 - c.x0) / cellHeight;
    EXPECT_NEAR(state()->stripView.visibleXMin, 6 * 1.1 - visible, 1e-3);
}

}  // namespace
