// H.264 streams for the video tests, made at test time by the real encoders: libx264 through ffmpeg
// (Annex-B files, NV12 reference decodes, RTP sent over loopback) and GStreamer's rtph264pay (RTP
// written to a file). Captures hold RTP packets, each behind a 2-byte big-endian length.
#pragma once
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Core/Types.h"
#include "Tests/Decoders/DecoderTestFiles.h"

namespace videotest {

using decodertest::Bytes;
using decodertest::TempFolder;
using decodertest::readFile;
using decodertest::writeFile;

inline bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// Encodes `frames` frames of ffmpeg's test pattern (testsrc2 moves more) at w x h with libx264 into an
// Annex-B file.
inline bool encodeTestPattern(const std::string& path, int w, int h, int frames, const std::string& options,
                              const std::string& source = "testsrc") {
    return run("ffmpeg -hide_banner -nostdin -y -f lavfi -i " + source + "=size=" + std::to_string(w) + "x" +
               std::to_string(h) + ":rate=25 -frames:v " + std::to_string(frames) + " -c:v libx264 " + options +
               " -f h264 '" + path + "'");
}

// Three 1920 x 1080 pictures, I P I, whose I pictures are about 600 kB (a fixed noise pattern over
// the test pattern).
inline bool encodeBigIPictures(const std::string& path) {
    return run("ffmpeg -hide_banner -nostdin -y -f lavfi -i 'testsrc2=size=1920x1080:rate=25,noise=alls=12' "
               "-frames:v 3 -c:v libx264 -pix_fmt yuv420p -profile:v high -bf 0 -g 2 -qp 28 -f h264 '" + path + "'");
}

// The largest NAL unit of an Annex-B file.
inline size_t largestUnit(const std::string& path);

// ffmpeg's own decode of an Annex-B file as NV12 frames, one after another.
inline bool decodeToNv12(const std::string& h264, const std::string& nv12) {
    return run("ffmpeg -hide_banner -nostdin -y -i '" + h264 + "' -f rawvideo -pix_fmt nv12 '" + nv12 + "'");
}

// GStreamer's payloader at the given MTU, with SPS/PPS aggregated into STAP-A packets (or, with
// aggregate "none", every unit in packets of its own) and sequence numbers starting just below the
// wrap.
inline bool gstreamerCapture(const std::string& h264, const std::string& rtp, int mtu,
                             const std::string& aggregate = "zero-latency") {
    return run("gst-launch-1.0 -q filesrc location='" + h264 +
               "' ! h264parse ! video/x-h264,stream-format=byte-stream,alignment=nal ! rtph264pay mtu=" +
               std::to_string(mtu) + " aggregate-mode=" + aggregate +
               " seqnum-offset=65530 ! rtpstreampay ! filesink location='" + rtp + "'");
}

// `frames` pictures of GStreamer's moving ball at 320 x 240 through a GStreamer encoder (element and
// properties), written both as an Annex-B file (access unit delimiters included) and, from the same
// encoding, as an RTP capture of rtph264pay with SPS and PPS sent before every IDR slice
// (config-interval=-1), as live senders do.
inline bool gstreamerEncodeAndCapture(const std::string& encoder, int frames, const std::string& h264,
                                      const std::string& rtp, int mtu = 1200) {
    return run("gst-launch-1.0 -q videotestsrc num-buffers=" + std::to_string(frames) +
               " pattern=ball ! video/x-raw,width=320,height=240,framerate=30/1 ! " + encoder +
               " ! h264parse ! video/x-h264,stream-format=byte-stream,alignment=au ! tee name=t t. ! queue ! "
               "filesink location='" + h264 + "' t. ! queue ! rtph264pay config-interval=-1 mtu=" +
               std::to_string(mtu) + " ! rtpstreampay ! filesink location='" + rtp + "'");
}

// The offsets of an Annex-B file's units of one type, each at its start code.
inline std::vector<size_t> nalUnitStarts(const Bytes& file, u32 type) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 4 < file.size(); ++i) {
        if (file[i] == 0 && file[i + 1] == 0 && file[i + 2] == 1 && (file[i + 3] & 0x1F) == type) {
            starts.push_back(i > 0 && file[i - 1] == 0 ? i - 1 : i);
            i += 3;
        }
    }
    return starts;
}

