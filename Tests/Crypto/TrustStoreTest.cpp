// The trust store: anchors from PEM texts (the system bundle, noise between blocks, broken blocks)
// and its capacity.
#include <gtest/gtest.h>

#include <memory>
#include <algorithm>
#include <cstdlib>

#include "Crypto/TrustStore.h"
#include "CryptoTestSupport.h"
#include "TestPki.h"

namespace {

TEST(TrustStore, SystemBundle) {
    std::string text = testpki::readText("/etc/ssl/certs/ca-certificates.crt");
    ASSERT_FALSE(text.empty()) << "install ca-certificates";
    size_t blocks = 0;
    for (size_t at = 0; (at = text.find("-----BEGIN CERTIFICATE-----", at)) != std::string::npos; at++) blocks++;
    auto store = std::make_unique<TrustStore>();
    u32 added = addPemTrustAnchors(store.get(), (const u8*)text.data(), text.size());
    EXPECT_EQ(added + store->skipped, blocks);
    EXPECT_GE(added, blocks - 2);  // every certificate of the bundle is understood
    EXPECT_EQ(store->state, (u32)TrustStoreReady);
    X509Certificate c;
    for (u32 i = 0; i < store->count; i++) {
        ASSERT_TRUE(trustAnchor(store.get(), i, &c));
        EXPECT_TRUE(c.isCa || c.version < 3) << i;
    }
    EXPECT_FALSE(trustAnchor(store.get(), store->count, &c));
}

TEST(TrustStore, PemTexts) {
    ASSERT_FALSE(testpki::folder().empty());
    std::string root = testpki::readText(testpki::path("root.crt"));
    std::string inter = testpki::readText(testpki::path("inter.crt"));
    std::string broken = root;
    broken[broken.find("CERTIFICATE-----") + 40] = '#';  // outside the alphabet
    std::string cut = inter.substr(0, inter.size() / 2) + "-----END CERTIFICATE-----\n";
    std::string text = "Comment line\r\n" + root + "\n\n# another\n" + broken + cut + inter + "-----BEGIN CERTIFICATE-----\nAAAA";
    auto store = std::make_unique<TrustStore>();
    EXPECT_EQ(addPemTrustAnchors(store.get(), (const u8*)text.data(), text.size()), 2u);
    EXPECT_EQ(store->skipped, 2u);
    X509Certificate first, second;
    ASSERT_TRUE(trustAnchor(store.get(), 0, &first));
    ASSERT_TRUE(trustAnchor(store.get(), 1, &second));
    EXPECT_TRUE(x509SpansEqual(&second, second.issuer, &first, first.subject));
    // DER added directly; garbage refused
    Bytes der = testpki::certificates("p256.crt")[0];
    EXPECT_TRUE(addTrustAnchor(store.get(), der.data(), (u32)der.size()));
    EXPECT_FALSE(addTrustAnchor(store.get(), der.data(), (u32)der.size() - 1));
    EXPECT_FALSE(addTrustAnchor(store.get(), nullptr, 0));
    EXPECT_EQ(store->count, 3u);
}

TEST(TrustStore, Capacity) {
    Bytes der = testpki::certificates("rsa4096.crt")[0];
    auto store = std::make_unique<TrustStore>();
    u32 fits = std::min<u32>(kTrustStoreAnchors, kTrustStoreBytes / (u32)der.size());
    for (u32 i = 0; i < fits; i++) ASSERT_TRUE(addTrustAnchor(store.get(), der.data(), (u32)der.size())) << i;
    EXPECT_FALSE(addTrustAnchor(store.get(), der.data(), (u32)der.size()));
    EXPECT_EQ(store->count, fits);
    X509Certificate c;
    EXPECT_TRUE(trustAnchor(store.get(), fits - 1, &c));
}

}  // namespace
