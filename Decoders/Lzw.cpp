#include "Decoders/Lzw.h"

#include <cstring>

namespace {

constexpr i32 kClearCode = 256;
constexpr i32 kEndCode = 257;
constexpr i32 kFirstFreeCode = 258;
constexpr i32 kTableSize = 4096;
constexpr u16 kNoPrefix = 0xFFFF;

// The single-byte strings, for codes below 256, with room to read sixteen bytes from any of them.
struct Literals {
    u8 bytes[256 + 16];
};
constexpr Literals makeLiterals() {
    Literals l{};
    for (i32 i = 0; i < 256; i++) l.bytes[i] = (u8)i;
    return l;
}
alignas(64) constexpr Literals kLiterals = makeLiterals();

i32 codeWidth(i32 nextCode) {
    if (nextCode < 511) return 9;
    if (nextCode < 1023) return 10;
    if (nextCode < 2047) return 11;
    return 12;
}

// The next free code at which the code width grows, or at which the table is full.
i32 widthLimit(i32 nextCode) {
    if (nextCode < 511) return 511;
    if (nextCode < 1023) return 1023;
    if (nextCode < 2047) return 2047;
    return kTableSize;
}

// The output itself is the dictionary: every string already stands in it, where it was first
// written (an entry is the previous string followed by the first byte of the one after it, which
// comes right behind it); the single bytes stand in kLiterals. An entry is one word: the address of
// its string above 16 bits of length (no string outgrows them: each is at most one byte longer than
// one before it, and the table fills within 3838 codes). Addresses are kept to 48 bits; the fast
// loop, which reads them as they stand, runs only where every address fits 47 bits.
inline u64 makeEntry(u64 address, u32 length) { return address << 16 | length; }
inline u32 entryLength(u64 entry) { return (u16)entry; }
constexpr u64 kAddressMask = ((u64)1 << 48) - 1;
constexpr u64 kFastAddressEnd = (u64)1 << 47;
// What the clear and end codes hold in the table: a negative word, which no string makes there.
constexpr u64 kControlEntry = ~(u64)0;

inline u64 addressOf(const u8* p) { return (u64)(uintptr_t)p; }

struct Decoder {
    const u8* input;
    i64 inputLength;
    u64 bitPosition;  // bits of the input taken
    i32 nextCode;
    i32 width;
    bool hasPrevious;   // a code decoded since the start or the last clear code
    u64 previousEntry;  // the entry the last one makes: its string and the first byte of the next one
    u64 entries[kTableSize];
};

// Where in the output the string of an entry made while writing begins.
inline const u8* stringInOutput(u64 entry, ByteWriter* output) {
    return output->data + (((entry >> 16) - addressOf(output->data)) & kAddressMask);
}

void clearTable(Decoder* d) {
    d->nextCode = kFirstFreeCode;
    d->width = 9;
    d->hasPrevious = false;
}

// Input bytes taken: up to the last bit of the last code read.
i64 consumed(const Decoder* d) { return (i64)((d->bitPosition + 7) / 8); }

// The next code, checked against the input's end; false when the input holds no whole code more.
bool readCode(Decoder* d, i32* code) {
    u64 width = (u64)d->width;
    if (d->bitPosition + width > (u64)d->inputLength * 8) return false;
    u64 byte = d->bitPosition >> 3;
    u32 window = 0;
    for (u64 k = 0; k < 3; k++) window = window << 8 | (byte + k < (u64)d->inputLength ? d->input[byte + k] : 0);
    *code = (i32)((window >> (24 - (d->bitPosition & 7) - width)) & ((1u << width) - 1));
    d->bitPosition += width;
    return true;
}

inline u64 bigEndian64(const u8* p) {
    u64 word;
    memcpy(&word, p, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

inline void copy16(u8* to, const u8* from) {
    u64 low, high;
    memcpy(&low, from, 8);
    memcpy(&high, from + 8, 8);
    memcpy(to, &low, 8);
    memcpy(to + 8, &high, 8);
}

// Copies a string sixteen bytes at a time: up to 15 bytes past it are written too, and written again
// by the strings after it.
inline void copyString(u8* to, const u8* from, u32 length) {
    copy16(to, from);
    if (length > 16) {
        for (u32 i = 16; i < length; i += 16) copy16(to + i, from + i);
    }
}

// The fast loop's state, and the output's end less the 16 bytes a copy may run over.
struct Run {
    u8* to;
    u64 bitPosition;
    i32 nextCode;
    u64 pending;  // the entry the previous code makes
    u64 roomEnd;
    u64* entries;
};

// Codes of one width until the next free code reaches `stop`; false when a code stops the run, with
// nothing done for it: a control code, a code beyond the next free one, or a string that does not
// fit. A string lies wholly before the place it is copied to, but for the last byte of the entry
// being made, which a code equal to the next free one repeats. Four codes come from each eight
// bytes read (57 bits or more past the first one's start).
template <i32 Width>
bool runCodes(Run* run, const u8* input, i32 stop) {
    constexpr u64 kMask = ((u64)1 << Width) - 1;
    u8* to = run->to;
    u64 bitPosition = run->bitPosition;
    i32 nextCode = run->nextCode;
    u64 pending = run->pending;
    const u64 roomEnd = run->roomEnd;
    u64* const entries = run->entries;
    auto code = [&](u32 next) __attribute__((always_inline)) {
        if (next < (u32)nextCode) {
            u64 string = entries[next];
            if ((i64)string < 0) return false;
            u32 length = entryLength(string);
            if (addressOf(to) + length > roomEnd) return false;
            entries[nextCode] = pending;
            copyString(to, (const u8*)(uintptr_t)(string >> 16), length);
            pending = makeEntry(addressOf(to), length + 1);
            to += length;
        } else {
            if (next != (u32)nextCode) return false;
            // The entry being made ends with its own first byte, the one written at `to`, which the
            // copy may have read before writing it.
            u32 length = entryLength(pending);
            if (addressOf(to) + length > roomEnd) return false;
            entries[nextCode] = pending;
            copyString(to, (const u8*)(uintptr_t)(pending >> 16), length);
            to[length - 1] = to[0];
            pending = makeEntry(addressOf(to), length + 1);
            to += length;
        }
        bitPosition += Width;
        nextCode++;
        return true;
    };
    bool whole = true;
    while (stop - nextCode >= 4) {
        u64 word = bigEndian64(input + (bitPosition >> 3)) << (bitPosition & 7);
        if (!code((u32)(word >> (64 - Width))) || !code((u32)((word >> (64 - 2 * Width)) & kMask)) ||
            !code((u32)((word >> (64 - 3 * Width)) & kMask)) || !code((u32)((word >> (64 - 4 * Width)) & kMask))) {
            whole = false;
            break;
        }
    }
    while (whole && nextCode != stop) {
        u64 word = bigEndian64(input + (bitPosition >> 3)) << (bitPosition & 7);
        whole = code((u32)(word >> (64 - Width)));
    }
    run->to = to;
    run->bitPosition = bitPosition;
    run->nextCode = nextCode;
    run->pending = pending;
    return whole;
}

// Decodes codes while each is an ordinary one (see runCodes) and eight input bytes can be read at
// it. Needs a previous code and an output that is written and whole; stops before the first code
// that is not so, leaving it to decodeOne.
void decodeRun(Decoder* d, ByteWriter* output) {
    Run r{output->data + output->length, d->bitPosition, d->nextCode, d->previousEntry,
          addressOf(output->data) + (u64)output->capacity - 16, d->entries};
    // The last bit position at which eight input bytes can be read.
    const i64 lastBit = (d->inputLength - 8) * 8 + 7;
    for (;;) {
        // Codes up to the next width change or full table, and no further than the input allows.
        const i32 width = codeWidth(r.nextCode);
        i64 readable = lastBit - (i64)r.bitPosition;
        if (readable < 0) break;
        i64 stop = r.nextCode + readable / width + 1;
        if (stop > widthLimit(r.nextCode)) stop = widthLimit(r.nextCode);
        if (stop <= r.nextCode) break;
        bool whole;
        switch (width) {
            case 9: whole = runCodes<9>(&r, d->input, (i32)stop); break;
            case 10: whole = runCodes<10>(&r, d->input, (i32)stop); break;
            case 11: whole = runCodes<11>(&r, d->input, (i32)stop); break;
            default: whole = runCodes<12>(&r, d->input, (i32)stop); break;
        }
        if (!whole) break;
    }
    d->previousEntry = r.pending;
    d->nextCode = r.nextCode;
    d->width = codeWidth(r.nextCode);
    d->bitPosition = r.bitPosition;
    output->length = r.to - output->data;
}

// Writes `length` bytes of a string that starts at `from` in the output (or in kLiterals) and, when
// `extra`, the string's first byte after them. The string lies wholly before the output's end, so
// the copy never reads what it writes. Bytes beyond the writer's room are dropped and set its
// overflow flag; once it has overflowed, or when it only measures, nothing is written.
void emitString(const u8* from, i64 length, bool extra, ByteWriter* output) {
    i64 total = length + (extra ? 1 : 0);
    i64 start = output->length;
    i64 room = output->capacity - start;
    if (room < 0) room = 0;
    if (output->data && !output->overflow) {
        u8* to = output->data + start;
        i64 copied = length < room ? length : room;
        for (i64 i = 0; i < copied; i++) to[i] = from[i];
        if (extra && length < room) to[length] = from[0];
    }
    if (total > room) {
        output->overflow = 1;
        output->length = start + room;
    } else if (!output->overflow) {
        output->length = start + total;
    }
}

// One code with every check. Returns false when decoding ends, with what decode returns in *result.
bool decodeOne(Decoder* d, ByteWriter* output, i64* result) {
    i32 code;
    if (!readCode(d, &code)) {
        *result = d->inputLength;
        return false;
    }
    if (code == kEndCode) {
        *result = consumed(d);
        return false;
    }
    if (code == kClearCode) {
        clearTable(d);
        return true;
    }
    if (code > d->nextCode || (code == d->nextCode && !d->hasPrevious)) {
        *result = kLzwCodeTooLarge;
        return false;
    }
    i64 start = output->length;
    bool writing = output->data && !output->overflow;
    u32 length;
    if (code < d->nextCode) {
        u64 string = d->entries[code];
        length = entryLength(string);
        const u8* from = nullptr;
        if (writing) from = code < 256 ? kLiterals.bytes + code : stringInOutput(string, output);
        emitString(from, length, false, output);
    } else {
        length = entryLength(d->previousEntry);
        const u8* from = writing ? stringInOutput(d->previousEntry, output) : nullptr;
        emitString(from, length - 1, true, output);
    }
    if (d->hasPrevious) {
        if (d->nextCode >= kTableSize) {
            *result = kLzwTableFull;
            return false;
        }
        d->entries[d->nextCode] = d->previousEntry;
        d->nextCode++;
        d->width = codeWidth(d->nextCode);
    }
    d->hasPrevious = true;
    d->previousEntry = makeEntry(addressOf(output->data) + (u64)start, length + 1);
    return true;
}

i64 decode(const u8* input, i64 inputLength, ByteWriter* output, bool stopWhenFull) {
    Decoder d;
    d.input = input;
    d.inputLength = inputLength < 0 ? 0 : inputLength;
    d.bitPosition = 0;
    d.previousEntry = 0;
    for (i32 i = 0; i < 256; i++) d.entries[i] = makeEntry(addressOf(kLiterals.bytes + i), 1);
    d.entries[kClearCode] = kControlEntry;
    d.entries[kEndCode] = kControlEntry;
    clearTable(&d);
    // The fast loop reads addresses straight from the entries.
    bool fast = output->data && output->capacity >= 0 && addressOf(kLiterals.bytes) + sizeof(kLiterals) < kFastAddressEnd &&
                addressOf(output->data) < kFastAddressEnd &&
                (u64)output->capacity < kFastAddressEnd - addressOf(output->data);
    for (;;) {
        if (stopWhenFull && output->length >= output->capacity) return consumed(&d);
        if (fast && d.hasPrevious && !output->overflow) {
            decodeRun(&d, output);
            if (stopWhenFull && output->length >= output->capacity) return consumed(&d);
        }
        i64 result;
        if (!decodeOne(&d, output, &result)) return result;
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
    table->nextCode = kFirstFreeCode;
    return table;
}

i64 decodeTiffLzw(const u8* input, i64 inputLength, ByteWriter* output) {
    return decode(input, inputLength, output, false);
}

i64 decodeTiffLzwToFill(const u8* input, i64 inputLength, ByteWriter* output) {
    return decode(input, inputLength, output, true);
}
