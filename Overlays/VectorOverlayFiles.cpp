#include "Overlays/VectorOverlayFiles.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Decoders/Inflate.h"
#include "Decoders/Jpeg.h"
#include "Decoders/Png.h"
#include "Decoders/Zip.h"
#include "Platform/FileTables.h"

ArchiveEntryBytes archiveEntryBytes(const ZipDirectoryEntry* entry, const u8* archive, i64 archiveLength) {
    ArchiveEntryBytes out{};
    if (entry->method == 0) {
        // A stored entry's bytes never reach past its stored data.
        out.data = entry->data;
        out.length = entry->uncompressedSize < entry->compressedSize ? entry->uncompressedSize : entry->compressedSize;
        return out;
    }
    if (entry->method != 8) {
        out.unsupportedMethod = 1;
        return out;
    }
    u64 size = entry->uncompressedSize;
    // DEFLATE expands at most 1,032 times: a header that claims more cannot be right, and is not
    // allowed to reserve gigabytes.
    if (size > (u64)entry->compressedSize * 1032 + 1024) {
        out.error = format("Compressed data length from header does not match length of deflated data");
        return out;
    }
    out.buffer = allocateFileBuffer(size ? size : 1);
    if (!out.buffer) {
        out.error = formatStrStr("Failed to allocate @ bytes of memory for decompressing @", byteSizeString((i64)size),
                                 entry->name);
        return out;
    }
    InflateState* state = new InflateState{};
    state->output = out.buffer;
    state->outputCapacity = (i64)size;
    i64 position = entry->dataOffset;
    i64 end = entry->dataOffset + entry->compressedSize;
    if (end > archiveLength) end = archiveLength;
    i32 result = inflate(archive, &position, end, state);
    delete state;
    if (result != InflateDone) {
        out.error = formatInt("Inflate return error code: @", result);
    } else if (position != entry->dataOffset + (i64)entry->compressedSize) {
        out.error = format("Compressed data length from header does not match length of deflated data");
    }
    if (out.error.length) {
        freeFileBuffer(out.buffer);
        out.buffer = nullptr;
        return out;
    }
    out.data = out.buffer;
    out.length = (i64)size;
    return out;
}

namespace {

// Decodes one icon into the pixel store; the image's state and the overlay's message tell how.
void decodeArchiveIcon(const ZipDirectoryEntry* entry, const u8* data, i64 length, OverlayMarkerImage* image,
                       VectorOverlay* o) {
    u64 roomWords = kOverlayMaxPixelWords - o->pixelWordCount;
    u8* pixels = (u8*)(o->markerImagePixels + o->pixelWordCount);
    i64 capacity = (i64)(roomWords * 4);
    ImageResult result{};
    const char* name = entry->name.text;
    i64 nameLength = fixedStringLength(&entry->name);
    if (endsWithIgnoringCase(name, nameLength, "png")) {
        // The size first, with no pixels: an icon larger than the room left is refused before any
        // scratch is reserved.
        parsePng(&result, data, length, nullptr, 0, 4, 4, nullptr, 0);
        u64 words = (u64)result.width * result.height;
        if (result.width == 0 || result.height == 0 || words > roomWords) {
            if (result.width && result.height) {
                parsePng(&result, data, length, pixels, capacity, 4, 4, nullptr, 0);
            }
            image->state = OverlayImageDecodeFailed;
            o->message = formatStrStr("Failed to parse @: @", entry->name, result.error);
            return;
        }
        u64 scratchSize = ((u64)result.width * 8 + 1) * result.height;
        u8* scratch = allocateFileBuffer(scratchSize);
        if (!scratch) {
            image->state = OverlayImageNoScratch;
            o->message = formatStrStr("@ failed to allocate @ of scratch memory", entry->name,
                                      byteSizeString((i64)scratchSize));
            return;
        }
        parsePng(&result, data, length, pixels, capacity, 4, 4, scratch, (i64)scratchSize);
        freeFileBuffer(scratch);
    } else if (endsWithIgnoringCase(name, nameLength, "jpeg") || endsWithIgnoringCase(name, nameLength, "jpg")) {
        parseJpeg(&result, data, length, pixels, capacity, 4, 4);
    } else {
        image->state = OverlayImageUnsupportedType;
        o->message = formatStr("@ is an unsupported file type (should be png or jpeg/jpg)", entry->name);
        return;
    }
    if (result.error.length) {
        image->state = OverlayImageDecodeFailed;
        o->message = formatStrStr("Failed to parse @: @", entry->name, result.error);
        return;
    }
    image->state = OverlayImagePresent;
    image->firstPixel = o->pixelWordCount;
    image->width = result.width;
    image->height = result.height;
    o->pixelWordCount += result.width * result.height;
}

// Little-endian reading with a bounds check per read.
struct Reader {
    const u8* bytes;
    u64 length;
    u64 position;
};

bool has(const Reader* r, u64 count) { return r->position <= r->length && r->length - r->position >= count; }
u8 readU8(Reader* r) { return r->bytes[r->position++]; }
u16 readU16(Reader* r) {
    u16 v;
    std::memcpy(&v, r->bytes + r->position, 2);
    r->position += 2;
    return v;
}
u32 readU32(Reader* r) {
    u32 v;
    std::memcpy(&v, r->bytes + r->position, 4);
    r->position += 4;
    return v;
}
u64 readU64(Reader* r) {
    u64 v;
    std::memcpy(&v, r->bytes + r->position, 8);
    r->position += 8;
    return v;
}
f32 readF32(Reader* r) {
    f32 v;
    std::memcpy(&v, r->bytes + r->position, 4);
    r->position += 4;
    return v;
}
f64 readF64(Reader* r) {
    f64 v;
    std::memcpy(&v, r->bytes + r->position, 8);
    r->position += 8;
    return v;
}
FixedString readText(Reader* r, u32 length) {
    FixedString s = stringFromBytes(r->bytes + r->position, length);
    r->position += length;
    return s;
}

u32 clampCount(u32 count, u32 capacity) { return count < capacity ? count : capacity; }

}  // namespace

FixedString kmzWithoutKmlMessage(const ZipDirectory* directory) {
    if (directory->localEntriesSeen > kZipMaxEntries) {
        return formatIntInt("No .kml among the first @ of the @ files in the .kmz", kZipMaxEntries,
                            directory->localEntriesSeen);
    }
    return makeString("The .kmz holds no .kml file");
}

FixedString parseKmz(const u8* bytes, i64 length, VectorOverlay* overlay) {
    ProfilingScope profile("parseKmz");
    clearVectorOverlay(overlay);
    ZipDirectory* directory = new ZipDirectory;
    readZipDirectory(directory, bytes, length);
    if (directory->error.length) {
        FixedString error = directory->error;
        delete directory;
        return error;
    }
    FixedString failure{};
    bool kmlFound = false;
    for (i32 i = 0; i < directory->entryCount; i++) {
        const ZipDirectoryEntry* entry = &directory->entries[i];
        i64 nameLength = fixedStringLength(&entry->name);
        if (nameLength < 4 || std::memcmp(entry->name.text + nameLength - 4, ".kml", 4) != 0) continue;
        kmlFound = true;
        if (entry->method != 0 && entry->method != 8) {
            failure = formatInt("Unsupported compression method: @", entry->method);
            break;
        }
        ArchiveEntryBytes kml = archiveEntryBytes(entry, bytes, length);
        if (kml.error.length) {
            failure = kml.error;
            break;
        }
        FixedString result = parseKmlDocument(kml.data, kml.length, overlay);
        if (result.length && !overlay->message.length) overlay->message = result;
        if (kml.buffer) freeFileBuffer(kml.buffer);
        break;
    }
    if (!kmlFound && !failure.length) failure = kmzWithoutKmlMessage(directory);
    for (u32 m = 0; m < overlay->markerImageCount && !failure.length; m++) {
        OverlayMarkerImage* image = &overlay->markerImages[m];
        if (image->state != OverlayImageToDownload) continue;
        if (image->href.length >= 4 && std::memcmp(image->href.text, "http", 4) == 0) continue;
        const ZipDirectoryEntry* entry = nullptr;
        for (i32 i = 0; i < directory->entryCount && !entry; i++) {
            const ZipDirectoryEntry* candidate = &directory->entries[i];
            if (fixedStringLength(&candidate->name) == image->href.length &&
                equalsIgnoringCase(image->href.text, candidate->name.text, image->href.length)) {
                entry = candidate;
            }
        }
        if (!entry) {
            image->state = OverlayImageNotInArchive;
            overlay->message = formatStr("Could not find @ in the .kmz", image->href);
            continue;
        }
        if (entry->method != 0 && entry->method != 8) {
            image->state = OverlayImageUnsupportedCompression;
            overlay->message = formatStrInt("@ is compressed with unsupported compression type @", entry->name,
                                            entry->method);
            continue;
        }
        ArchiveEntryBytes icon = archiveEntryBytes(entry, bytes, length);
        if (icon.error.length) {
            failure = icon.error;
            break;
        }
        decodeArchiveIcon(entry, icon.data, icon.length, image, overlay);
        if (icon.buffer) freeFileBuffer(icon.buffer);
    }
    delete directory;
    return failure;
}

