#include "Crypto/Hmac.h"

#include <cstring>

namespace {

// The HMACs differ only in their hash; this table of the hash's pieces lets one body serve
// them all (and a further hash of the family later).
template <typename Hash>
struct HmacOf;

template <>
struct HmacOf<Sha1Context> {
    static constexpr u64 blockSize = 64;
    static constexpr u64 digestSize = kSha1DigestSize;
    static void init(Sha1Context* c) { sha1Init(c); }
    static void update(Sha1Context* c, const u8* d, u64 n) { sha1Update(c, d, n); }
    static void final(u8* out, const Sha1Context* c) { sha1Final(out, c); }
};

template <>
struct HmacOf<Sha256Context> {
    static constexpr u64 blockSize = 64;
    static constexpr u64 digestSize = kSha256DigestSize;
    static void init(Sha256Context* c) { sha256Init(c); }
    static void update(Sha256Context* c, const u8* d, u64 n) { sha256Update(c, d, n); }
    static void final(u8* out, const Sha256Context* c) { sha256Final(out, c); }
};

template <>
struct HmacOf<Sha384Context> {
    static constexpr u64 blockSize = 128;
    static constexpr u64 digestSize = kSha384DigestSize;
    static void init(Sha384Context* c) { sha384Init(c); }
    static void update(Sha384Context* c, const u8* d, u64 n) { sha384Update(c, d, n); }
    static void final(u8* out, const Sha384Context* c) { sha384Final(out, c); }
};

// SHA-512 shares its context type with SHA-384, so it is told apart by a type of its own.
struct Sha512Hash : Sha512Context {};

template <>
struct HmacOf<Sha512Hash> {
    static constexpr u64 blockSize = 128;
    static constexpr u64 digestSize = kSha512DigestSize;
    static void init(Sha512Context* c) { sha512Init(c); }
    static void update(Sha512Context* c, const u8* d, u64 n) { sha512Update(c, d, n); }
    static void final(u8* out, const Sha512Context* c) { sha512Final(out, c); }
};

template <typename Hash, typename Context>
Context* hmacInit(Context* context, const u8* key, u64 keyLength) {
    using H = HmacOf<Hash>;
    memset(context->keyBlock, 0, sizeof(context->keyBlock));
    if (keyLength > H::blockSize) {
        Hash keyHash;
        H::init(&keyHash);
        H::update(&keyHash, key, keyLength);
        H::final(context->keyBlock, &keyHash);
    } else if (keyLength) {
        memcpy(context->keyBlock, key, keyLength);
    }
    u8 pad[H::blockSize];
    for (u64 i = 0; i < H::blockSize; i++) pad[i] = context->keyBlock[i] ^ 0x36;
    H::init(&context->inner);
    H::update(&context->inner, pad, H::blockSize);
    return context;
}

template <typename Hash, typename Context>
u8* hmacFinal(u8* mac, const Context* context) {
    using H = HmacOf<Hash>;
    u8 innerDigest[H::digestSize];
    H::final(innerDigest, &context->inner);
    u8 pad[H::blockSize];
    for (u64 i = 0; i < H::blockSize; i++) pad[i] = context->keyBlock[i] ^ 0x5C;
    Hash outer;
    H::init(&outer);
    H::update(&outer, pad, H::blockSize);
    H::update(&outer, innerDigest, H::digestSize);
    H::final(mac, &outer);
    return mac;
}

template <typename Hash, typename Context>
void hkdfExpand(const u8* prk, const u8* info, u64 infoLength, u8* out, u64 outLength) {
    using H = HmacOf<Hash>;
    if (outLength > 255 * H::digestSize) outLength = 255 * H::digestSize;
    Context keyed;
    hmacInit<Hash>(&keyed, prk, H::digestSize);
    u8 block[H::digestSize];
    u64 written = 0;
    for (u32 counter = 1; written < outLength; counter++) {
        Context step = keyed;
        if (counter > 1) H::update(&step.inner, block, H::digestSize);
        if (infoLength) H::update(&step.inner, info, infoLength);
        u8 counterByte = (u8)counter;
        H::update(&step.inner, &counterByte, 1);
        hmacFinal<Hash>(block, &step);
        u64 take = outLength - written < H::digestSize ? outLength - written : H::digestSize;
        memcpy(out + written, block, take);
        written += take;
    }
}

// HkdfLabel: u16 length, u8 label length, "tls13 " label, u8 context length, context; what does not
// fit the 514-byte buffer is left out.
u64 buildHkdfLabel(u8* buffer, const char* label, const u8* context, u8 contextLength, u64 outLength) {
    constexpr u64 capacity = 514;
    static const char prefix[] = "tls13 ";
    u64 labelLength = strlen(label);
    if (labelLength > 255 - 6) labelLength = 255 - 6;
    u64 n = 0;
    buffer[n++] = (u8)(outLength >> 8);
    buffer[n++] = (u8)outLength;
    buffer[n++] = (u8)(6 + labelLength);
    memcpy(buffer + n, prefix, 6);
    n += 6;
    memcpy(buffer + n, label, labelLength);
    n += labelLength;
    buffer[n++] = contextLength;
    u64 room = capacity - n;
    u64 take = contextLength < room ? contextLength : room;
    if (take) memcpy(buffer + n, context, take);
    return n + take;
}

}  // namespace

