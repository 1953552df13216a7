// The Main Screen through real frames: every button opens its screen and comes back, "Developer
// mode" shows and hides its two buttons on the next frame, the buttons stay where they are whatever
// the status texts say, a video error goes once pictures come back, and a screenshot for a person to
// look at. The link and video status texts for scripted connection states.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "SourceCommon/UserInterface/UiMetrics.h"
#include "Drone/SharingRequest.h"
#include "Screens/ChildScreens.h"
#include "Screens/MainScreen.h"
#include "Platform/ProgramWindow.h"
#include "Screens/SettingsScreen.h"
#include "ScreenTestSupport.h"
#include "Video/H264TestStreams.h"
#include "Video/VideoDecoder.h"

namespace {

constexpr i32 kWidth = 1280;
constexpr i32 kHeight = 720;

class MainScreenTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(startScreensHarness(&harness, kWidth, kHeight)); }
    void TearDown() override { stopScreensHarness(&harness); }

    MainScreenLayout layout() {
        const ImageAsset& logo = harness.ui->assets[AssetLogo];
        Rect screen = harness.ui->screenRect;
        Rect drawn = fitRect((f32)logo.image.width, (f32)logo.image.height, AnchorTopCentre, &screen);
        return mainScreenLayout(&harness.app->uiMetrics, screen, drawn.y1 - drawn.y0,
                                harness.app->screenStack.runner.reservedWidth);
    }
    Rect buttonRect(i32 button) { return layout().buttons[button / 3][button % 3]; }

    ScreensHarness harness{};
};

