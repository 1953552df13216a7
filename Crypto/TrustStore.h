// The trust anchors that server certificate chains must end in: the system's CA bundle (PEM),
// read once through the file thread at start-up (Network/TrustStoreLoad.h), or certificates a caller
// adds itself (tests, a private CA). The store keeps the DER bytes of each anchor in its own fixed
// buffer.
#pragma once
#include "Crypto/X509.h"

struct FileReadRequest;

constexpr u32 kTrustStoreBytes = 512 * 1024;
constexpr u32 kTrustStoreAnchors = 512;
constexpr u64 kTrustBundleMaxBytes = 4 * 1024 * 1024;
constexpr const char* kSystemCaBundlePath = "/etc/ssl/certs/ca-certificates.crt";
constexpr u32 kTrustBundleCandidates = 8;
// Where Linux systems keep their CA bundle, in the order they are tried (after SSL_CERT_FILE).
constexpr const char* kSystemCaBundlePaths[] = {
    kSystemCaBundlePath,                                   // Debian, Ubuntu, Arch, Gentoo
    "/etc/pki/tls/certs/ca-bundle.crt",                    // Fedora, RHEL
    "/etc/ssl/ca-bundle.pem",                              // openSUSE
    "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",   // CentOS, RHEL 7 and later
    "/etc/ssl/cert.pem",                                   // Alpine
    "/etc/pki/tls/cacert.pem",
};

enum TrustStoreState : u32 {
    TrustStoreEmpty = 0,    // nothing asked for yet
    TrustStoreLoading = 1,  // the bundle's read is with the file thread
    TrustStoreReady = 2,    // anchors in place (a caller's own, or the bundle's)
    TrustStoreFailed = 3,   // the bundle could not be read; message says why
};

struct TrustAnchorEntry {
    u32 offset;  // into der
    u32 length;
};

struct TrustStore {
    u32 state;     // TrustStoreState
    u32 count;
    u32 used;      // bytes of der taken
    u32 skipped;   // certificates of the bundle that did not parse or did not fit
    FixedString message;
    FileReadRequest* request;  // the bundle's read while Loading (Network/TrustStoreLoad.h)
    u32 candidateCount;  // bundles to try, in order; the first that yields certificates is taken
    u32 candidateIndex;  // the one being read
    FixedString candidates[kTrustBundleCandidates];
    TrustAnchorEntry anchors[kTrustStoreAnchors];
    u8 der[kTrustStoreBytes];
};

// Adds one DER certificate; false when it does not parse or the store is full.
bool addTrustAnchor(TrustStore* store, const u8* der, u32 length);
// Adds every "-----BEGIN CERTIFICATE-----" block of a PEM text; returns how many were added.
u32 addPemTrustAnchors(TrustStore* store, const u8* text, u64 length);
// Parses anchor index into out; false for an index out of range.
bool trustAnchor(const TrustStore* store, u32 index, X509Certificate* out);

// The program's own store: the system bundle, once start-up has loaded it.
TrustStore* programTrustStore();
