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

struct InverseSbox {
    u8 table[256];
};

constexpr InverseSbox buildInverseSbox() {
    InverseSbox t{};
    for (int i = 0; i < 256; i++) t.table[kSbox[i]] = (u8)i;
    return t;
}

constexpr InverseSbox kInverseSbox = buildInverseSbox();

// The encryption round as table look-ups: entry x is the MixColumns column of S(x) entering in row 0
// (2 S(x), S(x), S(x), 3 S(x) in bytes 0 to 3); a byte entering in row r takes the entry rotated
// left by 8 r bits.
struct RoundTable {
    u32 column[256];
};

constexpr RoundTable buildRoundTable() {
    RoundTable t{};
    for (int i = 0; i < 256; i++) {
        u32 s = kSbox[i];
        u32 twice = ((s << 1) ^ ((s >> 7) * 0x1Bu)) & 0xFF;
        t.column[i] = twice | s << 8 | s << 16 | (twice ^ s) << 24;
    }
    return t;
}

constexpr RoundTable kRoundTable = buildRoundTable();

constexpr u32 gfMultiply(u32 a, u32 b) {
    u32 product = 0;
    for (int i = 0; i < 8; i++) {
        if (b & 1) product ^= a;
        a = ((a << 1) ^ ((a >> 7) * 0x1Bu)) & 0xFF;
        b >>= 1;
    }
    return product;
}

// The decryption round's table: entry x is the InvMixColumns column of InvS(x) entering in row 0
// (14, 9, 13 and 11 times InvS(x) in bytes 0 to 3).
constexpr RoundTable buildInverseRoundTable() {
    RoundTable t{};
    for (int i = 0; i < 256; i++) {
        u32 s = kInverseSbox.table[i];
        t.column[i] = gfMultiply(s, 14) | gfMultiply(s, 9) << 8 | gfMultiply(s, 13) << 16 | gfMultiply(s, 11) << 24;
    }
    return t;
}

constexpr RoundTable kInverseRoundTable = buildInverseRoundTable();

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

}  // namespace

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
            roundConstant = (u8)doubleBytes(roundConstant);
        } else if (nk > 6 && i % nk == 4) {
            for (int j = 0; j < 4; j++) t[j] = kSbox[t[j]];
        }
        for (int j = 0; j < 4; j++) out->roundKeys[4 * i + j] = out->roundKeys[4 * (i - nk) + j] ^ t[j];
    }
    return out;
}

void aesEncryptBlock(u8* block, const AesKeySchedule* schedule) {
    if (schedule->rounds <= 0 || schedule->rounds > 14) return;
    const u32* te = kRoundTable.column;
    const u8* key = schedule->roundKeys;
    u32 c0 = loadColumn(block) ^ loadColumn(key), c1 = loadColumn(block + 4) ^ loadColumn(key + 4);
    u32 c2 = loadColumn(block + 8) ^ loadColumn(key + 8), c3 = loadColumn(block + 12) ^ loadColumn(key + 12);
    // SubBytes, ShiftRows (row r of column c from column c + r), MixColumns and AddRoundKey at once.
    auto column = [te](u32 a, u32 b, u32 c, u32 d, const u8* k) {
        return te[a & 0xFF] ^ rotateBytes(te[(b >> 8) & 0xFF], 3) ^ rotateBytes(te[(c >> 16) & 0xFF], 2) ^
               rotateBytes(te[d >> 24], 1) ^ loadColumn(k);
    };
    for (i32 round = 1; round < schedule->rounds; round++) {
        key += 16;
        u32 t0 = column(c0, c1, c2, c3, key), t1 = column(c1, c2, c3, c0, key + 4);
        u32 t2 = column(c2, c3, c0, c1, key + 8), t3 = column(c3, c0, c1, c2, key + 12);
        c0 = t0;
        c1 = t1;
        c2 = t2;
        c3 = t3;
    }
    // The last round has no MixColumns.
    key += 16;
    auto lastColumn = [](u32 a, u32 b, u32 c, u32 d, const u8* k) {
        return ((u32)kSbox[a & 0xFF] | (u32)kSbox[(b >> 8) & 0xFF] << 8 | (u32)kSbox[(c >> 16) & 0xFF] << 16 |
                (u32)kSbox[d >> 24] << 24) ^
               loadColumn(k);
    };
    storeColumn(block, lastColumn(c0, c1, c2, c3, key));
    storeColumn(block + 4, lastColumn(c1, c2, c3, c0, key + 4));
    storeColumn(block + 8, lastColumn(c2, c3, c0, c1, key + 8));
    storeColumn(block + 12, lastColumn(c3, c0, c1, c2, key + 12));
}

void aesDecryptBlock(u8* block, const AesKeySchedule* schedule) {
    if (schedule->rounds <= 0 || schedule->rounds > 14) return;
    const u32* td = kInverseRoundTable.column;
    const u8* key = schedule->roundKeys + 16 * schedule->rounds;
    u32 c0 = loadColumn(block) ^ loadColumn(key), c1 = loadColumn(block + 4) ^ loadColumn(key + 4);
    u32 c2 = loadColumn(block + 8) ^ loadColumn(key + 8), c3 = loadColumn(block + 12) ^ loadColumn(key + 12);
    // InvShiftRows (row r of column c from column c - r), InvSubBytes, AddRoundKey and InvMixColumns
    // at once: InvMixColumns is linear, so the round key enters through its own InvMixColumns.
    auto column = [td](u32 a, u32 b, u32 c, u32 d, const u8* k) {
        return td[a & 0xFF] ^ rotateBytes(td[(b >> 8) & 0xFF], 3) ^ rotateBytes(td[(c >> 16) & 0xFF], 2) ^
               rotateBytes(td[d >> 24], 1) ^ inverseMixColumn(loadColumn(k));
    };
    for (i32 round = schedule->rounds - 1; round > 0; round--) {
        key -= 16;
        u32 t0 = column(c0, c3, c2, c1, key), t1 = column(c1, c0, c3, c2, key + 4);
        u32 t2 = column(c2, c1, c0, c3, key + 8), t3 = column(c3, c2, c1, c0, key + 12);
        c0 = t0;
        c1 = t1;
        c2 = t2;
        c3 = t3;
    }
    // The last round has no InvMixColumns.
    key -= 16;
    const u8* is = kInverseSbox.table;
    auto lastColumn = [is](u32 a, u32 b, u32 c, u32 d, const u8* k) {
        return ((u32)is[a & 0xFF] | (u32)is[(b >> 8) & 0xFF] << 8 | (u32)is[(c >> 16) & 0xFF] << 16 |
                (u32)is[d >> 24] << 24) ^
               loadColumn(k);
    };
    storeColumn(block, lastColumn(c0, c3, c2, c1, key));
    storeColumn(block + 4, lastColumn(c1, c0, c3, c2, key + 4));
    storeColumn(block + 8, lastColumn(c2, c1, c0, c3, key + 8));
    storeColumn(block + 12, lastColumn(c3, c2, c1, c0, key + 12));
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
    Ghash g;
    ghashSetKey(&g, loadBe64(h), loadBe64(h + 8));
    ghashFold(&g, x);
    storeBe64(out, g.yHigh);
    storeBe64(out + 8, g.yLow);
    return out;
}
