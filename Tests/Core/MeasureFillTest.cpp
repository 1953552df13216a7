// Random sequences of appenders run three times: into a buffer of a small capacity, in measure mode
// with the same capacity, and into a buffer large enough for everything. The measuring run must end
// with exactly the filling run's length and overflow flag, and an overflow must leave the bytes
// written before it intact and nothing written after it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Core/FixedString.h"

namespace {

struct WriterRun {
    ByteWriter writer;
    BitWriter bits;
    std::vector<LengthFieldMark> marks;
};

using Step = std::function<void(WriterRun&)>;

std::string randomAscii(std::mt19937_64& random, size_t maximum) {
    std::string s(random() % (maximum + 1), ' ');
    for (char& c : s) c = (char)(0x20 + random() % 0x5F);
    return s;
}

std::string randomBytes(std::mt19937_64& random, size_t maximum) {
    std::string s(random() % (maximum + 1), ' ');
    for (char& c : s) c = (char)(random() % 256);
    return s;
}

i64 randomInteger(std::mt19937_64& random) {
    switch (random() % 5) {
        case 0: return std::numeric_limits<i64>::min();
        case 1: return std::numeric_limits<i64>::max();
        case 2: return (i64)(random() % 2001) - 1000;
        default: return (i64)random();
    }
}

f64 randomDouble(std::mt19937_64& random) {
    switch (random() % 8) {
        case 0: return NAN;
        case 1: return random() % 2 ? INFINITY : -INFINITY;
        case 2: return (f64)(i64)(random() % 20001 - 10000) / 100.0;
        case 3: return std::ldexp((f64)(i64)random(), (int)(random() % 40) - 20);
        default: return ((f64)(random() % 2000001) - 1000000.0) / 997.0;
    }
}

// One random appender call with its arguments fixed, so that it can be replayed on every run.
Step randomStep(std::mt19937_64& random, i64 capacity, bool lengthFields) {
    i64 end = (i64)(random() % (u64)(capacity + 40));
    switch (random() % (lengthFields ? 22 : 20)) {
        case 0: {
            std::string bytes = randomBytes(random, 40);
            i64 count = random() % 8 == 0 ? -(i64)(random() % 3) : (i64)bytes.size();
            return [=](WriterRun& r) { appendBytes(bytes.data(), count, &r.writer); };
        }
        case 1: {
            std::string s = randomAscii(random, 30);
            return [=](WriterRun& r) { appendCString(s.c_str(), &r.writer); };
        }
        case 2: {
            FixedString s = makeString(randomAscii(random, 300).c_str());
            if (random() % 2) return [=](WriterRun& r) { appendFixedString(s, &r.writer); };
            return [=](WriterRun& r) { appendFixedStringRef(&s, &r.writer); };
        }
        case 3: {
            std::string s = randomAscii(random, 20);
            return [=](WriterRun& r) { appendCStringRightAligned(s.c_str(), end, &r.writer); };
        }
        case 4: {
            i32 cp = random() % 6 == 0 ? -(i32)(random() % 5) : (i32)(random() >> (random() % 64)) & 0x7FFFFFFF;
            return [=](WriterRun& r) { appendCodepoint(cp, &r.writer); };
        }
        case 5: {
            std::string bytes = randomBytes(random, 40);
            return [=](WriterRun& r) { appendUtf8Text(bytes.data(), (i64)bytes.size(), &r.writer); };
        }
        case 6: {
            std::vector<u16> units(random() % 20);
            for (u16& u : units) u = (u16)(random() % 4 == 0 ? 0xD800 + random() % 0x800 : 1 + random() % 0xFFFF);
            return [=](WriterRun& r) { appendUtf16(units.data(), (i64)units.size(), &r.writer); };
        }
        case 7: {
            std::string s;
            const char* pieces[] = {"\\n", "\\u00e9", "\\ud83d", "\\u20AC", "\\", "\\x", "a", "\\\"", "\\u12"};
            size_t n = random() % 8;
            for (size_t i = 0; i < n; i++) s += pieces[random() % 9];
            return [=](WriterRun& r) { appendJsonUnescaped(s.data(), (i64)s.size(), &r.writer); };
        }
        case 8: {
            i64 v = randomInteger(random);
            return [=](WriterRun& r) { appendInt64(v, &r.writer); };
        }
        case 9: {
            i64 v = randomInteger(random);
            return [=](WriterRun& r) { appendInt64Padded(v, end, &r.writer); };
        }
        case 10: {
            i64 v = randomInteger(random);
            i64 decimals = (i64)(random() % 23) - 2;
            return [=](WriterRun& r) { appendFixedPoint(v, decimals, &r.writer); };
        }
        case 11: {
            f64 v = randomDouble(random);
            i64 decimals = (i64)(random() % 19) - 1;
            if (random() % 2) return [=](WriterRun& r) { appendDouble(v, decimals, &r.writer); };
            return [=](WriterRun& r) { appendDoubleTrimmed(v, decimals, &r.writer); };
        }
        case 12: {
            std::string bytes = randomBytes(random, 12);
            if (random() % 2) return [=](WriterRun& r) { appendHexBytes(bytes.data(), (i64)bytes.size(), &r.writer); };
            return [=](WriterRun& r) { appendHexBytesSpaced(bytes.data(), (i64)bytes.size(), &r.writer); };
        }
        case 13: {
            u64 v = random();
            i64 digits = (i64)(random() % 23) - 2;
            return [=](WriterRun& r) { appendHexDigits(v, digits, &r.writer); };
        }
        case 14: {
            u64 v = random();
            switch (random() % 5) {
                case 0: return [=](WriterRun& r) { appendU32Le((u32)v, &r.writer); };
                case 1: return [=](WriterRun& r) { appendU32Be((u32)v, &r.writer); };
                case 2: return [=](WriterRun& r) { appendU64Le(v, &r.writer); };
                case 3: return [=](WriterRun& r) { appendU64Be(v, &r.writer); };
                default: return [=](WriterRun& r) { appendU16Be((u16)v, &r.writer); };
            }
        }
        case 15: {
            u64 v = random();
            switch (random() % 4) {
                case 0: return [=](WriterRun& r) { appendF32Le((f32)(i64)v, &r.writer); };
                case 1: return [=](WriterRun& r) { appendF64Le((f64)(i64)v, &r.writer); };
                case 2: return [=](WriterRun& r) { appendU8((u8)v, &r.writer); };
                default: return [=](WriterRun& r) { appendU64LeB(v, &r.writer); };
            }
        }
        case 16:
        case 17: {
            u64 v = random();
            i32 count = (i32)(random() % 67) - 1;
            return [=](WriterRun& r) { appendBits(v, count, &r.bits); };
        }
        case 18: {
            // A new bit stream starts on a fresh byte.
            u8 fill = (u8)random();
            return [=](WriterRun& r) { r.bits = makeBitWriter(&r.writer, fill); };
        }
        case 19: {
            std::string bytes = randomBytes(random, 300);
            return [=](WriterRun& r) { appendBytes(bytes.data(), (i64)bytes.size(), &r.writer); };
        }
        case 20: {
            u32 kind = (u32)(random() % 9);
            return [=](WriterRun& r) { r.marks.push_back(reserveLengthField(&r.writer, kind)); };
        }
        default: {
            u64 value = random();
            return [=](WriterRun& r) {
                if (r.marks.empty()) return;
                patchLengthField(&r.marks.back(), value);
                r.marks.pop_back();
            };
        }
    }
}

void replay(const std::vector<Step>& steps, WriterRun& run) {
    run.bits = makeBitWriter(&run.writer, 0);
    for (const Step& step : steps) step(run);
}

}  // namespace