TEST_F(MainScreenTest, EveryButtonOpensItsScreenAndComesBack) {
    harness.app->preferences.developerMode = 1;
    frames(&harness);
    for (i32 i = 0; i < kMainScreenButtons; i++) {
        SCOPED_TRACE(mainScreenButtonLabels[i]);
        Rect r = buttonRect(i);
        click(&harness, (r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2);
        ASSERT_EQ(stackDepth(&harness), 2);
        EXPECT_EQ(topScreen(&harness), mainScreenButtonTargets[i]);
        // Back with Escape on even buttons, with the corner button on odd ones.
        if (i % 2 == 0) {
            tapKey(&harness, KeyEscape);
        } else {
            frames(&harness);  // the runner places its corner button on the new screen's first frame
            Rect corner = harness.app->screenStack.runner.cornerButtonRect;
            ASSERT_GT(corner.x1, corner.x0);
            click(&harness, (corner.x0 + corner.x1) / 2, (corner.y0 + corner.y1) / 2);
        }
        ASSERT_EQ(stackDepth(&harness), 1);
        EXPECT_EQ(topScreen(&harness), (ScreenFunction)mainScreen);
    }
    EXPECT_EQ(mainScreenButtonTargets[MainButtonAppSettings], (ScreenFunction)settingsScreen);
    EXPECT_EQ(mainScreenButtonTargets[MainButtonFly], (ScreenFunction)flyScreen);
    EXPECT_EQ(mainScreenButtonTargets[MainButtonDebug], (ScreenFunction)testSelectorScreen);
}

TEST_F(MainScreenTest, DeveloperModeShowsItsButtonsOnTheNextFrame) {
    moveMouseAway(&harness);
    const Color grey = kMainButtonFill;
    const f32 margin = harness.app->uiMetrics.margin;
    auto insideLeftEdge = [&](i32 button) {
        Rect r = buttonRect(button);
        return harnessPixel(&harness.render, (i32)(r.x0 + 2 * margin), (i32)((r.y0 + r.y1) / 2));
    };
    EXPECT_NE(insideLeftEdge(MainButtonDownloadMaps), grey);
    EXPECT_NE(insideLeftEdge(MainButtonDebug), grey);
    EXPECT_EQ(insideLeftEdge(MainButtonAppSettings), grey);
    // A click where a hidden button would be opens nothing.
    Rect hidden = buttonRect(MainButtonDebug);
    click(&harness, (hidden.x0 + hidden.x1) / 2, (hidden.y0 + hidden.y1) / 2);
    EXPECT_EQ(stackDepth(&harness), 1);
    moveMouseAway(&harness);

    harness.app->preferences.developerMode = 1;
    frames(&harness);
    EXPECT_EQ(insideLeftEdge(MainButtonDownloadMaps), grey);
    EXPECT_EQ(insideLeftEdge(MainButtonDebug), grey);
    FixedString error = writeHarnessPng(&harness.render, outputPath("ScreensMainScreen.png").c_str());
    EXPECT_EQ(error.length, 0) << error.text;

    harness.app->preferences.developerMode = 0;
    frames(&harness);
    EXPECT_NE(insideLeftEdge(MainButtonDownloadMaps), grey);
    EXPECT_NE(insideLeftEdge(MainButtonDebug), grey);
}

// A client whose link to another app's relay is keyed while that app grants nothing: every line of
// the link status box, the whole fingerprint on one of them, is drawn below the buttons at the
// smallest window and at 1280 x 800 and 1920 x 1200.
TEST_F(MainScreenTest, TheClientShowsItsLinkFingerprintBeforeAnythingIsGranted) {
    const i32 sizes[3][2] = {{kMinimumWindowWidth, kMinimumWindowHeight}, {1280, 800}, {1920, 1200}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
        stopScreensHarness(&harness);
        ASSERT_TRUE(startScreensHarness(&harness, size[0], size[1]));
        harness.render.captureText = true;
        harness.app->preferences.droneConnection = DroneConnectionIp;
        SecureLinkClient* client = &harness.app->droneConnection.secureLinkClient;
        client->identity = &harness.app->secureLinkClientIdentity;
        client->active = 1;
        client->keys.ready = 1;
        client->lastHostDatagramTime = harness.render.now;
        frames(&harness);
        const TextRun* lowestButton = shownText(&harness, "DRONE SETUP");
        ASSERT_NE(lowestButton, nullptr);
        FixedString fingerprint = secureLinkClientFingerprint(client);
        std::string whole = "Link fingerprint " + std::string(fingerprint.text, fingerprint.length);
        for (const char* line : {"MAVLink Connection:", "Enable \"Share Telemetry\" on the other app", whole.c_str()}) {
            const TextRun* run = shownText(&harness, line);
            ASSERT_NE(run, nullptr) << line;
            EXPECT_LT(run->y1, lowestButton->y0) << line;
            EXPECT_GT(run->y0, 0) << line;
        }
    }
}

// One to four lines in each status box, at the smallest window, the default one and a large one:
// no button moves, and every line is drawn below the buttons and clear of the corner button.
TEST_F(MainScreenTest, TheButtonsStayPutWhileTheStatusLinesChange) {
    const i32 sizes[3][2] = {{kMinimumWindowWidth, kMinimumWindowHeight}, {1280, 720}, {1920, 1200}};
    auto lines = [](const char* name, i32 count) {
        std::string text;
        for (i32 i = 1; i <= count; i++) text += std::string(i > 1 ? "\n" : "") + name + " line " + std::to_string(i);
        return makeString(text.c_str());
    };
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
        stopScreensHarness(&harness);
        ASSERT_TRUE(startScreensHarness(&harness, size[0], size[1]));
        harness.render.captureText = true;
        harness.app->preferences.developerMode = 1;
        harness.app->simulatorRunning = 1;
        harness.app->preferences.videoStreamProtocol = VideoStreamRtsp;
        std::vector<TextRun> labels;
        for (i32 linkLines = 1; linkLines <= 4; linkLines++) {
            for (i32 videoLines = 1; videoLines <= 4; videoLines++) {
                SCOPED_TRACE(std::to_string(linkLines) + " and " + std::to_string(videoLines) + " lines");
                harness.app->droneSocket.status = lines("Link", linkLines);
                harness.app->rtspVideoStream.stats.status = lines("Video", videoLines);
                frames(&harness);
                for (i32 i = 0; i < kMainScreenButtons; i++) {
                    const TextRun* label = shownText(&harness, mainScreenButtonLabels[i], true);
                    ASSERT_NE(label, nullptr) << mainScreenButtonLabels[i];
                    if ((i32)labels.size() < kMainScreenButtons) labels.push_back(*label);
                    EXPECT_EQ(label->x0, labels[i].x0) << mainScreenButtonLabels[i];
                    EXPECT_EQ(label->y0, labels[i].y0) << mainScreenButtonLabels[i];
                }
                const TextRun* lowestButton = shownText(&harness, "DRONE SETUP", true);
                Rect corner = harness.app->screenStack.runner.cornerButtonRect;
                for (i32 box = 0; box < 2; box++) {
                    for (i32 line = 1; line <= (box ? videoLines : linkLines); line++) {
                        std::string text = std::string(box ? "Video" : "Link") + " line " + std::to_string(line);
                        const TextRun* run = shownText(&harness, text.c_str());
                        ASSERT_NE(run, nullptr) << text;
                        EXPECT_LT(run->y1, lowestButton->y0) << text;
                        EXPECT_GT(run->y0, 0) << text;
                        EXPECT_TRUE(run->x0 > corner.x1 || run->y0 > corner.y1) << text;
                    }
                }
            }
        }
    }
}

