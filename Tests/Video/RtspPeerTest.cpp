// The RTSP client against GStreamer's RTSP server on loopback: the negotiation, decoded pictures for
// each way the server packs H.264 (single units, FU-A, STAP-A; parameter sets in-band or only in the
// SDP), receiver reports that keep a short-lived session alive, TEARDOWN on a protocol switch, and
// the silence rule after the server dies.
#include <gtest/gtest.h>

#include <set>

#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

struct ServerCase {
    const char* aggregate;
    int inBand;
};

class RtspPeerTest : public ::testing::TestWithParam<ServerCase> {};

std::string serverScript() { return std::string(getenv("ORVIK_SOURCE_DIR")) + "/Tests/Video/rtsp_server.py"; }

// Steps beside the live server until the predicate holds (false after kPeerPatience of real time).
template <typename Predicate>
bool stepUntil(VideoRig* rig, Predicate done) {
    for (u64 start = realMicroseconds(); withinPatience(start);) {
        rig->stepRtspWithServer();
        if (done()) return true;
    }
    return false;
}

TEST_P(RtspPeerTest, PicturesDecodeAndSessionLivesOnReceiverReportsUntilTeardown) {
    ServerCase c = GetParam();
    ChildProcess server;
    // The session dies after 1 s without keep-alive; the client's clock runs at up to ten times real
    // time, so its receiver reports, 3 s apart, come in time.
    ASSERT_TRUE(server.start({"/usr/bin/python3", serverScript(), c.aggregate, std::to_string(c.inBand), "1"}));
    std::string port = server.line(60000);
    ASSERT_FALSE(port.empty());

    auto rig = std::make_unique<VideoRig>();
    rig->preferences.videoStreamProtocol = VideoStreamRtsp;
    setText(&rig->preferences.rtspUrl, "rtsp://127.0.0.1:" + port + "/test");
    ASSERT_TRUE(stepUntil(rig.get(), [&] { return rig->rtsp.state == RtspPlaying; }))
        << text(rig->rtsp.stats.status);
    // DESCRIBE, SETUP and PLAY went out once each, with CSeq 0, 1 and 2.
    EXPECT_EQ(rig->rtsp.cseq, 3);
    EXPECT_NE(rig->rtsp.serverRtcpPort, 0);
    ASSERT_TRUE(stepUntil(rig.get(), [&] { return rig->shownCount() >= 5; })) << text(rig->decoder->error);
    EXPECT_EQ(rig->width, 320u);
    EXPECT_EQ(rig->height, 240u);

    // Three real seconds at least: the session outlives its 1 s timeout only through the receiver
    // reports.
    i32 cseqBefore = rig->rtsp.cseq;
    u32 publishedBefore = rig->shownCount();
    u64 start = realMicroseconds();
    while (withinPatience(start) && (realMicroseconds() - start < 3000000 || rig->shownCount() <= publishedBefore + 20 ||
                                     rig->rtsp.stats.packetsReceived <= 40)) {
        rig->stepRtspWithServer();
    }
    EXPECT_EQ(server.line(0), "");
    EXPECT_EQ(rig->rtsp.state, RtspPlaying);
    EXPECT_EQ(rig->rtsp.cseq, cseqBefore);  // no request but the reports kept it
    EXPECT_GT(rig->shownCount(), publishedBefore + 20);
    EXPECT_GT(rig->rtsp.stats.packetsReceived, 40);
    EXPECT_EQ(rig->rtsp.stats.packetsLost, 0);  // the 14-byte delimiter packets count too
    EXPECT_EQ(text(rig->rtsp.stats.status).rfind("Receiving ", 0), 0u) << text(rig->rtsp.stats.status);

    // Switching the protocol away tears the session down; the server knows it by its id.
    rig->preferences.videoStreamProtocol = VideoStreamNone;
    bool acknowledged = false;
    ASSERT_TRUE(stepUntil(rig.get(), [&] {
        acknowledged |= rig->rtsp.state == RtspTeardownDone;
        return rig->rtsp.state == RtspIdle;
    }));
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(rig->rtsp.teardownCseq, cseqBefore);
    EXPECT_EQ(server.line(60000), "session-removed");
    EXPECT_EQ(rig->control.state, SocketStateNoHandle);
    EXPECT_EQ(rig->rtp.state, SocketStateNoHandle);
}

INSTANTIATE_TEST_SUITE_P(Packing, RtspPeerTest,
                         ::testing::Values(ServerCase{"none", 1}, ServerCase{"zero-latency", 0},
                                           ServerCase{"none", 0}),
                         [](const auto& info) {
                             return std::string(info.param.aggregate[0] == 'n' ? "SingleAndFuA" : "StapA") +
                                    (info.param.inBand ? "InBand" : "SdpOnly");
                         });

TEST(RtspSilence, StoppedServerLeadsToTeardownThenFreshDescribe) {
    ChildProcess server;
    ASSERT_TRUE(server.start({"/usr/bin/python3", serverScript(), "none", "1", "60"}));
    std::string port = server.line(60000);
    ASSERT_FALSE(port.empty());
    auto rig = std::make_unique<VideoRig>();
    rig->preferences.videoStreamProtocol = VideoStreamRtsp;
    setText(&rig->preferences.rtspUrl, "rtsp://127.0.0.1:" + port + "/test");
    ASSERT_TRUE(stepUntil(rig.get(), [&] { return rig->shownCount() >= 2; }));
    server.stop();

    // Nothing for 10 s (injected): TEARDOWN; unanswered for 2 s: clean-up and a fresh DESCRIBE.
    std::vector<i32> states;
    std::set<std::string> teardownTexts;
    for (int i = 0; i < 1200 && !(states.size() > 1 && states.back() == RtspDescribe); i++) {
        rig->stepRtsp();
        if (states.empty() || states.back() != rig->rtsp.state) states.push_back(rig->rtsp.state);
        if (rig->rtsp.state == RtspTeardownWanted) teardownTexts.insert(text(rig->rtsp.stats.status));
    }
    // While the TEARDOWN waits, the status says what happens (followed by the damage note when the
    // server stopped in the middle of a picture).
    ASSERT_FALSE(teardownTexts.empty());
    for (const std::string& shown : teardownTexts) {
        EXPECT_EQ(shown.rfind("Restarting the RTSP stream: ending the current session", 0), 0u) << shown;
    }
    // Teardown is wanted at once but queued only 3 s after the last receiver report.
    std::vector<i32> expected = {RtspPlaying, RtspTeardownWanted, RtspTeardownSent, RtspIdle, RtspDescribe};
    EXPECT_EQ(states, expected);
    // The DESCRIBE follows 3 s after the TEARDOWN.
    for (int i = 0; i < 200 && rig->rtsp.cseq == rig->rtsp.teardownCseq + 1; i++) rig->stepRtsp();
    EXPECT_EQ(rig->rtsp.cseq, rig->rtsp.teardownCseq + 2);
}

}  // namespace
