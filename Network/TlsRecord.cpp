// Record protection: AES-GCM records of TLS 1.3 and AES-128-CBC records with HMAC-SHA-1 of TLS 1.2
// (MAC-then-encrypt, or encrypt-then-MAC when the server agreed), and the processing of the records
// that arrive.
#include "Core/Format.h"
#include "Crypto/Hmac.h"
#include "Network/TlsInternal.h"
#include "Platform/Random.h"

#include <cstring>

namespace {

constexpr i64 kCbcMacBytes = 20;

void makeNonce(u8* nonce, const TlsTrafficKeys* keys) {
    memcpy(nonce, keys->iv, 12);
    for (int i = 0; i < 8; i++) {
        nonce[4 + i] ^= (u8)(keys->sequence >> (56 - 8 * i));
    }
}

// HMAC-SHA-1 over sequence number, type, version, length and data.
void cbcRecordMac(u8* out, const u8* key, u64 sequence, u8 type, const u8* data, i64 length) {
    u8 header[13];
    for (int i = 0; i < 8; i++) {
        header[i] = (u8)(sequence >> (56 - 8 * i));
    }
    header[8] = type;
    header[9] = 3;
    header[10] = 3;
    header[11] = (u8)(length >> 8);
    header[12] = (u8)length;
    HmacSha1Context context;
    hmacSha1Init(&context, key, kCbcMacBytes);
    sha1Update(&context.inner, header, sizeof(header));
    if (length > 0) {
        sha1Update(&context.inner, data, (u64)length);
    }
    hmacSha1Final(out, &context);
}

// All ones when a <= b, else zero, without a branch on the values.
u32 maskLessOrEqual(u32 a, u32 b) { return (u32)0 - (u32)(((u64)b - (u64)a) >> 63 ^ 1); }

void failRecordMac(TlsClient* client) {
    // One text and one alert for every failure of a CBC record, so nothing tells them apart.
    tlsFail(client, makeString("Record authentication failed"), TlsAlertBadRecordMac);
}

// Decrypts a CBC record in place; content points into the record. False after an abort.
bool openCbcRecord(TlsClient* client, u8* record, i64 length, u8** content, i64* contentLength) {
    u8 type = record[0];
    u8* body = record + 5;
    u8* plaintext = body + 16;
    u8 mac[kCbcMacBytes];
    if (client->encryptThenMac) {
        i64 cipherLength = length - 16 - kCbcMacBytes;
        if (cipherLength < 16 || cipherLength % 16 != 0) {
            failRecordMac(client);
            return false;
        }
        cbcRecordMac(mac, client->serverMacKey, client->receive.sequence, type, body, length - kCbcMacBytes);
        if (!constantTimeEqual(mac, body + length - kCbcMacBytes, kCbcMacBytes)) {
            failRecordMac(client);
            return false;
        }
        decryptAesCbc(plaintext, plaintext, cipherLength, body, &client->receive.key);
        u32 pad = plaintext[cipherLength - 1];
        u32 good = maskLessOrEqual(pad + 1, (u32)cipherLength);
        for (i64 i = 0; i < 256 && i < cipherLength; i++) {
            u32 inPadding = maskLessOrEqual((u32)i, pad);
            good &= ~(inPadding & (0u - (u32)(plaintext[cipherLength - 1 - i] != pad)));
        }
        if (!good) {
            failRecordMac(client);
            return false;
        }
        *contentLength = cipherLength - pad - 1;
    } else {
        i64 cipherLength = length - 16;
        if (cipherLength < 32 || cipherLength % 16 != 0) {
            failRecordMac(client);
            return false;
        }
        decryptAesCbc(plaintext, plaintext, cipherLength, body, &client->receive.key);
        // The padding is checked without branching on it, and a bad one is treated as no padding so
        // that the MAC is still computed over nearly the same length (RFC 5246 section 6.2.3.2).
        u32 pad = plaintext[cipherLength - 1];
        u32 good = maskLessOrEqual(pad + 1 + kCbcMacBytes, (u32)cipherLength);
        for (i64 i = 0; i < 256 && i < cipherLength; i++) {
            u32 inPadding = maskLessOrEqual((u32)i, pad);
            good &= ~(inPadding & (0u - (u32)(plaintext[cipherLength - 1 - i] != pad)));
        }
        u32 usedPad = pad & good;
        i64 dataLength = cipherLength - (i64)usedPad - 1 - kCbcMacBytes;
        cbcRecordMac(mac, client->serverMacKey, client->receive.sequence, type, plaintext, dataLength);
        // The bytes the padding took off are hashed too, into a context that is thrown away, so that
        // the work done depends little on the padding length.
        Sha1Context ballast;
        sha1Init(&ballast);
        sha1Update(&ballast, plaintext + dataLength, (u64)usedPad);
        u32 macGood = constantTimeEqual(mac, plaintext + dataLength, kCbcMacBytes) ? ~0u : 0u;
        if (!(good & macGood)) {
            failRecordMac(client);
            return false;
        }
        *contentLength = dataLength;
    }
    client->receive.sequence++;
    *content = plaintext;
    return true;
}

// Decrypts a TLS 1.3 record in place and strips the zero padding after the content type.
bool openGcmRecord(TlsClient* client, u8* record, i64 length, u8** content, i64* contentLength, u8* contentType) {
    u8* body = record + 5;
    if (length < 16) {
        tlsFail(client, makeString("The record length is insufficient to hold an AES GCM authentication block"),
                TlsAlertDecodeError);
        return false;
    }
    u8 nonce[12];
    makeNonce(nonce, &client->receive);
    i64 cipherLength = length - 16;
    if (decryptAesGcm(body, body, cipherLength, nonce, record, 5, &client->receive.key, body + cipherLength) != 0) {
        tlsFail(client, makeString("AES GCM authentication failed"), TlsAlertBadRecordMac);
        return false;
    }
    client->receive.sequence++;
    i64 end = cipherLength;
    while (end > 0 && body[end - 1] == 0) {
        end--;
    }
    if (end == 0) {
        tlsFail(client, makeString("Received a protected record without a content type"), TlsAlertUnexpectedMessage);
        return false;
    }
    *contentType = body[end - 1];
    *content = body;
    *contentLength = end - 1;
    return true;
}

void receiveAlert(TlsClient* client, const u8* content, i64 length) {
    if (length != 2) {
        tlsFail(client, makeString("Received an alert record that is not two bytes long"), TlsAlertDecodeError);
        return;
    }
    u8 level = content[0];
    u8 description = content[1];
    const void* arguments[3];
    i64 levelValue = level;
    i64 descriptionValue = description;
    const char* name = tlsAlertName(description);
    arguments[0] = &levelValue;
    arguments[1] = &descriptionValue;
    arguments[2] = name;
    u32 kinds[3] = {FormatArgInt, FormatArgInt, FormatArgCString};
    FixedString reason = formatString("Received server alert: @ @ (@)", arguments, kinds, 3);
    if (description == TlsAlertCloseNotify) {
        client->closeNotifyReceived = 1;
    }
    // The server's own level and description are sent back.
    abortTlsClient(client, reason, level, description);
}

void processRecord(TlsClient* client, u8* record, i64 length, TlsStepResult* out) {
    u8 type = record[0];
    u8* content = record + 5;
    i64 contentLength = length;
    u8 contentType = type;
    if (client->receiveProtection == TlsProtectionGcm13) {
        if (type == TlsRecordChangeCipherSpec) {
            // The middlebox-compatibility ChangeCipherSpec of TLS 1.3 carries nothing; it may only
            // come during the handshake.
            if (client->state > TlsStateReadingServerFlight || length != 1 || content[0] != 1) {
                tlsFail(client, makeString("Unexpected change cipher spec record"), TlsAlertUnexpectedMessage);
            }
            return;
        }
        if (type == TlsRecordAlert && client->state == TlsStateReadingServerFlight) {
            // A server that fails before it has read our keys can only say so in the clear.
            receiveAlert(client, content, length);
            return;
        }
        if (type != TlsRecordApplicationData) {
            tlsFail(client, formatInt("Received an unprotected record of type @ after the keys were set", type),
                    TlsAlertUnexpectedMessage);
            return;
        }
        if (!openGcmRecord(client, record, length, &content, &contentLength, &contentType)) {
            return;
        }
    } else if (client->receiveProtection == TlsProtectionCbc12) {
        if (!openCbcRecord(client, record, length, &content, &contentLength)) {
            return;
        }
    } else if (type == TlsRecordApplicationData) {
        tlsFail(client, makeString("Received application data before the handshake finished"), TlsAlertUnexpectedMessage);
        return;
    }
    if (contentLength > kTlsMaxPlaintext) {
        tlsFail(client, formatInt("Received a record with @ bytes of content, more than 16384", contentLength),
                TlsAlertRecordOverflow);
        return;
    }
    switch (contentType) {
    case TlsRecordHandshake:
        receiveHandshakeBytes(client, content, contentLength);
        break;
    case TlsRecordChangeCipherSpec:
        if (client->tls13 || client->state != TlsStateAwaitingServerChangeCipherSpec || contentLength != 1 ||
            content[0] != 1) {
            tlsFail(client, makeString("Unexpected change cipher spec record"), TlsAlertUnexpectedMessage);
        } else if (client->handshakeLength != 0) {
            tlsFail(client, makeString("Handshake data arrived with the keys of the previous stage"),
                    TlsAlertUnexpectedMessage);
        } else {
            client->state = TlsStateAwaitingServerFinished;
            client->receiveProtection = TlsProtectionCbc12;
            client->receive.sequence = 0;
        }
        break;
    case TlsRecordAlert:
        receiveAlert(client, content, contentLength);
        break;
    case TlsRecordApplicationData: {
        bool open = client->state == TlsStateEstablished ||
                    (client->tls13 && client->state >= TlsStateChangeCipherSpecDue &&
                     client->state <= TlsStateEstablished);
        if (!open) {
            tlsFail(client, makeString("Received application data before the handshake finished"),
                    TlsAlertUnexpectedMessage);
            break;
        }
        appendBytes(content, contentLength, &out->data);
        out->dataReceived = 1;
        break;
    }
    default:
        break;  // unknown record types are skipped
    }
}

}  // namespace

