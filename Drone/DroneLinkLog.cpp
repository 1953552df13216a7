#include "Drone/DroneLinkLog.h"

namespace {

struct RememberedMessage {
    u32 group;
    u32 messageId;
};

// HEARTBEAT, SYS_STATUS, GPS_RAW_INT, GLOBAL_POSITION_INT, BATTERY_STATUS, AUTOPILOT_VERSION,
// HOME_POSITION, EXTENDED_SYS_STATE; CAMERA_INFORMATION, VIDEO_STREAM_INFORMATION; RADIO_STATUS.
constexpr RememberedMessage kRemembered[kLinkLogRecords] = {
    {LinkLogVehicle, 0},   {LinkLogVehicle, 1},   {LinkLogVehicle, 24},  {LinkLogVehicle, 33},
    {LinkLogVehicle, 147}, {LinkLogVehicle, 148}, {LinkLogVehicle, 242}, {LinkLogVehicle, 245},
    {LinkLogCamera, 259},  {LinkLogCamera, 269},  {LinkLogRadio, 109},
};

}  // namespace

void rememberLinkLogMessage(LinkLogRecords* records, u32 group, const MavlinkMessage* message, u8 type, u64 now) {
    for (i32 i = 0; i < kLinkLogRecords; i++) {
        if (kRemembered[i].group != group || kRemembered[i].messageId != message->messageId) continue;
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
