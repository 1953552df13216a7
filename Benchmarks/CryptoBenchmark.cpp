// Speed of the crypto primitives beside OpenSSL's libcrypto on the same inputs: SHA-256, AES-128-GCM,
// X25519, P-256 key agreement and P-256 public keys, with the throughput ratios (ours / OpenSSL)
// printed at the end. libcrypto is loaded at run time, so the program links nothing extra; its
// OpenSSL cases are skipped when it is absent.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cstring>

#include "Crypto/Aes.h"
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

void Sha256Ours(benchmark::State& state) {
    u8 digest[32];
    for (auto _ : state) {
        sha256(digest, message(), kMessageSize);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed((i64)state.iterations() * (i64)kMessageSize);
}
BENCHMARK(Sha256Ours);

void Sha256OpenSsl(benchmark::State& state) {
    OPENSSL_FUNCTION(EVP_Digest);
    OPENSSL_FUNCTION(EVP_sha256);
    if (!ossl_EVP_Digest) return state.SkipWithError("libcrypto not found");
    u8 digest[32];
    unsigned int length;
    for (auto _ : state) {
        ossl_EVP_Digest(message(), kMessageSize, digest, &length, ossl_EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed((i64)state.iterations() * (i64)kMessageSize);
}
BENCHMARK(Sha256OpenSsl);

const u8 kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const u8 kIv[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2};
const u8 kAad[13] = {23, 3, 3, 0x40, 0};

void Aes128GcmOurs(benchmark::State& state) {
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, 16, kKey);
    static u8 out[kMessageSize];
    u8 tag[16];
    for (auto _ : state) {
        encryptAesGcm(tag, message(), out, kMessageSize, kIv, kAad, sizeof(kAad), &schedule);
        benchmark::DoNotOptimize(tag);
    }
    state.SetBytesProcessed((i64)state.iterations() * (i64)kMessageSize);
}
BENCHMARK(Aes128GcmOurs);

void Aes128GcmOpenSsl(benchmark::State& state) {
    OPENSSL_FUNCTION(EVP_CIPHER_CTX_new);
    OPENSSL_FUNCTION(EVP_CIPHER_CTX_free);
    OPENSSL_FUNCTION(EVP_EncryptInit_ex);
    OPENSSL_FUNCTION(EVP_EncryptUpdate);
    OPENSSL_FUNCTION(EVP_EncryptFinal_ex);
    OPENSSL_FUNCTION(EVP_CIPHER_CTX_ctrl);
    OPENSSL_FUNCTION(EVP_aes_128_gcm);
    if (!ossl_EVP_CIPHER_CTX_new) return state.SkipWithError("libcrypto not found");
    static u8 out[kMessageSize + 16];
    u8 tag[16];
    EVP_CIPHER_CTX* ctx = ossl_EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int length = 0;
        ossl_EVP_EncryptInit_ex(ctx, ossl_EVP_aes_128_gcm(), nullptr, kKey, kIv);
        ossl_EVP_EncryptUpdate(ctx, nullptr, &length, kAad, sizeof(kAad));
        ossl_EVP_EncryptUpdate(ctx, out, &length, message(), (int)kMessageSize);
        ossl_EVP_EncryptFinal_ex(ctx, out + length, &length);
        ossl_EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag);
        benchmark::DoNotOptimize(tag);
    }
    ossl_EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed((i64)state.iterations() * (i64)kMessageSize);
}
BENCHMARK(Aes128GcmOpenSsl);

const u8 kScalar[32] = {0x77, 0x07, 0x6d, 0x0a, 0x73, 0x18, 0xa5, 0x7d, 0x3c, 0x16, 0xc1, 0x72, 0x51, 0xb2, 0x66, 0x45,
                        0xdf, 0x4c, 0x2f, 0x87, 0xeb, 0xc0, 0x99, 0x2a, 0xb1, 0x77, 0xfb, 0xa5, 0x1d, 0xb9, 0x2c, 0x2a};

// One X25519 key agreement: the shared secret from a private key and the peer's public key.
void X25519Ours(benchmark::State& state) {
    u8 peer[32], shared[32], scalar[32];
    memcpy(scalar, kScalar, 32);
    x25519(peer, scalar, x25519BasePoint);
    for (auto _ : state) {
        x25519(shared, scalar, peer);
        benchmark::DoNotOptimize(shared);
    }
}
BENCHMARK(X25519Ours);

