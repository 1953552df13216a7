#include "Crypto/StoredPassword.h"

#include <cstring>

#include "Crypto/Aes.h"
#include "Crypto/Wipe.h"
#include "Platform/Random.h"

const u8 storedPasswordKey[32] = {0x3A, 0x91, 0xC4, 0x5E, 0x07, 0xB8, 0x2F, 0xD6, 0x61, 0x1C, 0xE9,
                                  0x84, 0x73, 0x0B, 0xA5, 0xF2, 0x4D, 0x96, 0x28, 0xCF, 0x53, 0xE0,
                                  0x17, 0xBA, 0x8C, 0x45, 0xD1, 0x6E, 0x09, 0xF7, 0x32, 0xA8};

namespace {

i32 hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

FixedString obscurePassword(FixedString* out, const FixedString* password) {
    memset(out, 0, sizeof(*out));
    i64 length = password->length;
    if (length == 0 || password->text[0] == 0) return FixedString{};
    if (length > kMaxStoredPasswordLength) return makeString("Password is too long to store (at most 96 bytes)");
    u8 chain[16];
    if (getRandomBytes(chain, 16)) return makeString("Could not get random numbers to store the password");
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, 32, storedPasswordKey);
    ByteWriter writer = makeByteWriter(out->text, 253);
    appendHexBytes(chain, 16, &writer);
    for (i64 offset = 0; offset < length; offset += 16) {
        u8 block[16] = {};
        i64 take = length - offset < 16 ? length - offset : 16;
        memcpy(block, password->text + offset, (size_t)take);
        for (int i = 0; i < 16; i++) block[i] ^= chain[i];
        aesEncryptBlock(block, &schedule);
        appendHexBytes(block, 16, &writer);
        memcpy(chain, block, 16);
        secureWipe(block, sizeof(block));
    }
    out->length = (u8)writer.length;
    secureWipe(&schedule, sizeof(schedule));
    return FixedString{};
}

FixedString revealPassword(FixedString* out, const FixedString* stored) {
    memset(out, 0, sizeof(*out));
    if (stored->length == 0) return FixedString{};
    u8 bytes[128];
    i64 count = 0;
    for (i64 i = 0; i + 1 < stored->length && count < (i64)sizeof(bytes); i += 2) {
        i32 high = hexValue(stored->text[i]), low = hexValue(stored->text[i + 1]);
        if (high < 0 || low < 0) break;
        bytes[count++] = (u8)(high << 4 | low);
    }
    if (count < 32) return makeString("Stored password is damaged");
    AesKeySchedule schedule;
    aesKeyExpansion(&schedule, 32, storedPasswordKey);
    i64 length = 0;
    bool ended = false;
    for (i64 offset = 16; offset + 16 <= count && !ended; offset += 16) {
        u8 block[16];
        memcpy(block, bytes + offset, 16);
        aesDecryptBlock(block, &schedule);
        for (int i = 0; i < 16 && !ended; i++) {
            u8 c = block[i] ^ bytes[offset - 16 + i];
            if (c == 0) ended = true;
            else if (length < 253) out->text[length++] = (char)c;
        }
        secureWipe(block, sizeof(block));
    }
    out->length = (u8)length;
    secureWipe(&schedule, sizeof(schedule));
    return FixedString{};
}
