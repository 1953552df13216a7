// The renderer record: everything updateAndRender keeps between frames. It lives at the start of
// the application's memory, zero-filled at start and never freed.
#pragma once
#include "SourceCommon/Renderer/AssetReader.h"
#include "SourceCommon/Renderer/GlDebug.h"
#include "SourceCommon/Renderer/UiState.h"

struct Platform;
struct AppState;

constexpr i32 kQuadIndexCapacity = kSdfQuadCapacity;
// Two mipmap levels below the largest texture made on the processor (a 2048 x 2048 RGB image); the
// levels of larger ones are left to GL.
constexpr i64 kMipmapScratchBytes = 4000000;

// The uniforms that place a map program's draw (map_line, map_fill), looked up again whenever the
// program is rebuilt.
struct MapUniformLocations {
    u32 program;  // the GL program they belong to
    i32 offset, scale, centre, wrap, depth;
};

// The per-frame application step that fills the batches.
using ApplicationUpdateFunction = void (*)(Platform* platform, UiState* ui, AppState* app);

struct Renderer {
    u32 initialised;  // 0 until the first frame's set-up has run
    ShaderSet shaders;
    FixedString glslHeader;  // put in front of every shader source
    u8 logBuffer[kRendererLogCapacity];
    UiState ui;
    u16 quadIndices[kQuadIndexCapacity * 6];  // quad q: 4q, 4q+1, 4q+2, 4q+2, 4q+3, 4q
    u32 quadIndexBuffer;  // the quad indices as a GL buffer, made on first use by the map batches
    void* fontInfoRequest;
    u32 assetTexture[kImageAssetCount + 1];  // GL texture names by asset index; the last is never filled
    u8* assetPixels[kImageAssetCount];
    u8* assetLevels[kImageAssetCount];  // the mipmap levels below each, made when it was decoded; null: none
    u32 assetLoadCursor;  // first asset of the current load window
    AssetLoad assetLoads[kAssetLoadsAtOnce];
    u64 imageMemoryUsed;  // 8-byte units of the image memory
    GlDebugLog debug;
    AssetReader assetReader;  // set on the first frame unless a test installed one
    ApplicationUpdateFunction update;  // start-up installs the application update, a test harness its own; null: none
    u8* imageMemory;  // kImageMemoryBytes, a bump area for decoded asset pixels
    // Draws of the last frame left out because their shader program, the font atlas or an image
    // asset's texture was not ready yet (assets that failed to load do not count), and whether that
    // frame was complete: the font record in and nothing left out.
    i32 missingDraws;
    u32 frameComplete;
    MapUniformLocations mapUniforms[2];  // map_line, map_fill
    u8 mipmapScratch[kMipmapScratchBytes];  // the levels below a texture's base while they are uploaded
};
