#include "Map/CopernicusDownloader.h"

#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Decoders/Json.h"
#include "Network/Address.h"
#include "Network/Dns.h"
#include "Platform/Platform.h"

CopernicusService copernicusService = {
    "identity.dataspace.copernicus.eu",
    "catalogue.dataspace.copernicus.eu",
    "zipper.dataspace.copernicus.eu",
    0,
};

namespace {

constexpr const char* kTokenPath = "/auth/realms/CDSE/protocol/openid-connect/token";
constexpr const char* kClientId = "cdse-public";
constexpr i64 kDefaultTokenSeconds = 600;
constexpr i64 kTokenMarginSeconds = 15;
constexpr i64 kMaxProductNameBytes = 200;
constexpr i32 kJobRing = kCopernicusWriteJobs + 1;

u64 nowOf(const CopernicusDownloader* d) { return d->clock ? d->clock() : getMicroseconds(); }
i64 utcOf(const CopernicusDownloader* d) { return d->utcClock ? d->utcClock() : currentTimeMilliseconds(); }

bool sameText(const FixedString* a, const char* b) {
    size_t n = std::strlen(b);
    return (size_t)a->length == n && std::memcmp(a->text, b, n) == 0;
}

bool isUnreserved(u8 c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Percent-encodes every byte but the unreserved ones (form bodies and query values alike).
void appendEncoded(const void* bytes, i64 count, ByteWriter* writer) {
    static const char hex[] = "0123456789ABCDEF";
    const u8* in = (const u8*)bytes;
    for (i64 i = 0; i < count; i++) {
        if (isUnreserved(in[i])) {
            appendU8(in[i], writer);
        } else {
            appendU8('%', writer);
            appendU8((u8)hex[in[i] >> 4], writer);
            appendU8((u8)hex[in[i] & 15], writer);
        }
    }
}

void appendEncodedText(const char* text, ByteWriter* writer) { appendEncoded(text, (i64)std::strlen(text), writer); }

FixedString jsonText(const JsonToken* token) {
    return buildFixedString([&](ByteWriter* w) { appendJsonUnescaped(token->stringText, token->stringLength, w); });
}

void setMessage(CopernicusDownloader* d, FixedString message, u32 failed) {
    d->message = message;
    d->failed = failed;
}

// The tokens go as soon as the login is lost.
void forgetLogin(CopernicusDownloader* d) {
    d->loggedIn = 0;
    std::memset(d->token, 0, sizeof(d->token));
    std::memset(d->refreshToken, 0, sizeof(d->refreshToken));
    d->tokenLength = d->refreshTokenLength = 0;
    d->tokenExpiry = d->refreshExpiry = 0;
}

bool canRefresh(const CopernicusDownloader* d, u64 now) {
    return d->loggedIn && d->refreshTokenLength > 0 && now < d->refreshExpiry;
}

// The domain that a host name belongs to: all but its first label; empty for a name of one or two
// labels ("c.test" has no domain of its own here, "zipper.dataspace.copernicus.eu" has
// "dataspace.copernicus.eu").
TextSlice parentDomain(const char* host) {
    const char* dot = std::strchr(host, '.');
    if (!dot || !std::strchr(dot + 1, '.')) return TextSlice{nullptr, 0};
    return TextSlice{(const u8*)dot + 1, (i64)std::strlen(dot + 1)};
}

// Whether the access token may go to a host: one of the service's hosts, or a host under the
// download host's domain.
bool mayCarryToken(const FixedString* host) {
    const char* own[3] = {copernicusService.identityHost, copernicusService.catalogueHost,
                          copernicusService.downloadHost};
    for (const char* name : own) {
        if (sameText(host, name)) return true;
    }
    TextSlice domain = parentDomain(copernicusService.downloadHost);
    i64 length = fixedStringLength(host);
    return domain.length > 0 && length > domain.length + 1 && host->text[length - domain.length - 1] == '.' &&
           std::memcmp(host->text + length - domain.length, domain.text, (size_t)domain.length) == 0;
}

// Ends the request on the connection: the next request starts on a fresh one.
void dropConnection(CopernicusDownloader* d) {
    d->https.finished = 1;
    d->https.keepAlive = 0;
    resetTlsClient(&d->https.tls);
}

void releaseJobs(CopernicusDownloader* d, Platform* platform) {
    for (u32 i = d->jobsChecked; i < d->jobsIssued; i++) {
        releaseFileJob(&d->jobs[i % kJobRing], &platform->fileJobs);
    }
    d->jobsChecked = d->jobsIssued = 0;
}

// A download that did not end whole: its jobs are given up and the partial file deleted after them.
void abandonDownload(CopernicusDownloader* d, Platform* platform) {
    releaseJobs(d, platform);
    if (d->chunk) {
        freeFileBuffer(d->chunk);
        d->chunk = nullptr;
    }
    d->chunkLength = 0;
    if (d->partialPath.length) {
        enqueueFileJob(d->partialPath, "application/zip", nullptr, 0, 0, FileJobWrite, &platform->fileJobs, nullptr);
    }
}

void fail(CopernicusDownloader* d, FixedString message, Platform* platform) {
    if (d->state == CopernicusDownloading || d->state == CopernicusFinishingDownload) {
        abandonDownload(d, platform);
    }
    if (d->state == CopernicusLoggingIn || d->state == CopernicusRefreshing || d->state == CopernicusSearching ||
        d->state == CopernicusDownloading) {
        if (!d->https.finished) dropConnection(d);
    }
    d->downloadAfterRefresh = 0;
    std::memset(d->password.text, 0, sizeof(d->password.text));
    d->password.length = 0;
    d->state = CopernicusIdle;
    setMessage(d, message, 1);
}

bool canStart(CopernicusDownloader* d) {
    if (d->state != CopernicusIdle) {
        setMessage(d, makeString("Wait for the running request to finish"), 1);
        return false;
    }
    return true;
}

void beginWaiting(CopernicusDownloader* d, u32 state, FixedString message) {
    d->state = state;
    d->redirects = 0;
    d->redirectHost = FixedString{};
    d->redirectPathLength = 0;
    d->lastProgressTime = nowOf(d);
    d->replyLength = 0;
    d->replyOverflow = 0;
    setMessage(d, message, 0);
}

// "Copernicus/<name>": the catalogue's name with anything but letters, digits, "-", "_" and inner
// dots replaced, so that a name can never leave the folder.
FixedString productFileName(const FixedString* name) {
    return buildFixedString([&](ByteWriter* w) {
        i64 length = fixedStringLength(name);
        if (length > kMaxProductNameBytes) length = kMaxProductNameBytes;
        for (i64 i = 0; i < length; i++) {
            u8 c = (u8)name->text[i];
            bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || (c == '.' && i > 0);
            appendU8(keep ? c : (u8)'_', w);
        }
        if (length == 0) appendCString("product", w);
    });
}

void appendHostHeader(CopernicusDownloader* d, ByteWriter* w) {
    appendCString("Host: ", w);
    appendFixedStringRef(&d->host, w);
    if (d->address.port != 0 && d->address.port != kTlsDefaultPort) {
        appendCString(":", w);
        appendInt64(d->address.port, w);
    }
    appendCString("\r\nUser-Agent: ", w);
    appendCString(kHttpUserAgent, w);
    appendCString("\r\n", w);
}

// A form POST to the token endpoint; the form's bytes are wiped once written.
void writeTokenRequest(CopernicusDownloader* d, u8* formBytes, i64 capacity, ByteWriter* form) {
    d->https.keepErrorBodies = 1;  // the service explains a refusal in the body
    ByteWriter* w = beginHttpsRequest(&d->host, &d->address, &d->https);
    appendCString("POST ", w);
    appendCString(kTokenPath, w);
    appendCString(" HTTP/1.1\r\n", w);
    appendHostHeader(d, w);
    appendCString("Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\nContent-Length: ", w);
    appendInt64(form->length, w);
    appendCString("\r\n\r\n", w);
    appendBytes(formBytes, form->length, w);
    std::memset(formBytes, 0, (size_t)capacity);
}

void writeLoginRequest(CopernicusDownloader* d) {
    // Both texts percent-encoded at three bytes a byte, and the fixed fields.
    u8 formBytes[6 * kFixedStringCapacity + 128];
    ByteWriter form = makeByteWriter(formBytes, sizeof(formBytes));
    appendCString("client_id=", &form);
    appendEncodedText(kClientId, &form);
    appendCString("&grant_type=password&username=", &form);
    appendEncoded(d->username.text, fixedStringLength(&d->username), &form);
    appendCString("&password=", &form);
    appendEncoded(d->password.text, fixedStringLength(&d->password), &form);
    writeTokenRequest(d, formBytes, sizeof(formBytes), &form);
    // The plain password lives no longer than its request needs.
    std::memset(d->password.text, 0, sizeof(d->password.text));
    d->password.length = 0;
}

// The refresh-token grant: a fresh access token without the password.
void writeRefreshRequest(CopernicusDownloader* d) {
    u8 formBytes[3 * kCopernicusTokenBytes + 128];
    ByteWriter form = makeByteWriter(formBytes, sizeof(formBytes));
    appendCString("client_id=", &form);
    appendEncodedText(kClientId, &form);
    appendCString("&grant_type=refresh_token&refresh_token=", &form);
    appendEncoded(d->refreshToken, d->refreshTokenLength, &form);
    writeTokenRequest(d, formBytes, sizeof(formBytes), &form);
}

// The request again at the address a redirect named; a download carries the token only to a host
// that may have it.
void writeRedirectedRequest(CopernicusDownloader* d) {
    bool download = d->state == CopernicusDownloadDue;
    d->https.keepErrorBodies = 1;
    ByteWriter* w = beginHttpsRequest(&d->host, &d->address, &d->https);
    appendCString("GET ", w);
    appendBytes(d->redirectPath, d->redirectPathLength, w);
    appendCString(" HTTP/1.1\r\n", w);
    appendHostHeader(d, w);
    if (download && mayCarryToken(&d->host)) {
        appendCString("Authorization: Bearer ", w);
        appendBytes(d->token, d->tokenLength, w);
        appendCString("\r\n", w);
    }
    if (!download) appendCString("Accept: application/json\r\n", w);
    appendCString("\r\n", w);
}

void writeSearchRequest(CopernicusDownloader* d) {
    d->https.keepErrorBodies = 1;  // the service explains a refusal in the body
    ByteWriter* w = beginHttpsRequest(&d->host, &d->address, &d->https);
    appendCString("GET ", w);
    appendCopernicusSearchPath(d->searchBox, d->searchMonth, d->maxCloudCover, utcOf(d), w);
    appendCString(" HTTP/1.1\r\n", w);
    appendHostHeader(d, w);
    appendCString("Accept: application/json\r\n\r\n", w);
}

void writeDownloadRequest(CopernicusDownloader* d) {
    const FixedString* id = &d->products[d->downloadIndex].id;
    d->https.keepErrorBodies = 1;  // the service explains a refusal in the body
    ByteWriter* w = beginHttpsRequest(&d->host, &d->address, &d->https);
    appendCString("GET /odata/v1/Products(", w);
    appendEncoded(id->text, fixedStringLength(id), w);
    appendCString(")/$value HTTP/1.1\r\n", w);
    appendHostHeader(d, w);
    appendCString("Authorization: Bearer ", w);
    appendBytes(d->token, d->tokenLength, w);
    appendCString("\r\n\r\n", w);
}

// Waits for the host's address (DNS lookup slot); writes the request once it is known. A request
// redirected to a host other than the service's own asks lookup 6 for it.
void resolveAndSend(CopernicusDownloader* d, DnsResolver* resolver, Platform* platform, u64 now) {
    bool identity = d->state == CopernicusLoginDue || d->state == CopernicusRefreshDue;
    i32 slot = identity ? kCopernicusIdentityLookup
               : d->state == CopernicusSearchDue ? kCopernicusCatalogueLookup
                                                  : kCopernicusDownloadLookup;
    const char* hosts[3] = {copernicusService.identityHost, copernicusService.catalogueHost,
                            copernicusService.downloadHost};
    FixedString name = makeString(hosts[slot - kCopernicusIdentityLookup]);
    if (d->redirectHost.length) {
        name = d->redirectHost;
        slot = kCopernicusRedirectLookup;
        for (i32 i = 0; i < 3; i++) {
            if (sameText(&name, hosts[i])) slot = kCopernicusIdentityLookup + i;
        }
        if (slot == kCopernicusRedirectLookup) startDnsLookup(&name, &resolver->lookups[slot]);
    }
    const DnsLookup* lookup = &resolver->lookups[slot];
    bool ours = equals(lookup->hostName, name);
    if (ours && (lookup->noSuchName || lookup->failed)) {
        return fail(d, formatStr("Could not find the server @", name), platform);
    }
    if (!ours || !isDnsLookupResolved(lookup)) {
        if (now - d->lastProgressTime > kCopernicusStallTimeout) {
            fail(d, formatStr("No address for @: check the network connection", name), platform);
        }
        return;
    }
    d->host = name;
    d->address = lookup->result;
    d->address.port = d->redirectHost.length ? d->redirectPort : copernicusService.port;
    d->lastProgressTime = now;
    if (d->state == CopernicusLoginDue) {
        writeLoginRequest(d);
        d->state = CopernicusLoggingIn;
        setMessage(d, makeString("Logging in..."), 0);
    } else if (d->state == CopernicusRefreshDue) {
        writeRefreshRequest(d);
        d->state = CopernicusRefreshing;
    } else if (d->state == CopernicusSearchDue) {
        if (d->redirectHost.length) writeRedirectedRequest(d);
        else writeSearchRequest(d);
        d->state = CopernicusSearching;
        setMessage(d, makeString("Searching..."), 0);
    } else {
        if (d->redirectHost.length) writeRedirectedRequest(d);
        else writeDownloadRequest(d);
        d->state = CopernicusDownloading;
        setMessage(d, formatStr("Downloading @", d->finalName), 0);
    }
}

bool isRedirect(i64 statusCode) {
    return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 || statusCode == 308;
}

// A search or download answered with a redirect: the same request again where the Location header
// points, at most kCopernicusMaxRedirects times.
void followRedirect(CopernicusDownloader* d, const char* what, Platform* platform, u64 now) {
    if (d->redirects >= kCopernicusMaxRedirects) {
        return fail(d, formatCstrInt("@ failed: more than @ redirects", what, kCopernicusMaxRedirects), platform);
    }
    TextSlice location = httpsHeaderValue(&d->https, "Location");
    FixedString failure = readCopernicusRedirect(d, location.text, location.length);
    if (failure.length) return fail(d, formatStrStr("@ failed: @", makeString(what), failure), platform);
    d->redirects++;
    dropConnection(d);
    d->state = d->state == CopernicusSearching ? CopernicusSearchDue : CopernicusDownloadDue;
    d->lastProgressTime = now;
    d->replyLength = 0;
    d->replyOverflow = 0;
    setMessage(d, formatStr("Redirected to @", d->redirectHost), 0);
}

void keepReply(CopernicusDownloader* d, const ByteWriter* body) {
    i64 room = kCopernicusReplyBytes - d->replyLength;
    i64 count = body->length < room ? body->length : room;
    if (count > 0) std::memcpy(d->reply + d->replyLength, body->data, (size_t)count);
    d->replyLength += count;
    if (count < body->length) d->replyOverflow = 1;
}

// The server's own words for a failed request: a JSON "error_description", "detail" or "error", or
// else the status line.
FixedString serverMessage(const CopernicusDownloader* d) {
    JsonReader reader{};
    reader.text = d->reply;
    reader.length = d->replyLength;
    FixedString found[3] = {};
    for (i32 i = 0; i < 100000; i++) {
        JsonToken token;
        nextJsonToken(&token, &reader);
        if (token.kind == JsonError || token.kind == JsonEnd) break;
        if (token.kind != JsonString || reader.depth != 1) continue;
        if (sameText(&token.key, "error_description")) found[0] = jsonText(&token);
        if (sameText(&token.key, "detail")) found[1] = jsonText(&token);
        if (sameText(&token.key, "error")) found[2] = jsonText(&token);
    }
    for (const FixedString& text : found) {
        if (text.length) return text;
    }
    return formatIntStr("@ @", d->https.statusCode, d->https.statusText);
}

void finishLogin(CopernicusDownloader* d, u64 now, Platform* platform) {
    bool refreshing = d->state == CopernicusRefreshing;
    FixedString failure = d->replyOverflow ? makeString("The login reply is too long")
                                           : readCopernicusLoginReply(d, d->reply, d->replyLength, d->https.statusCode);
    if (failure.length) {
        forgetLogin(d);
        return fail(d, formatStr(refreshing ? "The login has expired (@): log in again" : "Login failed: @", failure),
                    platform);
    }
    i64 seconds = d->tokenLifetime;
    seconds = seconds > kTokenMarginSeconds ? seconds - kTokenMarginSeconds : 0;
    d->tokenExpiry = now + (u64)seconds * 1000000;
    i64 refreshSeconds = d->refreshLifetime > kTokenMarginSeconds ? d->refreshLifetime - kTokenMarginSeconds : 0;
    d->refreshExpiry = d->refreshTokenLength ? now + (u64)refreshSeconds * 1000000 : 0;
    d->loggedIn = 1;
    d->state = CopernicusIdle;
    if (d->downloadAfterRefresh) {
        d->downloadAfterRefresh = 0;
        beginWaiting(d, CopernicusDownloadDue, makeString("Looking up the download server..."));
    } else if (!refreshing) {
        setMessage(d, formatStr("Logged in as @", d->username), 0);
    }
}

void finishSearch(CopernicusDownloader* d, Platform* platform) {
    if (d->https.statusCode != 200) return fail(d, formatStr("Search failed: @", serverMessage(d)), platform);
    if (d->replyOverflow) {
        return fail(d, formatInt("Search failed: the reply is longer than @ bytes", kCopernicusReplyBytes), platform);
    }
    FixedString failure = readCopernicusSearchReply(d, d->reply, d->replyLength);
    if (failure.length) return fail(d, formatStr("Search failed: @", failure), platform);
    d->state = CopernicusIdle;
    setMessage(d, d->productCount ? formatInt("Found @ products", d->productCount)
                                  : makeString("No products match the region, month and cloud cover"),
               0);
}

void stepRequest(CopernicusDownloader* d, Socket* socket, Platform* platform, u64 now) {
    HttpsGetResult result;
    httpsGetOperation(&result, &d->https, socket);
    if (result.body.length > 0 || result.done) d->lastProgressTime = now;
    if (result.error) return fail(d, formatStr("Request failed: @", result.message), platform);
    if (d->state == CopernicusSearching && d->https.headerDone && isRedirect(d->https.statusCode)) {
        return followRedirect(d, "Search", platform, now);
    }
    keepReply(d, &result.body);
    if (result.done) {
        if (d->state == CopernicusLoggingIn || d->state == CopernicusRefreshing) return finishLogin(d, now, platform);
        return finishSearch(d, platform);
    }
    if (now - d->lastProgressTime > kCopernicusStallTimeout) {
        fail(d, makeString("The server stopped answering"), platform);
    }
}

// Hands the gathered bytes to the file thread: the first job writes the partial file afresh (a
// partial file left over from an earlier run is replaced), the rest append to it.
void flushChunk(CopernicusDownloader* d, Platform* platform) {
    if (d->chunkLength == 0) return;
    u32 mode = d->bytesQueued == 0 ? FileJobWrite : FileJobAppend;
    FileJobResult* result = &d->jobs[d->jobsIssued % kJobRing];
    *result = FileJobResult{};
    enqueueFileJob(d->partialPath, "application/zip", d->chunk, (u32)d->chunkLength, 1, mode, &platform->fileJobs,
                   result);
    d->jobsIssued++;
    d->bytesQueued += d->chunkLength;
    d->chunk = nullptr;
    d->chunkLength = 0;
}

// Checks the finished jobs in order; false (after failing the download) when one failed.
bool checkJobs(CopernicusDownloader* d, Platform* platform) {
    while (d->jobsChecked < d->jobsIssued) {
        FileJobResult* result = &d->jobs[d->jobsChecked % kJobRing];
        u32 status = fileJobStatus(result);
        if (status <= FileStatusProcessing) return true;
        d->jobsChecked++;
        if (status != FileStatusSuccess) {
            bool move = d->state == CopernicusFinishingDownload && d->jobsChecked == d->jobsIssued;
            FixedString what = move ? formatStr("Copernicus/@", d->finalName) : d->partialPath;
            fail(d, formatStrStr(move ? "Could not move the download to @: @" : "Could not write @: @", what,
                                 fileStatusString(status)),
                 platform);
            return false;
        }
    }
    return true;
}

FixedString progressText(const CopernicusDownloader* d) {
    if (d->bytesTotal > 0) {
        return formatStrStrStr("Downloading @: @ of @", d->finalName, byteSizeString(d->bytesReceived),
                               byteSizeString(d->bytesTotal));
    }
    return formatStrStr("Downloading @: @", d->finalName, byteSizeString(d->bytesReceived));
}

void stepDownload(CopernicusDownloader* d, Socket* socket, Platform* platform, u64 now) {
    if (!checkJobs(d, platform)) return;
    if (d->state == CopernicusFinishingDownload) {
        if (d->jobsChecked == d->jobsIssued) {
            d->state = CopernicusIdle;
            d->partialPath = FixedString{};
            setMessage(d, formatStrStr("Downloaded Copernicus/@ (@)", d->finalName, byteSizeString(d->bytesReceived)),
                       0);
        }
        return;
    }
    // The chunk must hold a whole step's bytes; when the file thread lags, the connection waits.
    if (d->chunk && kCopernicusChunkBytes - d->chunkLength < kTlsBufferBytes) {
        if (d->jobsIssued - d->jobsChecked >= (u32)kCopernicusWriteJobs) {
            d->lastProgressTime = now;
            return;
        }
        flushChunk(d, platform);
    }
    if (!d->chunk) {
        d->chunk = allocateFileBuffer(kCopernicusChunkBytes);
        if (!d->chunk) return fail(d, makeString("Out of memory for the download"), platform);
    }
    HttpsGetResult result;
    httpsGetOperation(&result, &d->https, socket);
    if (result.body.length > 0 || result.done) d->lastProgressTime = now;
    if (result.error) {
        FixedString reason = d->bytesReceived ? formatStrStr("Download interrupted after @: @",
                                                             byteSizeString(d->bytesReceived), result.message)
                                              : formatStr("Download failed: @", result.message);
        return fail(d, reason, platform);
    }
    if (d->https.headerDone && isRedirect(d->https.statusCode)) return followRedirect(d, "Download", platform, now);
    if (d->https.headerDone && d->https.statusCode != 200) {
        keepReply(d, &result.body);
        if (result.done) fail(d, formatStr("Download failed: @", serverMessage(d)), platform);
    } else if (result.body.length > 0) {
        if (d->https.hasContentLength) d->bytesTotal = d->https.contentLength;
        std::memcpy(d->chunk + d->chunkLength, result.body.data, (size_t)result.body.length);
        d->chunkLength += result.body.length;
        d->bytesReceived += result.body.length;
        setMessage(d, progressText(d), 0);
    }
    if (d->state != CopernicusDownloading) return;
    if (result.done) {
        if (d->bytesReceived == 0) return fail(d, makeString("Download failed: the server sent no bytes"), platform);
        if (d->https.hasContentLength && d->bytesReceived != d->https.contentLength) {
            return fail(d, formatIntInt("Download interrupted: @ of @ bytes arrived", d->bytesReceived,
                                        d->https.contentLength),
                        platform);
        }
        // All bytes are in: the last chunk, then the move once every append has run.
        flushChunk(d, platform);
        if (d->chunk) {
            freeFileBuffer(d->chunk);
            d->chunk = nullptr;
        }
        u8* target = allocateFileBuffer((u64)d->finalName.length);
        if (!target) return fail(d, makeString("Out of memory for the download"), platform);
        std::memcpy(target, d->finalName.text, d->finalName.length);
        FileJobResult* move = &d->jobs[d->jobsIssued % kJobRing];
        *move = FileJobResult{};
        enqueueFileJob(d->partialPath, "application/zip", target, d->finalName.length, 1, FileJobMove,
                       &platform->fileJobs, move);
        d->jobsIssued++;
        d->state = CopernicusFinishingDownload;
        setMessage(d, formatStr("Saving @", d->finalName), 0);
        return;
    }
    if (now - d->lastProgressTime > kCopernicusStallTimeout) {
        fail(d, formatStr("Download stalled after @", byteSizeString(d->bytesReceived)), platform);
    }
}

void appendDate(i64 ms, ByteWriter* w) {
    DateTimeParts parts = calendarFromMilliseconds(ms);
    appendInt64(parts.year, w);
    appendCString("-", w);
    appendCString(parts.monthText, w);
    appendCString("-", w);
    appendCString(parts.dayText, w);
    appendCString("T00:00:00.000Z", w);
}

void appendMonthStart(i64 year, i64 month, ByteWriter* w) {
    appendInt64(year, w);
    appendCString(month < 10 ? "-0" : "-", w);
    appendInt64(month, w);
    appendCString("-01T00:00:00.000Z", w);
}

f64 clampTo(f64 value, f64 low, f64 high) {
    if (!(value == value)) return 0;
    return value < low ? low : value > high ? high : value;
}

}  // namespace

bool startCopernicusLogin(CopernicusDownloader* d, const FixedString* username, const FixedString* password) {
    if (!canStart(d)) return false;
    if (username->length == 0 || password->length == 0) {
        setMessage(d, makeString("Enter the user name and the password"), 1);
        return false;
    }
    d->username = *username;
    d->password = *password;
    forgetLogin(d);
    beginWaiting(d, CopernicusLoginDue, makeString("Looking up the login server..."));
    return true;
}

bool startCopernicusSearch(CopernicusDownloader* d, Box2 box, u32 month, f64 maxCloudCover) {
    if (!canStart(d)) return false;
    if (!(box.maxX > box.minX) || !(box.maxY > box.minY)) {
        setMessage(d, makeString("Pick a region on the map first"), 1);
        return false;
    }
    d->searchBox = box;
    d->searchMonth = month > 12 ? 0 : month;
    d->maxCloudCover = clampTo(maxCloudCover, 0, 100);
    beginWaiting(d, CopernicusSearchDue, makeString("Looking up the catalogue server..."));
    return true;
}

bool startCopernicusDownload(CopernicusDownloader* d, i32 productIndex) {
    if (!canStart(d)) return false;
    if (productIndex < 0 || productIndex >= d->productCount) {
        setMessage(d, makeString("Pick a product from the list first"), 1);
        return false;
    }
    if (!d->loggedIn) {
        setMessage(d, makeString("Log in first"), 1);
        return false;
    }
    u64 now = nowOf(d);
    bool expired = now >= d->tokenExpiry;
    if (expired && !canRefresh(d, now)) {
        forgetLogin(d);
        setMessage(d, makeString("The login has expired: log in again"), 1);
        return false;
    }
    d->downloadIndex = productIndex;
    FixedString name = productFileName(&d->products[productIndex].name);
    d->finalName = formatStr("@.zip", name);
    d->partialPath = formatStr("Copernicus/@.partial", name);
    d->bytesReceived = d->bytesTotal = d->bytesQueued = 0;
    d->chunkLength = 0;
    d->jobsIssued = d->jobsChecked = 0;
    if (expired) {
        // A fresh token first; the download follows on its own.
        beginWaiting(d, CopernicusRefreshDue, makeString("Renewing the login..."));
        d->downloadAfterRefresh = 1;
    } else {
        beginWaiting(d, CopernicusDownloadDue, makeString("Looking up the download server..."));
    }
    return true;
}

void cancelCopernicusOperation(CopernicusDownloader* d, Platform* platform) {
    if (d->state == CopernicusIdle) return;
    // A renewal given up leaves no login to renew again on the next frame.
    if (d->state == CopernicusRefreshDue || d->state == CopernicusRefreshing) forgetLogin(d);
    fail(d, makeString("Cancelled"), platform);
}

void updateCopernicusDownloader(CopernicusDownloader* d, DnsResolver* resolver, Socket* socket,
                                Preferences* preferences, Platform* platform) {
    (void)preferences;  // the screen hands the search settings over when it starts a search
    u64 now = nowOf(d);
    switch (d->state) {
    case CopernicusLoginDue:
    case CopernicusRefreshDue:
    case CopernicusSearchDue:
    case CopernicusDownloadDue:
        resolveAndSend(d, resolver, platform, now);
        break;
    case CopernicusLoggingIn:
    case CopernicusRefreshing:
    case CopernicusSearching:
        stepRequest(d, socket, platform, now);
        break;
    case CopernicusDownloading:
    case CopernicusFinishingDownload:
        stepDownload(d, socket, platform, now);
        break;
    default: {
        // The access token is renewed shortly before it runs out, while the refresh token lasts.
        if (d->loggedIn && now >= d->tokenExpiry && canRefresh(d, now)) {
            d->state = CopernicusRefreshDue;
            d->lastProgressTime = now;
            d->redirects = 0;
            d->redirectHost = FixedString{};
            break;
        }
        // A connection that cannot carry the next request is closed rather than left open.
        bool reusable = d->https.finished && d->https.keepAlive && d->https.tls.state == TlsStateEstablished;
        if (!reusable && socket->initialised && socket->handle > 0) closeSocket(socket);
        break;
    }
    }
}

FixedString readCopernicusLoginReply(CopernicusDownloader* d, const u8* text, i64 length, i64 statusCode) {
    JsonReader reader{};
    reader.text = text;
    reader.length = length;
    FixedString found[3] = {};
    i64 seconds = 0;
    i64 refreshSeconds = 0;
    d->tokenLength = 0;  // a reply that fails leaves no token behind, not even the last one
    d->refreshTokenLength = 0;
    ByteWriter token = makeByteWriter(d->token, kCopernicusTokenBytes);
    ByteWriter refresh = makeByteWriter(d->refreshToken, kCopernicusTokenBytes);
    bool haveToken = false;
    for (;;) {
        JsonToken t;
        nextJsonToken(&t, &reader);
        if (t.kind == JsonError) {
            if (statusCode != 200) break;
            return formatStr("the reply is not JSON: @", t.key);
        }
        if (t.kind == JsonEnd) break;
        if (reader.depth != 1) continue;
        if (t.kind == JsonString && sameText(&t.key, "access_token")) {
            token.length = 0;
            token.overflow = 0;
            appendJsonUnescaped(t.stringText, t.stringLength, &token);
            haveToken = true;
        } else if (t.kind == JsonString && sameText(&t.key, "refresh_token")) {
            refresh.length = 0;
            refresh.overflow = 0;
            appendJsonUnescaped(t.stringText, t.stringLength, &refresh);
        } else if (t.kind == JsonNumber && sameText(&t.key, "expires_in")) {
            seconds = t.integer;
        } else if (t.kind == JsonNumber && sameText(&t.key, "refresh_expires_in")) {
            refreshSeconds = t.integer;
        } else if (t.kind == JsonString) {
            if (sameText(&t.key, "error_description")) found[0] = jsonText(&t);
            if (sameText(&t.key, "detail")) found[1] = jsonText(&t);
            if (sameText(&t.key, "error")) found[2] = jsonText(&t);
        }
    }
    if (statusCode != 200 || !haveToken) {
        for (const FixedString& message : found) {
            if (message.length) return message;
        }
        return statusCode != 200 ? formatInt("the server answered @", statusCode)
                                 : makeString("the reply holds no access token");
    }
    if (token.overflow || token.length == 0) {
        return formatInt("the access token is empty or longer than @ bytes", kCopernicusTokenBytes);
    }
    for (i64 i = 0; i < token.length; i++) {
        if (d->token[i] < 33 || d->token[i] > 126) return makeString("the access token holds odd characters");
    }
    d->tokenLength = token.length;
    d->tokenLifetime = seconds > 0 && seconds < 86400 ? seconds : kDefaultTokenSeconds;
    // A refresh token that is cut or holds odd characters is not kept: the next login asks for the
    // password again.
    bool printable = !refresh.overflow && refresh.length > 0;
    for (i64 i = 0; printable && i < refresh.length; i++) printable = d->refreshToken[i] >= 33 && d->refreshToken[i] <= 126;
    d->refreshTokenLength = printable ? refresh.length : 0;
    d->refreshLifetime = refreshSeconds > 0 && refreshSeconds < 30 * 86400 ? refreshSeconds : kDefaultTokenSeconds;
    return FixedString{};
}

FixedString readCopernicusRedirect(CopernicusDownloader* d, const u8* location, i64 length) {
    if (!location || length <= 0) return makeString("the server redirected without a Location");
    if (length > kCopernicusPathBytes + 300) return makeString("the redirect's address is too long");
    for (i64 i = 0; i < length; i++) {
        // Nothing that could end the request line or add a header to it.
        if (location[i] < 33 || location[i] > 126) return makeString("the redirect's address holds odd characters");
    }
    // Without its fragment, which is never sent.
    i64 end = 0;
    while (end < length && location[end] != '#') end++;
    FixedString host = d->host;
    u16 port = d->address.port;
    const u8* path = location;
    i64 pathLength = end;
    if (end > 0 && location[0] == '/' && !(end > 1 && location[1] == '/')) {
        // A path on the same host and port.
    } else {
        ByteWriter url = makeByteWriter((u8*)location, end);
        url.length = end;
        ParsedUrl parts = parseUrl(&url);
        if (parts.message.length) return parts.message;
        if (!equalsIgnoringCase("https", (const u8*)parts.scheme.text, parts.scheme.length)) {
            return formatStr("the server redirected to a @ address, not HTTPS",
                             parts.scheme.length ? parts.scheme : makeString("relative"));
        }
        if (parts.host.length == 0 || parts.host.truncated) return makeString("the redirect names no host");
        host = parts.host;
        port = parts.port;
        path = parts.path.length ? parts.path.data : (const u8*)"/";
        pathLength = parts.path.length ? parts.path.length : 1;
    }
    if (pathLength > kCopernicusPathBytes) return makeString("the redirect's address is too long");
    d->redirectHost = host;
    d->redirectPort = port;
    std::memcpy(d->redirectPath, path, (size_t)pathLength);
    d->redirectPathLength = pathLength;
    return FixedString{};
}

FixedString readCopernicusSearchReply(CopernicusDownloader* d, const u8* text, i64 length) {
    enum : u8 { Other, Values, Product, ContentDate, Attributes, Attribute };
    JsonReader reader{};
    reader.text = text;
    reader.length = length;
    u8 context[kJsonMaxDepth + 1] = {};
    i32 depth = 0;
    CopernicusProduct current{};
    FixedString attributeName{};
    f64 attributeValue = 0;
    bool attributeHasValue = false;
    d->productCount = 0;
    for (;;) {
        JsonToken t;
        nextJsonToken(&t, &reader);
        if (t.kind == JsonError) return formatStr("the reply is not JSON: @", t.key);
        if (t.kind == JsonEnd) break;
        u8 parent = depth > 0 && depth <= kJsonMaxDepth + 1 ? context[depth - 1] : (u8)Other;
        if (t.kind == JsonArrayBegin || t.kind == JsonObjectBegin) {
            bool object = t.kind == JsonObjectBegin;
            u8 tag = Other;
            if (depth == 1 && !object && sameText(&t.key, "value")) tag = Values;
            if (parent == Values && object && d->productCount < kCopernicusMaxResults) {
                tag = Product;
                current = CopernicusProduct{};
                current.cloudCover = -1;
            }
            if (parent == Product && object && sameText(&t.key, "ContentDate")) tag = ContentDate;
            if (parent == Product && !object && sameText(&t.key, "Attributes")) tag = Attributes;
            if (parent == Attributes && object) {
                tag = Attribute;
                attributeName = FixedString{};
                attributeHasValue = false;
            }
            if (depth <= kJsonMaxDepth) context[depth] = tag;
            depth++;
            continue;
        }
        if (t.kind == JsonArrayEnd || t.kind == JsonObjectEnd) {
            if (depth == 0) break;
            depth--;
            u8 tag = depth <= kJsonMaxDepth ? context[depth] : (u8)Other;
            if (tag == Attribute && attributeHasValue && sameText(&attributeName, "cloudCover")) {
                current.cloudCover = attributeValue;
            }
            if (tag == Product && current.id.length && current.name.length && !current.id.truncated &&
                !current.name.truncated) {
                d->products[d->productCount++] = current;
            }
            continue;
        }
        if (parent == Product) {
            if (t.kind == JsonString && sameText(&t.key, "Id")) current.id = jsonText(&t);
            if (t.kind == JsonString && sameText(&t.key, "Name")) current.name = jsonText(&t);
            if (t.kind == JsonNumber && sameText(&t.key, "ContentLength")) {
                current.contentLength = t.integer > 0 ? t.integer : 0;
            }
        } else if (parent == ContentDate && t.kind == JsonString && sameText(&t.key, "Start")) {
            current.startDate = jsonText(&t);
        } else if (parent == Attribute) {
            if (t.kind == JsonString && sameText(&t.key, "Name")) attributeName = jsonText(&t);
            if (t.kind == JsonNumber && sameText(&t.key, "Value")) {
                attributeValue = t.number;
                attributeHasValue = true;
            }
        }
    }
    if (depth != 0) return makeString("the reply ends early");
    return FixedString{};
}

void appendCopernicusSearchPath(Box2 box, u32 month, f64 maxCloudCover, i64 utcMs, ByteWriter* writer) {
    f64 west = clampTo(box.minX, -180, 180), east = clampTo(box.maxX, -180, 180);
    f64 south = clampTo(box.minY, -90, 90), north = clampTo(box.maxY, -90, 90);
    u8 filterBytes[2048];
    ByteWriter f = makeByteWriter(filterBytes, sizeof(filterBytes));
    appendCString("Collection/Name eq 'SENTINEL-2' and OData.CSC.Intersects(area=geography'SRID=4326;POLYGON((", &f);
    f64 corners[5][2] = {{west, south}, {east, south}, {east, north}, {west, north}, {west, south}};
    for (i32 i = 0; i < 5; i++) {
        if (i) appendCString(",", &f);
        appendDouble(corners[i][0], 6, &f);
        appendCString(" ", &f);
        appendDouble(corners[i][1], 6, &f);
    }
    appendCString("))') and ContentDate/Start ge ", &f);
    if (month >= 1 && month <= 12) {
        // The latest such month that has begun.
        DateTimeParts today = calendarFromMilliseconds(utcMs);
        i64 year = month <= today.month ? today.year : today.year - 1;
        appendMonthStart(year, month, &f);
        appendCString(" and ContentDate/Start lt ", &f);
        appendMonthStart(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, &f);
    } else {
        appendDate(utcMs - 365ll * 86400000, &f);
    }
    appendCString(" and Attributes/OData.CSC.DoubleAttribute/any(att:att/Name eq 'cloudCover' and "
                  "att/OData.CSC.DoubleAttribute/Value le ",
                  &f);
    appendDouble(clampTo(maxCloudCover, 0, 100), 2, &f);
    appendCString(")", &f);
    appendCString("/odata/v1/Products?$filter=", writer);
    appendEncoded(filterBytes, f.length, writer);
    appendCString("&$orderby=ContentDate%2FStart%20desc&$top=", writer);
    appendInt64(kCopernicusMaxResults, writer);
    appendCString("&$expand=Attributes", writer);
}
