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
