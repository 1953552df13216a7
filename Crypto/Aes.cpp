#include "Crypto/Aes.h"

#include <cstring>

#include "Crypto/AesInternal.h"
#include "Crypto/CpuFeatures.h"
#include "Crypto/Hmac.h"

namespace {

// The S-box without tables, on eight bytes of a u64 at once: the inverse in GF(2^8) as x^254
// (products by shift-and-add under per-byte masks), then the affine map. Every step is the same
// whatever the bytes.
constexpr u64 kLowBits = 0x0101010101010101ull;

inline u64 doubleEach(u64 a) { return ((a & 0x7F7F7F7F7F7F7F7Full) << 1) ^ (((a >> 7) & kLowBits) * 0x1B); }

inline u64 multiplyEach(u64 a, u64 b) {
    u64 product = 0;
    for (int i = 0; i < 8; i++) {
        product ^= a & (((b >> i) & kLowBits) * 0xFF);
        a = doubleEach(a);
    }
    return product;
}

inline u64 inverseEach(u64 x) {
    u64 x3 = multiplyEach(multiplyEach(x, x), x);
    u64 x7 = multiplyEach(multiplyEach(x3, x3), x);
    u64 x15 = multiplyEach(multiplyEach(x7, x7), x);
    u64 x31 = multiplyEach(multiplyEach(x15, x15), x);
    u64 x63 = multiplyEach(multiplyEach(x31, x31), x);
    u64 x127 = multiplyEach(multiplyEach(x63, x63), x);
    return multiplyEach(x127, x127);  // x^254; 0 stays 0
}

inline u64 rotateEach(u64 a, int bits) {
    u64 high = kLowBits * ((0xFFu << bits) & 0xFF), low = kLowBits * (0xFFu >> (8 - bits));
    return ((a << bits) & high) | ((a >> (8 - bits)) & low);
}

inline u64 substituteEach(u64 a) {
    u64 b = inverseEach(a);
    return b ^ rotateEach(b, 1) ^ rotateEach(b, 2) ^ rotateEach(b, 3) ^ rotateEach(b, 4) ^ (kLowBits * 0x63);
}

inline u64 inverseSubstituteEach(u64 s) {
    return inverseEach(rotateEach(s, 1) ^ rotateEach(s, 3) ^ rotateEach(s, 6) ^ (kLowBits * 0x05));
}

// Columns are four bytes in a u32, byte r of the column in bits 8r..8r+7. doubleBytes multiplies
// each byte by 2 under x^8 + x^4 + x^3 + x + 1 without branches; it also serves the key expansion's
// round constants and the InvMixColumns of the round keys in decryption.
inline u32 doubleBytes(u32 w) { return ((w & 0x7F7F7F7Fu) << 1) ^ (((w >> 7) & 0x01010101u) * 0x1Bu); }
inline u32 rotateBytes(u32 w, int bytes) { return (w >> (8 * bytes)) | (w << (32 - 8 * bytes)); }

inline u32 loadColumn(const u8* c) { return (u32)c[0] | (u32)c[1] << 8 | (u32)c[2] << 16 | (u32)c[3] << 24; }
inline void storeColumn(u8* c, u32 w) {
    c[0] = (u8)w;
    c[1] = (u8)(w >> 8);
    c[2] = (u8)(w >> 16);
    c[3] = (u8)(w >> 24);
}

// b_r = 2 a_r + 3 a_(r+1) + a_(r+2) + a_(r+3)
inline u32 mixColumn(u32 w) {
    u32 t = w ^ rotateBytes(w, 1);
    return w ^ doubleBytes(t) ^ t ^ rotateBytes(t, 2);
}

// InvMixColumns as a pre-step (adding 4 (a_r + a_(r+2)) to each byte) followed by MixColumns.
inline u32 inverseMixColumn(u32 w) {
    u32 p = w ^ rotateBytes(w, 2);
    return mixColumn(w ^ doubleBytes(doubleBytes(p)));
}

inline u64 loadBe64(const u8* p) {
    u64 v = 0;
    for (int i = 0; i < 8; i++) v = v << 8 | p[i];
    return v;
}

inline void storeBe64(u8* p, u64 v) {
    for (int i = 7; i >= 0; i--) {
        p[i] = (u8)v;
        v >>= 8;
    }
}

// Carry-less product of two 64-bit polynomials, low 64 bits, through ordinary multiplication: each
// operand is split into four interleaved bit sets with three-bit holes between their bits, so the
// carries of one product never reach a bit that is kept. No branches or look-ups on the data.
inline u64 carrylessMultiplyLow(u64 x, u64 y) {
    const u64 m0 = 0x1111111111111111ull, m1 = 0x2222222222222222ull, m2 = 0x4444444444444444ull,
              m3 = 0x8888888888888888ull;
    u64 x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
    u64 y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
    u64 z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
    u64 z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
    u64 z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
    u64 z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
    return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

inline u64 reverseBits(u64 x) {
    x = ((x & 0x5555555555555555ull) << 1) | ((x >> 1) & 0x5555555555555555ull);
    x = ((x & 0x3333333333333333ull) << 2) | ((x >> 2) & 0x3333333333333333ull);
    x = ((x & 0x0F0F0F0F0F0F0F0Full) << 4) | ((x >> 4) & 0x0F0F0F0F0F0F0F0Full);
    x = ((x & 0x00FF00FF00FF00FFull) << 8) | ((x >> 8) & 0x00FF00FF00FF00FFull);
    x = ((x & 0x0000FFFF0000FFFFull) << 16) | ((x >> 16) & 0x0000FFFF0000FFFFull);
    return (x << 32) | (x >> 32);
}

// GHASH state and key as two 64-bit halves read big-endian (byte 0 at the top of the high half), so
// the coefficient of x^0 is the top bit: the polynomials are bit-reversed words. The key's halves,
// their sum and their bit reversals are kept for the products.
struct Ghash {
    u64 hHigh, hLow, hSum;
    u64 hHighReversed, hLowReversed, hSumReversed;
    u64 yHigh, yLow;
};

void ghashSetKey(Ghash* g, u64 high, u64 low) {
    g->hHigh = high;
    g->hLow = low;
    g->hSum = high ^ low;
    g->hHighReversed = reverseBits(high);
    g->hLowReversed = reverseBits(low);
    g->hSumReversed = g->hHighReversed ^ g->hLowReversed;
    g->yHigh = g->yLow = 0;
}

// y = (y XOR piece) * h: a Karatsuba 128 x 128 carry-less product (the high halves of the 64-bit
// products come from the bit-reversed operands), a shift by one for the reversed bit order, and the
// reduction by x^128 + x^7 + x^2 + x + 1.
inline void ghashFold(Ghash* g, const u8* piece) {
    u64 y1 = g->yHigh ^ loadBe64(piece), y0 = g->yLow ^ loadBe64(piece + 8);
    u64 y0r = reverseBits(y0), y1r = reverseBits(y1), y2 = y0 ^ y1, y2r = y0r ^ y1r;
    u64 z0 = carrylessMultiplyLow(y0, g->hLow);
    u64 z1 = carrylessMultiplyLow(y1, g->hHigh);
    u64 z2 = carrylessMultiplyLow(y2, g->hSum);
    u64 z0h = carrylessMultiplyLow(y0r, g->hLowReversed);
    u64 z1h = carrylessMultiplyLow(y1r, g->hHighReversed);
    u64 z2h = carrylessMultiplyLow(y2r, g->hSumReversed);
    z2 ^= z0 ^ z1;
    z2h ^= z0h ^ z1h;
    z0h = reverseBits(z0h) >> 1;
    z1h = reverseBits(z1h) >> 1;
    z2h = reverseBits(z2h) >> 1;
    u64 v0 = z0, v1 = z0h ^ z2, v2 = z1 ^ z2h, v3 = z1h;
    v3 = (v3 << 1) | (v2 >> 63);
    v2 = (v2 << 1) | (v1 >> 63);
    v1 = (v1 << 1) | (v0 >> 63);
    v0 = v0 << 1;
    v2 ^= v0 ^ (v0 >> 1) ^ (v0 >> 2) ^ (v0 >> 7);
    v1 ^= (v0 << 63) ^ (v0 << 62) ^ (v0 << 57);
    v3 ^= v1 ^ (v1 >> 1) ^ (v1 >> 2) ^ (v1 >> 7);
    v2 ^= (v1 << 63) ^ (v1 << 62) ^ (v1 << 57);
    g->yHigh = v3;
    g->yLow = v2;
}

void ghashData(Ghash* g, const u8* data, i64 length) {
    while (length >= 16) {
        ghashFold(g, data);
        data += 16;
        length -= 16;
    }
    if (length > 0) {
        u8 last[16] = {};
        memcpy(last, data, (size_t)length);
        ghashFold(g, last);
    }
}

void ghashStart(Ghash* g, const AesKeySchedule* schedule, const u8* aad, i64 aadLength) {
    u8 h[16] = {};
    aesEncryptBlock(h, schedule);
    ghashSetKey(g, loadBe64(h), loadBe64(h + 8));
    if (aadLength > 0) ghashData(g, aad, aadLength);
}

void ghashFinish(u8* tag, Ghash* g, const AesKeySchedule* schedule, const u8* iv, i64 aadLength, i64 length) {
    u8 lengths[16];
    storeBe64(lengths, (u64)(aadLength > 0 ? aadLength : 0) * 8);
    storeBe64(lengths + 8, (u64)(length > 0 ? length : 0) * 8);
    ghashFold(g, lengths);
    u8 mask[16];
    memcpy(mask, iv, 12);
    mask[12] = mask[13] = mask[14] = 0;
    mask[15] = 1;
    aesEncryptBlock(mask, schedule);
    storeBe64(tag, g->yHigh);
    storeBe64(tag + 8, g->yLow);
    for (int i = 0; i < 16; i++) tag[i] ^= mask[i];
}

// Counter mode from counter 2, as GCM's data blocks use.
void gcmCounterMode(const u8* input, u8* output, i64 length, const u8* iv, const AesKeySchedule* schedule) {
    u32 counter = 2;
    for (i64 offset = 0; offset < length; offset += 16) {
        u8 keystream[16];
        memcpy(keystream, iv, 12);
        keystream[12] = (u8)(counter >> 24);
        keystream[13] = (u8)(counter >> 16);
        keystream[14] = (u8)(counter >> 8);
        keystream[15] = (u8)counter;
        counter++;
        aesEncryptBlock(keystream, schedule);
        i64 n = length - offset < 16 ? length - offset : 16;
        for (i64 i = 0; i < n; i++) output[offset + i] = input[offset + i] ^ keystream[i];
    }
}


bool gHardwareAllowed = true;

// The state as four columns of four bytes; ShiftRows takes row r of column c from column c + r.
inline void substituteState(u32* c) {
    u64 low = (u64)c[0] | (u64)c[1] << 32, high = (u64)c[2] | (u64)c[3] << 32;
    low = substituteEach(low);
    high = substituteEach(high);
    c[0] = (u32)low, c[1] = (u32)(low >> 32), c[2] = (u32)high, c[3] = (u32)(high >> 32);
}

inline void inverseSubstituteState(u32* c) {
    u64 low = (u64)c[0] | (u64)c[1] << 32, high = (u64)c[2] | (u64)c[3] << 32;
    low = inverseSubstituteEach(low);
    high = inverseSubstituteEach(high);
    c[0] = (u32)low, c[1] = (u32)(low >> 32), c[2] = (u32)high, c[3] = (u32)(high >> 32);
}

inline u32 pickRows(u32 a, u32 b, u32 c, u32 d) {
    return (a & 0xFFu) | (b & 0xFF00u) | (c & 0xFF0000u) | (d & 0xFF000000u);
}

inline void shiftRows(u32* c) {
    u32 t0 = pickRows(c[0], c[1], c[2], c[3]), t1 = pickRows(c[1], c[2], c[3], c[0]);
    u32 t2 = pickRows(c[2], c[3], c[0], c[1]), t3 = pickRows(c[3], c[0], c[1], c[2]);
    c[0] = t0, c[1] = t1, c[2] = t2, c[3] = t3;
}

inline void inverseShiftRows(u32* c) {
    u32 t0 = pickRows(c[0], c[3], c[2], c[1]), t1 = pickRows(c[1], c[0], c[3], c[2]);
    u32 t2 = pickRows(c[2], c[1], c[0], c[3]), t3 = pickRows(c[3], c[2], c[1], c[0]);
    c[0] = t0, c[1] = t1, c[2] = t2, c[3] = t3;
}

inline void addRoundKey(u32* c, const u8* key) {
    for (int i = 0; i < 4; i++) c[i] ^= loadColumn(key + 4 * i);
}

void softwareEncryptBlock(u8* block, const AesKeySchedule* schedule) {
    u32 c[4];
    for (int i = 0; i < 4; i++) c[i] = loadColumn(block + 4 * i);
    addRoundKey(c, schedule->roundKeys);
    for (i32 round = 1; round <= schedule->rounds; round++) {
        substituteState(c);
        shiftRows(c);
        if (round < schedule->rounds)
            for (int i = 0; i < 4; i++) c[i] = mixColumn(c[i]);
        addRoundKey(c, schedule->roundKeys + 16 * round);
    }
    for (int i = 0; i < 4; i++) storeColumn(block + 4 * i, c[i]);
}

void softwareDecryptBlock(u8* block, const AesKeySchedule* schedule) {
    u32 c[4];
    for (int i = 0; i < 4; i++) c[i] = loadColumn(block + 4 * i);
    addRoundKey(c, schedule->roundKeys + 16 * schedule->rounds);
    for (i32 round = schedule->rounds - 1; round >= 0; round--) {
        inverseShiftRows(c);
        inverseSubstituteState(c);
        addRoundKey(c, schedule->roundKeys + 16 * round);
        if (round > 0)
            for (int i = 0; i < 4; i++) c[i] = inverseMixColumn(c[i]);
    }
    for (int i = 0; i < 4; i++) storeColumn(block + 4 * i, c[i]);
}

}  // namespace

static inline bool usable(const AesKeySchedule* schedule) { return schedule->rounds > 0 && schedule->rounds <= 14; }

bool aesHardwareInUse() { return gHardwareAllowed && cpuHasAesInstructions(); }

void aesAllowHardware(bool allow) { gHardwareAllowed = allow; }

u32 aesSubstituteWord(u32 word) { return (u32)substituteEach(word); }

AesKeySchedule* aesKeyExpansion(AesKeySchedule* out, i32 keyLength, const u8* key) {
    memset(out->roundKeys, 0, sizeof(out->roundKeys));
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) {
        out->rounds = 0;  // unsupported: the block functions then leave their data alone
        return out;
    }
    i32 nk = keyLength / 4;
    out->rounds = nk + 6;
    i32 words = 4 * (out->rounds + 1);
    memcpy(out->roundKeys, key, (size_t)keyLength);
    u32 roundConstant = 1;
    for (i32 i = nk; i < words; i++) {
        u32 t = loadColumn(out->roundKeys + 4 * (i - 1));
        if (i % nk == 0) {
            t = aesSubstituteWord(rotateBytes(t, 1)) ^ roundConstant;
            roundConstant = doubleBytes(roundConstant);
        } else if (nk > 6 && i % nk == 4) {
            t = aesSubstituteWord(t);
        }
        storeColumn(out->roundKeys + 4 * i, loadColumn(out->roundKeys + 4 * (i - nk)) ^ t);
    }
    return out;
}