HmacSha1Context* hmacSha1Init(HmacSha1Context* context, const u8* key, u64 keyLength) {
    return hmacInit<Sha1Context>(context, key, keyLength);
}
HmacSha256Context* hmacSha256Init(HmacSha256Context* context, const u8* key, u64 keyLength) {
    return hmacInit<Sha256Context>(context, key, keyLength);
}
HmacSha384Context* hmacSha384Init(HmacSha384Context* context, const u8* key, u64 keyLength) {
    return hmacInit<Sha384Context>(context, key, keyLength);
}

HmacSha512Context* hmacSha512Init(HmacSha512Context* context, const u8* key, u64 keyLength) {
    return hmacInit<Sha512Hash>(context, key, keyLength);
}

u8* hmacSha1Final(u8* mac, const HmacSha1Context* context) { return hmacFinal<Sha1Context>(mac, context); }
u8* hmacSha256Final(u8* mac, const HmacSha256Context* context) { return hmacFinal<Sha256Context>(mac, context); }
u8* hmacSha384Final(u8* mac, const HmacSha384Context* context) { return hmacFinal<Sha384Context>(mac, context); }
u8* hmacSha512Final(u8* mac, const HmacSha512Context* context) { return hmacFinal<Sha512Hash>(mac, context); }

u8* hmacSha256(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength) {
    HmacSha256Context context;
    hmacSha256Init(&context, key, keyLength);
    sha256Update(&context.inner, message, messageLength);
    return hmacSha256Final(mac, &context);
}

u8* hmacSha384(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength) {
    HmacSha384Context context;
    hmacSha384Init(&context, key, keyLength);
    sha384Update(&context.inner, message, messageLength);
    return hmacSha384Final(mac, &context);
}

u8* hmacSha512(u8* mac, const u8* key, u64 keyLength, const u8* message, u64 messageLength) {
    HmacSha512Context context;
    hmacSha512Init(&context, key, keyLength);
    sha512Update(&context.inner, message, messageLength);
    return hmacSha512Final(mac, &context);
}

void hkdfExpandSha256(const u8* prk, const u8* info, u64 infoLength, u8* out, u64 outLength) {
    hkdfExpand<Sha256Context, HmacSha256Context>(prk, info, infoLength, out, outLength);
}

void hkdfExpandSha384(const u8* prk, const u8* info, u64 infoLength, u8* out, u64 outLength) {
    hkdfExpand<Sha384Context, HmacSha384Context>(prk, info, infoLength, out, outLength);
}

void hkdfExpandLabelSha256(const u8* secret, const char* label, const u8* context, u8 contextLength, u8* out,
                           u64 outLength) {
    u8 buffer[514];
    u64 length = buildHkdfLabel(buffer, label, context, contextLength, outLength);
    hkdfExpandSha256(secret, buffer, length, out, outLength);
}

void hkdfExpandLabelSha384(const u8* secret, const char* label, const u8* context, u8 contextLength, u8* out,
                           u64 outLength) {
    u8 buffer[514];
    u64 length = buildHkdfLabel(buffer, label, context, contextLength, outLength);
    hkdfExpandSha384(secret, buffer, length, out, outLength);
}

i32 constantTimeEqual(const u8* a, const u8* b, u64 length) {
    u32 difference = 0;
    for (u64 i = 0; i < length; i++) difference |= (u32)(a[i] ^ b[i]);
    // (difference - 1) >> 31 is 1 exactly when difference is 0, without a branch on the data.
    return (i32)(((difference - 1) >> 31) & 1);
}
