// Anti-aliased 2-D line segments: each corner of a segment's quad is pushed sideways by the sign of
// its thickness and back past its own end, one pixel more than the half thickness.
layout(location = 0) in vec4 ends;           // this end x, y and the other end x, y in pixels
layout(location = 1) in vec2 depthAndExtra;
layout(location = 2) in ivec2 colorAndThickness;

out vec4 color;
flat out vec2 leftEnd;
flat out vec2 rightEnd;
flat out float halfThickness;

vec4 unpackColor(int c) {
    return vec4(float(c & 255), float((c >> 8) & 255), float((c >> 16) & 255), float((c >> 24) & 255)) / 255.0;
}

void main() {
    color = unpackColor(colorAndThickness.x);
    float h = float(colorAndThickness.y) / 2000.0;
    vec2 self = ends.xy;
    vec2 other = ends.zw;
    bool selfLeft = self.x < other.x || (self.x == other.x && self.y < other.y);
    leftEnd = selfLeft ? self : other;
    rightEnd = selfLeft ? other : self;
    halfThickness = abs(h);
    vec2 dir = normalize(other - self);
    vec2 side = vec2(-dir.y, dir.x);
    float offset = 1.0 + abs(h);
    vec2 p = self + sign(h) * offset * side - offset * dir;
    gl_Position = vec4((p.x - eye.halfWindowWidth) / eye.halfWindowWidth,
                       (p.y - eye.halfWindowHeight) / eye.halfWindowHeight, depthAndExtra.x, 1.0);
}
