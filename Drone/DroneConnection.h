// The per-frame drone connection: finds the drone on the network, locks on to its vehicle, follows
// its telemetry, logs and relays every datagram of the drone and sends the ground station's HEARTBEAT.
#pragma once
#include "Core/Preferences.h"
#include "Drone/AirTraffic.h"
#include "Drone/DroneLinkLog.h"
#include "Drone/FlightController/AutopilotState.h"
#include "Drone/GremsyGimbal.h"
#include "Mavlink/DroneOutput.h"
#include "Mavlink/SourceTraffic.h"
#include "Network/SecureLink.h"
#include "Drone/TarnwickPayloads/PayloadLink.h"
#include "Mavlink/VehicleState.h"
#include "Network/Socket.h"

struct FlightLogger;
struct SoundQueue;
struct WaypointMissionEditor;
struct TransectRegion;
struct OrvikGeofence;
struct GamepadState;
struct InputState;

// The simulated drone's UDP port and its two simulated payload units.
constexpr u16 kSimulatedDronePort = 50403;
constexpr u16 kSimulatedVoskPortA = 50404;
constexpr u16 kSimulatedVoskPortB = 50405;
// The local port of the drone socket while the simulator runs.
constexpr u16 kSimulatorLinkLocalPort = 14550;
constexpr u16 kCameraPort = 10024;

constexpr u64 kGcsHeartbeatInterval = 1000000;
constexpr u64 kRelayControlHoldTime = 1300000;
// A flight action not queued to the drone this long after it was asked for is dropped.
constexpr u64 kFlightActionDeadline = 2000000;
// A locked vehicle keeps the lock while it is heard; another aircraft takes over only after this
// long without a message from it. With autodetect the vehicle's endpoint is held the same way: its
// ids from another address or port count only once the locked endpoint has been silent this long.
constexpr u64 kVehicleLockHoldTime = 3000000;
constexpr u64 kLowAltitudeAlertInterval = 1000000;
// Datagrams taken from one socket in one frame at most, so a flood cannot hold the frame.
constexpr i32 kMaxDatagramsPerFrame = 256;

enum DroneTrafficLink : u32 {
    TrafficDroneLink = 0,
    TrafficCameraLink = 1,
    TrafficRelay = 2,
    TrafficSink = 3,
    TrafficSpareA = 4,
    TrafficSpareB = 5,
    kDroneTrafficLinks = 6,
};

// Ground height in metres at a point, NaN when not known.
typedef f64 (*ElevationLookup)(void* context, f64 longitude, f64 latitude);

struct DroneConnection {
    AddressRecord droneEndpoint;  // where the app's MAVLink goes
    u64 endpointHeardTime;  // autodetect: last message of the locked vehicle from droneEndpoint, 0 before
    VehicleState vehicle;
    MavlinkTrafficStats traffic[kDroneTrafficLinks];
    MavlinkSourceTable droneSources;  // the drone link's traffic per source; its count is the components heard
    MavlinkMessage droneReader;   // the drone stream's reader state
    MavlinkMessage cameraReader;  // the camera stream's reader state

    u8 gcsSequence;
    u64 gcsHeartbeatTime;
    u64 lastDroneMessageTime;  // last message from the followed vehicle, 0 before the first

    // Camera link.
    u32 cameraKind;  // CameraKind
    u32 nextVisionViaDrone;
    u8 cameraSequence;
    AddressRecord cameraEndpoint;

    // Gimbal requests gathered during a call and consumed by the camera control.
    f32 gimbalPitchRate;
    f32 gimbalYawRate;
    u32 gimbalRecenter;
    u32 gimbalSecondaryPosition;
    u32 gimbalCommandActive;
    u32 pitchYawToggle;
    u32 pitchZoomToggle;
    f64 commandedZoom;
    f64 reportedZoom;
    u32 zoomChanged;
    u64 bindingsTime;  // the previous evaluation of the bindings
    // Press-start slots of the toggle, recenter, secondary, Vis/IR, photo and video bindings.
    u64 bindingPressStart[6];

    // The cameras and the gimbal; cameraKind says which of them runs.
    CameraIdentity cameraIdentity;
    CameraView cameraView;
    GimbalPointing gimbalPointing;
    ProtocolCameraState protocolCamera;
    WorkswellCameraState workswellCamera;
    GremsyGimbalState gremsyGimbal;
    NextVisionState nextVision;

    // Height above ground and the low-altitude alert.
    f64 heightAboveGround;  // m
    f64 previousHeightAboveGround;
    u64 lowAltitudeAlertTime;

    f64 missionSettings[4];  // cruise speed, lowest and highest vertical speed, and 3.0

    // Radio link (RADIO_STATUS of system 42).
    u64 radioStatusTime;
    i32 radioRssi;

    // Datagrams (drone and camera sockets) and payload messages dropped because nobody the link
    // trusts sent them; the diagnostics panel shows the count.
    u64 foreignPackets;

    // Relay: while a relay peer controls, the app's own output is held on the sink socket (emptied
    // every frame) and the flight-action buttons name the controlling peer.
    u32 relayControlled;
    FixedString relayControllerName;
    SecureLinkClient secureLinkClient;
    Socket sinkSocket;

    // The followed vehicle's autopilot, by its kind.
    Px4State px4;
    ArduCopterState arduCopter;

    AirTrafficList airTraffic;

    // The link messages every new flight log starts with.
    LinkLogRecords logRecords;

