// The RTSP client's message work: gathering replies, replies (status line, headers, SDP, redirects),
// RTP and RTCP datagrams, and receiver reports. Everything reads within the given length.
#include <string.h>

#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Network/Address.h"
#include "Network/SecureLink.h"
#include "Network/Socket.h"
#include "Video/RtspVideoStream.h"

namespace {

// Index of the first occurrence of text in data[from, end), or -1.
i64 findText(const u8* data, i64 from, i64 end, const char* text) {
    i64 n = (i64)strlen(text);
    for (i64 i = from < 0 ? 0 : from; i + n <= end; i++) {
        if (memcmp(data + i, text, (size_t)n) == 0) return i;
    }
    return -1;
}

u8 lowerAscii(u8 c) { return c >= 'A' && c <= 'Z' ? (u8)(c + 32) : c; }

// Like findText, but letters match in either case (header names).
i64 findTextAnyCase(const u8* data, i64 from, i64 end, const char* text) {
    i64 n = (i64)strlen(text);
    for (i64 i = from < 0 ? 0 : from; i + n <= end; i++) {
        i64 k = 0;
        while (k < n && lowerAscii(data[i + k]) == lowerAscii((u8)text[k])) k++;
        if (k == n) return i;
    }
    return -1;
}

// The text from position up to a carriage return, a line feed or the end.
FixedString readLineValue(const u8* data, i64 position, i64 end) {
    i64 stop = position;
    while (stop < end && data[stop] != '\r' && data[stop] != '\n') stop++;
    return stringFromBytes(data + position, stop - position);
}

FixedString controlValue(const u8* data, i64 at, i64 end) {
    FixedString value = readLineValue(data, at + 10, end);  // after "a=control:"
    if (equals(value, "*")) value = FixedString{};
    return value;
}

i32 base64Value(u8 c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || c == '-') return 62;
    if (c == '/' || c == '_') return 63;
    return -1;
}

// "sprop-parameter-sets=" of the media section: comma-separated base64 units, each stored with a
// start code in front. Units that do not fit are left out.
void readParameterSets(RtspVideoStream* stream, const u8* data, i64 from, i64 end) {
    stream->parameterSetLength = 0;
    stream->parameterSetsPending = 0;
    i64 at = findText(data, from, end, "sprop-parameter-sets=");
    if (at < 0) return;
    i64 p = at + 21;
    u8 unit[kRtspParameterSetBytes];
    while (p < end) {
        i64 length = 0;
        u32 bits = 0;
        i32 bitCount = 0;
        while (p < end && data[p] != ',' && data[p] != ';' && data[p] != '\r' && data[p] != '\n' && data[p] != ' ') {
            i32 v = base64Value(data[p++]);
            if (v < 0) continue;  // padding
            bits = (bits << 6) | (u32)v;
            bitCount += 6;
            if (bitCount >= 8) {
                bitCount -= 8;
                if (length < (i64)sizeof(unit)) unit[length++] = (u8)(bits >> bitCount);
            }
        }
        if (length > 0 && stream->parameterSetLength + 4 + length <= kRtspParameterSetBytes) {
            u8* out = stream->parameterSets + stream->parameterSetLength;
            out[0] = 0;
            out[1] = 0;
            out[2] = 0;
            out[3] = 1;
            memcpy(out + 4, unit, (size_t)length);
            stream->parameterSetLength += 4 + (i32)length;
        }
        if (p >= end || data[p] != ',') break;
        p++;
    }
}

RtpSourceStats* findSource(RtspVideoStream* stream, u32 ssrc) {
    for (i32 i = 0; i < stream->sourceCount; i++) {
        if (stream->sources[i].ssrc == ssrc) return &stream->sources[i];
    }
    if (stream->sourceCount >= kRtpSourceCapacity) return nullptr;
    RtpSourceStats* source = &stream->sources[stream->sourceCount++];
    *source = RtpSourceStats{};
    source->ssrc = ssrc;
    return source;
}

