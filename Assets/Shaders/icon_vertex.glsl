// Map icons drawn as instances of a four-corner strip: an image placed at a point by its bottom-left
// corner's offset, turned about the point, cut to its crop rectangle by the fragments.
layout(location = 0) in vec3 point;          // window pixels and the depth
layout(location = 1) in vec4 sizeAndOffset;  // width, height, offset x, offset y (pixels)
layout(location = 2) in vec2 turn;           // cosine, sine
layout(location = 3) in vec4 cropInput;      // left, right, bottom, top

out vec2 uv;
flat out vec4 crop;

void main() {
    vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
    vec2 local = sizeAndOffset.zw + corner * sizeAndOffset.xy;
    vec2 p = point.xy + vec2(local.x * turn.x - local.y * turn.y, local.x * turn.y + local.y * turn.x);
    // Image rows run top to bottom.
    uv = vec2(corner.x, 1.0 - corner.y);
    crop = cropInput;
    gl_Position = vec4((p.x - eye.halfWindowWidth) / eye.halfWindowWidth,
                       (p.y - eye.halfWindowHeight) / eye.halfWindowHeight, point.z, 1.0);
}
