// The program's own TLS client (TLS 1.3 with TLS_AES_128_GCM_SHA256 and TLS_AES_256_GCM_SHA384, TLS 1.2
// with TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA; X25519 or secp256r1 key exchange), stepped once per frame by
// the HTTPS operation that owns it. One step drives the TCP socket, moves the handshake on by as many
// messages as have arrived, sends queued request bytes once the connection is up and hands back the
// application data of this step. Nothing blocks and nothing allocates. The server is authenticated:
// its certificate chain must lead to a trust anchor and name the host, and its handshake signature
// must verify with the certificate's key.
#pragma once
#include "Crypto/Aes.h"
#include "Crypto/Rsa.h"
#include "Crypto/Sha.h"
#include "Crypto/TrustStore.h"
#include "Network/Socket.h"

constexpr i64 kTlsBufferBytes = 30000;           // receive buffer and plaintext buffer
constexpr i64 kTlsHandshakeBytes = 32768;        // one reassembled handshake message (certificate chains)
constexpr i32 kTlsSendSlots = 8;
constexpr i64 kTlsSendSlotBytes = 16384;
constexpr u64 kTlsHelloDelay = 100000;           // microseconds after a reset before the ClientHello
constexpr u64 kTlsAbortHoldTime = 2000000;       // microseconds an abort reason stays before the reset
constexpr u16 kTlsDefaultPort = 443;

enum TlsState : u32 {
    TlsStateReset = 0,
    TlsStateIdle = 1,
    TlsStateAlertDue = 2,            // aborted, the alert still to be sent
    TlsStateAborted = 3,             // aborted, alert sent (or none can be)
    TlsStateConnecting = 4,
    TlsStateReadingServerFlight = 5,
    TlsStateKeyExchangeDue = 6,      // TLS 1.2: ServerHelloDone received
    TlsStateChangeCipherSpecDue = 7,
    TlsStateFinishedDue = 8,
    TlsStateAwaitingServerChangeCipherSpec = 9,  // TLS 1.2
    TlsStateAwaitingServerFinished = 10,         // TLS 1.2
    TlsStateEstablished = 11,
};

// Alert descriptions this client sends itself.
enum TlsAlert : u8 {
    TlsAlertCloseNotify = 0,
    TlsAlertUnexpectedMessage = 10,
    TlsAlertBadRecordMac = 20,
    TlsAlertRecordOverflow = 22,
    TlsAlertHandshakeFailure = 40,
    TlsAlertBadCertificate = 42,
    TlsAlertCertificateExpired = 45,
    TlsAlertUnknownCa = 48,
    TlsAlertIllegalParameter = 47,
    TlsAlertDecodeError = 50,
    TlsAlertDecryptError = 51,
    TlsAlertProtocolVersion = 70,
    TlsAlertInternalError = 80,
    TlsAlertMissingExtension = 109,
};

// How records are protected in one direction.
enum TlsProtection : u32 {
    TlsProtectionNone = 0,
    TlsProtectionGcm13 = 1,  // TLS 1.3 AES-GCM
    TlsProtectionCbc12 = 2,  // TLS 1.2 AES-128-CBC with HMAC-SHA-1
};

// One direction's record keys: the expanded AES key, the TLS 1.3 IV and the record sequence number.
struct TlsTrafficKeys {
    AesKeySchedule key;
    u8 iv[12];
    u64 sequence;
};

struct TlsClient {
    FixedString message;  // status text, or the reason of the last abort
    u32 state;            // TlsState
    u32 tls13;            // the server selected TLS 1.3
    u8 clientRandom[32];
    u8 sessionId[32];
    u8 sessionIdLength;   // of sessionId, as the ClientHello sent it (a TLS 1.3 server echoes it)
    u64 abortTime;
    u8 alertLevel;
    u8 alertDescription;
    u64 resetTime;
    u8 p256Private[32];
    u8 p256Public[64];  // x then y, little-endian
    u8 x25519Private[32];
    u8 x25519Public[32];
    u32 keyBytes;  // 16 or 32
    u32 hashBits;  // 256 or 384
    u32 cbc;
    Sha256Context transcript256;
    Sha384Context transcript384;
    u32 fixedCbcIv;  // non-zero: CBC IVs 0x40..0x4F instead of random (reproducible records)
    u8 serverRandom[32];
    u32 extendedMasterSecret;
    u32 encryptThenMac;
    u32 macBytes;
    u16 keyExchangeGroup;
    u16 cipherSuite;
    u32 ready;               // set by the reset; a zero-filled client is reset by its first step
    u32 serverHelloSeen;
    u32 encryptedExtensionsSeen;
    u32 sharedSecretReady;
    u32 connectionLost;      // the socket reported a reset after the connection was up
    u32 abortCount;          // counts aborts, so a step can tell that it ended in one
    u32 closeNotifyReceived; // the server ended the connection with its close_notify alert
    u32 keyUpdateDue;        // TLS 1.3: the server asked for a KeyUpdate; ours goes before any more data
    u32 keyUpdatesReceived;  // the server's KeyUpdates followed on this connection
    u32 certificateRequested;  // the server asked for a client certificate; an empty one is sent
    u8 certificateRequestContextLength;
    u8 certificateRequestContext[255];
    u8 sharedSecret[32];     // X25519 output, or the P-256 x coordinate big-endian

