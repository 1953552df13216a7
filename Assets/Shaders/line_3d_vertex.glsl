// Anti-aliased 3-D line segments: both ends to eye space, clipped against planes a little wider than
// the view, projected, then widened on screen as the 2-D lines are.
layout(location = 0) in ivec4 position;  // this end x, y, z and the packed colour
layout(location = 1) in ivec4 otherEnd;  // the other end x, y, z and the signed thickness

out vec4 color;
flat out vec2 leftEnd;
flat out vec2 rightEnd;
flat out float halfThickness;

vec4 unpackColor(int c) {
    return vec4(float(c & 255), float((c >> 8) & 255), float((c >> 16) & 255), float((c >> 24) & 255)) / 255.0;
}

vec4 toEye(ivec3 p) {
    vec3 q = vec3(p - eye.iposition.xyz) - eye.extraPosition.xyz;
    return eye.worldToEyeRotation * vec4(q, 1.0);
}

// The end on the near side of the plane y = a / f (a = x or z) moves to where the segment crosses it.
float crossing(vec2 self, vec2 other, float f) {
    return (other.x - other.y * f) / ((self.y - other.y) * f - (self.x - other.x));
}

void clipToPlane(inout vec4 r, inout vec4 rOther, float f, bool horizontal) {
    vec2 a = horizontal ? r.xy : r.zy;        // (x or z, y)
    vec2 b = horizontal ? rOther.xy : rOther.zy;
    bool aFirst = a.y < a.x / f;
    bool bFirst = b.y < b.x / f;
    if (aFirst && !bFirst) {
        r = rOther + (r - rOther) * crossing(a, b, f);
    } else if (bFirst && !aFirst) {
        rOther = r + (rOther - r) * crossing(b, a, f);
    }
}

vec2 toScreen(vec4 r) {
    return vec2(eye.halfWindowWidth * (r.x / eye.tanHalfHFov) / r.y, eye.halfWindowHeight * (r.z / eye.tanHalfVFov) / r.y);
}

void main() {
    color = unpackColor(position.w);
    vec4 r = toEye(position.xyz);
    vec4 rOther = toEye(otherEnd.xyz);
    float fh = eye.tanHalfHFov + 1.0;
    float fv = eye.tanHalfVFov + 1.0;
    clipToPlane(r, rOther, fh, true);
    clipToPlane(r, rOther, -fh, true);
    clipToPlane(r, rOther, fv, false);
    clipToPlane(r, rOther, -fv, false);

    vec2 self = toScreen(r);
    vec2 other = toScreen(rOther);
    float h = float(otherEnd.w) / 2000.0;
    bool selfLeft = self.x < other.x || (self.x == other.x && self.y < other.y);
    leftEnd = selfLeft ? self : other;
    rightEnd = selfLeft ? other : self;
    halfThickness = abs(h);
    vec2 dir = normalize(other - self);
    vec2 side = vec2(-dir.y, dir.x);
    float offset = 1.0 + abs(h);
    vec2 s = self + sign(h) * offset * side - offset * dir;
    gl_Position = vec4(r.y * s.x / eye.halfWindowWidth, r.y * s.y / eye.halfWindowHeight, 1.0, r.y);
}
