// Live senders repeat SPS and PPS in front of every slice of an IDR picture (GStreamer's rtph264pay
// with config-interval=-1) and cut pictures into several slices: streams made in the test by
// GStreamer's encoders go through the RTP path (marker bits and timestamps), the Qv path (nothing
// marks a picture's end) and a live gst-rtsp-server session, and every picture must be ffmpeg's
// decode of the same encoded stream.
#include <gtest/gtest.h>

#include "Video/H264TestStreams.h"
#include "Video/PacketPlayback.h"
#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

struct EncoderCase {
    const char* name;
    const char* encoder;
};

const EncoderCase kEncoders[] = {
    {"OpenH264FourSlices", "openh264enc num-slices=4 slice-mode=n-slices gop-size=15 multi-thread=1"},
    {"X264BaselineFourSlices",
     "x264enc key-int-max=15 bframes=0 threads=1 option-string=slices=4 ! video/x-h264,profile=constrained-baseline"},
    {"X264MainBFramesThreeSlices",
     "x264enc key-int-max=15 bframes=2 threads=1 option-string=slices=3 ! video/x-h264,profile=main"},
};

constexpr int kFrames = 45;

class RepeatedParameterSets : public ::testing::TestWithParam<EncoderCase> {};

TEST_P(RepeatedParameterSets, EveryPictureOfAMultiSliceStreamIsFfmpegsOverRtpAndQv) {
    TempFolder folder("repeat");
    std::string h264 = folder.file("s.h264"), rtp = folder.file("s.rtp"), nv12 = folder.file("s.nv12");
    ASSERT_TRUE(gstreamerEncodeAndCapture(GetParam().encoder, kFrames, h264, rtp));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    std::vector<Bytes> reference = nv12Pictures(readFile(nv12), 320, 240);
    ASSERT_EQ(reference.size(), (size_t)kFrames);
    std::vector<RtpPacket> packets = readCapture(rtp);
    // The sender's habit: an SPS after a slice of the same picture.
    u32 lastTimestamp = 0;
    bool sawSlice = false, repeated = false;
    for (const RtpPacket& p : packets) {
        u32 timestamp = (u32)(p.bytes[4] << 24 | p.bytes[5] << 16 | p.bytes[6] << 8 | p.bytes[7]);
        if (timestamp != lastTimestamp) sawSlice = false;
        lastTimestamp = timestamp;
        u32 type = p.bytes[(size_t)p.payloadOffset] & 0x1F;
        if (type == 7 && sawSlice) repeated = true;
        if (type == 5 || type == 1 || type == 28) sawSlice = true;
    }
    if (std::string(GetParam().name).rfind("OpenH264", 0) == 0) {
        EXPECT_TRUE(repeated) << "no SPS between slices";
    }

    for (bool qv : {false, true}) {
        SCOPED_TRACE(qv ? "Qv" : "RTP");
        std::unique_ptr<VideoRig> rig = playPackets(packets, qv);
        EXPECT_EQ(text(rig->decoder->error), "");
        EXPECT_EQ(rig->decoder->picturesDropped.load(), 0);
        ASSERT_EQ(rig->pictures.size(), reference.size());
        for (size_t i = 0; i < reference.size(); ++i) EXPECT_TRUE(rig->pictures[i] == reference[i]) << "picture " << i;
        EXPECT_EQ(rig->width, 320u);
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, RepeatedParameterSets, ::testing::ValuesIn(kEncoders),
                         [](const auto& info) { return std::string(info.param.name); });

// A live gst-rtsp-server session whose server writes what it sends to a file: the pictures shown
// are ffmpeg's decode of that file from the first picture on, none missing.
TEST(RepeatedParameterSetsRtsp, LiveSessionShowsEveryPictureAsFfmpegDecodesIt) {
    for (const char* encoder :
         {"openh264enc num-slices=4 slice-mode=n-slices gop-size=30 multi-thread=1",
          "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=30 threads=1 option-string=slices=4"}) {
        SCOPED_TRACE(encoder);
        TempFolder folder("rtsplive");
        std::string sent = folder.file("sent.h264"), nv12 = folder.file("sent.nv12");
        ChildProcess server;
        ASSERT_TRUE(server.start({"/usr/bin/python3", std::string(getenv("ORVIK_SOURCE_DIR")) + "/Tests/Video/rtsp_server.py",
                                  "none", "1", "60", encoder, sent}));
        std::string port = server.line(60000);
        ASSERT_FALSE(port.empty());
        auto rig = std::make_unique<VideoRig>();
        rig->keepPictures = true;
        rig->preferences.videoStreamProtocol = VideoStreamRtsp;
        setText(&rig->preferences.rtspUrl, "rtsp://127.0.0.1:" + port + "/test");
        const u32 wanted = 60;  // two seconds: two IDR pictures and their groups
        for (u64 start = realMicroseconds(); withinPatience(start) && rig->shownCount() < wanted;) rig->stepRtspWithServer();
        ASSERT_GE(rig->shownCount(), wanted) << text(rig->rtsp.stats.status) << " " << text(rig->decoder->error);
        EXPECT_EQ(rig->rtsp.stats.packetsLost, 0);

        // The file holds at least what was sent; it is read once ffmpeg finds every picture shown in it.
        std::vector<Bytes> reference;
        size_t first = 0;
        for (u64 start = realMicroseconds(); withinPatience(start);) {
            ASSERT_TRUE(decodeToNv12(sent, nv12));
            reference = nv12Pictures(readFile(nv12), 320, 240);
            // Where the pictures shown begin in it (the sender's first pictures may repeat one).
            first = 0;
            while (first < reference.size() && (reference[first] != rig->pictures[0] ||
                                                (first + 1 < reference.size() && rig->pictures.size() > 1 &&
                                                 reference[first + 1] != rig->pictures[1]))) {
                ++first;
            }
            if (first + rig->pictures.size() <= reference.size()) break;
            usleep(10000);
        }
        ASSERT_LT(first, reference.size()) << "the first picture shown is not ffmpeg's";
        ASSERT_LE(first + rig->pictures.size(), reference.size());
        for (size_t i = 0; i < rig->pictures.size(); ++i) {
            EXPECT_TRUE(rig->pictures[i] == reference[first + i]) << "picture " << i << " of " << rig->pictures.size();
        }
        EXPECT_EQ(rig->decoder->picturesDropped.load(), 0);
    }
}

}  // namespace