void aesEncryptBlock(u8* block, const AesKeySchedule* schedule) {
    if (schedule->rounds <= 0 || schedule->rounds > 14) return;
    if (aesHardwareInUse()) return aesHardwareEncryptBlock(block, schedule);
    softwareEncryptBlock(block, schedule);
}

void aesDecryptBlock(u8* block, const AesKeySchedule* schedule) {
    if (schedule->rounds <= 0 || schedule->rounds > 14) return;
    if (aesHardwareInUse()) return aesHardwareDecryptBlock(block, schedule);
    softwareDecryptBlock(block, schedule);
}

u8* encryptAesCbc(u8* work, const u8* input, u8* output, i64 length, u8* iv, const AesKeySchedule* schedule) {
    memset(work, 0, 16);
    if (length <= 0) return work;
    i64 blocks = ((length - 1) >> 4) + 1;
    if (usable(schedule) && aesHardwareInUse()) {
        aesHardwareEncryptCbc(input, output, blocks, iv, schedule);
        memcpy(work, iv, 16);
        return work;
    }
    for (i64 b = 0; b < blocks; b++) {
        memcpy(work, input + 16 * b, 16);
        for (int i = 0; i < 16; i++) work[i] ^= iv[i];
        aesEncryptBlock(work, schedule);
        memcpy(output + 16 * b, work, 16);
        memcpy(iv, work, 16);
    }
    return work;
}

