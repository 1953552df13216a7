// The frame's own video work while a 1080p30 RTSP stream plays at its own pace: every 16.7 ms frame
// takes the RTP packets that arrived since the last one (each picture's in one frame, as a camera
// sends them), the reorder window's expiry and the decoder output step, and the time of that work is
// measured on the frame's thread (wall clock). Two sides take turns, the one that goes first changing
// every iteration: "worker" decodes on the decode worker thread as the program does, "in_frame"
// decodes inside the frame (no worker thread). Counters per side: the median, 95th percentile and
// longest frame in microseconds, and the pictures shown per stream played. The stream (libx264 high
// profile, no B-frames, an IDR picture every 30, made by ffmpeg with GStreamer's payloader, 1400-byte
// packets) is made when the benchmark starts; ffmpeg and gst-launch-1.0 must be installed. The
// processor is printed with the context.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Core/ImageSlots.h"
#include "Core/Preferences.h"
#include "Video/H264Stream.h"
#include "Video/RtspVideoStream.h"
#include "Video/VideoDecoder.h"

namespace {

constexpr int kPictures = 90;
constexpr i64 kFrameMicros = 16667;

struct Packet {
    std::vector<u8> bytes;
};

std::vector<u8> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The packets of each picture (the file gives the payloader no times: the marker bits tell them
// apart).
const std::vector<std::vector<Packet>>& pictures() {
    static std::vector<std::vector<Packet>> made = [] {
        std::vector<std::vector<Packet>> out;
        char folder[] = "/tmp/orvik-videoframe-XXXXXX";
        if (!mkdtemp(folder)) return out;
        std::string dir = folder;
        std::string encode = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=1920x1080:rate=30 "
                             "-frames:v " + std::to_string(kPictures) +
                             " -pix_fmt yuv420p -c:v libx264 -profile:v high -bf 0 -g 30 -f h264 " + dir + "/s.h264";
        std::string pay = "gst-launch-1.0 -q filesrc location=" + dir +
                          "/s.h264 ! h264parse ! video/x-h264,stream-format=byte-stream,alignment=au ! "
                          "rtph264pay mtu=1400 config-interval=-1 ! rtpstreampay ! filesink location=" + dir + "/s.rtp";
        if (std::system(encode.c_str()) == 0 && std::system(pay.c_str()) == 0) {
            std::vector<u8> capture = readAll(dir + "/s.rtp");
            for (size_t at = 0; at + 2 <= capture.size();) {
                size_t length = (size_t)capture[at] << 8 | capture[at + 1];
                at += 2;
                if (length < 12 || at + length > capture.size()) break;
                Packet p;
                p.bytes.assign(capture.begin() + (long)at, capture.begin() + (long)(at + length));
                // The marker bit ends each picture's packets.
                if (out.empty() || (out.back().back().bytes[1] & 0x80)) out.emplace_back();
                out.back().push_back(std::move(p));
                at += length;
            }
        }
        std::system(("rm -rf " + dir).c_str());
        return out;
    }();
    return made;
}

void freeReleasedSlots(ImageSlotTable* slots) {
    for (i32 i = 0; i < kImageSlotCount; ++i) {
        if (slots->slots[i].releaseRequested) {
            slots->used[i / 64] &= ~(u64(1) << (i % 64));
            slots->slots[i] = ImageSlot{};
        }
    }
}

struct Side {
    const char* name;
    bool worker;
    std::vector<double> frameMicros;
    i64 shown = 0;
    i64 plays = 0;
};

// Plays the stream once at its pace, timing each frame's video work.
bool play(Side* side, VideoDecoder* decoder, ImageSlotTable* slots) {
    auto h264 = std::make_unique<H264StreamState>();
    auto rtsp = std::make_unique<RtspVideoStream>();
    Preferences preferences{};
    initializeH264Decoder(decoder);
    if (!decoder->ready) return false;
    std::thread worker;
    if (side->worker) {
        attachVideoDecodeWorker(decoder);
        worker = std::thread([decoder] { runVideoDecodeWorker(decoder); });
    }
    u32 publishedBefore = decoder->picturesPublished;
    const std::vector<std::vector<Packet>>& stream = pictures();
    std::vector<std::vector<Packet>> packets = stream;  // the depacketiser writes into them
    auto start = std::chrono::steady_clock::now();
    i64 frames = (i64)packets.size() * 2 + 30;  // and half a second for the last pictures
    for (i64 frame = 0; frame < frames; ++frame) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(frame * kFrameMicros));
        i64 now = 1000000 + frame * kFrameMicros;
        auto begin = std::chrono::steady_clock::now();
        if (frame % 2 == 0 && (size_t)(frame / 2) < packets.size()) {
            for (Packet& p : packets[(size_t)(frame / 2)]) {
                handleRtpDatagram(rtsp.get(), p.bytes.data(), (i64)p.bytes.size(), h264.get(), nullptr, nullptr,
                                  &preferences, slots, now);
            }
        }
        expireRtpVideo(rtsp.get(), h264.get(), slots, now);
        processH264DecoderOutput(slots);
        auto end = std::chrono::steady_clock::now();
        side->frameMicros.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
        freeReleasedSlots(slots);
    }
    if (side->worker) {
        stopVideoDecodeWorker(decoder);
        worker.join();
    }
    side->shown += decoder->picturesPublished - publishedBefore;
    side->plays++;
    closeVideoDecoder(decoder);
    return true;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, (size_t)(p * (double)(values.size() - 1) + 0.5))];
}

void FrameVideoWorkWhile1080p30Plays(benchmark::State& state) {
    if (pictures().size() != (size_t)kPictures) {
        state.SkipWithError("could not make the stream (ffmpeg, gst-launch-1.0)");
        return;
    }
    auto decoder = std::unique_ptr<VideoDecoder>(new VideoDecoder{});
    auto slots = std::make_unique<ImageSlotTable>();
    Side sides[2] = {{"worker", true, {}, 0, 0}, {"in_frame", false, {}, 0, 0}};
    i64 iteration = 0;
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k) {
            Side* side = &sides[(k + iteration) % 2];
            if (!play(side, decoder.get(), slots.get())) {
                state.SkipWithError("the decoder did not open");
                return;
            }
        }
        iteration++;
    }
    for (Side& side : sides) {
        std::string name = side.name;
        state.counters[name + "_p50_us"] = percentile(side.frameMicros, 0.5);
        state.counters[name + "_p95_us"] = percentile(side.frameMicros, 0.95);
        state.counters[name + "_max_us"] = percentile(side.frameMicros, 1.0);
        state.counters[name + "_shown"] = side.plays ? (double)side.shown / (double)side.plays : 0;
    }
}

BENCHMARK(FrameVideoWorkWhile1080p30Plays)->Unit(benchmark::kSecond)->Iterations(3);

std::string processorName() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::AddCustomContext("processor", processorName());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