// The access units of an Annex-B file that begins each with a delimiter: their offsets.
inline std::vector<size_t> accessUnitStarts(const Bytes& file) { return nalUnitStarts(file, 9); }

// ffmpeg's RTP muxer sending to a loopback socket of the capture script.
inline bool ffmpegCapture(const std::string& h264, const std::string& rtp, int packetSize) {
    return run(std::string("/usr/bin/python3 '") + ORVIK_SOURCE_DIR + "/Tests/Video/rtp_capture.py' '" + h264 +
               "' '" + rtp + "' " + std::to_string(packetSize));
}

// One RTP packet with its payload's place in it.
struct RtpPacket {
    Bytes bytes;
    long payloadOffset;
    long payloadEnd;
    u16 sequence;
};

// A Qv video datagram carrying an RTP packet's payload.
inline Bytes qvDatagram(const RtpPacket& p) {
    Bytes d = {0xB8, (u8)(p.sequence >> 8), (u8)p.sequence};
    d.insert(d.end(), p.bytes.begin() + p.payloadOffset, p.bytes.begin() + p.payloadEnd);
    return d;
}

// ffmpeg's decode as NV12 pictures of w x h.
inline std::vector<Bytes> nv12Pictures(const Bytes& nv12, int w, int h) {
    std::vector<Bytes> out;
    size_t size = (size_t)w * h * 3 / 2;
    for (size_t at = 0; at + size <= nv12.size(); at += size) out.emplace_back(nv12.begin() + (long)at, nv12.begin() + (long)(at + size));
    return out;
}

inline std::vector<RtpPacket> readCapture(const std::string& path) {
    Bytes data = readFile(path);
    std::vector<RtpPacket> packets;
    size_t at = 0;
    while (at + 2 <= data.size()) {
        size_t length = (size_t)data[at] << 8 | data[at + 1];
        at += 2;
        if (length < 12 || at + length > data.size()) break;
        RtpPacket p;
        p.bytes.assign(data.begin() + (long)at, data.begin() + (long)(at + length));
        at += length;
        long offset = 12 + 4 * (p.bytes[0] & 15);
        if (p.bytes[0] & 0x10) offset += 4 + 4 * (p.bytes[offset + 2] << 8 | p.bytes[offset + 3]);
        long end = (long)p.bytes.size();
        if (p.bytes[0] & 0x20) end -= p.bytes[end - 1];
        p.payloadOffset = offset;
        p.payloadEnd = end;
        p.sequence = (u16)(p.bytes[2] << 8 | p.bytes[3]);
        packets.push_back(std::move(p));
    }
    return packets;
}

// The NAL units of Annex-B bytes, each without its start code (trailing zero bytes dropped).
inline std::vector<Bytes> splitAnnexB(const u8* bytes, size_t length) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < length; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<Bytes> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : length;
        while (end > starts[k] && bytes[end - 1] == 0) --end;
        units.emplace_back(bytes + starts[k], bytes + end);
    }
    return units;
}

// The largest receive buffer the system grants a socket (Linux), 0 when unknown.
inline long systemReceiveBufferMax() {
    Bytes text = readFile("/proc/sys/net/core/rmem_max");
    return text.empty() ? 0 : std::atol(std::string(text.begin(), text.end()).c_str());
}

inline size_t largestUnit(const std::string& path) {
    Bytes file = readFile(path);
    size_t largest = 0;
    for (const Bytes& unit : splitAnnexB(file.data(), file.size())) largest = std::max(largest, unit.size());
    return largest;
}

}  // namespace videotest
