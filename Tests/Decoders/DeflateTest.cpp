// Our compressor read back by zlib and by our own inflate; the Huffman code-length builder's limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Core/FixedString.h"
#include "Decoders/Deflate.h"
#include "Decoders/InflateTestSupport.h"

namespace {

// Compresses pieces as consecutive blocks, the last one final.
std::vector<u8> compressBlocks(const std::vector<u8>& data, const std::vector<size_t>& cuts) {
    std::vector<u8> out(data.size() * 2 + 1024);
    ByteWriter writer = makeByteWriter(out.data(), i64(out.size()));
    BitWriter bits = makeBitWriter(&writer, 0);
    size_t start = 0;
    for (size_t i = 0; i <= cuts.size(); i++) {
        size_t end = i < cuts.size() ? cuts[i] : data.size();
        deflateCompress(data.data() + start, i64(end - start), i == cuts.size() ? 1 : 0, &bits);
        start = end;
    }
    EXPECT_FALSE(writer.overflow);
    out.resize(size_t(writer.length));
    return out;
}

void expectRoundTrip(const std::vector<u8>& data, const std::vector<size_t>& cuts = {}) {
    std::vector<u8> stream = compressBlocks(data, cuts);
    std::vector<u8> back;
    ASSERT_TRUE(zlibInflateRaw(stream.data(), stream.size(), data.size(), &back)) << data.size();
    ASSERT_TRUE(back == data) << data.size();
    i64 consumed = 0;
    ASSERT_EQ(inflateWhole(stream, i64(data.size()), &back, &consumed), InflateDone);
    ASSERT_TRUE(back == data);
    EXPECT_EQ(consumed, i64(stream.size()));
}

// Sum of 2^-length over the used symbols, scaled by 2^maxBits.
u64 kraftSum(const u8* lengths, int count, int maxBits) {
    u64 sum = 0;
    for (int i = 0; i < count; i++)
        if (lengths[i]) sum += u64(1) << (maxBits - lengths[i]);
    return sum;
}

}  // namespace

TEST(Deflate, ZlibReadsBackRandomRepetitiveAndLongRunData) {
    expectRoundTrip({});
    expectRoundTrip({'x'});
    expectRoundTrip({'x', 'y'});
    expectRoundTrip({'a', 'a', 'a'});
    expectRoundTrip(std::vector<u8>(1000, 0));                   // distance 1, runs past 258
    expectRoundTrip(std::vector<u8>(100000, 7));
    expectRoundTrip(sampleData(SampleKind::Random, 100000, 41));  // nothing to match
    expectRoundTrip(sampleData(SampleKind::Text, 300000, 42));
    expectRoundTrip(sampleData(SampleKind::Runs, 200000, 43));
    expectRoundTrip(sampleData(SampleKind::Mixed, 1 << 20, 44));
    std::vector<u8> periodic(70000);
    for (size_t i = 0; i < periodic.size(); i++) periodic[i] = u8(i % 32768 < 3 ? i : (i * 7) % 251);
    expectRoundTrip(periodic);  // repeats near the 32,768-byte limit
    std::vector<u8> all(256 * 300);
    for (size_t i = 0; i < all.size(); i++) all[i] = u8(i * 97 / 13);
    expectRoundTrip(all);
}

TEST(Deflate, SeveralBlocksOneStream) {
    std::vector<u8> data = sampleData(SampleKind::Mixed, 200000, 51);
    expectRoundTrip(data, {0, 1, 2, 65536, 65536, 131072, 131075});
}

TEST(Deflate, EmptyInputIsOneShortFinalBlock) {
    u8 buffer[64] = {};
    ByteWriter writer = makeByteWriter(buffer, sizeof buffer);
    BitWriter bits = makeBitWriter(&writer, 0);
    deflateCompress(nullptr, 0, 0, &bits);
    EXPECT_EQ(writer.length, 0);  // nothing for an empty piece that is not the last
    deflateCompress(nullptr, 0, 1, &bits);
    // BFINAL 1, fixed Huffman, the end-of-block code: the shortest stream there is.
    ASSERT_EQ(writer.length, 2);
    EXPECT_EQ(buffer[0], 0x03);
    EXPECT_EQ(buffer[1], 0x00);
    std::vector<u8> stream(buffer, buffer + writer.length);
    std::vector<u8> out;
    EXPECT_EQ(inflateWhole(stream, 16, &out), InflateDone);
    EXPECT_TRUE(out.empty());
}

