// Wrappers around the primitives the suites check (the link replaces the suites' calls with these,
// see CMakeLists.txt): while brokenPrimitive names one, its output comes back with one bit flipped.
#include "Crypto/Aes.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/Hmac.h"
#include "Network/Address.h"
#include "SelfTestSupport.h"

extern "C" {

u8* __real__Z6sha256PhPKhm(u8* digest, const u8* data, u64 length);
u8* __wrap__Z6sha256PhPKhm(u8* digest, const u8* data, u64 length) {
    __real__Z6sha256PhPKhm(digest, data, length);
    if (brokenPrimitive == BrokenSha256) digest[5] ^= 0x10;
    return digest;
}

u8* __real__Z15hmacSha256FinalPhPK17HmacSha256Context(u8* mac, const HmacSha256Context* context);
u8* __wrap__Z15hmacSha256FinalPhPK17HmacSha256Context(u8* mac, const HmacSha256Context* context) {
    __real__Z15hmacSha256FinalPhPK17HmacSha256Context(mac, context);
    if (brokenPrimitive == BrokenHmacSha256) mac[31] ^= 0x01;
    return mac;
}

void __real__Z16hkdfExpandSha256PKhS0_mPhm(const u8* prk, const u8* info, u64 infoLength, u8* out, u64 outLength);
void __wrap__Z16hkdfExpandSha256PKhS0_mPhm(const u8* prk, const u8* info, u64 infoLength, u8* out, u64 outLength) {
    __real__Z16hkdfExpandSha256PKhS0_mPhm(prk, info, infoLength, out, outLength);
    if (brokenPrimitive == BrokenHkdf && outLength) out[outLength - 1] ^= 0x80;
}

void __real__Z15aesEncryptBlockPhPK14AesKeySchedule(u8* block, const AesKeySchedule* schedule);
void __wrap__Z15aesEncryptBlockPhPK14AesKeySchedule(u8* block, const AesKeySchedule* schedule) {
    __real__Z15aesEncryptBlockPhPK14AesKeySchedule(block, schedule);
    if (brokenPrimitive == BrokenAesBlock) block[0] ^= 0x01;
}

u8* __real__Z13ghashMultiplyPhPKhS1_(u8* out, const u8* x, const u8* h);
u8* __wrap__Z13ghashMultiplyPhPKhS1_(u8* out, const u8* x, const u8* h) {
    __real__Z13ghashMultiplyPhPKhS1_(out, x, h);
    if (brokenPrimitive == BrokenGhash) out[7] ^= 0x04;
    return out;
}

i32 __real__Z18addDifferentPointsPhPKhS1_PK13EllipticCurve(u8* out, const u8* p, const u8* q, const EllipticCurve* c);
i32 __wrap__Z18addDifferentPointsPhPKhS1_PK13EllipticCurve(u8* out, const u8* p, const u8* q, const EllipticCurve* c) {
    i32 status = __real__Z18addDifferentPointsPhPKhS1_PK13EllipticCurve(out, p, q, c);
    if (brokenPrimitive == BrokenPointAddition) out[32] ^= 0x01;
    return status;
}

u8* __real__Z6x25519PhS_PKh(u8* out, u8* scalar, const u8* u);
u8* __wrap__Z6x25519PhS_PKh(u8* out, u8* scalar, const u8* u) {
    __real__Z6x25519PhS_PKh(out, scalar, u);
    if (brokenPrimitive == BrokenX25519) out[0] ^= 0x02;
    return out;
}

ParsedUrl __real__Z8parseUrlPK10ByteWriter(const ByteWriter* url);
ParsedUrl __wrap__Z8parseUrlPK10ByteWriter(const ByteWriter* url) {
    ParsedUrl parsed = __real__Z8parseUrlPK10ByteWriter(url);
    if (brokenPrimitive == BrokenUrlPort) parsed.port ^= 0x0100;
    return parsed;
}

}  // extern "C"
