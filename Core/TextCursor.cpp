// Text cursors (strict UTF-8 decoding, number readers) and the small text utilities built on them:
// case-insensitive tests, replacement and case mapping.
//
// A text is a byte pointer and an end; a position is an index that the readers advance. Nothing
// here reads at or past the end. Number readers do not check for overflow: their digits accumulate
// in unsigned 64-bit arithmetic, which wraps.
#include <cmath>
#include <cstring>

#include "Core/FixedString.h"

namespace {

inline bool isDigit(u8 c) { return c >= '0' && c <= '9'; }

inline i32 hexDigitValue(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline u32 foldAscii(u32 c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Lead byte of a multi-byte sequence: the number of continuation bytes it announces, its payload
// bits and the range the first continuation byte must lie in (narrower than 0x80..0xBF where the
// shortest form, the surrogates or the U+10FFFF ceiling demand it), or -1 for a byte that cannot
// lead a well-formed sequence (continuation bytes, 0xC0, 0xC1, 0xF5..0xFF).
inline i32 leadByteContinuations(u8 lead, u32* payload, u8* firstLow, u8* firstHigh) {
    *firstLow = 0x80;
    *firstHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        *payload = lead & 0x1F;
        return 1;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        *payload = lead & 0x0F;
        if (lead == 0xE0) *firstLow = 0xA0;   // below U+0800: overlong
        if (lead == 0xED) *firstHigh = 0x9F;  // U+D800..U+DFFF: surrogates
        return 2;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        *payload = lead & 0x07;
        if (lead == 0xF0) *firstLow = 0x90;   // below U+10000: overlong
        if (lead == 0xF4) *firstHigh = 0x8F;  // above U+10FFFF
        return 3;
    }
    *payload = 0;
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// UTF-8 decoding

i32 utf8DecodeNext(const u8* text, i64 length, i64* position) {
    i64 p = *position;
    if (p < 0 || p >= length) return kUtf8End;
    u8 lead = text[p++];
    if (lead < 0x80) {
        *position = p;
        return lead;
    }
    u32 value;
    u8 low, high;
    i32 continuations = leadByteContinuations(lead, &value, &low, &high);
    if (continuations < 0) {
        *position = p;
        return kUtf8Malformed;
    }
    for (i32 i = 0; i < continuations; i++) {
        if (p >= length) {
            *position = p;
            return kUtf8Truncated;
        }
        u8 c = text[p];
        if (c < low || c > high) {
            *position = p;  // the offending byte is not consumed
            return kUtf8Malformed;
        }
        low = 0x80;
        high = 0xBF;
        value = (value << 6) | (c & 0x3F);
        p++;
    }
    *position = p;
    return (i32)value;
}

i32 readCodepoint(const u8* text, i64* position, i64 end) { return utf8DecodeNext(text, end, position); }

i32 utf8DecodePrevious(const u8* text, i64* position) {
    i64 p = *position;
    if (p <= 0) return kUtf8End;
    i32 continuations = 0;
    while (true) {
        if (p <= 0) {
            *position = 0;
            return kUtf8End;
        }
        p--;
        u8 c = text[p];
        if (c < 0x80) {
            *position = p;
            return continuations == 0 ? (i32)c : kUtf8Malformed;
        }
        if ((c & 0xC0) == 0x80) {
            continuations++;
            continue;
        }
        *position = p;
        // The sequence from the lead byte must read forward, whole, to where decoding started.
        i64 forward = p;
        i32 value = utf8DecodeNext(text, p + 1 + continuations, &forward);
        if (value < 0 || forward != p + 1 + continuations) return kUtf8Malformed;
        return value;
    }
}

void skipBlanks(const u8* text, i64* position, i64 end) {
    while (true) {
        i64 p = *position;
        i32 c = readCodepoint(text, &p, end);
        if (c != ' ' && c != '\t') return;
        *position = p;
    }
}

// ---------------------------------------------------------------------------------------------------
// Number readers

i64 parseInteger(const u8* text, i64* position, i64 end, i64 defaultValue) {
    i64 p = *position;
    while (p < end && text[p] == ' ') p++;
    bool negative = false;
    if (p < end && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        p++;
        if (p >= end) {
            *position = p;
            return defaultValue;
        }
    }
    if (p >= end || !isDigit(text[p])) {
        *position = p;
        return defaultValue;
    }
    u64 value = 0;
    while (p < end && isDigit(text[p])) {
        value = value * 10 + (u64)(text[p] - '0');
        p++;
    }
    *position = p;
    return (i64)(negative ? 0 - value : value);
}

f64 parseDouble(const u8* text, i64* position, i64 end, f64 defaultValue) {
    i64 p = *position;
    while (p < end && text[p] == ' ') p++;
    f64 sign = 1.0;
    if (p < end && (text[p] == '+' || text[p] == '-')) {
        if (text[p] == '-') sign = -1.0;
        p++;
        if (p >= end) {
            *position = p;
            return defaultValue;
        }
    }
    if (p >= end || (!isDigit(text[p]) && text[p] != '.')) {
        *position = p;
        return defaultValue;
    }
    f64 mantissa = 0.0;
    while (p < end && isDigit(text[p])) mantissa = mantissa * 10.0 + (text[p++] - '0');
    f64 divisor = 1.0;
    i64 fractionDigits = 0;
    if (p < end && text[p] == '.') {
        p++;
        while (p < end && isDigit(text[p])) {
            mantissa = mantissa * 10.0 + (text[p++] - '0');
            divisor *= 10.0;
            fractionDigits++;
        }
    }
    if (p < end && (text[p] == 'e' || text[p] == 'E')) {
        p++;
        if (p >= end) {
            *position = p;
            return sign * mantissa / divisor;
        }
        i64 exponentSign = 1;
        if (text[p] == '+' || text[p] == '-') {
            if (text[p] == '-') exponentSign = -1;
            p++;
            if (p >= end) {
                *position = p;
                return sign * mantissa / divisor;
            }
        }
        // The exponent is held at a bound far beyond any finite double instead of overflowing.
        constexpr i64 kExponentLimit = 1000000;
        i64 exponent = 0;
        while (p < end && isDigit(text[p])) {
            exponent = exponent * 10 + (text[p++] - '0');
            if (exponent > kExponentLimit) exponent = kExponentLimit;
        }
        *position = p;
        return std::pow(10.0, (f64)(exponentSign * exponent - fractionDigits)) * (sign * mantissa);
    }
    *position = p;
    return sign * mantissa / divisor;
}

i64 parseHex(const u8* text, i64* position, i64 end, i64 defaultValue) {
    i64 p = *position;
    while (p < end && text[p] == ' ') p++;
    if (p >= end || hexDigitValue(text[p]) < 0) {
        *position = p;
        return defaultValue;
    }
    u64 value = 0;
    while (p < end && hexDigitValue(text[p]) >= 0) value = value * 16 + (u64)hexDigitValue(text[p++]);
    *position = p;
    return (i64)value;
}

f64 parseDoubleOr(FixedString text, f64 defaultValue) {
    i64 position = 0;
    return parseDouble((const u8*)text.text, &position, fixedStringLength(&text), defaultValue);
}

i64 parseIntOr(FixedString text, i64 defaultValue) {
    i64 position = 0;
    return parseInteger((const u8*)text.text, &position, fixedStringLength(&text), defaultValue);
}

// ---------------------------------------------------------------------------------------------------
// Reading into FixedStrings

void readRestAsString(FixedString* out, const u8* text, i64* position, i64 end) {
    *out = buildFixedString([&](ByteWriter* w) {
        while (true) {
            i32 c = readCodepoint(text, position, end);
            if (c < 0) break;
            appendCodepoint(c, w);
        }
    });
}

void readUntilCodepoint(FixedString* out, u32 delimiter, const u8* text, i64* position, i64 end) {
    *out = buildFixedString([&](ByteWriter* w) {
        while (true) {
            i32 c = readCodepoint(text, position, end);
            if (c < 0 || (u32)c == delimiter) break;
            appendCodepoint(c, w);
        }
    });
}

// ---------------------------------------------------------------------------------------------------
// Comparisons, replacement and case mapping

i32 equalsIgnoringCase(const char* a, const void* b, i64 bLength) {
    const u8* left = (const u8*)(a ? a : "");
    const u8* right = (const u8*)b;
    i64 length = (i64)std::strlen((const char*)left);
    if (length != bLength) return 0;
    for (i64 i = 0; i < length; i++) {
        if (foldAscii(left[i]) != foldAscii(right[i])) return 0;
    }
    return 1;
}

i32 endsWithIgnoringCase(const void* text, i64 length, const char* suffix) {
    i64 suffixLength = suffix ? (i64)std::strlen(suffix) : 0;
    if (suffixLength > length) return 0;
    const u8* tail = (const u8*)text + (length - suffixLength);
    for (i64 i = 0; i < suffixLength; i++) {
        if (foldAscii(tail[i]) != foldAscii((u8)suffix[i])) return 0;
    }
    return 1;
}

i32 containsIgnoringCase(const char* needle, const TextSlice* text) {
    const u8* wanted = (const u8*)(needle ? needle : "");
    i64 wantedLength = (i64)std::strlen((const char*)wanted);
    i64 wantedPosition = 0;
    i32 next = utf8DecodeNext(wanted, wantedLength, &wantedPosition);
    if (next == kUtf8End) return 1;
    if (next < 0) return 0;
    i64 position = 0;
    while (true) {
        i32 c = utf8DecodeNext(text->text, text->length, &position);
        if (c < 0) return 0;  // the end, or a malformed or truncated sequence
        if (foldAscii((u32)c) == foldAscii((u32)next)) {
            next = utf8DecodeNext(wanted, wantedLength, &wantedPosition);
            if (next == kUtf8End) return 1;
            if (next < 0) return 0;
        }
    }
}

FixedString replaceAll(FixedString text, FixedString find, FixedString replacement) {
    i64 textLength = fixedStringLength(&text);
    i64 findLength = fixedStringLength(&find);
    // Nothing to search for: the text comes back as it was.
    if (findLength == 0) return text;
    FixedString result = buildFixedString([&](ByteWriter* w) {
        i64 i = 0;
        while (i < textLength && !w->overflow) {
            if (i + findLength <= textLength && std::memcmp(text.text + i, find.text, (size_t)findLength) == 0) {
                appendFixedStringRef(&replacement, w);
                i += findLength;
            } else {
                appendBytes(text.text + i, 1, w);
                i++;
            }
        }
    });
    if (text.truncated) result.truncated = 1;
    return result;
}

namespace {
FixedString mapCodepoints(const FixedString* text, bool blanksToUnderscores) {
    return buildFixedString([&](ByteWriter* w) {
        const u8* bytes = (const u8*)text->text;
        i64 length = fixedStringLength(text);
        i64 position = 0;
        while (!w->overflow) {
            i32 c = utf8DecodeNext(bytes, length, &position);
            if (c == kUtf8End || c == kUtf8Truncated) break;
            if (c < 0) continue;
            if (c >= 'a' && c <= 'z') c -= 32;
            if (blanksToUnderscores && c == ' ') c = '_';
            appendCodepoint(c, w);
        }
    });
}
}  // namespace

FixedString toUpperCase(const FixedString* text) { return mapCodepoints(text, false); }

FixedString toUpperSnakeCase(const FixedString* text) { return mapCodepoints(text, true); }
