// Signed-distance-field glyphs: the atlas holds 140/255 on the glyph's edge and falls off over 7
// texels; mark inside, outline in a band outside, transparent beyond, each edge blended over a pixel.
uniform sampler2D texture0;

in vec4 mark;
in vec4 outline;
in vec4 glyph;
in float extraThickness;

out vec4 fragColor;

void main() {
    float pixelsPerTexel = glyph.z;
    float edge = 140.0 / 255.0;
    float distanceTexels = (texture(texture0, glyph.xy).r - edge) * 7.0 / edge + extraThickness / pixelsPerTexel;
    float d = distanceTexels * pixelsPerTexel;
    float w = glyph.w;
    if (d < -(w + 0.5)) discard;
    vec4 background = w == 0.0 ? vec4(mark.rgb, 0.0) : vec4(outline.rgb, 0.0);
    float lower = d - 0.5;
    float upper = d + 0.5;
    float markWeight = max(max(upper, 0.0) - max(lower, 0.0), 0.0);
    float outlineWeight = max(min(upper, 0.0) - max(lower, -w), 0.0);
    float backgroundWeight = max(min(upper, -w) - min(lower, -w), 0.0);
    fragColor = (mark * markWeight + outline * outlineWeight + background * backgroundWeight) /
                (markWeight + outlineWeight + backgroundWeight);
}