u32 readU32Be(const u8* p) { return ((u32)p[0] << 24) | ((u32)p[1] << 16) | ((u32)p[2] << 8) | p[3]; }

}  // namespace

AddressRecord parseRtspServer(const FixedString* url, u32* controlMode) {
    const u8* text = (const u8*)url->text;
    i64 length = url->length;
    u32 udp = length > 4 && text[4] == 'u';
    *controlMode = udp ? SocketModeUdp : SocketModeTcpClient;
    u64 position = udp ? 8 : 7;
    if ((i64)position >= length) return AddressRecord{};
    AddressRecord server = parseIpAddress(text, &position, length);
    if (server.family && server.port == 0) server.port = kRtspDefaultPort;
    return server;
}

namespace {

// The length of the message at the start of data once it is whole (headers, blank line and
// Content-Length bytes); 0 while more must come; -1 when the headers alone do not fit the capacity.
// *bodyMissing tells how much of the body is still to come.
i64 wholeMessageLength(const u8* data, i64 length, i64 capacity, i64* total) {
    i64 end = findText(data, 0, length, "\r\n\r\n");
    i64 headerEnd = end >= 0 ? end + 4 : -1;
    i64 bare = findText(data, 0, length, "\n\n");
    if (bare >= 0 && (headerEnd < 0 || bare + 2 < headerEnd)) headerEnd = bare + 2;
    if (headerEnd < 0) return length >= capacity ? -1 : 0;
    i64 body = 0;
    i64 at = findTextAnyCase(data, 0, headerEnd, "\nContent-Length:");
    if (at >= 0) {
        i64 q = at + 16;
        skipBlanks(data, &q, headerEnd);
        body = parseInteger(data, &q, headerEnd, 0);
        if (body < 0) body = 0;
        if (body > INT32_MAX) body = INT32_MAX;  // beyond any gathering; no sum overflows
    }
    *total = headerEnd + body;
    return *total <= length ? *total : 0;
}

// A 301, 302, 303 or 307 answer: the session starts again at the URL in its Location header, at
// most kRtspRedirectLimit times; after that, or without a usable Location, it counts as a failure.
void followRedirect(RtspVideoStream* stream, const u8* reply, i64 length) {
    stream->state = RtspDescribe;
    i64 at = findTextAnyCase(reply, 0, length, "\nLocation:");
    if (at < 0) return;
    i64 q = at + 10;
    skipBlanks(reply, &q, length);
    FixedString location = readLineValue(reply, q, length);
    u32 mode = 0;
    AddressRecord server = parseRtspServer(&location, &mode);
    bool absolute = location.length > 7 && (memcmp(location.text, "rtsp://", 7) == 0 || memcmp(location.text, "rtspu://", 8) == 0);
    if (stream->redirects >= kRtspRedirectLimit) {
        stream->reason = formatStrInt("@ (more than @ redirects)", stream->reason, kRtspRedirectLimit);
        return;
    }
    if (!absolute || !server.family) return;
    stream->redirects++;
    stream->url = location;
    stream->server = server;
    stream->controlMode = mode;
    stream->contentBase = FixedString{};
    stream->lastRequestTime = 0;  // DESCRIBE the new URL at once
}

}  // namespace

