// One HTTP/1.1 request at a time over one TLS connection, kept open for the next request to the same
// host and address. A caller starts a request (buildHttpGetRequest, or beginHttpsRequest and its own
// text), then calls httpsGetOperation once per frame; each call steps the TLS client once and hands
// back the body bytes of that step until the result says done or error. Nothing blocks.
#pragma once
#include "Network/Tls.h"

constexpr i64 kHttpHeaderBytes = 10000;
constexpr i64 kHttpLineBytes = 100;
constexpr const char* kHttpUserAgent = "Orvik";

// How the response body is delimited.
enum HttpBodyFraming : u32 {
    HttpBodyUntilClose = 0,     // neither Content-Length nor chunked: the body ends when the server closes
    HttpBodyContentLength = 1,
    HttpBodyChunked = 2,
};

struct HttpsGetOperation {
    u32 finished;  // the last call ended the request (done or error)
    i64 bodyReceived;  // body bytes delivered so far (Content-Length and until-close bodies)
    u32 headerDone;
    i64 statusCode;
    FixedString statusText;
    i64 contentLength;  // 0 when absent
    u32 chunked;
    FixedString lastModified;
    i64 chunkRemaining;  // bytes of the current chunk still due, its closing CR LF included; 0 = a size line
    u8 lineBuffer[kHttpLineBytes];
    ByteWriter lineWriter;
    ByteWriter headerWriter;
    const AddressRecord* address;  // as given to the last beginHttpsRequest (a reference)
    const FixedString* host;
    // Copies of the host and address the open connection was made for: the caller's records may
    // have been reused for another request meanwhile.
    FixedString connectionHost;
    AddressRecord connectionAddress;
    TlsClient tls;
    u8 headerBuffer[kHttpHeaderBytes];
    TlsSendQueue outgoing;

    u32 framing;  // HttpBodyFraming, once the header is in
    u32 hasContentLength;
    u32 trailers;  // the last chunk was seen; trailer lines up to the blank line follow
    u32 keepAlive;  // the connection may carry the next request once this one is done
    u32 reused;  // this request went out on a connection kept from an earlier one
    i64 headerStart;  // header bytes that arrived before this call
    u32 keepErrorBodies;  // set by the owner: a response other than 200 hands its body on like a 200
                          // (the caller reads statusCode) instead of failing at its header
};

struct HttpsGetResult {
    ByteWriter body;  // this call's body bytes, inside the TLS client's buffer until the next call
    u32 error;
    u32 done;
    FixedString message;
};

// Prepares op for a new request and returns the emptied writer for the request text. The open
// connection is kept only when host text and address are the same, the previous request finished
// and left the connection reusable.
ByteWriter* beginHttpsRequest(const FixedString* host, const AddressRecord* address, HttpsGetOperation* op);
// Writes a whole GET request: path (percent-encoded where needed, "/" when empty), Host, User-Agent,
// HTTP Basic authorisation when both user and password are given, the extra header lines unchanged.
void buildHttpGetRequest(const ByteWriter* path, const FixedString* user, const FixedString* password,
                         const FixedString* extraHeaders, const FixedString* host, const AddressRecord* address,
                         HttpsGetOperation* op);
// One step. socket is the caller's TCP client socket.
HttpsGetResult* httpsGetOperation(HttpsGetResult* out, HttpsGetOperation* op, Socket* socket);

// The value of the response header's first line of that name (ASCII, any case), blanks around it
// removed; an empty slice when the header is not complete or has no such line.
TextSlice httpsHeaderValue(const HttpsGetOperation* op, const char* name);

// RFC 4648 Base64 with padding, no line breaks.
void appendBase64(const void* bytes, i64 count, ByteWriter* writer);
