// AES and GCM on the processor's AES-NI and PCLMULQDQ instructions. Each function carries the
// instruction sets as a target attribute, so the rest of the program builds for any x86-64 and
// the dispatcher in Aes.cpp calls these only where the CPU has them.
#include <immintrin.h>

#include <cstring>

#include "Crypto/AesInternal.h"
#include "Crypto/GhashReduction.h"

#define AES_TARGET __attribute__((target("aes,pclmul,ssse3,sse4.1")))

namespace {

struct RoundKeys {
    __m128i k[15];
    int rounds;
};

AES_TARGET inline void loadKeys(RoundKeys* out, const AesKeySchedule* schedule) {
    out->rounds = schedule->rounds;
    for (int i = 0; i <= schedule->rounds; i++)
        out->k[i] = _mm_loadu_si128((const __m128i*)(schedule->roundKeys + 16 * i));
}

// The equivalent inverse cipher's keys: reversed order, InvMixColumns on the middle ones.
AES_TARGET inline void loadDecryptionKeys(RoundKeys* out, const AesKeySchedule* schedule) {
    int rounds = schedule->rounds;
    out->rounds = rounds;
    out->k[0] = _mm_loadu_si128((const __m128i*)(schedule->roundKeys + 16 * rounds));
    for (int i = 1; i < rounds; i++)
        out->k[i] = _mm_aesimc_si128(_mm_loadu_si128((const __m128i*)(schedule->roundKeys + 16 * (rounds - i))));
    out->k[rounds] = _mm_loadu_si128((const __m128i*)schedule->roundKeys);
}

AES_TARGET inline __m128i encrypt(__m128i b, const RoundKeys* k) {
    b = _mm_xor_si128(b, k->k[0]);
    for (int r = 1; r < k->rounds; r++) b = _mm_aesenc_si128(b, k->k[r]);
    return _mm_aesenclast_si128(b, k->k[k->rounds]);
}

AES_TARGET inline __m128i decrypt(__m128i b, const RoundKeys* k) {
    b = _mm_xor_si128(b, k->k[0]);
    for (int r = 1; r < k->rounds; r++) b = _mm_aesdec_si128(b, k->k[r]);
    return _mm_aesdeclast_si128(b, k->k[k->rounds]);
}

AES_TARGET inline void decrypt4(__m128i* b, const RoundKeys* k) {
    for (int i = 0; i < 4; i++) b[i] = _mm_xor_si128(b[i], k->k[0]);
    for (int r = 1; r < k->rounds; r++)
        for (int i = 0; i < 4; i++) b[i] = _mm_aesdec_si128(b[i], k->k[r]);
    for (int i = 0; i < 4; i++) b[i] = _mm_aesdeclast_si128(b[i], k->k[k->rounds]);
}

// GHASH works on byte-reversed blocks: the field's polynomial bits then run in the register's order
// except for a shift by one, which the reduction absorbs.
AES_TARGET inline __m128i byteReverse(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}

// The unreduced 256-bit carry-less product a b, accumulated into (low, high).
AES_TARGET inline void multiplyWide(__m128i a, __m128i b, __m128i* low, __m128i* high) {
    __m128i lo = _mm_clmulepi64_si128(a, b, 0x00);
    __m128i mid = _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x10), _mm_clmulepi64_si128(a, b, 0x01));
    __m128i hi = _mm_clmulepi64_si128(a, b, 0x11);
    *low = _mm_xor_si128(*low, _mm_xor_si128(lo, _mm_slli_si128(mid, 8)));
    *high = _mm_xor_si128(*high, _mm_xor_si128(hi, _mm_srli_si128(mid, 8)));
}

AES_TARGET inline __m128i gfMultiply(__m128i a, __m128i b) {
    __m128i low = _mm_setzero_si128(), high = _mm_setzero_si128();
    multiplyWide(a, b, &low, &high);
    return ghashReduce(low, high);
}

struct GhashKeys {
    __m128i power[8];  // H^1 .. H^8, byte-reversed
};

// y = (y + x[0]) H^n + x[1] H^(n-1) + ... + x[n-1] H for n blocks (byte-reversed), one reduction.
AES_TARGET inline __m128i ghashBlocks(__m128i y, const __m128i* x, int n, const GhashKeys* keys) {
    __m128i low = _mm_setzero_si128(), high = _mm_setzero_si128();
    multiplyWide(_mm_xor_si128(y, x[0]), keys->power[n - 1], &low, &high);
    for (int i = 1; i < n; i++) multiplyWide(x[i], keys->power[n - 1 - i], &low, &high);
    return ghashReduce(low, high);
}

