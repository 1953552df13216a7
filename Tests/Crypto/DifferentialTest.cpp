// Every primitive against OpenSSL's libcrypto over thousands of seeded random inputs, lengths and
// chunkings: digests, HMAC, HKDF, AES-CBC and GCM both ways, X25519 and P-256 key agreement.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "Crypto/Aes.h"
#include "Crypto/AesInternal.h"
#include "Crypto/BigInt.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/Hmac.h"
#include "Crypto/P256.h"
#include "Crypto/X25519.h"
#include "CryptoTestSupport.h"

namespace {

// Lengths weighted towards the block edges, with the occasional long one.
size_t randomLength(std::mt19937_64& random, size_t longest) {
    switch (random() % 4) {
        case 0: return random() % 130;
        case 1: return (random() % 20) * 64 + (random() % 3) - 1 + 1;
        default: return random() % (longest + 1);
    }
}

Bytes opensslDigest(const EVP_MD* md, const Bytes& data) {
    Bytes out(EVP_MD_get_size(md));
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr);
    return out;
}

template <typename Context>
void feedInChunks(std::mt19937_64& random, Context* context, const Bytes& data,
                  void (*update)(Context*, const u8*, u64)) {
    size_t offset = 0;
    while (offset < data.size()) {
        size_t take = std::min<size_t>(random() % 200, data.size() - offset);
        update(context, data.data() + offset, take);
        offset += take;
    }
}

TEST(OpenSslDifferential, Digests) {
    std::mt19937_64 random(101);
    for (int i = 0; i < 3000; i++) {
        Bytes data = randomBytes(random, randomLength(random, 3000));
        u8 digest[48];
        Sha1Context c1;
        sha1Init(&c1);
        feedInChunks(random, &c1, data, sha1Update);
        ASSERT_EQ(toHex(sha1Final(digest, &c1), 20), toHex(opensslDigest(EVP_sha1(), data)));
        Sha256Context c256;
        sha256Init(&c256);
        feedInChunks(random, &c256, data, sha256Update);
        ASSERT_EQ(toHex(sha256Final(digest, &c256), 32), toHex(opensslDigest(EVP_sha256(), data)));
        Sha384Context c384;
        sha384Init(&c384);
        feedInChunks(random, &c384, data, sha384Update);
        ASSERT_EQ(toHex(sha384Final(digest, &c384), 48), toHex(opensslDigest(EVP_sha384(), data)));
        ASSERT_EQ(toHex(sha256(digest, data.data(), data.size()), 32), toHex(opensslDigest(EVP_sha256(), data)));
    }
}

TEST(OpenSslDifferential, Hmac) {
    std::mt19937_64 random(102);
    for (int i = 0; i < 3000; i++) {
        Bytes key = randomBytes(random, random() % 300), message = randomBytes(random, randomLength(random, 1500));
        u8 ours[48], theirs[64];
        unsigned int length = 0;
        HMAC(EVP_sha256(), key.data(), (int)key.size(), message.data(), message.size(), theirs, &length);
        hmacSha256(ours, key.data(), key.size(), message.data(), message.size());
        ASSERT_EQ(toHex(ours, 32), toHex(theirs, 32)) << "key length " << key.size();
        HMAC(EVP_sha384(), key.data(), (int)key.size(), message.data(), message.size(), theirs, &length);
        hmacSha384(ours, key.data(), key.size(), message.data(), message.size());
        ASSERT_EQ(toHex(ours, 48), toHex(theirs, 48)) << "key length " << key.size();
        // SHA-1 through Init, chunked updates of the inner hash and Final, as the record MAC runs.
        HMAC(EVP_sha1(), key.data(), (int)key.size(), message.data(), message.size(), theirs, &length);
        HmacSha1Context c;
        hmacSha1Init(&c, key.data(), key.size());
        feedInChunks(random, &c.inner, message, sha1Update);
        ASSERT_EQ(toHex(hmacSha1Final(ours, &c), 20), toHex(theirs, 20)) << "key length " << key.size();
    }
}

