// Blocks of text: tab-separated columns placed at a point, text wrapped inside a rectangle, and one
// line cut in the middle to a width.
#include "SourceCommon/Renderer/TextLayout.h"

namespace {

// One line of text placed at a point: its column segments, split at tabs. A line has at most 30
// columns; the last one takes the rest of the line, with its tabs laid out as spaces.
struct MeasuredLine {
    i32 columns;
    LineBreak segments[kTextColumnCapacity];
    i64 next;   // where the next line starts
    bool last;  // the text ends with this line
};

MeasuredLine measureLine(TextSlice text, i64 position, const FontRecord* font) {
    MeasuredLine line = {};
    for (;;) {
        bool lastColumn = line.columns == kTextColumnCapacity - 1;
        i64 maxWidth = lastColumn ? kUnlimitedTextWidth - 1 : kUnlimitedTextWidth;
        LineBreak segment = findLineBreak(text, position, 0, kTextTabMultiple, maxWidth, font);
        line.segments[line.columns++] = segment;
        position = (i64)segment.end;
        if (segment.code == 9 && !lastColumn) continue;
        line.next = position;
        line.last = segment.code != 10;
        return line;
    }
}

// Consecutive lines with the same number of columns; each column as wide as its widest segment.
struct ColumnGroup {
    i32 columns;
    i32 lineCount;
    i64 widths[kTextColumnCapacity];
    i64 next;   // where the line after the group starts
    bool last;  // the text ends with the group
};

ColumnGroup measureGroup(TextSlice text, i64 position, const FontRecord* font) {
    ColumnGroup group = {};
    for (;;) {
        MeasuredLine line = measureLine(text, position, font);
        if (group.lineCount > 0 && line.columns != group.columns) break;
        group.columns = line.columns;
        group.lineCount += 1;
        for (i32 j = 0; j < line.columns; ++j)
            if (line.segments[j].width > group.widths[j]) group.widths[j] = line.segments[j].width;
        group.next = line.next;
        group.last = line.last;
        if (line.last) break;
        position = line.next;
    }
    return group;
}

i64 groupWidth(const ColumnGroup& group, const FontRecord* font) {
    i64 sum = 0;
    for (i32 j = 0; j < group.columns; ++j) sum += group.widths[j];
    return sum + (i64)kTextTabMultiple * font->spaceAdvance * (group.columns - 1);
}

bool usable(const TextSlice& text, const TextStyle& style, const TextTarget& target) {
    return target.font && text.length >= 0 && (text.text || text.length == 0) && style.size > 0 &&
           style.size < 1.0e6f;
}

// The lines of a text box at a width in font units, at most maxLines, and the widest of them.
i64 measureTextBox(TextSlice text, i64 maxWidth, i64 maxLines, const FontRecord* font, i64* widest) {
    i64 lines = 0;
    *widest = 0;
    for (i64 position = 0; lines < maxLines;) {
        LineBreak line = findLineBreak(text, position, 1, kTextTabMultiple, maxWidth, font);
        if (line.code == kBreakNothingFits) break;
        lines += 1;
        if (line.width > *widest) *widest = line.width;
        if (line.code == kBreakEndOfText || line.code == kBreakTruncated) break;
        position = (i64)line.end;
    }
    return lines;
}

}  // namespace

TextLayoutResult addWrappedText(TextSlice text, i32 anchor, Vec2F32 point, f32 depth, const Rect& clipRect,
                                const TextStyle& style, const TextCaretInput& caret, const TextTarget& target) {
    if (!usable(text, style, target)) return TextLayoutResult{};
    const FontRecord* font = target.font;
    i64 lineHeight = fontLineHeight(font);
    f32 s = style.size / (f32)lineHeight;

    // Measure: the block's width and its number of lines.
    i64 blockWidth = 0, lineCount = 0;
    for (i64 position = 0;;) {
        ColumnGroup group = measureGroup(text, position, font);
        i64 width = groupWidth(group, font);
        if (width > blockWidth) blockWidth = width;
        lineCount += group.lineCount;
        if (group.last) break;
        position = group.next;
    }
    i64 blockHeight = lineCount * lineHeight;

    i32 horizontal = anchorHorizontal(anchor), vertical = anchorVertical(anchor);
    f32 blockLeft = point.x - (f32)(blockWidth * horizontal) / 2 * s;
    f32 firstBaseline = vertical == 0   ? point.y + (f32)(blockHeight - font->ascent) * s
                        : vertical == 1 ? point.y + ((f32)blockHeight / 2 - font->ascent) * s
                                        : point.y - font->ascent * s;

    TextTracker tracker = makeTextTracker(text.length);
    i64 lineIndex = 0;
    for (i64 position = 0;;) {
        ColumnGroup group = measureGroup(text, position, font);
        i64 sumWidths = 0;
        for (i32 j = 0; j < group.columns; ++j) sumWidths += group.widths[j];
        i64 gap = group.columns > 1 ? (blockWidth - sumWidths) / (group.columns - 1) : 0;
        for (i32 l = 0; l < group.lineCount; ++l, ++lineIndex) {
            MeasuredLine line = measureLine(text, position, font);
            f32 baseline = firstBaseline - (f32)(lineIndex * lineHeight) * s;
            i64 columnStart = 0;
            for (i32 j = 0; j < line.columns; ++j) {
                const LineBreak& segment = line.segments[j];
                i64 x;
                if (line.columns == 1) x = (blockWidth - segment.width) * horizontal / 2;
                else if (j == 0) x = 0;
                else x = columnStart + group.widths[j] - segment.width;
                columnStart += group.widths[j] + gap;
                Vec2F32 pen = {blockLeft + (f32)(x - segment.firstLeftEdge) * s, baseline};
                addTextLine(text, (i64)segment.start, (i64)segment.end, pen, depth, clipRect, style, 1, caret,
                            &tracker, target);
            }
            position = line.next;
        }
        if (group.last) break;
        position = group.next;
    }
    f32 top = firstBaseline + font->ascent * s;
    Rect block = {blockLeft, blockLeft + blockWidth * s, top - blockHeight * s, top};
    return finishTextLayout(&tracker, depth, clipRect, style, target, block);
}

