#include "SourceCommon/Renderer/Mipmaps.h"

void halveImage(u8* output, const u8* input, i32 width, i32 height, i32 inputStride, i32 bytesPerPixel) {
    i32 outWidth = width > 1 ? width / 2 : 1;
    i32 outHeight = height > 1 ? height / 2 : 1;
    i64 outStride = (i64)outWidth * bytesPerPixel;
    for (i32 y = 0; y < outHeight; y++) {
        const u8* top = input + (i64)(2 * y < height ? 2 * y : height - 1) * inputStride;
        const u8* bottom = input + (i64)(2 * y + 1 < height ? 2 * y + 1 : height - 1) * inputStride;
        u8* row = output + y * outStride;
        for (i32 x = 0; x < outWidth; x++) {
            i64 left = (i64)(2 * x < width ? 2 * x : width - 1) * bytesPerPixel;
            i64 right = (i64)(2 * x + 1 < width ? 2 * x + 1 : width - 1) * bytesPerPixel;
            for (i32 c = 0; c < bytesPerPixel; c++) {
                u32 sum = (u32)top[left + c] + top[right + c] + bottom[left + c] + bottom[right + c];
                row[(i64)x * bytesPerPixel + c] = (u8)((sum + 2) >> 2);
            }
        }
    }
}

i64 mipmapChainBytes(i32 width, i32 height, i32 bytesPerPixel) {
    i64 total = 0;
    while (width > 1 || height > 1) {
        total += halvedImageBytes(width, height, bytesPerPixel);
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    return total;
}

void buildMipmapChain(u8* output, const u8* input, i32 width, i32 height, i32 inputStride, i32 bytesPerPixel) {
    while (width > 1 || height > 1) {
        halveImage(output, input, width, height, inputStride, bytesPerPixel);
        input = output;
        output += halvedImageBytes(width, height, bytesPerPixel);
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
        inputStride = width * bytesPerPixel;
    }
}
