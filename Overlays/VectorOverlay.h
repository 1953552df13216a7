// The vector overlay: the fixed-capacity model of one KML drawing (lines, filled polygons as
// triangles, markers with their icon styles and icon pixels) that the KML parser fills, the cache
// file stores and every map draws. Positions are normalised Web-Mercator turns.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTriangulation.h"
#include "Core/GeometryTypes.h"

using Color = u32;  // RGBA8, red in the lowest byte (KML's aabbggrr read as one number)

constexpr u32 kOverlayMaxMarkerStyles = 200;
constexpr u32 kOverlayMaxMarkers = 2000;
constexpr u32 kOverlayMaxPixelWords = 5780000;
constexpr u32 kOverlayMaxMarkerImages = 200;
constexpr u32 kOverlayMaxTriangles = 100000;
constexpr u32 kOverlayMaxPolygonVertices = 1000000;

// Marker image states.
enum OverlayImageState : u32 {
    OverlayImageToDownload = 0,
    OverlayImagePresent = 1,
    OverlayImageUnused = 2,           // no marker refers to it: never fetched
    OverlayImageUnsupportedType = 3,
    OverlayImageUnsupportedCompression = 4,
    OverlayImageNoScratch = 5,
    OverlayImageDownloadFailed = 6,
    OverlayImageNotInArchive = 7,
    OverlayImageDecodeFailed = 8,
};

// Hot-spot units of a marker style.
enum OverlayHotSpotUnits : u32 {
    OverlayUnitsPixels = 0,
    OverlayUnitsFraction = 1,
};

struct OverlayLineSegment {
    f64 x0, y0, x1, y1;  // x0 and x1 each within [-0.5, 0.5]
    Color colour;
    f32 width;  // pixels
};

struct OverlayMarkerStyle {
    i32 imageIndex;  // into markerImages
    FixedString id;  // the id of the style that holds the IconStyle
    f32 scale;       // icon width = 32 pixels x scale
    f32 hotSpotX;
    f32 hotSpotY;
    u32 xUnits;  // OverlayHotSpotUnits
    u32 yUnits;
};

struct OverlayMarker {
    i32 styleIndex;  // into markerStyles; 0 when no style matched
    FixedString styleReference;  // the placemark's styleUrl without its "#"; not cached
    f64 x, y;
    FixedString name;
    f64 nearest;  // distance to the nearest other marker, normalised units (1.0 when alone)
};

struct OverlayMarkerImage {
    u64 firstPixel;  // index of its first word in markerImagePixels
    u32 width;
    u32 height;
    u32 slot;   // image slot id, 0 until uploaded
    u32 state;  // OverlayImageState
    FixedString href;
};

// Line segments are kept as the file gives them, as many as memory holds: the store grows while a
// file is read. When it cannot grow, the segments that fit are kept and the overlay's message says
// "Showing N of M lines".
struct VectorOverlay {
    u32 lineSegmentCount;
    u32 markerStyleCount;
    u32 markerCount;
    u32 pixelWordCount;
    u32 markerImageCount;
    u32 triangleCount;
    u32 polygonVertexCount;
    OverlayLineSegment* lineSegments;  // the C heap; kept (and reused) until releaseVectorOverlay
    u32 lineSegmentCapacity;
    u32 lineSegmentsInFile;  // segments the file held; more than lineSegmentCount when memory ran out
    u64 lineSegmentByteLimit;  // the most the store may take; 0: as much as memory gives
    OverlayMarkerStyle markerStyles[kOverlayMaxMarkerStyles];
    OverlayMarker markers[kOverlayMaxMarkers];
    u32 markerImagePixels[kOverlayMaxPixelWords];
    OverlayMarkerImage markerImages[kOverlayMaxMarkerImages];
    u16 triangles[kOverlayMaxTriangles * 3];
    Color triangleColours[kOverlayMaxTriangles];
    Vec2 polygonVertices[kOverlayMaxPolygonVertices];
    FixedString message;  // the last warning of the parse or of the icon reads; empty when clean
};

// Empties the overlay: counts and message to zero (the segment store is kept for the next file).
void clearVectorOverlay(VectorOverlay* overlay);
// Gives the segment store back.
void releaseVectorOverlay(VectorOverlay* overlay);
// Appends a segment, growing the store; counts it in lineSegmentsInFile either way. 0 when it could
// not be kept.
i32 appendOverlayLineSegment(VectorOverlay* overlay, const OverlayLineSegment& segment);
// Makes room for a number of segments at once; false when memory (or the byte limit) does not allow.
bool reserveOverlayLineSegments(VectorOverlay* overlay, u64 count);
// "Showing N of M lines" when segments were left out, else an empty text.
FixedString overlayLinesShownText(const VectorOverlay* overlay);

// Parses a KML document into the overlay (emptied first): styles in a first pass, placemarks in a
// second. Returns "Truncated file" when the text ends inside a tracked element (what was read stays),
// else an empty text; tables that overflow keep what fits and leave a warning in the message.
// Marker images come back in state 0 (to be fetched) or 2 (unused), without pixels.
FixedString parseKmlDocument(const u8* text, i64 length, VectorOverlay* overlay);

// The k-d tree of one polygon ring, vertex indices start .. end - 1 (at most kKdTreeSlots of them).
// Nodes are placed only below kKdTreeSlots: a ring whose tree would need deeper slots keeps the
// vertices that fit out of the tree, which only makes the ear tests skip them (the triangulation
// is then not guaranteed for that ring).
void buildKdTree(const Vec2* points, u32 end, PolygonKdTree* tree, u32 start);
void buildKdTreeNode(const Vec2* points, u32* indices, i32 count, PolygonKdTree* tree, u32 node, i32 median,
                     u32 depth);
// Sorts indices by y (even depth) or x (odd depth) and returns the index now at count / 2; -1 when
// count is below 1.
i32 partitionKdTreePoints(const Vec2* points, u32* indices, i32 count, u32 depth);