AES_TARGET inline __m128i loadPartial(const u8* data, i64 length) {
    u8 block[16] = {};
    memcpy(block, data, (size_t)length);
    return _mm_loadu_si128((const __m128i*)block);
}

AES_TARGET __m128i ghashBytes(__m128i y, const u8* data, i64 length, const GhashKeys* keys) {
    while (length >= 128) {
        __m128i x[8];
        for (int i = 0; i < 8; i++) x[i] = byteReverse(_mm_loadu_si128((const __m128i*)(data + 16 * i)));
        y = ghashBlocks(y, x, 8, keys);
        data += 128;
        length -= 128;
    }
    while (length >= 16) {
        __m128i x = byteReverse(_mm_loadu_si128((const __m128i*)data));
        y = ghashBlocks(y, &x, 1, keys);
        data += 16;
        length -= 16;
    }
    if (length > 0) {
        __m128i x = byteReverse(loadPartial(data, length));
        y = ghashBlocks(y, &x, 1, keys);
    }
    return y;
}

AES_TARGET inline __m128i counterBlock(__m128i base, u32 counter) {
    return _mm_insert_epi32(base, (int)__builtin_bswap32(counter), 3);
}

}  // namespace

AES_TARGET void aesHardwareEncryptBlock(u8* block, const AesKeySchedule* schedule) {
    RoundKeys k{};
    loadKeys(&k, schedule);
    _mm_storeu_si128((__m128i*)block, encrypt(_mm_loadu_si128((const __m128i*)block), &k));
}

AES_TARGET void aesHardwareDecryptBlock(u8* block, const AesKeySchedule* schedule) {
    RoundKeys k{};
    loadDecryptionKeys(&k, schedule);
    _mm_storeu_si128((__m128i*)block, decrypt(_mm_loadu_si128((const __m128i*)block), &k));
}

AES_TARGET void aesHardwareEncryptCbc(const u8* input, u8* output, i64 blocks, u8* iv,
                                      const AesKeySchedule* schedule) {
    RoundKeys k{};
    loadKeys(&k, schedule);
    __m128i chain = _mm_loadu_si128((const __m128i*)iv);
    for (i64 b = 0; b < blocks; b++) {
        chain = encrypt(_mm_xor_si128(chain, _mm_loadu_si128((const __m128i*)(input + 16 * b))), &k);
        _mm_storeu_si128((__m128i*)(output + 16 * b), chain);
    }
    _mm_storeu_si128((__m128i*)iv, chain);
}

AES_TARGET void aesHardwareDecryptCbc(const u8* input, u8* output, i64 blocks, const u8* iv,
                                      const AesKeySchedule* schedule) {
    RoundKeys k{};
    loadDecryptionKeys(&k, schedule);
    __m128i chain = _mm_loadu_si128((const __m128i*)iv);
    i64 b = 0;
    for (; b + 4 <= blocks; b += 4) {
        __m128i c[4], p[4];
        for (int i = 0; i < 4; i++) c[i] = p[i] = _mm_loadu_si128((const __m128i*)(input + 16 * (b + i)));
        decrypt4(p, &k);
        for (int i = 0; i < 4; i++) {
            _mm_storeu_si128((__m128i*)(output + 16 * (b + i)), _mm_xor_si128(p[i], chain));
            chain = c[i];
        }
    }
    for (; b < blocks; b++) {
        __m128i c = _mm_loadu_si128((const __m128i*)(input + 16 * b));
        _mm_storeu_si128((__m128i*)(output + 16 * b), _mm_xor_si128(decrypt(c, &k), chain));
        chain = c;
    }
}

