// How the renderer reads its program assets (shader sources, images, the font record): through a
// small set of functions over the file layer's resource read table. The program's own reader serves
// the resources built into it; tests hand in readers of their own (files on disk, changing
// modification times, missing parts).
#pragma once
#include "Core/FixedString.h"

struct Platform;

// What the renderer reads of one read request.
struct AssetReadView {
    u32 status;        // a FileStatus: 0 not yet processed, 1 processing, 2 success, above 2 failed
    u64 size;          // bytes of the file read
    u8* data;          // start of the buffer; the file's bytes begin `headroom` bytes after it
    u64 modifiedMs;    // the file's modification time when it was read; 0 for built-in resources
};

// An asset's entry in the store: found = 1 when it exists and is not empty.
struct AssetInfo {
    u64 found;
    u64 size;
    u64 modifiedMs;  // 0 for built-in resources, which therefore never reload
};

struct AssetReader {
    void* context;
    // Queues a whole read of path (at most maxBytes) into a buffer of the reader's with headroom
    // spare bytes in front, or, with a buffer, into that buffer. Returns a handle that is never null
    // (a full table answers with a failed request).
    void* (*request)(void* context, FixedString path, u64 maxBytes, u32 headroom, u8* buffer);
    AssetReadView (*view)(void* context, void* handle);
    // Frees the handle (and the reader's buffer); the handle must not be used afterwards.
    void (*release)(void* context, void* handle);
    AssetInfo (*info)(void* context, FixedString path);
    FixedString (*statusText)(u32 status);
};

// The program's reader over the platform's resource table.
AssetReader makeResourceAssetReader(Platform* platform);
