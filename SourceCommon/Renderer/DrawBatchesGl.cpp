#include "SourceCommon/Renderer/DrawBatchesGl.h"

#include "Core/Profiler.h"
#include "SourceCommon/Renderer/GlConstants.h"

i64 rendererDrawCallCount = 0;

namespace {

constexpr i32 kFileBase = 300000;
#define GL_SITE ORVIK_GL_SITE(&renderer->debug, kFileBase)

using AttributeSpec = VertexAttribute;

constexpr AttributeSpec kColored2dAttributes[] = {{0, 3, false, 0}, {1, 2, true, 12}};
constexpr AttributeSpec kColored3dAttributes[] = {{0, 4, true, 0}, {1, 3, false, 16}};
constexpr AttributeSpec kColoredRectAttributes[] = {{0, 3, false, 0},  {1, 4, false, 12}, {2, 4, false, 28},
                                                    {3, 4, false, 44}, {4, 4, false, 60}, {5, 2, false, 76}};
constexpr AttributeSpec kLine2dAttributes[] = {{0, 4, false, 0}, {1, 2, false, 16}, {2, 2, true, 24}};
constexpr AttributeSpec kLine3dAttributes[] = {{0, 4, true, 0}, {1, 4, true, 16}};
constexpr AttributeSpec kVec4x4Attributes[] = {{0, 4, false, 0}, {1, 4, false, 16}, {2, 4, false, 32}, {3, 4, false, 48}};
constexpr AttributeSpec kTextured2dAttributes[] = {{0, 3, false, 0}, {1, 2, false, 12}, {2, 4, false, 20}};

template <i32 N>
constexpr i32 countOf(const AttributeSpec (&)[N]) {
    return N;
}

struct VertexObjects {
    GlUint vertexArray;
    GlUint buffers[2];
};

VertexObjects uploadVertices(Renderer* renderer, GlFunctionTable* gl, const void* vertices, i64 bytes, i32 stride,
                             const AttributeSpec* attributes, i32 attributeCount) {
    VertexObjects objects{};
    GL_SITE;
    gl->glGenVertexArrays(1, &objects.vertexArray);
    GL_SITE;
    gl->glBindVertexArray(objects.vertexArray);
    GL_SITE;
    gl->glGenBuffers(1, &objects.buffers[0]);
    GL_SITE;
    gl->glBindBuffer(kGlArrayBuffer, objects.buffers[0]);
    GL_SITE;
    gl->glBufferData(kGlArrayBuffer, (GlSizeiptr)bytes, vertices, kGlStaticDraw);
    pointVertexAttributes(renderer, gl, attributes, attributeCount, stride, 0);
    return objects;
}

void uploadIndices(Renderer* renderer, GlFunctionTable* gl, VertexObjects* objects, const u16* indices, i64 count) {
    GL_SITE;
    gl->glGenBuffers(1, &objects->buffers[1]);
    GL_SITE;
    gl->glBindBuffer(kGlElementArrayBuffer, objects->buffers[1]);
    GL_SITE;
    gl->glBufferData(kGlElementArrayBuffer, (GlSizeiptr)(count * 2), indices, kGlStaticDraw);
}

void deleteVertexObjects(Renderer* renderer, GlFunctionTable* gl, VertexObjects* objects) {
    GL_SITE;
    gl->glBindVertexArray(0);
    GL_SITE;
    gl->glDeleteVertexArrays(1, &objects->vertexArray);
    GlSizei count = objects->buffers[1] ? 2 : 1;
    GL_SITE;
    gl->glDeleteBuffers(count, objects->buffers);
}

void drawElements(Renderer* renderer, GlFunctionTable* gl, i64 indexCount) {
    GL_SITE;
    gl->glDrawElements(kGlTriangles, (GlSizei)indexCount, kGlUnsignedShort, nullptr);
    rendererDrawCallCount++;
}

// The common path of the indexed kinds.
template <typename Batch, i32 AttributeCount>
void drawIndexedBatch(Batch* batch, i32 programIndex, bool usesUniforms, bool backward, i32 triangleCapacity,
                      const AttributeSpec (&attributes)[AttributeCount], GlUint uniformBuffer, Renderer* renderer,
                      GlFunctionTable* gl) {
    const ShaderProgram* program = usableProgram(renderer, programIndex);
    // Counts beyond the arrays are a writer's fault; they are cut, never read past the batch.
    i32 vertexCount = batch->vertexCount < kBatchVertexCapacity ? batch->vertexCount : kBatchVertexCapacity;
    i32 triangleCount = batch->triangleCount < triangleCapacity ? batch->triangleCount : triangleCapacity;
    if (!program && vertexCount >= 1 && triangleCount >= 1) renderer->missingDraws++;
    if (program && vertexCount >= 1 && triangleCount >= 1) {
        useProgram(renderer, gl, program, uniformBuffer, usesUniforms);
        i32 stride = (i32)sizeof(batch->vertices[0]);
        VertexObjects objects = uploadVertices(renderer, gl, batch->vertices, (i64)vertexCount * stride, stride,
                                               attributes, AttributeCount);
        i64 indexCount = 3 * (i64)triangleCount;
        const u16* indices = backward ? batch->indices + 3 * (i64)triangleCapacity - indexCount : batch->indices;
        uploadIndices(renderer, gl, &objects, indices, indexCount);
        drawElements(renderer, gl, indexCount);
        deleteVertexObjects(renderer, gl, &objects);
    }
    batch->vertexCount = 0;
    batch->triangleCount = 0;
}

}  // namespace

