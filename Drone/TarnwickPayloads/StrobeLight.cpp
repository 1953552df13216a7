#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Drone/TarnwickPayloads/PayloadDevices.h"

#include <cmath>

namespace {

constexpr f64 kStrobeAwayHeight = 15.24;            // m, 50 ft
constexpr f64 kStrobeAwayDistanceSquared = 2090.3184;  // (45.72 m)^2, 150 ft

bool isOld(u64 time, u64 now, u64 age) { return now > time && now - time > age; }

void sendIntervalFrame(const PayloadControl* control, u8 on, u16 interval) {
    DroneOutput* output = control->output;
    if (!output || !output->socket || !output->sequence) return;
    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
    u8 frameSequence = *output->sequence;  // the frame's counter is the connection's MAVLink one
    LengthFieldMark mark = beginPayloadFrame(&frameSequence, PayloadFramePhotoInterval, &frame);
    appendU8(on, &frame);
    appendU16Be(interval, &frame);
    finishPayloadFrame(&mark, &frame);
    *output->sequence = frameSequence;
    sendPayloadFrame(output, &output->destination, output->sequence, &frame, 1, control->now);
}

}  // namespace

void handleLightStateFrame(StrobeLight* light, const u8* body, i32 length, u64 now) {
    if (length < 3) return;
    light->reportedBrightness = body[0];
    light->reportedPattern = body[1];
    if (body[2] == 0 && light->reportedMode != 0) light->mode = StrobeManual;
    light->reportedMode = body[2];
    if (light->mode == StrobeManual) {
        light->mode = light->reportedMode;
        light->brightness = light->reportedBrightness;
        light->pattern = light->reportedPattern;
    }
    light->reportTime = now;
}

u32 isStrobeAway(const VehicleState* vehicle, i32 phase) {
    if (phase < 2) return 0;
    // Height above home: the relative altitude the vehicle reports, with the offset.
    f64 height = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
    if (!std::isfinite(height)) height = 0;
    if (height > kStrobeAwayHeight) return 1;
    const StoredPosition* home = vehicle->secondPosition.time != 0 ? &vehicle->secondPosition : &vehicle->home;
    f64 distanceSquared = 0;
    if (home->time != 0 && vehicle->globalPosition.time != 0) {
        GeoPoint here{vehicle->globalPosition.longitude + vehicle->longitudeOffset,
                      vehicle->globalPosition.latitude + vehicle->latitudeOffset};
        GeoPoint there{home->longitude, home->latitude};
        distanceSquared = geoDistanceSquared(&here, &there);
        if (!std::isfinite(distanceSquared)) distanceSquared = 0;
    }
    return height * height + distanceSquared > kStrobeAwayDistanceSquared;
}

void sendLightControl(StrobeLight* light, const PayloadControl* control) {
    u64 now = control->now;
    if (light->requestPending) {
        light->changeCounter++;
        light->brightness = light->requestedBrightness;
        light->pattern = light->requestedPattern;
        light->mode = light->requestedMode;
        light->requestPending = 0;
        light->changeTime = now;
    }
    if (isOld(light->changeTime, now, kPayloadRequestHoldTime)) light->changeCounter = 0;
    if (light->reportTime == 0 || isOld(light->reportTime, now, kStrobeReportHoldTime)) return;
    if (light->lastSendTime != 0 && now - light->lastSendTime < kPayloadControlInterval) return;
    // An output without a socket (a replay's) judges the same moments and builds nothing.
    DroneOutput* output = control->output;
    if (!output || output->destination.family == 0) return;
    ByteWriter* slot = output->socket ? queueSocketPacket(&output->destination, output->socket) : nullptr;
    if (output->socket && !slot) return;
    if (light->mode == StrobeAutoDay || light->mode == StrobeAutoNight) {
        bool day = light->mode == StrobeAutoDay;
        i32 phase = payloadFlightPhase(control->vehicle);
        if (isStrobeAway(control->vehicle, phase)) {
            light->brightness = day ? StrobeHigh : StrobeMedium;
            light->pattern = day ? StrobeRotate : StrobeFlash;
        } else if (phase >= 1) {
            light->pattern = StrobeOn;
            light->brightness = day ? StrobeHigh : StrobeMedium;
        } else {
            light->pattern = StrobeOn;
            light->brightness = day ? StrobeMedium : StrobeLow;
        }
        if (light->reportedBrightness != light->brightness || light->reportedPattern != light->pattern ||
            light->reportedMode != light->mode) {
            light->changeCounter++;
            light->changeTime = now;
        }
    }
    if (!slot) {
        light->lastSendTime = now;
        return;
    }
    u8 bytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(bytes, sizeof(bytes));
    LengthFieldMark mark = beginPayloadFrame(&light->sequence, PayloadFrameLightControl, &frame);
    appendU8((u8)light->brightness, &frame);
    appendU8((u8)light->pattern, &frame);
    appendU8((u8)light->mode, &frame);
    appendU8(light->changeCounter, &frame);
    finishPayloadFrame(&mark, &frame);
    sendMavlinkMessage(0, MavlinkEncapsulatedData, &frame, slot, output->sequence, output->source, output->stats, now);
    light->lastSendTime = now;
}

u16 photoIntervalMilliseconds(f64 seconds) {
    f64 ms = std::trunc(seconds * 1000.0);
    if (!(ms > 0)) return 0;
    if (ms > 65535) return 65535;
    return (u16)ms;
}

void sendPhotoIntervalRequests(PayloadLink* link, const PayloadControl* control) {
    if (link->photoIntervalStart) {
        link->photoIntervalStart = 0;
        f64 seconds = control->preferences ? control->preferences->mappingKitPhotoInterval : 0;
        sendIntervalFrame(control, 1, photoIntervalMilliseconds(seconds));
    }
    if (link->photoIntervalStop) {
        link->photoIntervalStop = 0;
        sendIntervalFrame(control, 0, 0);
    }
}
