// FixedString builders, ByteWriter appenders and their fit rules, bit writers and length fields.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "Core/FixedString.h"

namespace {

std::string text(const FixedString& s) { return std::string(s.text, s.length); }

std::string written(const ByteWriter& w) { return std::string((const char*)w.data, (size_t)w.length); }

template <typename Appender>
std::string appended(Appender appender) {
    u8 buffer[512] = {};
    ByteWriter w = makeByteWriter(buffer, sizeof buffer);
    appender(&w);
    EXPECT_EQ(w.overflow, 0);
    return written(w);
}

}  // namespace

TEST(FixedStringBuilders, CutAt253BytesAndFlagTheCut) {
    std::string longText(300, 'x');
    FixedString cut = makeString(longText.c_str());
    EXPECT_EQ(cut.length, 253);
    EXPECT_EQ(cut.truncated, 1);
    EXPECT_EQ(cut.text[253], 0);

    std::string exact(253, 'y');
    FixedString fits = makeString(exact.c_str());
    EXPECT_EQ(fits.length, 253);
    EXPECT_EQ(fits.truncated, 0);
    EXPECT_EQ(text(fits), exact);

    // Every byte after the text is zero.
    FixedString shortText = makeString("abc");
    for (int i = 3; i < 254; i++) ASSERT_EQ(shortText.text[i], 0) << i;
}

TEST(FixedStringBuilders, EachBuilderWritesItsAppender) {
    EXPECT_EQ(text(stringFromBytes("abcdef", 3)), "abc");
    EXPECT_EQ(stringFromBytes("abc", -1).length, 0);
    EXPECT_EQ(text(stringFromCodepoint(0x20AC)), "\xE2\x82\xAC");
    EXPECT_EQ(text(stringFromInt(-42)), "-42");
    EXPECT_EQ(text(stringFromFixedPoint(1234, 2)), "12.34");
    EXPECT_EQ(text(stringFromDouble(2.999, 2)), "2.99");
    EXPECT_EQ(text(stringFromDoubleTrimmed(2.5, 2)), "2.5");
    const u8 bytes[] = {0x0A, 0xFF};
    EXPECT_EQ(text(hexString(bytes, 2)), "0AFF");

    u8 source[] = {'a', 0xC3, 0xA9, 0xFF, 'b', 0xE2, 0x82};
    ByteWriter writer = makeByteWriter(source, sizeof source);
    writer.length = sizeof source;
    EXPECT_EQ(text(stringFromUtf8Bytes(&writer)), "a\xC3\xA9" "b");
}

TEST(FixedStringBuilders, ByteSizesDivideDownByThousands) {
    EXPECT_EQ(text(byteSizeString(999)), "999 B");
    EXPECT_EQ(text(byteSizeString(1000)), "1.0 kB");
    EXPECT_EQ(text(byteSizeString(1999)), "1.9 kB");
    EXPECT_EQ(text(byteSizeString(999999)), "999.9 kB");
    EXPECT_EQ(text(byteSizeString(1000000)), "1.0 MB");
    EXPECT_EQ(text(byteSizeString(2500000000LL)), "2.5 GB");
    EXPECT_EQ(text(byteSizeString(1000000000000LL)), "1.0 TB");
    EXPECT_EQ(text(byteSizeString(1000000000000000LL)), "1.0 PB");
    EXPECT_EQ(text(byteSizeString(INT64_MAX)), "9.2 EB");
    EXPECT_EQ(text(byteSizeString(-5)), "-5 B");
}

