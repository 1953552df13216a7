// Rounded, outlined rectangles: the distance to the nearest edge or corner arc picks fill, outline or
// transparent, blended over half a pixel on either side of each edge.
in vec4 fill;
in vec4 outline;
in vec4 rect;
flat in vec4 crop;
flat in vec2 radiusOutline;

out vec4 fragColor;

void main() {
    if (gl_FragCoord.x < crop.x || gl_FragCoord.x > crop.y || gl_FragCoord.y < crop.z || gl_FragCoord.y > crop.w) {
        discard;
    }
    float x = rect.x;
    float y = rect.y;
    float width = rect.z;
    float height = rect.w;
    float d = min(min(y, x), min(width - x, height - y));
    float radius = radiusOutline.x;
    float w = radiusOutline.y;
    if (radius > 0.0) {
        float cx = 0.0;
        float cy = 0.0;
        if (x < radius) cx = radius - x;
        else if (x > width - radius) cx = x - (width - radius);
        if (y < radius) cy = radius - y;
        else if (y > height - radius) cy = y - (height - radius);
        if (cx * cx + cy * cy > 0.0) d = min(radius - sqrt(cx * cx + cy * cy), d);
    }
    if (d < -0.5) discard;
    vec4 background = w == 0.0 ? vec4(fill.rgb, 0.0) : vec4(outline.rgb, 0.0);
    float lower = d - 0.5;
    float upper = d + 0.5;
    float fillWeight = max(max(upper, w) - max(lower, w), 0.0);
    float outlineWeight = max(min(upper, w) - max(lower, 0.0), 0.0);
    float backgroundWeight = max(min(upper, 0.0) - min(lower, 0.0), 0.0);
    fragColor = (fill * fillWeight + outline * outlineWeight + background * backgroundWeight) /
                (fillWeight + outlineWeight + backgroundWeight);
}
