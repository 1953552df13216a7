// The renderer's entry points as the main loop calls them: one frame of the application and its
// drawing, and the GL function table's loader.
#pragma once
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/RendererState.h"

struct AppState;  // the application's state: the renderer hands it to renderer->update untouched

// One frame: lets the application fill the batches (renderer->update with app; nothing when it is
// null), uploads what became ready, checks shaders and image assets, and draws the batches in their
// fixed order. imageMemory (kImageMemoryBytes) holds decoded asset pixels for the whole run;
// glslHeader is put in front of every shader source on the first frame (empty: "#version 330
// core\n"). Needs a current GL context.
void updateAndRender(Platform* platform, Renderer* renderer, AppState* app, u8* imageMemory, FixedString glslHeader,
                     GlFunctionTable* gl, i32 width, i32 height, i32 contextValid, ByteWriter* platformMessage,
                     i32 debugContext);

// Resolves every entry of the table by name, then clears the optional entries (glDebugMessageCallback,
// glClipControl) that the context's version and extensions do not promise.
GlFunctionTable* loadOpenGlFunctions(GlFunctionTable* table, GlGetProcFunction getProc);

// Whether the current context offers an optional feature, from its version and extension list.
// At the program's end: frees the joined bytes that the image-asset loads still hold.
void releaseRendererBuffers(Renderer* renderer);
bool glContextHasDebugOutput(GlFunctionTable* gl);
bool glContextHasClipControl(GlFunctionTable* gl);
