// DEFLATE (RFC 1951) compression through a BitWriter, and the length-limited Huffman code builder
// behind it.
#pragma once
#include "Core/FixedString.h"

// Appends data as complete DEFLATE blocks (each dynamic Huffman, fixed Huffman or stored, whichever
// is shortest), BFINAL set on the last one when isFinal. Matches reach back only within this call's
// data. Nothing is written for empty data unless isFinal (then one empty final block). Uses about
// 260 KB of stack. A full writer shows in its overflow flag; the output then stops short.
void deflateCompress(const u8* data, i64 length, u32 isFinal, BitWriter* out);

constexpr i32 kHuffmanMaxSymbols = 320;

// Code lengths (0 for unused symbols, at most maxBits) and canonical codes (most significant bit
// first) for count symbols (at most kHuffmanMaxSymbols; count must not exceed 2^maxBits). A more
// frequent symbol never gets a longer code; a single used symbol gets the one-bit code 0.
void buildHuffmanCodeLengths(const f32* frequencies, i32 count, u8* lengths, u64* codes, i32 maxBits);
