// RSA PKCS#1 v1.5 and PSS checks against the CAVP SigVer files (2048 to 4096 bits) and against OpenSSL
// on fresh keys of 2048, 3072 and 4096 bits: OpenSSL's signatures are accepted, altered ones refused.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <memory>

#include "Crypto/BigInt.h"
#include "Crypto/Rsa.h"
#include "CryptoTestSupport.h"

namespace {

u32 hashOfName(const std::string& name) {
    if (name == "SHA256") return SignatureHashSha256;
    if (name == "SHA384") return SignatureHashSha384;
    if (name == "SHA512") return SignatureHashSha512;
    return SignatureHashNone;
}

// Runs a SigVer file: every record over a supported hash and a modulus of 2048 bits or more.
void checkSigVerFile(const char* path, bool pss) {
    auto records = readVectorFile(path);
    ASSERT_GE(records.size(), 400u) << path << " (install python3-cryptography-vectors)";
    Bytes n;
    int checked = 0, passes = 0;
    for (const auto& r : records) {
        if (r.has("n")) n = r.bytes("n");
        if (!r.has("Result") || !r.has("SHAAlg")) continue;
        u32 hash = hashOfName(r["SHAAlg"]);
        if (hash == SignatureHashNone || n.size() * 8 < 2048) continue;
        Bytes e = r.bytes("e"), message = r.bytes("Msg"), signature = r.bytes("S");
        bool expected = r["Result"][0] == 'P';
        RsaPublicKey key;
        FixedString problem = makeRsaPublicKey(&key, n.data(), (u32)n.size(), e.data(), (u32)e.size());
        bool accepted = false;
        if (problem.length == 0) {
            u8 digest[64];
            signatureHashBytes(digest, hash, message.data(), message.size());
            accepted = pss ? rsaVerifyPss(&key, hash, digest, (i32)(r["SaltVal"].size() / 2),
                                          signature.data(), (u32)signature.size())
                           : rsaVerifyPkcs1(&key, hash, digest, signature.data(), (u32)signature.size());
            if (pss && accepted) {  // any salt length finds the stated one
                EXPECT_TRUE(rsaVerifyPss(&key, hash, digest, kRsaPssAnySalt, signature.data(), (u32)signature.size()));
            }
        }
        EXPECT_EQ(accepted, expected) << path << " " << r["SHAAlg"] << " " << r["Result"] << " n bits "
                                      << n.size() * 8;
        checked++;
        passes += expected;
    }
    EXPECT_GE(checked, 150);
    EXPECT_GE(passes, 20);
}

TEST(Rsa, CavpPkcs1SigVer) { checkSigVerFile("asymmetric/RSA/FIPS_186-2/SigVer15_186-3.rsp", false); }
TEST(Rsa, CavpPssSigVer) { checkSigVerFile("asymmetric/RSA/FIPS_186-2/SigVerPSS_186-3.rsp", true); }

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using OpenSslKey = std::unique_ptr<EVP_PKEY, KeyFree>;

OpenSslKey generateRsa(int bits) {
    EVP_PKEY* key = EVP_RSA_gen((unsigned)bits);
    return OpenSslKey(key);
}

Bytes bignumParam(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    EVP_PKEY_get_bn_param(key, name, &value);
    Bytes out(BN_num_bytes(value));
    BN_bn2bin(value, out.data());
    BN_free(value);
    return out;
}

const EVP_MD* mdOf(u32 hash) {
    return hash == SignatureHashSha256 ? EVP_sha256() : hash == SignatureHashSha384 ? EVP_sha384() : EVP_sha512();
}

// saltLength < 0: PKCS#1 v1.5.
Bytes opensslSign(EVP_PKEY* key, u32 hash, const Bytes& message, int saltLength) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pkeyContext = nullptr;
    EVP_DigestSignInit(context, &pkeyContext, mdOf(hash), nullptr, key);
    if (saltLength >= 0) {
        EVP_PKEY_CTX_set_rsa_padding(pkeyContext, RSA_PKCS1_PSS_PADDING);
        EVP_PKEY_CTX_set_rsa_pss_saltlen(pkeyContext, saltLength);
        EVP_PKEY_CTX_set_rsa_mgf1_md(pkeyContext, mdOf(hash));
    }
    size_t length = 0;
    EVP_DigestSign(context, nullptr, &length, message.data(), message.size());
    Bytes signature(length);
    EVP_DigestSign(context, signature.data(), &length, message.data(), message.size());
    signature.resize(length);
    EVP_MD_CTX_free(context);
    return signature;
}

