#include "TestAssetReader.h"

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>

#include "Platform/FileTables.h"

std::string assetKey(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    }
    return name;
}

std::vector<u8> readRepoFile(const std::string& relativePath) {
    std::ifstream file(std::string(ORVIK_SOURCE_DIR) + "/" + relativePath, std::ios::binary);
    return std::vector<u8>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

TestAssetStore::~TestAssetStore() {
    for (TestAssetRequest* request : requests) delete request;
}

void TestAssetStore::put(const std::string& name, const std::vector<u8>& bytes, u64 modifiedMs) {
    files[assetKey(name)] = File{bytes, modifiedMs};
}

void TestAssetStore::put(const std::string& name, const std::string& text, u64 modifiedMs) {
    put(name, std::vector<u8>(text.begin(), text.end()), modifiedMs);
}

void TestAssetStore::remove(const std::string& name) { files.erase(assetKey(name)); }

namespace {

void serve(TestAssetStore* store, TestAssetRequest* request) {
    if (store->failStatus) {
        request->status = store->failStatus;
        return;
    }
    auto found = store->files.find(request->key);
    if (found == store->files.end()) {
        request->status = FileStatusNotFound;
        return;
    }
    const std::vector<u8>& bytes = found->second.bytes;
    request->modifiedMs = found->second.modifiedMs;
    if (bytes.size() > request->maxBytes) {
        request->status = FileStatusTooLarge;
        return;
    }
    if (request->callerBuffer) {
        std::memcpy(request->callerBuffer, bytes.data(), bytes.size());
    } else {
        request->owned.assign(request->headroom, 0);
        request->owned.insert(request->owned.end(), bytes.begin(), bytes.end());
    }
    request->size = bytes.size();
    request->status = FileStatusSuccess;
}

void* requestAsset(void* context, FixedString path, u64 maxBytes, u32 headroom, u8* buffer) {
    TestAssetStore* store = (TestAssetStore*)context;
    TestAssetRequest* request = new TestAssetRequest{assetKey(std::string(path.text, path.length)), maxBytes, headroom,
                                                     buffer, 0, 0, 0, {}, false};
    store->requests.push_back(request);
    if (!store->holdReads) serve(store, request);
    return request;
}

AssetReadView viewAsset(void*, void* handle) {
    TestAssetRequest* request = (TestAssetRequest*)handle;
    if (request->released) return {FileStatusReadFailed, 0, nullptr, 0};  // a use after release shows up
    u8* data = request->callerBuffer ? request->callerBuffer : request->owned.data();
    return {request->status, request->size, request->status == FileStatusSuccess ? data : nullptr, request->modifiedMs};
}

void releaseAsset(void*, void* handle) {
    TestAssetRequest* request = (TestAssetRequest*)handle;
    request->released = true;
    request->owned.clear();
    request->owned.shrink_to_fit();
}

AssetInfo assetInfo(void* context, FixedString path) {
    TestAssetStore* store = (TestAssetStore*)context;
    auto found = store->files.find(assetKey(std::string(path.text, path.length)));
    if (found == store->files.end() || found->second.bytes.empty()) return {0, 0, 0};
    return {1, found->second.bytes.size(), found->second.modifiedMs};
}

}  // namespace

void TestAssetStore::serveAll() {
    for (TestAssetRequest* request : requests) {
        if (!request->released && request->status == 0) serve(this, request);
    }
}

i32 TestAssetStore::openRequests() const {
    i32 count = 0;
    for (TestAssetRequest* request : requests) {
        if (!request->released && request->status < 2) count++;
    }
    return count;
}

void TestAssetStore::putShaders() {
    std::string folder = std::string(ORVIK_SOURCE_DIR) + "/Assets/Shaders";
    DIR* directory = opendir(folder.c_str());
    if (!directory) return;
    while (dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name.size() > 5 && name.substr(name.size() - 5) == ".glsl") put(name, readRepoFile("Assets/Shaders/" + name));
    }
    closedir(directory);
}

AssetReader makeTestAssetReader(TestAssetStore* store) {
    AssetReader reader{};
    reader.context = store;
    reader.request = requestAsset;
    reader.view = viewAsset;
    reader.release = releaseAsset;
    reader.info = assetInfo;
    reader.statusText = fileStatusString;
    return reader;
}
