// Steps of subsystems that the application update calls before those subsystems exist here: the DNS
// resolver and download manager, the screen stack and its runner with the Main Screen, the debug
// report and the simulated drone. Each does the least the update needs; its own subsystem replaces
// it.
#pragma once
#include "Core/FixedString.h"

struct Platform;
struct UiState;
struct AppState;
struct DnsServerList;
struct Socket;
struct GamepadState;
struct InputState;
struct ElevationMapLoader;
struct Preferences;

constexpr u32 kDnsLookupSlots = 6;

struct DnsLookup {
    FixedString name;
    u32 state;
};

struct DnsResolver {
    DnsLookup lookups[kDnsLookupSlots];
};

struct DownloadPool {
    u32 state;
};

// Restarts the slot for a name unless it already holds that name.
void startDnsLookup(FixedString name, DnsLookup* lookup);
void checkDnsQueries(DnsResolver* resolver, DnsServerList* servers);
void downloadFiles(DownloadPool* pool, DnsResolver* resolver, Socket* sockets, u32 socketCount);

// Screens: a function called once per frame while it is on top of the stack.
struct ScreenResult {
    u32 back;
    void* next;  // ScreenFunction to push, null for none
};
using ScreenFunction = void (*)(Platform* platform, struct ScreenStack* stack, UiState* ui, AppState* app,
                                ScreenResult* result, void* scratch);

constexpr u32 kMaxScreens = 20;

struct ScreenStack {
    u32 depth;
    ScreenFunction screens[kMaxScreens];
    u64 framesRun;
};

// Runs the top screen and applies its push or pop.
void updateScreen(ScreenStack* stack, Platform* platform, UiState* ui, AppState* app);
void mainScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result, void* scratch);

struct SimulatedDrone {
    u32 state;
};
void controlSimulatedPx4Drone(SimulatedDrone* drone, GamepadState* gamepad, InputState* input,
                              ElevationMapLoader* loader, Preferences* preferences, Socket* simulatorSocket,
                              Socket* primaryPayloadSocket, Socket* secondaryPayloadSocket);

// The debug report written once a second.
void writeDebugReport(AppState* app, Platform* platform, UiState* ui);
