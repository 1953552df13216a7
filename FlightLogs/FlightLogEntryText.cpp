#include "FlightLogs/FlightLogEntryText.h"

#include <cstring>

#include "Core/AddressRecord.h"
#include "Core/Format.h"
#include "FlightLogs/FlightLogger.h"
#include "Network/Address.h"

namespace {

constexpr i32 kDegreeSign = 0xB0;

// A little-endian reader over one payload: a field is read only when it lies wholly inside.
struct FieldReader {
    const u8* bytes;
    i64 length;
    i64 at;
};

bool holds(const FieldReader* r, i64 count) { return r->at <= r->length - count; }

u64 takeLe(FieldReader* r, i64 count) {
    u64 value = 0;
    for (i64 i = 0; i < count; i++) value |= (u64)r->bytes[r->at + i] << (8 * i);
    r->at += count;
    return value;
}

f32 f32At(const u8* bytes, i64 offset) {
    f32 value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
}

f64 f64At(const u8* bytes, i64 offset) {
    f64 value;
    std::memcpy(&value, bytes + offset, 8);
    return value;
}

u32 u32At(const u8* bytes, i64 offset) {
    return (u32)bytes[offset] | (u32)bytes[offset + 1] << 8 | (u32)bytes[offset + 2] << 16 | (u32)bytes[offset + 3] << 24;
}

u64 u64At(const u8* bytes, i64 offset) {
    u64 value = 0;
    for (i64 i = 0; i < 8; i++) value |= (u64)bytes[offset + i] << (8 * i);
    return value;
}

// An unsigned 64-bit count in decimal (appendInt64 takes signed values).
void appendU64(u64 value, ByteWriter* out) {
    char digits[20];
    i32 count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    while (count) appendBytes(&digits[--count], 1, out);
}

void line(const char* label, const FixedString& value, ByteWriter* out) {
    appendCString(label, out);
    appendFixedStringRef(&value, out);
    appendCString("\n", out);
}

// A text of the log header: u8 length and that many bytes, cut at the payload's end and at what a
// FixedString holds. Returns false when not even the length byte is there.
bool takeText(FieldReader* r, FixedString* text) {
    if (!holds(r, 1)) return false;
    i64 length = (i64)takeLe(r, 1);
    i64 available = r->length - r->at;
    if (length > available) length = available;
    *text = stringFromBytes(r->bytes + r->at, length < kFixedStringCapacity ? length : kFixedStringCapacity);
    r->at += length;
    return true;
}

void appendLogHeader(const u8* payload, u16 length, ByteWriter* out) {
    FieldReader r{payload, length, 0};
    if (!holds(&r, 2)) return;
    line("local time shift: ", formatInt("@ min", (i16)takeLe(&r, 2)), out);
    if (!holds(&r, 2)) return;
    line("log version: ", stringFromInt((i64)takeLe(&r, 2)), out);
    FixedString text;
    if (!takeText(&r, &text)) return;
    line("app version: ", text, out);
    if (!takeText(&r, &text)) return;
    line("app name: ", text, out);
    if (!holds(&r, 1)) return;
    u8 system = (u8)takeLe(&r, 1);
    if (system > 1) return;
    appendCString(system == 1 ? "operating system: Android\n" : "operating system: Windows\n", out);
    static const char* const kLabels[4] = {"release: ", "incremental: ", "manufacturer: ", "device: "};
    for (const char* label : kLabels) {
        if (!takeText(&r, &text)) return;
        line(label, text, out);
    }
    if (system == 1) {
        if (!holds(&r, 4)) return;
        line("sdkVersion: ", stringFromInt((i32)(u32)takeLe(&r, 4)), out);
    }
    if (!holds(&r, 8)) return;
    line("installation id: ", formatHexBytes("@", payload + r.at, 8), out);
}

FixedString degrees(f64 value) { return formatStrCp("@@", stringFromDoubleTrimmed(value, 6), kDegreeSign); }

void appendAugmentedPosition(const u8* payload, u16 length, const Preferences* units, ByteWriter* out) {
    if (length >= 8) line("lat: ", degrees(f64At(payload, 0)), out);
    if (length >= 16) line("lng: ", degrees(f64At(payload, 8)), out);
    static const char* const kAltitudes[5] = {
        "altitude above takeoff: ",          "ground elevation: ", "altitude agl: ", "altitude msl from elevation map: ",
        "altitude msl from inputted takeoff elevation: ",
    };
    for (i64 i = 0; i < 5; i++) {
        i64 offset = 16 + 4 * i;
        if (offset + 4 > length) return;
        line(kAltitudes[i], formatLengthToTenth(f32At(payload, offset), units), out);
    }
}

void appendVideoStatus(const u8* payload, u16 length, ByteWriter* out) {
    if (length >= 8) {
        u64 interval = u64At(payload, 0);
        appendCString("measuring interval: ", out);
        appendU64(interval / 1000000, out);
        appendCString(".", out);
        FixedString micros = formatInt("@", (i64)(interval % 1000000 + 1000000));
        appendBytes(micros.text + 1, 6, out);
        appendCString(" s\n", out);
    }
    if (length >= 16) {
        appendCString("bytes received: ", out);
        appendU64(u64At(payload, 8), out);
        appendCString(" bytes\n", out);
    }
    if (length >= 20) line("packets received: ", stringFromInt(u32At(payload, 16)), out);
    if (length >= 24) line("packets dropped: ", stringFromInt(u32At(payload, 20)), out);
    if (length >= 28) line("width: ", stringFromInt((i32)u32At(payload, 24)), out);
    if (length >= 32) line("height: ", stringFromInt((i32)u32At(payload, 28)), out);
}

void appendControllerAxes(const u8* payload, u16 length, ByteWriter* out) {
    if (length >= 1) line("type: ", stringFromInt(payload[0]), out);
    if (length >= 2) line("isEmulated: ", stringFromInt(payload[1]), out);
    static const char* const kAxes[8] = {"leftStickX: ",  "leftStickY: ",   "rightStickX: ", "rightStickY: ",
                                         "leftTrigger: ", "rightTrigger: ", "leftRocker: ",  "rightRocker: "};
    for (i64 i = 0; i < 8; i++) {
        i64 offset = 2 + 4 * i;
        if (offset + 4 > length) return;
        appendCString(kAxes[i], out);
        appendDouble(f32At(payload, offset), 3, out);
        appendCString("\n", out);
    }
}

// A preference entry: u8 kind, u8 name length and the name, u8 value length and the value; a name
// or value that runs past the payload is cut at its end.
struct PreferenceEntry {
    u8 kind;
    u32 hasKind;
    u32 hasName;
    u32 hasValue;
    u32 valueCut;  // the value runs past the payload
    const u8* name;
    i64 nameLength;
    const u8* value;
    i64 valueLength;
};

PreferenceEntry readPreference(const u8* payload, u16 length) {
    PreferenceEntry entry{};
    FieldReader r{payload, length, 0};
    if (!holds(&r, 1)) return entry;
    entry.kind = (u8)takeLe(&r, 1);
    entry.hasKind = 1;
    if (!holds(&r, 1)) return entry;
    i64 nameLength = (i64)takeLe(&r, 1);
    entry.hasName = 1;
    entry.name = payload + r.at;
    entry.nameLength = nameLength < length - r.at ? nameLength : length - r.at;
    r.at += entry.nameLength;
    if (!holds(&r, 1)) return entry;
    i64 valueLength = (i64)takeLe(&r, 1);
    entry.hasValue = 1;
    entry.value = payload + r.at;
    entry.valueLength = valueLength < length - r.at ? valueLength : length - r.at;
    entry.valueCut = entry.valueLength < valueLength ? 1 : 0;
    return entry;
}

FixedString textOf(const u8* bytes, i64 count) {
    if (!bytes || count <= 0) return FixedString{};
    return stringFromBytes(bytes, count < kFixedStringCapacity ? count : kFixedStringCapacity);
}

FixedString preferenceValueText(const PreferenceEntry* entry) {
    const u8* value = entry->value;
    i64 count = entry->valueLength;
    // A number or address cut off by the payload's end would read as another value: left out.
    if (entry->valueCut && entry->kind >= 2) return FixedString{};
    switch (entry->kind) {
        case 0:
        case 1: return textOf(value, count);
        case 2: {
            // Whole numbers are stored in as many bytes as their setting has: read what is there.
            i64 bytes = count < 8 ? count : 8;
            u64 raw = 0;
            for (i64 i = 0; i < bytes; i++) raw |= (u64)value[i] << (8 * i);
            return bytes == 8 ? stringFromInt((i64)raw) : buildFixedString([&](ByteWriter* w) { appendU64(raw, w); });
        }
        case 3:
            if (count < 8) return FixedString{};
            return stringFromDoubleTrimmed(f64At(value, 0), 6);
        case 4: {
            if (count < 3) return FixedString{};
            AddressRecord address{};
            address.port = (u16)(value[0] | value[1] << 8);
            address.family = value[2];
            i64 addressBytes = count - 3 < 16 ? count - 3 : 16;
            std::memcpy(address.address, value + 3, (size_t)addressBytes);
            return endpointString(&address);
        }
        default: return FixedString{};
    }
}

}  // namespace

