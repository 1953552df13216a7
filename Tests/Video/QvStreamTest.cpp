// The Qv client against a python Qv server that sends ffmpeg's RTP payloads: the pictures decode, one
// type-14 status entry is written each second, the server's text shows, and a second station behind
// the first one's relay (plain, and sealed by the encrypted link) receives the same datagrams and
// decodes the same pictures. 1080p I pictures of over half a megabyte, each sent in one burst, all
// show while a second address is kept out; backward steps of the sequence number are late packets,
// never 65,535 lost ones.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <limits>

#include "Crypto/X25519.h"
#include "Network/Address.h"
#include "Network/SecureLink.h"
#include "Network/SecureLinkFormat.h"
#include "Video/H264TestStreams.h"
#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

// The count of the server's "sent N" line; until that came, more than any count.
i64 sentCount(const std::string& line) {
    return line.rfind("sent ", 0) == 0 ? std::stol(line.substr(5)) : std::numeric_limits<i64>::max();
}

struct Station {
    Socket video{};
    QvVideoStream stream{};
    H264StreamState h264{};
    Preferences preferences{};
};

class QvRelay : public ::testing::TestWithParam<bool> {};

TEST_P(QvRelay, PicturesDecodeAndReachTheStationBehindTheRelay) {
    bool sealed = GetParam();
    TempFolder folder("qv");
    std::string h264 = folder.file("in.h264"), rtp = folder.file("in.rtp");
    ASSERT_TRUE(encodeTestPattern(h264, 320, 240, 12, "-pix_fmt yuv420p -profile:v baseline -bf 0 -g 6"));
    ASSERT_TRUE(ffmpegCapture(h264, rtp, 1000));
    ChildProcess server;
    ASSERT_TRUE(server.start({"/usr/bin/python3", std::string(getenv("ORVIK_SOURCE_DIR")) + "/Tests/Video/qv_server.py", rtp}));
    u16 serverPort = (u16)std::stoi(server.line(60000));
    videoRelayPort = freeUdpPort();

    // Station A serves the relay; station B is its client.
    auto rig = std::make_unique<VideoRig>();
    auto a = std::make_unique<Station>();
    auto b = std::make_unique<Station>();
    auto relaySocket = std::make_unique<Socket>();
    auto host = std::make_unique<SecureLinkHost>();
    auto client = std::make_unique<SecureLinkClient>();
    auto logger = std::make_unique<FlightLogger>();
    logger->logFileName = makeString("video.log");
    RelayHostIdentity hostIdentity{};
    SecureLinkClientIdentity clientIdentity{};
    ASSERT_EQ(generateX25519KeyPair(hostIdentity.privateKey, hostIdentity.publicKey), 0);
    ASSERT_EQ(generateX25519KeyPair(clientIdentity.privateKey, clientIdentity.publicKey), 0);
    clientIdentity.peerId = 0x5EC0;
    clientIdentity.name = makeString("station B");
    host->identity = &hostIdentity;
    client->identity = &clientIdentity;
    a->stream.stats.clock = rigClock;
    b->stream.stats.clock = rigClock;
    a->preferences.relayModeDisableEncryption = sealed ? 0 : 1;
    b->preferences.videoStreamProtocol = VideoStreamQv;
    b->preferences.qvVideoServerAddress = makeAddressRecord(4, kLoopback, videoRelayPort);

    auto stepA = [&] {
        controlQvVideoStream(&a->video, relaySocket.get(), host.get(), nullptr, &a->stream, &a->h264, &a->preferences,
                             &rig->slots, logger.get());
        rig->collect();
    };
    auto stepB = [&] {
        controlQvVideoStream(&b->video, nullptr, nullptr, client.get(), &b->stream, &b->h264, &b->preferences,
                             &rig->slots, nullptr);
        rig->collect();
    };
    // B says hello to A's relay until A sends its video to B's port (sealed: once B's hello came
    // sealed under A's key). A's user grants B the video, with encryption off as on.
    bool linked = false;
    for (int i = 0; i < 2000 && !linked; i++) {
        rigNow += 20000;
        stepA();
        stepB();
        if (host->peers[0].peerId && !host->peers[0].userDecision) {
            setSecureLinkPeerDecision(host.get(), &host->peers[0], SecureLinkGrantVideo);
        }
        linked = host->peers[0].peerId == clientIdentity.peerId && host->peers[0].ports[RelayStreamVideo] != 0;
        usleep(1000);
    }
    ASSERT_TRUE(linked);

    // A asks the server; B's datagrams wait in its socket while A decodes. Once the server sends,
    // A's clock moves on only when a datagram waits, so a slow server never looks silent.
    a->preferences.videoStreamProtocol = VideoStreamQv;
    a->preferences.qvVideoServerAddress = makeAddressRecord(4, kLoopback, serverPort);
    i64 firstSnapshot = a->stream.stats.snapshotTime;
    std::string sent;
    for (u64 start = realMicroseconds();
         withinPatience(start) && a->stream.stats.packetsReceived + a->stream.stats.packetsLate < sentCount(sent);) {
        if (qvClockMayMove(&a->video, &a->stream, 100)) rigNow += 10000;
        stepA();
        if (sent.empty()) sent = server.line(0);
    }
    // All came: the last picture is complete when the stream ends (a second without video).
    for (int i = 0; i < 300 && rig->shownCount() < 12; i++) {
        rigNow += 10000;
        stepA();
    }
    ASSERT_EQ(sent.rfind("sent ", 0), 0u);
    i64 count = std::stol(sent.substr(5));
    EXPECT_EQ(text(a->stream.relayingAppText), "Hello");
    EXPECT_EQ(a->stream.stats.packetsReceived, count);
    EXPECT_EQ(a->stream.stats.packetsLost, 0);
    EXPECT_EQ(rig->shownCount(), 12u) << text(rig->decoder->error);
    EXPECT_EQ(rig->width, 320u);
    EXPECT_EQ(rig->height, 240u);
    // One status entry for each whole second since the logger was handed in, each over one second.
    EXPECT_EQ(logger->entriesByType[FlightLogVideoStreamStatus], ((i64)rigNow - firstSnapshot) / 1000000);
    EXPECT_EQ(a->stream.stats.entryPayload[0] | a->stream.stats.entryPayload[1] << 8 | a->stream.stats.entryPayload[2] << 16,
              1000000);
    // The newest entry, kept for the start of the next log, is the producer's: 32 bytes ending in
    // the picture's width and height.
    const FlightLogEntryRecord& kept = a->stream.stats.latestEntry;
    EXPECT_EQ(kept.type, (u32)FlightLogVideoStreamStatus);
    ASSERT_EQ(kept.payload.length, 32);
    EXPECT_EQ(kept.payload.data[24] | kept.payload.data[25] << 8, 320);
    EXPECT_EQ(kept.payload.data[28] | kept.payload.data[29] << 8, 240);
    Bytes lastPicture(shownVideoPicture(rig->decoder.get())->pixels, shownVideoPicture(rig->decoder.get())->pixels + 320 * 240 * 3 / 2);

    // B decodes what A relayed, on a decoder of its own.
    auto rigB = std::make_unique<VideoRig>();
    for (int i = 0; i < 300; i++) {
        rigNow += 10000;
        controlQvVideoStream(&b->video, nullptr, nullptr, client.get(), &b->stream, &b->h264, &b->preferences,
                             &rigB->slots, nullptr);
        rigB->collect();
    }
    EXPECT_EQ(b->stream.stats.packetsReceived, count);
    EXPECT_EQ(b->stream.stats.packetsLost, 0);
    EXPECT_EQ(rigB->shownCount(), 12u) << text(rigB->decoder->error);
    EXPECT_TRUE(Bytes(shownVideoPicture(rigB->decoder.get())->pixels, shownVideoPicture(rigB->decoder.get())->pixels + 320 * 240 * 3 / 2) == lastPicture);
    videoRelayPort = kSecureLinkVideoPort;
}

