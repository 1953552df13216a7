// Depacketising and decoding a 1080p RTP stream the way the product does, beside libavcodec decoding
// the same stream on one thread ("ratio_libavcodec": libavcodec's time over ours, per stream). The
// stream (libx264, no B-frames, as cameras send) and its RTP capture (GStreamer, 1400-byte packets,
// the marker bit on each picture's last packet) are made when the benchmark starts; ffmpeg and
// gst-launch-1.0 must be installed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "Benchmarks/ReferenceRatio.h"
#include "Core/ImageSlots.h"
#include "Core/Preferences.h"
#include "Video/H264Stream.h"
#include "Video/RtspVideoStream.h"
#include "Video/VideoDecoder.h"

namespace {

constexpr int kFrames = 60;

struct Packet {
    std::vector<u8> bytes;
    long payloadOffset;
    u16 sequence;
};

struct Stream {
    std::vector<u8> annexB;
    std::vector<Packet> packets;
};

std::vector<u8> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const Stream& stream() {
    static Stream s = [] {
        Stream made;
        char folder[] = "/tmp/orvik-videobench-XXXXXX";
        if (!mkdtemp(folder)) return made;
        std::string dir = folder;
        std::string encode = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=30 "
                             "-frames:v " + std::to_string(kFrames) +
                             " -pix_fmt yuv420p -c:v libx264 -profile:v high -bf 0 -f h264 " + dir + "/s.h264";
        std::string pay = "gst-launch-1.0 -q filesrc location=" + dir +
                          "/s.h264 ! h264parse ! video/x-h264,stream-format=byte-stream,alignment=au ! "
                          "rtph264pay mtu=1400 aggregate-mode=zero-latency ! rtpstreampay ! filesink location=" +
                          dir + "/s.rtp";
        if (std::system(encode.c_str()) == 0 && std::system(pay.c_str()) == 0) {
            made.annexB = readAll(dir + "/s.h264");
            std::vector<u8> capture = readAll(dir + "/s.rtp");
            for (size_t at = 0; at + 2 <= capture.size();) {
                size_t length = (size_t)capture[at] << 8 | capture[at + 1];
                at += 2;
                if (length < 12 || at + length > capture.size()) break;
                Packet p;
                p.bytes.assign(capture.begin() + (long)at, capture.begin() + (long)(at + length));
                p.payloadOffset = 12 + 4 * (p.bytes[0] & 15);
                p.sequence = (u16)(p.bytes[2] << 8 | p.bytes[3]);
                made.packets.push_back(std::move(p));
                at += length;
            }
        }
        std::system(("rm -rf " + dir).c_str());
        return made;
    }();
    return s;
}

void freeReleasedSlots(ImageSlotTable* slots) {
    for (i32 i = 0; i < kImageSlotCount; ++i) {
        if (slots->slots[i].releaseRequested) {
            slots->used[i / 64] &= ~(u64(1) << (i % 64));
            slots->slots[i] = ImageSlot{};
        }
    }
}

// The product's path over the whole stream: every RTP packet through the RTSP client's intake
// (reorder window, depacketiser, the SPS, the parameter sets kept, access units ended by the marker
// bit), and after each picture's last packet one output step, as the application update takes one
// picture a frame. Without a worker thread the output step does the decode worker's part itself:
// the same work on the caller's thread. Returns the pictures shown.
u32 decodeAsTheProductDoes(const std::vector<Packet>& recorded, std::vector<Packet>* packets, H264StreamState* h264,
                           RtspVideoStream* rtsp, VideoDecoder* decoder, ImageSlotTable* slots) {
    closeVideoDecoder(decoder);
    *h264 = H264StreamState{};
    *rtsp = RtspVideoStream{};
    initializeH264Decoder(decoder);
    // The depacketiser writes start codes into the packets: each run gets them as they came.
    for (size_t i = 0; i < recorded.size(); ++i) (*packets)[i].bytes = recorded[i].bytes;
    Preferences preferences{};
    u32 before = decoder->picturesPublished;
    for (Packet& p : *packets) {
        handleRtpDatagram(rtsp, p.bytes.data(), (i64)p.bytes.size(), h264, nullptr, nullptr, &preferences, slots, 0);
        if (p.bytes[1] & 0x80) {
            processH264DecoderOutput(slots);
            freeReleasedSlots(slots);
        }
    }
    expireRtpVideo(rtsp, h264, slots, kReorderWait + 1);
    endRtpVideo(rtsp, h264, slots);
    processH264DecoderOutput(slots);
    freeReleasedSlots(slots);
    return decoder->picturesPublished - before;
}

// libavcodec on one thread over the same stream: whole access units from its own parser, pictures
// left in the library's frames. Returns the pictures decoded.
u32 decodeWithLibavcodec(const std::vector<u8>& input, size_t length, AVPacket* packet, AVFrame* frame) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecParserContext* parser = av_parser_init(codec->id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    u32 pictures = 0;
    const u8* at = input.data();
    int left = (int)length;
    for (;;) {
        // Called with no input left, the parser gives out the last access unit it holds.
        bool flushing = left == 0;
        int used = av_parser_parse2(parser, context, &packet->data, &packet->size, at, left, AV_NOPTS_VALUE,
                                    AV_NOPTS_VALUE, 0);
        at += used;
        left -= used;
        if (packet->size) {
            avcodec_send_packet(context, packet);
            while (avcodec_receive_frame(context, frame) == 0) ++pictures;
        }
        if (flushing && !packet->size) break;
    }
    avcodec_send_packet(context, nullptr);
    while (avcodec_receive_frame(context, frame) == 0) ++pictures;
    av_parser_close(parser);
    avcodec_free_context(&context);
    return pictures;
}

// Time per stream of kFrames pictures, ours beside libavcodec's; both must give every picture.
void DecodeStreamBesideLibavcodec(benchmark::State& state) {
    const Stream& s = stream();
    if (s.packets.empty() || s.annexB.empty()) {
        state.SkipWithError("could not make the stream (ffmpeg, gst-launch-1.0)");
        return;
    }
    auto h264 = std::make_unique<H264StreamState>();
    auto rtsp = std::make_unique<RtspVideoStream>();
    auto decoder = std::unique_ptr<VideoDecoder>(new VideoDecoder{});
    auto slots = std::make_unique<ImageSlotTable>();
    std::vector<Packet> packets = s.packets;
    std::vector<u8> input = s.annexB;
    input.resize(s.annexB.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    compareSides(state, {{"ours",
                          [&] {
                              return decodeAsTheProductDoes(s.packets, &packets, h264.get(), rtsp.get(),
                                                            decoder.get(), slots.get()) == (u32)kFrames;
                          }},
                         {"libavcodec",
                          [&] { return decodeWithLibavcodec(input, s.annexB.size(), packet, frame) == (u32)kFrames; }}});
    closeVideoDecoder(decoder.get());
    av_frame_free(&frame);
    av_packet_free(&packet);
}

// The RTSP client's path from the last RTP packet of a frame (its marker bit set) to that frame's
// picture in the image slot: each timed step is one such packet and the output step after it. The
// packets before it go in untimed. "same_frame" is 1 when every timed packet produced its picture.
void RtspLastPacketToPicture(benchmark::State& state) {
    const Stream& s = stream();
    if (s.packets.empty()) {
        state.SkipWithError("could not make the stream (ffmpeg, gst-launch-1.0)");
        return;
    }
    auto h264 = std::make_unique<H264StreamState>();
    auto rtsp = std::make_unique<RtspVideoStream>();
    auto decoder = std::unique_ptr<VideoDecoder>(new VideoDecoder{});
    auto slots = std::make_unique<ImageSlotTable>();
    Preferences preferences{};
    std::vector<Packet> packets = s.packets;
    size_t next = packets.size();
    u64 timed = 0, late = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (next >= packets.size()) {
            closeVideoDecoder(decoder.get());
            *h264 = H264StreamState{};
            *rtsp = RtspVideoStream{};  // the packets' numbers start again
            initializeH264Decoder(decoder.get());
            next = 0;
        }
        // Up to the frame's last packet.
        while (next < packets.size() && !(packets[next].bytes[1] & 0x80)) {
            Packet& p = packets[next++];
            handleRtpDatagram(rtsp.get(), p.bytes.data(), (i64)p.bytes.size(), h264.get(), nullptr, nullptr,
                              &preferences, slots.get(), 0);
            processH264DecoderOutput(slots.get());
            freeReleasedSlots(slots.get());
        }
        if (next >= packets.size()) {
            state.ResumeTiming();
            continue;
        }
        Packet& last = packets[next++];
        u32 before = decoder->picturesPublished;
        state.ResumeTiming();
        handleRtpDatagram(rtsp.get(), last.bytes.data(), (i64)last.bytes.size(), h264.get(), nullptr, nullptr,
                          &preferences, slots.get(), 0);
        processH264DecoderOutput(slots.get());
        state.PauseTiming();
        timed++;
        if (decoder->picturesPublished == before) late++;
        freeReleasedSlots(slots.get());
        state.ResumeTiming();
    }
    closeVideoDecoder(decoder.get());
    state.counters["same_frame"] = timed && !late ? 1 : 0;
}

}  // namespace

BENCHMARK(RtspLastPacketToPicture)->Unit(benchmark::kMillisecond)->Iterations(kFrames - 1);
BENCHMARK(DecodeStreamBesideLibavcodec)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
