#include "SelfTests/Md5.h"

#include <cstring>

namespace {

constexpr u32 kInitial[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};

// Per-step shift amounts and the sine-derived constants of RFC 1321 section 3.4.
constexpr u8 kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                           5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                           4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                           6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr u32 kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline u32 rotateLeft(u32 x, u32 n) { return x << n | x >> (32 - n); }

}  // namespace

Md5Context* md5Init(Md5Context* context) {
    memset(context, 0, sizeof(*context));
    memcpy(context->state, kInitial, sizeof(kInitial));
    return context;
}

void md5Transform(u32* state, const u8* block) {
    u32 m[16];
    for (int i = 0; i < 16; i++)
        m[i] = (u32)block[4 * i] | (u32)block[4 * i + 1] << 8 | (u32)block[4 * i + 2] << 16 |
               (u32)block[4 * i + 3] << 24;
    u32 a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; i++) {
        u32 f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        u32 next = b + rotateLeft(a + f + kSine[i] + m[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void md5Update(Md5Context* context, const u8* data, u64 length) {
    if (!length) return;
    u64 pending = (context->bitCount / 8) % 64;
    context->bitCount += length * 8;
    if (pending) {
        u64 take = 64 - pending < length ? 64 - pending : length;
        memcpy(context->buffer + pending, data, take);
        data += take;
        length -= take;
        if (pending + take < 64) return;
        md5Transform(context->state, context->buffer);
    }
    for (; length >= 64; data += 64, length -= 64) md5Transform(context->state, data);
    if (length) memcpy(context->buffer, data, length);
}

u8* md5Final(u8* digest, Md5Context* context) {
    u64 bits = context->bitCount;
    u8 padding[72] = {0x80};
    u64 pending = (bits / 8) % 64;
    u64 padLength = pending < 56 ? 56 - pending : 120 - pending;
    for (int i = 0; i < 8; i++) padding[padLength + i] = (u8)(bits >> (8 * i));
    md5Update(context, padding, padLength + 8);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) digest[4 * i + j] = (u8)(context->state[i] >> (8 * j));
    md5Init(context);
    return digest;
}

u8* md5(u8* digest, const u8* data, u64 length) {
    Md5Context context;
    md5Update(md5Init(&context), data, length);
    return md5Final(digest, &context);
}

u8* hmacMd5(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength) {
    u8 keyBlock[64] = {};
    if (keyLength > 64) {
        md5(keyBlock, key, keyLength);
    } else if (keyLength) {
        memcpy(keyBlock, key, keyLength);
    }
    u8 pad[64];
    for (int i = 0; i < 64; i++) pad[i] = keyBlock[i] ^ 0x36;
    Md5Context context;
    md5Update(md5Init(&context), pad, 64);
    md5Update(&context, message, messageLength);
    u8 inner[16];
    md5Final(inner, &context);
    for (int i = 0; i < 64; i++) pad[i] = keyBlock[i] ^ 0x5C;
    md5Update(&context, pad, 64);
    md5Update(&context, inner, 16);
    return md5Final(mac, &context);
}
