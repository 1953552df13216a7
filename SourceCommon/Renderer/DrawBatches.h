// The draw batches: fixed-capacity vertex and instance arrays that the writers fill during the update
// and the renderer draws, in one fixed order, after it; and the geometry slots that keep what does
// not change on the GPU. Layouts here are the contract between the two.
//
// Index direction: a forward batch keeps triangle t at indices[3t .. 3t+2] and the renderer draws the
// first 3 x triangleCount indices; a backward batch keeps triangle t at the t-th triple counted from
// the end of the index area and the renderer draws the last 3 x triangleCount indices, so at equal
// depth the first-added shape of a backward batch ends up on top.
//
// Every fragment that is drawn writes its depth, also where a rectangle's fill is fully transparent
// (the rectangle program discards only outside its crop and its rounded edge). So an image that must
// show through the inside of a frame goes into a batch drawn before the rectangles
// (textured2dUnder), not into one drawn after them at a smaller depth.
#pragma once
#include "Core/GeometryTypes.h"
#include "Core/Types.h"

// colored_2d: window pixels, clip depth, colour 0xAABBGGRR.
struct Colored2dVertex {
    f32 x, y, z;
    i32 color;
    i32 extra;  // carried, not read by the shader
};
static_assert(sizeof(Colored2dVertex) == 20);

// colored_3d: world position in the integer units of the eye's position, x east, y north, z up.
struct Colored3dVertex {
    i32 x, y, z;
    i32 color;
    f32 normalX, normalY, normalZ;  // carried, not read by the shader
};
static_assert(sizeof(Colored3dVertex) == 28);

// colored_rect: one corner of a rounded, outlined rectangle.
struct ColoredRectVertex {
    f32 x, y, z;          // clip
    f32 fill[4];          // 0..1
    f32 outline[4];
    f32 rect[4];          // this corner's x and y inside the rectangle, and its width and height, pixels
    f32 crop[4];          // left, right, bottom, top in window pixels
    f32 cornerRadius;     // pixels
    f32 outlineWidth;     // pixels
};
static_assert(sizeof(ColoredRectVertex) == 84);

// line_2d: one corner of a segment's quad; the signed thickness picks the side it is pushed to.
struct Line2dVertex {
    f32 x, y;             // this end, pixels
    f32 otherX, otherY;   // the other end
    f32 z;                // clip depth
    f32 extra;            // carried, not read
    i32 color;
    i32 thickness;        // thousandths of a pixel, signed
};
static_assert(sizeof(Line2dVertex) == 32);

// line_3d: as line_2d, in world integer units.
struct Line3dVertex {
    i32 x, y, z;
    i32 color;
    i32 otherX, otherY, otherZ;
    i32 thickness;  // thousandths of a pixel, signed
};
static_assert(sizeof(Line3dVertex) == 32);

// sdf: four per glyph quad, in the order the shared quad indices {0, 1, 2, 2, 3, 0} make two
// counter-clockwise triangles.
struct SdfVertex {
    f32 x, y, z;              // clip
    f32 extraThickness;       // pixels
    f32 mark[4];
    f32 outline[4];
    f32 u, v;                 // font atlas, 0..1
    f32 pixelsPerTexel;
    f32 outlineWidth;         // pixels
};
static_assert(sizeof(SdfVertex) == 64);

// textured_2d: info = image width, image height, no-data value, image format.
struct Textured2dVertex {
    f32 x, y, z;  // clip
    f32 u, v;
    f32 info[4];
};
static_assert(sizeof(Textured2dVertex) == 36);

// textured_perspective: model x, y, z and distance; screen half width, half height and offset x, y;
// texture u, v, a carried third value and the depth; crop rectangle left, right, bottom, top.
struct TexturedPerspectiveVertex {
    f32 model[4];
    f32 screen[4];
    f32 texture[4];
    f32 crop[4];
};
static_assert(sizeof(TexturedPerspectiveVertex) == 64);

// map_line vertex: one corner of an anti-aliased segment's quad, written four to a segment as the
// line_2d writer writes them (this end and the other, the side by the width's sign). Per-frame
// batches give window pixels and the depth; retained geometry gives turns from its chunk's origin and
// depth 0 (the draw gives both places).
struct SegmentVertex {
    f32 x, y;             // this end
    f32 otherX, otherY;   // the other end
    f32 z;
    i32 color;            // 0xAABBGGRR
    f32 width;            // pixels, signed: the sign picks the side the corner is pushed to
};
static_assert(sizeof(SegmentVertex) == 28);

// map_fill vertex of retained triangles: turns from the chunk's origin, and the x of the triangle's
// first corner, which decides the copy of the world that the whole triangle is drawn on.
struct FillVertex {
    f32 x, y;
    f32 anchorX;
    i32 color;
};
static_assert(sizeof(FillVertex) == 16);

// Map icon vertex, four to an icon in the order of the shared quad indices, drawn with the textured_2d
// program (its image information is the same for every icon and given once).
struct IconVertex {
    f32 x, y, z;  // clip
    f32 u, v;
};
static_assert(sizeof(IconVertex) == 20);

constexpr i32 kBatchVertexCapacity = 65536;
constexpr i32 kColored2dTriangles = 65536;
constexpr i32 kColored3dTriangles = 131072;
constexpr i32 kColoredRectTriangles = 32768;
constexpr i32 kLine2dTriangles = 32768;
constexpr i32 kLine3dTriangles = 32768;
constexpr i32 kSdfQuadCapacity = 16384;
constexpr i32 kTextured2dTriangles = 3000;
constexpr i32 kTexturedPerspectiveEntries = 2;

struct Colored2dBatch {  // forward
    i32 vertexCount;
    i32 triangleCount;
    Colored2dVertex vertices[kBatchVertexCapacity];
    u16 indices[3 * kColored2dTriangles];
};

