// The sealing of the encrypted relay link (see Network/SecureLink.h for the format): the key schedule,
// sealing and opening of a datagram, and the replay window. Shared by the host and the client side.
#pragma once
#include "Network/SecureLink.h"

// Header bytes before the counter of a sealed datagram (type, peer id, stream) and of a hello.
constexpr i64 kSealedDataHeader = 4;
constexpr i64 kHelloHeader = 36;
constexpr i64 kHostKeyLength = 3 + 32 + kSecureLinkHostNonceBytes;

// K = SHA-256(X25519(privateKey, peerPublicKey) | host public key | client public key | host nonce).
// Returns 0 (keys not ready) when the shared secret is all zero (a point of small order).
u32 deriveSecureLinkKeys(SecureLinkKeys* out, const u8* privateKey, const u8* peerPublicKey, const u8* hostPublicKey,
                         const u8* clientPublicKey, const u8* hostNonce);

// Appends counter, IV, the PKCS#7-padded ciphertext of inner and the MAC over the writer's whole content
// (which must start with the datagram's header). The IV is AES(cipher key, type | stream | counter),
// unique for every datagram of a key. Returns false when it does not fit.
bool sealSecureLinkPart(ByteWriter* writer, u8 type, u8 stream, u64 counter, const SecureLinkKeys* keys,
                        const u8* inner, i64 innerLength);

// Opens the sealed part that follows header bytes of data, in place: checks the length, then the MAC
// (in constant time), then the replay window (not yet marked), then decrypts and checks the padding.
// Returns false (data may then be changed) when any check fails; on success the inner packet and the
// counter, which the caller marks with acceptReplayCounter once it takes the datagram.
bool openSecureLinkPart(u8* data, i64 length, i64 header, const SecureLinkKeys* keys,
                        const SecureLinkReplayWindow* window, u8** inner, i64* innerLength, u64* counter);

// Takes one key exchange from the budget of the frame at now; false when the frame has done limit.
bool takeKeyExchange(KeyExchangeBudget* budget, u64 now, i32 limit);

// The proof of the control password for one session and stream: the first 16 bytes of
// HMAC-SHA-256(key = the 8-byte password, "orvik control proof" | host public key | client public key |
// host nonce | u8 stream). It shows the password only to a host that holds it.
constexpr i64 kControlProofBytes = 16;
void secureLinkControlProof(u8* out, const u8* password, const u8* hostPublicKey, const u8* clientPublicKey,
                            const u8* hostNonce, u8 stream);

bool isFreshCounter(const SecureLinkReplayWindow* window, u64 counter);
void acceptReplayCounter(SecureLinkReplayWindow* window, u64 counter);

u16 readLinkU16(const u8* bytes);
u32 readLinkU32(const u8* bytes);
u64 readLinkU64(const u8* bytes);
