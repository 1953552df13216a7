// Fuzzes the Copernicus reply readers: the catalogue's product list and the login reply, as the
// service's JSON and as anything else, with the length's parity choosing the login's HTTP status.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Map/CopernicusDownloader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CopernicusDownloader* d = (CopernicusDownloader*)std::calloc(1, sizeof(CopernicusDownloader));
    FixedString failure = readCopernicusSearchReply(d, data, (i64)size);
    if (d->productCount < 0 || d->productCount > kCopernicusMaxResults) __builtin_trap();
    for (i32 i = 0; i < d->productCount; i++) {
        const CopernicusProduct* p = &d->products[i];
        if (p->id.length == 0 || p->name.length == 0 || p->id.truncated || p->name.truncated) __builtin_trap();
        if (p->contentLength < 0) __builtin_trap();
    }
    (void)failure;
    i64 status = size % 2 ? 401 : 200;
    failure = readCopernicusLoginReply(d, data, (i64)size, status);
    if (failure.length == 0) {
        if (d->tokenLength <= 0 || d->tokenLength > kCopernicusTokenBytes) __builtin_trap();
        for (i64 i = 0; i < d->tokenLength; i++) {
            if (d->token[i] < 33 || d->token[i] > 126) __builtin_trap();
        }
    } else if (d->tokenLength != 0) {
        __builtin_trap();
    }
    return 0;
}
