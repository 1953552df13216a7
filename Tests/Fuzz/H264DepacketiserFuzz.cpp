// The RTP depacketiser over arbitrary packets: every unit it hands out lies inside the packet or the
// stream state's buffers, begins with a start code, and goes on to the SPS reader. The input is a
// series of packets, each as: sequence step (1 byte), payload offset (1 byte, low 4 bits), payload
// length (2 bytes, big-endian), payload. Each packet sits in a buffer of exactly its size.
#include "Video/H264Stream.h"

#include <cstdio>
#include <cstring>
#include <vector>

static H264StreamState state;

static void fail(int line) {
    fprintf(stderr, "H264DepacketiserFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static bool inside(const u8* p, i64 length, const u8* begin, i64 size) {
    return p >= begin && length <= size && p + length <= begin + size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    state = H264StreamState{};
    u16 sequence = 0;
    size_t at = 0;
    while (at + 4 <= size) {
        sequence = (u16)(sequence + data[at]);
        i64 offset = data[at + 1] & 15;
        size_t length = (size_t)data[at + 2] << 8 | data[at + 3];
        at += 4;
        if (length > size - at) length = size - at;
        std::vector<u8> packet((size_t)offset + length);
        if (length) std::memcpy(packet.data() + offset, data + at, length);
        at += length;
        u8* bytes = packet.data();
        H264NalUnit unit = convertPacketTransportNalUnit(bytes, offset, (i64)packet.size(), &state, sequence);
        if (!unit.bytes) {
            check(unit.length == 0);
            continue;
        }
        check(unit.length >= 5);
        check(inside(unit.bytes, unit.length, bytes, (i64)packet.size()) ||
              inside(unit.bytes, unit.length, state.fragmentBuffer, kH264FragmentCapacity) ||
              inside(unit.bytes, unit.length, state.aggregateBuffer, kH264AggregateCapacity));
        check(unit.bytes[0] == 0 && unit.bytes[1] == 0 && unit.bytes[2] == 0 && unit.bytes[3] == 1);
        check(state.fragmentLength >= 0 && state.fragmentLength <= kH264FragmentCapacity);
        parseSequenceParameterSet(unit, &state);
    }
    return 0;
}
