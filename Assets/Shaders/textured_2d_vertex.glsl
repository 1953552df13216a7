// Textured 2-D triangles: clip positions, texture coordinates and the image's description.
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 uvInput;
layout(location = 2) in vec4 imageInfo;  // width, height, no-data value, image format

out vec2 uv;
flat out vec4 info;

void main() {
    uv = uvInput;
    info = imageInfo;
    gl_Position = vec4(position, 1.0);
}
