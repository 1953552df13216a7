#include "Platform/Clipboard.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr i64 kOwnClipboardUnits = 1 << 16;

// The program's own clipboard, used while SDL's video subsystem (and with it the system
// clipboard) is not running.
struct OwnClipboard {
    i64 unitCount;  // without the closing zero; -1 empty
    u16 units[kOwnClipboardUnits + 1];
};

OwnClipboard ownClipboard = {-1, {}};

bool systemClipboardAvailable() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

bool isScalarValue(i32 c) { return c >= 0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

// Plain UTF-8 to UTF-16, line ends as they are; for text read back from SDL's clipboard.
i64 utf16FromUtf8(const u8* text, i64 length, u16* units, i64 capacity) {
    i64 position = 0, count = 0;
    while (true) {
        i32 c = utf8DecodeNext(text, length, &position);
        if (c <= 0) break;
        if (!isScalarValue(c)) continue;
        if (c >= 0x10000) {
            if (units && count + 1 < capacity) {
                units[count] = (u16)(0xD800 + ((c - 0x10000) >> 10));
                units[count + 1] = (u16)(0xDC00 + ((c - 0x10000) & 0x3FF));
            }
            count += 2;
        } else {
            if (units && count < capacity) units[count] = (u16)c;
            count += 1;
        }
    }
    return count;
}

// Clipboard units (valid pairs by construction) as UTF-8 with their line ends unchanged.
void utf8FromUnits(const u16* units, i64 count, ByteWriter* out) {
    for (i64 i = 0; i < count; i++) {
        i32 c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            i++;
        }
        appendCodepoint(c, out);
    }
}

}  // namespace

i64 clipboardUnitsFromUtf8(const u8* text, i64 length, u16* units, i64 capacity) {
    i64 position = 0, count = 0;
    i32 previous = -1;
    auto put = [&](u16 unit) {
        if (units && count < capacity) units[count] = unit;
        count++;
    };
    while (true) {
        i32 c = utf8DecodeNext(text, length, &position);
        if (c <= 0) break;  // the end, a malformed or truncated sequence, or a zero
        if (c == '\n') {
            if (previous != '\r') put('\r');
            put('\n');
        } else if (c < 0x10000 && !(c >= 0xD800 && c <= 0xDFFF)) {
            put((u16)c);
        } else if (c >= 0x10000 && c <= 0x10FFFF) {
            put((u16)(0xD800 + ((c - 0x10000) >> 10)));
            put((u16)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
        previous = c;
    }
    return count;
}

void appendClipboardUnits(const u16* units, i64 unitCount, ByteWriter* out) {
    if (out->overflow) return;
    bool carriageReturnHeld = false;
    auto put = [&](i32 c) -> bool {
        i64 before = out->length;
        appendCodepoint(c, out);
        if (out->overflow) {
            out->length = before;
            return false;
        }
        return true;
    };
    i64 i = 0;
    while (i < unitCount) {
        u32 unit = units[i];
        if (unit == 0) break;
        i32 c;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= unitCount) break;  // a high surrogate in the last unit
            u32 low = units[i + 1];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = (i32)(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
            } else {
                i += 1;  // dropped; the next unit is decoded on its own
                continue;
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            i += 1;
            continue;
        } else {
            c = (i32)unit;
            i += 1;
        }
        if (carriageReturnHeld) {
            carriageReturnHeld = false;
            if (c != '\n' && !put('\r')) return;
        }
        if (c == '\r') {
            carriageReturnHeld = true;
            continue;
        }
        if (!put(c)) return;
    }
    if (carriageReturnHeld) put('\r');
}

void copyTextToClipboard(const ByteWriter* text) {
    const u8* bytes = text->data;
    i64 length = bytes ? text->length : 0;
    i64 count = clipboardUnitsFromUtf8(bytes, length, nullptr, 0);
    if (!systemClipboardAvailable()) {
        ownClipboard.unitCount = -1;
        if (count == 0 || count > kOwnClipboardUnits) return;
        clipboardUnitsFromUtf8(bytes, length, ownClipboard.units, kOwnClipboardUnits);
        ownClipboard.units[count] = 0;
        ownClipboard.unitCount = count;
        return;
    }
    if (count == 0) {
        SDL_SetClipboardText("");
        return;
    }
    u16* units = (u16*)std::malloc((count + 1) * sizeof(u16));
    if (!units) {
        SDL_SetClipboardText("");
        return;
    }
    clipboardUnitsFromUtf8(bytes, length, units, count);
    units[count] = 0;
    ByteWriter measure = makeMeasuringWriter();
    utf8FromUnits(units, count, &measure);
    char* utf8 = (char*)std::malloc(measure.length + 1);
    if (utf8) {
        ByteWriter writer = makeByteWriter(utf8, measure.length);
        utf8FromUnits(units, count, &writer);
        utf8[writer.length] = 0;
        SDL_SetClipboardText(utf8);
        std::free(utf8);
    } else {
        SDL_SetClipboardText("");
    }
    std::free(units);
}

void pasteFromClipboard(ByteWriter* out) {
    if (!systemClipboardAvailable()) {
        if (ownClipboard.unitCount > 0) appendClipboardUnits(ownClipboard.units, ownClipboard.unitCount, out);
        return;
    }
    if (!SDL_HasClipboardText()) return;
    char* utf8 = SDL_GetClipboardText();
    if (!utf8) return;
    i64 length = (i64)std::strlen(utf8);
    i64 count = utf16FromUtf8((const u8*)utf8, length, nullptr, 0);
    u16* units = count > 0 ? (u16*)std::malloc(count * sizeof(u16)) : nullptr;
    if (units) {
        utf16FromUtf8((const u8*)utf8, length, units, count);
        appendClipboardUnits(units, count, out);
        std::free(units);
    }
    SDL_free(utf8);
}
