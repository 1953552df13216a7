// Signed-distance-field glyph quads.
layout(location = 0) in vec4 position;      // clip x, y, z and the extra mark thickness in pixels
layout(location = 1) in vec4 markColor;
layout(location = 2) in vec4 outlineColor;
layout(location = 3) in vec4 textureInput;  // atlas u, v, pixels per atlas texel, outline width in pixels

out vec4 mark;
out vec4 outline;
out vec4 glyph;
out float extraThickness;

void main() {
    mark = markColor;
    outline = outlineColor;
    glyph = textureInput;
    extraThickness = position.w;
    gl_Position = vec4(position.xyz, 1.0);
}