TEST(MeasureFill, MeasuringRunsEndLikeFillingRuns) {
    std::mt19937_64 random(4242);
    for (int sequence = 0; sequence < 3000; sequence++) {
        bool lengthFields = sequence % 3 == 0;
        i64 capacity = (i64)(random() % 300);
        std::vector<Step> steps;
        size_t count = 1 + random() % 30;
        for (size_t i = 0; i < count; i++) steps.push_back(randomStep(random, capacity, lengthFields));
        SCOPED_TRACE("sequence " + std::to_string(sequence) + ", capacity " + std::to_string(capacity));

        constexpr u8 kUntouched = 0xA5;
        std::vector<u8> buffer((size_t)capacity + 16, kUntouched);
        WriterRun filling{makeByteWriter(buffer.data(), capacity), {}, {}};
        replay(steps, filling);
        WriterRun measuring{makeMeasuringWriter(capacity), {}, {}};
        replay(steps, measuring);
        ASSERT_EQ(measuring.writer.length, filling.writer.length);
        ASSERT_EQ(measuring.writer.overflow, filling.writer.overflow);
        ASSERT_LE(filling.writer.length, capacity);

        // Nothing is written at or beyond the final length.
        for (size_t i = (size_t)filling.writer.length; i < buffer.size(); i++) ASSERT_EQ(buffer[i], kUntouched) << i;

        std::vector<u8> large(1 << 16, kUntouched);
        WriterRun reference{makeByteWriter(large.data(), (i64)large.size()), {}, {}};
        replay(steps, reference);
        ASSERT_EQ(reference.writer.overflow, 0);
        WriterRun unbounded{makeMeasuringWriter(), {}, {}};
        replay(steps, unbounded);
        ASSERT_EQ(unbounded.writer.length, reference.writer.length);
        ASSERT_EQ(unbounded.writer.overflow, 0);

        if (!filling.writer.overflow) {
            ASSERT_EQ(filling.writer.length, reference.writer.length);
        } else {
            ASSERT_LT(filling.writer.length, reference.writer.length);
        }
        // The bytes before the overflow are those of the unbounded run. (A length field whose patch
        // was refused by the overflow keeps its zeros, so sequences with fields compare only when
        // nothing overflowed.)
        if (!lengthFields || !filling.writer.overflow) {
            ASSERT_EQ(std::memcmp(buffer.data(), large.data(), (size_t)filling.writer.length), 0);
        }
    }
}

TEST(MeasureFill, RightAlignedItemsWiderThanTheirField) {
    for (i64 capacity : {0, 3, 5, 6, 9, 20}) {
        std::vector<u8> buffer((size_t)capacity + 1);
        ByteWriter filling = makeByteWriter(buffer.data(), capacity);
        ByteWriter measuring = makeMeasuringWriter(capacity);
        for (ByteWriter* w : {&filling, &measuring}) {
            appendCString("ab", w);
            appendInt64Padded(-123456, 4, w);         // wider than its field: no blanks
            appendCStringRightAligned("key", 14, w);  // blanks that may not fit
            appendInt64Padded(7, 40, w);
        }
        EXPECT_EQ(measuring.length, filling.length) << capacity;
        EXPECT_EQ(measuring.overflow, filling.overflow) << capacity;
    }
}
