#include "Drone/DroneLinkLog.h"

namespace {

struct RememberedMessage {
    u32 group;
    u32 messageId;
};

constexpr u8 kMavTypeCamera = 30;

// HEARTBEAT, SYS_STATUS, GPS_RAW_INT, GLOBAL_POSITION_INT, BATTERY_STATUS, AUTOPILOT_VERSION,
// HOME_POSITION, EXTENDED_SYS_STATE; the camera's HEARTBEAT, CAMERA_INFORMATION,
// VIDEO_STREAM_INFORMATION; RADIO_STATUS. Within a group the records are registered in this order,
// so a log names the camera before it describes it.
constexpr RememberedMessage kRemembered[kLinkLogRecords] = {
    {LinkLogVehicle, 0},   {LinkLogVehicle, 1},   {LinkLogVehicle, 24},  {LinkLogVehicle, 33},
    {LinkLogVehicle, 147}, {LinkLogVehicle, 148}, {LinkLogVehicle, 242}, {LinkLogVehicle, 245},
    {LinkLogCamera, 0},    {LinkLogCamera, 259},  {LinkLogCamera, 269},  {LinkLogRadio, 109},
};

// The camera group's HEARTBEAT is a camera's own (its type byte MAV_TYPE_CAMERA), not the vehicle's
// or another ground station's.
bool isRemembered(const RememberedMessage& remembered, u32 group, const MavlinkMessage* message) {
    if (remembered.group != group || remembered.messageId != message->messageId) return false;
    return group != LinkLogCamera || message->messageId != 0 || message->payload[4] == kMavTypeCamera;
}

}  // namespace

void rememberLinkLogMessage(LinkLogRecords* records, u32 group, const MavlinkMessage* message, u8 type, u64 now) {
    for (i32 i = 0; i < kLinkLogRecords; i++) {
        if (!isRemembered(kRemembered[i], group, message)) continue;
        MavlinkFrameCopy copy;
        copyMavlinkPayload(&copy, message, records->frames[i], kLinkLogFrameBytes, now);
        FlightLogEntryRecord* record = &records->records[i];
        record->time = static_cast<i64>(now);
        record->type = type;
        record->payload = copy.writer.overflow ? ByteWriter{} : copy.writer;
        return;
    }
}

void registerLinkLogRecords(LinkLogRecords* records, u32 group, FlightLogger* logger) {
    if (!logger) return;
    for (i32 i = 0; i < kLinkLogRecords; i++) {
        if (kRemembered[i].group == group) registerFlightLogEntry(logger, &records->records[i]);
    }
}
