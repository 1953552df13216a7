// The trust store's bundle read through the file thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "Crypto/TestPki.h"
#include "Network/TrustStoreLoad.h"
#include "Platform/FileThread.h"
#include "Platform/Platform.h"

namespace {

// The bundle read by the file thread (its passes run here by hand): the store loads once the read
// is done; a missing file fails with its reason.
TEST(TrustStore, LoadThroughTheFileThread) {
    Platform* platform = (Platform*)calloc(1, sizeof(Platform));
    FileThreadState fileThread = {};
    auto load = [&](const std::string& path, TrustStore* store) {
        startTrustStoreLoad(store, makeString(path.c_str()), &platform->fileReads);
        EXPECT_EQ(updateTrustStoreLoad(store, &platform->fileReads), (u32)TrustStoreLoading);  // not read yet
        runFileThreadPass(&fileThread, platform);
        return updateTrustStoreLoad(store, &platform->fileReads);
    };
    auto store = std::make_unique<TrustStore>();
    EXPECT_EQ(load(kSystemCaBundlePath, store.get()), (u32)TrustStoreReady);
    EXPECT_GE(store->count, 100u);
    EXPECT_EQ(store->request, nullptr);
    auto missing = std::make_unique<TrustStore>();
    EXPECT_EQ(load("/nonexistent/bundle.crt", missing.get()), (u32)TrustStoreFailed);
    EXPECT_EQ(missing->count, 0u);
    EXPECT_NE(std::string(missing->message.text, missing->message.length).find("/nonexistent/bundle.crt"),
              std::string::npos);
    // a file with no certificate in it
    std::string notPem = testpki::path("ca.cnf");
    auto empty = std::make_unique<TrustStore>();
    EXPECT_EQ(load(notPem, empty.get()), (u32)TrustStoreFailed);
    // the program's store is loaded by the same calls
    EXPECT_EQ(loadProgramTrustStore(&platform->fileReads), (u32)TrustStoreLoading);
    runFileThreadPass(&fileThread, platform);
    EXPECT_EQ(loadProgramTrustStore(&platform->fileReads), (u32)TrustStoreReady);
    EXPECT_EQ(loadProgramTrustStore(&platform->fileReads), (u32)TrustStoreReady);  // once only
    EXPECT_GE(programTrustStore()->count, 100u);
    finishFileThread(&fileThread);
    free(platform);
}

}  // namespace
