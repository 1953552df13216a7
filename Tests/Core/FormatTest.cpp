// The "@" formatter with every argument kind, and the unit texts in every unit setting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Core/Rounding.h"

namespace {

std::string text(const FixedString& s) { return std::string(s.text, s.length); }

const std::string kDegree = "\xC2\xB0";
const std::string kInfinity = "\xE2\x88\x9E";

Preferences prefsWith(u32 units, u32 latLngFormat) {
    static Preferences prefs;
    std::memset(&prefs, 0, sizeof prefs);
    prefs.units = units;
    prefs.latLngFormat = latLngFormat;
    return prefs;
}

}  // namespace

TEST(Formatter, EveryArgumentKind) {
    FixedString name = makeString("alpha");
    u8 textBytes[] = {'o', 'k', 0xFF, 0xC3, 0xA9, 0xE2};  // malformed byte skipped, cut-off tail dropped
    ByteWriter textWriter = makeByteWriter(textBytes, sizeof textBytes);
    textWriter.length = sizeof textBytes;
    i32 euro = 0x20AC;
    i32 none = -1;
    i64 number = -1234;
    FormatHexArgument hex{0xBEEF, 6};
    FormatFixedArgument fixed{-5, 3};
    FormatBytesArgument span{"spanned", 4};
    const u8 raw[] = {0x00, 0x7F, 0xAB};
    FormatBytesArgument hexBytes{raw, 3};
    u32 unknown = 0;

    const void* arguments[] = {&name, &textWriter, "cstr", &euro, &none, &number, &hex, &fixed, &span, &hexBytes, &unknown};
    const u32 kinds[] = {0, 1, 2, 3, 3, 4, 5, 6, 7, 8, 99};
    FixedString result = formatString("[@|@|@|@|@|@|@|@|@|@|@]", arguments, kinds, 11);
    EXPECT_EQ(text(result), "[alpha|ok\xC3\xA9|cstr|\xE2\x82\xAC||-1234|00BEEF|-0.005|span|007FAB|]");
    EXPECT_EQ(result.truncated, 0);
}

TEST(Formatter, PlaceholdersAndMissingArguments) {
    EXPECT_EQ(text(formatInt("Code @", 21)), "Code 21");
    EXPECT_EQ(text(format("100@ sure")), "100@ sure");
    EXPECT_EQ(text(formatInt("@ and @", 1)), "1 and @ParameterIndexError");
    EXPECT_EQ(text(formatIntInt("@@", 1, 2)), "12");
    EXPECT_EQ(text(formatInt("n=@", 7)), "n=7");
    EXPECT_EQ(text(formatString("@", nullptr, nullptr, 0)), "@ParameterIndexError");
    EXPECT_EQ(text(formatInt("@@@", 5)), "5@ParameterIndexError@ParameterIndexError");
    EXPECT_EQ(text(formatInt("", 5)), "");
}

TEST(Formatter, LongResultsAreCut) {
    std::string pattern(250, '.');
    FixedString cut = formatCstr((pattern + "@").c_str(), "abcdef");
    EXPECT_EQ(cut.length, 253);
    EXPECT_EQ(cut.truncated, 1);
    EXPECT_EQ(text(cut), pattern + "abc");

    // A code point that does not fit whole is left out.
    std::string almost(251, '.');
    FixedString left = formatCp((almost + "@!").c_str(), 0x20AC);
    EXPECT_EQ(text(left), almost);
    EXPECT_EQ(left.truncated, 1);
}

