#include "Network/SecureLinkFormat.h"

#include "Crypto/Aes.h"
#include "Crypto/Hmac.h"
#include "Crypto/Sha.h"
#include "Crypto/Wipe.h"
#include "Crypto/X25519.h"

#include <cstring>

u16 readLinkU16(const u8* bytes) { return (u16)(bytes[0] | bytes[1] << 8); }
u32 readLinkU32(const u8* bytes) { return (u32)readLinkU16(bytes) | (u32)readLinkU16(bytes + 2) << 16; }
u64 readLinkU64(const u8* bytes) { return (u64)readLinkU32(bytes) | (u64)readLinkU32(bytes + 4) << 32; }

u32 deriveSecureLinkKeys(SecureLinkKeys* out, const u8* privateKey, const u8* peerPublicKey, const u8* hostPublicKey,
                         const u8* clientPublicKey, const u8* hostNonce) {
    *out = SecureLinkKeys{};
    u8 scalar[32];
    u8 shared[32];
    std::memcpy(scalar, privateKey, 32);
    x25519(shared, scalar, peerPublicKey);
    u8 any = 0;
    for (u8 byte : shared) any |= byte;
    u8 digest[32];
    Sha256Context context;
    sha256Init(&context);
    sha256Update(&context, shared, 32);
    sha256Update(&context, hostPublicKey, 32);
    sha256Update(&context, clientPublicKey, 32);
    sha256Update(&context, hostNonce, kSecureLinkHostNonceBytes);
    sha256Final(digest, &context);
    std::memcpy(out->cipherKey, digest, 16);
    std::memcpy(out->macKey, digest + 16, 16);
    out->ready = any != 0;
    secureWipe(scalar, sizeof(scalar));
    secureWipe(shared, sizeof(shared));
    secureWipe(digest, sizeof(digest));
    if (!out->ready) *out = SecureLinkKeys{};
    return out->ready;
}

namespace {

// The MAC of a sealed part: HMAC-SHA-256 under the MAC key over the stream byte, then the datagram's
// bytes before the MAC, cut to 16 bytes.
void sealedPartMac(u8* mac, const SecureLinkKeys* keys, u8 stream, const u8* data, i64 length) {
    HmacSha256Context context;
    hmacSha256Init(&context, keys->macKey, 16);
    sha256Update(&context.inner, &stream, 1);
    sha256Update(&context.inner, data, (u64)length);
    hmacSha256Final(mac, &context);
    secureWipe(&context, sizeof(context));
}

}  // namespace

bool sealSecureLinkPart(ByteWriter* writer, u8 type, u8 stream, u64 counter, const SecureLinkKeys* keys,
                        const u8* inner, i64 innerLength) {
    i64 padding = 16 - innerLength % 16;
    i64 cipherLength = innerLength + padding;
    if (!keys->ready || innerLength < 0 || writer->length + 8 + 16 + cipherLength + 16 > writer->capacity) {
        return false;
    }
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, 16, keys->cipherKey);
    appendU64Le(counter, writer);
    u8 iv[16] = {type, stream};
    for (i32 i = 0; i < 8; i++) iv[2 + i] = (u8)(counter >> (8 * i));
    aesEncryptBlock(iv, &schedule);
    appendBytes(iv, 16, writer);
    u8* cipher = writer->data + writer->length;
    std::memcpy(cipher, inner, (size_t)innerLength);
    std::memset(cipher + innerLength, (int)padding, (size_t)padding);
    u8 work[16];
    encryptAesCbc(work, cipher, cipher, cipherLength, iv, &schedule);
    writer->length += cipherLength;
    u8 mac[32];
    sealedPartMac(mac, keys, stream, writer->data, writer->length);
    appendBytes(mac, 16, writer);
    secureWipe(&schedule, sizeof(schedule));
    return !writer->overflow;
}