void writeTlsRecord(TlsClient* client, u8 type, const u8* content, i64 length, ByteWriter* packet) {
    i64 needed = 5 + length;
    if (client->sendProtection == TlsProtectionGcm13) {
        needed += 1 + 16;
    } else if (client->sendProtection == TlsProtectionCbc12) {
        needed += 16 + kCbcMacBytes + 16;
    }
    if (packet->overflow || !packet->data || packet->length + needed > packet->capacity) {
        packet->overflow = 1;
        return;
    }
    u8* record = packet->data + packet->length;
    u8* body = record + 5;
    i64 bodyLength = length;
    record[1] = 3;
    record[2] = 3;
    if (client->sendProtection == TlsProtectionGcm13) {
        record[0] = TlsRecordApplicationData;
        memmove(body, content, (size_t)length);
        body[length] = type;
        bodyLength = length + 1 + 16;
        record[3] = (u8)(bodyLength >> 8);
        record[4] = (u8)bodyLength;
        u8 nonce[12];
        makeNonce(nonce, &client->send);
        encryptAesGcm(body + length + 1, body, body, length + 1, nonce, record, 5, &client->send.key);
        client->send.sequence++;
    } else if (client->sendProtection == TlsProtectionCbc12) {
        record[0] = type;
        u8* iv = body;
        if (client->fixedCbcIv) {
            for (int i = 0; i < 16; i++) {
                iv[i] = (u8)(0x40 + i);
            }
        } else if (getRandomBytes(iv, 16) != 0) {
            packet->overflow = 1;
            return;
        }
        u8* plaintext = body + 16;
        memmove(plaintext, content, (size_t)length);
        i64 sealed = length;
        if (!client->encryptThenMac) {
            cbcRecordMac(plaintext + sealed, client->clientMacKey, client->send.sequence, type, plaintext, length);
            sealed += kCbcMacBytes;
        }
        i64 pad = 16 - sealed % 16;
        memset(plaintext + sealed, (int)(pad - 1), (size_t)pad);
        sealed += pad;
        u8 chain[16];
        u8 work[16];
        memcpy(chain, iv, 16);
        encryptAesCbc(work, plaintext, plaintext, sealed, chain, &client->send.key);
        bodyLength = 16 + sealed;
        if (client->encryptThenMac) {
            cbcRecordMac(body + bodyLength, client->clientMacKey, client->send.sequence, type, body, bodyLength);
            bodyLength += kCbcMacBytes;
        }
        record[3] = (u8)(bodyLength >> 8);
        record[4] = (u8)bodyLength;
        client->send.sequence++;
    } else {
        record[0] = type;
        memmove(body, content, (size_t)length);
        record[3] = (u8)(length >> 8);
        record[4] = (u8)length;
    }
    packet->length += 5 + bodyLength;
}

