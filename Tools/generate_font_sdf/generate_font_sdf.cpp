// Builds the program's signed-distance-field font from a TrueType font: the 2048 x 2048 grey atlas,
// stored as the two files font_sdf.png.part_0 and font_sdf.png.part_1, and the 28,640-byte glyph
// record FONT_SDF_INFO.BIN that the text layout reads in place.
//
// usage: generate_font_sdf FONT.ttf OUTPUT_FOLDER
//
// Units: the record measures text in its own font units, scaled so that a line (ascent - descent)
// is 1,257 units; one atlas texel is 14 of them. A texel holds 140 + 20 x the signed distance in
// texels from the glyph's edge (positive inside), clamped to 0..255, so the edge reads 140 and the
// value falls to 0 seven texels outside. Each glyph box is its ink grown by those 7 texels.
//
// The outlines are rasterised unhinted at 8 x 8 samples per texel, the distances come from exact
// Euclidean distance transforms of the inside and outside sample sets, and the texel takes the mean
// of the four samples round its centre.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_BBOX_H
#include FT_BITMAP_H
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kAtlasSize = 2048;
constexpr int kLineHeight = 1257;
constexpr int kUnitsPerTexel = 14;
constexpr int kOnEdge = 140;
constexpr int kFallOff = 7;
constexpr int kSamples = 8;  // samples per texel along each axis
constexpr int kMaxRanges = 200;
constexpr int kMaxGlyphs = 1500;
constexpr int kRecordSize = 28640;
constexpr int kGlyphRecordSize = 18;
constexpr int kMissingGlyphOffset = 1620;
constexpr int kGlyphsOffset = 1638;
constexpr size_t kFirstPartBytes = 900000;

// Blocks offered to the atlas; code points the font lacks are left out.
struct Block {
    int first, last;
};
const Block kBlocks[] = {
    {0x21, 0x7E},      // ASCII
    {0xA1, 0x17F},     // Latin-1 supplement and Latin Extended-A
    {0x18F, 0x18F},    // schwa
    {0x192, 0x192},    // florin
    {0x1A0, 0x1A1},    // Vietnamese horned letters
    {0x1AF, 0x1B0},
    {0x1CD, 0x1DC},    // Pinyin
    {0x218, 0x21B},    // Romanian comma-below letters
    {0x259, 0x259},
    {0x2C6, 0x2C7},    // spacing accents
    {0x2D8, 0x2DD},
    {0x370, 0x3FF},    // Greek
    {0x400, 0x45F},    // Cyrillic
    {0x490, 0x493},    // Ukrainian and Kazakh, Tatar, Bashkir letters
    {0x496, 0x49B},
    {0x4A2, 0x4A3},
    {0x4AE, 0x4B3},
    {0x4BA, 0x4BB},
    {0x4D8, 0x4D9},
    {0x4E8, 0x4E9},
    {0x1EA0, 0x1EF9},  // Vietnamese
    {0x2010, 0x2027},  // dashes, quotes, bullets, ellipsis
    {0x2030, 0x203A},  // per mille, primes, angle quotes
    {0x2044, 0x2044},  // fraction slash
    {0x2070, 0x208E},  // superscripts and subscripts
    {0x20A0, 0x20BF},  // currency signs
    {0x2103, 0x2103},  // degree Celsius
    {0x2109, 0x2109},  // degree Fahrenheit
    {0x2116, 0x2116},  // numero
    {0x2122, 0x2122},  // trade mark
    {0x2126, 0x2126},  // ohm
    {0x2190, 0x2199},  // arrows
    {0x2212, 0x221E},  // minus, roots, infinity
    {0x2248, 0x2248},  // almost equal
    {0x2260, 0x2265},  // comparisons
    {0x25A0, 0x25A1},  // squares
    {0x25B2, 0x25BC},  // triangles
    {0x25CB, 0x25CF},  // circles
};

