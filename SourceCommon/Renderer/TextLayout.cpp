#include "SourceCommon/Renderer/TextLayout.h"

namespace {

f32 textScale(const TextStyle& style, const FontRecord* font) { return style.size / (f32)fontLineHeight(font); }

// Toward zero onto a whole pixel; positions beyond a billion pixels (or not numbers) are held there.
f32 truncatePixel(f32 value) {
    if (!(value > -1.0e9f)) return value != value ? 0 : -1.0e9f;
    if (value > 1.0e9f) return 1.0e9f;
    return (f32)(i64)value;
}

void setCaretAfter(TextTracker* tracker, f32 right, f32 bottom, f32 top, f32 spaceWidth) {
    tracker->caretSet = 1;
    tracker->caretLeft = right + 1;
    tracker->caretRight = right + 1 + spaceWidth / 4;
    tracker->caretBottom = bottom;
    tracker->caretTop = top;
}

// One character of a drawn line: its byte range [index, next), its left and right edges and its
// line's bottom and top.
struct TrackedCharacter {
    i64 index;
    i64 next;
    f32 left, right, bottom, top;
    bool endsLine;  // a newline or carriage return
};

void trackCharacter(TextTracker* tracker, const TrackedCharacter& ch, const TextCaretInput& caret, f32 spaceWidth,
                    f32 depth, const Rect& clipRect, const TextStyle& style, const TextTarget& target) {
    // The character under the pointer: the first right of it on its line, else the first of the
    // next line, else the end of the text.
    if (caret.pointer.y > ch.top) {
        if (ch.index < tracker->pointerIndex) tracker->pointerIndex = ch.index;
    } else if (ch.bottom <= caret.pointer.y && caret.pointer.y <= ch.top) {
        if ((ch.left + ch.right) / 2 > caret.pointer.x || ch.endsLine)
            if (ch.index < tracker->pointerIndex) tracker->pointerIndex = ch.index;
    }
    i64 selectionEnd = caret.selectionEnd == kSelectionEndAtPointer ? tracker->pointerIndex : caret.selectionEnd;
    i64 low = caret.caret < selectionEnd ? caret.caret : selectionEnd;
    i64 high = caret.caret < selectionEnd ? selectionEnd : caret.caret;

    if (ch.index == caret.caret || ch.index == selectionEnd) {
        tracker->caretSet = 1;
        tracker->caretLeft = tracker->lineHasCharacter ? tracker->previousRight : ch.left;
        tracker->caretRight = ch.left;
        tracker->caretBottom = ch.bottom;
        tracker->caretTop = ch.top;
    }
    if (low <= ch.index && ch.index < high) {
        if (tracker->runOpen && (tracker->runBottom != ch.bottom || tracker->runTop != ch.top))
            flushTextHighlight(tracker, depth, clipRect, style, target);
        if (!tracker->runOpen) {
            tracker->runOpen = 1;
            tracker->runLeft = ch.left;
            tracker->runBottom = ch.bottom;
            tracker->runTop = ch.top;
        }
        tracker->runRight = ch.right;
        setCaretAfter(tracker, ch.right, ch.bottom, ch.top, spaceWidth);
    }
    if (ch.next == tracker->textLength && (caret.caret == tracker->textLength || selectionEnd == tracker->textLength))
        setCaretAfter(tracker, ch.right, ch.bottom, ch.top, spaceWidth);
    tracker->previousRight = ch.right;
    tracker->lineHasCharacter = 1;
}

}  // namespace

TextCaretInput noTextCaret() { return {-1, -1, {0, -3.0e38f}}; }

TextTracker makeTextTracker(i64 textLength) {
    TextTracker tracker = {};
    tracker.textLength = textLength;
    tracker.pointerIndex = textLength;
    return tracker;
}

i32 anchorHorizontal(i32 anchor) {
    switch (anchor) {
    case AnchorBottomRight:
    case AnchorTopRight:
    case AnchorRightCentre: return 2;
    case AnchorBottomCentre:
    case AnchorTopCentre:
    case AnchorCentre: return 1;
    default: return 0;
    }
}

i32 anchorVertical(i32 anchor) {
    switch (anchor) {
    case AnchorTopLeft:
    case AnchorTopCentre:
    case AnchorTopRight: return 2;
    case AnchorLeftCentre:
    case AnchorRightCentre:
    case AnchorCentre: return 1;
    default: return 0;
    }
}

