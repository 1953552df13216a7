// Our inflate against zlib's compressor at every level and strategy, fed in random pieces, and on
// hand-made streams: hostile code lengths, broken headers, and the edge cases of the format.
#include <gtest/gtest.h>

#include "Decoders/InflateTestSupport.h"

namespace {

constexpr int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block header whose code-length code gives each of the 19 symbols the length in
// codeLengthLengths; the caller then writes the code-length symbols.
void dynamicHeader(TestBits* bits, int final, int hlit, int hdist, const int (&codeLengthLengths)[19]) {
    bits->put(u32(final), 1);
    bits->put(2, 2);
    bits->put(u32(hlit - 257), 5);
    bits->put(u32(hdist - 1), 5);
    bits->put(19 - 4, 4);
    for (int i = 0; i < 19; i++) bits->put(u32(codeLengthLengths[kOrder[i]]), 3);
}

// The code-length code of the hand-made headers: length 4 for symbols 0..12 and 5 for 13..18, a
// complete code (13 x 2 + 6 = 32 = 2^5).
constexpr int kClLengths[19] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5};

u32 clCode(int symbol) {
    // Canonical codes of kClLengths: 13 symbols of length 4 take codes 0..12, then length 5 from 26.
    return symbol < 13 ? u32(symbol) : u32(26 + symbol - 13);
}

void clSymbol(TestBits* bits, int symbol) { bits->code(clCode(symbol), kClLengths[symbol]); }

// Writes a literal/length and distance length list as plain code-length symbols.
void writeLengths(TestBits* bits, const std::vector<int>& lengths) {
    for (int length : lengths) clSymbol(bits, length);
}

i32 inflateBytes(const std::vector<u8>& stream, std::vector<u8>* out, i64 capacity = 1 << 16) {
    return inflateWhole(stream, capacity, out);
}

}  // namespace

TEST(Inflate, EveryZlibLevelAndStrategyInRandomPieces) {
    std::mt19937 random(1);
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    std::vector<std::vector<u8>> inputs = {{}, {'a'}, {1, 2, 3, 4, 5}, sampleData(SampleKind::Text, 40000, 2),
                                           sampleData(SampleKind::Random, 70000, 3), sampleData(SampleKind::Runs, 50000, 4),
                                           sampleData(SampleKind::Mixed, 100000, 5)};
    for (const auto& input : inputs) {
        for (int level = 0; level <= 9; level++) {
            for (int strategy : strategies) {
                if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;  // stored blocks either way
                std::vector<u8> stream = zlibDeflateRaw(input, level, strategy);
                size_t maxPiece = random() % 2 ? 17 : 5000;
                InflateRun run = inflateInPieces(stream, i64(input.size()), &random, maxPiece);
                ASSERT_EQ(run.result, InflateDone) << input.size() << " level " << level << " strategy " << strategy;
                EXPECT_EQ(run.consumed, i64(stream.size()));
                ASSERT_EQ(run.output, input) << input.size() << " level " << level << " strategy " << strategy;
            }
        }
    }
}

TEST(Inflate, MultiMegabyteInputs) {
    std::mt19937 random(11);
    std::vector<u8> input = sampleData(SampleKind::Mixed, 5 << 20, 12);
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
        std::vector<u8> stream = zlibDeflateRaw(input, 6, strategy);
        InflateRun run = inflateInPieces(stream, i64(input.size()), &random, 200000);
        ASSERT_EQ(run.result, InflateDone);
        ASSERT_TRUE(run.output == input);
        // The same stream fed one to three bytes at a time for its first part still agrees.
        std::vector<u8> head(stream.begin(), stream.begin() + 20000);
        InflateRun partial = inflateInPieces(head, i64(input.size()), &random, 3);
        EXPECT_EQ(partial.result, InflateNeedsInput);
        ASSERT_LE(partial.output.size(), input.size());
        EXPECT_TRUE(std::equal(partial.output.begin(), partial.output.end(), input.begin()));
    }
    std::vector<u8> stored = zlibDeflateRaw(input, 0, Z_DEFAULT_STRATEGY);
    InflateRun run = inflateInPieces(stored, i64(input.size()), &random, 100000);
    ASSERT_EQ(run.result, InflateDone);
    ASSERT_TRUE(run.output == input);
}

