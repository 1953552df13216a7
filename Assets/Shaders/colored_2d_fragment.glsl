// Filled 2-D triangles: the vertex colour.
in vec4 color;

out vec4 fragColor;

void main() {
    fragColor = color;
}
