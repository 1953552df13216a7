// The trust store's bundle read through the file thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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

// Systems keep their bundle in different places: a bundle that is missing or holds no certificate
// passes on to the next place, and when none is left the text says what to do. SSL_CERT_FILE is
// looked at first.
TEST(TrustStore, TheBundleIsSearchedForInTheUsualPlaces) {
    Platform* platform = (Platform*)calloc(1, sizeof(Platform));
    FileThreadState fileThread = {};
    auto search = [&](const std::vector<std::string>& paths, TrustStore* store) {
        std::vector<FixedString> candidates;
        for (const std::string& path : paths) candidates.push_back(makeString(path.c_str()));
        startTrustStoreSearch(store, candidates.data(), (u32)candidates.size(), &platform->fileReads);
        for (size_t pass = 0; pass < paths.size() + 1 && store->state == TrustStoreLoading; pass++) {
            runFileThreadPass(&fileThread, platform);
            updateTrustStoreLoad(store, &platform->fileReads);
        }
        return store->state;
    };
    auto found = std::make_unique<TrustStore>();
    EXPECT_EQ(search({"/nonexistent/bundle.crt", testpki::path("ca.cnf"), testpki::path("root.crt")}, found.get()),
              (u32)TrustStoreReady);
    EXPECT_EQ(found->count, 1u);
    EXPECT_EQ(found->request, nullptr);

    auto none = std::make_unique<TrustStore>();
    EXPECT_EQ(search({"/nonexistent/a.crt", "/nonexistent/b.pem"}, none.get()), (u32)TrustStoreFailed);
    EXPECT_EQ(std::string(none->message.text, none->message.length),
              "No trusted certificates found on this system: install the ca-certificates package, or set "
              "SSL_CERT_FILE to a PEM bundle");
    finishFileThread(&fileThread);
    free(platform);

    auto names = [](FixedString* list, u32 count) {
        std::vector<std::string> result;
        for (u32 i = 0; i < count; i++) result.emplace_back(list[i].text, list[i].length);
        return result;
    };
    FixedString list[kTrustBundleCandidates];
    const char* saved = getenv("SSL_CERT_FILE");
    std::string previous = saved ? saved : "";
    unsetenv("SSL_CERT_FILE");
    std::vector<std::string> usual = names(list, systemTrustBundleCandidates(list));
    for (const char* place : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
                              "/etc/ssl/ca-bundle.pem", "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",
                              "/etc/ssl/cert.pem"}) {
        EXPECT_NE(std::find(usual.begin(), usual.end(), place), usual.end()) << place;
    }
    setenv("SSL_CERT_FILE", testpki::path("root.crt").c_str(), 1);
    std::vector<std::string> withVariable = names(list, systemTrustBundleCandidates(list));
    ASSERT_FALSE(withVariable.empty());
    EXPECT_EQ(withVariable[0], testpki::path("root.crt"));
    EXPECT_EQ(withVariable.size(), usual.size() + 1);
    if (saved) setenv("SSL_CERT_FILE", previous.c_str(), 1);
    else unsetenv("SSL_CERT_FILE");
}

}  // namespace