LineBreak findLineBreak(TextSlice text, i64 start, i32 tabsAtStart, i32 tabMultiple, i64 maxWidth,
                        const FontRecord* font) {
    LineBreak result = {(u64)start, (u64)start, 0, 0, (i16)tabMultiple, kBreakNothingFits};
    bool limited = maxWidth != kUnlimitedTextWidth;
    i64 width = 0, pending = 0;
    bool edgeChance = true;  // the next glyph is the line's first measured one
    bool leading = true;     // nothing but tabs read so far
    i64 fitEnd = start, fitWidth = 0;
    i64 breakEnd = -1, breakWidth = 0;
    i32 breakCode = 0;
    i64 position = start;
    i32 c = 0;
    for (;;) {
        c = utf8DecodeNext(text.text, text.length, &position);
        if (c == kUtf8End || c == kUtf8Truncated) {
            result.end = (u64)text.length;
            result.width = width;
            result.code = c;
            return result;
        }
        // A tab that is not a leading one is a space when the width is limited.
        if (c == 9 && limited && !(leading && tabsAtStart)) c = 32;
        if (c == 10 || (c == 9 && !(leading && tabsAtStart))) {
            result.end = (u64)position;
            result.width = width;
            result.code = c;
            return result;
        }
        if (c == 9) {
            pending += (i64)font->spaceAdvance * tabMultiple;
            edgeChance = false;
        } else if (c == 13 || c < 0) {
            leading = false;
        } else if (c == 32 || c == 160) {
            pending += font->spaceAdvance;
            edgeChance = false;
            leading = false;
        } else {
            const GlyphRecord* glyph = findGlyph(font, c);
            width += pending + glyph->inkRight;
            pending = (i64)glyph->advance - glyph->inkRight;
            if (edgeChance) {
                width -= glyph->inkLeft;
                result.firstLeftEdge = glyph->inkLeft;
                edgeChance = false;
            }
            leading = false;
        }
        if (width > maxWidth) break;
        fitEnd = position;
        fitWidth = width;
        if (c == 32 || c == 45) {
            breakEnd = position;
            breakWidth = width;
            breakCode = c;
        }
    }
    if (breakEnd >= 0 && breakWidth >= 1) {
        result.end = (u64)breakEnd;
        result.width = breakWidth;
        result.code = breakCode;
    } else if (fitWidth > 0) {
        result.end = (u64)fitEnd;
        result.width = fitWidth;
        result.code = c;
    } else {
        result.end = (u64)start;
        result.width = 0;
        result.code = kBreakNothingFits;
    }
    return result;
}

SdfVertex makeSdfVertex(f32 x, f32 y, f32 z, Color markColor, Color outlineColor, f32 outlineWidthPx,
                        f32 extraThicknessPx, f32 u, f32 v, f32 pixelsPerTexel) {
    SdfVertex vertex = {};
    vertex.x = x;
    vertex.y = y;
    vertex.z = z;
    vertex.extraThickness = extraThicknessPx;
    colorToFloats(markColor, vertex.mark);
    colorToFloats(outlineColor, vertex.outline);
    vertex.u = u;
    vertex.v = v;
    vertex.pixelsPerTexel = pixelsPerTexel;
    vertex.outlineWidth = outlineWidthPx;
    return vertex;
}

void addGlyphQuad(SdfBatch* quads, const GlyphRecord* glyph, Color markColor, Color outlineColor,
                  f32 outlineWidthPx, f32 extraThicknessPx, Vec2F32 pen, f32 depth, const Rect& clipRect,
                  f32 pixelsPerTexel, f32 halfWindowWidth, f32 halfWindowHeight) {
    if (!quads || quads->quadCount < 0 || quads->quadCount >= kSdfQuadCapacity) return;
    if (glyph->width == 0 || glyph->height == 0) return;
    f32 k = pixelsPerTexel;
    f32 boxWidth = glyph->width * k, boxHeight = glyph->height * k;
    f32 left = pen.x - glyph->xOffset * k;
    f32 top = pen.y + glyph->yOffset * k;
    f32 right = left + boxWidth;
    f32 bottom = top - boxHeight;
    // Outside the clip rectangle (or placed at no number): no quad.
    if (!(right >= clipRect.x0 && clipRect.x1 >= left && top >= clipRect.y0 && clipRect.y1 >= bottom)) return;
    f32 atlasWidth = (f32)glyph->width / kFontAtlasSize;
    f32 atlasHeight = (f32)glyph->height / kFontAtlasSize;
    f32 u0 = (f32)glyph->atlasX / kFontAtlasSize, u1 = u0 + atlasWidth;
    f32 t0 = (f32)glyph->atlasY / kFontAtlasSize, t1 = t0 + atlasHeight;
    if (left < clipRect.x0) {
        u0 += (clipRect.x0 - left) / boxWidth * atlasWidth;
        left = clipRect.x0;
    }
    if (right > clipRect.x1) {
        u1 -= (right - clipRect.x1) / boxWidth * atlasWidth;
        right = clipRect.x1;
    }
    if (top > clipRect.y1) {
        t0 += (top - clipRect.y1) / boxHeight * atlasHeight;
        top = clipRect.y1;
    }
    if (bottom < clipRect.y0) {
        t1 -= (clipRect.y0 - bottom) / boxHeight * atlasHeight;
        bottom = clipRect.y0;
    }
    f32 x0 = (left - halfWindowWidth) / halfWindowWidth, x1 = (right - halfWindowWidth) / halfWindowWidth;
    f32 y0 = (bottom - halfWindowHeight) / halfWindowHeight, y1 = (top - halfWindowHeight) / halfWindowHeight;
    SdfVertex* v = quads->vertices + 4 * (i64)quads->quadCount;
    v[0] = makeSdfVertex(x0, y1, depth, markColor, outlineColor, outlineWidthPx, extraThicknessPx, u0, t0, k);
    v[1] = makeSdfVertex(x0, y0, depth, markColor, outlineColor, outlineWidthPx, extraThicknessPx, u0, t1, k);
    v[2] = makeSdfVertex(x1, y0, depth, markColor, outlineColor, outlineWidthPx, extraThicknessPx, u1, t1, k);
    v[3] = makeSdfVertex(x1, y1, depth, markColor, outlineColor, outlineWidthPx, extraThicknessPx, u1, t0, k);
    quads->quadCount += 1;
}

