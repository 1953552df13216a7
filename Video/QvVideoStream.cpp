#include "Video/QvVideoStream.h"

#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Network/SecureLink.h"
#include "Network/Socket.h"

u16 videoRelayPort = kSecureLinkVideoPort;

namespace {

struct QvDelivery {
    QvVideoStream* stream;
    H264StreamState* h264;
    ImageSlotTable* slots;
};

// A video datagram in its turn after the reorder window.
void deliverQvVideo(void* context, u8* packet, i64 length, u16 sequence, u32 skipped) {
    QvDelivery* d = (QvDelivery*)context;
    if (skipped) {
        d->stream->stats.packetsLost += skipped;
        noteH264DataLost();
    }
    if (length <= 3) return;
    H264NalUnit unit = convertPacketTransportNalUnit(packet, 3, length, d->h264, sequence);
    feedVideoUnit(unit, d->h264, d->slots);
}

void relayDatagram(SecureLinkHost* relayHost, Socket* videoRelaySocket, const Preferences* preferences, u8* data,
                   u32 length, i64 now) {
    if (!relayHost || !videoRelaySocket) return;
    ByteWriter packet = makeByteWriter(data, length);
    packet.length = length;
    relayPacketToPeers(relayHost, videoRelaySocket, RelayStreamVideo, preferences, &packet, (u64)now);
}

struct VideoPeers {
    SecureLinkHost* host;
    Socket* socket;
    const Preferences* preferences;
    i64 now;
};

void sendToVideoPeers(void* context, const ByteWriter* datagram) {
    VideoPeers* peers = (VideoPeers*)context;
    relayPacketToPeers(peers->host, peers->socket, RelayStreamVideo, peers->preferences, datagram, (u64)peers->now);
}

void copyPictureSizes(VideoDecoder* decoder, const H264StreamState* h264) {
    decoder->width = (i32)h264->width;
    decoder->height = (i32)h264->height;
    decoder->stride = (i32)h264->codedWidth;
    decoder->codedHeight = (i32)h264->codedHeight;
}

}  // namespace

void relayVideoToPeers(VideoRelay* relay, u16 sequence, const u8* payload, i64 length, SecureLinkHost* relayHost,
                       Socket* videoRelaySocket, const Preferences* preferences, i64 now) {
    VideoPeers peers{relayHost, videoRelaySocket, preferences, now};
    bool relaying = relayHost && videoRelaySocket;
    relayVideoPayload(relay, sequence, payload, length, relaying ? sendToVideoPeers : nullptr, &peers);
}

void feedVideoUnit(H264NalUnit unit, H264StreamState* h264, ImageSlotTable* slots) {
    if (h264->lossPending) {
        h264->lossPending = 0;
        noteH264DataLost();
    }
    VideoDecoder* decoder = programVideoDecoder();
    if (decoder && decoder->ready && !decoder->joinedStream) {
        // The decoder opened while the stream ran (the library loads after the first frame, and the
        // stream may begin sooner): the SPS it missed will not come again with another size, nor
        // need the parameter sets come again before the next IDR picture.
        decoder->joinedStream = 1;
        if (h264->spsSeen) copyPictureSizes(decoder, h264);
        processH264BytestreamNalu(h264->kept.bytes, h264->kept.length, slots);
    }
    if (parseSequenceParameterSet(unit, h264) == 1 && decoder) copyPictureSizes(decoder, h264);
    keepH264ParameterSets(unit.bytes, unit.length, &h264->kept, false);
    processH264BytestreamNalu(unit.bytes, unit.length, slots);
}

void endVideoStream(H264StreamState* h264, ImageSlotTable* slots) {
    endH264Stream(slots);
    forgetH264ParameterSets(&h264->kept);
}

void serveVideoRelaySocket(Socket* videoRelaySocket, SecureLinkHost* relayHost, const Preferences* preferences,
                           i64 now) {
    if (!videoRelaySocket) return;
    // The devices granted the video are heard however many others send to the relay port.
    AddressRecord granted[kSocketPeers] = {};
    i32 grantedCount = relayHost ? grantedSecureLinkEndpoints(relayHost, RelayStreamVideo, granted, kSocketPeers) : 0;
    keepSocketPeers(videoRelaySocket, granted, grantedCount);
    // Cheap datagrams are read and dropped up to the larger bound, costly ones up to the smaller; what
    // is left waits in the socket for the next frame.
    videoRelaySocket->receiveBufferBytes = kSecureLinkReceiveBufferBytes;
    i32 costly = 0;
    for (i32 i = 0; i < kSecureLinkReadsPerFrame && costly < kSecureLinkDatagramsPerFrame; i++) {
        SocketResult datagram;
        updateSocket(&datagram, videoRelaySocket, 4, SocketModeUdp, videoRelayPort,
                     &preferences->relayNetworkInterface, nullptr, 0);
        if (!datagram.received) break;
        SecureLinkReceived opened{};
        if (relayHost) receiveFromSecureLinkPeer(&opened, &datagram, relayHost, RelayStreamVideo, preferences, (u64)now);
        if (opened.costly || opened.data) costly++;
        // A listed device's video stream asks for video once a second (the relay sends it by the
        // user's grants). With no relay host nobody is listed: every sender is unknown.
        if (relayHost && opened.refused && datagram.length >= 1 && datagram.data[0] == kQvRequest &&
            isSecureLinkPeerAddress(relayHost, &datagram.source)) {
            relayHost->peerVideoRequests++;
        } else if (!relayHost || opened.refused) {
            videoRelaySocket->unknownSenderDatagrams++;
        }
    }
    exchangeKeysWithNewSecureLinkPeers(relayHost, RelayStreamVideo, preferences, (u64)now);
}

