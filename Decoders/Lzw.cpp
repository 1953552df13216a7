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
// Every string also stands in the output already, where it was first written (an entry is the
// previous string followed by the current one's first byte, both just written): while the output
// is whole, a string is copied from there instead of walked along its prefixes.
struct Entry {
    u32 written;  // output offset of the string's bytes (entries from 258 on, outputs below 4 GB)
    u16 length;
    u8 first;
    u8 unused;
};

struct Strings {
    i32 nextCode;
    u16 prefix[4096];
    u8 suffix[4096];
    Entry entries[4096];  // what the fast loop reads, eight bytes each
};

void startStrings(Strings* s) {
    for (i32 i = 0; i < 256; i++) {
        s->prefix[i] = kNoPrefix;
        s->suffix[i] = (u8)i;
        s->entries[i] = {0, 1, (u8)i, 0};
    }
    s->nextCode = 258;
}

// Writes the string of `code` followed by `extra` bytes (0 or 1, given by extraByte). Bytes beyond
// the writer's room are dropped and set its overflow flag.
inline void emitString(const Strings* s, i32 code, i32 extra, u8 extraByte, ByteWriter* output) {
    i64 length = s->entries[code].length;
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

// The string of an entry (code 258 on) copied from its earlier place, then `extra` bytes; the caller
// has checked that everything fits and nothing was dropped so far.
inline void copyString(const Strings* s, i32 code, i32 extra, u8 extraByte, ByteWriter* output) {
    i64 length = s->entries[code].length;
    u8* to = output->data + output->length;
    const u8* from = output->data + s->entries[code].written;
    // Eight bytes at a time when the rounded-up copy stays inside the buffer: the source ends at or
    // before the destination starts, and the bytes past the string are written again later.
    if (output->length + length + 8 <= output->capacity) {
        for (i64 i = 0; i < length; i += 8) {
            u64 chunk;
            memcpy(&chunk, from + i, 8);
            memcpy(to + i, &chunk, 8);
        }
    } else {
        for (i64 i = 0; i < length; i++) to[i] = from[i];
    }
    if (extra) to[length] = extraByte;
    output->length += length + extra;
}

i64 decode(const u8* input, i64 inputLength, ByteWriter* output, bool stopWhenFull) {
    Strings table;
    startStrings(&table);
    i64 previousStart = 0;
    i64 position = 0;
    u64 bits = 0;
    i32 bitCount = 0;
    i32 previous = -1;
    i32 width = 9;
    // Bytes read ahead into the accumulator and not yet used do not count as consumed.
    auto consumed = [&] { return position - bitCount / 8; };
    // The common stretch: the output is whole and has room for the longest string, and the input
    // has eight bytes to refill from; the output's length lives in a local meanwhile. The loop below
    // takes over for the rest with every check.
    if (output->data && !output->overflow && output->capacity < ((i64)1 << 32)) {
        u8* data = output->data;
        i64 length = output->length;
        const i64 limit = output->capacity - 4096 - 16;
        while (length <= limit && position + 8 <= inputLength) {
            if (bitCount < width) {
                u64 word;
                memcpy(&word, input + position, 8);
                word = __builtin_bswap64(word);
                i32 take = (63 - bitCount) / 8;
                bits = (bits << (8 * take)) | (word >> (64 - 8 * take));
                position += take;
                bitCount += 8 * take;
            }
            bitCount -= width;
            i32 code = (i32)((bits >> bitCount) & ((1u << width) - 1));
            if (code == kClearCode) {
                table.nextCode = 258;
                width = 9;
                previous = -1;
                continue;
            }
            if (code == kEndCode || code > table.nextCode || (code == table.nextCode && previous < 0)) {
                bitCount += width;  // the loop below reads this code again and answers it
                break;
            }
            i32 source = code < table.nextCode ? code : previous;
            i32 extra = code < table.nextCode ? 0 : 1;
            Entry string = table.entries[source];
            u8 first = string.first;
            i64 stringLength = string.length;
            if (source < 256) {
                data[length] = (u8)source;
            } else {
                const u8* from = data + string.written;
                u8* to = data + length;
                for (i64 i = 0; i < stringLength; i += 8) {
                    u64 chunk;
                    memcpy(&chunk, from + i, 8);
                    memcpy(to + i, &chunk, 8);
                }
            }
            data[length + stringLength] = first;  // the extra byte, or overwritten by the next string
            if (previous >= 0) {
                i32 next = table.nextCode;
                if (next >= 4096) {
                    output->length = length + stringLength + extra;
                    return kLzwTableFull;
                }
                table.prefix[next] = (u16)previous;
                table.suffix[next] = first;
                const Entry& before = table.entries[previous];
                table.entries[next] = {(u32)previousStart, (u16)(before.length + 1), before.first, 0};
                table.nextCode = next + 1;
                width = codeWidth(next + 1);
            }
            previous = code;
            previousStart = length;
            length += stringLength + extra;
        }
        output->length = length;
    }
    for (;;) {
        if (stopWhenFull && output->length >= output->capacity) return consumed();
        if (bitCount < width) {
            if (position + 8 <= inputLength) {
                // Whole bytes up to 56 bits at once.
                i32 take = (63 - bitCount) / 8;
                for (i32 i = 0; i < take; i++) bits = (bits << 8) | input[position + i];
                position += take;
                bitCount += 8 * take;
            } else {
                while (bitCount < width && position < inputLength) {
                    bits = (bits << 8) | input[position++];
                    bitCount += 8;
                }
            }
        }
        if (bitCount < width) return position;
        bitCount -= width;
        i32 code = (i32)((bits >> bitCount) & ((1u << width) - 1));
        if (code == kEndCode) return consumed();
        if (code == kClearCode) {
            table.nextCode = 258;
            width = 9;
            previous = -1;
            continue;
        }
        if (code > table.nextCode) return kLzwCodeTooLarge;
        u8 first;
        i64 start = output->length;
        i32 source = code < table.nextCode ? code : previous;
        if (code == table.nextCode && previous < 0) return kLzwCodeTooLarge;
        i32 extra = code < table.nextCode ? 0 : 1;
        first = table.entries[source].first;
        bool whole = output->data && !output->overflow && output->capacity < ((i64)1 << 32) &&
                     start + table.entries[source].length + extra <= output->capacity;
        if (whole && source < 256) {
            output->data[start] = (u8)source;
            if (extra) output->data[start + 1] = first;
            output->length = start + 1 + extra;
        } else if (whole) {
            copyString(&table, source, extra, first, output);
        } else {
            emitString(&table, source, extra, first, output);
        }
        if (previous >= 0) {
            i32 next = table.nextCode;
            if (next >= 4096) return kLzwTableFull;
            table.prefix[next] = (u16)previous;
            table.suffix[next] = first;
            const Entry& before = table.entries[previous];
            table.entries[next] = {(u32)previousStart, (u16)(before.length + 1), before.first, 0};
            table.nextCode = next + 1;
            width = codeWidth(next + 1);
        }
        previous = code;
        previousStart = start;
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
