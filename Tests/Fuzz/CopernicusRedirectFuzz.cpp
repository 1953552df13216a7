// Fuzzes the reading of a redirect: a response header as the HTTPS client keeps it, its Location
// value found by httpsHeaderValue, and that value taken apart by readCopernicusRedirect (an HTTPS
// URL or a path on the current host).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Map/CopernicusDownloader.h"
#include "Network/Https.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HttpsGetOperation* op = (HttpsGetOperation*)std::calloc(1, sizeof(HttpsGetOperation));
    static CopernicusDownloader* d = (CopernicusDownloader*)std::calloc(1, sizeof(CopernicusDownloader));
    size_t length = size < (size_t)kHttpHeaderBytes ? size : (size_t)kHttpHeaderBytes;
    std::memset(op->headerBuffer, 0xA5, sizeof(op->headerBuffer));  // whatever came before stays out
    std::memcpy(op->headerBuffer, data, length);
    op->headerWriter = makeByteWriter(op->headerBuffer, kHttpHeaderBytes);
    op->headerWriter.length = (i64)length;
    op->headerDone = 1;
    const char* names[3] = {"Location", "Content-Length", "x"};
    for (const char* name : names) {
        TextSlice value = httpsHeaderValue(op, name);
        if (value.length < 0) __builtin_trap();
        if (value.length > 0 && (value.text < op->headerBuffer || value.text + value.length > op->headerBuffer + length)) {
            __builtin_trap();
        }
    }
    TextSlice location = httpsHeaderValue(op, "Location");
    d->host = makeString("c.test");
    d->address.port = 4433;
    d->redirectPathLength = 0;
    FixedString failure = readCopernicusRedirect(d, location.text, location.length);
    if (failure.length == 0) {
        if (d->redirectPathLength <= 0 || d->redirectPathLength > kCopernicusPathBytes) __builtin_trap();
        if (d->redirectPath[0] != '/' || d->redirectHost.length == 0) __builtin_trap();
        for (i64 i = 0; i < d->redirectPathLength; i++) {
            if (d->redirectPath[i] < 33 || d->redirectPath[i] > 126 || d->redirectPath[i] == '#') __builtin_trap();
        }
    }
    // The raw input as a Location value too.
    readCopernicusRedirect(d, data, (i64)size);
    return 0;
}
