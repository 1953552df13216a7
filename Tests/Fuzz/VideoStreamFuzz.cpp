// The video stream clients' input over arbitrary bytes: RTSP replies gathered from chunks of any
// size in every client state, RTP and RTCP datagrams, and Qv datagrams, each in a buffer of exactly
// its size, then the reorder windows' expiry and a receiver report. The input is a series of
// records: kind (1 byte: low 2 bits 0 reply, 1 RTP, 2 RTCP, 3 Qv; for replies the next bits give
// the client state, and the first byte of the record the chunk size; for datagrams bit 7 opens the
// decoder anew before it), length (2 bytes, big-endian), bytes. The units go on to the program's
// decoder (gathering into access units and the ring they are handed over in, the parameter sets
// the worker keeps) with the platform decoder closed, so nothing is decoded; when the stream ends no
// parameter set of it is left. The Qv video payloads also go through a relay whose datagrams are
// checked: the payload last and whole, numbered in turn after the parameter sets added in front of
// it, each an SPS or PPS.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Core/Preferences.h"
#include "Network/SendQueue.h"
#include "Video/RtspVideoStream.h"
#include "Video/VideoDecoder.h"

static RtspVideoStream rtsp;
static QvVideoStream qv;
static H264StreamState h264;
static Preferences preferences;
static VideoDecoder* decoder = [] {
    VideoDecoder* d = new VideoDecoder{};
    initializeH264Decoder(d);
    closeH264Decoder(&d->work.decoder);  // units are gathered and handed over, never decoded
    d->ready = 1;
    return d;
}();

static void fail(int line) {
    fprintf(stderr, "VideoStreamFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static VideoRelay relay;
struct RelayedDatagram {
    u16 number;
    std::vector<u8> payload;
};
static std::vector<RelayedDatagram> relayed;

static void takeRelayed(void*, const ByteWriter* datagram) {
    check(datagram->length >= 3 && datagram->length <= kPacketSlotBytes && datagram->data[0] == kQvVideo);
    relayed.push_back({(u16)(datagram->data[1] << 8 | datagram->data[2]),
                       std::vector<u8>(datagram->data + 3, datagram->data + datagram->length)});
}

// One Qv video payload through the checked relay.
static void relayChecked(const std::vector<u8>& bytes) {
    if (bytes.size() < 3 || bytes[0] != kQvVideo) return;
    u16 sequence = (u16)(bytes[1] << 8 | bytes[2]);
    relayed.clear();
    u16 added = relay.added;
    relayVideoPayload(&relay, sequence, bytes.data() + 3, (i64)bytes.size() - 3, takeRelayed, nullptr);
    if (bytes.size() - 3 + 3 > (size_t)kPacketSlotBytes) {
        check(relayed.size() == (size_t)(u16)(relay.added - added));  // only the sets: the payload does not fit
        return;
    }
    check(!relayed.empty() && relayed.back().payload == std::vector<u8>(bytes.begin() + 3, bytes.end()));
    size_t sets = relayed.size() - 1;
    check(sets == (size_t)(u16)(relay.added - added));
    for (size_t i = 0; i < sets; i++) {
        check(!relayed[i].payload.empty());
        u32 type = relayed[i].payload[0] & 0x1F;
        check(type == NalSps || type == NalPps);
        check(relayed[i].number == (u16)(sequence + added + i));
    }
    if (sets) check(relayed.back().number == (u16)(sequence + relay.added));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rtsp = RtspVideoStream{};
    qv = QvVideoStream{};
    startVideoRelay(&relay, nullptr, 0);
    std::memset(&h264, 0, offsetof(H264StreamState, fragmentBuffer));
    i64 now = 1000000;
    size_t at = 0;
    while (at + 3 <= size) {
        u8 kind = data[at];
        size_t length = (size_t)data[at + 1] << 8 | data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        std::vector<u8> bytes(data + at, data + at + length);
        at += length;
        now += 1000;
        // A datagram whose kind has bit 7 set comes to a decoder that has just opened: it is given the
        // stream's sizes and kept parameter sets first.
        if ((kind & 3) != 0 && (kind & 0x80)) decoder->joinedStream = 0;
        switch (kind & 3) {
        case 0: {
            rtsp.state = (kind >> 2) % 9;
            // Chunks of 1 to 256 bytes, each in a buffer of its own size.
            size_t chunk = bytes.empty() ? 1 : (size_t)bytes[0] + 1;
            for (size_t from = 0; from < bytes.size(); from += chunk) {
                std::vector<u8> part(bytes.begin() + (long)from, bytes.begin() + (long)std::min(bytes.size(), from + chunk));
                gatherRtspReplies(&rtsp, part.data(), (i64)part.size(), now);
                check(rtsp.replyLength >= 0 && rtsp.replyLength <= kRtspReplyCapacity);
                check(rtsp.replySkip >= 0);
            }
            check(rtsp.state >= 0 && rtsp.state <= 8);
            check(rtsp.parameterSetLength >= 0 && rtsp.parameterSetLength <= kRtspParameterSetBytes);
            check(rtsp.redirects >= 0 && rtsp.redirects <= kRtspRedirectLimit);
            break;
        }
        case 1:
            handleRtpDatagram(&rtsp, bytes.data(), (i64)bytes.size(), &h264, nullptr, nullptr, &preferences,
                              nullptr, now);
            break;
        case 2:
            handleRtcpDatagram(&rtsp, bytes.data(), (i64)bytes.size(), now);
            break;
        default:
            relayChecked(bytes);
            handleQvDatagram(&qv, bytes.data(), (u32)bytes.size(), &h264, nullptr, nullptr, &preferences,
                             nullptr, now);
            check(qv.relayingAppText.length <= kFixedStringCapacity);
            break;
        }
        check(rtsp.sourceCount >= 0 && rtsp.sourceCount <= kRtpSourceCapacity);
        check(rtsp.stats.packetsLost >= 0 && qv.stats.packetsLost >= 0);
    }
    expireRtpVideo(&rtsp, &h264, nullptr, now + kReorderWait);
    expireQvVideo(&qv, &h264, nullptr, now + kReorderWait);
    check(rtsp.reorder.held == 0 && qv.reorder.held == 0);
    check(h264.kept.length >= 0 && h264.kept.length <= kH264ParameterSetsCapacity);
    check(decoder->work.parameterSets.length >= 0 && decoder->work.parameterSets.length <= kH264ParameterSetsCapacity);
    endVideoStream(&h264, nullptr);
    processH264DecoderOutput(nullptr);
    check(videoDecoderIdle(decoder));
    // The stream's parameter sets are not handed to the next one.
    check(h264.kept.length == 0 && decoder->work.parameterSets.length == 0);
    check(decoder->accessUnit.length >= 0 && decoder->accessUnit.length <= decoder->accessUnit.capacity);
    check(decoder->unitsWritten.load() - decoder->unitsRead.load() == 0);
    u8 report[6000];
    ByteWriter writer = makeByteWriter(report, sizeof(report));
    i64 written = writeReceiverReport(&rtsp, &writer, now);
    check(!writer.overflow);
    check(written >= 8 && written <= 8 + 24 * kRtcpReportBlocksMax);
    check(written == 4 * (1 + ((report[2] << 8) | report[3])));
    return 0;
}
