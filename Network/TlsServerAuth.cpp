// Server authentication. The server's certificate chain, its TLS 1.3 CertificateVerify signature
// and the signature over its TLS 1.2 ServerKeyExchange parameters all arrive here and nowhere else.
// The chain must lead to an anchor of the trust store and name the host; the server's signature must
// verify with its certificate's key, under a scheme the ClientHello offered.
#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Crypto/Ecdsa.h"
#include "Crypto/X509Verify.h"
#include "Network/TlsInternal.h"

namespace {

FixedString hostOf(const TlsClient* client) {
    return client->hostName.length ? client->hostName : makeString("the server");
}

// Unix seconds now, from the client's UTC clock.
i64 unixNow(const TlsClient* client) {
    i64 milliseconds = client->utcClock ? client->utcClock() : currentTimeMilliseconds();
    i64 sinceEpoch = milliseconds - kUnixEpochIn1601Milliseconds;
    return sinceEpoch >= 0 ? sinceEpoch / 1000 : -((-sinceEpoch + 999) / 1000);
}

// Takes the server certificate's public key into the client (the certificate's bytes do not outlive
// the message). Returns 0, or 1 when the client was aborted.
u32 takeServerKey(TlsClient* client, const X509Certificate* leaf) {
    client->serverKeyType = leaf->keyType;
    switch (leaf->keyType) {
        case X509KeyRsa:
        case X509KeyRsaPss: {
            FixedString problem =
                makeRsaPublicKey(&client->serverRsaKey, x509Bytes(leaf, leaf->keyModulus), leaf->keyModulus.length,
                                 x509Bytes(leaf, leaf->keyExponent), leaf->keyExponent.length);
            if (problem.length) {
                tlsFail(client, formatStrStr("Certificate of @ refused: @", hostOf(client), problem),
                        TlsAlertBadCertificate);
                return 1;
            }
            return 0;
        }
        case X509KeyEcP256:
        case X509KeyEcP384: {
            u32 curve = leaf->keyType == X509KeyEcP256 ? EcdsaCurveP256 : EcdsaCurveP384;
            const u8* point = x509Bytes(leaf, leaf->keyPoint);
            if (leaf->keyPoint.length > sizeof(client->serverEcPoint) ||
                !ecdsaPublicKeyValid(curve, point, leaf->keyPoint.length)) {
                tlsFail(client, formatStr("Certificate of @ refused: its key is not a curve point", hostOf(client)),
                        TlsAlertBadCertificate);
                return 1;
            }
            memcpy(client->serverEcPoint, point, leaf->keyPoint.length);
            client->serverEcPointLength = leaf->keyPoint.length;
            return 0;
        }
        default:
            tlsFail(client, formatStr("Certificate of @ refused: its key type is not supported", hostOf(client)),
                    TlsAlertBadCertificate);
            return 1;
    }
}

// Checks signature over content under scheme with the server's key. Returns 0, or 1 when the client
// was aborted: a scheme that was not offered or does not fit the key is an illegal parameter, a
// signature that does not verify a decrypt error.
u32 verifyServerSignature(TlsClient* client, u16 scheme, const u8* content, u64 contentLength, const u8* signature,
                          u32 signatureLength, const char* what) {
    const TlsSignatureScheme* found = nullptr;
    for (const TlsSignatureScheme& s : kTlsSignatureSchemes) {
        if (s.scheme == scheme) found = &s;
    }
    if (!found) {
        tlsFail(client, formatStrStr("@ was not offered to @", formatHex("Signature scheme 0x@", scheme, 4),
                                     hostOf(client)),
                TlsAlertIllegalParameter);
        return 1;
    }
    u8 kind = found->kind;
    u32 hash = found->hash;
    u32 type = client->serverKeyType;
    u32 keyFits = 0;
    switch (kind) {
        case TlsSignatureEcdsa:
            // TLS 1.3 ties each ECDSA scheme to its curve; TLS 1.2 has no ECDSA suite here
            keyFits = client->tls13 && type == (hash == SignatureHashSha256 ? (u32)X509KeyEcP256 : (u32)X509KeyEcP384);
            break;
        case TlsSignaturePss: keyFits = type == X509KeyRsa; break;
        case TlsSignaturePssKey: keyFits = type == X509KeyRsaPss; break;
        case TlsSignaturePkcs1: keyFits = !client->tls13 && type == X509KeyRsa; break;  // not for TLS 1.3 handshake signatures
    }
    if (!keyFits) {
        tlsFail(client, formatStrStr("@ does not fit the certificate of @", formatHex("Signature scheme 0x@", scheme, 4),
                                     hostOf(client)),
                TlsAlertIllegalParameter);
        return 1;
    }
    u8 digest[64];
    u32 digestLength = signatureHashBytes(digest, hash, content, contentLength);
    bool valid;
    if (kind == TlsSignatureEcdsa) {
        u32 curve = type == X509KeyEcP256 ? EcdsaCurveP256 : EcdsaCurveP384;
        valid = ecdsaVerifyDer(curve, client->serverEcPoint, client->serverEcPointLength, digest, digestLength,
                               signature, signatureLength);
    } else if (kind == TlsSignaturePss || kind == TlsSignaturePssKey) {
        valid = rsaVerifyPss(&client->serverRsaKey, hash, digest, (i32)digestLength, signature, signatureLength);
    } else {
        valid = rsaVerifyPkcs1(&client->serverRsaKey, hash, digest, signature, signatureLength);
    }
    if (!valid) {
        tlsFail(client, formatStrStr("@ signature of @ does not verify", makeString(what), hostOf(client)),
                TlsAlertDecryptError);
        return 1;
    }
    client->serverAuthenticated = 1;
    return 0;
}

// Reads "scheme, length, signature" filling the rest of a message. Returns 0, or 1 when aborted.
u32 readSignature(TlsClient* client, const u8* bytes, i64 length, u16* scheme, const u8** signature, u32* signatureLength) {
    TlsReader reader{bytes, 0, length, 0};
    *scheme = tlsReadU16(&reader);
    u16 count = tlsReadU16(&reader);
    *signature = tlsReadBytes(&reader, count);
    if (reader.failed || !*signature || reader.position != reader.end) {
        tlsFail(client, formatStr("Malformed signature from @", hostOf(client)), TlsAlertDecodeError);
        return 1;
    }
    *signatureLength = count;
    return 0;
}

}  // namespace