    // Server authentication. trustStore, skipServerVerification and utcClock are kept across resets.
    const TrustStore* trustStore;  // null: the program's trust store (the system's CA bundle)
    u32 skipServerVerification;    // tests that replay recorded handshakes only: certificates and
                                   // signatures are taken unchecked
    i64 (*utcClock)();             // null: currentTimeMilliseconds; tests set their own
    FixedString hostName;          // the name the ClientHello asked for; the certificate must carry it
    u32 serverCertificateSeen;     // the server's chain was accepted and its key taken
    u32 serverAuthenticated;       // its CertificateVerify or ServerKeyExchange signature verified
    u32 serverKeyType;             // X509KeyType of the server's certificate
    u32 serverEcPointLength;
    u8 serverEcPoint[97];          // uncompressed point of an EC key
    RsaPublicKey serverRsaKey;

    // TLS 1.3 secrets (32 bytes for SHA-256 suites, 48 for SHA-384).
    u8 derived256[32];
    u8 derived384[48];
    u8 handshakeSecret[48];
    u8 clientHandshakeSecret[48];
    u8 serverHandshakeSecret[48];
    u8 masterSecret[48];  // TLS 1.3 master secret, or the TLS 1.2 master secret
    u8 clientApplicationSecret[48];
    u8 serverApplicationSecret[48];

    // TLS 1.2 MAC keys.
    u8 clientMacKey[32];
    u8 serverMacKey[32];

    // The keys records are protected with now, per direction.
    u32 sendProtection;     // TlsProtection
    u32 receiveProtection;  // TlsProtection
    TlsTrafficKeys send;
    TlsTrafficKeys receive;

    u32 sendOffset;  // bytes of the oldest queued request already sent
    u64 (*clock)();  // null: getMicroseconds; tests set their own (kept across resets)
    i64 handshakeLength;
    i64 receiveLength;
    u8 handshakeBuffer[kTlsHandshakeBytes];
    u8 receiveBuffer[kTlsBufferBytes];
    u8 plaintextBuffer[kTlsBufferBytes];
};

struct TlsSendSlot {
    ByteWriter writer;
    u8 data[kTlsSendSlotBytes];
};

// The owner's queue of request bytes; each slot leaves as one or more application-data records.
struct TlsSendQueue {
    u8 writeIndex;
    u8 readIndex;
    u8 count;
    TlsSendSlot slots[kTlsSendSlots];
};

struct TlsStepResult {
    u32 closed;        // the step ended in an abort
    u32 dataReceived;  // application data arrived in this step
    ByteWriter data;   // over the client's plaintext buffer
};

// One step. The port is the server address's own, or 443 when it has none. hostName goes into the
// ClientHello's server_name extension.
TlsStepResult* tlsClient(TlsStepResult* out, TlsClient* client, Socket* socket, const AddressRecord* server,
                         const FixedString* hostName, TlsSendQueue* queue);
// Clears the connection (state 0) and makes fresh key shares and randoms.
void resetTlsClient(TlsClient* client);
// Ends the connection with a reason shown for two seconds and a fatal or warning alert for the server.
void abortTlsClient(TlsClient* client, FixedString reason, u8 alertLevel, u8 alertDescription);

// The oldest queued slot, or null when none is queued.
ByteWriter* currentTlsRecord(TlsSendQueue* queue);
// Claims the next free slot and returns its emptied writer, or null when all eight are queued.
ByteWriter* queueTlsRecord(TlsSendQueue* queue);

// The status text of a state.
FixedString tlsStateText(u32 state);
// The name of an alert description ("Handshake Failure"), "Unknown" for any other value.
const char* tlsAlertName(u8 description);