TEST(FixedStringAppenders, CodepointsAreWholeFields) {
    EXPECT_EQ(appended([](ByteWriter* w) { appendCodepoint(0x41, w); }), "A");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCodepoint(0xE9, w); }), "\xC3\xA9");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCodepoint(0x1F600, w); }), "\xF0\x9F\x98\x80");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCodepoint(0xD800, w); }), "\xED\xA0\x80");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCodepoint(0x200000, w); }), "\xF8\x88\x80\x80\x80");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCodepoint(0x7FFFFFFF, w); }), "\xFD\xBF\xBF\xBF\xBF\xBF");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCodepoint(-1, w); }), "");

    u8 buffer[4] = {};
    ByteWriter w = makeByteWriter(buffer, 3);
    appendCString("a", &w);
    appendCodepoint(0x20AC, &w);  // 3 bytes with 2 left
    EXPECT_EQ(w.length, 1);
    EXPECT_EQ(w.overflow, 1);
    EXPECT_EQ(buffer[1], 0);
    appendCString("b", &w);  // nothing after an overflow
    EXPECT_EQ(w.length, 1);
}

TEST(FixedStringAppenders, ByteWiseTextKeepsTheFittingPart) {
    u8 buffer[8] = {};
    ByteWriter w = makeByteWriter(buffer, 5);
    appendCString("abc", &w);
    appendCString("defg", &w);
    EXPECT_EQ(w.length, 5);
    EXPECT_EQ(w.overflow, 1);
    EXPECT_EQ(written(w), "abcde");
    EXPECT_EQ(buffer[5], 0);
}

TEST(FixedStringAppenders, Integers) {
    EXPECT_EQ(appended([](ByteWriter* w) { appendInt64(0, w); }), "0");
    EXPECT_EQ(appended([](ByteWriter* w) { appendInt64(1234567890, w); }), "1234567890");
    EXPECT_EQ(appended([](ByteWriter* w) { appendInt64(INT64_MAX, w); }), "9223372036854775807");
    // The smallest i64 prints its true value.
    EXPECT_EQ(appended([](ByteWriter* w) { appendInt64(INT64_MIN, w); }), "-9223372036854775808");
    EXPECT_EQ(appended([](ByteWriter* w) { appendInt64Padded(-42, 6, w); }), "   -42");
    EXPECT_EQ(appended([](ByteWriter* w) {
                  appendCString("ab", w);
                  appendInt64Padded(7, 5, w);
              }),
              "ab  7");
    EXPECT_EQ(appended([](ByteWriter* w) { appendInt64Padded(123456, 3, w); }), "123456");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCStringRightAligned("key", 6, w); }), "   key");
    EXPECT_EQ(appended([](ByteWriter* w) { appendCStringRightAligned("longer", 2, w); }), "longer");
}

TEST(FixedStringAppenders, FixedPointDecimals) {
    auto fixed = [](i64 value, i64 decimals) {
        return appended([&](ByteWriter* w) { appendFixedPoint(value, decimals, w); });
    };
    EXPECT_EQ(fixed(1234, 2), "12.34");
    EXPECT_EQ(fixed(-5, 3), "-0.005");
    EXPECT_EQ(fixed(7, 0), "7");
    EXPECT_EQ(fixed(305, 2), "3.05");
    EXPECT_EQ(fixed(-7, 2), "-0.07");
    EXPECT_EQ(fixed(0, 3), "0.000");
    EXPECT_EQ(fixed(-7, -2), "-7");
    EXPECT_EQ(fixed(INT64_MIN, 17), "-92.23372036854775808");
    EXPECT_EQ(fixed(5, 20), "0.00000000000000000005");
}

TEST(FixedStringAppenders, DoublesTruncate) {
    auto fixed = [](f64 value, i64 decimals) {
        return appended([&](ByteWriter* w) { appendDouble(value, decimals, w); });
    };
    EXPECT_EQ(fixed(2.999, 2), "2.99");
    EXPECT_EQ(fixed(-0.4, 0), "0");
    EXPECT_EQ(fixed(-2.75, 1), "-2.7");
    EXPECT_EQ(fixed(1.0, 3), "1.000");
    EXPECT_EQ(fixed(12.515625, 5), "12.51562");
    EXPECT_EQ(fixed(NAN, 2), "NaN");
    EXPECT_EQ(fixed(INFINITY, 2), "\xE2\x88\x9E");
    EXPECT_EQ(fixed(-INFINITY, 2), "-\xE2\x88\x9E");
    // Values beyond the i64 range are held at its bounds instead of being undefined.
    EXPECT_EQ(fixed(1e300, 2), "92233720368547758.07");
    EXPECT_EQ(fixed(-1e30, 0), "-9223372036854775807");
}

