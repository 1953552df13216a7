// P-384 scalar multiplication against the CAVP key pairs and OpenSSL, and the on-curve check.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <cstring>

#include "Crypto/P384.h"
#include "CryptoTestSupport.h"

namespace {

// Big-endian hex to 48 bytes little-endian.
void littleEndian48(u8* out, const std::string& hex) {
    Bytes b = fromHex(hex);
    ASSERT_LE(b.size(), 48u);
    memset(out, 0, 48);
    for (size_t i = 0; i < b.size(); i++) out[i] = b[b.size() - 1 - i];
}

std::string bigEndianHex(const u8* littleEndian) {
    u8 b[48];
    for (int i = 0; i < 48; i++) b[i] = littleEndian[47 - i];
    return toHex(b, 48);
}

TEST(P384, GeneratorAndCavpKeyPairs) {
    u8 g[96];
    memcpy(g, secp384r1.generatorX, 48);
    memcpy(g + 48, secp384r1.generatorY, 48);
    EXPECT_TRUE(isPointOnCurve384(g));
    auto records = readVectorFile("asymmetric/ECDSA/FIPS_186-3/KeyPair.rsp");
    int checked = 0;
    for (const auto& r : records) {
        if (!r.has("d") || r.section.count("P-384") == 0) continue;
        u8 d[48], q[96];
        littleEndian48(d, r["d"]);
        ASSERT_EQ(scalePoint384(q, d, g), 0);
        EXPECT_EQ(bigEndianHex(q), r["Qx"]);
        EXPECT_EQ(bigEndianHex(q + 48), r["Qy"]);
        EXPECT_TRUE(isPointOnCurve384(q));
        checked++;
    }
    EXPECT_GE(checked, 10);
}

TEST(P384, ScalarMultiplicationAgainstOpenSsl) {
    std::mt19937_64 random(384);
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_secp384r1);
    BN_CTX* context = BN_CTX_new();
    u8 g[96];
    memcpy(g, secp384r1.generatorX, 48);
    memcpy(g + 48, secp384r1.generatorY, 48);
    // a second base point: 7 G
    u8 seven[48] = {7}, base[96];
    ASSERT_EQ(scalePoint384(base, seven, g), 0);
    for (int i = 0; i < 40; i++) {
        Bytes scalar = randomBytes(random, 48);
        if (i % 4 == 0) scalar[0] = 0;  // shorter scalars
        scalar[0] &= 0x7F;  // below n
        u8 scalarLe[48], ours[96];
        for (int j = 0; j < 48; j++) scalarLe[j] = scalar[47 - j];
        ASSERT_EQ(scalePoint384(ours, scalarLe, base), 0);
        BIGNUM* k = BN_bin2bn(scalar.data(), 48, nullptr);
        BIGNUM* seven7 = BN_new();
        BN_set_word(seven7, 7);
        BN_mul(k, k, seven7, context);
        EC_POINT* point = EC_POINT_new(group);
        EC_POINT_mul(group, point, k, nullptr, nullptr, context);
        u8 encoded[97];
        EC_POINT_point2oct(group, point, POINT_CONVERSION_UNCOMPRESSED, encoded, sizeof(encoded), context);
        EXPECT_EQ(bigEndianHex(ours), toHex(encoded + 1, 48));
        EXPECT_EQ(bigEndianHex(ours + 48), toHex(encoded + 49, 48));
        EC_POINT_free(point);
        BN_free(k);
        BN_free(seven7);
    }
    BN_CTX_free(context);
    EC_GROUP_free(group);
    u8 zero[48] = {}, out[96];
    EXPECT_EQ(scalePoint384(out, zero, g), 1);
}

TEST(P384, PointsOffTheCurve) {
    u8 g[96];
    memcpy(g, secp384r1.generatorX, 48);
    memcpy(g + 48, secp384r1.generatorY, 48);
    g[0] ^= 1;
    EXPECT_FALSE(isPointOnCurve384(g));
    u8 big[96];
    memcpy(big, secp384r1.p, 48);  // x = p is not a field element
    memcpy(big + 48, secp384r1.generatorY, 48);
    EXPECT_FALSE(isPointOnCurve384(big));
    u8 zero[96] = {};
    EXPECT_FALSE(isPointOnCurve384(zero));
}

}  // namespace
