// Damaged streams made by GStreamer's encoders (a slice cut short, the last picture before an IDR
// lost whole, an open-GOP stream whose only IDR picture is its first, with I pictures carrying
// recovery points) go through the RTP path (marker bits) and the Qv path (no picture ends marked).
// The pictures shown before the damage are ffmpeg's, and from the resume point on (the next IDR
// picture, or the next I picture with a recovery point) every picture equals ffmpeg's decode of the
// stream from that point, none missing.
#include <gtest/gtest.h>

#include "Video/H264TestStreams.h"
#include "Video/PacketPlayback.h"
#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

enum Damage { CutSliceShort, LosePicture };

struct ResumeCase {
    const char* name;
    const char* encoder;
    int frames;
    Damage damage;
    int damaged;      // the access unit damaged, in decoding order
    bool reordered;   // B pictures: display order differs from decoding order
};

const ResumeCase kCases[] = {
    {"SliceCutShortBeforeIdr",
     "x264enc key-int-max=10 bframes=0 threads=1 option-string=slices=2:scenecut=0 ! video/x-h264,profile=main", 40,
     CutSliceShort, 7, false},
    {"SliceCutShortWithBPictures",
     "x264enc key-int-max=10 bframes=2 threads=1 option-string=slices=2:scenecut=0 ! video/x-h264,profile=main", 40,
     CutSliceShort, 12, true},
    {"IdrSliceCutShort",
     "x264enc key-int-max=10 bframes=0 threads=1 option-string=scenecut=0 ! video/x-h264,profile=main", 40,
     CutSliceShort, 10, false},
    {"LastPictureBeforeIdrLost",
     "x264enc key-int-max=10 bframes=0 threads=1 option-string=slices=2:scenecut=0 ! video/x-h264,profile=main", 40,
     LosePicture, 9, false},
    {"OpenH264FourSlicesPictureLost", "openh264enc num-slices=4 slice-mode=n-slices gop-size=15 multi-thread=1", 45,
     LosePicture, 5, false},
    {"OpenGopRecoveryPoints",
     "x264enc key-int-max=10 bframes=2 threads=1 option-string=open-gop=1:slices=2:scenecut=0 ! "
     "video/x-h264,profile=main",
     60, CutSliceShort, 13, true},
};

u32 timestampOf(const RtpPacket& p) {
    return (u32)(p.bytes[4] << 24 | p.bytes[5] << 16 | p.bytes[6] << 8 | p.bytes[7]);
}

bool carriesSlice(const RtpPacket& p) {
    u32 type = p.bytes[(size_t)p.payloadOffset] & 0x1F;
    return type == 1 || type == 5 || type == 28;
}

class H264Resume : public ::testing::TestWithParam<ResumeCase> {};

TEST_P(H264Resume, PicturesFromTheResumePointAreFfmpegsDecodeFromThatPoint) {
    const ResumeCase& c = GetParam();
    TempFolder folder("resume");
    std::string h264 = folder.file("s.h264"), rtp = folder.file("s.rtp"), nv12 = folder.file("s.nv12"),
                tail = folder.file("t.h264"), tailNv12 = folder.file("t.nv12");
    ASSERT_TRUE(gstreamerEncodeAndCapture(c.encoder, c.frames, h264, rtp));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    std::vector<Bytes> full = nv12Pictures(readFile(nv12), 320, 240);
    ASSERT_EQ(full.size(), (size_t)c.frames);

    // Access units of the file; the resume point is the first after the damage that carries an SPS
    // (the encoders send one with each IDR picture and each I picture with a recovery point).
    Bytes file = readFile(h264);
    std::vector<size_t> starts = accessUnitStarts(file);
    ASSERT_EQ(starts.size(), (size_t)c.frames);
    auto hasSps = [&](size_t k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] : file.size();
        for (const Bytes& unit : splitAnnexB(file.data() + starts[k], end - starts[k])) {
            if ((unit[0] & 0x1F) == 7) return true;
        }
        return false;
    };
    size_t resume = (size_t)c.damaged + 1;
    while (resume < starts.size() && !hasSps(resume)) ++resume;
    ASSERT_LT(resume, starts.size());
    writeFile(tail, Bytes(file.begin() + (long)starts[resume], file.end()));
    ASSERT_TRUE(decodeToNv12(tail, tailNv12));
    std::vector<Bytes> fromResume = nv12Pictures(readFile(tailNv12), 320, 240);
    ASSERT_GT(fromResume.size(), 5u);

    // The packets of each access unit (a new RTP timestamp begins the next).
    std::vector<RtpPacket> packets = readCapture(rtp);
    std::vector<int> unitOf;
    int unit = -1;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == 0 || timestampOf(packets[i]) != timestampOf(packets[i - 1])) ++unit;
        unitOf.push_back(unit);
    }
    ASSERT_EQ(unit + 1, c.frames);
    if (c.damage == LosePicture) {
        std::vector<RtpPacket> kept;
        for (size_t i = 0; i < packets.size(); ++i) {
            if (unitOf[i] != c.damaged) kept.push_back(packets[i]);
        }
        packets = kept;
    } else {
        size_t i = 0;
        while (!(unitOf[i] == c.damaged && carriesSlice(packets[i]))) ++i;
        RtpPacket* p = &packets[i];
        p->payloadEnd = p->payloadOffset + (p->payloadEnd - p->payloadOffset) / 2;
        p->bytes.resize((size_t)p->payloadEnd);
    }

    for (bool qv : {false, true}) {
        SCOPED_TRACE(qv ? "Qv" : "RTP");
        std::unique_ptr<VideoRig> rig = playPackets(packets, qv);

        // From the resume point on: ffmpeg's decode from there, every picture.
        const std::vector<std::vector<u8>>& shown = rig->pictures;
        ASSERT_GE(shown.size(), fromResume.size());
        size_t before = shown.size() - fromResume.size();
        for (size_t i = 0; i < fromResume.size(); ++i) {
            EXPECT_TRUE(shown[before + i] == fromResume[i]) << "picture " << i << " from the resume point";
        }
        // Before it: ffmpeg's pictures of the whole stream, in order, none from the damage on.
        size_t next = 0;
        for (size_t i = 0; i < before; ++i) {
            while (next < full.size() && full[next] != shown[i]) ++next;
            ASSERT_LT(next, full.size()) << "picture " << i << " is not one of ffmpeg's";
            if (!c.reordered) {
                EXPECT_LT(next, (size_t)c.damaged) << "picture " << i << " after the damage";
            }
            ++next;
        }
        // Without reordering, every picture before the damage is shown (with marker bits even the one
        // just before a lost picture; over Qv a loss there cannot be told from one in its end).
        if (!c.reordered) {
            size_t least = qv && c.damage == LosePicture ? (size_t)c.damaged - 1 : (size_t)c.damaged;
            EXPECT_GE(before, least);
        }
        EXPECT_FALSE(videoDecoderWaitsForIdr(rig->decoder.get()));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, H264Resume, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
