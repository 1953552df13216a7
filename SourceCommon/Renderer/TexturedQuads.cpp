#include "SourceCommon/Renderer/TexturedQuads.h"

#include "SourceCommon/Renderer/Shapes.h"

namespace {

constexpr i32 kClippedQuadCapacity = 8;
constexpr i32 kMaxUnknowns = 8;

f32 absolute(f32 value) { return value < 0 ? -value : value; }

// Solves the 3 x 3 system with rows (a_i, b_i, 1) against values_i.
u32 solvePlane(const f32 a[3], const f32 b[3], const f32 values[3], f32 out[3]) {
    f32 matrix[3][3] = {{a[0], b[0], 1}, {a[1], b[1], 1}, {a[2], b[2], 1}};
    f32* rows[3] = {matrix[0], matrix[1], matrix[2]};
    i32 permutation[4];
    i32 failed = solveLinearSystemF32(rows, values, out, permutation, 3);
    return failed ? 1u : 0u;
}

f32 cross(Vec2F32 origin, Vec2F32 a, Vec2F32 b) {
    return (a.x - origin.x) * (b.y - origin.y) - (a.y - origin.y) * (b.x - origin.x);
}

bool quadInside(const Vec2F32 quad[4], const Rect& rect) {
    for (i32 i = 0; i < 4; ++i) {
        if (!(quad[i].x > rect.x0 && quad[i].x < rect.x1 && quad[i].y > rect.y0 && quad[i].y < rect.y1)) return false;
    }
    return true;
}

// The fan (v0, v[i - 1], v[i]) into the backward batch; back faces are culled, so points that go round
// clockwise are fanned the other way.
i32 addTexturedFan(const Textured2dVertex* vertices, const Vec2F32* points, i32 count, u16 key,
                   Textured2dBatch* batch) {
    bool clockwise = polygonArea2(points, count) < 0;
    for (i32 i = 2; i < count; ++i) {
        i32 t = batch->triangleCount;
        if (t < 0 || t > kTextured2dTriangles - 1) break;
        batch->textureKey[kTextured2dTriangles - 1 - t] = key;
        Textured2dVertex* out = &batch->vertices[3 * (kTextured2dTriangles - 1 - t)];
        out[0] = vertices[0];
        out[1] = vertices[clockwise ? i : i - 1];
        out[2] = vertices[clockwise ? i - 1 : i];
        batch->triangleCount = t + 1;
    }
    return batch->triangleCount;
}

}  // namespace

i32 solveLinearSystemF32(f32* const* rows, const f32* rightHandSide, f32* solution, i32* permutation, i32 n) {
    if (n <= 0 || n > kMaxUnknowns) return 1;
    for (i32 i = 0; i < n; ++i) permutation[i] = i;
    permutation[n] = 0;
    for (i32 k = 0; k < n; ++k) {
        i32 pivot = k;
        f32 largest = absolute(rows[permutation[k]][k]);
        for (i32 i = k + 1; i < n; ++i) {
            f32 value = absolute(rows[permutation[i]][k]);
            if (value > largest) {
                largest = value;
                pivot = i;
            }
        }
        if (!(largest >= 1e-10f)) return 1;
        if (pivot != k) {
            i32 swap = permutation[k];
            permutation[k] = permutation[pivot];
            permutation[pivot] = swap;
            permutation[n] += 1;
        }
        f32* pivotRow = rows[permutation[k]];
        for (i32 i = k + 1; i < n; ++i) {
            f32* row = rows[permutation[i]];
            row[k] /= pivotRow[k];
            for (i32 j = k + 1; j < n; ++j) row[j] -= row[k] * pivotRow[j];
        }
    }
    f32 forward[kMaxUnknowns];
    for (i32 i = 0; i < n; ++i) {
        const f32* row = rows[permutation[i]];
        f32 sum = rightHandSide[permutation[i]];
        for (i32 j = 0; j < i; ++j) sum -= row[j] * forward[j];
        forward[i] = sum;
    }
    for (i32 i = n - 1; i >= 0; --i) {
        const f32* row = rows[permutation[i]];
        f32 sum = forward[i];
        for (i32 j = i + 1; j < n; ++j) sum -= row[j] * solution[j];
        solution[i] = sum / row[i];
    }
    return 0;
}

AffineFit fitTriangleAffineMaps(Vec2F32 p0, Vec2F32 p1, Vec2F32 p2, Vec2F32 t0, Vec2F32 t1, Vec2F32 t2) {
    AffineFit fit = {};
    f32 xs[3] = {p0.x, p1.x, p2.x}, ys[3] = {p0.y, p1.y, p2.y};
    f32 us[3] = {t0.x, t1.x, t2.x}, vs[3] = {t0.y, t1.y, t2.y};
    fit.screenToTextureFailed = solvePlane(xs, ys, us, fit.u) | solvePlane(xs, ys, vs, fit.v);
    fit.textureToScreenFailed = solvePlane(us, vs, xs, fit.x) | solvePlane(us, vs, ys, fit.y);
    return fit;
}

