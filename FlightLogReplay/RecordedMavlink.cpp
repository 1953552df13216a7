#include "FlightLogReplay/RecordedMavlink.h"

#include "Core/Format.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "FlightLogReplay/RecordedMavlinkLines.h"

#include <cstring>

// ---------------------------------------------------------------------------------------------------
// Line forms

void appendUnsignedDecimal(u64 value, ByteWriter* writer) {
    char digits[20];
    i64 count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char text[20];
    for (i64 i = 0; i < count; i++) text[i] = digits[count - 1 - i];
    appendBytes(text, count, writer);
}

void decLine(const char* prefix, i64 value, const char* suffix, ByteWriter* writer) {
    appendCString(prefix, writer);
    appendInt64(value, writer);
    appendCString(suffix, writer);
}

void unsignedLine(const char* prefix, u64 value, const char* suffix, ByteWriter* writer) {
    appendCString(prefix, writer);
    appendUnsignedDecimal(value, writer);
    appendCString(suffix, writer);
}

void hexLine(const char* prefix, u64 value, i64 digits, const char* suffix, ByteWriter* writer) {
    appendCString(prefix, writer);
    appendHexDigits(value, digits, writer);
    appendCString(suffix, writer);
}

void fixedLine(const char* prefix, i64 scaled, i64 decimals, const char* suffix, ByteWriter* writer) {
    appendCString(prefix, writer);
    appendFixedPoint(scaled, decimals, writer);
    appendCString(suffix, writer);
}

void unsignedMicrosLine(const char* prefix, u64 micros, const char* suffix, ByteWriter* writer) {
    // Whole u64 range: a time past 2^63 us must not read as negative.
    appendCString(prefix, writer);
    appendUnsignedDecimal(micros / 1000000, writer);
    appendCString(".", writer);
    char fraction[6];
    u64 rest = micros % 1000000;
    for (i32 i = 5; i >= 0; i--) {
        fraction[i] = (char)('0' + rest % 10);
        rest /= 10;
    }
    appendBytes(fraction, 6, writer);
    appendCString(suffix, writer);
}

void doubleLine(const char* prefix, f64 value, i64 decimals, const char* suffix, ByteWriter* writer) {
    appendCString(prefix, writer);
    appendDouble(value, decimals, writer);
    appendCString(suffix, writer);
}

void trimmedLine(const char* prefix, f64 value, const char* suffix, ByteWriter* writer) {
    appendCString(prefix, writer);
    appendDoubleTrimmed(value, 6, writer);
    appendCString(suffix, writer);
}

void textLine(const char* prefix, TextSlice text, const char* suffix, ByteWriter* writer) {
    appendCString(prefix, writer);
    appendBytes(text.text, text.length, writer);
    appendCString(suffix, writer);
}

void temperatureLine(const char* prefix, f64 celsius, const Preferences* prefs, ByteWriter* writer) {
    FixedString temperature = temperatureString(celsius, prefs);
    appendCString(prefix, writer);
    appendFixedStringRef(&temperature, writer);
    appendCString("\n", writer);
}

// ---------------------------------------------------------------------------------------------------
// Details of the flight-controller, battery, status-text and payload-link messages

