// The download pool: slots, host addresses through DNS lookup 5, and three HTTPS connections.
#include "Network/Download.h"

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/Profiler.h"

#include <cstdlib>
#include <cstring>

namespace {

bool isUsed(const DownloadPool* pool, i32 index) { return (pool->usedMask >> index) & 1; }

bool startsWith(const DownloadSlot* slot, const char* prefix) {
    i64 length = (i64)strlen(prefix);
    return slot->url.length >= length && memcmp(slot->urlText, prefix, (size_t)length) == 0;
}

void fail(DownloadSlot* slot, u32 status, FixedString message) {
    slot->status = status;
    slot->message = message;
}

void freeBuffer(DownloadSlot* slot) {
    std::free(slot->data);
    slot->data = nullptr;
}

// More than five queries went unanswered, the last of them with its full second to be answered
// (or a further query has gone out meanwhile).
bool dnsGaveUp(const DnsLookup* lookup, u64 now) {
    return lookup->attempts > kDownloadDnsAttempts + 1 ||
           (lookup->attempts > kDownloadDnsAttempts && now - lookup->lastSendTime > kDnsResendInterval);
}

// Step 1: the addresses of waiting slots; returns the host that no lookup holds yet (of several,
// the highest-numbered slot's), or null.
const FixedString* findAddresses(DownloadPool* pool, DnsResolver* resolver, u64 now) {
    const FixedString* pendingHost = nullptr;
    for (i32 i = 0; i < kDownloadSlots; i++) {
        DownloadSlot* slot = &pool->slots[i];
        if (!isUsed(pool, i) || slot->status != FileStatusNotYetProcessed || slot->address.family != 0) {
            continue;
        }
        AddressRecord literal;
        if (parseHostAddress(&slot->host, &literal)) {
            slot->address = literal;
            slot->address.port = slot->port;
            continue;
        }
        const DnsLookup* lookup = nullptr;
        for (i32 l = 0; l < kDnsLookups && !lookup; l++) {
            if (equals(resolver->lookups[l].hostName, slot->host)) {
                lookup = &resolver->lookups[l];
            }
        }
        if (!lookup) {
            pendingHost = &slot->host;
        } else if (isDnsLookupResolved(lookup)) {
            slot->address = lookup->result;
            slot->address.port = slot->port;
        } else if (lookup->noSuchName) {
            fail(slot, FileStatusNotFound, formatStr("DNS server says there's no such name: @", slot->host));
        } else if (lookup->failed) {
            // A name that cannot be asked for at all: its lookup is never sent.
            fail(slot, FileStatusBadPathSyntax, lookup->message);
        } else if (dnsGaveUp(lookup, now)) {
            fail(slot, FileStatusNotFound, makeString("No response from DNS servers (check your internet connection)"));
        }
    }
    return pendingHost;
}

// Step 3 for one connection: which slot it serves this frame, or null.
DownloadSlot* chooseSlot(DownloadPool* pool, i32 c) {
    i32 current = pool->currentSlot[c] - 1;
    if (current >= 0 && current < kDownloadSlots && isUsed(pool, current)) {
        DownloadSlot* slot = &pool->slots[current];
        if (slot->status <= FileStatusProcessing && slot->address.family != 0) {
            return slot;
        }
    }
    pool->currentSlot[c] = 0;
    for (i32 i = 0; i < kDownloadSlots; i++) {
        DownloadSlot* slot = &pool->slots[i];
        if (isUsed(pool, i) && slot->status == FileStatusNotYetProcessed && slot->address.family != 0) {
            pool->currentSlot[c] = i + 1;
            return slot;
        }
    }
    return nullptr;
}

// The response header is in: the status, the size and the buffer.
void takeHeader(DownloadSlot* slot, const HttpsGetOperation* op) {
    slot->lastModified = op->lastModified;
    if (op->statusCode != 200) {
        u32 status = op->statusCode == 403   ? FileStatusAccessDenied
                     : op->statusCode == 404 ? FileStatusNotFound
                                             : FileStatusOpenUnknownError;
        fail(slot, status, formatInt("Server responded with HTTP code: @", op->statusCode));
        return;
    }
    if (op->framing == HttpBodyUntilClose) {
        fail(slot, FileStatusNoFileSize,
             makeString("The server didn't tell us the file size, so we can't allocate memory for the file"));
        return;
    }
    if (op->framing == HttpBodyContentLength && slot->data == nullptr) {
        slot->totalBytes = (u64)op->contentLength;
        if (slot->totalBytes > slot->maxBytes) {
            fail(slot, FileStatusTooLarge,
                 formatIntInt("File was @ bytes, but we only allow up to @ bytes", (i64)slot->totalBytes,
                              (i64)slot->maxBytes));
        }
    }
}

void takeBody(DownloadSlot* slot, const HttpsGetOperation* op, const HttpsGetResult* result) {
    if (result->body.length <= 0) {
        return;
    }
    if (slot->data == nullptr) {
        if (op->framing == HttpBodyChunked) {
            fail(slot, FileStatusNoFileSize,
                 makeString("The get operation is chunked, so we don't know the file size, therefore we can't "
                            "allocate memory for the file"));
            return;
        }
        slot->data = (u8*)std::malloc(slot->totalBytes ? slot->totalBytes : 1);
        if (!slot->data) {
            fail(slot, FileStatusOutOfMemory, formatInt("Failed to allocate @ bytes of memory", (i64)slot->totalBytes));
            return;
        }
    }
    u64 room = slot->totalBytes - slot->bytesReceived;
    u64 take = (u64)result->body.length < room ? (u64)result->body.length : room;
    memcpy(slot->data + slot->bytesReceived, result->body.data, take);
    slot->bytesReceived += take;
}

}  // namespace

