// PNG writing: 8-bit samples, every row Sub-filtered, the IDAT data compressed as one DEFLATE block
// per group of rows that fits in 64 KiB, so the encoder's memory stays a fixed frame.
#include <cstring>

#include "Core/Format.h"
#include "Decoders/Checksum.h"
#include "Decoders/Deflate.h"
#include "Decoders/Png.h"

namespace {

constexpr i64 kRowBufferSize = 65536;

// Appends the CRC-32 of everything written since typeStart (the chunk type and data); a measuring
// or overflowed writer only counts the 4 bytes.
void appendChunkCrc(ByteWriter* writer, i64 typeStart) {
    u32 crc = 0;
    if (writer->data && !writer->overflow) crc = crc32(writer->data + typeStart, writer->length - typeStart);
    appendU32Be(crc, writer);
}

}  // namespace

FixedString* encodePng(FixedString* result, const u8* pixels, i32 width, u32 height, i32 rowAlignment,
                       u32 colorFormat, i32 saveAsColorFormat, ByteWriter* writer) {
    *result = FixedString{};
    u8 colorType;
    switch (saveAsColorFormat) {
    case 4: colorType = 6; break;
    case 3: colorType = 2; break;
    case 2: colorType = 4; break;
    case 1: colorType = 0; break;
    default: *result = formatInt("Unsupported saveAsColorFormat @", saveAsColorFormat); return result;
    }
    const i64 outChannels = saveAsColorFormat;
    if (width <= 0 || height == 0) {
        *result = formatIntInt("Width or height is 0 (@x@)", width < 0 ? 0 : width, height);
        return result;
    }
    const i64 rowsPerBlock = kRowBufferSize / (i64(width) * outChannels + 1);
    if (rowsPerBlock == 0) {
        *result = formatIntInt("Png is too wide. Can't be more than @ (was @).", 65535 / outChannels, width);
        return result;
    }
    if (colorFormat < 1 || colorFormat > 4) {
        *result = formatInt("Unsupported colorFormat @", colorFormat);
        return result;
    }
    const i64 alignment = rowAlignment > 0 ? rowAlignment : 1;
    const i64 inputStride = (i64(width) * colorFormat + alignment - 1) / alignment * alignment;

    static constexpr u8 kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    appendBytes(kSignature, 8, writer);
    appendU32Be(13, writer);
    i64 typeStart = writer->length;
    appendBytes("IHDR", 4, writer);
    appendU32Be(u32(width), writer);
    appendU32Be(height, writer);
    const u8 ihdrTail[5] = {8, colorType, 0, 0, 0};
    appendBytes(ihdrTail, 5, writer);
    appendChunkCrc(writer, typeStart);

    LengthFieldMark idatLength = reserveLengthField(writer, LengthFieldU32Be);
    typeStart = writer->length;
    appendBytes("IDAT", 4, writer);
    appendU8(0x78, writer);
    appendU8(0x9C, writer);
    BitWriter bits = makeBitWriter(writer, 0);
    u32 adler = kAdler32Initial;
    u8 buffer[kRowBufferSize];
    for (i64 firstRow = 0; firstRow < i64(height); firstRow += rowsPerBlock) {
        i64 rows = i64(height) - firstRow < rowsPerBlock ? i64(height) - firstRow : rowsPerBlock;
        u8* out = buffer;
        for (i64 r = firstRow; r < firstRow + rows; r++) {
            const u8* in = pixels + r * inputStride;
            *out++ = 1;  // Sub
            u8 previous[4] = {0, 0, 0, 0};
            for (i32 x = 0; x < width; x++, in += colorFormat) {
                u8 red;
                u8 green;
                u8 blue;
                u8 alpha = 255;
                if (colorFormat >= 3) {
                    red = in[0];
                    green = in[1];
                    blue = in[2];
                    if (colorFormat == 4) alpha = in[3];
                } else {
                    red = green = blue = in[0];
                    if (colorFormat == 2) alpha = in[1];
                }
                u8 pixel[4];
                if (outChannels >= 3) {
                    pixel[0] = red;
                    pixel[1] = green;
                    pixel[2] = blue;
                    pixel[3] = alpha;
                } else {
                    pixel[0] = u8((u32(red) + green + blue) / 3);
                    pixel[1] = alpha;
                }
                for (i64 c = 0; c < outChannels; c++) {
                    *out++ = u8(pixel[c] - previous[c]);
                    previous[c] = pixel[c];
                }
            }
        }
        const i64 size = out - buffer;
        deflateCompress(buffer, size, firstRow + rows == i64(height) ? 1 : 0, &bits);
        adler = updateAdler32(adler, buffer, size);
    }
    appendU32Be(adler, writer);
    patchLengthField(&idatLength, u64(writer->length - typeStart - 4));
    appendChunkCrc(writer, typeStart);

    appendU32Be(0, writer);
    typeStart = writer->length;
    appendBytes("IEND", 4, writer);
    appendChunkCrc(writer, typeStart);
    return result;
}
