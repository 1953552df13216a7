// Shared helpers of the DEFLATE and PNG tests: zlib as the reference compressor and decompressor,
// hand-made DEFLATE bit streams, sample data, and our inflate fed in random pieces.
#pragma once
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Core/FixedString.h"
#include "Decoders/Inflate.h"

// A hand-made DEFLATE bit stream on the program's own BitWriter: fields least significant bit first,
// Huffman codes most significant bit first, as the format packs them.
struct TestBits {
    u8 buffer[1 << 14];
    ByteWriter writer = makeByteWriter(buffer, sizeof(buffer));
    BitWriter bits = makeBitWriter(&writer, 0);
    TestBits() = default;
    TestBits(const TestBits&) = delete;
    void put(u32 value, int count) { appendBits(value, count, &bits); }
    void code(u32 value, int length) {
        for (int i = length - 1; i >= 0; i--) put((value >> i) & 1, 1);
    }
    std::vector<u8> bytes() const { return std::vector<u8>(buffer, buffer + writer.length); }
};

// A zlib stream (header, DEFLATE, Adler-32) of data from zlib's default compression.
inline std::vector<u8> zlibCompress(const std::vector<u8>& data) {
    std::vector<u8> out(compressBound(uLong(data.size())));
    uLongf size = uLongf(out.size());
    compress(out.data(), &size, data.data(), uLong(data.size()));
    out.resize(size);
    return out;
}

// Raw DEFLATE (no zlib wrapper) from zlib at the given level and strategy.
inline std::vector<u8> zlibDeflateRaw(const std::vector<u8>& data, int level, int strategy) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    std::vector<u8> out(deflateBound(&stream, uLong(data.size())) + 16);
    stream.next_in = const_cast<u8*>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(::deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// zlib's raw inflate; false when zlib rejects the stream or it does not end.
inline bool zlibInflateRaw(const u8* data, size_t size, size_t expectedSize, std::vector<u8>* out) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return false;
    out->assign(expectedSize + 1, 0);
    stream.next_in = const_cast<u8*>(data);
    stream.avail_in = uInt(size);
    stream.next_out = out->data();
    stream.avail_out = uInt(out->size());
    int status = ::inflate(&stream, Z_FINISH);
    out->resize(stream.total_out);
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

enum class SampleKind { Random, Text, Runs, Mixed };

inline std::vector<u8> sampleData(SampleKind kind, size_t size, u32 seed) {
    std::mt19937 random(seed);
    std::vector<u8> data(size);
    static const char* const kWords[] = {"drone ", "mission ", "waypoint ", "altitude ", "terrain ", "tile ",
                                         "payload ", "geofence ", "\n", "the ", "of ", "42 ", "1337.5 "};
    size_t at = 0;
    while (at < size) {
        SampleKind part = kind;
        if (kind == SampleKind::Mixed) part = SampleKind(random() % 3);
        if (part == SampleKind::Random) {
            size_t n = std::min<size_t>(size - at, 1 + random() % 3000);
            for (size_t i = 0; i < n; i++) data[at++] = u8(random());
        } else if (part == SampleKind::Text) {
            const char* word = kWords[random() % 13];
            for (size_t i = 0; word[i] && at < size; i++) data[at++] = u8(word[i]);
        } else {
            size_t n = std::min<size_t>(size - at, 1 + random() % 700);
            u8 value = u8(random() % 4);
            for (size_t i = 0; i < n; i++) data[at++] = value;
        }
    }
    return data;
}

struct InflateRun {
    i32 result;
    i64 consumed;  // input bytes taken over all pieces
    std::vector<u8> output;
};

// Runs our inflate over the stream cut into random pieces, each piece in a buffer of its own so any
// read past a piece shows under AddressSanitizer. The output buffer is exactly outputCapacity bytes.
inline InflateRun inflateInPieces(const std::vector<u8>& stream, i64 outputCapacity, std::mt19937* random,
                                  size_t maxPiece, bool countOnly = false) {
    InflateRun run{};
    std::vector<u8> output(countOnly ? 0 : size_t(outputCapacity > 0 ? outputCapacity : 0));
    auto* state = new InflateState;
    std::memset(state, 0, sizeof *state);
    state->output = countOnly ? nullptr : (outputCapacity > 0 ? output.data() : nullptr);
    state->outputCapacity = outputCapacity;
    size_t at = 0;
    run.result = InflateNeedsInput;
    do {
        size_t piece = std::min<size_t>(stream.size() - at, (*random)() % (maxPiece + 1));
        std::vector<u8> buffer(stream.begin() + i64(at), stream.begin() + i64(at + piece));
        i64 position = 0;
        run.result = inflate(buffer.data(), &position, i64(piece), state);
        EXPECT_GE(position, 0);
        EXPECT_LE(position, i64(piece));
        run.consumed += position;
        at += size_t(position);
        if (run.result == InflateNeedsInput) {
            EXPECT_EQ(position, i64(piece));
        }
    } while (run.result == InflateNeedsInput && at < stream.size());
    if (run.result == InflateNeedsInput) {
        i64 position = 0;
        run.result = inflate(nullptr, &position, 0, state);
    }
    output.resize(size_t(state->outputPosition));
    run.output = countOnly ? std::vector<u8>(size_t(state->outputPosition)) : output;
    delete state;
    return run;
}

// Our inflate over a whole buffer at once (portableCode: without the BMI2 fast loop).
inline i32 inflateWhole(const std::vector<u8>& stream, i64 outputCapacity, std::vector<u8>* out, i64* consumed = nullptr,
                        bool portableCode = false) {
    auto* state = new InflateState;
    std::memset(state, 0, sizeof *state);
    state->portableCode = portableCode;
    out->assign(size_t(outputCapacity), 0);
    state->output = outputCapacity ? out->data() : nullptr;
    state->outputCapacity = outputCapacity;
    i64 position = 0;
    i32 result = inflate(stream.data(), &position, i64(stream.size()), state);
    out->resize(size_t(state->outputPosition));
    if (consumed) *consumed = position;
    delete state;
    return result;
}