// OpenSSL's HKDF in expand-only mode, or its TLS 1.3 KDF when label is given.
Bytes opensslExpand(const char* digest, const Bytes& key, const Bytes& info, size_t length,
                    const char* label = nullptr) {
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, label ? "TLS13-KDF" : "HKDF", nullptr);
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
    static char prefix[] = "tls13 ";
    static u8 nothing[1];  // OpenSSL wants a pointer even for empty octet strings
    OSSL_PARAM params[7];
    int n = 0;
    params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest), 0);
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<u8*>(key.data()), key.size());
    params[n++] = OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode);
    if (label) {
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PREFIX, prefix, 6);
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_LABEL, const_cast<char*>(label), strlen(label));
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_DATA, info.empty() ? nothing : const_cast<u8*>(info.data()), info.size());
    } else {
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.empty() ? nothing : const_cast<u8*>(info.data()), info.size());
    }
    params[n] = OSSL_PARAM_construct_end();
    Bytes out(length);
    EXPECT_EQ(EVP_KDF_derive(ctx, out.data(), out.size(), params), 1);
    EVP_KDF_CTX_free(ctx);
    EVP_KDF_free(kdf);
    return out;
}

TEST(OpenSslDifferential, HkdfExpandAndExpandLabel) {
    std::mt19937_64 random(103);
    const char* labels[] = {"derived", "c hs traffic", "s ap traffic", "key", "iv", "finished", "res master"};
    for (int i = 0; i < 1500; i++) {
        Bytes prk256 = randomBytes(random, 32), prk384 = randomBytes(random, 48);
        Bytes info = randomBytes(random, random() % 200);
        size_t length = 1 + random() % (random() % 8 == 0 ? 255 * 32 : 100);
        Bytes out(length);
        hkdfExpandSha256(prk256.data(), info.data(), info.size(), out.data(), out.size());
        ASSERT_EQ(toHex(out), toHex(opensslExpand("SHA256", prk256, info, length)));
        size_t length384 = 1 + random() % (random() % 8 == 0 ? 255 * 48 : 150);
        out.resize(length384);
        hkdfExpandSha384(prk384.data(), info.data(), info.size(), out.data(), out.size());
        ASSERT_EQ(toHex(out), toHex(opensslExpand("SHA384", prk384, info, length384)));

        const char* label = labels[random() % 7];
        Bytes context = randomBytes(random, random() % 3 == 0 ? 0 : 32 + 16 * (random() % 2));
        size_t labelLength = 1 + random() % 64;
        out.resize(labelLength);
        hkdfExpandLabelSha256(prk256.data(), label, context.data(), (u8)context.size(), out.data(), out.size());
        ASSERT_EQ(toHex(out), toHex(opensslExpand("SHA256", prk256, context, labelLength, label))) << label;
        hkdfExpandLabelSha384(prk384.data(), label, context.data(), (u8)context.size(), out.data(), out.size());
        ASSERT_EQ(toHex(out), toHex(opensslExpand("SHA384", prk384, context, labelLength, label))) << label;
    }
}

// OpenSSL's CBC without padding, or GCM with a 12-byte IV; returns false on a refused tag.
bool opensslCipher(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& aad,
                   const Bytes& in, Bytes* out, u8* tag) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    int length = 0;
    if (!aad.empty()) EVP_CipherUpdate(ctx, nullptr, &length, aad.data(), (int)aad.size());
    out->assign(in.size() + 16, 0);
    int written = 0;
    if (!in.empty()) EVP_CipherUpdate(ctx, out->data(), &written, in.data(), (int)in.size());
    if (tag && !encrypt) EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag);
    int ok = EVP_CipherFinal_ex(ctx, out->data() + written, &length);
    if (tag && encrypt) EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag);
    out->resize(in.size());
    EVP_CIPHER_CTX_free(ctx);
    return ok == 1;
}

