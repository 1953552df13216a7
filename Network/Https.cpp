// HTTP/1.1 over the TLS client: request text, response header, and bodies framed by Content-Length,
// by chunks (with their trailers) or by the end of the connection.
#include "Network/Https.h"

#include "Core/Format.h"
#include "Core/Profiler.h"

#include <cstring>

namespace {

constexpr i32 kMaxChunkSizeDigits = 15;

bool sameHostAndAddress(const HttpsGetOperation* op, const FixedString* host, const AddressRecord* address) {
    return equals(op->connectionHost, *host) && sameEndpoint(&op->connectionAddress, address);
}

// Characters a request target may carry as they are; "%" is taken as the start of an escape the
// caller already wrote.
bool isPathCharacter(i32 c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return c != 0 && strchr("-._~!$&'()*+,;=:@/?%", c) != nullptr;
}

void appendPercentEncoded(u8 byte, ByteWriter* writer) {
    appendCString("%", writer);
    appendHexDigits(byte, 2, writer);
}

// The path as a request target: code point by code point (malformed bytes are skipped), with
// spaces, controls, non-ASCII and the other characters a target may not hold percent-encoded. A
// fragment is not part of the target.
void appendRequestTarget(const ByteWriter* path, ByteWriter* writer) {
    const u8* text = path ? path->data : nullptr;
    i64 length = path && path->data ? path->length : 0;
    if (length == 0 || text[0] != '/') {
        appendCString("/", writer);
    }
    i64 position = 0;
    for (;;) {
        i32 c = utf8DecodeNext(text, length, &position);
        if (c == kUtf8End || c == kUtf8Truncated || c == '#') {
            break;
        }
        if (c < 0) {
            continue;
        }
        if (c < 0x80 && isPathCharacter(c)) {
            appendU8((u8)c, writer);
            continue;
        }
        u8 bytes[4];
        ByteWriter encoded = makeByteWriter(bytes, sizeof(bytes));
        appendCodepoint(c, &encoded);
        for (i64 i = 0; i < encoded.length; i++) {
            appendPercentEncoded(bytes[i], writer);
        }
    }
}

bool isBlank(u8 c) { return c == ' ' || c == '\t'; }

// A header value without the white space around it.
void trimValue(const u8* text, i64* start, i64* end) {
    while (*start < *end && isBlank(text[*start])) (*start)++;
    while (*end > *start && (isBlank(text[*end - 1]) || text[*end - 1] == '\r')) (*end)--;
}

bool nameIs(const char* name, const u8* text, i64 length) { return equalsIgnoringCase(name, text, length) != 0; }

// Reads a decimal number that makes up the whole value; false when it is not one.
bool readDecimal(const u8* text, i64 length, i64* out) {
    if (length < 1 || length > 18) {
        return false;
    }
    i64 value = 0;
    for (i64 i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    *out = value;
    return true;
}

// Parses the complete header (end: the index just after its blank line). Returns the failure text,
// empty when the header is sound.
FixedString parseHeader(HttpsGetOperation* op, i64 end) {
    const u8* text = op->headerBuffer;
    i64 position = 0;
    // Status line: protocol, code, text.
    i64 lineEnd = position;
    while (lineEnd < end && text[lineEnd] != '\n') lineEnd++;
    i64 protocolEnd = position;
    while (protocolEnd < lineEnd && text[protocolEnd] != ' ') protocolEnd++;
    bool http10 = protocolEnd - position == 8 && memcmp(text + position, "HTTP/1.0", 8) == 0;
    op->keepAlive = http10 ? 0 : 1;
    position = protocolEnd;
    op->statusCode = parseInteger(text, &position, lineEnd, 0);
    if (position < lineEnd && text[position] == ' ') {
        position++;
    }
    i64 statusEnd = lineEnd;
    while (statusEnd > position && text[statusEnd - 1] == '\r') statusEnd--;
    op->statusText = stringFromBytes(text + position, statusEnd - position);
    position = lineEnd + 1;

    // Header lines up to the blank line.
    u32 transferChunked = 0;
    while (position < end) {
        lineEnd = position;
        while (lineEnd < end && text[lineEnd] != '\n') lineEnd++;
        if (lineEnd == position || (lineEnd == position + 1 && text[position] == '\r')) {
            break;
        }
        i64 colon = position;
        while (colon < lineEnd && text[colon] != ':') colon++;
        if (colon < lineEnd) {
            const u8* name = text + position;
            i64 nameLength = colon - position;
            i64 valueStart = colon + 1;
            i64 valueEnd = lineEnd;
            trimValue(text, &valueStart, &valueEnd);
            const u8* value = text + valueStart;
            i64 valueLength = valueEnd - valueStart;
            if (nameIs("Content-Length", name, nameLength)) {
                i64 length = 0;
                if (!readDecimal(value, valueLength, &length) || (op->hasContentLength && length != op->contentLength)) {
                    return makeString("Received an unreadable Content-Length");
                }
                op->contentLength = length;
                op->hasContentLength = 1;
            } else if (nameIs("Last-Modified", name, nameLength)) {
                op->lastModified = stringFromBytes(value, valueLength);
            } else if (nameIs("Transfer-Encoding", name, nameLength)) {
                transferChunked = endsWithIgnoringCase(value, valueLength, "chunked") ? 1 : 0;
            } else if (nameIs("Connection", name, nameLength)) {
                // Comma-separated options.
                for (i64 start = 0; start < valueLength;) {
                    i64 stop = start;
                    while (stop < valueLength && value[stop] != ',') stop++;
                    i64 tokenStart = start;
                    i64 tokenEnd = stop;
                    trimValue(value, &tokenStart, &tokenEnd);
                    if (nameIs("close", value + tokenStart, tokenEnd - tokenStart)) {
                        op->keepAlive = 0;
                    } else if (nameIs("keep-alive", value + tokenStart, tokenEnd - tokenStart)) {
                        op->keepAlive = 1;
                    }
                    start = stop + 1;
                }
            }
        }
        position = lineEnd + 1;
    }
    op->chunked = transferChunked;
    if (transferChunked) {
        // The chunks frame the body; a Content-Length beside them means nothing.
        op->framing = HttpBodyChunked;
        op->contentLength = 0;
        op->hasContentLength = 0;
    } else if (op->hasContentLength) {
        op->framing = HttpBodyContentLength;
    } else {
        op->framing = HttpBodyUntilClose;
        op->keepAlive = 0;
    }
    return FixedString{};
}

// The index just after the blank line that ends the header, searching from `from`; -1 when the
// header is not complete yet. Lines end in CR LF, or in LF alone from a careless server.
i64 findHeaderEnd(const u8* text, i64 from, i64 length) {
    for (i64 i = from; i < length; i++) {
        if (text[i] != '\n') {
            continue;
        }
        if (i + 1 < length && text[i + 1] == '\n') {
            return i + 2;
        }
        if (i + 2 < length && text[i + 1] == '\r' && text[i + 2] == '\n') {
            return i + 3;
        }
    }
    return -1;
}

void fail(HttpsGetResult* out, HttpsGetOperation* op, FixedString message) {
    out->error = 1;
    out->message = message;
    out->body.length = 0;
    op->keepAlive = 0;
    abortTlsClient(&op->tls, message, 2, 0);
}

// Reads a chunk-size line (without its line end): hexadecimal digits after optional blanks; an
// extension after ";" is ignored. Returns -1 when there is no size.
i64 readChunkSize(const u8* line, i64 length) {
    i64 position = 0;
    while (position < length && isBlank(line[position])) position++;
    i64 size = 0;
    i32 digits = 0;
    for (; position < length; position++) {
        u8 c = line[position];
        i32 value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (value < 0) {
            break;
        }
        if (++digits > kMaxChunkSizeDigits) {
            return -1;
        }
        size = size * 16 + value;
    }
    return digits == 0 ? -1 : size;
}

bool isEmptyLine(const ByteWriter* line) {
    return line->length == 0 || (line->length == 1 && line->data[0] == '\r');
}

// Walks a chunked body, moving the data bytes together at the start of the slice.
void readChunks(HttpsGetResult* out, HttpsGetOperation* op, u8* slice, i64 length) {
    i64 write = 0;
    i64 i = 0;
    while (i < length && !out->done) {
        u8 c = slice[i];
        if (op->trailers) {
            // Trailer lines are read and dropped; the blank line ends the response.
            i++;
            if (c == '\n') {
                bool blank = isEmptyLine(&op->lineWriter);
                op->lineWriter.length = 0;
                op->lineWriter.overflow = 0;
                if (blank) {
                    out->done = 1;
                }
            } else if (op->lineWriter.length < 1) {
                appendU8(c, &op->lineWriter);
            } else {
                op->lineWriter.length = 2;  // a line with content; its bytes are not kept
            }
        } else if (op->chunkRemaining == 0) {
            i++;
            if (c != '\n') {
                appendU8(c, &op->lineWriter);
                if (op->lineWriter.overflow) {
                    fail(out, op, makeString("Error reading chunk length"));
                    return;
                }
                continue;
            }
            i64 lineLength = op->lineWriter.length;
            if (lineLength > 0 && op->lineBuffer[lineLength - 1] == '\r') {
                lineLength--;
            }
            i64 size = readChunkSize(op->lineBuffer, lineLength);
            op->lineWriter.length = 0;
            if (size < 0) {
                fail(out, op, makeString("Error reading chunk length"));
                return;
            }
            if (size == 0) {
                op->trailers = 1;
            } else {
                op->chunkRemaining = size + 2;
            }
        } else if (op->chunkRemaining > 2) {
            i64 take = op->chunkRemaining - 2;
            if (take > length - i) {
                take = length - i;
            }
            memmove(slice + write, slice + i, (size_t)take);
            write += take;
            i += take;
            op->chunkRemaining -= take;
        } else {
            // The CR LF that closes a chunk's data.
            u8 expected = op->chunkRemaining == 2 ? '\r' : '\n';
            if (c != expected) {
                fail(out, op, makeString("A chunk did not end with CR LF"));
                return;
            }
            i++;
            op->chunkRemaining--;
        }
    }
    if (out->done && i < length) {
        op->keepAlive = 0;  // bytes after the response: the connection is no longer in step
    }
    out->body.data = slice;
    out->body.length = write;
    op->bodyReceived += write;
}

void readBody(HttpsGetResult* out, HttpsGetOperation* op, u8* slice, i64 length, i64 capacity) {
    out->body = ByteWriter{0, capacity, 0, slice};
    if (op->statusCode != 200 && !op->keepErrorBodies) {
        fail(out, op, formatInt("Received HTTP Code: @", op->statusCode));
        return;
    }
    if (op->framing == HttpBodyChunked) {
        readChunks(out, op, slice, length);
        return;
    }
    if (op->framing == HttpBodyContentLength) {
        i64 remaining = op->contentLength - op->bodyReceived;
        if (length > remaining) {
            length = remaining;
            op->keepAlive = 0;  // bytes beyond the body: the connection is no longer in step
        }
    }
    out->body.length = length;
    op->bodyReceived += length;
    if (op->framing == HttpBodyContentLength && op->bodyReceived >= op->contentLength) {
        out->done = 1;
    }
}

bool isGetRequest(const HttpsGetOperation* op) {
    const TlsSendSlot* slot = &op->outgoing.slots[0];
    return slot->writer.length >= 4 && memcmp(slot->data, "GET ", 4) == 0;
}

}  // namespace

ByteWriter* beginHttpsRequest(const FixedString* host, const AddressRecord* address, HttpsGetOperation* op) {
    op->bodyReceived = 0;
    op->headerDone = 0;
    op->statusCode = 0;
    op->statusText = FixedString{};
    op->contentLength = 0;
    op->chunked = 0;
    op->lastModified = FixedString{};
    op->chunkRemaining = 0;
    op->lineWriter = makeByteWriter(op->lineBuffer, kHttpLineBytes);
    op->headerWriter = makeByteWriter(op->headerBuffer, kHttpHeaderBytes);
    op->framing = HttpBodyUntilClose;
    op->hasContentLength = 0;
    op->trailers = 0;
    op->headerStart = 0;
    op->reused = 0;
    if (op->address && op->host) {
        bool reusable = sameHostAndAddress(op, host, address) && op->finished && op->keepAlive &&
                        op->tls.state == TlsStateEstablished;
        if (reusable) {
            op->reused = 1;
        } else {
            resetTlsClient(&op->tls);
        }
    }
    op->finished = 0;
    op->keepAlive = 0;
    op->address = address;
    op->host = host;
    op->connectionHost = *host;
    op->connectionAddress = *address;
    op->outgoing.writeIndex = 1;
    op->outgoing.readIndex = 0;
    op->outgoing.count = 1;
    TlsSendSlot* slot = &op->outgoing.slots[0];
    slot->writer = makeByteWriter(slot->data, kTlsSendSlotBytes);
    return &slot->writer;
}

void buildHttpGetRequest(const ByteWriter* path, const FixedString* user, const FixedString* password,
                         const FixedString* extraHeaders, const FixedString* host, const AddressRecord* address,
                         HttpsGetOperation* op) {
    ByteWriter* writer = beginHttpsRequest(host, address, op);
    appendCString("GET ", writer);
    appendRequestTarget(path, writer);
    appendCString(" HTTP/1.1\r\nHost: ", writer);
    appendFixedStringRef(host, writer);
    if (address->port != 0 && address->port != kTlsDefaultPort) {
        appendCString(":", writer);
        appendInt64(address->port, writer);
    }
    appendCString("\r\nUser-Agent: ", writer);
    appendCString(kHttpUserAgent, writer);
    appendCString("\r\n", writer);
    if (user && password && user->length != 0 && password->length != 0) {
        FixedString credentials = formatStrStr("@:@", *user, *password);
        appendCString("Authorization: Basic ", writer);
        appendBase64(credentials.text, credentials.length, writer);
        appendCString("\r\n", writer);
    }
    if (extraHeaders) {
        appendFixedStringRef(extraHeaders, writer);
    }
    appendCString("\r\n", writer);
}

HttpsGetResult* httpsGetOperation(HttpsGetResult* out, HttpsGetOperation* op, Socket* socket) {
    memset((void*)out, 0, sizeof(*out));
    if (!op->address || !op->host) {
        return out;
    }
    ProfilingScope scope("Https Get Operation");
    if (op->finished) {
        return out;  // the request has ended; a new one starts with beginHttpsRequest
    }
    TlsStepResult step;
    tlsClient(&step, &op->tls, socket, op->address, op->host, &op->outgoing);

    if (step.dataReceived) {
        u8* slice = step.data.data;
        i64 length = step.data.length;
        i64 bodyStart = 0;
        if (!op->headerDone) {
            // Only as much as the header buffer holds: body bytes may follow the header in the slice.
            i64 before = op->headerWriter.length;
            i64 room = kHttpHeaderBytes - before;
            appendBytes(slice, length < room ? length : room, &op->headerWriter);
            i64 end = findHeaderEnd(op->headerBuffer, before > 2 ? before - 2 : 0, op->headerWriter.length);
            if (end >= 0) {
                op->headerDone = 1;
                bodyStart = end - before;
                FixedString failure = parseHeader(op, end);
                if (failure.length != 0) {
                    fail(out, op, failure);
                }
            } else if (op->headerWriter.length >= kHttpHeaderBytes) {
                fail(out, op, formatInt("The response header is longer than @ bytes", kHttpHeaderBytes));
            }
        }
        if (op->headerDone && !out->error) {
            readBody(out, op, slice + bodyStart, length - bodyStart, step.data.capacity - bodyStart);
        }
    }

    if (step.closed) {
        // The server ends the connection: with a close_notify, or by closing the socket. Only the
        // close_notify proves that a body without a length is whole; a bare close may be a cut.
        bool cleanClose = op->tls.closeNotifyReceived != 0;
        op->keepAlive = 0;
        if (out->done || out->error) {
            // The response had already ended in this step.
        } else if (op->headerDone && (op->statusCode == 200 || op->keepErrorBodies) &&
                   op->framing == HttpBodyUntilClose && cleanClose) {
            out->done = 1;
            op->contentLength = op->bodyReceived;
        } else if (op->reused && op->headerWriter.length == 0 && isGetRequest(op)) {
            // A kept connection that the server had closed meanwhile: ask once more on a new one.
            resetTlsClient(&op->tls);
            op->reused = 0;
            op->outgoing.writeIndex = 1;
            op->outgoing.readIndex = 0;
            op->outgoing.count = 1;
        } else if (op->headerDone) {
            out->error = 1;
            out->body.length = 0;
            out->message = formatInt("The connection closed before the whole response arrived (@ body bytes)",
                                     op->bodyReceived);
        } else {
            out->error = 1;
            out->body.length = 0;
            out->message = formatStr("Tls connection closed: @\n", op->tls.message);
        }
    }
    if (out->error) {
        op->keepAlive = 0;
    }
    op->finished = (out->error || out->done) ? 1 : 0;
    return out;
}

TextSlice httpsHeaderValue(const HttpsGetOperation* op, const char* name) {
    if (!op->headerDone) return TextSlice{nullptr, 0};
    const u8* text = op->headerBuffer;
    i64 end = findHeaderEnd(text, 0, op->headerWriter.length);
    if (end < 0) return TextSlice{nullptr, 0};
    i64 position = 0;
    while (position < end && text[position] != '\n') position++;  // the status line
    for (position++; position < end;) {
        i64 lineEnd = position;
        while (lineEnd < end && text[lineEnd] != '\n') lineEnd++;
        i64 colon = position;
        while (colon < lineEnd && text[colon] != ':') colon++;
        if (colon < lineEnd && nameIs(name, text + position, colon - position)) {
            i64 valueStart = colon + 1;
            i64 valueEnd = lineEnd;
            trimValue(text, &valueStart, &valueEnd);
            return TextSlice{text + valueStart, valueEnd - valueStart};
        }
        position = lineEnd + 1;
    }
    return TextSlice{nullptr, 0};
}

void appendBase64(const void* bytes, i64 count, ByteWriter* writer) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const u8* in = (const u8*)bytes;
    for (i64 i = 0; i < count; i += 3) {
        u32 group = (u32)in[i] << 16;
        if (i + 1 < count) group |= (u32)in[i + 1] << 8;
        if (i + 2 < count) group |= in[i + 2];
        char quad[4] = {alphabet[(group >> 18) & 63], alphabet[(group >> 12) & 63],
                        i + 1 < count ? alphabet[(group >> 6) & 63] : '=', i + 2 < count ? alphabet[group & 63] : '='};
        appendBytes(quad, 4, writer);
    }
}
