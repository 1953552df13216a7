// Text layout on known strings with the committed font: line breaking, tab columns, anchors, glyph
// quads and their clipping, selection runs, the caret rectangle and the character under a pointer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TextTestSupport.h"

namespace {

constexpr f32 kHalf = 4000;  // half window sizes: an 8000-pixel window keeps every test on screen
constexpr f32 kFull = 1257;  // a size of one pixel per font unit
const Rect kEverywhere = {-1e6f, 1e6f, -1e6f, 1e6f};

i64 inkWidth(i32 codepoint) {
    const GlyphRecord* g = committedGlyph(codepoint);
    return (i64)g->inkRight - g->inkLeft;
}

class TextLayout : public ::testing::Test {
protected:
    const FontRecord* font = committedFontRecord();
    ZeroedPtr<SdfBatch> quads = makeZeroed<SdfBatch>();
    ZeroedPtr<ColoredRectBatch> highlights = makeZeroed<ColoredRectBatch>();
    TextTarget target() { return {font, quads.get(), highlights.get(), kHalf, kHalf}; }
    void SetUp() override { ASSERT_NE(font, nullptr); }
    Rect box(i32 q) { return quadBox(quads.get(), q, kHalf, kHalf); }
    // The rectangle of highlight h in window pixels.
    Rect highlight(i32 h) {
        const ColoredRectVertex* v = &highlights->vertices[4 * h];
        return {(v[1].x + 1) * kHalf, (v[3].x + 1) * kHalf, (v[1].y + 1) * kHalf, (v[3].y + 1) * kHalf};
    }
    LineBreak measure(const char* text, i64 maxWidth = kUnlimitedTextWidth, i32 tabsAtStart = 0) {
        return findLineBreak(textOf(text), 0, tabsAtStart, kTextTabMultiple, maxWidth, font);
    }
};

TEST_F(TextLayout, LineBreaksAtTheLastSpaceThatFitsWithoutCountingTheSpace) {
    i64 ab = measure("ab").width;
    EXPECT_EQ(ab, committedGlyph('a')->advance - committedGlyph('a')->inkLeft + committedGlyph('b')->inkRight);
    i64 abcd = measure("ab cd").width;
    // A width ending inside the second word breaks after the space.
    LineBreak line = measure("ab cd", abcd - 1);
    EXPECT_EQ(line.code, 32);
    EXPECT_EQ(line.end, 3u);
    EXPECT_EQ(line.width, ab);
    EXPECT_EQ(line.firstLeftEdge, committedGlyph('a')->inkLeft);
    // The whole line fits: end of text, trailing spaces never counted.
    line = measure("ab cd  ", abcd);
    EXPECT_EQ(line.code, kBreakEndOfText);
    EXPECT_EQ(line.end, 7u);
    EXPECT_EQ(line.width, abcd);
    // A hyphen is a break point too, and counts in the width.
    line = measure("ab-cd", measure("ab-c").width);
    EXPECT_EQ(line.code, 45);
    EXPECT_EQ(line.end, 3u);
    EXPECT_EQ(line.width, measure("ab-").width);
}

TEST_F(TextLayout, AWordWiderThanTheWidthBreaksInsideAndNothingFittingStops) {
    i64 abc = measure("abc").width;
    LineBreak line = measure("abcdef", abc);
    EXPECT_EQ(line.code, 'd');
    EXPECT_EQ(line.end, 3u);
    EXPECT_EQ(line.width, abc);
    line = measure("abcdef", 10);
    EXPECT_EQ(line.code, kBreakNothingFits);
    EXPECT_EQ(line.end, 0u);
    EXPECT_EQ(line.width, 0);
}

TEST_F(TextLayout, NewlinesTabsAndTheEndOfTextStopALine) {
    LineBreak line = measure("ab\ncd");
    EXPECT_EQ(line.code, 10);
    EXPECT_EQ(line.end, 3u);
    line = measure("a\tb");
    EXPECT_EQ(line.code, 9);
    EXPECT_EQ(line.end, 2u);
    EXPECT_EQ(line.width, inkWidth('a'));
    // A tab first on a line of columns ends an empty column.
    line = measure("\tb");
    EXPECT_EQ(line.code, 9);
    EXPECT_EQ(line.end, 1u);
    EXPECT_EQ(line.width, 0);
    // With a limited width a tab after content is a space.
    EXPECT_EQ(measure("a\tb", 100000).width, measure("a b").width);
    // Cut UTF-8 at the end.
    line = measure("ab\xE2\x82");
    EXPECT_EQ(line.code, kBreakTruncated);
    EXPECT_EQ(line.end, 4u);
    EXPECT_EQ(line.width, measure("ab").width);
}

TEST_F(TextLayout, ALeadingTabInABoxAdvancesThreeSpaces) {
    LineBreak line = measure("\tb", 100000, 1);
    EXPECT_EQ(line.width, 3 * font->spaceAdvance + committedGlyph('b')->inkRight);
    EXPECT_EQ(line.firstLeftEdge, 0);

    TextStyle style = plainStyle(kFull);
    Rect layout = {100, 5000, 100, 3000};
    addTextBox(textOf("\tb"), AnchorTopLeft, 0.5f, layout, kEverywhere, style, noTextCaret(), target());
    ASSERT_EQ(quads->quadCount, 1);
    const GlyphRecord* b = committedGlyph('b');
    EXPECT_NEAR(box(0).x0, 100 + 3 * font->spaceAdvance - b->xOffset * 14.0f, 0.05f);
}

TEST_F(TextLayout, AGlyphAtOnePixelPerUnitAdvancesByItsAdvanceAndStartsSevenTexelsLeft) {
    TextStyle style = plainStyle(kFull);
    TextTracker tracker = makeTextTracker(2);
    addTextLine(textOf("AA"), 0, 2, {1000, 1000}, 0.5f, kEverywhere, style, 3, noTextCaret(), &tracker, target());
    ASSERT_EQ(quads->quadCount, 2);
    const GlyphRecord* a = committedGlyph('A');
    EXPECT_EQ(a->xOffset, 7);
    EXPECT_NEAR(box(0).x0, 1000 - 7 * 14, 0.05f);
    EXPECT_NEAR(box(1).x0 - box(0).x0, a->advance, 0.05f);
    EXPECT_NEAR(box(0).y1, 1000 + a->yOffset * 14, 0.05f);
    EXPECT_NEAR(box(0).x1 - box(0).x0, a->width * 14, 0.05f);
    // Atlas corners and the per-vertex values.
    const SdfVertex* v = quads->vertices;
    EXPECT_FLOAT_EQ(v[0].u, a->atlasX / 2048.0f);
    EXPECT_FLOAT_EQ(v[0].v, a->atlasY / 2048.0f);
    EXPECT_FLOAT_EQ(v[2].u, (a->atlasX + a->width) / 2048.0f);
    EXPECT_FLOAT_EQ(v[2].v, (a->atlasY + a->height) / 2048.0f);
    EXPECT_FLOAT_EQ(v[0].pixelsPerTexel, 14);
    EXPECT_FLOAT_EQ(v[0].z, 0.5f);
    EXPECT_FLOAT_EQ(v[0].mark[3], 1);
}

TEST_F(TextLayout, GlyphQuadsAreCutToTheClipRectangle) {
    const GlyphRecord* a = committedGlyph('A');
    f32 k = 14;
    Vec2F32 pen = {1000, 1000};
    f32 left = pen.x - a->xOffset * k, width = a->width * k;
    // Wholly right of the clip: nothing.
    Rect clip = {0, left - 1, 0, 5000};
    addGlyphQuad(quads.get(), a, 0xFFFFFFFF, 0, 0, 0, pen, 0, clip, k, kHalf, kHalf);
    EXPECT_EQ(quads->quadCount, 0);
    // Cut in half by the clip's left edge: u0 moves by half the box's atlas width.
    clip = {left + width / 2, 5000, 0, 5000};
    addGlyphQuad(quads.get(), a, 0xFFFFFFFF, 0, 0, 0, pen, 0, clip, k, kHalf, kHalf);
    ASSERT_EQ(quads->quadCount, 1);
    EXPECT_NEAR(quads->vertices[0].u, (a->atlasX + a->width / 2.0f) / 2048.0f, 1e-6f);
    EXPECT_NEAR(quads->vertices[3].u, (a->atlasX + a->width) / 2048.0f, 1e-6f);
    EXPECT_NEAR(box(0).x0, left + width / 2, 0.05f);
    // The top cut moves t0 in the same way.
    clip = {0, 5000, 0, pen.y};
    addGlyphQuad(quads.get(), a, 0xFFFFFFFF, 0, 0, 0, pen, 0, clip, k, kHalf, kHalf);
    ASSERT_EQ(quads->quadCount, 2);
    EXPECT_NEAR(quads->vertices[4].v, (a->atlasY + a->yOffset) / 2048.0f, 1e-6f);
}

TEST_F(TextLayout, AFullBatchAddsNothingButTheLayoutStillHolds) {
    TextStyle style = plainStyle(100);
    TextLayoutResult expected =
        addWrappedText(textOf("Hello\nworld"), AnchorBottomLeft, {50, 50}, 0.5f, kEverywhere, style, noTextCaret(), target());
    EXPECT_EQ(quads->quadCount, 10);
    quads->quadCount = kSdfQuadCapacity;
    TextLayoutResult full =
        addWrappedText(textOf("Hello\nworld"), AnchorBottomLeft, {50, 50}, 0.5f, kEverywhere, style, noTextCaret(), target());
    EXPECT_EQ(quads->quadCount, kSdfQuadCapacity);
    EXPECT_EQ(std::memcmp(&expected, &full, sizeof expected), 0);
}

TEST_F(TextLayout, MissingCodePointsDrawTheMissingGlyphAndBadBytesDrawNothing) {
    TextStyle style = plainStyle(kFull);
    TextTracker tracker = makeTextTracker(0);
    // U+0180 is in no range of the committed font.
    const char* text = "\xC6\x80" "\xFF" "A";
    addTextLine(textOf(text), 0, 4, {1000, 1000}, 0, kEverywhere, style, 3, noTextCaret(), &tracker, target());
    ASSERT_EQ(quads->quadCount, 2);
    EXPECT_FLOAT_EQ(quads->vertices[0].u, font->missingGlyph.atlasX / 2048.0f);
    // The bad byte does not advance the pen: "A" follows right after the missing glyph.
    const GlyphRecord* a = committedGlyph('A');
    EXPECT_NEAR(box(1).x0, 1000 + font->missingGlyph.advance - a->xOffset * 14, 0.05f);
}

TEST_F(TextLayout, AnchorsPlaceTheBlockAndBoundsGrowByTheOutline) {
    TextStyle style = plainStyle(100);
    style.outlineFraction = 0.1f;
    Vec2F32 point = {2000, 3000};
    TextLayoutResult r =
        addWrappedText(textOf("Ab\nc"), AnchorBottomLeft, point, 0, kEverywhere, style, noTextCaret(), target());
    f32 s = 100.0f / 1257;
    f32 width = (f32)measure("Ab").width * s;
    EXPECT_NEAR(r.bounds.x0, point.x - 10, 0.01f);
    EXPECT_NEAR(r.bounds.y0, point.y - 10, 0.01f);
    EXPECT_NEAR(r.bounds.x1, point.x + width + 10, 0.01f);
    EXPECT_NEAR(r.bounds.y1, point.y + 200 + 10, 0.01f);
    r = addWrappedText(textOf("Ab\nc"), AnchorTopRight, point, 0, kEverywhere, style, noTextCaret(), target());
    EXPECT_NEAR(r.bounds.x1, point.x + 10, 0.01f);
    EXPECT_NEAR(r.bounds.y1, point.y + 10, 0.01f);
    r = addWrappedText(textOf("Ab\nc"), AnchorCentre, point, 0, kEverywhere, style, noTextCaret(), target());
    EXPECT_NEAR((r.bounds.x0 + r.bounds.x1) / 2, point.x, 0.01f);
    EXPECT_NEAR((r.bounds.y0 + r.bounds.y1) / 2, point.y, 0.01f);
    // A centred single-column line is centred on its own width.
    i32 before = quads->quadCount;
    addWrappedText(textOf("c"), AnchorCentre, point, 0, kEverywhere, style, noTextCaret(), target());
    Rect c = box(before);
    const GlyphRecord* g = committedGlyph('c');
    f32 inkLeft = c.x0 + g->xOffset * 14 * s + g->inkLeft * s;
    EXPECT_NEAR(inkLeft + inkWidth('c') * s / 2, point.x, 0.01f);
}

TEST_F(TextLayout, TabColumnsSpreadOverTheBlockWithLaterColumnsRightAligned) {
    TextStyle style = plainStyle(kFull);
    Vec2F32 point = {1000, 4000};
    TextLayoutResult r = addWrappedText(textOf("a\tb\naaaa\tbbb"), AnchorBottomLeft, point, 0, kEverywhere, style,
                                        noTextCaret(), target());
    ASSERT_EQ(quads->quadCount, 2 + 7);
    i64 w0 = measure("aaaa").width, w1 = measure("bbb").width;
    f32 blockRight = point.x + (f32)(w0 + w1 + 3 * font->spaceAdvance);
    EXPECT_NEAR(r.bounds.x1, blockRight, 0.05f);
    const GlyphRecord* b = committedGlyph('b');
    auto inkRight = [&](i32 q) { return box(q).x0 + b->xOffset * 14 + b->inkRight; };
    // The single "b" of the first line and the last "b" of the second both end at the block's edge.
    EXPECT_NEAR(inkRight(1), blockRight, 0.05f);
    EXPECT_NEAR(inkRight(8), blockRight, 0.05f);
    // Column 0 starts at the block's left edge on both lines.
    const GlyphRecord* a = committedGlyph('a');
    EXPECT_NEAR(box(0).x0 + a->xOffset * 14 + a->inkLeft, point.x, 0.05f);
    EXPECT_NEAR(box(2).x0 + a->xOffset * 14 + a->inkLeft, point.x, 0.05f);
}

TEST_F(TextLayout, TheThirtyFirstTabOfALineIsLaidOutAsASpace) {
    std::string text;
    for (i32 i = 0; i < 40; ++i) text += "x\t";
    text += "x";
    TextStyle style = plainStyle(20);
    TextLayoutResult r = addWrappedText(textOf(text.c_str()), AnchorBottomLeft, {10, 10}, 0, kEverywhere, style,
                                        noTextCaret(), target());
    EXPECT_EQ(quads->quadCount, 41);
    // Every glyph lies inside the block.
    for (i32 q = 0; q < quads->quadCount; ++q) {
        const GlyphRecord* x = committedGlyph('x');
        f32 s = 20.0f / 1257;
        f32 ink = box(q).x0 + x->xOffset * 14 * s + x->inkRight * s;
        EXPECT_LE(ink, r.bounds.x1 + 0.01f) << q;
    }
    // The last column holds the rest of the line with its tabs as single spaces.
    std::string rest;
    for (i32 i = 29; i < 40; ++i) rest += "x ";
    rest += "x";
    i64 restWidth = findLineBreak(textOf(rest.c_str()), 0, 0, 3, kUnlimitedTextWidth, font).width;
    i64 expected = 29 * inkWidth('x') + restWidth + 29 * 3 * font->spaceAdvance;
    EXPECT_NEAR(r.bounds.x1 - r.bounds.x0, expected * 20.0f / 1257, 0.01f);
}

TEST_F(TextLayout, AZeroOrBrokenSizeOrNoFontDrawsNothing) {
    TextStyle style = plainStyle(0);
    TextLayoutResult r = addWrappedText(textOf("abc"), AnchorCentre, {100, 100}, 0, kEverywhere, style,
                                        noTextCaret(), target());
    EXPECT_EQ(quads->quadCount, 0);
    EXPECT_EQ(r.bounds.x1, 0);
    style.size = 0.0f / 0.0f;
    r = addTextBox(textOf("abc"), AnchorCentre, 0, {0, 500, 0, 500}, kEverywhere, style, noTextCaret(), target());
    EXPECT_EQ(quads->quadCount, 0);
    // A point that is not a number lays out without a number anywhere turning into garbage pixels.
    f32 nan = 0.0f / 0.0f;
    r = addWrappedText(textOf("a\tb"), AnchorCentre, {nan, nan}, 0, kEverywhere, plainStyle(20), {0, 1, {nan, nan}},
                       target());
    EXPECT_EQ(r.caret.x0, 0);
    EXPECT_EQ(quads->quadCount, 0);
    TextTarget none = target();
    none.font = nullptr;
    r = addWrappedText(textOf("abc"), AnchorCentre, {100, 100}, 0, kEverywhere, plainStyle(20), noTextCaret(), none);
    EXPECT_EQ(quads->quadCount, 0);
    EXPECT_EQ(r.pointerIndex, 0);
}

TEST_F(TextLayout, ATextBoxWrapsAtSpacesAndCutsAfterTheLastWholeLine) {
    TextStyle style = plainStyle(kFull);
    i64 twoWords = measure("ab cd").width;
    // Room for "ab cd" but not "ab cd ef"; two lines high.
    Rect layout = {0, (f32)twoWords + 50, 0, 2 * 1257 + 100};
    TextLayoutResult r = addTextBox(textOf("ab cd ef gh ij"), AnchorTopLeft, 0, layout, kEverywhere, style,
                                    noTextCaret(), target());
    ASSERT_EQ(quads->quadCount, 8);  // "ab cd" and "ef gh"
    f32 firstBaseline = layout.y1 - font->ascent;
    const GlyphRecord* a = committedGlyph('a');
    const GlyphRecord* e = committedGlyph('e');
    EXPECT_NEAR(box(0).y1, firstBaseline + a->yOffset * 14, 0.05f);
    EXPECT_NEAR(box(4).y1, firstBaseline - 1257 + e->yOffset * 14, 0.05f);
    // Both lines start at the box's left edge with their ink.
    EXPECT_NEAR(box(4).x0 + e->xOffset * 14 + e->inkLeft, 0, 0.05f);
    EXPECT_NEAR(r.bounds.y0, layout.y1 - 2 * 1257, 0.05f);
    // A box narrower than one glyph draws nothing.
    quads->quadCount = 0;
    addTextBox(textOf("abc"), AnchorTopLeft, 0, {0, 10, 0, 2000}, kEverywhere, style, noTextCaret(), target());
    EXPECT_EQ(quads->quadCount, 0);
}

TEST_F(TextLayout, ATextBoxAlignsEachLineByTheAnchor) {
    TextStyle style = plainStyle(kFull);
    Rect layout = {0, 6000, 0, 4000};
    addTextBox(textOf("a\nbbb"), AnchorBottomRight, 0, layout, kEverywhere, style, noTextCaret(), target());
    ASSERT_EQ(quads->quadCount, 4);
    const GlyphRecord* a = committedGlyph('a');
    const GlyphRecord* b = committedGlyph('b');
    EXPECT_NEAR(box(0).x0 + a->xOffset * 14 + a->inkRight, 6000, 0.05f);
    EXPECT_NEAR(box(3).x0 + b->xOffset * 14 + b->inkRight, 6000, 0.05f);
    // Bottom anchor: the second line's descent sits on the box's bottom.
    EXPECT_NEAR(box(1).y1 - b->yOffset * 14 + font->descent, 0, 0.05f);
}

class TextEditing : public TextLayout {
protected:
    // "ab\ncd" at s = 1, bottom-left at (1000, 1000): line 1 baseline 1000 + 2 x 1257 - ascent.
    Vec2F32 point = {1000, 1000};
    TextLayoutResult layout(i64 caret, i64 selectionEnd, Vec2F32 pointer, const char* text = "ab\ncd") {
        TextCaretInput input = {caret, selectionEnd, pointer};
        return addWrappedText(textOf(text), AnchorBottomLeft, point, 0.5f, kEverywhere, plainStyle(kFull), input,
                              target());
    }
    f32 firstBaseline() { return point.y + 2 * 1257 - font->ascent; }
    // Left and right ink edges of glyph quad q drawn for a code point.
    f32 inkLeft(i32 q, i32 codepoint) {
        const GlyphRecord* g = committedGlyph(codepoint);
        return box(q).x0 + g->xOffset * 14 + g->inkLeft;
    }
    f32 inkRight(i32 q, i32 codepoint) {
        const GlyphRecord* g = committedGlyph(codepoint);
        return box(q).x0 + g->xOffset * 14 + g->inkRight;
    }
};

TEST_F(TextEditing, ThePointerFindsTheFirstCharacterRightOfItOnItsLine) {
    TextLayoutResult r = layout(0, 0, {0, 0});
    f32 line1 = firstBaseline() + 10;
    f32 line2 = firstBaseline() - 1257 + 10;
    f32 aCentre = (inkLeft(0, 'a') + inkRight(0, 'a')) / 2;
    f32 bCentre = (inkLeft(1, 'b') + inkRight(1, 'b')) / 2;
    f32 dCentre = (inkLeft(3, 'd') + inkRight(3, 'd')) / 2;
    quads->quadCount = 0;
    EXPECT_EQ(layout(0, 0, {aCentre - 1, line1}).pointerIndex, 0);
    EXPECT_EQ(layout(0, 0, {aCentre + 1, line1}).pointerIndex, 1);
    EXPECT_EQ(layout(0, 0, {bCentre + 1, line1}).pointerIndex, 2);  // the line's newline
    EXPECT_EQ(layout(0, 0, {0, line2}).pointerIndex, 3);
    EXPECT_EQ(layout(0, 0, {dCentre + 1, line2}).pointerIndex, 5);  // the end of the text
    EXPECT_EQ(layout(0, 0, {dCentre - 1, line2}).pointerIndex, 4);
    EXPECT_EQ(layout(0, 0, {5000, 7000}).pointerIndex, 0);  // above the text
    EXPECT_EQ(layout(0, 0, {5000, -7000}).pointerIndex, 5); // below it
    (void)r;
}

TEST_F(TextEditing, ASelectionOverTwoLinesAddsOneRunPerLine) {
    layout(1, 4, {0, 0});
    ASSERT_EQ(highlights->triangleCount, 4);
    f32 bLeft = inkLeft(1, 'b');
    f32 cLeft = inkLeft(2, 'c'), cRight = inkRight(2, 'c');
    // Line 1: from "b"'s left edge to the end of the newline's space advance.
    Rect first = highlight(0);
    EXPECT_NEAR(first.x0, bLeft, 0.05f);
    const GlyphRecord* a = committedGlyph('a');
    const GlyphRecord* b = committedGlyph('b');
    f32 penAfterB = point.x - a->inkLeft + a->advance + b->advance;
    EXPECT_NEAR(first.x1, penAfterB + font->spaceAdvance, 0.05f);
    EXPECT_NEAR(first.y1, firstBaseline() + font->ascent, 0.05f);
    EXPECT_NEAR(first.y0, firstBaseline() + font->descent, 0.05f);
    Rect second = highlight(1);
    EXPECT_NEAR(second.x0, cLeft, 0.05f);
    EXPECT_NEAR(second.x1, cRight, 0.05f);
    EXPECT_NEAR(second.y1, firstBaseline() - 1257 + font->ascent, 0.05f);
    // In the selection colour, just behind the text.
    EXPECT_FLOAT_EQ(highlights->vertices[0].z, 0.5f - 0.000001f);
    EXPECT_FLOAT_EQ(highlights->vertices[0].fill[2], 0xE3 / 255.0f);
}

TEST_F(TextEditing, TheSelectionCanEndAtThePointer) {
    layout(0, 0, {0, 0});
    f32 line1 = firstBaseline() + 10;
    f32 bCentre = (inkLeft(1, 'b') + inkRight(1, 'b')) / 2;
    quads->quadCount = 0;
    // From the caret at 0 to the character under the pointer (1): "a" alone.
    TextLayoutResult r = layout(0, kSelectionEndAtPointer, {bCentre - 1, line1});
    EXPECT_EQ(r.pointerIndex, 1);
    ASSERT_EQ(highlights->triangleCount, 2);
    EXPECT_NEAR(highlight(0).x0, inkLeft(0, 'a'), 0.05f);
    EXPECT_NEAR(highlight(0).x1, inkRight(0, 'a'), 0.05f);
    // From the caret at 4 back to the pointer at 1: "b", the newline and "c".
    highlights->triangleCount = 0;
    highlights->vertexCount = 0;
    quads->quadCount = 0;
    layout(4, kSelectionEndAtPointer, {bCentre - 1, line1});
    EXPECT_EQ(highlights->triangleCount, 4);
}

TEST_F(TextEditing, TheCaretStandsBetweenCharactersOnWholePixels) {
    f32 space = font->spaceAdvance;
    TextLayoutResult r = layout(1, 1, {0, 0});
    f32 centre = (inkRight(0, 'a') + inkLeft(1, 'b')) / 2;
    f32 x0 = (f32)(i64)(centre - space / 8);
    EXPECT_FLOAT_EQ(r.caret.x0, x0);
    EXPECT_FLOAT_EQ(r.caret.x1, x0 + (f32)(i64)(space / 4) + 1);
    EXPECT_NEAR(r.caret.y1, firstBaseline() + font->ascent, 0.05f);
    EXPECT_EQ(highlights->triangleCount, 0);
    // At the end of the text it follows the last character.
    quads->quadCount = 0;
    r = layout(5, 5, {0, 0});
    f32 after = inkRight(3, 'd') + 1;
    EXPECT_NEAR(r.caret.x0, after, 1.0f);
    EXPECT_NEAR(r.caret.y1, firstBaseline() - 1257 + font->ascent, 0.05f);
    // With a selection it shows at the later end.
    quads->quadCount = 0;
    TextLayoutResult forward = layout(1, 4, {0, 0});
    quads->quadCount = 0;
    TextLayoutResult backward = layout(4, 1, {0, 0});
    EXPECT_EQ(std::memcmp(&forward.caret, &backward.caret, sizeof(Rect)), 0);
    EXPECT_NEAR(forward.caret.y1, firstBaseline() - 1257 + font->ascent, 0.05f);
    // Empty text: at the start.
    quads->quadCount = 0;
    r = layout(0, 0, {0, 0}, "");
    EXPECT_FLOAT_EQ(r.caret.x0, (f32)(i64)(point.x - space / 8));
    EXPECT_NEAR(r.caret.y0, point.y, 0.05f);
}

// Random reports of words, long words, tab-separated rows and blank lines, wrapped to random widths:
// laid out at a point, the wrapped text is never wider than its width, it holds every character of
// the text (only line breaks added and tabs written as blanks), and a text that already fits comes
// back unchanged, its columns kept.
TEST_F(TextLayout, WrappedTextIsNeverWiderThanItsWidthAndLosesNoCharacter) {
    u32 state = 12345;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    auto flat = [](std::string text) {
        std::string out;
        for (char c : text)
            if (c != '\n') out += c == '\t' ? ' ' : c;
        return out;
    };
    const f32 size = 20;
    TextStyle style = plainStyle(size);
    i32 unchanged = 0, wrappedCases = 0;
    for (i32 round = 0; round < 400; ++round) {
        std::string text;
        i32 lines = 1 + (i32)(next() % 12);
        for (i32 l = 0; l < lines; ++l) {
            i32 pieces = (i32)(next() % 14);
            bool row = next() % 3 == 0;
            for (i32 w = 0; w < pieces; ++w) {
                i32 length = next() % 9 == 0 ? 20 + (i32)(next() % 40) : 1 + (i32)(next() % 9);
                for (i32 c = 0; c < length; ++c) text += (char)(next() % 5 == 0 ? 'A' + next() % 26 : 'a' + next() % 26);
                if (w + 1 < pieces) text += row ? "\t" : next() % 11 == 0 ? "-" : " ";
            }
            if (l + 1 < lines || next() % 2) text += '\n';
        }
        f32 width = 60 + (f32)(next() % 1500);
        std::vector<u8> out(2 * text.size() + 16);
        ByteWriter writer = makeByteWriter(out.data(), (i64)out.size());
        wrapTextToWidth(textOf(text.c_str()), width, style, font, &writer);
        ASSERT_FALSE(writer.overflow);
        std::string wrapped((const char*)out.data(), (size_t)writer.length);
        EXPECT_EQ(flat(wrapped), flat(text)) << text;

        quads->quadCount = 0;
        TextLayoutResult before = addWrappedText(textOf(text.c_str()), AnchorTopLeft, {0, 0}, 0, kEverywhere, style,
                                                 noTextCaret(), target());
        quads->quadCount = 0;
        TextLayoutResult after = addWrappedText(textOf(wrapped.c_str()), AnchorTopLeft, {0, 0}, 0, kEverywhere,
                                                style, noTextCaret(), target());
        EXPECT_LE(after.bounds.x1 - after.bounds.x0, width + 0.01f) << width << "\n" << wrapped;
        if (before.bounds.x1 - before.bounds.x0 <= width) {
            EXPECT_EQ(wrapped, text);
            unchanged++;
        } else {
            wrappedCases++;
        }
    }
    EXPECT_GT(unchanged, 40);
    EXPECT_GT(wrappedCases, 100);
}

}  // namespace
