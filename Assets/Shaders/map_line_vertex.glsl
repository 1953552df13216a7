// Anti-aliased segments drawn as instances of a four-corner strip: per-frame ones in window pixels,
// retained ones in turns from their chunk's origin, placed by the draw's offset, scale and centre
// (with wrap set each end first goes to the copy of the world nearest the view). A segment is cut to
// a box around the window, so that far ends cost the fragments no precision, and each corner is
// pushed sideways and back past its end, one pixel more than the half thickness, as line_2d does.
layout(location = 0) in vec4 ends;
layout(location = 1) in float instanceDepth;
layout(location = 2) in int instanceColor;
layout(location = 3) in float instanceWidth;

uniform vec2 mapOffset;
uniform float mapScale;
uniform vec2 mapCentre;
uniform float mapWrap;
uniform float mapDepth;

out vec4 color;
flat out vec2 leftEnd;
flat out vec2 rightEnd;
flat out float halfThickness;

vec4 unpackColor(int c) {
    return vec4(float(c & 255), float((c >> 8) & 255), float((c >> 16) & 255), float((c >> 24) & 255)) / 255.0;
}

vec2 place(vec2 local) {
    vec2 d = mapOffset + local;
    if (mapWrap > 0.5) d.x -= floor(d.x + 0.5);
    return mapCentre + d * mapScale;
}

void main() {
    vec2 a = place(ends.xy);
    vec2 b = place(ends.zw);
    float h = 0.5 * instanceWidth;
    float margin = h + 64.0;
    vec2 low = vec2(-margin);
    vec2 high = 2.0 * vec2(eye.halfWindowWidth, eye.halfWindowHeight) + vec2(margin);
    vec2 d = b - a;
    float t0 = 0.0, t1 = 1.0;
    for (int i = 0; i < 2; i++) {
        if (abs(d[i]) < 1e-20) {
            if (a[i] < low[i] || a[i] > high[i]) t0 = 2.0;
        } else {
            float ta = (low[i] - a[i]) / d[i], tb = (high[i] - a[i]) / d[i];
            t0 = max(t0, min(ta, tb));
            t1 = min(t1, max(ta, tb));
        }
    }
    color = unpackColor(instanceColor);
    halfThickness = h;
    if (t0 > t1) {
        // Wholly outside: a quad of no area.
        leftEnd = rightEnd = vec2(-1e6);
        gl_Position = vec4(-2.0, -2.0, 0.0, 1.0);
        return;
    }
    vec2 first = a + d * t0;
    vec2 second = a + d * t1;
    leftEnd = first;
    rightEnd = second;
    vec2 along = second - first;
    float span = sqrt(dot(along, along));
    vec2 dir = span > 0.0 ? along / span : vec2(1.0, 0.0);
    vec2 side = vec2(-dir.y, dir.x);
    float offset = 1.0 + h;
    // Corners 0 and 2 on the right of the direction, 1 and 3 on the left; 0 and 1 at the first end.
    bool atSecond = gl_VertexID == 1 || gl_VertexID == 3;
    bool onLeft = gl_VertexID >= 2;
    vec2 p = (atSecond ? second + offset * dir : first - offset * dir) + (onLeft ? offset : -offset) * side;
    gl_Position = vec4((p.x - eye.halfWindowWidth) / eye.halfWindowWidth,
                       (p.y - eye.halfWindowHeight) / eye.halfWindowHeight, mapDepth + instanceDepth, 1.0);
}
