// TIFF LZW decoding: libtiff's encoder and decoder as the oracle, and the code-stream corner cases.
#include <gtest/gtest.h>

#include "Decoders/GeoTiffTestSupport.h"
#include "Decoders/Lzw.h"

using namespace geotifftest;

namespace {

std::string decodeToString(const std::vector<u8>& stream, i64 capacity, i64* result, ByteWriter* writer) {
    static u8 buffer[1 << 16];
    *writer = makeByteWriter(buffer, capacity);
    *result = decodeTiffLzw(stream.data(), (i64)stream.size(), writer);
    return std::string((const char*)buffer, (size_t)writer->length);
}

std::vector<i32> literalCodes(const std::string& text) {
    std::vector<i32> codes{256};
    for (char c : text) codes.push_back((u8)c);
    return codes;
}

}  // namespace

TEST(Lzw, InitialTableHoldsTheSingleBytesAndTheTwoControlCodes) {
    static LzwTable table;
    std::memset(&table, 0xAB, sizeof(table));
    ASSERT_EQ(initLzwTable(&table), &table);
    EXPECT_EQ(table.nextCode, 258);
    for (i32 i = 0; i < 256; i++) {
        EXPECT_EQ(table.prefix[i], 0xFFFF);
        EXPECT_EQ(table.suffix[i], i);
    }
    EXPECT_EQ(table.suffix[256], 0);
    EXPECT_EQ(table.suffix[257], 1);
    EXPECT_EQ(table.prefix[256], 0xFFFF);
    EXPECT_EQ(table.prefix[257], 0xFFFF);
    EXPECT_EQ(table.prefix[258], 0);
    EXPECT_EQ(table.suffix[4095], 0);
}

TEST(Lzw, DecodesLibtiffStripsAsLibtiffDoes) {
    const std::string& folder = oracleFolder();
    ASSERT_FALSE(folder.empty()) << "geotiff_oracle.py failed";
    for (i32 index = 0; index < 4; index++) {
        SCOPED_TRACE(index);
        std::vector<u8> compressed = readWholeFile(folder + "/lzw-" + std::to_string(index) + ".lzw");
        std::vector<u8> plain = readWholeFile(folder + "/lzw-" + std::to_string(index) + ".raw");
        ASSERT_FALSE(compressed.empty());
        ASSERT_FALSE(plain.empty());
        std::vector<u8> output(plain.size() + 100);
        ByteWriter writer = makeByteWriter(output.data(), (i64)output.size());
        i64 consumed = decodeTiffLzw(compressed.data(), (i64)compressed.size(), &writer);
        EXPECT_GT(consumed, 0);
        EXPECT_LE(consumed, (i64)compressed.size());
        EXPECT_EQ(writer.overflow, 0);
        ASSERT_EQ(writer.length, (i64)plain.size());
        EXPECT_EQ(std::memcmp(output.data(), plain.data(), plain.size()), 0);

        // A measuring writer counts the same bytes.
        ByteWriter measure = makeByteWriter(nullptr, kMeasureCapacity);
        EXPECT_EQ(decodeTiffLzw(compressed.data(), (i64)compressed.size(), &measure), consumed);
        EXPECT_EQ(measure.length, (i64)plain.size());

        // A small output keeps the stream's first bytes and flags the rest as dropped.
        std::vector<u8> small(1000);
        ByteWriter cut = makeByteWriter(small.data(), (i64)small.size());
        EXPECT_EQ(decodeTiffLzw(compressed.data(), (i64)compressed.size(), &cut), consumed);
        EXPECT_EQ(cut.overflow, 1);
        EXPECT_EQ(cut.length, 1000);
        EXPECT_EQ(std::memcmp(small.data(), plain.data(), small.size()), 0);
    }
}

TEST(Lzw, CodeEqualToTheNextFreeCodeRepeatsThePreviousString) {
    ByteWriter writer;
    i64 result;
    std::vector<u8> stream = packLzwCodes({256, 'A', 258, 257});
    EXPECT_EQ(decodeToString(stream, 100, &result, &writer), "AAA");
    EXPECT_EQ(result, (i64)stream.size());
    // "AB" then "ABA" built from the entry just added.
    stream = packLzwCodes({256, 'A', 'B', 258, 260, 257});
    EXPECT_EQ(decodeToString(stream, 100, &result, &writer), "ABABABA");
}

TEST(Lzw, RefusesCodesBeyondTheTableAndAFullTable) {
    ByteWriter writer;
    i64 result;
    decodeToString(packLzwCodes({256, 'A', 260, 257}), 100, &result, &writer);
    EXPECT_EQ(result, kLzwCodeTooLarge);
    decodeToString(packLzwCodes({256, 258, 257}), 100, &result, &writer);
    EXPECT_EQ(result, kLzwCodeTooLarge);

    std::vector<i32> codes{256};
    for (i32 i = 0; i < 3839; i++) codes.push_back(i % 256);
    codes.push_back(257);
    std::string text = decodeToString(packLzwCodes(codes), 1 << 16, &result, &writer);
    EXPECT_GT(result, 0);
    EXPECT_EQ(text.size(), 3839u);
    codes.pop_back();
    codes.push_back('x');
    codes.push_back(257);
    decodeToString(packLzwCodes(codes), 1 << 16, &result, &writer);
    EXPECT_EQ(result, kLzwTableFull);
    // A clear code empties the table again, so long streams go on.
    codes.pop_back();
    codes.pop_back();
    codes.push_back(256);
    for (char c : std::string("after clear")) codes.push_back((u8)c);
    codes.push_back(257);
    text = decodeToString(packLzwCodes(codes), 1 << 16, &result, &writer);
    EXPECT_GT(result, 0);
    EXPECT_EQ(text.substr(3839), "after clear");
}