// Both AES paths (the processor's instructions where present, and the software one) against
// OpenSSL: cases is the number of random messages.
void checkAesCbc(int cases) {
    std::mt19937_64 random(104);
    for (int i = 0; i < cases; i++) {
        bool wide = random() & 1;
        Bytes key = randomBytes(random, wide ? 32 : 16), iv = randomBytes(random, 16);
        Bytes plain = randomBytes(random, 16 * (random() % 24));
        AesKeySchedule s;
        aesKeyExpansion(&s, (i32)key.size(), key.data());
        const EVP_CIPHER* cipher = wide ? EVP_aes_256_cbc() : EVP_aes_128_cbc();
        Bytes ours(plain.size()), theirs, back;
        Bytes chain = iv;
        u8 work[16];
        encryptAesCbc(work, plain.data(), ours.data(), (i64)plain.size(), chain.data(), &s);
        opensslCipher(cipher, true, key, iv, {}, plain, &theirs, nullptr);
        ASSERT_EQ(toHex(ours), toHex(theirs));
        // Their ciphertext decrypted by us, in place.
        decryptAesCbc(theirs.data(), theirs.data(), (i64)theirs.size(), iv.data(), &s);
        ASSERT_EQ(toHex(theirs), toHex(plain));
        opensslCipher(cipher, false, key, iv, {}, ours, &back, nullptr);
        ASSERT_EQ(toHex(back), toHex(plain));
    }
}

void checkAesGcm(int cases) {
    std::mt19937_64 random(105);
    for (int i = 0; i < cases; i++) {
        bool wide = random() & 1;
        Bytes key = randomBytes(random, wide ? 32 : 16), iv = randomBytes(random, 12);
        // Up to 600 bytes mostly; up to 2100 now and then, for several of the 256-byte steps of the
        // 512-bit path and every length of the tail it leaves to the 128-bit one.
        Bytes plain = randomBytes(random, randomLength(random, random() % 4 == 0 ? 2100 : 600));
        Bytes aad = randomBytes(random, random() % 3 == 0 ? 0 : random() % 70);
        AesKeySchedule s;
        aesKeyExpansion(&s, (i32)key.size(), key.data());
        const EVP_CIPHER* cipher = wide ? EVP_aes_256_gcm() : EVP_aes_128_gcm();
        Bytes ours = plain, theirs;
        u8 ourTag[16], theirTag[16];
        encryptAesGcm(ourTag, ours.data(), ours.data(), (i64)ours.size(), iv.data(), aad.data(), (i64)aad.size(),
                      &s);
        opensslCipher(cipher, true, key, iv, aad, plain, &theirs, theirTag);
        ASSERT_EQ(toHex(ours), toHex(theirs));
        ASSERT_EQ(toHex(ourTag, 16), toHex(theirTag, 16));
        Bytes back;
        ASSERT_TRUE(opensslCipher(cipher, false, key, iv, aad, ours, &back, ourTag));
        ASSERT_EQ(toHex(back), toHex(plain));
        Bytes opened(theirs.size());
        ASSERT_EQ(decryptAesGcm(theirs.data(), opened.data(), (i64)theirs.size(), iv.data(), aad.data(),
                                (i64)aad.size(), &s, theirTag),
                  0);
        ASSERT_EQ(toHex(opened), toHex(plain));
        // One flipped bit anywhere in ciphertext, AAD or tag is refused by both.
        size_t spots = theirs.size() + aad.size() + 16;
        size_t spot = random() % spots;
        u8 flip = (u8)(1 << (random() % 8));
        Bytes c = theirs, a = aad;
        u8 t[16];
        memcpy(t, theirTag, 16);
        if (spot < c.size()) c[spot] ^= flip;
        else if (spot < c.size() + a.size()) a[spot - c.size()] ^= flip;
        else t[spot - c.size() - a.size()] ^= flip;
        ASSERT_EQ(decryptAesGcm(c.data(), opened.data(), (i64)c.size(), iv.data(), a.data(), (i64)a.size(), &s, t),
                  1);
        ASSERT_FALSE(opensslCipher(cipher, false, key, iv, a, c, &back, t));
    }
}