// A stream whose first picture comes without its parameter sets (as at a relay client's start) shows
// a video error; once the stream's parameter sets and pictures come, the error goes.
TEST_F(MainScreenTest, AVideoErrorGoesOnceThePicturesComeBack) {
    videotest::TempFolder folder("main-screen");
    std::string path = folder.file("s.h264");
    ASSERT_TRUE(videotest::encodeTestPattern(path, 64, 48, 2, "-bf 0"));
    videotest::Bytes stream = videotest::readFile(path);
    std::vector<size_t> idrSlices = videotest::nalUnitStarts(stream, 5);
    ASSERT_FALSE(idrSlices.empty());
    size_t firstSlice = idrSlices[0];  // the start code of the IDR picture's first slice
    VideoDecoder* decoder = testDecoder();
    ASSERT_EQ(decoder->ready, 1u) << decoder->error.text;
    harness.render.memory->head.videoDecoder = decoder;
    harness.render.captureText = true;
    decoder->width = 64;
    decoder->height = 48;
    ImageSlotTable* slots = &harness.ui->imageSlots;
    auto feed = [&](size_t from) {
        processH264BytestreamNalu(stream.data() + from, (i64)(stream.size() - from), slots);
        endH264AccessUnit(slots);
        processH264DecoderOutput(slots);
        frames(&harness);
    };

    feed(firstSlice);
    ASSERT_GT(decoder->error.length, 0);
    std::string error(decoder->error.text, (size_t)(decoder->error.length < 20 ? decoder->error.length : 20));
    EXPECT_NE(shownText(&harness, error.c_str()), nullptr) << error;
    u32 published = decoder->picturesPublished;
    feed(0);
    EXPECT_GT(decoder->picturesPublished, published);
    EXPECT_EQ(shownText(&harness, error.c_str()), nullptr) << error;

    endH264Stream(slots);
    processH264DecoderOutput(slots);
    decoder->error = FixedString{};
    decoder->imageSlotId = 0;
    decoder->width = decoder->height = 0;
}

TEST_F(MainScreenTest, ClearColourAndSharingPulse) {
    frames(&harness);
    const u8* clear = harness.ui->clearColor;
    EXPECT_EQ(clear[0], 0x14);
    EXPECT_EQ(clear[1], 0x03);
    EXPECT_EQ(clear[2], 0x09);
    EXPECT_EQ(sharingPulse(kMainButtonFill, 5000000), kSharingPulseColor);
    EXPECT_EQ(sharingPulse(kMainButtonFill, 5500000), kMainButtonFill);
    EXPECT_EQ(sharingPulse(kMainButtonFill, 5250000), blendColor(kMainButtonFill, kSharingPulseColor, 0.5f));
}

TEST(SharingRequest, PendingOnlyForAListedDeviceWithoutADecision) {
    SecureLinkHost host{};
    Preferences preferences{};
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 0u);
    preferences.relayModeDisableEncryption = 1;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 0u);  // an empty list never is
    preferences.relayModeDisableEncryption = 0;
    SecureLinkPeer* peer = &host.peers[3];
    peer->address.family = 4;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 1u);  // not the list's reference address
    host.referenceAddress = peer->address;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 0u);
    peer->counter = 2;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 0u);
    peer->counter = 3;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 1u);
    peer->counter = 0;
    peer->pending = 1;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 1u);
    peer->pending = 0;
    preferences.relayModeDisableEncryption = 1;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 1u);
    peer->userDecision = 1;  // decided: no longer asks
    peer->pending = 1;
    EXPECT_EQ(hasPendingSharingRequest(&host, &preferences), 0u);
}

