#include <cstdlib>
#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/Jpeg.h"
#include "Decoders/Png.h"
#include "Platform/Resources.h"
#include "SourceCommon/Renderer/DrawBatchesGl.h"
#include "SourceCommon/Renderer/FontRecord.h"
#include "SourceCommon/Renderer/GlConstants.h"
#include "SourceCommon/Renderer/Mipmaps.h"
#include "SourceCommon/Renderer/Renderer.h"

namespace {

constexpr i32 kFileBase = 400000;
#define GL_SITE ORVIK_GL_SITE(&renderer->debug, kFileBase)

constexpr u64 kImageMemoryUnits = kImageMemoryBytes / 8;
constexpr u64 kFontInfoMaxBytes = 900000;

struct TextureFormat {
    GlInt internalFormat;
    GlEnum format;
    GlEnum type;
    GlSizei width;
    GlSizei height;
    bool mipmapped;
    i32 bytesPerPixel;  // of the mipmapped formats
    i32 rowAlignment;   // the rows start on multiples of this many bytes
};

TextureFormat slotTextureFormat(const ImageSlot* slot) {
    GlSizei w = (GlSizei)slot->width;
    GlSizei h = (GlSizei)slot->height;
    switch (slot->format) {
        case ImageFormatTwoBytes: return {(GlInt)kGlR8, kGlRed, kGlUnsignedByte, w * 2, h, false, 1, 4};
        case ImageFormatRgb: return {(GlInt)kGlRgb8, kGlRgb, kGlUnsignedByte, w, h, true, 3, 4};
        case ImageFormatRgba: return {(GlInt)kGlRgba8, kGlRgba, kGlUnsignedByte, w, h, true, 4, 4};
        // A video picture's rows are packed tight, whatever its width.
        case ImageFormatNv12: return {(GlInt)kGlR8, kGlRed, kGlUnsignedByte, w, h * 3 / 2, false, 1, 1};
        case ImageFormatElevationI16: return {(GlInt)kGlR16i, kGlRedInteger, kGlShort, w, h, false, 2, 4};
        case ImageFormatElevationF32: return {(GlInt)kGlR32f, kGlRed, kGlFloat, w, h, false, 4, 4};
        default: return {(GlInt)kGlR8, kGlRed, kGlUnsignedByte, w, h, true, 1, 4};
    }
}

TextureFormat assetTextureFormat(const ImageResult* image) {
    GlSizei w = (GlSizei)image->width;
    GlSizei h = (GlSizei)image->height;
    switch (image->channels) {
        case 3: return {(GlInt)kGlRgb8, kGlRgb, kGlUnsignedByte, w, h, true, 3, 4};
        case 4: return {(GlInt)kGlRgba8, kGlRgba, kGlUnsignedByte, w, h, true, 4, 4};
        default: return {(GlInt)kGlR8, kGlRed, kGlUnsignedByte, w, h, true, 1, 4};
    }
}

// The levels below the bound texture's base: the ones made when it was decoded (levels, packed one
// after another), else made here on the processor where two of them fit the scratch area, else by
// GL. Here each level is made from the one above it, alternating between the start of the scratch
// area and the place after the first level below the base.
void uploadMipmaps(Renderer* renderer, GlFunctionTable* gl, const u8* base, const u8* levels, TextureFormat f) {
    i64 firstBytes = halvedImageBytes(f.width, f.height, f.bytesPerPixel);
    i64 secondBytes = halvedImageBytes(f.width > 1 ? f.width / 2 : 1, f.height > 1 ? f.height / 2 : 1, f.bytesPerPixel);
    if (!levels && (!base || f.width <= 0 || f.height <= 0 || firstBytes + secondBytes > kMipmapScratchBytes)) {
        GL_SITE;
        gl->glGenerateMipmap(kGlTexture2d);
        return;
    }
    // The base's rows start on multiples of four bytes, as GL reads them; the levels are packed.
    i32 stride = (f.width * f.bytesPerPixel + 3) & ~3;
    const u8* above = base;
    u8* areas[2] = {renderer->mipmapScratch, renderer->mipmapScratch + firstBytes};
    GL_SITE;
    gl->glPixelStorei(kGlUnpackAlignment, 1);
    i32 width = f.width;
    i32 height = f.height;
    for (i32 level = 1; width > 1 || height > 1; level++) {
        const u8* below = levels;
        if (levels) {
            levels += halvedImageBytes(width, height, f.bytesPerPixel);
        } else {
            halveImage(areas[(level - 1) & 1], above, width, height, stride, f.bytesPerPixel);
            below = areas[(level - 1) & 1];
        }
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
        GL_SITE;
        gl->glTexImage2D(kGlTexture2d, level, f.internalFormat, width, height, 0, f.format, f.type, below);
        above = below;
        stride = width * f.bytesPerPixel;
    }
    GL_SITE;
    gl->glPixelStorei(kGlUnpackAlignment, 4);
}

// Makes one clamped texture; 0 when GL gives no name.
u32 createTexture(Renderer* renderer, GlFunctionTable* gl, const void* pixels, const u8* levels, TextureFormat f) {
    GlUint texture = 0;
    GL_SITE;
    gl->glGenTextures(1, &texture);
    if (!texture) return 0;
    GL_SITE;
    gl->glBindTexture(kGlTexture2d, texture);
    GL_SITE;
    gl->glTexParameteri(kGlTexture2d, kGlTextureWrapS, (GlInt)kGlClampToEdge);
    GL_SITE;
    gl->glTexParameteri(kGlTexture2d, kGlTextureWrapT, (GlInt)kGlClampToEdge);
    GL_SITE;
    gl->glTexParameteri(kGlTexture2d, kGlTextureMinFilter, (GlInt)(f.mipmapped ? kGlLinearMipmapLinear : kGlNearest));
    GL_SITE;
    gl->glTexParameteri(kGlTexture2d, kGlTextureMagFilter, (GlInt)(f.mipmapped ? kGlLinear : kGlNearest));
    if (f.internalFormat == (GlInt)kGlR8) {
        // One-channel images sample as grey; the shaders that read raw bytes take the red channel.
        const GlInt grey[4] = {(GlInt)kGlRed, (GlInt)kGlRed, (GlInt)kGlRed, 1};
        GL_SITE;
        gl->glTexParameteriv(kGlTexture2d, kGlTextureSwizzleRgba, grey);
    }
    // GL's unpack alignment stays 4 between uploads, as most images' rows are.
    if (f.rowAlignment != 4) {
        GL_SITE;
        gl->glPixelStorei(kGlUnpackAlignment, f.rowAlignment);
    }
    GL_SITE;
    gl->glTexImage2D(kGlTexture2d, 0, f.internalFormat, f.width, f.height, 0, f.format, f.type, pixels);
    if (f.rowAlignment != 4) {
        GL_SITE;
        gl->glPixelStorei(kGlUnpackAlignment, 4);
    }
    if (f.mipmapped) uploadMipmaps(renderer, gl, (const u8*)pixels, levels, f);
    return texture;
}

void resetRendererLog(Renderer* renderer) {
    renderer->ui.rendererLog = makeByteWriter(renderer->logBuffer, kRendererLogCapacity);
}

FixedString assetPath(const char* name) {
    const void* arguments[2] = {kAssetsFolder, name};
    const u32 kinds[2] = {FormatArgCString, FormatArgCString};
    return formatString("@/@", arguments, kinds, 2);
}

void firstFrame(Renderer* renderer, FixedString glslHeader, Platform* platform) {
    fillShaderNames(&renderer->shaders);
    renderer->glslHeader = glslHeader.length ? glslHeader : makeString("#version 330 core\n");
    ImageAssetTable table = initImageAssets();
    std::memcpy(renderer->ui.assets, table.assets, sizeof(table.assets));
    for (i32 q = 0; q < kQuadIndexCapacity; q++) {
        u16* quad = &renderer->quadIndices[6 * q];
        u16 base = (u16)(4 * q);
        quad[0] = base;
        quad[1] = (u16)(base + 1);
        quad[2] = (u16)(base + 2);
        quad[3] = (u16)(base + 2);
        quad[4] = (u16)(base + 3);
        quad[5] = base;
    }
    if (!renderer->assetReader.request) renderer->assetReader = makeResourceAssetReader(platform);
    AssetReader* reader = &renderer->assetReader;
    renderer->fontInfoRequest = reader->request(reader->context, assetPath("font_sdf_info.bin"), kFontInfoMaxBytes, 0, nullptr);
    resetRendererLog(renderer);
    renderer->initialised = 1;
}

void setFrameSizes(Renderer* renderer, const Platform* platform, i32 width, i32 height) {
    UiState* ui = &renderer->ui;
    ui->width = width;
    ui->height = height;
    ui->halfWidth = (f32)width * 0.5f;
    ui->halfHeight = (f32)height * 0.5f;
    ui->screenRect = {0, (f32)width, 0, (f32)height};
    ui->safeRect = {(f32)platform->screenInsetLeft, (f32)width - (f32)platform->screenInsetRight,
                    (f32)platform->screenInsetBottom, (f32)height - (f32)platform->screenInsetTop};
    ui->uniforms.eye.halfWindowWidth = (f32)width * 0.5f;
    ui->uniforms.eye.halfWindowHeight = (f32)height * 0.5f;
}

void uploadImageSlots(Renderer* renderer, GlFunctionTable* gl) {
    ImageSlotTable* table = &renderer->ui.imageSlots;
    for (i32 s = 0; s < kImageSlotCount; s++) {
        u64 bit = u64(1) << (s % 64);
        if (!(table->used[s / 64] & bit)) continue;
        ImageSlot* slot = &table->slots[s];
        if (slot->releaseRequested) {
            if (slot->texture) {
                GL_SITE;
                gl->glDeleteTextures(1, &slot->texture);
                slot->texture = 0;
            }
            table->used[s / 64] &= ~bit;
        } else if (slot->texture == 0 && slot->width > 0 && slot->height > 0 && slot->pixels) {
            // One piece of a wider image (a tile of an elevation raster): its rows are the wider ones'.
            if (slot->rowLength) {
                GL_SITE;
                gl->glPixelStorei(kGlUnpackRowLength, (GlInt)slot->rowLength);
            }
            slot->texture = createTexture(renderer, gl, slot->pixels, nullptr, slotTextureFormat(slot));
            if (slot->rowLength) {
                GL_SITE;
                gl->glPixelStorei(kGlUnpackRowLength, 0);
            }
        }
    }
}

void uploadImageAssets(Renderer* renderer, GlFunctionTable* gl) {
    for (i32 i = 0; i < kImageAssetCount; i++) {
        const ImageAsset* asset = &renderer->ui.assets[i];
        if (renderer->assetTexture[i] != 0 || asset->image.width == 0 || asset->image.height == 0 ||
            asset->image.error.length != 0 || !renderer->assetPixels[i]) {
            continue;
        }
        renderer->assetTexture[i] = createTexture(renderer, gl, renderer->assetPixels[i], renderer->assetLevels[i],
                                                 assetTextureFormat(&asset->image));
    }
}

// Decodes one asset's bytes into the image memory.
void decodeAssetBytes(Renderer* renderer, i32 index, const u8* bytes, i64 length, FixedString path, u8* scratch,
                      i64 scratchCapacity) {
    ImageAsset* asset = &renderer->ui.assets[index];
    u8* bump = renderer->imageMemory + renderer->imageMemoryUsed * 8;
    i64 capacity = (i64)(kImageMemoryUnits - renderer->imageMemoryUsed) * 8;
    if (endsWithIgnoringCase(path.text, path.length, ".png")) {
        parsePng(&asset->image, bytes, length, bump, capacity, 0, 4, scratch, scratch ? scratchCapacity : 0);
    } else if (endsWithIgnoringCase(path.text, path.length, ".jpg") || endsWithIgnoringCase(path.text, path.length, ".jpeg")) {
        parseJpeg(&asset->image, bytes, length, bump, capacity, 0, 4);
    } else {
        asset->image = ImageResult{};
        asset->image.error = formatStr("Did not recognize the file extension of @", path);
    }
    if (asset->image.error.length == 0 && (asset->image.width == 0 || asset->image.height == 0)) {
        asset->image.error = formatIntInt("Width or Height is 0 (@x@)", asset->image.width, asset->image.height);
    }
    if (asset->image.error.length == 0) {
        renderer->assetPixels[index] = bump;
        renderer->imageMemoryUsed += ((u64)asset->image.rowStride * asset->image.height + 7) / 8;
        // The mipmap levels follow the image when they fit, made now rather than on upload.
        TextureFormat f = assetTextureFormat(&asset->image);
        i64 levelBytes = mipmapChainBytes(f.width, f.height, f.bytesPerPixel);
        if (levelBytes > 0 && levelBytes <= (i64)(kImageMemoryUnits - renderer->imageMemoryUsed) * 8) {
            u8* levels = renderer->imageMemory + renderer->imageMemoryUsed * 8;
            buildMipmapChain(levels, bump, f.width, f.height, (i32)asset->image.rowStride, f.bytesPerPixel);
            renderer->assetLevels[index] = levels;
            renderer->imageMemoryUsed += ((u64)levelBytes + 7) / 8;
        }
    }
}

void decodeAsset(Renderer* renderer, Platform* platform, i32 index, AssetLoad* load) {
    decodeAssetBytes(renderer, index, load->buffer, (i64)load->bytesRead, load->path, platform->scratch,
                     platform->scratch ? kScratchSize : 0);
    discardAssetLoadBuffer(load);
}

void reportImageAssets(Renderer* renderer) {
    ByteWriter* log = &renderer->ui.rendererLog;
    for (i32 i = 0; i < kImageAssetCount; i++) {
        const ImageAsset* asset = &renderer->ui.assets[i];
        if (asset->state == 2 && asset->image.error.length != 0) {
            appendCString("Image asset ", log);
            appendCString(asset->name, log);
            appendCString(" failed to parse with error: ", log);
            appendFixedStringRef(&asset->image.error, log);
            appendCString("\n", log);
        } else if (asset->state > 2) {
            appendCString("Image asset ", log);
            appendCString(asset->name, log);
            appendCString(" failed to load with code: ", log);
            appendInt64(asset->state, log);
            appendCString("\n", log);
        }
    }
}

void checkImageAssets(Renderer* renderer, Platform* platform) {
    AssetReader* reader = &renderer->assetReader;
    u32 cursor = renderer->assetLoadCursor;
    if (cursor < (u32)kImageAssetCount) {
        bool complete = true;
        for (u32 i = cursor; i < (u32)kImageAssetCount && i < cursor + kAssetLoadsAtOnce; i++) {
            ImageAsset* asset = &renderer->ui.assets[i];
            AssetLoad* load = &renderer->assetLoads[i - cursor];
            if (asset->state == 0) {
                discardAssetLoadBuffer(load);
                prepareAssetLoad(load, asset->name);
                joinAssetParts(load, reader);
                asset->state = (i32)load->status;
            } else if (asset->state == 1) {
                joinAssetParts(load, reader);
                asset->state = (i32)load->status;
            }
            if (asset->state < 2) {
                complete = false;
            } else if (asset->state == 2 && asset->image.width == 0 && asset->image.error.length == 0) {
                decodeAsset(renderer, platform, (i32)i, load);
            }
        }
        if (!complete) return;
        renderer->assetLoadCursor = cursor + kAssetLoadsAtOnce;
    }
    reportImageAssets(renderer);
}

void setUpGlState(Renderer* renderer, GlFunctionTable* gl, i32 width, i32 height) {
    ProfilingScope scope("GL Setup stuff");
    const UiState* ui = &renderer->ui;
    GL_SITE;
    gl->glViewport(0, 0, width, height);
    GL_SITE;
    gl->glEnable(kGlBlend);
    GL_SITE;
    gl->glBlendFunc(kGlSrcAlpha, kGlOneMinusSrcAlpha);
    GL_SITE;
    gl->glEnable(kGlCullFace);
    GL_SITE;
    gl->glCullFace(kGlBack);
    GL_SITE;
    gl->glFrontFace(kGlCcw);
    GL_SITE;
    gl->glEnable(kGlDepthTest);
    GL_SITE;
    gl->glDepthFunc(kGlGequal);
    if (!gl->glClipControl) appendCString("Clip Control extension not supported\n", &renderer->ui.rendererLog);
    GL_SITE;
    gl->glClearDepthf(0);
    GL_SITE;
    gl->glClearColor(ui->clearColor[0] / 255.0f, ui->clearColor[1] / 255.0f, ui->clearColor[2] / 255.0f, 1.0f);
}

}  // namespace