FixedString videoStatusWithNotes(FixedString status, const VideoStreamStats* stats, const Socket* videoSocket,
                                 const H264StreamState* h264) {
    u32 asked = videoSocket->receiveBufferBytes;
    u32 granted = videoSocket->receiveBufferGranted;
    if (granted && asked && granted < asked) {
        status = formatStrIntInt("@; the system gave the video socket a receive buffer of @ kB, not the @ kB asked",
                                 status, granted / 1024, asked / 1024);
    }
    if (stats->strangerDatagrams) {
        status = formatStrInt(stats->strangerDatagrams == 1 ? "@; @ datagram from another address dropped"
                                                            : "@; @ datagrams from other addresses dropped",
                              status, stats->strangerDatagrams);
    }
    if (h264->unitsTooLarge) {
        status = formatStrIntInt(h264->unitsTooLarge == 1 ? "@; @ video unit larger than @ bytes dropped"
                                                         : "@; @ video units larger than @ bytes dropped",
                                 status, h264->unitsTooLarge, kH264FragmentCapacity);
    }
    const VideoDecoder* decoder = programVideoDecoder();
    if (decoder && decoder->accessUnitsDroppedBehind) {
        status = formatStrInt(decoder->accessUnitsDroppedBehind == 1
                                  ? "@; @ picture dropped: the video decoder fell behind"
                                  : "@; @ pictures dropped: the video decoder fell behind",
                              status, decoder->accessUnitsDroppedBehind);
    }
    if (videoDecoderLacksParameterSets(decoder)) {
        // Then no picture decodes, key frame or not.
        status = formatStr("@; the video cannot be shown: the settings it needs (SPS and PPS) have not arrived",
                           status);
    } else if (videoDecoderWaitsForIdr(decoder) && stats->lastPacketTime &&
               videoStreamNow(stats) - stats->lastPacketTime <= kVideoStreamEndSilence) {
        // Only while video comes: a stream that stopped is not damaged, whatever the decoder still
        // waits for.
        status = formatStr("@; video damaged: waiting for the next key frame", status);
    }
    return status;
}

void handleQvDatagram(QvVideoStream* stream, u8* data, u32 length, H264StreamState* h264,
                      SecureLinkHost* relayHost, Socket* videoRelaySocket, const Preferences* preferences,
                      ImageSlotTable* slots, i64 now) {
    if (length == 0) return;
    if (data[0] == kQvText) {
        stream->relayingAppText = buildFixedString([&](ByteWriter* w) {
            i64 position = 1;
            while (w->length < kFixedStringCapacity) {
                i32 c = utf8DecodeNext(data, length, &position);
                if (c == kUtf8End || c == kUtf8Truncated) break;
                if (c == kUtf8Malformed) continue;
                i64 before = w->length;
                appendCodepoint(c, w);
                if (w->overflow) {
                    w->length = before;
                    w->overflow = 0;
                    break;
                }
            }
        });
        stream->lastTextTime = now;
        relayDatagram(relayHost, videoRelaySocket, preferences, data, length, now);
        return;
    }
    // A video datagram needs its whole sequence number.
    if (data[0] != kQvVideo || length < 3) return;
    u16 sequence = (u16)((data[1] << 8) | data[2]);
    relayVideoToPeers(&stream->relay, sequence, data + 3, length - 3, relayHost, videoRelaySocket, preferences,
                      now);
    VideoStreamStats* stats = &stream->stats;
    stats->lastPacketTime = now;
    stream->streaming = 1;
    QvDelivery delivery{stream, h264, slots};
    if (admitReorderPacket(&stream->reorder, data, length, sequence, now, deliverQvVideo, &delivery) == ReorderLate) {
        stats->packetsLate++;
        return;
    }
    stats->packetsReceived++;
    stats->bytesReceived += length - 3;
}

