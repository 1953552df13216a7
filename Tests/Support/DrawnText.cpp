#include "Support/DrawnText.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>

#include "SourceCommon/Renderer/FontRecord.h"

namespace {

struct PlacedGlyph {
    f32 top, bottom;
    f32 baseline;
    f32 penX;
    f32 advance;  // pixels
    f32 space;    // a space's width at this size, pixels
    i32 codepoint;
};

void appendUtf8(std::string* out, i32 c) {
    if (c < 0x80) {
        out->push_back((char)c);
    } else if (c < 0x800) {
        out->push_back((char)(0xC0 | c >> 6));
        out->push_back((char)(0x80 | (c & 0x3F)));
    } else {
        out->push_back((char)(0xE0 | c >> 12));
        out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::vector<TextRun> drawnTextRuns(const UiState* ui) {
    const FontRecord* font = usableFontRecord(ui->fontInfo);
    if (!font) return {};
    // Each glyph's atlas corner names its code point.
    std::map<std::pair<i32, i32>, i32> byAtlas;
    i64 index = 0;
    for (i32 r = 0; r < font->rangeCount && r < kFontRangeCapacity; ++r) {
        for (i32 c = font->ranges[r][0]; c <= font->ranges[r][1] && index < kFontGlyphCapacity; ++c, ++index) {
            const GlyphRecord* g = &font->glyphs[index];
            if (g->width && g->height) byAtlas.emplace(std::make_pair((i32)g->atlasX, (i32)g->atlasY), c);
        }
    }
    std::vector<PlacedGlyph> glyphs;
    const SdfBatch* batch = &ui->batches.sdf;
    for (i32 q = 0; q < batch->quadCount && q < kSdfQuadCapacity; ++q) {
        const SdfVertex* v = batch->vertices + 4 * q;  // top-left, bottom-left, bottom-right, top-right
        i32 atlasX = (i32)std::lround(v[0].u * kFontAtlasSize);
        i32 atlasY = (i32)std::lround(v[0].v * kFontAtlasSize);
        auto found = byAtlas.find({atlasX, atlasY});
        i32 c = found == byAtlas.end() ? '?' : found->second;
        const GlyphRecord* g = found == byAtlas.end() ? &font->missingGlyph : findGlyph(font, c);
        f32 k = v[0].pixelsPerTexel;
        f32 left = (v[0].x + 1) * ui->halfWidth;
        f32 top = (v[0].y + 1) * ui->halfHeight;
        f32 scale = k / font->unitsPerTexel;
        f32 bottom = (v[1].y + 1) * ui->halfHeight;
        glyphs.push_back(
            {top, bottom, top - g->yOffset * k, left + g->xOffset * k, g->advance * scale, font->spaceAdvance * scale, c});
    }
    std::sort(glyphs.begin(), glyphs.end(), [](const PlacedGlyph& a, const PlacedGlyph& b) {
        if (std::fabs(a.baseline - b.baseline) > 0.5f) return a.baseline > b.baseline;
        return a.penX < b.penX;
    });
    std::vector<TextRun> runs;
    const PlacedGlyph* previous = nullptr;
    for (const PlacedGlyph& g : glyphs) {
        bool sameLine = previous && std::fabs(previous->baseline - g.baseline) <= 0.5f;
        f32 gap = sameLine ? g.penX - (previous->penX + previous->advance) : 0;
        if (!sameLine || gap > 3 * g.space || gap < -g.space) {
            runs.push_back(TextRun{"", g.penX, g.penX, g.bottom, g.top, g.baseline, g.space});
        } else if (gap > 0.5f * g.space) {
            runs.back().text.push_back(' ');
        }
        appendUtf8(&runs.back().text, g.codepoint);
        TextRun* run = &runs.back();
        run->x1 = g.penX + g.advance;
        run->y0 = std::min(run->y0, g.bottom);
        run->y1 = std::max(run->y1, g.top);
        previous = &g;
    }
    return runs;
}

const TextRun* findTextRun(const std::vector<TextRun>& runs, const std::string& text, bool exact) {
    for (const TextRun& run : runs) {
        if (exact ? run.text == text : run.text.find(text) != std::string::npos) return &run;
    }
    return nullptr;
}