INSTANTIATE_TEST_SUITE_P(Link, QvRelay, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Sealed" : "Plain"); });

// The host's key and an entry nonce for the peer id, and the host's plain state (no name, axes and
// buttons 0) followed by its key and nonce.
std::vector<u8> hostKeyDatagram(u16 peerId, const u8* hostKey, u8 nonce) {
    std::vector<u8> d{SecureLinkHostKey, (u8)peerId, (u8)(peerId >> 8)};
    d.insert(d.end(), hostKey, hostKey + 32);
    d.insert(d.end(), kSecureLinkHostNonceBytes, nonce);
    return d;
}
std::vector<u8> plainHostState(const u8* hostKey, u8 nonce) {
    std::vector<u8> d{SecureLinkHostState, SecureLinkGrantVideo, 0, 0, 0, 0, 0};
    d.insert(d.end(), 32 + 8, 0);
    d.insert(d.end(), hostKey, hostKey + 32);
    d.insert(d.end(), kSecureLinkHostNonceBytes, nonce);
    return d;
}

// A device's video record hands its link only what comes from the relaying app's video port: the
// link's datagrams from another port of that address are strangers (no key, no nonce, no hello
// asked), and plain video from there is shown only while the record holds no keys.
TEST(RelayedVideo, OnlyTheRelayingAppsVideoPortReachesItsLink) {
    Stranger app(INADDR_LOOPBACK), other(INADDR_LOOPBACK);  // two ports of the relaying app's address
    ASSERT_TRUE(app.port && other.port);
    auto rig = std::make_unique<VideoRig>();
    auto client = std::make_unique<SecureLinkClient>();
    SecureLinkClientIdentity identity{};
    u8 hostPrivate[32], hostPublic[32];
    ASSERT_EQ(generateX25519KeyPair(identity.privateKey, identity.publicKey), 0);
    ASSERT_EQ(generateX25519KeyPair(hostPrivate, hostPublic), 0);
    identity.peerId = 0x5EC0;
    client->identity = &identity;
    rig->preferences.videoStreamProtocol = VideoStreamQv;
    rig->preferences.qvVideoServerAddress = makeAddressRecord(4, kLoopback, app.port);
    const VideoStreamStats& stats = rig->qvStream.stats;
    // Steps the device, the clock 100 us a step, until done() (true) or 1000 steps (false).
    auto stepUntil = [&](auto done) {
        for (int i = 0; i < 1000; i++) {
            rigNow += 100;
            controlQvVideoStream(&rig->qv, nullptr, nullptr, client.get(), &rig->qvStream, &rig->h264,
                                 &rig->preferences, &rig->slots, nullptr);
            rig->collect();
            if (done()) return true;
            waitForInput({&rig->qv}, 10);
        }
        return false;
    };
    ASSERT_TRUE(stepUntil([&] { return app.received(SecureLinkHello); }));
    ASSERT_EQ(client->helloPending, 0u);
    u64 helloTime = client->helloTime;
    u16 device = rig->qv.localPort;

    i64 strangers = stats.strangerDatagrams;
    other.send(device, plainHostState(hostPublic, 0x4E));
    other.send(device, hostKeyDatagram(identity.peerId, hostPublic, 0x4E));
    stepUntil([&] { return stats.strangerDatagrams == strangers + 2; });
    EXPECT_EQ(client->keys.ready, 0u);
    EXPECT_EQ(std::vector<u8>(client->hostPublicKey, client->hostPublicKey + 32), std::vector<u8>(32, 0));
    EXPECT_EQ(std::vector<u8>(client->hostNonce, client->hostNonce + 16), std::vector<u8>(16, 0));
    EXPECT_EQ(client->hostPlain, 0u);
    EXPECT_EQ(client->helloPending, 0u);
    EXPECT_EQ(client->helloTime, helloTime);  // no hello asked (the next is due in a second)
    EXPECT_EQ(stats.strangerDatagrams, strangers + 2);

    // Plain video from there is shown while the record holds no keys, dropped once it does.
    i64 shown = stats.packetsReceived;
    other.send(device, std::vector<u8>{kQvVideo, 0, 1, 0x65, 0x88, 0x84});
    EXPECT_TRUE(stepUntil([&] { return stats.packetsReceived == shown + 1; }));
    app.send(device, hostKeyDatagram(identity.peerId, hostPublic, 0xA9));
    ASSERT_TRUE(stepUntil([&] { return client->keys.ready == 1; }));
    strangers = stats.strangerDatagrams;
    other.send(device, std::vector<u8>{kQvVideo, 0, 2, 0x65, 0x88, 0x84});
    stepUntil([&] { return stats.strangerDatagrams == strangers + 1; });
    EXPECT_EQ(stats.strangerDatagrams, strangers + 1);
    EXPECT_EQ(stats.packetsReceived, shown + 1);
    closeSocket(&rig->qv);
}

TEST(QvDatagrams, ShortOnesAreDroppedAndBackwardStepsAreLateNotSixtyFiveThousandLost) {
    auto stream = std::make_unique<QvVideoStream>();
    auto h264 = std::make_unique<H264StreamState>();
    Preferences preferences{};
    auto feed = [&](std::vector<u8> d) {
        handleQvDatagram(stream.get(), d.data(), (u32)d.size(), h264.get(), nullptr, nullptr, &preferences, nullptr, 5);
    };
    feed({0xB8, 0xFF});  // no whole sequence number
    EXPECT_EQ(stream->stats.packetsReceived, 0);
    for (u16 s : {5, 6, 9, 65535, 0}) feed({0xB8, (u8)(s >> 8), (u8)s});
    expireQvVideo(stream.get(), h264.get(), nullptr, 5 + kReorderWait);
    EXPECT_EQ(stream->stats.packetsReceived, 3);
    EXPECT_EQ(stream->stats.packetsLate, 2);  // 65535 and 0 came after 6: their place had passed
    EXPECT_EQ(stream->stats.packetsLost, 2);  // 7 and 8
    EXPECT_EQ(stream->stats.bytesReceived, 0);
}

TEST(QvBigPictures, IPicturesOverHalfAMegabyteInOneBurstEachAreAllShownAndStrangersAreDropped) {
    TempFolder folder("qvbig");
    std::string h264 = folder.file("in.h264"), nv12 = folder.file("in.nv12"), rtp = folder.file("in.rtp");
    ASSERT_TRUE(encodeBigIPictures(h264));
    ASSERT_GT(largestUnit(h264), 500000u);
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    ASSERT_TRUE(ffmpegCapture(h264, rtp, 1400));  // its marker bits end the pictures
    std::vector<Bytes> reference = nv12Pictures(readFile(nv12), 1920, 1080);
    ChildProcess server;
    ASSERT_TRUE(server.start({"/usr/bin/python3", std::string(getenv("ORVIK_SOURCE_DIR")) + "/Tests/Video/qv_server.py", rtp,
                              "picture"}));
    u16 serverPort = (u16)std::stoi(server.line(60000));

    auto rig = std::make_unique<VideoRig>();
    rig->keepPictures = true;
    rig->preferences.videoStreamProtocol = VideoStreamQv;
    rig->preferences.qvVideoServerAddress = makeAddressRecord(4, kLoopback, serverPort);
    Stranger stranger;
    std::string sent;
    if (systemReceiveBufferMax() < 2 * 1024 * 1024) {
        GTEST_SKIP() << "the system grants no socket the buffer for a burst of I pictures (net.core.rmem_max)";
    }
    u64 start = realMicroseconds();
    for (int i = 0; withinPatience(start) && rig->qvStream.stats.packetsReceived + rig->qvStream.stats.packetsLate <
                                                 sentCount(sent);
         i++) {
        rig->stepQvWithServer(10000);
        if (i % 10 == 0 || stranger.sent == 0) stranger.send(rig->qv.localPort, {0xB8, 0, (u8)i, 0x65, 0x88, 0x84});
        if (sent.empty()) sent = server.line(0);
    }
    // However few frames the stream took, more than one stranger's datagram (the note counts them).
    for (int k = 0; k < 2 && stranger.sent < 2; k++) stranger.send(rig->qv.localPort, {0xB8, 0, 0, 0x65, 0x88, 0x84});
    ASSERT_EQ(sent.rfind("sent ", 0), 0u);
    // All came: the last picture ends with the stream (a second without video).
    for (int i = 0; i < 200 && rig->shownCount() < reference.size(); i++) rig->stepQv(10000);
    EXPECT_EQ(rig->qvStream.stats.packetsLost, 0);
    EXPECT_EQ(rig->qvStream.stats.packetsReceived, std::stol(sent.substr(5)));
    ASSERT_EQ(rig->pictures.size(), reference.size()) << text(rig->decoder->error);
    for (size_t i = 0; i < reference.size(); ++i) EXPECT_TRUE(rig->pictures[i] == reference[i]) << "picture " << i;
    EXPECT_GT(stranger.sent, 0);
    EXPECT_EQ(rig->qvStream.stats.strangerDatagrams, stranger.sent);
    rig->stepQv(10000);
    EXPECT_NE(text(rig->qvStream.stats.status).find(std::to_string(stranger.sent) + " datagrams from other addresses dropped"),
              std::string::npos)
        << text(rig->qvStream.stats.status);
}

}  // namespace

