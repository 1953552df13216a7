// The RTSP client against a scripted loopback server that answers like a camera whose SDP carries an
// absolute media control and no Content-Base, one byte at a time after a redirect, and an RTP
// sender: the first DESCRIBE on the first frame, the requests' exact texts, the session id without
// its timeout, and the receiver report for packets dropped and reordered; GStreamer's packets with
// 2 % of them swapped, all decoded and none counted lost, while a second address is kept out; and
// 1080p I pictures of over 500 kB, each in one burst, all shown.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "Video/H264TestStreams.h"
#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

struct ScriptedServer {
    int listener = -1, connection = -1, rtcp = -1, rtpSender = -1;
    u16 port = 0, rtcpPort = 0, clientRtpPort = 0;
    std::vector<std::string> requests;
    std::string pending;
    bool byteAtATime = false;  // each serve() sends one byte of the replies
    bool redirectOnce = false;  // the first DESCRIBE is answered by a 302 to <its URL>/moved
    std::string outbox;

    ScriptedServer() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(a);
        listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        bind(listener, (sockaddr*)&a, sizeof(a));
        listen(listener, 1);
        getsockname(listener, (sockaddr*)&a, &size);
        port = ntohs(a.sin_port);
        a.sin_port = 0;
        rtcp = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        bind(rtcp, (sockaddr*)&a, sizeof(a));
        getsockname(rtcp, (sockaddr*)&a, &size);
        rtcpPort = ntohs(a.sin_port);
        rtpSender = socket(AF_INET, SOCK_DGRAM, 0);
    }
    ~ScriptedServer() {
        for (int s : {listener, connection, rtcp, rtpSender}) {
            if (s >= 0) close(s);
        }
    }
    void reply(const std::string& text) { outbox += text; }
    // Accepts, reads and answers what the client sent since the last call.
    void serve() {
        if (connection < 0) connection = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (connection < 0) return;
        size_t count = byteAtATime ? std::min<size_t>(1, outbox.size()) : outbox.size();
        if (count && send(connection, outbox.data(), count, 0) > 0) outbox.erase(0, count);
        char buffer[4096];
        ssize_t n;
        while ((n = recv(connection, buffer, sizeof(buffer), 0)) > 0) pending.append(buffer, (size_t)n);
        size_t end;
        while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
            std::string request = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            requests.push_back(request);
            size_t c = request.find("CSeq: ");
            std::string cseq = request.substr(c + 6, request.find("\r\n", c) - c - 6);
            if (request.rfind("DESCRIBE ", 0) == 0 && redirectOnce) {
                redirectOnce = false;
                std::string url = request.substr(9, request.find(' ', 9) - 9);
                reply("RTSP/1.0 302 Moved Temporarily\r\nCSeq: " + cseq + "\r\nLocation: " + url + "/moved\r\n\r\n");
            } else if (request.rfind("DESCRIBE ", 0) == 0) {
                std::string sdp =
                    "v=0\r\ns=Camera\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                    "a=control:rtsp://127.0.0.1:" + std::to_string(port) + "/live/track1\r\n";
                reply("RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\nContent-Type: application/sdp\r\nContent-Length: " +
                      std::to_string(sdp.size()) + "\r\n\r\n" + sdp);
            } else if (request.rfind("SETUP ", 0) == 0) {
                size_t p = request.find("client_port=");
                clientRtpPort = (u16)std::stoi(request.substr(p + 12));
                reply("RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\nTransport: RTP/AVP;unicast;client_port=1-2;server_port=" +
                      std::to_string(rtcpPort - 1) + "-" + std::to_string(rtcpPort) +
                      "\r\nSession: 12345678;timeout=60\r\n\r\n");
            } else {
                reply("RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\nSession: 12345678\r\n\r\n");
            }
        }
    }
    void sendTo(u16 toPort, const std::vector<u8>& packet) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(toPort);
        sendto(rtpSender, packet.data(), packet.size(), 0, (sockaddr*)&a, sizeof(a));
    }
};

std::vector<u8> rtpPacket(u16 sequence, u32 ssrc) {
    std::vector<u8> p = {0x80, 96, (u8)(sequence >> 8), (u8)sequence, 0, 0, 0, 0,
                         (u8)(ssrc >> 24), (u8)(ssrc >> 16), (u8)(ssrc >> 8), (u8)ssrc};
    p.insert(p.end(), {0x09, 0xF0, 0, 0, 0, 0});  // an access unit delimiter
    return p;
}

u32 be32(const u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }

