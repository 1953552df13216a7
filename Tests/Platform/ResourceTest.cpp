// Embedded resources: the generated tables, lookup by upper-cased name, assets stored in parts, and
// the statuses of resource read requests.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Core/Format.h"
#include "Platform/Resources.h"

extern const EmbeddedResourceTable kTestResourceTable;

namespace {

std::vector<u8> fixtureBytes(const char* name) {
    std::ifstream in(std::string(ORVIK_SOURCE_DIR) + "/Tests/Platform/ResourceFixtures/" + name, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<u8> resourceBytes(const EmbeddedResource* resource) {
    return std::vector<u8>(resource->data, resource->data + resource->size);
}

TEST(ResourceLookup, FoundByUpperCasedLastComponent) {
    const EmbeddedResourceTable* table = &kTestResourceTable;
    const EmbeddedResource* logo = findResource(table, makeString("AppOrvik/Assets/logo.png"));
    ASSERT_NE(logo, nullptr);
    EXPECT_STREQ(logo->name, "LOGO.PNG");
    EXPECT_EQ(resourceBytes(logo), fixtureBytes("logo.png"));
    EXPECT_EQ(findResource(table, makeString("AppOrvik\\Assets\\LoGo.PNG")), logo);
    EXPECT_EQ(findResource(table, makeString("LOGO.PNG")), logo);

    const EmbeddedResource* shader = findResource(table, makeString("shaders/line shader.vert"));
    ASSERT_NE(shader, nullptr);
    EXPECT_STREQ(shader->name, "LINE_SHADER.VERT");
    EXPECT_EQ(resourceBytes(shader), fixtureBytes("line shader.vert"));

    // Files in sub-folders are found by their own name; quotes, backslashes and "??" survive.
    const EmbeddedResource* nested = findResource(table, makeString("nested.txt"));
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(resourceBytes(nested), fixtureBytes("sub/Nested.Txt"));

    EXPECT_EQ(findResource(table, makeString("logo.pn")), nullptr);
    EXPECT_EQ(findResource(table, makeString("")), nullptr);
    EXPECT_EQ(findResource(table, makeString("Assets/")), nullptr);
}

TEST(ResourceLookup, TablesAreSortedAndNamedByTheRule) {
    for (const EmbeddedResourceTable* table : {&kTestResourceTable, programResources()}) {
        for (u32 i = 0; i < table->count; i++) {
            FixedString name = makeString(table->entries[i].name);
            FixedString upper = toUpperSnakeCase(&name);
            EXPECT_STREQ(upper.text, name.text);
            if (i > 0) {
                EXPECT_LT(std::strcmp(table->entries[i - 1].name, name.text), 0);
            }
            EXPECT_EQ(findResource(table, name), &table->entries[i]);
        }
    }
}

TEST(ResourceParts, LargeAssetIsStoredInNumberedParts) {
    const EmbeddedResourceTable* table = &kTestResourceTable;
    EXPECT_EQ(findResource(table, makeString("atlas.bin")), nullptr);
    EXPECT_EQ(loadResourceFromTable(table, makeString("atlas.bin")).exists, 0u);

    // The asset joiner's road: sizes of "@.part_@" until one is missing, then the parts one after
    // another into one buffer.
    std::vector<u64> sizes;
    for (i64 part = 0;; part++) {
        ResourceInfo info = loadResourceFromTable(table, formatStrInt("@.part_@", makeString("Assets/atlas.bin"), part));
        if (!info.exists) break;
        sizes.push_back(info.size);
    }
    ASSERT_EQ(sizes, (std::vector<u64>{1000, 1000, 500}));

    std::vector<u8> joined(2500);
    u64 offset = 0;
    for (i64 part = 0; part < 3; part++) {
        FileReadRequest request{};
        FixedString path = formatStrInt("@.part_@", makeString("Assets/atlas.bin"), part);
        loadResourceFromTableForRequest(table, path, joined.data() + offset, joined.size() - offset, 0, &request);
        ASSERT_EQ(request.status, FileStatusSuccess);
        EXPECT_EQ(request.data, joined.data() + offset);
        EXPECT_STREQ(request.name.text, formatInt("atlas.bin.part_@", part).text);
        offset += request.bytesRead;
    }
    EXPECT_EQ(joined, fixtureBytes("atlas.bin"));

    // A file that is a part already stays whole under its own name, however large.
    const EmbeddedResource* part = findResource(table, makeString("Assets/big.dat.part_3"));
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->size, 1200u);
    EXPECT_EQ(resourceBytes(part), fixtureBytes("big.dat.part_3"));
    EXPECT_EQ(findResource(table, makeString("big.dat.part_3.part_0")), nullptr);
}

TEST(ResourceRequests, StatusesOfResourceReads) {
    const EmbeddedResourceTable* table = &kTestResourceTable;
    FileReadRequest request{};

    loadResourceFromTableForRequest(table, makeString("Assets/missing.png"), nullptr, 1000, 0, &request);
    EXPECT_EQ(request.status, FileStatusNotFound);
    EXPECT_EQ(request.data, nullptr);
    EXPECT_STREQ(request.name.text, "missing.png");
    EXPECT_EQ(request.statusText.length, 0);

    request = FileReadRequest{};
    loadResourceFromTableForRequest(table, makeString("empty.txt"), nullptr, 1000, 0, &request);
    EXPECT_EQ(request.status, FileStatusNoFileSize);
    EXPECT_EQ(loadResourceFromTable(table, makeString("empty.txt")).exists, 0u);

    std::vector<u8> logo = fixtureBytes("logo.png");
    request = FileReadRequest{};
    loadResourceFromTableForRequest(table, makeString("logo.png"), nullptr, logo.size() - 1, 0, &request);
    EXPECT_EQ(request.status, FileStatusTooLarge);
    EXPECT_EQ(request.fileSize, logo.size());
    EXPECT_EQ(request.data, nullptr);

    // Exactly the maximum, with free bytes in front in a buffer allocated for the request.
    request = FileReadRequest{};
    loadResourceFromTableForRequest(table, makeString("logo.png"), nullptr, logo.size(), 18, &request);
    ASSERT_EQ(request.status, FileStatusSuccess);
    EXPECT_EQ(request.bytesRead, logo.size());
    EXPECT_EQ(request.modifiedMs, 0u);
    EXPECT_EQ(std::vector<u8>(request.data + 18, request.data + 18 + logo.size()), logo);
    freeFileBuffer(request.data);

    // A caller's buffer too small for the resource is never overrun.
    u8 small[8] = {};
    request = FileReadRequest{};
    loadResourceFromTableForRequest(table, makeString("logo.png"), small, sizeof(small), 0, &request);
    EXPECT_EQ(request.status, FileStatusTooLarge);
}

}  // namespace