TEST(Inflate, OutputLimitAndCounting) {
    std::mt19937 random(21);
    std::vector<u8> input = sampleData(SampleKind::Mixed, 30000, 22);
    for (int level : {0, 1, 6, 9}) {
        std::vector<u8> stream = zlibDeflateRaw(input, level, Z_DEFAULT_STRATEGY);
        // Counting only: nothing is stored, the size comes out.
        InflateRun counted = inflateInPieces(stream, INT64_MAX, &random, 3000, true);
        EXPECT_EQ(counted.result, InflateDone);
        EXPECT_EQ(counted.output.size(), input.size());
        // Too small an output stops with 1, having written only what fits (the buffer is exact).
        for (i64 capacity : {i64(0), i64(1), i64(input.size() / 2), i64(input.size() - 1)}) {
            InflateRun run = inflateInPieces(stream, capacity, &random, 3000);
            EXPECT_EQ(run.result, InflateOutputFull) << capacity;
            EXPECT_LE(i64(run.output.size()), capacity);
            EXPECT_TRUE(std::equal(run.output.begin(), run.output.end(), input.begin()));
        }
    }
}

TEST(Inflate, StopsRightAfterTheStreamAndStaysDone) {
    std::vector<u8> input = sampleData(SampleKind::Text, 5000, 31);
    for (int level : {0, 1, 9}) {
        std::vector<u8> stream = zlibDeflateRaw(input, level, Z_DEFAULT_STRATEGY);
        const size_t streamSize = stream.size();
        for (u8 trailer : {0x00, 0xFF, 0x5A}) stream.push_back(trailer);
        auto* state = new InflateState{};
        std::vector<u8> out(input.size());
        state->output = out.data();
        state->outputCapacity = i64(out.size());
        i64 position = 0;
        EXPECT_EQ(inflate(stream.data(), &position, i64(stream.size()), state), InflateDone);
        EXPECT_EQ(position, i64(streamSize));
        EXPECT_EQ(out, input);
        EXPECT_EQ(inflate(stream.data(), &position, i64(stream.size()), state), InflateDone);
        EXPECT_EQ(position, i64(streamSize));
        delete state;
    }
}