struct Colored3dBatch {  // forward
    i32 vertexCount;
    i32 triangleCount;
    Colored3dVertex vertices[kBatchVertexCapacity];
    u16 indices[3 * kColored3dTriangles];
};

struct ColoredRectBatch {  // backward
    i32 vertexCount;
    i32 triangleCount;
    ColoredRectVertex vertices[kBatchVertexCapacity];
    u16 indices[3 * kColoredRectTriangles];
};

struct Line2dBatch {  // backward
    i32 vertexCount;
    i32 triangleCount;
    Line2dVertex vertices[kBatchVertexCapacity];
    u16 indices[3 * kLine2dTriangles];
};

struct Line3dBatch {  // forward
    i32 vertexCount;
    i32 triangleCount;
    Line3dVertex vertices[kBatchVertexCapacity];
    u16 indices[3 * kLine3dTriangles];
};

// Glyph quads; indices come from the renderer's shared quad index buffer.
struct SdfBatch {
    i32 quadCount;
    SdfVertex vertices[kSdfQuadCapacity * 4];
};

// Both arrays fill from their ends: triangle t (the t-th added) has its key at
// textureKey[2999 - t] and its vertices at vertices[8997 - 3t .. 8999 - 3t]. An even key 2i names
// image asset i, an odd key 2s + 1 names dynamic image slot id s.
struct Textured2dBatch {
    i32 triangleCount;
    u16 textureKey[kTextured2dTriangles];
    Textured2dVertex vertices[3 * kTextured2dTriangles];
};

enum TexturedPerspectiveKind : u32 {
    TexturedPerspectiveAsset = 0,
    TexturedPerspectiveSlot = 1,
};

struct TexturedPerspectiveEntry {
    u32 kind;   // TexturedPerspectiveKind
    u32 index;  // asset index, or slot id
    TexturedPerspectiveVertex v[4];
};

struct TexturedPerspectiveList {
    i32 count;
    TexturedPerspectiveEntry entries[kTexturedPerspectiveEntries];
};

// Map content drawn in quads of four vertices from the shared quad indices, so that every drop,
// marker and segment in view fits: the largest sources (30,000 drops, a drawing of 65,536 segments
// and 65,536 markers, 2,000 overlay markers) fit together. Forward: at equal depth the last added is
// on top.
constexpr i32 kMapSegmentCapacity = 262144;
constexpr i32 kMapIconCapacity = 131072;
constexpr i32 kMapIconCrops = 16;

struct SegmentBatch {
    i32 count;  // segments
    SegmentVertex vertices[4 * kMapSegmentCapacity];
};

// Each icon's texture key and crop rectangle beside it: the renderer draws each run of icons with
// equal ones at once, cut to the crop by the scissor.
struct IconBatch {
    i32 count;  // icons
    i32 cropCount;
    Rect crops[kMapIconCrops];  // window pixels
    u16 textureKey[kMapIconCapacity];
    u8 crop[kMapIconCapacity];
    IconVertex vertices[4 * kMapIconCapacity];
};

// Geometry kept on the GPU between frames (an overlay's lines and triangles, which do not change):
// the owner fills a slot with bytes that stay valid until `buffer` is made; the renderer makes the
// buffer on its next frame and deletes it (freeing the slot) once the owner sets releaseRequested.
// A slot id is the slot's index + 1; 0 means none.
constexpr i32 kGeometrySlotCount = 512;
struct GeometrySlot {
    u32 buffer;  // GL buffer name, 0 until made
    u32 releaseRequested;
    const void* data;
    u64 bytes;
};
struct GeometrySlotTable {
    u64 used[kGeometrySlotCount / 64];
    GeometrySlot slots[kGeometrySlotCount];
};

enum RetainedDrawKind : u32 {
    RetainedLines = 0,  // SegmentVertex quads, four vertices a record
    RetainedFills = 1,  // FillVertex triangles
};

// One draw of retained geometry: records first .. first + count - 1 of a slot, whose positions are
// turns from a chunk origin. Window position = centre + (offset + position) x scale, where offset is
// the origin less the view's centre; with wrap set each segment end (each triangle, by its first
// corner) is first moved by whole turns to within half a turn of the centre.
struct RetainedDraw {
    u32 kind;  // RetainedDrawKind
    i32 slot;
    u32 first;
    u32 count;
    f32 offsetX, offsetY;
    f32 scale;
    f32 centreX, centreY;
    f32 depth;
    u32 wrap;
    Rect crop;  // window pixels outside it are left alone
};
constexpr i32 kRetainedDrawCapacity = 4096;
struct RetainedDrawList {
    i32 count;
    RetainedDraw draws[kRetainedDrawCapacity];
};

// The batches in memory order, which is also their draw order.
struct DrawBatches {
    Colored3dBatch colored3d;
    Line3dBatch line3d;
    Textured2dBatch textured2dUnder;
    Colored2dBatch colored2d;
    ColoredRectBatch coloredRectUnder;
    Line2dBatch line2dUnder;
    Textured2dBatch textured2dMiddle;
    TexturedPerspectiveList texturedPerspective;
    ColoredRectBatch coloredRect;
    RetainedDrawList retained;  // map geometry kept on the GPU
    SegmentBatch mapLines;
    Line2dBatch line2d;
    IconBatch mapIcons;
    Textured2dBatch textured2d;
    SdfBatch sdf;
};

// Texture keys of the textured_2d batch.
constexpr u16 assetTextureKey(u32 assetIndex) { return (u16)(assetIndex * 2); }
constexpr u16 slotTextureKey(u32 slotId) { return (u16)(slotId * 2 + 1); }