TEST(Rsa, AgainstOpenSslOnFreshKeys) {
    std::mt19937_64 random(4096);
    for (int bits : {2048, 3072, 4096}) {
        OpenSslKey key = generateRsa(bits);
        ASSERT_TRUE(key);
        Bytes n = bignumParam(key.get(), "n"), e = bignumParam(key.get(), "e");
        RsaPublicKey ours;
        ASSERT_EQ(makeRsaPublicKey(&ours, n.data(), (u32)n.size(), e.data(), (u32)e.size()).length, 0) << bits;
        EXPECT_EQ(ours.modulusBits, (u32)EVP_PKEY_get_bits(key.get()));
        for (u32 hash : {SignatureHashSha256, SignatureHashSha384, SignatureHashSha512}) {
            for (int round = 0; round < 2; round++) {
                Bytes message = randomBytes(random, random() % 300);
                u8 digest[64];
                u32 hashLength = signatureHashBytes(digest, hash, message.data(), message.size());
                Bytes pkcs1 = opensslSign(key.get(), hash, message, -1);
                EXPECT_TRUE(rsaVerifyPkcs1(&ours, hash, digest, pkcs1.data(), (u32)pkcs1.size()));
                int salt = round == 0 ? (int)hashLength : (int)(random() % 3) * 10;
                Bytes pss = opensslSign(key.get(), hash, message, salt);
                EXPECT_TRUE(rsaVerifyPss(&ours, hash, digest, salt, pss.data(), (u32)pss.size())) << bits;
                EXPECT_TRUE(rsaVerifyPss(&ours, hash, digest, kRsaPssAnySalt, pss.data(), (u32)pss.size()));
                EXPECT_FALSE(rsaVerifyPss(&ours, hash, digest, salt + 1, pss.data(), (u32)pss.size()));
                // one scheme's signature is no signature of the other
                EXPECT_FALSE(rsaVerifyPss(&ours, hash, digest, kRsaPssAnySalt, pkcs1.data(), (u32)pkcs1.size()));
                EXPECT_FALSE(rsaVerifyPkcs1(&ours, hash, digest, pss.data(), (u32)pss.size()));
                // another hash over the same bytes, another digest, a flipped signature bit
                u32 other = hash == SignatureHashSha256 ? SignatureHashSha512 : SignatureHashSha256;
                u8 otherDigest[64];
                signatureHashBytes(otherDigest, other, message.data(), message.size());
                EXPECT_FALSE(rsaVerifyPkcs1(&ours, other, otherDigest, pkcs1.data(), (u32)pkcs1.size()));
                u8 changed[64];
                memcpy(changed, digest, 64);
                changed[random() % hashLength] ^= (u8)(1 << (random() % 8));
                EXPECT_FALSE(rsaVerifyPkcs1(&ours, hash, changed, pkcs1.data(), (u32)pkcs1.size()));
                EXPECT_FALSE(rsaVerifyPss(&ours, hash, changed, salt, pss.data(), (u32)pss.size()));
                Bytes flipped = pkcs1;
                flipped[random() % flipped.size()] ^= (u8)(1 << (random() % 8));
                EXPECT_FALSE(rsaVerifyPkcs1(&ours, hash, digest, flipped.data(), (u32)flipped.size()));
                // a signature one byte short, or with a zero byte in front, is not taken
                EXPECT_FALSE(rsaVerifyPkcs1(&ours, hash, digest, pkcs1.data(), (u32)pkcs1.size() - 1));
                Bytes longer = pkcs1;
                longer.insert(longer.begin(), 0);
                EXPECT_FALSE(rsaVerifyPkcs1(&ours, hash, digest, longer.data(), (u32)longer.size()));
            }
        }
        // the modulus itself (a number not below the modulus) is no signature
        Bytes modulusBytes(ours.modulus, ours.modulus + ours.modulusBytes);
        u8 digest[32] = {};
        EXPECT_FALSE(rsaVerifyPkcs1(&ours, SignatureHashSha256, digest, modulusBytes.data(), ours.modulusBytes));
    }
}

// The raw private operation on a block of the modulus's length (no padding added by OpenSSL).
Bytes rawPrivate(EVP_PKEY* key, const Bytes& block) {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(context);
    EVP_PKEY_CTX_set_rsa_padding(context, RSA_NO_PADDING);
    size_t length = block.size();
    Bytes out(length);
    if (EVP_PKEY_sign(context, out.data(), &length, block.data(), block.size()) != 1) out.clear();
    EVP_PKEY_CTX_free(context);
    return out;
}