FixedString parseKmlBin(const u8* bytes, u64 length, VectorOverlay* o) {
    clearVectorOverlay(o);
    const FixedString truncated = makeString("Truncated file");
    const FixedString corrupted = makeString("Corrupted file");
    if (!bytes || length < (u64)kKmlBinHeadBytes) return truncated;
    Reader reader{bytes, length, 8};
    Reader* r = &reader;
    u32 markers = readU32(r), styles = readU32(r), images = readU32(r), pixels = readU32(r);
    u32 vertices = readU32(r), segments = readU32(r), triangles = readU32(r);
    u8 messageLength = readU8(r);
    if (!has(r, messageLength)) return truncated;
    o->message = readText(r, messageLength);
    if (markers > kOverlayMaxMarkers || styles > kOverlayMaxMarkerStyles || images > kOverlayMaxMarkerImages ||
        pixels > kOverlayMaxPixelWords || vertices > kOverlayMaxPolygonVertices || triangles > kOverlayMaxTriangles) {
        return corrupted;
    }
    // Markers without styles keep style index 0, which draws nothing.
    u32 styleLimit = styles > 0 ? styles : 1;
    for (u32 i = 0; i < markers; i++) {
        if (!has(r, 29)) return truncated;
        OverlayMarker* marker = &o->markers[i];
        *marker = OverlayMarker{};
        u8 style = readU8(r);
        if (style >= styleLimit) return corrupted;
        marker->styleIndex = style;
        marker->x = readF64(r);
        marker->y = readF64(r);
        marker->nearest = readF64(r);
        u32 nameLength = readU32(r);
        if (!has(r, nameLength)) return truncated;
        marker->name = readText(r, nameLength);
        o->markerCount = i + 1;
    }
    if (!has(r, (u64)styles * 18)) return truncated;
    for (u32 i = 0; i < styles; i++) {
        OverlayMarkerStyle* style = &o->markerStyles[i];
        *style = OverlayMarkerStyle{};
        style->imageIndex = (i32)readU32(r);
        style->scale = readF32(r);
        style->hotSpotX = readF32(r);
        style->xUnits = readU8(r);
        style->hotSpotY = readF32(r);
        style->yUnits = readU8(r);
        if (style->imageIndex < -1 || style->imageIndex >= (i32)images) return corrupted;
        o->markerStyleCount = i + 1;
    }
    for (u32 i = 0; i < images; i++) {
        if (!has(r, 20)) return truncated;
        OverlayMarkerImage* image = &o->markerImages[i];
        *image = OverlayMarkerImage{};
        image->firstPixel = readU64(r);
        image->width = readU32(r);
        image->height = readU32(r);
        u32 hrefLength = readU32(r);
        if (!has(r, hrefLength)) return truncated;
        image->href = readText(r, hrefLength);
        image->state = OverlayImagePresent;
        u64 words = (u64)image->width * image->height;
        if (image->firstPixel > pixels || words > pixels - image->firstPixel) return corrupted;
        o->markerImageCount = i + 1;
    }
    if (!has(r, (u64)pixels * 4)) return truncated;
    std::memcpy(o->markerImagePixels, bytes + r->position, (size_t)pixels * 4);
    r->position += (u64)pixels * 4;
    o->pixelWordCount = pixels;
    if (!has(r, (u64)vertices * 16)) return truncated;
    for (u32 i = 0; i < vertices; i++) {
        o->polygonVertices[i].x = readF64(r);
        o->polygonVertices[i].y = readF64(r);
    }
    o->polygonVertexCount = vertices;
    if (!has(r, (u64)segments * 40)) return truncated;
    // As many segments as memory holds; the rest are passed over and counted.
    u32 kept = segments;
    while (kept > 0 && !reserveOverlayLineSegments(o, kept)) kept /= 2;
    for (u32 i = 0; i < kept; i++) {
        OverlayLineSegment* s = &o->lineSegments[i];
        s->x0 = readF64(r);
        s->y0 = readF64(r);
        s->x1 = readF64(r);
        s->y1 = readF64(r);
        s->colour = readU32(r);
        s->width = readF32(r);
    }
    r->position += (u64)(segments - kept) * 40;
    o->lineSegmentCount = kept;
    o->lineSegmentsInFile = segments;
    if (kept < segments) o->message = overlayLinesShownText(o);
    if (!has(r, (u64)triangles * 10)) return truncated;
    for (u32 i = 0; i < triangles; i++) {
        u16 a = readU16(r), b = readU16(r), c = readU16(r);
        if (a >= vertices || b >= vertices || c >= vertices) return corrupted;
        o->triangles[i * 3] = a;
        o->triangles[i * 3 + 1] = b;
        o->triangles[i * 3 + 2] = c;
        o->triangleColours[i] = readU32(r);
        o->triangleCount = i + 1;
    }
    return FixedString{};
}

