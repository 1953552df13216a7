#include "TextTestSupport.h"

#include <cstdio>

const FontRecord* committedFontRecord() {
    static FontRecord record;
    static int state = 0;  // 0 not read, 1 read, 2 failed
    if (state == 0) {
        state = 2;
        FILE* file = std::fopen(ORVIK_SOURCE_DIR "/Assets/FONT_SDF_INFO.BIN", "rb");
        if (file) {
            if (std::fread(&record, 1, sizeof record, file) == sizeof record) state = 1;
            std::fclose(file);
        }
    }
    return state == 1 ? &record : nullptr;
}

const GlyphRecord* committedGlyph(i32 codepoint) { return findGlyph(committedFontRecord(), codepoint); }

Rect quadBox(const SdfBatch* quads, i32 q, f32 halfWidth, f32 halfHeight) {
    const SdfVertex* bottomLeft = &quads->vertices[4 * q + 1];
    const SdfVertex* topRight = &quads->vertices[4 * q + 3];
    return {(bottomLeft->x + 1) * halfWidth, (topRight->x + 1) * halfWidth, (bottomLeft->y + 1) * halfHeight,
            (topRight->y + 1) * halfHeight};
}

TextStyle plainStyle(f32 size) { return {0xFFFFFFFF, 0xFF000000, 0xFFE36400, size, 0, 0}; }