bool takeKeyExchange(KeyExchangeBudget* budget, u64 now, i32 limit) {
    if (budget->frameTime != now) *budget = KeyExchangeBudget{now, 0};
    if (budget->done >= limit) return false;
    budget->done++;
    return true;
}

bool isFreshCounter(const SecureLinkReplayWindow* window, u64 counter) {
    if (!window->started || counter > window->highest) return true;
    u64 behind = window->highest - counter;
    return behind < 64 && !(window->seen >> behind & 1);
}

void acceptReplayCounter(SecureLinkReplayWindow* window, u64 counter) {
    if (!window->started) {
        window->started = 1;
        window->highest = counter;
        window->seen = 1;
    } else if (counter > window->highest) {
        u64 shift = counter - window->highest;
        window->seen = shift >= 64 ? 1 : window->seen << shift | 1;
        window->highest = counter;
    } else {
        window->seen |= (u64)1 << (window->highest - counter);
    }
}

bool openSecureLinkPart(u8* data, i64 length, i64 header, u8 stream, const SecureLinkKeys* keys,
                        const SecureLinkReplayWindow* window, u8** inner, i64* innerLength, u64* counter) {
    i64 cipherLength = length - header - 8 - 16 - 16;
    if (!keys->ready || cipherLength < 16 || cipherLength % 16 != 0) return false;
    u8 mac[32];
    sealedPartMac(mac, keys, stream, data, length - 16);
    if (!constantTimeEqual(mac, data + length - 16, 16)) return false;
    *counter = readLinkU64(data + header);
    if (!isFreshCounter(window, *counter)) return false;
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, 16, keys->cipherKey);
    u8* cipher = data + header + 24;
    decryptAesCbc(cipher, cipher, cipherLength, data + header + 8, &schedule);
    secureWipe(&schedule, sizeof(schedule));
    u8 padding = cipher[cipherLength - 1];
    if (padding == 0 || padding > 16) return false;
    for (i64 i = cipherLength - padding; i < cipherLength; i++) {
        if (cipher[i] != padding) return false;
    }
    *inner = cipher;
    *innerLength = cipherLength - padding;
    return true;
}

void secureLinkControlProof(u8* proof, const u8* password, const u8* hostPublicKey, const u8* clientPublicKey,
                            const u8* hostNonce, u8 stream) {
    u8 any = 0;
    for (i32 i = 0; i < 8; i++) any |= password[i];
    if (!any) {
        std::memset(proof, 0, kSecureLinkProofBytes);
        return;
    }
    static const char kLabel[] = "orvik control proof";
    HmacSha256Context context;
    hmacSha256Init(&context, password, 8);
    sha256Update(&context.inner, (const u8*)kLabel, sizeof(kLabel) - 1);
    sha256Update(&context.inner, hostPublicKey, 32);
    sha256Update(&context.inner, clientPublicKey, 32);
    sha256Update(&context.inner, hostNonce, kSecureLinkHostNonceBytes);
    sha256Update(&context.inner, &stream, 1);
    u8 mac[32];
    hmacSha256Final(mac, &context);
    std::memcpy(proof, mac, kSecureLinkProofBytes);
    secureWipe(&context, sizeof(context));
    secureWipe(mac, sizeof(mac));
}

FixedString secureLinkFingerprint(const u8* hostPublicKey, const u8* clientPublicKey) {
    u8 digest[32];
    Sha256Context context;
    sha256Init(&context);
    sha256Update(&context, hostPublicKey, 32);
    sha256Update(&context, clientPublicKey, 32);
    sha256Final(digest, &context);
    FixedString text{};
    ByteWriter writer = makeByteWriter(text.text, kFixedStringCapacity);
    // Groups of two bytes (four hex digits), easy to read out and compare.
    for (i32 i = 0; i < kSecureLinkFingerprintBytes; i++) {
        if (i && i % 2 == 0) appendCString(" ", &writer);
        appendHexDigits(digest[i], 2, &writer);
    }
    text.length = (u8)writer.length;
    return text;
}
