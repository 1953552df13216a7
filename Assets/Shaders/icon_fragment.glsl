// Map icons: the image's texel where the fragment lies inside the crop rectangle; clear texels leave
// what is under them.
uniform sampler2D texture0;

in vec2 uv;
flat in vec4 crop;

out vec4 fragColor;

void main() {
    vec2 p = gl_FragCoord.xy;
    if (p.x < crop.x || p.x > crop.y || p.y < crop.z || p.y > crop.w) discard;
    vec4 c = texture(texture0, uv);
    if (c.a == 0.0) discard;
    fragColor = c;
}
