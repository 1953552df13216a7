#include "RendererTestSupport.h"

#include <cstdlib>

void RendererTest::startHarness(bool useTestAssets) {
    FixedString failure = startRenderHarness(&harness, kWidth, kHeight);
    ASSERT_EQ(failure.length, 0) << failure.text;
    renderer = &harness.app->renderer;
    ui = &renderer->ui;
    if (useTestAssets) {
        store.putShaders();
        renderer->assetReader = makeTestAssetReader(&store);
    }
}

void RendererTest::runUntilProgramsBuilt() {
    for (i32 frame = 0; frame < 5; frame++) {
        runHarnessFrame(&harness);
        bool all = true;
        for (const ShaderProgram& program : renderer->shaders.programs) {
            if (program.program == 0) all = false;
        }
        if (all) return;
    }
    ADD_FAILURE() << "programs not built: " << std::string((const char*)ui->rendererLog.data, ui->rendererLog.length);
}

u32 packColor(u8 r, u8 g, u8 b, u8 a) { return (u32)r | (u32)g << 8 | (u32)b << 16 | (u32)a << 24; }

u8 channel(u32 color, i32 index) { return (u8)(color >> (8 * index)); }

::testing::AssertionResult colorNear(u32 actual, u32 expected, i32 tolerance) {
    for (i32 i = 0; i < 4; i++) {
        if (std::abs((i32)channel(actual, i) - (i32)channel(expected, i)) > tolerance) {
            char text[96];
            std::snprintf(text, sizeof(text), "colour %08X is not %08X (0xAABBGGRR)", actual, expected);
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}

f32 clipX(f32 x, i32 width) { return x / (f32)width * 2.0f - 1.0f; }
f32 clipY(f32 y, i32 height) { return y / (f32)height * 2.0f - 1.0f; }

void addColored2dQuad(Colored2dBatch* batch, f32 x0, f32 y0, f32 x1, f32 y1, f32 z, u32 color) {
    i32 v = batch->vertexCount;
    batch->vertices[v + 0] = {x0, y0, z, (i32)color, 0};
    batch->vertices[v + 1] = {x1, y0, z, (i32)color, 0};
    batch->vertices[v + 2] = {x1, y1, z, (i32)color, 0};
    batch->vertices[v + 3] = {x0, y1, z, (i32)color, 0};
    const u16 quad[6] = {0, 1, 2, 2, 3, 0};
    for (i32 i = 0; i < 6; i++) batch->indices[3 * batch->triangleCount + i] = (u16)(v + quad[i]);
    batch->vertexCount += 4;
    batch->triangleCount += 2;
}

namespace {
void unpackFloat(u32 color, f32* out) {
    for (i32 i = 0; i < 4; i++) out[i] = channel(color, i) / 255.0f;
}
}  // namespace

void addColoredRect(ColoredRectBatch* batch, f32 x0, f32 y0, f32 x1, f32 y1, f32 z, u32 fill, u32 outline,
                    f32 outlineWidth, f32 radius, i32 width, i32 height) {
    i32 v = batch->vertexCount;
    f32 w = x1 - x0;
    f32 h = y1 - y0;
    const f32 corners[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    const f32 inside[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    for (i32 i = 0; i < 4; i++) {
        ColoredRectVertex* vertex = &batch->vertices[v + i];
        *vertex = ColoredRectVertex{};
        vertex->x = clipX(corners[i][0], width);
        vertex->y = clipY(corners[i][1], height);
        vertex->z = z;
        unpackFloat(fill, vertex->fill);
        unpackFloat(outline, vertex->outline);
        vertex->rect[0] = inside[i][0];
        vertex->rect[1] = inside[i][1];
        vertex->rect[2] = w;
        vertex->rect[3] = h;
        vertex->crop[0] = 0;
        vertex->crop[1] = (f32)width;
        vertex->crop[2] = 0;
        vertex->crop[3] = (f32)height;
        vertex->cornerRadius = radius;
        vertex->outlineWidth = outlineWidth;
    }
    // Backward: the t-th triangle is the t-th triple from the end.
    const u16 triangles[2][3] = {{0, 1, 2}, {2, 3, 0}};
    for (i32 t = 0; t < 2; t++) {
        i32 at = 3 * kColoredRectTriangles - 3 * (batch->triangleCount + t + 1);
        for (i32 i = 0; i < 3; i++) batch->indices[at + i] = (u16)(v + triangles[t][i]);
    }
    batch->vertexCount += 4;
    batch->triangleCount += 2;
}

void addLine2d(Line2dBatch* batch, f32 ax, f32 ay, f32 bx, f32 by, f32 z, u32 color, f32 thickness) {
    i32 v = batch->vertexCount;
    i32 t = (i32)(thickness * 1000.0f);
    batch->vertices[v + 0] = {ax, ay, bx, by, z, 0, (i32)color, -t};
    batch->vertices[v + 1] = {ax, ay, bx, by, z, 0, (i32)color, t};
    batch->vertices[v + 2] = {bx, by, ax, ay, z, 0, (i32)color, -t};
    batch->vertices[v + 3] = {bx, by, ax, ay, z, 0, (i32)color, t};
    // Corner 0 is pushed right of a->b and 1 left; at b the direction turns, so 2 lies left and 3
    // right: 0, 3, 2, 1 run counter-clockwise.
    const u16 triangles[2][3] = {{0, 3, 2}, {2, 1, 0}};
    for (i32 k = 0; k < 2; k++) {
        i32 at = 3 * kLine2dTriangles - 3 * (batch->triangleCount + k + 1);
        for (i32 i = 0; i < 3; i++) batch->indices[at + i] = (u16)(v + triangles[k][i]);
    }
    batch->vertexCount += 4;
    batch->triangleCount += 2;
}

void addTexturedQuad(Textured2dBatch* batch, f32 x0, f32 y0, f32 x1, f32 y1, f32 z, u16 key, f32 imageWidth,
                     f32 imageHeight, f32 noData, f32 format, i32 width, i32 height) {
    // Image rows run from the top, so v = 0 is the quad's top edge.
    f32 cx0 = clipX(x0, width), cx1 = clipX(x1, width), cy0 = clipY(y0, height), cy1 = clipY(y1, height);
    const Textured2dVertex corners[4] = {
        {cx0, cy0, z, 0, 1, {imageWidth, imageHeight, noData, format}},
        {cx1, cy0, z, 1, 1, {imageWidth, imageHeight, noData, format}},
        {cx1, cy1, z, 1, 0, {imageWidth, imageHeight, noData, format}},
        {cx0, cy1, z, 0, 0, {imageWidth, imageHeight, noData, format}},
    };
    const i32 triangles[2][3] = {{0, 1, 2}, {2, 3, 0}};
    for (i32 k = 0; k < 2; k++) {
        i32 t = batch->triangleCount;
        batch->textureKey[kTextured2dTriangles - 1 - t] = key;
        for (i32 i = 0; i < 3; i++) batch->vertices[3 * kTextured2dTriangles - 3 - 3 * t + i] = corners[triangles[k][i]];
        batch->triangleCount++;
    }
}
