// UTF-8 and UTF-16 re-encoding checked against Python's codecs over thousands of random inputs with
// malformed units mixed in.
//
// The re-encoding inputs mix valid sequences, stray continuation bytes, 0xFE and 0xFF, and sequences
// cut short by an ASCII byte, a new lead byte or the end of the text. The decoder itself is held to
// Python's strict decoder over random bytes near the boundaries of the well-formed ranges.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Core/FixedString.h"
#include "CoreOracle.h"

namespace {

void appendUtf8Scalar(u32 c, std::string& out) {
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | (c >> 6));
        out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += (char)(0xE0 | (c >> 12));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xF0 | (c >> 18));
        out += (char)(0x80 | ((c >> 12) & 0x3F));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

u32 randomScalar(std::mt19937_64& random) {
    switch (random() % 4) {
        case 0: return 0x20 + (u32)(random() % 0x5F);
        case 1: return 0x80 + (u32)(random() % (0x800 - 0x80));
        case 2: {
            u32 c;
            do c = 0x800 + (u32)(random() % (0x10000 - 0x800));
            while (c >= 0xD800 && c <= 0xDFFF);
            return c;
        }
        default: return 0x10000 + (u32)(random() % (0x110000 - 0x10000));
    }
}

std::string randomUtf8(std::mt19937_64& random) {
    std::string out;
    size_t pieces = random() % 120;
    for (size_t i = 0; i < pieces; i++) {
        switch (random() % 10) {
            case 0: out += (char)(0x80 + random() % 0x40); break;  // stray continuation byte
            case 1: out += (char)(random() % 2 ? 0xFE : 0xFF); break;
            case 2: {
                // A multi-byte sequence cut short, then an ASCII byte, a new sequence or the end.
                std::string whole;
                u32 c;
                do c = randomScalar(random);
                while (c < 0x80);
                appendUtf8Scalar(c, whole);
                out += whole.substr(0, 1 + random() % (whole.size() - 1));
                if (i + 1 == pieces && random() % 2) break;
                if (random() % 2) {
                    out += (char)('a' + random() % 26);
                } else {
                    appendUtf8Scalar(randomScalar(random) | 0x80, out);
                }
                break;
            }
            case 3: out += (char)(random() % 0x20); break;  // control characters, zero included
            default: appendUtf8Scalar(randomScalar(random), out); break;
        }
    }
    return out;
}

std::u16string randomUtf16(std::mt19937_64& random) {
    std::u16string out;
    size_t pieces = random() % 80;
    for (size_t i = 0; i < pieces; i++) {
        switch (random() % 12) {
            case 0: out += (char16_t)(0xD800 + random() % 0x400); break;  // lone high surrogate
            case 1: out += (char16_t)(0xDC00 + random() % 0x400); break;  // lone low surrogate
            case 2:
                if (random() % 8 == 0) out += (char16_t)0;  // a zero unit ends the text
                break;
            case 3:
            case 4: {
                u32 c = 0x10000 + (u32)(random() % 0x100000);
                out += (char16_t)(0xD800 + ((c - 0x10000) >> 10));
                out += (char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF));
                break;
            }
            default: {
                u32 c;
                do c = 1 + (u32)(random() % 0xFFFF);
                while (c >= 0xD800 && c <= 0xDFFF);
                out += (char16_t)c;
                break;
            }
        }
    }
    return out;
}

void addRecord(std::string& file, u8 kind, const void* bytes, u32 length) {
    file += (char)kind;
    for (int i = 0; i < 4; i++) file += (char)(length >> (8 * i));
    file.append((const char*)bytes, length);
}

std::vector<std::string> readRecords(const std::string& file) {
    std::vector<std::string> records;
    size_t i = 0;
    while (i + 4 <= file.size()) {
        u32 length = 0;
        for (int k = 0; k < 4; k++) length |= (u32)(u8)file[i + k] << (8 * k);
        records.push_back(file.substr(i + 4, length));
        i += 4 + length;
    }
    return records;
}

