#include "FlightLogs/FlightLogProducers.h"

#include <cstring>

#include "Core/PreferenceFields.h"

namespace {

constexpr i64 kControllerAxesBytes = 34;
constexpr i64 kPreferencePayloadBytes = 300;

void axesOf(const GamepadState* gamepad, f32 axes[8]) {
    axes[0] = gamepad->leftStickX;
    axes[1] = gamepad->leftStickY;
    axes[2] = gamepad->rightStickX;
    axes[3] = gamepad->rightStickY;
    axes[4] = gamepad->leftTrigger;
    axes[5] = gamepad->rightTrigger;
    axes[6] = gamepad->leftRocker;
    axes[7] = gamepad->rightRocker;
}

void logGamepad(FlightLogger* logger, const GamepadState* gamepad) {
    GamepadState* last = &logger->lastControllerState.gamepad;
    f32 now[8], before[8];
    axesOf(gamepad, now);
    axesOf(last, before);
    bool axesChanged = gamepad->controllerKind != last->controllerKind;
    for (i32 i = 0; i < 8; i++) {
        if (!(now[i] == before[i])) axesChanged = true;  // NaN always counts as a change
    }
    if (axesChanged) {
        u8 bytes[kControllerAxesBytes];
        ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
        appendU8(static_cast<u8>(gamepad->controllerKind & 0xFF), &writer);
        appendU8(gamepad->remote ? 1 : 0, &writer);
        for (f32 axis : now) appendF32Le(axis, &writer);
        addFlightLogEntry(logger, static_cast<i64>(flightLogMicroseconds(logger)), FlightLogControllerAxes, bytes,
                          writer.length);
    }
    u8 nameLength = gamepad->name.length > kFixedStringCapacity ? (u8)kFixedStringCapacity : gamepad->name.length;
    if (nameLength != last->name.length || std::memcmp(gamepad->name.text, last->name.text, nameLength) != 0) {
        addFlightLogEntry(logger, static_cast<i64>(flightLogMicroseconds(logger)), FlightLogControllerName,
                          gamepad->name.text, nameLength);
    }
    *last = *gamepad;
}

void logKeys(FlightLogger* logger, const InputState* input) {
    for (u32 word = 0; word < kKeyMapWords; word++) {
        u64 now = input->keys[word];
        u64 before = logger->lastControllerState.keys[word];
        if (now == before) continue;
        for (u32 bit = 0; bit < 64; bit++) {
            u64 mask = 1ull << bit;
            if ((now & mask) == (before & mask)) continue;
            u8 bytes[2];
            ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
            appendU16Le(static_cast<u16>(64 * word + bit), &writer);
            u8 type = (now & mask) ? FlightLogButtonPressed : FlightLogButtonReleased;
            addFlightLogEntry(logger, static_cast<i64>(flightLogMicroseconds(logger)), type, bytes, writer.length);
        }
        logger->lastControllerState.keys[word] = now;
    }
}

// Appends the length byte and then the bytes, cut to what a length byte can count.
void appendShortText(const void* text, i64 length, ByteWriter* writer) {
    if (length > 255) length = 255;
    appendU8(static_cast<u8>(length), writer);
    appendBytes(text, length, writer);
}

}  // namespace

void logControllerState(FlightLogger* logger, const GamepadState* gamepad, const InputState* input) {
    if (!logger) return;
    if (gamepad) logGamepad(logger, gamepad);
    if (input) logKeys(logger, input);
}

void logPreference(FlightLogger* logger, const Preferences* preferences, i64 time, u32 row) {
    if (!logger || !preferences || row >= kPreferenceFieldCount) return;
    const PreferenceField* field = &preferenceFields[row];
    const u8* value = reinterpret_cast<const u8*>(preferences) + field->offset;

    u8 bytes[kPreferencePayloadBytes];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    LengthFieldMark kind = reserveLengthField(&writer, LengthFieldU8);
    appendShortText(field->key, static_cast<i64>(std::strlen(field->key)), &writer);
    LengthFieldMark valueLength = reserveLengthField(&writer, LengthFieldU8);
    i64 valueStart = writer.length;
    u64 kindValue = 0;
    switch (field->size) {
    case PreferenceEnum: {
        u32 index;
        std::memcpy(&index, value, 4);
        if (index < field->enumCount && field->enumNames) {
            appendCString(field->enumNames[index], &writer);
        } else {
            appendInt64(index, &writer);  // no name to give: the number as text
        }
        kindValue = 0;
        break;
    }
    case PreferenceU8:
        appendU64Le(value[0], &writer);
        kindValue = 2;
        break;
    case PreferenceU16: {
        u16 number;
        std::memcpy(&number, value, 2);
        appendU64Le(number, &writer);
        kindValue = 2;
        break;
    }
    case PreferenceNumber:
        appendBytes(value, 8, &writer);
        kindValue = 3;
        break;
    case PreferenceText: {
        FixedString text;
        std::memcpy(&text, value, sizeof(text));
        i64 length = text.length > kFixedStringCapacity ? kFixedStringCapacity : text.length;
        // A long text under a long key is cut to the payload's room, so the lengths stay true.
        if (length > writer.capacity - writer.length) length = writer.capacity - writer.length;
        appendBytes(text.text, length, &writer);
        kindValue = 1;
        break;
    }
    case PreferenceEndpoint: {
        AddressRecord address;
        std::memcpy(&address, value, sizeof(address));
        appendU16Le(address.port, &writer);
        appendU8(address.family, &writer);
        appendBytes(address.address, address.family == 6 ? 16 : 4, &writer);
        kindValue = 4;
        break;
    }
    default:
        break;
    }
    patchLengthField(&kind, kindValue);
    patchLengthField(&valueLength, static_cast<u64>(writer.length - valueStart));
    addFlightLogEntry(logger, time, FlightLogPreferenceValue, bytes, writer.length);
    std::memcpy(reinterpret_cast<u8*>(&logger->lastLoggedPreferences) + field->offset, value, field->size);
}

void logPreferences(FlightLogger* logger, const Preferences* preferences, i64 time, u32 all) {
    for (u32 row = 0; row < kPreferenceFieldCount; row++) {
        const PreferenceField* field = &preferenceFields[row];
        if (field->notLogged) continue;
        const u8* now = reinterpret_cast<const u8*>(preferences) + field->offset;
        const u8* logged = reinterpret_cast<const u8*>(&logger->lastLoggedPreferences) + field->offset;
        if (all || std::memcmp(now, logged, field->size) != 0) logPreference(logger, preferences, time, row);
    }
}

void logVideoStreamStatus(FlightLogger* logger, i64 time, const VideoStreamStatistics* statistics,
                          FlightLogEntryRecord* kept, u8* keptPayload) {
    if (!statistics) return;
    u8 local[kVideoStreamStatusBytes];
    u8* bytes = kept && keptPayload ? keptPayload : local;
    ByteWriter writer = makeByteWriter(bytes, kVideoStreamStatusBytes);
    appendU64Le(statistics->intervalMicros, &writer);
    appendU64Le(statistics->bytesReceived, &writer);
    appendU32Le(statistics->packetsReceived, &writer);
    appendU32Le(statistics->packetsDropped, &writer);
    appendU32Le(static_cast<u32>(statistics->frameWidth), &writer);
    appendU32Le(static_cast<u32>(statistics->frameHeight), &writer);
    if (kept && keptPayload) {
        kept->time = time;
        kept->payload = writer;
        kept->type = FlightLogVideoStreamStatus;
    }
    addFlightLogEntry(logger, time, FlightLogVideoStreamStatus, bytes, writer.length);
}
