// Senders that give their SPS and PPS only once: in the SDP's sprop-parameter-sets (over RTSP), or
// in-band only before the first picture (over Qv, as a relaying app passes them on). A libx264
// stream with an IDR picture every 10 loses one packet of picture 3; from the next IDR picture on,
// every picture must be ffmpeg's decode of the whole stream.
#include <gtest/gtest.h>

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

TEST(ParameterSetsOnce, ThePictureComesBackAtTheNextIdrAfterLoss) {
    TempFolder folder("setsonce");
    std::string h264 = folder.file("s.h264"), nv12 = folder.file("s.nv12"), rtp = folder.file("s.rtp");
    ASSERT_TRUE(encodeTestPattern(h264, 320, 240, kFrames,
                                  "-pix_fmt yuv420p -profile:v main -bf 0 -g 10 -x264-params scenecut=0"));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    ASSERT_TRUE(gstreamerCapture(h264, rtp, 1400, "none"));
    std::vector<Bytes> reference = nv12Pictures(readFile(nv12), 320, 240);
    ASSERT_EQ(reference.size(), (size_t)kFrames);

    // The encoder's sets come before each IDR picture: the SDP sender drops them all, the other
    // keeps those before its first slice. Either then loses a packet of picture 3.
    std::vector<RtpPacket> all = readCapture(rtp);
    std::string sprop;
    for (bool sdp : {true, false}) {
        SCOPED_TRACE(sdp ? "sets in the SDP, over RTSP" : "sets in-band at the start, over Qv");
        std::vector<RtpPacket> packets;
        int pictures = 0;
        for (const RtpPacket& p : all) {
            u32 type = unitType(p);
            bool set = type == 7 || type == 8;
            if (set && pictures == 0 && sdp) {
                sprop += (sprop.empty() ? "" : ",") +
                         base64(Bytes(p.bytes.begin() + p.payloadOffset, p.bytes.begin() + p.payloadEnd));
            }
            bool firstSlice = startsPicture(p);
            pictures += firstSlice;
            bool lost = firstSlice && pictures == 4;
            if (!lost && !(set && (sdp || pictures > 0))) packets.push_back(p);
        }
        ASSERT_EQ(pictures, kFrames);

        auto rig = std::make_unique<VideoRig>();
        if (sdp) {
            std::string sdpText = "v=0\r\nm=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1;sprop-parameter-sets=" +
                                  sprop + "\r\na=control:track1\r\n";
            std::string describe = "RTSP/1.0 200 OK\r\nCSeq: 0\r\nContent-Length: " + std::to_string(sdpText.size()) +
                                   "\r\n\r\n" + sdpText;
            std::string play = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 1\r\n\r\n";
            rig->rtsp.state = RtspDescribe;
            handleRtspReply(&rig->rtsp, (const u8*)describe.data(), (i64)describe.size(), 1);
            rig->rtsp.state = RtspPlay;  // SETUP answered
            handleRtspReply(&rig->rtsp, (const u8*)play.data(), (i64)play.size(), 2);
            ASSERT_EQ(rig->rtsp.state, RtspPlaying);
        }
        rig = playPackets(packets, !sdp, std::move(rig));
        ASSERT_GE(rig->pictures.size(), 10u) << text(rig->decoder->error);
        size_t idr = rig->pictures.size() - 10;
        for (size_t i = 0; i < 10; ++i) EXPECT_TRUE(rig->pictures[idr + i] == reference[10 + i]) << "picture " << 10 + i;
    }
}

}  // namespace
