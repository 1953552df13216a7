// Speed of the crypto primitives beside OpenSSL's libcrypto on the same inputs and the same work,
// the two sides alternating within each iteration: SHA-256, AES-128-GCM, X25519, P-256 key agreement
// and P-256 public keys, with the throughput ratios (ours / OpenSSL) printed at the end. libcrypto
// is loaded at run time, so the program links nothing extra; the cases are skipped when it is absent.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cstring>

#include "Crypto/Aes.h"
#include "Crypto/AesInternal.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/Sha.h"
#include "Crypto/X25519.h"
#include "Benchmarks/ReferenceRatio.h"

namespace {

void* libcrypto() {
    static void* handle = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    return handle;
}

// The OpenSSL function of that name, looked up in the loaded library (null when absent).
#define OPENSSL_FUNCTION(name) \
    static const auto ossl_##name = libcrypto() ? (decltype(&name))dlsym(libcrypto(), #name) : nullptr

constexpr size_t kMessageSize = 16384;

u8* message() {
    static u8 data[kMessageSize];
    static bool filled = false;
    if (!filled) {
        for (size_t i = 0; i < kMessageSize; i++) data[i] = (u8)(i * 31 + 7);
        filled = true;
    }
    return data;
}

// One OpenSSL object freed when the case ends.
template <typename T>
struct Owned {
    T* object;
    void (*free)(T*);
    ~Owned() {
        if (object && free) free(object);
    }
};

void Sha256(benchmark::State& state) {
    OPENSSL_FUNCTION(EVP_Digest);
    OPENSSL_FUNCTION(EVP_sha256);
    if (!ossl_EVP_Digest) return state.SkipWithError("libcrypto not found");
    u8 digest[32];
    unsigned int length;
    compareSides(state, {{"ours",
                          [&] {
                              sha256(digest, message(), kMessageSize);
                              benchmark::DoNotOptimize(digest);
                              return true;
                          }},
                         {"openssl", [&] {
                              ossl_EVP_Digest(message(), kMessageSize, digest, &length, ossl_EVP_sha256(), nullptr);
                              benchmark::DoNotOptimize(digest);
                              return true;
                          }}});
}
BENCHMARK(Sha256)->UseManualTime();

const u8 kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const u8 kIv[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2};
const u8 kAad[13] = {23, 3, 3, 0x40, 0};

// One TLS record sealed: the key is set once on both sides, each record sets only its nonce. The
// second argument 0 holds ours to the 128-bit instructions (run with OPENSSL_ia32cap masking
// AVX-512 to hold OpenSSL to them too).
void Aes128Gcm(benchmark::State& state) {
    OPENSSL_FUNCTION(EVP_CIPHER_CTX_new);
    OPENSSL_FUNCTION(EVP_CIPHER_CTX_free);
    OPENSSL_FUNCTION(EVP_EncryptInit_ex);
    OPENSSL_FUNCTION(EVP_EncryptUpdate);
    OPENSSL_FUNCTION(EVP_EncryptFinal_ex);
    OPENSSL_FUNCTION(EVP_CIPHER_CTX_ctrl);
    OPENSSL_FUNCTION(EVP_aes_128_gcm);
    if (!ossl_EVP_CIPHER_CTX_new) return state.SkipWithError("libcrypto not found");
    const i64 size = state.range(0);
    aesAllowWideInstructions(state.range(1) != 0);
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, 16, kKey);
    static u8 out[kMessageSize + 16];
    u8 tag[16];
    Owned<EVP_CIPHER_CTX> ctx{ossl_EVP_CIPHER_CTX_new(), ossl_EVP_CIPHER_CTX_free};
    ossl_EVP_EncryptInit_ex(ctx.object, ossl_EVP_aes_128_gcm(), nullptr, kKey, nullptr);
    compareSides(state, {{"ours",
                          [&] {
                              encryptAesGcm(tag, message(), out, size, kIv, kAad, sizeof(kAad), &schedule);
                              benchmark::DoNotOptimize(tag);
                              return true;
                          }},
                         {"openssl", [&] {
                              int length = 0;
                              bool ok = ossl_EVP_EncryptInit_ex(ctx.object, nullptr, nullptr, nullptr, kIv) == 1 &&
                                        ossl_EVP_EncryptUpdate(ctx.object, nullptr, &length, kAad, sizeof(kAad)) == 1 &&
                                        ossl_EVP_EncryptUpdate(ctx.object, out, &length, message(), (int)size) == 1 &&
                                        ossl_EVP_EncryptFinal_ex(ctx.object, out + length, &length) == 1 &&
                                        ossl_EVP_CIPHER_CTX_ctrl(ctx.object, EVP_CTRL_GCM_GET_TAG, 16, tag) == 1;
                              benchmark::DoNotOptimize(tag);
                              return ok;
                          }}});
    aesAllowWideInstructions(true);
}
BENCHMARK(Aes128Gcm)->ArgNames({"bytes", "wide"})->ArgsProduct({{kMessageSize, 1024}, {1, 0}})->UseManualTime();

const u8 kScalar[32] = {0x77, 0x07, 0x6d, 0x0a, 0x73, 0x18, 0xa5, 0x7d, 0x3c, 0x16, 0xc1, 0x72, 0x51, 0xb2, 0x66, 0x45,
                        0xdf, 0x4c, 0x2f, 0x87, 0xeb, 0xc0, 0x99, 0x2a, 0xb1, 0x77, 0xfb, 0xa5, 0x1d, 0xb9, 0x2c, 0x2a};

