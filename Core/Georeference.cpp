#include "Core/Georeference.h"

#include <cmath>

AffineTransform* fitAffineFromThreePoints(AffineTransform* out, const Vec2* sources, const Vec2* targets) {
    // Both 3 × 3 systems share the matrix [x y 1]; solving them relative to the first point keeps the
    // precision of large model coordinates (metres of a projection, far from the origin).
    f64 ux = sources[1].x - sources[0].x, uy = sources[1].y - sources[0].y;
    f64 vx = sources[2].x - sources[0].x, vy = sources[2].y - sources[0].y;
    f64 det = ux * vy - uy * vx;
    *out = AffineTransform{};
    if (det == 0 || !std::isfinite(det)) {
        out->singular = 1;
        return out;
    }
    f64 tx1 = targets[1].x - targets[0].x, tx2 = targets[2].x - targets[0].x;
    f64 ty1 = targets[1].y - targets[0].y, ty2 = targets[2].y - targets[0].y;
    out->a = (tx1 * vy - tx2 * uy) / det;
    out->b = (ux * tx2 - vx * tx1) / det;
    out->d = (ty1 * vy - ty2 * uy) / det;
    out->e = (ux * ty2 - vx * ty1) / det;
    out->c = targets[0].x - out->a * sources[0].x - out->b * sources[0].y;
    out->f = targets[0].y - out->d * sources[0].x - out->e * sources[0].y;
    if (!std::isfinite(out->a) || !std::isfinite(out->b) || !std::isfinite(out->c) || !std::isfinite(out->d) ||
        !std::isfinite(out->e) || !std::isfinite(out->f)) {
        *out = AffineTransform{};
        out->singular = 1;
    }
    return out;
}

Vec2 applyAffineTransform(const AffineTransform* transform, Vec2 point) {
    return Vec2{transform->a * point.x + transform->b * point.y + transform->c,
                transform->d * point.x + transform->e * point.y + transform->f};
}