TEST(Formatter, TypedEntryPoints) {
    FixedString a = makeString("A");
    FixedString b = makeString("B");
    EXPECT_EQ(text(formatStr("<@>", a)), "<A>");
    EXPECT_EQ(text(formatStrStr("@-@", a, b)), "A-B");
    EXPECT_EQ(text(formatStrStrStr("@@@", a, b, a)), "ABA");
    EXPECT_EQ(text(formatStrCstr("@ @", a, "c")), "A c");
    EXPECT_EQ(text(formatStrInt("@ @", a, 3)), "A 3");
    EXPECT_EQ(text(formatStrIntInt("@ @ @", a, 3, 4)), "A 3 4");
    EXPECT_EQ(text(formatStrCp("@@", a, 0xE9)), "A\xC3\xA9");
    EXPECT_EQ(text(formatCstr("Overlays/@bin", "x.kml")), "Overlays/x.kmlbin");
    EXPECT_EQ(text(formatCstrCstr("@/@", "a", "b")), "a/b");
    EXPECT_EQ(text(formatCstrInt("@ @", "a", -1)), "a -1");
    EXPECT_EQ(text(formatInt3("@ hr @ min @ s", 1, 0, 5)), "1 hr 0 min 5 s");
    EXPECT_EQ(text(formatInt4("@.@.@.@", 127, 0, 0, 1)), "127.0.0.1");
    EXPECT_EQ(text(formatInt6("Missions/@_@_@_@_@_@.csv", 2024, 1, 2, 3, 4, 5)), "Missions/2024_1_2_3_4_5.csv");
    EXPECT_EQ(text(formatInt7("@@@@@@@", 1, 2, 3, 4, 5, 6, 7)), "1234567");
    EXPECT_EQ(text(formatIntStr("@ @", 1, a)), "1 A");
    EXPECT_EQ(text(formatIntIntStr("@ @ @", 1, 2, a)), "1 2 A");
    EXPECT_EQ(text(formatIntStrInt("@ @ @", 1, a, 2)), "1 A 2");
    EXPECT_EQ(text(formatIntCstr("@ @", 1, "x")), "1 x");
    EXPECT_EQ(text(formatIntCstrInt("@ @ @", 1, "x", 2)), "1 x 2");
    EXPECT_EQ(text(formatIntCstrCstrCstr("@@@@", 1, "x", "y", "z")), "1xyz");
    EXPECT_EQ(text(formatInt4CstrCstr("@@@@@@", 1, 2, 3, 4, "x", "y")), "1234xy");
    EXPECT_EQ(text(formatIntCp("@ @C", 20, 0xB0)), "20 " + kDegree + "C");
    EXPECT_EQ(text(formatCp("@", 0x1F600)), "\xF0\x9F\x98\x80");
    EXPECT_EQ(text(formatCpStr("@@", 'x', a)), "xA");
    EXPECT_EQ(text(formatCpInt("@@", 'x', 9)), "x9");
    EXPECT_EQ(text(formatFixed("@ kB", 19, 1)), "1.9 kB");
    EXPECT_EQ(text(formatFixedFixed("@,@", 105, 2, -3, 1)), "1.05,-0.3");
    EXPECT_EQ(text(formatFixedCp("@@", 5, 1, '%')), "0.5%");
    EXPECT_EQ(text(formatHex("@", 0xAB, 4)), "00AB");
    EXPECT_EQ(text(formatHexInt("@ @", 0xF, 1, 2)), "F 2");
    EXPECT_EQ(text(formatHexIntInt("@ @ @", 0x1, 2, 2, 3)), "01 2 3");
    EXPECT_EQ(text(formatSpan("[@]", "abcdef", 3)), "[abc]");
    EXPECT_EQ(text(formatSpanSpan("@+@", "ab", 2, "cd", 1)), "ab+c");
    const u8 bytes[] = {0xDE, 0xAD};
    EXPECT_EQ(text(formatHexBytes("0x@", bytes, 2)), "0xDEAD");
    u8 utf8[] = {'h', 'i'};
    ByteWriter writer = makeByteWriter(utf8, 2);
    writer.length = 2;
    EXPECT_EQ(text(formatText("@!", &writer)), "hi!");
}

TEST(Rounding, HalvesGoAwayFromZero) {
    EXPECT_EQ(roundHalfAwayFromZero(2.5), 3);
    EXPECT_EQ(roundHalfAwayFromZero(-2.5), -3);
    EXPECT_EQ(roundHalfAwayFromZero(0.49), 0);
    EXPECT_EQ(roundHalfAwayFromZero(-0.49), 0);
    EXPECT_EQ(roundHalfAwayFromZero(0.0), 0);
    EXPECT_EQ(roundHalfAwayFromZero(1e300), INT64_MAX);
    EXPECT_EQ(roundHalfAwayFromZero(-1e300), INT64_MIN);
    EXPECT_EQ(roundHalfAwayFromZero(NAN), 0);
}

