// The text drawers of screens and widgets: layouts into the frame's sdf batch, with selection
// highlights in the user-interface colored_rect batch. With no usable font record loaded they draw
// nothing and return an all-zero result.
#pragma once
#include "SourceCommon/Renderer/TextLayout.h"
#include "SourceCommon/Renderer/UiState.h"

// The frame's font, glyph batch, highlight batch and half window sizes.
TextTarget uiTextTarget(UiState* ui);

// Placed at a point by an anchor; lines end only at newlines; no caret, no pointer.
TextLayoutResult drawTextAt(UiState* ui, const FixedString& text, i32 anchor, Vec2F32 point, f32 depth,
                            const Rect& clipRect, const TextStyle& style);
TextLayoutResult drawTextChecked(UiState* ui, TextSlice text, i32 anchor, Vec2F32 point, f32 depth,
                                 const Rect& clipRect, const TextStyle& style);

// Wrapped inside a layout rectangle, clipped to a clip rectangle.
TextLayoutResult drawTextInRect(UiState* ui, const FixedString& text, i32 anchor, f32 depth, const Rect& layoutRect,
                                const Rect& clipRect, const TextStyle& style, const TextCaretInput& caret);
TextLayoutResult drawTextInRectAt(UiState* ui, const FixedString& text, i32 anchor, f32 depth,
                                  const Rect& layoutRect, const Rect& clipRect, const TextStyle& style);
TextLayoutResult drawLabelInRect(UiState* ui, const FixedString& text, i32 anchor, f32 depth, const Rect& rect,
                                 const TextStyle& style);
TextLayoutResult drawCharsInRect(UiState* ui, TextSlice text, i32 anchor, f32 depth, const Rect& layoutRect,
                                 const Rect& clipRect, const TextStyle& style);
TextLayoutResult drawTextCheckedAlt(UiState* ui, TextSlice text, i32 anchor, f32 depth, const Rect& rect,
                                    const TextStyle& style);
