#include "Drone/FlightController/Parameters.h"

#include "Mavlink/DroneOutput.h"
#include "Mavlink/VehicleState.h"

#include <cstring>

// The table. Between the fixed ends sit the parameters that the setup screens edit: the yaw mode of
// the fly screen, the three MAVLink instances and the serial-port baud rates of the PX4 serial-port
// screens, and the failsafe, circuit-breaker, flight-mode, RC-mapping and logging settings of the PX4
// flight controller screen; then the REAL32 battery, return, speed, tilt and mission limits.
namespace {

constexpr const char* kParameterNames[kPx4Parameters] = {
    // INT32
    "CBRK_PARAMBLOCK", "COM_LOW_BAT_ACT", "NAV_RCL_ACT", "NAV_DLL_ACT", "NAV_TRAFF_AVOID", "COM_RC_OVERRIDE",
    "MPC_YAW_MODE",
    "MAV_0_CONFIG", "MAV_0_MODE", "MAV_0_RATE", "MAV_0_FORWARD",
    "MAV_1_CONFIG", "MAV_1_MODE", "MAV_1_RATE", "MAV_1_FORWARD",
    "MAV_2_CONFIG", "MAV_2_MODE", "MAV_2_RATE", "MAV_2_FORWARD",
    "SER_TEL1_BAUD", "SER_TEL2_BAUD", "SER_GPS1_BAUD",
    "COM_RC_IN_MODE", "COM_ARM_WO_GPS", "COM_OBL_RC_ACT", "COM_DL_LOSS_T",
    "COM_FLTMODE1", "COM_FLTMODE2", "COM_FLTMODE3", "COM_FLTMODE4", "COM_FLTMODE5", "COM_FLTMODE6",
    "RTL_TYPE", "GF_ACTION", "GF_PREDICT", "CBRK_SUPPLY_CHK", "CBRK_USB_CHK", "CBRK_IO_SAFETY",
    "COM_PREARM_MODE", "SYS_AUTOSTART", "BAT1_N_CELLS", "BAT1_SOURCE",
    "RC_MAP_ROLL", "RC_MAP_PITCH", "RC_MAP_YAW", "RC_MAP_THROTTLE", "RC_MAP_FLTMODE", "RC_MAP_KILL_SW",
    "RC_MAP_RETURN_SW", "COM_POSCTL_NAVL", "COM_ARM_MAG_STR", "SDLOG_MODE", "SDLOG_PROFILE", "SYS_HAS_MAG",
    "COM_ARM_SWISBTN", "MIS_TKO_LAND_REQ", "COM_ARM_CHK_ESCS", "SYS_HAS_BARO",
    "BOOM4_COLOR", "BOOM1_COLOR", "BOOM2_COLOR", "BOOM3_COLOR",
    // REAL32
    "BAT_LOW_THR", "BAT_CRIT_THR", "BAT_EMERGEN_THR", "RTL_RETURN_ALT", "RTL_LAND_DELAY", "MPC_XY_CRUISE",
    "COM_RC_STICK_OV", "MPC_MAN_TILT_MAX", "MPC_TILTMAX_AIR", "MPC_Z_VEL_MAX_DN", "MPC_YAW_EXPO",
    "MPC_XY_VEL_MAX", "MPC_Z_VEL_MAX_UP", "MPC_LAND_SPEED", "MPC_TKO_SPEED", "MIS_TAKEOFF_ALT",
    "GF_MAX_HOR_DIST", "GF_MAX_VER_DIST", "COM_RC_LOSS_T", "COM_DISARM_LAND",
    "MIS_DIST_WPS", "MIS_DIST_1WP",
};

// The ids as 16 zero-padded bytes (a 16-character id has no terminating zero).
struct ParameterNameTable {
    char ids[kPx4Parameters][kParameterNameBytes];
};
constexpr ParameterNameTable makeParameterNameTable() {
    ParameterNameTable table{};
    for (i32 i = 0; i < kPx4Parameters; i++) {
        for (i32 j = 0; j < kParameterNameBytes && kParameterNames[i][j]; j++) table.ids[i][j] = kParameterNames[i][j];
    }
    return table;
}
constexpr ParameterNameTable kParameterNameTable = makeParameterNameTable();

constexpr u8 kParamTypeInt32 = 6;
constexpr u8 kParamTypeReal32 = 9;
constexpr u32 kParamRequestRead = 20;
constexpr u32 kParamSet = 23;

u32 bytesOfFloat(f32 value) {
    u32 bytes;
    std::memcpy(&bytes, &value, 4);
    return bytes;
}

void appendName(const char* name, ByteWriter* writer) {
    u8 id[kParameterNameBytes] = {};
    std::memcpy(id, name, strnlen(name, kParameterNameBytes));
    appendBytes(id, kParameterNameBytes, writer);
}

bool reportedSinceChange(const ParameterSlot* slot) {
    return slot->received && slot->receiveTime >= slot->changeTime && slot->value == slot->wanted;
}

void syncParameter(ParameterSlot* slot, const char* name, u8 type, u16 target, DroneOutput* output, u64 now,
                   FlightLogger* logger) {
    if (!droneOutputSends(output)) return;
    registerFlightLogEntry(logger, &slot->logEntry);
    i64 sinceSend = (i64)now - slot->lastSendTime;
    bool changing = slot->changeTime != 0 && now - slot->changeTime < kParameterSetDuration && !reportedSinceChange(slot);
    if (changing) {
        if (sinceSend <= (i64)kParameterSetInterval) return;
        ByteWriter* out = reserveDroneOutput(output);
        if (!out) return;
        u8 bytes[23];
        ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
        appendU32Le(slot->wanted, &payload);
        appendU8((u8)(target >> 8), &payload);
        appendU8((u8)target, &payload);
        appendName(name, &payload);
        appendU8(type, &payload);
        sendMavlinkMessage(0, kParamSet, &payload, out, output->sequence, output->source, output->stats, now);
        slot->lastSendTime = (i64)now;
        return;
    }
    bool shown = slot->viewedTime != 0 && now - slot->viewedTime < kParameterReadDuration;
    if (!shown || sinceSend <= (i64)kParameterReadInterval) return;
    ByteWriter* out = reserveDroneOutput(output);
    if (!out) return;
    u8 bytes[20];
    ByteWriter payload = makeByteWriter(bytes, sizeof(bytes));
    appendU16Le(0xFFFF, &payload);  // by name
    appendU8((u8)(target >> 8), &payload);
    appendU8((u8)target, &payload);
    appendName(name, &payload);
    sendMavlinkMessage(0, kParamRequestRead, &payload, out, output->sequence, output->source, output->stats, now);
    slot->lastSendTime = (i64)now;
}

}  // namespace

