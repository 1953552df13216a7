// Textured quadrilaterals: images (map tiles, overlays, video frames, elevation rasters, icons) cut
// to a clip rectangle on the CPU into a textured_2d batch, with the texture coordinates the uncut
// quad would have had at every new corner; and the entries of the textured_perspective list.
#pragma once
#include "Core/GeometryTypes.h"
#include "SourceCommon/Renderer/DrawBatches.h"

// Image references: an image asset or a dynamic image slot.
enum ImageKind : u32 {
    ImageKindAsset = 0,
    ImageKindSlot = 1,
};

inline u16 imageTextureKey(u32 kind, u32 index) { return (u16)(index * 2 + kind); }

// The affine maps of one triangle between screen and texture: u = a x + b y + c, v = d x + e y + f,
// x = g u + h v + i, y = j u + k v + l. A failure flag set means that direction's numbers are
// unusable (the triangle has no area there).
struct AffineFit {
    u32 screenToTextureFailed;
    u32 textureToScreenFailed;
    f32 u[3];
    f32 v[3];
    f32 x[3];
    f32 y[3];
};

// Solves rows x solution = rightHandSide for n unknowns (n at most 8) by LU decomposition with
// partial pivoting; rows are changed in place and permutation (n + 1 entries) receives the row
// order and, last, the number of swaps. 0 on success, 1 when singular.
i32 solveLinearSystemF32(f32* const* rows, const f32* rightHandSide, f32* solution, i32* permutation, i32 n);

AffineFit fitTriangleAffineMaps(Vec2F32 p0, Vec2F32 p1, Vec2F32 p2, Vec2F32 t0, Vec2F32 t1, Vec2F32 t2);

// A quad p0..p3 (window pixels, going round, p0 and p2 opposite) with texture coordinates uv0..uv3,
// cut to the clip rectangle and added as a fan; every triangle carries the image's texture key and
// its size, extra value and format. Returns the batch's triangle count after the call. A full batch
// cuts the fan short.
i32 addTexturedQuadClipped(u32 kind, u32 index, u32 format, f32 width, f32 height, Vec2F32 p0, Vec2F32 p1,
                           Vec2F32 p2, Vec2F32 p3, Vec2F32 uv0, Vec2F32 uv1, Vec2F32 uv2, Vec2F32 uv3,
                           const Rect& clipRect, f32 depth, f32 halfWindowWidth, f32 halfWindowHeight,
                           Textured2dBatch* batch, f32 extraValue);

// One textured_perspective entry: corners in model units (eye at the origin, looking along -z)
// with texture corners (0, 1), (1, 1), (1, 0), (0, 0) in that order.
void makePerspectiveQuad(TexturedPerspectiveEntry* entry, u32 kind, u32 index, i32 textureValue, const f32 c0[3],
                         const f32 c1[3], const f32 c2[3], const f32 c3[3], const Rect& cropRect, f32 distance,
                         f32 halfWindowWidth, f32 halfWindowHeight, Vec2F32 screenOffset, f32 depth);
