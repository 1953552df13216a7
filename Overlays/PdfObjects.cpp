// The object scan of a PDF file, one line at a time (the cross-reference table is not used), and the
// georeferenced grid of every page that a GEO measure places.
#include "Overlays/PdfObjects.h"

#include <cmath>
#include <cstring>
#include <new>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Decoders/Inflate.h"

namespace {

enum StreamKind : u32 { StreamNone = 0, StreamFlate = 1, StreamOther = 2 };

bool isNameCharacter(u8 c) {
    return !(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0 || c == '/' || c == '<' ||
             c == '>' || c == '[' || c == ']' || c == '(' || c == ')' || c == '{' || c == '}' || c == '%');
}

bool isPdfSpace(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0; }

void skipPdfSpace(const u8* text, i64* position, i64 end) {
    while (*position < end && isPdfSpace(text[*position])) (*position)++;
}

bool startsWith(const u8* text, i64 position, i64 end, const char* prefix) {
    i64 n = (i64)std::strlen(prefix);
    return position >= 0 && end - position >= n && std::memcmp(text + position, prefix, (size_t)n) == 0;
}

// The first position at or after from where needle starts, or -1.
i64 findBytes(const u8* text, i64 from, i64 end, const char* needle) {
    i64 n = (i64)std::strlen(needle);
    if (from < 0) from = 0;
    for (i64 i = from; i + n <= end; i++) {
        if (text[i] == (u8)needle[0] && std::memcmp(text + i, needle, (size_t)n) == 0) return i;
    }
    return -1;
}

// The position just past a key (a whole name, not the start of a longer one), or -1.
i64 findName(const u8* text, i64 from, i64 end, const char* key) {
    i64 n = (i64)std::strlen(key);
    for (i64 at = findBytes(text, from, end, key); at >= 0; at = findBytes(text, at + 1, end, key)) {
        if (at + n >= end || !isNameCharacter(text[at + n])) return at + n;
    }
    return -1;
}

// The start of the next line after position (after CR, LF or CR LF), or end.
i64 nextLine(const u8* text, i64 position, i64 end) {
    while (position < end && text[position] != '\r' && text[position] != '\n') position++;
    if (position < end && text[position] == '\r') position++;
    if (position < end && text[position] == '\n') position++;
    return position;
}

void skipLineEnds(const u8* text, i64* position, i64 end) {
    while (*position < end && (text[*position] == '\r' || text[*position] == '\n')) (*position)++;
}

// The integer value of a key, or -1 when absent, not a non-negative integer, or an indirect reference.
i64 integerValue(const u8* text, i64 begin, i64 end, const char* key) {
    i64 p = findName(text, begin, end, key);
    if (p < 0) return -1;
    skipPdfSpace(text, &p, end);
    if (p >= end || text[p] < '0' || text[p] > '9') return -1;
    i64 value = parseInteger(text, &p, end, -1);
    i64 q = p;
    skipPdfSpace(text, &q, end);
    if (q < end && text[q] >= '0' && text[q] <= '9') {
        parseInteger(text, &q, end, -1);
        skipPdfSpace(text, &q, end);
        if (q < end && text[q] == 'R') return -1;
    }
    return value;
}

// Past the ">>" that closes the dictionary opened at position, or -1 when the text ends first.
i64 closeDictionary(const u8* text, i64 position, i64 end) {
    i64 depth = 0;
    while (position + 1 < end) {
        if (text[position] == '<' && text[position + 1] == '<') {
            depth++;
            position += 2;
        } else if (text[position] == '>' && text[position + 1] == '>') {
            depth--;
            position += 2;
            if (depth == 0) return position;
        } else {
            position++;
        }
    }
    return -1;
}

// The value position of /Type at depth 1 of the dictionary [begin, end) (begin at its "<<"), or -1.
i64 findTypeAtTopLevel(const u8* text, i64 begin, i64 end) {
    i64 depth = 0;
    for (i64 i = begin; i < end; i++) {
        if (i + 1 < end && text[i] == '<' && text[i + 1] == '<') {
            depth++;
            i++;
        } else if (i + 1 < end && text[i] == '>' && text[i + 1] == '>') {
            depth--;
            i++;
        } else if (depth == 1 && startsWith(text, i, end, "/Type") && (i + 5 >= end || !isNameCharacter(text[i + 5]))) {
            i64 p = i + 5;
            skipPdfSpace(text, &p, end);
            return p;
        }
    }
    return -1;
}

struct ObjectInfo {
    u32 kind;  // StreamKind
    u32 objectStream;
    i64 length, count, first;
};

// Steps common to top-level and embedded objects: the keys of the dictionary [begin, end) and the
// reader its /Type selects.
ObjectInfo readDictionary(u64 id, const u8* text, i64 begin, i64 end, PdfGeoRecord* record, FixedString* message) {
    ObjectInfo info{};
    i64 filter = findName(text, begin, end, "/Filter");
    if (filter >= 0) {
        skipPdfSpace(text, &filter, end);
        info.kind = startsWith(text, filter, end, "/FlateDecode") ? StreamFlate : StreamOther;
    }
    info.length = integerValue(text, begin, end, "/Length");
    info.count = integerValue(text, begin, end, "/N");
    info.first = integerValue(text, begin, end, "/First");
    i64 type = findTypeAtTopLevel(text, begin, end);
    if (type < 0) return info;
    const u8* inner = text + begin + 2;
    i64 innerLength = end - begin - 4;
    if (innerLength < 0) innerLength = 0;
    auto typeIs = [&](const char* name) { return startsWith(text, type, end, name); };
    if (typeIs("/ObjStm")) {
        info.objectStream = 1;
    } else if (typeIs("/Pages")) {
        parsePdfPagesKids(id, inner, innerLength, record, message);
    } else if (typeIs("/Page")) {
        parsePdfPage(id, inner, innerLength, record, message);
    } else if (typeIs("/LGIDict")) {
        record->lgiSeen = 1;
    } else if (typeIs("/Viewport")) {
        parsePdfViewport(id, nullptr, inner, innerLength, record, message);
    } else if (typeIs("/Measure")) {
        i64 subtype = findName(text, begin, end, "/Subtype");
        if (subtype >= 0) {
            skipPdfSpace(text, &subtype, end);
            if (startsWith(text, subtype, end, "/GEO")) parsePdfGeoPoints(id, nullptr, inner, innerLength, record, message);
        }
    }
    return info;
}

FixedString objectMessage(const char* format, u64 id) {
    return formatIntInt(format, (i64)pdfObjectNumber(id), (i64)pdfObjectGeneration(id));
}

// The embedded objects of an object stream: N pairs {number, offset} then the objects from /First.
void readObjectStream(u64 id, const u8* data, i64 size, const ObjectInfo* info, PdfGeoRecord* record,
                      FixedString* message) {
    FixedString bad = objectMessage("Object @ @'s object stream is improperly formatted.", id);
    if (info->first < 0 || info->first > size || info->count > size) {
        *message = bad;
        return;
    }
    i64 p = 0;
    i64 previousOffset = -1;
    i64 headerEnd = info->first;
    // Two passes over the header: the first checks it, the second reads each object up to the next.
    for (i64 i = 0; i < info->count; i++) {
        skipPdfSpace(data, &p, headerEnd);
        i64 number = parseInteger(data, &p, headerEnd, -1);
        skipPdfSpace(data, &p, headerEnd);
        i64 offset = parseInteger(data, &p, headerEnd, -1);
        if (number < 0 || offset < 0 || offset <= previousOffset || offset > size - info->first) {
            *message = bad;
            return;
        }
        previousOffset = offset;
    }
    p = 0;
    i64 number = -1, offset = -1;
    for (i64 i = 0; i <= info->count; i++) {
        i64 nextNumber = -1, nextOffset = size - info->first;
        if (i < info->count) {
            skipPdfSpace(data, &p, headerEnd);
            nextNumber = parseInteger(data, &p, headerEnd, -1);
            skipPdfSpace(data, &p, headerEnd);
            nextOffset = parseInteger(data, &p, headerEnd, -1);
        }
        if (i > 0) {
            i64 begin = info->first + offset, end = info->first + nextOffset;
            i64 open = findBytes(data, begin, end, "<<");
            if (open >= 0) {
                i64 close = closeDictionary(data, open, end);
                if (close < 0) {
                    *message = objectMessage("Couldn't find the end of object @ @'s << >> brackets.",
                                             pdfObjectId((u32)number, 0));
                    return;
                }
                readDictionary(pdfObjectId((u32)number, 0), data, open, close, record, message);
            }
        }
        number = nextNumber;
        offset = nextOffset;
    }
}

// Inflates the zlib data at [start, end): counts when output is null. Returns an InflateResult and
// the input position where the deflate data ended.
i32 inflateStream(const u8* bytes, i64 start, i64 end, u8* output, i64 capacity, i64* produced, i64* stop,
                  InflateState* state) {
    std::memset(state, 0, sizeof(*state));
    state->output = output;
    state->outputCapacity = capacity;
    i64 position = start;
    i32 result = inflate(bytes, &position, end, state);
    *produced = state->outputPosition;
    *stop = position;
    return result;
}

// Returns 1 when the scan must end (a stream failure, or a message after an object stream), with
// *position where the search for "endobj" starts.
u32 readStream(u64 id, const u8* bytes, i64 length, const ObjectInfo* info, i64* position, PdfGeoRecord* record,
               FixedString* message, InflateState* state) {
    i64 p = *position;
    i64 data = p + 6;
    if (data < length && bytes[data] == '\r') data++;
    data++;
    if (data > length) data = length;
    if (info->kind == StreamNone || info->kind == StreamOther) {
        i64 from = data;
        // A length that runs past the file is not trusted.
        if (info->kind == StreamNone && info->length >= 0 && info->length <= length - data) from = data + info->length;
        i64 end = findBytes(bytes, from, length, "endstream");
        if (end < 0) return 1;
        p = end + 9;
        skipLineEnds(bytes, &p, length);
        *position = p;
        return 0;
    }
    if (length - data < 2) {
        *message = objectMessage("Didn't find end of object @ @'s deflated stream.", id);
        return 1;
    }
    if (bytes[data + 1] & 0x20) {
        *message = objectMessage("Object @ @'s deflated stream uses a preset dictionary, which isn't supported.", id);
        return 1;
    }
    i64 produced = 0, stop = 0;
    i32 result = inflateStream(bytes, data + 2, length, nullptr, (i64)1 << 62, &produced, &stop, state);
    if (result == InflateNeedsInput) {
        *message = objectMessage("Didn't find end of object @ @'s deflated stream.", id);
        return 1;
    }
    if (result == InflateOutputFull) {
        *message = objectMessage("Object @ @'s deflated stream decompresses to a very large size.", id);
        return 1;
    }
    if (result == InflateMalformed) {
        *message = objectMessage("Object @ @'s deflated stream is invalid.", id);
        return 1;
    }
    if (info->objectStream) {
        if (info->count < 0) {
            *message = objectMessage("Object @ @ is an ObjStm, but didn't specify N.", id);
            return 1;
        }
        if (produced > kPdfMaxObjectStreamBytes) {
            *message = formatInt3("Object @ @'s deflated stream decompresses to more than 100 MB (@ bytes).",
                                  (i64)pdfObjectNumber(id), (i64)pdfObjectGeneration(id), produced);
            return 1;
        }
        u8* buffer = new (std::nothrow) u8[produced > 0 ? produced : 1];
        if (!buffer) {
            *message = objectMessage("Object @ @'s deflated stream decompresses to a very large size.", id);
            return 1;
        }
        i64 again = 0, ignored = 0;
        inflateStream(bytes, data + 2, length, buffer, produced, &again, &ignored, state);
        readObjectStream(id, buffer, again, info, record, message);
        delete[] buffer;
        if (message->length) return 1;
    }
    p = stop + 4;
    if (p > length) p = length;
    skipLineEnds(bytes, &p, length);
    p += 9;
    if (p > length) p = length;
    skipLineEnds(bytes, &p, length);
    *position = p;
    return 0;
}

void scanObjects(const u8* bytes, i64 length, PdfGeoRecord* record, FixedString* message, InflateState* state) {
    i64 p = nextLine(bytes, 0, length);
    while (p < length) {
        i64 q = p;
        skipBlanks(bytes, &q, length);
        i64 number = parseInteger(bytes, &q, length, -1);
        skipBlanks(bytes, &q, length);
        i64 generation = parseInteger(bytes, &q, length, -1);
        skipBlanks(bytes, &q, length);
        if (number < 0 || generation < 0 || number > 0xFFFFFFFFll || generation > 0xFFFFFFFFll ||
            !startsWith(bytes, q, length, "obj")) {
            p = nextLine(bytes, p, length);
            continue;
        }
        u64 id = pdfObjectId((u32)number, (u32)generation);
        q += 3;
        skipLineEnds(bytes, &q, length);
        i64 searchFrom = q;
        if (q < length && bytes[q] == '<') {
            i64 close = closeDictionary(bytes, q, length);
            if (close < 0) {
                *message = objectMessage("Couldn't find the end of object @ @'s << >> brackets.", id);
                return;
            }
            ObjectInfo info = readDictionary(id, bytes, q, close, record, message);
            searchFrom = close;
            i64 s = close;
            skipLineEnds(bytes, &s, length);
            if (startsWith(bytes, s, length, "stream")) {
                if (readStream(id, bytes, length, &info, &s, record, message, state)) return;
                searchFrom = s;
            }
        }
        i64 end = findBytes(bytes, searchFrom, length, "endobj");
        if (end < 0) return;
        p = nextLine(bytes, end, length);
    }
}

f64 mercatorY(f64 latitude) { return std::log(std::tan(latitude * M_PI / 360.0 + M_PI / 4.0)) / (2.0 * M_PI); }

// The page point of the shown page at (s, t): s from its left edge to its right, t from its top to
// its bottom, the crop box turned clockwise by the page's quarter turns.
Vec2 shownPagePoint(const PdfPageRecord* page, f64 s, f64 t) {
    f64 x0 = page->cropBox[0], y0 = page->cropBox[1], x1 = page->cropBox[2], y1 = page->cropBox[3];
    switch (page->rotate) {
        case 1: return Vec2{x0 + t * (x1 - x0), y0 + s * (y1 - y0)};
        case 2: return Vec2{x1 - s * (x1 - x0), y0 + t * (y1 - y0)};
        case 3: return Vec2{x1 - t * (x1 - x0), y1 - s * (y1 - y0)};
        default: return Vec2{(1 - s) * x0 + s * x1, (1 - t) * y1 + t * y0};
    }
}

f64 distance(Vec2 a, Vec2 b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The grid of one measure into entry; a failure text otherwise.
FixedString fitMeasure(const PdfMeasureRecord* measure, PdfPageGeo* entry) {
    const PdfViewportRecord* viewport = measure->viewport;
    if (!viewport) return objectMessage("Couldn't find the viewport for GEO object @ @", measure->id);
    const PdfPageRecord* page = viewport->page;
    if (!page) return objectMessage("Couldn't find the page for Viewport object @ @", viewport->id);
    if (page->pageIndex < 0) return objectMessage("Couldn't find the page number for Page object @ @", page->id);
    const f64* b = viewport->bbox;
    entry->area = std::fabs((b[2] - b[0]) * (b[3] - b[1]));
    u32 count = measure->pointCount;
    if (count != 3 && count != 4) {
        return formatInt3("Geo object @ @ should have exactly 3 or 4 LPTS/GPTS coordinates, found @",
                          (i64)pdfObjectNumber(measure->id), (i64)pdfObjectGeneration(measure->id), (i64)count);
    }
    Vec2 source[4], target[4];
    for (u32 k = 0; k < count; k++) {
        source[k] = Vec2{b[0] + measure->lpts[k][0] * (b[2] - b[0]), b[1] + measure->lpts[k][1] * (b[3] - b[1])};
        f64 reference = k == 0 ? 0.0 : target[0].x;
        target[k] = Vec2{wrapLongitudeTurns(measure->gpts[k][0], reference), mercatorY(measure->gpts[k][1])};
    }
    Transformation fit;
    ApplyTransformation apply;
    if (count == 4) {
        createProjectiveTransformation(&fit, &source[0], &source[1], &source[2], &source[3], &target[0], &target[1],
                                       &target[2], &target[3]);
        apply = applyProjectiveTransformation;
    } else {
        fitAffineFromThreePoints(&fit, &source[0], &source[1], &source[2], &target[0], &target[1], &target[2]);
        apply = applyAffineTransformation;
    }
    FixedString degenerate = objectMessage("Geo object @ @ has a degenerate georeference", measure->id);
    if (fit.forwardSingular) return degenerate;
    auto map = [&](f64 s, f64 t) {
        Vec2 at = shownPagePoint(page, s, t), out;
        apply(&out, &at, &fit);
        return out;
    };
    f64 horizontal = distance(map(0, 0.5), map(1, 0.5));
    f64 vertical = distance(map(0.5, 0), map(0.5, 1));
    u32 columns = 0, rows = 0;
    if (!choosePdfGrid(vertical / horizontal, 0, &columns, &rows)) return degenerate;
    entry->pageIndex = (u32)page->pageIndex;
    entry->columns = columns;
    entry->rows = rows;
    for (u32 r = 0; r < rows; r++) {
        for (u32 c = 0; c < columns; c++) {
            Vec2 point = map((f64)c / (columns - 1), (f64)r / (rows - 1));
            if (!std::isfinite(point.x) || !std::isfinite(point.y)) return degenerate;
            entry->points[r * columns + c][0] = point.x;
            entry->points[r * columns + c][1] = point.y;
        }
    }
    return FixedString{};
}

const PdfPageTree* findTreeNode(const PdfGeoRecord* record, u64 id) {
    for (u32 k = 0; k < record->treeCount; k++) {
        if (record->trees[k].id == id) return &record->trees[k];
    }
    return nullptr;
}

// Numbers the leaves under node in document order from *next, depth first; a node met a second time
// (a damaged tree that loops) is not walked again.
void numberPages(PdfGeoRecord* record, const PdfPageTree* node, u64* walked, i32* next) {
    *walked |= (u64)1 << (node - record->trees);
    for (u32 k = 0; k < node->kidCount; k++) {
        const PdfPageTree* inner = findTreeNode(record, node->kids[k]);
        if (inner) {
            if (!(*walked & ((u64)1 << (inner - record->trees)))) numberPages(record, inner, walked, next);
            continue;
        }
        for (u32 i = 0; i < record->pageCount; i++) {
            if (record->pages[i].id == node->kids[k] && record->pages[i].pageIndex < 0) record->pages[i].pageIndex = *next;
        }
        (*next)++;
    }
}

void linkAndFit(PdfGeoRecord* record, PdfGeoResult* out) {
    if (record->treeCount == 0) {
        out->message = makeString("Couldn't find a Pages object");
        return;
    }
    for (u32 i = 0; i < record->pageCount; i++) {
        FixedString failure = settlePdfPageBoxes(&record->pages[i], record);
        if (failure.length) {
            out->message = failure;
            return;
        }
    }
    for (u32 v = 0; v < record->viewportCount; v++) {
        PdfViewportRecord* viewport = &record->viewports[v];
        for (u32 i = 0; i < record->pageCount && !viewport->page; i++) {
            PdfPageRecord* page = &record->pages[i];
            for (u32 k = 0; k < page->viewportRefCount; k++) {
                if (page->viewportRefs[k] == viewport->id) viewport->page = page;
            }
        }
    }
    for (u32 m = 0; m < record->measureCount; m++) {
        PdfMeasureRecord* measure = &record->measures[m];
        // A viewport on a page wins over one that no page names.
        if (measure->viewport) continue;
        for (u32 v = 0; v < record->viewportCount; v++) {
            PdfViewportRecord* viewport = &record->viewports[v];
            if (viewport->measureNumber == 0 && viewport->measureGeneration == 0) continue;
            if (pdfObjectId(viewport->measureNumber, viewport->measureGeneration) != measure->id) continue;
            if (!measure->viewport || (viewport->page && !measure->viewport->page)) measure->viewport = viewport;
        }
    }
    // The root is the node no other node holds: the one without a parent that is a node.
    const PdfPageTree* root = &record->trees[0];
    for (u32 k = 0; k < record->treeCount; k++) {
        if (!findTreeNode(record, record->trees[k].parent)) {
            root = &record->trees[k];
            break;
        }
    }
    i32 next = 0;
    u64 walked = 0;
    numberPages(record, root, &walked, &next);
    PdfPageGeo* entry = new (std::nothrow) PdfPageGeo;
    if (!entry) {
        out->message = makeString("Out of memory");
        return;
    }
    for (u32 m = 0; m < record->measureCount; m++) {
        std::memset(entry, 0, sizeof(*entry));
        FixedString failure = fitMeasure(&record->measures[m], entry);
        if (failure.length) {
            out->message = failure;
            out->pageCount = 0;
            break;
        }
        u32 slot = out->pageCount;
        for (u32 k = 0; k < out->pageCount; k++) {
            if (out->pages[k].pageIndex == entry->pageIndex) slot = k;
        }
        if (slot < out->pageCount) {
            if (entry->area > out->pages[slot].area) out->pages[slot] = *entry;
        } else if (out->pageCount < kPdfMaxPages) {
            out->pages[out->pageCount++] = *entry;
        }
    }
    delete entry;
}

}  // namespace

u32 choosePdfGrid(f64 ratio, u32 roundUp, u32* columns, u32* rows) {
    *columns = 0;
    *rows = 0;
    if (!std::isfinite(ratio) || !(ratio > 0)) return 0;
    u32 c = 2, r = 200;
    for (u32 k = 2; k < kPdfGridPoints; k++) {
        f64 scaled = (f64)k * ratio;
        f64 candidateRows = (roundUp ? std::ceil(scaled) : std::round(scaled)) + 1.0;
        if (candidateRows < 2) candidateRows = 2;
        if ((f64)(k + 1) * candidateRows >= (f64)kPdfGridPoints) break;
        c = k + 1;
        r = (u32)candidateRows;
    }
    *columns = c;
    *rows = r;
    return 1;
}

void parsePdfObjects(PdfGeoResult* out, const u8* bytes, i64 length) {
    std::memset(out, 0, sizeof(*out));
    PdfGeoRecord* record = new (std::nothrow) PdfGeoRecord;
    InflateState* state = new (std::nothrow) InflateState;
    if (!record || !state) {
        out->message = makeString("Out of memory");
    } else {
        std::memset(record, 0, sizeof(*record));
        scanObjects(bytes, length < 0 ? 0 : length, record, &out->message, state);
        if (out->message.length == 0) linkAndFit(record, out);
        if (out->message.length) out->pageCount = 0;
        // Georeferenced, but only through the older LGIDict: say so rather than find no map.
        if (out->message.length == 0 && out->pageCount == 0 && record->lgiSeen) {
            out->message = makeString("This PDF's georeference is not of the supported kind");
        }
    }
    delete record;
    delete state;
}