void takeDownloadResponse(DownloadSlot* slot, const HttpsGetOperation* op, const HttpsGetResult* result) {
    takeHeader(slot, op);
    if (slot->status == FileStatusProcessing) {
        takeBody(slot, op, result);
    }
}

namespace {

void stepConnection(DownloadPool* pool, i32 c, Socket* socket, u64 now) {
    DownloadSlot* slot = chooseSlot(pool, c);
    if (!slot) {
        return;
    }
    HttpsGetOperation* op = &pool->connections[c];
    if (slot->status == FileStatusNotYetProcessed) {
        if (!startsWith(slot, "http")) {
            fail(slot, FileStatusOpenUnknownError, makeString("URL doesn't start with http"));
            pool->currentSlot[c] = 0;
            return;
        }
        FixedString noHeaders{};
        buildHttpGetRequest(&slot->path, &slot->user, &slot->password, &noHeaders, &slot->host, &slot->address, op);
        slot->status = FileStatusProcessing;
        slot->startTime = now;
    }
    HttpsGetResult result;
    httpsGetOperation(&result, op, socket);
    if (op->headerDone) {
        if (slot->lastByteTime == 0 || result.body.length > 0) {
            slot->lastByteTime = now;
        }
        takeDownloadResponse(slot, op, &result);
        if (slot->status == FileStatusProcessing) {
            if (result.done) {
                slot->status = FileStatusSuccess;
            } else if (result.error) {
                fail(slot, FileStatusReadFailed, formatStr("Connection aborted: @", op->tls.message));
            } else if (now - slot->lastByteTime > kDownloadStallTimeout) {
                // A server that stops sending would hold the connection and the slot for good.
                fail(slot, FileStatusReadFailed,
                     formatIntInt("No data from the server for 10 seconds (@ of @ bytes received)",
                                  (i64)slot->bytesReceived, (i64)slot->totalBytes));
                abortTlsClient(&op->tls, slot->message, 1, TlsAlertCloseNotify);
                op->finished = 1;
                op->keepAlive = 0;
            }
        }
        if (slot->status != FileStatusSuccess && slot->status != FileStatusProcessing) {
            freeBuffer(slot);
        }
    } else if (result.error) {
        fail(slot, FileStatusOpenUnknownError, formatStr("Connection aborted: @", op->tls.message));
    } else if (now - slot->startTime > kDownloadHeaderTimeout) {
        fail(slot, FileStatusOpenUnknownError,
             startsWith(slot, "http://") ? makeString("Http isn't supported. Use https instead.")
                                         : formatStr("Https connection timed out: @", op->tls.message));
    }
    if (slot->status != FileStatusProcessing) {
        pool->currentSlot[c] = 0;
    }
}

}  // namespace

