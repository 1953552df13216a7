// The application's one per-frame entry: the first frame's identity and screen stack, then every
// subsystem's step in its fixed order, with the few decisions that belong to no single subsystem.
#pragma once
#include "AppState/AppState.h"
#include "Core/GeometryTypes.h"

struct UiState;

constexpr u64 kDebugReportInterval = 1000000;  // us
constexpr u64 kVehicleSilentForLogging = 60000000;  // us without a message before logging stops
constexpr u64 kReplayTakesOverAfter = 5000000;  // us of live silence before a loaded log's replay counts
constexpr u64 kHighAboveGroundHold = 5000000;  // us that a high vehicle keeps logging while still
constexpr f64 kLoggingHeightAboveGround = 10.0;  // m
constexpr f64 kMovingSpeed = 0.5;  // m/s in any axis
constexpr i32 kFullscreenKey = 122;  // F11

// The fixed hosts of DNS slots 0 to 4.
extern const char* const fixedDnsHosts[5];

void updateApp(Platform* platform, UiState* ui, AppState* app);
// The application's last step when the window has closed (or SIGTERM came), before the file thread
// finishes its jobs: queues the saves of what the last frame changed and the flight log's buffers.
void finishApp(Platform* platform, AppState* app);

// The first frame: the screen stack, the installation id, both key pairs, the client name and the
// companion-app check. Returns 0 when the random generator failed; the frame is then tried again.
i32 setUpFirstFrame(AppState* app, Platform* platform);

// The simulator was switched off (simulatorRunning cleared while the simulated drone runs): its three
// sockets and the drone socket close, the simulated drone's record is zeroed (its chosen ports kept)
// so that it starts afresh when switched on again, and the drone link forgets the simulated vehicle.
void stopSimulator(AppState* app);

// The box around the vehicle, mission and transect (from the flight-log viewer's replay copies when
// it has a log loaded and the live vehicle is silent); stored as the elevation loader's area of
// interest when it holds at least one point. Returns 1 when it was stored.
i32 updateAreaOfInterest(AppState* app, u64 now);

// Whether the flight is being logged this frame (before forceLogging): the vehicle heard within the
// last minute and in the air, or, with a log open, still high above the ground or moving.
i32 decideLogging(const VehicleState* vehicle, FlightLogger* logger, const ElevationMapLoader* loader, u64 now);
