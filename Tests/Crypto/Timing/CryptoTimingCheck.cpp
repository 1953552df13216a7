// Constant-time check of the code that handles secrets: run under valgrind's memcheck with the
// secret inputs marked undefined, any branch or memory address that depends on them is reported
// as a use of an uninitialised value (and valgrind exits with an error). Outputs are marked defined
// again before they are compared with known answers, so a wrong result fails the check too.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>

#include "Crypto/Aes.h"
#include "Crypto/AesInternal.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/Hmac.h"
#include "Crypto/P256.h"
#include "Crypto/X25519.h"

namespace {

int failures = 0;

void secret(const void* data, size_t length) { VALGRIND_MAKE_MEM_UNDEFINED(data, length); }
void known(const void* data, size_t length) { VALGRIND_MAKE_MEM_DEFINED(data, length); }

void expect(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "wrong result: %s\n", what);
        failures++;
    }
}

void hex(const char* text, u8* out, size_t length) {
    for (size_t i = 0; i < length; i++) sscanf(text + 2 * i, "%2hhx", &out[i]);
}

void checkX25519() {
    // RFC 7748 section 5.2, first vector.
    u8 scalar[32], u[32], out[32], expected[32];
    hex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4", scalar, 32);
    hex("e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c", u, 32);
    hex("c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552", expected, 32);
    secret(scalar, 32);
    x25519(out, scalar, u);
    known(out, 32);
    expect(memcmp(out, expected, 32) == 0, "X25519");
}

void checkP256() {
    // 2 G, with the scalar secret; then a full-width scalar against the same point reached twice.
    u8 g[64], scalar[32] = {2}, out[64];
    memcpy(g, secp256r1.generatorX, 32);
    memcpy(g + 32, secp256r1.generatorY, 32);
    secret(scalar, 32);
    i32 failed = scalePoint(out, scalar, g, &secp256r1);
    known(&failed, sizeof(failed));
    known(out, 64);
    u8 expectedX[32];
    hex("7cf27b188d034f7e8a52380304b51ac3c08969e277f21b35a60b48fc47669978", expectedX, 32);
    bool same = failed == 0;
    for (int i = 0; i < 32; i++) same = same && out[31 - i] == expectedX[i];
    expect(same, "P-256 2G");

    u8 a[32], b[32], ab[64], ba[64], pa[64], pb[64];
    for (int i = 0; i < 32; i++) a[i] = (u8)(i * 37 + 11), b[i] = (u8)(i * 91 + 5);
    a[31] = b[31] = 0x7F;
    scalePoint(pa, a, g, &secp256r1);
    scalePoint(pb, b, g, &secp256r1);
    secret(a, 32);
    secret(b, 32);
    scalePoint(ab, a, pb, &secp256r1);
    scalePoint(ba, b, pa, &secp256r1);
    known(ab, 64);
    known(ba, 64);
    expect(memcmp(ab, ba, 64) == 0, "P-256 key agreement");
}

void checkAes(const char* path) {
    // FIPS 197 appendix C.1 and the GCM test case 3 of the original GCM paper, with key and
    // plaintext secret.
    u8 key[16], block[16], expected[16];
    hex("000102030405060708090a0b0c0d0e0f", key, 16);
    hex("00112233445566778899aabbccddeeff", block, 16);
    hex("69c4e0d86a7b0430d8cdb78070b4c55a", expected, 16);
    secret(key, 16);
    secret(block, 16);
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, 16, key);
    aesEncryptBlock(block, &schedule);
    u8 copy[16];
    memcpy(copy, block, 16);
    known(copy, 16);
    expect(memcmp(copy, expected, 16) == 0, path);
    aesDecryptBlock(block, &schedule);
    known(block, 16);
    expect(block[0] == 0x00 && block[15] == 0xFF, path);

    u8 gcmKey[16], iv[12], plain[64], sealed[64], tag[16], opened[64];
    hex("feffe9928665731c6d6a8f9467308308", gcmKey, 16);
    hex("cafebabefacedbaddecaf888", iv, 12);
    hex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255",
        plain, 64);
    u8 expectedTag[16];
    hex("4d5c2af327cd64a62cf35abd2ba6fab4", expectedTag, 16);
    secret(gcmKey, 16);
    secret(plain, 64);
    aesKeyExpansion(&schedule, 16, gcmKey);
    encryptAesGcm(tag, plain, sealed, 64, iv, nullptr, 0, &schedule);
    u8 tagCopy[16];
    memcpy(tagCopy, tag, 16);
    known(tagCopy, 16);
    expect(memcmp(tagCopy, expectedTag, 16) == 0, path);
    // Opening: the ciphertext and tag come from outside, the key and the computed tag are secret.
    known(sealed, 64);
    known(tag, 16);
    i32 rejected = decryptAesGcm(sealed, opened, 64, iv, nullptr, 0, &schedule, tag);
    known(&rejected, sizeof(rejected));
    expect(rejected == 0, path);
    tag[3] ^= 1;
    rejected = decryptAesGcm(sealed, opened, 64, iv, nullptr, 0, &schedule, tag);
    known(&rejected, sizeof(rejected));
    expect(rejected == 1, path);
    // CBC both ways.
    u8 chainIv[16] = {}, work[16], cbc[64], back[64];
    encryptAesCbc(work, plain, cbc, 64, chainIv, &schedule);
    u8 startIv[16] = {};
    decryptAesCbc(cbc, back, 64, startIv, &schedule);
    known(back, 64);
    known(plain, 64);
    expect(memcmp(back, plain, 64) == 0, path);
}

