// DEFLATE (RFC 1951) compression: one dynamic-Huffman block per call through a BitWriter, and the
// length-limited Huffman code builder behind it.
#pragma once
#include "Core/FixedString.h"

// Appends one complete DEFLATE block holding all of data, with BFINAL = isFinal. A full writer shows
// in its overflow flag.
void deflateCompress(const u8* data, i64 length, u32 isFinal, BitWriter* out);

// Code lengths (0 for unused symbols, at most maxBits) and canonical codes (most significant bit
// first) for count symbols. codes serves as working memory while it runs.
void buildHuffmanCodeLengths(const f32* frequencies, i32 count, u8* lengths, u64* codes, i32 maxBits);
