// X.509 certificates in DER: the fields a TLS client needs to follow a chain to a trust anchor and to
// match the server's name. Every tag and length is checked against the bytes that hold it; the
// certificate record points into the caller's DER bytes, which must outlive it.
#pragma once
#include "Core/FixedString.h"

constexpr u32 kX509MaxNames = 32;  // subject alternative names kept per certificate
constexpr u32 kX509MaxNameConstraints = 16;  // DNS and IP subtrees kept per certificate

// A run of bytes inside the certificate's DER.
struct DerSpan {
    u32 offset;
    u32 length;
};

// The signature algorithm of a certificate (the outer AlgorithmIdentifier).
enum X509SignatureAlgorithm : u32 {
    X509SignatureUnknown = 0,
    X509SignatureRsaPkcs1 = 1,
    X509SignatureRsaPss = 2,
    X509SignatureEcdsa = 3,
};

enum X509KeyType : u32 {
    X509KeyUnknown = 0,
    X509KeyRsa = 1,     // rsaEncryption
    X509KeyRsaPss = 2,  // id-RSASSA-PSS keys (PSS signatures only)
    X509KeyEcP256 = 3,
    X509KeyEcP384 = 4,
};

// keyUsage bits as this record keeps them.
enum X509KeyUsage : u32 {
    X509KeyUsageDigitalSignature = 1u << 0,
    X509KeyUsageKeyEncipherment = 1u << 2,
    X509KeyUsageKeyCertSign = 1u << 5,
};

enum X509NameType : u8 {
    X509NameDns = 2,
    X509NameIp = 7,
};

struct X509Certificate {
    const u8* der;
    u32 derLength;
    u32 version;             // 1 to 3
    DerSpan tbs;             // the TBSCertificate, tag and length included: the signed bytes
    DerSpan issuer;          // Name, tag and length included
    DerSpan subject;
    i64 notBefore;           // Unix seconds
    i64 notAfter;
    u32 signatureAlgorithm;  // X509SignatureAlgorithm
    u32 signatureHash;       // SignatureHash
    i32 pssSaltLength;       // RSA-PSS only
    DerSpan signature;       // the BIT STRING's bytes
    u32 keyType;             // X509KeyType
    DerSpan keyModulus;      // RSA
    DerSpan keyExponent;
    DerSpan keyPoint;        // EC: the uncompressed point
    u32 hasBasicConstraints;
    u32 isCa;
    i32 pathLength;          // -1: no limit
    u32 hasKeyUsage;
    u32 keyUsage;            // X509KeyUsage bits
    u32 hasExtendedKeyUsage;
    u32 serverAuth;          // the extended key usage allows server authentication
    u32 nameCount;           // DNS names and IP addresses from subjectAltName
    u32 namesCut;            // more names than kX509MaxNames
    u8 nameTypes[kX509MaxNames];  // X509NameType
    DerSpan names[kX509MaxNames];
    // nameConstraints of a CA: DNS name and IP address subtrees. Subtrees of other name forms
    // (e-mail, URI, directory names) do not bear on the DNS names and addresses a server is checked
    // by, and are not kept.
    u32 hasNameConstraints;
    u32 constraintCount;
    u32 constraintsCut;  // more DNS and IP subtrees than kX509MaxNameConstraints
    u8 constraintTypes[kX509MaxNameConstraints];     // X509NameType
    u8 constraintExcluded[kX509MaxNameConstraints];  // 1: excludedSubtrees, 0: permittedSubtrees
    DerSpan constraints[kX509MaxNameConstraints];    // a DNS name, or an IP address then its mask (8 or 32 bytes)
};

// Parses one certificate. Empty on success, else what is wrong with it.
FixedString parseX509Certificate(X509Certificate* out, const u8* der, u32 length);

inline const u8* x509Bytes(const X509Certificate* certificate, DerSpan span) { return certificate->der + span.offset; }
bool x509SpansEqual(const X509Certificate* a, DerSpan spanA, const X509Certificate* b, DerSpan spanB);

// Checks the certificate's signature with the issuer's public key. Empty when it holds, else why not.
FixedString verifyX509Signature(const X509Certificate* certificate, const X509Certificate* issuer);

// The days since 1970-01-01 of a proleptic Gregorian date.
i64 daysFromCivil(i64 year, u32 month, u32 day);
