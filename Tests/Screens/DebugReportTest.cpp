// The debug report's text: the identity and time lines, memory lines ending at column 60, the held
// files, the socket lines with the drone's peers and send queues, the renderer's text copied code
// point by code point, and the write job that carries the report to the file thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AppState/AppState.h"
#include "Platform/Platform.h"
#include "Screens/DebugReport.h"
#include "SourceCommon/Renderer/UiState.h"

namespace {

constexpr i64 kMarch7th2026At090503042 = 13417347903042;  // ms since 1601-01-01 UTC

struct ReportFixture : ::testing::Test {
    AppState* app = nullptr;
    Platform* platform = nullptr;
    UiState* ui = nullptr;

    void SetUp() override {
        app = (AppState*)std::calloc(1, sizeof(AppState));
        platform = (Platform*)std::calloc(1, sizeof(Platform));
        ui = (UiState*)std::calloc(1, sizeof(UiState));
        platform->blockSize = 533914168;
        platform->applicationSize = 515641456;
        ui->imageMemoryCapacity = 20000000;
        ui->imageMemoryUsedBytes = 1234;
    }
    void TearDown() override {
        std::free(app);
        std::free(platform);
        std::free(ui);
    }

    std::string report(i64 utcMs = kMarch7th2026At090503042, i64 zoneOffsetMs = 0) {
        ByteWriter measure = makeMeasuringWriter();
        writeDebugReportText(&measure, app, platform, ui, utcMs, zoneOffsetMs);
        std::vector<u8> buffer((size_t)measure.length);
        ByteWriter fill = makeByteWriter(buffer.data(), measure.length);
        writeDebugReportText(&fill, app, platform, ui, utcMs, zoneOffsetMs);
        EXPECT_EQ(fill.length, measure.length);
        EXPECT_EQ(fill.overflow, 0);
        return std::string((const char*)buffer.data(), (size_t)fill.length);
    }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n') {
            out.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

TEST_F(ReportFixture, IdentityAndTimeLines) {
    std::vector<std::string> l = lines(report(kMarch7th2026At090503042, -5 * 3600000));
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(l[0], "Orvik 3.1.0");
    EXPECT_EQ(l[1], "Generated 2026-3-7 9:5:3.42 UTC, 2026-3-7 4:5:3.42 Local Time");
    EXPECT_EQ(l[2], "");
    EXPECT_EQ(l[3], "--- Memory Usage ---");
    EXPECT_EQ(l[4], "Global Variables");
}

TEST_F(ReportFixture, MemoryLinesEndAtColumnSixty) {
    std::string text = report();
    std::vector<std::string> l = lines(text);
    i32 memoryLines = 0;
    for (const std::string& line : l) {
        size_t bytes = line.find(" bytes");
        if (line.rfind("Static Allocation: ", 0) == 0 || line.rfind("   ", 0) == 0) {
            if (bytes == std::string::npos) continue;
            EXPECT_EQ(bytes, 60u) << line;
            memoryLines++;
        }
    }
    EXPECT_GE(memoryLines, 20);
    EXPECT_NE(text.find("Static Allocation: " + std::string(60 - 19 - 9, ' ') + "533914168 bytes\n"), std::string::npos);
    EXPECT_NE(text.find("      Image Memory Buffer: "), std::string::npos);
    EXPECT_NE(text.find("20000000 bytes (1234 bytes used)\n"), std::string::npos);
    EXPECT_NE(text.find("   Renderer and Application: "), std::string::npos);
    EXPECT_NE(text.find(" 515641456 bytes\n"), std::string::npos);

    // A label that reaches the column already gets no blanks.
    u8 buffer[200];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    const char* longLabel = "A label of more than sixty characters, which pushes the number: ";
    appendMemoryLine(longLabel, 77, &writer);
    EXPECT_EQ(std::string((const char*)buffer, (size_t)writer.length), std::string(longLabel) + "77 bytes\n");
}

TEST_F(ReportFixture, HeldFilesByTable) {
    std::string text = report();
    EXPECT_NE(text.find("Asset Files:\nFilesystem Files:\n\n--- Socket Status ---\n"), std::string::npos);

    // One asset read (headroom counts), one owned file read, one file read in the caller's buffer
    // and one unfinished read.
    FileReadRequest* asset = &platform->resourceReads.slots[3];
    asset->path = makeString("logo.png");
    asset->bytesRead = 1000;
    asset->headroom = 24;
    asset->status = FileStatusSuccess;
    platform->resourceReads.used[0] |= 1ull << 3;
    FileReadRequest* owned = &platform->fileReads.slots[70];
    owned->path = makeString("Preferences.txt");
    owned->bytesRead = 512;
    owned->status = FileStatusSuccess;
    owned->ownsBuffer = 1;
    platform->fileReads.used[1] |= 1ull << 6;
    FileReadRequest* borrowed = &platform->fileReads.slots[2];
    borrowed->path = makeString("Missions/a.csv");
    borrowed->status = FileStatusSuccess;
    platform->fileReads.used[0] |= 1ull << 2;
    FileReadRequest* pending = &platform->fileReads.slots[5];
    pending->path = makeString("OrvikAppCache.bin");
    pending->ownsBuffer = 1;
    platform->fileReads.used[0] |= 1ull << 5;

    text = report();
    EXPECT_NE(text.find("Asset Files:\n\tlogo.png: 1024 bytes\nFilesystem Files:\n\tPreferences.txt: 512 bytes\n\n"),
              std::string::npos)
        << text;
}

TEST_F(ReportFixture, AGamePadNoteStandsOnOneLineBeforeTheSockets) {
    EXPECT_NE(report().find("Filesystem Files:\n\n--- Socket Status ---\n"), std::string::npos);
    platform->gamepadNote = makeString("DualShock 4 on /dev/hidraw3 cannot be read (Permission denied): its values come "
                                       "from the game-controller layer");
    std::string text = report();
    size_t at = text.find("DualShock 4 on /dev/hidraw3 cannot be read (Permission denied)");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.find("DualShock 4", at + 1), std::string::npos) << "said once";
    EXPECT_NE(text.find("from the game-controller layer\n\n--- Socket Status ---\n"), std::string::npos);
}

TEST_F(ReportFixture, SocketLines) {
    app->droneSocket.localPort = 14550;
    app->droneSocket.status = makeString("Listening");
    app->droneSocket.mode = SocketModeUdp;
    AddressRecord drone{};
    drone.family = 4;
    drone.port = 14555;
    drone.address[0] = 192, drone.address[1] = 168, drone.address[2] = 0, drone.address[3] = 10;
    AddressRecord other = drone;
    other.port = 14556;
    app->droneSocket.peers[0].peer = other;
    app->droneSocket.peers[2].peer = drone;
    app->droneSocket.peers[3].peer = drone;  // not in use
    app->droneSocket.peerMask = 0b0101;
    app->droneConnection.droneEndpoint = drone;
    app->relaySocket.localPort = 9876;
    app->relaySocket.status = makeString("Ready");
    app->relaySocket.sendQueue.writeIndex = 2;
    app->relaySocket.sendQueue.readIndex = 60;
    app->downloadSockets[1].localPort = 40001;
    app->downloadSockets[1].status = makeString("Connected");

    std::string text = report();
    EXPECT_NE(text.find("--- Socket Status ---\nDNS Queries of lookup 1: 0, \nDNS Queries of lookup 2: 0, \n"
                        "DNS Queries of lookup 3: 0, \nDNS Queries of lookup 4: 0, \nDNS Queries of lookup 5: 0, \n"
                        "DNS Queries of lookup 6: 0, \nDNS Queries of lookup 7: 0, \n"
                        "Generic File Download Socket 1: 0, \nGeneric File Download Socket 2: 40001, Connected\n"
                        "Generic File Download Socket 3: 0, \nCopernicus Downloads: 0, \n"
                        "Drone MAVLink: 14550, Listening\n   192.168.0.10:14556\n   192.168.0.10:14555 <-- Drone\n"
                        "Camera MAVLink: 0, \nQV Video Stream: 0, \n"
                        "MAVLink Listener: port 9876, Ready, 6 packets in queue\n"
                        "Video Listener: port 0, , 0 packets in queue\n"
                        "RTSP: 0, \nRTP: 0, \nRTCP: 0, \nSimulator: 0, \nSimulator KTQ Primary: 0, \n"
                        "Simulator KTQ Secondary: 0, \n\n--- Renderer Status ---\n"),
              std::string::npos)
        << text;

    // A TCP drone socket lists no peers.
    app->droneSocket.mode = SocketModeTcpClient;
    text = report();
    EXPECT_NE(text.find("Drone MAVLink: 14550, Listening\nCamera MAVLink"), std::string::npos);
}

// Under each socket's line, what it read and dropped (empty, oversize) and what its owner ignored
// for the sender, and under the relay sockets' the hellos from peers not yet listed, those dropped
// over the key exchanges and those under listed peer ids that did not open, and the listed devices'
// video requests, when not 0.
TEST_F(ReportFixture, EachSocketShowsWhatItDropped) {
    app->droneSocket.emptyDatagrams = 210;
    app->droneSocket.oversizeDatagrams = 12;
    app->droneSocket.unknownSenderDatagrams = 1;
    app->relaySocket.emptyDatagrams = 1;
    app->rtpSocket.unknownSenderDatagrams = 5;
    app->relayHost.unlistedHellos[RelayStreamMavlink] = 1;
    app->relayHost.unlistedHellos[RelayStreamVideo] = 359980;
    app->relayHost.hellosOverKeyExchanges[RelayStreamVideo] = 359001;
    app->relayHost.unopenedHellos[RelayStreamMavlink] = 449977;
    app->relayHost.peerVideoRequests = 1;
    std::string text = report();
    EXPECT_NE(text.find("Drone MAVLink: 0, \n   210 empty datagrams dropped\n   12 datagrams over 6000 bytes dropped\n"
                        "   1 datagram from an unknown sender ignored\nCamera MAVLink: 0, \n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("MAVLink Listener: port 0, , 0 packets in queue\n   1 empty datagram dropped\n"
                        "   1 hello from a peer not yet listed\n   449977 hellos under listed peer ids that did not open\n"
                        "Video Listener: port 0, , 0 packets in queue\n   359980 hellos from peers not yet listed\n"
                        "   359001 hellos dropped over the key exchanges a frame may do\n"
                        "   1 video request from a listed device\nRTSP"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("RTP: 0, \n   5 datagrams from unknown senders ignored\nRTCP: 0, \n"), std::string::npos);
}

TEST_F(ReportFixture, RendererTextCopiedByCodePoint) {
    u8 log[] = {'G', 'L', ' ', 0xC3, 0xA9, 0xFF, 'o', 'k', 0xE2, 0x82};  // a stray byte, then a cut sequence
    ui->rendererLog = makeByteWriter(log, sizeof(log));
    ui->rendererLog.length = sizeof(log);
    std::string text = report();
    EXPECT_NE(text.find("--- Renderer Status ---\nGL \xC3\xA9ok\n--- Profiling Report"), std::string::npos) << text;
}

TEST_F(ReportFixture, QueuedAsOneWriteJob) {
    queueDebugReport(app, platform, ui);
    i32 jobs = 0;
    for (u32 i = 0; i < kFileTableSlots; i++) {
        if (!isSlotUsed(platform->fileJobs.used, i)) continue;
        FileJob* job = &platform->fileJobs.slots[i];
        jobs++;
        EXPECT_STREQ(job->path.text, "Debug/DebugReport.txt");
        EXPECT_STREQ(job->mimeType, "text/plain");
        EXPECT_EQ(job->freeData, 1u);
        EXPECT_EQ(job->mode, (u32)FileJobWrite);
        ASSERT_NE(job->data, nullptr);
        std::string text((const char*)job->data, job->own.size);
        EXPECT_EQ(text.rfind("Orvik 3.1.0\nGenerated ", 0), 0u);
        EXPECT_NE(text.find("--- Profiling Report"), std::string::npos);
        freeFileBuffer(job->data);
    }
    EXPECT_EQ(jobs, 1);
}

}  // namespace