TextLayoutResult addWrappedString(const FixedString& text, i32 anchor, Vec2F32 point, f32 depth,
                                  const Rect& clipRect, const TextStyle& style, const TextCaretInput& caret,
                                  const TextTarget& target) {
    TextSlice slice = {(const u8*)text.text, text.length};
    return addWrappedText(slice, anchor, point, depth, clipRect, style, caret, target);
}

TextLayoutResult addTextBox(TextSlice text, i32 anchor, f32 depth, const Rect& layoutRect, const Rect& clipRect,
                            const TextStyle& style, const TextCaretInput& caret, const TextTarget& target) {
    if (!usable(text, style, target)) return TextLayoutResult{};
    const FontRecord* font = target.font;
    i64 lineHeight = fontLineHeight(font);
    f32 s = style.size / (f32)lineHeight;
    f32 outline = style.size * style.outlineFraction;
    Rect box = {layoutRect.x0 + outline, layoutRect.x1 - outline, layoutRect.y0 + outline, layoutRect.y1 - outline};
    f32 widthUnits = (box.x1 - box.x0) / s, heightUnits = (box.y1 - box.y0) / s;
    if (!(widthUnits > -1.0e15f && widthUnits < 1.0e15f && heightUnits > -1.0e15f && heightUnits < 1.0e15f))
        return TextLayoutResult{};
    i64 maxWidth = (i64)widthUnits;
    i64 maxLines = heightUnits > 0 ? (i64)heightUnits / lineHeight : 0;

    // Measure: the lines that fit and the widest of them.
    i64 widest = 0;
    i64 lines = measureTextBox(text, maxWidth, maxLines, font, &widest);

    i32 horizontal = anchorHorizontal(anchor), vertical = anchorVertical(anchor);
    f32 boxWidth = box.x1 - box.x0;
    f32 blockWidth = widest * s, blockHeight = (f32)(lines * lineHeight) * s;
    f32 blockLeft = box.x0 + (boxWidth - blockWidth) * horizontal / 2;
    f32 blockTop = vertical == 2   ? box.y1
                   : vertical == 1 ? (box.y0 + box.y1) / 2 + blockHeight / 2
                                   : box.y0 + blockHeight;

    TextTracker tracker = makeTextTracker(text.length);
    i64 position = 0;
    for (i64 l = 0; l < lines; ++l) {
        LineBreak line = findLineBreak(text, position, 1, kTextTabMultiple, maxWidth, font);
        f32 x = blockLeft + ((f32)(widest - line.width) * horizontal / 2 - line.firstLeftEdge) * s;
        f32 baseline = blockTop - (f32)(l * lineHeight + font->ascent) * s;
        addTextLine(text, (i64)line.start, (i64)line.end, {x, baseline}, depth, clipRect, style, kTextTabMultiple,
                    caret, &tracker, target);
        position = (i64)line.end;
    }
    Rect block = {blockLeft, blockLeft + blockWidth, blockTop - blockHeight, blockTop};
    return finishTextLayout(&tracker, depth, clipRect, style, target, block);
}

i64 textBoxLineCount(TextSlice text, f32 width, const TextStyle& style, const FontRecord* font) {
    if (!font || text.length < 0 || (!text.text && text.length) || !(style.size > 0 && style.size < 1.0e6f)) return 0;
    f32 s = style.size / (f32)fontLineHeight(font);
    f32 widthUnits = (width - 2 * style.size * style.outlineFraction) / s;
    if (!(widthUnits > -1.0e15f && widthUnits < 1.0e15f)) return 0;
    // Every line but the last ends after at least one byte.
    i64 widest = 0;
    return measureTextBox(text, (i64)widthUnits, text.length + 1, font, &widest);
}

