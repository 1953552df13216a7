// The pieces that the details lines of recorded messages are made of: bounded field readers over a
// decoded payload, and the line forms. Shared by RecordedMavlink.cpp and RecordedCameraMessages.cpp.
#pragma once
#include "Core/FixedString.h"
#include "Mavlink/Mavlink.h"

struct Preferences;

// A decoded payload: 255 bytes, zero past the received length. The readers take their offset as a
// template argument, so a field that would reach past the payload does not compile.
constexpr i32 kRecordedPayloadBytes = 255;

template <i32 Offset, i32 Size>
constexpr void checkField() {
    static_assert(Offset >= 0 && Offset + Size <= kRecordedPayloadBytes, "field outside the payload");
}
template <i32 Offset>
u8 u8At(const u8* payload) {
    checkField<Offset, 1>();
    return payload[Offset];
}
template <i32 Offset>
i8 i8At(const u8* payload) {
    checkField<Offset, 1>();
    return (i8)payload[Offset];
}
template <i32 Offset>
u16 u16At(const u8* payload) {
    checkField<Offset, 2>();
    return mavlinkU16(payload + Offset);
}
template <i32 Offset>
i16 i16At(const u8* payload) {
    checkField<Offset, 2>();
    return mavlinkI16(payload + Offset);
}
template <i32 Offset>
u32 u32At(const u8* payload) {
    checkField<Offset, 4>();
    return mavlinkU32(payload + Offset);
}
template <i32 Offset>
i32 i32At(const u8* payload) {
    checkField<Offset, 4>();
    return mavlinkI32(payload + Offset);
}
template <i32 Offset>
u64 u64At(const u8* payload) {
    checkField<Offset, 8>();
    return mavlinkU64(payload + Offset);
}
template <i32 Offset>
i64 i64At(const u8* payload) {
    checkField<Offset, 8>();
    return (i64)mavlinkU64(payload + Offset);
}
template <i32 Offset>
f64 f32At(const u8* payload) {
    checkField<Offset, 4>();
    return (f64)mavlinkF32(payload + Offset);
}
template <i32 Offset>
f64 f64At(const u8* payload) {
    checkField<Offset, 8>();
    u64 bits = mavlinkU64(payload + Offset);
    f64 value;
    static_assert(sizeof(value) == sizeof(bits));
    __builtin_memcpy(&value, &bits, sizeof(value));
    return value;
}
// A text field: its bytes up to the first zero byte, at most Size.
template <i32 Offset, i32 Size>
TextSlice textAt(const u8* payload) {
    checkField<Offset, Size>();
    i64 length = 0;
    while (length < Size && payload[Offset + length] != 0) length++;
    return {payload + Offset, length};
}

// The degree sign in UTF-8, for the literals.
#define RECORDED_DEGREE "\xC2\xB0"

// Line forms: the prefix, the value, the suffix (which ends the line with "\n").
void appendUnsignedDecimal(u64 value, ByteWriter* writer);
void decLine(const char* prefix, i64 value, const char* suffix, ByteWriter* writer);
void unsignedLine(const char* prefix, u64 value, const char* suffix, ByteWriter* writer);
void hexLine(const char* prefix, u64 value, i64 digits, const char* suffix, ByteWriter* writer);
void fixedLine(const char* prefix, i64 scaled, i64 decimals, const char* suffix, ByteWriter* writer);
// An unsigned count of millionths (a u64 time in microseconds) with exactly 6 decimals.
void unsignedMicrosLine(const char* prefix, u64 micros, const char* suffix, ByteWriter* writer);
void doubleLine(const char* prefix, f64 value, i64 decimals, const char* suffix, ByteWriter* writer);  // f6 and f3
void trimmedLine(const char* prefix, f64 value, const char* suffix, ByteWriter* writer);             // trim6
void textLine(const char* prefix, TextSlice text, const char* suffix, ByteWriter* writer);
void temperatureLine(const char* prefix, f64 celsius, const Preferences* prefs, ByteWriter* writer);

// The camera and NextVision messages: details lines, and the summary suffix of the first message.
// Each returns false for an id it does not handle.
bool appendCameraMessageDetails(const MavlinkMessage* message, const Preferences* prefs, ByteWriter* details);
bool appendCameraMessageSuffix(const MavlinkMessage* message, ByteWriter* summary);
