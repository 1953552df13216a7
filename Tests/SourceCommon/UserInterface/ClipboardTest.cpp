// The clipboard's conversions between the program's UTF-8 with "\n" and the clipboard's UTF-16
// with CR LF, checked by their edge cases and against Python's codecs, and the clipboard service.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Platform/Clipboard.h"

namespace {

std::vector<u16> unitsOf(const std::string& utf8) {
    i64 count = clipboardUnitsFromUtf8((const u8*)utf8.data(), (i64)utf8.size(), nullptr, 0);
    std::vector<u16> units((size_t)count);
    clipboardUnitsFromUtf8((const u8*)utf8.data(), (i64)utf8.size(), units.data(), count);
    return units;
}

std::string pasted(const std::vector<u16>& units, i64 capacity = 1024, u8* overflow = nullptr) {
    std::vector<u8> buffer((size_t)capacity + 1);
    ByteWriter out = makeByteWriter(buffer.data(), capacity);
    appendClipboardUnits(units.data(), (i64)units.size(), &out);
    if (overflow) *overflow = out.overflow;
    return std::string((const char*)buffer.data(), (size_t)out.length);
}

TEST(ClipboardText, LineEndsBothWays) {
    EXPECT_EQ(unitsOf("a\nb"), (std::vector<u16>{'a', '\r', '\n', 'b'}));
    EXPECT_EQ(unitsOf("a\r\nb"), (std::vector<u16>{'a', '\r', '\n', 'b'}));
    EXPECT_EQ(pasted({'a', '\r', '\n', 'b'}), "a\nb");
    EXPECT_EQ(pasted({'a', '\r', 'b'}), "a\rb");
    EXPECT_EQ(pasted({'a', '\r'}), "a\r");
    EXPECT_EQ(pasted({'\r', '\r', '\n'}), "\r\n");
}

TEST(ClipboardText, SurrogatePairsAndBrokenUnits) {
    EXPECT_EQ(unitsOf("\xF0\x9F\x98\x80"), (std::vector<u16>{0xD83D, 0xDE00}));
    EXPECT_EQ(pasted({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(pasted({'a', 0xDE00, 'b'}), "ab");          // a lone low surrogate
    EXPECT_EQ(pasted({'a', 0xD83D, 'b'}), "ab");          // a high one not followed by a low one
    EXPECT_EQ(pasted({'a', 0xD83D}), "a");                // a high one in the last unit
    EXPECT_EQ(pasted({'a', 0, 'b'}), "a");                // a zero unit ends the text
}

TEST(ClipboardText, CopyingStopsAtBrokenUtf8OrAZero) {
    EXPECT_EQ(unitsOf(std::string("ab\0cd", 5)), (std::vector<u16>{'a', 'b'}));
    EXPECT_EQ(unitsOf("ab\xFF" "cd"), (std::vector<u16>{'a', 'b'}));
    EXPECT_EQ(unitsOf("ab\xE2\x82"), (std::vector<u16>{'a', 'b'}));
    EXPECT_TRUE(unitsOf("").empty());
}

TEST(ClipboardText, MeasuringAndOverflow) {
    ByteWriter measure = makeMeasuringWriter();
    std::vector<u16> units = {'a', 0x20AC, 0xD83D, 0xDE00};
    appendClipboardUnits(units.data(), (i64)units.size(), &measure);
    EXPECT_EQ(measure.length, 1 + 3 + 4);
    u8 overflow = 0;
    EXPECT_EQ(pasted({0x20AC}, 2, &overflow), "");
    EXPECT_EQ(overflow, 1);
    EXPECT_EQ(pasted({'a', 'b', 0x20AC}, 4, &overflow), "ab");
    EXPECT_EQ(overflow, 1);
    // A writer that already overflowed takes nothing.
    u8 buffer[8];
    ByteWriter full = makeByteWriter(buffer, 8);
    full.overflow = 1;
    appendClipboardUnits(units.data(), 1, &full);
    EXPECT_EQ(full.length, 0);
}

std::string hexOf(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Python's own codecs as the oracle: UTF-16-LE of the text with every LF not after a CR made CR LF,
// and back with CR LF made LF.
TEST(ClipboardText, AgreesWithPythonCodecs) {
    const char* samples[] = {"plain", "two\nlines\n", "mixed\r\nends\nand\rcr", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC 5",
                             "\xF0\x9F\x98\x80\n\xF0\x90\x8D\x88 \xE4\xB8\xAD\xE6\x96\x87", "\r", "\n\n\r\r\n"};
    std::string script = "import re,sys\nfor h in sys.argv[1:]:\n"
                         "    s=bytes.fromhex(h).decode('utf-8')\n"
                         "    u=re.sub(r'(?<!\\r)\\n','\\r\\n',s).encode('utf-16-le')\n"
                         "    print(u.hex(), u.decode('utf-16-le').replace('\\r\\n','\\n').encode('utf-8').hex())\n";
    FILE* file = std::fopen("/tmp/orvik_clipboard_oracle.py", "w");
    ASSERT_NE(file, nullptr);
    std::fputs(script.c_str(), file);
    std::fclose(file);
    std::string command = "/usr/bin/python3 /tmp/orvik_clipboard_oracle.py";
    for (const char* sample : samples) command += " " + hexOf(sample);
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    for (const char* sample : samples) {
        ASSERT_NE(std::fgets(line, sizeof(line), pipe), nullptr);
        std::string expectedUnits, expectedBack;
        std::string text(line);
        size_t space = text.find(' ');
        expectedUnits = text.substr(0, space);
        expectedBack = text.substr(space + 1);
        while (!expectedBack.empty() && (expectedBack.back() == '\n' || expectedBack.back() == '\r')) expectedBack.pop_back();
        std::vector<u16> units = unitsOf(sample);
        std::string unitBytes;
        for (u16 u : units) {
            unitBytes += (char)(u & 0xFF);
            unitBytes += (char)(u >> 8);
        }
        EXPECT_EQ(hexOf(unitBytes), expectedUnits) << sample;
        EXPECT_EQ(hexOf(pasted(units)), expectedBack) << sample;
    }
    pclose(pipe);
}

TEST(ClipboardService, CopyThenPasteAndAnEmptyCopyEmptiesIt) {
    const char* text = "x\ny";
    ByteWriter writer = makeByteWriter((void*)text, 3);
    writer.length = 3;
    copyTextToClipboard(&writer);
    char buffer[16];
    ByteWriter out = makeByteWriter(buffer, sizeof(buffer));
    pasteFromClipboard(&out);
    EXPECT_EQ(std::string(buffer, (size_t)out.length), "x\ny");
    ByteWriter empty = makeByteWriter(buffer, 0);
    copyTextToClipboard(&empty);
    out = makeByteWriter(buffer, sizeof(buffer));
    pasteFromClipboard(&out);
    EXPECT_EQ(out.length, 0);
}

}  // namespace

namespace {

// With a display, the text goes through SDL's clipboard (the system's) in its CR LF form.
TEST(ClipboardService, SystemClipboardWhenVideoRuns) {
    if (!std::getenv("DISPLAY") || SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "no display";
    const char* text = "a\nb\xF0\x9F\x98\x80";
    ByteWriter writer = makeByteWriter((void*)text, (i64)std::strlen(text));
    writer.length = (i64)std::strlen(text);
    copyTextToClipboard(&writer);
    char* system = SDL_GetClipboardText();
    EXPECT_STREQ(system, "a\r\nb\xF0\x9F\x98\x80");
    SDL_free(system);
    char buffer[32];
    ByteWriter out = makeByteWriter(buffer, sizeof(buffer));
    pasteFromClipboard(&out);
    EXPECT_EQ(std::string(buffer, (size_t)out.length), text);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace
