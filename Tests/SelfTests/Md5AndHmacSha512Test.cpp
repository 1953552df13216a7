// MD5, HMAC-MD5 and HMAC-SHA-512 against OpenSSL over random messages, chunkings and key lengths
// around the block (64 and 65 bytes for MD5, 128 and 129 for SHA-512), and the two finals' rules.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <random>
#include <vector>

#include "Crypto/Hmac.h"
#include "SelfTests/Md5.h"

namespace {

std::vector<u8> randomBytes(std::mt19937_64& random, size_t n) {
    std::vector<u8> bytes(n);
    for (u8& b : bytes) b = (u8)random();
    return bytes;
}

TEST(Md5, DigestAndMacAgreeWithOpensslOverChunksAndKeyLengths) {
    std::mt19937_64 random(56);
    for (int i = 0; i < 400; i++) {
        std::vector<u8> message = randomBytes(random, random() % 300);
        Md5Context context;
        md5Init(&context);
        for (size_t at = 0; at < message.size();) {
            size_t take = std::min<size_t>(message.size() - at, random() % 90);
            md5Update(&context, message.data() + at, take);
            at += take;
        }
        u8 digest[16], expected[16];
        md5Final(digest, &context);
        unsigned int length = 0;
        EVP_Digest(message.data(), message.size(), expected, &length, EVP_md5(), nullptr);
        ASSERT_EQ(memcmp(digest, expected, 16), 0) << message.size();

        std::vector<u8> key = randomBytes(random, i % 4 == 0 ? 64 + i % 2 : random() % 140);
        u8 mac[16];
        hmacMd5(mac, key.data(), key.size(), message.data(), message.size());
        HMAC(EVP_md5(), key.data(), (int)key.size(), message.data(), message.size(), expected, &length);
        ASSERT_EQ(memcmp(mac, expected, 16), 0) << key.size();

        key = randomBytes(random, i % 4 == 0 ? 128 + i % 2 : random() % 300);
        u8 mac512[64], expected512[64];
        hmacSha512(mac512, key.data(), key.size(), message.data(), message.size());
        HMAC(EVP_sha512(), key.data(), (int)key.size(), message.data(), message.size(), expected512, &length);
        ASSERT_EQ(memcmp(mac512, expected512, 64), 0) << key.size();
    }
}

TEST(Md5, FinalLeavesTheContextFreshWhileSha512FinalLeavesItAsItWas) {
    Md5Context md5Context;
    md5Init(&md5Context);
    md5Update(&md5Context, (const u8*)"abc", 3);
    u8 first[16], second[16], empty[16];
    md5Final(first, &md5Context);
    md5Final(second, &md5Context);
    md5(empty, nullptr, 0);
    EXPECT_EQ(memcmp(second, empty, 16), 0);
    EXPECT_NE(memcmp(first, second, 16), 0);

    Sha512Context shaContext;
    sha512Init(&shaContext);
    sha512Update(&shaContext, (const u8*)"abc", 3);
    u8 a[64], b[64];
    sha512Final(a, &shaContext);
    sha512Final(b, &shaContext);
    EXPECT_EQ(memcmp(a, b, 64), 0);
}

}  // namespace
