// Texts of physical quantities in the operator's units, and the calendar split of program times.
#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Core/Rounding.h"

namespace {

constexpr f64 kFeetPerMetre = 3.280839895;
constexpr i32 kInfinitySign = 0x221E;
constexpr i32 kDegreeSign = 0xB0;

u32 unitsOf(const Preferences* prefs) { return prefs ? prefs->units : UnitsMetricMps; }

// Lengths in feet and temperatures in Fahrenheit for the imperial and nautical settings.
bool usesImperialLengths(const Preferences* prefs) { return unitsOf(prefs) > UnitsMetricKmh; }

// The whole part of a magnitude, held inside the i64 range (NaN gives 0).
i64 wholePart(f64 magnitude) {
    if (!(magnitude == magnitude)) return 0;
    if (magnitude >= 9223372036854775807.0) return INT64_MAX;
    return (i64)magnitude;
}

FixedString coordinateString(f64 degrees, const Preferences* prefs, char positiveLetter, char negativeLetter) {
    char letter = degrees >= 0 ? positiveLetter : negativeLetter;
    f64 magnitude = std::fabs(degrees);
    u32 layout = prefs ? prefs->latLngFormat : LatLngDecimalDegrees;
    return buildFixedString([&](ByteWriter* w) {
        if (layout == LatLngDegreesDecimalMinutes) {
            i64 wholeDegrees = wholePart(magnitude);
            f64 minutes = (magnitude - (f64)wholeDegrees) * 60.0;
            appendInt64(wholeDegrees, w);
            appendCodepoint(kDegreeSign, w);
            appendCString(" ", w);
            appendDouble(minutes, 4, w);
            appendCString("' ", w);
        } else if (layout == LatLngDegreesMinutesDecimalSeconds) {
            i64 wholeDegrees = wholePart(magnitude);
            f64 minutes = (magnitude - (f64)wholeDegrees) * 60.0;
            i64 wholeMinutes = wholePart(minutes);
            f64 seconds = (minutes - (f64)wholeMinutes) * 60.0;
            appendInt64(wholeDegrees, w);
            appendCodepoint(kDegreeSign, w);
            appendCString(" ", w);
            appendInt64(wholeMinutes, w);
            appendCString("' ", w);
            appendDouble(seconds, 3, w);
            appendCString("\" ", w);
        } else {
            appendDouble(magnitude, 5, w);
            appendCodepoint(kDegreeSign, w);
            appendCString(" ", w);
        }
        appendBytes(&letter, 1, w);
    });
}

const u16 kMonthStarts[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

void writeDigits(u32 value, i32 digits, char* out) {
    for (i32 i = digits - 1; i >= 0; i--) {
        out[i] = (char)('0' + value % 10);
        value /= 10;
    }
    out[digits] = 0;
}

}  // namespace

FixedString formatLengthValue(f64 metres, f64 resolution, const Preferences* prefs) {
    if (std::isnan(metres)) return makeString("NaN");
    if (std::isinf(metres)) return metres > 0 ? stringFromCodepoint(kInfinitySign) : formatCp("-@", kInfinitySign);
    if (usesImperialLengths(prefs)) {
        metres *= kFeetPerMetre;
        resolution *= kFeetPerMetre;
    }
    i64 decimals;
    if (resolution < 0.00001) {
        decimals = 6;
    } else if (resolution < 0.0001) {
        decimals = 5;
    } else if (resolution < 0.001) {
        decimals = 4;
    } else if (resolution < 0.01) {
        decimals = 3;
    } else if (resolution < 0.1) {
        decimals = 2;
    } else if (resolution < 1) {
        decimals = 1;
    } else {
        decimals = 0;
    }
    f64 scale = 1.0;
    for (i64 i = 0; i < decimals; i++) scale *= 10.0;
    return stringFromFixedPoint(roundHalfAwayFromZero(metres * scale), decimals);
}

FixedString formatLength(f64 metres, f64 resolution, const Preferences* prefs) {
    FixedString value = formatLengthValue(metres, resolution, prefs);
    return buildFixedString([&](ByteWriter* w) {
        appendFixedStringRef(&value, w);
        appendCString(usesImperialLengths(prefs) ? " ft" : " m", w);
    });
}

FixedString formatLengthToTenth(f64 metres, const Preferences* prefs) { return formatLength(metres, 0.1, prefs); }

FixedString speedString(f64 metresPerSecond, const Preferences* prefs) {
    switch (unitsOf(prefs)) {
        case UnitsMetricMps: return formatFixed("@ m/s", roundHalfAwayFromZero(metresPerSecond * 10.0), 1);
        case UnitsMetricKmh: return formatInt("@ km/h", roundHalfAwayFromZero(metresPerSecond * 3.6));
        case UnitsImperialFps: return formatInt("@ ft/s", roundHalfAwayFromZero(metresPerSecond * kFeetPerMetre));
        case UnitsImperialMph: return formatInt("@ mph", roundHalfAwayFromZero(metresPerSecond * 2.23694));
        default: return formatInt("@ kn", roundHalfAwayFromZero(metresPerSecond * 1.94384));
    }
}

FixedString temperatureString(f64 celsius, const Preferences* prefs) {
    if (usesImperialLengths(prefs)) return formatIntCp("@ @F", roundHalfAwayFromZero(celsius * 1.8 + 32.0), kDegreeSign);
    return formatIntCp("@ @C", roundHalfAwayFromZero(celsius), kDegreeSign);
}

FixedString unknownTemperatureString(const Preferences* prefs) {
    return formatCp(usesImperialLengths(prefs) ? "? @F" : "? @C", kDegreeSign);
}

FixedString durationString(i64 microseconds) {
    if (microseconds == INT64_MAX) return formatCp("@ s", kInfinitySign);
    if (microseconds == INT64_MIN) return formatCp("-@ s", kInfinitySign);
    bool negative = microseconds < 0;
    u64 magnitude = negative ? 0 - (u64)microseconds : (u64)microseconds;
    i64 hours = (i64)(magnitude / 3600000000ULL);
    magnitude %= 3600000000ULL;
    i64 minutes = (i64)(magnitude / 60000000ULL);
    magnitude %= 60000000ULL;
    i64 seconds = (i64)(magnitude / 1000000ULL);
    if (hours > 0) return formatInt3(negative ? "-@ hr @ min @ s" : "@ hr @ min @ s", hours, minutes, seconds);
    if (minutes > 0) return formatIntInt(negative ? "-@ min @ s" : "@ min @ s", minutes, seconds);
    return formatInt(negative ? "-@ s" : "@ s", seconds);
}

FixedString latitudeString(f64 degrees, const Preferences* prefs) { return coordinateString(degrees, prefs, 'N', 'S'); }

FixedString longitudeString(f64 degrees, const Preferences* prefs) {
    return coordinateString(degrees, prefs, 'E', 'W');
}

DateTimeParts calendarFromMilliseconds(i64 milliseconds) {
    constexpr i64 kDayMs = 86400000;
    constexpr i64 kCycleMs = 146097 * kDayMs;
    i64 cycles = milliseconds / kCycleMs;
    i64 rest = milliseconds % kCycleMs;
    if (rest < 0) {
        rest += kCycleMs;
        cycles--;
    }
    i64 days = rest / kDayMs;
    i64 msOfDay = rest % kDayMs;
    i64 centuries = days / 36524;
    if (centuries > 3) centuries = 3;
    days -= centuries * 36524;
    i64 quads = days / 1461;
    days -= quads * 1461;
    i64 years = days / 365;
    if (years > 3) years = 3;
    days -= years * 365;
    bool leap = years == 3 && (quads != 24 || centuries == 3);

    DateTimeParts parts;
    std::memset(&parts, 0, sizeof parts);
    parts.year = (u16)(u64)(((cycles * 4 + centuries) * 25 + quads) * 4 + years + 1601);
    const u16* starts = kMonthStarts[leap ? 1 : 0];
    i32 month = 0;
    while (month < 11 && days >= starts[month + 1]) month++;
    parts.month = (u8)(month + 1);
    parts.day = (u8)(days - starts[month] + 1);
    parts.hour = (u8)(msOfDay / 3600000);
    parts.minute = (u8)(msOfDay / 60000 % 60);
    parts.second = (u8)(msOfDay / 1000 % 60);
    parts.millisecond = (u16)(msOfDay % 1000);
    writeDigits(parts.month, 2, parts.monthText);
    writeDigits(parts.day, 2, parts.dayText);
    writeDigits(parts.hour, 2, parts.hourText);
    writeDigits(parts.minute, 2, parts.minuteText);
    writeDigits(parts.second, 2, parts.secondText);
    writeDigits(parts.millisecond, 3, parts.millisecondText);
    return parts;
}