namespace {

TEST(VideoStatusNotes, CountsOfOneReadInTheSingular) {
    auto stats = std::make_unique<VideoStreamStats>();
    auto socket = std::make_unique<Socket>();
    auto h264 = std::make_unique<H264StreamState>();
    FixedString receiving = makeString("Receiving");
    stats->strangerDatagrams = 1;
    h264->unitsTooLarge = 1;
    EXPECT_EQ(text(videoStatusWithNotes(receiving, stats.get(), socket.get(), h264.get())),
              "Receiving; 1 datagram from another address dropped; 1 video unit larger than " +
                  std::to_string(kH264FragmentCapacity) + " bytes dropped");
    stats->strangerDatagrams = 2;
    h264->unitsTooLarge = 3;
    EXPECT_EQ(text(videoStatusWithNotes(receiving, stats.get(), socket.get(), h264.get())),
              "Receiving; 2 datagrams from other addresses dropped; 3 video units larger than " +
                  std::to_string(kH264FragmentCapacity) + " bytes dropped");
}

// The first packet of picture 5 lost, the rest of it and picture 6 behind it, then nothing: the
// decoder waits for a key frame. The note says so while video comes, is gone once none has come for a
// few seconds, and is back with the next damaged picture.
TEST(VideoStatusNotes, ADamagedNoteGoesWhenTheVideoStops) {
    TempFolder folder("damaged-note");
    std::string h264 = folder.file("s.h264"), rtp = folder.file("s.rtp");
    ASSERT_TRUE(gstreamerEncodeAndCapture(
        "x264enc key-int-max=10 bframes=0 threads=1 option-string=slices=2:scenecut=0 ! video/x-h264,profile=main", 10,
        h264, rtp));
    std::vector<RtpPacket> packets = readCapture(rtp);
    std::vector<size_t> ends;  // the packet that ends each picture (its marker bit)
    for (size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].bytes[1] & 0x80) ends.push_back(i);
    }
    ASSERT_GE(ends.size(), 8u);
    ASSERT_LT(ends[4] + 1, ends[5]);  // picture 5 comes in more than one packet

    auto rig = std::make_unique<VideoRig>();
    auto play = [&](size_t from, size_t to) {
        for (size_t i = from; i <= to; ++i) {
            rigNow += 1000;
            handleRtpDatagram(&rig->rtsp, packets[i].bytes.data(), (i64)packets[i].bytes.size(), &rig->h264, nullptr,
                              nullptr, &rig->preferences, &rig->slots, (i64)rigNow);
            rig->collect();
        }
    };
    auto damagedNote = [&] {
        FixedString status = videoStatusWithNotes(makeString("Receiving"), &rig->rtsp.stats, &rig->rtp, &rig->h264);
        return text(status).find("video damaged: waiting for the next key frame") != std::string::npos;
    };
    play(0, ends[4]);
    play(ends[4] + 2, ends[6]);
    rigNow += kReorderWait + 1;  // the lost packet is given up on
    expireRtpVideo(&rig->rtsp, &rig->h264, &rig->slots, (i64)rigNow);
    rig->collect();
    ASSERT_TRUE(videoDecoderWaitsForIdr(rig->decoder.get()));
    EXPECT_TRUE(damagedNote());
    rigNow += kVideoStreamEndSilence + 1;
    EXPECT_FALSE(damagedNote());
    play(ends[6] + 1, ends[7]);
    EXPECT_TRUE(damagedNote());
}

}  // namespace