struct Glyph {
    int codepoint = -1;  // -1 for the missing glyph
    int width = 0, height = 0;  // texels
    int xOffset = 0, yOffset = 0;
    int advance = 0, left = 0, top = 0, right = 0, bottom = 0;  // record font units
    int atlasX = 0, atlasY = 0;
    std::vector<uint8_t> texels;  // width x height, top row first
};

void die(const char* message) {
    std::fprintf(stderr, "generate_font_sdf: %s\n", message);
    std::exit(1);
}

// One-dimensional squared distance transform (lower envelope of parabolas) over f[0..n).
void distanceTransform1d(const double* f, int n, double* d, int* v, double* z) {
    int k = 0;
    v[0] = 0;
    z[0] = -1e30;
    z[1] = 1e30;
    for (int q = 1; q < n; ++q) {
        double s;
        for (;;) {
            int p = v[k];
            s = ((f[q] + (double)q * q) - (f[p] + (double)p * p)) / (2.0 * (q - p));
            if (s <= z[k] && k > 0) {
                --k;
                continue;
            }
            break;
        }
        if (s <= z[k]) {  // k == 0 and the new parabola hides the first one entirely
            v[0] = q;
            z[0] = -1e30;
            z[1] = 1e30;
            continue;
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = 1e30;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q) ++k;
        double dq = q - v[k];
        d[q] = dq * dq + f[v[k]];
    }
}

// Squared distance of every sample to the nearest sample with feature[i] set.
std::vector<double> squaredDistances(const std::vector<uint8_t>& feature, int width, int height) {
    const double inf = 1e20;
    std::vector<double> grid(feature.size());
    for (size_t i = 0; i < feature.size(); ++i) grid[i] = feature[i] ? 0.0 : inf;
    int longest = std::max(width, height);
    std::vector<double> f(longest), d(longest), z(longest + 1);
    std::vector<int> v(longest);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) f[y] = grid[(size_t)y * width + x];
        distanceTransform1d(f.data(), height, d.data(), v.data(), z.data());
        for (int y = 0; y < height; ++y) grid[(size_t)y * width + x] = d[y];
    }
    for (int y = 0; y < height; ++y) {
        double* row = &grid[(size_t)y * width];
        distanceTransform1d(row, width, d.data(), v.data(), z.data());
        std::memcpy(row, d.data(), sizeof(double) * width);
    }
    return grid;
}

int roundToInt(double value) { return (int)std::lround(value); }

