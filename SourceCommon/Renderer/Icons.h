// Icons: an image asset or dynamic image slot placed at a point by an anchor, at a width in pixels
// (the height follows the image's aspect ratio) and turned counter-clockwise by a fraction of a turn.
#pragma once
#include "SourceCommon/Renderer/TexturedQuads.h"
#include "SourceCommon/Renderer/UiState.h"

// kind: ImageKindAsset with an asset index, or ImageKindSlot with a slot id. An image without a
// size yet (not loaded, or zero width or height) draws nothing.
void drawIconAt(Vec2F32 point, f32 depth, i32 anchor, f64 rotationTurns, f32 width, const Rect& clipRect, u32 kind,
                u32 index, Textured2dBatch* batch, UiState* ui);

// An image's size and format by kind and index; false while it has no size (not loaded, or zero
// width or height).
bool iconImage(const UiState* ui, u32 kind, u32 index, u32* width, u32* height, u32* format);
// Where an anchor code (shared codes 0-8, any other as 2) puts the image's bottom-left corner from
// its point.
Vec2F32 iconAnchorOffset(i32 anchor, f32 width, f32 height);
