// The HTTP response reader and the download's body reader over arbitrary response bytes, as the TLS
// client hands them on in slices. The same response read in slices of another size must give the
// same status, framing and outcome, and when it succeeds the same body bytes; the body never exceeds
// what the framing announced; and the download slot holds exactly the body bytes it was handed,
// within its size limit.
#include "Network/Download.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

static void fail(int line) {
    fprintf(stderr, "HttpResponseFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

namespace {

struct Reading {
    std::vector<u8> body;
    u32 done = 0;
    u32 error = 0;
    i64 statusCode = 0;
    u32 framing = 0;
};

// Reads the response in slices of sliceBytes (the slice is the TLS client's buffer: the reader may
// move body bytes within it), then ends the connection unless the response ended first. Every step
// also goes to a download slot.
Reading readInSlices(const u8* response, size_t size, size_t sliceBytes, u32 keepErrorBodies, bool cleanClose,
                     u64 maxBytes) {
    auto op = std::make_unique<HttpsGetOperation>();
    FixedString host = makeString("example.org");
    AddressRecord address{443, 4, 0, {127, 0, 0, 1}};
    beginHttpsRequest(&host, &address, op.get());
    op->keepErrorBodies = keepErrorBodies;
    auto slot = std::make_unique<DownloadSlot>();
    slot->status = FileStatusProcessing;
    slot->maxBytes = maxBytes;
    Reading reading;
    std::vector<u8> slice(sliceBytes);
    size_t at = 0;
    for (bool end = false; !end;) {
        HttpsGetResult out{};
        if (at < size) {
            size_t length = size - at < sliceBytes ? size - at : sliceBytes;
            std::memcpy(slice.data(), response + at, length);
            at += length;
            readHttpsResponse(&out, op.get(), slice.data(), (i64)length, (i64)sliceBytes);
            check(out.body.length >= 0 && out.body.length <= (i64)length);
        } else {
            endHttpsResponse(&out, op.get(), cleanClose);
            end = true;
        }
        if (out.body.length > 0) {
            reading.body.insert(reading.body.end(), out.body.data, out.body.data + out.body.length);
        }
        check(op->bodyReceived == (i64)reading.body.size());
        if (op->framing == HttpBodyContentLength) check(op->bodyReceived <= op->contentLength);
        if (op->headerDone && slot->status == FileStatusProcessing) takeDownloadResponse(slot.get(), op.get(), &out);
        if (slot->status == FileStatusProcessing && slot->bytesReceived > 0) {
            check(slot->data && slot->bytesReceived <= slot->totalBytes && slot->totalBytes <= slot->maxBytes);
            check(slot->bytesReceived <= reading.body.size());
            check(std::memcmp(slot->data, reading.body.data(), slot->bytesReceived) == 0);
        }
        if (out.done || out.error) {
            reading.done = out.done;
            reading.error = out.error;
            end = true;
        }
    }
    if (reading.done && op->framing == HttpBodyContentLength) check(op->bodyReceived == op->contentLength);
    if (reading.done && slot->status == FileStatusProcessing && slot->data) {
        check(slot->bytesReceived == reading.body.size() && slot->bytesReceived == slot->totalBytes);
    }
    reading.statusCode = op->statusCode;
    reading.framing = op->framing;
    std::free(slot->data);
    return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 1 << 16) return 0;
    size_t small = 1 + data[0] % 61;
    u32 keepErrorBodies = data[1] & 1;
    bool cleanClose = data[1] & 2;
    u64 maxBytes = (u64)data[2] * 97;
    const u8* response = data + 3;
    size -= 3;
    Reading whole = readInSlices(response, size, size + 1, keepErrorBodies, cleanClose, maxBytes);
    Reading sliced = readInSlices(response, size, small, keepErrorBodies, cleanClose, maxBytes);
    check(whole.statusCode == sliced.statusCode && whole.framing == sliced.framing);
    check(whole.done == sliced.done && whole.error == sliced.error);
    // A step that fails hands on none of its bytes, so bodies compare only when both succeed.
    if (!whole.error) check(whole.body == sliced.body);
    return 0;
}
