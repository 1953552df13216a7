// Payload frames as they arrive inside MAVLink: the input is a run of ENCAPSULATED_DATA messages
// (MAVLink 1 or 2, any source, any payload length) that are framed, read back with the MAVLink
// reader and handed to handleEncapsulatedData, so frames split across messages, noise and truncated
// MAVLink 2 payloads all reach the payload link. A second reader over the same bytes finds the
// frames again; every counters report (type 4) must leave the values its body holds, read here on
// their own, and the mapping kit's photo total must rise by exactly the rises of value 5.
#include "Core/Sound.h"
#include "Drone/TarnwickPayloads/PayloadLink.h"

#include <cstdio>
#include <cstring>
#include <memory>

static void fail(int line) {
    fprintf(stderr, "PayloadMessageFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

namespace {

i32 bigEndian32(const u8* p) { return (i32)((u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]); }

// What the counters reports seen so far must have left.
struct CountersModel {
    bool seen;
    i32 value1, value2, value3;
    u8 value4;
    bool value5Known;
    i32 value5;
    u32 photos;
};

void modelCounters(CountersModel* model, const u8* body, i32 length) {
    if (length < 8) return;
    model->seen = true;
    model->value1 = bigEndian32(body);
    model->value2 = bigEndian32(body + 4);
    model->value3 = length >= 12 ? bigEndian32(body + 8) : -3;
    model->value4 = length >= 13 ? body[12] : 0;
    if (length >= 35) {
        i32 value5 = bigEndian32(body + 31);
        if (model->value5Known && value5 > model->value5) model->photos += (u32)((i64)value5 - model->value5);
        model->value5Known = true;
        model->value5 = value5;
    }
}

struct World {
    PayloadLink link;
    VehicleState vehicle;
    OrvikDropLocations orvikDrops;
    DodireruDropLocations voskDrops;
    SoundQueue sounds;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 1 << 15) return 0;
    std::unique_ptr<World> world = std::make_unique<World>();
    PayloadLink* link = &world->link;
    VehicleState* vehicle = &world->vehicle;
    // The first byte sets the flight phase and whether the vehicle has a position, so drops are
    // recorded on some runs.
    vehicle->flightPhase = data[0] % 6;
    vehicle->globalPosition.time = data[0] & 8 ? 1 : 0;
    vehicle->globalPosition.latitude = 47.4;
    vehicle->globalPosition.longitude = 8.5;
    u32 kindWord = 0;
    u32 photoTotal = 0;
    AddressRecord source{14555, 4, 0, {127, 0, 0, 1}};
    PayloadFrameParser shadow{};
    CountersModel model{};
    u8 mavlinkSequence = 0;
    u64 now = 6000000;
    size_t at = 1;
    while (at + 1 < size) {
        // A message: control byte (bit 0 MAVLink 2, bits 1-7 the source system), payload length,
        // then the payload bytes.
        u8 control = data[at];
        size_t length = data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        ByteWriter payload = makeByteWriter((void*)(data + at), (i64)length);
        payload.length = (i64)length;
        at += length;
        u8 frameBytes[kMavlinkMaxFrameBytes];
        ByteWriter frame = makeByteWriter(frameBytes, sizeof(frameBytes));
        u16 sender = (u16)((control >> 1) << 8 | 25);
        sendMavlinkMessage(control & 1, MavlinkEncapsulatedData, &payload, &frame, &mavlinkSequence, sender, nullptr,
                           now);
        check(!frame.overflow);
        MavlinkMessage message{};
        parseMavlinkBytes(&message, frameBytes, 0, (i32)frame.length);
        check(message.haveMessage && message.messageId == MavlinkEncapsulatedData && message.source == sender);
        check(message.payloadLength <= length);

        PayloadReceive receive{&source, vehicle, &world->orvikDrops, &world->voskDrops, &world->sounds,
                               &kindWord, &photoTotal, now, 13400000000000};
        check(handleEncapsulatedData(&message, link, &receive) == 1);
        // The same bytes through a reader of the test's own.
        i64 position = 0;
        for (;;) {
            position = nextPayloadFrame(&shadow, message.payload, position, message.payloadLength);
            if (!shadow.frameReady) break;
            if (shadow.type == PayloadFrameCounters) modelCounters(&model, shadow.payload, shadow.payloadLength);
        }
        check(std::memcmp(&shadow.buffer, &link->parser.buffer, shadow.buffered) == 0);
        check(shadow.buffered == link->parser.buffered);

        if (model.seen) {
            check(link->value1 == model.value1 && link->value2 == model.value2);
            check(link->value3 == model.value3 && link->value4 == model.value4);
            check(link->countersTime != 0);
        }
        check(photoTotal == model.photos);
        check(link->kind <= PayloadKindVosk && kindWord <= PayloadKindVosk);
        check(world->orvikDrops.count <= kMaxOrvikDropLocations);
        check(world->voskDrops.count <= kMaxVoskDropLocations);
        for (i32 slot = 0; slot < kPayloadLogSlots; slot++) {
            if (!link->logRecordHasData[slot]) continue;
            const FlightLogEntryRecord* record = &link->logRecords[slot];
            check(record->payload.length > 0 && record->payload.length <= kPayloadMessageCopyBytes);
            check(record->payload.data == link->lastMessages[slot]);
        }
        now += 20000;
    }
    return 0;
}