TEST(OpenSslDifferential, AesCbcBothWays) {
    checkAesCbc(3000);
    aesAllowHardware(false);
    checkAesCbc(300);
    aesAllowHardware(true);
}

TEST(OpenSslDifferential, AesGcmBothWaysAndTamperedTags) {
    checkAesGcm(3000);  // the widest instructions the processor has
    aesAllowWideInstructions(false);
    checkAesGcm(1000);  // the 128-bit AES and carry-less multiply instructions
    aesAllowWideInstructions(true);
    aesAllowHardware(false);
    checkAesGcm(300);
    aesAllowHardware(true);
}

TEST(OpenSslDifferential, X25519KeysAndSharedSecrets) {
    std::mt19937_64 random(106);
    for (int i = 0; i < 1000; i++) {
        x25519AllowProcessorExtensions(i % 2 == 0);  // the wide field products and the portable ones
        Bytes a = randomBytes(random, 32), b = randomBytes(random, 32);
        EVP_PKEY* theirA = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, a.data(), 32);
        EVP_PKEY* theirB = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, b.data(), 32);
        u8 expectedPublic[32], ourPublic[32], ourShared[32], expectedShared[32];
        size_t length = 32;
        EVP_PKEY_get_raw_public_key(theirB, expectedPublic, &length);
        Bytes bCopy = b;
        x25519(ourPublic, bCopy.data(), x25519BasePoint);
        ASSERT_EQ(toHex(ourPublic, 32), toHex(expectedPublic, 32));
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(theirA, nullptr);
        EVP_PKEY_derive_init(ctx);
        EVP_PKEY_derive_set_peer(ctx, theirB);
        length = 32;
        EVP_PKEY_derive(ctx, expectedShared, &length);
        EVP_PKEY_CTX_free(ctx);
        x25519(ourShared, a.data(), ourPublic);
        ASSERT_EQ(toHex(ourShared, 32), toHex(expectedShared, 32));
        EVP_PKEY_free(theirA);
        EVP_PKEY_free(theirB);
    }
    x25519AllowProcessorExtensions(true);
}

// Any 32 bytes are a peer's public key: u at or near p and 2^255 (runs of 0xFF and zero bytes, the
// ignored top bit set) must reduce the same as OpenSSL on both field paths; OpenSSL refuses the
// all-zero results of small-order points.
TEST(OpenSslDifferential, X25519ArbitraryPeerKeys) {
    std::mt19937_64 random(108);
    for (int i = 0; i < 600; i++) {
        Bytes a = randomBytes(random, 32), u = randomBytes(random, 32);
        if (i % 3 != 0)
            for (u8& byte : u) byte = random() % 4 == 0 ? byte : (random() % 2 ? 0xFF : 0x00);
        if (i % 5 == 0) u[31] |= 0x80;
        EVP_PKEY* own = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, a.data(), 32);
        EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u.data(), 32);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(own, nullptr);
        EVP_PKEY_derive_init(ctx);
        EVP_PKEY_derive_set_peer(ctx, peer);
        u8 expected[32] = {};
        size_t length = 32;
        bool derived = EVP_PKEY_derive(ctx, expected, &length) == 1;
        if (!derived) memset(expected, 0, 32);
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(own);
        EVP_PKEY_free(peer);
        for (bool wide : {true, false}) {
            x25519AllowProcessorExtensions(wide);
            Bytes scalar = a;
            u8 ours[32];
            x25519(ours, scalar.data(), u.data());
            ASSERT_EQ(toHex(ours, 32), toHex(expected, 32)) << toHex(u) << (wide ? " wide" : " portable");
        }
    }
    x25519AllowProcessorExtensions(true);
}