void prepareRenderer(Platform* platform, Renderer* renderer, u8* imageMemory, FixedString glslHeader) {
    renderer->imageMemory = imageMemory;
    if (!renderer->initialised) firstFrame(renderer, glslHeader, platform);
    requestShaderSources(&renderer->shaders, &renderer->glslHeader, &renderer->assetReader);
}

void decodeFontAtlasFromResources(Renderer* renderer, u8* scratch, i64 scratchCapacity) {
    ImageAsset* asset = &renderer->ui.assets[AssetFontSdf];
    if (asset->state != 0 || !renderer->imageMemory) return;
    AssetLoad load;
    prepareAssetLoad(&load, asset->name);
    const EmbeddedResource* parts[8] = {};
    i64 total = 0;
    if (load.partCount < 1 || load.partCount > 8) return;
    for (i32 p = 0; p < load.partCount; p++) {
        parts[p] = findResource(programResources(), load.partCount == 1 ? load.path : assetPartPath(load.path, p));
        if (!parts[p] || parts[p]->size == 0) return;  // left to the frames' loading, which reports it
        total += (i64)parts[p]->size;
    }
    u8* joined = (u8*)std::malloc((size_t)total);
    if (!joined) return;
    i64 at = 0;
    for (i32 p = 0; p < load.partCount; p++) {
        std::memcpy(joined + at, parts[p]->data, parts[p]->size);
        at += (i64)parts[p]->size;
    }
    decodeAssetBytes(renderer, AssetFontSdf, joined, total, load.path, scratch, scratchCapacity);
    std::free(joined);
    asset->state = 2;
}

