// A textured quad seen in perspective, cut to its crop rectangle.
uniform sampler2D texture0;

in vec3 tex;
flat in vec4 crop;

out vec4 fragColor;

void main() {
    if (gl_FragCoord.x < crop.x || gl_FragCoord.x > crop.y || gl_FragCoord.y < crop.z || gl_FragCoord.y > crop.w) {
        discard;
    }
    vec4 c = texture(texture0, tex.xy);
    if (c.a == 0.0) discard;
    fragColor = c;
}