void decryptAesCbc(const u8* input, u8* output, i64 length, const u8* iv, const AesKeySchedule* schedule) {
    if (length <= 0) return;
    i64 blocks = ((length - 1) >> 4) + 1;
    if (usable(schedule) && aesHardwareInUse()) return aesHardwareDecryptCbc(input, output, blocks, iv, schedule);
    u8 chain[16];
    memcpy(chain, iv, 16);
    for (i64 b = 0; b < blocks; b++) {
        u8 kept[16], block[16];
        memcpy(kept, input + 16 * b, 16);
        memcpy(block, kept, 16);
        aesDecryptBlock(block, schedule);
        for (int i = 0; i < 16; i++) output[16 * b + i] = block[i] ^ chain[i];
        memcpy(chain, kept, 16);
    }
}

u8* encryptAesGcm(u8* tag, const u8* plaintext, u8* ciphertext, i64 length, const u8* iv, const u8* aad,
                  i64 aadLength, const AesKeySchedule* schedule) {
    if (usable(schedule) && aesHardwareInUse()) {
        aesHardwareGcm(tag, false, plaintext, ciphertext, length, iv, aad, aadLength, schedule);
        return tag;
    }
    Ghash g;
    ghashStart(&g, schedule, aad, aadLength);
    if (length > 0) {
        gcmCounterMode(plaintext, ciphertext, length, iv, schedule);
        ghashData(&g, ciphertext, length);
    }
    ghashFinish(tag, &g, schedule, iv, aadLength, length);
    return tag;
}

i32 decryptAesGcm(const u8* ciphertext, u8* plaintext, i64 length, const u8* iv, const u8* aad, i64 aadLength,
                  const AesKeySchedule* schedule, const u8* expectedTag) {
    u8 tag[16];
    if (usable(schedule) && aesHardwareInUse()) {
        aesHardwareGcm(tag, true, ciphertext, plaintext, length, iv, aad, aadLength, schedule);
    } else {
        Ghash g;
        ghashStart(&g, schedule, aad, aadLength);
        if (length > 0) {
            ghashData(&g, ciphertext, length);  // before decrypting: the buffers may be the same
            gcmCounterMode(ciphertext, plaintext, length, iv, schedule);
        }
        ghashFinish(tag, &g, schedule, iv, aadLength, length);
    }
    return constantTimeEqual(tag, expectedTag, 16) ? 0 : 1;
}

u8* ghashMultiply(u8* out, const u8* x, const u8* h) {
    Ghash g;
    ghashSetKey(&g, loadBe64(h), loadBe64(h + 8));
    ghashFold(&g, x);
    storeBe64(out, g.yHigh);
    storeBe64(out + 8, g.yLow);
    return out;
}
