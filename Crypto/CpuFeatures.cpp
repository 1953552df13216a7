#include "Crypto/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

struct Features {
    bool aes;
    bool sha;
    bool mulxAdx;
    bool wideAes;
};

Features readFeatures() {
    Features f{};
#if defined(__x86_64__) || defined(__i386__)
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19), pclmul = c & (1u << 1), aes = c & (1u << 25);
    f.aes = ssse3 && sse41 && pclmul && aes;
    // The system saves the AVX-512 state (XCR0: SSE, AVX, opmask and both halves of the upper registers).
    bool osxsave = c & (1u << 27);
    bool wideState = false;
    if (osxsave) {
        unsigned low, high;
        __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        wideState = (low & 0xE6u) == 0xE6u;
    }
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        f.sha = sse41 && (b & (1u << 29));
        f.mulxAdx = (b & (1u << 8)) && (b & (1u << 19));  // BMI2 and ADX
        bool avx512 = (b & (1u << 16)) && (b & (1u << 30)) && (b & (1u << 31));  // F, BW, VL
        f.wideAes = f.aes && wideState && avx512 && (c & (1u << 9)) && (c & (1u << 10));  // VAES, VPCLMULQDQ
    }
#endif
    return f;
}

const Features& features() {
    static const Features f = readFeatures();
    return f;
}

}  // namespace

bool cpuHasAesInstructions() { return features().aes; }

bool cpuHasShaInstructions() { return features().sha; }

bool cpuHasMulxAdx() { return features().mulxAdx; }

bool cpuHasWideAesInstructions() { return features().wideAes; }
