#include "Network/TrustStoreLoad.h"

#include "Core/Format.h"

#include <cstdlib>

namespace {

void requestCandidate(TrustStore* store, FileReadTable* table) {
    store->request = requestFile(store->candidates[store->candidateIndex], kTrustBundleMaxBytes, 0, table);
    store->state = TrustStoreLoading;
    store->message = makeString("Loading trusted certificates");
}

}  // namespace

void startTrustStoreSearch(TrustStore* store, const FixedString* paths, u32 count, FileReadTable* table) {
    store->candidateCount = count < kTrustBundleCandidates ? count : kTrustBundleCandidates;
    store->candidateIndex = 0;
    for (u32 i = 0; i < store->candidateCount; i++) store->candidates[i] = paths[i];
    if (store->candidateCount == 0) {
        store->state = TrustStoreFailed;
        store->message = makeString("No place to look for trusted certificates");
        return;
    }
    requestCandidate(store, table);
}

void startTrustStoreLoad(TrustStore* store, FixedString path, FileReadTable* table) {
    startTrustStoreSearch(store, &path, 1, table);
}

u32 updateTrustStoreLoad(TrustStore* store, FileReadTable* table) {
    if (store->state != TrustStoreLoading || !store->request) return store->state;
    u32 status = fileRequestStatus(store->request);
    if (status < FileStatusSuccess) return store->state;
    FixedString path = store->candidates[store->candidateIndex];
    FixedString failure{};
    if (status == FileStatusSuccess) {
        FileReadRequest* r = store->request;
        u32 added = addPemTrustAnchors(store, r->data + r->headroom, r->bytesRead);
        if (added) {
            store->state = TrustStoreReady;
            store->message = formatInt("@ trusted certificates", added);
        } else {
            failure = formatStr("No certificates in @", path);
        }
    } else {
        failure = formatStrStr("Can't read @: @", path, fileStatusString(status));
    }
    releaseFileReadRequest(store->request, table);
    store->request = nullptr;
    if (failure.length == 0) return store->state;
    if (store->candidateIndex + 1 < store->candidateCount) {
        store->candidateIndex++;
        requestCandidate(store, table);
        return store->state;
    }
    store->state = TrustStoreFailed;
    // One bundle: its own reason. Several: none of the usual places had one.
    store->message = store->candidateCount == 1
                         ? failure
                         : makeString("No trusted certificates found on this system: install the ca-certificates "
                                      "package, or set SSL_CERT_FILE to a PEM bundle");
    return store->state;
}

u32 systemTrustBundleCandidates(FixedString out[kTrustBundleCandidates]) {
    u32 count = 0;
    const char* environment = std::getenv("SSL_CERT_FILE");
    if (environment && environment[0] == '/') out[count++] = makeString(environment);
    for (const char* path : kSystemCaBundlePaths) {
        if (count < kTrustBundleCandidates) out[count++] = makeString(path);
    }
    return count;
}

u32 loadProgramTrustStore(FileReadTable* table) {
    TrustStore* store = programTrustStore();
    if (store->state == TrustStoreEmpty) {
        FixedString candidates[kTrustBundleCandidates];
        u32 count = systemTrustBundleCandidates(candidates);
        startTrustStoreSearch(store, candidates, count, table);
    }
    return updateTrustStoreLoad(store, table);
}
