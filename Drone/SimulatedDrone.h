// The simulated drone: a PX4 multicopter (MAVLink system 1, component 1) inside the program that
// speaks MAVLink 1 over UDP on the local machine, so that the whole program can be flown without
// hardware. It keeps the PX4 parameters the program edits, takes mission uploads and flies them,
// returns home, flies by the game pad's sticks in the other modes and carries the simulated payload
// devices (SimulatedPayloads.h).
//
// Use: keep one zero-filled SimulatedDrone for the life of the program and call
// controlSimulatedPx4Drone once per frame, after the drone connection's step, from the frame the
// simulator is switched on until the program ends. The drone connection then talks to 127.0.0.1 at
// the drone's port. The first call initialises the record (parameters, standby on the ground,
// position control mode) from the takeoff location of the preferences.
//
// Switching it off: close its three sockets and zero the record (keeping localPorts); the next call
// starts it afresh, as on the first frame.
//
// What a screen may read between frames (all plain fields below): east, north, altitude and heading
// for the position; systemStatus (3 standby, 4 active) and landedState (1 on ground, 2 in air, 3
// taking off, 4 landing); mainMode / subMode (3/0 position control, 4/2 take-off, 4/3 hold, 4/4
// mission, 4/5 return, 4/6 land); storedCount and currentItem for the mission; groundStation.family
// != 0 once the program has been heard; the payload device records.
//
// Commands (COMMAND_LONG to system 1, component 1), each answered with a COMMAND_ACK as PX4 answers:
// DO_SET_MODE takes any mode pair, but take-off and land are denied while disarmed; take-off climbs
// to MIS_TAKEOFF_ALT (2.5 m while it is not set) and holds there, land descends at 1 m/s and disarms
// on the ground. COMPONENT_ARM_DISARM disarms on the ground and is denied in the air unless forced
// (21196, the emergency disarm: the drone then falls); arming stays with the sticks (unsupported).
// Reboot is taken while disarmed (the simulator comes back at once) and denied while armed; any other
// command is unsupported.
//
// Flying by sticks: left X > 0.6 with left Y < -0.6 held for over 1 s arms (standby -> active; a drone
// that landed in land or return mode is armed into position control); left Y < -0.9 held for over
// 1 s while not climbing disarms. Right stick flies horizontally (Y forward along the heading, X to
// the right) at up to 15 m/s, left Y climbs at up to 3 m/s, left X turns at up to 90 degrees per
// second. Input code 238 going down toggles return-to-home.
#pragma once
#include "Drone/FlightController/AutopilotState.h"
#include "Drone/SimulatedPayloads.h"

struct GamepadState;
struct InputState;
struct ElevationMapLoader;
struct Preferences;

constexpr u16 kSimulatorDronePort = 50403;
constexpr u16 kSimulatorVoskPorts[2] = {50404, 50405};
constexpr u16 kSimulatedVehicleSource = 1 << 8 | 1;
constexpr i32 kSimulatedMissionItems = 103;
constexpr u32 kSimulatorReturnToggleCode = 238;

enum SimulatedPeriodicMessage : u32 {
    SimulatedHeartbeat = 0,
    SimulatedSysStatus,
    SimulatedExtendedSysState,
    SimulatedGpsRawInt,
    SimulatedAttitude,
    SimulatedGlobalPositionInt,
    SimulatedHomePosition,
    SimulatedMissionRequest,
    kSimulatedPeriodicMessages,
};

// One stored mission item, in the order of MISSION_ITEM_INT's fields.
struct SimulatedMissionItem {
    f32 params[4];
    i32 latitude;   // degrees x 1e7
    i32 longitude;  // degrees x 1e7
    f32 altitude;   // m above takeoff
    u16 sequence;
    u16 command;
    u8 frame;
    u8 autocontinue;
};

