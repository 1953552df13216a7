// The TLS replays and the URL test. A replay puts the program's own client into the state it had
// after sending the recorded ClientHello (the recorded key share, randoms and fixed CBC IVs), hands
// it the server's recorded records as if they had arrived, steps it, and compares every record it
// sends with the recorded one; the server's application data must decrypt to the recorded reply.
// The server is authenticated as in a live connection, against the recording's test authority at
// the recording's time.
#include <cstring>

#include "Core/Profiler.h"
#include "Crypto/TrustStore.h"
#include "Crypto/X25519.h"
#include "Network/Address.h"
#include "Network/TlsInternal.h"
#include "SelfTests/SelfTests.h"

namespace {

// Everything a replay keeps, in the caller's working memory.
struct ReplayState {
    TlsClient client;
    Socket socket;
    TlsSendQueue queue;
    TrustStore trust;
    TlsStepResult out;
    AddressRecord server;
    FixedString hostName;
};
static_assert(sizeof(ReplayState) <= kTlsSelfTestMemoryBytes);

// The certificate check's clock: the recording's time (main thread only, like the suites).
i64 replayTime;
i64 replayClock() { return replayTime; }

// Prepares the client as it was after its ClientHello. false when the recording cannot be used.
bool prepareReplay(ReplayState* s, const TlsRecording* recording, u32 fixedCbcIv) {
    memset((void*)s, 0, sizeof(*s));
    if (!addTrustAnchor(&s->trust, recording->authority, recording->authorityLength)) return false;
    replayTime = recording->utcMilliseconds;
    s->client.utcClock = replayClock;
    s->client.trustStore = &s->trust;
    s->client.fixedCbcIv = fixedCbcIv;
    resetTlsClient(&s->client);

    memcpy(s->client.x25519Private, recording->clientPrivateKey, 32);
    u8 scalar[32];
    memcpy(scalar, recording->clientPrivateKey, 32);
    x25519(s->client.x25519Public, scalar, x25519BasePoint);
    // ClientHello: type, length (4), version (2), random (32), session id length and id.
    const u8* hello = recording->clientHello;
    if (recording->clientHelloLength < 39 || hello[38] > 32 || recording->clientHelloLength < 39u + hello[38])
        return false;
    memcpy(s->client.clientRandom, hello + 6, 32);
    s->client.sessionIdLength = hello[38];
    memcpy(s->client.sessionId, hello + 39, hello[38]);
    s->hostName = makeString(recording->hostName);
    s->client.hostName = s->hostName;
    hashHandshake(&s->client, hello, recording->clientHelloLength);
    s->client.state = TlsStateReadingServerFlight;

    // A connected socket that sends nothing: the client's records stay in its queue.
    s->socket.initialised = 1;
    s->socket.testMode = 1;
    s->socket.handle = -1;
    s->socket.sendHandle = -1;
    s->socket.mode = SocketModeTcpClient;
    s->socket.family = 4;
    s->socket.state = SocketStateConnected;
    s->server.family = 4;
    s->server.address[0] = 127;
    s->server.address[3] = 1;
    s->server.port = kTlsDefaultPort;
    return true;
}

// The whole-record prefix of a flight: the first `records` records (all when negative).
u32 recordsLength(const TlsRecordedFlight* flight, i32 records) {
    u32 offset = 0;
    for (i32 n = 0; (records < 0 || n < records) && offset + 5 <= flight->length; n++) {
        u32 length = (u32)flight->bytes[offset + 3] << 8 | flight->bytes[offset + 4];
        if (offset + 5 + length > flight->length) break;
        offset += 5 + length;
    }
    return offset;
}

u32 recordCount(const TlsRecordedFlight* flight) {
    u32 count = 0;
    for (u32 offset = 0; offset + 5 <= flight->length; count++)
        offset += 5 + ((u32)flight->bytes[offset + 3] << 8 | flight->bytes[offset + 4]);
    return count;
}

// Appends bytes to the client's receive buffer, as a socket delivery would.
bool deliver(ReplayState* s, const u8* bytes, u32 length) {
    if ((i64)length > kTlsBufferBytes - s->client.receiveLength) return false;
    memcpy(s->client.receiveBuffer + s->client.receiveLength, bytes, length);
    s->client.receiveLength += length;
    return true;
}

TlsStepResult* step(ReplayState* s) {
    return tlsClient(&s->out, &s->client, &s->socket, &s->server, &s->hostName, &s->queue);
}

bool queueRequest(ReplayState* s, const TlsRecording* recording) {
    ByteWriter* slot = queueTlsRecord(&s->queue);
    if (!slot) return false;
    appendBytes(recording->request, recording->requestLength, slot);
    return !slot->overflow;
}

// The records the client queued since the last call must be the flight's, one per packet, and
// nothing more.
bool sentRecordsMatch(ReplayState* s, const TlsRecordedFlight* flight) {
    if (flight->fromServer) return false;
    u32 offset = 0;
    bool same = true;
    while (PacketSlot* packet = oldestQueuedPacket(&s->socket.sendQueue)) {
        u32 length = (u32)packet->writer.length;
        if (offset + length > flight->length || memcmp(packet->data, flight->bytes + offset, length) != 0) same = false;
        offset += length;
        dropOldestQueuedPacket(&s->socket.sendQueue);
    }
    return same && offset == flight->length;
}

bool replyMatches(const TlsStepResult* out, const TlsRecording* recording) {
    return out->dataReceived && out->data.length == (i64)recording->replyLength &&
           memcmp(out->data.data, recording->reply, recording->replyLength) == 0;
}

const TlsRecordedFlight* flight(const TlsRecording* recording, u32 index, u32 fromServer) {
    if (index >= recording->flightCount || recording->flights[index].fromServer != fromServer) return nullptr;
    return &recording->flights[index];
}

}  // namespace