Glyph renderGlyph(FT_Library library, FT_Face face, FT_UInt glyphIndex, double scale) {
    if (FT_Load_Glyph(face, glyphIndex, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP))
        die("a glyph failed to load");
    FT_GlyphSlot slot = face->glyph;
    Glyph glyph;
    glyph.advance = roundToInt(slot->metrics.horiAdvance * scale);
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE || slot->outline.n_contours <= 0) return glyph;

    FT_Outline* outline = &slot->outline;
    FT_BBox box;
    FT_Outline_Get_BBox(outline, &box);
    glyph.left = std::max(0, roundToInt(box.xMin * scale));
    glyph.right = roundToInt(box.xMax * scale);
    glyph.top = roundToInt(box.yMax * scale);
    glyph.bottom = roundToInt(box.yMin * scale);

    // Box in texels relative to the pen, grown by the fall-off on every side.
    double texelsPerUnit = scale / kUnitsPerTexel;
    int tx0 = (int)std::floor(box.xMin * texelsPerUnit) - kFallOff;
    int tx1 = (int)std::ceil(box.xMax * texelsPerUnit) + kFallOff;
    int ty0 = (int)std::floor(box.yMin * texelsPerUnit) - kFallOff;
    int ty1 = (int)std::ceil(box.yMax * texelsPerUnit) + kFallOff;
    glyph.width = tx1 - tx0;
    glyph.height = ty1 - ty0;
    glyph.xOffset = -tx0;
    glyph.yOffset = ty1;
    if (glyph.width > 255 || glyph.height > 255) die("a glyph box is wider or taller than 255 texels");
    if (glyph.xOffset < -128 || glyph.xOffset > 127 || glyph.yOffset < -128 || glyph.yOffset > 127)
        die("a glyph offset does not fit a signed byte");

    // Outline to sample space (26.6), origin at the box's bottom-left.
    double samplesPerUnit = texelsPerUnit * kSamples;
    FT_Matrix matrix;
    matrix.xx = (FT_Fixed)std::lround(samplesPerUnit * 64.0 * 65536.0);
    matrix.yy = matrix.xx;
    matrix.xy = 0;
    matrix.yx = 0;
    FT_Outline_Transform(outline, &matrix);
    FT_Outline_Translate(outline, -(FT_Pos)tx0 * kSamples * 64, -(FT_Pos)ty0 * kSamples * 64);

    int width = glyph.width * kSamples;
    int height = glyph.height * kSamples;
    std::vector<uint8_t> coverage((size_t)width * height, 0);
    FT_Bitmap bitmap;
    FT_Bitmap_Init(&bitmap);
    bitmap.rows = (unsigned)height;
    bitmap.width = (unsigned)width;
    bitmap.pitch = width;  // top row first
    bitmap.buffer = coverage.data();
    bitmap.num_grays = 256;
    bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
    if (FT_Outline_Get_Bitmap(library, outline, &bitmap)) die("a glyph failed to rasterise");

    std::vector<uint8_t> inside(coverage.size()), outside(coverage.size());
    for (size_t i = 0; i < coverage.size(); ++i) {
        inside[i] = coverage[i] >= 128;
        outside[i] = !inside[i];
    }
    std::vector<double> toInside = squaredDistances(inside, width, height);
    std::vector<double> toOutside = squaredDistances(outside, width, height);
    auto signedSamples = [&](int x, int y) {
        size_t i = (size_t)y * width + x;
        return inside[i] ? std::sqrt(toOutside[i]) - 0.5 : -(std::sqrt(toInside[i]) - 0.5);
    };
    glyph.texels.resize((size_t)glyph.width * glyph.height);
    int half = kSamples / 2;
    for (int ty = 0; ty < glyph.height; ++ty) {
        for (int tx = 0; tx < glyph.width; ++tx) {
            int sx = tx * kSamples + half, sy = ty * kSamples + half;
            double samples = (signedSamples(sx - 1, sy - 1) + signedSamples(sx, sy - 1) +
                              signedSamples(sx - 1, sy) + signedSamples(sx, sy)) / 4.0;
            double texels = samples / kSamples;
            int value = roundToInt(kOnEdge + texels * kOnEdge / kFallOff);
            glyph.texels[(size_t)ty * glyph.width + tx] = (uint8_t)std::clamp(value, 0, 255);
        }
    }
    return glyph;
}

// Shelf packing, tallest first, one texel apart.
bool packGlyphs(std::vector<Glyph>& glyphs) {
    std::vector<size_t> order(glyphs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return glyphs[a].height > glyphs[b].height;
    });
    int x = 0, y = 0, shelfHeight = 0;
    for (size_t i : order) {
        Glyph& g = glyphs[i];
        if (g.width == 0) continue;
        if (x + g.width > kAtlasSize) {
            x = 0;
            y += shelfHeight + 1;
            shelfHeight = 0;
        }
        if (y + g.height > kAtlasSize) {
            std::printf("atlas full at glyph of height %d\n", g.height);
            return false;
        }
        g.atlasX = x;
        g.atlasY = y;
        x += g.width + 1;
        shelfHeight = std::max(shelfHeight, g.height);
    }
    std::printf("atlas rows used: %d of %d\n", y + shelfHeight, kAtlasSize);
    return true;
}

void putU16(std::vector<uint8_t>& out, size_t at, int value) {
    out[at] = (uint8_t)(value & 0xFF);
    out[at + 1] = (uint8_t)((value >> 8) & 0xFF);
}

