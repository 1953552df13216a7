// DEFLATE (RFC 1951) decoding: a resumable decoder whose whole progress lives in a caller-held
// InflateState, and the canonical-Huffman decoding-tree builder it shares with the JPEG decoder.
#pragma once
#include "Core/Types.h"

// inflate results.
enum InflateResult : i32 {
    InflateNeedsInput = 0,   // every input byte is used and the stream is not finished
    InflateOutputFull = 1,   // the next literal, match or stored byte would pass outputCapacity (none
                             // of it is taken: after making room, call again to go on)
    InflateDone = 2,         // the final block has ended; later calls return 2 at once
    InflateMalformed = 3,    // the data is not a valid stream
    InflatePaused = 4,       // outputPosition has reached outputPause; call again to go on
};

// Fast-path tables: a main table over the next 11 (literal/length) or 8 (distance) bits, and the
// sub-tables of longer codes behind it. Every complete code fits these capacities.
constexpr i32 kInflateLiteralTableBits = 11;
constexpr i32 kInflateDistanceTableBits = 8;
constexpr i32 kInflateLiteralTableCapacity = 2400;
constexpr i32 kInflateDistanceTableCapacity = 450;

// One per stream. Zero-fill it, set output and outputCapacity, and pass it unchanged to every call.
struct InflateState {
    u8* output;           // null: count only
    i64 outputPosition;   // bytes produced so far; the whole output is the window
    i64 outputCapacity;
    // 0: run on. Otherwise inflate returns InflatePaused soon after outputPosition reaches it (at a
    // symbol boundary, possibly some bytes past it), so that a caller can use and move the output.
    i64 outputPause;
    i32 portableCode;     // 1: keep to the SSE2 code even where the processor has BMI2 (for tests)
    u64 bitBuffer;        // next bit lowest
    i32 bitCount;
    i32 inBlock;
    i32 finalBlock;
    u8 blockType;         // 0 stored, 1 fixed, 2 dynamic
    i64 storedBytesRead;  // counting the 4 header bytes
    u8 storedHeader[4];
    u16 storedLength;
    // Dynamic header progress: 0 HLIT, 1 HDIST, 2 HCLEN, 3..2+HCLEN code-length-code lengths,
    // 24 the code lengths, -1 tables built and symbols being decoded.
    i32 headerStep;
    i32 literalCodeCount;
    i32 distanceCodeCount;
    i32 codeLengthCodeCount;
    u8 codeLengthCodeLengths[19];
    i32 literalLengthsRead;
    i32 distanceLengthsRead;
    u8 previousLength;
    u8 literalLengths[288];
    u8 distanceLengths[32];
    i32 haveLength;       // matchLength is decoded; its distance is next
    i32 matchLength;
    u32 pendingEntry;     // a length, distance or repeat table entry whose extra bits are still to come
    // Lookup tables built for each block: whole symbols, with the base and extra-bit count of lengths
    // and distances, decoded at once. A dynamic header's code-length code borrows distanceTable.
    i32 hasDistanceCodes;
    u32 literalTable[kInflateLiteralTableCapacity];
    u32 distanceTable[kInflateDistanceTableCapacity];
};

// Decodes from input[*inputPosition] up to inputLength, advancing *inputPosition past every byte
// taken. Returns an InflateResult. Back-references reach at most outputPosition bytes back, so a
// caller may move the last bytes of the output to its start and lower outputPosition to match
// between calls, provided it keeps the 32768 bytes a valid stream may refer to.
i32 inflate(const u8* input, i64* inputPosition, i64 inputLength, InflateState* state);

// Builds the canonical decoding tree for symbols 0..count-1 (length 0 = unused) into nodes; levels
// that do not fit in capacity are left unwritten. Returns the entries the whole tree needs, or 0
// when no symbol is in use.
i32 buildHuffmanDecodeTree(const u8* lengths, i32 count, i32* nodes, i32 capacity);
