// Mipmap levels made on the processor: a software GL driver builds them by drawing, which first
// compiles a blit program for each texture format and then draws every level, and that cost a start
// with software GL a quarter of a second. Box filtering here gives the same levels.
#pragma once
#include "Core/Types.h"

// The level below a width x height image of bytesPerPixel (1 to 4) bytes per pixel whose rows start
// inputStride bytes apart: each output pixel is the rounded mean of the 2 x 2 input pixels it covers
// (where a size is odd, the last column or row stands in for the missing one). The output's size is
// halved, never below 1, with its rows packed without gaps.
void halveImage(u8* output, const u8* input, i32 width, i32 height, i32 inputStride, i32 bytesPerPixel);

// Bytes of the level below a width x height image, rows packed.
inline i64 halvedImageBytes(i32 width, i32 height, i32 bytesPerPixel) {
    i64 w = width > 1 ? width / 2 : 1;
    i64 h = height > 1 ? height / 2 : 1;
    return w * h * bytesPerPixel;
}

// Bytes of every level below a width x height image, down to 1 x 1, each packed.
i64 mipmapChainBytes(i32 width, i32 height, i32 bytesPerPixel);

// Writes every level below the image (rows inputStride bytes apart) into output, one after another
// from the largest, each made from the one above it; output holds mipmapChainBytes.
void buildMipmapChain(u8* output, const u8* input, i32 width, i32 height, i32 inputStride, i32 bytesPerPixel);
