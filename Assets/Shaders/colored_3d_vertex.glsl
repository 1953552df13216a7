// Filled 3-D triangles: integer world positions seen from the eye; nearer is a larger depth.
layout(location = 0) in ivec4 position;  // x, y, z and the packed colour
layout(location = 1) in vec3 normal;

out vec4 color;

vec4 unpackColor(int c) {
    return vec4(float(c & 255), float((c >> 8) & 255), float((c >> 16) & 255), float((c >> 24) & 255)) / 255.0;
}

void main() {
    color = unpackColor(position.w);
    vec3 p = vec3(position.xyz - eye.iposition.xyz) - eye.extraPosition.xyz;
    vec4 r = eye.worldToEyeRotation * vec4(p, 1.0);
    gl_Position = vec4(r.x / eye.tanHalfHFov, r.z / eye.tanHalfVFov, 1.0, r.y);
}
