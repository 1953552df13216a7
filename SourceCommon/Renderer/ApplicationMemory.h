// The application's part of the state block: the renderer record first, then the application state,
// then the image memory that holds decoded asset pixels for the whole run. Every subsystem's
// long-lived records join the application state.
#pragma once
#include "SourceCommon/Renderer/AppState.h"
#include "SourceCommon/Renderer/RendererState.h"

struct ApplicationMemory {
    FixedString glslHeader;  // written by start-up ("#version 330 core\n"); the renderer takes it on its first frame
    Renderer renderer;
    AppState app;
    alignas(64) u8 imageMemory[kImageMemoryBytes];
};