// The longest prefix of whole code points of a valid UTF-8 text that fits in `capacity` bytes.
size_t cutAtCodepoint(const std::string& utf8, size_t capacity) {
    if (utf8.size() <= capacity) return utf8.size();
    size_t cut = capacity;
    while (cut > 0 && ((u8)utf8[cut] & 0xC0) == 0x80) cut--;
    return cut;
}

std::string reencodeUtf8(const std::string& input, i64 capacity, u8* overflow) {
    std::vector<u8> buffer((size_t)capacity + 1);
    ByteWriter writer = makeByteWriter(buffer.data(), capacity);
    appendUtf8Text(input.data(), (i64)input.size(), &writer);
    ByteWriter measuring = makeMeasuringWriter(capacity);
    appendUtf8Text(input.data(), (i64)input.size(), &measuring);
    EXPECT_EQ(measuring.length, writer.length);
    EXPECT_EQ(measuring.overflow, writer.overflow);
    *overflow = writer.overflow;
    return std::string((const char*)buffer.data(), (size_t)writer.length);
}

std::string reencodeUtf16(const std::u16string& input, i64 capacity, u8* overflow) {
    std::vector<u8> buffer((size_t)capacity + 1);
    ByteWriter writer = makeByteWriter(buffer.data(), capacity);
    appendUtf16((const u16*)input.data(), (i64)input.size(), &writer);
    ByteWriter measuring = makeMeasuringWriter(capacity);
    appendUtf16((const u16*)input.data(), (i64)input.size(), &measuring);
    EXPECT_EQ(measuring.length, writer.length);
    EXPECT_EQ(measuring.overflow, writer.overflow);
    *overflow = writer.overflow;
    return std::string((const char*)buffer.data(), (size_t)writer.length);
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        out += digits[(u8)c >> 4];
        out += digits[(u8)c & 15];
        out += ' ';
    }
    return out;
}

}  // namespace

TEST(EncodingOracle, Utf8AndUtf16AgreeWithPythonCodecs) {
    constexpr int kInputs = 3000;
    std::mt19937_64 random(20261207);
    std::vector<std::string> utf8Inputs;
    std::vector<std::u16string> utf16Inputs;
    std::string file;
    for (int i = 0; i < kInputs; i++) {
        utf8Inputs.push_back(randomUtf8(random));
        addRecord(file, 0, utf8Inputs.back().data(), (u32)utf8Inputs.back().size());
    }
    for (int i = 0; i < kInputs; i++) {
        utf16Inputs.push_back(randomUtf16(random));
        std::string littleEndian;
        for (char16_t unit : utf16Inputs.back()) {
            littleEndian += (char)(unit & 0xFF);
            littleEndian += (char)(unit >> 8);
        }
        addRecord(file, 1, littleEndian.data(), (u32)littleEndian.size());
    }

    bool ok = false;
    std::vector<std::string> expected = readRecords(coreoracle::runScript("reencode.py", file, &ok));
    ASSERT_TRUE(ok) << "the Python oracle did not run";
    ASSERT_EQ(expected.size(), (size_t)(2 * kInputs));

    for (int i = 0; i < kInputs; i++) {
        const std::string& input = utf8Inputs[(size_t)i];
        const std::string& want = expected[(size_t)i];
        u8 overflow = 0;
        ASSERT_EQ(reencodeUtf8(input, 1 << 12, &overflow), want) << "UTF-8 input " << hex(input);
        EXPECT_EQ(overflow, 0);

        // Into a FixedString: cut at a code point boundary and flagged.
        ByteWriter source = makeByteWriter((void*)input.data(), (i64)input.size());
        source.length = (i64)input.size();
        FixedString cut = stringFromUtf8Bytes(&source);
        size_t fits = cutAtCodepoint(want, 253);
        ASSERT_EQ(std::string(cut.text, cut.length), want.substr(0, fits)) << "UTF-8 input " << hex(input);
        EXPECT_EQ(cut.truncated, want.size() > fits ? 1 : 0);

        // A small writer stops at a whole code point and measures the same.
        size_t small = (size_t)(random() % 40);
        std::string part = reencodeUtf8(input, (i64)small, &overflow);
        EXPECT_EQ(part, want.substr(0, cutAtCodepoint(want, small)));
        EXPECT_EQ(overflow, want.size() > part.size() ? 1 : 0);
    }
    for (int i = 0; i < kInputs; i++) {
        const std::u16string& input = utf16Inputs[(size_t)i];
        const std::string& want = expected[(size_t)(kInputs + i)];
        u8 overflow = 0;
        std::string got = reencodeUtf16(input, 1 << 12, &overflow);
        ASSERT_EQ(got, want) << "UTF-16 input " << i;
        EXPECT_EQ(overflow, 0);
        size_t small = (size_t)(random() % 40);
        std::string part = reencodeUtf16(input, (i64)small, &overflow);
        EXPECT_EQ(part, want.substr(0, cutAtCodepoint(want, small)));
        EXPECT_EQ(overflow, want.size() > part.size() ? 1 : 0);
    }
}

