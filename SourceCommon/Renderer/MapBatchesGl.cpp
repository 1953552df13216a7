// The map batches, drawn in quads from the renderer's one buffer of quad indices (a software GL
// driver spends per instance what a quad of four vertices costs it several times over): segments
// and icons uploaded once a frame, and the retained geometry, whose buffers are made once from their
// slots and drawn each frame in place, moved by uniforms.
#include <cstdint>

#include "SourceCommon/Renderer/DrawBatchesGl.h"
#include "SourceCommon/Renderer/GlConstants.h"

namespace {

constexpr i32 kFileBase = 500000;
#define GL_SITE ORVIK_GL_SITE(&renderer->debug, kFileBase)

// Bytes of new geometry slots made in one frame, beyond the first slot, which is always made.
constexpr u64 kGeometryUploadBytesPerFrame = 8u << 20;

constexpr VertexAttribute kSegmentAttributes[] = {{0, 4, false, 0}, {1, 1, false, 16}, {2, 1, true, 20}, {3, 1, false, 24}};
constexpr VertexAttribute kFillAttributes[] = {{0, 3, false, 0}, {1, 1, true, 12}};
constexpr VertexAttribute kIconAttributes[] = {{0, 3, false, 0}, {1, 2, false, 12}};

template <i32 N>
void pointAttributes(Renderer* renderer, GlFunctionTable* gl, const VertexAttribute (&attributes)[N], i32 stride,
                     u64 byteOffset) {
    pointVertexAttributes(renderer, gl, attributes, N, stride, byteOffset);
}

struct FrameObjects {
    GlUint vertexArray;
    GlUint buffer;  // the frame's own vertices, 0 for retained geometry
};

// A vertex array with the shared quad indices bound, and the frame's vertices when given.
FrameObjects makeVertexArray(Renderer* renderer, GlFunctionTable* gl, const void* data, u64 bytes) {
    FrameObjects objects{};
    GL_SITE;
    gl->glGenVertexArrays(1, &objects.vertexArray);
    GL_SITE;
    gl->glBindVertexArray(objects.vertexArray);
    if (!renderer->quadIndexBuffer) {
        GL_SITE;
        gl->glGenBuffers(1, &renderer->quadIndexBuffer);
        GL_SITE;
        gl->glBindBuffer(kGlElementArrayBuffer, renderer->quadIndexBuffer);
        GL_SITE;
        gl->glBufferData(kGlElementArrayBuffer, sizeof(renderer->quadIndices), renderer->quadIndices, kGlStaticDraw);
    }
    GL_SITE;
    gl->glBindBuffer(kGlElementArrayBuffer, renderer->quadIndexBuffer);
    if (data) {
        GL_SITE;
        gl->glGenBuffers(1, &objects.buffer);
        GL_SITE;
        gl->glBindBuffer(kGlArrayBuffer, objects.buffer);
        GL_SITE;
        gl->glBufferData(kGlArrayBuffer, (GlSizeiptr)bytes, data, kGlStreamDraw);
    }
    return objects;
}

void deleteFrameObjects(Renderer* renderer, GlFunctionTable* gl, FrameObjects* objects) {
    GL_SITE;
    gl->glBindVertexArray(0);
    GL_SITE;
    gl->glDeleteVertexArrays(1, &objects->vertexArray);
    if (objects->buffer) {
        GL_SITE;
        gl->glDeleteBuffers(1, &objects->buffer);
    }
}

// Quads first .. first + count - 1 of the bound vertices, in runs the quad indices reach.
template <i32 N>
void drawQuads(Renderer* renderer, GlFunctionTable* gl, const VertexAttribute (&attributes)[N], i32 vertexBytes, u64 first,
               u64 count) {
    while (count > 0) {
        u64 quads = count < (u64)kQuadIndexCapacity ? count : (u64)kQuadIndexCapacity;
        pointAttributes(renderer, gl, attributes, vertexBytes, first * 4 * vertexBytes);
        GL_SITE;
        gl->glDrawElements(kGlTriangles, (GlSizei)(quads * 6), kGlUnsignedShort, nullptr);
        rendererDrawCallCount++;
        first += quads;
        count -= quads;
    }
}

void scissorTo(Renderer* renderer, GlFunctionTable* gl, const Rect& crop) {
    i32 x0 = (i32)crop.x0, y0 = (i32)crop.y0;
    i32 x1 = (i32)(crop.x1 + 0.999f), y1 = (i32)(crop.y1 + 0.999f);
    GL_SITE;
    gl->glScissor(x0, y0, x1 > x0 ? x1 - x0 : 0, y1 > y0 ? y1 - y0 : 0);
}

// The placement uniforms of a map program, looked up once per build of the program.
const MapUniformLocations* mapUniformsOf(Renderer* renderer, GlFunctionTable* gl, const ShaderProgram* program,
                                         i32 which) {
    MapUniformLocations* u = &renderer->mapUniforms[which];
    if (u->program != program->program) {
        u->program = program->program;
        GL_SITE;
        u->offset = gl->glGetUniformLocation(program->program, "mapOffset");
        GL_SITE;
        u->scale = gl->glGetUniformLocation(program->program, "mapScale");
        GL_SITE;
        u->centre = gl->glGetUniformLocation(program->program, "mapCentre");
        GL_SITE;
        u->wrap = gl->glGetUniformLocation(program->program, "mapWrap");
        GL_SITE;
        u->depth = gl->glGetUniformLocation(program->program, "mapDepth");
    }
    return u;
}

void setPlacement(Renderer* renderer, GlFunctionTable* gl, const MapUniformLocations* u, f32 offsetX, f32 offsetY,
                  f32 scale, f32 centreX, f32 centreY, f32 wrap, f32 depth) {
    GL_SITE;
    gl->glUniform2f(u->offset, offsetX, offsetY);
    GL_SITE;
    gl->glUniform1f(u->scale, scale);
    GL_SITE;
    gl->glUniform2f(u->centre, centreX, centreY);
    GL_SITE;
    gl->glUniform1f(u->wrap, wrap);
    GL_SITE;
    gl->glUniform1f(u->depth, depth);
}

const GeometrySlot* geometrySlot(Renderer* renderer, i32 id) {
    if (id < 1 || id > kGeometrySlotCount) return nullptr;
    u32 s = (u32)id - 1;
    const GeometrySlotTable* table = &renderer->ui.geometrySlots;
    if (!(table->used[s / 64] >> (s % 64) & 1)) return nullptr;
    return &table->slots[s];
}

void drawRetainedKind(RetainedDrawList* list, u32 kind, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    i32 count = list->count < kRetainedDrawCapacity ? list->count : kRetainedDrawCapacity;
    bool any = false;
    for (i32 i = 0; i < count && !any; i++) any = list->draws[i].kind == kind && list->draws[i].count > 0;
    if (!any) return;
    const ShaderProgram* program = usableProgram(renderer, kind == RetainedFills ? ProgramMapFill : ProgramMapLine);
    if (!program) {
        renderer->missingDraws++;
        return;
    }
    useProgram(renderer, gl, program, uniformBuffer, true);
    const MapUniformLocations* u = mapUniformsOf(renderer, gl, program, kind == RetainedFills ? 1 : 0);
    FrameObjects objects = makeVertexArray(renderer, gl, nullptr, 0);
    GL_SITE;
    gl->glEnable(kGlScissorTest);
    for (i32 i = 0; i < count; i++) {
        const RetainedDraw* d = &list->draws[i];
        if (d->kind != kind || d->count == 0) continue;
        const GeometrySlot* slot = geometrySlot(renderer, d->slot);
        if (!slot || slot->releaseRequested) continue;
        if (!slot->buffer) {
            renderer->missingDraws++;  // made on a later frame
            continue;
        }
        GL_SITE;
        gl->glBindBuffer(kGlArrayBuffer, slot->buffer);
        setPlacement(renderer, gl, u, d->offsetX, d->offsetY, d->scale, d->centreX, d->centreY, d->wrap ? 1.0f : 0.0f,
                     d->depth);
        scissorTo(renderer, gl, d->crop);
        if (kind == RetainedFills) {
            pointAttributes(renderer, gl, kFillAttributes, sizeof(FillVertex), 0);
            GL_SITE;
            gl->glDrawArrays(kGlTriangles, (GlInt)d->first, (GlSizei)d->count);
            rendererDrawCallCount++;
        } else {
            drawQuads(renderer, gl, kSegmentAttributes, sizeof(SegmentVertex), d->first, d->count);
        }
    }
    GL_SITE;
    gl->glDisable(kGlScissorTest);
    deleteFrameObjects(renderer, gl, &objects);
}

}  // namespace

