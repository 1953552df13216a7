// The signed-distance-field font's glyph record (FONT_SDF_INFO.BIN): one little-endian record of
// 28,640 bytes, used in place. Text is measured in the record's font units; one atlas texel is
// unitsPerTexel of them, and a texel value v lies (v - onEdgeValue) x fallOffTexels / onEdgeValue
// texels inside the glyph's edge.
#pragma once
#include "Core/FixedString.h"

constexpr i64 kFontRecordBytes = 28640;
constexpr i32 kFontRangeCapacity = 200;
constexpr i32 kFontGlyphCapacity = 1500;
constexpr i32 kFontAtlasSize = 2048;

struct GlyphRecord {
    u16 atlasX;      // the glyph box's top-left corner in the atlas, texels from the top-left
    u16 atlasY;
    u8 width;        // box size, texels
    u8 height;
    i8 xOffset;      // the box starts this many texels left of the pen
    i8 yOffset;      // the box's top is this many texels above the baseline
    i16 advance;     // font units
    u16 inkLeft;     // ink edges, font units from the pen and the baseline
    i16 inkTop;
    i16 inkRight;
    i16 inkBottom;
};
static_assert(sizeof(GlyphRecord) == 18);

struct FontRecord {
    i16 ascent;
    i16 descent;        // negative
    i16 unused0;
    i16 spaceAdvance;   // also the unit of tabs and of the caret's width
    u16 unitsPerTexel;
    u8 onEdgeValue;
    u8 fallOffTexels;
    f32 unused1;
    u16 rangeCount;
    u16 glyphCount;
    i32 ranges[kFontRangeCapacity][2];  // first and last code point, ascending
    GlyphRecord missingGlyph;           // drawn for any code point in no range
    GlyphRecord glyphs[kFontGlyphCapacity];  // in range order
    u8 padding[2];
};
static_assert(sizeof(FontRecord) == kFontRecordBytes);

// Checks a loaded record before the text code may use it: its size, the range count (at most 200),
// ranges ascending and covering at most 1,500 glyphs, sane metrics, every glyph box inside the
// atlas. An empty text when the record is usable.
FixedString checkFontRecord(const u8* bytes, i64 size);

// The record behind a font pointer when its header is usable (range count at most 200, a positive
// line height and texel size), else null. The drawers take their font through this.
const FontRecord* usableFontRecord(const u8* bytes);

// The glyph of a code point: a walk over the ranges; a code point in no range (or past the 1,500
// glyphs) gets the missing glyph.
const GlyphRecord* findGlyph(const FontRecord* font, i32 codepoint);

inline i32 fontLineHeight(const FontRecord* font) { return (i32)font->ascent - (i32)font->descent; }
