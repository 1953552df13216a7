// Damaged streams through the Qv client's path (reorder window, depacketiser, access units, decoder):
// a libx264 stream with an IDR picture every 10, packetised by GStreamer, damaged in its packets. No
// picture from a damaged one up to the next IDR may be shown, and every picture from that IDR on
// must equal ffmpeg's decode of the undamaged stream.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "Video/H264TestStreams.h"
#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

constexpr int kWidth = 320, kHeight = 240, kFrames = 40;

u32 typeOf(const u8* payload) { return payload[0] & 0x1F; }

// The picture each packet belongs to (parameter sets and SEI to the picture after them), and the
// packet that starts each picture.
struct Layout {
    std::vector<int> pictureOf;
    std::vector<size_t> firstPacket;
    std::vector<int> idrPictures;
};

Layout layoutOf(const std::vector<RtpPacket>& packets) {
    Layout l;
    for (size_t i = 0; i < packets.size(); ++i) {
        const u8* p = packets[i].bytes.data() + packets[i].payloadOffset;
        u32 type = typeOf(p);
        const u8* slice = nullptr;
        if (type == 1 || type == 5) slice = p;
        if (type == 28 && (p[1] & 0x80) && ((p[1] & 0x1F) == 1 || (p[1] & 0x1F) == 5)) slice = p + 1;
        if (slice && (slice[1] & 0x80)) {  // first_mb_in_slice 0: a new picture
            if (typeOf(slice) == 5) l.idrPictures.push_back((int)l.firstPacket.size());
            l.firstPacket.push_back(i);
        }
        bool vcl = type == 1 || type == 5 || type == 28;
        l.pictureOf.push_back((int)l.firstPacket.size() - (vcl ? 1 : 0));
    }
    return l;
}

struct DamageCase {
    const char* name;
    std::function<void(std::vector<RtpPacket>*, const Layout&, const Bytes& otherSps)> damage;
    std::vector<int> damaged;  // pictures damaged
    std::vector<int> mayMiss;  // good pictures a lost packet may take along (its place is unknown)
};

void cutInHalf(RtpPacket* p) {
    p->payloadEnd = p->payloadOffset + (p->payloadEnd - p->payloadOffset) / 2;
    p->bytes.resize((size_t)p->payloadEnd);
}

void flipBits(RtpPacket* p) {
    long middle = (p->payloadOffset + p->payloadEnd) / 2;
    for (long i = middle; i < middle + 8 && i < p->payloadEnd; ++i) p->bytes[(size_t)i] ^= 0xFF;
}

const DamageCase kCases[] = {
    {"SliceCutInHalf", [](auto* packets, const Layout& l, auto&) { cutInHalf(&(*packets)[l.firstPacket[3]]); }, {3}, {}},
    {"BitsFlippedInThreePictures",
     [](auto* packets, const Layout& l, auto&) {
         for (int picture : {3, 14, 25}) flipBits(&(*packets)[l.firstPacket[(size_t)picture]]);
     },
     {3, 14, 25}, {}},
    {"WrongSps",
     [](auto* packets, const Layout& l, const Bytes& otherSps) {
         for (size_t i = 0; i < packets->size(); ++i) {
             RtpPacket& p = (*packets)[i];
             if (l.pictureOf[i] != 10 || typeOf(p.bytes.data() + p.payloadOffset) != 7) continue;
             p.bytes.resize((size_t)p.payloadOffset);
             p.bytes.insert(p.bytes.end(), otherSps.begin(), otherSps.end());
             p.payloadEnd = (long)p.bytes.size();
         }
     },
     {10}, {}},
    {"PacketLost", [](auto* packets, const Layout& l, auto&) { packets->erase(packets->begin() + (long)l.firstPacket[3]); },
     {3}, {2}},
};

class H264Damage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(H264Damage, NoPictureFromTheDamageToTheNextIdrAndEveryPictureAfterItIsFfmpegs) {
    const DamageCase& c = GetParam();
    TempFolder folder("damage");
    std::string h264 = folder.file("s.h264"), nv12 = folder.file("s.nv12"), rtp = folder.file("s.rtp"),
                other = folder.file("o.h264");
    ASSERT_TRUE(encodeTestPattern(h264, kWidth, kHeight, kFrames,
                                  "-pix_fmt yuv420p -profile:v main -bf 0 -g 10 -x264-params scenecut=0:slices=2"));
    ASSERT_TRUE(encodeTestPattern(other, 352, 288, 1, "-pix_fmt yuv420p -profile:v main -bf 0"));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    ASSERT_TRUE(gstreamerCapture(h264, rtp, 1400, "none"));
    std::vector<Bytes> reference = nv12Pictures(readFile(nv12), kWidth, kHeight);
    ASSERT_EQ(reference.size(), (size_t)kFrames);
    Bytes otherFile = readFile(other);
    Bytes otherSps = splitAnnexB(otherFile.data(), otherFile.size())[0];
    ASSERT_EQ(otherSps[0] & 0x1F, 7);

    std::vector<RtpPacket> packets = readCapture(rtp);
    Layout layout = layoutOf(packets);
    ASSERT_EQ(layout.firstPacket.size(), (size_t)kFrames);
    ASSERT_EQ(layout.idrPictures, (std::vector<int>{0, 10, 20, 30}));
    c.damage(&packets, layout, otherSps);

    auto rig = std::make_unique<VideoRig>();
    rig->keepPictures = true;
    Preferences preferences{};
    i64 now = 1000000;
    for (const RtpPacket& p : packets) {
        Bytes datagram = qvDatagram(p);
        handleQvDatagram(&rig->qvStream, datagram.data(), (u32)datagram.size(), &rig->h264, nullptr, nullptr,
                         &preferences, &rig->slots, now += 1000);
        rig->collect();
    }
    expireQvVideo(&rig->qvStream, &rig->h264, &rig->slots, now + kReorderWait);
    endH264Stream(&rig->slots);
    for (int i = 0; i < 20; ++i) rig->collect();

    // Each shown picture is one of ffmpeg's, in order; none from a damaged picture to its next IDR.
    std::set<int> hidden, shown;
    for (int d : c.damaged) {
        int idr = kFrames;
        for (int i : layout.idrPictures) if (i > d && i < idr) idr = i;
        for (int i = d; i < idr; ++i) hidden.insert(i);
    }
    size_t next = 0;
    for (const Bytes& picture : rig->pictures) {
        while (next < reference.size() && reference[next] != picture) ++next;
        ASSERT_LT(next, reference.size()) << "a picture that is not ffmpeg's, after " << shown.size() << " shown";
        shown.insert((int)next++);
    }
    for (int i = 0; i < kFrames; ++i) {
        bool mayMiss = std::count(c.mayMiss.begin(), c.mayMiss.end(), i) > 0;
        if (hidden.count(i)) {
            EXPECT_FALSE(shown.count(i)) << "damaged picture " << i << " shown";
        } else if (!mayMiss) {
            EXPECT_TRUE(shown.count(i)) << "picture " << i << " not shown";
        }
    }
    EXPECT_EQ(rig->qvStream.stats.packetsLost, c.mayMiss.empty() ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Streams, H264Damage, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