void gatherRtspReplies(RtspVideoStream* stream, const u8* chunk, i64 length, i64 now) {
    while (length > 0) {
        if (stream->replySkip > 0) {
            i64 skip = stream->replySkip < length ? stream->replySkip : length;
            stream->replySkip -= skip;
            chunk += skip;
            length -= skip;
            continue;
        }
        i64 room = kRtspReplyCapacity - stream->replyLength;
        i64 take = length < room ? length : room;
        memcpy(stream->reply + stream->replyLength, chunk, (size_t)take);
        stream->replyLength += (i32)take;
        chunk += take;
        length -= take;
        for (;;) {
            u8* data = stream->reply;
            i64 have = stream->replyLength;
            i64 used = 0;
            if (have > 0 && (data[0] == '\r' || data[0] == '\n')) {
                used = 1;  // blank lines between messages
            } else if (have >= 4 && data[0] == '$') {
                // Interleaved binary data: a channel byte and a 16-bit length.
                used = 4 + ((i64)data[2] << 8 | data[3]);
            } else if (have > 0 && data[0] != '$') {
                i64 total = 0;
                i64 whole = wholeMessageLength(data, have, kRtspReplyCapacity, &total);
                if (whole < 0 || (whole == 0 && total > kRtspReplyCapacity)) {
                    // Too large to gather: the rest of it is passed over as it comes.
                    stream->repliesTooLarge++;
                    stream->replySkip = total > have ? total - have : 0;
                    used = have;
                } else if (whole > 0) {
                    handleRtspReply(stream, data, whole, now);
                    used = whole;
                }
            }
            if (used == 0) break;
            if (used > have) {
                stream->replySkip = used - have;
                used = have;
            }
            memmove(data, data + used, (size_t)(have - used));
            stream->replyLength -= (i32)used;
        }
    }
}

void handleRtspReply(RtspVideoStream* stream, const u8* chunk, i64 length, i64 now) {
    if (length < 9 || memcmp(chunk, "RTSP/1.0 ", 9) != 0) return;
    stream->lastReplyTime = now;
    i64 p = 9;
    stream->statusCode = parseInteger(chunk, &p, length, 0);
    skipBlanks(chunk, &p, length);
    stream->reason = readLineValue(chunk, p, length);
    i64 code = stream->statusCode;
    if (code == 301 || code == 302 || code == 303 || code == 307) {
        followRedirect(stream, chunk, length);
        return;
    }

    i64 cseqAt = findText(chunk, 0, length, "CSeq: ");
    i64 cseq = 0;
    if (cseqAt >= 0) {
        i64 q = cseqAt + 6;
        cseq = parseInteger(chunk, &q, length, 0);
    }
    u32 hasTransport = findText(chunk, 0, length, "\rTransport: ") >= 0 || findText(chunk, 0, length, "\nTransport: ") >= 0;
    if (stream->statusCode != 200) {
        stream->state = RtspDescribe;
        return;
    }
    switch (stream->state) {
    case RtspTeardownSent:
        if (cseq == stream->teardownCseq) stream->state = RtspTeardownDone;
        break;
    case RtspDescribe: {
        i64 base = findText(chunk, 0, length, "Content-Base:");
        if (base >= 0) {
            i64 q = base + 13;
            skipBlanks(chunk, &q, length);
            stream->contentBase = readLineValue(chunk, q, length);
        }
        i64 video = findText(chunk, 0, length, "m=video ");
        if (video < 0) break;
        i64 sessionAt = findText(chunk, 0, video, "a=control:");
        if (sessionAt >= 0) stream->sessionControl = controlValue(chunk, sessionAt, video);
        i64 mediaAt = findText(chunk, video, length, "a=control:");
        if (mediaAt < 0) break;
        stream->mediaControl = controlValue(chunk, mediaAt, length);
        readParameterSets(stream, chunk, video, length);
        startVideoRelay(&stream->relay, stream->parameterSets, stream->parameterSetLength);
        stream->state = RtspSetup;
        stream->lastRequestTime = 0;
        break;
    }
    case RtspSetup: {
        if (!hasTransport) break;
        i64 sessionAt = findText(chunk, 0, length, "\rSession: ");
        if (sessionAt < 0) sessionAt = findText(chunk, 0, length, "\nSession: ");
        if (sessionAt >= 0) {
            i64 q = sessionAt + 10;
            skipBlanks(chunk, &q, length);
            i64 stop = q;
            while (stop < length && chunk[stop] != '\r' && chunk[stop] != '\n' && chunk[stop] != ';') stop++;
            stream->session = stringFromBytes(chunk + q, stop - q);
        }
        i64 portsAt = findText(chunk, 0, length, "server_port=");
        if (portsAt >= 0) {
            i64 q = portsAt + 12;
            i64 rtp = parseInteger(chunk, &q, length, 0);
            q++;
            i64 rtcp = parseInteger(chunk, &q, length, 0);
            stream->serverRtpPort = (u16)rtp;
            stream->serverRtcpPort = (u16)rtcp;
        }
        stream->ownSsrc = (stream->ownSsrc + 1) | 0x80000000u;
        stream->state = RtspSetupDone;
        break;
    }
    case RtspPlay:
        if (!hasTransport) {
            stream->state = RtspPlaying;
            stream->parameterSetsPending = stream->parameterSetLength > 0;
        }
        break;
    default:
        break;
    }
}

