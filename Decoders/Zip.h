// Zip archives (PKWARE APPNOTE) held whole in memory: listing the entries of an archive with a
// pointer to each entry's stored data, and writing the local and central-directory headers of
// stored or deflated entries. ZIP64, encryption and multi-disk archives are not supported.
#pragma once
#include "Core/FixedString.h"

constexpr i32 kZipMaxEntries = 200;

struct ZipDirectoryEntry {
    FixedString name;          // from the local header
    const u8* data;            // first byte of the stored data inside the archive bytes
    u32 compressedSize;
    u32 uncompressedSize;
    i64 localHeaderOffset;
    i64 dataOffset;
    u32 method;                // 0 stored, 8 deflated; others passed on as they are
    u32 inCentralDirectory;    // 1 once a central header names this entry's local header
};

struct ZipDirectory {
    ZipDirectoryEntry entries[kZipMaxEntries];
    i32 entryCount;
    i32 localEntriesSeen;  // every local header walked, kept or not
    FixedString error;  // empty on success
};

// Lists the entries of an archive that its central directory names (at most the first 200 local
// entries). The entries point into bytes, which must outlive their use. Returns result.
ZipDirectory* readZipDirectory(ZipDirectory* result, const u8* bytes, i64 length);

struct ZipWrittenEntry {
    i32 compressedSize;   // bytes of data after the local header
    u64 uncompressedSize;
    FixedString name;
    i32 localHeaderOffset;  // the writer's length when the local header began
    u32 crc32;              // 0 when the writer only measured
    u16 method;             // 8 or 0
};

// Writes one entry's local header and its data, deflated when method is 8 and stored otherwise,
// and adds the name length + 50 to *runningTotal. A writer without data only measures.
ZipWrittenEntry* writeZipLocalFile(ZipWrittenEntry* result, i32 method, const FixedString* name, const u8* data,
                                   u64 length, u64* runningTotal, ByteWriter* writer);

// Writes the central-directory header of an entry written by writeZipLocalFile.
void writeZipCentralDirectoryHeader(const ZipWrittenEntry* entry, ByteWriter* writer);
