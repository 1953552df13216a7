// The readers of the page tree, page, viewport and GEO measure dictionaries: plain text scanners
// over one object's bytes.
#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Decoders/Xml.h"
#include "Overlays/PdfObjects.h"

namespace {

bool isPdfSpace(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0; }

void skipPdfSpace(const u8* text, i64* position, i64 end) {
    while (*position < end && isPdfSpace(text[*position])) (*position)++;
}

// The position just past the first occurrence of key, or end when it is absent.
i64 findKey(const u8* text, i64 length, const char* key) {
    i64 keyLength = (i64)std::strlen(key);
    for (i64 i = 0; i + keyLength <= length; i++) {
        if (std::memcmp(text + i, key, (size_t)keyLength) == 0) return i + keyLength;
    }
    return length;
}

// Reads the array of numbers at the cursor ("[" then numbers up to the first thing that is not a
// number) into values, keeping at most capacity. Elements may be separated by any PDF white space.
// Returns how many numbers the array held.
i64 readNumberArray(const u8* text, i64* position, i64 end, f64* values, i64 capacity) {
    skipPdfSpace(text, position, end);
    if (*position < end) (*position)++;
    i64 count = 0;
    while (true) {
        skipPdfSpace(text, position, end);
        f64 value = parseDouble(text, position, end, NAN);
        if (!std::isfinite(value)) break;
        if (count < capacity) values[count] = value;
        count++;
    }
    return count;
}

FixedString objectMessage(const char* format, u64 id) {
    return formatIntInt(format, (i64)pdfObjectNumber(id), (i64)pdfObjectGeneration(id));
}

// The end of the dictionary that starts at position (just past its closing ">>"), or end.
i64 dictionaryEnd(const u8* text, i64 position, i64 end) {
    i64 depth = 0;
    while (position < end) {
        if (position + 1 < end && text[position] == '<' && text[position + 1] == '<') {
            depth++;
            position += 2;
        } else if (position + 1 < end && text[position] == '>' && text[position + 1] == '>') {
            depth--;
            position += 2;
            if (depth <= 0) return position;
        } else {
            position++;
        }
    }
    return end;
}

// The /MediaBox, /CropBox and /Rotate a page or /Pages node gives.
void readInheritable(const u8* text, i64 length, PdfInheritable* out) {
    std::memset(out, 0, sizeof(*out));
    i64 p = findKey(text, length, "/MediaBox");
    out->hasMediaBox = p < length && readNumberArray(text, &p, length, out->mediaBox, 4) == 4;
    p = findKey(text, length, "/CropBox");
    out->hasCropBox = p < length && readNumberArray(text, &p, length, out->cropBox, 4) == 4;
    p = findKey(text, length, "/Rotate");
    if (p < length) {
        skipPdfSpace(text, &p, length);
        i64 degrees = parseInteger(text, &p, length, 0);
        out->rotate = (u32)((((degrees / 90) % 4) + 4) % 4);
        out->hasRotate = 1;
    }
}

// The /Parent reference, 0 when not given.
u64 readParent(const u8* text, i64 length) {
    i64 p = findKey(text, length, "/Parent");
    skipPdfSpace(text, &p, length);
    PdfReference parent{};
    if (p >= length || parsePdfReference(text, length, &p, &parent) != 0) return 0;
    return pdfObjectId((u32)parent.objectNumber, (u32)parent.generation);
}

}  // namespace

