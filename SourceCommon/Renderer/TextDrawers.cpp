#include "SourceCommon/Renderer/TextDrawers.h"

namespace {

TextSlice sliceOf(const FixedString& text) { return {(const u8*)text.text, text.length}; }

TextCaretInput caretAtStart() { return {0, 0, {0, 0}}; }

}  // namespace

TextTarget uiTextTarget(UiState* ui) {
    return {usableFontRecord(ui->fontInfo), &ui->batches.sdf, &ui->batches.coloredRect, ui->halfWidth,
            ui->halfHeight};
}

TextLayoutResult drawTextAt(UiState* ui, const FixedString& text, i32 anchor, Vec2F32 point, f32 depth,
                            const Rect& clipRect, const TextStyle& style) {
    return addWrappedText(sliceOf(text), anchor, point, depth, clipRect, style, noTextCaret(), uiTextTarget(ui));
}

TextLayoutResult drawTextChecked(UiState* ui, TextSlice text, i32 anchor, Vec2F32 point, f32 depth,
                                 const Rect& clipRect, const TextStyle& style) {
    return addWrappedText(text, anchor, point, depth, clipRect, style, noTextCaret(), uiTextTarget(ui));
}

TextLayoutResult drawTextInRect(UiState* ui, const FixedString& text, i32 anchor, f32 depth, const Rect& layoutRect,
                                const Rect& clipRect, const TextStyle& style, const TextCaretInput& caret) {
    return addTextBox(sliceOf(text), anchor, depth, layoutRect, clipRect, style, caret, uiTextTarget(ui));
}

TextLayoutResult drawTextInRectAt(UiState* ui, const FixedString& text, i32 anchor, f32 depth,
                                  const Rect& layoutRect, const Rect& clipRect, const TextStyle& style) {
    return drawTextInRect(ui, text, anchor, depth, layoutRect, clipRect, style, caretAtStart());
}

TextLayoutResult drawLabelInRect(UiState* ui, const FixedString& text, i32 anchor, f32 depth, const Rect& rect,
                                 const TextStyle& style) {
    return drawTextInRect(ui, text, anchor, depth, rect, rect, style, caretAtStart());
}

TextLayoutResult drawCharsInRect(UiState* ui, TextSlice text, i32 anchor, f32 depth, const Rect& layoutRect,
                                 const Rect& clipRect, const TextStyle& style) {
    return addTextBox(text, anchor, depth, layoutRect, clipRect, style, noTextCaret(), uiTextTarget(ui));
}

TextLayoutResult drawTextCheckedAlt(UiState* ui, TextSlice text, i32 anchor, f32 depth, const Rect& rect,
                                    const TextStyle& style) {
    return addTextBox(text, anchor, depth, rect, rect, style, noTextCaret(), uiTextTarget(ui));
}
