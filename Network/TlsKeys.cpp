// Key schedules: the TLS 1.3 schedule over SHA-256 or SHA-384 (RFC 8446 section 7) and the TLS 1.2
// PRF, master secret (with the extended master secret of RFC 7627) and key block.
#include "Crypto/Hmac.h"
#include "Crypto/Wipe.h"
#include "Network/TlsInternal.h"

#include <cstring>

namespace {

const u8 kNoBytes[1] = {0};

}  // namespace

u32 tlsHashLength(const TlsClient* client) { return client->hashBits == 384 ? 48 : 32; }

void tlsTranscriptHash(const TlsClient* client, u8* out) {
    if (client->hashBits == 384) {
        sha384Final(out, &client->transcript384);
    } else {
        sha256Final(out, &client->transcript256);
    }
}

void tlsHmac(const TlsClient* client, u8* out, const u8* key, const u8* message, u64 messageLength) {
    if (client->hashBits == 384) {
        hmacSha384(out, key, 48, message ? message : kNoBytes, messageLength);
    } else {
        hmacSha256(out, key, 32, message ? message : kNoBytes, messageLength);
    }
}

void tlsExpandLabel(const TlsClient* client, const u8* secret, const char* label, const u8* context, u8 contextLength,
                    u8* out, u64 outLength) {
    const u8* safeContext = context ? context : kNoBytes;
    if (client->hashBits == 384) {
        hkdfExpandLabelSha384(secret, label, safeContext, contextLength, out, outLength);
    } else {
        hkdfExpandLabelSha256(secret, label, safeContext, contextLength, out, outLength);
    }
}

FixedString tls12Prf(const u8* secret, u64 secretLength, const char* label, const u8* seed, u64 seedLength, u8* out,
                     u64 outLength) {
    // P_SHA256(secret, label + seed): A(i) = HMAC(secret, A(i-1)), output HMAC(secret, A(i) + label + seed).
    // Label and seed go into the hash as they are, so any length is taken.
    if ((!secret && secretLength != 0) || !label || (!seed && seedLength != 0) || (!out && outLength != 0)) {
        if (out) {
            memset(out, 0, outLength);
        }
        return makeString("The TLS 1.2 key derivation was given a missing secret, label, seed or output");
    }
    const u8* key = secret ? secret : kNoBytes;
    const u8* seedBytes = seed ? seed : kNoBytes;
    u64 labelLength = strlen(label);
    u8 a[32];
    HmacSha256Context context;
    hmacSha256Init(&context, key, secretLength);
    sha256Update(&context.inner, (const u8*)label, labelLength);
    sha256Update(&context.inner, seedBytes, seedLength);
    hmacSha256Final(a, &context);
    u64 produced = 0;
    while (produced < outLength) {
        hmacSha256Init(&context, key, secretLength);
        sha256Update(&context.inner, a, 32);
        sha256Update(&context.inner, (const u8*)label, labelLength);
        sha256Update(&context.inner, seedBytes, seedLength);
        u8 block[32];
        hmacSha256Final(block, &context);
        u64 take = outLength - produced < 32 ? outLength - produced : 32;
        memcpy(out + produced, block, take);
        produced += take;
        u8 next[32];
        hmacSha256(next, key, secretLength, a, 32);
        memcpy(a, next, 32);
    }
    return FixedString{};
}

void tls13PrecomputeDerivedSecrets(TlsClient* client) {
    // Early secret = HKDF-Extract(zero salt, zero key material); derived = Expand-Label(early, "derived", Hash("")).
    u8 zeros[48] = {};
    u8 early[48];
    u8 emptyHash[48];
    hmacSha256(early, zeros, 32, zeros, 32);
    sha256(emptyHash, kNoBytes, 0);
    hkdfExpandLabelSha256(early, "derived", emptyHash, 32, client->derived256, 32);
    hmacSha384(early, zeros, 48, zeros, 48);
    sha384(emptyHash, kNoBytes, 0);
    hkdfExpandLabelSha384(early, "derived", emptyHash, 48, client->derived384, 48);
}

void tls13SetTrafficKeys(const TlsClient* client, TlsTrafficKeys* keys, const u8* secret) {
    u8 key[32];
    tlsExpandLabel(client, secret, "key", nullptr, 0, key, client->keyBytes);
    aesKeyExpansion(&keys->key, (i32)client->keyBytes, key);
    tlsExpandLabel(client, secret, "iv", nullptr, 0, keys->iv, 12);
    keys->sequence = 0;
    secureWipe(key, sizeof(key));
}

namespace {

// The client's and the server's traffic secrets from secret and the transcript so far.
void expandTrafficSecrets(TlsClient* client, const u8* secret, const char* clientLabel, u8* clientSecret,
                          const char* serverLabel, u8* serverSecret) {
    u32 length = tlsHashLength(client);
    u8 transcript[48];
    tlsTranscriptHash(client, transcript);
    tlsExpandLabel(client, secret, clientLabel, transcript, (u8)length, clientSecret, length);
    tlsExpandLabel(client, secret, serverLabel, transcript, (u8)length, serverSecret, length);
}

}  // namespace

