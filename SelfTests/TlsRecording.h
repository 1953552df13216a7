// A connection of the program's own TLS client with a test server, recorded on loopback by
// Tools/record_tls_sessions.py: the client's fixed key share and randoms, the records both ways in
// flights, and what the replay needs to authenticate the server as the client did then.
#pragma once
#include "Core/Types.h"

struct TlsRecordedFlight {
    u32 fromServer;  // 1: the server's records; 0: the client's
    u32 length;
    const u8* bytes;  // whole records in the order sent
};

struct TlsRecording {
    const char* hostName;      // the name the client asked for; the certificate names it
    i64 utcMilliseconds;       // when it was recorded, since 1601-01-01: the certificate check's time
    const u8* authority;       // DER of the test authority that issued the server's certificate
    u32 authorityLength;
    const u8* clientPrivateKey;  // X25519, 32 bytes
    const u8* clientPublicKey;   // 32 bytes
    const u8* clientHello;       // the ClientHello handshake message, without its record header
    u32 clientHelloLength;
    const u8* request;           // the application data the client sent
    u32 requestLength;
    const u8* reply;             // the application data the server answered with
    u32 replyLength;
    u32 flightCount;
    const TlsRecordedFlight* flights;
};

// The checked-in recordings (SelfTests/TlsRecordings.cpp).
extern const TlsRecording kTls13Recording;        // TLS_AES_256_GCM_SHA384, "ping" and "pong"
extern const TlsRecording kTls12BasicRecording;   // ECDHE-RSA-AES128-SHA, "ping" and "pong"
extern const TlsRecording kTls12ExtendedRecording;  // the same with encrypt-then-MAC and the extended
                                                    // master secret: GET /test.txt, then close_notify