TEST(Inflate, MalformedHeadersAndDistances) {
    std::vector<u8> out;
    TestBits btype3;
    btype3.put(1, 1);
    btype3.put(3, 2);
    EXPECT_EQ(inflateBytes(btype3.bytes(), &out), InflateMalformed);

    std::vector<u8> storedBad = {0x01, 0x05, 0x00, 0xFA, 0xFE, 'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(inflateBytes(storedBad, &out), InflateMalformed);
    std::vector<u8> storedGood = {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(inflateBytes(storedGood, &out), InflateDone);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abcde");

    // Fixed codes: literal 'a' then a match at distance 2 with only one byte produced.
    TestBits far;
    far.put(1, 1);
    far.put(1, 2);
    far.code(0x30 + 'a', 8);
    far.code(1, 7);  // length symbol 257: 3
    far.code(1, 5);  // distance symbol 1: 2
    far.code(0, 7);
    EXPECT_EQ(inflateBytes(far.bytes(), &out), InflateMalformed);

    // A malformed stream stays malformed.
    auto* state = new InflateState{};
    std::vector<u8> buffer(100);
    state->output = buffer.data();
    state->outputCapacity = 100;
    i64 position = 0;
    EXPECT_EQ(inflate(btype3.bytes().data(), &position, i64(btype3.bytes().size()), state), InflateMalformed);
    position = 0;
    EXPECT_EQ(inflate(storedGood.data(), &position, i64(storedGood.size()), state), InflateMalformed);
    delete state;
}

TEST(Inflate, HostileCodeLengthsAreMalformed) {
    std::vector<u8> out;
    auto lengthsFor = [](int literalLength, int count) { return std::vector<int>(size_t(count), literalLength); };
    {
        // Over-subscribed literal/length code: 257 codes of length 8.
        TestBits bits;
        dynamicHeader(&bits, 1, 257, 1, kClLengths);
        std::vector<int> lengths = lengthsFor(8, 257);
        lengths.push_back(1);
        writeLengths(&bits, lengths);
        for (int i = 0; i < 8; i++) bits.put(0, 8);
        EXPECT_EQ(inflateBytes(bits.bytes(), &out), InflateMalformed);
    }
    {
        // Incomplete literal/length code: two codes of length 2 (256 and 'x'), the rest unused.
        TestBits bits;
        dynamicHeader(&bits, 1, 257, 1, kClLengths);
        std::vector<int> lengths(257, 0);
        lengths['x'] = 2;
        lengths[256] = 2;
        lengths.push_back(1);
        writeLengths(&bits, lengths);
        for (int i = 0; i < 8; i++) bits.put(0, 8);
        EXPECT_EQ(inflateBytes(bits.bytes(), &out), InflateMalformed);
    }
    {
        // Over-subscribed distance code.
        TestBits bits;
        dynamicHeader(&bits, 1, 257, 3, kClLengths);
        std::vector<int> lengths(257, 0);
        lengths['x'] = 1;
        lengths[256] = 1;
        for (int i = 0; i < 3; i++) lengths.push_back(1);
        writeLengths(&bits, lengths);
        for (int i = 0; i < 8; i++) bits.put(0, 8);
        EXPECT_EQ(inflateBytes(bits.bytes(), &out), InflateMalformed);
    }
    {
        // Over-subscribed and incomplete code-length codes.
        for (int variant = 0; variant < 2; variant++) {
            int cl[19] = {};
            for (int i = 0; i < 19; i++) cl[i] = variant == 0 ? 1 : 0;
            if (variant == 1) {
                cl[0] = 2;
                cl[8] = 2;
            }
            TestBits bits;
            dynamicHeader(&bits, 1, 257, 1, cl);
            for (int i = 0; i < 40; i++) bits.put(0, 8);
            EXPECT_EQ(inflateBytes(bits.bytes(), &out), InflateMalformed) << variant;
        }
    }
    {
        // Lengths that would need a deep, sparse tree: one code of each length 1..15.
        TestBits bits;
        dynamicHeader(&bits, 1, 257, 1, kClLengths);
        std::vector<int> lengths(257, 0);
        for (int i = 1; i <= 15; i++) lengths[size_t(i)] = i;
        lengths.push_back(0);
        writeLengths(&bits, lengths);
        for (int i = 0; i < 8; i++) bits.put(0xFF, 8);
        EXPECT_EQ(inflateBytes(bits.bytes(), &out), InflateMalformed);
    }
    {
        // A code-length repeat that runs past the last distance length.
        TestBits bits;
        dynamicHeader(&bits, 1, 257, 1, kClLengths);
        clSymbol(&bits, 18);
        bits.put(127, 7);  // 138 zeros
        clSymbol(&bits, 18);
        bits.put(108, 7);  // 119 zeros: 257 literal/length lengths
        clSymbol(&bits, 17);
        bits.put(0, 3);  // 3 zeros, but only one distance length is left
        for (int i = 0; i < 4; i++) bits.put(0, 8);
        EXPECT_EQ(inflateBytes(bits.bytes(), &out), InflateMalformed);
    }
    {
        // A match with no distance codes at all.
        TestBits bits;
        dynamicHeader(&bits, 1, 258, 1, kClLengths);
        std::vector<int> lengths(258, 0);
        lengths['x'] = 2;
        lengths[256] = 2;
        lengths[257] = 1;
        lengths.push_back(0);
        writeLengths(&bits, lengths);
        bits.code(2, 2);  // 'x'
        bits.code(1, 1);  // length 3
        for (int i = 0; i < 4; i++) bits.put(0, 8);
        EXPECT_EQ(inflateBytes(bits.bytes(), &out), InflateMalformed);
    }
}

TEST(Inflate, SingleDistanceCodeAndRepeatsAcrossTheTwoLists) {
    // Literal/length code: 'a' 1 bit, 256 and 257 two bits each. Distance: one code of length 1,
    // whose unused sibling decodes as distance symbol 0. The last literal/length length and the one
    // distance length come from one repeat (16) that spans the two lists.
    TestBits good;
    dynamicHeader(&good, 1, 258, 1, kClLengths);
    clSymbol(&good, 18);
    good.put(u32('a' - 11), 7);
    clSymbol(&good, 1);  // 'a'
    clSymbol(&good, 18);
    good.put(138 - 11, 7);
    clSymbol(&good, 18);
    good.put(u32(256 - 'a' - 1 - 138 - 11), 7);
    clSymbol(&good, 2);  // 256
    clSymbol(&good, 2);  // 257
    clSymbol(&good, 1);  // distance symbol 0, the only distance code
    good.code(0, 1);     // 'a'
    good.code(3, 2);     // 257: length 3
    good.code(1, 1);     // the unused distance code: symbol 0, distance 1
    good.code(3, 2);     // length 3
    good.code(0, 1);     // distance symbol 0
    good.code(2, 2);     // end of block
    std::vector<u8> out;
    EXPECT_EQ(inflateBytes(good.bytes(), &out), InflateDone);
    EXPECT_EQ(std::string(out.begin(), out.end()), "aaaaaaa");

    // A 16 repeat that runs from the literal/length lengths into the distance lengths: 'a', 'b', 255
    // and 256 get 2-bit codes, and the same repeat gives the four distance codes 2 bits each.
    TestBits span;
    dynamicHeader(&span, 1, 257, 4, kClLengths);
    clSymbol(&span, 18);
    span.put(u32('a' - 11), 7);
    clSymbol(&span, 2);  // 'a'
    clSymbol(&span, 2);  // 'b'
    clSymbol(&span, 18);
    span.put(127, 7);  // 138 zeros
    clSymbol(&span, 18);
    span.put(u32(255 - 'b' - 1 - 138 - 11), 7);  // zeros up to 255
    clSymbol(&span, 2);                           // 255
    clSymbol(&span, 16);
    span.put(2, 2);   // five more 2s: 256 and the four distance lengths
    span.code(0, 2);  // 'a'
    span.code(2, 2);  // 255
    span.code(3, 2);  // end of block
    EXPECT_EQ(inflateBytes(span.bytes(), &out), InflateDone);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], 255);
}