TEST(Deflate, MeasuringAndFullWriters) {
    std::vector<u8> data = sampleData(SampleKind::Text, 20000, 61);
    std::vector<u8> stream = compressBlocks(data, {});
    ByteWriter measure = makeMeasuringWriter();
    BitWriter bits = makeBitWriter(&measure, 0);
    deflateCompress(data.data(), i64(data.size()), 1, &bits);
    EXPECT_EQ(measure.length, i64(stream.size()));
    std::vector<u8> small(100);
    ByteWriter full = makeByteWriter(small.data(), i64(small.size()));
    BitWriter fullBits = makeBitWriter(&full, 0);
    deflateCompress(data.data(), i64(data.size()), 1, &fullBits);
    EXPECT_TRUE(full.overflow);
    EXPECT_LE(full.length, 100);
}

// Random shapes of data (incompressible, text, runs, repeats at the window's edge, the stored-block
// size limit), cut into random pieces after random bits already in the writer, read back by zlib
// and by our inflate; the measuring writer agrees and a full writer is never written past.
TEST(Deflate, ZlibReadsBackRandomShapesPiecesAndBitOffsets) {
    std::mt19937 random(71);
    for (int round = 0; round < 160; round++) {
        const int shape = int(random() % 6);
        size_t size = random() % 3 == 0 ? random() % 300 : random() % 90000;
        if (shape == 4) size = 65535 + random() % 3 - 1;
        std::vector<u8> data;
        if (shape < 4) {
            data = sampleData(SampleKind(shape), size, u32(round));
        } else if (shape == 4) {
            data = sampleData(SampleKind::Random, size, u32(round));
        } else {
            // A random stretch repeated at a period around the window size, with a few changes.
            const size_t period = 32766 + random() % 4;
            data = sampleData(SampleKind::Random, period, u32(round));
            data.resize(size + period);
            for (size_t i = period; i < data.size(); i++) data[i] = random() % 500 ? data[i - period] : u8(random());
        }
        std::vector<size_t> cuts;
        for (int c = int(random() % 4); c > 0; c--) cuts.push_back(data.empty() ? 0 : random() % data.size());
        std::sort(cuts.begin(), cuts.end());
        const u8 fill = u8(random());

        std::vector<u8> out(data.size() + data.size() / 8 + 256);
        ByteWriter writer = makeByteWriter(out.data(), i64(out.size()));
        ByteWriter measure = makeMeasuringWriter(kMeasureCapacity);
        BitWriter bits = makeBitWriter(&writer, fill);
        BitWriter measureBits = makeBitWriter(&measure, fill);
        // Ahead of ours, a fixed-Huffman block of 9-bit literals that leaves the writer at any bit.
        const int lead = int(random() % 8);
        for (BitWriter* b : {&bits, &measureBits}) {
            appendBits(0b010, 3, b);
            for (int i = 0; i < lead; i++)
                for (int bit = 8; bit >= 0; bit--) appendBits((0b110100000 >> bit) & 1, 1, b);  // 0xA0
            appendBits(0, 7, b);
        }
        size_t start = 0;
        for (size_t i = 0; i <= cuts.size(); i++) {
            size_t end = i < cuts.size() ? cuts[i] : data.size();
            deflateCompress(data.data() + start, i64(end - start), i == cuts.size(), &bits);
            deflateCompress(data.data() + start, i64(end - start), i == cuts.size(), &measureBits);
            start = end;
        }
        ASSERT_FALSE(writer.overflow);
        ASSERT_EQ(measure.length, writer.length) << round;
        std::vector<u8> stream(out.begin(), out.begin() + writer.length);
        std::vector<u8> expected(size_t(lead), 0xA0);
        expected.insert(expected.end(), data.begin(), data.end());
        std::vector<u8> back;
        ASSERT_TRUE(zlibInflateRaw(stream.data(), stream.size(), expected.size(), &back)) << round;
        ASSERT_TRUE(back == expected) << round;
        ASSERT_EQ(inflateWhole(stream, i64(expected.size()), &back), InflateDone) << round;
        ASSERT_TRUE(back == expected) << round;
        // Never much above stored size, whatever the data: at most a stored block header per 16 K.
        EXPECT_LE(stream.size(), data.size() + 5 * (data.size() / 16384 + cuts.size() + 2) + 16) << round;

        std::vector<u8> small(std::min<size_t>(stream.size() - 1, random() % (stream.size() + 1)) + 16, 0xEE);
        const i64 capacity = i64(small.size()) - 16;
        ByteWriter full = makeByteWriter(small.data(), capacity);
        BitWriter fullBits = makeBitWriter(&full, fill);
        deflateCompress(data.data(), i64(data.size()), 1, &fullBits);
        EXPECT_LE(full.length, capacity);
        for (size_t i = size_t(capacity); i < small.size(); i++) ASSERT_EQ(small[i], 0xEE) << round;
    }
}