void updateAndRender(Platform* platform, Renderer* renderer, AppState* app, u8* imageMemory, FixedString glslHeader,
                     GlFunctionTable* gl, i32 width, i32 height, i32 contextValid, ByteWriter* platformMessage,
                     i32 debugContext) {
    (void)platformMessage;
    if (!contextValid) return;  // nothing can be drawn without a context
    renderer->imageMemory = imageMemory;
    if (!renderer->initialised) firstFrame(renderer, glslHeader, platform);
    UiState* ui = &renderer->ui;
    AssetReader* reader = &renderer->assetReader;

    setFrameSizes(renderer, platform, width, height);
    if (renderer->fontInfoRequest && !ui->fontInfo) {
        AssetReadView font = reader->view(reader->context, renderer->fontInfoRequest);
        // A record of the wrong size or with ranges past its glyphs is never handed to the text code.
        if (font.status == 2 && checkFontRecord(font.data, (i64)font.size).length == 0) ui->fontInfo = font.data;
    }
    {
        ProfilingScope scope("Update");
        if (renderer->update) renderer->update(platform, ui, app);
    }
    resetRendererLog(renderer);
    if (debugContext) appendCString("Debug gl context created\n", &ui->rendererLog);
    setUpGlDebugOutput(&renderer->debug, gl, &ui->rendererLog);
    uploadImageSlots(renderer, gl);
    uploadGeometrySlots(renderer, gl);
    uploadImageAssets(renderer, gl);
    appendGlDebugMessages(&renderer->debug, &ui->rendererLog);
    {
        ProfilingScope scope("Check Shaders");
        checkShaders(&renderer->shaders, &renderer->glslHeader, reader, gl, &renderer->debug, &ui->rendererLog,
                     programsDrawnBy(&ui->batches));
    }
    {
        ProfilingScope scope("Check Image Assets");
        checkImageAssets(renderer, platform);
    }
    ui->imageMemoryUsedBytes = renderer->imageMemoryUsed * 8;
    ui->imageMemoryCapacity = kImageMemoryBytes;
    {
        ProfilingScope scope("Render");
        setUpGlState(renderer, gl, width, height);
        ProfilingScope drawing("GL Drawing commands");
        drawAllBatches(renderer, gl);
    }
    renderer->frameComplete = ui->fontInfo && renderer->missingDraws == 0 ? 1 : 0;
}

void releaseRendererBuffers(Renderer* renderer) {
    for (AssetLoad& load : renderer->assetLoads) discardAssetLoadBuffer(&load);
}