TEST(FixedStringAppenders, DoublesIgnoreTheErrorOfBinaryRepresentation) {
    auto fixed = [](f64 value, i64 decimals) {
        return appended([&](ByteWriter* w) { appendDouble(value, decimals, w); });
    };
    // 0.29 * 100 is 28.999999999999996 in binary: it stands for 29.
    EXPECT_EQ(fixed(0.29, 2), "0.29");
    EXPECT_EQ(fixed(-0.29, 2), "-0.29");
    EXPECT_EQ(fixed(1.005, 3), "1.005");
    EXPECT_EQ(fixed(4.35, 2), "4.35");
    EXPECT_EQ(fixed(0.57, 2), "0.57");
    // Every two-decimal value written with two decimals reads back exactly.
    for (int cents = -100000; cents <= 100000; cents += 7) {
        f64 value = cents / 100.0;
        char expected[32];
        std::snprintf(expected, sizeof expected, "%s%d.%02d", cents < 0 ? "-" : "", std::abs(cents) / 100,
                      std::abs(cents) % 100);
        ASSERT_EQ(fixed(value, 2), expected) << cents;
    }
    // Values plainly below the next digit still truncate.
    EXPECT_EQ(fixed(0.2899999, 2), "0.28");
    EXPECT_EQ(fixed(2.0 - 1e-12, 0), "1");
}

TEST(FixedStringAppenders, TrimmedDoublesDropTrailingZeros) {
    auto trimmed = [](f64 value, i64 decimals) {
        return appended([&](ByteWriter* w) { appendDoubleTrimmed(value, decimals, w); });
    };
    EXPECT_EQ(trimmed(2.50, 2), "2.5");
    EXPECT_EQ(trimmed(3.0, 2), "3");
    EXPECT_EQ(trimmed(1.5, 3), "1.5");
    EXPECT_EQ(trimmed(-0.125, 2), "-0.12");
    EXPECT_EQ(trimmed(0.29, 3), "0.29");
    EXPECT_EQ(trimmed(NAN, 3), "NaN");
}

TEST(FixedStringAppenders, Hexadecimal) {
    const u8 bytes[] = {0x0A, 0xFF, 0x00};
    EXPECT_EQ(appended([&](ByteWriter* w) { appendHexBytes(bytes, 3, w); }), "0AFF00");
    EXPECT_EQ(appended([&](ByteWriter* w) { appendHexBytesSpaced(bytes, 2, w); }), "0A FF");
    EXPECT_EQ(appended([&](ByteWriter* w) { appendHexDigits(0xAB, 4, w); }), "00AB");
    EXPECT_EQ(appended([&](ByteWriter* w) { appendHexDigits(0x1234, 2, w); }), "34");
    EXPECT_EQ(appended([&](ByteWriter* w) { appendHexDigits(0x1234, 0, w); }), "");
    EXPECT_EQ(appended([&](ByteWriter* w) { appendHexDigits(0xFEDCBA9876543210ULL, 16, w); }), "FEDCBA9876543210");
    EXPECT_EQ(appended([&](ByteWriter* w) { appendHexDigits(0xF, 18, w); }), "00000000000000000F");
}