// Every byte of the PKCS#1 v1.5 block counts: blocks signed with the private key but differing from
// the exact encoding in one byte, or laid out as lenient checkers would take them (DigestInfo without
// its NULL, bytes after the digest, another block type or filler), are refused.
TEST(Rsa, Pkcs1BlockIsComparedWhole) {
    OpenSslKey key = generateRsa(2048);
    ASSERT_TRUE(key);
    Bytes n = bignumParam(key.get(), "n"), e = bignumParam(key.get(), "e");
    RsaPublicKey ours;
    ASSERT_EQ(makeRsaPublicKey(&ours, n.data(), (u32)n.size(), e.data(), (u32)e.size()).length, 0);
    const size_t k = 256;
    u8 digest[48] = {};  // SHA-256's 32 bytes, room for the SHA-384 call at the end
    for (int i = 0; i < 32; i++) digest[i] = (u8)(0x90 + i);
    Bytes info = fromHex("3031300d060960864801650304020105000420");
    auto block = [&](size_t fill, const Bytes& infoBytes, const Bytes& tail) {
        Bytes b = {0x00, 0x01};
        b.insert(b.end(), fill, 0xFF);
        b.push_back(0x00);
        b.insert(b.end(), infoBytes.begin(), infoBytes.end());
        b.insert(b.end(), digest, digest + 32);
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    auto accepts = [&](const Bytes& b) {
        EXPECT_EQ(b.size(), k);
        Bytes signature = rawPrivate(key.get(), b);
        EXPECT_EQ(signature.size(), k);
        return rsaVerifyPkcs1(&ours, SignatureHashSha256, digest, signature.data(), (u32)signature.size());
    };
    Bytes good = block(k - 3 - 19 - 32, info, {});
    ASSERT_TRUE(accepts(good));
    for (size_t i = 0; i < k; i++) {
        Bytes changed = good;
        changed[i] ^= 0x01;
        EXPECT_FALSE(accepts(changed)) << "byte " << i;
    }
    // DigestInfo with the parameters left out
    Bytes noNull = fromHex("302f300b0609608648016503040201" "0420");
    EXPECT_FALSE(accepts(block(k - 3 - 17 - 32, noNull, {})));
    // eight bytes after the digest, the filler shortened to make room
    EXPECT_FALSE(accepts(block(k - 3 - 19 - 32 - 8, info, Bytes(8, 0x5A))));
    // block type 2, and filler that is not all FF
    Bytes typeTwo = good;
    typeTwo[1] = 0x02;
    EXPECT_FALSE(accepts(typeTwo));
    Bytes filler = good;
    for (size_t i = 2; i < k - 3 - 19 - 32 + 2; i++) filler[i] = 0x01;
    EXPECT_FALSE(accepts(filler));
    // the SHA-384 DigestInfo over the same block refused under SHA-256
    EXPECT_FALSE(rsaVerifyPkcs1(&ours, SignatureHashSha384, digest, rawPrivate(key.get(), good).data(), (u32)k));
}

// A 2049-bit modulus: the PSS block is one byte shorter than the signature, whose first byte must
// be zero. OpenSSL's key generation rounds to whole bytes, so the key is made from two primes here.
TEST(Rsa, PssWithAModulusOneBitPastWholeBytes) {
    BN_CTX* context = BN_CTX_new();
    BIGNUM *p = BN_new(), *q = BN_new(), *n = BN_new(), *e = BN_new(), *d = nullptr, *phi = BN_new();
    BN_set_word(e, 65537);
    for (int attempt = 0; attempt < 50; attempt++) {
        BN_generate_prime_ex(p, 1025, 0, nullptr, nullptr, nullptr);
        BN_generate_prime_ex(q, 1024, 0, nullptr, nullptr, nullptr);  // top two bits set: 2049 bits
        BN_mul(n, p, q, context);
        if (BN_num_bits(n) != 2049) continue;
        BIGNUM *p1 = BN_dup(p), *q1 = BN_dup(q);
        BN_sub_word(p1, 1);
        BN_sub_word(q1, 1);
        BN_mul(phi, p1, q1, context);
        BN_free(p1);
        BN_free(q1);
        d = BN_mod_inverse(nullptr, e, phi, context);
        if (d) break;
    }
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(BN_num_bits(n), 2049);
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_D, d);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* from = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* raw = nullptr;
    EVP_PKEY_fromdata_init(from);
    ASSERT_EQ(EVP_PKEY_fromdata(from, &raw, EVP_PKEY_KEYPAIR, params), 1);
    OpenSslKey key(raw);
    Bytes modulus(BN_num_bytes(n)), exponent = {1, 0, 1};
    BN_bn2bin(n, modulus.data());
    RsaPublicKey ours;
    ASSERT_EQ(makeRsaPublicKey(&ours, modulus.data(), (u32)modulus.size(), exponent.data(), 3).length, 0);
    EXPECT_EQ(ours.modulusBits, 2049u);
    EXPECT_EQ(ours.modulusBytes, 257u);
    std::mt19937_64 random(2049);
    for (u32 hash : {SignatureHashSha256, SignatureHashSha384, SignatureHashSha512}) {
        Bytes message = randomBytes(random, 100);
        u8 digest[64];
        u32 hashLength = signatureHashBytes(digest, hash, message.data(), message.size());
        Bytes pss = opensslSign(key.get(), hash, message, (int)hashLength);
        ASSERT_EQ(pss.size(), 257u);
        EXPECT_EQ(pss[0] >> 1, 0);  // below the modulus
        EXPECT_TRUE(rsaVerifyPss(&ours, hash, digest, (i32)hashLength, pss.data(), (u32)pss.size()));
        Bytes pkcs1 = opensslSign(key.get(), hash, message, -1);
        EXPECT_TRUE(rsaVerifyPkcs1(&ours, hash, digest, pkcs1.data(), (u32)pkcs1.size()));
        digest[0] ^= 1;
        EXPECT_FALSE(rsaVerifyPss(&ours, hash, digest, (i32)hashLength, pss.data(), (u32)pss.size()));
    }
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    EVP_PKEY_CTX_free(from);
    for (BIGNUM* b : {p, q, n, e, d, phi}) BN_free(b);
    BN_CTX_free(context);
}

