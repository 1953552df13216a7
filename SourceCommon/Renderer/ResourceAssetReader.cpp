// The program's asset reader: read requests on the platform's resource table, which the file thread
// serves from the resources built into the program.
#include "Platform/Platform.h"
#include "Platform/Resources.h"
#include "SourceCommon/Renderer/AssetReader.h"

namespace {

FileReadTable* resourceTable(void* context) { return &((Platform*)context)->resourceReads; }

void* requestResource(void* context, FixedString path, u64 maxBytes, u32 headroom, u8* buffer) {
    if (buffer) return requestFileIntoBuffer(path, buffer, maxBytes, resourceTable(context));
    return requestFile(path, maxBytes, headroom, resourceTable(context));
}

AssetReadView viewResource(void*, void* handle) {
    FileReadRequest* request = (FileReadRequest*)handle;
    u32 status = fileRequestStatus(request);
    if (status < 2) return {status, 0, nullptr, 0};
    return {status, request->bytesRead, request->data, request->modifiedMs};
}

void releaseResource(void* context, void* handle) {
    releaseFileReadRequest((FileReadRequest*)handle, resourceTable(context));
}

AssetInfo resourceInfo(void*, FixedString path) {
    ResourceInfo info = loadResource(path);
    return {info.exists ? 1u : 0u, info.size, 0};
}

}  // namespace

AssetReader makeResourceAssetReader(Platform* platform) {
    AssetReader reader{};
    reader.context = platform;
    reader.request = requestResource;
    reader.view = viewResource;
    reader.release = releaseResource;
    reader.info = resourceInfo;
    reader.statusText = fileStatusString;
    return reader;
}
