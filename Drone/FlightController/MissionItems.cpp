#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Core/Preferences.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/VehicleState.h"
#include "Drone/FlightController/AutopilotControl.h"
#include "Mission/WaypointMissionEditor.h"

#include <cmath>
#include <cstring>

namespace {

constexpr u16 kNavWaypoint = 16;
constexpr u16 kDoChangeSpeed = 178;
constexpr u8 kFrameMission = 2;
constexpr u8 kFrameGlobalRelativeAltitude = 3;
constexpr u32 kMissionItem = 39;
constexpr u32 kMissionRequestInt = 51;
constexpr u32 kMissionItemInt = 73;
constexpr f64 kPi = 3.14159265358979323846;

// The waypoint fields that the upload reads and marks, in one place.
i32 planCount(const WaypointMissionEditor* plan) { return plan ? plan->waypointCount : 0; }
Vec2 planPoint(const WaypointMissionEditor* plan, i32 i) { return Vec2{plan->waypoints[i].x, plan->waypoints[i].y}; }
f64 planAltitude(const WaypointMissionEditor* plan, i32 i) { return plan->waypoints[i].altitude; }
void markPlanWaypoint(WaypointMissionEditor* plan, i32 i, u32 mark, u32 itemIndex) {
    plan->waypoints[i].uploadMark = mark;
    plan->waypoints[i].missionItemNumber = itemIndex;
}

bool addItem(MissionItemList* list, const MissionItem& item) {
    if (list->count >= kMaxMissionItems) return false;
    list->items[list->count++] = item;
    return true;
}

Vec2 mercatorFromDegrees(f64 longitude, f64 latitude) {
    return Vec2{longitude / 360.0, std::log(std::tan(latitude * kPi / 360.0 + kPi / 4.0)) / (2.0 * kPi)};
}

}  // namespace

const char kUploadTimedOutText[] = "Upload Failed (Timed out waiting for the drone)";
const char kStartTimedOutText[] = "Couldn't start mission";

MissionItem* makeWaypointMissionItem(MissionItem* result, f32 param2, f32 param4, Vec2 point, f64 altitude,
                                     const VehicleState* vehicle) {
    f64 x = point.x;
    while (x > 0.5) x -= 1.0;
    while (x < -0.5) x += 1.0;
    *result = MissionItem{};
    result->param2 = param2;
    result->param4 = param4;
    result->longitude = x * 360.0;
    result->latitude = (std::atan(std::exp(2.0 * kPi * point.y)) - kPi / 4.0) * 360.0 / kPi;
    result->altitude = (f32)(altitude - vehicle->altitudeOffset);
    result->command = kNavWaypoint;
    result->frame = kFrameGlobalRelativeAltitude;
    return result;
}

void mercatorDistanceAndDirection(f64 result[3], Vec2 a, Vec2 b) {
    f64 bx = b.x - std::trunc(b.x - a.x);
    while (bx - a.x > 0.5) bx -= 1.0;
    while (bx - a.x < -0.5) bx += 1.0;
    f64 dx = bx - a.x;
    f64 dy = b.y - a.y;
    f64 d = std::sqrt(dx * dx + dy * dy);
    f64 midY = (a.y + b.y) / 2.0;
    f64 midLatitude = (std::atan(std::exp(2.0 * kPi * midY)) - kPi / 4.0) * 360.0 / kPi;
    result[0] = metersPerDegreeLongitude(midLatitude) * 360.0 * d;
    result[1] = d > 0 ? dx / d : 0.0;
    result[2] = d > 0 ? dy / d : 0.0;
}

void clearPlanUploadMarks(WaypointMissionEditor* plan) {
    for (i32 i = 0; i < planCount(plan); i++) markPlanWaypoint(plan, i, 0, 0);
}

void buildMissionItemList(MissionItemList* list, WaypointMissionEditor* plan, const VehicleState* vehicle,
                          const Preferences* preferences, f64 cruiseSpeed, u32 withSpeedItem) {
    list->count = 0;
    list->nextRequested = 0xFFFF;
    clearPlanUploadMarks(plan);
    i32 count = planCount(plan);
    if (count <= 0) return;
    if (withSpeedItem) {
        MissionItem speed{};
        speed.command = kDoChangeSpeed;
        speed.frame = kFrameMission;
        speed.param1 = 1;
        speed.param2 = (f32)cruiseSpeed;
        speed.param3 = -1;
        addItem(list, speed);
    }
    bool safePath = preferences->verticalFlightPathToFirstWaypoint == VerticalFlightPathSafe;
    if (safePath) {
        f64 current = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
        f64 first = planAltitude(plan, 0);
        MissionItem item;
        if (current > first + 1.0) {
            addItem(list, *makeWaypointMissionItem(&item, 1, NAN, planPoint(plan, 0), current, vehicle));
        } else if (current < first - 1.0) {
            Vec2 here = mercatorFromDegrees(vehicle->globalPosition.longitude, vehicle->globalPosition.latitude);
            addItem(list, *makeWaypointMissionItem(&item, 1, NAN, here, first, vehicle));
        }
    }
    // Room for the waypoints and the last one again.
    i32 cap = preferences->maxWaypointsToUpload > 0 ? preferences->maxWaypointsToUpload : 1;
    i32 room = kMaxMissionItems - list->count - 1;
    if (count > cap) count = cap;
    if (count > room) count = room;
    f64 curveRange = preferences->waypointCurveRange;
    for (i32 i = 0; i < count; i++) {
        f64 radius = curveRange;
        f64 leg[3];
        if (i + 1 < count) {
            mercatorDistanceAndDirection(leg, planPoint(plan, i), planPoint(plan, i + 1));
            radius = std::fmin(radius, leg[0] / 2.0);
        }
        if (i > 0) {
            mercatorDistanceAndDirection(leg, planPoint(plan, i - 1), planPoint(plan, i));
            radius = std::fmin(radius, leg[0] / 2.0);
        }
        radius = std::fmax(1.0, radius);
        MissionItem item;
        makeWaypointMissionItem(&item, (f32)radius, NAN, planPoint(plan, i), planAltitude(plan, i), vehicle);
        markPlanWaypoint(plan, i, i == 0 && safePath ? 2 : 1, list->count);
        addItem(list, item);
    }
    MissionItem last;
    addItem(list, *makeWaypointMissionItem(&last, 1, NAN, planPoint(plan, count - 1), planAltitude(plan, count - 1),
                                           vehicle));
}

