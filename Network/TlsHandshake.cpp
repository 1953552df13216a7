// Handshake messages: the ClientHello, ClientKeyExchange and Finished the client writes, and the
// reassembly and parsing of the server's messages. Every value the server chooses is checked against
// what the ClientHello offered.
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/Hmac.h"
#include "Crypto/X25519.h"
#include "Crypto/X509Verify.h"
#include "Crypto/Wipe.h"
#include "Network/TlsInternal.h"

#include <cstring>

namespace {

constexpr u16 kSuiteAes128GcmSha256 = 0x1301;
constexpr u16 kSuiteAes256GcmSha384 = 0x1302;
constexpr u16 kSuiteEcdheRsaAes128CbcSha = 0xC013;
constexpr u16 kGroupX25519 = 0x001D;
constexpr u16 kGroupSecp256r1 = 0x0017;
constexpr u16 kVersionTls12 = 0x0303;
constexpr u16 kVersionTls13 = 0x0304;
constexpr char kAlpnProtocol[] = "http/1.1";

// SHA-256 of "HelloRetryRequest": the random of a HelloRetryRequest.
const u8 kHelloRetryRandom[32] = {0xCF, 0x21, 0xAD, 0x74, 0xE5, 0x9A, 0x61, 0x11, 0xBE, 0x1D, 0x8C,
                                  0x02, 0x1E, 0x65, 0xB8, 0x91, 0xC2, 0xA2, 0x11, 0x16, 0x7A, 0xBB,
                                  0x8C, 0x5E, 0x07, 0x9E, 0x09, 0xE2, 0xC8, 0xA8, 0x33, 0x9C};
// The last eight bytes of a TLS 1.3 server's random when it was pushed down to TLS 1.2 or below.
const u8 kDowngradeMarker[7] = {'D', 'O', 'W', 'N', 'G', 'R', 'D'};


void appendReversed(const u8* littleEndian, ByteWriter* writer) {
    u8 bytes[32];
    for (int i = 0; i < 32; i++) {
        bytes[i] = littleEndian[31 - i];
    }
    appendBytes(bytes, 32, writer);
}

// What a ServerHello's extensions said, acted on once the whole list has been read.
struct ServerHelloFindings {
    u32 selectedVersion;  // 0 when there was no supported_versions extension
    u32 keyShareSeen;
    u16 keyShareGroup;
    u16 keyShareLength;
    const u8* keyShare;
};

void failDecode(TlsClient* client) {
    tlsFail(client, makeString("Parsed beyond the end of the handshake"), TlsAlertDecodeError);
}

// Returns 0, or 1 when the client was aborted.
u32 parseExtensions(TlsClient* client, TlsReader* reader, u32 inServerHello, ServerHelloFindings* found) {
    u16 total = tlsReadU16(reader);
    if (reader->failed || reader->position + total > reader->end) {
        tlsFail(client, makeString("Extensions extend beyond the end of the handshake"), TlsAlertDecodeError);
        return 1;
    }
    i64 listEnd = reader->position + total;
    while (reader->position < listEnd) {
        TlsReader header{reader->data, reader->position, listEnd, 0};
        u16 type = tlsReadU16(&header);
        u16 length = tlsReadU16(&header);
        if (header.failed || header.position + length > listEnd) {
            tlsFail(client,
                    formatIntInt("Extension extends beyond the extents of the extensions: Extension @, Length @", type,
                                 length),
                    TlsAlertDecodeError);
            return 1;
        }
        TlsReader body{reader->data, header.position, header.position + length, 0};
        reader->position = header.position + length;
        switch (type) {
        case 43:  // supported_versions: the one version the server selected
            if (inServerHello) {
                found->selectedVersion = tlsReadU16(&body);
            }
            break;
        case 51:  // key_share
            if (inServerHello) {
                found->keyShareSeen = 1;
                found->keyShareGroup = tlsReadU16(&body);
                found->keyShareLength = tlsReadU16(&body);
                found->keyShare = tlsReadBytes(&body, found->keyShareLength);
            }
            break;
        case 16: {  // application_layer_protocol_negotiation: exactly the one protocol offered
            u16 listLength = tlsReadU16(&body);
            if (listLength + 2 != length) {
                tlsFail(client,
                        formatIntInt("ALPN Extension length extends beyond the extension length in its header. "
                                     "Header: @, ALPN: @ (should be 2 less than header)",
                                     length, listLength),
                        TlsAlertDecodeError);
                return 1;
            }
            u8 nameLength = tlsReadU8(&body);
            const u8* name = tlsReadBytes(&body, nameLength);
            if (body.failed || nameLength == 0 || body.position != body.end) {
                tlsFail(client, makeString("The server's ALPN extension does not hold exactly one protocol"),
                        TlsAlertDecodeError);
                return 1;
            }
            if (nameLength != sizeof(kAlpnProtocol) - 1 || memcmp(name, kAlpnProtocol, nameLength) != 0) {
                tlsFail(client,
                        formatStr("Server chose application protocol @, which this client did not offer",
                                  stringFromBytes(name, nameLength)),
                        TlsAlertIllegalParameter);
                return 1;
            }
            break;
        }
        case 0:  // server_name: empty, or a host name
            if (length > 0) {
                tlsReadU16(&body);
                u8 nameType = tlsReadU8(&body);
                if (nameType != 0) {
                    tlsFail(client,
                            formatHex("Unrecognized name_type: 0x@ in server name extension, expected 0 (host_name)",
                                      nameType, 2),
                            TlsAlertDecodeError);
                    return 1;
                }
                u16 nameLength = tlsReadU16(&body);
                tlsReadBytes(&body, nameLength);
            }
            break;
        case 11: {  // ec_point_formats
            u8 count = tlsReadU8(&body);
            const u8* formats = tlsReadBytes(&body, count);
            if (!formats) {
                tlsFail(client, makeString("Elliptic curve point formats length extends beyond its extension length"),
                        TlsAlertDecodeError);
                return 1;
            }
            if (!memchr(formats, 0, count)) {
                tlsFail(client, makeString("Server does not support uncompressed elliptic curve point format"),
                        TlsAlertHandshakeFailure);
                return 1;
            }
            break;
        }
        case 23:  // extended_master_secret
            client->extendedMasterSecret = 1;
            break;
        case 22:  // encrypt_then_mac
            client->encryptThenMac = 1;
            break;
        default:
            break;  // unrecognised extensions are skipped
        }
        if (body.failed) {
            tlsFail(client, makeString("Parsed beyond the end of the extension"), TlsAlertDecodeError);
            return 1;
        }
    }
    return 0;
}

void parseServerHello(TlsClient* client, TlsReader* reader) {
    u16 legacyVersion = tlsReadU16(reader);
    const u8* random = tlsReadBytes(reader, 32);
    u8 sessionIdLength = tlsReadU8(reader);
    const u8* sessionId = tlsReadBytes(reader, sessionIdLength);
    u16 suite = tlsReadU16(reader);
    u8 compression = tlsReadU8(reader);
    if (reader->failed || sessionIdLength > 32) {
        failDecode(client);
        return;
    }
    if (memcmp(random, kHelloRetryRandom, 32) == 0) {
        tlsFail(client,
                makeString("Server asked for a second ClientHello (HelloRetryRequest); this client sends its key "
                           "shares for both of its groups once and does not retry"),
                TlsAlertHandshakeFailure);
        return;
    }
    memcpy(client->serverRandom, random, 32);
    if (suite != kSuiteAes128GcmSha256 && suite != kSuiteAes256GcmSha384 && suite != kSuiteEcdheRsaAes128CbcSha) {
        tlsFail(client, formatHex("Server chose cipher suite 0x@, which this client did not offer", suite, 4),
                TlsAlertIllegalParameter);
        return;
    }
    if (compression != 0) {
        tlsFail(client,
                formatHex("Unrecognized compressionMethod: 0x@, expected 0 (no compression)", compression, 2),
                TlsAlertIllegalParameter);
        return;
    }
    ServerHelloFindings found{};
    // A TLS 1.2 ServerHello may end without an extension list.
    if (reader->position < reader->end && parseExtensions(client, reader, 1, &found)) {
        return;
    }
    if (found.selectedVersion != 0 && found.selectedVersion != kVersionTls13) {
        tlsFail(client,
                formatHex("Server chose protocol version 0x@, which this client did not offer", found.selectedVersion, 4),
                TlsAlertIllegalParameter);
        return;
    }
    client->tls13 = found.selectedVersion == kVersionTls13;
    if (legacyVersion != kVersionTls12) {
        tlsFail(client, formatHex("Server chose protocol version 0x@, which this client does not speak", legacyVersion, 4),
                TlsAlertProtocolVersion);
        return;
    }
    if (client->tls13 && (sessionIdLength != client->sessionIdLength ||
                          memcmp(sessionId, client->sessionId, sessionIdLength) != 0)) {
        tlsFail(client, makeString("Server's session id differs from the one the ClientHello sent"),
                TlsAlertIllegalParameter);
        return;
    }
    bool suiteIs13 = suite == kSuiteAes128GcmSha256 || suite == kSuiteAes256GcmSha384;
    if (suiteIs13 != (client->tls13 == 1)) {
        tlsFail(client,
                formatHex(client->tls13 ? "Server chose TLS 1.2 cipher suite 0x@ for TLS 1.3"
                                        : "Server chose TLS 1.3 cipher suite 0x@ for TLS 1.2",
                          suite, 4),
                TlsAlertIllegalParameter);
        return;
    }
    if (!client->tls13 && memcmp(client->serverRandom + 24, kDowngradeMarker, 7) == 0 &&
        (client->serverRandom[31] == 0 || client->serverRandom[31] == 1)) {
        tlsFail(client, makeString("Server supports TLS 1.3 but was pushed down to an older version"),
                TlsAlertIllegalParameter);
        return;
    }
    client->cipherSuite = suite;
    client->keyBytes = suite == kSuiteAes256GcmSha384 ? 32 : 16;
    client->hashBits = suite == kSuiteAes256GcmSha384 ? 384 : 256;
    client->cbc = suite == kSuiteEcdheRsaAes128CbcSha;
    client->macBytes = client->cbc ? 20 : 32;
    client->serverHelloSeen = 1;
    if (!client->tls13) {
        return;
    }
    if (!found.keyShareSeen) {
        tlsFail(client, makeString("The server hello has no key share"), TlsAlertMissingExtension);
        return;
    }
    if (!found.keyShare) {
        failDecode(client);
        return;
    }
    tlsPublicKeyParsingAndCalculations(found.keyShareGroup, found.keyShareLength, client, found.keyShare);
}

void parseServerKeyExchange(TlsClient* client, TlsReader* reader) {
    i64 paramsStart = reader->position;
    u8 curveType = tlsReadU8(reader);
    if (reader->failed) {
        failDecode(client);
        return;
    }
    if (curveType != 3) {
        tlsFail(client, formatHex("Unrecognized curve type: 0x@. Expected 3 (named Curve)", curveType, 2),
                TlsAlertDecodeError);
        return;
    }
    u16 group = tlsReadU16(reader);
    u8 keyLength = tlsReadU8(reader);
    const u8* key = tlsReadBytes(reader, keyLength);
    if (!key) {
        tlsFail(client, makeString("The Server key exchange key is longer than the handshake message"),
                TlsAlertDecodeError);
        return;
    }
    if (tlsPublicKeyParsingAndCalculations(group, keyLength, client, key)) {
        return;
    }
    const u8* params = reader->data + paramsStart;
    i64 paramsLength = reader->position - paramsStart;
    const u8* signature = reader->data + reader->position;
    i64 signatureLength = reader->end - reader->position;
    reader->position = reader->end;
    checkServerKeyExchangeSignature(client, params, paramsLength, signature, signatureLength);
}

void verifyServerFinished(TlsClient* client, TlsReader* reader, const u8* message, i64 messageLength) {
    u8 expected[48];
    i64 length;
    if (client->tls13) {
        length = tlsHashLength(client);
        tls13FinishedVerifyData(client, expected, client->serverHandshakeSecret);
    } else {
        length = 12;
        tls12FinishedVerifyData(client, expected, "server finished");
        if (tlsAborted(client)) {
            return;
        }
    }
    i64 bodyLength = reader->end - reader->position;
    if (bodyLength != length) {
        tlsFail(client,
                formatInt("The Server handshake finished verify data field should be @ bytes long", length),
                TlsAlertDecodeError);
        return;
    }
    const u8* verifyData = tlsReadBytes(reader, length);
    if (!constantTimeEqual(verifyData, expected, (u64)length)) {
        tlsFail(client, makeString("Server Finished verify data did not match what we hashed"), TlsAlertDecryptError);
        return;
    }
    hashHandshake(client, message, messageLength);
}

void unexpectedMessage(TlsClient* client, u8 type) {
    tlsFail(client, formatIntInt("Unexpected handshake message @ in state @", type, client->state),
            TlsAlertUnexpectedMessage);
}

// Processes one whole message; returns 1 when the keys of the server's records changed with it.
u32 processHandshakeMessage(TlsClient* client, const u8* message, i64 length) {
    u8 type = message[0];
    TlsReader reader{message, 4, length, 0};
    u32 state = client->state;
    bool reading = state == TlsStateReadingServerFlight;
    if (!client->serverHelloSeen && type != TlsHandshakeServerHello) {
        unexpectedMessage(client, type);
        return 0;
    }
    switch (type) {
    case TlsHandshakeServerHello:
        if (client->serverHelloSeen || !reading) {
            unexpectedMessage(client, type);
            return 0;
        }
        parseServerHello(client, &reader);
        if (tlsAborted(client)) {
            return 0;
        }
        hashHandshake(client, message, length);
        if (client->tls13) {
            tls13DeriveHandshakeSecrets(client);
            return 1;
        }
        return 0;
    case TlsHandshakeEncryptedExtensions: {
        if (!client->tls13 || !reading || client->encryptedExtensionsSeen) {
            unexpectedMessage(client, type);
            return 0;
        }
        ServerHelloFindings ignored{};
        if (parseExtensions(client, &reader, 0, &ignored)) {
            return 0;
        }
        client->encryptedExtensionsSeen = 1;
        break;
    }
    case TlsHandshakeCertificate:
        if (!reading || (client->tls13 && !client->encryptedExtensionsSeen) || client->serverCertificateSeen) {
            unexpectedMessage(client, type);
            return 0;
        }
        if (checkServerCertificate(client, message + 4, length - 4)) {
            return 0;
        }
        reader.position = reader.end;
        break;
    case TlsHandshakeCertificateVerify: {
        if (!client->tls13 || !reading || !client->serverCertificateSeen || client->serverAuthenticated) {
            unexpectedMessage(client, type);
            return 0;
        }
        u8 transcript[48];
        tlsTranscriptHash(client, transcript);
        if (checkServerCertificateVerify(client, message + 4, length - 4, transcript)) {
            return 0;
        }
        reader.position = reader.end;
        break;
    }
    case TlsHandshakeCertificateRequest:
        // under TLS 1.3 it stands between the EncryptedExtensions and the server's Certificate
        if (!reading || (client->tls13 && (!client->encryptedExtensionsSeen || client->serverCertificateSeen)) ||
            client->certificateRequested) {
            unexpectedMessage(client, type);
            return 0;
        }
        // The client has no certificate; it answers with an empty Certificate message, echoing the
        // request's context under TLS 1.3.
        if (client->tls13) {
            u8 contextLength = tlsReadU8(&reader);
            const u8* context = tlsReadBytes(&reader, contextLength);
            if (context) {
                memcpy(client->certificateRequestContext, context, contextLength);
                client->certificateRequestContextLength = contextLength;
            }
        }
        client->certificateRequested = 1;
        reader.position = reader.end;
        break;
    case TlsHandshakeServerKeyExchange:
        if (client->tls13 || !reading || client->sharedSecretReady) {
            unexpectedMessage(client, type);
            return 0;
        }
        parseServerKeyExchange(client, &reader);
        break;
    case TlsHandshakeServerHelloDone:
        if (client->tls13 || !reading || !client->sharedSecretReady) {
            unexpectedMessage(client, type);
            return 0;
        }
        hashHandshake(client, message, length);
        client->state = TlsStateKeyExchangeDue;
        return 0;
    case TlsHandshakeFinished:
        // Under TLS 1.3 the server must have proven its certificate's key first (under TLS 1.2 the
        // ServerHelloDone already waited for the signed key exchange).
        if (client->tls13 ? (!reading || !client->encryptedExtensionsSeen || !client->serverAuthenticated)
                          : state != TlsStateAwaitingServerFinished) {
            unexpectedMessage(client, type);
            return 0;
        }
        verifyServerFinished(client, &reader, message, length);
        if (tlsAborted(client)) {
            return 0;
        }
        if (client->tls13) {
            tls13DeriveApplicationSecrets(client);
            client->state = TlsStateChangeCipherSpecDue;
            return 1;
        }
        client->state = TlsStateEstablished;
        return 0;
    case TlsHandshakeNewSessionTicket:
        // Tickets are not kept. Under TLS 1.2 the ticket comes before the server's ChangeCipherSpec and
        // belongs to the transcript; under TLS 1.3 it comes after the handshake and does not.
        if (client->tls13 ? state < TlsStateChangeCipherSpecDue : state != TlsStateAwaitingServerChangeCipherSpec) {
            unexpectedMessage(client, type);
            return 0;
        }
        if (!client->tls13) {
            hashHandshake(client, message, length);
        }
        return 0;
    case TlsHandshakeKeyUpdate: {
        // The server's records switch to its next keys right after this message; when it asks, the
        // client's own KeyUpdate goes out before its next record of data. Not part of the transcript.
        if (!client->tls13 || state != TlsStateEstablished) {
            unexpectedMessage(client, type);
            return 0;
        }
        u8 request = tlsReadU8(&reader);
        if (reader.failed || reader.position != reader.end) {
            failDecode(client);
            return 0;
        }
        if (request > 1) {
            tlsFail(client, formatInt("The server's KeyUpdate has the request value @", request),
                    TlsAlertIllegalParameter);
            return 0;
        }
        tls13NextTrafficKeys(client, client->serverApplicationSecret, &client->receive);
        client->keyUpdatesReceived++;
        if (request == 1) {
            client->keyUpdateDue = 1;
        }
        return 1;
    }
    case 0:  // HelloRequest: renegotiation is not offered, so it is ignored once established
        if (!client->tls13 && state == TlsStateEstablished) {
            return 0;
        }
        unexpectedMessage(client, type);
        return 0;
    default:
        unexpectedMessage(client, type);
        return 0;
    }
    if (tlsAborted(client)) {
        return 0;
    }
    if (reader.failed || reader.position > reader.end) {
        failDecode(client);
        return 0;
    }
    hashHandshake(client, message, length);
    return 0;
}

}  // namespace

