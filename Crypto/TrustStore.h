// The trust anchors that server certificate chains must end in: the system's CA bundle (PEM),
// read once through the file thread at start-up, or certificates a caller adds itself (tests, a
// private CA). The store keeps the DER bytes of each anchor in its own fixed buffer.
#pragma once
#include "Crypto/X509.h"
#include "Platform/FileTables.h"

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
    FileReadRequest* request;
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

// Asks the file thread for the bundle at path (absolute). Call once; then update on later frames.
void startTrustStoreLoad(TrustStore* store, FixedString path, FileReadTable* table);
// The same over several bundles (at most kTrustBundleCandidates): one that cannot be read or holds no
// certificate passes on to the next; when none is left the store fails with a text saying so.
void startTrustStoreSearch(TrustStore* store, const FixedString* paths, u32 count, FileReadTable* table);
// Takes the finished read, if any: parses the bundle and releases the request. Returns the state.
u32 updateTrustStoreLoad(TrustStore* store, FileReadTable* table);

// The bundles the program looks for: SSL_CERT_FILE's when it is set, then kSystemCaBundlePaths.
// Returns the count written to out.
u32 systemTrustBundleCandidates(FixedString out[kTrustBundleCandidates]);

// The program's own store: the system bundle, once start-up has loaded it.
TrustStore* programTrustStore();
// Start-up's call, on each frame until it returns Ready or Failed: the first call starts the search
// over systemTrustBundleCandidates, later ones take the reads.
u32 loadProgramTrustStore(FileReadTable* table);