void X25519OpenSsl(benchmark::State& state) {
    OPENSSL_FUNCTION(EVP_PKEY_new_raw_private_key);
    OPENSSL_FUNCTION(EVP_PKEY_new_raw_public_key);
    OPENSSL_FUNCTION(EVP_PKEY_CTX_new);
    OPENSSL_FUNCTION(EVP_PKEY_CTX_free);
    OPENSSL_FUNCTION(EVP_PKEY_derive_init);
    OPENSSL_FUNCTION(EVP_PKEY_derive_set_peer);
    OPENSSL_FUNCTION(EVP_PKEY_derive);
    OPENSSL_FUNCTION(EVP_PKEY_free);
    if (!ossl_EVP_PKEY_derive) return state.SkipWithError("libcrypto not found");
    u8 peerKey[32], scalar[32];
    memcpy(scalar, kScalar, 32);
    x25519(peerKey, scalar, x25519BasePoint);
    EVP_PKEY* own = ossl_EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, kScalar, 32);
    EVP_PKEY* peer = ossl_EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerKey, 32);
    u8 shared[32];
    for (auto _ : state) {
        EVP_PKEY_CTX* ctx = ossl_EVP_PKEY_CTX_new(own, nullptr);
        ossl_EVP_PKEY_derive_init(ctx);
        ossl_EVP_PKEY_derive_set_peer(ctx, peer);
        size_t length = 32;
        ossl_EVP_PKEY_derive(ctx, shared, &length);
        ossl_EVP_PKEY_CTX_free(ctx);
        benchmark::DoNotOptimize(shared);
    }
    ossl_EVP_PKEY_free(own);
    ossl_EVP_PKEY_free(peer);
}
BENCHMARK(X25519OpenSsl);

// One P-256 key agreement: the private scalar times the peer's point.
void P256EcdhOurs(benchmark::State& state) {
    u8 g[64], peer[64], shared[64];
    memcpy(g, secp256r1.generatorX, 32);
    memcpy(g + 32, secp256r1.generatorY, 32);
    scalePoint(peer, kScalar, g, &secp256r1);
    for (auto _ : state) {
        scalePoint(shared, kScalar, peer, &secp256r1);
        benchmark::DoNotOptimize(shared);
    }
}
BENCHMARK(P256EcdhOurs);

// OpenSSL's P-256 product of the scalar with the generator (a public key) or with another point (a
// shared secret), to affine coordinates as ours gives them.
void p256ProductOpenSsl(benchmark::State& state, bool withGenerator) {
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
    EC_GROUP* group = ossl_EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
    BN_CTX* ctx = ossl_BN_CTX_new();
    BIGNUM* k = ossl_BN_lebin2bn(kScalar, 32, nullptr);
    BIGNUM *x = ossl_BN_new(), *y = ossl_BN_new();
    EC_POINT *peer = ossl_EC_POINT_new(group), *product = ossl_EC_POINT_new(group);
    ossl_EC_POINT_mul(group, peer, k, nullptr, nullptr, ctx);
    for (auto _ : state) {
        if (withGenerator) ossl_EC_POINT_mul(group, product, k, nullptr, nullptr, ctx);
        else ossl_EC_POINT_mul(group, product, nullptr, peer, k, ctx);
        ossl_EC_POINT_get_affine_coordinates(group, product, x, y, ctx);
        benchmark::DoNotOptimize(x);
    }
    ossl_EC_POINT_free(peer);
    ossl_EC_POINT_free(product);
    ossl_BN_free(k);
    ossl_BN_free(x);
    ossl_BN_free(y);
    ossl_BN_CTX_free(ctx);
    ossl_EC_GROUP_free(group);
}

void P256EcdhOpenSsl(benchmark::State& state) { p256ProductOpenSsl(state, false); }
BENCHMARK(P256EcdhOpenSsl);

// One P-256 public key: the private scalar times the generator.
void P256PublicKeyOurs(benchmark::State& state) {
    u8 g[64], key[64];
    memcpy(g, secp256r1.generatorX, 32);
    memcpy(g + 32, secp256r1.generatorY, 32);
    for (auto _ : state) {
        scalePoint(key, kScalar, g, &secp256r1);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(P256PublicKeyOurs);

void P256PublicKeyOpenSsl(benchmark::State& state) { p256ProductOpenSsl(state, true); }
BENCHMARK(P256PublicKeyOpenSsl);

}  // namespace

// After the table, each pair's throughput ratio: ours / OpenSSL.
int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv, "OpenSsl", "OpenSSL"); }