void pointVertexAttributes(Renderer* renderer, GlFunctionTable* gl, const VertexAttribute* attributes, i32 count,
                           i32 stride, u64 byteOffset) {
    for (i32 i = 0; i < count; i++) {
        const VertexAttribute& a = attributes[i];
        const void* offset = (const void*)(std::intptr_t)(byteOffset + a.offset);
        if (a.integer) {
            GL_SITE;
            gl->glVertexAttribIPointer(a.location, a.size, kGlInt, stride, offset);
        } else {
            GL_SITE;
            gl->glVertexAttribPointer(a.location, a.size, kGlFloat, kGlFalse, stride, offset);
        }
        GL_SITE;
        gl->glEnableVertexAttribArray(a.location);
    }
}

const ShaderProgram* usableProgram(Renderer* renderer, i32 index) {
    const ShaderProgram* program = &renderer->shaders.programs[index];
    if (program->program == 0) return nullptr;
    return program;
}

void useProgram(Renderer* renderer, GlFunctionTable* gl, const ShaderProgram* program, GlUint uniformBuffer,
                bool usesUniforms) {
    GL_SITE;
    gl->glUseProgram(program->program);
    if (!usesUniforms) return;
    GL_SITE;
    GlUint index = gl->glGetUniformBlockIndex(program->program, "Uniforms");
    if (index != kGlInvalidIndex) {
        GL_SITE;
        gl->glUniformBlockBinding(program->program, index, 0);
    }
    GL_SITE;
    gl->glBindBufferBase(kGlUniformBuffer, 0, uniformBuffer);
}

bool assetPending(const Renderer* renderer, u32 asset) {
    if (asset >= (u32)kImageAssetCount) return false;
    const ImageAsset* entry = &renderer->ui.assets[asset];
    return entry->state < 2 || (entry->state == 2 && entry->image.error.length == 0);
}

void bindTexture(Renderer* renderer, GlFunctionTable* gl, ResolvedTexture texture) {
    GL_SITE;
    gl->glActiveTexture(kGlTexture0 + texture.unit);
    GL_SITE;
    gl->glBindTexture(kGlTexture2d, texture.texture);
}

ResolvedTexture resolveTextureKey(const Renderer* renderer, u32 key) {
    if ((key & 1) == 0) {
        u32 asset = key / 2;
        if (asset > (u32)kImageAssetCount) return {0, 0};
        return {renderer->assetTexture[asset], 0};
    }
    u32 id = (key - 1) / 2;
    if (id < 1 || id > (u32)kImageSlotCount) return {0, 0};
    u32 slot = id - 1;
    const ImageSlotTable* table = &renderer->ui.imageSlots;
    if (!(table->used[slot / 64] >> (slot % 64) & 1)) return {0, 0};
    const ImageSlot* image = &table->slots[slot];
    return {image->texture, image->format == ImageFormatElevationI16 ? 1u : 0u};
}

void drawColored2dBatch(Colored2dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    drawIndexedBatch(batch, ProgramColored2d, true, false, kColored2dTriangles, kColored2dAttributes, uniformBuffer,
                     renderer, gl);
}

void drawColored3dBatch(Colored3dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    drawIndexedBatch(batch, ProgramColored3d, true, false, kColored3dTriangles, kColored3dAttributes, uniformBuffer,
                     renderer, gl);
}