TEST(UnitTexts, Lengths) {
    Preferences metric = prefsWith(UnitsMetricMps, 0);
    Preferences kmh = prefsWith(UnitsMetricKmh, 0);
    Preferences feet = prefsWith(UnitsImperialFps, 0);
    Preferences mph = prefsWith(UnitsImperialMph, 0);
    Preferences knots = prefsWith(UnitsNauticalKn, 0);
    EXPECT_EQ(text(formatLengthToTenth(12.345, &metric)), "12.3 m");
    EXPECT_EQ(text(formatLengthToTenth(12.345, &kmh)), "12.3 m");
    EXPECT_EQ(text(formatLengthToTenth(12.345, &feet)), "40.5 ft");
    EXPECT_EQ(text(formatLengthToTenth(12.345, &mph)), "40.5 ft");
    EXPECT_EQ(text(formatLengthToTenth(12.345, &knots)), "40.5 ft");
    EXPECT_EQ(text(formatLength(12.345, 0.1, &metric)), "12.3 m");

    EXPECT_EQ(text(formatLengthValue(1.2345678, 0.000001, &metric)), "1.234568");
    EXPECT_EQ(text(formatLengthValue(1.2345678, 0.00001, &metric)), "1.23457");
    EXPECT_EQ(text(formatLengthValue(1.2345678, 0.0001, &metric)), "1.2346");
    EXPECT_EQ(text(formatLengthValue(1.2345678, 0.001, &metric)), "1.235");
    EXPECT_EQ(text(formatLengthValue(1.2345678, 0.01, &metric)), "1.23");
    EXPECT_EQ(text(formatLengthValue(1.25, 0.1, &metric)), "1.3");
    EXPECT_EQ(text(formatLengthValue(-1.25, 0.1, &metric)), "-1.3");
    EXPECT_EQ(text(formatLengthValue(1234.5, 1, &metric)), "1235");
    EXPECT_EQ(text(formatLengthValue(1234.5, 100, &metric)), "1235");
    EXPECT_EQ(text(formatLengthValue(-0.04, 0.1, &metric)), "0.0");
    // The resolution is converted too: 0.01 m is 0.0328 ft, which asks for 2 decimals.
    EXPECT_EQ(text(formatLengthValue(1, 0.01, &feet)), "3.28");

    EXPECT_EQ(text(formatLengthValue(NAN, 0.1, &metric)), "NaN");
    EXPECT_EQ(text(formatLength(INFINITY, 0.1, &metric)), kInfinity + " m");
    EXPECT_EQ(text(formatLength(-INFINITY, 0.1, &feet)), "-" + kInfinity + " ft");
    EXPECT_EQ(text(formatLength(NAN, 0.1, &feet)), "NaN ft");
}

TEST(UnitTexts, Speeds) {
    const char* expected[] = {"10.0 m/s", "36 km/h", "33 ft/s", "22 mph", "19 kn"};
    for (u32 units = 0; units < 5; units++) {
        Preferences prefs = prefsWith(units, 0);
        EXPECT_EQ(text(speedString(10.0, &prefs)), expected[units]) << units;
    }
    Preferences other = prefsWith(9, 0);
    EXPECT_EQ(text(speedString(10.0, &other)), "19 kn");
    Preferences metric = prefsWith(UnitsMetricMps, 0);
    EXPECT_EQ(text(speedString(-0.25, &metric)), "-0.3 m/s");
    EXPECT_EQ(text(speedString(0.04, &metric)), "0.0 m/s");
}

TEST(UnitTexts, Temperatures) {
    Preferences metric = prefsWith(UnitsMetricKmh, 0);
    Preferences imperial = prefsWith(UnitsImperialFps, 0);
    EXPECT_EQ(text(temperatureString(-0.5, &metric)), "-1 " + kDegree + "C");
    EXPECT_EQ(text(temperatureString(21.4, &metric)), "21 " + kDegree + "C");
    EXPECT_EQ(text(temperatureString(100.0, &imperial)), "212 " + kDegree + "F");
    EXPECT_EQ(text(temperatureString(-40.0, &imperial)), "-40 " + kDegree + "F");
    EXPECT_EQ(text(unknownTemperatureString(&metric)), "? " + kDegree + "C");
    EXPECT_EQ(text(unknownTemperatureString(&imperial)), "? " + kDegree + "F");
}

TEST(UnitTexts, Durations) {
    EXPECT_EQ(text(durationString(3725000000LL)), "1 hr 2 min 5 s");
    EXPECT_EQ(text(durationString(3605000000LL)), "1 hr 0 min 5 s");
    EXPECT_EQ(text(durationString(59999999)), "59 s");
    EXPECT_EQ(text(durationString(-61000000)), "-1 min 1 s");
    EXPECT_EQ(text(durationString(-999999)), "-0 s");
    EXPECT_EQ(text(durationString(0)), "0 s");
    EXPECT_EQ(text(durationString(-7200000000LL)), "-2 hr 0 min 0 s");
    EXPECT_EQ(text(durationString(INT64_MAX)), kInfinity + " s");
    EXPECT_EQ(text(durationString(INT64_MIN)), "-" + kInfinity + " s");
    EXPECT_EQ(text(durationString(INT64_MAX - 1)), "2562047788 hr 0 min 54 s");
}

