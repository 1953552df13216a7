// Text cursors, number readers and the text utilities.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "Core/FixedString.h"

namespace {

std::string text(const FixedString& s) { return std::string(s.text, s.length); }

struct Cursor {
    std::string bytes;
    i64 position = 0;
    const u8* data() const { return (const u8*)bytes.data(); }
    i64 end() const { return (i64)bytes.size(); }
};

i64 readInteger(Cursor& c, i64 fallback = -999) { return parseInteger(c.data(), &c.position, c.end(), fallback); }
f64 readDouble(Cursor& c, f64 fallback = -999.0) { return parseDouble(c.data(), &c.position, c.end(), fallback); }

}  // namespace

TEST(TextCursorDecoding, ForwardCodes) {
    Cursor c{"\xC3\xA9"};
    EXPECT_EQ(readCodepoint(c.data(), &c.position, c.end()), 0xE9);
    EXPECT_EQ(c.position, 2);
    EXPECT_EQ(readCodepoint(c.data(), &c.position, c.end()), kUtf8End);
    EXPECT_EQ(c.position, 2);

    Cursor cut{"\xC3"};
    EXPECT_EQ(readCodepoint(cut.data(), &cut.position, cut.end()), kUtf8Truncated);
    EXPECT_EQ(cut.position, 1);

    Cursor bad{"\xC3\x41"};
    EXPECT_EQ(readCodepoint(bad.data(), &bad.position, bad.end()), kUtf8Malformed);
    EXPECT_EQ(bad.position, 1);
    EXPECT_EQ(readCodepoint(bad.data(), &bad.position, bad.end()), 0x41);

    for (const char* stray : {"\x80", "\xBF", "\xFE", "\xFF"}) {
        Cursor s{stray};
        EXPECT_EQ(readCodepoint(s.data(), &s.position, s.end()), kUtf8Malformed);
        EXPECT_EQ(s.position, 1);
    }

    // An overlong "/" is no "/": it reads as two malformed bytes (random inputs: EncodingOracleTest).
    Cursor overlong{"\xC0\xAF"};
    EXPECT_EQ(readCodepoint(overlong.data(), &overlong.position, overlong.end()), kUtf8Malformed);
    EXPECT_EQ(overlong.position, 1);
    EXPECT_EQ(readCodepoint(overlong.data(), &overlong.position, overlong.end()), kUtf8Malformed);

    // utf8DecodeNext takes the length before the position.
    i64 position = 0;
    EXPECT_EQ(utf8DecodeNext((const u8*)"\xE2\x82\xAC", 3, &position), 0x20AC);
    EXPECT_EQ(position, 3);
}

TEST(TextCursorDecoding, Backward) {
    const u8* bytes = (const u8*)"a\xC3\xA9";
    i64 position = 3;
    EXPECT_EQ(utf8DecodePrevious(bytes, &position), 0xE9);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(utf8DecodePrevious(bytes, &position), 'a');
    EXPECT_EQ(position, 0);
    EXPECT_EQ(utf8DecodePrevious(bytes, &position), kUtf8End);

    // Only continuation bytes down to the start.
    const u8* tail = (const u8*)"\xA9\xA9";
    position = 2;
    EXPECT_EQ(utf8DecodePrevious(tail, &position), kUtf8End);

    // An ASCII byte before continuation bytes, and a lead byte announcing a different count.
    const u8* broken = (const u8*)"x\xA9";
    position = 2;
    EXPECT_EQ(utf8DecodePrevious(broken, &position), kUtf8Malformed);
    EXPECT_EQ(position, 0);
    const u8* mismatch = (const u8*)"\xE2\xA9";
    position = 2;
    EXPECT_EQ(utf8DecodePrevious(mismatch, &position), kUtf8Malformed);
    EXPECT_EQ(position, 0);

    const u8* emoji = (const u8*)"\xF0\x9F\x98\x80";
    position = 4;
    EXPECT_EQ(utf8DecodePrevious(emoji, &position), 0x1F600);
    EXPECT_EQ(position, 0);
}

TEST(TextCursorDecoding, SkipBlanks) {
    Cursor c{" \t \tx"};
    skipBlanks(c.data(), &c.position, c.end());
    EXPECT_EQ(c.position, 4);
    Cursor all{"   "};
    skipBlanks(all.data(), &all.position, all.end());
    EXPECT_EQ(all.position, 3);
    Cursor bad{" \xFFz"};
    skipBlanks(bad.data(), &bad.position, bad.end());
    EXPECT_EQ(bad.position, 1);
}