void putGlyph(std::vector<uint8_t>& out, size_t at, const Glyph& g) {
    putU16(out, at + 0, g.atlasX);
    putU16(out, at + 2, g.atlasY);
    out[at + 4] = (uint8_t)g.width;
    out[at + 5] = (uint8_t)g.height;
    out[at + 6] = (uint8_t)(int8_t)g.xOffset;
    out[at + 7] = (uint8_t)(int8_t)g.yOffset;
    putU16(out, at + 8, g.advance);
    putU16(out, at + 10, g.left);
    putU16(out, at + 12, g.top);
    putU16(out, at + 14, g.right);
    putU16(out, at + 16, g.bottom);
}

void appendChunk(std::vector<uint8_t>& png, const char* type, const uint8_t* data, size_t length) {
    uint8_t header[8] = {(uint8_t)(length >> 24), (uint8_t)(length >> 16), (uint8_t)(length >> 8),
                         (uint8_t)length, (uint8_t)type[0], (uint8_t)type[1], (uint8_t)type[2],
                         (uint8_t)type[3]};
    png.insert(png.end(), header, header + 8);
    if (length > 0) png.insert(png.end(), data, data + length);
    uLong crc = crc32(0, header + 4, 4);
    if (length > 0) crc = crc32(crc, data, (uInt)length);
    uint8_t tail[4] = {(uint8_t)(crc >> 24), (uint8_t)(crc >> 16), (uint8_t)(crc >> 8), (uint8_t)crc};
    png.insert(png.end(), tail, tail + 4);
}

int paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// An 8-bit grey PNG, each row with the filter whose output has the smallest sum of magnitudes.
std::vector<uint8_t> encodePng(const std::vector<uint8_t>& pixels, int width, int height) {
    std::vector<uint8_t> raw;
    raw.reserve((size_t)(width + 1) * height);
    std::vector<uint8_t> zero(width, 0), candidate(width), best(width);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = &pixels[(size_t)y * width];
        const uint8_t* up = y > 0 ? &pixels[(size_t)(y - 1) * width] : zero.data();
        long bestCost = -1;
        int bestFilter = 0;
        for (int filter = 0; filter < 5; ++filter) {
            long cost = 0;
            for (int x = 0; x < width; ++x) {
                int a = x > 0 ? row[x - 1] : 0, b = up[x], c = x > 0 ? up[x - 1] : 0;
                int predictor = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b
                              : filter == 3 ? (a + b) / 2 : paeth(a, b, c);
                candidate[x] = (uint8_t)(row[x] - predictor);
                cost += std::abs((int)(int8_t)candidate[x]);
            }
            if (bestCost < 0 || cost < bestCost) {
                bestCost = cost;
                bestFilter = filter;
                best = candidate;
            }
        }
        raw.push_back((uint8_t)bestFilter);
        raw.insert(raw.end(), best.begin(), best.end());
    }
    uLongf compressedSize = compressBound((uLong)raw.size());
    std::vector<uint8_t> compressed(compressedSize);
    if (compress2(compressed.data(), &compressedSize, raw.data(), (uLong)raw.size(), 9) != Z_OK)
        die("compression failed");
    compressed.resize(compressedSize);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    uint8_t ihdr[13] = {(uint8_t)(width >> 24), (uint8_t)(width >> 16), (uint8_t)(width >> 8),
                        (uint8_t)width, (uint8_t)(height >> 24), (uint8_t)(height >> 16),
                        (uint8_t)(height >> 8), (uint8_t)height, 8, 0, 0, 0, 0};
    appendChunk(png, "IHDR", ihdr, sizeof ihdr);
    appendChunk(png, "IDAT", compressed.data(), compressed.size());
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

