// A textured quad seen in perspective: the model is pushed away by its distance and projected, with
// the texture's depth value as the depth after division.
layout(location = 0) in vec4 model;         // x, y, z and the distance
layout(location = 1) in vec4 screen;        // half width, half height, offset x, y in pixels
layout(location = 2) in vec4 textureInput;  // u, v, a carried third value, depth
layout(location = 3) in vec4 cropInput;     // left, right, bottom, top in window pixels

out vec3 tex;
flat out vec4 crop;

void main() {
    float distance = model.w;
    vec3 world = model.xyz + vec3(0.0, 0.0, -distance);
    vec3 zoomed = vec3(world.xy * distance, world.z);
    float w = -zoomed.z;
    float z = textureInput.w * w;
    vec2 xy = (zoomed.xy + (screen.zw - screen.xy) * w) / screen.xy;
    gl_Position = vec4(xy, z, w);
    tex = textureInput.xyz;
    crop = cropInput;
}
