// The LZW decoder of TIFF: MSB-first codes of 9 to 12 bits that widen one code early, with clear
// (256) and end-of-information (257) codes.
#pragma once
#include "Core/FixedString.h"

struct LzwTable {
    i32 nextCode;
    u16 prefix[4096];  // code of the string without its last byte; 0xFFFF for none
    u8 suffix[4096];   // last byte of the string
};

constexpr i64 kLzwCodeTooLarge = -1;
constexpr i64 kLzwTableFull = -2;

LzwTable* initLzwTable(LzwTable* table);

// Decodes into the writer and returns the input bytes consumed, kLzwCodeTooLarge for a code above
// the next free one, or kLzwTableFull. Bytes that do not fit set the writer's overflow flag and are
// dropped; a measuring writer (null data) only counts.
i64 decodeTiffLzw(const u8* input, i64 inputLength, ByteWriter* output);

// Decodes like decodeTiffLzw, but stops once the writer is full: for a reader that needs no more
// than the writer holds, so that a stream running on past it (or lacking its end code) costs no
// more than the room it fills. Returns the input bytes consumed up to there, or an error as above.
i64 decodeTiffLzwToFill(const u8* input, i64 inputLength, ByteWriter* output);
