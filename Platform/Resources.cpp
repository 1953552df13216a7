// Looking up embedded resources and serving resource read requests.
#include "Platform/Resources.h"

#include <cstring>

// Defined by the generated resource table (the Assets library).
extern const EmbeddedResourceTable kProgramResourceTable;

const EmbeddedResourceTable* programResources() { return &kProgramResourceTable; }

const EmbeddedResource* findResource(const EmbeddedResourceTable* table, FixedString name) {
    FixedString last = fileNameOfPath(name);
    FixedString key = toUpperSnakeCase(&last);
    u32 low = 0;
    u32 high = table->count;
    while (low < high) {
        u32 middle = low + (high - low) / 2;
        i32 order = std::strcmp(table->entries[middle].name, key.text);
        if (order == 0) return &table->entries[middle];
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return nullptr;
}

ResourceInfo loadResourceFromTable(const EmbeddedResourceTable* table, FixedString path) {
    const EmbeddedResource* resource = findResource(table, path);
    if (!resource || resource->size == 0) return ResourceInfo{0, resource ? resource->size : 0};
    return ResourceInfo{1, resource->size};
}

ResourceInfo loadResource(FixedString path) { return loadResourceFromTable(programResources(), path); }

void loadResourceFromTableForRequest(const EmbeddedResourceTable* table, FixedString path, u8* buffer, u64 maxSize,
                                     u32 headroom, FileReadRequest* request) {
    request->name = fileNameOfPath(path);
    request->bytesRead = 0;
    request->fileSize = 0;
    request->modifiedMs = 0;
    request->data = nullptr;
    const EmbeddedResource* resource = findResource(table, path);
    if (!resource) {
        publishStatus(&request->status, FileStatusNotFound);
        return;
    }
    if (resource->size == 0) {
        publishStatus(&request->status, FileStatusNoFileSize);
        return;
    }
    request->fileSize = resource->size;
    if (resource->size > maxSize || (buffer && resource->size + headroom > maxSize)) {
        publishStatus(&request->status, FileStatusTooLarge);
        return;
    }
    u8* target = buffer;
    if (!target) {
        target = allocateFileBuffer(resource->size + headroom);
        if (!target) {
            publishStatus(&request->status, FileStatusOutOfMemory);
            return;
        }
    }
    std::memcpy(target + headroom, resource->data, resource->size);
    request->bytesRead = resource->size;
    request->data = target;
    publishStatus(&request->status, FileStatusSuccess);
}

void loadResourceForRequest(FixedString path, u8* buffer, u64 maxSize, u32 headroom, FileReadRequest* request) {
    loadResourceFromTableForRequest(programResources(), path, buffer, maxSize, headroom, request);
}
