// PNG reading into caller memory with channel conversion, and PNG writing through a ByteWriter.
#pragma once
#include "Core/FixedString.h"

// Decoded image, shared by the PNG and JPEG decoders; the decoder zero-fills it first.
struct ImageResult {
    u32 width;
    u32 height;
    u32 rowStride;  // width x channels rounded up to the row alignment
    u32 channels;   // 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA
    u8* pixels;     // the caller's buffer, rows top to bottom
    FixedString error;  // empty on success
};

// Decodes a PNG into pixels (imageBufferCapacity bytes) as channels bytes per pixel (0: the image's
// own), rows starting on multiples of rowAlignment. scratch receives the inflated, still filtered
// rows: with pngScratchBytesForWidth(width) bytes or more, rows are unfiltered as they are inflated
// through a window that moves down the scratch; with less, the scratch must hold them all, height x
// (1 + bytes per row). Returns result; on failure the pixels may hold some rows.
// Enough scratch for parsePng to take the rows of an image this wide as they are inflated, whatever
// its format (up to 8 bytes a pixel): two rows to convert, 32 KiB of history and room for the rows.
constexpr i64 pngScratchBytesForWidth(u32 width) { return 4 * (8 * i64(width) + 1) + 32768 + 65536; }

ImageResult* parsePng(ImageResult* result, const u8* bytes, i64 length, u8* pixels, i64 imageBufferCapacity,
                      u32 channels, u8 rowAlignment, u8* scratch, i64 scratchCapacity);

// Writes pixels (colorFormat bytes per pixel, rows on multiples of rowAlignment) as an 8-bit PNG with
// saveAsColorFormat channels. Returns result, empty on success. A writer without data only measures.
FixedString* encodePng(FixedString* result, const u8* pixels, i32 width, u32 height, i32 rowAlignment,
                       u32 colorFormat, i32 saveAsColorFormat, ByteWriter* writer);
