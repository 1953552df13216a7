// Zip directory reader and entry header writers.
#include "Decoders/Zip.h"

#include <cstring>

#include "Core/Format.h"
#include "Decoders/Checksum.h"
#include "Decoders/Deflate.h"

namespace {

constexpr u32 kLocalHeaderSignature = 0x04034B50;
constexpr u32 kCentralHeaderSignature = 0x02014B50;
constexpr u32 kEndRecordSignature = 0x06054B50;
constexpr u32 kDataDescriptorSignature = 0x08074B50;
constexpr u16 kFlagDataDescriptor = 1u << 3;

inline u16 readU16(const u8* p) { return (u16)(p[0] | (p[1] << 8)); }
inline u32 readU32(const u8* p) { return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24); }

// True when an extra field block holds a ZIP64 record (header id 1).
bool hasZip64Extra(const u8* extra, i64 length) {
    i64 p = 0;
    while (p + 4 <= length) {
        if (readU16(extra + p) == 1) return true;
        p += 4 + (i64)readU16(extra + p + 2);
    }
    return false;
}

struct CentralSizes {
    u32 compressedSize;
    u32 uncompressedSize;
};

// The central directory as the end record places it, looked for once per archive, and where the
// next search for a header begins. Writers put the central headers in the order of the local
// headers, so a search that starts after the last header found meets its own header at once.
struct CentralDirectory {
    i32 state;  // 0 not looked for yet, 1 found, 2 missing
    i64 start;
    i64 end;
    i64 cursor;  // always the start of a header on the chain from `start`
};

// Finds the end record from the archive's end; the central directory lies between the offset it
// gives and the record itself.
void locateCentralDirectory(const u8* bytes, i64 length, CentralDirectory* directory) {
    directory->state = 2;
    if (length < 22) return;
    i64 lowest = length - 22 - 65535;
    if (lowest < 0) lowest = 0;
    for (i64 p = length - 22; p >= lowest; p--) {
        if (readU32(bytes + p) != kEndRecordSignature) continue;
        i64 directorySize = readU32(bytes + p + 12);
        i64 directoryOffset = readU32(bytes + p + 16);
        i64 end = directoryOffset + directorySize;
        if (end > p) end = p;
        directory->state = 1;
        directory->start = directoryOffset;
        directory->end = end;
        directory->cursor = directoryOffset;
        return;
    }
}

// Finds the central header naming the local header at localOffset: from the cursor to the end of
// the directory, then from its start up to the cursor.
bool findCentralSizes(const u8* bytes, i64 length, i64 localOffset, CentralDirectory* directory, CentralSizes* out) {
    if (directory->state == 0) locateCentralDirectory(bytes, length, directory);
    if (directory->state != 1) return false;
    for (i32 pass = 0; pass < 2; pass++) {
        i64 q = pass == 0 ? directory->cursor : directory->start;
        i64 stop = pass == 0 ? directory->end : directory->cursor;
        while (q < stop && q + 46 <= directory->end && readU32(bytes + q) == kCentralHeaderSignature) {
            i64 next = q + 46 + (i64)readU16(bytes + q + 28) + readU16(bytes + q + 30) + readU16(bytes + q + 32);
            if (readU32(bytes + q + 42) == (u64)localOffset) {
                out->compressedSize = readU32(bytes + q + 20);
                out->uncompressedSize = readU32(bytes + q + 24);
                directory->cursor = next;
                return true;
            }
            q = next;
        }
    }
    return false;
}

// Ends the walk with a message; the entries found so far stay as they are, not compacted.
ZipDirectory* stopWalk(ZipDirectory* result, i32 stored, const FixedString& message) {
    result->entryCount = stored;
    result->error = message;
    return result;
}

}  // namespace

