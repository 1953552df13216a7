// Anti-aliased segments, four corners a segment as line_2d has them: per-frame ones in window pixels,
// retained ones in turns from their chunk's origin, placed by the draw's offset, scale and centre
// (with wrap set each end first goes to the copy of the world nearest the view). A segment is cut to
// a box around the window, so that far ends cost the fragments no precision; then the corner is
// pushed sideways by the sign of its width and back past its own end, one pixel more than the half
// width, as line_2d does.
layout(location = 0) in vec4 ends;  // this end x, y and the other end x, y
layout(location = 1) in float vertexDepth;
layout(location = 2) in int vertexColor;
layout(location = 3) in float signedWidth;

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
    vec2 self = place(ends.xy);
    vec2 other = place(ends.zw);
    float h = 0.5 * abs(signedWidth);
    float margin = h + 64.0;
    vec2 low = vec2(-margin);
    vec2 high = 2.0 * vec2(eye.halfWindowWidth, eye.halfWindowHeight) + vec2(margin);
    vec2 d = other - self;
    float t0 = 0.0, t1 = 1.0;
    for (int i = 0; i < 2; i++) {
        if (abs(d[i]) < 1e-20) {
            if (self[i] < low[i] || self[i] > high[i]) t0 = 2.0;
        } else {
            float ta = (low[i] - self[i]) / d[i], tb = (high[i] - self[i]) / d[i];
            t0 = max(t0, min(ta, tb));
            t1 = min(t1, max(ta, tb));
        }
    }
    color = unpackColor(vertexColor);
    halfThickness = h;
    if (t0 > t1) {
        // Wholly outside: a quad of no area.
        leftEnd = rightEnd = vec2(-1e6);
        gl_Position = vec4(-2.0, -2.0, 0.0, 1.0);
        return;
    }
    vec2 near = self + d * t0;
    vec2 far = self + d * t1;
    bool nearLeft = near.x < far.x || (near.x == far.x && near.y < far.y);
    leftEnd = nearLeft ? near : far;
    rightEnd = nearLeft ? far : near;
    vec2 along = far - near;
    float span = sqrt(dot(along, along));
    // A segment of no length (a dot): its second end's corners (1 and 2 of each four) face the other way.
    int corner = gl_VertexID & 3;
    vec2 dir = span > 0.0 ? along / span : vec2(corner == 1 || corner == 2 ? -1.0 : 1.0, 0.0);
    vec2 side = vec2(-dir.y, dir.x);
    float offset = 1.0 + h;
    vec2 p = near + sign(signedWidth) * offset * side - offset * dir;
    gl_Position = vec4((p.x - eye.halfWindowWidth) / eye.halfWindowWidth,
                       (p.y - eye.halfWindowHeight) / eye.halfWindowHeight, mapDepth + vertexDepth, 1.0);
}
