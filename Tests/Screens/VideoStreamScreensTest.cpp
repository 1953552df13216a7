// The video screens headless: the source rows that each device gets (its product and maker strings
// injected), the custom source's edits and the refused port, and the decoded picture shown full
// screen. Nothing here runs a stream client, so nothing is sent to a preset's address.
#include <gtest/gtest.h>

#include "Core/ImageSlots.h"
#include "Network/Address.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "ScreenTestSupport.h"
#include "Video/VideoDecoder.h"

namespace {

std::string text(const FixedString& value) { return std::string(value.text, value.length); }

class VideoStreamScreensTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, 1280, 720)); }
    void TearDown() override { stopScreensHarness(&harness); }
    void push(ScreenFunction screen) {
        ScreenStack* stack = &harness.app->screenStack;
        stack->screens[stack->depth++] = screen;
        clearScreenScratch(stack);
        frames(&harness, 3);
    }
    // Opens the source list on a device and clicks row i (from the top).
    void chooseRow(const char* product, const char* maker, i32 row) {
        harness.platform->biosProductName = makeString(product);
        harness.platform->biosManufacturer = makeString(maker);
        push(selectVideoStreamConnectionScreen);
        ASSERT_EQ(topScreen(&harness), (ScreenFunction)selectVideoStreamConnectionScreen);
        click(&harness, harness.ui->screenRect.x1 / 2, rowCentreY(&harness, row));
        frames(&harness, 2);
    }
    Preferences* preferences() { return &harness.app->preferences; }
    ScreensHarness harness{};
};

TEST_F(VideoStreamScreensTest, EachDeviceGetsItsPresetRowsAndAPresetClosesTheList) {
    struct Case {
        const char* product;
        const char* maker;
        i32 row;
        const char* url;
    };
    // After "Configure custom..." and "No Video Stream": the device's own HDMI row, then rows 3-6.
    for (const Case& c : {Case{"gtactive3", "samsung", 2, "rtsp://192.168.144.10:8554/H264Video"},
                          Case{"optimus", "CubePilot", 2, "rtsp://192.168.0.10:8554/H264Video"},
                          Case{"optimus", "CubePilot", 3, "rtsp://192.168.144.203:8554/video"},
                          Case{"gtactive3", "samsung", 6, "rtsp://192.168.144.200:554/stream0"}}) {
        preferences()->videoStreamProtocol = VideoStreamNone;
        i32 depth = stackDepth(&harness);
        chooseRow(c.product, c.maker, c.row);
        EXPECT_EQ(stackDepth(&harness), depth) << c.product << " " << c.row;  // the list closed
        EXPECT_EQ(preferences()->videoStreamProtocol, (u32)VideoStreamRtsp);
        EXPECT_EQ(text(preferences()->rtspUrl), c.url);
    }
    // A separate computer: the relayed-video rows only.
    chooseRow("Bench PC", "CubePilot", 3);
    EXPECT_EQ(preferences()->videoStreamProtocol, (u32)VideoStreamQv);
    EXPECT_EQ(text(endpointString(&preferences()->qvVideoServerAddress)), "192.168.144.11:32423");
    // "No Video Stream" clears the server and leaves the RTSP URL.
    chooseRow("Bench PC", "x", 1);
    EXPECT_EQ(preferences()->videoStreamProtocol, (u32)VideoStreamNone);
    EXPECT_EQ(preferences()->qvVideoServerAddress.family, 0);
    EXPECT_EQ(text(preferences()->rtspUrl), "rtsp://192.168.144.200:554/stream0");
    // With a custom protocol its row comes third and copies the custom source.
    preferences()->customVideoStreamProtocol = VideoStreamRtsp;
    preferences()->customRtspUrl = makeString("rtsp://10.0.0.5/cam");
    chooseRow("Bench PC", "x", 2);
    EXPECT_EQ(preferences()->videoStreamProtocol, (u32)VideoStreamRtsp);
    EXPECT_EQ(text(preferences()->rtspUrl), "rtsp://10.0.0.5/cam");
}

TEST_F(VideoStreamScreensTest, DroneSetupVideoRowOpensTheSourceList) {
    push(droneSetupScreen);
    click(&harness, harness.ui->screenRect.x1 / 2, rowCentreY(&harness, 2));
    frames(&harness, 2);
    EXPECT_EQ(topScreen(&harness), (ScreenFunction)selectVideoStreamConnectionScreen);
}

TEST(CustomVideoPort, OutOfRangeIsRefusedNotCut) {
    AddressRecord server{};
    server.port = 5600;
    FixedString entry = makeString("70000");
    EXPECT_NE(text(customVideoPortEntry(&entry, &server)), "");
    EXPECT_EQ(server.port, 5600);
    entry = makeString("-1");
    EXPECT_NE(text(customVideoPortEntry(&entry, &server)), "");
    EXPECT_EQ(server.port, 5600);
    entry = makeString("65535");
    EXPECT_EQ(text(customVideoPortEntry(&entry, &server)), "");
    EXPECT_EQ(server.port, 65535);
}

TEST_F(VideoStreamScreensTest, VideoScreenIsBlackUntilAPictureThenShowsIt) {
    push(videoStreamScreen);
    frames(&harness, 2);
    i32 cx = (i32)harness.ui->screenRect.x1 / 2, cy = (i32)harness.ui->screenRect.y1 / 2;
    EXPECT_EQ(harnessPixel(&harness.render, cx, cy) & 0xFFFFFF, 0u);
    // A bright picture published as the decoder does.
    // The program's decoder lives as long as the program.
    static VideoDecoder* decoder = new VideoDecoder{};
    initializeH264Decoder(decoder);
    static std::vector<u8> nv12;
    nv12.assign(64 * 36 * 3 / 2, 128);
    std::fill(nv12.begin(), nv12.begin() + 64 * 36, 235);
    decoder->imageSlotId = (u32)allocImageSlot(nv12.data(), 64, 36, kVideoFormatNv12, &harness.ui->imageSlots);
    ASSERT_NE(decoder->imageSlotId, 0u);
    frames(&harness, 3);
    u32 pixel = harnessPixel(&harness.render, cx, cy);
    EXPECT_GT(pixel & 0xFF, 200u);
}

}  // namespace