u8 tlsReadU8(TlsReader* reader) {
    if (reader->position + 1 > reader->end) {
        reader->failed = 1;
        reader->position = reader->end;
        return 0;
    }
    return reader->data[reader->position++];
}

u16 tlsReadU16(TlsReader* reader) {
    u16 high = tlsReadU8(reader);
    return (u16)(high << 8 | tlsReadU8(reader));
}

u32 tlsReadU24(TlsReader* reader) {
    u32 high = tlsReadU8(reader);
    return high << 16 | tlsReadU16(reader);
}

const u8* tlsReadBytes(TlsReader* reader, i64 count) {
    if (count < 0 || reader->position + count > reader->end) {
        reader->failed = 1;
        reader->position = reader->end;
        return nullptr;
    }
    const u8* bytes = reader->data + reader->position;
    reader->position += count;
    return bytes;
}

void hashHandshake(TlsClient* client, const u8* message, i64 length) {
    sha256Update(&client->transcript256, message, (u64)length);
    sha384Update(&client->transcript384, message, (u64)length);
}

u32 tlsPublicKeyParsingAndCalculations(u16 group, u16 keyLength, TlsClient* client, const u8* key) {
    ProfilingScope scope("TLS public Key parsing and calculations");
    if (group == kGroupSecp256r1 && keyLength == 65) {
        if (key[0] != 4) {
            tlsFail(client, formatHex("Legacy version byte should be 4. Found 0x@", key[0], 2), TlsAlertDecodeError);
            return 1;
        }
        u8 point[64];
        for (int i = 0; i < 32; i++) {
            point[i] = key[32 - i];
            point[32 + i] = key[64 - i];
        }
        if (!isPointOnCurve(point, &secp256r1)) {
            FormatHexArgument groupArgument{group, 4};
            FormatBytesArgument x{key + 1, 32};
            FormatBytesArgument y{key + 33, 32};
            const void* arguments[3] = {&groupArgument, &x, &y};
            u32 kinds[3] = {FormatArgHex, FormatArgHexBytes, FormatArgHexBytes};
            tlsFail(client,
                    formatString("Elliptic Curve point provided by the server isn't on the curve Group:0x@, x:@, y:@",
                                 arguments, kinds, 3),
                    TlsAlertIllegalParameter);
            return 1;
        }
        u8 product[64];
        i32 error = scalePoint(product, client->p256Private, point, &secp256r1);
        for (int i = 0; i < 32; i++) client->sharedSecret[i] = product[31 - i];
        secureWipe(product, sizeof(product));
        if (error == 1) {
            tlsFail(client,
                    makeString("Elliptic Curve Point scaling resulted in the point at infinity. Unlucky. Try again "
                               "with new numbers."),
                    TlsAlertDecryptError);
            return 1;
        }
        if (error != 0) {
            tlsFail(client, formatInt("Unrecognized Elliptic Curve validation error @", error), TlsAlertDecryptError);
            return 1;
        }
    } else if (group == kGroupX25519 && keyLength == 32) {
        u8 scalar[32];
        memcpy(scalar, client->x25519Private, 32);
        x25519(client->sharedSecret, scalar, key);
        secureWipe(scalar, sizeof(scalar));
        u8 zero[32] = {};
        if (constantTimeEqual(client->sharedSecret, zero, 32)) {
            tlsFail(client, makeString("The server's X25519 key share gives an all-zero shared secret"),
                    TlsAlertIllegalParameter);
            return 1;
        }
    } else if (group == kGroupX25519 || group == kGroupSecp256r1) {
        tlsFail(client,
                formatHexInt("Unsupported public key cryptography algorithm. Group 0x@, Length @", group, 4, keyLength),
                TlsAlertIllegalParameter);
        return 1;
    } else {
        tlsFail(client, formatHex("Server chose key-share group 0x@, which this client did not offer", group, 4),
                TlsAlertIllegalParameter);
        return 1;
    }
    client->keyExchangeGroup = group;
    client->sharedSecretReady = 1;
    return 0;
}