TEST(UnitTexts, Coordinates) {
    Preferences decimal = prefsWith(0, LatLngDecimalDegrees);
    Preferences minutes = prefsWith(0, LatLngDegreesDecimalMinutes);
    Preferences seconds = prefsWith(0, LatLngDegreesMinutesDecimalSeconds);
    Preferences other = prefsWith(0, 7);

    EXPECT_EQ(text(latitudeString(12.515625, &decimal)), "12.51562" + kDegree + " N");
    EXPECT_EQ(text(latitudeString(12.515625, &minutes)), "12" + kDegree + " 30.9375' N");
    EXPECT_EQ(text(latitudeString(12.515625, &seconds)), "12" + kDegree + " 30' 56.250\" N");
    EXPECT_EQ(text(latitudeString(12.515625, &other)), "12.51562" + kDegree + " N");
    EXPECT_EQ(text(latitudeString(-33.5, &decimal)), "33.50000" + kDegree + " S");
    EXPECT_EQ(text(latitudeString(0.0, &decimal)), "0.00000" + kDegree + " N");
    EXPECT_EQ(text(latitudeString(-0.0, &decimal)), "0.00000" + kDegree + " N");

    EXPECT_EQ(text(longitudeString(-122.25, &decimal)), "122.25000" + kDegree + " W");
    EXPECT_EQ(text(longitudeString(-122.25, &minutes)), "122" + kDegree + " 15.0000' W");
    EXPECT_EQ(text(longitudeString(-122.25, &seconds)), "122" + kDegree + " 15' 0.000\" W");
    EXPECT_EQ(text(longitudeString(0.0, &seconds)), "0" + kDegree + " 0' 0.000\" E");
    EXPECT_EQ(text(longitudeString(179.999999, &decimal)), "179.99999" + kDegree + " E");
}

TEST(Calendar, KnownInstants) {
    DateTimeParts start = calendarFromMilliseconds(0);
    EXPECT_EQ(start.year, 1601);
    EXPECT_EQ(start.month, 1);
    EXPECT_EQ(start.day, 1);
    EXPECT_EQ(start.hour, 0);
    EXPECT_EQ(start.minute, 0);
    EXPECT_EQ(start.second, 0);
    EXPECT_EQ(start.millisecond, 0);
    EXPECT_STREQ(start.monthText, "01");
    EXPECT_STREQ(start.dayText, "01");
    EXPECT_STREQ(start.hourText, "00");
    EXPECT_STREQ(start.minuteText, "00");
    EXPECT_STREQ(start.secondText, "00");
    EXPECT_STREQ(start.millisecondText, "000");

    constexpr i64 kDay = 86400000;
    constexpr i64 kUnixEpoch = 11644473600000LL;
    // 2024-12-31 12:00 and 2000-12-31 12:00 UTC, and one day later.
    i64 endOf2024 = kUnixEpoch + 1735646400000LL;
    i64 endOf2000 = kUnixEpoch + 978264000000LL;
    DateTimeParts a = calendarFromMilliseconds(endOf2024);
    EXPECT_EQ(a.year, 2024);
    EXPECT_EQ(a.month, 12);
    EXPECT_EQ(a.day, 31);
    EXPECT_EQ(a.hour, 12);
    DateTimeParts b = calendarFromMilliseconds(endOf2024 + kDay);
    EXPECT_EQ(b.year, 2025);
    EXPECT_EQ(b.month, 1);
    EXPECT_EQ(b.day, 1);
    DateTimeParts c = calendarFromMilliseconds(endOf2000);
    EXPECT_EQ(c.year, 2000);
    EXPECT_EQ(c.month, 12);
    EXPECT_EQ(c.day, 31);
    DateTimeParts d = calendarFromMilliseconds(endOf2000 + kDay);
    EXPECT_EQ(d.year, 2001);
    EXPECT_EQ(d.month, 1);
    EXPECT_EQ(d.day, 1);

    DateTimeParts e = calendarFromMilliseconds(kUnixEpoch + 1709208000123LL);  // 2024-02-29 12:00:00.123
    EXPECT_EQ(e.month, 2);
    EXPECT_EQ(e.day, 29);
    EXPECT_STREQ(e.millisecondText, "123");
    EXPECT_STREQ(e.monthText, "02");

    DateTimeParts f = calendarFromMilliseconds(-1);  // the last millisecond of 1600
    EXPECT_EQ(f.year, 1600);
    EXPECT_EQ(f.month, 12);
    EXPECT_EQ(f.day, 31);
    EXPECT_EQ(f.hour, 23);
    EXPECT_EQ(f.minute, 59);
    EXPECT_EQ(f.second, 59);
    EXPECT_EQ(f.millisecond, 999);
    EXPECT_STREQ(f.millisecondText, "999");
}