i32 addTexturedQuadClipped(u32 kind, u32 index, u32 format, f32 width, f32 height, Vec2F32 p0, Vec2F32 p1,
                           Vec2F32 p2, Vec2F32 p3, Vec2F32 uv0, Vec2F32 uv1, Vec2F32 uv2, Vec2F32 uv3,
                           const Rect& clipRect, f32 depth, f32 halfWindowWidth, f32 halfWindowHeight,
                           Textured2dBatch* batch, f32 extraValue) {
    // A full batch takes nothing more; spare the clipping and the fits.
    if (batch->triangleCount < 0 || batch->triangleCount >= kTextured2dTriangles) return batch->triangleCount;
    Vec2F32 quad[4] = {p0, p1, p2, p3};
    if (quadInside(quad, clipRect)) {
        // Nothing to cut: the corners keep their own texture coordinates.
        const Vec2F32 uvs[4] = {uv0, uv1, uv2, uv3};
        Textured2dVertex vertices[4];
        for (i32 i = 0; i < 4; ++i) {
            vertices[i] = Textured2dVertex{(quad[i].x - halfWindowWidth) / halfWindowWidth,
                                           (quad[i].y - halfWindowHeight) / halfWindowHeight,
                                           depth,
                                           uvs[i].x,
                                           uvs[i].y,
                                           {width, height, extraValue, (f32)format}};
        }
        return addTexturedFan(vertices, quad, 4, imageTextureKey(kind, index), batch);
    }
    Vec2F32 points[kClippedQuadCapacity];
    i32 count = clipPolygonToRect(quad, 4, clipRect, points, kClippedQuadCapacity);
    if (count < 3) return batch->triangleCount;
    AffineFit halves[2] = {fitTriangleAffineMaps(p0, p1, p2, uv0, uv1, uv2),
                           fitTriangleAffineMaps(p0, p3, p2, uv0, uv3, uv2)};
    // A half without area has no usable map; the other half's map serves the whole quad.
    bool usable[2] = {halves[0].screenToTextureFailed == 0, halves[1].screenToTextureFailed == 0};
    if (!usable[0] && !usable[1]) return batch->triangleCount;
    f32 sideOfP1 = cross(p0, p2, p1);
    Textured2dVertex vertices[kClippedQuadCapacity];
    for (i32 i = 0; i < count; ++i) {
        Vec2F32 q = points[i];
        f32 side = cross(p0, p2, q);
        i32 half = (side * sideOfP1 >= 0) ? 0 : 1;
        if (!usable[half]) half ^= 1;
        const AffineFit& fit = halves[half];
        Textured2dVertex* v = &vertices[i];
        v->x = (q.x - halfWindowWidth) / halfWindowWidth;
        v->y = (q.y - halfWindowHeight) / halfWindowHeight;
        v->z = depth;
        v->u = fit.u[0] * q.x + fit.u[1] * q.y + fit.u[2];
        v->v = fit.v[0] * q.x + fit.v[1] * q.y + fit.v[2];
        v->info[0] = width;
        v->info[1] = height;
        v->info[2] = extraValue;
        v->info[3] = (f32)format;
    }
    return addTexturedFan(vertices, points, count, imageTextureKey(kind, index), batch);
}

void makePerspectiveQuad(TexturedPerspectiveEntry* entry, u32 kind, u32 index, i32 textureValue, const f32 c0[3],
                         const f32 c1[3], const f32 c2[3], const f32 c3[3], const Rect& cropRect, f32 distance,
                         f32 halfWindowWidth, f32 halfWindowHeight, Vec2F32 screenOffset, f32 depth) {
    entry->kind = kind;
    entry->index = index;
    const f32* corners[4] = {c0, c1, c2, c3};
    const f32 textureCorners[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
    for (i32 i = 0; i < 4; ++i) {
        TexturedPerspectiveVertex* v = &entry->v[i];
        v->model[0] = corners[i][0];
        v->model[1] = corners[i][1];
        v->model[2] = corners[i][2];
        v->model[3] = distance;
        v->screen[0] = halfWindowWidth;
        v->screen[1] = halfWindowHeight;
        v->screen[2] = screenOffset.x;
        v->screen[3] = screenOffset.y;
        v->texture[0] = textureCorners[i][0];
        v->texture[1] = textureCorners[i][1];
        v->texture[2] = (f32)textureValue;
        v->texture[3] = depth;
        v->crop[0] = cropRect.x0;
        v->crop[1] = cropRect.x1;
        v->crop[2] = cropRect.y0;
        v->crop[3] = cropRect.y1;
    }
}