namespace {

// Where the payload of an RTP packet lies (after CSRCs, extension and before padding); false when
// there is none.
bool rtpPayload(const u8* data, i64 length, i64* payloadStart, i64* payloadEnd) {
    u8 b0 = data[0];
    i64 end = length;
    i64 header = 12 + 4 * (b0 & 0x0F);
    if (end < header) {
        header = 12;
    } else if ((b0 & 0x10) && end - header >= 4) {
        header += 4 + 4 * (i64)((data[header + 2] << 8) | data[header + 3]);
    }
    if (b0 & 0x20) {
        i64 padding = data[length - 1];
        // A padding count that reaches into the header leaves no payload.
        if (padding > end - header) return false;
        end -= padding;
    }
    *payloadStart = header;
    *payloadEnd = end;
    return end > header;
}

// The reception counts of one source as receiver reports give them: a step back is a packet out of
// order (one counted lost has come after all), never a wrap around the sequence numbers.
void countSourcePacket(RtpSourceStats* source, u16 sequence) {
    if (source->packetsReceived) {
        u16 ahead = (u16)(sequence - source->highestSequence);
        if (ahead != 0 && ahead < kReorderRestartJump) {
            if (sequence < source->highestSequence) source->sequenceCycles++;
            source->packetsLost += ahead - 1u;
            source->highestSequence = sequence;
        } else if (ahead != 0 && (u16)(source->highestSequence - sequence) <= kReorderRestartJump) {
            if (source->packetsLost) source->packetsLost--;
        } else if (ahead != 0) {
            source->highestSequence = sequence;  // the source numbers afresh
        }
    } else {
        source->highestSequence = sequence;
    }
    source->packetsReceived++;
}

struct RtpDelivery {
    RtspVideoStream* stream;
    H264StreamState* h264;
    ImageSlotTable* slots;
};

// An RTP packet in its turn after the reorder window.
void deliverRtpVideo(void* context, u8* data, i64 length, u16 sequence, u32 skipped) {
    RtpDelivery* d = (RtpDelivery*)context;
    RtspVideoStream* stream = d->stream;
    if (skipped) {
        stream->stats.packetsLost += skipped;
        noteH264DataLost();
    }
    stream->streaming = 1;
    // A new timestamp is a new picture, also when the last packet of the one before was lost.
    u32 timestamp = readU32Be(data + 4);
    if (stream->timestampKnown && timestamp != stream->lastTimestamp) endH264AccessUnit(d->slots);
    stream->timestampKnown = 1;
    stream->lastTimestamp = timestamp;
    i64 header = 0, end = 0;
    if (rtpPayload(data, length, &header, &end)) {
        if (stream->parameterSetsPending) {
            stream->parameterSetsPending = 0;
            H264NalUnit sets = {stream->parameterSets, stream->parameterSetLength};
            feedVideoUnit(sets, d->h264, d->slots);
        }
        H264NalUnit unit = convertPacketTransportNalUnit(data, header, end, d->h264, sequence);
        feedVideoUnit(unit, d->h264, d->slots);
    }
    if (data[1] & 0x80) endH264AccessUnit(d->slots);  // the marker: the picture is complete
}

}  // namespace

