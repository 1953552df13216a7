// The renderer's entry points as the main loop calls them: one frame of the application and its
// drawing, and the GL function table's loader.
#pragma once
#include "Platform/Platform.h"
#include "SourceCommon/Renderer/ApplicationMemory.h"

// One frame: lets the application fill the batches, uploads what became ready, checks shaders and
// image assets, and draws the batches in their fixed order. Needs a current GL context.
void updateAndRender(Platform* platform, ApplicationMemory* memory, GlFunctionTable* gl, i32 width, i32 height,
                     i32 contextValid, ByteWriter* platformMessage, i32 debugContext);

// The application's per-frame update.
void updateApp(Platform* platform, UiState* ui, AppState* app);
// The application's last step when the window has closed, before the file thread finishes its jobs:
// queues the saves of what the last frame changed.
void finishApp(Platform* platform, AppState* app);

// Resolves every entry of the table by name, then clears the optional entries (glDebugMessageCallback,
// glClipControl) that the context's version and extensions do not promise.
GlFunctionTable* loadOpenGlFunctions(GlFunctionTable* table, GlGetProcFunction getProc);

// Whether the current context offers an optional feature, from its version and extension list.
bool glContextHasDebugOutput(GlFunctionTable* gl);
bool glContextHasClipControl(GlFunctionTable* gl);
