// The RTSP client's per-frame state machine: entry rule, socket intake, requests and status line.
#include <string.h>

#include "Video/RtspVideoStream.h"

#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Network/SecureLink.h"
#include "Network/Socket.h"

namespace {

constexpr i64 kRequestInterval = 3000000;
constexpr i64 kSilenceLimit = 10000000;
constexpr i64 kTeardownWait = 2000000;
constexpr i64 kSetupReplyWait = 5000000;
// Reads of the control connection and of the RTCP socket in one frame; the rest wait for the next.
constexpr i32 kControlReadsPerFrame = 64;
constexpr i32 kRtcpReadsPerFrame = 64;

bool isAbsoluteUrl(const FixedString* text) {
    return (text->length >= 7 && memcmp(text->text, "rtsp://", 7) == 0) ||
           (text->length >= 8 && memcmp(text->text, "rtspu://", 8) == 0);
}

// The URL that relative controls hang from: the Content-Base, or the DESCRIBE URL without one.
const FixedString* baseUrl(const RtspVideoStream* stream) {
    return stream->contentBase.length ? &stream->contentBase : &stream->url;
}

void appendCseq(RtspVideoStream* stream, ByteWriter* w) {
    appendCString(" RTSP/1.0\r\nCSeq: ", w);
    appendInt64(stream->cseq, w);
    stream->cseq++;
}

// Writes the request of the state into a fresh send slot; false when the queue is full.
bool queueRequest(RtspVideoStream* stream, Socket* control, Socket* rtp, Socket* rtcp, i32 state, i64 now) {
    ByteWriter* w = queueSocketPacket(&stream->server, control);
    if (!w) return false;
    switch (state) {
    case RtspDescribe:
        appendCString("DESCRIBE ", w);
        appendFixedStringRef(&stream->url, w);
        appendCseq(stream, w);
        appendCString("\r\nAccept: application/sdp\r\n\r\n", w);
        break;
    case RtspSetup: {
        appendCString("SETUP ", w);
        if (isAbsoluteUrl(&stream->mediaControl)) {
            appendFixedStringRef(&stream->mediaControl, w);
        } else {
            const FixedString* base = baseUrl(stream);
            appendFixedStringRef(base, w);
            bool slash = (stream->mediaControl.length && stream->mediaControl.text[0] == '/') ||
                         (base->length && base->text[base->length - 1] == '/');
            if (!slash) appendCString("/", w);
            appendFixedStringRef(&stream->mediaControl, w);
        }
        appendCseq(stream, w);
        appendCString("\r\nTransport: RTP/AVP/UDP;unicast;client_port=", w);
        appendInt64(rtp->localPort, w);
        appendCString("-", w);
        appendInt64(rtcp->localPort, w);
        appendCString("\r\n\r\n", w);
        break;
    }
    case RtspPlay:
        appendCString("PLAY ", w);
        if (isAbsoluteUrl(&stream->sessionControl)) {
            appendFixedStringRef(&stream->sessionControl, w);
        } else {
            appendFixedStringRef(baseUrl(stream), w);
            appendFixedStringRef(&stream->sessionControl, w);
        }
        appendCseq(stream, w);
        appendCString("\r\nSession: ", w);
        appendFixedStringRef(&stream->session, w);
        appendCString("\r\nRange: npt=0.000-\r\n\r\n", w);
        break;
    default:  // teardown
        appendCString("TEARDOWN ", w);
        appendFixedStringRef(&stream->url, w);
        stream->teardownCseq = stream->cseq;
        appendCseq(stream, w);
        appendCString("\r\nSession: ", w);
        appendFixedStringRef(&stream->session, w);
        appendCString("\r\n\r\n", w);
        break;
    }
    stream->lastRequestTime = now;
    return true;
}

void closeStreamSockets(Socket* control, Socket* rtp, Socket* rtcp, const Preferences* preferences) {
    SocketResult ignored;
    updateSocket(&ignored, control, 0, SocketModeTcpClient, 0, &preferences->videoNetworkInterface, nullptr, 0);
    updateSocket(&ignored, rtp, 0, SocketModeUdp, 0, &preferences->videoNetworkInterface, nullptr, 0);
    updateSocket(&ignored, rtcp, 0, SocketModeUdp, 0, &preferences->videoNetworkInterface, nullptr, 0);
}

// A request time of 0 means none is out (the next goes at once), a reply time of 0 that none came.
FixedString replyStatus(const RtspVideoStream* stream, const Socket* control, const char* sending,
                        const char* received, const char* waiting, i64 sinceSend, i64 sinceReply) {
    if (control->state != SocketStateConnected) return control->status;
    if (stream->lastRequestTime && sinceSend < 1000000) return format(sending);
    if (stream->lastReplyTime && sinceReply < kRequestInterval) return formatStr(received, stream->reason);
    return format(waiting);
}

FixedString statusText(const RtspVideoStream* stream, const Socket* control, bool rtsp, i64 now) {
    i64 sinceSend = now - stream->lastRequestTime;
    i64 sinceReply = now - stream->lastReplyTime;
    const VideoStreamStats* stats = &stream->stats;
    switch (stream->state) {
    case RtspDescribe:
        // Without a numeric address no control socket opens: the URL itself is what is wrong.
        if (!stream->server.family) return format("The RTSP URL needs an IP address; host names are not looked up");
        return replyStatus(stream, control, "Sending RTSP DESCRIBE command", "Received RTSP DESCRIBE Response: @",
                           "Waiting for RTSP DESCRIBE acknowledgment", sinceSend, sinceReply);
    case RtspSetup:
        return replyStatus(stream, control, "Sending RTSP SETUP command", "Received RTSP SETUP Response: @",
                           "Waiting for RTSP SETUP acknowledgment", sinceSend, sinceReply);
    case RtspSetupDone:
    case RtspPlay:
        return format(sinceSend < 1000000 ? "Sending RTSP PLAY command" : "Waiting for RTSP PLAY acknowledgment");
    case RtspPlaying:
        if (stats->lastPacketTime && now - stats->lastPacketTime <= 1000000) {
            return formatIntInt("Receiving @% of RTP packets @ kB/s", stats->receivedPercent,
                                stats->bytesPerSecond / 1000);
        }
        if (stream->lastReplyTime && sinceReply < kRequestInterval) {
            return formatStr(stream->statusCode == 200 ? "Received RTSP PLAY Response: @, but not receiving RTP packets"
                                                       : "Received RTSP PLAY Response: @, and not receiving RTP packets",
                             stream->reason);
        }
        return format("Not receiving RTP nor RTSP packets");
    case RtspTeardownSent:
        return format(sinceSend < 1000000 ? "Sending RTSP TEARDOWN command" : "Waiting for RTSP TEARDOWN acknowledgment");
    case RtspTeardownDone:
        return format("TEARDOWN acknowledged, cleaning up sockets");
    case RtspTeardownWanted:
        // The TEARDOWN waits for the request interval: a new URL, a silent stream or the protocol
        // switched away ends the session.
        return format(rtsp ? "Restarting the RTSP stream: ending the current session"
                           : "Stopping the RTSP stream: ending the current session");
    default:
        return formatInt("Invalid state: @", stream->state);
    }
}

// The entry rule: true for the active path; false after the idle path (or clean-up) closed the
// stream sockets.
bool enterActivePath(RtspVideoStream* stream, const Preferences* preferences, i64 now) {
    bool rtsp = preferences->videoStreamProtocol == VideoStreamRtsp;
    bool cleanUp = false;
    if (stream->state == RtspTeardownDone) {
        cleanUp = true;
    } else if (stream->state == RtspTeardownSent && now - stream->lastRequestTime > kTeardownWait) {
        cleanUp = true;
    } else if (rtsp) {
        if (stream->state == RtspIdle) stream->state = RtspDescribe;
        return true;
    } else {
        switch (stream->state) {
        case RtspIdle:
            return false;
        case RtspDescribe:
            cleanUp = true;
            break;
        case RtspSetup:
            if (now - stream->lastReplyTime > kSetupReplyWait) cleanUp = true;
            break;
        case RtspSetupDone:
        case RtspPlay:
        case RtspPlaying:
            stream->state = RtspTeardownWanted;
            break;
        default:
            break;
        }
    }
    if (cleanUp) {
        stream->state = RtspIdle;
        stream->requestedUrl = FixedString{};  // the next session starts from the preference again
        return false;
    }
    return true;
}

}  // namespace