TEST(Rsa, KeysOutsideTheSupportedRangeAreRefused) {
    RsaPublicKey key;
    Bytes modulus(256, 0xC5), e = {0x01, 0x00, 0x01};
    EXPECT_EQ(makeRsaPublicKey(&key, modulus.data(), 256, e.data(), 3).length, 0);
    Bytes small(128, 0xC5), big(513, 0xC5), even(256, 0xC4);
    EXPECT_GT(makeRsaPublicKey(&key, small.data(), 128, e.data(), 3).length, 0);  // 1024 bits
    EXPECT_GT(makeRsaPublicKey(&key, big.data(), 513, e.data(), 3).length, 0);
    EXPECT_GT(makeRsaPublicKey(&key, even.data(), 256, e.data(), 3).length, 0);
    Bytes one = {0x01}, evenExponent = {0x01, 0x00, 0x00}, nineBytes(9, 0x01);
    EXPECT_GT(makeRsaPublicKey(&key, modulus.data(), 256, one.data(), 1).length, 0);
    EXPECT_GT(makeRsaPublicKey(&key, modulus.data(), 256, evenExponent.data(), 3).length, 0);
    EXPECT_GT(makeRsaPublicKey(&key, modulus.data(), 256, nineBytes.data(), 9).length, 0);
    // leading zero bytes are dropped (as certificates' positive INTEGERs carry them)
    Bytes padded = modulus;
    padded.insert(padded.begin(), 0);
    EXPECT_EQ(makeRsaPublicKey(&key, padded.data(), 257, e.data(), 3).length, 0);
    EXPECT_EQ(key.modulusBytes, 256u);
    EXPECT_EQ(key.exponent, 65537u);
}

TEST(BigInt, ModExpAgainstOpenSsl) {
    std::mt19937_64 random(77);
    BN_CTX* context = BN_CTX_new();
    for (int i = 0; i < 60; i++) {
        u32 length = 1 + (u32)(random() % 512);
        Bytes modulus = randomBytes(random, length), base = randomBytes(random, length);
        modulus[0] |= 0x80;
        modulus[length - 1] |= 1;
        base[0] &= 0x7F;
        u64 exponent = random() >> (random() % 64);
        Bytes ours(length);
        ASSERT_TRUE(bigIntModExp(ours.data(), base.data(), modulus.data(), length, exponent));
        BIGNUM *b = BN_bin2bn(base.data(), (int)length, nullptr), *m = BN_bin2bn(modulus.data(), (int)length, nullptr);
        BIGNUM *e = BN_new(), *r = BN_new();
        BN_set_word(e, exponent);
        BN_mod_exp(r, b, e, m, context);
        Bytes theirs(length);
        BN_bn2binpad(r, theirs.data(), (int)length);
        EXPECT_EQ(toHex(ours), toHex(theirs)) << "length " << length << " exponent " << exponent;
        BN_free(b);
        BN_free(m);
        BN_free(e);
        BN_free(r);
    }
    BN_CTX_free(context);
    Bytes even = {0x10}, base = {0x03};
    u8 out[1];
    EXPECT_FALSE(bigIntModExp(out, base.data(), even.data(), 1, 3));
    Bytes odd = {0x11}, tooBig = {0x11};
    EXPECT_FALSE(bigIntModExp(out, tooBig.data(), odd.data(), 1, 3));
}

}  // namespace
