// The draw function of each batch kind and the fixed draw order. Every draw function leaves its
// batch empty, also when it skips drawing (program not built, nothing to draw).
#pragma once
#include "Platform/GlFunctionTable.h"
#include "SourceCommon/Renderer/RendererState.h"

void drawColored2dBatch(Colored2dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawColored3dBatch(Colored3dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawColoredRectBatch(ColoredRectBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawLine2dBatch(Line2dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawLine3dBatch(Line3dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawSdfBatch(SdfBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawTextured2dBatch(Textured2dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawTexturedPerspectiveBatch(TexturedPerspectiveEntry* entries, i32* count, Renderer* renderer, GlFunctionTable* gl);

// The texture a textured_2d key names (0 for none) and the unit it is bound to.
struct ResolvedTexture {
    u32 texture;
    u32 unit;
};
ResolvedTexture resolveTextureKey(const Renderer* renderer, u32 key);

// One vertex attribute: its location, component count, whether it is read as integers, and its
// offset in the vertex.
struct VertexAttribute {
    u32 location;
    i32 size;
    bool integer;
    u32 offset;
};
// Points (and enables) the attributes at the bound array buffer's vertices from byteOffset on.
void pointVertexAttributes(Renderer* renderer, GlFunctionTable* gl, const VertexAttribute* attributes, i32 count,
                           i32 stride, u64 byteOffset);

// Shared by the draw functions: the program a batch draws with (null until built), putting it in
// use with the Uniforms block bound, binding a texture, and whether an asset's texture is still to
// come (as opposed to one that failed).
const ShaderProgram* usableProgram(Renderer* renderer, i32 index);
void useProgram(Renderer* renderer, GlFunctionTable* gl, const ShaderProgram* program, GlUint uniformBuffer,
                bool usesUniforms);
void bindTexture(Renderer* renderer, GlFunctionTable* gl, ResolvedTexture texture);
bool assetPending(const Renderer* renderer, u32 asset);

// The map batches and the retained geometry (MapBatchesGl.cpp).
void drawRetainedDraws(RetainedDrawList* list, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawSegmentBatch(SegmentBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
void drawIconBatch(IconBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl);
// Makes the buffers of new geometry slots (at least one a frame, more while the frame's bytes stay
// under a few megabytes) and deletes those whose release was asked.
void uploadGeometrySlots(Renderer* renderer, GlFunctionTable* gl);

// The shader programs (bit per ShaderProgramIndex) that the batches' contents would draw with.
u32 programsDrawnBy(const DrawBatches* batches);

// Clears, uploads the uniforms and draws the batches in their fixed order; counts in
// renderer->missingDraws what it had to leave out for a program or an asset texture not yet ready.
void drawAllBatches(Renderer* renderer, GlFunctionTable* gl);

// Counts the draw calls made since the counter was last reset (for tests of batching).
extern i64 rendererDrawCallCount;