void parsePdfPagesKids(u64 id, const u8* text, i64 length, PdfGeoRecord* record, FixedString* message) {
    // A node written again under a later generation takes the place of the earlier one.
    PdfPageTree* tree = nullptr;
    for (u32 k = 0; k < record->treeCount && !tree; k++) {
        if (pdfObjectNumber(record->trees[k].id) == pdfObjectNumber(id)) tree = &record->trees[k];
    }
    if (tree && pdfObjectGeneration(id) <= pdfObjectGeneration(tree->id)) return;
    if (!tree) {
        if (record->treeCount >= kPdfMaxTreeNodes) return;
        tree = &record->trees[record->treeCount++];
    }
    std::memset(tree, 0, sizeof(*tree));
    tree->id = id;
    tree->parent = readParent(text, length);
    readInheritable(text, length, &tree->attributes);
    i64 p = findKey(text, length, "/Kids");
    skipPdfSpace(text, &p, length);
    if (p < length) p++;
    skipPdfSpace(text, &p, length);
    while (p < length && (i8)text[p] >= '0' && text[p] <= '9' && message->length == 0) {
        PdfReference kid{};
        if (parsePdfReference(text, length, &p, &kid) != 0) {
            *message = objectMessage("Didn't parse /Kids of Pages object @ @ correctly", tree->id);
            return;
        }
        if (tree->kidCount < kPdfMaxTreeKids) tree->kids[tree->kidCount++] = pdfObjectId((u32)kid.objectNumber, (u32)kid.generation);
        skipPdfSpace(text, &p, length);
    }
}

void parsePdfPage(u64 id, const u8* text, i64 length, PdfGeoRecord* record, FixedString* message) {
    if (record->pageCount >= kPdfMaxPages) return;
    PdfPageRecord* page = &record->pages[record->pageCount++];
    std::memset(page, 0, sizeof(*page));
    page->id = id;
    page->pageIndex = -1;
    // The boxes and the turn may come from the page tree: they are settled once the whole file is read.
    page->parent = readParent(text, length);
    readInheritable(text, length, &page->own);
    for (f64& v : page->mediaBox) v = NAN;
    if (findKey(text, length, "/LGIDict") < length) record->lgiSeen = 1;
    i64 p = findKey(text, length, "/VP");
    skipPdfSpace(text, &p, length);
    if (p < length) p++;
    skipPdfSpace(text, &p, length);
    while (p < length && message->length == 0) {
        if (text[p] == '<') {
            i64 end = dictionaryEnd(text, p, length);
            parsePdfViewport(id, page, text + p, end - p, record, message);
            p = end;
        } else if (text[p] >= '0' && text[p] <= '9') {
            // A viewport written as an object of its own: linked to this page after the scan.
            PdfReference reference{};
            if (parsePdfReference(text, length, &p, &reference) != 0) break;
            if (page->viewportRefCount < kPdfMaxPageViewports) {
                page->viewportRefs[page->viewportRefCount++] =
                    pdfObjectId((u32)reference.objectNumber, (u32)reference.generation);
            }
        } else {
            break;
        }
        skipPdfSpace(text, &p, length);
    }
}

FixedString settlePdfPageBoxes(PdfPageRecord* page, const PdfGeoRecord* record) {
    PdfInheritable a = page->own;
    u64 parent = page->parent;
    for (u32 depth = 0; depth < kPdfMaxTreeNodes && parent && !(a.hasMediaBox && a.hasCropBox && a.hasRotate);
         depth++) {
        const PdfPageTree* node = nullptr;
        for (u32 k = 0; k < record->treeCount && !node; k++) {
            if (record->trees[k].id == parent) node = &record->trees[k];
        }
        if (!node) break;
        const PdfInheritable& up = node->attributes;
        if (!a.hasMediaBox && up.hasMediaBox) std::memcpy(a.mediaBox, up.mediaBox, sizeof a.mediaBox), a.hasMediaBox = 1;
        if (!a.hasCropBox && up.hasCropBox) std::memcpy(a.cropBox, up.cropBox, sizeof a.cropBox), a.hasCropBox = 1;
        if (!a.hasRotate && up.hasRotate) a.rotate = up.rotate, a.hasRotate = 1;
        parent = node->parent;
    }
    if (!a.hasMediaBox) return objectMessage("Page @ @ didn't contain valid MediaBox", page->id);
    std::memcpy(page->mediaBox, a.mediaBox, sizeof a.mediaBox);
    page->rotate = a.rotate;
    // The shown part of the page: the crop box (cut to the media box), as the page renderer draws it.
    std::memcpy(page->cropBox, page->mediaBox, sizeof page->cropBox);
    if (a.hasCropBox) {
        const f64* m = page->mediaBox;
        const f64* box = a.cropBox;
        f64 mx0 = std::fmin(m[0], m[2]), mx1 = std::fmax(m[0], m[2]);
        f64 my0 = std::fmin(m[1], m[3]), my1 = std::fmax(m[1], m[3]);
        f64 x0 = std::fmax(std::fmin(box[0], box[2]), mx0), x1 = std::fmin(std::fmax(box[0], box[2]), mx1);
        f64 y0 = std::fmax(std::fmin(box[1], box[3]), my0), y1 = std::fmin(std::fmax(box[1], box[3]), my1);
        if (x1 > x0 && y1 > y0) {
            page->cropBox[0] = x0, page->cropBox[1] = y0, page->cropBox[2] = x1, page->cropBox[3] = y1;
        }
    }
    return FixedString{};
}

