#include "Crypto/Aes.h"

#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/Hmac.h"

namespace {

constexpr u8 kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76, 0xca, 0x82, 0xc9,
    0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0, 0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f,
    0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15, 0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07,
    0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75, 0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3,
    0x29, 0xe3, 0x2f, 0x84, 0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58,
    0xcf, 0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8, 0x51, 0xa3,
    0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2, 0xcd, 0x0c, 0x13, 0xec, 0x5f,
    0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73, 0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88,
    0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb, 0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac,
    0x62, 0x91, 0x95, 0xe4, 0x79, 0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a,
    0xae, 0x08, 0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a, 0x70,
    0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e, 0xe1, 0xf8, 0x98, 0x11,
    0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf, 0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42,
    0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16};

// Multiplication in GF(2^8) under x^8 + x^4 + x^3 + x + 1, used only to build the tables below.
constexpr u8 gfMultiply(u8 a, u8 b) {
    u8 product = 0;
    for (int i = 0; i < 8; i++) {
        if (b & 1) product ^= a;
        bool high = a & 0x80;
        a = (u8)(a << 1);
        if (high) a ^= 0x1B;
        b >>= 1;
    }
    return product;
}

struct Tables {
    u8 inverseSbox[256];
    u8 times2[256], times3[256], times9[256], times11[256], times13[256], times14[256];
};

constexpr Tables buildTables() {
    Tables t{};
    for (int i = 0; i < 256; i++) {
        t.inverseSbox[kSbox[i]] = (u8)i;
        t.times2[i] = gfMultiply((u8)i, 2);
        t.times3[i] = gfMultiply((u8)i, 3);
        t.times9[i] = gfMultiply((u8)i, 9);
        t.times11[i] = gfMultiply((u8)i, 11);
        t.times13[i] = gfMultiply((u8)i, 13);
        t.times14[i] = gfMultiply((u8)i, 14);
    }
    return t;
}

constexpr Tables kTables = buildTables();

inline void addRoundKey(u8* state, const u8* key) {
    for (int i = 0; i < 16; i++) state[i] ^= key[i];
}

// SubBytes and ShiftRows together: state byte 4c + r comes from column c + r of the same row.
inline void subShift(u8* s) {
    u8 t[16];
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 4; r++) t[4 * c + r] = kSbox[s[4 * ((c + r) & 3) + r]];
    memcpy(s, t, 16);
}

inline void inverseShiftSub(u8* s) {
    u8 t[16];
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 4; r++) t[4 * ((c + r) & 3) + r] = kTables.inverseSbox[s[4 * c + r]];
    memcpy(s, t, 16);
}

inline void mixColumns(u8* s) {
    for (int c = 0; c < 4; c++) {
        u8* col = s + 4 * c;
        u8 a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = kTables.times2[a0] ^ kTables.times3[a1] ^ a2 ^ a3;
        col[1] = a0 ^ kTables.times2[a1] ^ kTables.times3[a2] ^ a3;
        col[2] = a0 ^ a1 ^ kTables.times2[a2] ^ kTables.times3[a3];
        col[3] = kTables.times3[a0] ^ a1 ^ a2 ^ kTables.times2[a3];
    }
}

