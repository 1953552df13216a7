// Retained overlay triangles: turns from their chunk's origin, placed by the draw's offset, scale and
// centre; with wrap set the whole triangle moves with its first corner to the copy of the world
// nearest the view.
layout(location = 0) in vec3 positionAndAnchor;
layout(location = 1) in int vertexColor;

uniform vec2 mapOffset;
uniform float mapScale;
uniform vec2 mapCentre;
uniform float mapWrap;
uniform float mapDepth;

out vec4 color;

vec4 unpackColor(int c) {
    return vec4(float(c & 255), float((c >> 8) & 255), float((c >> 16) & 255), float((c >> 24) & 255)) / 255.0;
}

void main() {
    color = unpackColor(vertexColor);
    vec2 d = mapOffset + positionAndAnchor.xy;
    if (mapWrap > 0.5) d.x -= floor(mapOffset.x + positionAndAnchor.z + 0.5);
    vec2 p = mapCentre + d * mapScale;
    gl_Position = vec4((p.x - eye.halfWindowWidth) / eye.halfWindowWidth,
                       (p.y - eye.halfWindowHeight) / eye.halfWindowHeight, mapDepth, 1.0);
}