TEST(FixedStringAppenders, FixedWidthFields) {
    std::string bytes = appended([](ByteWriter* w) {
        appendU32Le(0x01020304, w);
        appendU32Be(0x01020304, w);
        appendU64Le(0x0102030405060708ULL, w);
        appendU64Be(0x0102030405060708ULL, w);
        appendU32LeB(0xA0B0C0D0, w);
        appendU64LeB(1, w);
        appendF32Le(1.0f, w);
        appendF64Le(-2.0, w);
        appendU16Le(0x1234, w);
        appendU16Be(0x1234, w);
        appendU8(0x99, w);
    });
    const u8 expected[] = {4, 3, 2, 1, 1, 2, 3, 4, 8, 7, 6, 5, 4, 3, 2, 1, 1, 2, 3, 4, 5, 6, 7, 8,
                           0xD0, 0xC0, 0xB0, 0xA0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3F,
                           0, 0, 0, 0, 0, 0, 0, 0xC0, 0x34, 0x12, 0x12, 0x34, 0x99};
    ASSERT_EQ(bytes.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(bytes.data(), expected, sizeof expected), 0);

    u8 buffer[8] = {};
    ByteWriter w = makeByteWriter(buffer, 6);
    appendU32Le(1, &w);
    appendU32Le(2, &w);  // does not fit whole: nothing of it is stored
    EXPECT_EQ(w.length, 4);
    EXPECT_EQ(w.overflow, 1);
    EXPECT_EQ(buffer[4], 0);
}