void drawColoredRectBatch(ColoredRectBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    drawIndexedBatch(batch, ProgramColoredRect, false, true, kColoredRectTriangles, kColoredRectAttributes,
                     uniformBuffer, renderer, gl);
}

void drawLine2dBatch(Line2dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    drawIndexedBatch(batch, ProgramLine2d, true, true, kLine2dTriangles, kLine2dAttributes, uniformBuffer, renderer, gl);
}

void drawLine3dBatch(Line3dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    drawIndexedBatch(batch, ProgramLine3d, true, false, kLine3dTriangles, kLine3dAttributes, uniformBuffer, renderer, gl);
}

void drawSdfBatch(SdfBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    (void)uniformBuffer;
    const ShaderProgram* program = usableProgram(renderer, ProgramSdf);
    u32 atlas = renderer->assetTexture[AssetFontSdf];
    i32 quads = batch->quadCount;
    if (quads > kSdfQuadCapacity) quads = kSdfQuadCapacity;
    if ((!program || !atlas) && quads >= 1) renderer->missingDraws++;
    if (program && atlas && quads >= 1) {
        useProgram(renderer, gl, program, 0, false);
        VertexObjects objects = uploadVertices(renderer, gl, batch->vertices, (i64)quads * 4 * sizeof(SdfVertex),
                                               sizeof(SdfVertex), kVec4x4Attributes, countOf(kVec4x4Attributes));
        uploadIndices(renderer, gl, &objects, renderer->quadIndices, (i64)quads * 6);
        bindTexture(renderer, gl, {atlas, 0});
        drawElements(renderer, gl, (i64)quads * 6);
        deleteVertexObjects(renderer, gl, &objects);
    }
    batch->quadCount = 0;
}

void drawTextured2dBatch(Textured2dBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    const ShaderProgram* program = usableProgram(renderer, ProgramTextured2d);
    i32 triangles = batch->triangleCount;
    if (triangles > kTextured2dTriangles) triangles = kTextured2dTriangles;
    if (!program && triangles >= 1) renderer->missingDraws++;
    if (program && triangles >= 1) {
        useProgram(renderer, gl, program, uniformBuffer, true);
        const Textured2dVertex* first = batch->vertices + 3 * (kTextured2dTriangles - triangles);
        VertexObjects objects = uploadVertices(renderer, gl, first, (i64)triangles * 3 * sizeof(Textured2dVertex),
                                               sizeof(Textured2dVertex), kTextured2dAttributes,
                                               countOf(kTextured2dAttributes));
        const u16* keys = batch->textureKey + (kTextured2dTriangles - triangles);
        i32 runStart = 0;
        while (runStart < triangles) {
            i32 runEnd = runStart + 1;
            while (runEnd < triangles && keys[runEnd] == keys[runStart]) runEnd++;
            ResolvedTexture texture = resolveTextureKey(renderer, keys[runStart]);
            if (texture.texture) {
                bindTexture(renderer, gl, texture);
                GL_SITE;
                gl->glDrawArrays(kGlTriangles, 3 * runStart, 3 * (runEnd - runStart));
                rendererDrawCallCount++;
            } else if ((keys[runStart] & 1) == 0 && assetPending(renderer, keys[runStart] / 2u)) {
                renderer->missingDraws++;
            }
            runStart = runEnd;
        }
        deleteVertexObjects(renderer, gl, &objects);
    }
    batch->triangleCount = 0;
}

void drawTexturedPerspectiveBatch(TexturedPerspectiveEntry* entries, i32* count, Renderer* renderer, GlFunctionTable* gl) {
    const ShaderProgram* program = usableProgram(renderer, ProgramTexturedPerspective);
    i32 total = *count;
    if (total > kTexturedPerspectiveEntries) total = kTexturedPerspectiveEntries;
    if (!program && total >= 1) renderer->missingDraws++;
    if (program && total >= 1) {
        static const u16 kQuad[6] = {0, 1, 2, 2, 3, 0};
        useProgram(renderer, gl, program, 0, false);
        for (i32 i = 0; i < total; i++) {
            const TexturedPerspectiveEntry* entry = &entries[i];
            u32 texture = 0;
            if (entry->kind == TexturedPerspectiveAsset) {
                if (entry->index <= (u32)kImageAssetCount) texture = renderer->assetTexture[entry->index];
            } else if (entry->kind == TexturedPerspectiveSlot) {
                texture = resolveTextureKey(renderer, slotTextureKey(entry->index)).texture;
                if (entry->index < 1 || entry->index > (u32)kImageSlotCount) texture = 0;
            }
            if (!texture) {
                if (entry->kind == TexturedPerspectiveAsset && assetPending(renderer, entry->index)) renderer->missingDraws++;
                continue;
            }
            VertexObjects objects = uploadVertices(renderer, gl, entry->v, sizeof(entry->v), sizeof(TexturedPerspectiveVertex),
                                                   kVec4x4Attributes, countOf(kVec4x4Attributes));
            uploadIndices(renderer, gl, &objects, kQuad, 6);
            bindTexture(renderer, gl, {texture, 0});
            drawElements(renderer, gl, 6);
            deleteVertexObjects(renderer, gl, &objects);
        }
    }
    *count = 0;
}