void expireQvVideo(QvVideoStream* stream, H264StreamState* h264, ImageSlotTable* slots, i64 now) {
    QvDelivery delivery{stream, h264, slots};
    expireReorderWindow(&stream->reorder, now, deliverQvVideo, &delivery);
}

void controlQvVideoStream(Socket* videoSocket, Socket* videoRelaySocket, SecureLinkHost* relayHost,
                          SecureLinkClient* secureLinkClient, QvVideoStream* stream, H264StreamState* h264,
                          Preferences* preferences, ImageSlotTable* slots, FlightLogger* logger) {
    enterProfilingRegionChecked("Control QV Video Stream");
    VideoStreamStats* stats = &stream->stats;
    i64 now = videoStreamNow(stats);
    u32 active = preferences->videoStreamProtocol == VideoStreamQv;
    const AddressRecord* server = &preferences->qvVideoServerAddress;
    if (!videoSocket->receiveBufferBytes) videoSocket->receiveBufferBytes = kVideoReceiveBufferBytes;
    for (;;) {
        SocketResult datagram;
        updateSocket(&datagram, videoSocket, active ? server->family : 0, SocketModeUdp, 0,
                     &preferences->videoNetworkInterface, nullptr, 0);
        if (!datagram.received) break;
        // Only the configured server (or the relaying app there) sends this stream. A relaying app sends
        // everything of its link from its video port: only that endpoint is heard by the link, and once
        // the link holds keys nothing else of the address is taken.
        bool linkEndpoint = secureLinkClient && sameEndpoint(&datagram.source, server);
        bool linkOnly = secureLinkClient && (secureLinkClient->keys.ready ||
                                             (datagram.length > 0 && isSecureLinkType(datagram.data[0])));
        if (!sameAddress(&datagram.source, server) || (!linkEndpoint && linkOnly)) {
            stats->strangerDatagrams++;
            videoSocket->unknownSenderDatagrams++;
        } else {
            stream->streamingFrom = *server;
            u8* data = datagram.data;
            u32 length = datagram.length;
            if (linkEndpoint) receiveFromSecureLinkHost(&data, &length, secureLinkClient, nullptr, (u64)now);
            handleQvDatagram(stream, data, length, h264, relayHost, videoRelaySocket, preferences, slots, now);
        }
        // What is left waits in the socket for the next frame.
        if (videoStreamNow(stats) - now > kVideoIntakeBudget) break;
    }
    expireQvVideo(stream, h264, slots, now);
    if (stream->streaming) {
        i64 silence = now - stats->lastPacketTime;
        QvDelivery delivery{stream, h264, slots};
        if (!active || !sameEndpoint(server, &stream->streamingFrom) || silence > kVideoStreamEndSilence) {
            flushReorderWindow(&stream->reorder, deliverQvVideo, &delivery);
            endVideoStream(h264, slots);
            startVideoRelay(&stream->relay, nullptr, 0);
            stream->streaming = 0;
        } else if (silence > kVideoPictureSilence) {
            // Nothing marks the end of a Qv picture but the start of the next one. (The window has
            // let go of what it held long ago.)
            endH264AccessUnit(slots);
        }
    }
    updateVideoStreamStats(stats, active ? logger : nullptr, (i32)h264->width, (i32)h264->height);

    if (stream->lastRequestTime == 0 || now - stream->lastRequestTime > 1000000) {
        ByteWriter* request = queueSocketPacket(server, videoSocket);
        if (request) {
            appendU8(kQvRequest, request);
            stream->lastRequestTime = now;
        }
    }
    serveVideoRelaySocket(videoRelaySocket, relayHost, preferences, now);
    if (secureLinkClient) sendSecureLinkHello(secureLinkClient, server, videoSocket, RelayStreamVideo, (u64)now);
    if (relayHost && videoRelaySocket) {
        sendSecureLinkPublicKey(relayHost, videoRelaySocket, RelayStreamVideo, preferences, (u64)now);
    }

    if (stats->packetsReceived && now - stats->lastPacketTime <= 1000000) {
        stats->status = formatIntInt("Receiving @% of video packets @ kB/s", stats->receivedPercent,
                                     stats->bytesPerSecond / 1000);
    } else if (stream->lastTextTime && now - stream->lastTextTime <= 1000000) {
        stats->status = formatStr("Relaying app says: @", stream->relayingAppText);
    } else if (secureLinkClient && secureLinkClient->active &&
               (u64)now - secureLinkClient->lastHostDatagramTime < kSecureLinkHostSilence) {
        // A relaying app's video port, as heard by the link: not whatever else sent to the socket.
        stats->status = formatStr("Connected to @", endpointString(server));
    } else {
        stats->status = videoSocket->status;
    }
    if (active) stats->status = videoStatusWithNotes(stats->status, stats, videoSocket, h264);
    exitProfilingRegion("Control QV Video Stream");
}
