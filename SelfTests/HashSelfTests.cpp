// The hash, HMAC and HKDF suites: every check computes an output from a vector's input and compares
// it with the vector's expected bytes.
#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/Hmac.h"
#include "SelfTests/Md5.h"
#include "SelfTests/SelfTestVectors.h"
#include "SelfTests/SelfTests.h"

namespace {

// A vector's key, message and expected output as bytes.
struct Decoded {
    u8 key[160];
    u32 keyLength;
    u8 message[256];
    u32 messageLength;
    u8 expected[96];
    u32 expectedLength;
};

Decoded decode(HashVectorIndex index) {
    const HashVector* v = &kHashVectors[index];
    Decoded d{};
    d.keyLength = decodeHex(d.key, sizeof(d.key), v->key);
    if (v->text) {
        d.messageLength = (u32)strlen(v->text);
        memcpy(d.message, v->text, d.messageLength);
    } else {
        d.messageLength = decodeHex(d.message, sizeof(d.message), v->hex);
    }
    d.expectedLength = decodeHex(d.expected, sizeof(d.expected), v->expected);
    return d;
}

bool same(const u8* output, const Decoded& d) { return memcmp(output, d.expected, d.expectedLength) == 0; }

// MD5 through a fresh context: init, update, final.
bool md5Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    Md5Context context;
    md5Init(&context);
    md5Update(&context, d.message, d.messageLength);
    u8 digest[16];
    md5Final(digest, &context);
    return same(digest, d);
}

bool hmacMd5Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    u8 mac[16];
    hmacMd5(mac, d.key, d.keyLength, d.message, d.messageLength);
    return same(mac, d);
}

bool sha1Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    u8 digest[20];
    sha1(digest, d.message, d.messageLength);
    return same(digest, d);
}

// HMAC-SHA-1 with the message streamed into the inner context block by block.
bool hmacSha1Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    HmacSha1Context context;
    hmacSha1Init(&context, d.key, d.keyLength);
    sha1Update(&context.inner, d.message, d.messageLength);
    u8 mac[20];
    hmacSha1Final(mac, &context);
    return same(mac, d);
}

bool sha256Holds(HashVectorIndex index, bool noPointer) {
    Decoded d = decode(index);
    u8 digest[32];
    sha256(digest, noPointer ? nullptr : d.message, d.messageLength);
    return same(digest, d);
}

bool hmacSha256OneCallHolds(HashVectorIndex index) {
    Decoded d = decode(index);
    u8 mac[32];
    hmacSha256(mac, d.key, d.keyLength, d.message, d.messageLength);
    return same(mac, d);
}

bool hmacSha256StreamedHolds(HashVectorIndex index) {
    Decoded d = decode(index);
    HmacSha256Context context;
    hmacSha256Init(&context, d.key, d.keyLength);
    sha256Update(&context.inner, d.message, d.messageLength);
    u8 mac[32];
    hmacSha256Final(mac, &context);
    return same(mac, d);
}

// The HKDF-Expand vector's key is the pseudorandom key and its message the info.
bool hkdfExpandHolds(HashVectorIndex index) {
    Decoded d = decode(index);
    u8 okm[96];
    hkdfExpandSha256(d.key, d.message, d.messageLength, okm, d.expectedLength);
    return same(okm, d);
}

bool sha384Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    u8 digest[48];
    sha384(digest, d.messageLength ? d.message : nullptr, d.messageLength);
    return same(digest, d);
}

bool hmacSha384Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    HmacSha384Context context;
    hmacSha384Init(&context, d.key, d.keyLength);
    sha384Update(&context.inner, d.message, d.messageLength);
    u8 mac[48];
    hmacSha384Final(mac, &context);
    return same(mac, d);
}

bool sha512Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    u8 digest[64];
    sha512(digest, d.message, d.messageLength);
    return same(digest, d);
}

bool hmacSha512Holds(HashVectorIndex index) {
    Decoded d = decode(index);
    u8 mac[64];
    hmacSha512(mac, d.key, d.keyLength, d.message, d.messageLength);
    return same(mac, d);
}

}  // namespace

i32 md5TestSuite() {
    ProfilingScope scope("Md5 Test Suite");
    if (!md5Holds(Md5Empty)) return __LINE__;
    if (!md5Holds(Md5A)) return __LINE__;
    if (!md5Holds(Md5Abc)) return __LINE__;
    if (!md5Holds(Md5MessageDigest)) return __LINE__;
    if (!md5Holds(Md5Alphabet)) return __LINE__;
    if (!md5Holds(Md5AlphaNumeric)) return __LINE__;
    if (!md5Holds(Md5Digits)) return __LINE__;  // crosses a block inside one update
    if (!hmacMd5Holds(HmacMd5Fox)) return __LINE__;
    return 0;
}

i32 sha1TestSuite() {
    ProfilingScope scope("Sha1 Test Suite");
    if (!sha1Holds(Sha1Abc)) return __LINE__;
    if (!sha1Holds(Sha1TwoBlocks)) return __LINE__;
    if (!hmacSha1Holds(HmacSha1Fox)) return __LINE__;
    return 0;
}

i32 sha256TestSuite() {
    ProfilingScope scope("Sha256 Test Suite");
    if (!sha256Holds(Sha256Empty, true)) return __LINE__;
    if (!sha256Holds(Sha256Abc, false)) return __LINE__;
    if (!sha256Holds(Sha256TwoBlocks, false)) return __LINE__;
    if (!hmacSha256OneCallHolds(HmacSha256Fox)) return __LINE__;
    if (!hmacSha256OneCallHolds(HmacSha256LongKey)) return __LINE__;
    if (!hmacSha256StreamedHolds(HmacSha256Rfc4231Case1)) return __LINE__;
    if (!hmacSha256StreamedHolds(HmacSha256Rfc4231Case7)) return __LINE__;
    if (!hmacSha256StreamedHolds(HkdfCase1Extract)) return __LINE__;
    if (!hkdfExpandHolds(HkdfCase1Expand)) return __LINE__;
    if (!hmacSha256StreamedHolds(HkdfCase2Extract)) return __LINE__;
    if (!hkdfExpandHolds(HkdfCase2Expand)) return __LINE__;
    return 0;
}

i32 sha384TestSuite() {
    ProfilingScope scope("Sha384 Test Suite");
    if (!sha384Holds(Sha384Empty)) return __LINE__;
    if (!sha384Holds(Sha384Abc)) return __LINE__;
    if (!sha384Holds(Sha384TwoBlocks)) return __LINE__;
    if (!hmacSha384Holds(HmacSha384Nist)) return __LINE__;
    if (!hmacSha384Holds(HmacSha384Rfc4231Case1)) return __LINE__;
    if (!hmacSha384Holds(HmacSha384Rfc4231Case7)) return __LINE__;
    return 0;
}

i32 sha512TestSuite() {
    ProfilingScope scope("Sha512 Test Suite");
    if (!sha512Holds(Sha512Abc)) return __LINE__;
    if (!sha512Holds(Sha512TwoBlocks)) return __LINE__;
    if (!hmacSha512Holds(HmacSha512Nist)) return __LINE__;
    if (!hmacSha512Holds(HmacSha512Rfc4231Case1)) return __LINE__;
    if (!hmacSha512Holds(HmacSha512Rfc4231Case7)) return __LINE__;
    return 0;
}
