// The renderer's entry points as the main loop calls them. For now a frame only clears the window;
// the shader programs, batches and the application update take this place with the renderer.
#pragma once
#include "Platform/Platform.h"

// The renderer and application part of the state block.
struct ApplicationMemory {
    FixedString glslHeader;  // put in front of every shader source; written by start-up
};

// One frame of the application and its drawing, with a current GL context.
void updateAndRender(Platform* platform, ApplicationMemory* memory, GlFunctionTable* gl, i32 width, i32 height,
                     i32 contextValid, ByteWriter* platformMessage, i32 debugContext);

// Resolves every entry of the table by name.
GlFunctionTable* loadOpenGlFunctions(GlFunctionTable* table, GlGetProcFunction getProc);