void writeClientHello(TlsClient* client, const FixedString* hostName, ByteWriter* packet) {
    client->hostName = hostName ? *hostName : FixedString{};
    appendU8(TlsRecordHandshake, packet);
    appendU16Be(0x0301, packet);
    LengthFieldMark recordLength = reserveLengthField(packet, LengthFieldU16Be);
    i64 messageStart = packet->length;
    appendU8(TlsHandshakeClientHello, packet);
    LengthFieldMark messageLength = reserveLengthField(packet, LengthFieldU24Be);
    appendU16Be(kVersionTls12, packet);
    appendBytes(client->clientRandom, 32, packet);
    appendU8(client->sessionIdLength, packet);
    appendBytes(client->sessionId, client->sessionIdLength, packet);
    appendU16Be(6, packet);
    appendU16Be(kSuiteAes256GcmSha384, packet);
    appendU16Be(kSuiteAes128GcmSha256, packet);
    appendU16Be(kSuiteEcdheRsaAes128CbcSha, packet);
    appendU8(1, packet);
    appendU8(0, packet);
    LengthFieldMark extensionsLength = reserveLengthField(packet, LengthFieldU16Be);
    u16 hostLength = hostName ? hostName->length : 0;
    u8 address[16];
    if (hostLength > 0 && parseNumericHost(address, (const u8*)hostName->text, hostLength)) {
        hostLength = 0;  // server_name carries DNS names only, never an address
    }
    if (hostLength > 0) {
        appendU16Be(0x0000, packet);
        appendU16Be((u16)(hostLength + 5), packet);
        appendU16Be((u16)(hostLength + 3), packet);
        appendU8(0, packet);
        appendU16Be(hostLength, packet);
        appendBytes(hostName->text, hostLength, packet);
    }
    appendU16Be(0x000B, packet);  // ec_point_formats: uncompressed
    appendU16Be(2, packet);
    appendU8(1, packet);
    appendU8(0, packet);
    appendU16Be(0x000A, packet);  // supported_groups
    appendU16Be(6, packet);
    appendU16Be(4, packet);
    appendU16Be(kGroupX25519, packet);
    appendU16Be(kGroupSecp256r1, packet);
    appendU16Be(0x0023, packet);  // session_ticket
    appendU16Be(0, packet);
    appendU16Be(0x0016, packet);  // encrypt_then_mac
    appendU16Be(0, packet);
    appendU16Be(0x0017, packet);  // extended_master_secret
    appendU16Be(0, packet);
    appendU16Be(0x000D, packet);  // signature_algorithms
    appendU16Be((u16)(2 + 2 * kTlsSignatureSchemeCount), packet);
    appendU16Be((u16)(2 * kTlsSignatureSchemeCount), packet);
    for (const TlsSignatureScheme& scheme : kTlsSignatureSchemes) {
        appendU16Be(scheme.scheme, packet);
    }
    // supported_versions: TLS 1.3, and TLS 1.2 as well, since a server that knows this extension
    // negotiates from it alone and would otherwise find no version in common when limited to 1.2.
    appendU16Be(0x002B, packet);
    appendU16Be(5, packet);
    appendU8(4, packet);
    appendU16Be(kVersionTls13, packet);
    appendU16Be(kVersionTls12, packet);
    appendU16Be(0x002D, packet);  // psk_key_exchange_modes: psk_dhe_ke
    appendU16Be(2, packet);
    appendU8(1, packet);
    appendU8(1, packet);
    appendU16Be(0x0010, packet);  // application_layer_protocol_negotiation
    appendU16Be(11, packet);
    appendU16Be(9, packet);
    appendU8(8, packet);
    appendBytes(kAlpnProtocol, 8, packet);
    appendU16Be(0x0033, packet);  // key_share
    LengthFieldMark keyShareLength = reserveLengthField(packet, LengthFieldU16Be);
    LengthFieldMark sharesLength = reserveLengthField(packet, LengthFieldU16Be);
    appendU16Be(kGroupX25519, packet);
    appendU16Be(32, packet);
    appendBytes(client->x25519Public, 32, packet);
    appendU16Be(kGroupSecp256r1, packet);
    appendU16Be(65, packet);
    appendU8(4, packet);
    appendReversed(client->p256Public, packet);
    appendReversed(client->p256Public + 32, packet);
    patchLengthField(&sharesLength, (u64)(packet->length - sharesLength.position));
    patchLengthField(&keyShareLength, (u64)(packet->length - keyShareLength.position));
    patchLengthField(&extensionsLength, (u64)(packet->length - extensionsLength.position));
    patchLengthField(&messageLength, (u64)(packet->length - messageLength.position));
    patchLengthField(&recordLength, (u64)(packet->length - recordLength.position));
    if (!packet->overflow && packet->data) {
        hashHandshake(client, packet->data + messageStart, packet->length - messageStart);
    }
}

