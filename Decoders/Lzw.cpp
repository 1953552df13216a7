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

i32 stringLength(const LzwTable* table, i32 code) {
    i32 length = 1;
    while (table->prefix[code] != kNoPrefix) {
        code = table->prefix[code];
        length++;
    }
    return length;
}

// Writes the string of `code` followed by `extra` bytes (0 or 1, given by extraByte); returns the
// string's first byte. The chain is walked from its last byte, so bytes are placed from the end.
u8 emitString(const LzwTable* table, i32 code, i32 extra, u8 extraByte, ByteWriter* output) {
    i64 length = stringLength(table, code);
    i64 total = length + extra;
    i64 start = output->length;
    i64 room = output->capacity - start;
    if (room < 0) room = 0;
    u8* data = output->data;
    if (extra && data && total - 1 < room) data[start + total - 1] = extraByte;
    i64 position = length - 1;
    u8 first = 0;
    for (;;) {
        first = table->suffix[code];
        if (data && position < room) data[start + position] = first;
        if (table->prefix[code] == kNoPrefix) break;
        code = table->prefix[code];
        position--;
    }
    if (total > room) {
        output->overflow = 1;
        output->length = start + room;
    } else if (!output->overflow) {
        output->length = start + total;
    }
    return first;
}

i64 decode(const u8* input, i64 inputLength, ByteWriter* output, bool stopWhenFull) {
    LzwTable pristine;
    initLzwTable(&pristine);
    LzwTable table;
    std::memcpy(&table, &pristine, sizeof(table));
    i64 position = 0;
    u64 bits = 0;
    i32 bitCount = 0;
    i32 previous = -1;
    u8 previousFirst = 0;
    for (;;) {
        if (stopWhenFull && output->length >= output->capacity) return position;
        i32 width = codeWidth(table.nextCode);
        while (bitCount < width && position < inputLength) {
            bits = (bits << 8) | input[position++];
            bitCount += 8;
        }
        if (bitCount < width) return position;
        i32 code = (i32)((bits >> (bitCount - width)) & ((1u << width) - 1));
        bitCount -= width;
        bits &= (bitCount > 0) ? ((u64)1 << bitCount) - 1 : 0;
        if (code == kEndCode) return position;
        if (code == kClearCode) {
            std::memcpy(&table, &pristine, sizeof(table));
            previous = -1;
            continue;
        }
        if (code > table.nextCode) return kLzwCodeTooLarge;
        u8 first;
        if (code < table.nextCode) {
            first = emitString(&table, code, 0, 0, output);
        } else {
            if (previous < 0) return kLzwCodeTooLarge;
            first = emitString(&table, previous, 1, previousFirst, output);
        }
        if (previous >= 0) {
            if (table.nextCode >= 4096) return kLzwTableFull;
            table.prefix[table.nextCode] = (u16)previous;
            table.suffix[table.nextCode] = first;
            table.nextCode++;
        }
        previous = code;
        previousFirst = first;
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
