// RTP captures made by ffmpeg and GStreamer from libx264 streams go through the depacketiser and the
// decoder as the stream clients drive them: the reassembled units must be the encoder's units byte
// for byte, and the published NV12 pictures ffmpeg's own decode of the same stream.
#include <gtest/gtest.h>

#include "Core/ImageSlots.h"
#include "Video/H264Stream.h"
#include "Video/H264TestStreams.h"
#include "Video/VideoDecoder.h"

using namespace videotest;

namespace {

// The renderer's part: frees the slots their owner released.
void freeReleasedSlots(ImageSlotTable* slots) {
    for (i32 i = 0; i < kImageSlotCount; ++i) {
        if (slots->slots[i].releaseRequested) {
            slots->used[i / 64] &= ~(u64(1) << (i % 64));
            slots->slots[i] = ImageSlot{};
        }
    }
}

struct Received {
    std::vector<Bytes> units;     // every unit handed out, split at its start codes
    std::vector<Bytes> pictures;  // every picture handed on to be shown, NV12
    u32 published = 0;            // pictures registered as image slots
    u32 width = 0;
    u32 height = 0;
    std::string error;
};

struct Client {
    i32 claimedWidth = 0;   // > 0: the sizes a broken SPS would claim, in place of the SPS's
    i32 claimedHeight = 0;
    bool keepsSizes = true; // false: the client never tells the decoder the SPS sizes
};

// Runs the packets through the depacketiser and the decoder as a stream client does, one application
// frame per packet.
Received receive(std::vector<RtpPacket> packets, Client client = {}) {
    Received r;
    auto stream = std::make_unique<H264StreamState>();
    auto decoder = std::unique_ptr<VideoDecoder>(new VideoDecoder{});
    auto slots = std::make_unique<ImageSlotTable>();
    initializeH264Decoder(decoder.get());
    EXPECT_EQ(std::string(decoder->error.text, decoder->error.length), "");
    // Every picture the decoder hands on to be shown (no worker thread: it decodes inside the output
    // step), and the size of the newest one published.
    decoder->pictureShown = [](void* context, const VideoPicture* picture) {
        ((Received*)context)->pictures.emplace_back(picture->pixels,
                                                    picture->pixels + (size_t)picture->width * picture->height * 3 / 2);
    };
    decoder->pictureShownContext = &r;
    u32 published = 0;
    auto collect = [&] {
        if (decoder->picturesPublished == published) return;
        published = decoder->picturesPublished;
        ImageSlot* slot = getImageSlot(slots.get(), (i32)decoder->imageSlotId);
        if (!slot) return;
        r.width = slot->width;
        r.height = slot->height;
        freeReleasedSlots(slots.get());
    };
    for (RtpPacket& p : packets) {
        H264NalUnit unit =
            convertPacketTransportNalUnit(p.bytes.data(), p.payloadOffset, p.payloadEnd, stream.get(), p.sequence);
        if (parseSequenceParameterSet(unit, stream.get()) && client.keepsSizes) {
            decoder->width = client.claimedWidth ? client.claimedWidth : (i32)stream->width;
            decoder->height = client.claimedHeight ? client.claimedHeight : (i32)stream->height;
            decoder->stride = (i32)stream->codedWidth;
            decoder->codedHeight = (i32)stream->codedHeight;
        }
        if (unit.length) {
            std::vector<Bytes> split = splitAnnexB(unit.bytes, (size_t)unit.length);
            r.units.insert(r.units.end(), split.begin(), split.end());
        }
        processH264BytestreamNalu(unit.bytes, unit.length, slots.get());
        collect();
        processH264DecoderOutput(slots.get());
        collect();
    }
    // The stream ends: the pictures held back for reordering come out.
    endH264Stream(slots.get());
    for (int i = 0; i < 20; ++i) {
        processH264DecoderOutput(slots.get());
        collect();
    }
    r.error.assign(decoder->error.text, decoder->error.length);
    r.published = decoder->picturesPublished;
    closeVideoDecoder(decoder.get());
    return r;
}

// The units of the encoder's file, without the access unit delimiters GStreamer's parser adds.
std::vector<Bytes> withoutDelimiters(std::vector<Bytes> units) {
    std::erase_if(units, [](const Bytes& u) { return u.empty() || (u[0] & 0x1F) == 9; });
    return units;
}

std::vector<Bytes> frames(const Bytes& nv12, int w, int h) { return nv12Pictures(nv12, w, h); }

struct StreamCase {
    const char* name;
    int width;
    int height;
    int frameCount;
    const char* x264;
    int mtu;
};

class H264Peers : public ::testing::TestWithParam<StreamCase> {};

TEST_P(H264Peers, CapturesReassembleToTheEncodersUnitsAndDecodeToFfmpegsPictures) {
    StreamCase c = GetParam();
    TempFolder folder("h264");
    std::string h264 = folder.file("s.h264"), nv12 = folder.file("s.nv12");
    ASSERT_TRUE(encodeTestPattern(h264, c.width, c.height, c.frameCount, c.x264));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    Bytes file = readFile(h264);
    std::vector<Bytes> encoded = withoutDelimiters(splitAnnexB(file.data(), file.size()));
    std::vector<Bytes> reference = frames(readFile(nv12), c.width, c.height);
    ASSERT_EQ((int)reference.size(), c.frameCount);

    for (bool gstreamer : {true, false}) {
        SCOPED_TRACE(gstreamer ? "GStreamer" : "ffmpeg");
        std::string rtp = folder.file(gstreamer ? "g.rtp" : "f.rtp");
        ASSERT_TRUE(gstreamer ? gstreamerCapture(h264, rtp, c.mtu) : ffmpegCapture(h264, rtp, c.mtu));
        std::vector<RtpPacket> packets = readCapture(rtp);
        ASSERT_GT(packets.size(), encoded.size());  // small packets: units come in fragments
        Received r = receive(packets);
        EXPECT_EQ(r.error, "");
        EXPECT_TRUE(withoutDelimiters(r.units) == encoded) << r.units.size() << " units, " << encoded.size() << " sent";
        EXPECT_EQ(r.width, (u32)c.width);
        EXPECT_EQ(r.height, (u32)c.height);
        ASSERT_EQ(r.pictures.size(), reference.size());
        for (size_t i = 0; i < reference.size(); ++i) EXPECT_TRUE(r.pictures[i] == reference[i]) << "picture " << i;

        if (!gstreamer) continue;
        bool aggregated = false;
        for (const RtpPacket& p : packets) aggregated |= (p.bytes[p.payloadOffset] & 0x1F) == 24;
        EXPECT_TRUE(aggregated) << "GStreamer sent no STAP-A";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, H264Peers,
    ::testing::Values(
        StreamCase{"CroppedHighProfile1080p", 1920, 1080, 3, "-pix_fmt yuv420p -profile:v high -bf 0", 1400},
        StreamCase{"OddSizeBaselineThreeSlices", 350, 198, 6,
                   "-pix_fmt yuv420p -profile:v baseline -x264-params slices=3", 200},
        StreamCase{"OddSizeMainCabac", 722, 406, 4, "-pix_fmt yuv420p -profile:v main -bf 0", 600},
        // Pictures in display order, the last two held for reordering until the stream ends.
        StreamCase{"MainBFramesInDisplayOrder", 320, 240, 14, "-pix_fmt yuv420p -profile:v main -bf 2 -g 12", 1000}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// ffmpeg's planar decode brought to NV12 by keeping the chroma sample at each even row and column,
// and samples of deeper than 8 bits (two bytes each) by keeping their 8 high bits.
Bytes nv12FromPlanar(const Bytes& planar, int w, int h, int chromaWidth, int chromaHeight, int depth) {
    int bytes = depth > 8 ? 2 : 1;
    auto sample = [&](size_t index) {
        return bytes == 1 ? planar[index] : (u8)((planar[2 * index] | planar[2 * index + 1] << 8) >> (depth - 8));
    };
    Bytes out;
    for (size_t i = 0; i < (size_t)w * h; ++i) out.push_back(sample(i));
    size_t cb = (size_t)w * h;
    size_t cr = cb + (size_t)chromaWidth * chromaHeight;
    int columnStep = chromaWidth == w ? 2 : 1;
    int rowStep = chromaHeight == h ? 2 : 1;
    for (int row = 0; row < h / 2; ++row) {
        for (int c = 0; c < w / 2; ++c) {
            size_t at = (size_t)row * rowStep * chromaWidth + (size_t)c * columnStep;
            out.push_back(sample(cb + at));
            out.push_back(sample(cr + at));
        }
    }
    return out;
}

TEST(H264Pictures, FourTwoTwoFourFourFourGreyAndDeepStreamsShowAsNv12OfTheirOwnSamples) {
    struct Layout {
        const char* x264;
        int chromaWidth, chromaHeight;  // of ffmpeg's own decode, in the decoder's format
        int depth;
    };
    const int w = 350, h = 198;
    for (Layout l : {Layout{"-pix_fmt yuv422p -profile:v high422", w / 2, h, 8},
                     Layout{"-pix_fmt yuv444p -profile:v high444", w, h, 8},
                     Layout{"-pix_fmt gray -profile:v high", w / 2, h / 2, 8},
                     Layout{"-pix_fmt yuv420p10le -profile:v high10", w / 2, h / 2, 10},
                     Layout{"-pix_fmt yuv444p10le -profile:v high444", w, h, 10}}) {
        SCOPED_TRACE(l.x264);
        TempFolder folder("h264");
        std::string h264 = folder.file("s.h264"), raw = folder.file("s.yuv"), rtp = folder.file("g.rtp");
        ASSERT_TRUE(encodeTestPattern(h264, w, h, 2, std::string(l.x264) + " -bf 0"));
        ASSERT_TRUE(run("ffmpeg -hide_banner -nostdin -y -i '" + h264 + "' -f rawvideo '" + raw + "'"));
        ASSERT_TRUE(gstreamerCapture(h264, rtp, 1400));
        Bytes planar = readFile(raw);
        size_t frameSize = ((size_t)w * h + 2 * (size_t)l.chromaWidth * l.chromaHeight) * (l.depth > 8 ? 2 : 1);
        ASSERT_EQ(planar.size(), 2 * frameSize);
        Received r = receive(readCapture(rtp));
        ASSERT_EQ(r.pictures.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            Bytes one(planar.begin() + (long)(i * frameSize), planar.begin() + (long)((i + 1) * frameSize));
            EXPECT_TRUE(r.pictures[i] == nv12FromPlanar(one, w, h, l.chromaWidth, l.chromaHeight, l.depth))
                << "picture " << i;
        }
    }
}

TEST(H264Faults, LostFragmentDropsItsUnitOnlyAndOversizedSpsClaimsOrAMissingSpsAreSafe) {
    TempFolder folder("h264");
    std::string h264 = folder.file("s.h264"), nv12 = folder.file("s.nv12"), rtp = folder.file("g.rtp");
    ASSERT_TRUE(encodeTestPattern(h264, 350, 198, 3, "-pix_fmt yuv420p -profile:v baseline"));
    ASSERT_TRUE(decodeToNv12(h264, nv12));
    ASSERT_TRUE(gstreamerCapture(h264, rtp, 300));
    Bytes file = readFile(h264);
    std::vector<Bytes> encoded = withoutDelimiters(splitAnnexB(file.data(), file.size()));
    std::vector<Bytes> reference = frames(readFile(nv12), 350, 198);
    std::vector<RtpPacket> packets = readCapture(rtp);

    // A middle fragment lost: its unit is dropped, every other unit arrives whole.
    std::vector<RtpPacket> lossy = packets;
    size_t middle = 0;
    for (size_t i = 0; i < lossy.size() && !middle; ++i) {
        const RtpPacket& p = lossy[i];
        if ((p.bytes[p.payloadOffset] & 0x1F) == 28 && !(p.bytes[p.payloadOffset + 1] & 0xC0)) middle = i;
    }
    ASSERT_GT(middle, 0u);
    lossy.erase(lossy.begin() + (long)middle);
    std::vector<Bytes> units = withoutDelimiters(receive(lossy).units);
    ASSERT_EQ(units.size() + 1, encoded.size());
    size_t lost = 0;
    while (lost < units.size() && units[lost] == encoded[lost]) ++lost;
    encoded.erase(encoded.begin() + (long)lost);
    EXPECT_TRUE(units == encoded);

    // Sizes claimed beyond the picture are cut to the picture.
    Received claimed = receive(packets, Client{4096, 2304, true});
    EXPECT_EQ(claimed.width, 350u);
    EXPECT_EQ(claimed.height, 198u);
    EXPECT_TRUE(claimed.pictures == reference);

    // Without the SPS sizes nothing is published, not even an empty image.
    Received unsized = receive(packets, Client{0, 0, false});
    EXPECT_EQ(unsized.published, 0u);
    EXPECT_EQ(unsized.width, 0u);
}

}  // namespace
