// Resources embedded in the program: every file under Assets/ is linked in as bytes, found by its
// upper-cased file name with blanks as "_" (font_sdf.png -> FONT_SDF.PNG). An asset too large for one
// resource is stored as parts "@.part_@" (FONT_SDF.PNG.PART_0, FONT_SDF.PNG.PART_1, ...), which the
// asset joiner reads one after another into one buffer through requestFileIntoBuffer on the resource
// table.
#pragma once
#include "Platform/FileTables.h"

struct EmbeddedResource {
    const char* name;  // upper-cased, sorted by byte value within a table
    const u8* data;
    u64 size;
};

struct EmbeddedResourceTable {
    const EmbeddedResource* entries;
    u32 count;
};

// The program's own resources, generated from Assets/ at build time.
const EmbeddedResourceTable* programResources();

// The resource named by the last component of name, upper-cased, or null.
const EmbeddedResource* findResource(const EmbeddedResourceTable* table, FixedString name);

struct ResourceInfo {
    u32 exists;  // nonzero only when the resource is found and not empty
    u64 size;
};
// Whether the program carries a resource for the last component of path, and its size.
ResourceInfo loadResource(FixedString path);
ResourceInfo loadResourceFromTable(const EmbeddedResourceTable* table, FixedString path);

// Serves one read request of the resource table (buffer: the caller's, or null for one allocated
// here with headroom free bytes in front). Sets the status last; never writes statusText.
void loadResourceForRequest(FixedString path, u8* buffer, u64 maxSize, u32 headroom, FileReadRequest* request);
void loadResourceFromTableForRequest(const EmbeddedResourceTable* table, FixedString path, u8* buffer, u64 maxSize,
                                     u32 headroom, FileReadRequest* request);
