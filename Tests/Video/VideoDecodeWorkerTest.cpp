// The decode worker falling behind: while it does not run, the frames go on gathering access units
// into its ring until the ring is full; the pictures that find no room are dropped, counted and named
// in the status line, and once the worker runs again the pictures it was given and those from the
// next IDR picture on are ffmpeg's, none missing.
#include <gtest/gtest.h>

#include "Video/H264TestStreams.h"
#include "Video/VideoStreamRig.h"

using namespace videotest;

namespace {

TEST(VideoDecodeWorker, PicturesWithoutRoomWhileItIsBehindAreDroppedAndCountedAndTheNextIdrShowsAgain) {
    TempFolder folder("behind");
    std::string h264 = folder.file("s.h264"), rtp = folder.file("s.rtp"), nv12 = folder.file("s.nv12");
    const int frames = 100, stalled = 80;  // the worker runs again before picture 80, an IDR picture
    ASSERT_TRUE(gstreamerEncodeAndCapture("x264enc key-int-max=10 bframes=0 threads=1 option-string=scenecut=0", frames,
                                          h264, rtp));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    std::vector<Bytes> full = nv12Pictures(readFile(nv12), 320, 240);
    ASSERT_EQ(full.size(), (size_t)frames);
    std::vector<RtpPacket> packets = readCapture(rtp);

    auto rig = std::make_unique<VideoRig>(false);
    rig->keepPictures = true;
    i64 now = 1000000;
    int pictures = 0;
    for (RtpPacket& packet : packets) {
        if (pictures == stalled && !rig->worker.joinable()) {
            rig->startWorker();
            rig->collect();  // it catches up before the IDR picture's first packet
        }
        now += 1000;
        handleRtpDatagram(&rig->rtsp, packet.bytes.data(), (i64)packet.bytes.size(), &rig->h264, nullptr, nullptr,
                          &rig->preferences, &rig->slots, now);
        if (packet.bytes[1] & 0x80) ++pictures;  // the marker bit ends a picture
        if (rig->worker.joinable()) rig->collect();
    }
    expireRtpVideo(&rig->rtsp, &rig->h264, &rig->slots, now + kReorderWait + 1);
    endRtpVideo(&rig->rtsp, &rig->h264, &rig->slots);
    rig->collect();

    i64 dropped = stalled - (i64)kVideoAccessUnitSlots;
    EXPECT_EQ(rig->decoder->accessUnitsDroppedBehind, dropped);
    std::vector<std::vector<u8>> expected(full.begin(), full.begin() + kVideoAccessUnitSlots);
    expected.insert(expected.end(), full.begin() + stalled, full.end());
    ASSERT_EQ(rig->pictures.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(rig->pictures[i] == expected[i]) << "picture " << i;
    FixedString status = videoStatusWithNotes(makeString("Receiving"), &rig->rtsp.stats, &rig->rtp, &rig->h264);
    EXPECT_EQ(text(status), "Receiving; " + std::to_string(dropped) + " pictures dropped: the video decoder fell behind");
}

}  // namespace
