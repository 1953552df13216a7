// Helpers of the text tests: the committed font record, zeroed batches and readers of glyph quads in
// window pixels.
#pragma once
#include <cstdlib>
#include <cstring>
#include <memory>

#include "SourceCommon/Renderer/TextLayout.h"

// The committed FONT_SDF_INFO.BIN, read once; null if it cannot be read.
const FontRecord* committedFontRecord();
// The glyph of a code point in the committed record.
const GlyphRecord* committedGlyph(i32 codepoint);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using ZeroedPtr = std::unique_ptr<T, FreeDeleter>;
template <typename T>
ZeroedPtr<T> makeZeroed() {
    return ZeroedPtr<T>((T*)std::calloc(1, sizeof(T)));
}

inline TextSlice textOf(const char* text) { return {(const u8*)text, (i64)std::strlen(text)}; }

// Window-pixel box of glyph quad q (left, right, bottom, top) for the given half sizes.
Rect quadBox(const SdfBatch* quads, i32 q, f32 halfWidth, f32 halfHeight);

// A style at a size, white mark, no outline.
TextStyle plainStyle(f32 size);
