// The "@" formatter: each "@" in a format text takes the next argument; a missing one yields
// "@ParameterIndexError". Also the unit texts (lengths, speeds, temperatures, durations, coordinates)
// and the calendar split of program times.
#pragma once
#include "Core/FixedString.h"

struct Preferences;

enum FormatArgumentKind : u32 {
    FormatArgFixedString = 0,
    FormatArgByteWriter = 1,
    FormatArgCString = 2,
    FormatArgCodepoint = 3,
    FormatArgInt = 4,
    FormatArgHex = 5,
    FormatArgFixedPoint = 6,
    FormatArgSpan = 7,
    FormatArgHexBytes = 8,
};

// The pairs that kinds 5 to 8 point at.
struct FormatHexArgument {
    u64 value;
    i64 digitCount;
};
struct FormatFixedArgument {
    i64 scaledValue;
    i64 decimals;
};
struct FormatBytesArgument {  // a span (kind 7) or bytes shown as hex pairs (kind 8)
    const void* bytes;
    i64 length;
};

// Renders `format` with arguments[i] of kind kinds[i] for i below count. Any other kind renders
// nothing.
FixedString formatString(const char* format, const void* const* arguments, const u32* kinds, i32 count);

FixedString format(const char* format);
FixedString formatStr(const char* format, FixedString a);
FixedString formatStrStr(const char* format, FixedString a, FixedString b);
FixedString formatStrStrStr(const char* format, FixedString a, FixedString b, FixedString c);
FixedString formatStrCstr(const char* format, FixedString a, const char* b);
FixedString formatStrInt(const char* format, FixedString a, i64 b);
FixedString formatStrIntInt(const char* format, FixedString a, i64 b, i64 c);
FixedString formatStrCp(const char* format, FixedString a, i32 b);
FixedString formatCstr(const char* format, const char* a);
FixedString formatCstrCstr(const char* format, const char* a, const char* b);
FixedString formatCstrInt(const char* format, const char* a, i64 b);
FixedString formatInt(const char* format, i64 a);
FixedString formatIntInt(const char* format, i64 a, i64 b);
FixedString formatInt3(const char* format, i64 a, i64 b, i64 c);
FixedString formatInt4(const char* format, i64 a, i64 b, i64 c, i64 d);
FixedString formatInt6(const char* format, i64 a, i64 b, i64 c, i64 d, i64 e, i64 f);
FixedString formatInt7(const char* format, i64 a, i64 b, i64 c, i64 d, i64 e, i64 f, i64 g);
FixedString formatIntStr(const char* format, i64 a, FixedString b);
FixedString formatIntIntStr(const char* format, i64 a, i64 b, FixedString c);
FixedString formatIntStrInt(const char* format, i64 a, FixedString b, i64 c);
FixedString formatIntCstr(const char* format, i64 a, const char* b);
FixedString formatIntCstrInt(const char* format, i64 a, const char* b, i64 c);
FixedString formatIntCstrCstrCstr(const char* format, i64 a, const char* b, const char* c, const char* d);
FixedString formatInt4CstrCstr(const char* format, i64 a, i64 b, i64 c, i64 d, const char* e, const char* f);
FixedString formatIntCp(const char* format, i64 a, i32 b);
FixedString formatCp(const char* format, i32 a);
FixedString formatCpStr(const char* format, i32 a, FixedString b);
FixedString formatCpInt(const char* format, i32 a, i64 b);
FixedString formatFixed(const char* format, i64 scaledValue, i64 decimals);
FixedString formatFixedFixed(const char* format, i64 scaledA, i64 decimalsA, i64 scaledB, i64 decimalsB);
FixedString formatFixedCp(const char* format, i64 scaledValue, i64 decimals, i32 codepoint);
FixedString formatHex(const char* format, u64 value, i64 digitCount);
FixedString formatHexInt(const char* format, u64 value, i64 digitCount, i64 b);
FixedString formatHexIntInt(const char* format, u64 value, i64 digitCount, i64 b, i64 c);
FixedString formatSpan(const char* format, const void* bytes, i64 length);
FixedString formatSpanSpan(const char* format, const void* a, i64 aLength, const void* b, i64 bLength);
FixedString formatHexBytes(const char* format, const void* bytes, i64 count);
FixedString formatText(const char* format, const ByteWriter* text);

// Unit texts, following the "Units" and "Lat/Lng format" preferences.
FixedString formatLengthValue(f64 metres, f64 resolution, const Preferences* prefs);
FixedString formatLength(f64 metres, f64 resolution, const Preferences* prefs);
FixedString formatLengthToTenth(f64 metres, const Preferences* prefs);
FixedString speedString(f64 metresPerSecond, const Preferences* prefs);
FixedString temperatureString(f64 celsius, const Preferences* prefs);
FixedString unknownTemperatureString(const Preferences* prefs);
FixedString durationString(i64 microseconds);
FixedString latitudeString(f64 degrees, const Preferences* prefs);
FixedString longitudeString(f64 degrees, const Preferences* prefs);

struct DateTimeParts {
    u16 year;
    u8 month;
    u8 day;
    u8 hour;
    u8 minute;
    u8 second;
    u16 millisecond;
    char monthText[3];
    char dayText[3];
    char hourText[3];
    char minuteText[3];
    char secondText[3];
    char millisecondText[4];
};

// Milliseconds since 1601-01-01 00:00:00.000 UTC.
DateTimeParts calendarFromMilliseconds(i64 milliseconds);
