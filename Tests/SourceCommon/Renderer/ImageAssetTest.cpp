// Image assets: names split into parts, parts joined in order into one buffer, loads five at a time
// in table order, decoding by extension into the image memory, failures reported by code or by the
// decoder's text, and the program's own embedded icons loading and drawing.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Decoders/Png.h"
#include "Platform/Resources.h"
#include "RendererTestSupport.h"
#include "SourceCommon/Renderer/GlConstants.h"

namespace {

std::vector<u8> encodeTestPng(i32 width, i32 height, u32 channels, u8 seed) {
    std::vector<u8> pixels((size_t)width * height * channels);
    for (size_t i = 0; i < pixels.size(); i++) pixels[i] = (u8)(seed + i * 7);
    FixedString error{};
    ByteWriter measure = makeMeasuringWriter();
    encodePng(&error, pixels.data(), width, height, 1, channels, (i32)channels, &measure);
    std::vector<u8> bytes((size_t)measure.length);
    ByteWriter writer = makeByteWriter(bytes.data(), measure.length);
    encodePng(&error, pixels.data(), width, height, 1, channels, (i32)channels, &writer);
    return bytes;
}

TEST(AssetNames, PartSuffixesGiveTheCountAndThePath) {
    AssetLoad load{};
    prepareAssetLoad(&load, "logo.png");
    EXPECT_EQ(load.partCount, 1);
    EXPECT_STREQ(load.path.text, "AppOrvik\\Assets/logo.png");
    prepareAssetLoad(&load, "font_sdf.png.part_1");
    EXPECT_EQ(load.partCount, 2);
    EXPECT_STREQ(load.path.text, "AppOrvik\\Assets/font_sdf.png");
    prepareAssetLoad(&load, "x.part_a");
    EXPECT_EQ(load.partCount, 1);
    EXPECT_STREQ(load.path.text, "AppOrvik\\Assets/x.part_a");
    prepareAssetLoad(&load, "x.part_12b");
    EXPECT_EQ(load.partCount, 1);
    prepareAssetLoad(&load, "x.part_");
    EXPECT_EQ(load.partCount, 0);
    EXPECT_STREQ(load.path.text, "AppOrvik\\Assets/x");
}

TEST(AssetNames, TheTableHoldsEightyNineNamesInOrder) {
    ImageAssetTable table = initImageAssets();
    EXPECT_STREQ(table.assets[0].name, "font_sdf.png.part_1");
    EXPECT_STREQ(table.assets[1].name, "logo.png");
    EXPECT_STREQ(table.assets[19].name, "white_marker_64.png");
    EXPECT_STREQ(table.assets[88].name, "orvik.png");
    for (const ImageAsset& asset : table.assets) {
        EXPECT_EQ(asset.state, 0);
        EXPECT_EQ(asset.image.width, 0u);
    }
}

// Runs a load to its end with a store that serves at once.
void runLoad(AssetLoad* load, AssetReader* reader) {
    for (i32 step = 0; step < 10 && load->status < 2; step++) joinAssetParts(load, reader);
}

TEST(AssetParts, TwoPartsJoinInOrderIntoOneBuffer) {
    TestAssetStore store;
    store.holdReads = true;
    AssetReader reader = makeTestAssetReader(&store);
    std::vector<u8> first(900000, 0x11), second(364028, 0x22);
    store.put("font_sdf.png.part_0", first);
    store.put("font_sdf.png.part_1", second);
    AssetLoad load{};
    prepareAssetLoad(&load, "font_sdf.png.part_1");
    joinAssetParts(&load, &reader);
    ASSERT_EQ(load.status, 1u);
    EXPECT_EQ(load.totalSize, 1264028u);
    // One part at a time: the second is asked for only when the first is in.
    EXPECT_EQ(store.openRequests(), 1);
    EXPECT_EQ(store.requests[0]->key, "FONT_SDF.PNG.PART_0");
    EXPECT_EQ(store.requests[0]->maxBytes, 1000000u);
    joinAssetParts(&load, &reader);
    EXPECT_EQ(store.requests.size(), 1u);
    store.serveAll();
    joinAssetParts(&load, &reader);
    ASSERT_EQ(store.requests.size(), 2u);
    EXPECT_EQ(store.requests[1]->key, "FONT_SDF.PNG.PART_1");
    EXPECT_EQ(store.requests[1]->maxBytes, 364028u);  // never past the end of the buffer
    store.serveAll();
    joinAssetParts(&load, &reader);
    ASSERT_EQ(load.status, 2u);
    EXPECT_EQ(load.bytesRead, 1264028u);
    EXPECT_EQ(load.buffer[0], 0x11);
    EXPECT_EQ(load.buffer[899999], 0x11);
    EXPECT_EQ(load.buffer[900000], 0x22);
    EXPECT_EQ(load.buffer[1264027], 0x22);
    EXPECT_TRUE(store.requests[0]->released);
    EXPECT_TRUE(store.requests[1]->released);
    discardAssetLoadBuffer(&load);
}

TEST(AssetParts, AMissingPartOrAnEmptyAssetFailsWithNotFoundBeforeAnyRead) {
    TestAssetStore store;
    AssetReader reader = makeTestAssetReader(&store);
    store.put("font_sdf.png.part_1", std::vector<u8>(10, 1));
    AssetLoad load{};
    prepareAssetLoad(&load, "font_sdf.png.part_1");
    runLoad(&load, &reader);
    EXPECT_EQ(load.status, 9u);
    EXPECT_EQ(load.buffer, nullptr);
    EXPECT_TRUE(store.requests.empty());

    store.put("empty.png", std::vector<u8>());
    prepareAssetLoad(&load, "empty.png");
    runLoad(&load, &reader);
    EXPECT_EQ(load.status, 9u);

    prepareAssetLoad(&load, "x.part_");
    runLoad(&load, &reader);
    EXPECT_EQ(load.status, 9u);
}

TEST(AssetParts, AFailedReadGivesItsStatusToTheLoad) {
    TestAssetStore store;
    AssetReader reader = makeTestAssetReader(&store);
    store.put("logo.png", std::vector<u8>(100, 1));
    store.failStatus = 12;
    AssetLoad load{};
    prepareAssetLoad(&load, "logo.png");
    runLoad(&load, &reader);
    EXPECT_EQ(load.status, 12u);
    EXPECT_EQ(load.buffer, nullptr);
    EXPECT_TRUE(store.requests[0]->released);
}

class ImageAssets : public RendererTest {
protected:
    // The asset requests that are still waiting.
    i32 openImageReads() {
        i32 count = 0;
        for (TestAssetRequest* request : store.requests) {
            bool image = request->key.find(".PNG") != std::string::npos || request->key.find(".BMP") != std::string::npos;
            if (image && !request->released && request->status < 2) count++;
        }
        return count;
    }
    void putAllIcons() {
        ImageAssetTable table = initImageAssets();
        for (i32 i = 1; i < kImageAssetCount; i++) store.put(table.assets[i].name, encodeTestPng(4, 4, 4, (u8)i));
    }
};

TEST_F(ImageAssets, LoadFiveAtATimeAndAWaitingAssetHoldsTheWindow) {
    startHarness(true);
    putAllIcons();
    store.holdReads = true;
    runHarnessFrame(&harness);
    EXPECT_EQ(openImageReads(), 4);  // assets 1 to 4; the font atlas has no parts here and failed at once
    EXPECT_EQ(ui->assets[0].state, 9);
    for (i32 frame = 0; frame < 3; frame++) runHarnessFrame(&harness);
    EXPECT_EQ(renderer->assetLoadCursor, 0u);
    EXPECT_EQ(ui->assets[5].state, 0);
    store.serveAll();
    runHarnessFrame(&harness);  // the window completes
    EXPECT_EQ(renderer->assetLoadCursor, 5u);
    EXPECT_EQ(ui->assets[4].state, 2);
    EXPECT_EQ(ui->assets[4].image.width, 4u);
    runHarnessFrame(&harness);
    EXPECT_EQ(openImageReads(), 5);  // assets 5 to 9
    EXPECT_EQ(ui->assets[10].state, 0);
    store.holdReads = false;
    store.serveAll();
    for (i32 frame = 0; frame < 60 && renderer->assetLoadCursor < (u32)kImageAssetCount; frame++) runHarnessFrame(&harness);
    EXPECT_GE(renderer->assetLoadCursor, (u32)kImageAssetCount);
    runHarnessFrame(&harness);
    for (i32 i = 1; i < kImageAssetCount; i++) {
        EXPECT_EQ(ui->assets[i].state, 2) << i;
        EXPECT_NE(renderer->assetTexture[i], 0u) << i;
    }
    EXPECT_EQ(renderer->assetTexture[kImageAssetCount], 0u);
    // Every frame from now on repeats the report of the failures.
    EXPECT_TRUE(harnessLogContains(&harness, "Image asset font_sdf.png.part_1 failed to load with code: 9\n"));
    // Each 4 x 4 icon takes 64 bytes and its 2 x 2 and 1 x 1 mipmap levels 20, rounded up to 24.
    EXPECT_EQ(ui->imageMemoryUsedBytes, 88u * (64u + 24u));
    EXPECT_EQ(ui->imageMemoryCapacity, 20000000u);
}

TEST_F(ImageAssets, ATwoPartAssetJoinsAndDecodes) {
    startHarness(true);
    std::vector<u8> png = encodeTestPng(64, 48, 1, 3);
    size_t half = png.size() / 2;
    store.put("font_sdf.png.part_0", std::vector<u8>(png.begin(), png.begin() + half));
    store.put("font_sdf.png.part_1", std::vector<u8>(png.begin() + half, png.end()));
    runHarnessFrames(&harness, 3);  // request, join, then the texture on the frame after decoding
    const ImageAsset& atlas = ui->assets[AssetFontSdf];
    ASSERT_EQ(atlas.state, 2);
    EXPECT_EQ(atlas.image.error.length, 0) << atlas.image.error.text;
    EXPECT_EQ(atlas.image.width, 64u);
    EXPECT_EQ(atlas.image.height, 48u);
    EXPECT_EQ(atlas.image.channels, 1u);
    EXPECT_EQ(renderer->assetPixels[AssetFontSdf], renderer->imageMemory);
    EXPECT_EQ(renderer->assetPixels[AssetFontSdf][65], (u8)(3 + 65 * 7));
    runHarnessFrame(&harness);
    EXPECT_NE(renderer->assetTexture[AssetFontSdf], 0u);
    // The image, then its mipmap levels from 32 x 24 down to 1 x 1 (1,023 bytes).
    EXPECT_EQ(renderer->imageMemoryUsed, (64u * 48u + 7) / 8 + (1023u + 7) / 8);
}

TEST_F(ImageAssets, MissingUnknownAndUndecodableAssetsAreReported) {
    startHarness(true);
    putAllIcons();
    store.remove("logo.png");
    store.put("battery_0.png", std::string("not a png at all"));
    runHarnessFrame(&harness);
    ui->assets[7].name = "camera.bmp";  // not started yet: its window comes next
    store.put("camera.bmp", std::string("BM"));
    runHarnessFrames(&harness, 3);
    EXPECT_EQ(ui->assets[AssetLogo].state, 9);
    EXPECT_EQ(renderer->assetTexture[AssetLogo], 0u);
    EXPECT_EQ(ui->assets[2].state, 2);
    EXPECT_NE(ui->assets[2].image.error.length, 0);
    EXPECT_EQ(renderer->assetTexture[2], 0u);
    EXPECT_STREQ(ui->assets[7].image.error.text, "Did not recognize the file extension of AppOrvik\\Assets/camera.bmp");
    EXPECT_TRUE(harnessLogContains(&harness, "Image asset logo.png failed to load with code: 9\n"));
    EXPECT_TRUE(harnessLogContains(&harness, "Image asset battery_0.png failed to parse with error: "));
    EXPECT_TRUE(harnessLogContains(&harness, "Image asset camera.bmp failed to parse with error: Did not recognize"));
    EXPECT_NE(renderer->assetTexture[3], 0u);
}

TEST_F(ImageAssets, AFullImageMemoryKeepsTheDecodersMessageAndLaterAssetsStillTry) {
    startHarness(true);
    putAllIcons();
    store.put("logo.png", encodeTestPng(300, 300, 4, 1));
    renderer->imageMemoryUsed = kImageMemoryBytes / 8 - 1000;  // 8,000 bytes left
    runHarnessFrames(&harness, 3);
    std::string error = ui->assets[AssetLogo].image.error.text;
    EXPECT_NE(error.find("requires"), std::string::npos) << error;
    EXPECT_NE(error.find("imageBufferCapacity was only 8000"), std::string::npos) << error;
    EXPECT_EQ(ui->assets[2].image.error.length, 0);
    EXPECT_NE(renderer->assetTexture[2], 0u);
}

// The same image as a texture whose mipmap levels GL makes itself.
u32 textureWithGlsLevels(GlFunctionTable* gl, const ImageResult& image, const u8* pixels) {
    GlUint texture = 0;
    gl->glGenTextures(1, &texture);
    gl->glBindTexture(kGlTexture2d, texture);
    gl->glTexParameteri(kGlTexture2d, kGlTextureWrapS, (GlInt)kGlClampToEdge);
    gl->glTexParameteri(kGlTexture2d, kGlTextureWrapT, (GlInt)kGlClampToEdge);
    gl->glTexParameteri(kGlTexture2d, kGlTextureMinFilter, (GlInt)kGlLinearMipmapLinear);
    gl->glTexParameteri(kGlTexture2d, kGlTextureMagFilter, (GlInt)kGlLinear);
    bool grey = image.channels == 1;
    if (grey) {
        const GlInt swizzle[4] = {(GlInt)kGlRed, (GlInt)kGlRed, (GlInt)kGlRed, 1};
        gl->glTexParameteriv(kGlTexture2d, kGlTextureSwizzleRgba, swizzle);
    }
    gl->glTexImage2D(kGlTexture2d, 0, grey ? (GlInt)kGlR8 : (GlInt)kGlRgba8, (GlSizei)image.width,
                     (GlSizei)image.height, 0, grey ? kGlRed : kGlRgba, kGlUnsignedByte, pixels);
    gl->glGenerateMipmap(kGlTexture2d);
    return texture;
}

// The levels made on the processor when an asset is decoded sample as GL's own would: a grey atlas
// and an RGBA icon (sizes that halve evenly, where GL's filter is the same box) drawn at a quarter
// and an eighth of their size, where sampling reads the levels alone.
TEST_F(ImageAssets, MipmapLevelsMadeOnDecodingDrawAsGlsOwn) {
    startHarness(true);
    putAllIcons();
    store.put("logo.png", encodeTestPng(64, 32, 4, 9));
    std::vector<u8> atlas = encodeTestPng(64, 64, 1, 5);
    store.put("font_sdf.png.part_0", std::vector<u8>(atlas.begin(), atlas.begin() + atlas.size() / 2));
    store.put("font_sdf.png.part_1", std::vector<u8>(atlas.begin() + atlas.size() / 2, atlas.end()));
    for (i32 frame = 0; frame < 60 && renderer->assetLoadCursor < (u32)kImageAssetCount; frame++) runHarnessFrame(&harness);
    runHarnessFrame(&harness);
    GlFunctionTable* gl = &harness.gl;
    std::vector<u8> ours((size_t)kWidth * kHeight * 4), gls(ours.size());
    for (i32 index : {(i32)AssetFontSdf, (i32)AssetLogo}) {
        const ImageResult& image = ui->assets[index].image;
        ASSERT_NE(renderer->assetTexture[index], 0u) << index;
        ASSERT_NE(renderer->assetLevels[index], nullptr) << index;
        for (i32 pass = 0; pass < 2; pass++) {
            u32 saved = renderer->assetTexture[index];
            if (pass == 1) renderer->assetTexture[index] = textureWithGlsLevels(gl, image, renderer->assetPixels[index]);
            f32 w = (f32)image.width, h = (f32)image.height;
            addTexturedQuad(&ui->batches.textured2d, 10, 10, 10 + w / 4, 10 + h / 4, 0.5f, assetTextureKey(index), w, h,
                            0, 4, kWidth, kHeight);
            addTexturedQuad(&ui->batches.textured2d, 60, 10, 60 + w / 8, 10 + h / 8, 0.5f, assetTextureKey(index), w, h,
                            0, 4, kWidth, kHeight);
            runHarnessFrame(&harness);
            readHarnessPixels(&harness, pass == 0 ? ours.data() : gls.data());
            if (pass == 1) {
                gl->glDeleteTextures(1, &renderer->assetTexture[index]);
                renderer->assetTexture[index] = saved;
            }
        }
        i32 worst = 0;
        for (size_t i = 0; i < ours.size(); i++) worst = std::max(worst, std::abs((i32)ours[i] - (i32)gls[i]));
        EXPECT_LE(worst, 2) << ui->assets[index].name;
        EXPECT_NE(ours, std::vector<u8>(ours.size(), ours[0])) << "nothing drawn";
    }
}

// A frame counts as complete only once the font and everything it drew could be drawn: the start-up
// report waits for that frame.
TEST_F(ImageAssets, AFrameIsCompleteOnlyWhenWhatItDrewWasReady) {
    startHarness(false);
    i32 firstComplete = -1;
    for (i32 frame = 0; frame < 60 && firstComplete < 0; frame++) {
        addTexturedQuad(&ui->batches.textured2d, 10, 10, 42, 42, 0.5f, assetTextureKey(AssetLogo), 256, 256, 0, 4,
                        kWidth, kHeight);
        runHarnessFrame(&harness);
        bool ready = ui->fontInfo && renderer->shaders.programs[ProgramTextured2d].program != 0 &&
                     renderer->assetTexture[AssetLogo] != 0;
        EXPECT_EQ(renderer->frameComplete != 0, ready) << frame;
        if (renderer->frameComplete) firstComplete = frame;
    }
    ASSERT_GT(firstComplete, 0);  // the first frame only asks for the sources
    // An asset that failed for good does not hold frames back.
    ui->assets[AssetLogo].state = 9;
    renderer->assetTexture[AssetLogo] = 0;
    addTexturedQuad(&ui->batches.textured2d, 10, 10, 42, 42, 0.5f, assetTextureKey(AssetLogo), 256, 256, 0, 4, kWidth,
                    kHeight);
    runHarnessFrame(&harness);
    EXPECT_EQ(renderer->frameComplete, 1u);
}

TEST_F(ImageAssets, TheProgramsOwnIconsLoadAndDraw) {
    startHarness(false);
    for (i32 frame = 0; frame < 60 && renderer->assetLoadCursor < (u32)kImageAssetCount; frame++) runHarnessFrame(&harness);
    runHarnessFrame(&harness);
    ASSERT_GE(renderer->assetLoadCursor, (u32)kImageAssetCount);
    for (i32 i = 1; i < kImageAssetCount; i++) {
        EXPECT_EQ(ui->assets[i].state, 2) << ui->assets[i].name;
        EXPECT_EQ(ui->assets[i].image.error.length, 0) << ui->assets[i].name << ": " << ui->assets[i].image.error.text;
        EXPECT_NE(renderer->assetTexture[i], 0u) << ui->assets[i].name;
    }
    if (!loadResource(makeString("font_sdf.png.part_0")).exists) {
        EXPECT_EQ(ui->assets[AssetFontSdf].state, 9);
        EXPECT_TRUE(harnessLogContains(&harness, "Image asset font_sdf.png.part_1 failed to load with code: 9\n"));
    } else {
        // The atlas is stored in two parts and joined before decoding.
        EXPECT_EQ(ui->assets[AssetFontSdf].state, 2);
        EXPECT_EQ(ui->assets[AssetFontSdf].image.error.length, 0) << ui->assets[AssetFontSdf].image.error.text;
        EXPECT_NE(renderer->assetTexture[AssetFontSdf], 0u);
        EXPECT_FALSE(harnessLogContains(&harness, "Image asset "));
    }

    // A sheet of icons on the window for a person to look at.
    ui->clearColor[0] = 60;
    ui->clearColor[1] = 70;
    ui->clearColor[2] = 80;
    const i32 columns = 8, size = 20;
    for (i32 i = 1; i < kImageAssetCount && i <= 48; i++) {
        f32 x = (f32)(((i - 1) % columns) * size), y = (f32)(kHeight - size - ((i - 1) / columns) * size);
        addTexturedQuad(&ui->batches.textured2d, x, y, x + size, y + size, 0.5f, assetTextureKey(i), 1, 1, 0, 4, kWidth, kHeight);
    }
    runHarnessFrame(&harness);
    // The camera (asset 7) has a white body beside its lens.
    u32 camera = harnessPixel(&harness, 6 * size + 4, kHeight - 8);
    EXPECT_GT(channel(camera, 0), 150);
    FixedString written = writeHarnessPng(&harness, (::testing::TempDir() + "renderer_icons.png").c_str());
    EXPECT_EQ(written.length, 0) << written.text;
}

}  // namespace
