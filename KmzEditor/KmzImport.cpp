// Exported KMZ files back into the editor: the KML's line and point placemarks as a content payload,
// applied as one Load or Merge per KML entry.
#include "KmzEditor/KmzImport.h"

#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Decoders/Xml.h"
#include "Decoders/Zip.h"
#include "Overlays/VectorOverlayFiles.h"
#include "Platform/FileTables.h"

namespace {

constexpr f64 kPi = 3.14159265358979323846;
constexpr u32 kMaxPayloadCount = 65535;
constexpr u32 kPointHashSlots = 1u << 17;
constexpr u32 kMaxGeometries = 256;

// The parse's tables (main thread and the fuzzer only): the points with their colours, the lines
// as positions, the markers, and a hash of point positions for sharing equal vertices.
struct ImportTables {
    KmzPoint points[kKmzPoolSlots];
    u8 pointColors[kKmzPoolSlots];
    KmzLine lines[kKmzPoolSlots];
    KmzMarker markers[kKmzPoolSlots];
    i32 hash[kPointHashSlots];  // position + 1; 0 empty
    u32 pointCount, lineCount, markerCount;
    u32 overflow;  // 1 points, 2 lines, 3 markers
};
ImportTables gTables;

bool sameText(const u8* text, i64 length, const char* literal) {
    i64 n = (i64)std::strlen(literal);
    return length == n && std::memcmp(text, literal, (size_t)n) == 0;
}
bool startsWith(const u8* text, i64 length, const char* literal) {
    i64 n = (i64)std::strlen(literal);
    return length >= n && std::memcmp(text, literal, (size_t)n) == 0;
}

// The element name without a namespace prefix.
bool isElement(const XmlToken& token, const char* name) {
    const u8* text = token.elementName;
    i64 length = token.elementNameLength;
    for (i64 i = length - 1; i >= 0; --i) {
        if (text[i] == ':') {
            text += i + 1;
            length -= i + 1;
            break;
        }
    }
    return sameText(text, length, name);
}

u32 hashOf(f64 x, f64 y) {
    u64 a, b;
    std::memcpy(&a, &x, 8);
    std::memcpy(&b, &y, 8);
    u64 h = (a * 0x9E3779B97F4A7C15ull) ^ (b + 0x632BE59BD9B4E019ull + (a << 6) + (a >> 2));
    h ^= h >> 29;
    return (u32)(h & (kPointHashSlots - 1));
}

// The position of the point at (x, y), written when new; -1 when the table is full.
i32 pointAt(f64 x, f64 y, u8 color) {
    ImportTables* t = &gTables;
    u32 h = hashOf(x, y);
    while (t->hash[h]) {
        const KmzPoint& p = t->points[t->hash[h] - 1];
        if (p.x == x && p.y == y) return t->hash[h] - 1;
        h = (h + 1) & (kPointHashSlots - 1);
    }
    if (t->pointCount >= kMaxPayloadCount) {
        t->overflow = 1;
        return -1;
    }
    u32 position = t->pointCount++;
    t->points[position] = KmzPoint{x, y};
    t->pointColors[position] = color;
    t->hash[h] = (i32)position + 1;
    return (i32)position;
}

bool isSeparator(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next "longitude,latitude[,altitude]" tuple as map coordinates; false at the end. A tuple that
// does not read as two finite numbers (or a latitude at a pole) gives ok = false.
bool nextTuple(const u8* text, i64* position, i64 end, Vec2* out, bool* ok) {
    i64 p = *position;
    while (p < end && isSeparator(text[p])) p++;
    if (p >= end) return false;
    i64 tupleEnd = p;
    while (tupleEnd < end && !isSeparator(text[tupleEnd])) tupleEnd++;
    *position = tupleEnd;
    *ok = false;
    f64 longitude = parseDouble(text, &p, tupleEnd, NAN);
    if (p >= tupleEnd || text[p] != ',') return true;
    p++;
    f64 latitude = parseDouble(text, &p, tupleEnd, NAN);
    if (!std::isfinite(longitude) || !std::isfinite(latitude) || latitude <= -90 || latitude >= 90) return true;
    out->x = wrapLongitudeTurns(longitude, 0);
    out->y = std::log(std::tan(latitude * kPi / 360 + kPi / 4)) / (2 * kPi);
    *ok = std::isfinite(out->x) && std::isfinite(out->y);
    return true;
}

void addLineString(const u8* text, i64 start, i64 end, u8 color) {
    ImportTables* t = &gTables;
    i64 position = start;
    i32 previous = -1;
    Vec2 at{};
    bool ok = false;
    while (!t->overflow && nextTuple(text, &position, end, &at, &ok)) {
        if (!ok) continue;
        i32 point = pointAt(at.x, at.y, color);
        if (point < 0) return;
        if (previous >= 0 && previous != point) {
            if (t->lineCount >= kMaxPayloadCount) {
                t->overflow = 2;
                return;
            }
            t->lines[t->lineCount++] = KmzLine{(u32)previous, (u32)point, color};
        }
        previous = point;
    }
}

void addPoint(const u8* text, i64 start, i64 end, u32 kind) {
    ImportTables* t = &gTables;
    i64 position = start;
    Vec2 at{};
    bool ok = false;
    while (nextTuple(text, &position, end, &at, &ok)) {
        if (!ok) continue;
        if (t->markerCount >= kMaxPayloadCount) {
            t->overflow = 3;
            return;
        }
        u32 number = t->markerCount + 1;
        t->markers[t->markerCount++] = KmzMarker{at.x, at.y, number, kind};
        return;
    }
}

struct Geometry {
    u32 isPoint;
    i64 start, end;  // the coordinates text
};

// Colour by "#red" (whole text) or a prefix of the other names; -1 for "#black"; -2 unknown.
i32 lineColorOf(const u8* text, i64 length) {
    if (sameText(text, length, "#red")) return KmzRed;
    static const char* const prefixes[] = {"#orange", "#yellow", "#aqua", "#blue", "#purple", "#white"};
    for (i32 i = 0; i < 6; ++i) {
        if (startsWith(text, length, prefixes[i])) return i + 1;
    }
    if (startsWith(text, length, "#black")) return -1;
    return -2;
}

i32 markerKindOf(const u8* text, i64 length) {
    static const char* const prefixes[] = {"#flag", "#obstruction", "#fire", "#smoke", "#heat"};
    for (i32 i = 0; i < 5; ++i) {
        if (startsWith(text, length, prefixes[i])) return i;
    }
    return -1;
}

// Fills the tables from one KML document.
void parseKml(const u8* kml, i64 length) {
    ImportTables* t = &gTables;
    t->pointCount = t->lineCount = t->markerCount = 0;
    t->overflow = 0;
    std::memset(t->hash, 0, sizeof t->hash);
    XmlReader reader{};
    reader.text = kml;
    reader.length = length;
    XmlToken token;
    u32 inPlacemark = 0, inStyleUrl = 0, inCoordinates = 0, inLineString = 0, inPoint = 0;
    const u8* styleUrl = nullptr;
    i64 styleUrlLength = 0;
    i64 coordinatesStart = -1, coordinatesEnd = -1;
    static Geometry geometries[kMaxGeometries];
    u32 geometryCount = 0;
    u8 lastColor = KmzRed;
    u32 lastKind = KmzMarkerFlag;
    while (!t->overflow) {
        nextXmlToken(&token, &reader);
        if (token.kind == XmlEnd) break;
        if (token.kind == XmlElementOpen) {
            if (isElement(token, "Placemark")) {
                inPlacemark = 1;
                styleUrl = nullptr;
                styleUrlLength = 0;
                geometryCount = 0;
            } else if (inPlacemark && isElement(token, "styleUrl")) {
                inStyleUrl = 1;
            } else if (inPlacemark && isElement(token, "LineString")) {
                inLineString = 1;
            } else if (inPlacemark && isElement(token, "Point")) {
                inPoint = 1;
            } else if ((inLineString || inPoint) && isElement(token, "coordinates")) {
                inCoordinates = 1;
                coordinatesStart = coordinatesEnd = -1;
            }
        } else if (token.kind == XmlText) {
            if (inStyleUrl) {
                styleUrl = token.name;
                styleUrlLength = token.nameLength;
                // Blanks around the style name do not count.
                while (styleUrlLength && isSeparator(styleUrl[0])) styleUrl++, styleUrlLength--;
                while (styleUrlLength && isSeparator(styleUrl[styleUrlLength - 1])) styleUrlLength--;
            } else if (inCoordinates) {
                i64 start = token.name - kml, end = start + token.nameLength;
                if (coordinatesStart < 0) coordinatesStart = start;
                coordinatesEnd = end;
            }
        } else if (token.kind == XmlElementClose) {
            if (isElement(token, "styleUrl")) {
                inStyleUrl = 0;
            } else if (isElement(token, "coordinates")) {
                if (inCoordinates && coordinatesStart >= 0 && geometryCount < kMaxGeometries) {
                    geometries[geometryCount++] = Geometry{inPoint ? 1u : 0u, coordinatesStart, coordinatesEnd};
                }
                inCoordinates = 0;
            } else if (isElement(token, "LineString")) {
                inLineString = 0;
            } else if (isElement(token, "Point")) {
                inPoint = 0;
            } else if (isElement(token, "Placemark") && inPlacemark) {
                inPlacemark = 0;
                i32 color = styleUrl ? lineColorOf(styleUrl, styleUrlLength) : -2;
                i32 kind = styleUrl ? markerKindOf(styleUrl, styleUrlLength) : -1;
                if (color >= 0) lastColor = (u8)color;
                if (kind >= 0) lastKind = (u32)kind;
                for (u32 g = 0; g < geometryCount && !t->overflow; ++g) {
                    const Geometry& geometry = geometries[g];
                    if (geometry.isPoint) {
                        addPoint(kml, geometry.start, geometry.end, lastKind);
                    } else if (color != -1) {
                        addLineString(kml, geometry.start, geometry.end, lastColor);
                    }
                }
            }
        }
    }
}

void writePayload(ByteWriter* writer) {
    const ImportTables* t = &gTables;
    appendU16Le((u16)t->pointCount, writer);
    appendU16Le((u16)t->lineCount, writer);
    appendU16Le((u16)t->markerCount, writer);
    for (u32 i = 0; i < t->pointCount; ++i) {
        appendF64Le(t->points[i].x, writer);
        appendF64Le(t->points[i].y, writer);
        appendU8(t->pointColors[i], writer);
    }
    for (u32 i = 0; i < t->lineCount; ++i) {
        appendU32Le(t->lines[i].pointA, writer);
        appendU32Le(t->lines[i].pointB, writer);
        appendU32Le(t->lines[i].color, writer);
    }
    for (u32 i = 0; i < t->markerCount; ++i) {
        appendF64Le(t->markers[i].x, writer);
        appendF64Le(t->markers[i].y, writer);
        appendU32Le(t->markers[i].number, writer);
        appendU32Le(t->markers[i].kind, writer);
    }
}

// One KML entry into the editor; the reason it was not applied, else empty.
FixedString applyKml(const u8* kml, i64 length, KmzEditor* editor, u32 merge) {
    parseKml(kml, length);
    static const char* const what[] = {"", "points", "lines", "markers"};
    if (gTables.overflow) {
        return formatCstrInt("File contained more @ than a drawing can take in one go (@)", what[gTables.overflow],
                             kMaxPayloadCount);
    }
    u64 size = kmzContentPayloadSize(gTables.pointCount, gTables.lineCount, gTables.markerCount);
    u8* payload = allocateFileBuffer(size);
    if (!payload) return formatStr("Failed to allocate @ of memory for the drawing", byteSizeString((i64)size));
    ByteWriter writer = makeByteWriter(payload, (i64)size);
    writePayload(&writer);
    UndoActionResult result =
        runNewEdit(&editor->history, merge ? mergeIntoKmzEditorAction : clearKmzEditorAction, payload, size);
    freeFileBuffer(payload);
    if (!result.ok) {
        return formatCstr("@ refused: the drawing would hold more than 65,536 points, lines or markers",
                          merge ? "Merge" : "Load");
    }
    return FixedString{};
}

}  // namespace

FixedString kmlToKmzContentPayload(const u8* kml, i64 length, ByteWriter* writer) {
    parseKml(kml, length);
    static const char* const what[] = {"", "points", "lines", "markers"};
    if (gTables.overflow) {
        return formatCstrInt("File contained more @ than a drawing can take in one go (@)", what[gTables.overflow],
                             kMaxPayloadCount);
    }
    writePayload(writer);
    return FixedString{};
}

void importKmzBytes(const u8* bytes, i64 length, KmzEditor* editor, FixedString* message, u32 merge) {
    static ZipDirectory directory;
    readZipDirectory(&directory, bytes, length);
    if (directory.error.length) {
        *message = directory.error;
        return;
    }
    for (i32 i = 0; i < directory.entryCount; ++i) {
        const ZipDirectoryEntry* entry = &directory.entries[i];
        if (!endsWithIgnoringCase(entry->name.text, fixedStringLength(&entry->name), ".kml")) continue;
        ArchiveEntryBytes kml = archiveEntryBytes(entry, bytes, length);
        if (kml.unsupportedMethod) {
            *message = formatInt("Unrecognized compression type: @", entry->method);
            continue;
        }
        if (kml.error.length) {
            *message = kml.error;
            continue;
        }
        FixedString failure = applyKml(kml.data, kml.length, editor, merge);
        if (failure.length) *message = failure;
        if (kml.buffer) freeFileBuffer(kml.buffer);
    }
}

void importKmzIntoKmzEditor(FileReadRequest** pendingRead, KmzEditor* editor, FixedString* message, u32 merge,
                            FileReadTable* reads) {
    FileReadRequest* request = *pendingRead;
    if (!request) return;
    u32 status = fileRequestStatus(request);
    if (status < FileStatusSuccess) return;
    if (status == FileStatusSuccess) {
        importKmzBytes(request->data + request->headroom, (i64)request->bytesRead, editor, message, merge);
    }
    releaseFileReadRequest(request, reads);
    *pendingRead = nullptr;
}
