#include "Crypto/TrustStore.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Profiler.h"

namespace {

// Each byte's value in base64: 0 to 63 for the alphabet, kBase64Space for white space (skipped),
// kBase64Padding for '=' (the end), kBase64Invalid for anything else.
constexpr u8 kBase64Space = 64;
constexpr u8 kBase64Padding = 65;
constexpr u8 kBase64Invalid = 66;

struct Base64Table {
    u8 values[256];
};

constexpr Base64Table makeBase64Table() {
    Base64Table table{};
    for (u32 c = 0; c < 256; c++) table.values[c] = kBase64Invalid;
    for (u32 c = 'A'; c <= 'Z'; c++) table.values[c] = (u8)(c - 'A');
    for (u32 c = 'a'; c <= 'z'; c++) table.values[c] = (u8)(c - 'a' + 26);
    for (u32 c = '0'; c <= '9'; c++) table.values[c] = (u8)(c - '0' + 52);
    table.values[(u8)'+'] = 62;
    table.values[(u8)'/'] = 63;
    table.values[(u8)' '] = table.values[(u8)'\n'] = table.values[(u8)'\r'] = table.values[(u8)'\t'] = kBase64Space;
    table.values[(u8)'='] = kBase64Padding;
    return table;
}

constexpr Base64Table kBase64 = makeBase64Table();

// Decodes base64 text (white space skipped, '=' padding ends it) into out; returns the byte count, or
// -1 for a character outside the alphabet or more bytes than capacity.
i64 decodeBase64(u8* out, u64 capacity, const u8* text, u64 length) {
    u32 accumulator = 0, bits = 0;
    u64 written = 0;
    for (u64 i = 0; i < length; i++) {
        u8 v = kBase64.values[text[i]];
        if (v >= kBase64Space) {
            if (v == kBase64Space) continue;
            if (v == kBase64Padding) break;
            return -1;
        }
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
    if (from >= length) return -1;
    const void* at = memmem(text + from, length - from, needle, strlen(needle));
    return at ? (i64)((const u8*)at - text) : -1;
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
