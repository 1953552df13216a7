// The frame context that the renderer hands to the application update and to every screen: the
// window's sizes, the uniform block, the font, the image assets and slots, the renderer log and the
// draw batches with the geometry slots they draw from.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/ImageSlots.h"
#include "SourceCommon/Renderer/DrawBatches.h"
#include "SourceCommon/Renderer/ImageAssets.h"
#include "SourceCommon/Renderer/Shaders.h"

constexpr i64 kRendererLogCapacity = 65534;
constexpr u64 kImageMemoryBytes = 20000000;

// Image formats of slots and of textured_2d vertices.
enum ImageFormat : u32 {
    ImageFormatGrey = 1,
    ImageFormatTwoBytes = 2,
    ImageFormatRgb = 3,
    ImageFormatRgba = 4,
    ImageFormatNv12 = 12,
    ImageFormatElevationI16 = 37316,
    ImageFormatElevationF32 = 37332,
};

struct UiState {
    i32 width;   // window client size in pixels
    i32 height;
    f32 halfWidth;
    f32 halfHeight;
    Rect screenRect;  // {0, width, 0, height}, origin bottom-left
    Rect safeRect;    // screenRect less the platform's screen insets
    u8 clearColor[3]; // red, green, blue; written by the application
    Uniforms uniforms;
    const u8* fontInfo;  // the font record once loaded, else null
    ImageAsset assets[kImageAssetCount];
    ImageSlotTable imageSlots;
    GeometrySlotTable geometrySlots;
    ByteWriter rendererLog;  // the previous frame's renderer messages while the application runs
    u64 imageMemoryUsedBytes;
    u64 imageMemoryCapacity;
    DrawBatches batches;
};
