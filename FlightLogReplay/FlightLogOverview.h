// One replay of a whole log that finds everything the flight-log list and the View Flight Log screen
// show without replaying it again: the list's counts (ignition spheres, photos, videos) and the
// viewer's track, track bounds, altitude presence, recordings, distance, photo count and last
// datagram. The pass runs in slices of a bounded number of entries, so a job can stop between them.
#pragma once
#include "FlightLogReplay/FlightLogReplay.h"

constexpr u32 kMaxTrackSamples = 90000;
constexpr u32 kMaxReplayRecordings = 64;
// The idle step of every whole-log pass: the drone link runs without a datagram at most this often
// (ms) between entries.
constexpr i64 kOverviewIdleStepMs = 1000000;

struct FlightLogOverview {
    // The list's counts, as a replay up to the log's endTime finds them.
    u32 ignitionSpheres;
    u32 photos;
    u32 videos;
    // The viewer's, as a replay of every entry finds them. Presence sets: bit 0 when a finite value
    // was seen, bit 1 when a NaN or infinite one, over every augmented position.
    u32 aglPresence;
    u32 mslDemPresence;
    u32 mslPilotPresence;
    u32 photoCount;
    i64 lastDatagramEntry;  // the last entry of type 1 or 2
    u32 recordingCount;
    u64 recordingVisible;      // bit per recording: the visible recording of a kind-1 camera
    u64 recordingThermal;      // a thermal-sensor recording
    u64 recordingMslPilotGap;  // a NaN MSL altitude from the entered takeoff elevation was seen during it
    u64 recordingMslDemGap;    // a NaN MSL altitude from the elevation map was seen during it
    i64 recordingStart[kMaxReplayRecordings];   // Unix ms
    i64 recordingLength[kMaxReplayRecordings];  // ms
    f64 totalDistance;  // m
    f64 trackBounds[4];  // {min longitude, max longitude, min latitude, max latitude}; starts inverted at 1e12
    u32 trackCount;
    f32 trackStepDistance[kMaxTrackSamples];  // m from the previous augmented position
    f32 trackAltitude[kMaxTrackSamples];      // the vehicle's altitude above takeoff plus its offset
    f32 trackAgl[kMaxTrackSamples];           // as recorded, NaN kept
    u64 trackPayloadBits[(kMaxTrackSamples + 63) / 64];  // the Orvik status byte was nonzero
};

// One open recording of a sensor while the pass runs.
struct OpenRecording {
    u32 open;
    u32 kind;  // the camera kind that opened it
    i64 start;
    u32 mslPilotGap;
    u32 mslDemGap;
};

// Where a pass stands between slices.
struct FlightLogOverviewPass {
    i64 cursor;
    u32 countsTaken;  // the list's counts are final (its replay would have stopped here)
    u32 haveBaseline;
    i32 baseline;  // the payload's drop counters at its first status
    u32 wasRecording;
    u32 videos;
    OpenRecording visible;
    OpenRecording thermal;
};

// Clears the pass, the overview and the replay record.
void beginFlightLogOverview(FlightLogOverviewPass* pass, FlightLogOverview* overview, FlightLogReplay* replay);

// Replays at most maxEntries more entries of the log into replay. Returns 1 once every entry has
// been replayed and the overview is complete (the replay record then holds the state at the log's
// end), else 0.
u32 continueFlightLogOverview(FlightLogOverviewPass* pass, FlightLogOverview* overview, FlightLogReplay* replay,
                              const FlightLogIndex* index, i64 maxEntries);

// The share of the log's entries the pass has replayed, in percent.
u32 flightLogOverviewPercent(const FlightLogOverviewPass* pass, const FlightLogIndex* index);

// What the camera of a replayed connection shows, by its kind: kind 1 has one recording flag for
// both sensors, kind 2 (NextVision) a visible and a thermal flag, kind 3 (camera protocol) a visible
// one; the camera's last status time (0 before its first status) and the elapsed recording time it
// reported (kinds 1 and 3); and its photo counter (captures and NextVision snapshot reports).
struct ReplayCameraState {
    u32 kind;
    u32 recording;  // either flag
    u32 photos;
    u32 visible;
    u32 thermal;
    u64 statusTime;
    i64 elapsedMs;
};
ReplayCameraState replayCameraState(const DroneConnection* connection);

// The video count's step after one replayed entry: a recording counts once, when it stops or, if it
// is still running, when the last entry has been replayed. Returns 1 when a video ends here.
u32 videoEndsAfterEntry(u32 wasRecording, u32 recording, i64 entriesLeft);