void drawRetainedDraws(RetainedDrawList* list, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    // The fills first: an overlay's lines lie over its polygons.
    drawRetainedKind(list, RetainedFills, uniformBuffer, renderer, gl);
    drawRetainedKind(list, RetainedLines, uniformBuffer, renderer, gl);
    list->count = 0;
}

void drawSegmentBatch(SegmentBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    i32 count = batch->count < kMapSegmentCapacity ? batch->count : kMapSegmentCapacity;
    const ShaderProgram* program = usableProgram(renderer, ProgramMapLine);
    if (!program && count >= 1) renderer->missingDraws++;
    if (program && count >= 1) {
        useProgram(renderer, gl, program, uniformBuffer, true);
        setPlacement(renderer, gl, mapUniformsOf(renderer, gl, program, 0), 0, 0, 1, 0, 0, 0, 0);
        FrameObjects objects = makeVertexArray(renderer, gl, batch->vertices, (u64)count * 4 * sizeof(SegmentVertex));
        drawQuads(renderer, gl, kSegmentAttributes, sizeof(SegmentVertex), 0, (u64)count);
        deleteFrameObjects(renderer, gl, &objects);
    }
    batch->count = 0;
}

void drawIconBatch(IconBatch* batch, GlUint uniformBuffer, Renderer* renderer, GlFunctionTable* gl) {
    i32 count = batch->count < kMapIconCapacity ? batch->count : kMapIconCapacity;
    const ShaderProgram* program = usableProgram(renderer, ProgramTextured2d);
    if (!program && count >= 1) renderer->missingDraws++;
    if (program && count >= 1) {
        useProgram(renderer, gl, program, uniformBuffer, true);
        FrameObjects objects = makeVertexArray(renderer, gl, batch->vertices, (u64)count * 4 * sizeof(IconVertex));
        // The image information of every icon: a plain picture (the size is not read for those).
        GL_SITE;
        gl->glDisableVertexAttribArray(2);
        GL_SITE;
        gl->glVertexAttrib4f(2, 1, 1, 0, (f32)4);
        GL_SITE;
        gl->glEnable(kGlScissorTest);
        i32 runStart = 0;
        while (runStart < count) {
            i32 runEnd = runStart + 1;
            u16 key = batch->textureKey[runStart];
            u8 crop = batch->crop[runStart];
            while (runEnd < count && batch->textureKey[runEnd] == key && batch->crop[runEnd] == crop) runEnd++;
            ResolvedTexture texture = resolveTextureKey(renderer, key);
            if (texture.texture && texture.unit == 0 && crop < batch->cropCount && crop < kMapIconCrops) {
                bindTexture(renderer, gl, texture);
                scissorTo(renderer, gl, batch->crops[crop]);
                drawQuads(renderer, gl, kIconAttributes, sizeof(IconVertex), (u64)runStart, (u64)(runEnd - runStart));
            } else if ((key & 1) == 0 && assetPending(renderer, key / 2u)) {
                renderer->missingDraws++;
            }
            runStart = runEnd;
        }
        GL_SITE;
        gl->glDisable(kGlScissorTest);
        deleteFrameObjects(renderer, gl, &objects);
    }
    batch->count = 0;
    batch->cropCount = 0;
}

void uploadGeometrySlots(Renderer* renderer, GlFunctionTable* gl) {
    GeometrySlotTable* table = &renderer->ui.geometrySlots;
    u64 uploaded = 0;
    for (i32 s = 0; s < kGeometrySlotCount; s++) {
        u64 bit = u64(1) << (s % 64);
        if (!(table->used[s / 64] & bit)) continue;
        GeometrySlot* slot = &table->slots[s];
        if (slot->releaseRequested) {
            if (slot->buffer) {
                GL_SITE;
                gl->glDeleteBuffers(1, &slot->buffer);
            }
            *slot = GeometrySlot{};
            table->used[s / 64] &= ~bit;
        } else if (!slot->buffer && slot->data && slot->bytes > 0 &&
                   (uploaded == 0 || uploaded + slot->bytes <= kGeometryUploadBytesPerFrame)) {
            GL_SITE;
            gl->glGenBuffers(1, &slot->buffer);
            GL_SITE;
            gl->glBindBuffer(kGlArrayBuffer, slot->buffer);
            GL_SITE;
            gl->glBufferData(kGlArrayBuffer, (GlSizeiptr)slot->bytes, slot->data, kGlStaticDraw);
            uploaded += slot->bytes;
        }
    }
}