TEST(TextCursorNumbers, Integers) {
    Cursor c{"  -42x"};
    EXPECT_EQ(readInteger(c), -42);
    EXPECT_EQ(c.position, 5);

    Cursor sign{"-"};
    EXPECT_EQ(readInteger(sign), -999);
    Cursor tab{"\t5"};
    EXPECT_EQ(readInteger(tab), -999);
    EXPECT_EQ(tab.position, 0);
    Cursor letters{"  +abc"};
    EXPECT_EQ(readInteger(letters), -999);
    EXPECT_EQ(letters.position, 3);
    Cursor plus{"+17"};
    EXPECT_EQ(readInteger(plus), 17);
    Cursor empty{""};
    EXPECT_EQ(readInteger(empty), -999);

    Cursor limit{"-9223372036854775808"};
    EXPECT_EQ(readInteger(limit), INT64_MIN);
    // Too many digits wrap (modulo 2^64) instead of being undefined.
    Cursor wraps{"18446744073709551617"};
    EXPECT_EQ(readInteger(wraps), 1);
    Cursor huge{"99999999999999999999999999999999999999"};
    readInteger(huge);
    EXPECT_EQ(huge.position, huge.end());
}

TEST(TextCursorNumbers, Doubles) {
    Cursor a{"1.25e-2"};
    EXPECT_DOUBLE_EQ(readDouble(a), 0.0125);
    Cursor b{".e5"};
    EXPECT_EQ(readDouble(b), 0.0);
    Cursor c{"."};
    EXPECT_EQ(readDouble(c), 0.0);
    Cursor d{"5."};
    EXPECT_EQ(readDouble(d), 5.0);
    Cursor e{"-0.5e1"};
    EXPECT_EQ(readDouble(e), -5.0);
    Cursor f{"1e"};
    EXPECT_EQ(readDouble(f), 1.0);
    Cursor g{"  +2.5E+2;"};
    EXPECT_EQ(readDouble(g), 250.0);
    EXPECT_EQ(g.position, 9);
    Cursor h{"-"};
    EXPECT_EQ(readDouble(h), -999.0);
    Cursor i{"x"};
    EXPECT_EQ(readDouble(i), -999.0);
    Cursor j{"3.5x"};
    EXPECT_EQ(readDouble(j), 3.5);
    EXPECT_EQ(j.position, 3);
    Cursor k{"1e-"};
    EXPECT_EQ(readDouble(k), 1.0);
    Cursor big{"1e99999999999999999999999"};
    EXPECT_EQ(readDouble(big), INFINITY);
    Cursor tiny{"1e-99999999999999999999999"};
    EXPECT_EQ(readDouble(tiny), 0.0);

    EXPECT_EQ(parseDoubleOr(makeString("20.0000000"), -1.0), 20.0);
    EXPECT_EQ(parseDoubleOr(makeString("abc"), -1.0), -1.0);
    EXPECT_EQ(parseIntOr(makeString(" 65535"), -1), 65535);
    EXPECT_EQ(parseIntOr(makeString(""), -1), -1);
}

TEST(TextCursorNumbers, Hex) {
    Cursor c{" 1fA;"};
    EXPECT_EQ(parseHex(c.data(), &c.position, c.end(), -1), 0x1FA);
    EXPECT_EQ(c.position, 4);
    Cursor prefix{"0x1F"};
    EXPECT_EQ(parseHex(prefix.data(), &prefix.position, prefix.end(), -1), 0);
    EXPECT_EQ(prefix.position, 1);
    Cursor none{"g"};
    EXPECT_EQ(parseHex(none.data(), &none.position, none.end(), -1), -1);
    Cursor wraps{"10000000000000001"};
    EXPECT_EQ(parseHex(wraps.data(), &wraps.position, wraps.end(), -1), 1);
}