void controlRtspVideoStream(Socket* controlSocket, Socket* rtpSocket, Socket* rtcpSocket, Socket* videoRelaySocket,
                            SecureLinkHost* relayHost, RtspVideoStream* stream, H264StreamState* h264,
                            Preferences* preferences, ImageSlotTable* slots, FlightLogger* logger) {
    VideoStreamStats* stats = &stream->stats;
    i64 now = videoStreamNow(stats);
    // The video relay port's intake is the QV stream's, which runs right before in every frame: one
    // drain a frame keeps the port to one bound of reads and key exchanges.
    if (!enterActivePath(stream, preferences, now)) {
        closeStreamSockets(controlSocket, rtpSocket, rtcpSocket, preferences);
        return;
    }
    ProfilingScope scope("Control RTSP Video Stream");
    stats->status = FixedString{};

    if (!equals(preferences->rtspUrl, stream->requestedUrl)) {
        if (stream->state == RtspDescribe) {
            stream->requestedUrl = preferences->rtspUrl;
            stream->url = preferences->rtspUrl;
            stream->redirects = 0;
            stream->server = parseRtspServer(&stream->url, &stream->controlMode);
        } else if (stream->state != RtspTeardownSent) {
            stream->state = RtspTeardownWanted;
        }
    }
    const FixedString* interfaceName = &preferences->videoNetworkInterface;
    u8 family = stream->server.family;

    for (i32 i = 0; i < kControlReadsPerFrame; i++) {
        SocketResult chunk;
        updateSocket(&chunk, controlSocket, family, (SocketMode)stream->controlMode, 0, interfaceName,
                     stream->server.address, stream->server.port);
        if (chunk.reset) {
            // A new connection: nothing of an old reply follows.
            stream->replyLength = 0;
            stream->replySkip = 0;
        }
        if (!chunk.received) break;
        gatherRtspReplies(stream, chunk.data, chunk.length, now);
    }
    if (!rtpSocket->receiveBufferBytes) rtpSocket->receiveBufferBytes = kVideoReceiveBufferBytes;
    for (;;) {
        SocketResult datagram;
        updateSocket(&datagram, rtpSocket, family, SocketModeUdp, 0, interfaceName, nullptr, 0);
        if (!datagram.received) break;
        // Only the server sends this stream.
        if (!sameAddress(&datagram.source, &stream->server)) {
            stats->strangerDatagrams++;
            rtpSocket->unknownSenderDatagrams++;
        } else {
            handleRtpDatagram(stream, datagram.data, datagram.length, h264, relayHost, videoRelaySocket, preferences,
                              slots, now);
        }
        // What is left waits in the socket for the next frame.
        if (videoStreamNow(stats) - now > kVideoIntakeBudget) break;
    }
    expireRtpVideo(stream, h264, slots, now);
    updateVideoStreamStats(stats, preferences->videoStreamProtocol == VideoStreamRtsp ? logger : nullptr,
                           (i32)h264->width, (i32)h264->height);
    // The RTCP port follows the RTP port; until that is known the RTCP socket stays closed.
    u8 rtcpFamily = rtpSocket->localPort ? family : 0;
    for (i32 i = 0; i < kRtcpReadsPerFrame; i++) {
        SocketResult datagram;
        updateSocket(&datagram, rtcpSocket, rtcpFamily, SocketModeUdp, (u16)(rtpSocket->localPort + 1),
                     interfaceName, nullptr, 0);
        if (!datagram.received) break;
        if (!sameAddress(&datagram.source, &stream->server)) {
            stats->strangerDatagrams++;
            rtcpSocket->unknownSenderDatagrams++;
            continue;
        }
        handleRtcpDatagram(stream, datagram.data, datagram.length, now);
    }

    i32 state = stream->state;
    if ((state == RtspSetupDone || state == RtspPlay || state == RtspPlaying) &&
        now - stats->lastPacketTime > kSilenceLimit && now - stream->lastReplyTime > kSilenceLimit) {
        stream->state = RtspTeardownWanted;
    }
    bool due = stream->lastRequestTime == 0 || now - stream->lastRequestTime > kRequestInterval;
    switch (stream->state) {
    case RtspDescribe:
        if (due) queueRequest(stream, controlSocket, rtpSocket, rtcpSocket, RtspDescribe, now);
        break;
    case RtspSetup:
        // The SETUP names both local ports: wait until the RTCP socket has its own.
        if (due && rtcpSocket->localPort) queueRequest(stream, controlSocket, rtpSocket, rtcpSocket, RtspSetup, now);
        break;
    case RtspSetupDone:
        stream->state = RtspPlay;
        stream->lastRequestTime = 0;
        break;
    case RtspPlay:
        if (due) queueRequest(stream, controlSocket, rtpSocket, rtcpSocket, RtspPlay, now);
        break;
    case RtspPlaying:
        if (due && stream->serverRtcpPort) {
            AddressRecord destination = stream->server;
            destination.port = stream->serverRtcpPort;
            ByteWriter* w = queueSocketPacket(&destination, rtcpSocket);
            if (w) {
                writeReceiverReport(stream, w, now);
                stream->lastRequestTime = now;
            }
        }
        break;
    case RtspTeardownWanted:
        if (due && queueRequest(stream, controlSocket, rtpSocket, rtcpSocket, RtspTeardownSent, now)) {
            stream->state = RtspTeardownSent;
        }
        break;
    default:
        break;
    }
    // The session ended: what the decoder holds back for reordering is shown (RTP may come before
    // the answer to PLAY). A silent stream shows the picture it was sending.
    bool live = stream->state >= RtspSetupDone && stream->state <= RtspPlaying;
    if (stream->streaming && !live) {
        endRtpVideo(stream, h264, slots);
    } else if (stream->streaming && now - stats->lastPacketTime > kVideoPictureSilence) {
        endH264AccessUnit(slots);
    }
    stats->status = statusText(stream, controlSocket, preferences->videoStreamProtocol == VideoStreamRtsp, now);
    if (stream->repliesTooLarge) {
        stats->status = formatStrIntInt(stream->repliesTooLarge == 1 ? "@; @ RTSP message larger than @ bytes passed over"
                                                                     : "@; @ RTSP messages larger than @ bytes passed over",
                                        stats->status, stream->repliesTooLarge, kRtspReplyCapacity);
    }
    stats->status = videoStatusWithNotes(stats->status, stats, rtpSocket, h264);

    if (videoRelaySocket && relayHost) {
        sendSecureLinkPublicKey(relayHost, videoRelaySocket, RelayStreamVideo, preferences, (u64)now);
        if (now - stream->lastStatusRelayTime > 1000000) {
            stream->lastStatusRelayTime = now;
            u8 packet[300];
            ByteWriter writer = makeByteWriter(packet, sizeof(packet));
            appendU8(kQvText, &writer);
            appendBytes(stats->status.text, stats->status.length, &writer);
            relayPacketToPeers(relayHost, videoRelaySocket, RelayStreamVideo, preferences, &writer, (u64)now);
        }
    }
}
