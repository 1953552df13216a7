#include "Crypto/Sha.h"

#include <immintrin.h>

#include <cstring>
#include <utility>

#include "Crypto/CpuFeatures.h"

namespace {

constexpr u32 kSha1Initial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

constexpr u32 kSha256Initial[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                   0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};

constexpr u64 kSha384Initial[8] = {0xCBBB9D5DC1059ED8ull, 0x629A292A367CD507ull, 0x9159015A3070DD17ull,
                                   0x152FECD8F70E5939ull, 0x67332667FFC00B31ull, 0x8EB44A8768581511ull,
                                   0xDB0C2E0D64F98FA7ull, 0x47B5481DBEFA4FA4ull};

constexpr u64 kSha512Initial[8] = {0x6A09E667F3BCC908ull, 0xBB67AE8584CAA73Bull, 0x3C6EF372FE94F82Bull,
                                   0xA54FF53A5F1D36F1ull, 0x510E527FADE682D1ull, 0x9B05688C2B3E6C1Full,
                                   0x1F83D9ABFB41BD6Bull, 0x5BE0CD19137E2179ull};

constexpr u32 kSha256Rounds[64] = {
    0x428A2F98, 0x71374491, 0xB5C0FBCF, 0xE9B5DBA5, 0x3956C25B, 0x59F111F1, 0x923F82A4, 0xAB1C5ED5,
    0xD807AA98, 0x12835B01, 0x243185BE, 0x550C7DC3, 0x72BE5D74, 0x80DEB1FE, 0x9BDC06A7, 0xC19BF174,
    0xE49B69C1, 0xEFBE4786, 0x0FC19DC6, 0x240CA1CC, 0x2DE92C6F, 0x4A7484AA, 0x5CB0A9DC, 0x76F988DA,
    0x983E5152, 0xA831C66D, 0xB00327C8, 0xBF597FC7, 0xC6E00BF3, 0xD5A79147, 0x06CA6351, 0x14292967,
    0x27B70A85, 0x2E1B2138, 0x4D2C6DFC, 0x53380D13, 0x650A7354, 0x766A0ABB, 0x81C2C92E, 0x92722C85,
    0xA2BFE8A1, 0xA81A664B, 0xC24B8B70, 0xC76C51A3, 0xD192E819, 0xD6990624, 0xF40E3585, 0x106AA070,
    0x19A4C116, 0x1E376C08, 0x2748774C, 0x34B0BCB5, 0x391C0CB3, 0x4ED8AA4A, 0x5B9CCA4F, 0x682E6FF3,
    0x748F82EE, 0x78A5636F, 0x84C87814, 0x8CC70208, 0x90BEFFFA, 0xA4506CEB, 0xBEF9A3F7, 0xC67178F2};

constexpr u64 kSha512Rounds[80] = {
    0x428A2F98D728AE22ull, 0x7137449123EF65CDull, 0xB5C0FBCFEC4D3B2Full, 0xE9B5DBA58189DBBCull,
    0x3956C25BF348B538ull, 0x59F111F1B605D019ull, 0x923F82A4AF194F9Bull, 0xAB1C5ED5DA6D8118ull,
    0xD807AA98A3030242ull, 0x12835B0145706FBEull, 0x243185BE4EE4B28Cull, 0x550C7DC3D5FFB4E2ull,
    0x72BE5D74F27B896Full, 0x80DEB1FE3B1696B1ull, 0x9BDC06A725C71235ull, 0xC19BF174CF692694ull,
    0xE49B69C19EF14AD2ull, 0xEFBE4786384F25E3ull, 0x0FC19DC68B8CD5B5ull, 0x240CA1CC77AC9C65ull,
    0x2DE92C6F592B0275ull, 0x4A7484AA6EA6E483ull, 0x5CB0A9DCBD41FBD4ull, 0x76F988DA831153B5ull,
    0x983E5152EE66DFABull, 0xA831C66D2DB43210ull, 0xB00327C898FB213Full, 0xBF597FC7BEEF0EE4ull,
    0xC6E00BF33DA88FC2ull, 0xD5A79147930AA725ull, 0x06CA6351E003826Full, 0x142929670A0E6E70ull,
    0x27B70A8546D22FFCull, 0x2E1B21385C26C926ull, 0x4D2C6DFC5AC42AEDull, 0x53380D139D95B3DFull,
    0x650A73548BAF63DEull, 0x766A0ABB3C77B2A8ull, 0x81C2C92E47EDAEE6ull, 0x92722C851482353Bull,
    0xA2BFE8A14CF10364ull, 0xA81A664BBC423001ull, 0xC24B8B70D0F89791ull, 0xC76C51A30654BE30ull,
    0xD192E819D6EF5218ull, 0xD69906245565A910ull, 0xF40E35855771202Aull, 0x106AA07032BBD1B8ull,
    0x19A4C116B8D2D0C8ull, 0x1E376C085141AB53ull, 0x2748774CDF8EEB99ull, 0x34B0BCB5E19B48A8ull,
    0x391C0CB3C5C95A63ull, 0x4ED8AA4AE3418ACBull, 0x5B9CCA4F7763E373ull, 0x682E6FF3D6B2B8A3ull,
    0x748F82EE5DEFB2FCull, 0x78A5636F43172F60ull, 0x84C87814A1F0AB72ull, 0x8CC702081A6439ECull,
    0x90BEFFFA23631E28ull, 0xA4506CEBDE82BDE9ull, 0xBEF9A3F7B2C67915ull, 0xC67178F2E372532Bull,
    0xCA273ECEEA26619Cull, 0xD186B8C721C0C207ull, 0xEADA7DD6CDE0EB1Eull, 0xF57D4F7FEE6ED178ull,
    0x06F067AA72176FBAull, 0x0A637DC5A2C898A6ull, 0x113F9804BEF90DAEull, 0x1B710B35131C471Bull,
    0x28DB77F523047D84ull, 0x32CAAB7B40C72493ull, 0x3C9EBE0A15C9BEBCull, 0x431D67C49C100D4Cull,
    0x4CC5D4BECB3E42B6ull, 0x597F299CFC657E2Aull, 0x5FCB6FAB3AD6FAECull, 0x6C44198C4A475817ull};

inline u32 rotl32(u32 x, int n) { return (x << n) | (x >> (32 - n)); }
inline u32 rotr32(u32 x, int n) { return (x >> n) | (x << (32 - n)); }
inline u64 rotr64(u64 x, int n) { return (x >> n) | (x << (64 - n)); }

inline u32 loadBe32(const u8* p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }
inline u64 loadBe64(const u8* p) { return (u64)loadBe32(p) << 32 | loadBe32(p + 4); }
inline void storeBe32(u8* p, u32 v) {
    p[0] = (u8)(v >> 24);
    p[1] = (u8)(v >> 16);
    p[2] = (u8)(v >> 8);
    p[3] = (u8)v;
}
inline void storeBe64(u8* p, u64 v) {
    storeBe32(p, (u32)(v >> 32));
    storeBe32(p + 4, (u32)v);
}

// The block-buffer logic shared by all hashes: Context has state, bitCount and block, and Transform
// compresses a run of whole blocks of BlockSize bytes (state, data, count).
template <u64 BlockSize, typename Context, typename Transform>
void absorb(Context* context, const u8* data, u64 length, Transform transform) {
    if (length == 0) return;
    u64 used = (context->bitCount / 8) % BlockSize;
    context->bitCount += length * 8;
    if (used) {
        u64 take = BlockSize - used;
        if (take > length) take = length;
        memcpy(context->block + used, data, take);
        data += take;
        length -= take;
        if (used + take < BlockSize) return;
        transform(context->state, context->block, 1);
    }
    u64 blocks = length / BlockSize;
    if (blocks) {
        transform(context->state, data, blocks);
        data += blocks * BlockSize;
        length -= blocks * BlockSize;
    }
    if (length) memcpy(context->block, data, length);
}

// Pads a copy of the context (0x80, zeros, the big-endian bit count in a LengthBytes field) and
// leaves the final state in the copy.
template <u64 BlockSize, u64 LengthBytes, typename Context, typename Transform>
void finish(Context* copy, Transform transform) {
    u64 bits = copy->bitCount;
    u64 used = (bits / 8) % BlockSize;
    copy->block[used++] = 0x80;
    if (used > BlockSize - LengthBytes) {
        memset(copy->block + used, 0, BlockSize - used);
        transform(copy->state, copy->block, 1);
        used = 0;
    }
    memset(copy->block + used, 0, BlockSize - used);
    storeBe64(copy->block + BlockSize - 8, bits);
    transform(copy->state, copy->block, 1);
}

}  // namespace

