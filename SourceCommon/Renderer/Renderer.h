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

// Start-up before the GL context exists: the first frame's set-up and the read requests of the font
// record and every shader source, so that the file thread serves them while the window opens.
void prepareRenderer(Platform* platform, Renderer* renderer, u8* imageMemory, FixedString glslHeader);

// Reads the font atlas from the program's resources and decodes it into the image memory, for a
// thread of start-up's own while the window opens: the first frame then only uploads it. Touches the
// atlas's asset entry, its pixels and the image memory's fill alone; call it after prepareRenderer and
// join the thread before the first frame. Leaves the asset to the frames' loading when a part is
// missing.
void decodeFontAtlasFromResources(Renderer* renderer, u8* scratch, i64 scratchCapacity);

// Resolves every entry of the table by name, then clears the optional entries (glDebugMessageCallback,
// glClipControl) that the context's version and extensions do not promise.
GlFunctionTable* loadOpenGlFunctions(GlFunctionTable* table, GlGetProcFunction getProc);

// Whether the current context offers an optional feature, from its version and extension list.
// At the program's end: frees the joined bytes that the image-asset loads still hold.
void releaseRendererBuffers(Renderer* renderer);
bool glContextHasDebugOutput(GlFunctionTable* gl);
bool glContextHasClipControl(GlFunctionTable* gl);
