// SHA-512 against the FIPS 180 examples, the CAVP short, long and Monte Carlo files and OpenSSL on
// random messages fed in random pieces; the signature-hash helpers agree with the one-call hashes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include "Crypto/Sha.h"
#include "CryptoTestSupport.h"

namespace {

std::string sha512Hex(const Bytes& data) {
    u8 digest[64];
    return toHex(sha512(digest, data.data(), data.size()), 64);
}

std::string sha512InPieces(const Bytes& data, size_t piece) {
    Sha512Context c;
    sha512Init(&c);
    for (size_t offset = 0; offset < data.size(); offset += piece)
        sha512Update(&c, data.data() + offset, std::min(piece, data.size() - offset));
    u8 digest[64];
    return toHex(sha512Final(digest, &c), 64);
}

TEST(Sha512, PublishedExamples) {
    auto text = [](const char* s) { return Bytes(s, s + strlen(s)); };
    EXPECT_EQ(sha512Hex({}),
              "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd"
              "47417a81a538327af927da3e");
    EXPECT_EQ(sha512Hex(text("abc")),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423"
              "643ce80e2a9ac94fa54ca49f");
    Bytes twoBlock = text("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnop"
                          "qrsmnopqrstnopqrstu");
    EXPECT_EQ(sha512Hex(twoBlock),
              "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329ee"
              "b6dd26545e96e55b874be909");
    Bytes million(1000000, 'a');
    EXPECT_EQ(sha512Hex(million),
              "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c"
              "2c49aa2e4eadb217ad8cc09b");
    // pieces around the block and the 16-byte length field
    for (size_t piece : {1, 63, 64, 111, 112, 113, 127, 128, 129})
        EXPECT_EQ(sha512InPieces(twoBlock, piece), sha512Hex(twoBlock)) << piece;
}

TEST(Sha512, CavpMessages) {
    for (const char* path : {"hashes/SHA2/SHA512ShortMsg.rsp", "hashes/SHA2/SHA512LongMsg.rsp"}) {
        auto records = readVectorFile(path);
        ASSERT_GE(records.size(), 128u) << path << " (install python3-cryptography-vectors)";
        for (const auto& r : records) {
            if (!r.has("Len")) continue;
            Bytes message = r.bytes("Msg");
            message.resize(std::stoul(r["Len"]) / 8);
            EXPECT_EQ(sha512Hex(message), r["MD"]) << path << " Len " << r["Len"];
            EXPECT_EQ(sha512InPieces(message, 57), r["MD"]) << path << " Len " << r["Len"];
        }
    }
}

// The CAVP Monte Carlo test: each checkpoint hashes the last three digests 1000 times over.
TEST(Sha512, CavpMonteCarlo) {
    auto records = readVectorFile("hashes/SHA2/SHA512Monte.rsp");
    ASSERT_FALSE(records.empty());
    Bytes seed;
    int checked = 0;
    for (const auto& r : records) {
        if (r.has("Seed")) seed = r.bytes("Seed");
        if (!r.has("MD") || seed.empty()) continue;
        Bytes a = seed, b = seed, c = seed;
        for (int i = 0; i < 1000; i++) {
            Bytes message = a;
            message.insert(message.end(), b.begin(), b.end());
            message.insert(message.end(), c.begin(), c.end());
            Bytes next(64);
            sha512(next.data(), message.data(), message.size());
            a = b;
            b = c;
            c = next;
        }
        seed = c;
        ASSERT_EQ(toHex(seed), r["MD"]) << "checkpoint " << checked;
        if (++checked == 10) break;  // the first ten checkpoints keep the test quick
    }
    EXPECT_EQ(checked, 10);
}

TEST(Sha512, AgainstOpenSsl) {
    std::mt19937_64 random(512);
    for (int i = 0; i < 1500; i++) {
        size_t length = (random() % 3 == 0) ? (random() % 4) * 128 + (random() % 5) - 2 + 2 : random() % 2000;
        Bytes data = randomBytes(random, length);
        Sha512Context c;
        sha512Init(&c);
        for (size_t offset = 0; offset < data.size();) {
            size_t take = std::min<size_t>(random() % 300, data.size() - offset);
            sha512Update(&c, data.data() + offset, take);
            offset += take;
        }
        u8 ours[64], theirs[64];
        unsigned int theirLength = 0;
        EVP_Digest(data.data(), data.size(), theirs, &theirLength, EVP_sha512(), nullptr);
        ASSERT_EQ(toHex(sha512Final(ours, &c), 64), toHex(theirs, 64)) << "length " << length;
    }
}

TEST(Sha512, SignatureHashHelpers) {
    Bytes data = {1, 2, 3, 4, 5};
    u8 a[64], b[64];
    EXPECT_EQ(signatureHashBytes(a, SignatureHashSha256, data.data(), data.size()), 32u);
    EXPECT_EQ(toHex(a, 32), toHex(sha256(b, data.data(), data.size()), 32));
    EXPECT_EQ(signatureHashBytes(a, SignatureHashSha384, data.data(), data.size()), 48u);
    EXPECT_EQ(toHex(a, 48), toHex(sha384(b, data.data(), data.size()), 48));
    EXPECT_EQ(signatureHashBytes(a, SignatureHashSha512, data.data(), data.size()), 64u);
    EXPECT_EQ(toHex(a, 64), toHex(sha512(b, data.data(), data.size()), 64));
    EXPECT_EQ(signatureHashBytes(a, SignatureHashNone, data.data(), data.size()), 0u);
    EXPECT_EQ(signatureHashLength(99), 0u);
    EXPECT_EQ(signatureHashBytes(a, SignatureHashSha512, nullptr, 0), 64u);  // empty input, null pointer
}

}  // namespace