const char (&Px4ParameterNames)[kPx4Parameters][kParameterNameBytes] = kParameterNameTable.ids;

i32 parameterInt(u32 bytes) { return (i32)bytes; }
f32 parameterFloat(u32 bytes) {
    f32 value;
    std::memcpy(&value, &bytes, 4);
    return value;
}
u32 parameterBytesFromInt(i32 value) { return (u32)value; }
u32 parameterBytesFromFloat(f32 value) { return bytesOfFloat(value); }

i32 px4ParameterSlot(const u8* id) {
    for (i32 i = 0; i < kPx4Parameters; i++) {
        if (std::memcmp(Px4ParameterNames[i], id, kParameterNameBytes) == 0) return i;
    }
    return -1;
}

i32 px4ParameterSlotByName(const char* name) {
    u8 id[kParameterNameBytes] = {};
    std::memcpy(id, name, strnlen(name, kParameterNameBytes));
    return px4ParameterSlot(id);
}

void editParameter(ParameterSlot* slot, u32 wantedBytes, u64 now) {
    slot->wanted = wantedBytes;
    slot->changeTime = now;
    slot->lastSendTime = kParameterSendNow;
}

void storeParamValue(ParameterSlot* slot, u32 valueBytes, u16 index, u64 now, const MavlinkMessage* message) {
    bool changing = slot->changeTime != 0 && now - slot->changeTime < kParameterSetDuration;
    slot->value = valueBytes;
    if (!changing) slot->wanted = valueBytes;
    slot->index = index;
    slot->received = 1;
    slot->receiveTime = now;
    MavlinkFrameCopy copy;
    copyMavlinkPayload(&copy, message, slot->frame, sizeof(slot->frame), now);
    slot->logEntry.time = (i64)now;
    slot->logEntry.type = FlightLogReceivedFromDrone;
    slot->logEntry.payload = copy.writer;
    if (copy.writer.overflow) slot->logEntry.payload = ByteWriter{};
}

void syncParamInt(ParameterSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now,
                  FlightLogger* logger) {
    syncParameter(slot, name, kParamTypeInt32, target, output, now, logger);
}

void syncParamFloat(ParameterSlot* slot, const char* name, u16 target, DroneOutput* output, u64 now,
                    FlightLogger* logger) {
    syncParameter(slot, name, kParamTypeReal32, target, output, now, logger);
}
