// The SPS reader and the bit reader over arbitrary bytes: the input is an SPS unit's payload (after
// the start code and header) in a buffer of exactly its size; sizes change only as the reader says,
// and the bit reader never passes the end of its data.
#include "Video/H264Stream.h"

#include <cstdio>
#include <cstring>
#include <vector>

static H264StreamState state;

static void fail(int line) {
    fprintf(stderr, "H264SpsFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 17) return 0;
    std::vector<u8> unit(size + 5);
    const u8 head[5] = {0, 0, 0, 1, 0x67};
    std::memcpy(unit.data(), head, 5);
    if (size) std::memcpy(unit.data() + 5, data, size);
    u32 width = state.width, height = state.height;
    i32 changed = parseSequenceParameterSet(H264NalUnit{unit.data(), (i64)unit.size()}, &state);
    check(state.spsSeen == 1);
    check(changed == (state.width != width || state.height != height));
    check(state.width <= state.codedWidth && state.height <= state.codedHeight);

    std::vector<u8> bits(data, data + size);
    BitReader reader{bits.data(), (u32)(size * 8), 0};
    while (reader.bitPosition < reader.bitLength) {
        u32 before = reader.bitPosition;
        if (before % 3 == 0) readExpGolomb(&reader);
        else readBits(&reader, (i32)(before % 70));
        check(reader.bitPosition <= reader.bitLength);
        if (reader.bitPosition == before) readBits(&reader, 1);
        if (reader.bitPosition == before) break;
    }
    return 0;
}
