// PX4 and ArduCopter message handling and control, as the drone connection calls them, and the
// mission item list that both autopilots upload.
#pragma once
#include "Core/GeometryTypes.h"
#include "Drone/FlightController/AutopilotState.h"

struct MavlinkMessage;
struct DroneOutput;
struct VehicleState;
struct WaypointMissionEditor;
struct TransectRegion;
struct SoundQueue;
struct FlightLogger;
struct Preferences;
struct GamepadState;
struct InputState;

// What the per-frame control of an autopilot reads besides its own state.
struct AutopilotFrame {
    VehicleState* vehicle;
    WaypointMissionEditor* plan;  // null: no plan
    const TransectRegion* transect;  // the plan's transect, logged with a started mission; null: none
    SoundQueue* sounds;           // null: silent
    FlightLogger* logger;         // null in replay
    const Preferences* preferences;
    DroneOutput* output;           // the drone output of this frame (socket or sink)
    u32 outputWithheld;            // the output goes to the sink: a relay peer controls
    const GamepadState* gamepad;   // null: no controller
    const InputState* input;       // null: no keys
    u64 now;                       // monotonic us
    i64 utcMilliseconds;           // system clock, ms since 1601-01-01 UTC
};

// ---------------------------------------------------------------------------------------------------
// PX4

// Takes the messages of the followed PX4 vehicle that keep the PX4 state (HEARTBEAT modes,
// EXTENDED_SYS_STATE, PARAM_VALUE, the mission protocol, Remote ID, MISSION_ITEM_REACHED,
// COMMAND_ACK) and
// answers the vehicle's mission requests through the output; 1 when taken. Telemetry is left to the
// telemetry decoder.
u32 handlePx4Message(const MavlinkMessage* message, Px4State* px4, VehicleState* vehicle, WaypointMissionEditor* plan,
                     DroneOutput* output, u64 now);

// The per-frame sending side for a PX4 vehicle: tones, parameters, Remote ID, the mission poll,
// upload and start, flight actions and MANUAL_CONTROL.
void controlPx4(Px4State* px4, const AutopilotFrame* frame);
// The part of it a flight-log replay runs: the mode and GPS tones. Everything else of it sends.
void playPx4Tones(Px4State* px4, const AutopilotFrame* frame);

// The flight actions' names, in the order of their requests (Px4FlightAction, ArduCopterFlightAction).
extern const char* const kPx4FlightActionNames[kPx4FlightActions];
extern const char* const kArduCopterFlightActionNames[kArduCopterFlightActions];

// PX4 custom modes.
constexpr u8 kPx4MainAltctl = 2;
constexpr u8 kPx4MainPosctl = 3;
constexpr u8 kPx4MainAuto = 4;
constexpr u8 kPx4SubReady = 1;
constexpr u8 kPx4SubTakeoff = 2;
constexpr u8 kPx4SubLoiter = 3;
constexpr u8 kPx4SubMission = 4;
constexpr u8 kPx4SubRtl = 5;
constexpr u8 kPx4SubLand = 6;

// Time-outs of the mission work.
constexpr u64 kMissionStepTimeout = 3000000;      // stop, learn and clear steps
constexpr u64 kMissionUploadTimeout = 5000000;    // no progress of an upload or a start
constexpr u64 kMissionResendInterval = 250000;    // a silent vehicle gets the count or last item again
constexpr u64 kMissionCommandInterval = 500000;   // DO_SET_MODE and the clear messages
constexpr u64 kMissionListRequestInterval = 1000000;

// The text when an upload made no progress for kMissionUploadTimeout.
extern const char kUploadTimedOutText[];
// The text when an accepted mission did not start within kMissionUploadTimeout.
extern const char kStartTimedOutText[];

// ---------------------------------------------------------------------------------------------------
// The mission item list (shared by both autopilots).

// A NAV_WAYPOINT in MAV_FRAME_GLOBAL_RELATIVE_ALT at a normalised Web-Mercator point; the altitude
// minus the vehicle's altitude offset.
MissionItem* makeWaypointMissionItem(MissionItem* result, f32 param2, f32 param4, Vec2 point, f64 altitude,
                                     const VehicleState* vehicle);