AES_TARGET void aesHardwareGcm(u8* tag, bool decrypt, const u8* input, u8* output, i64 length, const u8* iv,
                               const u8* aad, i64 aadLength, const AesKeySchedule* schedule) {
    RoundKeys k{};
    loadKeys(&k, schedule);
    if (length < 0) length = 0;
    // H^1 .. H^16 (H^9 and up only for the 512-bit path), as a tree of products so that they overlap.
    bool wide = length >= 256 && aesWideInUse();
    __m128i power[16];
    power[0] = byteReverse(encrypt(_mm_setzero_si128(), &k));
    power[1] = gfMultiply(power[0], power[0]);
    power[2] = gfMultiply(power[1], power[0]);
    power[3] = gfMultiply(power[1], power[1]);
    for (int i = 4; i < (wide ? 16 : 8); i++) power[i] = gfMultiply(power[i < 8 ? 3 : 7], power[i - (i < 8 ? 4 : 8)]);
    GhashKeys keys;
    for (int i = 0; i < 8; i++) keys.power[i] = power[i];
    __m128i y = _mm_setzero_si128();
    if (aadLength > 0) y = ghashBytes(y, aad, aadLength, &keys);
    u8 ivBlock[16] = {};
    memcpy(ivBlock, iv, 12);
    __m128i base = _mm_loadu_si128((const __m128i*)ivBlock);
    u32 counter = 2;
    i64 offset = 0;
    if (wide) {
        u8 hash[16], powers[16 * 16];
        _mm_storeu_si128((__m128i*)hash, y);
        for (int i = 0; i < 16; i++) _mm_storeu_si128((__m128i*)(powers + 16 * i), power[i]);
        offset = aesWideGcmBulk(hash, &counter, decrypt, input, output, length, ivBlock, schedule, powers);
        y = _mm_loadu_si128((const __m128i*)hash);
    }
    // Eight blocks at a time with the hash one batch behind: while a batch's counter blocks go
    // through the rounds, the previous batch's eight blocks are multiplied by H^8 .. H^1 between the
    // rounds (the sums kept apart and reduced once), so both units stay busy.
    __m128i pending[8];
    bool havePending = false;
    for (; offset + 128 <= length; offset += 128) {
        __m128i stream[8];
        for (int i = 0; i < 8; i++) stream[i] = _mm_xor_si128(counterBlock(base, counter++), k.k[0]);
        __m128i low = _mm_setzero_si128(), middle = _mm_setzero_si128(), high = _mm_setzero_si128();
        for (int r = 1; r < k.rounds; r++) {
            for (int i = 0; i < 8; i++) stream[i] = _mm_aesenc_si128(stream[i], k.k[r]);
            if (havePending && r <= 8) {
                __m128i x = r == 1 ? _mm_xor_si128(pending[0], y) : pending[r - 1];
                __m128i h = keys.power[8 - r];
                low = _mm_xor_si128(low, _mm_clmulepi64_si128(x, h, 0x00));
                high = _mm_xor_si128(high, _mm_clmulepi64_si128(x, h, 0x11));
                middle = _mm_xor_si128(middle, _mm_xor_si128(_mm_clmulepi64_si128(x, h, 0x01),
                                                             _mm_clmulepi64_si128(x, h, 0x10)));
            }
        }
        if (havePending) {
            y = ghashReduce(_mm_xor_si128(low, _mm_slli_si128(middle, 8)),
                            _mm_xor_si128(high, _mm_srli_si128(middle, 8)));
        }
        for (int i = 0; i < 8; i++) {
            __m128i data = _mm_loadu_si128((const __m128i*)(input + offset + 16 * i));
            __m128i result = _mm_xor_si128(_mm_aesenclast_si128(stream[i], k.k[k.rounds]), data);
            _mm_storeu_si128((__m128i*)(output + offset + 16 * i), result);
            pending[i] = byteReverse(decrypt ? data : result);
        }
        havePending = true;
    }
    if (havePending) y = ghashBlocks(y, pending, 8, &keys);
    for (; offset < length; offset += 16) {
        i64 n = length - offset < 16 ? length - offset : 16;
        __m128i data = n == 16 ? _mm_loadu_si128((const __m128i*)(input + offset)) : loadPartial(input + offset, n);
        __m128i result = _mm_xor_si128(data, encrypt(counterBlock(base, counter++), &k));
        u8 bytes[16];
        _mm_storeu_si128((__m128i*)bytes, result);
        memset(bytes + n, 0, (size_t)(16 - n));  // the hash sees the ciphertext zero-padded
        memcpy(output + offset, bytes, (size_t)n);
        __m128i hashed = byteReverse(decrypt ? data : _mm_loadu_si128((const __m128i*)bytes));
        y = ghashBlocks(y, &hashed, 1, &keys);
    }
    // The lengths block (two big-endian 64-bit bit counts) byte-reversed as a whole: the aad's count
    // in the high half.
    __m128i lengths =
        _mm_set_epi64x((long long)((u64)(aadLength > 0 ? aadLength : 0) * 8), (long long)((u64)length * 8));
    y = ghashBlocks(y, &lengths, 1, &keys);
    __m128i mask = encrypt(counterBlock(base, 1), &k);
    _mm_storeu_si128((__m128i*)tag, _mm_xor_si128(byteReverse(y), mask));
}