void addTextLine(TextSlice text, i64 start, i64 end, Vec2F32 pen, f32 depth, const Rect& clipRect,
                 const TextStyle& style, i32 tabMultiple, const TextCaretInput& caret, TextTracker* tracker,
                 const TextTarget& target) {
    const FontRecord* font = target.font;
    if (!font) return;
    f32 s = textScale(style, font);
    f32 pixelsPerTexel = font->unitsPerTexel * s;
    f32 outlineWidth = style.size * style.outlineFraction;
    f32 extraThickness = style.size * style.thicknessFraction;
    f32 spaceWidth = font->spaceAdvance * s;
    f32 bottom = pen.y + font->descent * s;
    f32 top = pen.y + font->ascent * s;
    if (!tracker->firstPenSet) {
        tracker->firstPenSet = 1;
        tracker->firstPenX = pen.x;
        tracker->firstBaseline = pen.y;
    }
    if (tracker->lineBaseline != pen.y) {
        tracker->lineBaseline = pen.y;
        tracker->lineHasCharacter = 0;
    }
    if (end > text.length) end = text.length;
    i64 units = 0;  // pen advance in font units
    bool otherSeen = false;
    i64 position = start;
    while (position < end) {
        TrackedCharacter ch = {position, 0, 0, 0, bottom, top, false};
        i32 c = utf8DecodeNext(text.text, end, &position);
        if (c == kUtf8End || c == kUtf8Truncated) break;
        ch.next = position;
        f32 x = pen.x + units * s;
        ch.left = x;
        if (c == 32 || c == 160 || c == 13 || c == 10) {
            units += font->spaceAdvance;
            ch.right = pen.x + units * s;
            ch.endsLine = c == 10 || c == 13;
            otherSeen = true;
        } else if (c == 9) {
            units += (i64)font->spaceAdvance * (otherSeen ? 1 : tabMultiple);
            ch.right = pen.x + units * s;
        } else if (c < 0) {
            ch.right = x;
            otherSeen = true;
        } else {
            const GlyphRecord* glyph = findGlyph(font, c);
            addGlyphQuad(target.quads, glyph, style.markColor, style.outlineColor, outlineWidth, extraThickness,
                         {x, pen.y}, depth, clipRect, pixelsPerTexel, target.halfWindowWidth, target.halfWindowHeight);
            ch.left = x + glyph->inkLeft * s;
            ch.right = x + glyph->inkRight * s;
            units += glyph->advance;
            otherSeen = true;
        }
        trackCharacter(tracker, ch, caret, spaceWidth, depth, clipRect, style, target);
    }
}

void flushTextHighlight(TextTracker* tracker, f32 depth, const Rect& clipRect, const TextStyle& style,
                        const TextTarget& target) {
    if (!tracker->runOpen) return;
    tracker->runOpen = 0;
    if (!target.highlights) return;
    Rect run = {tracker->runLeft, tracker->runRight, tracker->runBottom, tracker->runTop};
    addRoundedRect(run, depth - 0.000001f, clipRect, 0, 0, style.selectionColor, style.selectionColor,
                   target.highlights, target.halfWindowWidth, target.halfWindowHeight);
}

TextLayoutResult finishTextLayout(TextTracker* tracker, f32 depth, const Rect& clipRect, const TextStyle& style,
                                  const TextTarget& target, Rect block) {
    flushTextHighlight(tracker, depth, clipRect, style, target);
    TextLayoutResult result = {};
    result.pointerIndex = tracker->pointerIndex;
    const FontRecord* font = target.font;
    f32 s = textScale(style, font);
    f32 spaceWidth = font->spaceAdvance * s;
    if (!tracker->caretSet && tracker->firstPenSet) {  // empty text: the caret stands at the start
        tracker->caretLeft = tracker->caretRight = tracker->firstPenX;
        tracker->caretBottom = tracker->firstBaseline + font->descent * s;
        tracker->caretTop = tracker->firstBaseline + font->ascent * s;
        tracker->caretSet = 1;
    }
    if (tracker->caretSet) {
        f32 centre = (tracker->caretLeft + tracker->caretRight) / 2;
        f32 x0 = truncatePixel(centre - spaceWidth / 8);
        result.caret = {x0, x0 + truncatePixel(spaceWidth / 4) + 1, tracker->caretBottom, tracker->caretTop};
    }
    f32 outline = style.size * style.outlineFraction;
    result.bounds = {block.x0 - outline, block.x1 + outline, block.y0 - outline, block.y1 + outline};
    return result;
}