// Scalars at the edges: within 40 of the order on either side (those at and above it are reduced
// first, and the last window's running sum passes n), the smallest ones (the running sum is the
// point at infinity until the last windows) and the largest 32-byte ones, on a point other than the
// generator; the point at infinity where OpenSSL finds it.
TEST(OpenSslDifferential, P256ScalarsNearAndAboveTheOrder) {
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
    BN_CTX* bnContext = BN_CTX_new();
    u8 g[64], q[64], seven[32] = {7};
    memcpy(g, secp256r1.generatorX, 32);
    memcpy(g + 32, secp256r1.generatorY, 32);
    ASSERT_EQ(scalePoint(q, seven, g, &secp256r1), 0);
    EC_POINT *theirQ = EC_POINT_new(group), *product = EC_POINT_new(group);
    BIGNUM *bnSeven = BN_lebin2bn(seven, 32, nullptr), *x = BN_new(), *y = BN_new();
    EC_POINT_mul(group, theirQ, bnSeven, nullptr, nullptr, bnContext);
    std::vector<std::array<u8, 32>> scalars;
    for (int d = -40; d <= 40; d++) {
        std::array<u8, 32> k{};
        u8 step[32] = {(u8)std::abs(d)};
        if (d < 0) bigNumSubtract(k.data(), secp256r1.order, step);
        else bigNumAdd(k.data(), secp256r1.order, step);
        scalars.push_back(k);
        std::array<u8, 32> small{};
        small[0] = (u8)(d + 40);
        scalars.push_back(small);
        std::array<u8, 32> top;
        top.fill(0xFF);
        top[0] = (u8)(0xFF - (d + 40));
        scalars.push_back(top);
    }
    for (int i = 0; i < (int)scalars.size(); i++) {
        p256AllowProcessorExtensions(i % 2 == 0);
        const u8* k = scalars[i].data();
        u8 ours[64];
        i32 atInfinity = scalePoint(ours, k, q, &secp256r1);
        BIGNUM* bnK = BN_lebin2bn(k, 32, nullptr);
        EC_POINT_mul(group, product, nullptr, theirQ, bnK, bnContext);
        BN_free(bnK);
        ASSERT_EQ(atInfinity == 1, EC_POINT_is_at_infinity(group, product) == 1) << toHex(k, 32);
        if (atInfinity) continue;
        EC_POINT_get_affine_coordinates(group, product, x, y, bnContext);
        u8 expected[64];
        BN_bn2lebinpad(x, expected, 32);
        BN_bn2lebinpad(y, expected + 32, 32);
        ASSERT_EQ(toHex(ours, 64), toHex(expected, 64)) << toHex(k, 32);
    }
    p256AllowProcessorExtensions(true);
    BN_free(bnSeven);
    BN_free(x);
    BN_free(y);
    EC_POINT_free(theirQ);
    EC_POINT_free(product);
    BN_CTX_free(bnContext);
    EC_GROUP_free(group);
}