namespace {

// Bytes drawn mostly from the places where well-formedness is decided: the lead bytes 0xC0..0xFF
// and the edges of the continuation range.
std::string randomBytes(std::mt19937_64& random) {
    static const u8 edges[] = {0x00, 0x2F, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                               0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5,
                               0xF7, 0xF8, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    std::string out;
    size_t count = random() % 24;
    for (size_t i = 0; i < count; i++) {
        switch (random() % 3) {
            case 0: out += (char)edges[random() % sizeof edges]; break;
            case 1: out += (char)(0x80 + random() % 0x40); break;
            default: out += (char)(random() % 256); break;
        }
    }
    return out;
}

// Forward decoding with each malformed or cut-off part shown as U+FFFD, as Python's "replace" does.
std::string decodeReplacing(const std::string& input) {
    const u8* bytes = (const u8*)input.data();
    i64 end = (i64)input.size();
    u8 buffer[1024];
    ByteWriter writer = makeByteWriter(buffer, sizeof buffer);
    for (i64 position = 0;;) {
        i32 c = utf8DecodeNext(bytes, end, &position);
        if (c == kUtf8End) break;
        appendCodepoint(c >= 0 ? c : 0xFFFD, &writer);
        if (c == kUtf8Truncated) break;
    }
    return std::string((const char*)buffer, (size_t)writer.length);
}

}  // namespace

TEST(EncodingOracle, OverlongSurrogateAndOutOfRangeFormsReadAsMalformed) {
    constexpr int kInputs = 20000;
    std::mt19937_64 random(24);
    std::vector<std::string> inputs;
    std::string file;
    for (int i = 0; i < kInputs; i++) {
        inputs.push_back(randomBytes(random));
        addRecord(file, 2, inputs.back().data(), (u32)inputs.back().size());
    }
    bool ok = false;
    std::vector<std::string> expected = readRecords(coreoracle::runScript("reencode.py", file, &ok));
    ASSERT_TRUE(ok) << "the Python oracle did not run";
    ASSERT_EQ(expected.size(), (size_t)kInputs);
    for (int i = 0; i < kInputs; i++) {
        const std::string& input = inputs[(size_t)i];
        ASSERT_EQ(hex(decodeReplacing(input)), hex(expected[(size_t)i])) << "input " << hex(input);

        // Backward, a code point is only ever one that forward decoding reads from the same byte.
        const u8* bytes = (const u8*)input.data();
        for (i64 position = (i64)input.size(); position > 0;) {
            i64 before = position;
            i32 c = utf8DecodePrevious(bytes, &position);
            if (c == kUtf8End || position == before) break;
            if (c >= 0) {
                i64 forward = position;
                ASSERT_EQ(utf8DecodeNext(bytes, before, &forward), c) << "input " << hex(input);
                ASSERT_EQ(forward, before) << "input " << hex(input);
            }
        }
    }
}
