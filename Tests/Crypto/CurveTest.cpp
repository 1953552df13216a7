// 256-bit numbers, P-256 and X25519 against published points and vectors (FIPS 186-3 key pairs and
// public-key validation, RFC 7748), with OpenSSL's BIGNUM as the oracle of the generic arithmetic.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/err.h>

#include <algorithm>
#include <cstring>

#include "Crypto/EllipticCurve.h"
#include "Crypto/X25519.h"
#include "CryptoTestSupport.h"

namespace {

// Big-endian hex (as vectors print numbers) to 32 bytes little-endian; false when it does not fit.
bool littleEndianOf(const std::string& hex, u8* out) {
    Bytes b = fromHex(std::string(hex.size() % 2 ? "0" : "") + hex);
    while (b.size() > 32 && b.front() == 0) b.erase(b.begin());
    if (b.size() > 32) return false;
    memset(out, 0, 32);
    for (size_t i = 0; i < b.size(); i++) out[i] = b[b.size() - 1 - i];
    return true;
}

std::string bigEndianHex(const u8* number, size_t bytes = 32) {
    Bytes b(number, number + bytes);
    std::reverse(b.begin(), b.end());
    return toHex(b);
}

BIGNUM* toBn(const u8* littleEndian, int bytes) { return BN_lebin2bn(littleEndian, bytes, nullptr); }

void fromBn(const BIGNUM* bn, u8* out, int bytes) { BN_bn2lebinpad(bn, out, bytes); }

TEST(BigNum, AddAndSubtractAtTheEdges) {
    u8 a[32], zero[32] = {}, one[32] = {1}, out[32], all[32];
    memset(all, 0xFF, 32);
    for (int i = 0; i < 32; i++) a[i] = (u8)(i * 37 + 1);
    EXPECT_EQ(bigNumSubtract(out, a, a), 1u);
    EXPECT_TRUE(bigNumIsZero(out));
    EXPECT_EQ(bigNumSubtract(out, zero, one), 0u);
    EXPECT_EQ(toHex(out, 32), toHex(all, 32));
    EXPECT_EQ(bigNumAdd(out, all, one), 1u);
    EXPECT_TRUE(bigNumIsZero(out));
    EXPECT_EQ(bigNumAdd(out, a, zero), 0u);
    EXPECT_EQ(toHex(out, 32), toHex(a, 32));
}

TEST(BigNum, ProductsReductionsAndInversesMatchOpenSsl) {
    std::mt19937_64 random(7);
    BN_CTX* ctx = BN_CTX_new();
    for (int i = 0; i < 3000; i++) {
        Bytes a = randomBytes(random, 32), b = randomBytes(random, 32), m = randomBytes(random, 32);
        // Moduli of every size, so each limb count and shift of the long division is met.
        int topBytes = (int)(random() % 32);
        for (int j = 32 - topBytes; j < 32; j++) m[j] = 0;
        if (random() % 4 == 0) m[31 - topBytes] |= 0x80;
        if (bigNumIsZero(m.data())) m[0] = 3;
        u8 product[64], quotient[64], remainder[32];
        bigNumMultiply(product, a.data(), b.data());
        BIGNUM *bnA = toBn(a.data(), 32), *bnB = toBn(b.data(), 32), *bnM = toBn(m.data(), 32);
        BIGNUM *bnP = BN_new(), *bnQ = BN_new(), *bnR = BN_new();
        BN_mul(bnP, bnA, bnB, ctx);
        u8 expected[64];
        fromBn(bnP, expected, 64);
        ASSERT_EQ(toHex(product, 64), toHex(expected, 64));
        PreparedModulus prepared;
        bigNumHighestBit(&prepared, m.data());
        bigNumModReduce(quotient, remainder, product, &prepared);
        BN_div(bnQ, bnR, bnP, bnM, ctx);
        u8 q[64], r[32];
        fromBn(bnQ, q, 64);
        fromBn(bnR, r, 32);
        ASSERT_EQ(toHex(quotient, 64), toHex(q, 64)) << "modulus " << bigEndianHex(m.data());
        ASSERT_EQ(toHex(remainder, 32), toHex(r, 32));
        // The inverse modulo an odd modulus, where one exists.
        m[0] |= 1;
        BN_free(bnM);
        bnM = toBn(m.data(), 32);
        BIGNUM* bnInverse = BN_mod_inverse(nullptr, bnA, bnM, ctx);
        if (bnInverse && !BN_is_one(bnM)) {
            u8 gcd[32], inverse[32], work[32], expectedInverse[32];
            extendedEuclideanAlgorithm(gcd, inverse, work, a.data(), m.data());
            // Both Bezout coefficients: gcd = a * inverse + m * work (mod 2^256).
            u8 ai[64], mw[64], combination[32];
            bigNumMultiply(ai, a.data(), inverse);
            bigNumMultiply(mw, m.data(), work);
            bigNumAdd(combination, ai, mw);
            ASSERT_EQ(toHex(combination, 32), toHex(gcd, 32)) << "value " << bigEndianHex(a.data());
            if (inverse[31] & 0x80) bigNumAdd(inverse, inverse, m.data());
            fromBn(bnInverse, expectedInverse, 32);
            ASSERT_EQ(toHex(inverse, 32), toHex(expectedInverse, 32)) << "value " << bigEndianHex(a.data());
            BN_free(bnInverse);
        } else {
            ERR_clear_error();
            BN_free(bnInverse);
        }
        BN_free(bnA);
        BN_free(bnB);
        BN_free(bnM);
        BN_free(bnP);
        BN_free(bnQ);
        BN_free(bnR);
    }
    BN_CTX_free(ctx);
}

TEST(BigNum, PreparedModulusOfTheCurvePrime) {
    PreparedModulus prepared;
    bigNumHighestBit(&prepared, secp256r1.p);
    EXPECT_EQ(prepared.topLimb, 7u);
    EXPECT_EQ(prepared.shift, 0u);
    EXPECT_EQ(memcmp(&prepared, &secp256r1.preparedP, sizeof(prepared)), 0);
    u8 zero[32] = {};
    bigNumHighestBit(&prepared, zero);
    EXPECT_EQ(prepared.isZero, 1u);
    u8 x25519Prime[32];
    littleEndianOf("7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffed", x25519Prime);
    bigNumHighestBit(&prepared, x25519Prime);
    EXPECT_EQ(prepared.topLimb, 7u);
    EXPECT_EQ(prepared.shift, 1u);
}

void generator(u8* point) {
    memcpy(point, secp256r1.generatorX, 32);
    memcpy(point + 32, secp256r1.generatorY, 32);
}

TEST(P256, Fips186KeyPairs) {
    auto records = readVectorFile("asymmetric/ECDSA/FIPS_186-3/KeyPair.rsp");
    int checked = 0;
    u8 g[64];
    generator(g);
    for (const auto& r : records) {
        if (!r.section.count("P-256") || !r.has("d")) continue;
        u8 d[32], q[64];
        ASSERT_TRUE(littleEndianOf(r["d"], d));
        ASSERT_EQ(scalePoint(q, d, g, &secp256r1), 0);
        EXPECT_EQ(bigEndianHex(q), r["Qx"]);
        EXPECT_EQ(bigEndianHex(q + 32), r["Qy"]);
        EXPECT_TRUE(isPointOnCurve(q, &secp256r1));
        checked++;
    }
    EXPECT_EQ(checked, 10);
}

TEST(P256, Fips186PublicKeyValidation) {
    auto records = readVectorFile("asymmetric/ECDSA/FIPS_186-3/PKV.rsp");
    int checked = 0;
    for (const auto& r : records) {
        if (!r.section.count("P-256") || !r.has("Qx")) continue;
        u8 q[64];
        bool fits = littleEndianOf(r["Qx"], q) && littleEndianOf(r["Qy"], q + 32);
        bool valid = r["Result"][0] == 'P';
        EXPECT_EQ(fits && isPointOnCurve(q, &secp256r1), valid) << r["Qx"];
        checked++;
    }
    EXPECT_GE(checked, 10);
}

// A coordinate at or above p names the same field element as its value less p, so a check that
// only reduced it would take it for a point; (0, 0), which some encodings use for the point at
// infinity, is not on the curve.
TEST(P256, CoordinatesAtOrAbovePAndZeroAreRefused) {
    u8 zero[64] = {};
    EXPECT_FALSE(isPointOnCurve(zero, &secp256r1));
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *p = toBn(secp256r1.p, 32), *b = toBn(secp256r1.b, 32), *rhs = BN_new(), *y = BN_new();
    int found = 0;
    for (u32 x = 0; found < 4 && x < 100; x++) {
        // y^2 = x^3 - 3 x + b with small x, so that x + p still fits in 256 bits.
        BIGNUM* bx = BN_new();
        BN_set_word(bx, x);
        BN_set_word(rhs, (BN_ULONG)x * x * x);
        BN_sub(rhs, rhs, bx);
        BN_sub(rhs, rhs, bx);
        BN_sub(rhs, rhs, bx);
        BN_mod_add(rhs, rhs, b, p, ctx);
        BN_free(bx);
        ERR_set_mark();
        bool square = BN_mod_sqrt(y, rhs, p, ctx) != nullptr;
        ERR_pop_to_mark();
        if (!square) continue;
        u8 point[64] = {(u8)x}, shifted[64];
        fromBn(y, point + 32, 32);
        ASSERT_TRUE(isPointOnCurve(point, &secp256r1)) << x;
        memcpy(shifted, point, 64);
        ASSERT_EQ(bigNumAdd(shifted, point, secp256r1.p), 0u);  // x + p
        EXPECT_FALSE(isPointOnCurve(shifted, &secp256r1)) << x;
        memcpy(shifted, secp256r1.p, 32);  // x = p when x is 0
        if (x == 0) {
            EXPECT_FALSE(isPointOnCurve(shifted, &secp256r1));
        }
        found++;
    }
    EXPECT_EQ(found, 4);
    BN_free(p);
    BN_free(b);
    BN_free(rhs);
    BN_free(y);
    BN_CTX_free(ctx);
}

TEST(P256, ScalingEdgeCases) {
    u8 g[64], out[64], scalar[32] = {};
    generator(g);
    EXPECT_TRUE(isPointOnCurve(g, &secp256r1));
    u8 bad[64];
    memcpy(bad, g, 64);
    bad[32] += 1;
    EXPECT_FALSE(isPointOnCurve(bad, &secp256r1));

    EXPECT_EQ(scalePoint(out, scalar, g, &secp256r1), 1);  // scalar 0
    scalar[0] = 1;
    ASSERT_EQ(scalePoint(out, scalar, g, &secp256r1), 0);
    EXPECT_EQ(toHex(out, 64), toHex(g, 64));
    scalar[0] = 2;
    ASSERT_EQ(scalePoint(out, scalar, g, &secp256r1), 0);
    u8 doubled[64];
    ASSERT_EQ(doublePoint(doubled, g, &secp256r1), 0);
    EXPECT_EQ(toHex(out, 64), toHex(doubled, 64));
    EXPECT_EQ(bigEndianHex(out), "7cf27b188d034f7e8a52380304b51ac3c08969e277f21b35a60b48fc47669978");

    u8 nMinusOne[32], one[32] = {1}, minusG[64];
    bigNumSubtract(nMinusOne, secp256r1.order, one);
    ASSERT_EQ(scalePoint(out, nMinusOne, g, &secp256r1), 0);
    memcpy(minusG, g, 32);
    bigNumSubtract(minusG + 32, secp256r1.p, g + 32);
    EXPECT_EQ(toHex(out, 64), toHex(minusG, 64));
    EXPECT_EQ(scalePoint(out, secp256r1.order, g, &secp256r1), 1);  // n G is the point at infinity

    EXPECT_EQ(addDifferentPoints(out, g, minusG, &secp256r1), 1);
    ASSERT_EQ(addDifferentPoints(out, g, g, &secp256r1), 0);
    EXPECT_EQ(toHex(out, 64), toHex(doubled, 64));
    // G + 2G = 3G
    u8 three[32] = {3}, tripled[64];
    ASSERT_EQ(addDifferentPoints(out, g, doubled, &secp256r1), 0);
    ASSERT_EQ(scalePoint(tripled, three, g, &secp256r1), 0);
    EXPECT_EQ(toHex(out, 64), toHex(tripled, 64));
    EXPECT_EQ(bigEndianHex(tripled), "5ecbe4d1a6330a44c8f7ef951d4bf165e6c6b721efada985fb41661bc6e7fd6c");
}

TEST(P256, AffineAndScaledArithmeticAgree) {
    // scalePoint's faster internal form against the affine operations, for random small scalars.
    std::mt19937_64 random(5);
    u8 g[64];
    generator(g);
    for (int i = 0; i < 20; i++) {
        u32 k = (u32)(random() % 120) + 2;
        u8 scalar[32] = {(u8)k, (u8)(k >> 8)}, scaled[64], summed[64];
        ASSERT_EQ(scalePoint(scaled, scalar, g, &secp256r1), 0);
        memcpy(summed, g, 64);
        for (u32 j = 1; j < k; j++) ASSERT_EQ(addDifferentPoints(summed, summed, g, &secp256r1), 0);
        EXPECT_EQ(toHex(scaled, 64), toHex(summed, 64)) << k;
    }
}

TEST(P256, RandomScalarsLieBetweenOneAndTheOrder) {
    u8 previous[32] = {};
    for (int i = 0; i < 200; i++) {
        u8 k[32];
        ASSERT_EQ(generateRandomNumber(k, &secp256r1), 0);
        EXPECT_FALSE(bigNumIsZero(k));
        EXPECT_LT(bigNumCompare(k, secp256r1.order), 0);
        EXPECT_NE(memcmp(k, previous, 32), 0);
        memcpy(previous, k, 32);
    }
}

TEST(X25519, Rfc7748Vectors) {
    auto records = readVectorFile("asymmetric/X25519/rfc7748.txt");
    ASSERT_GE(records.size(), 2u);
    for (const auto& r : records) {
        Bytes scalar = r.bytes("INPUT_SCALAR"), u = r.bytes("INPUT_U");
        u8 out[32];
        x25519(out, scalar.data(), u.data());
        EXPECT_EQ(toHex(out, 32), r["OUTPUT_U"]) << r["COUNT"];
    }
    // Section 5.2, the second vector has the top bit of u set, which is ignored.
    Bytes scalar = fromHex("4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d");
    Bytes u = fromHex("e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493");
    u8 out[32];
    x25519(out, scalar.data(), u.data());
    EXPECT_EQ(toHex(out, 32), "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957");
    EXPECT_EQ(toHex(scalar), "4866e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba4d");  // clamped
}

TEST(X25519, Rfc7748IteratedTo1000) {
    u8 k[32] = {9}, u[32] = {9};
    for (int i = 1; i <= 1000; i++) {
        u8 out[32], scalar[32];
        memcpy(scalar, k, 32);
        x25519(out, scalar, u);
        memcpy(u, k, 32);
        memcpy(k, out, 32);
        if (i == 1) {
            EXPECT_EQ(toHex(k, 32), "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
        }
    }
    EXPECT_EQ(toHex(k, 32), "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

TEST(X25519, Rfc7748DiffieHellman) {
    Bytes alicePrivate = fromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    Bytes bobPrivate = fromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    u8 alicePublic[32], bobPublic[32], shared1[32], shared2[32];
    x25519(alicePublic, alicePrivate.data(), x25519BasePoint);
    x25519(bobPublic, bobPrivate.data(), x25519BasePoint);
    EXPECT_EQ(toHex(alicePublic, 32), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    EXPECT_EQ(toHex(bobPublic, 32), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
    x25519(shared1, alicePrivate.data(), bobPublic);
    x25519(shared2, bobPrivate.data(), alicePublic);
    EXPECT_EQ(toHex(shared1, 32), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    EXPECT_EQ(toHex(shared2, 32), toHex(shared1, 32));
}

// u at or above p = 2^255 - 19 stands for u - p (RFC 7748 section 5), and the points of small order
// (among them 0, 1, p - 1, p and p + 1) give the all-zero result key agreement refuses: the output
// is fully reduced, never p itself.
TEST(X25519, NonCanonicalAndSmallOrderU) {
    const std::string scalarHex = "a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4";
    u8 p[32], u[32], out[32], expected[32];
    memset(p, 0xFF, 32);
    p[0] = 0xED;
    p[31] = 0x7F;
    auto run = [&](const u8* input, u8* result) {
        Bytes scalar = fromHex(scalarHex);
        x25519(result, scalar.data(), input);
    };
    run(x25519BasePoint, expected);
    memcpy(u, p, 32);
    u[0] += 9;  // p + 9, no carry out of byte 0
    run(u, out);
    EXPECT_EQ(toHex(out, 32), toHex(expected, 32));
    u[31] |= 0x80;  // and with the ignored top bit set
    run(u, out);
    EXPECT_EQ(toHex(out, 32), toHex(expected, 32));

    const u8 zero[32] = {};
    for (int delta : {-1, 0, 1}) {
        memcpy(u, p, 32);
        u[0] = (u8)(u[0] + delta);
        run(u, out);
        EXPECT_EQ(toHex(out, 32), toHex(zero, 32)) << "p " << delta;
    }
    u8 small[32] = {};
    run(small, out);
    EXPECT_EQ(toHex(out, 32), toHex(zero, 32));
    small[0] = 1;
    run(small, out);
    EXPECT_EQ(toHex(out, 32), toHex(zero, 32));
    // The points of order 8 from the list of RFC 7748's small-order inputs.
    for (const char* hex : {"e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
                            "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157"}) {
        Bytes order8 = fromHex(hex);
        run(order8.data(), out);
        EXPECT_EQ(toHex(out, 32), toHex(zero, 32)) << hex;
    }
}

TEST(X25519, KeyPairsAreFreshAndAgree) {
    u8 aPrivate[32], aPublic[32], bPrivate[32], bPublic[32], s1[32], s2[32];
    ASSERT_EQ(generateX25519KeyPair(aPrivate, aPublic), 0);
    ASSERT_EQ(generateX25519KeyPair(bPrivate, bPublic), 0);
    EXPECT_NE(memcmp(aPrivate, bPrivate, 32), 0);
    EXPECT_EQ(aPrivate[0] & 7, 0);
    EXPECT_EQ(aPrivate[31] & 0xC0, 0x40);
    x25519(s1, aPrivate, bPublic);
    x25519(s2, bPrivate, aPublic);
    EXPECT_EQ(toHex(s1, 32), toHex(s2, 32));
}

}  // namespace
