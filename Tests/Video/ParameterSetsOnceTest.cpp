// Senders that give their SPS and PPS only once: in the SDP's sprop-parameter-sets (over RTSP), or
// in-band only before the first picture (over Qv, as a relaying app passes them on). A libx264
// stream with an IDR picture every 10 loses one packet of picture 3; from the next IDR picture on,
// every picture must be ffmpeg's decode of the whole stream. A station that relays such a stream
// to a device granted its video only after the start: the device shows ffmpeg's pictures from the
// next IDR picture on.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "Crypto/X25519.h"
#include "Network/Address.h"
#include "Network/SecureLink.h"
#include "Video/H264TestStreams.h"
#include "Video/PacketPlayback.h"

using namespace videotest;

namespace {

constexpr int kFrames = 20;

u32 unitType(const RtpPacket& p) { return p.bytes[(size_t)p.payloadOffset] & 0x1F; }

// The packet holds a picture's first slice (first_mb_in_slice 0), whole or as its first fragment.
bool startsPicture(const RtpPacket& p) {
    const u8* slice = p.bytes.data() + p.payloadOffset;
    if (unitType(p) == 28 && (slice[1] & 0x80)) ++slice;
    return ((slice[0] & 0x1F) == 1 || (slice[0] & 0x1F) == 5) && (slice[1] & 0x80);
}

std::string base64(const Bytes& bytes) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        u32 n = (u32)bytes[i] << 16 | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) |
                (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        for (size_t k = 0; k < 4; ++k) out += i + k <= bytes.size() ? digits[n >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

// The stream of 20 pictures, 320 x 240, an IDR picture every 10, as RTP packets, and ffmpeg's decode
// of it.
struct SetsOnceStream {
    TempFolder folder{"setsonce"};
    std::vector<RtpPacket> all;
    std::vector<Bytes> reference;
    bool make() {
        std::string h264 = folder.file("s.h264"), nv12 = folder.file("s.nv12"), rtp = folder.file("s.rtp");
        if (!encodeTestPattern(h264, 320, 240, kFrames,
                               "-pix_fmt yuv420p -profile:v main -bf 0 -g 10 -x264-params scenecut=0") ||
            !decodeToNv12(h264, nv12) || !gstreamerCapture(h264, rtp, 1400, "none")) {
            return false;
        }
        all = readCapture(rtp);
        reference = nv12Pictures(readFile(nv12), 320, 240);
        return reference.size() == (size_t)kFrames;
    }
    // The encoder's sets come before each IDR picture: the SDP sender drops them all (they go to
    // *sprop), the other keeps those before its first slice. The first packet of picture `lost`
    // (counted from 1; 0: none) is left out. `starts` gets the index of each picture's first packet.
    std::vector<RtpPacket> sentOnce(bool sdp, std::string* sprop, int lost, std::vector<size_t>* starts) const {
        std::vector<RtpPacket> packets;
        int pictures = 0;
        for (const RtpPacket& p : all) {
            u32 type = unitType(p);
            bool set = type == 7 || type == 8;
            if (set && pictures == 0 && sdp) {
                *sprop += (sprop->empty() ? "" : ",") +
                          base64(Bytes(p.bytes.begin() + p.payloadOffset, p.bytes.begin() + p.payloadEnd));
            }
            bool firstSlice = startsPicture(p);
            pictures += firstSlice;
            if (firstSlice) starts->push_back(packets.size());
            bool gone = firstSlice && pictures == lost;
            if (!gone && !(set && (sdp || pictures > 0))) packets.push_back(p);
        }
        return packets;
    }
};

// The stream's session up to PLAY, with its sets only in the SDP.
void playRtspSession(RtspVideoStream* rtsp, const std::string& sprop) {
    std::string sdpText = "v=0\r\nm=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1;sprop-parameter-sets=" +
                          sprop + "\r\na=control:track1\r\n";
    std::string describe = "RTSP/1.0 200 OK\r\nCSeq: 0\r\nContent-Length: " + std::to_string(sdpText.size()) +
                           "\r\n\r\n" + sdpText;
    std::string play = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 1\r\n\r\n";
    rtsp->state = RtspDescribe;
    handleRtspReply(rtsp, (const u8*)describe.data(), (i64)describe.size(), 1);
    rtsp->state = RtspPlay;  // SETUP answered
    handleRtspReply(rtsp, (const u8*)play.data(), (i64)play.size(), 2);
}

TEST(ParameterSetsOnce, ThePictureComesBackAtTheNextIdrAfterLoss) {
    SetsOnceStream stream;
    ASSERT_TRUE(stream.make());
    const std::vector<Bytes>& reference = stream.reference;
    for (bool sdp : {true, false}) {
        SCOPED_TRACE(sdp ? "sets in the SDP, over RTSP" : "sets in-band at the start, over Qv");
        std::string sprop;
        std::vector<size_t> starts;
        std::vector<RtpPacket> packets = stream.sentOnce(sdp, &sprop, 4, &starts);
        ASSERT_EQ(starts.size(), (size_t)kFrames);

        auto rig = std::make_unique<VideoRig>();
        if (sdp) {
            playRtspSession(&rig->rtsp, sprop);
            ASSERT_EQ(rig->rtsp.state, RtspPlaying);
        }
        rig = playPackets(packets, !sdp, std::move(rig));
        ASSERT_GE(rig->pictures.size(), 10u) << text(rig->decoder->error);
        size_t idr = rig->pictures.size() - 10;
        for (size_t i = 0; i < 10; ++i) EXPECT_TRUE(rig->pictures[idr + i] == reference[10 + i]) << "picture " << 10 + i;
    }
}

// The station playing the stream serves the relay (sealed); the device asks for its video as a Qv
// stream from the station's relay port.
struct RelayedStream {
    RtspVideoStream rtsp{};
    QvVideoStream qv{};
    H264StreamState h264{};
    Preferences preferences{};
    Socket relaySocket{};
    SecureLinkHost host{};
    RelayHostIdentity hostIdentity{};
    // The device.
    Socket video{};
    QvVideoStream stream{};
    H264StreamState deviceH264{};
    Preferences devicePreferences{};
    SecureLinkClient client{};
    SecureLinkClientIdentity clientIdentity{};
    ~RelayedStream() {
        closeSocket(&relaySocket);
        closeSocket(&video);
    }
};

TEST(RelayedVideo, AClientThatJoinsLateShowsPicturesFromASenderThatGaveItsSetsOnce) {
    SetsOnceStream stream;
    ASSERT_TRUE(stream.make());
    videoRelayPort = freeUdpPort();
    for (bool sdp : {true, false}) {
        SCOPED_TRACE(sdp ? "sets in the SDP, over RTSP" : "sets in-band at the start, over Qv");
        std::string sprop;
        std::vector<size_t> starts;
        std::vector<RtpPacket> packets = stream.sentOnce(sdp, &sprop, 0, &starts);
        auto r = std::make_unique<RelayedStream>();
        ASSERT_EQ(generateX25519KeyPair(r->hostIdentity.privateKey, r->hostIdentity.publicKey), 0);
        ASSERT_EQ(generateX25519KeyPair(r->clientIdentity.privateKey, r->clientIdentity.publicKey), 0);
        r->clientIdentity.peerId = 0x5EC0;
        r->host.identity = &r->hostIdentity;
        r->client.identity = &r->clientIdentity;
        r->stream.stats.clock = rigClock;
        r->devicePreferences.videoStreamProtocol = VideoStreamQv;
        r->devicePreferences.qvVideoServerAddress = makeAddressRecord(4, kLoopback, videoRelayPort);
        if (sdp) playRtspSession(&r->rtsp, sprop);

        // The device is listed and holds the keys, but is not granted the video yet.
        ImageSlotTable slots{};
        auto serve = [&] {
            serveVideoRelaySocket(&r->relaySocket, &r->host, &r->preferences, (i64)rigNow);
            sendSecureLinkPublicKey(&r->host, &r->relaySocket, RelayStreamVideo, &r->preferences, rigNow);
        };
        for (u64 start = realMicroseconds(); withinPatience(start) && !r->host.peers[0].ports[RelayStreamVideo];) {
            rigNow += 20000;
            serve();
            controlQvVideoStream(&r->video, nullptr, nullptr, &r->client, &r->stream, &r->deviceH264,
                                 &r->devicePreferences, &slots, nullptr);
            waitForInput({&r->relaySocket, &r->video}, 2);
        }
        ASSERT_NE(r->host.peers[0].ports[RelayStreamVideo], 0);

        // The station plays the stream; the device is granted the video at picture 6 (a P picture).
        for (size_t i = 0; i < packets.size(); i++) {
            if (i == starts[5]) setSecureLinkPeerDecision(&r->host, &r->host.peers[0], SecureLinkGrantVideo);
            Bytes datagram = sdp ? packets[i].bytes : qvDatagram(packets[i]);
            rigNow += 1000;
            if (sdp) {
                handleRtpDatagram(&r->rtsp, datagram.data(), (i64)datagram.size(), &r->h264, &r->host,
                                  &r->relaySocket, &r->preferences, &slots, (i64)rigNow);
            } else {
                handleQvDatagram(&r->qv, datagram.data(), (u32)datagram.size(), &r->h264, &r->host, &r->relaySocket,
                                 &r->preferences, &slots, (i64)rigNow);
            }
            serve();
        }

        // The device decodes what came, until its stream ends. Its clock moves on only while a
        // datagram waits or once all have come, so however late the system hands them over, the
        // stream never looks silent.
        auto device = std::make_unique<VideoRig>();
        device->keepPictures = true;
        u64 sent = 0;
        for (const TrafficCounters& peer : r->relaySocket.peers) sent += peer.packetsSent;
        auto allCame = [&] {
            u64 received = 0;
            for (const TrafficCounters& peer : r->video.peers) received += peer.packetsReceived;
            return received >= sent;
        };
        for (u64 start = realMicroseconds(); withinPatience(start) && (!allCame() || r->stream.streaming);) {
            if (allCame() || waitForInput({&r->video}, 100)) rigNow += 10000;
            controlQvVideoStream(&r->video, nullptr, nullptr, &r->client, &r->stream, &r->deviceH264,
                                 &r->devicePreferences, &device->slots, nullptr);
            device->collect();
        }
        ASSERT_EQ(device->pictures.size(), 10u) << text(device->decoder->error);
        for (size_t i = 0; i < 10; ++i) EXPECT_TRUE(device->pictures[i] == stream.reference[10 + i]) << "picture " << 10 + i;
    }
    videoRelayPort = kSecureLinkVideoPort;
}

}  // namespace