void processTlsRecords(TlsClient* client, TlsStepResult* out) {
    i64 offset = 0;
    while (!tlsAborted(client) && client->receiveLength - offset >= 5) {
        u8* record = client->receiveBuffer + offset;
        i64 length = (i64)record[3] << 8 | record[4];
        i64 limit = kTlsMaxPlaintext;
        if (client->receiveProtection == TlsProtectionGcm13) {
            limit = kTlsMaxGcmRecord;
        } else if (client->receiveProtection == TlsProtectionCbc12) {
            limit = kTlsMaxCbcRecord;
        }
        if (length > limit) {
            tlsFail(client, formatIntInt("Received a record of @ bytes, over the limit of @", length, limit),
                    TlsAlertRecordOverflow);
            break;
        }
        if (client->receiveLength - offset < 5 + length) {
            break;
        }
        if (record[0] == TlsRecordApplicationData && out->data.length + length > out->data.capacity) {
            break;  // no room for its plaintext in this step: it waits for the next
        }
        processRecord(client, record, length, out);
        offset += 5 + length;
    }
    if (tlsAborted(client)) {
        client->receiveLength = 0;
        return;
    }
    memmove(client->receiveBuffer, client->receiveBuffer + offset, (size_t)(client->receiveLength - offset));
    client->receiveLength -= offset;
}