// Steps the client and the server until the client plays (1 ms of the client's clock a step).
bool play(VideoRig* rig, ScriptedServer* server, int steps) {
    for (int i = 0; i < steps && rig->rtsp.state != RtspPlaying; i++) {
        rig->stepRtsp(1000);
        server->serve();
    }
    return rig->rtsp.state == RtspPlaying;
}

TEST(RtspScriptedServer, FirstDescribeAtOnceRedirectAndRepliesByteByByteThenReceiverReportCountsDropsAndReorders) {
    ScriptedServer server;
    server.byteAtATime = true;
    server.redirectOnce = true;
    auto rig = std::make_unique<VideoRig>();
    rig->preferences.videoStreamProtocol = VideoStreamRtsp;
    std::string url = "rtsp://127.0.0.1:" + std::to_string(server.port) + "/live";
    setText(&rig->preferences.rtspUrl, url);
    // The program has just started: its clock reads a few milliseconds.
    rigNow = 5000;
    rig->stepRtsp(1000);
    EXPECT_EQ(rig->rtsp.cseq, 1) << "no DESCRIBE on the first frame";
    for (int i = 0; i < 20 && server.requests.empty(); i++) {
        server.serve();
        EXPECT_EQ(text(rig->rtsp.stats.status).rfind("Received", 0), std::string::npos) << text(rig->rtsp.stats.status);
        rig->stepRtsp(1000);
    }
    ASSERT_EQ(server.requests.size(), 1u);
    ASSERT_TRUE(play(rig.get(), &server, 3000)) << text(rig->rtsp.stats.status);
    ASSERT_EQ(server.requests.size(), 4u);
    EXPECT_EQ(server.requests[0], "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 0\r\nAccept: application/sdp\r\n\r\n");
    EXPECT_EQ(server.requests[1], "DESCRIBE " + url + "/moved RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n");
    std::string ports = std::to_string(rig->rtp.localPort) + "-" + std::to_string(rig->rtcp.localPort);
    EXPECT_EQ(rig->rtcp.localPort, rig->rtp.localPort + 1);
    EXPECT_EQ(server.requests[2], "SETUP " + url + "/track1 RTSP/1.0\r\nCSeq: 2\r\n"
                                  "Transport: RTP/AVP/UDP;unicast;client_port=" + ports + "\r\n\r\n");
    EXPECT_EQ(server.requests[3], "PLAY " + url + "/moved RTSP/1.0\r\nCSeq: 3\r\nSession: 12345678\r\n"
                                  "Range: npt=0.000-\r\n\r\n");
    EXPECT_EQ(text(rig->rtsp.session), "12345678");

    // Source A: 10 11 [12 13 dropped] 14 16 15 17; source B: 65534 65535 0 1 (a wrap, nothing lost).
    for (u16 s : {10, 11, 14, 16, 15, 17}) server.sendTo(server.clientRtpPort, rtpPacket(s, 0xA));
    for (u16 s : {65534, 65535, 0, 1}) server.sendTo(server.clientRtpPort, rtpPacket(s, 0xB));
    // A sender report from A: NTP 0x11223344:55667788.
    std::vector<u8> sr = {0x80, 200, 0, 6, 0, 0, 0, 0xA, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    server.sendTo(rig->rtcp.localPort, sr);
    auto perSource = [&] { return rig->rtsp.sources[0].packetsReceived + rig->rtsp.sources[1].packetsReceived; };
    for (int i = 0; i < 2000 && perSource() < 10; i++) rig->stepRtsp(1000);
    ASSERT_EQ(perSource(), 10u);
    for (int i = 0; i < 200 && !rig->rtsp.sources[0].lastSenderReportTime; i++) rig->stepRtsp(1000);
    i64 srTime = rig->rtsp.sources[0].lastSenderReportTime;
    ASSERT_NE(srTime, 0);

    u8 report[1500];
    ssize_t n = -1;
    for (int i = 0; i < 400 && n < 0; i++) {
        rig->stepRtsp(10000);
        n = recv(server.rtcp, report, sizeof(report), 0);
    }
    ASSERT_EQ(n, 8 + 2 * 24);
    EXPECT_EQ(report[0], 0x82);
    EXPECT_EQ(report[1], 201);
    EXPECT_EQ(report[2] << 8 | report[3], 1 + 6 * 2);
    EXPECT_EQ(be32(report + 4), 0x80000001u);  // the first session's own SSRC
    const u8* a = report + 8;
    EXPECT_EQ(be32(a), 0xAu);
    // 12 and 13 never came; 15 came after 16, out of order but not lost, and no wrap.
    u32 lostA = 2;
    EXPECT_EQ(a[4], lostA * 256 / (lostA + 6));
    EXPECT_EQ(be32(a + 4) & 0xFFFFFF, lostA);
    EXPECT_EQ(be32(a + 8), 17u);
    EXPECT_EQ(be32(a + 12), 0u);
    EXPECT_EQ(be32(a + 16), 0x33445566u);
    // Written one or two frames (10 ms each) before it was read.
    u64 sinceSr = (u64)((i64)rigNow - srTime);
    EXPECT_LE(be32(a + 20), (u32)(sinceSr * 65536 / 1000000));
    EXPECT_GE(be32(a + 20), (u32)((sinceSr - 20000) * 65536 / 1000000));
    const u8* b = report + 32;
    EXPECT_EQ(be32(b), 0xBu);
    EXPECT_EQ(be32(b + 4), 0u);  // nothing lost across the wrap
    EXPECT_EQ(be32(b + 8), 1u * 65536 + 1);
    EXPECT_EQ(be32(b + 16), 0u);
    EXPECT_EQ(be32(b + 20), 0u);
}

TEST(RtspScriptedServer, TwoPercentSwappedPacketsAllDecodeWithNoLossAndOtherAddressesAreKeptOut) {
    TempFolder folder("swap");
    std::string h264 = folder.file("s.h264"), nv12 = folder.file("s.nv12"), rtp = folder.file("s.rtp");
    ASSERT_TRUE(encodeTestPattern(h264, 640, 360, 50, "-pix_fmt yuv420p -profile:v main -bf 0 -g 25", "testsrc2"));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    ASSERT_TRUE(ffmpegCapture(h264, rtp, 600));
    std::vector<Bytes> reference = nv12Pictures(readFile(nv12), 640, 360);
    std::vector<RtpPacket> packets = readCapture(rtp);
    // Every 50th packet changes places with the one after it; some of them are fragments.
    int fragmentsSwapped = 0;
    for (size_t i = 25; i + 1 < packets.size(); i += 50) {
        std::swap(packets[i], packets[i + 1]);
        fragmentsSwapped += (packets[i].bytes[packets[i].payloadOffset] & 0x1F) == 28;
    }
    ASSERT_GT(fragmentsSwapped, 0);

    ScriptedServer server;
    auto rig = std::make_unique<VideoRig>();
    rig->keepPictures = true;
    rig->rtp.receiveBufferBytes = 1u << 30;  // more than any system grants
    rig->preferences.videoStreamProtocol = VideoStreamRtsp;
    setText(&rig->preferences.rtspUrl, "rtsp://127.0.0.1:" + std::to_string(server.port) + "/live");
    ASSERT_TRUE(play(rig.get(), &server, 2000)) << text(rig->rtsp.stats.status);
    Stranger stranger;
    for (size_t i = 0; i < packets.size(); ++i) {
        server.sendTo(server.clientRtpPort, packets[i].bytes);
        if (i % 20 == 0) {
            // The stream's own next packet, as a stranger would forge it, and a sender report.
            stranger.send(server.clientRtpPort, packets[i + 1 < packets.size() ? i + 1 : i].bytes);
            stranger.send(rig->rtcp.localPort, {0x80, 200, 0, 6, 0, 0, 0, 0xA, 1, 2, 3, 4, 5, 6, 7, 8});
        }
        rig->stepRtsp(5000);
    }
    for (int i = 0; i < 10; i++) rig->stepRtsp(5000);

    ASSERT_EQ(rig->pictures.size(), reference.size()) << text(rig->decoder->error);
    for (size_t i = 0; i < reference.size(); ++i) EXPECT_TRUE(rig->pictures[i] == reference[i]) << "picture " << i;
    EXPECT_EQ(rig->rtsp.stats.packetsReceived, (i64)packets.size());
    EXPECT_EQ(rig->rtsp.stats.packetsLost, 0);
    EXPECT_EQ(rig->rtsp.stats.packetsLate, 0);
    EXPECT_EQ(rig->rtsp.sources[0].packetsLost, 0u);
    EXPECT_EQ(rig->rtsp.sourceCount, 1);
    EXPECT_EQ(rig->rtsp.stats.strangerDatagrams, stranger.sent);
    std::string status = text(rig->rtsp.stats.status);
    EXPECT_NE(status.find(std::to_string(stranger.sent) + " datagrams from other addresses dropped"), std::string::npos)
        << status;
    ASSERT_GT(rig->rtp.receiveBufferGranted, 0u);
    if (rig->rtp.receiveBufferGranted < rig->rtp.receiveBufferBytes) {
        EXPECT_NE(status.find("kB, not the 1048576 kB asked"), std::string::npos) << status;
    }
}

TEST(RtspScriptedServer, IPicturesOverHalfAMegabyteInOneBurstEachAreAllShown) {
    TempFolder folder("big");
    std::string h264 = folder.file("s.h264"), nv12 = folder.file("s.nv12"), rtp = folder.file("s.rtp");
    ASSERT_TRUE(encodeBigIPictures(h264));
    ASSERT_GT(largestUnit(h264), 500000u);
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    ASSERT_TRUE(ffmpegCapture(h264, rtp, 1400));
    std::vector<Bytes> reference = nv12Pictures(readFile(nv12), 1920, 1080);
    std::vector<RtpPacket> packets = readCapture(rtp);

    ScriptedServer server;
    auto rig = std::make_unique<VideoRig>();
    rig->keepPictures = true;
    rig->preferences.videoStreamProtocol = VideoStreamRtsp;
    setText(&rig->preferences.rtspUrl, "rtsp://127.0.0.1:" + std::to_string(server.port) + "/live");
    ASSERT_TRUE(play(rig.get(), &server, 2000)) << text(rig->rtsp.stats.status);
    if (systemReceiveBufferMax() < 2 * 1024 * 1024) {
        GTEST_SKIP() << "the system grants no socket the buffer for a burst of I pictures (net.core.rmem_max)";
    }
    // Each picture's packets leave at once, up to its marker bit; the client reads between pictures.
    for (size_t i = 0; i < packets.size(); ++i) {
        server.sendTo(server.clientRtpPort, packets[i].bytes);
        if (packets[i].bytes[1] & 0x80) {
            for (int k = 0; k < 3; k++) rig->stepRtsp(20000);
        }
    }
    EXPECT_EQ(rig->rtsp.stats.packetsReceived, (i64)packets.size());
    EXPECT_EQ(rig->rtsp.stats.packetsLost, 0);
    ASSERT_EQ(rig->pictures.size(), reference.size()) << text(rig->decoder->error);
    for (size_t i = 0; i < reference.size(); ++i) EXPECT_TRUE(rig->pictures[i] == reference[i]) << "picture " << i;
}

TEST(RtspRedirect, FiveAreFollowedAndTheSixthIsAFailure) {
    auto stream = std::make_unique<RtspVideoStream>();
    stream->state = RtspDescribe;
    for (int i = 1; i <= 6; i++) {
        std::string reply = "RTSP/1.0 302 Moved Temporarily\r\nCSeq: 1\r\nlocation: rtsp://127.0.0." +
                            std::to_string(i) + ":80" + std::to_string(i) + "/hop\r\n\r\n";
        stream->lastRequestTime = 5;
        gatherRtspReplies(stream.get(), (const u8*)reply.data(), (i64)reply.size(), 10);
        EXPECT_EQ(stream->state, RtspDescribe);
        if (i > 5) break;
        EXPECT_EQ(text(stream->url), "rtsp://127.0.0." + std::to_string(i) + ":80" + std::to_string(i) + "/hop");
        EXPECT_EQ(stream->server.address[3], i);
        EXPECT_EQ(stream->lastRequestTime, 0);  // DESCRIBE goes out at once
    }
    EXPECT_EQ(stream->redirects, 5);
    EXPECT_EQ(text(stream->url), "rtsp://127.0.0.5:805/hop");
    EXPECT_EQ(stream->lastRequestTime, 5);
    EXPECT_EQ(text(stream->reason), "Moved Temporarily (more than 5 redirects)");
}

TEST(RtspUrl, WithoutPortUsesRtspPort) {
    u32 mode = 9;
    FixedString url = makeString("rtsp://192.168.144.20/stream1");
    AddressRecord server = parseRtspServer(&url, &mode);
    EXPECT_EQ(server.family, 4);
    EXPECT_EQ(server.port, 554);
    EXPECT_EQ(mode, (u32)SocketModeTcpClient);
    url = makeString("rtspu://[0:0:0:0:0:0:0:1]:8553/x");
    server = parseRtspServer(&url, &mode);
    EXPECT_EQ(server.family, 6);
    EXPECT_EQ(server.port, 8553);
    EXPECT_EQ(mode, (u32)SocketModeUdp);
}

}  // namespace
