// Speed of what a TLS handshake spends on the server's authentication: reading the system's CA bundle,
// checking the self-signatures of its roots by key kind (RSA 2048 and 4096, ECDSA P-256 and P-384),
// and SHA-512 over 16 KiB.
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "Crypto/Sha.h"
#include "Crypto/TrustStore.h"

namespace {

const std::string& bundleText() {
    static std::string text = [] {
        std::ifstream file(kSystemCaBundlePath, std::ios::binary);
        std::stringstream all;
        all << file.rdbuf();
        return all.str();
    }();
    return text;
}

TrustStore* bundle() {
    static TrustStore* store = [] {
        TrustStore* s = new TrustStore();
        addPemTrustAnchors(s, (const u8*)bundleText().data(), bundleText().size());
        return s;
    }();
    return store;
}

void ReadBundle(benchmark::State& state) {
    auto store = std::make_unique<TrustStore>();
    for (auto _ : state) {
        memset((void*)store.get(), 0, sizeof(TrustStore));
        benchmark::DoNotOptimize(addPemTrustAnchors(store.get(), (const u8*)bundleText().data(), bundleText().size()));
    }
    state.counters["anchors"] = store->count;
}
BENCHMARK(ReadBundle)->Unit(benchmark::kMillisecond);

// The first root of the bundle with that key (and modulus size for RSA) whose self-signature holds.
bool findRoot(u32 keyType, u32 modulusBytes, X509Certificate* out) {
    for (u32 i = 0; i < bundle()->count; i++) {
        if (!trustAnchor(bundle(), i, out) || out->keyType != keyType) continue;
        if (keyType == X509KeyRsa && out->keyModulus.length != modulusBytes) continue;
        if (verifyX509Signature(out, out).length == 0) return true;
    }
    return false;
}

void VerifyRootSignature(benchmark::State& state) {
    X509Certificate root;
    if (!findRoot((u32)state.range(0), (u32)state.range(1), &root)) {
        state.SkipWithError("no such root in the bundle");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(verifyX509Signature(&root, &root));
}
BENCHMARK(VerifyRootSignature)
    ->Args({X509KeyRsa, 256})
    ->Args({X509KeyRsa, 512})
    ->Args({X509KeyEcP256, 0})
    ->Args({X509KeyEcP384, 0})
    ->Unit(benchmark::kMicrosecond);

void Sha512(benchmark::State& state) {
    static u8 data[16384];
    for (size_t i = 0; i < sizeof(data); i++) data[i] = (u8)(i * 31 + 7);
    u8 digest[64];
    for (auto _ : state) benchmark::DoNotOptimize(sha512(digest, data, sizeof(data)));
    state.SetBytesProcessed((i64)state.iterations() * (i64)sizeof(data));
}
BENCHMARK(Sha512);

}  // namespace