TEST(Inflate, DecodeTreeLayout) {
    // The 8-symbol example of RFC 1951 section 3.2.2: lengths 3 3 3 3 3 2 4 4.
    const u8 lengths[8] = {3, 3, 3, 3, 3, 2, 4, 4};
    i32 nodes[32];
    for (i32& node : nodes) node = 12345;
    ASSERT_EQ(buildHuffmanDecodeTree(lengths, 8, nodes, 32), 14);
    // Walk every canonical code: F=00, A=010, B=011, C=100, D=101, E=110, G=1110, H=1111.
    const struct {
        u32 code;
        int length;
        int symbol;
    } expected[] = {{0, 2, 5}, {2, 3, 0}, {3, 3, 1}, {4, 3, 2}, {5, 3, 3}, {6, 3, 4}, {14, 4, 6}, {15, 4, 7}};
    for (const auto& e : expected) {
        i32 node = 0;
        i32 entry = 0;
        for (int i = e.length - 1; i >= 0; i--) {
            entry = nodes[node + i32((e.code >> i) & 1)];
            if (i) {
                ASSERT_GT(entry, 0);
                node = entry;
            }
        }
        EXPECT_EQ(-entry, e.symbol);
    }
    EXPECT_EQ(nodes[14], 12345);

    // Too small a capacity: the size is still reported and nothing past the capacity is written.
    for (i32& node : nodes) node = 12345;
    EXPECT_EQ(buildHuffmanDecodeTree(lengths, 8, nodes, 6), 14);
    for (int i = 6; i < 32; i++) EXPECT_EQ(nodes[i], 12345);

    const u8 none[4] = {0, 0, 0, 0};
    EXPECT_EQ(buildHuffmanDecodeTree(none, 4, nodes, 32), 0);
    EXPECT_EQ(buildHuffmanDecodeTree(none, 0, nodes, 32), 0);

    // Lengths up to 255 are counted; a very sparse set reports a huge size and writes within capacity.
    const u8 deep[2] = {1, 200};
    for (i32& node : nodes) node = 12345;
    EXPECT_GT(buildHuffmanDecodeTree(deep, 2, nodes, 32), 32);
    // An incomplete single code: the spare entry decodes as symbol 0.
    const u8 single[3] = {0, 0, 1};
    EXPECT_EQ(buildHuffmanDecodeTree(single, 3, nodes, 32), 2);
    EXPECT_EQ(nodes[0], -2);
    EXPECT_EQ(nodes[1], 0);
}