// ECDSA on P-256 and P-384, RSA-PSS with either kind of RSA key, and PKCS#1 v1.5 (certificates, and
// TLS 1.2 key exchanges).
const TlsSignatureScheme kTlsSignatureSchemes[kTlsSignatureSchemeCount] = {
    {0x0403, TlsSignatureEcdsa, SignatureHashSha256},  {0x0503, TlsSignatureEcdsa, SignatureHashSha384},
    {0x0804, TlsSignaturePss, SignatureHashSha256},    {0x0805, TlsSignaturePss, SignatureHashSha384},
    {0x0806, TlsSignaturePss, SignatureHashSha512},    {0x0809, TlsSignaturePssKey, SignatureHashSha256},
    {0x080A, TlsSignaturePssKey, SignatureHashSha384}, {0x080B, TlsSignaturePssKey, SignatureHashSha512},
    {0x0401, TlsSignaturePkcs1, SignatureHashSha256},  {0x0501, TlsSignaturePkcs1, SignatureHashSha384},
    {0x0601, TlsSignaturePkcs1, SignatureHashSha512},
};

u32 checkServerCertificate(TlsClient* client, const u8* body, i64 length) {
    TlsReader reader{body, 0, length, 0};
    if (client->tls13) {
        u8 contextLength = tlsReadU8(&reader);
        tlsReadBytes(&reader, contextLength);
        if (contextLength != 0) {
            tlsFail(client, makeString("The server's certificate has a request context"), TlsAlertIllegalParameter);
            return 1;
        }
    }
    u32 listLength = tlsReadU24(&reader);
    if (reader.failed || reader.position + listLength != reader.end) {
        tlsFail(client, makeString("The certificate list does not fill its message"), TlsAlertDecodeError);
        return 1;
    }
    X509Certificate chain[kMaxChainCertificates];
    u32 count = 0;
    while (reader.position < reader.end) {
        u32 certificateLength = tlsReadU24(&reader);
        const u8* der = tlsReadBytes(&reader, certificateLength);
        if (client->tls13) {
            u16 extensionsLength = tlsReadU16(&reader);
            tlsReadBytes(&reader, extensionsLength);
        }
        if (reader.failed || !der || certificateLength == 0) {
            tlsFail(client, makeString("The certificate list does not fill its message"), TlsAlertDecodeError);
            return 1;
        }
        if (count == kMaxChainCertificates) continue;  // longer chains are judged by their first ten
        FixedString problem = parseX509Certificate(&chain[count], der, certificateLength);
        if (problem.length == 0) {
            count++;
        } else if (count == 0 && !client->skipServerVerification) {
            tlsFail(client, formatStrStr("Certificate of @ unreadable: @", hostOf(client), problem),
                    TlsAlertBadCertificate);
            return 1;
        }
    }
    if (client->skipServerVerification) {
        // Recorded handshakes: the key is taken when it is one this client knows, nothing is judged.
        client->serverCertificateSeen = 1;
        client->serverKeyType = X509KeyUnknown;
        return 0;
    }
    if (count == 0) {
        tlsFail(client, formatStr("No certificate from @", hostOf(client)),
                client->tls13 ? TlsAlertDecodeError : TlsAlertBadCertificate);
        return 1;
    }
    const TrustStore* store = client->trustStore ? client->trustStore : programTrustStore();
    if (store->count == 0 && store->message.length) {
        // the bundle is still loading, or could not be read
        tlsFail(client, formatStrStr("Can't check the certificate of @: @", hostOf(client), store->message),
                TlsAlertUnknownCa);
        return 1;
    }
    FixedString message;
    u8 verdict = verifyServerChain(&message, chain, count, store, &client->hostName, unixNow(client));
    if (verdict != ChainTrusted) {
        tlsFail(client, message, verdict);
        return 1;
    }
    if (takeServerKey(client, &chain[0])) return 1;
    client->serverCertificateSeen = 1;
    return 0;
}