i32 replayTls13Recording(void* memory, const TlsRecording* recording) {
    ReplayState* s = (ReplayState*)memory;
    const TlsRecordedFlight* serverFlight = flight(recording, 0, 1);
    const TlsRecordedFlight* clientFlight = flight(recording, 1, 0);
    const TlsRecordedFlight* serverReply = flight(recording, 2, 1);
    if (!serverFlight || !clientFlight || !serverReply) return __LINE__;
    if (!prepareReplay(s, recording, 0)) return __LINE__;
    // ServerHello, ChangeCipherSpec, EncryptedExtensions, Certificate, CertificateVerify, Finished.
    if (!deliver(s, serverFlight->bytes, serverFlight->length)) return __LINE__;
    if (!queueRequest(s, recording)) return __LINE__;
    step(s);
    step(s);
    // ChangeCipherSpec, Finished and the request.
    if (!sentRecordsMatch(s, clientFlight)) return __LINE__;
    // Session tickets and the reply.
    if (!deliver(s, serverReply->bytes, serverReply->length)) return __LINE__;
    if (!replyMatches(step(s), recording)) return __LINE__;
    return 0;
}

i32 replayTls12BasicRecording(void* memory, const TlsRecording* recording) {
    ReplayState* s = (ReplayState*)memory;
    const TlsRecordedFlight* serverHello = flight(recording, 0, 1);
    const TlsRecordedFlight* clientKeys = flight(recording, 1, 0);
    const TlsRecordedFlight* serverFinished = flight(recording, 2, 1);
    const TlsRecordedFlight* clientRequest = flight(recording, 3, 0);
    const TlsRecordedFlight* serverReply = flight(recording, 4, 1);
    if (!serverHello || !clientKeys || !serverFinished || !clientRequest || !serverReply) return __LINE__;
    if (!prepareReplay(s, recording, 1)) return __LINE__;
    // ServerHello, Certificate, ServerKeyExchange, ServerHelloDone.
    if (!deliver(s, serverHello->bytes, serverHello->length)) return __LINE__;
    step(s);
    step(s);
    // ClientKeyExchange, ChangeCipherSpec, Finished.
    if (!sentRecordsMatch(s, clientKeys)) return __LINE__;
    // (NewSessionTicket,) ChangeCipherSpec, Finished.
    if (!deliver(s, serverFinished->bytes, serverFinished->length)) return __LINE__;
    if (!queueRequest(s, recording)) return __LINE__;
    step(s);
    step(s);
    if (!sentRecordsMatch(s, clientRequest)) return __LINE__;
    if (!deliver(s, serverReply->bytes, serverReply->length)) return __LINE__;
    if (!replyMatches(step(s), recording)) return __LINE__;
    return 0;
}