void checkComparisons() {
    u8 a[32], b[32], h[16], x[16], product[16];
    memset(a, 7, 32);
    memset(b, 7, 32);
    b[20] = 8;
    memset(h, 0x42, 16);
    memset(x, 0x17, 16);
    secret(a, 32);
    secret(h, 16);
    i32 equal = constantTimeEqual(a, b, 32);
    known(&equal, sizeof(equal));
    expect(equal == 0, "tag comparison");
    ghashMultiply(product, x, h);
    known(product, 16);
}

// Whether the real processor has MULX and ADX: valgrind's emulated CPUID leaves them out although
// it runs them, so the kernel's list of the processor's flags decides.
bool hostHasMulxAdx() {
    FILE* file = fopen("/proc/cpuinfo", "r");
    if (!file) return false;
    char line[8192];
    bool bmi2 = false, adx = false;
    while (fgets(line, sizeof(line), file) && strncmp(line, "flags", 5) != 0) {
    }
    if (strncmp(line, "flags", 5) == 0) {
        bmi2 = strstr(line, " bmi2") != nullptr;
        adx = strstr(line, " adx") != nullptr;
    }
    fclose(file);
    return bmi2 && adx;
}

}  // namespace

// A longer GCM message, through the eight-block loop and its tail (300 bytes), sealed by the
// processor's instructions and by the software path: both give the same ciphertext and tag.
void checkLongGcm() {
    u8 key[16], iv[12] = {1, 2, 3}, plain[300], sealed[2][300], tags[2][16];
    for (int i = 0; i < 16; i++) key[i] = (u8)(7 * i + 1);
    for (int i = 0; i < 300; i++) plain[i] = (u8)(i * 13);
    for (int pass = 0; pass < 2; pass++) {
        aesAllowHardware(pass == 0);
        AesKeySchedule schedule;
        secret(key, 16);
        secret(plain, 300);
        aesKeyExpansion(&schedule, 16, key);
        encryptAesGcm(tags[pass], plain, sealed[pass], 300, iv, iv, 12, &schedule);
        known(tags[pass], 16);
        known(sealed[pass], 300);
    }
    aesAllowHardware(true);
    expect(memcmp(tags[0], tags[1], 16) == 0 && memcmp(sealed[0], sealed[1], 300) == 0, "long AES-GCM");
}

int main() {
    if (hostHasMulxAdx()) {
        x25519ForceProcessorExtensions();
        checkX25519();
    }
    x25519AllowProcessorExtensions(false);
    checkX25519();
    x25519AllowProcessorExtensions(true);
    if (hostHasMulxAdx()) {
        p256ForceProcessorExtensions();
        checkP256();  // with the processor's wide products
    }
    p256AllowProcessorExtensions(false);
    checkP256();
    p256AllowProcessorExtensions(true);
    checkAes("AES with the processor's instructions");
    aesAllowHardware(false);
    checkAes("AES in software");
    aesAllowHardware(true);
    checkLongGcm();
    checkComparisons();
    if (failures) return 1;
    printf("constant-time check ran\n");
    return 0;
}
