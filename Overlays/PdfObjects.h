// Georeferenced PDF pages: the object scan that finds the page tree, the pages, their viewports and
// GEO measures (the published measure dictionary of subtype GEO), and the grid of map positions that
// places each georeferenced page on the map. Works on a whole file held in memory and touches no
// file; only an object stream's decompressed bytes are allocated, one stream at a time.
#pragma once
#include "Core/FixedString.h"
#include "Core/Georeference.h"

constexpr u32 kPdfMaxPages = 20;  // georeferenced pages kept, and each table of the working record
constexpr u32 kPdfGridPoints = 400;
constexpr u32 kPdfMaxPageViewports = 8;  // viewports a page may name by reference
constexpr i64 kPdfMaxObjectStreamBytes = 100000000;

// One georeferenced page: the grid of normalised Web-Mercator positions {x, y} over the page as it
// is shown (its crop box, turned by its /Rotate), row 0 at the top, column 0 at the left.
struct PdfPageGeo {
    u32 pageIndex;  // position in the page tree's /Kids, from 0
    u32 columns;
    u32 rows;  // columns x rows <= 400, each at least 2
    u32 pad;
    f64 area;  // |width x height| of the viewport's /BBox that gave this page
    f64 points[kPdfGridPoints][2];
};

struct PdfGeoResult {
    FixedString message;  // empty on success; then the pages below hold
    u32 pageCount;
    u32 pad;
    PdfPageGeo pages[kPdfMaxPages];
};

// Object ids: the number in the low 32 bits, the generation in the high 32 bits.
inline u64 pdfObjectId(u32 number, u32 generation) { return (u64)number | ((u64)generation << 32); }
inline u32 pdfObjectNumber(u64 id) { return (u32)id; }
inline u32 pdfObjectGeneration(u64 id) { return (u32)(id >> 32); }

constexpr u32 kPdfMaxTreeNodes = 32;  // /Pages nodes kept
constexpr u32 kPdfMaxTreeKids = 256;  // kids kept per /Pages node

// The page attributes a page takes from the /Pages nodes above it when it does not give them itself.
struct PdfInheritable {
    f64 mediaBox[4];  // x0, y0, x1, y1 as written
    f64 cropBox[4];
    u32 rotate;  // quarter turns clockwise, 0..3
    u8 hasMediaBox, hasCropBox, hasRotate, pad;
};

// One /Pages node of the page tree.
struct PdfPageTree {
    u64 id;
    u64 parent;  // its /Parent, 0 for the root
    u32 kidCount;
    u32 pad;
    PdfInheritable attributes;
    u64 kids[kPdfMaxTreeKids];
};

struct PdfPageRecord {
    u64 id;
    u64 parent;  // its /Parent, 0 when not given
    PdfInheritable own;  // what the page gives itself
    f64 mediaBox[4];  // x0, y0, x1, y1, its own or inherited
    f64 cropBox[4];  // the /CropBox (cut to the media box) when given or inherited, else the /MediaBox
    i32 pageIndex;  // -1 until linked to the page tree
    u32 rotate;  // /Rotate in quarter turns clockwise, 0..3, its own or inherited
    u32 viewportRefCount;
    u32 pad;
    u64 viewportRefs[kPdfMaxPageViewports];  // viewports named by reference in /VP
};

struct PdfViewportRecord {
    u64 id;  // the page's id for an inline viewport, else the viewport object's own
    u32 measureNumber;  // 0 when the measure is inline or absent
    u32 measureGeneration;
    f64 bbox[4];
    PdfPageRecord* page;  // null for a viewport met as an object of its own (until linked)
};

struct PdfMeasureRecord {
    u64 id;
    u32 pointCount;  // pairs given in both /GPTS and /LPTS
    u32 pad;
    f64 lpts[4][2];  // {x, y} in the viewport's unit square
    f64 gpts[4][2];  // {longitude, latitude} in degrees
    PdfViewportRecord* viewport;  // null when met as an object of its own (until linked)
};

// The working record of a scan; zero it before the scan.
struct PdfGeoRecord {
    u8 pageCount;
    u8 viewportCount;
    u8 measureCount;
    u8 lgiSeen;  // a page is georeferenced through an LGIDict, which is not read
    u32 treeCount;
    PdfPageTree trees[kPdfMaxTreeNodes];
    PdfPageRecord pages[kPdfMaxPages];
    PdfViewportRecord viewports[kPdfMaxPages];
    PdfMeasureRecord measures[kPdfMaxPages];
};

// The georeferenced pages of a PDF file. Failures are texts naming the object by number and
// generation; a PDF without GEO measures is a success with pageCount 0.
void parsePdfObjects(PdfGeoResult* out, const u8* bytes, i64 length);

// Readers of one object's dictionary text (between its outer "<<" and ">>"). Each reports a problem
// by writing *message and keeps what fits; a full table ignores the newcomer.
void parsePdfPagesKids(u64 id, const u8* text, i64 length, PdfGeoRecord* record, FixedString* message);
void parsePdfPage(u64 id, const u8* text, i64 length, PdfGeoRecord* record, FixedString* message);
void parsePdfViewport(u64 id, PdfPageRecord* page, const u8* text, i64 length, PdfGeoRecord* record,
                      FixedString* message);
// Gives the page its media box, crop box and turn, its own or those of the nearest /Pages node above
// it that gives them; a failure text when neither gives a media box.
FixedString settlePdfPageBoxes(PdfPageRecord* page, const PdfGeoRecord* record);
void parsePdfGeoPoints(u64 id, PdfViewportRecord* viewport, const u8* text, i64 length, PdfGeoRecord* record,
                       FixedString* message);

// The grid size for a page whose map height over width is ratio: the most columns (and rows by
// rounding, or by ceiling when roundUp is 1) that keep columns x rows below 400, never fewer than 2
// of either. 0 when the ratio is not a positive finite number.
u32 choosePdfGrid(f64 ratio, u32 roundUp, u32* columns, u32* rows);