void writeFile(const std::string& path, const uint8_t* data, size_t length) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, length, file) != length || std::fclose(file) != 0) {
        std::fprintf(stderr, "generate_font_sdf: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) die("usage: generate_font_sdf FONT.ttf OUTPUT_FOLDER");
    std::string folder = argv[2];
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library)) die("FreeType failed to start");
    if (FT_New_Face(library, argv[1], 0, &face)) die("the font file could not be opened");
    if (!FT_IS_SCALABLE(face)) die("the font has no outlines");

    int fontLine = face->ascender - face->descender;
    double scale = (double)kLineHeight / fontLine;  // record units per design unit
    int ascent = roundToInt(face->ascender * scale);
    int descent = ascent - kLineHeight;
    FT_UInt spaceIndex = FT_Get_Char_Index(face, ' ');
    if (!spaceIndex || FT_Load_Glyph(face, spaceIndex, FT_LOAD_NO_SCALE)) die("the font has no space");
    int spaceAdvance = roundToInt(face->glyph->metrics.horiAdvance * scale);

    // Ranges of the code points that the font covers.
    std::vector<std::pair<int, int>> ranges;
    std::vector<Glyph> glyphs;
    for (const Block& block : kBlocks) {
        for (int c = block.first; c <= block.last; ++c) {
            FT_UInt index = FT_Get_Char_Index(face, (FT_ULong)c);
            if (!index) continue;
            if (!ranges.empty() && ranges.back().second == c - 1) ranges.back().second = c;
            else ranges.push_back({c, c});
            Glyph glyph = renderGlyph(library, face, index, scale);
            glyph.codepoint = c;
            glyphs.push_back(std::move(glyph));
        }
    }
    if ((int)ranges.size() > kMaxRanges) die("more than 200 code-point ranges");
    if ((int)glyphs.size() > kMaxGlyphs) die("more than 1,500 glyphs");
    glyphs.push_back(renderGlyph(library, face, 0, scale));  // the missing glyph, last

    long area = 0;
    for (const Glyph& g : glyphs) area += (long)(g.width + 1) * (g.height + 1);
    std::printf("glyph area %ld of %d texels\n", area, kAtlasSize * kAtlasSize);
    if (!packGlyphs(glyphs)) die("the glyphs do not fit the atlas");
    std::vector<uint8_t> atlas((size_t)kAtlasSize * kAtlasSize, 0);
    for (const Glyph& g : glyphs)
        for (int y = 0; y < g.height; ++y)
            std::memcpy(&atlas[(size_t)(g.atlasY + y) * kAtlasSize + g.atlasX],
                        &g.texels[(size_t)y * g.width], g.width);

    std::vector<uint8_t> record(kRecordSize, 0);
    putU16(record, 0, ascent);
    putU16(record, 2, descent);
    putU16(record, 6, spaceAdvance);
    putU16(record, 8, kUnitsPerTexel);
    record[10] = kOnEdge;
    record[11] = kFallOff;
    float valuePerTexel = (float)kOnEdge / kFallOff;
    std::memcpy(&record[12], &valuePerTexel, 4);
    putU16(record, 16, (int)ranges.size());
    putU16(record, 18, (int)glyphs.size() - 1);
    for (size_t i = 0; i < ranges.size(); ++i) {
        int32_t pair[2] = {ranges[i].first, ranges[i].second};
        std::memcpy(&record[20 + i * 8], pair, 8);
    }
    putGlyph(record, kMissingGlyphOffset, glyphs.back());
    for (size_t i = 0; i + 1 < glyphs.size(); ++i)
        putGlyph(record, kGlyphsOffset + i * kGlyphRecordSize, glyphs[i]);

    std::vector<uint8_t> png = encodePng(atlas, kAtlasSize, kAtlasSize);
    // Two parts always: the first holds at most 900,000 bytes and neither is empty.
    if (png.size() > 2 * kFirstPartBytes) die("the atlas PNG needs more than two parts");
    size_t firstPart = png.size() > kFirstPartBytes ? kFirstPartBytes : png.size() / 2;
    writeFile(folder + "/font_sdf.png.part_0", png.data(), firstPart);
    writeFile(folder + "/font_sdf.png.part_1", png.data() + firstPart, png.size() - firstPart);
    writeFile(folder + "/FONT_SDF_INFO.BIN", record.data(), record.size());
    std::printf("ascent %d, descent %d, space %d, %zu ranges, %zu glyphs, PNG %zu bytes\n", ascent,
                descent, spaceAdvance, ranges.size(), glyphs.size() - 1, png.size());
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return 0;
}
