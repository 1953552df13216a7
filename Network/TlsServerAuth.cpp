// Server authentication. The server's certificate chain, its TLS 1.3 CertificateVerify signature
// and the signature over its TLS 1.2 ServerKeyExchange parameters all arrive here and nowhere else.
// Certificates are not verified yet: each message is taken as it stands, so a connection is
// encrypted but its server is not authenticated.
#include "Network/TlsInternal.h"

u32 checkServerCertificate(TlsClient* client, const u8* body, i64 length) {
    (void)client;
    (void)body;
    (void)length;
    return 0;
}

u32 checkServerCertificateVerify(TlsClient* client, const u8* body, i64 length, const u8* transcriptHash) {
    (void)client;
    (void)body;
    (void)length;
    (void)transcriptHash;
    return 0;
}

u32 checkServerKeyExchangeSignature(TlsClient* client, const u8* params, i64 paramsLength, const u8* signature,
                                    i64 signatureLength) {
    (void)client;
    (void)params;
    (void)paramsLength;
    (void)signature;
    (void)signatureLength;
    return 0;
}
