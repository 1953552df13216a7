#include "KmzEditor/KmzExport.h"

#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Decoders/Png.h"
#include "Decoders/Zip.h"
#include "KmzEditor/KmzEditorDrawing.h"
#include "Platform/FileTables.h"
#include "SourceCommon/Renderer/SoftwareText.h"
#include "SourceCommon/Renderer/TextLayout.h"

namespace {

constexpr u32 kEndOfCentralDirectory = 0x06054B50;

struct LineStyle {
    const char* id;
    const char* color;
    i32 width;
};
const LineStyle kLineStyles[8] = {
    {"red", "ff0000dd", 3},    {"orange", "ff0070dd", 3}, {"yellow", "ff00ddff", 3}, {"aqua", "ffcacc00", 3},
    {"blue", "ffe36400", 3},   {"purple", "ff9e0283", 3}, {"white", "ffffffff", 3},  {"black", "ff000000", 5},
};
const char* const kStyleStems[kKmzMarkerKindCount] = {"flag", "obstruction", "fire", "smoke", "heat"};
const char* const kIconStems[kKmzMarkerKindCount] = {"flag_white_marker", "obstruction_marker", "fire_marker",
                                                     "smoke_marker", "heat_marker"};

void line(i32 tabs, const char* text, ByteWriter* w) {
    for (i32 i = 0; i < tabs; ++i) appendU8('\t', w);
    appendCString(text, w);
    appendU8('\n', w);
}

void tuple(const KmzPoint& p, ByteWriter* w) {
    GeoPoint geo = kmzGeoOf(p.x, p.y);
    appendFixedString(kmzDegreesText(geo.longitude), w);
    appendU8(',', w);
    appendFixedString(kmzDegreesText(geo.latitude), w);
    appendCString(",0", w);
}

bool sameDegrees(const KmzPoint& a, const KmzPoint& b) {
    GeoPoint ga = kmzGeoOf(a.x, a.y), gb = kmzGeoOf(b.x, b.y);
    return ga.longitude == gb.longitude && ga.latitude == gb.latitude;
}

// One pass over the used segments: chains of one colour written as LineString placemarks, all
// with the "#black" style (outline) or each with its colour's.
void writeChains(const KmzEditor* editor, bool outline, ByteWriter* w) {
    bool open = false;
    u32 chainColor = 0;
    KmzPoint end{};
    auto close = [&]() {
        if (!open) return;
        appendCString(" \n", w);
        line(3, "</coordinates>", w);
        line(2, "</LineString>", w);
        line(1, "</Placemark>", w);
        open = false;
    };
    for (u32 slot = 0; slot < kKmzPoolSlots; ++slot) {
        if (!kmzSlotUsed(editor->lineUsed, slot)) continue;
        const KmzLine& segment = editor->lines[slot];
        const KmzPoint& a = editor->points[segment.pointA & (kKmzPoolSlots - 1)];
        const KmzPoint& b = editor->points[segment.pointB & (kKmzPoolSlots - 1)];
        u32 c = (u8)segment.color;
        bool sameColor = open && c == chainColor;
        bool aAtEnd = open && sameDegrees(a, end), bAtEnd = open && sameDegrees(b, end);
        if (sameColor && aAtEnd && !bAtEnd) {
            appendU8(' ', w);
            tuple(b, w);
            end = b;
        } else if (sameColor && bAtEnd && !aAtEnd) {
            appendU8(' ', w);
            tuple(a, w);
            end = a;
        } else if (sameColor && aAtEnd && bAtEnd) {
        } else {
            close();
            appendU8('\t', w);
            appendFixedString(formatInt("<Placemark id=\"@\">", slot), w);
            appendU8('\n', w);
            appendCString("\t\t<styleUrl>", w);
            if (outline) {
                appendCString("#black", w);
            } else if (c < kKmzColorCount) {
                appendU8('#', w);
                appendCString(kLineStyles[c].id, w);
            }
            appendCString("</styleUrl>\n", w);
            line(2, "<LineString>", w);
            line(3, "<coordinates>", w);
            appendCString("\t\t\t\t", w);
            tuple(a, w);
            appendU8(' ', w);
            tuple(b, w);
            open = true;
            chainColor = c;
            end = b;
        }
    }
    close();
}

// The marker's icon with its labels painted in, as PNG bytes at the end of scratch; their size, or
// 0 when the icon cannot be made in the scratch.
u64 markerIconPng(const KmzMarker& marker, u32 rank, const KmzExportAssets* assets, u8* scratch, u64 capacity,
                  const u8** png) {
    u32 kind = marker.kind < kKmzMarkerKindCount ? marker.kind : 0;
    const ImageResult* icon = assets->markerImages[kind];
    if (!icon || !icon->pixels || !icon->width || !icon->height || !icon->channels || icon->channels > 4) return 0;
    u64 w = icon->width, h = icon->height;
    u64 rgbaBytes = w * h * 4;
    if ((u64)icon->rowStride * h > capacity || rgbaBytes > capacity) return 0;
    // The copy as RGBA rows (the painter's format).
    for (u64 y = 0; y < h; ++y) {
        const u8* from = icon->pixels + y * icon->rowStride;
        u8* to = scratch + y * w * 4;
        for (u64 x = 0; x < w; ++x) {
            const u8* s = from + x * icon->channels;
            u8* d = to + x * 4;
            switch (icon->channels) {
                case 1: d[0] = d[1] = d[2] = s[0], d[3] = 255; break;
                case 2: d[0] = d[1] = d[2] = s[0], d[3] = s[1]; break;
                case 3: d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255; break;
                default: std::memcpy(d, s, 4); break;
            }
        }
    }
    const FontRecord* font = assets->fontInfo ? usableFontRecord(assets->fontInfo) : nullptr;
    if (font && assets->fontAtlas && assets->fontAtlas->pixels) {
        static SdfBatch quads;
        quads.quadCount = 0;
        f32 fw = (f32)w, fh = (f32)h;
        TextTarget target{font, &quads, nullptr, fw / 2, fh / 2};
        Rect everywhere{0, fw, 0, fh};
        if (kind != KmzMarkerObstruction) {
            static const f32 heights[kKmzMarkerKindCount] = {1.0f / 4, 0, 1.0f / 6, 1.0f / 3, 1.0f / 5};
            TextStyle style{0xFFFFFFFF, 0xFF000000, kmzColor(KmzBlue), fh / 5, 0.0255f, 0.015f};
            addWrappedString(kmzCoordinateLabel(marker.x, marker.y), AnchorCentre,
                             Vec2F32{fw / 2, fh * heights[kind]}, 0, everywhere, style, noTextCaret(), target);
        }
        Vec2F32 at;
        switch (kind) {
            case KmzMarkerObstruction: at = {fh / 2, fh / 3 + fh / 13}; break;
            case KmzMarkerFire: at = {fh / 2, fh / 3 + fh / 9}; break;
            case KmzMarkerSmoke: at = {fh / 6 + fh / 2 + fh / 25, fh / 4 + fh / 2 + fh / 25}; break;
            case KmzMarkerHeat: at = {fh / 2, fh / 3 + fh / 7 + fh / 48}; break;
            default: at = {0.625f * fh, 0.75f * fh}; break;
        }
        TextStyle numberStyle{0xFF000000, 0x00FFFFFF, kmzColor(KmzBlue), fh / 5, 0.0255f, 0.015f};
        addWrappedString(stringFromInt(rank), AnchorCentre, at, 0, everywhere, numberStyle, noTextCaret(), target);
        rasterizeSdfText(&quads, scratch, (i32)w, (i32)h, (i32)(w * 4),
                         SoftwareTextSource{fw / 2, fh / 2, assets->fontAtlas, font});
    }
    FixedString failure{};
    ByteWriter measure = makeByteWriter(nullptr, (i64)(capacity - rgbaBytes));
    u32 saveAs = icon->channels;
    encodePng(&failure, scratch, (i32)w, (u32)h, 4, 4, (i32)saveAs, &measure);
    if (failure.length || measure.overflow) return 0;
    ByteWriter out = makeByteWriter(scratch + rgbaBytes, measure.length);
    encodePng(&failure, scratch, (i32)w, (u32)h, 4, 4, (i32)saveAs, &out);
    if (failure.length || out.overflow) return 0;
    *png = scratch + rgbaBytes;
    return (u64)out.length;
}

FixedString iconName(u32 kind, u32 rank) { return formatCstrInt("@@.png", kIconStems[kind], rank); }

}  // namespace

