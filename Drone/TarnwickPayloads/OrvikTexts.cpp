#include "Drone/TarnwickPayloads/OrvikTexts.h"

#include "Core/Format.h"

#include <cstdio>

namespace {

const char* const kOrvikFaultNames[38] = {
    "LOW BATTERY",
    "DISARMED BY CONTROLLER",
    "LOST CONNECTION TO CONTROL BAR",
    "DISARMED BY APP",
    "LOST CONNECTION TO APP",
    "PUNCTURE COMMS TIMEOUT",
    "INJECTION A COMMS TIMEOUT",
    "INJECTION B COMMS TIMEOUT",
    "LOST DRONE PWM 0",
    "LOST DRONE PWM 1",
    "LOST DRONE PWM 2",
    "LOST DRONE PWM 3",
    "LOST DRONE PWM 4",
    "LOST DRONE DATA",
    "WRONG DRONE MODE",
    "LOST CONNECTION TO DRONE",
    "PUNCTURE MOTOR MOTION ERROR",
    "INJECTION A MOTION ERROR",
    "INJECTION B MOTION ERROR",
    "EMERGENCY RELEASE TRIGGERED",
    "S1 NOT CCW",
    "S2 NOT CCW",
    "INTERNAL COMM ERROR",
    "MOTORS NOT POWERED",
    "EMERGENCY RELEASE AUTO TRIGGERED",
    "NOT YET REACHED A NEAR",
    "NOT YET REACHED A FAR",
    "NOT YET REACHED B NEAR",
    "NOT YET REACHED B FAR",
    "CALIBRATION ERROR (A FAR)",
    "CALIBRATION ERROR (A NEAR)",
    "CALIBRATION ERROR (B NEAR)",
    "CALIBRATION ERROR (B FAR)",
    "CALIBRATION ERROR (OVER CURRENT)",
    "PUNCTURE MOTOR OVER CURRENT AT IDLE",
    "MOTOR OVER CURRENT AT IDLE",
    "EMG REL MOTOR OVER CURRENT AT IDLE",
    "OVER VOLTAGE BATTERY",
};

const u8 kSeriousBits[] = {37, 34, 36, 35, 33, 29, 30, 32, 31, 19, 24, 23, 18, 17, 16, 22, 21, 20, 1, 14, 13};
const u8 kOtherBits[] = {8, 9, 10, 7, 6, 5, 15, 4, 2, 0};

// Stop reasons of the states 97..123; null where the code has none.
const char* stopReason(u32 code) {
    switch (code) {
        case 97: return "LOST DRONE PWM";
        case 98: return "LOST DRONE DATA";
        case 99: return "WRONG DRONE MODE";
        case 102: return "LOW BATTERY";
        case 103: return "LOST CONNECTION TO DROPPER";
        case 104: return "HATCH MOTION ERROR";
        case 105: return "LOST CONNECTION TO APP";
        case 106: return "LOST CONNECTION TO CONTROL BAR";
        case 107: return "LOST CONNECTION TO DRONE";
        case 108: return "PUNCTURE COMMS TIMEOUT";
        case 109: return "INJECTION A COMMS TIMEOUT";
        case 110: return "INJECTION B COMMS TIMEOUT";
        case 111: return "LOST DRONE PWM 0";
        case 112: return "LOST DRONE PWM 1";
        case 113: return "LOST DRONE PWM 2";
        case 114: return "LOST DRONE PWM 3";
        case 115: return "LOST DRONE PWM 4";
        case 116: return "S1 NOT CCW";
        case 117: return "S2 NOT CCW";
        case 118: return "INTERNAL COMM ERROR";
        case 119: return "MOTORS NOT POWERED";
        case 120: return "CALIBRATION ERROR (A FAR)";
        case 121: return "CALIBRATION ERROR (A NEAR)";
        case 122: return "CALIBRATION ERROR (B NEAR)";
        case 123: return "CALIBRATION ERROR (B FAR)";
        default: return nullptr;
    }
}

void appendStateLine(u32 code, ByteWriter* writer) {
    if (code <= 95) return appendCString("IDLE", writer);
    if (code <= 159) {
        appendCString("IDLE (STOPPED B/C ", writer);
        const char* reason = stopReason(code);
        if (reason) {
            appendCString(reason, writer);
        } else {
            appendCString("UNKNOWN ERROR ", writer);
            appendInt64(code, writer);
        }
        return appendCString(")", writer);
    }
    switch (code) {
        case 161: return appendCString("MOVE TIMEOUT", writer);
        case 162: return appendCString("EMERGENCY RELEASE TRIGGERED", writer);
        case 163: return appendCString("PUNCTURE MOTOR MOTION ERROR", writer);
        case 164: return appendCString("INJECTION A MOTION ERROR", writer);
        case 165: return appendCString("INJECTION B MOTION ERROR", writer);
        case 166: return appendCString("CALIBRATION ERROR (OVER CURRENT)", writer);
        default:
            appendCString("UNKNOWN HARD ERROR ", writer);
            appendInt64(code, writer);
    }
}

void appendFaultName(u32 bit, ByteWriter* writer) {
    char scratch[40];
    appendCString(orvikFaultName(bit, scratch, sizeof(scratch)), writer);
}

void appendTemperature(i8 value, const Preferences* preferences, ByteWriter* writer) {
    FixedString text = value == kOrvikTemperatureUnknown ? unknownTemperatureString(preferences)
                                                         : temperatureString(value, preferences);
    appendFixedStringRef(&text, writer);
}

}  // namespace