FixedString flightLogEntryTitle(u8 type, const u8* payload, u16 length) {
    switch (type) {
        case FlightLogHeader: return makeString("Log header");
        case FlightLogStartedMission: return makeString("Started waypoint mission");
        case FlightLogGeofenceChanged: return makeString("Orvik geofence changed");
        case FlightLogAugmentedPosition: return makeString("Augmented position");
        case FlightLogButtonReleased:
        case FlightLogButtonPressed: {
            const char* form = type == FlightLogButtonPressed ? "Button @ pressed" : "Button @ released";
            if (length == 0) return makeString(type == FlightLogButtonPressed ? "Button pressed" : "Button released");
            return formatInt(form, length >= 2 ? (payload[0] | payload[1] << 8) : payload[0]);
        }
        case FlightLogControllerName:
            return formatStr("Controller Name: @", textOf(payload, length));
        case FlightLogVideoStreamStatus: {
            if (length < 24) return makeString("Video stream status");
            u64 received = u32At(payload, 16), dropped = u32At(payload, 20);
            u64 total = received + dropped;
            return formatInt("Video stream status: @%", total ? (i64)(received * 100 / total) : 0);
        }
        case FlightLogPreferenceValue: {
            PreferenceEntry entry = readPreference(payload, length);
            return formatStrStr("@ = @", textOf(entry.name, entry.nameLength), preferenceValueText(&entry));
        }
        case FlightLogControllerAxes: return makeString("Controller Axes");
        case FlightLogGap:
            if (length < 8) return makeString("Gap in the log");
            return formatInt("Gap in the log: @ entries lost", (i64)u64At(payload, 0));
        default: return FixedString{};
    }
}

void appendFlightLogEntryDetails(u8 type, const u8* payload, u16 length, const Preferences* units,
                                 ByteWriter* details) {
    switch (type) {
        case FlightLogHeader: appendLogHeader(payload, length, details); break;
        case FlightLogAugmentedPosition: appendAugmentedPosition(payload, length, units, details); break;
        case FlightLogVideoStreamStatus: appendVideoStatus(payload, length, details); break;
        case FlightLogPreferenceValue: {
            PreferenceEntry entry = readPreference(payload, length);
            if (!entry.hasKind) break;
            line("type: ", stringFromInt(entry.kind), details);
            if (entry.hasName) line("name: ", textOf(entry.name, entry.nameLength), details);
            if (entry.hasValue) line("value: ", preferenceValueText(&entry), details);
            break;
        }
        case FlightLogControllerAxes: appendControllerAxes(payload, length, details); break;
        default: break;
    }
}