ZipDirectory* readZipDirectory(ZipDirectory* result, const u8* bytes, i64 length) {
    std::memset(result, 0, sizeof *result);
    if (!bytes || length < 8) return result;
    i32 stored = 0;
    i64 p = 0;
    CentralDirectory centralDirectory{};
    while (length - p >= 8) {
        u32 signature = readU32(bytes + p);
        if (signature == kLocalHeaderSignature) {
            if (length - p < 30) {
                return stopWalk(result, stored,
                                formatInt("Local file header at byte @ runs past the end of the archive", p));
            }
            const u8* h = bytes + p;
            u16 flags = readU16(h + 6);
            u32 method = readU16(h + 8);
            u32 compressedSize = readU32(h + 18);
            u32 uncompressedSize = readU32(h + 22);
            i64 nameLength = readU16(h + 26);
            i64 extraLength = readU16(h + 28);
            i64 dataOffset = p + 30 + nameLength + extraLength;
            FixedString name = stringFromBytes(h + 30, nameLength <= length - p - 30 ? nameLength : length - p - 30);
            if (dataOffset > length) {
                return stopWalk(result, stored,
                                formatInt("Local file header at byte @ runs past the end of the archive", p));
            }
            i64 dataEnd = dataOffset + compressedSize;
            i64 next = dataEnd;
            if (flags & kFlagDataDescriptor) {
                // The sizes follow the data in a descriptor; the central directory has them too, and
                // only it tells where the data ends.
                CentralSizes sizes{};
                if (!findCentralSizes(bytes, length, p, &centralDirectory, &sizes)) {
                    return stopWalk(result, stored, formatStr("Could not find data for @", name));
                }
                compressedSize = sizes.compressedSize;
                uncompressedSize = sizes.uncompressedSize;
                dataEnd = dataOffset + compressedSize;
                // The descriptor: an optional signature, the CRC, and both sizes in 4 bytes each, or in
                // 8 when the local header carries a ZIP64 extra field (as zip writes when piped).
                next = dataEnd + (hasZip64Extra(h + 30 + nameLength, extraLength) ? 20 : 12);
                if (dataEnd + 4 <= length && readU32(bytes + dataEnd) == kDataDescriptorSignature) next += 4;
            }
            if (dataEnd > length || next > length) {
                return stopWalk(result, stored, formatStr("Data of @ runs past the end of the archive", name));
            }
            result->localEntriesSeen++;
            if (stored < kZipMaxEntries) {
                ZipDirectoryEntry* e = &result->entries[stored++];
                e->name = name;
                e->data = bytes + dataOffset;
                e->compressedSize = compressedSize;
                e->uncompressedSize = uncompressedSize;
                e->localHeaderOffset = p;
                e->dataOffset = dataOffset;
                e->method = method;
                e->inCentralDirectory = 0;
            }
            p = next;
        } else if (signature == kCentralHeaderSignature) {
            if (length - p < 46) {
                return stopWalk(result, stored,
                                formatInt("Central directory header at byte @ runs past the end of the archive", p));
            }
            const u8* h = bytes + p;
            i64 localOffset = readU32(h + 42);
            for (i32 i = 0; i < stored; i++) {
                if (result->entries[i].localHeaderOffset == localOffset) result->entries[i].inCentralDirectory = 1;
            }
            p += 46 + (i64)readU16(h + 28) + readU16(h + 30) + readU16(h + 32);
        } else if (signature == kEndRecordSignature) {
            break;
        } else {
            return stopWalk(result, stored, format("Can not find next header"));
        }
    }
    i32 kept = 0;
    for (i32 i = 0; i < stored; i++) {
        if (!result->entries[i].inCentralDirectory) continue;
        if (kept != i) result->entries[kept] = result->entries[i];
        kept++;
    }
    for (i32 i = kept; i < stored; i++) std::memset(&result->entries[i], 0, sizeof result->entries[i]);
    result->entryCount = kept;
    return result;
}

ZipWrittenEntry* writeZipLocalFile(ZipWrittenEntry* result, i32 method, const FixedString* name, const u8* data,
                                   u64 length, u64* runningTotal, ByteWriter* writer) {
    std::memset(result, 0, sizeof *result);
    result->localHeaderOffset = (i32)writer->length;
    result->method = method == 8 ? 8 : 0;
    result->uncompressedSize = length;
    result->name = *name;
    if (writer->data) result->crc32 = crc32(data, (i64)length);

    appendU32Le(kLocalHeaderSignature, writer);
    appendU16Le(10, writer);
    appendU16Le(0, writer);
    appendU16Le(result->method, writer);
    appendU16Le(0x5F5A, writer);
    appendU16Le(0x5794, writer);
    appendU32Le(result->crc32, writer);
    LengthFieldMark compressedSizeField = reserveLengthField(writer, LengthFieldU32Le);
    appendU32Le((u32)length, writer);
    appendU16Le(name->length, writer);
    appendU16Le(0, writer);
    appendBytes(name->text, name->length, writer);

    i64 before = writer->length;
    if (result->method == 8) {
        BitWriter bits = makeBitWriter(writer, 0);
        deflateCompress(data, (i64)length, 1, &bits);
    } else {
        appendBytes(data, (i64)length, writer);
    }
    result->compressedSize = (i32)(writer->length - before);
    patchLengthField(&compressedSizeField, (u32)result->compressedSize);
    *runningTotal += (u64)name->length + 50;
    return result;
}

void writeZipCentralDirectoryHeader(const ZipWrittenEntry* entry, ByteWriter* writer) {
    appendU32Le(kCentralHeaderSignature, writer);
    appendU16Le(63, writer);
    appendU16Le(10, writer);
    appendU16Le(0, writer);
    appendU16Le(entry->method, writer);
    appendU16Le(0x74F1, writer);
    appendU16Le(0x5794, writer);
    appendU32Le(entry->crc32, writer);
    appendU32Le((u32)entry->compressedSize, writer);
    appendU32Le((u32)entry->uncompressedSize, writer);
    appendU16Le(entry->name.length, writer);
    appendU16Le(0, writer);
    appendU16Le(0, writer);
    appendU16Le(0, writer);
    appendU16Le(0, writer);
    appendU32Le(0, writer);
    appendU32Le((u32)entry->localHeaderOffset, writer);
    appendBytes(entry->name.text, entry->name.length, writer);
}