void parsePdfViewport(u64 id, PdfPageRecord* page, const u8* text, i64 length, PdfGeoRecord* record,
                      FixedString* message) {
    if (record->viewportCount >= kPdfMaxPages) return;
    PdfViewportRecord* viewport = &record->viewports[record->viewportCount++];
    std::memset(viewport, 0, sizeof(*viewport));
    viewport->id = id;
    viewport->page = page;
    i64 p = findKey(text, length, "/BBox");
    if (readNumberArray(text, &p, length, viewport->bbox, 4) != 4) {
        *message = objectMessage("Viewport @ @ didn't contain valid BBox", id);
        for (f64& v : viewport->bbox) v = NAN;
    }
    p = findKey(text, length, "/Measure");
    i64 at = p;
    skipPdfSpace(text, &at, length);
    PdfReference measure{};
    if (at < length && text[at] >= '0' && text[at] <= '9' && parsePdfReference(text, length, &at, &measure) == 0) {
        viewport->measureNumber = (u32)measure.objectNumber;
        viewport->measureGeneration = (u32)measure.generation;
        return;
    }
    parsePdfGeoPoints(id, viewport, text + p, length - p, record, message);
}

void parsePdfGeoPoints(u64 id, PdfViewportRecord* viewport, const u8* text, i64 length, PdfGeoRecord* record,
                       FixedString* message) {
    if (record->measureCount >= kPdfMaxPages) return;
    PdfMeasureRecord* measure = &record->measures[record->measureCount++];
    std::memset(measure, 0, sizeof(*measure));
    measure->id = id;
    measure->viewport = viewport;
    i64 p = findKey(text, length, "/GPTS");
    if (p >= length) {
        *message = objectMessage("Couldn't find /GPTS inside GEO object @ @", id);
        record->measureCount--;
        return;
    }
    f64 values[8];
    i64 geographic = readNumberArray(text, &p, length, values, 8) / 2;
    for (i64 k = 0; k < geographic && k < 4; k++) {
        measure->gpts[k][0] = values[2 * k + 1];
        measure->gpts[k][1] = values[2 * k];
    }
    p = findKey(text, length, "/LPTS");
    if (p >= length) {
        *message = objectMessage("Couldn't find /LPTS inside GEO object @ @", id);
        record->measureCount--;
        return;
    }
    i64 local = readNumberArray(text, &p, length, values, 8) / 2;
    for (i64 k = 0; k < local && k < 4; k++) {
        measure->lpts[k][0] = values[2 * k];
        measure->lpts[k][1] = values[2 * k + 1];
    }
    // Only pairs given in both arrays are usable.
    i64 count = geographic < local ? geographic : local;
    measure->pointCount = (u32)(count > 1000000 ? 1000000 : count);
}
