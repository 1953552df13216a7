// Baseline JPEG (ITU T.81 sequential Huffman, 8-bit samples, at most 3 components) decoding into a
// caller-supplied pixel buffer. Progressive, arithmetic-coded and lossless frames and restart
// markers are not supported and are reported as errors.
#pragma once
#include "Decoders/JpegTransform.h"
#include "Decoders/Png.h"

// Decodes bytes into pixels with channels bytes per pixel (0: the frame's component count; 1 to 4),
// rows starting on multiples of rowAlignment. A buffer that is too small is reported, and nothing is
// written, but the file is still read to its end so that a later format error replaces the message.
// Returns result.
ImageResult* parseJpeg(ImageResult* result, const u8* bytes, i64 length, u8* pixels, i64 imageBufferCapacity,
                       u32 channels, u8 rowAlignment);

// parseJpeg with a chosen transform path; parseJpeg takes bestJpegTransformPath(). Every path gives
// the same pixels.
ImageResult* parseJpegWithPath(ImageResult* result, const u8* bytes, i64 length, u8* pixels, i64 imageBufferCapacity,
                               u32 channels, u8 rowAlignment, JpegTransformPath path);