u32 checkServerCertificateVerify(TlsClient* client, const u8* body, i64 length, const u8* transcriptHash) {
    if (client->skipServerVerification) {
        client->serverAuthenticated = 1;
        return 0;
    }
    u16 scheme;
    const u8* signature;
    u32 signatureLength;
    if (readSignature(client, body, length, &scheme, &signature, &signatureLength)) return 1;
    // 64 spaces, the context string, a zero byte, the transcript hash up to the Certificate
    static const char kContext[] = "TLS 1.3, server CertificateVerify";
    u8 content[64 + sizeof(kContext) + 48];
    memset(content, 0x20, 64);
    memcpy(content + 64, kContext, sizeof(kContext));  // with its terminating zero
    u32 hashLength = tlsHashLength(client);
    memcpy(content + 64 + sizeof(kContext), transcriptHash, hashLength);
    return verifyServerSignature(client, scheme, content, 64 + sizeof(kContext) + hashLength, signature,
                                 signatureLength, "The CertificateVerify");
}

u32 checkServerKeyExchangeSignature(TlsClient* client, const u8* params, i64 paramsLength, const u8* signature,
                                    i64 signatureLength) {
    if (client->skipServerVerification) {
        client->serverAuthenticated = 1;
        return 0;
    }
    if (!client->serverCertificateSeen) {
        tlsFail(client, formatStr("Key exchange from @ before its certificate", hostOf(client)),
                TlsAlertUnexpectedMessage);
        return 1;
    }
    u16 scheme;
    const u8* value;
    u32 valueLength;
    if (readSignature(client, signature, signatureLength, &scheme, &value, &valueLength)) return 1;
    // client random, server random, the ECDH parameters
    u8 content[64 + 4 + 255];
    if (paramsLength < 0 || paramsLength > 4 + 255) {
        tlsFail(client, makeString("Parsed beyond the end of the handshake"), TlsAlertDecodeError);
        return 1;
    }
    memcpy(content, client->clientRandom, 32);
    memcpy(content + 32, client->serverRandom, 32);
    memcpy(content + 64, params, (size_t)paramsLength);
    return verifyServerSignature(client, scheme, content, 64 + (u64)paramsLength, value, valueLength,
                                 "The key exchange");
}