static u32 retainedPrograms(const RetainedDrawList* list) {
    u32 programs = 0;
    for (i32 i = 0; i < list->count && i < kRetainedDrawCapacity; i++) {
        programs |= 1u << (list->draws[i].kind == RetainedFills ? ProgramMapFill : ProgramMapLine);
    }
    return programs;
}

u32 programsDrawnBy(const DrawBatches* b) {
    auto bit = [](i32 program, bool used) { return used ? u32(1) << program : 0u; };
    return bit(ProgramColored3d, b->colored3d.triangleCount > 0) | bit(ProgramLine3d, b->line3d.triangleCount > 0) |
           bit(ProgramTextured2d, b->textured2dUnder.triangleCount > 0 || b->textured2dMiddle.triangleCount > 0 ||
                                      b->textured2d.triangleCount > 0) |
           bit(ProgramColored2d, b->colored2d.triangleCount > 0) |
           bit(ProgramColoredRect, b->coloredRectUnder.triangleCount > 0 || b->coloredRect.triangleCount > 0) |
           bit(ProgramLine2d, b->line2dUnder.triangleCount > 0 || b->line2d.triangleCount > 0) |
           bit(ProgramTexturedPerspective, b->texturedPerspective.count > 0) | bit(ProgramSdf, b->sdf.quadCount > 0) |
           bit(ProgramMapLine, b->mapLines.count > 0) | bit(ProgramTextured2d, b->mapIcons.count > 0) |
           retainedPrograms(&b->retained);
}

void drawAllBatches(Renderer* renderer, GlFunctionTable* gl) {
    DrawBatches* b = &renderer->ui.batches;
    renderer->missingDraws = 0;
    GL_SITE;
    gl->glClear(kGlColorBufferBit | kGlDepthBufferBit);
    GlUint uniformBuffer = 0;
    GL_SITE;
    gl->glGenBuffers(1, &uniformBuffer);
    GL_SITE;
    gl->glBindBuffer(kGlUniformBuffer, uniformBuffer);
    GL_SITE;
    gl->glBufferData(kGlUniformBuffer, sizeof(Uniforms), &renderer->ui.uniforms, kGlStaticDraw);

    drawColored3dBatch(&b->colored3d, uniformBuffer, renderer, gl);
    drawLine3dBatch(&b->line3d, uniformBuffer, renderer, gl);
    GL_SITE;
    gl->glClear(kGlDepthBufferBit);  // the 2-D layers never hide behind 3-D geometry
    drawTextured2dBatch(&b->textured2dUnder, uniformBuffer, renderer, gl);
    drawColored2dBatch(&b->colored2d, uniformBuffer, renderer, gl);
    drawColoredRectBatch(&b->coloredRectUnder, uniformBuffer, renderer, gl);
    drawLine2dBatch(&b->line2dUnder, uniformBuffer, renderer, gl);
    drawTextured2dBatch(&b->textured2dMiddle, uniformBuffer, renderer, gl);
    drawTexturedPerspectiveBatch(b->texturedPerspective.entries, &b->texturedPerspective.count, renderer, gl);
    drawColoredRectBatch(&b->coloredRect, uniformBuffer, renderer, gl);
    drawRetainedDraws(&b->retained, uniformBuffer, renderer, gl);
    drawSegmentBatch(&b->mapLines, uniformBuffer, renderer, gl);
    drawLine2dBatch(&b->line2d, uniformBuffer, renderer, gl);
    drawIconBatch(&b->mapIcons, uniformBuffer, renderer, gl);
    drawTextured2dBatch(&b->textured2d, uniformBuffer, renderer, gl);
    drawSdfBatch(&b->sdf, uniformBuffer, renderer, gl);

    GL_SITE;
    gl->glDeleteBuffers(1, &uniformBuffer);
}
