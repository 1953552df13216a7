// The program's decoder opens only once the H.264 library has loaded, after the first frame, and a
// live stream may have begun before: its first SPS (whose size no later SPS changes) and parameter
// sets then reach no decoder. A sender as live servers are set up (SPS and PPS before every IDR
// picture, one IDR picture a second, units cut into packets of at most 400 bytes) plays session
// after session into one rig; stream time is the packets' RTP time.
#include <gtest/gtest.h>

#include "Video/H264TestStreams.h"
#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

u32 timestampOf(const RtpPacket& p) {
    return (u32)(p.bytes[4] << 24 | p.bytes[5] << 16 | p.bytes[6] << 8 | p.bytes[7]);
}

// The type of the unit the packet carries, or of the unit its fragment belongs to.
u32 unitTypeOf(const RtpPacket& p) {
    u32 type = p.bytes[(size_t)p.payloadOffset] & 0x1F;
    return type == 28 ? p.bytes[(size_t)p.payloadOffset + 1] & 0x1Fu : type;
}

TEST(LateDecoder, ShowsFromTheFirstIdrAfterItOpensAndEverySessionWithinASecondOfItsFirstIdr) {
    TempFolder folder("late");
    std::string h264 = folder.file("s.h264"), rtp = folder.file("s.rtp");
    ASSERT_TRUE(gstreamerEncodeAndCapture("x264enc key-int-max=30 bframes=0 threads=1 option-string=scenecut=0", 45,
                                          h264, rtp, 400));
    std::vector<RtpPacket> packets = readCapture(rtp);
    // The decoder opens after the second IDR picture's SPS and PPS, before its first slice packet.
    size_t opensAt = 0;
    while (opensAt < packets.size() && !(unitTypeOf(packets[opensAt]) == 5 &&
                                         timestampOf(packets[opensAt]) != timestampOf(packets[0]))) {
        ++opensAt;
    }
    ASSERT_LT(opensAt, packets.size());
    ASSERT_EQ(unitTypeOf(packets[opensAt - 1]), 8u);

    size_t firstSlice = 0;
    while (unitTypeOf(packets[firstSlice]) != 5) ++firstSlice;

    VideoRig rig(false);
    closeVideoDecoder(rig.decoder.get());
    i64 now = 1000000;
    // The first session meets the late decoder; the sessions after it lose their first packets: the
    // delimiter and the encoder's SPS, every parameter set before the IDR picture, and with them the
    // picture's first slice packet.
    for (size_t lost : std::vector<size_t>{0, 2, firstSlice, firstSlice + 1}) {
        SCOPED_TRACE("first packets lost: " + std::to_string(lost));
        u32 published = rig.decoder->picturesPublished;
        bool idrSeen = false;
        u32 firstIdr = 0;
        i64 shownAfter = -1;  // RTP time from the session's first IDR packet to its first picture shown
        for (size_t i = lost; i < packets.size(); ++i) {
            if (lost == 0 && i == opensAt) {
                initializeH264Decoder(rig.decoder.get());
                ASSERT_EQ(rig.decoder->ready, 1u) << text(rig.decoder->error);
                attachVideoDecodeWorker(rig.decoder.get());
                rig.startWorker();
            }
            if (!idrSeen && unitTypeOf(packets[i]) == 5) {
                idrSeen = true;
                firstIdr = timestampOf(packets[i]);
            }
            Bytes datagram = packets[i].bytes;
            now += 1000;
            handleRtpDatagram(&rig.rtsp, datagram.data(), (i64)datagram.size(), &rig.h264, nullptr, nullptr,
                              &rig.preferences, &rig.slots, now);
            rig.collect();
            if (shownAfter < 0 && rig.decoder->picturesPublished != published) {
                shownAfter = (i64)(u32)(timestampOf(packets[i]) - firstIdr);
            }
        }
        now += kReorderWait + 1;
        expireRtpVideo(&rig.rtsp, &rig.h264, &rig.slots, now);
        endRtpVideo(&rig.rtsp, &rig.h264, &rig.slots);
        rig.collect();
        EXPECT_GE(shownAfter, 0) << text(rig.decoder->error);
        EXPECT_LE(shownAfter, 90000);
        EXPECT_EQ(rig.width, 320u);
    }
}

}  // namespace