void wrapTextToWidth(TextSlice text, f32 maxWidth, const TextStyle& style, const FontRecord* font, ByteWriter* out) {
    if (text.length <= 0 || !text.text) return;
    f32 s = font && style.size > 0 && style.size < 1.0e6f ? style.size / (f32)fontLineHeight(font) : 0;
    f32 units = s > 0 ? maxWidth / s : 0;
    if (!(units >= 1 && units < 1.0e15f)) {
        appendBytes(text.text, text.length, out);
        return;
    }
    i64 maxUnits = (i64)units;
    for (i64 position = 0;;) {
        ColumnGroup group = measureGroup(text, position, font);
        i64 end = group.last ? text.length : group.next;
        if (groupWidth(group, font) <= maxUnits) {
            appendBytes(text.text + position, end - position, out);
        } else {
            // Tabs measure as blanks at a limited width; they are written as blanks too, so that the
            // pieces are laid out as they were measured.
            for (i64 at = position; at < end;) {
                LineBreak piece = findLineBreak(text, at, 0, kTextTabMultiple, maxUnits, font);
                i64 pieceEnd = (i64)piece.end;
                if (piece.code == kBreakNothingFits || pieceEnd <= at) {
                    // What takes no room of its own (blanks, carriage returns, bytes that are no
                    // character) and is wider than the width before the first character: a line of its
                    // own, then the characters.
                    i64 blanks = at;
                    for (i64 next = at; next < end;) {
                        i32 c = utf8DecodeNext(text.text, end, &next);
                        if (!(c == 32 || c == 160 || c == 9 || c == 13 || (c < 0 && c != kUtf8End))) break;
                        blanks = next;
                    }
                    if (blanks > at) {
                        for (i64 i = at; i < blanks; ++i) {
                            u8 byte = text.text[i] == '\t' ? (u8)' ' : text.text[i];
                            appendBytes(&byte, 1, out);
                        }
                        appendBytes("\n", 1, out);
                        at = blanks;
                        continue;
                    }
                    // A character wider than the width: the line as it is.
                    pieceEnd = at;
                    while (pieceEnd < end && text.text[pieceEnd++] != '\n') {}
                    appendBytes(text.text + at, pieceEnd - at, out);
                    at = pieceEnd;
                    continue;
                }
                for (i64 i = at; i < pieceEnd; ++i) {
                    u8 byte = text.text[i] == '\t' ? (u8)' ' : text.text[i];
                    appendBytes(&byte, 1, out);
                }
                bool lineEnded = piece.code == 10 || piece.code == kBreakEndOfText || piece.code == kBreakTruncated;
                if (!lineEnded) appendBytes("\n", 1, out);
                at = pieceEnd;
            }
        }
        if (group.last) break;
        position = group.next;
    }
}

FixedString cutTextInMiddle(const FixedString& text, i64 keepStart, f32 maxWidth, const TextStyle& style,
                            const FontRecord* font) {
    f32 s = font && style.size > 0 && style.size < 1.0e6f ? style.size / (f32)fontLineHeight(font) : 0;
    f32 units = s > 0 ? maxWidth / s : 0;
    if (!(units >= 0 && units < 1.0e15f)) return text;
    i64 maxUnits = (i64)units;
    auto lineWidth = [font](const FixedString& line) {
        TextSlice slice = {(const u8*)line.text, fixedStringLength(&line)};
        return findLineBreak(slice, 0, 1, kTextTabMultiple, kUnlimitedTextWidth, font).width;
    };
    if (lineWidth(text) <= maxUnits) return text;
    i64 length = fixedStringLength(&text);
    if (keepStart < 0) keepStart = 0;
    if (keepStart > length) keepStart = length;
    // The places where a character of the end part starts; the line narrows as its start moves right.
    i64 starts[kFixedStringCapacity + 1];
    i32 count = 0;
    for (i64 at = keepStart; at < length;) {
        starts[count++] = at;
        utf8DecodeNext((const u8*)text.text, length, &at);
    }
    starts[count++] = length;
    auto cutAt = [&](i64 from) {
        return buildFixedString([&](ByteWriter* out) {
            appendBytes(text.text, keepStart, out);
            appendCString("\xE2\x80\xA6", out);  // an ellipsis
            appendBytes(text.text + from, length - from, out);
        });
    };
    i32 low = 0, high = count - 1;  // the first start whose line fits lies in [low, high]
    while (low < high) {
        i32 middle = (low + high) / 2;
        if (lineWidth(cutAt(starts[middle])) <= maxUnits) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    // The end part starts after any blank that the cut left in front of it.
    i64 from = starts[low];
    while (from < length && text.text[from] == ' ') from++;
    return cutAt(from);
}