void tls13DeriveHandshakeSecrets(TlsClient* client) {
    u32 length = tlsHashLength(client);
    const u8* derived = length == 48 ? client->derived384 : client->derived256;
    // HKDF-Extract(salt derived, shared secret) is HMAC keyed with the salt.
    if (length == 48) {
        hmacSha384(client->handshakeSecret, derived, 48, client->sharedSecret, 32);
    } else {
        hmacSha256(client->handshakeSecret, derived, 32, client->sharedSecret, 32);
    }
    expandTrafficSecrets(client, client->handshakeSecret, "c hs traffic", client->clientHandshakeSecret, "s hs traffic",
                         client->serverHandshakeSecret);
    tls13SetTrafficKeys(client, &client->receive, client->serverHandshakeSecret);
    tls13SetTrafficKeys(client, &client->send, client->clientHandshakeSecret);
    client->receiveProtection = TlsProtectionGcm13;
    client->sendProtection = TlsProtectionGcm13;
}

void tls13DeriveApplicationSecrets(TlsClient* client) {
    u32 length = tlsHashLength(client);
    u8 emptyHash[48];
    if (length == 48) {
        sha384(emptyHash, kNoBytes, 0);
    } else {
        sha256(emptyHash, kNoBytes, 0);
    }
    u8 derived[48];
    tlsExpandLabel(client, client->handshakeSecret, "derived", emptyHash, (u8)length, derived, length);
    u8 zeros[48] = {};
    tlsHmac(client, client->masterSecret, derived, zeros, length);
    expandTrafficSecrets(client, client->masterSecret, "c ap traffic", client->clientApplicationSecret, "s ap traffic",
                         client->serverApplicationSecret);
    // The server's records switch now; the client's own switch after its Finished has gone out.
    tls13SetTrafficKeys(client, &client->receive, client->serverApplicationSecret);
}

void tls13FinishedVerifyData(const TlsClient* client, u8* out, const u8* trafficSecret) {
    u32 length = tlsHashLength(client);
    u8 finishedKey[48];
    tlsExpandLabel(client, trafficSecret, "finished", nullptr, 0, finishedKey, length);
    u8 transcript[48];
    tlsTranscriptHash(client, transcript);
    tlsHmac(client, out, finishedKey, transcript, length);
}

void tls13NextTrafficKeys(const TlsClient* client, u8* secret, TlsTrafficKeys* keys) {
    u32 length = tlsHashLength(client);
    u8 next[48];
    tlsExpandLabel(client, secret, "traffic upd", nullptr, 0, next, length);
    memcpy(secret, next, length);
    secureWipe(next, sizeof(next));
    tls13SetTrafficKeys(client, keys, secret);
}

void tls12DeriveKeys(TlsClient* client) {
    FixedString failure{};
    if (client->extendedMasterSecret) {
        u8 sessionHash[32];
        sha256Final(sessionHash, &client->transcript256);
        failure = tls12Prf(client->sharedSecret, 32, "extended master secret", sessionHash, 32, client->masterSecret, 48);
    } else {
        u8 randoms[64];
        memcpy(randoms, client->clientRandom, 32);
        memcpy(randoms + 32, client->serverRandom, 32);
        failure = tls12Prf(client->sharedSecret, 32, "master secret", randoms, 64, client->masterSecret, 48);
    }
    u8 randoms[64];
    memcpy(randoms, client->serverRandom, 32);
    memcpy(randoms + 32, client->clientRandom, 32);
    u8 keyBlock[160];
    if (failure.length == 0) {
        failure = tls12Prf(client->masterSecret, 48, "key expansion", randoms, 64, keyBlock, sizeof(keyBlock));
    }
    if (failure.length != 0) {
        secureWipe(keyBlock, sizeof(keyBlock));
        tlsFail(client, failure, TlsAlertInternalError);
        return;
    }
    u8* cursor = keyBlock;
    memcpy(client->clientMacKey, cursor, client->macBytes);
    cursor += client->macBytes;
    memcpy(client->serverMacKey, cursor, client->macBytes);
    cursor += client->macBytes;
    aesKeyExpansion(&client->send.key, (i32)client->keyBytes, cursor);
    cursor += client->keyBytes;
    aesKeyExpansion(&client->receive.key, (i32)client->keyBytes, cursor);
    client->send.sequence = 0;
    client->receive.sequence = 0;
    secureWipe(keyBlock, sizeof(keyBlock));
}

void tls12FinishedVerifyData(TlsClient* client, u8* out, const char* label) {
    u8 transcript[32];
    sha256Final(transcript, &client->transcript256);
    FixedString failure = tls12Prf(client->masterSecret, 48, label, transcript, 32, out, 12);
    if (failure.length != 0) {
        tlsFail(client, failure, TlsAlertInternalError);
    }
}
