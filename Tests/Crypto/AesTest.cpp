// AES, CBC and GCM against FIPS 197, SP 800-38A and the CAVP files of SP 800-38A/38D, and the
// chaining, in-place and tag-check behaviour the TLS records and the relay link rely on.
#include <gtest/gtest.h>

#include <cstring>

#include "Crypto/Aes.h"
#include "CryptoTestSupport.h"

namespace {

AesKeySchedule scheduleOf(const Bytes& key) {
    AesKeySchedule s;
    aesKeyExpansion(&s, (i32)key.size(), key.data());
    return s;
}

TEST(Aes, Fips197) {
    Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    struct Case {
        const char* key;
        const char* cipher;
    } cases[] = {{"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
                 {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                  "8ea2b7ca516745bfeafc49904b496089"}};
    for (const auto& c : cases) {
        AesKeySchedule s = scheduleOf(fromHex(c.key));
        Bytes block = plain;
        aesEncryptBlock(block.data(), &s);
        EXPECT_EQ(toHex(block), c.cipher);
        aesDecryptBlock(block.data(), &s);
        EXPECT_EQ(toHex(block), toHex(plain));
    }
}

TEST(Aes, KeyExpansionOfFips197AppendixA) {
    Bytes key128 = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    AesKeySchedule s = scheduleOf(key128);
    EXPECT_EQ(s.rounds, 10);
    EXPECT_EQ(toHex(s.roundKeys, 16), toHex(key128));
    EXPECT_EQ(toHex(s.roundKeys + 160, 16), "d014f9a8c9ee2589e13f0cc8b6630ca6");
    EXPECT_EQ(toHex(s.roundKeys + 176, 64), std::string(128, '0'));  // past the last round key
    Bytes key256 = fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    s = scheduleOf(key256);
    EXPECT_EQ(s.rounds, 14);
    EXPECT_EQ(toHex(s.roundKeys + 224, 16), "fe4890d1e6188d0b046df344706c631e");
}

TEST(Aes, UnsupportedKeyLengthsAreNeverUsed) {
    u8 key[64] = {1, 2, 3};
    for (i32 length : {0, 8, 20, 33, 64}) {
        AesKeySchedule s;
        memset(&s, 0x5A, sizeof(s));
        aesKeyExpansion(&s, length, key);
        EXPECT_EQ(s.rounds, 0) << length;
        EXPECT_EQ(toHex(s.roundKeys, 240), std::string(480, '0'));
        u8 block[16] = {9, 8, 7};
        aesEncryptBlock(block, &s);
        aesDecryptBlock(block, &s);
        EXPECT_EQ(toHex(block, 16), "09080700000000000000000000000000");
    }
}

// The CAVP ECB and CBC files for every key size.
TEST(Aes, CavpEcbAndCbc) {
    const char* sets[] = {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"};
    int checked = 0;
    for (const char* bits : {"128", "192", "256"})
        for (const char* set : sets) {
            for (const char* mode : {"ECB", "CBC"}) {
                std::string path = std::string("ciphers/AES/") + mode + "/" + mode + set + bits + ".rsp";
                auto records = readVectorFile(path);
                ASSERT_FALSE(records.empty()) << path << " (install python3-cryptography-vectors)";
                for (const auto& r : records) {
                    AesKeySchedule s = scheduleOf(r.bytes("KEY"));
                    Bytes plain = r.bytes("PLAINTEXT"), cipher = r.bytes("CIPHERTEXT");
                    Bytes out(plain.size());
                    bool encrypt = r.section.count("ENCRYPT") != 0;
                    if (std::string(mode) == "ECB") {
                        out = encrypt ? plain : cipher;
                        for (size_t i = 0; i < out.size(); i += 16)
                            encrypt ? aesEncryptBlock(out.data() + i, &s) : aesDecryptBlock(out.data() + i, &s);
                    } else {
                        Bytes iv = r.bytes("IV");
                        u8 work[16];
                        if (encrypt) encryptAesCbc(work, plain.data(), out.data(), (i64)out.size(), iv.data(), &s);
                        else decryptAesCbc(cipher.data(), out.data(), (i64)out.size(), iv.data(), &s);
                    }
                    EXPECT_EQ(toHex(out), toHex(encrypt ? cipher : plain)) << path << " " << r["COUNT"];
                    checked++;
                }
            }
        }
    EXPECT_GT(checked, 1000);
}

TEST(AesCbc, Sp80038aF21AndChaining) {
    AesKeySchedule s = scheduleOf(fromHex("2b7e151628aed2a6abf7158809cf4f3c"));
    Bytes plain = fromHex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const std::string expected =
        "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
    Bytes iv = fromHex("000102030405060708090a0b0c0d0e0f");
    Bytes out(64);
    u8 work[16];
    Bytes chain = iv;
    encryptAesCbc(work, plain.data(), out.data(), 64, chain.data(), &s);
    EXPECT_EQ(toHex(out), expected);
    EXPECT_EQ(toHex(chain), expected.substr(96));  // the IV ends as the last ciphertext block
    EXPECT_EQ(toHex(work, 16), expected.substr(96));

    // Two calls over the halves continue one chain.
    chain = iv;
    Bytes halves(64);
    encryptAesCbc(work, plain.data(), halves.data(), 32, chain.data(), &s);
    encryptAesCbc(work, plain.data() + 32, halves.data() + 32, 32, chain.data(), &s);
    EXPECT_EQ(toHex(halves), expected);

    // Decryption leaves the IV as given: the second half needs the first half's last block.
    Bytes back(64), ivCopy = iv;
    decryptAesCbc(out.data(), back.data(), 32, ivCopy.data(), &s);
    EXPECT_EQ(toHex(ivCopy), toHex(iv));
    decryptAesCbc(out.data() + 32, back.data() + 32, 32, out.data() + 16, &s);
    EXPECT_EQ(toHex(back), toHex(plain));

    // In place, both ways.
    Bytes buffer = plain;
    chain = iv;
    encryptAesCbc(work, buffer.data(), buffer.data(), 64, chain.data(), &s);
    EXPECT_EQ(toHex(buffer), expected);
    decryptAesCbc(buffer.data(), buffer.data(), 64, iv.data(), &s);
    EXPECT_EQ(toHex(buffer), toHex(plain));
}

TEST(AesCbc, ShortFinalBlockIsReadAndWrittenWhole) {
    AesKeySchedule s = scheduleOf(Bytes(16, 7));
    Bytes in(32, 0x11), out(48, 0xEE), iv(16, 0);
    u8 work[16];
    encryptAesCbc(work, in.data(), out.data(), 20, iv.data(), &s);
    for (int i = 32; i < 48; i++) EXPECT_EQ(out[i], 0xEE);
    Bytes same(32), iv2(16, 0);
    encryptAesCbc(work, in.data(), same.data(), 32, iv2.data(), &s);
    EXPECT_EQ(toHex(out.data(), 32), toHex(same));
    // Nothing happens for no length; work is zeroed.
    Bytes untouched(16, 0xEE), iv3(16, 5);
    encryptAesCbc(work, in.data(), untouched.data(), 0, iv3.data(), &s);
    EXPECT_EQ(toHex(untouched), std::string(32, 'e'));
    EXPECT_EQ(toHex(work, 16), std::string(32, '0'));
    EXPECT_EQ(toHex(iv3), toHex(Bytes(16, 5)));
}

TEST(AesGcm, CavpEncryptAndDecrypt) {
    int encrypted = 0, decrypted = 0, refused = 0;
    for (const char* bits : {"128", "256"}) {
        for (const auto& r : readVectorFile(std::string("ciphers/AES/GCM/gcmEncryptExtIV") + bits + ".rsp")) {
            if (r.section.at("IVlen") != "96" || r.section.at("Taglen") != "128") continue;
            AesKeySchedule s = scheduleOf(r.bytes("Key"));
            Bytes plain = r.bytes("PT"), aad = r.bytes("AAD"), iv = r.bytes("IV");
            Bytes cipher(plain.size());
            u8 tag[16];
            encryptAesGcm(tag, plain.data(), cipher.data(), (i64)plain.size(), iv.data(), aad.data(),
                          (i64)aad.size(), &s);
            EXPECT_EQ(toHex(cipher), r["CT"]) << bits << " " << r["Count"];
            EXPECT_EQ(toHex(tag, 16), r["Tag"]);
            encrypted++;
        }
        for (const auto& r : readVectorFile(std::string("ciphers/AES/GCM/gcmDecrypt") + bits + ".rsp")) {
            if (r.section.at("IVlen") != "96" || r.section.at("Taglen") != "128") continue;
            AesKeySchedule s = scheduleOf(r.bytes("Key"));
            Bytes cipher = r.bytes("CT"), aad = r.bytes("AAD"), iv = r.bytes("IV"), tag = r.bytes("Tag");
            Bytes plain(cipher.size());
            i32 result = decryptAesGcm(cipher.data(), plain.data(), (i64)cipher.size(), iv.data(), aad.data(),
                                       (i64)aad.size(), &s, tag.data());
            if (r.has("FAIL")) {
                EXPECT_EQ(result, 1);
                refused++;
            } else {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(toHex(plain), r["PT"]);
            }
            decrypted++;
        }
    }
    EXPECT_GT(encrypted, 500);
    EXPECT_GT(decrypted, 500);
    EXPECT_GT(refused, 100);
}

TEST(AesGcm, Sp80038dTestCases) {
    // Test cases 1 to 4 (AES-128) and 13 and 16 (AES-256) of the GCM paper by McGrew and Viega.
    struct Case {
        const char *key, *iv, *plain, *aad, *cipher, *tag;
    } cases[] = {
        {"00000000000000000000000000000000", "000000000000000000000000", "", "", "",
         "58e2fccefa7e3061367f1d57a4e7455a"},
        {"00000000000000000000000000000000", "000000000000000000000000", "00000000000000000000000000000000", "",
         "0388dace60b6a392f328c2b971b2fe78", "ab6e47d42cec13bdf53a67b21257bddf"},
        {"feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
         "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255",
         "",
         "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091473f5985",
         "4d5c2af327cd64a62cf35abd2ba6fab4"},
        {"feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
         "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39",
         "feedfacedeadbeeffeedfacedeadbeefabaddad2",
         "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091",
         "5bc94fbc3221a5db94fae95ae7121a47"},
        {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "", "",
         "", "530f8afbc74536b9a963b4f1c4cb738b"},
        {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
         "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39",
         "feedfacedeadbeeffeedfacedeadbeefabaddad2",
         "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662",
         "76fc6ece0f4e1768cddf8853bb2d551b"},
    };
    for (const auto& c : cases) {
        AesKeySchedule s = scheduleOf(fromHex(c.key));
        Bytes plain = fromHex(c.plain), aad = fromHex(c.aad), iv = fromHex(c.iv);
        Bytes buffer = plain;
        u8 tag[16];
        encryptAesGcm(tag, buffer.data(), buffer.data(), (i64)buffer.size(), iv.data(),
                      aad.empty() ? nullptr : aad.data(), (i64)aad.size(), &s);
        EXPECT_EQ(toHex(buffer), c.cipher);
        EXPECT_EQ(toHex(tag, 16), c.tag);
        EXPECT_EQ(decryptAesGcm(buffer.data(), buffer.data(), (i64)buffer.size(), iv.data(),
                                aad.empty() ? nullptr : aad.data(), (i64)aad.size(), &s, tag),
                  0);
        EXPECT_EQ(toHex(buffer), c.plain);
    }
}

TEST(AesGcm, NullBuffersOfNoLength) {
    AesKeySchedule s = scheduleOf(Bytes(16, 0));
    Bytes iv(12, 0);
    u8 tag[16];
    encryptAesGcm(tag, nullptr, nullptr, 0, iv.data(), nullptr, 0, &s);
    EXPECT_EQ(toHex(tag, 16), "58e2fccefa7e3061367f1d57a4e7455a");
    EXPECT_EQ(decryptAesGcm(nullptr, nullptr, 0, iv.data(), nullptr, 0, &s, tag), 0);
    u8 work[16];
    encryptAesCbc(work, nullptr, nullptr, 0, iv.data(), &s);
    decryptAesCbc(nullptr, nullptr, 0, iv.data(), &s);
}

TEST(AesGcm, AnyFlippedBitIsRefusedAndThePlaintextStillWritten) {
    AesKeySchedule s = scheduleOf(fromHex("feffe9928665731c6d6a8f9467308308"));
    Bytes iv = fromHex("cafebabefacedbaddecaf888"), aad = fromHex("feedfacedeadbeef0102"), plain(37);
    for (size_t i = 0; i < plain.size(); i++) plain[i] = (u8)(i * 13);
    Bytes cipher(plain.size());
    u8 tag[16];
    encryptAesGcm(tag, plain.data(), cipher.data(), (i64)plain.size(), iv.data(), aad.data(), (i64)aad.size(), &s);
    auto open = [&](Bytes c, Bytes a, const u8* t, Bytes* out) {
        out->assign(c.size(), 0);
        return decryptAesGcm(c.data(), out->data(), (i64)c.size(), iv.data(), a.data(), (i64)a.size(), &s, t);
    };
    Bytes out;
    ASSERT_EQ(open(cipher, aad, tag, &out), 0);
    for (size_t i = 0; i < cipher.size() * 8; i += 7) {
        Bytes c = cipher;
        c[i / 8] ^= (u8)(1 << (i % 8));
        EXPECT_EQ(open(c, aad, tag, &out), 1);
        EXPECT_NE(toHex(out), std::string(out.size() * 2, '0'));  // written all the same
    }
    for (size_t i = 0; i < aad.size() * 8; i++) {
        Bytes a = aad;
        a[i / 8] ^= (u8)(1 << (i % 8));
        EXPECT_EQ(open(cipher, a, tag, &out), 1);
    }
    for (int i = 0; i < 128; i++) {
        u8 t[16];
        memcpy(t, tag, 16);
        t[i / 8] ^= (u8)(1 << (i % 8));
        EXPECT_EQ(open(cipher, aad, t, &out), 1);
        EXPECT_EQ(toHex(out), toHex(plain));
    }
}

// Algorithm 1 of SP 800-38D, bit by bit, as the reference for the faster product.
void referenceGhashMultiply(u8* out, const u8* x, const u8* h) {
    u8 z[16] = {}, v[16];
    memcpy(v, h, 16);
    for (int i = 0; i < 128; i++) {
        if ((x[i / 8] >> (7 - i % 8)) & 1)
            for (int j = 0; j < 16; j++) z[j] ^= v[j];
        bool low = v[15] & 1;
        for (int j = 15; j > 0; j--) v[j] = (u8)((v[j] >> 1) | (v[j - 1] << 7));
        v[0] >>= 1;
        if (low) v[0] ^= 0xE1;
    }
    memcpy(out, z, 16);
}

TEST(Ghash, MatchesTheBitSerialDefinition) {
    std::mt19937_64 random(12);
    for (int i = 0; i < 5000; i++) {
        Bytes x = randomBytes(random, 16), h = randomBytes(random, 16);
        if (i % 10 == 0) x.assign(16, i % 20 == 0 ? 0xFF : 0);
        if (i % 7 == 0) h.assign(16, 0xFF);
        u8 ours[16], expected[16];
        ghashMultiply(ours, x.data(), h.data());
        referenceGhashMultiply(expected, x.data(), h.data());
        ASSERT_EQ(toHex(ours, 16), toHex(expected, 16));
    }
}

TEST(Ghash, MultiplicationIsAFieldProduct) {
    std::mt19937_64 random(11);
    u8 one[16] = {0x80};  // the unit in the bit order of GCM
    for (int i = 0; i < 50; i++) {
        Bytes x = randomBytes(random, 16), y = randomBytes(random, 16), z = randomBytes(random, 16);
        u8 a[16], b[16], xy[16], xz[16], sum[16], yz[16];
        EXPECT_EQ(toHex(ghashMultiply(a, x.data(), one), 16), toHex(x));
        ghashMultiply(a, x.data(), y.data());
        ghashMultiply(b, y.data(), x.data());
        EXPECT_EQ(toHex(a, 16), toHex(b, 16));
        // x (y + z) = x y + x z
        for (int j = 0; j < 16; j++) yz[j] = y[j] ^ z[j];
        ghashMultiply(a, x.data(), yz);
        ghashMultiply(xy, x.data(), y.data());
        ghashMultiply(xz, x.data(), z.data());
        for (int j = 0; j < 16; j++) sum[j] = xy[j] ^ xz[j];
        EXPECT_EQ(toHex(a, 16), toHex(sum, 16));
    }
    // x * x^127 (the top bit of byte 15) reduces by the GCM polynomial: x^128 = 1 + x + x^2 + x^7.
    u8 x1[16] = {0x40}, x127[16] = {}, out[16];
    x127[15] = 0x01;
    ghashMultiply(out, x1, x127);
    EXPECT_EQ(toHex(out, 16), "e1000000000000000000000000000000");
}

}  // namespace