namespace {

constexpr f64 kDegreesPerRadian = 57.29577951308232;

void heartbeatLines(const u8* p, ByteWriter* w) {
    unsignedLine("custom_mode: ", u32At<0>(p), "\n", w);
    decLine("type: ", u8At<4>(p), "\n", w);
    decLine("autopilot: ", u8At<5>(p), "\n", w);
    decLine("base_mode: ", u8At<6>(p), "\n", w);
    decLine("system_status: ", u8At<7>(p), "\n", w);
    decLine("mavlink_version: ", u8At<8>(p), "\n", w);
}

void sysStatusLines(const u8* p, ByteWriter* w) {
    hexLine("onboard_control_sensors_present: 0x", u32At<0>(p), 8, "\n", w);
    hexLine("onboard_control_sensors_enabled: 0x", u32At<4>(p), 8, "\n", w);
    hexLine("onboard_control_sensors_health: 0x", u32At<8>(p), 8, "\n", w);
    fixedLine("load: ", u16At<12>(p), 1, "%\n", w);
    fixedLine("voltage_battery: ", u16At<14>(p), 3, " V\n", w);
    fixedLine("current_battery: ", i16At<16>(p), 2, " A\n", w);
    fixedLine("drop_rate_comm: ", u16At<18>(p), 2, "%\n", w);
    decLine("errors_comm: ", u16At<20>(p), "\n", w);
    decLine("errors_count1: ", u16At<22>(p), "\n", w);
    decLine("errors_count2: ", u16At<24>(p), "\n", w);
    decLine("errors_count3: ", u16At<26>(p), "\n", w);
    decLine("errors_count4: ", u16At<28>(p), "\n", w);
    decLine("battery_remaining: ", i8At<30>(p), "%\n", w);
    hexLine("onboard_control_sensors_present_extended: 0x", u32At<31>(p), 8, "\n", w);
    hexLine("onboard_control_sensors_enabled_extended: 0x", u32At<35>(p), 8, "\n", w);
    hexLine("onboard_control_sensors_health_extended: 0x", u32At<39>(p), 8, "\n", w);
}

void gpsRawIntLines(const u8* p, ByteWriter* w) {
    unsignedMicrosLine("time_usec: ", u64At<0>(p), " s\n", w);
    fixedLine("lat: ", i32At<8>(p), 7, RECORDED_DEGREE "\n", w);
    fixedLine("lon: ", i32At<12>(p), 7, RECORDED_DEGREE "\n", w);
    fixedLine("alt: ", i32At<16>(p), 3, " m\n", w);
    decLine("eph: ", u16At<20>(p), "\n", w);
    decLine("epv: ", u16At<22>(p), "\n", w);
    fixedLine("vel: ", u16At<24>(p), 2, " m/s\n", w);
    fixedLine("cog: ", u16At<26>(p), 2, RECORDED_DEGREE "\n", w);
    decLine("fix_type: ", u8At<28>(p), "\n", w);
    decLine("satellites_visible: ", u8At<29>(p), "\n", w);
    fixedLine("alt_ellipsoid: ", i32At<30>(p), 3, " m\n", w);
    fixedLine("horizontal position uncertainty: ", u32At<34>(p), 3, " m\n", w);
    fixedLine("vertical position uncertainty: ", u32At<38>(p), 3, " m\n", w);
    fixedLine("velocity uncertainty: ", u32At<42>(p), 3, " m/s\n", w);
    fixedLine("heading uncertainty: ", u32At<46>(p), 5, RECORDED_DEGREE "\n", w);
    fixedLine("yaw: ", u16At<50>(p), 2, RECORDED_DEGREE "\n", w);
}

void attitudeLines(const u8* p, ByteWriter* w) {
    fixedLine("time_boot_ms: ", u32At<0>(p), 3, " s\n", w);
    doubleLine("roll: ", f32At<4>(p) * kDegreesPerRadian, 6, RECORDED_DEGREE "\n", w);
    doubleLine("pitch: ", f32At<8>(p) * kDegreesPerRadian, 6, RECORDED_DEGREE "\n", w);
    doubleLine("yaw: ", f32At<12>(p) * kDegreesPerRadian, 6, RECORDED_DEGREE "\n", w);
    doubleLine("rollspeed: ", f32At<16>(p) * kDegreesPerRadian, 6, " " RECORDED_DEGREE "/s\n", w);
    doubleLine("pitchspeed: ", f32At<20>(p) * kDegreesPerRadian, 6, " " RECORDED_DEGREE "/s\n", w);
    doubleLine("yawspeed: ", f32At<24>(p) * kDegreesPerRadian, 6, " " RECORDED_DEGREE "/s\n", w);
}

void globalPositionIntLines(const u8* p, ByteWriter* w) {
    fixedLine("time_boot_ms: ", u32At<0>(p), 3, " s\n", w);
    fixedLine("lat: ", i32At<4>(p), 7, RECORDED_DEGREE "\n", w);
    fixedLine("lon: ", i32At<8>(p), 7, RECORDED_DEGREE "\n", w);
    fixedLine("alt: ", i32At<12>(p), 3, " m\n", w);
    fixedLine("relative_alt: ", i32At<16>(p), 3, " m\n", w);
    fixedLine("vx: ", i16At<20>(p), 2, " m/s north\n", w);
    fixedLine("vy: ", i16At<22>(p), 2, " m/s east\n", w);
    fixedLine("vz: ", i16At<24>(p), 2, " m/s down\n", w);
    fixedLine("hdg: ", u16At<26>(p), 2, RECORDED_DEGREE "\n", w);
}

void commandLongLines(const u8* p, ByteWriter* w) {
    trimmedLine("param1: ", f32At<0>(p), "\n", w);
    trimmedLine("param2: ", f32At<4>(p), "\n", w);
    trimmedLine("param3: ", f32At<8>(p), "\n", w);
    trimmedLine("param4: ", f32At<12>(p), "\n", w);
    trimmedLine("param5: ", f32At<16>(p), "\n", w);
    trimmedLine("param6: ", f32At<20>(p), "\n", w);
    trimmedLine("param7: ", f32At<24>(p), "\n", w);
    decLine("command: ", u16At<28>(p), "\n", w);
    decLine("target: ", u8At<30>(p), ".", w);
    decLine("", u8At<31>(p), "\n", w);
    decLine("confirmation: ", u8At<32>(p), "\n", w);
}

// Big-endian readers over a payload-link frame body of kPayloadFrameMaxBody bytes.
template <i32 Offset, i32 Size>
u64 bodyField(const u8* body) {
    static_assert(Offset >= 0 && Offset + Size <= kPayloadFrameMaxBody, "field outside the frame body");
    u64 value = 0;
    for (i32 i = 0; i < Size; i++) value = value << 8 | body[Offset + i];
    return value;
}

// ENCAPSULATED_DATA: the first payload-link frame of the message, when it is a counters frame.
void encapsulatedDataLines(const MavlinkMessage* message, ByteWriter* w) {
    PayloadFrameParser parser{};
    nextPayloadFrame(&parser, message->payload, 0, message->payloadLength);
    if (!parser.frameReady || parser.type != PayloadFrameCounters) return;
    // Body bytes the frame does not have read as zero.
    u8 body[kPayloadFrameMaxBody] = {};
    i32 bodyLength = parser.payloadLength <= kPayloadFrameMaxBody ? parser.payloadLength : kPayloadFrameMaxBody;
    memcpy(body, parser.payload, (size_t)bodyLength);
    fixedLine("forward rangefinder: ", (i32)bodyField<0, 4>(body), 2, " m\n", w);
    fixedLine("downward rangefinder: ", (i32)bodyField<4, 4>(body), 2, " m\n", w);
    if (bodyLength >= 12) fixedLine("camera rangefinder: ", (i32)bodyField<8, 4>(body), 2, " m\n", w);
    if (bodyLength < 13) return;
    decLine("turbo mode: ", (i64)bodyField<12, 1>(body), "\n", w);
    fixedLine("photo period: ", (i64)bodyField<13, 2>(body), 3, " s\n", w);
    unsignedLine("message timestamp: ", bodyField<15, 8>(body), " ms\n", w);
    unsignedLine("last photo timestamp: ", bodyField<23, 8>(body), " ms\n", w);
    decLine("photo count: ", (i32)bodyField<31, 4>(body), " photos\n", w);
}

void batteryStatusLines(const u8* p, ByteWriter* w) {
    // current_consumed is a charge in mAh: thousandths of an ampere-hour.
    fixedLine("current_consumed: ", i32At<0>(p), 3, " Ah\n", w);
    // hJ to J in 64 bits: the product does not fit 32 bits above 21,474,836 hJ.
    decLine("energy_consumed: ", (i64)i32At<4>(p) * 100, " J\n", w);
    fixedLine("temperature: ", i16At<8>(p), 2, " " RECORDED_DEGREE "C\n", w);
    static const char* const cells[14] = {"cell 1: ",  "cell 2: ",  "cell 3: ",  "cell 4: ",  "cell 5: ",
                                          "cell 6: ",  "cell 7: ",  "cell 8: ",  "cell 9: ",  "cell 10: ",
                                          "cell 11: ", "cell 12: ", "cell 13: ", "cell 14: "};
    const u8* voltages = p + 10;  // 10 x u16, bytes 10 to 29
    for (i32 k = 0; k < 10; k++) fixedLine(cells[k], mavlinkU16(voltages + 2 * k), 3, " V\n", w);
    fixedLine("current_battery: ", i16At<30>(p), 2, " A\n", w);
    decLine("id: ", u8At<32>(p), "\n", w);
    decLine("function: ", u8At<33>(p), "\n", w);
    decLine("type: ", u8At<34>(p), "\n", w);
    decLine("battery_remaining: ", i8At<35>(p), "%\n", w);
    decLine("time_remaining: ", i32At<36>(p), " s\n", w);
    decLine("charge_state: ", u8At<40>(p), "\n", w);
    const u8* extended = p + 41;  // 4 x u16, bytes 41 to 48
    for (i32 k = 0; k < 4; k++) fixedLine(cells[10 + k], mavlinkU16(extended + 2 * k), 3, " V\n", w);
    decLine("mode: ", u8At<49>(p), "\n", w);
    hexLine("fault_bitmask: 0x", u32At<50>(p), 8, "\n", w);
}

void statusTextLines(const u8* p, ByteWriter* w) {
    decLine("severity: ", u8At<0>(p), "\n", w);
    textLine("text: ", textAt<1, 50>(p), "\n", w);
    decLine("id: ", u16At<51>(p), "\n", w);
    decLine("seq: ", u8At<53>(p), "\n", w);
}

void appendMessageDetails(const MavlinkMessage* message, const Preferences* prefs, ByteWriter* w) {
    const u8* p = message->payload;
    switch (message->messageId) {
        case MavlinkHeartbeat: heartbeatLines(p, w); break;
        case MavlinkSysStatus: sysStatusLines(p, w); break;
        case MavlinkGpsRawInt: gpsRawIntLines(p, w); break;
        case MavlinkAttitude: attitudeLines(p, w); break;
        case MavlinkGlobalPositionInt: globalPositionIntLines(p, w); break;
        case MavlinkCommandLong: commandLongLines(p, w); break;
        case MavlinkEncapsulatedData: encapsulatedDataLines(message, w); break;
        case 147: batteryStatusLines(p, w); break;  // BATTERY_STATUS
        case MavlinkStatusText: statusTextLines(p, w); break;
        default: appendCameraMessageDetails(message, prefs, w); break;
    }
}

void appendFirstMessageDescription(const MavlinkMessage* message, ByteWriter* summary) {
    const u8* p = message->payload;
    appendCString(mavlinkMessageName(message->messageId), summary);
    appendCString(" (", summary);
    appendUnsignedDecimal(message->messageId, summary);
    appendCString(")", summary);
    switch (message->messageId) {
        case 22:  // PARAM_VALUE: the parameter's name
            textLine("   ", textAt<8, 16>(p), "", summary);
            break;
        case MavlinkCommandLong: {
            const char* name = mavCmdName(u16At<28>(p));
            if (name) {
                appendCString("   ", summary);
                appendCString(name, summary);
            }
            break;
        }
        case MavlinkStatusText: textLine("   ", textAt<1, 50>(p), "", summary); break;
        default: appendCameraMessageSuffix(message, summary); break;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// The two walks

bool isDecodedMavlinkEntry(u8 entryType) { return entryType >= 1 && entryType <= 4; }

u32 mavlinkEntryRowColor(u8 entryType) { return entryType == 1 || entryType == 2 ? 0xFFFFFFFFu : 0xFFEEEEEEu; }

MavlinkEntrySummary summarizeMavlinkEntry(const u8* payload, u16 length, ByteWriter* summary) {
    MavlinkEntrySummary result = {};
    if (!payload) return result;
    MavlinkMessage message{};
    i32 position = 0;
    while (position < length) {
        position = parseMavlinkBytes(&message, payload, position, length);
        if (!message.haveMessage) break;
        if (result.messageCount == 0) {
            appendFirstMessageDescription(&message, summary);
            result.sender = message.source;
        }
        result.messageCount++;
    }
    if (result.messageCount > 1) {
        appendCString(" + ", summary);
        appendInt64(result.messageCount - 1, summary);
        appendCString(" more", summary);
    }
    return result;
}

void appendMavlinkEntryDetails(const u8* payload, u16 length, const Preferences* prefs, ByteWriter* details) {
    if (!payload) return;
    MavlinkMessage message{};
    i32 position = 0;
    while (position < length) {
        position = parseMavlinkBytes(&message, payload, position, length);
        if (!message.haveMessage) break;
        appendMessageDetails(&message, prefs, details);
    }
}

FixedString mavlinkSenderText(u16 sender) { return formatIntInt("@.@", sender >> 8, sender & 0xFF); }
