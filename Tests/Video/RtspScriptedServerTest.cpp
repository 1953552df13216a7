// The RTSP client against a scripted loopback server that answers like a camera whose SDP carries an
// absolute media control and no Content-Base, and an RTP sender that drops and reorders packets: the
// requests' exact texts, the session id without its timeout, the lost counts and every field of the
// receiver report that reaches the server's RTCP port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

struct ScriptedServer {
    int listener = -1, connection = -1, rtcp = -1, rtpSender = -1;
    u16 port = 0, rtcpPort = 0, clientRtpPort = 0;
    std::vector<std::string> requests;
    std::string pending;

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
    void reply(const std::string& text) { send(connection, text.data(), text.size(), 0); }
    // Accepts, reads and answers what the client sent since the last call.
    void serve() {
        if (connection < 0) connection = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (connection < 0) return;
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
            if (request.rfind("DESCRIBE ", 0) == 0) {
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

TEST(RtspScriptedServer, AbsoluteControlNoContentBaseAndReceiverReportCountsDropsAndReorders) {
    ScriptedServer server;
    auto rig = std::make_unique<VideoRig>();
    rig->preferences.videoStreamProtocol = VideoStreamRtsp;
    std::string url = "rtsp://127.0.0.1:" + std::to_string(server.port) + "/live";
    setText(&rig->preferences.rtspUrl, url);
    for (int i = 0; i < 2000 && rig->rtsp.state != RtspPlaying; i++) {
        rig->stepRtsp();
        server.serve();
    }
    ASSERT_EQ(rig->rtsp.state, RtspPlaying) << text(rig->rtsp.stats.status);
    ASSERT_EQ(server.requests.size(), 3u);
    EXPECT_EQ(server.requests[0], "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 0\r\nAccept: application/sdp\r\n\r\n");
    std::string ports = std::to_string(rig->rtp.localPort) + "-" + std::to_string(rig->rtcp.localPort);
    EXPECT_EQ(rig->rtcp.localPort, rig->rtp.localPort + 1);
    EXPECT_EQ(server.requests[1], "SETUP " + url + "/track1 RTSP/1.0\r\nCSeq: 1\r\n"
                                  "Transport: RTP/AVP/UDP;unicast;client_port=" + ports + "\r\n\r\n");
    EXPECT_EQ(server.requests[2], "PLAY " + url + " RTSP/1.0\r\nCSeq: 2\r\nSession: 12345678\r\n"
                                  "Range: npt=0.000-\r\n\r\n");
    EXPECT_EQ(text(rig->rtsp.session), "12345678");

    // Source A: 10 11 [12 13 dropped] 14 16 15 17; source B: 65534 65535 0 1 (a wrap, nothing lost).
    for (u16 s : {10, 11, 14, 16, 15, 17}) server.sendTo(server.clientRtpPort, rtpPacket(s, 0xA));
    for (u16 s : {65534, 65535, 0, 1}) server.sendTo(server.clientRtpPort, rtpPacket(s, 0xB));
    // A sender report from A: NTP 0x11223344:55667788.
    std::vector<u8> sr = {0x80, 200, 0, 6, 0, 0, 0, 0xA, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    server.sendTo(rig->rtcp.localPort, sr);
    for (int i = 0; i < 2000 && rig->rtsp.stats.packetsReceived < 10; i++) rig->stepRtsp(1000);
    ASSERT_EQ(rig->rtsp.stats.packetsReceived, 10);
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
    // 12 and 13 skipped (2); 16 after 14 skips 15 (1); 15 after 16 steps back, which counts as a gap of
    // 65,534 and a cycle; 17 after 15 skips 16 (1).
    u32 lostA = 2 + 1 + 65534 + 1;
    EXPECT_EQ(a[4], lostA * 256 / (lostA + 6));
    EXPECT_EQ(be32(a + 4) & 0xFFFFFF, lostA);
    EXPECT_EQ(be32(a + 8), 1u * 65536 + 17);
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
