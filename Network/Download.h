// The application's HTTPS file downloads: callers take a slot with startDownload and poll its status
// (FileStatus values: 2 data ready, 0 and 1 in progress, anything else failed with a message);
// downloadFiles, once per frame, resolves host names through DNS lookup 5, runs up to three HTTPS
// operations and fills each slot's buffer; releaseDownload gives the slot and its buffer back.
#pragma once
#include "Network/Dns.h"
#include "Network/Https.h"
#include "Platform/FileTables.h"

constexpr i32 kDownloadSlots = 64;
constexpr i32 kDownloadConnections = 3;
constexpr i64 kDownloadUrlBytes = 2000;
constexpr u64 kDownloadHeaderTimeout = 3000000;  // microseconds from the request to the complete header
constexpr u64 kDownloadStallTimeout = 10000000;  // microseconds without a byte once the header is in
constexpr i64 kDownloadDnsAttempts = 5;          // more unanswered queries than this fail the download
constexpr u64 kTileDownloadBytes = 800000;
constexpr u64 kLargeDownloadBytes = 20000000;

struct DownloadSlot {
    u64 bytesReceived;
    u64 totalBytes;  // the response's Content-Length
    FixedString lastModified;
    u8* data;  // totalBytes bytes once the first body bytes arrive; null before
    u32 status;  // FileStatus
    FixedString message;
    ByteWriter url;  // over urlText
    u64 startTime;  // microseconds when the request was started
    u64 lastByteTime;  // microseconds when the header or the last body bytes arrived; 0 before the header
    u64 maxBytes;
    ByteWriter path;  // view into urlText
    AddressRecord address;  // family 0 until resolved; the URL's port (0: 443)
    FixedString user;  // HTTP Basic credentials, empty for none
    FixedString password;
    FixedString host;
    u8 urlText[kDownloadUrlBytes];
    u16 port;  // from the URL, 0 when it names none
};

struct DownloadPool {
    HttpsGetOperation connections[kDownloadConnections];
    u64 usedMask;  // bit i: slot i in use
    DownloadSlot slots[kDownloadSlots];
    DownloadSlot errorSlot;  // handed out when all slots are in use; only status and message are set
    i32 currentSlot[kDownloadConnections];  // per connection: slot index + 1, 0 = none
    u64 (*clock)();  // null: getMicroseconds; tests set their own
};

// Takes a slot for the URL; never null. A URL that cannot be used leaves the slot in status 10 with
// the reason (the caller still releases it); with all slots in use the shared error slot comes back
// with status 5.
DownloadSlot* startDownload(const ByteWriter* url, const FixedString* user, const FixedString* password, u64 maxBytes,
                            DownloadPool* pool);
// One step: addresses, lookup 5, then the connections (sockets[c] belongs to connection c).
void downloadFiles(DownloadPool* pool, DnsResolver* resolver, Socket sockets[], i32 connectionCount);
// Gives the slot back and frees its buffer, also in the middle of a download.
void releaseDownload(DownloadSlot* slot, DownloadPool* pool);

// What one step of a slot's request brought, once its header is in (a slot in progress): the status
// and size from the header, then the body bytes into the slot's buffer, which the first bytes
// allocate at the announced size. Failures (an HTTP error, no size, too large, chunked) set the
// slot's status and message.
void takeDownloadResponse(DownloadSlot* slot, const HttpsGetOperation* op, const HttpsGetResult* result);