TEST(Lzw, EndsWithItsInputWhenTheEndCodeIsMissing) {
    ByteWriter writer;
    i64 result;
    std::vector<u8> stream = packLzwCodes(literalCodes("HELLO"));
    EXPECT_EQ(decodeToString(stream, 100, &result, &writer), "HELLO");
    EXPECT_EQ(result, (i64)stream.size());
    // Cut inside the last code: the partial code is not taken.
    stream.pop_back();
    EXPECT_EQ(decodeToString(stream, 100, &result, &writer), "HELL");
    EXPECT_EQ(result, (i64)stream.size());
    EXPECT_EQ(decodeToString({}, 100, &result, &writer), "");
    EXPECT_EQ(result, 0);
}

TEST(Lzw, StopsAtTheEndCodeAndDropsWhatDoesNotFit) {
    ByteWriter writer;
    i64 result;
    std::vector<i32> codes = literalCodes("HELLO WORLD");
    codes.push_back(257);
    std::vector<u8> stream = packLzwCodes(codes);
    size_t used = stream.size();
    stream.push_back(0xFF);
    stream.push_back(0xFF);
    EXPECT_EQ(decodeToString(stream, 100, &result, &writer), "HELLO WORLD");
    EXPECT_EQ(result, (i64)used);
    EXPECT_EQ(decodeToString(stream, 5, &result, &writer), "HELLO");
    EXPECT_EQ(writer.overflow, 1);
    EXPECT_EQ(result, (i64)used);
    // A string cut by the end of the room keeps its head.
    stream = packLzwCodes({256, 'a', 'b', 'c', 258, 259, 257});
    EXPECT_EQ(decodeToString(stream, 100, &result, &writer), "abcabbc");
    EXPECT_EQ(decodeToString(stream, 5, &result, &writer), "abcab");
}

TEST(Lzw, ToFillStopsOnceItsRoomIsFull) {
    // "HELLO", then a code far beyond the table and more codes, without an end code.
    std::vector<i32> codes = literalCodes("HELLO");
    codes.push_back(4000);
    for (int k = 0; k < 50; k++) codes.push_back('x');
    std::vector<u8> stream = packLzwCodes(codes);
    u8 room[100];
    ByteWriter writer = makeByteWriter(room, 5);
    EXPECT_EQ(decodeTiffLzw(stream.data(), (i64)stream.size(), &writer), kLzwCodeTooLarge);
    writer = makeByteWriter(room, 5);
    i64 consumed = decodeTiffLzwToFill(stream.data(), (i64)stream.size(), &writer);
    EXPECT_GT(consumed, 0);
    EXPECT_LT(consumed, (i64)stream.size());
    EXPECT_EQ(std::string((const char*)room, (size_t)writer.length), "HELLO");
    EXPECT_EQ(writer.overflow, 0);
    // With room to spare it reads on and meets the fault as decodeTiffLzw does.
    writer = makeByteWriter(room, 100);
    EXPECT_EQ(decodeTiffLzwToFill(stream.data(), (i64)stream.size(), &writer), kLzwCodeTooLarge);
    // A whole stream with its end code decodes as with decodeTiffLzw.
    stream = packLzwCodes({256, 'a', 'b', 'c', 258, 259, 257});
    writer = makeByteWriter(room, 100);
    EXPECT_EQ(decodeTiffLzwToFill(stream.data(), (i64)stream.size(), &writer), (i64)stream.size());
    EXPECT_EQ(std::string((const char*)room, (size_t)writer.length), "abcabbc");
}

TEST(Lzw, RunsOfOneByteRepeatTheEntryBeingMadeAtEveryLength) {
    // A run of 'A's: every code after the first is the entry being made, one byte longer each time,
    // through the lengths the decoder copies in steps; after a clear code the run starts again.
    std::vector<i32> codes{256, 'A'};
    for (i32 code = 258; code < 300; code++) codes.push_back(code);
    codes.push_back(256);
    codes.push_back('B');
    for (i32 code = 258; code < 280; code++) codes.push_back(code);
    codes.push_back('A');
    codes.push_back(257);
    std::string expected = std::string(1 + 43 * 44 / 2 - 1, 'A') + std::string(1 + 23 * 24 / 2 - 1, 'B') + "A";
    std::vector<u8> stream = packLzwCodes(codes);
    ByteWriter writer;
    i64 result;
    EXPECT_EQ(decodeToString(stream, 1 << 16, &result, &writer), expected);
    EXPECT_EQ(result, (i64)stream.size());
    // Room for exactly the output, and room that ends inside the last long string.
    for (i64 room : {(i64)expected.size(), (i64)expected.size() - 30}) {
        std::vector<u8> exact((size_t)room);
        writer = makeByteWriter(exact.data(), room);
        decodeTiffLzwToFill(stream.data(), (i64)stream.size(), &writer);
        EXPECT_EQ(std::string((const char*)exact.data(), (size_t)writer.length), expected.substr(0, (size_t)room));
    }
}
