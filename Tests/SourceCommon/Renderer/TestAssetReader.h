// An asset reader over files held in memory, for renderer tests: files can be added, changed (with a
// new modification time), removed, and their reads held back to watch the loaders wait.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "SourceCommon/Renderer/AssetReader.h"

struct TestAssetRequest {
    std::string key;
    u64 maxBytes;
    u32 headroom;
    u8* callerBuffer;
    u32 status;
    u64 size;
    u64 modifiedMs;
    std::vector<u8> owned;
    bool released;
};

struct TestAssetStore {
    struct File {
        std::vector<u8> bytes;
        u64 modifiedMs;
    };
    std::map<std::string, File> files;  // by upper-cased last path component
    std::vector<TestAssetRequest*> requests;
    bool holdReads = false;  // while set, new requests stay "not yet processed"
    u32 failStatus = 0;      // when set, reads fail with it

    ~TestAssetStore();
    void put(const std::string& name, const std::vector<u8>& bytes, u64 modifiedMs = 0);
    void put(const std::string& name, const std::string& text, u64 modifiedMs = 0);
    void remove(const std::string& name);
    // Finishes the held reads.
    void serveAll();
    i32 openRequests() const;
    // Every shader source of Assets/Shaders.
    void putShaders();
};

std::string assetKey(const std::string& path);
std::vector<u8> readRepoFile(const std::string& relativePath);
AssetReader makeTestAssetReader(TestAssetStore* store);
