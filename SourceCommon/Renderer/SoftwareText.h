// Glyph quads painted on the CPU: the sdf program's blending rule applied to an RGBA8 image, for
// images made without the GPU (marker icons with labels written into exported files). The text is
// laid out with the ordinary layout into a private sdf quad list, then painted here.
#pragma once
#include "Core/GeometryTypes.h"
#include "Decoders/Png.h"
#include "SourceCommon/Renderer/FontRecord.h"
#include "SourceCommon/Renderer/DrawBatches.h"

struct ImageSample {
    f32 red, green, blue, alpha;  // 0..255
};

// What the painter reads: the half sizes the layout was made with, the decoded atlas and the font.
struct SoftwareTextSource {
    f32 halfWindowWidth;
    f32 halfWindowHeight;
    const ImageResult* atlas;
    const FontRecord* font;
};

// A bilinear read of an 8-bit image at (x, y) in texels from the image's bottom-left (rows stored
// top first); the 2 x 2 neighbourhood is held inside the image. One channel c gives (c, c, c, 255),
// two (c, c, c, a), three (r, g, b, 255), four as stored.
ImageSample resampleImageRows(f32 x, f32 y, const u8* pixels, i32 columnCount, i32 rowCount,
                              i32 rowStride, i32 channels);

// Paints every quad of the list, in order, into RGBA8 pixels (rows stored top first, pixel (x, y)
// counted from the bottom-left). Nothing is written outside the image.
void rasterizeSdfText(const SdfBatch* quads, u8* pixels, i32 width, i32 height, i32 rowStride,
                      const SoftwareTextSource& source);
