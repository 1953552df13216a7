// The flight-log replay: feeds a log's entries, in index order, into a record that holds a drone
// connection of its own and copies of what the log's own entries change (geofence, mission,
// preferences, controller input). Recorded datagrams go through the drone link's replay step, which
// handles them as the live link did, so vehicle, payload and camera state come out as they did in
// flight. One entry per call; time steps forward between entries.
#pragma once
#include "Core/GeometryTypes.h"
#include "Drone/DroneConnection.h"
#include "FlightLogs/FlightLogIndex.h"
#include "Mission/MissionPlan.h"
#include "Platform/Input.h"

struct SoundQueue;

// Ground heights for the replayed drone link; a null lookup means none.
struct ReplayElevation {
    ElevationLookup lookup;
    void* context;
};

// Cleared to zeros before a replay starts.
struct FlightLogReplay {
    i64 replayTime;    // Unix ms; 0 before the first datagram
    i64 replayMicros;  // (replayTime - timeBase) x 1,000
    u64 droneLinkSteps;  // updates of the drone link so far, datagram and idle ones

    DroneConnection connection;  // stepped by replayDroneLink: nothing reaches the network
    Preferences preferences;
    OrvikDropLocations orvikDrops;
    DodireruDropLocations voskDrops;
    u32 payloadKind;
    u32 mappingKitPhotos;

    ReplayedMission mission;    // the last started mission
    ReplayedGeofence geofence;  // the last geofence

    // The replayed controller: key map and key events, name, type, emulation flag and axes.
    InputState input;
    GamepadState gamepad;
    u8 controllerEmulated;

    // From AugmentedPosition entries. The reference position and altitude are the caller's (0 when
    // not set); offsets from them are kept only when they are set.
    GeoPoint previousPosition;
    f64 travelledDistance;  // m
    f64 lastStepDistance;   // m
    GeoPoint referencePosition;
    f64 referenceAltitude;
    f64 latitudeOffset, longitudeOffset;  // degrees from the reference position
    f64 relativeAltitude;                 // altitude above takeoff - the reference altitude
    f64 altitudeAboveGround;
    f64 altitudeMslFromElevationMap;
    f64 altitudeMslFromTakeoffElevation;
    u64 positionEntries;

    // From VideoStreamStatus entries.
    u32 videoPacketsReceived;
    u32 videoPacketsDropped;
    i32 videoFrameWidth;
    i32 videoFrameHeight;
};

// The result of one call: the entry applied (type -1 when none was) and the replay's time after it.
struct FlightLogReplayStep {
    i64 replayTime;
    i64 replayMicros;
    const u8* payload;
    i32 type;
    u16 length;
};

// Between two entries at most this many idle updates run; a longer silence skips to its last ones.
constexpr i64 kMaxIdleUpdatesPerGap = 300;

// Applies the entry at *cursor (an index into the index's arrays) and advances the cursor, unless
// that entry lies after targetTime and is past the start block: then nothing is applied and the
// type is -1. Before the entry, while replayTime + idleStepMs lies before both the target and the
// entry's time, the drone link runs without a datagram every idleStepMs (at most
// kMaxIdleUpdatesPerGap of those updates, the last of them where the full run would end). sounds and
// elevation may be null.
FlightLogReplayStep* replayFlightLog(FlightLogReplayStep* out, i64* cursor, i64 targetTime, i64 idleStepMs,
                                     SoundQueue* sounds, const FlightLogIndex* index, FlightLogReplay* replay,
                                     const ReplayElevation* elevation);
