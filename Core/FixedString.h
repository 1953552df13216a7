// FixedString, ByteWriter, BitWriter, length fields and the text cursors: the text and byte runtime
// that every subsystem calls. Nothing here allocates, locks or fails; text that does not fit is cut
// and the cut is flagged.
#pragma once
#include "Core/Types.h"

struct FixedString {
    u8 length;
    u8 truncated;
    char text[254];
};
static_assert(sizeof(FixedString) == 256);

struct ByteWriter {
    i64 length;
    i64 capacity;
    u8 overflow;
    u8* data;  // null: measure only
};

struct BitWriter {
    ByteWriter* writer;
    u32 bitsUsed;  // bits of the last byte already taken, 0..8; a new writer starts at 8
    u8 fillByte;
};

// Kinds of reserved length fields.
enum LengthFieldKind : u32 {
    LengthFieldNone = 0,
    LengthFieldU8 = 1,
    LengthFieldU16Be = 2,
    LengthFieldU16Le = 3,
    LengthFieldU24Be = 4,
    LengthFieldU24Le = 5,
    LengthFieldU32Be = 6,
    LengthFieldU32Le = 7,
};

struct LengthFieldMark {
    ByteWriter* writer;
    i64 position;  // the writer's length just after the reserved field
    u32 kind;
};

struct TextSlice {
    const u8* text;
    i64 length;
};

ByteWriter makeByteWriter(void* data, i64 capacity);
ByteWriter makeMeasuringWriter(i64 capacity = kMeasureCapacity);

// The most text bytes a FixedString holds.
constexpr i64 kFixedStringCapacity = 253;

// A FixedString filled by one run of an appender (a callable taking the ByteWriter*): the record
// starts all zero and takes the writer's length, and its overflow as the truncated flag.
template <typename Appender>
FixedString buildFixedString(Appender appender) {
    FixedString result{};
    ByteWriter writer = makeByteWriter(result.text, kFixedStringCapacity);
    appender(&writer);
    result.length = (u8)writer.length;
    result.truncated = writer.overflow;
    return result;
}

// A FixedString's length, held at the capacity for a damaged record.
inline i64 fixedStringLength(const FixedString* text) {
    return text->length > kFixedStringCapacity ? kFixedStringCapacity : text->length;
}

// FixedString builders.
FixedString makeString(const char* text);
FixedString stringFromBytes(const void* bytes, i64 count);
FixedString stringFromCodepoint(i32 codepoint);
FixedString stringFromInt(i64 value);
FixedString stringFromFixedPoint(i64 scaledValue, i64 decimals);
FixedString stringFromDouble(f64 value, i32 decimals);
FixedString stringFromDoubleTrimmed(f64 value, i32 decimals);
FixedString hexString(const void* bytes, i64 count);
FixedString stringFromUtf8Bytes(const ByteWriter* writer);
FixedString byteSizeString(i64 byteCount);

// Appenders; the writer is always the last argument.
void appendBytes(const void* bytes, i64 count, ByteWriter* writer);
void appendCString(const char* text, ByteWriter* writer);
void appendFixedString(FixedString text, ByteWriter* writer);
void appendFixedStringRef(const FixedString* text, ByteWriter* writer);
void appendCStringRightAligned(const char* text, i64 endPosition, ByteWriter* writer);
void appendCodepoint(i32 codepoint, ByteWriter* writer);
void appendUtf8Text(const void* text, i64 byteLength, ByteWriter* writer);
void appendUtf16(const u16* units, i64 unitCount, ByteWriter* writer);
void appendJsonUnescaped(const void* text, i64 byteLength, ByteWriter* writer);
void appendInt64(i64 value, ByteWriter* writer);
void appendInt64Padded(i64 value, i64 endPosition, ByteWriter* writer);
void appendFixedPoint(i64 scaledValue, i64 decimals, ByteWriter* writer);
void appendDouble(f64 value, i64 decimals, ByteWriter* writer);
void appendDoubleTrimmed(f64 value, i64 decimals, ByteWriter* writer);
void appendHexBytes(const void* bytes, i64 count, ByteWriter* writer);
void appendHexBytesSpaced(const void* bytes, i64 count, ByteWriter* writer);
void appendHexDigits(u64 value, i64 digitCount, ByteWriter* writer);
void appendU8(u8 value, ByteWriter* writer);
void appendU16Le(u16 value, ByteWriter* writer);
void appendU16Be(u16 value, ByteWriter* writer);
void appendU32Le(u32 value, ByteWriter* writer);
void appendU32Be(u32 value, ByteWriter* writer);
void appendU64Le(u64 value, ByteWriter* writer);
void appendU64Be(u64 value, ByteWriter* writer);
void appendU32LeB(u32 value, ByteWriter* writer);
void appendU64LeB(u64 value, ByteWriter* writer);
void appendF32Le(f32 value, ByteWriter* writer);
void appendF64Le(f64 value, ByteWriter* writer);

// Bits and length fields.
BitWriter makeBitWriter(ByteWriter* writer, u8 fillByte);
void appendBits(u64 value, i32 bitCount, BitWriter* bits);
LengthFieldMark reserveLengthField(ByteWriter* writer, u32 kind);
void patchLengthField(LengthFieldMark* mark, u64 value);

// Tests and utilities.
i32 equalsIgnoringCase(const char* a, const void* b, i64 bLength);
i32 endsWithIgnoringCase(const void* text, i64 length, const char* suffix);
i32 containsIgnoringCase(const char* needle, const TextSlice* text);
FixedString replaceAll(FixedString text, FixedString find, FixedString replacement);
FixedString toUpperCase(const FixedString* text);
FixedString toUpperSnakeCase(const FixedString* text);
f64 parseDoubleOr(FixedString text, f64 defaultValue);
i64 parseIntOr(FixedString text, i64 defaultValue);
bool equals(const FixedString& a, const FixedString& b);
bool equals(const FixedString& a, const char* b);

// Text cursors. Code point results: >= 0 a code point, -1 malformed, -2 end, -3 cut off by the end.
constexpr i32 kUtf8Malformed = -1;
constexpr i32 kUtf8End = -2;
constexpr i32 kUtf8Truncated = -3;
i32 utf8DecodeNext(const u8* text, i64 length, i64* position);
i32 readCodepoint(const u8* text, i64* position, i64 end);
i32 utf8DecodePrevious(const u8* text, i64* position);
void skipBlanks(const u8* text, i64* position, i64 end);
i64 parseInteger(const u8* text, i64* position, i64 end, i64 defaultValue);
f64 parseDouble(const u8* text, i64* position, i64 end, f64 defaultValue);
i64 parseHex(const u8* text, i64* position, i64 end, i64 defaultValue);
void readRestAsString(FixedString* out, const u8* text, i64* position, i64 end);
void readUntilCodepoint(FixedString* out, u32 delimiter, const u8* text, i64* position, i64 end);
