// A server's certificate chain judged the way a TLS client must: each link's signature up to a
// trust anchor, validity at the current time, CA flags and path lengths of the issuers, key and
// extended key usage of the server's certificate, the name constraints (DNS names and IP addresses)
// of every issuer, and the host name against its subject alternative names.
#pragma once
#include "Crypto/TrustStore.h"

constexpr u32 kMaxChainCertificates = 10;

// The outcome, numbered as the TLS alert that reports it.
enum ChainVerdict : u8 {
    ChainTrusted = 0,
    ChainBadCertificate = 42,   // bad signature, wrong name, wrong use, malformed
    ChainExpired = 45,          // outside its validity at this time
    ChainUnknownIssuer = 48,    // no way to a trust anchor
};

// chain[0] is the server's certificate, the others as the server sent them (any order). now is Unix
// seconds UTC. message receives a text that names the host and what failed (empty when trusted).
u8 verifyServerChain(FixedString* message, const X509Certificate* chain, u32 count, const TrustStore* store,
                     const FixedString* hostName, i64 now);

// True when the certificate names the host: a DNS name equal to it (any case, one trailing dot of
// the host ignored) or with a leftmost "*" label standing for exactly one label; for a numeric host
// (IPv4 dotted or IPv6 text) an IP address of the same bytes.
bool certificateMatchesHost(const X509Certificate* certificate, const u8* host, u32 hostLength);

// The DNS names and IP addresses of subject against the name constraints of issuer: each lies in a
// permitted subtree of its form (when the issuer names any) and in no excluded one; a wildcard name
// must not be able to stand for an excluded name.
bool certificateNamesAllowed(const X509Certificate* subject, const X509Certificate* issuer);

// The bytes of a numeric address text: 4 for IPv4, 16 for IPv6, 0 when the text is not one.
u32 parseNumericHost(u8* out, const u8* text, u32 length);
