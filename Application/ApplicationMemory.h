// The application's part of the state block: the renderer record first, then the application state,
// then the image memory that holds decoded asset pixels for the whole run. Every subsystem's
// long-lived records join the application state.
#pragma once
#include "AppState/AppState.h"
#include "Application/AppUpdate.h"
#include "SourceCommon/Renderer/Renderer.h"

struct ApplicationMemory {
    FixedString glslHeader;  // written by start-up ("#version 330 core\n"); the renderer takes it on its first frame
    Renderer renderer;
    AppState app;
    alignas(64) u8 imageMemory[kImageMemoryBytes];
};

// Start-up's set-up of the block: the application update as the renderer's per-frame update.
inline void setUpApplicationMemory(ApplicationMemory* memory) { memory->renderer.update = updateApp; }

// One frame of the renderer over the block.
inline void updateAndRenderApplication(Platform* platform, ApplicationMemory* memory, GlFunctionTable* gl, i32 width,
                                       i32 height, i32 contextValid, ByteWriter* platformMessage, i32 debugContext) {
    updateAndRender(platform, &memory->renderer, &memory->app, memory->imageMemory, memory->glslHeader, gl, width,
                    height, contextValid, platformMessage, debugContext);
}
