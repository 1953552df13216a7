#include "Decoders/Lzw.h"

#include <cstring>

namespace {

constexpr i32 kClearCode = 256;
constexpr i32 kEndCode = 257;
constexpr u16 kNoPrefix = 0xFFFF;

i32 codeWidth(i32 nextCode) {
    if (nextCode < 511) return 9;
    if (nextCode < 1023) return 10;
    if (nextCode < 2047) return 11;
    return 12;
}

// The decoder's own table: besides each string's prefix code and last byte, its length and first
// byte, so a string is written in one pass from its end and a new entry costs nothing to describe.
// A clear code only rewinds nextCode: entries above it are never read before they are written again.
struct Strings {
    i32 nextCode;
    u16 prefix[4096];
    u8 suffix[4096];
    u8 first[4096];
    u16 length[4096];
};

void startStrings(Strings* s) {
    for (i32 i = 0; i < 256; i++) {
        s->prefix[i] = kNoPrefix;
        s->suffix[i] = (u8)i;
        s->first[i] = (u8)i;
        s->length[i] = 1;
    }
    s->nextCode = 258;
}

// Writes the string of `code` followed by `extra` bytes (0 or 1, given by extraByte). Bytes beyond
// the writer's room are dropped and set its overflow flag.
inline void emitString(const Strings* s, i32 code, i32 extra, u8 extraByte, ByteWriter* output) {
    i64 length = s->length[code];
    i64 total = length + extra;
    i64 start = output->length;
    i64 room = output->capacity - start;
    if (room < 0) room = 0;
    u8* data = output->data;
    if (data) {
        if (total <= room) {
            u8* end = data + start + length;
            if (extra) *end = extraByte;
            for (i64 i = length - 1; i > 0; i--) {
                end[i - length] = s->suffix[code];
                code = s->prefix[code];
            }
            end[-length] = s->suffix[code];
        } else {
            if (extra && total - 1 < room) data[start + total - 1] = extraByte;
            for (i64 position = length - 1; position >= 0; position--) {
                if (position < room) data[start + position] = s->suffix[code];
                code = s->prefix[code];
            }
        }
    }
    if (total > room) {
        output->overflow = 1;
        output->length = start + room;
    } else if (!output->overflow) {
        output->length = start + total;
    }
}

i64 decode(const u8* input, i64 inputLength, ByteWriter* output, bool stopWhenFull) {
    Strings table;
    startStrings(&table);
    i64 position = 0;
    u64 bits = 0;
    i32 bitCount = 0;
    i32 previous = -1;
    i32 width = 9;
    for (;;) {
        if (stopWhenFull && output->length >= output->capacity) return position;
        while (bitCount < width && position < inputLength) {
            bits = (bits << 8) | input[position++];
            bitCount += 8;
        }
        if (bitCount < width) return position;
        bitCount -= width;
        i32 code = (i32)((bits >> bitCount) & ((1u << width) - 1));
        if (code == kEndCode) return position;
        if (code == kClearCode) {
            table.nextCode = 258;
            width = 9;
            previous = -1;
            continue;
        }
        if (code > table.nextCode) return kLzwCodeTooLarge;
        u8 first;
        if (code < table.nextCode) {
            first = table.first[code];
            emitString(&table, code, 0, 0, output);
        } else {
            if (previous < 0) return kLzwCodeTooLarge;
            first = table.first[previous];
            emitString(&table, previous, 1, first, output);
        }
        if (previous >= 0) {
            i32 next = table.nextCode;
            if (next >= 4096) return kLzwTableFull;
            table.prefix[next] = (u16)previous;
            table.suffix[next] = first;
            table.first[next] = table.first[previous];
            table.length[next] = (u16)(table.length[previous] + 1);
            table.nextCode = next + 1;
            width = codeWidth(next + 1);
        }
        previous = code;
    }
}

}  // namespace

LzwTable* initLzwTable(LzwTable* table) {
    std::memset(table, 0, sizeof(*table));
    for (i32 i = 0; i < 258; i++) {
        table->prefix[i] = kNoPrefix;
        table->suffix[i] = (u8)i;
    }
    table->suffix[kClearCode] = 0;
    table->suffix[kEndCode] = 1;
    table->nextCode = 258;
    return table;
}

i64 decodeTiffLzw(const u8* input, i64 inputLength, ByteWriter* output) {
    return decode(input, inputLength, output, false);
}

i64 decodeTiffLzwToFill(const u8* input, i64 inputLength, ByteWriter* output) {
    return decode(input, inputLength, output, true);
}
