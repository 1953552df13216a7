// The program's checks of its own cryptography and TLS client, run by the Automated Tests screen.
// Every suite returns 0 when all its checks pass; otherwise it stops at the first check that fails
// and returns that check's line in its source file, so each check has a code of its own. Suites
// print and log nothing and keep nothing between runs. Main thread only: their profiling regions
// open inside the caller's.
#pragma once
#include "Crypto/EllipticCurve.h"
#include "SelfTests/TlsRecording.h"

// Hashes, HMACs and HKDF against published examples (regions "Md5 Test Suite" ... "Sha512 Test Suite").
i32 md5TestSuite();
i32 sha1TestSuite();
i32 sha256TestSuite();
i32 sha384TestSuite();
i32 sha512TestSuite();

// AES-CBC (NIST SP 800-38A) and AES-GCM (a TLS record, GHASH, GCM's published AES-128 test cases 1
// to 4, and a timed decryption of 20,000 bytes in the region "Test Decrypt AES GCM timing").
i32 aesCbcTestSuite();
i32 aesGcmTestSuite();

// Big numbers, the small textbook curve, a P-256 key agreement and X25519 (RFC 7748, with the
// 1,000-fold iteration in the region "x25519 999 tests"). Region "Elliptic Curve Cryptography Test
// Suite".
i32 ellipticCurveCryptographyTestSuite();

constexpr u64 kTlsSelfTestMemoryBytes = 4 * 1024 * 1024;

// The TLS client replayed against recorded connections, without a network. memory is working
// memory of at least kTlsSelfTestMemoryBytes (the client, its socket, queues and trust store live
// there, not on the stack); nothing else may use it during the call.
i32 tls13TestSuite(void* memory);
i32 tls12BasicTestSuite(void* memory);
i32 tls12ExtendedTestSuite(void* memory);

// The same replays over any recording of the same shape (a fresh one from the recording tool, or
// a changed one in the tests).
i32 replayTls13Recording(void* memory, const TlsRecording* recording);
i32 replayTls12BasicRecording(void* memory, const TlsRecording* recording);
i32 replayTls12ExtendedRecording(void* memory, const TlsRecording* recording);

// parseUrl on an RTSP URL with an address and port, and an HTTPS URL with a domain name.
i32 urlParseTest();

// out = base^exponent mod m (32-byte little-endian numbers; the exponent's 256 bits are all
// visited, the work does not depend on them). Region "Modular exponentiation". Returns out.
u8* modularExponentiation(u8* out, const u8* base, const u8* exponent, const PreparedModulus* modulus);

// The curve y^2 = x^3 + 2x + 3 mod 97 with base point (12, 3) of order 50.
EllipticCurve* makeSmallTestCurve(EllipticCurve* out);