// One X25519 key agreement: the shared secret from a private key and the peer's public key. OpenSSL
// derives again and again from one context that holds both keys.
void X25519(benchmark::State& state) {
    OPENSSL_FUNCTION(EVP_PKEY_new_raw_private_key);
    OPENSSL_FUNCTION(EVP_PKEY_new_raw_public_key);
    OPENSSL_FUNCTION(EVP_PKEY_CTX_new);
    OPENSSL_FUNCTION(EVP_PKEY_CTX_free);
    OPENSSL_FUNCTION(EVP_PKEY_derive_init);
    OPENSSL_FUNCTION(EVP_PKEY_derive_set_peer);
    OPENSSL_FUNCTION(EVP_PKEY_derive);
    OPENSSL_FUNCTION(EVP_PKEY_free);
    if (!ossl_EVP_PKEY_derive) return state.SkipWithError("libcrypto not found");
    u8 peerKey[32], scalar[32], shared[32], theirs[32];
    memcpy(scalar, kScalar, 32);
    x25519(peerKey, scalar, x25519BasePoint);
    Owned<EVP_PKEY> own{ossl_EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, kScalar, 32), ossl_EVP_PKEY_free};
    Owned<EVP_PKEY> peer{ossl_EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerKey, 32), ossl_EVP_PKEY_free};
    Owned<EVP_PKEY_CTX> ctx{ossl_EVP_PKEY_CTX_new(own.object, nullptr), ossl_EVP_PKEY_CTX_free};
    if (ossl_EVP_PKEY_derive_init(ctx.object) != 1 || ossl_EVP_PKEY_derive_set_peer(ctx.object, peer.object) != 1)
        return state.SkipWithError("OpenSSL refuses the keys");
    compareSides(state, {{"ours",
                          [&] {
                              x25519(shared, scalar, peerKey);
                              benchmark::DoNotOptimize(shared);
                              return true;
                          }},
                         {"openssl", [&] {
                              size_t length = 32;
                              bool ok = ossl_EVP_PKEY_derive(ctx.object, theirs, &length) == 1;
                              benchmark::DoNotOptimize(theirs);
                              return ok && memcmp(shared, theirs, 32) == 0;
                          }}});
}
BENCHMARK(X25519)->UseManualTime();

// The P-256 product of the scalar with the generator (a public key) or with another point (a shared
// secret), to affine coordinates on both sides.
void p256Product(benchmark::State& state, bool withGenerator) {
    OPENSSL_FUNCTION(EC_GROUP_new_by_curve_name);
    OPENSSL_FUNCTION(EC_GROUP_free);
    OPENSSL_FUNCTION(EC_POINT_new);
    OPENSSL_FUNCTION(EC_POINT_free);
    OPENSSL_FUNCTION(EC_POINT_mul);
    OPENSSL_FUNCTION(EC_POINT_get_affine_coordinates);
    OPENSSL_FUNCTION(BN_lebin2bn);
    OPENSSL_FUNCTION(BN_new);
    OPENSSL_FUNCTION(BN_free);
    OPENSSL_FUNCTION(BN_CTX_new);
    OPENSSL_FUNCTION(BN_CTX_free);
    if (!ossl_EC_POINT_mul) return state.SkipWithError("libcrypto not found");
    u8 g[64], peerPoint[64], product[64];
    memcpy(g, secp256r1.generatorX, 32);
    memcpy(g + 32, secp256r1.generatorY, 32);
    scalePoint(peerPoint, kScalar, g, &secp256r1);
    const u8* base = withGenerator ? g : peerPoint;
    Owned<EC_GROUP> group{ossl_EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1), ossl_EC_GROUP_free};
    Owned<BN_CTX> ctx{ossl_BN_CTX_new(), ossl_BN_CTX_free};
    Owned<BIGNUM> k{ossl_BN_lebin2bn(kScalar, 32, nullptr), ossl_BN_free};
    Owned<BIGNUM> x{ossl_BN_new(), ossl_BN_free}, y{ossl_BN_new(), ossl_BN_free};
    Owned<EC_POINT> peer{ossl_EC_POINT_new(group.object), ossl_EC_POINT_free};
    Owned<EC_POINT> theirs{ossl_EC_POINT_new(group.object), ossl_EC_POINT_free};
    ossl_EC_POINT_mul(group.object, peer.object, k.object, nullptr, nullptr, ctx.object);
    compareSides(state, {{"ours",
                          [&] {
                              scalePoint(product, kScalar, base, &secp256r1);
                              benchmark::DoNotOptimize(product);
                              return true;
                          }},
                         {"openssl", [&] {
                              const BIGNUM* generatorScalar = withGenerator ? k.object : nullptr;
                              const EC_POINT* point = withGenerator ? nullptr : peer.object;
                              const BIGNUM* pointScalar = withGenerator ? nullptr : k.object;
                              bool ok = ossl_EC_POINT_mul(group.object, theirs.object, generatorScalar, point,
                                                          pointScalar, ctx.object) == 1;
                              ok = ok && ossl_EC_POINT_get_affine_coordinates(group.object, theirs.object, x.object,
                                                                               y.object, ctx.object) == 1;
                              benchmark::DoNotOptimize(x.object);
                              return ok;
                          }}});
}

// One P-256 key agreement: the private scalar times the peer's point.
void P256Ecdh(benchmark::State& state) { p256Product(state, false); }
BENCHMARK(P256Ecdh)->UseManualTime();

// One P-256 public key: the private scalar times the generator.
void P256PublicKey(benchmark::State& state) { p256Product(state, true); }
BENCHMARK(P256PublicKey)->UseManualTime();

}  // namespace

// After the table, each case's throughput ratio: ours / OpenSSL.
int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
