// Untrusted text through the text layout with the program's own font record: line breaking, tab
// columns, boxes, selections and the pointer, then the software painter over the quads. Nothing may
// be written past a batch, and every result must stay within the text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform/Resources.h"
#include "SourceCommon/Renderer/SoftwareText.h"
#include "SourceCommon/Renderer/TextLayout.h"

namespace {

void checkAt(bool condition, int line) {
    if (!condition) {
        std::fprintf(stderr, "TextLayoutFuzz: check failed at line %d\n", line);
        std::abort();
    }
}
#define check(condition) checkAt((condition), __LINE__)

constexpr i32 kImageSize = 64;

struct FuzzState {
    const FontRecord* font;
    SdfBatch* quads;
    ColoredRectBatch* highlights;
    u8* atlasPixels;
    ImageResult atlas;
    u8 image[kImageSize * kImageSize * 4];
};

FuzzState* state() {
    static FuzzState* s = nullptr;
    if (!s) {
        s = (FuzzState*)std::calloc(1, sizeof(FuzzState));
        const EmbeddedResource* record = findResource(programResources(), makeString("FONT_SDF_INFO.BIN"));
        check(record && checkFontRecord(record->data, (i64)record->size).length == 0);
        s->font = (const FontRecord*)record->data;
        s->quads = (SdfBatch*)std::calloc(1, sizeof(SdfBatch));
        s->highlights = (ColoredRectBatch*)std::calloc(1, sizeof(ColoredRectBatch));
        // A stand-in atlas of the right size: every texel on the glyph's edge.
        s->atlasPixels = (u8*)std::malloc((size_t)kFontAtlasSize * kFontAtlasSize);
        std::memset(s->atlasPixels, 140, (size_t)kFontAtlasSize * kFontAtlasSize);
        s->atlas = {kFontAtlasSize, kFontAtlasSize, kFontAtlasSize, 1, s->atlasPixels, {}};
    }
    return s;
}

void checkResult(const TextLayoutResult& r, i64 length) { check(r.pointerIndex >= 0 && r.pointerIndex <= length); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    if (size < 8 || size > 4096 + 8) return 0;
    FuzzState* s = state();
    TextSlice text = {data + 8, (i64)size - 8};
    TextStyle style = {0xFFFFFFFF, 0xFF000000, 0xFFE36400, (f32)data[1] * 0.5f, (f32)(data[0] >> 4) / 64.0f, 0};
    i64 caret = data[2] % (text.length + 2);
    i64 selectionEnd = data[3] == 255 ? kSelectionEndAtPointer : data[3] % (text.length + 2);
    TextCaretInput input = {caret, selectionEnd, {(f32)data[4] - 64, (f32)data[5] - 64}};
    Rect clip = {0, (f32)kImageSize, 0, (f32)kImageSize};
    Rect box = {(f32)(data[6] & 15), (f32)data[6], (f32)(data[7] & 15), (f32)data[7]};
    TextTarget target = {s->font, s->quads, s->highlights, kImageSize / 2.0f, kImageSize / 2.0f};
    i32 anchor = data[0] % 10;

    s->quads->quadCount = data[0] & 1 ? 0 : kSdfQuadCapacity - 3;
    s->highlights->vertexCount = 0;
    s->highlights->triangleCount = 0;
    checkResult(addWrappedText(text, anchor, {32, 32}, 0.5f, clip, style, input, target), text.length);
    checkResult(addTextBox(text, anchor, 0.5f, box, clip, style, input, target), text.length);
    check(s->quads->quadCount >= 0 && s->quads->quadCount <= kSdfQuadCapacity);
    check(s->highlights->vertexCount <= kBatchVertexCapacity && s->highlights->triangleCount <= kColoredRectTriangles);

    i64 position = 0;
    for (i32 lines = 0; lines < 64 && position < text.length; ++lines) {
        LineBreak line = findLineBreak(text, position, data[2] & 1, 3, (i64)data[6] * 20, s->font);
        check(line.end <= (u64)text.length && line.start == (u64)position);
        if (line.code == kBreakNothingFits || line.end == (u64)position) break;
        position = (i64)line.end;
    }

    if (s->quads->quadCount < kSdfQuadCapacity - 3) {
        SoftwareTextSource source = {kImageSize / 2.0f, kImageSize / 2.0f, &s->atlas, s->font};
        rasterizeSdfText(s->quads, s->image, kImageSize, kImageSize, kImageSize * 4, source);
    }

    // Wrapped to a width: the same bytes but for the line breaks added and tabs written as blanks,
    // and, where every character fits the width, laid out no wider than it.
    static u8 wrapped[2 * (4096 + 8)];
    ByteWriter wrap = makeByteWriter(wrapped, sizeof(wrapped));
    f32 width = (f32)data[6] * 4;
    wrapTextToWidth(text, width, style, s->font, &wrap);
    check(!wrap.overflow);
    i64 from = 0;
    for (i64 i = 0; i < wrap.length; ++i) {
        u8 c = wrapped[i];
        if (c == '\n' && (from >= text.length || text.text[from] != '\n')) continue;  // a break added
        check(from < text.length);
        u8 original = text.text[from++];
        check(c == original || (original == '\t' && c == ' '));
    }
    check(from == text.length);
    if (style.size > 0 && width >= 2 * style.size) {
        s->quads->quadCount = kSdfQuadCapacity;  // measured, not drawn
        TextLayoutResult laid = addWrappedText({wrapped, wrap.length}, AnchorTopLeft, {0, 0}, 0.5f, clip, style,
                                               input, target);
        f32 outline = style.size * style.outlineFraction;
        check(laid.bounds.x1 - laid.bounds.x0 <= width + 2 * outline + 0.01f);
    }
    return 0;
}