DownloadSlot* startDownload(const ByteWriter* url, const FixedString* user, const FixedString* password, u64 maxBytes,
                            DownloadPool* pool) {
    if (pool->usedMask == ~0ull) {
        pool->errorSlot.status = FileStatusTooManyOpenFiles;
        pool->errorSlot.message = makeString("Too many open files. Report this bug to Tarnwick.");
        return &pool->errorSlot;
    }
    i32 index = __builtin_ctzll(~pool->usedMask);
    DownloadSlot* slot = &pool->slots[index];
    memset((void*)slot, 0, sizeof(*slot));
    pool->usedMask |= 1ull << index;

    slot->url = makeByteWriter(slot->urlText, kDownloadUrlBytes);
    const u8* text = url->data;
    i64 length = url->data ? url->length : 0;
    i64 position = 0;
    for (;;) {
        i32 codepoint = utf8DecodeNext(text, length, &position);
        if (codepoint == kUtf8End || codepoint == kUtf8Truncated || slot->url.overflow) {
            break;
        }
        if (codepoint >= 0) {
            appendCodepoint(codepoint, &slot->url);
        }
    }
    ParsedUrl parts = parseUrl(&slot->url);
    slot->host = parts.host;
    slot->path = parts.path;
    slot->port = parts.port;
    slot->user = user ? *user : FixedString{};
    slot->password = password ? *password : FixedString{};
    slot->maxBytes = maxBytes;
    if (slot->url.overflow) {
        fail(slot, FileStatusBadPathSyntax,
             formatIntInt("The url is @ bytes long, but we only support @", length, kDownloadUrlBytes));
    } else if (parts.message.length != 0) {
        fail(slot, FileStatusBadPathSyntax, parts.message);  // the URL itself may hold a password
    } else if (parts.host.length == 0) {
        fail(slot, FileStatusBadPathSyntax, formatSpan("Failed to parse the domain of @", text, length));
    } else if (parts.scheme.length == 0) {
        fail(slot, FileStatusBadPathSyntax, formatSpan("Failed to parse the scheme of @", text, length));
    }
    return slot;
}

void downloadFiles(DownloadPool* pool, DnsResolver* resolver, Socket sockets[], i32 connectionCount) {
    ProfilingScope scope("Download Files");
    u64 now = pool->clock ? pool->clock() : getMicroseconds();
    const FixedString* pendingHost = findAddresses(pool, resolver, now);

    DnsLookup* lookup = &resolver->lookups[kDnsDownloadLookup];
    if (lookup->hostName.length == 0 || isDnsLookupResolved(lookup) || lookup->noSuchName || lookup->failed ||
        dnsGaveUp(lookup, now)) {
        FixedString none{};
        startDnsLookup(pendingHost ? pendingHost : &none, lookup);
    }

    i32 count = connectionCount < kDownloadConnections ? connectionCount : kDownloadConnections;
    for (i32 c = 0; c < count; c++) {
        stepConnection(pool, c, &sockets[c], now);
    }
}

void releaseDownload(DownloadSlot* slot, DownloadPool* pool) {
    if (slot < pool->slots || slot >= pool->slots + kDownloadSlots) {
        return;  // the shared error slot, or not one of the pool's
    }
    i32 index = (i32)(slot - pool->slots);
    freeBuffer(slot);
    // A connection still working for the slot drops the request; its next one starts afresh.
    for (i32 c = 0; c < kDownloadConnections; c++) {
        if (pool->currentSlot[c] == index + 1) {
            pool->currentSlot[c] = 0;
        }
    }
    pool->usedMask &= ~(1ull << index);
}
