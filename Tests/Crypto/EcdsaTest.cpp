// ECDSA checks on P-256 and P-384 against the CAVP SigVer file (every hash it uses, since the digest is
// the caller's) and against OpenSSL's signatures over fresh keys, with altered and malformed ones.
// EC_KEY is the shortest way to a raw public key, deprecated or not.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <memory>

#include "Crypto/Ecdsa.h"
#include "Crypto/P256.h"
#include "Crypto/Sha.h"
#include "CryptoTestSupport.h"

namespace {

Bytes digestOf(const std::string& name, const Bytes& message) {
    const EVP_MD* md = name == "SHA-1"     ? EVP_sha1()
                       : name == "SHA-224" ? EVP_sha224()
                       : name == "SHA-256" ? EVP_sha256()
                       : name == "SHA-384" ? EVP_sha384()
                                           : EVP_sha512();
    Bytes out(EVP_MD_get_size(md));
    unsigned int length = 0;
    EVP_Digest(message.data(), message.size(), out.data(), &length, md, nullptr);
    return out;
}

Bytes uncompressed(const Bytes& x, const Bytes& y) {
    Bytes point = {0x04};
    point.insert(point.end(), x.begin(), x.end());
    point.insert(point.end(), y.begin(), y.end());
    return point;
}

TEST(Ecdsa, CavpSigVer) {
    auto records = readVectorFile("asymmetric/ECDSA/FIPS_186-3/SigVer.rsp");
    ASSERT_GE(records.size(), 500u) << "(install python3-cryptography-vectors)";
    int checked[3] = {};
    for (const auto& r : records) {
        if (!r.has("Result") || r.section.empty()) continue;
        std::string section = r.section.begin()->first;  // "P-256,SHA-384"
        u32 curve = section.rfind("P-256,", 0) == 0 ? EcdsaCurveP256
                    : section.rfind("P-384,", 0) == 0 ? EcdsaCurveP384
                                                       : EcdsaCurveNone;
        if (curve == EcdsaCurveNone) continue;
        Bytes digest = digestOf(section.substr(6), r.bytes("Msg"));
        Bytes point = uncompressed(r.bytes("Qx"), r.bytes("Qy"));
        Bytes rr = r.bytes("R"), s = r.bytes("S");
        bool expected = r["Result"][0] == 'P';
        EXPECT_EQ(ecdsaVerify(curve, point.data(), (u32)point.size(), digest.data(), (u32)digest.size(), rr.data(),
                              (u32)rr.size(), s.data(), (u32)s.size()),
                  expected)
            << section << " " << r["Result"];
        checked[curve]++;
    }
    EXPECT_GE(checked[EcdsaCurveP256], 75);
    EXPECT_GE(checked[EcdsaCurveP384], 75);
}

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

TEST(Ecdsa, AgainstOpenSslOnFreshKeys) {
    std::mt19937_64 random(256384);
    for (u32 curve : {EcdsaCurveP256, EcdsaCurveP384}) {
        for (int keyRound = 0; keyRound < 4; keyRound++) {
            p256AllowProcessorExtensions(keyRound % 2 == 0);  // the wide field products and the portable ones
            std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen(curve == EcdsaCurveP256 ? "P-256" : "P-384"));
            ASSERT_TRUE(key);
            u8 point[97];
            size_t pointLength = 0;
            EVP_PKEY_get_octet_string_param(key.get(), "encoded-pub-key", point, sizeof(point), &pointLength);
            ASSERT_EQ(pointLength, 1 + 2 * ecdsaNumberBytes(curve));
            EXPECT_TRUE(ecdsaPublicKeyValid(curve, point, (u32)pointLength));
            for (const char* hashName : {"SHA-256", "SHA-384", "SHA-512"}) {
                Bytes message = randomBytes(random, random() % 200);
                Bytes digest = digestOf(hashName, message);
                EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key.get(), nullptr);
                EVP_PKEY_sign_init(context);
                size_t length = 0;
                EVP_PKEY_sign(context, nullptr, &length, digest.data(), digest.size());
                Bytes signature(length);
                EVP_PKEY_sign(context, signature.data(), &length, digest.data(), digest.size());
                signature.resize(length);
                EVP_PKEY_CTX_free(context);
                EXPECT_TRUE(ecdsaVerifyDer(curve, point, (u32)pointLength, digest.data(), (u32)digest.size(),
                                           signature.data(), (u32)signature.size()))
                    << hashName;
                Bytes changedDigest = digest;
                changedDigest[random() % std::min<size_t>(digest.size(), ecdsaNumberBytes(curve))] ^= 1;
                EXPECT_FALSE(ecdsaVerifyDer(curve, point, (u32)pointLength, changedDigest.data(),
                                            (u32)changedDigest.size(), signature.data(), (u32)signature.size()));
                // a changed byte inside r or s (past the DER header)
                Bytes changed = signature;
                changed[6 + random() % (changed.size() - 6)] ^= 0x10;
                EXPECT_FALSE(ecdsaVerifyDer(curve, point, (u32)pointLength, digest.data(), (u32)digest.size(),
                                            changed.data(), (u32)changed.size()));
                // trailing bytes, a cut SEQUENCE
                Bytes trailing = signature;
                trailing.push_back(0);
                EXPECT_FALSE(ecdsaVerifyDer(curve, point, (u32)pointLength, digest.data(), (u32)digest.size(),
                                            trailing.data(), (u32)trailing.size()));
                EXPECT_FALSE(ecdsaVerifyDer(curve, point, (u32)pointLength, digest.data(), (u32)digest.size(),
                                            signature.data(), (u32)signature.size() - 1));
                // another key
                Bytes otherPoint(point, point + pointLength);
                otherPoint[pointLength - 1] ^= 1;  // almost surely off the curve
                EXPECT_FALSE(ecdsaVerifyDer(curve, otherPoint.data(), (u32)pointLength, digest.data(),
                                            (u32)digest.size(), signature.data(), (u32)signature.size()));
            }
        }
    }
    p256AllowProcessorExtensions(true);
}

// r and s outside 1 .. n - 1, and the high-s twin of a signature (valid in ECDSA).
TEST(Ecdsa, RangesOfRAndS) {
    // P-256 order
    Bytes n = fromHex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551");
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    u8 point[65];
    size_t pointLength = 0;
    EVP_PKEY_get_octet_string_param(key.get(), "encoded-pub-key", point, sizeof(point), &pointLength);
    Bytes digest(32, 0x5A);
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key.get(), nullptr);
    EVP_PKEY_sign_init(context);
    size_t length = 80;
    Bytes signature(length);
    EVP_PKEY_sign(context, signature.data(), &length, digest.data(), digest.size());
    EVP_PKEY_CTX_free(context);
    const u8* cursor = signature.data();
    ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &cursor, (long)length);
    Bytes r(32), s(32);
    BN_bn2binpad(ECDSA_SIG_get0_r(parsed), r.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(parsed), s.data(), 32);
    ECDSA_SIG_free(parsed);
    auto verify = [&](const Bytes& rr, const Bytes& ss) {
        return ecdsaVerify(EcdsaCurveP256, point, 65, digest.data(), 32, rr.data(), (u32)rr.size(), ss.data(),
                           (u32)ss.size());
    };
    EXPECT_TRUE(verify(r, s));
    // n - s
    BIGNUM *bn = BN_bin2bn(n.data(), 32, nullptr), *bs = BN_bin2bn(s.data(), 32, nullptr), *twin = BN_new();
    BN_sub(twin, bn, bs);
    Bytes highS(32);
    BN_bn2binpad(twin, highS.data(), 32);
    EXPECT_TRUE(verify(r, highS));
    // r + n does not fit or is not below n
    BIGNUM* br = BN_bin2bn(r.data(), 32, nullptr);
    BN_add(twin, br, bn);
    Bytes rPlusN(BN_num_bytes(twin));
    BN_bn2bin(twin, rPlusN.data());
    EXPECT_FALSE(verify(rPlusN, s));
    BN_free(bn);
    BN_free(bs);
    BN_free(br);
    BN_free(twin);
    EXPECT_FALSE(verify(Bytes(32, 0), s));
    EXPECT_FALSE(verify(r, Bytes(32, 0)));
    EXPECT_FALSE(verify(n, s));
    EXPECT_FALSE(verify(r, n));
    // leading zero bytes on r and s are allowed in the raw form
    Bytes paddedR = r;
    paddedR.insert(paddedR.begin(), 0);
    EXPECT_TRUE(verify(paddedR, s));
    // a point that is not uncompressed, or has the wrong length, or the wrong curve
    Bytes compressed(point, point + 33);
    compressed[0] = 0x02;
    EXPECT_FALSE(ecdsaVerify(EcdsaCurveP256, compressed.data(), 33, digest.data(), 32, r.data(), 32, s.data(), 32));
    EXPECT_FALSE(ecdsaVerify(EcdsaCurveP384, point, 65, digest.data(), 32, r.data(), 32, s.data(), 32));
    EXPECT_FALSE(ecdsaVerify(EcdsaCurveNone, point, 65, digest.data(), 32, r.data(), 32, s.data(), 32));
    EXPECT_FALSE(ecdsaPublicKeyValid(EcdsaCurveP256, compressed.data(), 33));
}

// A signature whose point u1 G + u2 Q has x in n .. p - 1: r is x - n, and the check must compare
// modulo n (made for a chosen point: Q = c (R - a G), s = r c, e = a r c). OpenSSL agrees.
TEST(Ecdsa, SumWhoseXIsAboveTheOrder) {
    Bytes q = fromHex("04c6268eb12c7d87df0d8199bd966fcea9a38df7a533ae6326e615f94204638033852ba80a50925dc1c08b3a3038c1e2a867cf0e8adb27dd188d3ea9bb78014117");
    Bytes digest = fromHex("1574bf1b4d7a30cce85809d1860caa0d9cbe99012eed083e44048bb64ccaa812");
    Bytes r = fromHex("303b");
    Bytes s = fromHex("580cd88629bd16f79c510497ea9f5a144b9d809c9e2bbcf5905dd401c378aa99");
    Bytes x = fromHex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc63558c");
    auto verify = [&](const Bytes& rr, const Bytes& dd) {
        return ecdsaVerify(EcdsaCurveP256, q.data(), 65, dd.data(), 32, rr.data(), (u32)rr.size(), s.data(), 32);
    };
    EXPECT_TRUE(verify(r, digest));
    EXPECT_FALSE(verify(x, digest));  // the unreduced x is not below n
    Bytes otherDigest = digest;
    otherDigest[31] ^= 1;
    EXPECT_FALSE(verify(r, otherDigest));

    EC_KEY* key = EC_KEY_new_by_curve_name(NID_X9_62_prime256v1);
    const u8* cursor = q.data();
    ASSERT_TRUE(o2i_ECPublicKey(&key, &cursor, 65));
    ECDSA_SIG* signature = ECDSA_SIG_new();
    ECDSA_SIG_set0(signature, BN_bin2bn(r.data(), (int)r.size(), nullptr), BN_bin2bn(s.data(), 32, nullptr));
    EXPECT_EQ(ECDSA_do_verify(digest.data(), 32, signature, key), 1);
    ECDSA_SIG_free(signature);
    EC_KEY_free(key);
}

// Signatures whose sum meets the addition's exceptions: with r = s = e both scalars are 1, so the
// sum is G + Q, a doubling when Q is G (valid: r is the x of 2 G) and the point at infinity when Q
// is -G (never valid).
TEST(Ecdsa, SumsThatDoubleOrVanish) {
    std::string gx = "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296";
    Bytes g = fromHex("04" + gx + "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
    Bytes minusG = fromHex("04" + gx + "b01cbd1c01e58065711814b583f061e9d431cca994cea1313449bf97c840ae0a");
    Bytes twoGx = fromHex("7cf27b188d034f7e8a52380304b51ac3c08969e277f21b35a60b48fc47669978");
    auto verify = [](const Bytes& point, const Bytes& value) {
        return ecdsaVerify(EcdsaCurveP256, point.data(), 65, value.data(), 32, value.data(), 32, value.data(), 32);
    };
    EXPECT_TRUE(verify(g, twoGx));
    EXPECT_FALSE(verify(minusG, twoGx));
    Bytes other = twoGx;
    other[31] ^= 2;
    EXPECT_FALSE(verify(g, other));
    EXPECT_FALSE(verify(minusG, other));

    EC_KEY* key = EC_KEY_new_by_curve_name(NID_X9_62_prime256v1);
    const u8* cursor = g.data();
    ASSERT_TRUE(o2i_ECPublicKey(&key, &cursor, 65));
    ECDSA_SIG* signature = ECDSA_SIG_new();
    ECDSA_SIG_set0(signature, BN_bin2bn(twoGx.data(), 32, nullptr), BN_bin2bn(twoGx.data(), 32, nullptr));
    EXPECT_EQ(ECDSA_do_verify(twoGx.data(), 32, signature, key), 1);
    ECDSA_SIG_free(signature);
    EC_KEY_free(key);
}

// Malformed DER: non-minimal integers, negative integers, long lengths.
TEST(Ecdsa, DerSignatureForm) {
    Bytes point = fromHex("04" + std::string(128, '1'));
    Bytes digest(32, 1);
    auto verifyDer = [&](const std::string& hex) {
        Bytes der = fromHex(hex);
        return ecdsaVerifyDer(EcdsaCurveP256, point.data(), (u32)point.size(), digest.data(), 32, der.data(),
                              (u32)der.size());
    };
    EXPECT_FALSE(verifyDer(""));
    EXPECT_FALSE(verifyDer("3006020101020101"));  // point is off the curve anyway, forms are checked first
    EXPECT_FALSE(verifyDer("300702020001020101"));  // 00 01: not minimal
    EXPECT_FALSE(verifyDer("3006020181020101"));  // negative r
    EXPECT_FALSE(verifyDer("30800201010201010000"));  // indefinite length
    EXPECT_FALSE(verifyDer("3106020101020101"));  // SET, not SEQUENCE
}

}  // namespace
