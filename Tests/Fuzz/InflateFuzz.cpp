// inflate on arbitrary bytes: the first byte picks the input piece size and the output limit; the
// stream is fed in pieces, each in an exactly sized buffer, and must never read or write outside them.
// The same bytes in one piece (the fast path's way) must end with the same result and output.
#include <cstring>
#include <vector>

#include "Decoders/Inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const u8 control = data[0];
    data++;
    size--;
    const size_t piece = control & 0x0F ? size_t(control & 0x0F) * 7 : size + 1;
    const i64 capacity = (control & 0x30) == 0x30 ? 0 : i64(1) << (10 + 3 * ((control >> 4) & 3));
    const bool countOnly = control & 0x40;
    static InflateState state;
    std::memset(&state, 0, sizeof state);
    std::vector<u8> output(countOnly ? 0 : size_t(capacity));
    state.output = countOnly ? nullptr : output.data();
    state.outputCapacity = countOnly ? i64(1) << 40 : capacity;
    size_t at = 0;
    i32 result = InflateNeedsInput;
    while (result == InflateNeedsInput && at < size) {
        size_t n = size - at < piece ? size - at : piece;
        std::vector<u8> buffer(data + at, data + at + n);
        i64 position = 0;
        result = inflate(buffer.data(), &position, i64(n), &state);
        if (position < 0 || position > i64(n)) __builtin_trap();
        at += size_t(position);
        if (result == InflateNeedsInput && position != i64(n)) __builtin_trap();
    }
    if (state.outputPosition > state.outputCapacity) __builtin_trap();
    if (piece <= size) {
        static InflateState whole;
        std::memset(&whole, 0, sizeof whole);
        std::vector<u8> wholeOutput(output.size());
        whole.output = countOnly ? nullptr : wholeOutput.data();
        whole.outputCapacity = state.outputCapacity;
        std::vector<u8> buffer(data, data + size);
        i64 position = 0;
        i32 wholeResult = inflate(buffer.data(), &position, i64(size), &whole);
        if (wholeResult != result || whole.outputPosition != state.outputPosition) __builtin_trap();
        if (!countOnly && state.outputPosition > 0 && std::memcmp(wholeOutput.data(), output.data(), size_t(state.outputPosition)) != 0)
            __builtin_trap();
    }
    return 0;
}