inline void inverseMixColumns(u8* s) {
    for (int c = 0; c < 4; c++) {
        u8* col = s + 4 * c;
        u8 a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = kTables.times14[a0] ^ kTables.times11[a1] ^ kTables.times13[a2] ^ kTables.times9[a3];
        col[1] = kTables.times9[a0] ^ kTables.times14[a1] ^ kTables.times11[a2] ^ kTables.times13[a3];
        col[2] = kTables.times13[a0] ^ kTables.times9[a1] ^ kTables.times14[a2] ^ kTables.times11[a3];
        col[3] = kTables.times11[a0] ^ kTables.times13[a1] ^ kTables.times9[a2] ^ kTables.times14[a3];
    }
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

// GHASH state and key as two 64-bit halves (byte 0 is the top of the high half).
struct Ghash {
    u64 hHigh, hLow;
    u64 yHigh, yLow;
};

// y = (y XOR piece) * h, bit-serial, without branches on the data.
inline void ghashFold(Ghash* g, const u8* piece) {
    u64 xHigh = g->yHigh ^ loadBe64(piece), xLow = g->yLow ^ loadBe64(piece + 8);
    u64 vHigh = g->hHigh, vLow = g->hLow, zHigh = 0, zLow = 0;
    for (int i = 0; i < 128; i++) {
        u64 bit = i < 64 ? (xHigh >> (63 - i)) & 1 : (xLow >> (127 - i)) & 1;
        u64 mask = 0 - bit;
        zHigh ^= vHigh & mask;
        zLow ^= vLow & mask;
        u64 carry = 0 - (vLow & 1);
        vLow = (vLow >> 1) | (vHigh << 63);
        vHigh = (vHigh >> 1) ^ (0xE100000000000000ull & carry);
    }
    g->yHigh = zHigh;
    g->yLow = zLow;
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
    g->hHigh = loadBe64(h);
    g->hLow = loadBe64(h + 8);
    g->yHigh = g->yLow = 0;
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

}  // namespace

AesKeySchedule* aesKeyExpansion(AesKeySchedule* out, i32 keyLength, const u8* key) {
    memset(out->roundKeys, 0, sizeof(out->roundKeys));
    i32 nk = keyLength / 4;
    out->rounds = nk + 6;
    i32 words = 4 * (out->rounds + 1);
    memcpy(out->roundKeys, key, (size_t)keyLength);
    u8 roundConstant = 1;
    for (i32 i = nk; i < words; i++) {
        u8 t[4];
        memcpy(t, out->roundKeys + 4 * (i - 1), 4);
        if (i % nk == 0) {
            u8 first = t[0];
            t[0] = (u8)(kSbox[t[1]] ^ roundConstant);
            t[1] = kSbox[t[2]];
            t[2] = kSbox[t[3]];
            t[3] = kSbox[first];
            roundConstant = kTables.times2[roundConstant];
        } else if (nk > 6 && i % nk == 4) {
            for (int j = 0; j < 4; j++) t[j] = kSbox[t[j]];
        }
        for (int j = 0; j < 4; j++) out->roundKeys[4 * i + j] = out->roundKeys[4 * (i - nk) + j] ^ t[j];
    }
    return out;
}

void aesEncryptBlock(u8* block, const AesKeySchedule* schedule) {
    addRoundKey(block, schedule->roundKeys);
    for (i32 round = 1; round <= schedule->rounds; round++) {
        subShift(block);
        if (round != schedule->rounds) mixColumns(block);
        addRoundKey(block, schedule->roundKeys + 16 * round);
    }
}

void aesDecryptBlock(u8* block, const AesKeySchedule* schedule) {
    addRoundKey(block, schedule->roundKeys + 16 * schedule->rounds);
    for (i32 round = schedule->rounds - 1; round >= 0; round--) {
        inverseShiftSub(block);
        addRoundKey(block, schedule->roundKeys + 16 * round);
        if (round != 0) inverseMixColumns(block);
    }
}

u8* encryptAesCbc(u8* work, const u8* input, u8* output, i64 length, u8* iv, const AesKeySchedule* schedule) {
    memset(work, 0, 16);
    if (length <= 0) return work;
    i64 blocks = ((length - 1) >> 4) + 1;
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
    ProfilingScope scope("Decrypt AES GCM");
    Ghash g;
    ghashStart(&g, schedule, aad, aadLength);
    if (length > 0) {
        ghashData(&g, ciphertext, length);  // before decrypting: the buffers may be the same
        gcmCounterMode(ciphertext, plaintext, length, iv, schedule);
    }
    u8 tag[16];
    ghashFinish(tag, &g, schedule, iv, aadLength, length);
    return constantTimeEqual(tag, expectedTag, 16) ? 0 : 1;
}

u8* ghashMultiply(u8* out, const u8* x, const u8* h) {
    Ghash g = {loadBe64(h), loadBe64(h + 8), 0, 0};
    ghashFold(&g, x);
    storeBe64(out, g.yHigh);
    storeBe64(out + 8, g.yLow);
    return out;
}
