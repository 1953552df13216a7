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
#include "Core/JobQueue.h"
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

// How an import's job follows a long parse: its cancel flag and its percentage over the archive's KML
// (done: the compressed bytes of the entries before, share: this entry's).
struct ParseWatch {
    const u32* cancel;
    u32* percent;
    u64 done;
    u64 share;
    u64 total;
};
constexpr u32 kTokensBetweenLooks = 4096;

// Fills the tables from one KML document; false when the watch's cancel flag stopped it.
bool parseKml(const u8* kml, i64 length, const ParseWatch* watch = nullptr) {
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
    for (u32 tokens = 1; !t->overflow; tokens++) {
        if (watch && tokens % kTokensBetweenLooks == 0) {
            if (__atomic_load_n(watch->cancel, __ATOMIC_ACQUIRE)) return false;
            u64 here = watch->done + (length ? watch->share * (u64)reader.position / (u64)length : 0);
            __atomic_store_n(watch->percent, (u32)(watch->total ? here * 100 / watch->total : 0), __ATOMIC_RELAXED);
        }
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
    return true;
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

// One KML entry as a content payload (from allocateFileBuffer) in *payload; the reason there is none,
// else empty. A parse stopped by the watch's cancel flag gives neither.
FixedString kmlPayload(const u8* kml, i64 length, const ParseWatch* watch, u8** payload, u64* size) {
    *payload = nullptr;
    *size = 0;
    if (!parseKml(kml, length, watch)) return FixedString{};
    static const char* const what[] = {"", "points", "lines", "markers"};
    if (gTables.overflow) {
        return formatCstrInt("File contained more @ than a drawing can take in one go (@)", what[gTables.overflow],
                             kMaxPayloadCount);
    }
    u64 bytes = kmzContentPayloadSize(gTables.pointCount, gTables.lineCount, gTables.markerCount);
    *payload = allocateFileBuffer(bytes);
    if (!*payload) return formatStr("Failed to allocate @ of memory for the drawing", byteSizeString((i64)bytes));
    ByteWriter writer = makeByteWriter(*payload, (i64)bytes);
    writePayload(&writer);
    *size = bytes;
    return FixedString{};
}

// A payload as one fresh edit; the reason it was refused, else empty.
FixedString applyPayload(const u8* payload, u64 size, KmzEditor* editor, u32 merge) {
    UndoActionResult result =
        runNewEdit(&editor->history, merge ? mergeIntoKmzEditorAction : clearKmzEditorAction, payload, size);
    if (!result.ok) {
        return formatCstr("@ refused: the drawing would hold more than 65,536 points, lines or markers",
                          merge ? "Merge" : "Load");
    }
    return FixedString{};
}

// One KML entry into the editor; the reason it was not applied, else empty.
FixedString applyKml(const u8* kml, i64 length, KmzEditor* editor, u32 merge) {
    u8* payload;
    u64 size;
    FixedString failure = kmlPayload(kml, length, nullptr, &payload, &size);
    if (!payload) return failure;
    failure = applyPayload(payload, size, editor, merge);
    freeFileBuffer(payload);
    return failure;
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
    bool kmlFound = false;
    for (i32 i = 0; i < directory.entryCount; ++i) {
        const ZipDirectoryEntry* entry = &directory.entries[i];
        if (!endsWithIgnoringCase(entry->name.text, fixedStringLength(&entry->name), ".kml")) continue;
        kmlFound = true;
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
    if (!kmlFound) *message = kmzWithoutKmlMessage(&directory);
}

void importKmzIntoKmzEditor(FileReadRequest** pendingRead, KmzEditor* editor, FixedString* message, u32 merge,
                            FileReadTable* reads) {
    FileReadRequest* request = *pendingRead;
    if (!request) return;
    u32 status = fileRequestStatus(request);
    if (status < FileStatusSuccess) return;
    *message = FixedString{};  // the last import's message gives way to this one's
    if (status == FileStatusSuccess) {
        importKmzBytes(request->data + request->headroom, (i64)request->bytesRead, editor, message, merge);
    }
    releaseFileReadRequest(request, reads);
    *pendingRead = nullptr;
}

// ---------------------------------------------------------------------------------------------------
// The import in slices.

namespace {

bool isKml(const ZipDirectoryEntry* entry) {
    return endsWithIgnoringCase(entry->name.text, fixedStringLength(&entry->name), ".kml");
}

u32 importState(const KmzImportJob* job) { return __atomic_load_n(&job->state, __ATOMIC_ACQUIRE); }

void endImport(KmzImportJob* job, FileReadTable* reads) {
    if (job->payload) freeFileBuffer(job->payload);
    job->payload = nullptr;
    releaseFileReadRequest(job->read, reads);
    job->read = nullptr;
    job->cancel = 0;
    job->state = KmzImportIdle;
}

}  // namespace

u32 kmzImportBusy(const KmzImportJob* job) { return importState(job) != KmzImportIdle; }

void cancelKmzImport(KmzImportJob* job) {
    if (kmzImportBusy(job)) __atomic_store_n(&job->cancel, 1u, __ATOMIC_RELEASE);
}

i64 kmzImportSliceJob(void* argument) {
    KmzImportJob* job = static_cast<KmzImportJob*>(argument);
    job->payload = nullptr;
    job->payloadSize = 0;
    job->failure = FixedString{};
    bool nothingToImport = false;
    if (!job->directoryRead) {
        readZipDirectory(&job->directory, job->bytes, job->length);
        job->directoryRead = 1;
        job->failure = job->directory.error;
        bool kmlFound = false;
        for (i32 i = 0; i < job->directory.entryCount && !job->failure.length; ++i) {
            if (!isKml(&job->directory.entries[i])) continue;
            kmlFound = true;
            job->kmlBytes += job->directory.entries[i].compressedSize;
        }
        // An archive with nothing to import says so rather than ending without a word.
        if (!job->failure.length && !kmlFound) {
            job->failure = kmzWithoutKmlMessage(&job->directory);
            nothingToImport = true;
        }
    }
    // The next ".kml" entry: read, parsed and turned into a payload.
    while (!job->failure.length && job->nextEntry < job->directory.entryCount &&
           !__atomic_load_n(&job->cancel, __ATOMIC_ACQUIRE)) {
        const ZipDirectoryEntry* entry = &job->directory.entries[job->nextEntry++];
        if (!isKml(entry)) continue;
        ArchiveEntryBytes kml = archiveEntryBytes(entry, job->bytes, job->length);
        if (kml.unsupportedMethod) {
            job->failure = formatInt("Unrecognized compression type: @", entry->method);
        } else if (kml.error.length) {
            job->failure = kml.error;
        } else {
            ParseWatch watch{&job->cancel, &job->percent, job->kmlDone, entry->compressedSize, job->kmlBytes};
            job->failure = kmlPayload(kml.data, kml.length, &watch, &job->payload, &job->payloadSize);
        }
        if (kml.buffer) freeFileBuffer(kml.buffer);
        job->kmlDone += entry->compressedSize;
        __atomic_store_n(&job->percent, (u32)(job->kmlBytes ? job->kmlDone * 100 / job->kmlBytes : 100),
                         __ATOMIC_RELAXED);
        break;
    }
    job->finished =
        job->nextEntry >= job->directory.entryCount || job->directory.error.length != 0 || nothingToImport;
    __atomic_store_n(&job->state, static_cast<u32>(KmzImportParsed), __ATOMIC_RELEASE);
    return 0;
}

void updateKmzImport(KmzImportJob* job, FileReadRequest** pendingRead, KmzEditor* editor, FixedString* message,
                     u32 merge, FileReadTable* reads, JobQueue* queue) {
    u32 state = importState(job);
    if (state == KmzImportRunning) return;
    if (state == KmzImportParsed) {
        // What the slice found, applied as one edit (or its failure kept), unless given up.
        bool cancelled = __atomic_load_n(&job->cancel, __ATOMIC_ACQUIRE) != 0;
        if (!cancelled && job->payload) {
            FixedString refused = applyPayload(job->payload, job->payloadSize, editor, job->merge);
            if (refused.length) *message = refused;
        } else if (!cancelled && job->failure.length) {
            *message = job->failure;
        }
        if (job->payload) freeFileBuffer(job->payload);
        job->payload = nullptr;
        job->failure = FixedString{};
        if (cancelled || job->finished) return endImport(job, reads);
    } else {
        FileReadRequest* request = *pendingRead;
        if (!request) return;
        u32 status = fileRequestStatus(request);
        if (status < FileStatusSuccess) return;
        *pendingRead = nullptr;
        *message = FixedString{};  // the last import's message gives way to this one's
        if (status != FileStatusSuccess) {
            releaseFileReadRequest(request, reads);
            return;
        }
        std::memset(static_cast<void*>(job), 0, sizeof(*job));
        job->read = request;
        job->merge = merge;
        job->bytes = request->data + request->headroom;
        job->length = (i64)request->bytesRead;
    }
    __atomic_store_n(&job->state, static_cast<u32>(KmzImportRunning), __ATOMIC_RELEASE);
    // A full ring takes the slice on a later frame.
    if (!pushAsyncJob(kmzImportSliceJob, job, queue)) job->state = KmzImportParsed;
}
