// Filled 2-D triangles: pixel positions with a clip depth and a packed colour.
layout(location = 0) in vec3 position;
layout(location = 1) in ivec2 colorAndExtra;

out vec4 color;

vec4 unpackColor(int c) {
    return vec4(float(c & 255), float((c >> 8) & 255), float((c >> 16) & 255), float((c >> 24) & 255)) / 255.0;
}

void main() {
    color = unpackColor(colorAndExtra.x);
    gl_Position = vec4((position.x - eye.halfWindowWidth) / eye.halfWindowWidth,
                       (position.y - eye.halfWindowHeight) / eye.halfWindowHeight, position.z, 1.0);
}
