#include "SourceCommon/Renderer/Renderer.h"

namespace {
constexpr GlBitfield kGlColorBufferBit = 0x00004000;
}

void updateAndRender(Platform* platform, ApplicationMemory* memory, GlFunctionTable* gl, i32 width, i32 height,
                     i32 contextValid, ByteWriter* platformMessage, i32 debugContext) {
    (void)platform;
    (void)memory;
    (void)platformMessage;
    (void)debugContext;
    if (!contextValid || !gl->glViewport || !gl->glClearColor || !gl->glClear) return;
    gl->glViewport(0, 0, width, height);
    gl->glClearColor(0.08f, 0.09f, 0.10f, 1.0f);
    gl->glClear(kGlColorBufferBit);
}

GlFunctionTable* loadOpenGlFunctions(GlFunctionTable* table, GlGetProcFunction getProc) {
    void** entries = reinterpret_cast<void**>(table);
    for (i32 i = 0; i < kGlFunctionCount; i++) entries[i] = getProc(glFunctionNames[i]);
    return table;
}
