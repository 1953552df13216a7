// Key events and clipboard texts into a text field: the text stays within its capacity, the caret
// and the selection stay inside it, and text that began as whole UTF-8 stays whole UTF-8.
#include <cstdint>
#include <cstring>

#include "Platform/Clipboard.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

bool wholeUtf8(const u8* text, i64 length) {
    i64 position = 0;
    while (true) {
        i32 c = utf8DecodeNext(text, length, &position);
        if (c == kUtf8End) return true;
        if (c < 0) return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // First byte: the initial text's length; then that text; then the clipboard's length and text;
    // the rest, two bytes at a time, are events.
    size_t at = 0;
    size_t textLength = data[at++] % (kTextFieldCapacity + 1);
    if (textLength > size - at) textLength = size - at;
    u8 text[kTextFieldCapacity + 1] = {};
    std::memcpy(text, data + at, textLength);
    at += textLength;
    bool whole = wholeUtf8(text, (i64)textLength);
    if (at < size) {
        size_t clipLength = data[at++];
        if (clipLength > size - at) clipLength = size - at;
        ByteWriter clip = makeByteWriter((void*)(data + at), (i64)clipLength);
        clip.length = (i64)clipLength;
        copyTextToClipboard(&clip);
        at += clipLength;
    }
    TextEditState focus{};
    focus.focusedId = WidgetId{1, "fuzz"};
    focus.selectingPointer = -1;
    ByteWriter writer = makeByteWriter(text, kTextFieldCapacity);
    writer.length = (i64)textLength;
    TextEditResult result{};
    u32 editable = 1;
    while (at + 1 < size) {
        u8 kind = data[at], value = data[at + 1];
        at += 2;
        i32 event;
        if (kind < 64) {
            event = -1 - (value % 13);  // -1 Delete to -13, one past the last event
        } else if (kind < 128) {
            event = value;
        } else if (kind < 192) {
            event = 0x80 + value * 97;  // two- and three-byte characters, surrogates among them
        } else if (kind < 250) {
            event = 0x10000 + value * 4099;
        } else if (kind == 250) {
            focus.caret = (i64)value - 3;  // offsets from elsewhere, also out of range
            continue;
        } else if (kind == 251) {
            focus.selectionAnchor = (i64)value * 2;
            continue;
        } else {
            editable = value & 1;
            continue;
        }
        if (!applyTextEditEvent(event, &writer, editable, &focus, &result, 1000000)) {
            focus.focusedId = WidgetId{1, "fuzz"};
        }
        if (writer.length < 0 || writer.length > kTextFieldCapacity) __builtin_trap();
        if (focus.caret < 0 || focus.caret > writer.length) __builtin_trap();
        if (focus.selectionAnchor < 0 || focus.selectionAnchor > writer.length) __builtin_trap();
        if (whole && event != -8 && !wholeUtf8(text, writer.length)) __builtin_trap();
    }
    return 0;
}