i32 replayTls12ExtendedRecording(void* memory, const TlsRecording* recording) {
    ReplayState* s = (ReplayState*)memory;
    const TlsRecordedFlight* serverHello = flight(recording, 0, 1);
    const TlsRecordedFlight* clientKeys = flight(recording, 1, 0);
    const TlsRecordedFlight* serverFinished = flight(recording, 2, 1);
    const TlsRecordedFlight* clientRequest = flight(recording, 3, 0);
    const TlsRecordedFlight* serverReply = flight(recording, 4, 1);
    const TlsRecordedFlight* clientClose = flight(recording, 5, 0);
    if (!serverHello || !clientKeys || !serverFinished || !clientRequest || !serverReply || !clientClose)
        return __LINE__;
    if (!prepareReplay(s, recording, 1)) return __LINE__;
    if (!deliver(s, serverHello->bytes, serverHello->length)) return __LINE__;
    step(s);
    step(s);
    if (!sentRecordsMatch(s, clientKeys)) return __LINE__;
    if (!deliver(s, serverFinished->bytes, serverFinished->length)) return __LINE__;
    if (!queueRequest(s, recording)) return __LINE__;
    step(s);
    step(s);
    if (!sentRecordsMatch(s, clientRequest)) return __LINE__;
    // The response, then the server's close_notify (its last record).
    u32 count = recordCount(serverReply);
    if (count < 2) return __LINE__;
    u32 responseLength = recordsLength(serverReply, (i32)count - 1);
    if (!deliver(s, serverReply->bytes, responseLength)) return __LINE__;
    if (!replyMatches(step(s), recording)) return __LINE__;
    if (!deliver(s, serverReply->bytes + responseLength, serverReply->length - responseLength)) return __LINE__;
    step(s);
    if (!s->client.closeNotifyReceived || s->client.alertLevel != 1 || s->client.alertDescription != 0)
        return __LINE__;
    // The client answers with its own close_notify and stops.
    step(s);
    if (s->client.state != TlsStateAborted) return __LINE__;
    if (!sentRecordsMatch(s, clientClose)) return __LINE__;
    return 0;
}

i32 tls13TestSuite(void* memory) { return replayTls13Recording(memory, &kTls13Recording); }
i32 tls12BasicTestSuite(void* memory) { return replayTls12BasicRecording(memory, &kTls12BasicRecording); }
i32 tls12ExtendedTestSuite(void* memory) { return replayTls12ExtendedRecording(memory, &kTls12ExtendedRecording); }

i32 urlParseTest() {
    {
        FixedString text = makeString("rtsp://192.168.0.10:8554/H264Video");
        ByteWriter url = makeByteWriter((u8*)text.text, text.length);
        url.length = text.length;
        ParsedUrl parsed = parseUrl(&url);
        if (!equals(parsed.scheme, makeString("rtsp"))) return __LINE__;
        if (!equals(parsed.host, makeString("192.168.0.10"))) return __LINE__;
        if (parsed.port != 8554) return __LINE__;
    }
    {
        FixedString text = makeString("https://downloads.example.com/downloads");
        ByteWriter url = makeByteWriter((u8*)text.text, text.length);
        url.length = text.length;
        ParsedUrl parsed = parseUrl(&url);
        if (!equals(parsed.scheme, makeString("https"))) return __LINE__;
        if (!equals(parsed.host, makeString("downloads.example.com"))) return __LINE__;
        if (parsed.port != 0) return __LINE__;  // no port named: the caller's default applies
    }
    return 0;
}
