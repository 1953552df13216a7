#include "Network/TrustStoreLoad.h"

#include "Core/Format.h"

void startTrustStoreLoad(TrustStore* store, FixedString path, FileReadTable* table) {
    store->request = requestFile(path, kTrustBundleMaxBytes, 0, table);
    store->state = TrustStoreLoading;
    store->message = makeString("Loading trusted certificates");
}

u32 updateTrustStoreLoad(TrustStore* store, FileReadTable* table) {
    if (store->state != TrustStoreLoading || !store->request) return store->state;
    u32 status = fileRequestStatus(store->request);
    if (status < FileStatusSuccess) return store->state;
    if (status == FileStatusSuccess) {
        FileReadRequest* r = store->request;
        u32 added = addPemTrustAnchors(store, r->data + r->headroom, r->bytesRead);
        if (added) {
            store->state = TrustStoreReady;
            store->message = formatInt("@ trusted certificates", added);
        } else {
            store->state = TrustStoreFailed;
            store->message = formatStr("No certificates in @", store->request->path);
        }
    } else {
        store->state = TrustStoreFailed;
        store->message = formatStrStr("Can't read @: @", store->request->path, fileStatusString(status));
    }
    releaseFileReadRequest(store->request, table);
    store->request = nullptr;
    return store->state;
}

u32 loadProgramTrustStore(FileReadTable* table) {
    TrustStore* store = programTrustStore();
    if (store->state == TrustStoreEmpty) startTrustStoreLoad(store, makeString(kSystemCaBundlePath), table);
    return updateTrustStoreLoad(store, table);
}
