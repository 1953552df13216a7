// The RTP depacketiser over arbitrary packets: every unit it hands out lies inside the packet or the
// stream state's buffers, begins with a start code, and goes on to the SPS reader, the parameter sets
// kept for a late decoder and by the decode worker (SPS units, then PPS units, each behind a start
// code, within their room) and
// into an access unit, whose boundaries are read from the units' headers. The input is a series of packets, each
// as: sequence step (1 byte), payload offset (1 byte, low 4 bits), payload length (2 bytes,
// big-endian), payload. Each packet sits in a buffer of exactly its size. The first byte also says
// whether losses are noted and whether the access unit has little room.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Video/H264AccessUnit.h"
#include "Video/H264Stream.h"

static H264StreamState state;
static H264ParameterSets workerSets;
static H264AccessUnit accessUnit;
static u8 accessUnitBytes[kH264AccessUnitCapacity];
static u8 mode;  // the input's first byte: bit 0 losses noted after each unit, bit 1 a small access unit

static void fail(int line) {
    fprintf(stderr, "H264DepacketiserFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static bool inside(const u8* p, i64 length, const u8* begin, i64 size) {
    return p >= begin && length <= size && p + length <= begin + size;
}

// Adds the unit's NAL units (each behind its start code) to the access unit as the decoder does.
static void gather(H264NalUnit unit) {
    i64 at = 0;
    while (at + 4 <= unit.length) {
        check(unit.bytes[at] == 0 && unit.bytes[at + 1] == 0 && unit.bytes[at + 2] == 0 && unit.bytes[at + 3] == 1);
        i64 begin = at + 4, end = begin;
        while (end + 3 < unit.length && !(unit.bytes[end] == 0 && unit.bytes[end + 1] == 0 &&
                                          unit.bytes[end + 2] == 0 && unit.bytes[end + 3] == 1)) {
            ++end;
        }
        if (end + 3 >= unit.length) end = unit.length;
        std::vector<u8> copy(unit.bytes + begin, unit.bytes + end);  // exactly its size
        if (!copy.empty()) {
            i32 taken = 0;
            while (gatherH264Unit(&accessUnit, copy.data(), (i64)copy.size())) {
                // A unit is taken in by the access unit after the one it completes.
                check(++taken == 1 && accessUnit.slices > 0);
                check(isResumePoint(&accessUnit) == 0 || accessUnit.startsAtMbZero);
                clearAccessUnit(&accessUnit);
            }
        }
        check(accessUnit.length >= 0 && accessUnit.length <= accessUnit.capacity);
        check(accessUnit.heldLength >= 0 && accessUnit.heldLength <= kH264HeldUnitsCapacity);
        if (mode & 1) noteAccessUnitLoss(&accessUnit);
        at = end;
    }
}

// The kept parameter sets: SPS units, then PPS units, each behind a 4-byte start code, within
// their room.
static void checkKept(const H264ParameterSets* sets) {
    i32 length = sets->length;
    check(length >= 0 && length <= kH264ParameterSetsCapacity);
    check(sets->spsLength >= 0 && sets->spsLength <= length);
    const u8* kept = sets->bytes;
    bool spsGroupEnds = sets->spsLength == 0;
    for (i32 at = 0; at < length;) {
        check(at + 5 <= length && kept[at] == 0 && kept[at + 1] == 0 && kept[at + 2] == 0 && kept[at + 3] == 1);
        u32 type = kept[at + 4] & 0x1F;
        check(type == (at < sets->spsLength ? 7u : 8u));
        at += 5;
        while (at < length && !(at + 4 <= length && kept[at] == 0 && kept[at + 1] == 0 && kept[at + 2] == 0 &&
                                kept[at + 3] == 1)) {
            ++at;
        }
        spsGroupEnds |= at == sets->spsLength;
    }
    check(spsGroupEnds);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The buffers need no clearing: only what the lengths cover is read.
    std::memset(&state, 0, offsetof(H264StreamState, fragmentBuffer));
    workerSets.length = workerSets.spsLength = 0;
    mode = size ? data[0] : 0;
    resetAccessUnit(&accessUnit);
    accessUnit.bytes = accessUnitBytes;
    accessUnit.capacity = (mode & 2) ? 4096 : kH264AccessUnitCapacity;  // small: units that do not fit
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
        keepH264ParameterSets(unit.bytes, unit.length, &state.kept, false);
        checkKept(&state.kept);
        // As the decode worker keeps them from the access units it takes.
        keepH264ParameterSets(unit.bytes, unit.length, &workerSets, true);
        checkKept(&workerSets);
        gather(unit);
    }
    return 0;
}
