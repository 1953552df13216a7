// The parts of the TLS client that its files share with each other and with the record-level tests:
// handshake message writing and parsing, key schedules and record protection.
#pragma once
#include "Network/Tls.h"

constexpr i64 kTlsMaxPlaintext = 16384;
constexpr i64 kTlsMaxGcmRecord = kTlsMaxPlaintext + 256;
constexpr i64 kTlsMaxCbcRecord = kTlsMaxPlaintext + 2048;
// The most plaintext put into one record, so that every record fits one socket packet.
constexpr i64 kTlsMaxSentFragment = kPacketSlotBytes - 5 - 16 - 20 - 16 - 16;

enum TlsRecordType : u8 {
    TlsRecordChangeCipherSpec = 20,
    TlsRecordAlert = 21,
    TlsRecordHandshake = 22,
    TlsRecordApplicationData = 23,
};

enum TlsHandshakeType : u8 {
    TlsHandshakeClientHello = 1,
    TlsHandshakeServerHello = 2,
    TlsHandshakeNewSessionTicket = 4,
    TlsHandshakeEncryptedExtensions = 8,
    TlsHandshakeCertificate = 11,
    TlsHandshakeServerKeyExchange = 12,
    TlsHandshakeCertificateRequest = 13,
    TlsHandshakeServerHelloDone = 14,
    TlsHandshakeCertificateVerify = 15,
    TlsHandshakeClientKeyExchange = 16,
    TlsHandshakeFinished = 20,
    TlsHandshakeKeyUpdate = 24,
};

// A bounds-checked reader over received bytes: reads past the end return zeros and set failed.
struct TlsReader {
    const u8* data;
    i64 position;
    i64 end;
    u32 failed;
};

u8 tlsReadU8(TlsReader* reader);
u16 tlsReadU16(TlsReader* reader);
u32 tlsReadU24(TlsReader* reader);
// Returns a pointer to count bytes and steps over them; null (and failed) when they are not all there.
const u8* tlsReadBytes(TlsReader* reader, i64 count);

u64 tlsNow(const TlsClient* client);
// Aborts with a fatal alert (level 2).
void tlsFail(TlsClient* client, FixedString reason, u8 description);
inline bool tlsAborted(const TlsClient* client) {
    return client->state == TlsStateAlertDue || client->state == TlsStateAborted;
}

// Handshake messages (TlsHandshake.cpp).
void writeClientHello(TlsClient* client, const FixedString* hostName, ByteWriter* packet);
// The answer to a CertificateRequest: a Certificate message with no certificate.
void writeEmptyClientCertificate(TlsClient* client, ByteWriter* packet);
void writeClientKeyExchange(TlsClient* client, ByteWriter* packet);
void writeClientFinished(TlsClient* client, ByteWriter* packet);
// The answer to a server's KeyUpdate that asked for one: the client's own KeyUpdate, after which the
// client's records use its next keys.
void writeClientKeyUpdate(TlsClient* client, ByteWriter* packet);
void hashHandshake(TlsClient* client, const u8* message, i64 length);
// Appends the content of a handshake record and processes every message that is complete.
void receiveHandshakeBytes(TlsClient* client, const u8* bytes, i64 length);
// 0, or 1 when the client was aborted.
u32 parseServerHelloExtensions(i64 end, TlsClient* client, i64* cursor, const u8* message, u32 inServerHello);
u32 tlsPublicKeyParsingAndCalculations(u16 group, u16 keyLength, TlsClient* client, const u8* key);

// Key schedules (TlsKeys.cpp).
u32 tlsHashLength(const TlsClient* client);
void tlsTranscriptHash(const TlsClient* client, u8* out);
void tlsHmac(const TlsClient* client, u8* out, const u8* key, const u8* message, u64 messageLength);
void tlsExpandLabel(const TlsClient* client, const u8* secret, const char* label, const u8* context, u8 contextLength,
                    u8* out, u64 outLength);
// The TLS 1.2 PRF over SHA-256. Empty on success; a missing secret, label, seed or output is refused
// with a message and out (when given) is zero-filled.
FixedString tls12Prf(const u8* secret, u64 secretLength, const char* label, const u8* seed, u64 seedLength, u8* out,
                     u64 outLength);
void tls13PrecomputeDerivedSecrets(TlsClient* client);
void tls13SetTrafficKeys(const TlsClient* client, TlsTrafficKeys* keys, const u8* secret);
void tls13DeriveHandshakeSecrets(TlsClient* client);
void tls13DeriveApplicationSecrets(TlsClient* client);
void tls13FinishedVerifyData(const TlsClient* client, u8* out, const u8* trafficSecret);
// KeyUpdate: the next traffic secret of one direction replaces secret, and its keys replace keys.
void tls13NextTrafficKeys(const TlsClient* client, u8* secret, TlsTrafficKeys* keys);
// Both abort the client when the PRF refuses its input.
void tls12DeriveKeys(TlsClient* client);
void tls12FinishedVerifyData(TlsClient* client, u8* out, const char* label);

// Records (TlsRecord.cpp).
// Writes one record of the given content type, protected with the send keys when they are set.
void writeTlsRecord(TlsClient* client, u8 type, const u8* content, i64 length, ByteWriter* packet);
// Processes the complete records held in the receive buffer; application data goes to out->data.
void processTlsRecords(TlsClient* client, TlsStepResult* out);

// Server authentication (TlsServerAuth.cpp): the one place where the server's certificate chain and
// its signatures (CertificateVerify, ServerKeyExchange) are examined. Each returns 0, or 1 when the
// client was aborted.
// The signature schemes the ClientHello offers, in its order, and the only ones a server may use.
enum TlsSignatureKind : u8 { TlsSignatureEcdsa, TlsSignaturePss, TlsSignaturePssKey, TlsSignaturePkcs1 };
struct TlsSignatureScheme {
    u16 scheme;
    u8 kind;   // TlsSignatureKind; PssKey: RSA-PSS under an RSA-PSS certificate key
    u32 hash;  // SignatureHash
};
constexpr u32 kTlsSignatureSchemeCount = 11;
extern const TlsSignatureScheme kTlsSignatureSchemes[kTlsSignatureSchemeCount];
u32 checkServerCertificate(TlsClient* client, const u8* body, i64 length);
u32 checkServerCertificateVerify(TlsClient* client, const u8* body, i64 length, const u8* transcriptHash);
u32 checkServerKeyExchangeSignature(TlsClient* client, const u8* params, i64 paramsLength, const u8* signature,
                                    i64 signatureLength);