    // The payloads carried inside ENCAPSULATED_DATA: Orvik, VOSK, the strobe light, the mapping kit.
    PayloadLink payload;

    // The screens' flight HUD: raised by drawHud while the HUD is used, cleared by the screen at the
    // start of its video pass; and the flight action waiting for its confirmation (an index of
    // flightActionName).
    u32 hudInUse;
    i32 pendingFlightAction;
    // When each requested flight action of the vehicle's autopilot was first seen; a request not
    // queued to the drone within kFlightActionDeadline is dropped, never sent late.
    u64 flightActionSeen[kPx4FlightActions];

    // The drone and camera sockets' local ports while another program holds them (nothing arrives
    // then), else 0; and the simulator's drone and payload sockets' (set by the simulator's owner).
    u16 dronePortInUse;
    u16 cameraPortInUse;
    u16 simulatorPortsInUse[3];
};

// Everything one frame hands to the connection; the caller owns it all.
struct DroneLinkInputs {
    Socket* droneSocket;
    Socket* cameraSocket;
    Socket* relaySocket;  // null in replay, or while "Relay mode port" is 0
    u16 simulatorPort;    // 0 = no simulator
    // With the simulator: the simulated VOSK units' ports (0 takes 50404 and 50405) and the drone
    // socket's local port (0 takes 14550).
    u16 simulatorPayloadPorts[2];
    u16 simulatorLocalPort;
    const Preferences* preferences;
    SecureLinkHost* relayHost;    // null without relay
    FlightLogger* flightLogger;   // null in replay
    ElevationLookup elevation;    // null: no elevation data
    void* elevationContext;
    SoundQueue* soundQueue;       // null: no warning sounds
    WaypointMissionEditor* missionPlan;     // the plan that uploads take; null: none
    const TransectRegion* missionTransect;  // its transect, logged when a mission starts; null: none
    const GamepadState* gamepad;            // the controller state; null: none
    const GamepadState* previousGamepad;    // the previous frame's, for presses
    GamepadState* hostGamepad;              // filled from a relaying host's controller; null: not filled
    const InputState* input;                // the key map; null: none
    OrvikDropLocations* orvikDrops;       // where drops are recorded; null: not recorded
    DodireruDropLocations* voskDrops;
    const OrvikGeofence* geofence;        // null: drops in the air are refused
    u32* payloadKind;                     // the caller's copy of the payload kind; null: none
    u32* mappingKitPhotos;                // the caller's running photo total; null: none
    u64 now;  // us
    i64 utcMilliseconds;  // the system clock, ms since 1601-01-01 UTC
    i64 timeZoneOffsetMs;  // local time = UTC + this
    i32 videoHeight;       // rows of the live video as its stream reports them; 0 while none
    u32 replay;  // the datagrams are a flight log's, the station's own record: every one counts as the drone's
};

// Only the drone reaches the link. With a fixed endpoint (the simulator, or "Drone IP address and
// port" with a port) a datagram is taken from that endpoint; in autodetect from the endpoint it
// locked on to, or when a message in it is heard from the vehicle (which moves the endpoint there).
// From another port of the drone's address (or the simulator's payload ports) only its payload
// frames are taken, message by message, whatever their system id. Camera datagrams are taken from
// the video URL's host only. Everything else is counted in foreignPackets, and not logged or relayed.
// The drone socket always hears the drone's endpoint, and the relay socket the peers the user granted,
// however many others send to them.
void controlDrone(DroneConnection* connection, const DroneLinkInputs* inputs);

// Whether the connection goes to a relaying app, so that the secure link's client side runs: a fixed
// UDP endpoint from the preferences (the relaying-app connections, or a custom one naming address and
// port); never in autodetect, over TCP or with the simulator.
bool connectsToRelayingApp(const Preferences* preferences, u16 simulatorPort);

// Where a replayed datagram was recorded: none (an idle step), from the drone, from the camera.
enum ReplayedLink : u32 {
    ReplayedNone = 0,
    ReplayedFromDrone = 1,
    ReplayedFromCamera = 2,
};

// One step of a flight-log replay's drone link at inputs->now: the recorded datagram goes through
// the live link's message handling (a drone datagram as if from 127.0.0.1:14550, which autodetect
// locks on to; a camera datagram only while the video URL names a camera), then the state the live
// link keeps between frames moves on: flight phase, payloads, cameras with the controller's
// bindings, traffic rates, height above ground and the warning tones. The sockets, relay and flight
// logger of the inputs are not used: nothing is built for sending, no parameter is kept in step, no
// clock is read, and nothing is kept for the flight log.
void replayDroneLink(DroneConnection* connection, const DroneLinkInputs* inputs, const u8* datagram, u32 length,
                     u32 link);

// "Port @ is in use by another program" while a port of the link is held by another program (the
// drone socket's, the camera socket's, the simulator's drone and payload sockets'); with more than one
// "Ports @, @ and @ are in use by another program"; empty when none is.
FixedString linkPortProblem(const DroneConnection* connection);

// The followed vehicle is gone for good (the simulated drone was switched off): its state, its
// autopilot's state, the learned endpoint and the reader are cleared, so nothing of it is shown any
// more and the next vehicle heard is locked on afresh.
void forgetFollowedVehicle(DroneConnection* connection);

// The ground station's own HEARTBEAT payload (9 bytes).
void writeGcsHeartbeatPayload(ByteWriter* writer);
