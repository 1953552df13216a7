#include "Drone/TarnwickPayloads/PayloadFrame.h"

#include <cstring>

u16 payloadLinkChecksum(const u8* bytes, i64 from, i64 to) {
    u32 s1 = 0;
    u32 s2 = 0;
    for (i64 i = from; i < to; i++) {
        s1 = (s1 + (u32)(bytes[i] ^ kPayloadFrameStart)) % 255;
        s2 = (s2 + s1) % 255;
    }
    return (u16)(s2 * 256 + s1);
}

LengthFieldMark beginPayloadFrame(u8* sequence, u8 type, ByteWriter* writer) {
    appendU8(kPayloadFrameStart, writer);
    LengthFieldMark mark = reserveLengthField(writer, LengthFieldU8);
    appendU8(*sequence, writer);
    *sequence = (u8)(*sequence + 1);
    appendU8(1, writer);
    appendU8(type, writer);
    return mark;
}

void finishPayloadFrame(LengthFieldMark* mark, ByteWriter* writer) {
    i64 start = mark->position - 2;
    if (writer->overflow || writer->capacity - writer->length < 2) {
        writer->overflow = 1;
        return;
    }
    i64 length = writer->length - start + 2;
    patchLengthField(mark, (u64)(length > 255 ? 255 : length));
    if (length > kPayloadFrameMaxBytes) {
        writer->overflow = 1;  // a body above 248 bytes cannot be framed
        return;
    }
    u16 checksum = writer->data ? payloadLinkChecksum(writer->data, start, writer->length) : 0;
    appendU16Be(checksum, writer);
}

namespace {

void dropFront(PayloadFrameParser* parser, u32 count) {
    if (count >= parser->buffered) {
        parser->buffered = 0;
        return;
    }
    std::memmove(parser->buffer, parser->buffer + count, parser->buffered - count);
    parser->buffered = (u16)(parser->buffered - count);
}

}  // namespace

i64 nextPayloadFrame(PayloadFrameParser* parser, const u8* bytes, i64 position, i64 end) {
    parser->frameReady = 0;
    if (parser->buffered > kPayloadFrameMaxBytes) {
        parser->buffered = 0;  // a damaged record starts over
    }
    u32 skip = 0;
    for (;;) {
        while (position < end && parser->buffered < kPayloadFrameMaxBytes) {
            parser->buffer[parser->buffered++] = bytes[position++];
        }
        // Resynchronise on the next start byte at or after skip.
        while (skip < parser->buffered && parser->buffer[skip] != kPayloadFrameStart) {
            skip++;
        }
        if (skip > 0) {
            dropFront(parser, skip);
            skip = 0;
            continue;  // room may have opened for more input
        }
        bool moreInput = position < end;
        if (parser->buffered < 5) {
            if (moreInput) continue;
            return position;
        }
        u32 length = parser->buffer[1];
        if (length < (u32)kPayloadFrameOverhead) {
            skip = 1;  // cannot be a frame: header and checksum alone take 7 bytes
            continue;
        }
        if (parser->buffered < length) {
            if (moreInput) continue;
            return position;
        }
        u16 expected = (u16)(parser->buffer[length - 2] * 256 + parser->buffer[length - 1]);
        if (payloadLinkChecksum(parser->buffer, 0, length - 2) != expected) {
            skip = 1;
            continue;
        }
        parser->frameReady = 1;
        parser->type = parser->buffer[4];
        parser->sequence = parser->buffer[2];
        parser->payloadLength = (u8)(length - kPayloadFrameOverhead);
        std::memset(parser->payload, 0, sizeof(parser->payload));
        std::memcpy(parser->payload, parser->buffer + 5, parser->payloadLength);
        dropFront(parser, length);
        return position;
    }
}
