// ByteWriter appenders, FixedString builders, bit writers and length fields.
//
// Every appender follows one of three fit rules: a single character is stored while there is room;
// a whole field (a fixed-width number, an encoded code point) is stored only when all of it fits;
// byte-wise text is stored up to the capacity and the rest is cut. Any append that does not fit sets
// the overflow flag, after which every append does nothing. A writer without a buffer measures:
// its length and flag end exactly where a filling run of the same capacity would end.
#include "Core/FixedString.h"

#include <cmath>
#include <cstring>

namespace {


// The three bytes of the infinity sign U+221E.
constexpr u8 kInfinitySign[3] = {0xE2, 0x88, 0x9E};

inline void putChar(u8 c, ByteWriter* writer) {
    if (writer->overflow) return;
    if (writer->length < writer->capacity) {
        if (writer->data) writer->data[writer->length] = c;
        writer->length++;
    } else {
        writer->overflow = 1;
    }
}

// Whole-field rule: returns where the field goes (null in measure mode), or sets overflow and returns
// false when it does not fit.
inline bool reserveField(i64 width, ByteWriter* writer, u8** where) {
    *where = nullptr;
    if (writer->overflow) return false;
    if (width > writer->capacity - writer->length) {
        writer->overflow = 1;
        return false;
    }
    if (writer->data) *where = writer->data + writer->length;
    writer->length += width;
    return true;
}

inline void appendField(const u8* bytes, i64 width, ByteWriter* writer) {
    u8* where;
    if (reserveField(width, writer, &where) && where) std::memcpy(where, bytes, (size_t)width);
}

// Byte-wise rule for `count` copies of one byte.
void appendRepeated(u8 byte, i64 count, ByteWriter* writer) {
    if (writer->overflow || count <= 0) return;
    i64 room = writer->capacity - writer->length;
    if (count <= room) {
        if (writer->data) std::memset(writer->data + writer->length, byte, (size_t)count);
        writer->length += count;
        return;
    }
    if (room > 0) {
        if (writer->data) std::memset(writer->data + writer->length, byte, (size_t)room);
        writer->length = writer->capacity;
    }
    writer->overflow = 1;
}

// Decimal digits of a magnitude, most significant first; returns how many.
i32 decimalDigits(u64 magnitude, char digits[20]) {
    char reversed[20];
    i32 count = 0;
    do {
        reversed[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    for (i32 i = 0; i < count; i++) digits[i] = reversed[count - 1 - i];
    return count;
}

inline u64 magnitudeOf(i64 value) { return value < 0 ? 0 - (u64)value : (u64)value; }

i64 decimalWidth(i64 value) {
    char digits[20];
    return decimalDigits(magnitudeOf(value), digits) + (value < 0 ? 1 : 0);
}

// 10^decimals as a double, computed from the exact integer power where it exists.
f64 powerOfTen(i64 decimals) {
    if (decimals <= 19) {
        u64 power = 1;
        for (i64 i = 0; i < decimals; i++) power *= 10;
        return (f64)power;
    }
    return std::pow(10.0, (f64)decimals);
}

// Truncates a scaled value toward zero. A value within a few units in the last place below the next
// integer is taken as that integer: the product 0.29 * 100 = 28.999999999999996 stands for 29, not 28.
// Magnitudes beyond the i64 range are held at the largest i64.
i64 truncateScaled(f64 scaled) {
    f64 magnitude = std::fabs(scaled);
    constexpr f64 kLimit = 9223372036854775808.0;  // 2^63
    u64 whole;
    if (!(magnitude < kLimit)) {
        whole = (u64)INT64_MAX;
    } else {
        f64 truncated = std::trunc(magnitude);
        if (magnitude != truncated) {
            f64 probe = magnitude;
            for (int i = 0; i < 4; i++) probe = std::nextafter(probe, INFINITY);
            if (probe >= truncated + 1.0) truncated += 1.0;
        }
        whole = truncated >= kLimit ? (u64)INT64_MAX : (u64)truncated;
    }
    return scaled < 0 ? -(i64)whole : (i64)whole;
}

// Writes NaN and the infinities; returns false for a finite value.
bool appendNonFinite(f64 value, ByteWriter* writer) {
    if (std::isnan(value)) {
        appendCString("NaN", writer);
        return true;
    }
    if (std::isinf(value)) {
        if (value < 0) putChar('-', writer);
        appendField(kInfinitySign, 3, writer);
        return true;
    }
    return false;
}

const char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

ByteWriter makeByteWriter(void* data, i64 capacity) { return ByteWriter{0, capacity, 0, (u8*)data}; }

ByteWriter makeMeasuringWriter(i64 capacity) { return ByteWriter{0, capacity, 0, nullptr}; }

// ---------------------------------------------------------------------------------------------------
// Text appenders

void appendBytes(const void* bytes, i64 count, ByteWriter* writer) {
    if (writer->overflow || count <= 0) return;
    i64 room = writer->capacity - writer->length;
    if (count <= room) {
        if (writer->data) std::memcpy(writer->data + writer->length, bytes, (size_t)count);
        writer->length += count;
        return;
    }
    if (room > 0) {
        if (writer->data) std::memcpy(writer->data + writer->length, bytes, (size_t)room);
        writer->length = writer->capacity;
    }
    writer->overflow = 1;
}

void appendCString(const char* text, ByteWriter* writer) {
    if (!text) return;
    appendBytes(text, (i64)std::strlen(text), writer);
}

void appendFixedString(FixedString text, ByteWriter* writer) { appendBytes(text.text, fixedStringLength(&text), writer); }

void appendFixedStringRef(const FixedString* text, ByteWriter* writer) {
    appendBytes(text->text, fixedStringLength(text), writer);
}

void appendCStringRightAligned(const char* text, i64 endPosition, ByteWriter* writer) {
    i64 width = text ? (i64)std::strlen(text) : 0;
    if (endPosition > writer->length && endPosition - writer->length > width) {
        appendRepeated(' ', endPosition - writer->length - width, writer);
    }
    appendCString(text, writer);
}

void appendCodepoint(i32 codepoint, ByteWriter* writer) {
    if (codepoint < 0) return;
    u32 value = (u32)codepoint;
    u8 bytes[6];
    i64 count;
    if (value < 0x80) {
        bytes[0] = (u8)value;
        count = 1;
    } else {
        u8 lead;
        if (value < 0x800) {
            count = 2;
            lead = 0xC0;
        } else if (value < 0x10000) {
            count = 3;
            lead = 0xE0;
        } else if (value < 0x200000) {
            count = 4;
            lead = 0xF0;
        } else if (value < 0x4000000) {
            count = 5;
            lead = 0xF8;
        } else {
            count = 6;
            lead = 0xFC;
        }
        for (i64 i = count - 1; i > 0; i--) {
            bytes[i] = (u8)(0x80 | (value & 0x3F));
            value >>= 6;
        }
        bytes[0] = (u8)(lead | value);
    }
    appendField(bytes, count, writer);
}

void appendUtf8Text(const void* text, i64 byteLength, ByteWriter* writer) {
    const u8* bytes = (const u8*)text;
    i64 position = 0;
    while (!writer->overflow) {
        i32 codepoint = utf8DecodeNext(bytes, byteLength, &position);
        if (codepoint == kUtf8End || codepoint == kUtf8Truncated) break;
        if (codepoint >= 0) appendCodepoint(codepoint, writer);
    }
}

void appendUtf16(const u16* units, i64 unitCount, ByteWriter* writer) {
    i64 i = 0;
    while (i < unitCount && !writer->overflow) {
        u32 unit = units[i];
        if (unit == 0) break;
        if (unit < 0xD800 || unit > 0xDFFF) {
            appendCodepoint((i32)unit, writer);
            i++;
        } else if (unit >= 0xDC00) {
            i++;  // a lone low surrogate
        } else if (i + 1 >= unitCount) {
            break;  // a high surrogate as the last unit
        } else {
            u32 next = units[i + 1];
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendCodepoint((i32)(0x10000 + ((unit & 0x3FF) << 10) + (next & 0x3FF)), writer);
                i += 2;
            } else {
                i++;  // a high surrogate without its low half
            }
        }
    }
}

namespace {
i32 hexValueOrZero(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}
}  // namespace

void appendJsonUnescaped(const void* text, i64 byteLength, ByteWriter* writer) {
    const u8* bytes = (const u8*)text;
    i64 i = 0;
    while (i < byteLength && !writer->overflow) {
        u8 c = bytes[i];
        if (c != '\\') {
            putChar(c, writer);
            i++;
            continue;
        }
        if (i + 1 >= byteLength) break;  // a backslash as the last byte is dropped
        u8 escape = bytes[i + 1];
        i += 2;
        switch (escape) {
            case '"':
            case '\\':
            case '/': putChar(escape, writer); break;
            case 'b': putChar(8, writer); break;
            case 'f': putChar(12, writer); break;
            case 'n': putChar(10, writer); break;
            case 'r': putChar(13, writer); break;
            case 't': putChar(9, writer); break;
            case 'u': {
                if (byteLength - i < 4) {
                    // An escape cut off by the end of the text is dropped with what is left of it.
                    i = byteLength;
                    break;
                }
                i32 value = 0;
                for (int k = 0; k < 4; k++) value = value * 16 + hexValueOrZero(bytes[i + k]);
                i += 4;
                if (value >= 0xD800 && value <= 0xDBFF && byteLength - i >= 6 && bytes[i] == '\\' &&
                    bytes[i + 1] == 'u') {
                    // A high surrogate escape followed by a low one is one character beyond the
                    // Basic Multilingual Plane (how JSON writers escape emoji and rare scripts).
                    i32 low = 0;
                    for (int k = 0; k < 4; k++) low = low * 16 + hexValueOrZero(bytes[i + 2 + k]);
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        i += 6;
                        appendCodepoint(0x10000 + ((value & 0x3FF) << 10) + (low & 0x3FF), writer);
                        break;
                    }
                }
                if (value < 0xD800 || value > 0xDFFF) appendCodepoint(value, writer);
                break;
            }
            default: break;  // an unknown escape drops both characters
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Numbers

void appendInt64(i64 value, ByteWriter* writer) {
    char digits[20];
    i32 count = decimalDigits(magnitudeOf(value), digits);
    if (value < 0) putChar('-', writer);
    for (i32 i = 0; i < count; i++) putChar((u8)digits[i], writer);
}

void appendInt64Padded(i64 value, i64 endPosition, ByteWriter* writer) {
    i64 width = decimalWidth(value);
    if (endPosition > writer->length && endPosition - writer->length > width) {
        appendRepeated(' ', endPosition - writer->length - width, writer);
    }
    appendInt64(value, writer);
}

void appendFixedPoint(i64 scaledValue, i64 decimals, ByteWriter* writer) {
    if (decimals <= 0) {
        appendInt64(scaledValue, writer);
        return;
    }
    char digits[20];
    i64 count = decimalDigits(magnitudeOf(scaledValue), digits);
    // At least one integer digit: leading zeros fill the number out to decimals + 1 digits.
    i64 total = count > decimals ? count : decimals + 1;
    i64 zeros = total - count;
    i64 integerDigits = total - decimals;
    if (scaledValue < 0) putChar('-', writer);
    for (i64 i = 0; i < total && !writer->overflow; i++) {
        if (i == integerDigits) putChar('.', writer);
        putChar(i < zeros ? '0' : (u8)digits[i - zeros], writer);
    }
}

void appendDouble(f64 value, i64 decimals, ByteWriter* writer) {
    if (appendNonFinite(value, writer)) return;
    if (decimals <= 0) {
        appendInt64(truncateScaled(value), writer);
        return;
    }
    appendFixedPoint(truncateScaled(value * powerOfTen(decimals)), decimals, writer);
}

void appendDoubleTrimmed(f64 value, i64 decimals, ByteWriter* writer) {
    if (appendNonFinite(value, writer)) return;
    if (decimals <= 0) {
        appendInt64(truncateScaled(value), writer);
        return;
    }
    i64 scaled = truncateScaled(value * powerOfTen(decimals));
    while (decimals > 0 && scaled % 10 == 0) {
        scaled /= 10;
        decimals--;
    }
    appendFixedPoint(scaled, decimals, writer);
}

// ---------------------------------------------------------------------------------------------------
// Hexadecimal

void appendHexBytes(const void* bytes, i64 count, ByteWriter* writer) {
    const u8* data = (const u8*)bytes;
    for (i64 i = 0; i < count && !writer->overflow; i++) {
        putChar((u8)kHexDigits[data[i] >> 4], writer);
        putChar((u8)kHexDigits[data[i] & 15], writer);
    }
}

void appendHexBytesSpaced(const void* bytes, i64 count, ByteWriter* writer) {
    const u8* data = (const u8*)bytes;
    for (i64 i = 0; i < count && !writer->overflow; i++) {
        if (i > 0) putChar(' ', writer);
        putChar((u8)kHexDigits[data[i] >> 4], writer);
        putChar((u8)kHexDigits[data[i] & 15], writer);
    }
}

void appendHexDigits(u64 value, i64 digitCount, ByteWriter* writer) {
    for (i64 i = digitCount - 1; i >= 0 && !writer->overflow; i--) {
        // Digits beyond the sixteenth are the zeros above the value.
        putChar(i >= 16 ? '0' : (u8)kHexDigits[(value >> (4 * i)) & 15], writer);
    }
}

// ---------------------------------------------------------------------------------------------------
// Fixed-width fields

namespace {
void appendLittleEndian(u64 value, i64 width, ByteWriter* writer) {
    u8 bytes[8];
    for (i64 i = 0; i < width; i++) bytes[i] = (u8)(value >> (8 * i));
    appendField(bytes, width, writer);
}

void appendBigEndian(u64 value, i64 width, ByteWriter* writer) {
    u8 bytes[8];
    for (i64 i = 0; i < width; i++) bytes[i] = (u8)(value >> (8 * (width - 1 - i)));
    appendField(bytes, width, writer);
}
}  // namespace

void appendU8(u8 value, ByteWriter* writer) { appendField(&value, 1, writer); }
void appendU16Le(u16 value, ByteWriter* writer) { appendLittleEndian(value, 2, writer); }
void appendU16Be(u16 value, ByteWriter* writer) { appendBigEndian(value, 2, writer); }
void appendU32Le(u32 value, ByteWriter* writer) { appendLittleEndian(value, 4, writer); }
void appendU32Be(u32 value, ByteWriter* writer) { appendBigEndian(value, 4, writer); }
void appendU64Le(u64 value, ByteWriter* writer) { appendLittleEndian(value, 8, writer); }
void appendU64Be(u64 value, ByteWriter* writer) { appendBigEndian(value, 8, writer); }
void appendU32LeB(u32 value, ByteWriter* writer) { appendLittleEndian(value, 4, writer); }
void appendU64LeB(u64 value, ByteWriter* writer) { appendLittleEndian(value, 8, writer); }

void appendF32Le(f32 value, ByteWriter* writer) {
    u32 bits;
    std::memcpy(&bits, &value, 4);
    appendLittleEndian(bits, 4, writer);
}

void appendF64Le(f64 value, ByteWriter* writer) {
    u64 bits;
    std::memcpy(&bits, &value, 8);
    appendLittleEndian(bits, 8, writer);
}

// ---------------------------------------------------------------------------------------------------
// Bits and length fields

BitWriter makeBitWriter(ByteWriter* writer, u8 fillByte) { return BitWriter{writer, 8, fillByte}; }

void appendBits(u64 value, i32 bitCount, BitWriter* bits) {
    ByteWriter* writer = bits->writer;
    if (writer->overflow || bitCount < 1) return;
    if (bitCount > 64) bitCount = 64;
    while (bitCount > 0) {
        if (bits->bitsUsed >= 8 || writer->length <= 0) {
            if (writer->length >= writer->capacity) {
                writer->overflow = 1;
                return;
            }
            if (writer->data) writer->data[writer->length] = bits->fillByte;
            writer->length++;
            bits->bitsUsed = 0;
        }
        u32 room = 8 - bits->bitsUsed;
        u32 n = (u32)bitCount < room ? (u32)bitCount : room;
        if (writer->data) {
            u8 mask = (u8)(((1u << n) - 1) << bits->bitsUsed);
            u8* last = writer->data + writer->length - 1;
            *last = (u8)((*last & ~mask) | (((u32)value << bits->bitsUsed) & mask));
        }
        bits->bitsUsed += n;
        value >>= n;
        bitCount -= (i32)n;
    }
}

namespace {
i64 lengthFieldWidth(u32 kind) {
    switch (kind) {
        case LengthFieldU8: return 1;
        case LengthFieldU16Be:
        case LengthFieldU16Le: return 2;
        case LengthFieldU24Be:
        case LengthFieldU24Le: return 3;
        case LengthFieldU32Be:
        case LengthFieldU32Le: return 4;
        default: return 0;
    }
}
}  // namespace

LengthFieldMark reserveLengthField(ByteWriter* writer, u32 kind) {
    i64 width = lengthFieldWidth(kind);
    static const u8 zeros[4] = {0, 0, 0, 0};
    if (width > 0) appendField(zeros, width, writer);
    LengthFieldMark mark{writer, writer->length, kind};
    if (width == 0 || writer->overflow) mark.kind = LengthFieldNone;
    return mark;
}

void patchLengthField(LengthFieldMark* mark, u64 value) {
    i64 width = lengthFieldWidth(mark->kind);
    if (width == 0) return;
    ByteWriter* writer = mark->writer;
    if (mark->position > writer->capacity || writer->overflow) {
        writer->overflow = 1;
        return;
    }
    if (mark->position < width || !writer->data) return;
    u8* field = writer->data + mark->position - width;
    bool bigEndian = mark->kind == LengthFieldU16Be || mark->kind == LengthFieldU24Be || mark->kind == LengthFieldU32Be;
    for (i64 i = 0; i < width; i++) {
        i64 shift = bigEndian ? 8 * (width - 1 - i) : 8 * i;
        field[i] = (u8)(value >> shift);
    }
}

// ---------------------------------------------------------------------------------------------------
// FixedString builders

FixedString makeString(const char* text) {
    return buildFixedString([&](ByteWriter* w) { appendCString(text, w); });
}

FixedString stringFromBytes(const void* bytes, i64 count) {
    return buildFixedString([&](ByteWriter* w) { appendBytes(bytes, count, w); });
}

FixedString stringFromCodepoint(i32 codepoint) {
    return buildFixedString([&](ByteWriter* w) { appendCodepoint(codepoint, w); });
}

FixedString stringFromInt(i64 value) {
    return buildFixedString([&](ByteWriter* w) { appendInt64(value, w); });
}

FixedString stringFromFixedPoint(i64 scaledValue, i64 decimals) {
    return buildFixedString([&](ByteWriter* w) { appendFixedPoint(scaledValue, decimals, w); });
}

FixedString stringFromDouble(f64 value, i32 decimals) {
    return buildFixedString([&](ByteWriter* w) { appendDouble(value, decimals, w); });
}

FixedString stringFromDoubleTrimmed(f64 value, i32 decimals) {
    return buildFixedString([&](ByteWriter* w) { appendDoubleTrimmed(value, decimals, w); });
}

FixedString hexString(const void* bytes, i64 count) {
    return buildFixedString([&](ByteWriter* w) { appendHexBytes(bytes, count, w); });
}

FixedString stringFromUtf8Bytes(const ByteWriter* writer) {
    return buildFixedString([&](ByteWriter* w) {
        if (writer->data) appendUtf8Text(writer->data, writer->length, w);
    });
}

FixedString byteSizeString(i64 byteCount) {
    return buildFixedString([&](ByteWriter* w) {
        if (byteCount < 1000) {
            appendInt64(byteCount, w);
            appendCString(" B", w);
            return;
        }
        struct Step {
            i64 below;
            i64 divisor;
            const char* unit;
        };
        static const Step steps[] = {
            {1000000LL, 100LL, " kB"},
            {1000000000LL, 100000LL, " MB"},
            {1000000000000LL, 100000000LL, " GB"},
            {1000000000000000LL, 100000000000LL, " TB"},
            {1000000000000000000LL, 100000000000000LL, " PB"},
        };
        i64 divisor = 100000000000000000LL;
        const char* unit = " EB";
        for (const Step& step : steps) {
            if (byteCount < step.below) {
                divisor = step.divisor;
                unit = step.unit;
                break;
            }
        }
        appendFixedPoint(byteCount / divisor, 1, w);
        appendCString(unit, w);
    });
}

bool equals(const FixedString& a, const FixedString& b) {
    return a.length == b.length && std::memcmp(a.text, b.text, (size_t)fixedStringLength(&a)) == 0;
}

bool equals(const FixedString& a, const char* b) {
    size_t length = b ? std::strlen(b) : 0;
    return (size_t)a.length == length && std::memcmp(a.text, b ? b : "", length) == 0;
}
