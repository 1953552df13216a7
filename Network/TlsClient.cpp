// The TLS client's step: connection set-up through the socket, the client's own handshake flights,
// alerts, request records and the receive loop.
#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Crypto/EllipticCurve.h"
#include "Crypto/X25519.h"
#include "Crypto/Wipe.h"
#include "Network/TlsInternal.h"
#include "Platform/Random.h"

#include <cstddef>
#include <cstring>

namespace {

bool isAddressFamily(u8 family) { return family == 4 || family == 6; }

void advanceSendQueue(TlsClient* client, TlsSendQueue* queue) {
    queue->readIndex = (u8)((queue->readIndex + 1) % kTlsSendSlots);
    queue->count--;
    client->sendOffset = 0;
}

// The records of the client's own flights and of queued requests; each needs a socket packet, and
// whatever finds none waits for the next step.
void sendDue(TlsClient* client, Socket* socket, TlsSendQueue* queue) {
    if (client->state == TlsStateKeyExchangeDue) {
        ByteWriter* packet = queueSocketPacketToPeer(0, socket);
        if (!packet) {
            return;
        }
        if (client->certificateRequested) {
            writeEmptyClientCertificate(client, packet);
        }
        writeClientKeyExchange(client, packet);
        tls12DeriveKeys(client);
        if (tlsAborted(client)) {
            return;
        }
        client->state = TlsStateChangeCipherSpecDue;
    }
    if (client->state == TlsStateChangeCipherSpecDue) {
        ByteWriter* packet = queueSocketPacketToPeer(0, socket);
        if (!packet) {
            return;
        }
        // Always in the clear, also under TLS 1.3 where the handshake keys are already set.
        const u8 record[6] = {TlsRecordChangeCipherSpec, 3, 3, 0, 1, 1};
        appendBytes(record, sizeof(record), packet);
        if (!client->tls13) {
            client->sendProtection = TlsProtectionCbc12;
            client->send.sequence = 0;
        }
        client->state = TlsStateFinishedDue;
    }
    if (client->state == TlsStateFinishedDue) {
        ByteWriter* packet = queueSocketPacketToPeer(0, socket);
        if (!packet) {
            return;
        }
        if (client->tls13 && client->certificateRequested) {
            writeEmptyClientCertificate(client, packet);
        }
        writeClientFinished(client, packet);
        if (tlsAborted(client)) {
            return;
        }
        client->state = client->tls13 ? TlsStateEstablished : TlsStateAwaitingServerChangeCipherSpec;
    }
    if (client->state == TlsStateEstablished && client->keyUpdateDue) {
        ByteWriter* packet = queueSocketPacketToPeer(0, socket);
        if (!packet) {
            return;
        }
        writeClientKeyUpdate(client, packet);
    }
    if (client->state == TlsStateEstablished) {
        while (ByteWriter* slot = currentTlsRecord(queue)) {
            i64 total = slot->length < kTlsSendSlotBytes ? slot->length : kTlsSendSlotBytes;
            if ((i64)client->sendOffset >= total) {
                advanceSendQueue(client, queue);
                continue;
            }
            ByteWriter* packet = queueSocketPacketToPeer(0, socket);
            if (!packet) {
                return;
            }
            i64 part = total - client->sendOffset;
            if (part > kTlsMaxSentFragment) {
                part = kTlsMaxSentFragment;
            }
            writeTlsRecord(client, TlsRecordApplicationData, slot->data + client->sendOffset, part, packet);
            client->sendOffset += (u32)part;
            if ((i64)client->sendOffset >= total) {
                advanceSendQueue(client, queue);
            }
        }
    }
}

// Zeroes everything but the buffers, keeping the injected clocks, the fixed-IV switch and the
// server-authentication settings.
void clearTlsClient(TlsClient* client) {
    u64 (*clock)() = client->clock;
    u32 fixedCbcIv = client->fixedCbcIv;
    const TrustStore* trustStore = client->trustStore;
    u32 skipServerVerification = client->skipServerVerification;
    i64 (*utcClock)() = client->utcClock;
    secureWipe((void*)client, offsetof(TlsClient, handshakeBuffer));  // keys and secrets included
    client->clock = clock;
    client->fixedCbcIv = fixedCbcIv;
    client->trustStore = trustStore;
    client->skipServerVerification = skipServerVerification;
    client->utcClock = utcClock;
    client->ready = 1;
    client->hashBits = 256;
}

// After the alert has gone out the secrets are wiped; the reason and the abort time stay. Fresh key
// shares are made by the reset that follows the hold time.
void wipeAfterAlert(TlsClient* client) {
    FixedString reason = client->message;
    u64 abortTime = client->abortTime;
    u8 level = client->alertLevel;
    u8 description = client->alertDescription;
    u32 aborts = client->abortCount;
    u32 lost = client->connectionLost;
    u32 closeNotify = client->closeNotifyReceived;
    u64 resetTime = client->resetTime;
    clearTlsClient(client);
    client->resetTime = resetTime;
    client->state = TlsStateAborted;
    client->message = reason;
    client->abortTime = abortTime;
    client->alertLevel = level;
    client->alertDescription = description;
    client->abortCount = aborts;
    client->connectionLost = lost;
    client->closeNotifyReceived = closeNotify;
}

FixedString statusText(const TlsClient* client, const Socket* socket, const AddressRecord* server) {
    bool connected = socket->state == SocketStateConnected;
    switch (client->state) {
    case TlsStateIdle:
        return makeString(isAddressFamily(server->family) ? "Waiting for data to send" : "Waiting for server address");
    case TlsStateConnecting:
        return connected ? makeString("Waiting to send Client Hello") : socket->status;
    case TlsStateReadingServerFlight:
        return connected ? makeString("Waiting to hear all of Server Handshake") : socket->status;
    default:
        return tlsStateText(client->state);
    }
}

}  // namespace