void writeEmptyClientCertificate(TlsClient* client, ByteWriter* packet) {
    u8 message[4 + 1 + 255 + 3];
    ByteWriter writer = makeByteWriter(message, sizeof(message));
    appendU8(TlsHandshakeCertificate, &writer);
    LengthFieldMark length = reserveLengthField(&writer, LengthFieldU24Be);
    if (client->tls13) {
        appendU8(client->certificateRequestContextLength, &writer);
        appendBytes(client->certificateRequestContext, client->certificateRequestContextLength, &writer);
    }
    appendU8(0, &writer);  // an empty certificate list
    appendU16Be(0, &writer);
    patchLengthField(&length, (u64)(writer.length - length.position));
    hashHandshake(client, message, writer.length);
    writeTlsRecord(client, TlsRecordHandshake, message, writer.length, packet);
}

void writeClientKeyExchange(TlsClient* client, ByteWriter* packet) {
    u8 message[4 + 66];
    ByteWriter writer = makeByteWriter(message, sizeof(message));
    appendU8(TlsHandshakeClientKeyExchange, &writer);
    LengthFieldMark length = reserveLengthField(&writer, LengthFieldU24Be);
    if (client->keyExchangeGroup == kGroupSecp256r1) {
        appendU8(65, &writer);
        appendU8(4, &writer);
        appendReversed(client->p256Public, &writer);
        appendReversed(client->p256Public + 32, &writer);
    } else {
        appendU8(32, &writer);
        appendBytes(client->x25519Public, 32, &writer);
    }
    patchLengthField(&length, (u64)(writer.length - length.position));
    hashHandshake(client, message, writer.length);
    writeTlsRecord(client, TlsRecordHandshake, message, writer.length, packet);
}