TEST(FixedStringAppenders, Utf16ToUtf8) {
    auto utf16 = [](std::u16string units) {
        return appended([&](ByteWriter* w) { appendUtf16((const u16*)units.data(), (i64)units.size(), w); });
    };
    EXPECT_EQ(utf16(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16(std::u16string(u"a\xDC00" "b")), "ab");                 // lone low surrogate skipped
    EXPECT_EQ(utf16(std::u16string(u"a\xD800" "b")), "ab");                 // high without its low half
    EXPECT_EQ(utf16(std::u16string(u"a\xD800")), "a");                      // high surrogate at the end
    EXPECT_EQ(utf16(std::u16string(u"a\0b", 3)), "a");                      // a zero unit ends the text
    EXPECT_EQ(utf16(u"\x00E9\x20AC"), "\xC3\xA9\xE2\x82\xAC");
}

TEST(FixedStringAppenders, JsonUnescaping) {
    auto json = [](std::string s) {
        return appended([&](ByteWriter* w) { appendJsonUnescaped(s.data(), (i64)s.size(), w); });
    };
    EXPECT_EQ(json("\\u00e9"), "\xC3\xA9");
    EXPECT_EQ(json("a\\ud83d\\ude00b"), "a\xF0\x9F\x98\x80" "b");  // an escaped pair is one character
    EXPECT_EQ(json("a\\ude00\\ud83db"), "ab");                   // lone or reversed halves write nothing
    EXPECT_EQ(json("a\\ud83d\\u0041b"), "aAb");                   // a high half before another escape
    EXPECT_EQ(json("a\\ud83d\\ude0"), "a");                       // a pair cut off by the end
    EXPECT_EQ(json("a\\xb"), "ab");
    EXPECT_EQ(json("\\\"\\\\\\/\\b\\f\\n\\r\\t"), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(json("end\\"), "end");
    EXPECT_EQ(json("\\u00zz"), std::string(1, '\0'));  // non-hex characters count as 0
    EXPECT_EQ(json("\\u20AC"), "\xE2\x82\xAC");

    // An escape cut off by the end never reads past it.
    for (int cut = 0; cut <= 4; cut++) {
        std::string source = "x\\u00e9";
        source.resize(3 + (size_t)cut);
        u8* heap = new u8[source.size()];
        std::memcpy(heap, source.data(), source.size());
        std::string out = appended([&](ByteWriter* w) { appendJsonUnescaped(heap, (i64)source.size(), w); });
        delete[] heap;
        EXPECT_EQ(out, cut == 4 ? "x\xC3\xA9" : "x") << cut;
    }
}

TEST(FixedStringBits, LeastSignificantBitFirst) {
    u8 buffer[4] = {};
    ByteWriter w = makeByteWriter(buffer, sizeof buffer);
    BitWriter bits = makeBitWriter(&w, 0);
    appendBits(0b101, 3, &bits);
    appendBits(0b111111, 6, &bits);
    EXPECT_EQ(w.length, 2);
    EXPECT_EQ(buffer[0], 0xFD);
    EXPECT_EQ(buffer[1], 0x01);

    // The fill byte goes into every new byte before its bits; bits already placed are overwritten.
    u8 filled[2] = {};
    ByteWriter w2 = makeByteWriter(filled, 2);
    BitWriter bits2 = makeBitWriter(&w2, 0xFF);
    appendBits(0, 2, &bits2);
    EXPECT_EQ(filled[0], 0xFC);
    appendBits(0, 0, &bits2);
    EXPECT_EQ(w2.length, 1);
    appendBits(0x3FFF, 14, &bits2);
    EXPECT_EQ(w2.length, 2);
    EXPECT_EQ(filled[1], 0xFF);
    appendBits(1, 1, &bits2);  // no room for a third byte
    EXPECT_EQ(w2.overflow, 1);

    u8 wide[9] = {};
    ByteWriter w3 = makeByteWriter(wide, sizeof wide);
    BitWriter bits3 = makeBitWriter(&w3, 0);
    appendBits(1, 1, &bits3);
    appendBits(0xFFFFFFFFFFFFFFFFULL, 64, &bits3);
    EXPECT_EQ(w3.length, 9);
    EXPECT_EQ(wide[0], 0xFF);
    EXPECT_EQ(wide[8], 0x01);
}

TEST(FixedStringLengthFields, ReserveAndPatch) {
    u8 buffer[400] = {};
    ByteWriter w = makeByteWriter(buffer, sizeof buffer);
    LengthFieldMark mark = reserveLengthField(&w, LengthFieldU16Be);
    for (int i = 0; i < 300; i++) appendU8(0x55, &w);
    patchLengthField(&mark, 300);
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(buffer[1], 0x2C);
    EXPECT_EQ(w.length, 302);

    struct Case {
        u32 kind;
        std::vector<u8> bytes;
    };
    const Case cases[] = {
        {LengthFieldU8, {0x04}},
        {LengthFieldU16Le, {0x04, 0x03}},
        {LengthFieldU24Be, {0x02, 0x03, 0x04}},
        {LengthFieldU24Le, {0x04, 0x03, 0x02}},
        {LengthFieldU32Be, {0x01, 0x02, 0x03, 0x04}},
        {LengthFieldU32Le, {0x04, 0x03, 0x02, 0x01}},
    };
    for (const Case& c : cases) {
        u8 out[8] = {};
        ByteWriter writer = makeByteWriter(out, sizeof out);
        appendU8(0xEE, &writer);
        LengthFieldMark m = reserveLengthField(&writer, c.kind);
        EXPECT_EQ(m.position, 1 + (i64)c.bytes.size());
        patchLengthField(&m, 0x01020304);
        EXPECT_EQ(out[0], 0xEE);
        EXPECT_EQ(std::vector<u8>(out + 1, out + 1 + c.bytes.size()), c.bytes) << c.kind;
    }

    // A reservation that does not fit is not patched later.
    u8 small[3] = {7, 7, 7};
    ByteWriter tight = makeByteWriter(small, 3);
    appendU8(1, &tight);
    LengthFieldMark refused = reserveLengthField(&tight, LengthFieldU32Le);
    EXPECT_EQ(refused.kind, (u32)LengthFieldNone);
    patchLengthField(&refused, 0xFFFFFFFF);
    EXPECT_EQ(small[1], 7);

    // A writer that overflows after the reservation is not patched either, and stays overflowed.
    u8 room[4] = {};
    ByteWriter later = makeByteWriter(room, 4);
    LengthFieldMark kept = reserveLengthField(&later, LengthFieldU16Le);
    appendU32Le(5, &later);
    patchLengthField(&kept, 0xABCD);
    EXPECT_EQ(room[0], 0);
    EXPECT_EQ(later.overflow, 1);
}