KmzExportAssets kmzExportAssetsOf(const UiState* ui) {
    KmzExportAssets assets{};
    for (u32 k = 0; k < kKmzMarkerKindCount; ++k) {
        i32 index = kmzMarkerImageAsset(k);
        if (index >= 0 && ui->assets[index].state == FileStatusSuccess) assets.markerImages[k] = &ui->assets[index].image;
    }
    if (ui->assets[AssetFontSdf].state == FileStatusSuccess) assets.fontAtlas = &ui->assets[AssetFontSdf].image;
    assets.fontInfo = ui->fontInfo;
    return assets;
}

namespace {

// The document with each marker's style naming the icon it shows (ranks of the markers in order).
void writeDocument(const KmzEditor* editor, const u32* order, const u32* rank, const u32* iconOf, u32 count,
                   ByteWriter* w) {
    line(0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", w);
    line(0,
         "<kml xmlns=\"http://www.opengis.net/kml/2.2\" xmlns:gx=\"http://www.google.com/kml/ext/2.2\" "
         "xmlns:kml=\"http://www.opengis.net/kml/2.2\" xmlns:atom=\"http://www.w3.org/2005/Atom\">",
         w);
    line(0, "<Document>", w);
    line(1, "<name>doc</name>", w);
    for (const LineStyle& style : kLineStyles) {
        appendFixedString(formatCstr("\t<Style id=\"@\">\n", style.id), w);
        line(2, "<LineStyle>", w);
        appendFixedString(formatCstr("\t\t\t<color>@</color>\n", style.color), w);
        appendFixedString(formatInt("\t\t\t<width>@</width>\n", style.width), w);
        line(2, "</LineStyle>", w);
        line(1, "</Style>", w);
    }
    writeChains(editor, true, w);
    writeChains(editor, false, w);
    for (u32 i = 0; i < count; ++i) {
        const KmzMarker& marker = editor->markers[order[i]];
        u32 kind = marker.kind < kKmzMarkerKindCount ? marker.kind : 0;
        appendFixedString(formatCstrInt("\t<Style id=\"@@\">\n", kStyleStems[kind], rank[i]), w);
        line(2, "<IconStyle>", w);
        line(3, "<Icon>", w);
        appendFixedString(formatCstrInt("\t\t\t\t<href>@@.png</href>\n", kIconStems[kind], rank[iconOf[i]]), w);
        line(3, "</Icon>", w);
        line(3, "<scale>2.75</scale>", w);
        line(3, "<hotSpot x=\"0.5\" y=\"0.5\" xunits=\"fraction\" yunits=\"fraction\"/>", w);
        line(2, "</IconStyle>", w);
        line(1, "</Style>", w);
        appendFixedString(formatInt("\t<Placemark id=\"@\">\n", order[i]), w);
        appendFixedString(formatCstrInt("\t\t<styleUrl>#@@</styleUrl>\n", kStyleStems[kind], rank[i]), w);
        line(2, "<Point>", w);
        line(3, "<coordinates>", w);
        appendCString("\t\t\t\t", w);
        tuple(KmzPoint{marker.x, marker.y}, w);
        appendU8('\n', w);
        line(3, "</coordinates>", w);
        line(2, "</Point>", w);
        line(1, "</Placemark>", w);
    }
    line(0, "</Document>", w);
    appendCString("</kml>", w);
}

// Numbers the markers in order 1, 2, 3 ... within each kind.
void rankMarkers(const KmzEditor* editor, const u32* order, u32 count, u32* rank) {
    u32 previousKind = 0xFFFFFFFF;
    for (u32 i = 0; i < count; ++i) {
        u32 kind = editor->markers[order[i]].kind;
        rank[i] = i > 0 && kind == previousKind ? rank[i - 1] + 1 : 1;
        previousKind = kind;
    }
}

bool labelsCanBePainted(const KmzExportAssets* assets) {
    return assets->fontInfo && usableFontRecord(assets->fontInfo) && assets->fontAtlas && assets->fontAtlas->pixels;
}

constexpr u64 kLargestArchive = 0x7FFFFFFF;  // the zip headers' offsets
constexpr u32 kMostEntries = 0xFFFF;
constexpr i64 kEndRecordBytes = 22;

u8* documentPiece(KmzArchiveBuilder* b, u64* size) {
    ByteWriter measure = makeMeasuringWriter(INT64_MAX);
    writeDocument(b->drawing, b->order, b->rank, b->iconOf, b->markerCount, &measure);
    u8* kml = allocateFileBuffer((u64)measure.length);
    FixedString docName = makeString("doc.kml");
    u64 pieceSize = 30 + (u64)docName.length + (u64)measure.length;
    u8* piece = kml ? allocateFileBuffer(pieceSize) : nullptr;
    if (!piece) {
        freeFileBuffer(kml);
        b->failure = fileStatusString(FileStatusOutOfMemory);
        return nullptr;
    }
    ByteWriter document = makeByteWriter(kml, measure.length);
    writeDocument(b->drawing, b->order, b->rank, b->iconOf, b->markerCount, &document);
    ByteWriter writer = makeByteWriter(piece, (i64)pieceSize);
    ZipWrittenEntry written;
    u64 total = 0;
    writeZipLocalFile(&written, 0, &docName, kml, (u64)document.length, &total, &writer);
    freeFileBuffer(kml);
    b->entries[b->entryCount++] = KmzCentralEntry{(u32)written.compressedSize, written.crc32, (u32)b->offset, 0, 0,
                                                  (u32)written.uncompressedSize};
    b->documentDone = 1;
    *size = (u64)writer.length;
    return piece;
}

u8* iconPiece(KmzArchiveBuilder* b, u64* size) {
    u64 capacity = kKmzPieceBytes > b->scratchCapacity + 1024 ? kKmzPieceBytes : b->scratchCapacity + 1024;
    u8* piece = allocateFileBuffer(capacity);
    if (!piece) {
        b->failure = fileStatusString(FileStatusOutOfMemory);
        return nullptr;
    }
    ByteWriter writer = makeByteWriter(piece, (i64)capacity);
    u32 painted = 0;
    while (b->nextMarker < b->markerCount && painted < kKmzPieceIcons) {
        u32 i = b->nextMarker;
        if (b->iconOf[i] != i) {  // shows an icon stored before
            b->nextMarker++;
            continue;
        }
        const KmzMarker& marker = b->drawing->markers[b->order[i]];
        u32 kind = marker.kind < kKmzMarkerKindCount ? marker.kind : 0;
        const u8* png = nullptr;
        u64 pngSize = markerIconPng(marker, b->rank[i], &b->assets, b->scratch, b->scratchCapacity, &png);
        FixedString name = iconName(kind, b->rank[i]);
        // An icon that would not fit goes first into the next piece (painted again there).
        if (pngSize && writer.length + 30 + name.length + (i64)pngSize > writer.capacity) break;
        if (pngSize) {
            ZipWrittenEntry written;
            u64 total = 0;
            u64 at = b->offset + (u64)writer.length;
            writeZipLocalFile(&written, 0, &name, png, pngSize, &total, &writer);
            b->entries[b->entryCount++] = KmzCentralEntry{(u32)written.compressedSize, written.crc32, (u32)at,
                                                          kind + 1, b->rank[i], (u32)written.uncompressedSize};
            painted++;
        }
        b->nextMarker++;
    }
    *size = (u64)writer.length;
    return piece;
}

u8* directoryPiece(KmzArchiveBuilder* b, u64* size) {
    ByteWriter measure = makeMeasuringWriter(INT64_MAX);
    FixedString docName = makeString("doc.kml");
    for (u32 e = 0; e < b->entryCount; ++e) {
        ZipWrittenEntry entry{};
        entry.name = b->entries[e].kind ? iconName(b->entries[e].kind - 1, b->entries[e].rank) : docName;
        writeZipCentralDirectoryHeader(&entry, &measure);
    }
    u64 pieceSize = (u64)measure.length + kEndRecordBytes;
    u8* piece = allocateFileBuffer(pieceSize);
    if (!piece) {
        b->failure = fileStatusString(FileStatusOutOfMemory);
        return nullptr;
    }
    ByteWriter writer = makeByteWriter(piece, (i64)pieceSize);
    for (u32 e = 0; e < b->entryCount; ++e) {
        ZipWrittenEntry entry{};
        entry.compressedSize = (i32)b->entries[e].compressedSize;
        entry.uncompressedSize = b->entries[e].uncompressedSize;
        entry.name = b->entries[e].kind ? iconName(b->entries[e].kind - 1, b->entries[e].rank) : docName;
        entry.localHeaderOffset = (i32)b->entries[e].localHeaderOffset;
        entry.crc32 = b->entries[e].crc32;
        entry.method = 0;
        writeZipCentralDirectoryHeader(&entry, &writer);
    }
    u32 directorySize = (u32)writer.length;
    appendU32Le(kEndOfCentralDirectory, &writer);
    appendU16Le(0, &writer);
    appendU16Le(0, &writer);
    appendU16Le((u16)b->entryCount, &writer);
    appendU16Le((u16)b->entryCount, &writer);
    appendU32Le(directorySize, &writer);
    appendU32Le((u32)b->offset, &writer);
    appendU16Le(0, &writer);
    b->finished = 1;
    *size = (u64)writer.length;
    return piece;
}

}  // namespace

void writeKmzDocument(const KmzEditor* editor, ByteWriter* w) {
    static u32 order[kKmzPoolSlots], rank[kKmzPoolSlots], iconOf[kKmzPoolSlots];
    u32 count = kmzMarkersInOrder(editor, order);
    rankMarkers(editor, order, count, rank);
    for (u32 i = 0; i < count; ++i) iconOf[i] = i;
    writeDocument(editor, order, rank, iconOf, count, w);
}

void beginKmzArchive(KmzArchiveBuilder* b, const KmzEditor* drawing, const KmzExportAssets* assets, u8* scratch,
                     u64 scratchCapacity) {
    b->drawing = drawing;
    b->assets = *assets;
    b->scratch = scratch;
    b->scratchCapacity = scratchCapacity;
    b->nextMarker = 0;
    b->documentDone = 0;
    b->finished = 0;
    b->offset = 0;
    b->entryCount = 0;
    b->failure = FixedString{};
    b->markerCount = kmzMarkersInOrder(drawing, b->order);
    rankMarkers(drawing, b->order, b->markerCount, b->rank);
    // With labels every icon is the marker's own; without, every marker of a kind shows the same.
    bool labels = labelsCanBePainted(assets);
    u32 firstOfKind[kKmzMarkerKindCount];
    for (u32& first : firstOfKind) first = 0xFFFFFFFF;
    u32 stored = 0;
    for (u32 i = 0; i < b->markerCount; ++i) {
        u32 kind = drawing->markers[b->order[i]].kind;
        kind = kind < kKmzMarkerKindCount ? kind : 0;
        if (!labels && firstOfKind[kind] != 0xFFFFFFFF) {
            b->iconOf[i] = firstOfKind[kind];
            continue;
        }
        firstOfKind[kind] = i;
        b->iconOf[i] = i;
        stored++;
    }
    if (1 + stored > kMostEntries) {
        b->failure = formatInt("the drawing has @ marker icons, more than a zip file lists", stored);
    }
}

u8* nextKmzArchivePiece(KmzArchiveBuilder* b, u64* size) {
    *size = 0;
    if (b->failure.length || b->finished) return nullptr;
    u8* piece = !b->documentDone                    ? documentPiece(b, size)
                : b->nextMarker < b->markerCount ? iconPiece(b, size)
                                                 : directoryPiece(b, size);
    if (piece && b->offset + *size > kLargestArchive) {
        freeFileBuffer(piece);
        b->failure = makeString("the archive would pass 2 GB, more than a zip file holds");
        *size = 0;
        return nullptr;
    }
    b->offset += *size;
    return piece;
}

void writeKmzArchive(const KmzEditor* editor, const KmzExportAssets* assets, u8* scratch, u64 scratchCapacity,
                     ByteWriter* writer) {
    KmzArchiveBuilder* builder = (KmzArchiveBuilder*)allocateFileBuffer(sizeof(KmzArchiveBuilder));
    if (!builder) {
        writer->overflow = 1;
        return;
    }
    beginKmzArchive(builder, editor, assets, scratch, scratchCapacity);
    u64 size = 0;
    while (u8* piece = nextKmzArchivePiece(builder, &size)) {
        appendBytes(piece, (i64)size, writer);
        freeFileBuffer(piece);
    }
    if (builder->failure.length) writer->overflow = 1;
    freeFileBuffer(builder);
}

FixedString exportedKmzPath(i64 localMilliseconds1601) {
    DateTimeParts t = calendarFromMilliseconds(localMilliseconds1601);
    FixedString date = formatInt4("Exported Kmzs/@_@_@_@_", t.year, t.month, t.day, t.hour);
    FixedString minutes = formatStrCstr("@@_", date, t.minuteText);
    return formatStrCstr("@@.kmz", minutes, t.secondText);
}