// The fast path (whole input at once, with and without BMI2) and the careful one (one to three bytes
// at a time) end damaged streams at the same result with the same output.
TEST(Inflate, FastAndCarefulPathsAgreeOnDamagedStreams) {
    std::mt19937 random(41);
    std::vector<u8> input = sampleData(SampleKind::Mixed, 20000, 42);
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_RLE}) {
        const std::vector<u8> stream = zlibDeflateRaw(input, 6, strategy);
        for (int trial = 0; trial < 40; trial++) {
            std::vector<u8> damaged = stream;
            for (int flips = 1 + int(random() % 3); flips > 0; flips--) damaged[random() % damaged.size()] ^= u8(1 << (random() % 8));
            const i64 capacity = trial % 3 ? i64(input.size()) + 5000 : i64(random() % input.size());
            std::vector<u8> whole;
            i32 wholeResult = inflateWhole(damaged, capacity, &whole, nullptr, trial % 2 == 1);
            InflateRun careful = inflateInPieces(damaged, capacity, &random, 3);
            ASSERT_EQ(wholeResult, careful.result) << trial;
            ASSERT_EQ(whole, careful.output) << trial;
        }
    }
}

// A caller that pauses the output or lets it fill, keeps the last 32768 bytes at the start of a small
// buffer and goes on gets the whole data.
TEST(Inflate, PausedOutputMovedToTheStartDecodesTheSame) {
    std::mt19937 random(51);
    std::vector<u8> input = sampleData(SampleKind::Mixed, 400000, 52);
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
        const std::vector<u8> stream = zlibDeflateRaw(input, 9, strategy);
        std::vector<u8> buffer(40000);
        auto* state = new InflateState{};
        state->output = buffer.data();
        state->outputCapacity = i64(buffer.size());
        std::vector<u8> output;
        i64 position = 0;
        i64 taken = 0;  // bytes of buffer already appended to output
        i32 result = InflatePaused;
        while (result == InflatePaused || result == InflateOutputFull) {
            // Now and then no pause: the output fills, and the call goes on after the move.
            state->outputPause = random() % 4 ? state->outputPosition + 1 + i64(random() % 3000) : 0;
            result = inflate(stream.data(), &position, i64(stream.size()), state);
            output.insert(output.end(), buffer.begin() + taken, buffer.begin() + state->outputPosition);
            taken = state->outputPosition;
            if (state->outputPosition > 32768) {
                const i64 drop = state->outputPosition - 32768;
                std::memmove(buffer.data(), buffer.data() + drop, 32768);
                state->outputPosition -= drop;
                taken -= drop;
            }
        }
        EXPECT_EQ(result, InflateDone);
        EXPECT_EQ(position, i64(stream.size()));
        EXPECT_TRUE(output == input);
        delete state;
    }
}