TEST(MainScreenLayout, CellsAndColumns) {
    UiMetrics m = computeUiMetrics(Rect{0, 1280, 0, 720});
    MainScreenLayout l = mainScreenLayout(&m, Rect{0, 1280, 0, 720}, 200, 0);
    f32 gap = 2 * m.margin;
    EXPECT_FLOAT_EQ(l.cells.cells[0].y1, 720 - gap);
    EXPECT_FLOAT_EQ(l.cells.cells[0].y1 - l.cells.cells[0].y0, 70);
    EXPECT_FLOAT_EQ(l.cells.cells[2].y1 - l.cells.cells[2].y0, m.buttonHeight);
    EXPECT_FLOAT_EQ(l.cells.cells[3].y1 - l.cells.cells[3].y0, 0);
    EXPECT_NEAR(l.cells.cells[8].y1 - l.cells.cells[8].y0, (kMainStatusLines + 2 * kMainStatusOutline) * m.textHeight, 1);
    EXPECT_NEAR(l.cells.cells[10].y0, gap, 0.001);
    // The two shares of the room left over are equal.
    EXPECT_NEAR(l.cells.cells[1].y1 - l.cells.cells[1].y0, l.cells.cells[7].y1 - l.cells.cells[7].y0, 0.01);
    for (i32 row = 0; row < 3; row++) {
        f32 width = (1280 - 2 * gap - 4 * m.margin) / 3;
        for (i32 column = 0; column < 3; column++) {
            const Rect& b = l.buttons[row][column];
            EXPECT_NEAR(b.x1 - b.x0, width, 0.01);
            EXPECT_NEAR(b.x0, gap + column * (width + gap), 0.01);
        }
    }
    EXPECT_FLOAT_EQ(l.linkStatus.y0, l.cells.cells[8].y0);
    EXPECT_FLOAT_EQ(l.linkStatus.y1, l.cells.cells[7].y1);
    EXPECT_FLOAT_EQ(l.videoStatus.y0, l.cells.cells[10].y0);
    EXPECT_FLOAT_EQ(l.videoStatus.y1, l.cells.cells[9].y1);
}

// The status texts over a zeroed state.
class StatusTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = (AppState*)std::calloc(1, sizeof(AppState));
        platform = (Platform*)std::calloc(1, sizeof(Platform));
        platform->documentsFolderAccess = platform->appFolderAccess = 1;
    }
    void TearDown() override {
        std::free(app);
        std::free(platform);
    }
    std::string link(u64 now) {
        u8 bytes[kMainStatusTextBytes];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        writeLinkStatusText(&writer, platform, app, now);
        return std::string((const char*)bytes, (size_t)writer.length);
    }
    std::string video(u64 now, const VideoDecoder* decoder = nullptr) {
        u8 bytes[kMainStatusTextBytes];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        writeVideoStatusText(&writer, app, decoder, now);
        return std::string((const char*)bytes, (size_t)writer.length);
    }
    AppState* app = nullptr;
    Platform* platform = nullptr;
};

TEST_F(StatusTextTest, LinkWithoutConnectionAndThePermissionWarning) {
    EXPECT_EQ(link(1000000), "MAVLink Connection:\tNone selected\n");
    platform->appFolderAccess = 0;
    EXPECT_EQ(link(1000000), "MAVLink Connection:\tNone selected\n");  // even 3-second period
    EXPECT_EQ(link(3000000), "The app is missing necessary permissions. Restart to re-request them.\n"
                             "The app won't be able to save anything.");
    EXPECT_EQ(link(6000000), "MAVLink Connection:\tNone selected\n");
}

TEST_F(StatusTextTest, LinkConnectedForThreeSeconds) {
    app->simulatorRunning = 1;
    app->droneSocket.status = makeString("Waiting for data on port 14550");
    EXPECT_EQ(link(5000000), "MAVLink Connection:\tWaiting for data on port 14550\n");
    app->droneConnection.lastDroneMessageTime = 2000000;
    EXPECT_EQ(link(5000000), "MAVLink Connection:\tConnected to Drone\n");
    EXPECT_EQ(link(5000001), "MAVLink Connection:\tWaiting for data on port 14550\n");
    app->simulatorRunning = 0;
    app->preferences.droneConnection = DroneConnectionIp;
    EXPECT_EQ(link(5000000), "MAVLink Connection:\tConnected to Drone\n");
}

TEST_F(StatusTextTest, LinkThroughAnotherAppsRelay) {
    app->preferences.droneConnection = DroneConnectionIp;
    app->droneConnection.lastDroneMessageTime = 9000000;
    SecureLinkClient* client = &app->droneConnection.secureLinkClient;
    client->active = 1;
    client->lastHostDatagramTime = 9000000;
    EXPECT_EQ(link(10000000), "MAVLink Connection:\tConnected to Drone\nEnable \"Share Telemetry\" on the other app\n");
    client->lastTelemetryTime = 9500000;
    EXPECT_EQ(link(10000000), "MAVLink Connection:\tConnected to Drone\nControl is not granted by the other app\n");
    client->lastControlGrantTime = 9500000;
    EXPECT_EQ(link(10000000), "MAVLink Connection:\tConnected to Drone\n");
    // A host silent for 2.1 s or more adds nothing.
    client->lastTelemetryTime = 0;
    EXPECT_EQ(link(11100000), "MAVLink Connection:\tConnected to Drone\n");
}

