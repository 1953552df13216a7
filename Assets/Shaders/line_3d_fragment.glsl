// Anti-aliased 3-D line segments: coverage from the distance to the projected segment, measured from
// the window centre.
in vec4 color;
flat in vec2 leftEnd;
flat in vec2 rightEnd;
flat in float halfThickness;

out vec4 fragColor;

void main() {
    vec2 p = gl_FragCoord.xy - vec2(eye.halfWindowWidth, eye.halfWindowHeight);
    vec2 segment = rightEnd - leftEnd;
    float lengthSquared = dot(segment, segment);
    float t = lengthSquared > 0.0 ? clamp(dot(p - leftEnd, segment) / lengthSquared, 0.0, 1.0) : 0.0;
    float dist = length(p - (leftEnd + t * segment));
    float zeroWeight = max(dist + 0.5 - halfThickness, 0.0);
    float colorWeight = max(halfThickness - dist + 0.5, 0.0);
    fragColor = vec4(color.rgb, color.a * colorWeight / (zeroWeight + colorWeight));
}