struct SimulatedDrone {
    // Parameter values in the order of Px4ParameterNames: slots 0-61 i32, 62-83 f32, as 4 raw bytes.
    u32 parameters[kPx4Parameters];
    // Position relative to the takeoff location.
    f64 east;     // m
    f64 north;    // m
    f64 altitude;  // m above takeoff
    f64 heading;  // rad clockwise from north, not wrapped
    u64 lastUpdateTime;  // 0 until the first call
    u64 bootTime;
    u8 systemStatus;  // MAV_STATE: 3 standby, 4 active
    u8 landedState;   // MAV_LANDED_STATE: 1 on ground, 2 in air
    u8 mainMode;      // PX4 main mode: 3 position control, 4 auto
    u8 subMode;       // with main mode 4: 4 mission, 5 return
    u64 sendTimers[kSimulatedPeriodicMessages];
    u64 armGestureStart;
    u64 disarmGestureStart;
    u8 sequence;  // MAVLink sequence of the vehicle's own messages
    AddressRecord groundStation;  // from its HEARTBEAT; family 0 until then
    u16 groundStationId;          // system << 8 | component
    SimulatedOrvikFirmware orvik;
    SimulatedVoskUnit vosk[2];  // primary, secondary
    SimulatedStrobeLight strobe;
    // Mission upload in progress: expectedCount > 0.
    u16 expectedCount;
    u64 receivedMask[2];  // bit n: item n has arrived
    // Reported position, refreshed every frame.
    f64 longitude;
    f64 latitude;
    // Mission execution.
    i32 currentItem;
    f64 missionSpeed;  // m/s
    u16 storedCount;
    SimulatedMissionItem items[kSimulatedMissionItems];
    // This frame's velocities (m/s) and attitude (rad), as reported.
    f64 velocityEast;
    f64 velocityNorth;
    f64 velocityUp;
    f64 roll;
    f64 pitch;
    // Local UDP ports of the drone and the two VOSK units; 0 takes the standard 50403, 50404, 50405
    // (tests choose their own so that several can run at once).
    u16 localPorts[3];
    // The ground under the drone, m above the takeoff location, as of the last step.
    f64 groundAltitude;
    f64 returnHoverSeconds;  // how long the return has hovered over home before its landing
};

// One simulation step at `now` (microseconds on the program's monotonic clock): motion, arming,
// the return toggle, every datagram waiting on the three sockets, the payload devices and the
// periodic messages. `loader` gives the terrain floor (null or no raster: flat ground at the takeoff
// height). Socket 0 ("Simulator") is the drone's, sockets 1 and 2 ("Simulator KTQ Primary" and
// "Secondary") the VOSK units'; with "Simulate VOSK" off they are closed.
void controlSimulatedPx4Drone(SimulatedDrone* drone, const GamepadState* gamepad, const InputState* input,
                              const ElevationMapLoader* loader, const Preferences* preferences, Socket* simulatorSocket,
                              Socket* primaryPayloadSocket, Socket* secondaryPayloadSocket, u64 now);

// ---------------------------------------------------------------------------------------------------
// The parts of the step, for tests and tools.

// Initial parameters, standby on the ground, position control.
void initialiseSimulatedDrone(SimulatedDrone* drone, u64 now);
// Moves the drone by dt seconds (nothing when dt <= 0) by its mode: take-off, land, return, mission
// or sticks; disarmed above the ground it falls.
// `sticks` holds left X, left Y, right X, right Y in [-1, 1]; `socket` takes MISSION_CURRENT (may be
// null). Returns nothing; the position, velocities and mode fields change.
void moveSimulatedDrone(SimulatedDrone* drone, const f32 sticks[4], f64 dt, f64 takeoffLongitude,
                        f64 takeoffLatitude, Socket* socket);
// The stick gestures: arming and disarming after 1 s held.
void updateSimulatedArming(SimulatedDrone* drone, const f32 sticks[4], u64 now);
// One message from the ground station, decoded on socket 0; answers go through the socket.
void handleSimulatedDroneMessage(SimulatedDrone* drone, const MavlinkMessage* message, const AddressRecord* source,
                                 const Preferences* preferences, Socket* socket, u64 now);