void writeKmlBin(const VectorOverlay* o, ByteWriter* w, u64 sourceTime) {
    u32 markers = clampCount(o->markerCount, kOverlayMaxMarkers);
    u32 styles = clampCount(o->markerStyleCount, kOverlayMaxMarkerStyles);
    u32 images = clampCount(o->markerImageCount, kOverlayMaxMarkerImages);
    u32 pixels = clampCount(o->pixelWordCount, kOverlayMaxPixelWords);
    u32 vertices = clampCount(o->polygonVertexCount, kOverlayMaxPolygonVertices);
    u32 segments = o->lineSegmentCount;
    u32 triangles = clampCount(o->triangleCount, kOverlayMaxTriangles);
    appendU64Le(sourceTime, w);
    appendU32Le(markers, w);
    appendU32Le(styles, w);
    appendU32Le(images, w);
    appendU32Le(pixels, w);
    appendU32Le(vertices, w);
    appendU32Le(segments, w);
    appendU32Le(triangles, w);
    i64 messageLength = fixedStringLength(&o->message);
    appendU8((u8)messageLength, w);
    appendBytes(o->message.text, messageLength, w);
    for (u32 i = 0; i < markers; i++) {
        const OverlayMarker* m = &o->markers[i];
        i32 style = m->styleIndex >= 0 && (u32)m->styleIndex < styles ? m->styleIndex : 0;
        appendU8((u8)style, w);
        appendF64Le(m->x, w);
        appendF64Le(m->y, w);
        appendF64Le(m->nearest, w);
        i64 nameLength = fixedStringLength(&m->name);
        appendU32Le((u32)nameLength, w);
        appendBytes(m->name.text, nameLength, w);
    }
    for (u32 i = 0; i < styles; i++) {
        const OverlayMarkerStyle* s = &o->markerStyles[i];
        i32 image = s->imageIndex >= 0 && (u32)s->imageIndex < images ? s->imageIndex : -1;
        appendU32Le((u32)image, w);
        appendF32Le(s->scale, w);
        appendF32Le(s->hotSpotX, w);
        appendU8((u8)s->xUnits, w);
        appendF32Le(s->hotSpotY, w);
        appendU8((u8)s->yUnits, w);
    }
    for (u32 i = 0; i < images; i++) {
        const OverlayMarkerImage* image = &o->markerImages[i];
        // Icons without pixels (failed, unused or never fetched) are kept with no size.
        bool present = image->state == OverlayImagePresent &&
                       image->firstPixel + (u64)image->width * image->height <= pixels;
        appendU64Le(present ? image->firstPixel : 0, w);
        appendU32Le(present ? image->width : 0, w);
        appendU32Le(present ? image->height : 0, w);
        i64 hrefLength = fixedStringLength(&image->href);
        appendU32Le((u32)hrefLength, w);
        appendBytes(image->href.text, hrefLength, w);
    }
    appendBytes(o->markerImagePixels, (i64)pixels * 4, w);
    for (u32 i = 0; i < vertices; i++) {
        appendF64Le(o->polygonVertices[i].x, w);
        appendF64Le(o->polygonVertices[i].y, w);
    }
    for (u32 i = 0; i < segments; i++) {
        const OverlayLineSegment* s = &o->lineSegments[i];
        appendF64Le(s->x0, w);
        appendF64Le(s->y0, w);
        appendF64Le(s->x1, w);
        appendF64Le(s->y1, w);
        appendU32Le(s->colour, w);
        appendF32Le(s->width, w);
    }
    for (u32 i = 0; i < triangles; i++) {
        appendU16Le(o->triangles[i * 3], w);
        appendU16Le(o->triangles[i * 3 + 1], w);
        appendU16Le(o->triangles[i * 3 + 2], w);
        appendU32Le(o->triangleColours[i], w);
    }
}
