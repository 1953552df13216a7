// calendarFromMilliseconds checked against Python's datetime over thousands of random instants from
// year 1 to year 9999, crowded around leap days and the turns of the years near 1601, 1700, 1800,
// 1900, 1970, 2000, 2100 and 2400.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "Core/Format.h"
#include "CoreOracle.h"

namespace {

constexpr i64 kDayMs = 86400000;

// Days from 1601-01-01 to a proleptic Gregorian date, by the era-based days-from-civil method
// (counted from 1970-01-01, then shifted).
i64 daysFrom1601(i64 year, i64 month, i64 day) {
    year -= month <= 2;
    i64 era = (year >= 0 ? year : year - 399) / 400;
    i64 yearOfEra = year - era * 400;
    i64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    i64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    i64 fromUnix = era * 146097 + dayOfEra - 719468;
    return fromUnix + 134774;  // 1601-01-01 is 134,774 days before 1970-01-01
}

std::string digits(u32 value, int width) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*u", width, value);
    return text;
}

}  // namespace

TEST(CalendarOracle, AgreesWithPythonDatetime) {
    std::mt19937_64 random(16010101);
    std::vector<i64> instants;
    const i64 first = daysFrom1601(1, 1, 1) * kDayMs;
    const i64 last = daysFrom1601(10000, 1, 1) * kDayMs - 1;
    instants.push_back(0);
    instants.push_back(-1);
    instants.push_back(first);
    instants.push_back(last);
    for (int i = 0; i < 3000; i++) instants.push_back(first + (i64)(random() % (u64)(last - first + 1)));

    const i64 nearYears[] = {1, 4, 100, 400, 1596, 1599, 1600, 1601, 1602, 1603, 1604, 1605, 1699, 1700, 1701,
                             1799, 1800, 1801, 1899, 1900, 1901, 1968, 1969, 1970, 1971, 1972, 1999, 2000,
                             2001, 2004, 2023, 2024, 2025, 2099, 2100, 2101, 2104, 2399, 2400, 2401, 9999};
    for (i64 year : nearYears) {
        for (int i = 0; i < 40; i++) {
            // Around the turn of the year and around the end of February.
            i64 turn = daysFrom1601(year, 1, 1) * kDayMs;
            i64 february = daysFrom1601(year, 2, 28) * kDayMs;
            i64 offset = (i64)(random() % (u64)(4 * kDayMs)) - 2 * kDayMs;
            if (turn + offset >= first && turn + offset <= last) instants.push_back(turn + offset);
            if (february + offset + kDayMs >= first) instants.push_back(february + offset + kDayMs);
        }
    }

    std::string file;
    for (i64 t : instants) {
        for (int k = 0; k < 8; k++) file += (char)((u64)t >> (8 * k));
    }
    bool ok = false;
    std::string answer = coreoracle::runScript("calendar.py", file, &ok);
    ASSERT_TRUE(ok) << "the Python oracle did not run";
    ASSERT_EQ(answer.size(), instants.size() * 14);

    int leapDays = 0;
    for (size_t i = 0; i < instants.size(); i++) {
        u16 want[7];
        for (int k = 0; k < 7; k++) want[k] = (u16)((u8)answer[i * 14 + 2 * k] | ((u8)answer[i * 14 + 2 * k + 1] << 8));
        DateTimeParts got = calendarFromMilliseconds(instants[i]);
        SCOPED_TRACE("instant " + std::to_string(instants[i]));
        ASSERT_EQ(got.year, want[0]);
        ASSERT_EQ(got.month, want[1]);
        ASSERT_EQ(got.day, want[2]);
        ASSERT_EQ(got.hour, want[3]);
        ASSERT_EQ(got.minute, want[4]);
        ASSERT_EQ(got.second, want[5]);
        ASSERT_EQ(got.millisecond, want[6]);
        ASSERT_EQ(got.monthText, digits(want[1], 2));
        ASSERT_EQ(got.dayText, digits(want[2], 2));
        ASSERT_EQ(got.hourText, digits(want[3], 2));
        ASSERT_EQ(got.minuteText, digits(want[4], 2));
        ASSERT_EQ(got.secondText, digits(want[5], 2));
        ASSERT_EQ(got.millisecondText, digits(want[6], 3));
        if (want[1] == 2 && want[2] == 29) leapDays++;
    }
    EXPECT_GT(leapDays, 100);  // the leap days were really visited
}