void handleRtpDatagram(RtspVideoStream* stream, u8* data, i64 length, H264StreamState* h264,
                       SecureLinkHost* relayHost, Socket* videoRelaySocket, const Preferences* preferences,
                       ImageSlotTable* slots, i64 now) {
    // A whole RTP header is enough to count: a 2-byte unit (an access unit delimiter) makes a 14-byte
    // packet, which would otherwise count as lost.
    if (length < kRtpHeaderBytes) return;
    VideoStreamStats* stats = &stream->stats;
    u16 sequence = (u16)((data[2] << 8) | data[3]);
    if (RtpSourceStats* source = findSource(stream, readU32Be(data + 8))) countSourcePacket(source, sequence);
    stats->lastPacketTime = now;

    i64 header = 0, end = 0;
    if (rtpPayload(data, length, &header, &end)) {
        relayVideoToPeers(&stream->relay, sequence, data + header, end - header, relayHost, videoRelaySocket,
                          preferences, now);
    }
    RtpDelivery delivery{stream, h264, slots};
    if (admitReorderPacket(&stream->reorder, data, length, sequence, now, deliverRtpVideo, &delivery) == ReorderLate) {
        stats->packetsLate++;
        return;
    }
    stats->bytesReceived += length;
    stats->packetsReceived++;
}

void expireRtpVideo(RtspVideoStream* stream, H264StreamState* h264, ImageSlotTable* slots, i64 now) {
    RtpDelivery delivery{stream, h264, slots};
    expireReorderWindow(&stream->reorder, now, deliverRtpVideo, &delivery);
}

void endRtpVideo(RtspVideoStream* stream, H264StreamState* h264, ImageSlotTable* slots) {
    RtpDelivery delivery{stream, h264, slots};
    flushReorderWindow(&stream->reorder, deliverRtpVideo, &delivery);
    endVideoStream(h264, slots);
    stream->streaming = 0;
    stream->timestampKnown = 0;
}

void handleRtcpDatagram(RtspVideoStream* stream, const u8* data, i64 length, i64 now) {
    if (length < 2 || data[1] != 200) return;
    if (length < 16) return;  // a sender report too short for its NTP time
    RtpSourceStats* source = findSource(stream, readU32Be(data + 4));
    if (!source) return;
    source->lastSenderReportNtp = ((u64)readU32Be(data + 8) << 32) | readU32Be(data + 12);
    source->lastSenderReportTime = now;
}

i64 writeReceiverReport(RtspVideoStream* stream, ByteWriter* writer, i64 now) {
    i32 count = 0;
    for (i32 i = 0; i < stream->sourceCount && count < kRtcpReportBlocksMax; i++) {
        if (stream->sources[i].packetsReceived != stream->sources[i].receivedAtLastReport) count++;
    }
    i64 start = writer->length;
    appendU8((u8)(0x80 | count), writer);
    appendU8(201, writer);
    appendU16Be((u16)(1 + 6 * count), writer);
    appendU32Be(stream->ownSsrc, writer);
    i32 written = 0;
    for (i32 i = 0; i < stream->sourceCount && written < count; i++) {
        RtpSourceStats* s = &stream->sources[i];
        if (s->packetsReceived == s->receivedAtLastReport) continue;
        // Packets counted lost that came late after all can make the difference negative: 0 then.
        i64 lost = (i64)s->packetsLost - (i64)s->lostAtLastReport;
        i64 received = (i64)s->packetsReceived - (i64)s->receivedAtLastReport;
        u32 fraction = lost > 0 ? (u32)(lost * 256 / (lost + received)) : 0;
        appendU32Be(s->ssrc, writer);
        appendU32Be((fraction << 24) | (s->packetsLost & 0xFFFFFF), writer);
        appendU32Be((u32)s->sequenceCycles * 65536u + s->highestSequence, writer);
        appendU32Be(0, writer);
        u32 lastSr = 0;
        u32 delay = 0;
        if (s->lastSenderReportNtp) {
            lastSr = (u32)(s->lastSenderReportNtp >> 16);
            if (now > s->lastSenderReportTime) delay = (u32)((u64)(now - s->lastSenderReportTime) * 65536 / 1000000);
        }
        appendU32Be(lastSr, writer);
        appendU32Be(delay, writer);
        s->receivedAtLastReport = s->packetsReceived;
        s->lostAtLastReport = s->packetsLost;
        written++;
    }
    return writer->length - start;
}
