// Textured 2-D triangles. By the image format: an NV12 video frame converted to RGB, an elevation
// raster (32-bit float on texture0, signed 16-bit on texture1) shaded with hills, contour lines and a
// danger level, or any other image sampled as it is.
uniform sampler2D texture0;
uniform isampler2D texture1;

in vec2 uv;
flat in vec4 info;

out vec4 fragColor;

float foldWeight(float w) {
    if (w > 2.0) return w - 2.0;
    if (w > 1.0) return w - 1.0;
    if (w < -1.0) return w + 2.0;
    if (w < 0.0) return w + 1.0;
    return w;
}

float elevationTexel(bool integerTexels, ivec2 p, ivec2 size) {
    ivec2 q = clamp(p, ivec2(0), size - ivec2(1));
    if (integerTexels) return float(texelFetch(texture1, q, 0).r);
    return texelFetch(texture0, q, 0).r;
}

// Blends a line of the given colour over colour when the distance lies within its half thickness.
vec4 blendLine(vec4 colour, vec4 lineColour, float alpha, float halfThickness, float distance, inout bool drawn) {
    if (distance < halfThickness - 0.5) {
        drawn = true;
        return mix(colour, lineColour, alpha);
    }
    if (distance < halfThickness + 0.5) {
        drawn = true;
        return mix(colour, lineColour, alpha * (halfThickness + 0.5 - distance));
    }
    return colour;
}

float contourDistance(float elevation, float interval, float slope, bool level) {
    if (level) return interval;
    return abs((mod(elevation + interval / 2.0, interval) - interval / 2.0) / slope);
}

vec4 nv12Colour() {
    ivec2 size = ivec2(info.xy);
    int lumaX = clamp(int(uv.x * info.x), 0, size.x - 1);
    int lumaY = clamp(int(uv.y * info.y), 0, size.y - 1);
    float y = texelFetch(texture0, ivec2(lumaX, lumaY), 0).r;
    int chromaX = 2 * (lumaX / 2);
    int chromaY = size.y + lumaY / 2;
    float cb = texelFetch(texture0, ivec2(chromaX, chromaY), 0).r - 0.5;
    float cr = texelFetch(texture0, ivec2(chromaX + 1, chromaY), 0).r - 0.5;
    return vec4(y + 1.370705 * cr, y - 0.698001 * cr - 0.337633 * cb, y + 1.732446 * cb, 1.0);
}

vec4 elevationColour(bool integerTexels) {
    ivec2 size = ivec2(info.xy);
    float noData = info.z;
    float tx = info.x * uv.x;
    float ty = info.y * uv.y;
    int cornerX = int(tx - 0.5);
    int cornerY = int(ty - 0.5);
    float rightWeight = foldWeight(tx - float(cornerX) - 0.5);
    float bottomWeight = foldWeight(ty - float(cornerY) - 0.5);
    float topLeft = elevationTexel(integerTexels, ivec2(cornerX, cornerY), size);
    float topRight = elevationTexel(integerTexels, ivec2(cornerX + 1, cornerY), size);
    float bottomLeft = elevationTexel(integerTexels, ivec2(cornerX, cornerY + 1), size);
    float bottomRight = elevationTexel(integerTexels, ivec2(cornerX + 1, cornerY + 1), size);
    if (topLeft == noData || topRight == noData || bottomLeft == noData || bottomRight == noData) discard;
    // A float raster's NaN samples are no data as well.
    if (isnan(topLeft) || isnan(topRight) || isnan(bottomLeft) || isnan(bottomRight)) discard;
    float leftWeight = 1.0 - rightWeight;
    float topWeight = 1.0 - bottomWeight;
    float elevation = topLeft * leftWeight * topWeight + topRight * rightWeight * topWeight +
                      bottomLeft * leftWeight * bottomWeight + bottomRight * rightWeight * bottomWeight;

    // The blend's change per texel along each texture axis, carried to screen pixels.
    float perTexelX = (topRight - topLeft) * topWeight + (bottomRight - bottomLeft) * bottomWeight;
    float perTexelY = (bottomLeft - topLeft) * leftWeight + (bottomRight - topRight) * rightWeight;
    float dx = perTexelX * dFdx(tx) + perTexelY * dFdx(ty);
    float dy = perTexelX * dFdy(tx) + perTexelY * dFdy(ty);
    float slope = length(vec2(dx, dy));
    bool level = topLeft == topRight && topLeft == bottomLeft && topLeft == bottomRight;

    vec4 colour = vec4(0.0);
    float mode = elevationMapMode;
    vec4 black = vec4(0.0, 0.0, 0.0, 1.0);
    if (mode >= 2.0 && elevation > dangerElevation) colour = mix(colour, vec4(1.0, 0.0, 0.0, 1.0), 0.1);
    if (mode == 1.0 || mode == 3.0) {
        vec3 normal = normalize(vec3(-dx, -dy, 1.0 / pixelsPerMeter));
        colour = mix(colour, black, max(0.4 * normal.y, 0.0));
        if (5.0 / pixelsPerMeter < thickTopoLineElevation) {
            bool drawn = false;
            colour = blendLine(colour, black, 0.75, thickestTopoLineHalfThickness,
                               contourDistance(elevation, thickestTopoLineElevation, slope, level), drawn);
            if (!drawn) {
                colour = blendLine(colour, black, 0.5, thickTopoLineHalfThickness,
                                   contourDistance(elevation, thickTopoLineElevation, slope, level), drawn);
            }
            if (!drawn && 20.0 / pixelsPerMeter < thinTopoLineElevation) {
                colour = blendLine(colour, black, 0.25, thinTopoLineHalfThickness,
                                   contourDistance(elevation, thinTopoLineElevation, slope, level), drawn);
            }
        }
    }
    if (mode >= 2.0) {
        bool drawn = false;
        float distance = level ? 1000000.0 : abs((elevation - dangerElevation) / slope);
        colour = blendLine(colour, vec4(0.5, 0.0, 0.0, 1.0), 0.75, thickestTopoLineHalfThickness, distance, drawn);
    }
    return colour;
}

void main() {
    int format = int(info.w + 0.5);
    if (format == 12) {
        fragColor = nv12Colour();
    } else if (format == 37332 || format == 37316) {
        fragColor = elevationColour(format == 37316);
    } else {
        vec4 c = texture(texture0, uv);
        if (c.a == 0.0) discard;
        fragColor = c;
    }
}
