// Text layout over the SDF font: measuring and breaking lines, tab columns, anchors, selection
// highlights, the caret rectangle and the character under a pointer. Every visible glyph becomes
// one quad of four vertices in an sdf quad list (the screen's sdf batch, or a private one for
// drawing on the CPU); selection highlights go to a colored_rect batch.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "SourceCommon/Renderer/FontRecord.h"
#include "SourceCommon/Renderer/Shapes.h"

// Stands for "the character under the pointer" as a selection end.
constexpr i64 kSelectionEndAtPointer = -12345678;
constexpr i64 kUnlimitedTextWidth = INT64_MAX;
constexpr i32 kTextColumnCapacity = 30;
constexpr i32 kTextTabMultiple = 3;

// Anchor codes shared with the widgets.
enum Anchor : i32 {
    AnchorBottomRight = 0,
    AnchorBottomCentre = 1,
    AnchorBottomLeft = 2,
    AnchorLeftCentre = 3,
    AnchorTopLeft = 4,
    AnchorTopCentre = 5,
    AnchorTopRight = 6,
    AnchorRightCentre = 7,
    AnchorCentre = 8,
};

struct TextStyle {
    Color markColor;
    Color outlineColor;
    Color selectionColor;
    f32 size;               // line height in pixels
    f32 outlineFraction;    // outline width as a fraction of the size
    f32 thicknessFraction;  // extra mark thickness as a fraction of the size
};

struct TextLayoutResult {
    i64 pointerIndex;  // byte position of the character under the pointer
    Rect caret;        // left and right on whole pixels
    Rect bounds;       // the laid-out block grown by the outline width
};

// Break codes of findLineBreak besides code points: 10 newline, 9 tab, 32 space, 45 hyphen, any
// other code point (a break inside a word).
constexpr i32 kBreakEndOfText = -2;
constexpr i32 kBreakTruncated = -3;
constexpr i32 kBreakNothingFits = -4;

struct LineBreak {
    u64 start;
    u64 end;           // byte position where the next line starts
    i64 width;         // font units, from the first glyph's left ink edge to the last one's right
    u16 firstLeftEdge; // the first glyph's left ink edge (0 after a leading space or tab)
    i16 tabMultiple;
    i32 code;
};

// The caret, selection and pointer inputs of one layout.
struct TextCaretInput {
    i64 caret;          // byte offset
    i64 selectionEnd;   // byte offset, or kSelectionEndAtPointer
    Vec2F32 pointer;    // window pixels
};

// The no-caret, no-pointer input of plain labels.
TextCaretInput noTextCaret();

// Where a layout writes: the font, the glyph quads and the highlight rectangles (may be null).
struct TextTarget {
    const FontRecord* font;
    SdfBatch* quads;
    ColoredRectBatch* highlights;
    f32 halfWindowWidth;
    f32 halfWindowHeight;
};

// State carried from line to line: the pointer index, the open selection run and the caret span.
struct TextTracker {
    i64 textLength;
    i64 pointerIndex;
    u8 runOpen;
    u8 caretSet;
    u8 lineHasCharacter;  // a character of the current line was seen (for the caret's left edge)
    f32 runLeft, runRight, runBottom, runTop;
    f32 caretLeft, caretRight, caretBottom, caretTop;
    f32 previousRight;
    f32 lineBaseline;
    f32 firstPenX, firstBaseline;  // the start of the first line, for a caret in empty text
    u8 firstPenSet;
};

TextTracker makeTextTracker(i64 textLength);

LineBreak findLineBreak(TextSlice text, i64 start, i32 tabsAtStart, i32 tabMultiple, i64 maxWidth,
                        const FontRecord* font);

SdfVertex makeSdfVertex(f32 x, f32 y, f32 z, Color markColor, Color outlineColor, f32 outlineWidthPx,
                        f32 extraThicknessPx, f32 u, f32 v, f32 pixelsPerTexel);

// One glyph's quad cut to the clip rectangle; nothing when it lies outside, has an empty box or
// the list is full.
void addGlyphQuad(SdfBatch* quads, const GlyphRecord* glyph, Color markColor, Color outlineColor,
                  f32 outlineWidthPx, f32 extraThicknessPx, Vec2F32 pen, f32 depth, const Rect& clipRect,
                  f32 pixelsPerTexel, f32 halfWindowWidth, f32 halfWindowHeight);

// Draws bytes start..end of one laid-out line from the pen (on the baseline), updating the tracker.
void addTextLine(TextSlice text, i64 start, i64 end, Vec2F32 pen, f32 depth, const Rect& clipRect,
                 const TextStyle& style, i32 tabMultiple, const TextCaretInput& caret, TextTracker* tracker,
                 const TextTarget& target);

// Adds the open highlight run, if any.
void flushTextHighlight(TextTracker* tracker, f32 depth, const Rect& clipRect, const TextStyle& style,
                        const TextTarget& target);

// The caret rectangle snapped to whole pixels, and the result of a finished layout.
TextLayoutResult finishTextLayout(TextTracker* tracker, f32 depth, const Rect& clipRect, const TextStyle& style,
                                  const TextTarget& target, Rect block);

// Text placed at a point by an anchor; lines end only at newlines; tab-separated columns.
TextLayoutResult addWrappedText(TextSlice text, i32 anchor, Vec2F32 point, f32 depth, const Rect& clipRect,
                                const TextStyle& style, const TextCaretInput& caret, const TextTarget& target);
TextLayoutResult addWrappedString(const FixedString& text, i32 anchor, Vec2F32 point, f32 depth,
                                  const Rect& clipRect, const TextStyle& style, const TextCaretInput& caret,
                                  const TextTarget& target);

// Copies `text` to `out` with line breaks added, so that addWrappedText lays it out no wider than
// maxWidth pixels at the style's size. Lines that fit are copied as they are, their columns kept. A
// run of tab-separated lines too wide as a table has its tabs laid out as blanks; every line wider
// than maxWidth is broken after its last blank or hyphen that fits, or inside a word wider than
// maxWidth. A line of which not even one character fits is copied unbroken. What does not fit `out`
// is cut by the writer. Without a font the text is copied unchanged.
void wrapTextToWidth(TextSlice text, f32 maxWidth, const TextStyle& style, const FontRecord* font, ByteWriter* out);

// The text as one line no wider than maxWidth pixels at the style's size: the text itself when it
// fits, else its first keepStart bytes, an ellipsis and as much of its end as fits after them, in
// whole characters (a path keeps its file name). Without a font the text is returned unchanged.
FixedString cutTextInMiddle(const FixedString& text, i64 keepStart, f32 maxWidth, const TextStyle& style,
                            const FontRecord* font);

// Text wrapped inside a rectangle and aligned in it by the anchor: as many of its lines as the
// rectangle's height holds, from the first.
TextLayoutResult addTextBox(TextSlice text, i32 anchor, f32 depth, const Rect& layoutRect, const Rect& clipRect,
                            const TextStyle& style, const TextCaretInput& caret, const TextTarget& target);

// The lines addTextBox lays a text out in at a width (pixels, the style's outline included), however
// many that takes; a rectangle of that many times the style's size holds them all. 0 without a font.
i64 textBoxLineCount(TextSlice text, f32 width, const TextStyle& style, const FontRecord* font);

// Anchor alignments: horizontal 0 left, 1 centre, 2 right; vertical 0 bottom, 1 middle, 2 top.
i32 anchorHorizontal(i32 anchor);
i32 anchorVertical(i32 anchor);