u64 tlsNow(const TlsClient* client) { return client->clock ? client->clock() : getMicroseconds(); }

void tlsFail(TlsClient* client, FixedString reason, u8 description) { abortTlsClient(client, reason, 2, description); }

const char* tlsAlertName(u8 description) {
    switch (description) {
    case 0: return "Close Notify";
    case 10: return "Unexpected Message";
    case 20: return "Bad Record Mac";
    case 22: return "Record Overflow";
    case 40: return "Handshake Failure";
    case 42: return "Bad Certificate";
    case 43: return "Unsupported Certificate";
    case 44: return "Certificate Revoked";
    case 45: return "Certificate Expired";
    case 46: return "Certificate Unknown";
    case 47: return "Illegal Parameter";
    case 48: return "Unknown Certificate Authority";
    case 49: return "Access Denied";
    case 50: return "Decode Error";
    case 51: return "Decrypt Error";
    case 70: return "Protocol Version";
    case 71: return "Insufficient Security";
    case 80: return "Internal Error";
    case 86: return "Inappropriate Fallback";
    case 90: return "User Canceled";
    case 109: return "Missing Extension";
    case 110: return "Unsupported Extension";
    case 112: return "Unrecognized Name";
    case 113: return "Bad Certificate Status Response";
    case 115: return "Unknown Preshared Key Identity";
    case 116: return "Certificate Required";
    case 120: return "No Application Protocol";
    default: return "Unknown";
    }
}

FixedString tlsStateText(u32 state) {
    switch (state) {
    case TlsStateReset: return makeString("Reset");
    case TlsStateIdle: return makeString("Waiting for data to send");
    case TlsStateChangeCipherSpecDue: return makeString("Sending Change cipher spec");
    case TlsStateFinishedDue: return makeString("Sending Client handshake finished");
    case TlsStateEstablished: return makeString("TLS Connection established");
    default: return formatInt("Unknown State @", state);
    }
}

ByteWriter* currentTlsRecord(TlsSendQueue* queue) {
    if (queue->count == 0) {
        return nullptr;
    }
    return &queue->slots[queue->readIndex % kTlsSendSlots].writer;
}

ByteWriter* queueTlsRecord(TlsSendQueue* queue) {
    if (queue->count >= kTlsSendSlots) {
        return nullptr;
    }
    TlsSendSlot* slot = &queue->slots[queue->writeIndex % kTlsSendSlots];
    slot->writer = makeByteWriter(slot->data, kTlsSendSlotBytes);
    queue->writeIndex = (u8)((queue->writeIndex + 1) % kTlsSendSlots);
    queue->count++;
    return &slot->writer;
}

void resetTlsClient(TlsClient* client) {
    ProfilingScope scope("Reset Tls Client");
    clearTlsClient(client);
    client->resetTime = tlsNow(client);
    client->message = makeString("Reset");
    u8 generator[64];
    memcpy(generator, secp256r1.generatorX, 32);
    memcpy(generator + 32, secp256r1.generatorY, 32);
    bool failed = generateRandomNumber(client->p256Private, &secp256r1) != 0 ||
                  scalePoint(client->p256Public, client->p256Private, generator, &secp256r1) != 0 ||
                  generateX25519KeyPair(client->x25519Private, client->x25519Public) != 0 ||
                  getRandomBytes(client->clientRandom, 32) != 0 || getRandomBytes(client->sessionId, 32) != 0;
    client->sessionIdLength = 32;
    tls13PrecomputeDerivedSecrets(client);
    sha256Init(&client->transcript256);
    sha384Init(&client->transcript384);
    if (failed) {
        abortTlsClient(client, makeString("The system's random generator failed"), 2, TlsAlertInternalError);
    }
}

