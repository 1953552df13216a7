// The AES-CBC and AES-GCM suites.
#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/Aes.h"
#include "SelfTests/SelfTestVectors.h"
#include "SelfTests/SelfTests.h"

namespace {

struct DecodedAes {
    u8 key[32];
    u32 keyLength;
    u8 iv[16];
    u8 plaintext[64];
    u32 length;
    u8 aad[32];
    u32 aadLength;
    u8 ciphertext[64];
    u8 tag[16];
};

DecodedAes decodeAes(AesVectorIndex index) {
    const AesVector* v = &kAesVectors[index];
    DecodedAes d{};
    d.keyLength = decodeHex(d.key, sizeof(d.key), v->key);
    decodeHex(d.iv, sizeof(d.iv), v->iv);
    d.length = decodeHex(d.plaintext, sizeof(d.plaintext), v->plaintext);
    d.aadLength = decodeHex(d.aad, sizeof(d.aad), v->aad);
    decodeHex(d.ciphertext, sizeof(d.ciphertext), v->ciphertext);
    decodeHex(d.tag, sizeof(d.tag), v->tag);
    return d;
}

// GCM test case 1's tag from the primitives: H = E(0), S = GHASH of the lengths block (zero, as
// both lengths are 0), tag = E(J0) XOR S.
void tagOfEmptyMessage(u8* tag, const AesKeySchedule* schedule) {
    u8 h[16] = {};
    aesEncryptBlock(h, schedule);
    u8 lengths[16] = {};
    u8 s[16];
    ghashMultiply(s, lengths, h);
    u8 j0[16] = {};
    j0[15] = 1;
    aesEncryptBlock(j0, schedule);
    for (int i = 0; i < 16; i++) tag[i] = j0[i] ^ s[i];
}

// The four checks of one GCM test case: tag, ciphertext, authentic, plaintext. 0 when all hold,
// else the number of the failing one.
i32 gcmCaseFails(AesVectorIndex index) {
    DecodedAes d = decodeAes(index);
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, (i32)d.keyLength, d.key);
    u8 ciphertext[64] = {}, tag[16], plaintext[64] = {};
    encryptAesGcm(tag, d.plaintext, ciphertext, d.length, d.iv, d.aad, d.aadLength, &schedule);
    if (memcmp(tag, d.tag, 16) != 0) return 1;
    if (memcmp(ciphertext, d.ciphertext, d.length) != 0) return 2;
    if (decryptAesGcm(ciphertext, plaintext, d.length, d.iv, d.aad, d.aadLength, &schedule, tag) != 0) return 3;
    if (memcmp(plaintext, d.plaintext, d.length) != 0) return 4;
    return 0;
}

}  // namespace

i32 aesCbcTestSuite() {
    DecodedAes d = decodeAes(AesCbcNist);
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, (i32)d.keyLength, d.key);
    // Encryption by hand: each block XOR the previous ciphertext block (the IV first), then AES.
    u8 encrypted[32];
    const u8* previous = d.iv;
    for (int block = 0; block < 2; block++) {
        for (int i = 0; i < 16; i++) encrypted[16 * block + i] = d.plaintext[16 * block + i] ^ previous[i];
        aesEncryptBlock(encrypted + 16 * block, &schedule);
        previous = encrypted + 16 * block;
    }
    if (memcmp(encrypted, d.ciphertext, 32) != 0) return __LINE__;
    u8 decrypted[32] = {};
    decryptAesCbc(d.ciphertext, decrypted, 32, d.iv, &schedule);
    if (memcmp(decrypted, d.plaintext, 32) != 0) return __LINE__;
    return 0;
}

i32 aesGcmTestSuite() {
    // A TLS 1.3 record: AES-256 key, its record header as additional data.
    {
        DecodedAes d = decodeAes(AesGcmRecord);
        AesKeySchedule schedule;
        aesKeyExpansion(&schedule, (i32)d.keyLength, d.key);
        u8 plaintext[64] = {};
        if (decryptAesGcm(d.ciphertext, plaintext, d.length, d.iv, d.aad, d.aadLength, &schedule, d.tag) != 0)
            return __LINE__;
        if (memcmp(plaintext, d.plaintext, d.length) != 0) return __LINE__;
    }
    // GHASH: the product of X and H equals that of H and X.
    DecodedAes zero = decodeAes(AesGcmCase1);
    AesKeySchedule zeroSchedule;
    aesKeyExpansion(&zeroSchedule, (i32)zero.keyLength, zero.key);
    {
        u8 h[16] = {};
        aesEncryptBlock(h, &zeroSchedule);
        u8 x[16] = {};
        x[15] = 0x80;
        u8 xh[16], hx[16];
        ghashMultiply(xh, x, h);
        ghashMultiply(hx, h, x);
        if (memcmp(xh, hx, 16) != 0) return __LINE__;
    }
    // Test case 1 from the primitives, then once more inside its own region.
    u8 tag[16];
    tagOfEmptyMessage(tag, &zeroSchedule);
    if (memcmp(tag, zero.tag, 16) != 0) return __LINE__;
    {
        enterProfilingRegionChecked("Decrypt AES GCM");
        u8 again[16];
        tagOfEmptyMessage(again, &zeroSchedule);
        exitProfilingRegion("Decrypt AES GCM");
        if (memcmp(again, tag, 16) != 0) return __LINE__;
    }
    switch (gcmCaseFails(AesGcmCase2)) {
        case 1: return __LINE__;
        case 2: return __LINE__;
        case 3: return __LINE__;
        case 4: return __LINE__;
        default: break;
    }
    switch (gcmCaseFails(AesGcmCase3)) {
        case 1: return __LINE__;
        case 2: return __LINE__;
        case 3: return __LINE__;
        case 4: return __LINE__;
        default: break;
    }
    switch (gcmCaseFails(AesGcmCase4)) {
        case 1: return __LINE__;
        case 2: return __LINE__;
        case 3: return __LINE__;
        case 4: return __LINE__;
        default: break;
    }
    // Timing: 20,000 bytes authenticated and decrypted under test case 4's key; the zero tag does
    // not match and the result is not looked at.
    {
        DecodedAes d = decodeAes(AesGcmCase4);
        AesKeySchedule schedule;
        aesKeyExpansion(&schedule, (i32)d.keyLength, d.key);
        static constexpr i64 kTimedBytes = 20000;
        u8 input[kTimedBytes] = {}, output[kTimedBytes] = {};
        u8 noTag[16] = {};
        enterProfilingRegionChecked("Test Decrypt AES GCM timing");
        decryptAesGcm(input, output, kTimedBytes, d.iv, d.aad, d.aadLength, &schedule, noTag);
        exitProfilingRegion("Test Decrypt AES GCM timing");
    }
    return 0;
}