// {distance in metres, unit direction x, unit direction y} from a to b; b's x moved by whole turns
// to lie within half a turn of a's. The direction is {0, 0} when the points coincide.
void mercatorDistanceAndDirection(f64 result[3], Vec2 a, Vec2 b);

// Builds the upload list from the plan: DO_CHANGE_SPEED (when withSpeedItem), the level or vertical
// waypoint of the "Safe" path, every waypoint (up to the preference's cap) and the last waypoint once
// more. Marks the uploaded waypoints with their item index. The count stays within 102.
void buildMissionItemList(MissionItemList* list, WaypointMissionEditor* plan, const VehicleState* vehicle,
                          const Preferences* preferences, f64 cruiseSpeed, u32 withSpeedItem);
// Clears the upload marks of every waypoint of the plan.
void clearPlanUploadMarks(WaypointMissionEditor* plan);

// Serves one MISSION_REQUEST (40) or MISSION_REQUEST_INT (51) from the list when it is addressed to
// the output's own source, for mission type 0 and within the list: MISSION_ITEM or MISSION_ITEM_INT to
// the vehicle. Returns 1 when the request named an item of the list (served or not for lack of a send
// slot), with the index in *index.
u32 serveMissionRequest(const MavlinkMessage* message, MissionItemList* list, u16 vehicleId, DroneOutput* output,
                        u64 now, u16* index);
// The status text of a refused upload (MISSION_ACK type other than 0), by the last requested item.
FixedString missionUploadFailureText(u8 type, const MissionItemList* list);

// Frames a payload to the vehicle: MAVLink 1 with the message's base fields when the extension
// fields are zero and the id allows it, else MAVLink 2. Nothing when slot is null.
void sendVehicleMessage(u32 messageId, ByteWriter* payload, ByteWriter* slot, DroneOutput* output, u64 now);

// The OPEN_DRONE_ID_SYSTEM payload (54 bytes) with the operator location: on the ground the
// vehicle's global position when known, else (and in the air) the take-off or home position, plus
// the position offset; the timestamp in seconds since 2019-01-01 UTC by the system clock. False, and
// nothing written, when the position it needs is not known.
bool writeOperatorLocationPayload(ByteWriter* payload, const VehicleState* vehicle, i64 utcMilliseconds,
                                  u8 targetSystem, u8 targetComponent);

// ---------------------------------------------------------------------------------------------------
// ArduCopter

// ArduCopter flight modes (the HEARTBEAT's custom mode).
constexpr u32 kArduCopterModeAuto = 3;
constexpr u32 kArduCopterModeRtl = 6;
constexpr u32 kArduCopterModeLand = 9;
constexpr u32 kArduCopterModePoshold = 16;
constexpr i32 kArduCopterModeNames = 28;

// The mode's name ("POSHOLD"), or null for a number without one.
const char* arduCopterModeName(u32 customMode);

// The pre-arm text after which the vehicle is sent its basic ID.
extern const char kBasicIdPrearmText[];

// Takes the messages of the followed ArduCopter vehicle that keep its state: the HEARTBEAT (mode,
// MAV_STATE, landed state, state text "ACTIVE - POSHOLD"), the mission protocol (items served during
// an upload, the vehicle's mission count, the upload's result in words), COMMAND_ACK (a refusal in
// words); 1 when taken. A STATUSTEXT
// is not taken, but the basic-ID pre-arm text sets the basic-ID request while a Remote ID type is set.
u32 handleArduCopterMessage(const MavlinkMessage* message, ArduCopterState* arduCopter, VehicleState* vehicle,
                            WaypointMissionEditor* plan, DroneOutput* output, u64 now);

// The per-frame sending side for an ArduCopter vehicle: the message rates it does not stream on its
// own, OPEN_DRONE_ID_SYSTEM, the mission poll, upload and start (AUTO, and POSHOLD to stop), the
// basic ID, and the flight actions. A requested action or basic ID stays requested until it has a
// place in the send queue.
void controlArduCopter(ArduCopterState* arduCopter, const AutopilotFrame* frame);

// Message-rate requests: SET_MESSAGE_INTERVAL at most once a second while the vehicle's HEARTBEAT is
// younger than this, for every stream that has stopped.
constexpr u64 kMessageRateRequestInterval = 1000000;
constexpr u64 kMessageRateHeartbeatFreshness = 4000000;