void abortTlsClient(TlsClient* client, FixedString reason, u8 alertLevel, u8 alertDescription) {
    FixedString debugLine = formatStr("Aborting because @\n", reason);  // debug output goes nowhere
    (void)debugLine;
    client->state = TlsStateAlertDue;
    client->message = reason;
    client->abortTime = tlsNow(client);
    client->alertLevel = alertLevel;
    client->alertDescription = alertDescription;
    client->abortCount++;
    client->receiveLength = 0;
    client->handshakeLength = 0;
}

TlsStepResult* tlsClient(TlsStepResult* out, TlsClient* client, Socket* socket, const AddressRecord* server,
                         const FixedString* hostName, TlsSendQueue* queue) {
    ProfilingScope scope("TLS Client");
    memset((void*)out, 0, sizeof(*out));
    out->data = makeByteWriter(client->plaintextBuffer, kTlsBufferBytes);
    if (!client->ready) {
        resetTlsClient(client);
    }
    u32 abortsBefore = client->abortCount;
    u16 port = server->port ? server->port : kTlsDefaultPort;
    FixedString noInterface{};
    SocketResult socketResult;

    if (client->state == TlsStateReset || client->state == TlsStateIdle) {
        updateSocket(&socketResult, socket, 0, SocketModeTcpClient, 0, &noInterface, server->address, port);
        client->state = TlsStateIdle;
        if (queue->count != 0 && isAddressFamily(server->family)) {
            client->state = TlsStateConnecting;
        }
    }
    bool connected = socket->state == SocketStateConnected && !client->connectionLost;
    if (client->state == TlsStateConnecting && connected &&
        tlsNow(client) - client->resetTime > kTlsHelloDelay) {
        if (ByteWriter* packet = queueSocketPacketToPeer(0, socket)) {
            writeClientHello(client, hostName, packet);
            client->state = TlsStateReadingServerFlight;
        }
    }
    if (connected) {
        sendDue(client, socket, queue);
    }
    if (client->state == TlsStateAlertDue && connected) {
        if (ByteWriter* packet = queueSocketPacketToPeer(0, socket)) {
            u8 alert[2] = {client->alertLevel, client->alertDescription};
            writeTlsRecord(client, TlsRecordAlert, alert, 2, packet);
            wipeAfterAlert(client);
        }
    }
    if (tlsAborted(client) && tlsNow(client) - client->abortTime > kTlsAbortHoldTime) {
        resetTlsClient(client);
        updateSocket(&socketResult, socket, 0, SocketModeTcpClient, 0, &noInterface, server->address, port);
    }

    // Receiving: records already held first, then one socket packet after another until one of them
    // delivers application data.
    if (client->state >= TlsStateAlertDue && !tlsAborted(client) && client->receiveLength > 0) {
        processTlsRecords(client, out);
    }
    for (int packets = 0; packets < 64 && client->state >= TlsStateAlertDue; packets++) {
        if (tlsAborted(client) && client->connectionLost) {
            // Nothing more can be said on a lost connection; keep the socket closed until the reset.
            updateSocket(&socketResult, socket, 0, SocketModeTcpClient, 0, &noInterface, server->address, port);
            break;
        }
        updateSocket(&socketResult, socket, server->family, SocketModeTcpClient, 0, &noInterface, server->address,
                     port);
        if (socketResult.reset) {
            client->connectionLost = 1;
            if (!tlsAborted(client)) {
                abortTlsClient(client, makeString("The server closed the connection"), 2, TlsAlertCloseNotify);
            }
            break;
        }
        if (!socketResult.received) {
            break;
        }
        if (tlsAborted(client)) {
            continue;  // what arrives after an abort is dropped
        }
        if ((i64)socketResult.length > kTlsBufferBytes - client->receiveLength) {
            tlsFail(client, makeString("Insufficient memory to reconstruct the TLS record"), TlsAlertInternalError);
            break;
        }
        memcpy(client->receiveBuffer + client->receiveLength, socketResult.data, socketResult.length);
        client->receiveLength += socketResult.length;
        processTlsRecords(client, out);
        if (out->dataReceived) {
            break;
        }
    }

    if (!tlsAborted(client)) {
        client->message = statusText(client, socket, server);
    }
    out->closed = client->abortCount != abortsBefore;
    if (out->closed) {
        // A request that did not go out is not sent again on another connection.
        queue->count = 0;
        queue->readIndex = queue->writeIndex;
        client->sendOffset = 0;
    }
    return out;
}