TEST(OpenSslDifferential, P256PublicKeysAndSharedSecrets) {
    std::mt19937_64 random(107);
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
    BN_CTX* bnContext = BN_CTX_new();
    u8 g[64];
    memcpy(g, secp256r1.generatorX, 32);
    memcpy(g + 32, secp256r1.generatorY, 32);
    auto toLittleEndian = [](const BIGNUM* bn, u8* out) { BN_bn2lebinpad(bn, out, 32); };
    for (int i = 0; i < 1000; i++) {
        p256AllowProcessorExtensions(i % 2 == 0);  // the wide field products and the portable ones
        u8 a[32], b[32];
        // Random scalars below the order; every 50th from our own generator.
        if (i % 50 == 0) {
            ASSERT_EQ(generateRandomNumber(a, &secp256r1), 0);
            ASSERT_EQ(generateRandomNumber(b, &secp256r1), 0);
        } else {
            do {
                Bytes r = randomBytes(random, 32);
                // every fourth with runs of zero and one bits, the signed windows' extreme digits
                if (i % 4 == 1)
                    for (u8& byte : r) byte = random() % 3 == 0 ? byte : (random() % 2 ? 0xFF : 0x00);
                memcpy(a, r.data(), 32);
            } while (bigNumCompare(a, secp256r1.order) >= 0 || bigNumIsZero(a));
            do {
                Bytes r = randomBytes(random, 32);
                memcpy(b, r.data(), 32);
            } while (bigNumCompare(b, secp256r1.order) >= 0 || bigNumIsZero(b));
        }
        u8 publicB[64], shared[64];
        ASSERT_EQ(scalePoint(publicB, b, g, &secp256r1), 0);
        ASSERT_TRUE(isPointOnCurve(publicB, &secp256r1));
        ASSERT_EQ(scalePoint(shared, a, publicB, &secp256r1), 0);

        BIGNUM *bnA = BN_lebin2bn(a, 32, nullptr), *bnB = BN_lebin2bn(b, 32, nullptr);
        BIGNUM *x = BN_new(), *y = BN_new();
        EC_POINT *theirPublic = EC_POINT_new(group), *theirShared = EC_POINT_new(group);
        EC_POINT_mul(group, theirPublic, bnB, nullptr, nullptr, bnContext);
        EC_POINT_get_affine_coordinates(group, theirPublic, x, y, bnContext);
        u8 expected[64];
        toLittleEndian(x, expected);
        toLittleEndian(y, expected + 32);
        ASSERT_EQ(toHex(publicB, 64), toHex(expected, 64));
        EC_POINT_mul(group, theirShared, nullptr, theirPublic, bnA, bnContext);
        EC_POINT_get_affine_coordinates(group, theirShared, x, y, bnContext);
        toLittleEndian(x, expected);
        ASSERT_EQ(toHex(shared, 32), toHex(expected, 32));  // the shared secret is the x coordinate
        EC_POINT_free(theirPublic);
        EC_POINT_free(theirShared);
        BN_free(bnA);
        BN_free(bnB);
        BN_free(x);
        BN_free(y);
    }
    p256AllowProcessorExtensions(true);
    BN_CTX_free(bnContext);
    EC_GROUP_free(group);
}

// Modular exponentiation (the RSA public operation) against BN_mod_exp on random odd moduli of
// whole and partial limbs, with the processor's wide multiply instructions and without them.
TEST(OpenSslDifferential, ModularExponentiationBothPaths) {
    std::mt19937_64 random(65537);
    BN_CTX* bnContext = BN_CTX_new();
    for (int round = 0; round < 120; round++) {
        u32 length = (u32)(round % 3 == 0 ? 256 : 33 + random() % (kBigIntMaxBytes - 32));
        Bytes modulus = randomBytes(random, length), base = randomBytes(random, length);
        modulus[0] |= 0x80;
        modulus[length - 1] |= 1;
        if (round % 5 == 1) std::fill(modulus.begin(), modulus.begin() + length / 2, 0xFF);
        base[0] &= 0x7F;  // below the modulus
        if (round % 7 == 2) std::fill(base.begin() + 1, base.end(), 0xFF);
        u64 exponent = round % 4 == 0 ? 65537 : round % 4 == 1 ? 3 : (random() | 1);
        BIGNUM *n = BN_bin2bn(modulus.data(), (int)length, nullptr), *b = BN_bin2bn(base.data(), (int)length, nullptr);
        BIGNUM *e = BN_new(), *result = BN_new();
        BN_set_word(e, exponent);
        BN_mod_exp(result, b, e, n, bnContext);
        Bytes expected(length);
        BN_bn2binpad(result, expected.data(), (int)length);
        for (bool extensions : {true, false}) {
            bigIntAllowProcessorExtensions(extensions);
            Bytes ours(length);
            ASSERT_TRUE(bigIntModExp(ours.data(), base.data(), modulus.data(), length, exponent));
            ASSERT_EQ(toHex(ours.data(), length), toHex(expected.data(), length))
                << length << " bytes, exponent " << exponent << (extensions ? "" : ", portable");
        }
        bigIntAllowProcessorExtensions(true);
        BN_free(n);
        BN_free(b);
        BN_free(e);
        BN_free(result);
    }
    BN_CTX_free(bnContext);
}

}  // namespace
