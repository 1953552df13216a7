// Editing a text field's UTF-8 text through key events: typing, caret moves, selection, delete and
// backspace over multi-byte characters, the clipboard and the length limit.
#include <gtest/gtest.h>

#include <string>

#include "Platform/Clipboard.h"
#include "UiTestSupport.h"

namespace {

struct Field {
    FixedString text{};
    TextEditState focus{};
    TextEditResult result{};
    ByteWriter writer{};

    explicit Field(const char* initial = "") {
        text = makeString(initial);
        focus.focusedId = WidgetId{1, "field"};
        focus.selectingPointer = -1;
        setCaret((i64)text.length);
    }
    void setCaret(i64 caret, i64 anchor = -1) {
        focus.caret = caret;
        focus.selectionAnchor = anchor < 0 ? caret : anchor;
    }
    // Applies the events until one ends the editing; returns the text.
    std::string send(std::initializer_list<i32> events, u32 editable = 1) {
        result = TextEditResult{};
        writer = makeByteWriter(text.text, kTextFieldCapacity);
        writer.length = text.length;
        for (i32 event : events) {
            if (!applyTextEditEvent(event, &writer, editable, &focus, &result, 5000000)) break;
        }
        text.length = (u8)writer.length;
        return std::string(text.text, text.length);
    }
    void typeText(const char* utf8) {
        i64 position = 0, length = (i64)std::strlen(utf8);
        while (true) {
            i32 c = utf8DecodeNext((const u8*)utf8, length, &position);
            if (c < 0) break;
            send({c});
        }
    }
};

void putOnClipboard(const char* text) {
    ByteWriter writer = makeByteWriter((void*)text, (i64)std::strlen(text));
    writer.length = (i64)std::strlen(text);
    copyTextToClipboard(&writer);
}

std::string clipboardText() {
    char buffer[4096];
    ByteWriter out = makeByteWriter(buffer, sizeof(buffer));
    pasteFromClipboard(&out);
    return std::string(buffer, (size_t)out.length);
}

TEST(TextEditing, TypingCaretMovesAndLineBreaks) {
    Field field;
    field.typeText("héllo");
    EXPECT_EQ(std::string(field.text.text, field.text.length), "héllo");
    EXPECT_EQ(field.focus.caret, 6);
    EXPECT_EQ(field.send({KeyEventLeft, KeyEventLeft, KeyEventLeft, KeyEventLeft}), "héllo");
    EXPECT_EQ(field.focus.caret, 1);  // before the two-byte é
    field.send({KeyEventRight});
    EXPECT_EQ(field.focus.caret, 3);
    EXPECT_EQ(field.send({'X'}), "héXllo");
    EXPECT_TRUE(field.result.changed);
    EXPECT_EQ(field.send({10, 'a', 'b'}), "héX\nabllo");
    // Up keeps the column (one code point in), Down goes back.
    field.setCaret(6);
    field.send({KeyEventUp});
    EXPECT_EQ(field.focus.caret, 1);  // after "h"
    field.send({KeyEventDown});
    EXPECT_EQ(field.focus.caret, 6);
    field.send({KeyEventDown});
    EXPECT_EQ(field.focus.caret, 6);  // the last line: stays
    field.setCaret(10);
    field.send({KeyEventUp});
    EXPECT_EQ(field.focus.caret, 4);  // the first line is shorter: its end
    field.send({KeyEventUp});
    EXPECT_EQ(field.focus.caret, 4);
}

TEST(TextEditing, BackspaceAndDeleteRemoveWholeCodePoints) {
    Field field("a€b😀");  // € is three bytes, the emoji four
    field.setCaret(4);
    EXPECT_EQ(field.send({KeyEventBackspace}), "ab😀");
    EXPECT_TRUE(field.result.changed);
    EXPECT_EQ(field.focus.caret, 1);
    field.setCaret(2);
    EXPECT_EQ(field.send({KeyEventDelete}), "ab");
    field.setCaret(0);
    EXPECT_EQ(field.send({KeyEventBackspace}), "ab");
    EXPECT_FALSE(field.result.changed);
    field.setCaret(2);
    EXPECT_EQ(field.send({KeyEventDelete}), "ab");
    EXPECT_FALSE(field.result.changed);
}

TEST(TextEditing, SelectionIsReplacedDeletedAndCollapsed) {
    Field field("hello world");
    field.setCaret(5, 0);
    EXPECT_EQ(field.send({KeyEventDelete}), " world");
    EXPECT_EQ(field.focus.caret, 0);
    field.send({KeyEventSelectAll});
    EXPECT_EQ(field.focus.selectionAnchor, 0);
    EXPECT_EQ(field.focus.caret, 6);
    EXPECT_EQ(field.send({'Z'}), "Z");
    field = Field("abcdef");
    field.setCaret(4, 2);
    field.send({KeyEventLeft});
    EXPECT_EQ(field.focus.caret, 2);
    field.setCaret(2, 4);
    field.send({KeyEventRight});
    EXPECT_EQ(field.focus.caret, 4);
    EXPECT_EQ(field.focus.selectionAnchor, 4);
    field.setCaret(5, 1);
    field.send({KeyEventUp});
    EXPECT_EQ(field.focus.caret, 1);
}

TEST(TextEditing, CopyCutAndPasteThroughTheClipboard) {
    Field field("one two three");
    field.setCaret(7, 4);
    field.send({KeyEventCopy});
    EXPECT_EQ(clipboardText(), "two");
    EXPECT_EQ(field.send({KeyEventCut}), "one  three");
    EXPECT_EQ(clipboardText(), "two");
    field.setCaret(0);
    EXPECT_EQ(field.send({KeyEventPaste}), "twoone  three");
    EXPECT_EQ(field.focus.caret, 3);
    EXPECT_TRUE(field.result.changed);
    // Line ends: the clipboard holds CR LF, the field "\n".
    putOnClipboard("a\nb");
    field = Field("");
    EXPECT_EQ(field.send({KeyEventPaste}), "a\nb");
    // A read-only field copies but neither cuts nor pastes.
    Field readOnly("fixed");
    readOnly.setCaret(5, 0);
    EXPECT_EQ(readOnly.send({KeyEventCut, KeyEventPaste, 'x', KeyEventBackspace}, 0), "fixed");
    EXPECT_EQ(clipboardText(), "fixed");
    EXPECT_FALSE(readOnly.result.changed);
}

TEST(TextEditing, LengthLimit) {
    Field field(std::string(252, 'a').c_str());
    field.send({'b'});
    EXPECT_EQ(field.text.length, 252);  // 252 + 1 reaches the capacity: refused
    field.setCaret(252, 251);
    field.send({'b'});
    EXPECT_EQ(field.text.length, 252);
    EXPECT_EQ(field.text.text[251], 'b');
    field = Field(std::string(251, 'a').c_str());
    field.send({0xE9});
    EXPECT_EQ(field.text.length, 251);
    field = Field(std::string(250, 'a').c_str());
    field.send({0xE9});
    EXPECT_EQ(field.text.length, 252);
    // A paste is cut at the capacity on a whole code point.
    std::string long300;
    for (i32 i = 0; i < 100; i++) long300 += "\xE2\x82\xAC";  // 100 euro signs, 300 bytes
    putOnClipboard(long300.c_str());
    field = Field("");
    field.send({KeyEventPaste});
    EXPECT_EQ(field.text.length, 252);
    EXPECT_EQ(field.focus.caret, 252);
    // Pasting in the middle keeps the tail only as far as whole code points fit.
    putOnClipboard(std::string(250, 'x').c_str());
    field = Field("a\xE2\x82\xAC\xE2\x82\xAC");
    field.setCaret(1);
    field.send({KeyEventPaste});
    EXPECT_EQ(field.text.length, 251 + 0);  // "a", 250 x, no room for a whole euro sign
    EXPECT_EQ(field.focus.caret, 251);
    // Surrogates and values beyond Unicode are not typed.
    field = Field("");
    field.send({0xD800, 0x110000, 0});
    EXPECT_EQ(field.text.length, 0);
}

TEST(TextEditing, OffsetsFromElsewhereAreKeptOnWholeCodePoints) {
    Field field("a\xE2\x82\xAC");
    field.setCaret(3);  // inside the euro sign
    EXPECT_EQ(field.send({KeyEventDelete}), "a");
    field = Field("ab");
    field.setCaret(40, 1);  // beyond a text its owner shortened
    EXPECT_EQ(field.send({'c'}), "ac");
}

TEST(TextEditing, BackAndDoneDropTheEventsAfterThem) {
    Field field("");
    EXPECT_EQ(field.send({'a', KeyEventDone, 'b'}), "a");
    EXPECT_TRUE(field.result.submitted);
    EXPECT_TRUE(isNoWidget(field.focus.focusedId));
    field = Field("");
    EXPECT_EQ(field.send({'a', KeyEventBack, 'b'}), "a");
    EXPECT_FALSE(field.result.submitted);
    EXPECT_TRUE(isNoWidget(field.focus.focusedId));
}

}  // namespace
