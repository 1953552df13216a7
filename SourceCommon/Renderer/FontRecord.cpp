#include "SourceCommon/Renderer/FontRecord.h"

#include "Core/Format.h"

namespace {

bool headerUsable(const FontRecord* font) {
    return font->rangeCount <= kFontRangeCapacity && font->ascent > font->descent && font->unitsPerTexel > 0 &&
           font->onEdgeValue > 0 && font->fallOffTexels > 0 && font->spaceAdvance >= 0;
}

bool glyphInsideAtlas(const GlyphRecord* glyph) {
    return (i32)glyph->atlasX + glyph->width <= kFontAtlasSize && (i32)glyph->atlasY + glyph->height <= kFontAtlasSize;
}

}  // namespace

FixedString checkFontRecord(const u8* bytes, i64 size) {
    if (!bytes) return makeString("The font record is missing");
    if (size != kFontRecordBytes) {
        return formatIntInt("The font record has @ bytes instead of @", size, kFontRecordBytes);
    }
    const FontRecord* font = (const FontRecord*)bytes;
    if (font->rangeCount > kFontRangeCapacity) {
        return formatInt("The font record lists @ code-point ranges, more than 200", font->rangeCount);
    }
    if (!headerUsable(font)) return makeString("The font record's metrics are not usable");
    i64 glyphs = 0;
    i32 previousLast = -1;
    for (i32 r = 0; r < font->rangeCount; ++r) {
        i32 first = font->ranges[r][0], last = font->ranges[r][1];
        if (first > last || first <= previousLast) {
            return formatInt("The font record's code-point range @ is out of order", r);
        }
        previousLast = last;
        glyphs += (i64)last - first + 1;
    }
    if (glyphs > kFontGlyphCapacity) {
        return formatInt("The font record's ranges cover @ glyphs, more than 1,500", glyphs);
    }
    if (!glyphInsideAtlas(&font->missingGlyph)) return makeString("The font record's missing glyph leaves the atlas");
    for (i64 g = 0; g < glyphs; ++g) {
        if (!glyphInsideAtlas(&font->glyphs[g])) {
            return formatInt("The font record's glyph @ leaves the atlas", g);
        }
    }
    return FixedString{};
}

const FontRecord* usableFontRecord(const u8* bytes) {
    if (!bytes) return nullptr;
    const FontRecord* font = (const FontRecord*)bytes;
    return headerUsable(font) ? font : nullptr;
}

const GlyphRecord* findGlyph(const FontRecord* font, i32 codepoint) {
    i32 rangeCount = font->rangeCount <= kFontRangeCapacity ? font->rangeCount : 0;
    i64 index = 0;
    for (i32 r = 0; r < rangeCount; ++r) {
        i32 first = font->ranges[r][0], last = font->ranges[r][1];
        if (codepoint < first) break;
        if (codepoint <= last) {
            index += (i64)codepoint - first;
            return index < kFontGlyphCapacity ? &font->glyphs[index] : &font->missingGlyph;
        }
        index += (i64)last - first + 1;
    }
    return &font->missingGlyph;
}
