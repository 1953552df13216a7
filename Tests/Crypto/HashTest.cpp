// SHA-1/256/384, HMAC and HKDF against the published vectors: FIPS 180 examples and the CAVP short
// and long message files, RFC 4231, RFC 5869 and the RFC 8448 key schedule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Crypto/Hmac.h"
#include "CryptoTestSupport.h"

namespace {

// One hash behind a common face, so every vector test runs for all three.
struct HashKind {
    const char* name;
    u64 digestSize;
    u8* (*oneCall)(u8*, const u8*, u64);
    std::string (*pieces)(const Bytes&, const std::vector<size_t>&);
};

template <typename Context, void (*Update)(Context*, const u8*, u64), u8* (*Final)(u8*, const Context*),
          Context* (*Init)(Context*), u64 Size>
std::string hashInPieces(const Bytes& data, const std::vector<size_t>& sizes) {
    Context context;
    Init(&context);
    size_t offset = 0, i = 0;
    while (offset < data.size()) {
        size_t take = std::min(sizes[i++ % sizes.size()], data.size() - offset);
        Update(&context, data.data() + offset, take);
        offset += take;
    }
    u8 digest[Size];
    Final(digest, &context);
    return toHex(digest, Size);
}

const HashKind kHashes[] = {
    {"SHA1", 20, sha1, hashInPieces<Sha1Context, sha1Update, sha1Final, sha1Init, 20>},
    {"SHA256", 32, sha256, hashInPieces<Sha256Context, sha256Update, sha256Final, sha256Init, 32>},
    {"SHA384", 48, sha384, hashInPieces<Sha384Context, sha384Update, sha384Final, sha384Init, 48>},
};

std::string digestHex(const HashKind& kind, const Bytes& data) {
    u8 digest[64];
    kind.oneCall(digest, data.data(), data.size());
    return toHex(digest, kind.digestSize);
}

Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }

TEST(Hash, Fips180Examples) {
    const Bytes empty, abc = text("abc");
    const Bytes twoBlock = text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    const Bytes twoBlock384 = text(
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu");
    const Bytes million(1000000, 'a');
    EXPECT_EQ(digestHex(kHashes[0], empty), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(digestHex(kHashes[0], abc), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(digestHex(kHashes[0], twoBlock), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(digestHex(kHashes[0], million), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(digestHex(kHashes[1], empty), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digestHex(kHashes[1], abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digestHex(kHashes[1], twoBlock), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digestHex(kHashes[1], million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(digestHex(kHashes[2], empty),
              "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b");
    EXPECT_EQ(digestHex(kHashes[2], abc),
              "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7");
    EXPECT_EQ(digestHex(kHashes[2], twoBlock384),
              "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039");
    EXPECT_EQ(digestHex(kHashes[2], million),
              "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985");
    // The same messages fed in pieces of the sizes around the block and length-field boundaries.
    const std::vector<std::vector<size_t>> chunkings = {{1}, {55}, {56}, {63}, {64}, {65}, {111, 112, 127, 128, 129}};
    for (const auto& kind : kHashes)
        for (const auto& sizes : chunkings)
            for (const Bytes* data : {&abc, &twoBlock, &twoBlock384})
                EXPECT_EQ(kind.pieces(*data, sizes), digestHex(kind, *data)) << kind.name << " piece " << sizes[0];
    for (const auto& kind : kHashes) EXPECT_EQ(kind.pieces(million, {55, 129, 4096}), digestHex(kind, million));
}

// The CAVP byte-oriented message files, each message hashed whole and in odd pieces.
void checkMessageFile(const HashKind& kind, const std::string& path, size_t minimumRecords) {
    auto records = readVectorFile(path);
    ASSERT_GE(records.size(), minimumRecords) << path << " (install python3-cryptography-vectors)";
    for (const auto& r : records) {
        if (!r.has("Len")) continue;
        Bytes message = r.bytes("Msg");
        message.resize(std::stoul(r["Len"]) / 8);
        EXPECT_EQ(digestHex(kind, message), r["MD"]) << path << " Len " << r["Len"];
        EXPECT_EQ(kind.pieces(message, {1, 55, 56, 63, 64, 65}), r["MD"]) << path << " Len " << r["Len"];
    }
}

TEST(Hash, CavpShortAndLongMessages) {
    checkMessageFile(kHashes[0], "hashes/SHA1/SHA1ShortMsg.rsp", 65);
    checkMessageFile(kHashes[0], "hashes/SHA1/SHA1LongMsg.rsp", 64);
    checkMessageFile(kHashes[1], "hashes/SHA2/SHA256ShortMsg.rsp", 65);
    checkMessageFile(kHashes[1], "hashes/SHA2/SHA256LongMsg.rsp", 64);
    checkMessageFile(kHashes[2], "hashes/SHA2/SHA384ShortMsg.rsp", 129);
    checkMessageFile(kHashes[2], "hashes/SHA2/SHA384LongMsg.rsp", 128);
}

TEST(Hash, FinalLeavesTheRunningHashUsable) {
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); i++) data[i] = (u8)(i * 7 + 3);
    Sha256Context context;
    sha256Init(&context);
    sha256Update(&context, data.data(), 300);
    u8 middle[32], whole[32], expected[32];
    sha256Final(middle, &context);
    EXPECT_EQ(toHex(middle, 32), toHex(sha256(expected, data.data(), 300), 32));
    sha256Update(&context, data.data() + 300, 700);
    sha256Final(whole, &context);
    EXPECT_EQ(toHex(whole, 32), toHex(sha256(expected, data.data(), 1000), 32));

    Sha384Context wide;
    sha384Init(&wide);
    sha384Update(&wide, data.data(), 129);
    u8 d384[48], e384[48];
    sha384Final(d384, &wide);
    sha384Update(&wide, data.data() + 129, 871);
    sha384Final(d384, &wide);
    EXPECT_EQ(toHex(d384, 48), toHex(sha384(e384, data.data(), 1000), 48));

    Sha1Context narrow;
    sha1Init(&narrow);
    sha1Update(&narrow, data.data(), 64);
    u8 d1[20], e1[20];
    sha1Final(d1, &narrow);
    sha1Update(&narrow, data.data() + 64, 936);
    sha1Final(d1, &narrow);
    EXPECT_EQ(toHex(d1, 20), toHex(sha1(e1, data.data(), 1000), 20));
}

void checkHmacFile(const std::string& path, u64 size,
                   u8* (*hmac)(u8*, const u8*, u64, const u8*, u64)) {
    auto records = readVectorFile(path);
    ASSERT_GE(records.size(), 6u) << path;
    for (const auto& r : records) {
        Bytes key = r.bytes("Key"), message = r.bytes("Msg");
        u8 mac[48];
        hmac(mac, key.data(), key.size(), message.data(), message.size());
        EXPECT_EQ(toHex(mac, size), r["MD"]) << path << " key length " << key.size();
    }
}

TEST(Hmac, Rfc4231) {
    checkHmacFile("HMAC/rfc-4231-sha256.txt", 32, hmacSha256);
    checkHmacFile("HMAC/rfc-4231-sha384.txt", 48, hmacSha384);
    // Test case 6 written out: a 131-byte key is hashed first.
    Bytes key(131, 0xAA);
    Bytes message = text("Test Using Larger Than Block-Size Key - Hash Key First");
    u8 mac[48];
    hmacSha256(mac, key.data(), key.size(), message.data(), message.size());
    EXPECT_EQ(toHex(mac, 32), "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    hmacSha384(mac, key.data(), key.size(), message.data(), message.size());
    EXPECT_EQ(toHex(mac, 48),
              "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952");
}

TEST(Hmac, KeyBlockHoldsShortKeysAndHashesOfLongOnes) {
    Bytes key128(128), key129(129);
    for (size_t i = 0; i < key129.size(); i++) key129[i] = (u8)i;
    for (size_t i = 0; i < key128.size(); i++) key128[i] = (u8)(i + 1);
    HmacSha384Context c;
    hmacSha384Init(&c, key128.data(), key128.size());
    EXPECT_EQ(toHex(c.keyBlock, 128), toHex(key128));  // exactly one block: used directly
    hmacSha384Init(&c, key129.data(), key129.size());
    u8 digest[48];
    sha384(digest, key129.data(), key129.size());
    EXPECT_EQ(toHex(c.keyBlock, 48), toHex(digest, 48));
    EXPECT_EQ(toHex(c.keyBlock + 48, 80), std::string(160, '0'));

    HmacSha1Context s1;
    Bytes key65(65, 0x42);
    hmacSha1Init(&s1, key65.data(), key65.size());
    u8 d1[20];
    EXPECT_EQ(toHex(s1.keyBlock, 20), toHex(sha1(d1, key65.data(), 65), 20));
}

TEST(Hmac, FinalLeavesTheContextUsable) {
    const Bytes key = text("record key"), part1 = text("sequence+header"), part2 = text("payload bytes");
    HmacSha256Context c;
    hmacSha256Init(&c, key.data(), key.size());
    sha256Update(&c.inner, part1.data(), part1.size());
    u8 first[32], again[32], whole[32];
    hmacSha256Final(first, &c);
    hmacSha256Final(again, &c);
    EXPECT_EQ(toHex(first, 32), toHex(again, 32));
    sha256Update(&c.inner, part2.data(), part2.size());
    hmacSha256Final(whole, &c);
    Bytes joined = part1;
    joined.insert(joined.end(), part2.begin(), part2.end());
    u8 expected[32];
    hmacSha256(expected, key.data(), key.size(), joined.data(), joined.size());
    EXPECT_EQ(toHex(whole, 32), toHex(expected, 32));
}

TEST(Hkdf, Rfc5869) {
    auto records = readVectorFile("KDF/rfc-5869-HKDF-SHA256.txt");
    ASSERT_GE(records.size(), 3u);
    for (const auto& r : records) {
        Bytes ikm = r.bytes("IKM"), salt = r.bytes("salt"), info = r.bytes("info");
        u8 prk[32];
        u8 zeros[32] = {};
        // Extract is HMAC(salt, IKM); an absent salt is a block of zeros.
        if (salt.empty()) hmacSha256(prk, zeros, 32, ikm.data(), ikm.size());
        else hmacSha256(prk, salt.data(), salt.size(), ikm.data(), ikm.size());
        EXPECT_EQ(toHex(prk, 32), r["PRK"]);
        Bytes okm(std::stoul(r["L"]));
        hkdfExpandSha256(prk, info.data(), info.size(), okm.data(), okm.size());
        EXPECT_EQ(toHex(okm), r["OKM"]) << "case " << r["COUNT"];
    }
}

TEST(Hkdf, Rfc8448ExpandLabel) {
    // The simple 1-RTT handshake: the early secret, its "derived" secret, and the server's handshake
    // traffic key and IV.
    Bytes early = fromHex("33ad0a1c607ec03b09e6cd9893680ce210adf300aa1f2660e1b22e10f170f92a");
    u8 emptyHash[32], derived[32];
    sha256(emptyHash, nullptr, 0);
    hkdfExpandLabelSha256(early.data(), "derived", emptyHash, 32, derived, 32);
    EXPECT_EQ(toHex(derived, 32), "6f2615a108c702c5678f54fc9dbab69716c076189c48250cebeac3576c3611ba");
    Bytes serverSecret = fromHex("b67b7d690cc16c4e75e54213cb2d37b4e9c912bcded9105d42befd59d391ad38");
    u8 key[16], iv[12];
    hkdfExpandLabelSha256(serverSecret.data(), "key", nullptr, 0, key, 16);
    hkdfExpandLabelSha256(serverSecret.data(), "iv", nullptr, 0, iv, 12);
    EXPECT_EQ(toHex(key, 16), "3fce516009c21727d0f2e4e86ee403bc");
    EXPECT_EQ(toHex(iv, 12), "5d313eb2671276ee13000b30");
}

TEST(Hkdf, OutputStopsAt255Blocks) {
    u8 prk[32] = {1, 2, 3};
    std::vector<u8> out(255 * 32 + 40, 0xEE);
    hkdfExpandSha256(prk, nullptr, 0, out.data(), out.size());
    for (size_t i = 255 * 32; i < out.size(); i++) EXPECT_EQ(out[i], 0xEE);
}

TEST(Hash, NullDataOfNoLength) {
    u8 out[48], expected[48];
    const u8 empty[1] = {};
    EXPECT_EQ(toHex(sha1(out, nullptr, 0), 20), toHex(sha1(expected, empty, 0), 20));
    EXPECT_EQ(toHex(sha384(out, nullptr, 0), 48), toHex(sha384(expected, empty, 0), 48));
    EXPECT_EQ(toHex(hmacSha256(out, nullptr, 0, nullptr, 0), 32), toHex(hmacSha256(expected, empty, 0, empty, 0), 32));
    EXPECT_EQ(toHex(hmacSha384(out, nullptr, 0, nullptr, 0), 48), toHex(hmacSha384(expected, empty, 0, empty, 0), 48));
    u8 prk[48] = {7};
    hkdfExpandSha384(prk, nullptr, 0, out, 48);
    hkdfExpandSha384(prk, empty, 0, expected, 48);
    EXPECT_EQ(toHex(out, 48), toHex(expected, 48));
    hkdfExpandLabelSha256(prk, "key", nullptr, 0, out, 16);
    hkdfExpandLabelSha256(prk, "key", empty, 0, expected, 16);
    EXPECT_EQ(toHex(out, 16), toHex(expected, 16));
}

TEST(ConstantTimeEqual, ComparesEveryByte) {
    u8 a[16] = {}, b[16] = {};
    EXPECT_EQ(constantTimeEqual(a, b, 16), 1);
    EXPECT_EQ(constantTimeEqual(a, b, 0), 1);
    for (int i = 0; i < 16; i++)
        for (int bit = 0; bit < 8; bit++) {
            b[i] ^= (u8)(1 << bit);
            EXPECT_EQ(constantTimeEqual(a, b, 16), 0);
            b[i] ^= (u8)(1 << bit);
        }
}

}  // namespace
