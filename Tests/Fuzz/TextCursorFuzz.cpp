// Untrusted text through the text cursors, the re-encoders, the JSON unescaper and the formatter:
// nothing may read past the end, and measuring runs must end like filling runs.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Core/FixedString.h"
#include "Core/Format.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

template <typename Appender>
void compareMeasureAndFill(i64 capacity, Appender appender) {
    std::vector<u8> buffer((size_t)capacity);
    ByteWriter filling = makeByteWriter(buffer.data(), capacity);
    ByteWriter measuring = makeMeasuringWriter(capacity);
    appender(&filling);
    appender(&measuring);
    check(filling.length == measuring.length && filling.overflow == measuring.overflow);
    check(filling.length >= 0 && filling.length <= capacity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    i64 end = (i64)size;
    i64 capacity = size > 0 ? data[0] : 0;

    // Forward and backward decoding always advance and stay inside the text. A code point read is a
    // Unicode scalar value whose shortest form is exactly the bytes it was read from.
    for (i64 position = 0; position < end;) {
        i64 before = position;
        i32 c = readCodepoint(data, &position, end);
        check(position <= end);
        if (c == kUtf8End || c == kUtf8Truncated) break;
        if (c >= 0) {
            check(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF));
            u8 shortest[8];
            ByteWriter encoded = makeByteWriter(shortest, sizeof shortest);
            appendCodepoint(c, &encoded);
            check(encoded.length == position - before && std::memcmp(shortest, data + before, (size_t)encoded.length) == 0);
        }
        if (position == before) position++;  // a malformed byte that was not consumed
    }
    for (i64 position = end; position > 0;) {
        i64 before = position;
        i32 c = utf8DecodePrevious(data, &position);
        check(position >= 0 && position <= before);
        if (c == kUtf8End || position == before) break;
    }

    // Number readers from every start position.
    for (i64 start = 0; start < end && start < 64; start++) {
        i64 position = start;
        parseInteger(data, &position, end, -1);
        check(position <= end);
        position = start;
        parseDouble(data, &position, end, -1.0);
        check(position <= end);
        position = start;
        parseHex(data, &position, end, -1);
        check(position <= end);
        position = start;
        skipBlanks(data, &position, end);
        check(position <= end);
    }

    FixedString out;
    i64 position = 0;
    readUntilCodepoint(&out, ',', data, &position, end);
    check(out.length <= 253 && position <= end);
    readRestAsString(&out, data, &position, end);
    check(out.length <= 253 && position <= end);

    compareMeasureAndFill(capacity, [&](ByteWriter* w) { appendUtf8Text(data, end, w); });
    compareMeasureAndFill(capacity, [&](ByteWriter* w) { appendJsonUnescaped(data, end, w); });
    std::vector<u16> units(size / 2);
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
    compareMeasureAndFill(capacity, [&](ByteWriter* w) { appendUtf16(units.data(), (i64)units.size(), w); });

    TextSlice slice{data, end};
    containsIgnoringCase("wplat", &slice);
    FixedString text = stringFromBytes(data, end);
    i64 findLength = size > 0 ? 1 + data[0] % 3 : 0;
    FixedString find = stringFromBytes(data, findLength < end ? findLength : end);
    FixedString replaced = replaceAll(text, find, makeString("<@>"));
    check(replaced.length <= 253);
    FixedString upper = toUpperSnakeCase(&text);
    check(upper.length <= text.length);

    // The input as a format text with a few arguments of every kind.
    std::vector<char> format(data, data + size);
    format.push_back(0);
    FixedString name = makeString("name");
    i64 number = -42;
    i32 cp = 0x20AC;
    FormatHexArgument hex{0xABCD, 4};
    FormatFixedArgument fixed{12345, 2};
    FormatBytesArgument span{data, end};
    const void* arguments[] = {&name, "c", &cp, &number, &hex, &fixed, &span, &span};
    const u32 kinds[] = {0, 2, 3, 4, 5, 6, 7, 8};
    FixedString formatted = formatString(format.data(), arguments, kinds, 8);
    check(formatted.length <= 253);
    return 0;
}