TEST_F(StatusTextTest, LinkRelayingControl) {
    app->preferences.droneConnection = DroneConnectionIp;
    app->droneConnection.lastDroneMessageTime = 9000000;
    SecureLinkPeer* peer = &app->relayHost.peers[1];
    peer->address.family = 4;
    peer->address.port = 14550;
    peer->address.address[0] = 10, peer->address.address[3] = 7;
    peer->heardTimes[RelayStreamMavlink] = 9000000;
    app->relayHost.controllingPeer = peer;
    EXPECT_EQ(link(10000000), "MAVLink Connection:\tConnected to Drone\nRelaying control from 10.0.0.7\n");
    peer->name = makeString("Field tablet");
    EXPECT_EQ(link(10000000), "MAVLink Connection:\tConnected to Drone\nRelaying control from Field tablet\n");
    EXPECT_EQ(link(10300000), "MAVLink Connection:\tConnected to Drone\n");
}

TEST_F(StatusTextTest, VideoByProtocol) {
    EXPECT_EQ(video(1), "Video Stream:\tNone selected\n");
    app->preferences.videoStreamProtocol = VideoStreamRtsp;
    app->rtspVideoStream.stats.status = makeString("Playing");
    EXPECT_EQ(video(1), "Video Stream:\tPlaying\n");
    app->preferences.videoStreamProtocol = VideoStreamQv;
    app->qvVideoStream.stats.status = makeString("Receiving");
    EXPECT_EQ(video(1), "Video Stream:\tReceiving\n");
    SecureLinkClient* client = &app->droneConnection.secureLinkClient;
    client->active = 1;
    client->lastHostDatagramTime = 9000000;
    EXPECT_EQ(video(10000000), "Video Stream:\tReceiving\nEnable \"Share Video\" on the other app\n");
    client->lastVideoTime = 9000000;
    EXPECT_EQ(video(10000000), "Video Stream:\tReceiving\n");
    auto decoder = std::make_unique<VideoDecoder>();  // too large for the stack
    decoder->error = makeString("No H.264 decoder");
    EXPECT_EQ(video(10000000, decoder.get()), "Video Stream:\tReceiving\nNo H.264 decoder\n");
}

TEST_F(StatusTextTest, LongTextsAreCutAtTheBuffer) {
    app->preferences.droneConnection = DroneConnectionIp;
    app->droneSocket.status = makeString(std::string(250, 'x').c_str());
    SecureLinkClient* client = &app->droneConnection.secureLinkClient;
    client->active = 1;
    client->lastHostDatagramTime = 9000000;
    std::string text = link(10000000);
    EXPECT_EQ(text.size(), (size_t)kMainStatusTextBytes);
}

}  // namespace

namespace {

// The tablet's side of the fingerprint the relaying app shows where it grants control: on the main
// screen while the link is keyed, as SHA-256 over the host key then the tablet's key.
TEST_F(StatusTextTest, LinkShowsTheRelayFingerprintOnceKeyed) {
    app->preferences.droneConnection = DroneConnectionIp;
    app->droneConnection.lastDroneMessageTime = 9000000;
    SecureLinkClientIdentity identity{};
    for (u8 i = 0; i < 32; i++) identity.publicKey[i] = (u8)(i + 1);
    SecureLinkClient* client = &app->droneConnection.secureLinkClient;
    client->identity = &identity;
    client->active = 1;
    client->lastHostDatagramTime = 9000000;
    client->lastTelemetryTime = 9500000;
    std::memset(client->hostPublicKey, 0xAB, 32);
    EXPECT_EQ(link(10000000), "MAVLink Connection:\tConnected to Drone\nControl is not granted by the other app\n");
    client->keys.ready = 1;
    // hashlib.sha256(bytes([0xAB] * 32 + list(range(1, 33)))).hexdigest()[:20], in groups of four
    EXPECT_EQ(link(10000000), "MAVLink Connection:\tConnected to Drone\nControl is not granted by the other app\n"
                              "Link fingerprint 7DCC F9FB 6176 FA99 50EB\n");
}

}  // namespace