void writeClientKeyUpdate(TlsClient* client, ByteWriter* packet) {
    const u8 message[5] = {TlsHandshakeKeyUpdate, 0, 0, 1, 0};  // update_not_requested
    writeTlsRecord(client, TlsRecordHandshake, message, sizeof(message), packet);
    tls13NextTrafficKeys(client, client->clientApplicationSecret, &client->send);
    client->keyUpdateDue = 0;
}

void writeClientFinished(TlsClient* client, ByteWriter* packet) {
    u8 message[4 + 48];
    u32 length = client->tls13 ? tlsHashLength(client) : 12;
    if (client->tls13) {
        tls13FinishedVerifyData(client, message + 4, client->clientHandshakeSecret);
    } else {
        tls12FinishedVerifyData(client, message + 4, "client finished");
        if (tlsAborted(client)) {
            return;
        }
    }
    message[0] = TlsHandshakeFinished;
    message[1] = 0;
    message[2] = 0;
    message[3] = (u8)length;
    hashHandshake(client, message, 4 + length);
    writeTlsRecord(client, TlsRecordHandshake, message, 4 + length, packet);
    if (client->tls13) {
        tls13SetTrafficKeys(client, &client->send, client->clientApplicationSecret);
    }
}

void receiveHandshakeBytes(TlsClient* client, const u8* bytes, i64 length) {
    if (client->handshakeLength + length > kTlsHandshakeBytes) {
        tlsFail(client, formatInt("A handshake message is larger than the @ bytes this client can hold", kTlsHandshakeBytes),
                TlsAlertInternalError);
        return;
    }
    memcpy(client->handshakeBuffer + client->handshakeLength, bytes, (size_t)length);
    client->handshakeLength += length;
    i64 offset = 0;
    while (!tlsAborted(client) && client->handshakeLength - offset >= 4) {
        const u8* message = client->handshakeBuffer + offset;
        i64 messageLength = 4 + ((i64)message[1] << 16 | (i64)message[2] << 8 | message[3]);
        if (messageLength > kTlsHandshakeBytes) {
            tlsFail(client,
                    formatInt("A handshake message is larger than the @ bytes this client can hold", kTlsHandshakeBytes),
                    TlsAlertInternalError);
            return;
        }
        if (client->handshakeLength - offset < messageLength) {
            break;  // the rest comes in a later record
        }
        u32 keysChanged = processHandshakeMessage(client, message, messageLength);
        offset += messageLength;
        if (!tlsAborted(client) && keysChanged && client->handshakeLength - offset > 0) {
            tlsFail(client, makeString("Handshake data arrived with the keys of the previous stage"),
                    TlsAlertUnexpectedMessage);
        }
    }
    if (tlsAborted(client)) {
        client->handshakeLength = 0;
        return;
    }
    memmove(client->handshakeBuffer, client->handshakeBuffer + offset, (size_t)(client->handshakeLength - offset));
    client->handshakeLength -= offset;
}
