// deflate round trip on arbitrary bytes: the first two bytes pick how the rest is cut into calls, the
// writer's fill byte and leading bits, and whether the writer is cut short. zlib and our inflate must
// both give the input back; a short writer must flag overflow and never be written past.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "Core/FixedString.h"
#include "Decoders/Deflate.h"
#include "Decoders/Inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const u8 control = data[0];
    const u8 fill = data[1];
    data += 2;
    size -= 2;
    const size_t piece = control & 0x07 ? size_t(control & 0x07) * 997 : size + 1;
    const int leadBits = (control >> 3) & 7;
    const bool shortWriter = control & 0x40;

    // Ahead of ours, a fixed-Huffman block of leadBits 9-bit literals: ours starts at any bit offset.
    std::vector<u8> expected(size_t(leadBits), 0x90);
    expected.insert(expected.end(), data, data + size);
    const size_t capacity = shortWriter ? size_t(fill) * 3 : size + size / 16 + 64;
    std::vector<u8> out(capacity + 16, 0xEE);
    ByteWriter writer = makeByteWriter(out.data(), i64(capacity));
    BitWriter bits = makeBitWriter(&writer, fill);
    appendBits(0b010, 3, &bits);
    for (int i = 0; i < leadBits; i++)
        for (int bit = 8; bit >= 0; bit--) appendBits((0b110010000 >> bit) & 1, 1, &bits);  // 0x90
    appendBits(0, 7, &bits);
    size_t at = 0;
    do {
        const size_t n = size - at < piece ? size - at : piece;
        deflateCompress(data + at, i64(n), at + n == size, &bits);
        at += n;
    } while (at < size);
    for (size_t i = capacity; i < out.size(); i++)
        if (out[i] != 0xEE) __builtin_trap();
    if (writer.length > i64(capacity)) __builtin_trap();
    if (writer.overflow) {
        if (!shortWriter) __builtin_trap();
        return 0;
    }

    std::vector<u8> back(expected.size() + 1);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = out.data();
    z.avail_in = uInt(writer.length);
    z.next_out = back.data();
    z.avail_out = uInt(back.size());
    const int status = ::inflate(&z, Z_FINISH);
    const size_t produced = z.total_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END || produced != expected.size() ||
        (produced && std::memcmp(back.data(), expected.data(), produced)))
        __builtin_trap();

    static InflateState state;
    std::memset(&state, 0, sizeof state);
    std::fill(back.begin(), back.end(), 0);
    state.output = back.data();
    state.outputCapacity = i64(back.size());
    i64 position = 0;
    if (inflate(out.data(), &position, writer.length, &state) != InflateDone || position != writer.length ||
        state.outputPosition != i64(expected.size()) ||
        (!expected.empty() && std::memcmp(back.data(), expected.data(), expected.size())))
        __builtin_trap();
    return 0;
}
