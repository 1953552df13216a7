// Loading a trust store's PEM bundle through the file thread: the system's CA bundle for the
// program's own store at start-up, or any bundle for a store of a caller's.
#pragma once
#include "Crypto/TrustStore.h"
#include "Platform/FileTables.h"

// Asks the file thread for the bundle at path (absolute). Call once; then update on later frames.
void startTrustStoreLoad(TrustStore* store, FixedString path, FileReadTable* table);
// Takes the finished read, if any: parses the bundle and releases the request. Returns the state.
u32 updateTrustStoreLoad(TrustStore* store, FileReadTable* table);

// Start-up's call, on each frame until it returns Ready or Failed: the first call asks for
// kSystemCaBundlePath, later ones take the read.
u32 loadProgramTrustStore(FileReadTable* table);