// The compressor finds its matches: on text and mixed data it stays within 5 % of zlib's default.
TEST(Deflate, OutputNearZlibDefaultLevel) {
    for (SampleKind kind : {SampleKind::Text, SampleKind::Mixed, SampleKind::Runs}) {
        std::vector<u8> data = sampleData(kind, 400000, 81);
        std::vector<u8> ours = compressBlocks(data, {});
        std::vector<u8> zlib = zlibDeflateRaw(data, 6, Z_DEFAULT_STRATEGY);
        EXPECT_LE(double(ours.size()), 1.05 * double(zlib.size())) << int(kind);
    }
}

TEST(Deflate, CodeLengthsAreLimitedAndComplete) {
    // Fibonacci frequencies give the deepest possible Huffman tree, far past 15 and 7 bits.
    f32 frequencies[40];
    f32 a = 1;
    f32 b = 1;
    for (int i = 0; i < 40; i++) {
        frequencies[i] = a;
        f32 next = a + b;
        a = b;
        b = next;
    }
    for (int maxBits : {7, 9, 15}) {
        for (int count : {19, 30, 40}) {
            u8 lengths[40];
            u64 codes[40];
            buildHuffmanCodeLengths(frequencies, count, lengths, codes, maxBits);
            for (int i = 0; i < count; i++) {
                EXPECT_GE(lengths[i], 1);
                EXPECT_LE(lengths[i], maxBits);
            }
            EXPECT_EQ(kraftSum(lengths, count, maxBits), u64(1) << maxBits) << maxBits << " " << count;
            // Canonical codes: shorter first, rising within a length, no code a prefix of another.
            for (int i = 0; i < count; i++)
                for (int j = 0; j < count; j++) {
                    if (i == j || lengths[i] > lengths[j]) continue;
                    EXPECT_NE(codes[j] >> (lengths[j] - lengths[i]), codes[i]) << i << " " << j;
                }
        }
    }
    // The more frequent of two symbols never gets the longer code.
    f32 skewed[6] = {100, 1, 0, 50, 2, 2};
    u8 lengths[6];
    u64 codes[6];
    buildHuffmanCodeLengths(skewed, 6, lengths, codes, 15);
    EXPECT_EQ(lengths[2], 0);
    EXPECT_EQ(lengths[0], 1);
    EXPECT_LE(lengths[3], lengths[1]);
    EXPECT_EQ(kraftSum(lengths, 6, 15), u64(1) << 15);

    f32 one[4] = {0, 0, 3, 0};
    buildHuffmanCodeLengths(one, 4, lengths, codes, 15);
    EXPECT_EQ(lengths[2], 1);
    EXPECT_EQ(codes[2], 0u);
    EXPECT_EQ(lengths[0] + lengths[1] + lengths[3], 0);

    f32 none[3] = {0, 0, 0};
    buildHuffmanCodeLengths(none, 3, lengths, codes, 15);
    EXPECT_EQ(lengths[0] + lengths[1] + lengths[2], 0);
}
