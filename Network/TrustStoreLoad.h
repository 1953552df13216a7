// Loading a trust store's PEM bundle through the file thread: the system's CA bundle for the
// program's own store at start-up, or any bundle for a store of a caller's.
#pragma once
#include "Crypto/TrustStore.h"
#include "Platform/FileTables.h"

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

// Start-up's call, on each frame until it returns Ready or Failed: the first call starts the search
// over systemTrustBundleCandidates, later ones take the reads.
u32 loadProgramTrustStore(FileReadTable* table);
