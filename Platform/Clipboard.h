// The system clipboard for text. The program keeps its text as UTF-8 with "\n" line ends; the
// clipboard holds UTF-16 text with CR LF line ends. The conversions are pure functions; the service
// puts the text on SDL's clipboard while the video subsystem runs, else on the program's own.
#pragma once
#include "Core/FixedString.h"

// Units of the clipboard text of UTF-8 text: decoding stops at the end, a malformed or truncated
// sequence or a zero code point; a line feed not after a carriage return becomes CR LF; code
// points outside Unicode scalar values are dropped. Returns the unit count (without the closing
// zero); writes at most capacity units when units is not null, and no closing zero.
i64 clipboardUnitsFromUtf8(const u8* text, i64 length, u16* units, i64 capacity);

// Appends clipboard units to out as UTF-8: stops at a zero unit, at the end, or at a high
// surrogate in the last unit; a lone low surrogate, or a high surrogate not followed by a low one,
// is dropped; CR LF becomes "\n" while a lone CR stays. A code point that does not fit sets the
// overflow flag and ends the paste; nothing is appended to a writer that already overflowed.
void appendClipboardUnits(const u16* units, i64 unitCount, ByteWriter* out);

// Replaces the clipboard's contents with the text (bytes 0 to length of the writer). An empty text
// empties the clipboard.
void copyTextToClipboard(const ByteWriter* text);
// Appends the clipboard's text, as UTF-8 with "\n" line ends, to out.
void pasteFromClipboard(ByteWriter* out);
