// Georeferencing fits shared by the raster overlays and the GeoTIFF reader.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

// x' = a·x + b·y + c and y' = d·x + e·y + f. `singular` is non-zero when the three source points
// do not span the plane (the fit then holds the zero map).
struct AffineTransform {
    u32 singular;
    f64 a, b, c;
    f64 d, e, f;
};

// The affine map that takes each source point onto its target point.
AffineTransform* fitAffineFromThreePoints(AffineTransform* out, const Vec2* sources, const Vec2* targets);

Vec2 applyAffineTransform(const AffineTransform* transform, Vec2 point);