void sendVehicleMessage(u32 messageId, ByteWriter* payload, ByteWriter* slot, DroneOutput* output, u64 now) {
    if (!slot) return;
    i32 base = mavlinkMinimumPayloadLength(messageId);
    bool extended = false;
    for (i64 i = base < 0 ? 0 : base; i < payload->length; i++) extended = extended || payload->data[i] != 0;
    u32 forceVersion2 = messageId > 255 || extended || base < 0;
    ByteWriter trimmed = *payload;
    if (!forceVersion2 && trimmed.length > base) trimmed.length = base;
    sendMavlinkMessage(forceVersion2, messageId, &trimmed, slot, output->sequence, output->source, output->stats, now);
}

u32 serveMissionRequest(const MavlinkMessage* message, MissionItemList* list, u16 vehicleId, DroneOutput* output,
                        u64 now, u16* index) {
    const u8* p = message->payload;
    u16 seq = mavlinkU16(p);
    u16 target = (u16)(p[2] << 8 | p[3]);
    if (target != output->source || p[4] != 0 || seq >= list->count) return 0;
    *index = seq;
    list->nextRequested = seq;
    const MissionItem* item = &list->items[seq];
    ByteWriter* slot = reserveDroneOutput(output);
    u8 bytes[38];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendF32Le(item->param1, &payload);
    appendF32Le(item->param2, &payload);
    appendF32Le(item->param3, &payload);
    appendF32Le(item->param4, &payload);
    bool integer = message->messageId == kMissionRequestInt;
    if (integer) {
        appendU32Le((u32)(i32)std::lround(item->latitude * 1e7), &payload);
        appendU32Le((u32)(i32)std::lround(item->longitude * 1e7), &payload);
    } else {
        appendF32Le((f32)item->latitude, &payload);
        appendF32Le((f32)item->longitude, &payload);
    }
    appendF32Le(item->altitude, &payload);
    appendU16Le(seq, &payload);
    appendU16Le(item->command, &payload);
    appendU8((u8)(vehicleId >> 8), &payload);
    appendU8((u8)vehicleId, &payload);
    appendU8(item->frame, &payload);
    appendU8(0, &payload);  // current
    appendU8(1, &payload);  // autocontinue
    appendU8(0, &payload);  // mission type
    sendVehicleMessage(integer ? kMissionItemInt : kMissionItem, &payload, slot, output, now);
    return 1;
}

FixedString missionUploadFailureText(u8 type, const MissionItemList* list) {
    switch (type) {
    case 1: return makeString("Upload Failed (Generic Error / Not accepting mission commands at all right now)");
    case 2: return makeString("Upload Failed (Coordinate Frame is not supported)");
    case 4: return makeString("Upload Failed (Mission items exceed storage space)");
    case 13: return makeString("Upload Failed (Mission item received out of sequence)");
    case 14: return makeString("Upload Failed (Denied)");
    case 15: return makeString("Upload Failed (Cancelled)");
    default: break;
    }
    if (list->nextRequested >= list->count) return formatInt("Upload Failed (Unrecognized error @)", type);
    const MissionItem* last = &list->items[list->nextRequested];
    if (type == 3) return formatInt("Upload Failed (Command @ not supported)", last->command);
    if (last->command == kNavWaypoint) {
        i64 number = 0;
        for (i32 i = 0; i <= list->nextRequested; i++) number += list->items[i].command == kNavWaypoint;
        static const char* const kWaypointTexts[] = {
            "Upload Failed (One of the parameters of WP @ has an invalid value)",
            "Upload Failed (Hold Time of WP @ has an invalid value)",
            "Upload Failed (Accept Radius of WP @ has an invalid value)",
            "Upload Failed (Pass Radius of WP @ has an invalid value)",
            "Upload Failed (Yaw Angle of WP @ has an invalid value)",
            "Upload Failed (Latitude of WP @ has an invalid value)",
            "Upload Failed (Longitude of WP @ has an invalid value)",
            "Upload Failed (Altitude of WP @ has an invalid value)",
        };
        if (type >= 5 && type <= 12) return formatInt(kWaypointTexts[type - 5], number);
        return formatIntInt("Upload Failed (Unrecognized error @ after uploading WP @)", type, number);
    }
    static const char* const kItemTexts[] = {
        "Upload Failed (One of the parameters has an invalid value)", "Upload Failed (Param 1 has an invalid value)",
        "Upload Failed (Param 2 has an invalid value)", "Upload Failed (Param 3 has an invalid value)",
        "Upload Failed (Param 4 has an invalid value)", "Upload Failed (X has an invalid value)",
        "Upload Failed (Y has an invalid value)", "Upload Failed (Z has an invalid value)",
    };
    if (type >= 5 && type <= 12) return makeString(kItemTexts[type - 5]);
    return formatInt("Upload Failed (Unrecognized error @)", type);
}