const char* orvikFaultName(u32 bit, char* scratch, i32 scratchSize) {
    if (bit < 38) return kOrvikFaultNames[bit];
    if (bit == 63) return "UNABLE TO START DROPPING";
    std::snprintf(scratch, (size_t)scratchSize, "UNKNOWN FAULT (1 << %u)", bit);
    return scratch;
}

void appendOrvikFaults(const OrvikPayloadState* orvik, u64 now, ByteWriter* writer) {
    if (!isPayloadStatusFresh(orvik->statusTime, now)) return appendCString("DISCONNECTED", writer);
    if (orvik->dropping) return appendCString("DROPPING", writer);
    u64 word = orvik->statusWord;
    for (u8 bit : kSeriousBits) {
        if (word >> bit & 1) return appendFaultName(bit, writer);
    }
    if ((word & 0x700) == 0x700) return appendCString("LOST_DRONE_PWM", writer);
    for (u8 bit : kOtherBits) {
        if (word >> bit & 1) return appendFaultName(bit, writer);
    }
    if (word >> 3 & 1) {
        switch (orvik->disallowReason) {
            case DropDisallowedFlightPhase: return appendCString("DISALLOWED DRONE MODE", writer);
            case DropOutsideGeofence: return appendCString("FLYING OUTSIDE GEOFENCE", writer);
            case DropAllowedOrNoStatus: return appendCString("DISARMED DUE TO RECENT DISCONNECTION", writer);
            default: return;
        }
    }
    appendStateLine(orvik->state, writer);
}

FixedString orvikStatusText(const OrvikPayloadState* orvik, u64 now) {
    return buildFixedString([&](ByteWriter* writer) {
        appendOrvikFaults(orvik, now, writer);
        if (orvik->chuteTemp >= 61 && !writer->overflow) appendCString("    HIGH TEMP", writer);
    });
}

void appendOrvikBoardStatus(const OrvikPayloadState* orvik, const Preferences* preferences, u64 now,
                            ByteWriter* writer) {
    if (isPayloadStatusFresh(orvik->statusTime, now)) {
        appendOrvikFaults(orvik, now, writer);
        if (orvik->chuteTemp >= 61) appendCString("    HIGH TEMP", writer);
    } else {
        appendCString("DISCONNECTED", writer);
    }
    appendCString("\n", writer);
    if (orvik->lastDropTime > 0) {
        appendCString("Time since last drop: ", writer);
        FixedString duration = durationString(now > orvik->lastDropTime ? (i64)(now - orvik->lastDropTime) : 0);
        appendFixedStringRef(&duration, writer);
    }
    appendCString("\n", writer);
    appendCString("Spheres dropped: ", writer);
    appendInt64((i64)orvik->dropCounterA + orvik->dropCounterB, writer);
    appendCString("\nBattery voltage: ", writer);
    appendFixedPoint(orvik->batteryVoltage, 1, writer);
    appendCString(" V\nInjection amount: ", writer);
    appendFixedPoint(orvik->injectionAmount, 2, writer);
    appendCString(" ml\nChute temp: ", writer);
    appendTemperature(orvik->chuteTemp, preferences, writer);
    appendCString("\nAmbient temp: ", writer);
    appendTemperature(orvik->ambientTemp, preferences, writer);
    appendCString("\nInternal temp: ", writer);
    appendTemperature(orvik->internalTemp, preferences, writer);
    appendCString("\n", writer);
    if (orvik->versionTime != 0) {
        appendCString("Main (TI) processor\n   Firmware version: ", writer);
        appendFixedStringRef(&orvik->mainFirmwareVersion, writer);
        appendCString("\n   Programming date: ", writer);
        appendFixedStringRef(&orvik->mainProgrammingDate, writer);
        appendCString("\n\nAux (Atmel) processor\n   Firmware version: ", writer);
        appendFixedStringRef(&orvik->auxFirmwareVersion, writer);
        appendCString("\n   Programming date: ", writer);
        appendFixedStringRef(&orvik->auxProgrammingDate, writer);
        appendCString("\n", writer);
    }
    for (u32 bit = 0; bit < 64; bit++) {
        if (orvik->statusWord >> bit & 1) {
            appendFaultName(bit, writer);
            appendCString("\n", writer);
        }
    }
}

void orvikPayloadCountLook(PayloadCountLook* out, const OrvikPayloadState* orvik, u64* spinStart, u64 now) {
    *out = PayloadCountLook{};
    if (isPayloadStatusFresh(orvik->statusTime, now)) {
        out->text = stringFromInt((i64)orvik->dropCounterA + orvik->dropCounterB);
    } else {
        out->text = makeString("?");
    }
    if (orvik->state >= 160 || (orvik->statusWord & 0x1090000ull)) {
        out->image = 22;
        out->color = 0xFF0000DD;
    } else if (orvik->state >= 96 || orvik->chuteTemp > 60 || orvik->statusWord) {
        out->image = 21;
        out->color = 0xFF00DDFF;
    } else {
        out->image = 20;
        out->color = 0xFFFFFFFF;
    }
    if (orvik->dropping) {
        u64 elapsed = now >= *spinStart ? now - *spinStart : 0;
        out->rotationTurns = (f64)(elapsed % 1000000) / 1000000.0;
    } else {
        *spinStart = now;
        out->rotationTurns = 0;
    }
}
