// Rounded, outlined rectangles: each corner carries the whole rectangle's description.
layout(location = 0) in vec3 position;
layout(location = 1) in vec4 fillColor;
layout(location = 2) in vec4 outlineColor;
layout(location = 3) in vec4 rectCoordinate;  // x, y inside the rectangle, its width and height
layout(location = 4) in vec4 cropInput;       // left, right, bottom, top in window pixels
layout(location = 5) in vec2 radiusAndOutline;

out vec4 fill;
out vec4 outline;
out vec4 rect;
flat out vec4 crop;
flat out vec2 radiusOutline;

void main() {
    fill = fillColor;
    outline = outlineColor;
    rect = rectCoordinate;
    crop = cropInput;
    radiusOutline = radiusAndOutline;
    gl_Position = vec4(position, 1.0);
}
