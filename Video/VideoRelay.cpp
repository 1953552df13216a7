#include "Video/VideoRelay.h"

#include <cstring>

#include "Core/FixedString.h"
#include "Network/SendQueue.h"
#include "Video/QvVideoStream.h"

namespace {

constexpr u32 kPassedSps = 1;
constexpr u32 kPassedPps = 2;

void keepSet(VideoRelay* relay, const u8* unit, i64 length) {
    // A unit larger than the whole room is not kept anyway.
    if (length <= 0 || length > kH264ParameterSetsCapacity - 4) return;
    u8 annexB[kH264ParameterSetsCapacity];
    annexB[0] = annexB[1] = annexB[2] = 0;
    annexB[3] = 1;
    std::memcpy(annexB + 4, unit, (size_t)length);
    keepH264ParameterSets(annexB, length + 4, &relay->sets, false);
}

// A unit that passes, by its type and the first byte after its NAL header (-1: none): true when it
// is the first slice of an IDR picture (first_mb_in_slice 0, coded as a single 1 bit) and no SPS and
// PPS passed since the last slice.
bool notePassingUnit(VideoRelay* relay, u32 type, i32 firstByte) {
    if (type == NalSps || type == NalPps) {
        relay->setsSinceSlice |= type == NalSps ? kPassedSps : kPassedPps;
        return false;
    }
    if (type < NalSlice || type > NalIdr) return false;
    bool bare = type == NalIdr && firstByte >= 0 && (firstByte & 0x80) &&
                (relay->setsSinceSlice & (kPassedSps | kPassedPps)) != (kPassedSps | kPassedPps);
    relay->setsSinceSlice = 0;
    return bare;
}

// Looks at the units of one payload (single unit, a fragment, or an aggregation packet): keeps their
// parameter sets and tells whether an IDR picture begins in it without them.
bool beginsBareIdr(VideoRelay* relay, const u8* payload, i64 length) {
    u32 type = payload[0] & 0x1F;
    if (type >= 1 && type <= 23) {
        if (type == NalSps || type == NalPps) keepSet(relay, payload, length);
        return notePassingUnit(relay, type, length > 1 ? payload[1] : -1);
    }
    if (type == NalFuA || type == NalFuB) {
        i64 header = type == NalFuA ? 2 : 4;  // FU-B also carries a decoding order number
        if (length < 2 || !(payload[1] & 0x80)) return false;  // only a start fragment begins a unit
        return notePassingUnit(relay, payload[1] & 0x1F, length > header ? payload[header] : -1);
    }
    if (type == NalStapA || type == NalStapB) {
        bool bare = false;
        for (i64 at = type == NalStapA ? 1 : 3; at + 2 <= length;) {
            i64 size = (i64)payload[at] << 8 | payload[at + 1];
            at += 2;
            if (size == 0 || size > length - at) break;  // a size past the payload ends the packet
            const u8* unit = payload + at;
            u32 unitType = unit[0] & 0x1F;
            if (unitType == NalSps || unitType == NalPps) keepSet(relay, unit, size);
            bare |= notePassingUnit(relay, unitType, size > 1 ? unit[1] : -1);
            at += size;
        }
        return bare;
    }
    return false;
}

void sendDatagram(VideoRelaySend send, void* context, u16 number, const u8* payload, i64 length) {
    u8 datagram[kPacketSlotBytes];
    ByteWriter writer = makeByteWriter(datagram, sizeof(datagram));
    appendU8(kQvVideo, &writer);
    appendU16Be(number, &writer);
    appendBytes(payload, length, &writer);
    if (!writer.overflow) send(context, &writer);
}

}  // namespace

void startVideoRelay(VideoRelay* relay, const u8* sets, i64 length) {
    *relay = VideoRelay{};
    if (sets && length > 0) keepH264ParameterSets(sets, length, &relay->sets, false);
}

void relayVideoPayload(VideoRelay* relay, u16 sequence, const u8* payload, i64 length, VideoRelaySend send,
                       void* context) {
    // A datagram at the last addition (a duplicate) or shortly before it (late) keeps the number it
    // had; the window closes once the stream has moved on past it.
    bool late = false;
    u16 offset = relay->added;
    if (relay->lateWindow) {
        u16 ahead = (u16)(sequence - relay->addedAt);
        late = ahead == 0 || ahead >= (u16)(0 - kVideoRelayLateWindow);
        if (ahead != 0 && late) offset = relay->addedBefore;
        if (!late && ahead > kVideoRelayLateWindow) relay->lateWindow = 0;
    }
    bool bare = length > 0 && beginsBareIdr(relay, payload, length);
    if (bare && !late && relay->sets.length > 0) {
        relay->addedBefore = relay->added;
        relay->addedAt = sequence;
        relay->lateWindow = 1;
        const u8* sets = relay->sets.bytes;
        i64 setsLength = relay->sets.length;
        for (i64 at = 0; at + 4 < setsLength;) {
            i64 end = h264UnitEnd(sets, setsLength, at + 4);
            if (send) sendDatagram(send, context, (u16)(sequence + relay->added), sets + at + 4, end - at - 4);
            relay->added++;
            at = end;
        }
        offset = relay->added;
    }
    if (send) sendDatagram(send, context, (u16)(sequence + offset), payload, length > 0 ? length : 0);
}
