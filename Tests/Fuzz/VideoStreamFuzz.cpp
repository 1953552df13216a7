// The video stream clients' input over arbitrary bytes: RTSP replies in every client state, RTP and
// RTCP datagrams, and Qv datagrams, each in a buffer of exactly its size, followed by a receiver
// report. The input is a series of records: kind (1 byte: low 2 bits 0 reply, 1 RTP, 2 RTCP, 3 Qv;
// for replies the next bits give the client state), length (2 bytes, big-endian), bytes.
#include <cstdio>
#include <cstring>
#include <vector>

#include "Core/Preferences.h"
#include "Video/RtspVideoStream.h"

static RtspVideoStream rtsp;
static QvVideoStream qv;
static H264StreamState h264;
static Preferences preferences;

static void fail(int line) {
    fprintf(stderr, "VideoStreamFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rtsp = RtspVideoStream{};
    qv = QvVideoStream{};
    h264 = H264StreamState{};
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
        switch (kind & 3) {
        case 0:
            rtsp.state = (kind >> 2) % 9;
            handleRtspReply(&rtsp, bytes.data(), (i64)bytes.size(), now);
            check(rtsp.state >= 0 && rtsp.state <= 8);
            check(rtsp.parameterSetLength >= 0 && rtsp.parameterSetLength <= kRtspParameterSetBytes);
            break;
        case 1:
            handleRtpDatagram(&rtsp, bytes.data(), (i64)bytes.size(), &h264, nullptr, nullptr, &preferences,
                              nullptr, now);
            break;
        case 2:
            handleRtcpDatagram(&rtsp, bytes.data(), (i64)bytes.size(), now);
            break;
        default:
            handleQvDatagram(&qv, bytes.data(), (u32)bytes.size(), &h264, nullptr, nullptr, &preferences,
                             nullptr, now);
            check(qv.relayingAppText.length <= kFixedStringCapacity);
            break;
        }
        check(rtsp.sourceCount >= 0 && rtsp.sourceCount <= kRtpSourceCapacity);
    }
    u8 report[6000];
    ByteWriter writer = makeByteWriter(report, sizeof(report));
    i64 written = writeReceiverReport(&rtsp, &writer, now);
    check(!writer.overflow);
    check(written >= 8 && written <= 8 + 24 * kRtcpReportBlocksMax);
    check(written == 4 * (1 + ((report[2] << 8) | report[3])));
    return 0;
}
