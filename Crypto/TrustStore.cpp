#include "Crypto/TrustStore.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"

namespace {

i32 base64Value(u8 c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes base64 text (white space skipped, '=' padding ends it) into out; returns the byte count, or
// -1 for a character outside the alphabet or more bytes than capacity.
i64 decodeBase64(u8* out, u64 capacity, const u8* text, u64 length) {
    u32 accumulator = 0, bits = 0;
    u64 written = 0;
    for (u64 i = 0; i < length; i++) {
        u8 c = text[i];
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
        if (c == '=') break;
        i32 v = base64Value(c);
        if (v < 0) return -1;
        accumulator = accumulator << 6 | (u32)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (written == capacity) return -1;
            out[written++] = (u8)(accumulator >> bits);
        }
    }
    return (i64)written;
}

// The position of needle in text at or after from, or -1.
i64 find(const u8* text, u64 length, u64 from, const char* needle) {
    u64 n = strlen(needle);
    for (u64 i = from; i + n <= length; i++)
        if (memcmp(text + i, needle, n) == 0) return (i64)i;
    return -1;
}



// Takes the length bytes at the end of the store's buffer as its next anchor when they parse.
bool keepTail(TrustStore* store, u32 length) {
    if (store->count == kTrustStoreAnchors) return false;
    X509Certificate parsed;
    if (parseX509Certificate(&parsed, store->der + store->used, length).length) return false;
    store->anchors[store->count] = TrustAnchorEntry{store->used, length};
    store->used += length;
    store->count++;
    store->state = TrustStoreReady;
    return true;
}

}  // namespace

bool addTrustAnchor(TrustStore* store, const u8* der, u32 length) {
    if (!der || length > kTrustStoreBytes - store->used) return false;
    memmove(store->der + store->used, der, length);
    return keepTail(store, length);
}

u32 addPemTrustAnchors(TrustStore* store, const u8* text, u64 length) {
    ProfilingScope scope("Read trust anchors");
    const char* begin = "-----BEGIN CERTIFICATE-----";
    const char* end = "-----END CERTIFICATE-----";
    u32 added = 0;
    u64 position = 0;
    while (position < length) {
        i64 start = find(text, length, position, begin);
        if (start < 0) break;
        u64 body = (u64)start + strlen(begin);
        i64 stop = find(text, length, body, end);
        if (stop < 0) break;
        position = (u64)stop + strlen(end);
        // decoded straight into the free end of the store's buffer
        i64 bytes = decodeBase64(store->der + store->used, kTrustStoreBytes - store->used, text + body,
                                 (u64)stop - body);
        if (bytes > 0 && keepTail(store, (u32)bytes)) added++;
        else store->skipped++;
    }
    return added;
}

bool trustAnchor(const TrustStore* store, u32 index, X509Certificate* out) {
    if (index >= store->count) return false;
    const TrustAnchorEntry* entry = &store->anchors[index];
    return parseX509Certificate(out, store->der + entry->offset, entry->length).length == 0;
}

TrustStore* programTrustStore() {
    static TrustStore store;
    return &store;
}