TEST(TextCursorStrings, ReadRestAndReadUntil) {
    Cursor c{"ab,cd"};
    FixedString out;
    readUntilCodepoint(&out, ',', c.data(), &c.position, c.end());
    EXPECT_EQ(text(out), "ab");
    EXPECT_EQ(c.position, 3);
    readRestAsString(&out, c.data(), &c.position, c.end());
    EXPECT_EQ(text(out), "cd");
    EXPECT_EQ(out.truncated, 0);

    Cursor bad{"x\xFFy"};
    readRestAsString(&out, bad.data(), &bad.position, bad.end());
    EXPECT_EQ(text(out), "x");

    Cursor long_{std::string(300, 'q') + ",rest"};
    readUntilCodepoint(&out, ',', long_.data(), &long_.position, long_.end());
    EXPECT_EQ(out.length, 253);
    EXPECT_EQ(out.truncated, 1);
    EXPECT_EQ(long_.position, 301);
}

TEST(TextUtilities, CaseInsensitiveTests) {
    EXPECT_EQ(equalsIgnoringCase("Units", "uNITS", 5), 1);
    EXPECT_EQ(equalsIgnoringCase("Units", "Unit", 4), 0);
    EXPECT_EQ(equalsIgnoringCase("", "", 0), 1);
    EXPECT_EQ(equalsIgnoringCase("", "a", 1), 0);
    EXPECT_EQ(equalsIgnoringCase("a[", "A{", 2), 0);  // only letters fold

    EXPECT_EQ(endsWithIgnoringCase("photo.PNG", 9, ".png"), 1);
    EXPECT_EQ(endsWithIgnoringCase("png", 3, ".png"), 0);
    EXPECT_EQ(endsWithIgnoringCase("x", 1, ""), 1);

    const char* cell = "W P LAT";
    TextSlice slice{(const u8*)cell, (i64)std::strlen(cell)};
    EXPECT_EQ(containsIgnoringCase("wplat", &slice), 1);
    const char* reversed = "TALPW";
    TextSlice backwards{(const u8*)reversed, 5};
    EXPECT_EQ(containsIgnoringCase("wplat", &backwards), 0);
    EXPECT_EQ(containsIgnoringCase("", &backwards), 1);
    const char* broken = "wp\xFFlat";
    TextSlice malformed{(const u8*)broken, 6};
    EXPECT_EQ(containsIgnoringCase("wplat", &malformed), 0);
    const char* accented = "\xC3\xA9wplat";
    TextSlice wide{(const u8*)accented, 7};
    EXPECT_EQ(containsIgnoringCase("WPLAT", &wide), 1);
}

TEST(TextUtilities, ReplaceAll) {
    EXPECT_EQ(text(replaceAll(makeString("a@b@c@"), makeString("@"), makeString("<>"))), "a<>b<>c<>");
    // A replacement holding the find text is not searched again.
    EXPECT_EQ(text(replaceAll(makeString("xx"), makeString("x"), makeString("xx"))), "xxxx");
    EXPECT_EQ(text(replaceAll(makeString("aaa"), makeString("aa"), makeString("b"))), "ba");
    // An empty find text returns the text unchanged instead of looping.
    FixedString same = replaceAll(makeString("abc"), makeString(""), makeString("z"));
    EXPECT_EQ(text(same), "abc");
    EXPECT_EQ(same.truncated, 0);

    FixedString grown = replaceAll(makeString(std::string(200, 'a').c_str()), makeString("a"), makeString("bb"));
    EXPECT_EQ(grown.length, 253);
    EXPECT_EQ(grown.truncated, 1);
    FixedString flagged = makeString(std::string(300, 'a').c_str());
    EXPECT_EQ(replaceAll(flagged, makeString("q"), makeString("r")).truncated, 1);
}

TEST(TextUtilities, CaseMapping) {
    FixedString source = makeString("Map style \xC3\xA9\xFFx");
    EXPECT_EQ(text(toUpperCase(&source)), "MAP STYLE \xC3\xA9X");
    EXPECT_EQ(text(toUpperSnakeCase(&source)), "MAP_STYLE_\xC3\xA9X");
    EXPECT_EQ(text(source), "Map style \xC3\xA9\xFFx");
}

TEST(TextUtilities, Equality) {
    EXPECT_TRUE(equals(makeString("abc"), "abc"));
    EXPECT_FALSE(equals(makeString("abc"), "abd"));
    EXPECT_FALSE(equals(makeString("abc"), "ab"));
    EXPECT_TRUE(equals(makeString("abc"), makeString("abc")));
    EXPECT_FALSE(equals(makeString("abc"), makeString("abcd")));
}