void sha1Transform(u32* state, const u8* block) {
    u32 w[80];
    for (int i = 0; i < 16; i++) w[i] = loadBe32(block + 4 * i);
    for (int i = 16; i < 80; i++) w[i] = rotl32(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    u32 a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; i++) {
        u32 f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        u32 t = rotl32(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotl32(b, 30);
        b = a;
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

namespace {

void sha256TransformSoftware(u32* state, const u8* block) {
    u32 w[64];
    for (int i = 0; i < 16; i++) w[i] = loadBe32(block + 4 * i);
    for (int i = 16; i < 64; i++) {
        u32 s0 = rotr32(w[i - 15], 7) ^ rotr32(w[i - 15], 18) ^ (w[i - 15] >> 3);
        u32 s1 = rotr32(w[i - 2], 17) ^ rotr32(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    u32 a = state[0], b = state[1], c = state[2], d = state[3];
    u32 e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; i++) {
        u32 t1 = h + (rotr32(e, 6) ^ rotr32(e, 11) ^ rotr32(e, 25)) + ((e & f) ^ (~e & g)) + kSha256Rounds[i] + w[i];
        u32 t2 = (rotr32(a, 2) ^ rotr32(a, 13) ^ rotr32(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

// SHA-256 on the processor's SHA extensions: the state as the two registers ABEF and CDGH, four
// rounds per group of the schedule, two per instruction.
#define SHA_TARGET __attribute__((target("sha,sse4.1")))

// One group of four rounds (g = 0 .. 15) with its schedule work: the words of group g + 1 get
// their second message step, those of group g + 3 their first.
template <int G>
SHA_TARGET inline void sha256Group(__m128i& state0, __m128i& state1, __m128i* m) {
    __m128i& current = m[G % 4];
    __m128i message = _mm_add_epi32(current, _mm_loadu_si128((const __m128i*)(kSha256Rounds + 4 * G)));
    state1 = _mm_sha256rnds2_epu32(state1, state0, message);
    if constexpr (G >= 3 && G <= 14) {
        __m128i& next = m[(G + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(current, m[(G + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, current);
    }
    message = _mm_shuffle_epi32(message, 0x0E);
    state0 = _mm_sha256rnds2_epu32(state0, state1, message);
    if constexpr (G >= 1 && G <= 12) m[(G + 3) % 4] = _mm_sha256msg1_epu32(m[(G + 3) % 4], current);
}

template <int... G>
SHA_TARGET inline void sha256Groups(__m128i& state0, __m128i& state1, __m128i* m, std::integer_sequence<int, G...>) {
    (sha256Group<G>(state0, state1, m), ...);
}

SHA_TARGET void sha256TransformHardware(u32* state, const u8* block, u64 blocks) {
    const __m128i byteOrder = _mm_set_epi64x(0x0C0D0E0F08090A0Bll, 0x0405060700010203ll);
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)state), 0xB1);           // CDAB
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)(state + 4)), 0x1B);  // EFGH
    __m128i state0 = _mm_alignr_epi8(t, state1, 8);                                          // ABEF
    state1 = _mm_blend_epi16(state1, t, 0xF0);                                               // CDGH
    for (u64 b = 0; b < blocks; b++, block += 64) {
        __m128i savedAbef = state0, savedCdgh = state1;
        __m128i m[4];
        for (int i = 0; i < 4; i++)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(block + 16 * i)), byteOrder);
        sha256Groups(state0, state1, m, std::make_integer_sequence<int, 16>{});
        state0 = _mm_add_epi32(state0, savedAbef);
        state1 = _mm_add_epi32(state1, savedCdgh);
    }
    t = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);   // DCHG
    state0 = _mm_blend_epi16(t, state1, 0xF0);  // DCBA
    state1 = _mm_alignr_epi8(state1, t, 8);     // HGFE
    _mm_storeu_si128((__m128i*)state, state0);
    _mm_storeu_si128((__m128i*)(state + 4), state1);
}

void sha256Blocks(u32* state, const u8* block, u64 blocks) {
    if (cpuHasShaInstructions()) return sha256TransformHardware(state, block, blocks);
    for (u64 b = 0; b < blocks; b++) sha256TransformSoftware(state, block + 64 * b);
}

void sha1Blocks(u32* state, const u8* block, u64 blocks) {
    for (u64 b = 0; b < blocks; b++) sha1Transform(state, block + 64 * b);
}

void sha512Blocks(u64* state, const u8* block, u64 blocks) {
    for (u64 b = 0; b < blocks; b++) sha512Transform(state, block + 128 * b);
}

}  // namespace

void sha256Transform(u32* state, const u8* block) { sha256Blocks(state, block, 1); }

void sha512Transform(u64* state, const u8* block) {
    u64 w[80];
    for (int i = 0; i < 16; i++) w[i] = loadBe64(block + 8 * i);
    for (int i = 16; i < 80; i++) {
        u64 s0 = rotr64(w[i - 15], 1) ^ rotr64(w[i - 15], 8) ^ (w[i - 15] >> 7);
        u64 s1 = rotr64(w[i - 2], 19) ^ rotr64(w[i - 2], 61) ^ (w[i - 2] >> 6);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    u64 a = state[0], b = state[1], c = state[2], d = state[3];
    u64 e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 80; i++) {
        u64 t1 = h + (rotr64(e, 14) ^ rotr64(e, 18) ^ rotr64(e, 41)) + ((e & f) ^ (~e & g)) + kSha512Rounds[i] + w[i];
        u64 t2 = (rotr64(a, 28) ^ rotr64(a, 34) ^ rotr64(a, 39)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

Sha1Context* sha1Init(Sha1Context* context) {
    memset(context, 0, sizeof(*context));
    memcpy(context->state, kSha1Initial, sizeof(kSha1Initial));
    return context;
}

Sha256Context* sha256Init(Sha256Context* context) {
    memset(context, 0, sizeof(*context));
    memcpy(context->state, kSha256Initial, sizeof(kSha256Initial));
    return context;
}

Sha384Context* sha384Init(Sha384Context* context) {
    memset(context, 0, sizeof(*context));
    memcpy(context->state, kSha384Initial, sizeof(kSha384Initial));
    return context;
}

Sha512Context* sha512Init(Sha512Context* context) {
    memset(context, 0, sizeof(*context));
    memcpy(context->state, kSha512Initial, sizeof(kSha512Initial));
    return context;
}

void sha1Update(Sha1Context* context, const u8* data, u64 length) {
    absorb<64>(context, data, length, sha1Blocks);
}

void sha256Update(Sha256Context* context, const u8* data, u64 length) {
    absorb<64>(context, data, length, sha256Blocks);
}

void sha384Update(Sha384Context* context, const u8* data, u64 length) {
    absorb<128>(context, data, length, sha512Blocks);
}

void sha512Update(Sha512Context* context, const u8* data, u64 length) {
    absorb<128>(context, data, length, sha512Blocks);
}

u8* sha1Final(u8* digest, const Sha1Context* context) {
    Sha1Context copy = *context;
    finish<64, 8>(&copy, sha1Blocks);
    for (int i = 0; i < 5; i++) storeBe32(digest + 4 * i, copy.state[i]);
    return digest;
}

u8* sha256Final(u8* digest, const Sha256Context* context) {
    Sha256Context copy = *context;
    finish<64, 8>(&copy, sha256Blocks);
    for (int i = 0; i < 8; i++) storeBe32(digest + 4 * i, copy.state[i]);
    return digest;
}

u8* sha384Final(u8* digest, const Sha384Context* context) {
    Sha384Context copy = *context;
    finish<128, 16>(&copy, sha512Blocks);  // the upper eight bytes of the length field stay zero
    for (int i = 0; i < 6; i++) storeBe64(digest + 8 * i, copy.state[i]);
    return digest;
}

u8* sha512Final(u8* digest, const Sha512Context* context) {
    Sha512Context copy = *context;
    finish<128, 16>(&copy, sha512Blocks);
    for (int i = 0; i < 8; i++) storeBe64(digest + 8 * i, copy.state[i]);
    return digest;
}

u8* sha1(u8* digest, const u8* data, u64 length) {
    Sha1Context context;
    sha1Update(sha1Init(&context), data, length);
    return sha1Final(digest, &context);
}

u8* sha256(u8* digest, const u8* data, u64 length) {
    Sha256Context context;
    sha256Update(sha256Init(&context), data, length);
    return sha256Final(digest, &context);
}

u8* sha384(u8* digest, const u8* data, u64 length) {
    Sha384Context context;
    sha384Update(sha384Init(&context), data, length);
    return sha384Final(digest, &context);
}

u8* sha512(u8* digest, const u8* data, u64 length) {
    Sha512Context context;
    sha512Update(sha512Init(&context), data, length);
    return sha512Final(digest, &context);
}

u32 signatureHashLength(u32 hash) {
    switch (hash) {
        case SignatureHashSha256: return (u32)kSha256DigestSize;
        case SignatureHashSha384: return (u32)kSha384DigestSize;
        case SignatureHashSha512: return (u32)kSha512DigestSize;
        default: return 0;
    }
}

u32 signatureHashBytes(u8* digest, u32 hash, const u8* data, u64 length) {
    switch (hash) {
        case SignatureHashSha256: sha256(digest, data, length); break;
        case SignatureHashSha384: sha384(digest, data, length); break;
        case SignatureHashSha512: sha512(digest, data, length); break;
        default: return 0;
    }
    return signatureHashLength(hash);
}
