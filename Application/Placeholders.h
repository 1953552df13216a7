// Steps of subsystems that the application update calls before those subsystems exist here: the
// download manager and the simulated drone. Each does the least the update needs; its own subsystem
// replaces it.
#pragma once
#include "Core/FixedString.h"
#include "Network/Dns.h"
#include "SourceCommon/UserInterface/Screen.h"

struct Platform;
struct UiState;
struct AppState;
struct Socket;
struct GamepadState;
struct InputState;
struct ElevationMapLoader;
struct Preferences;

struct DownloadPool {
    u32 state;
};

void downloadFiles(DownloadPool* pool, DnsResolver* resolver, Socket* sockets, u32 socketCount);

struct SimulatedDrone {
    u32 state;
};
void controlSimulatedPx4Drone(SimulatedDrone* drone, GamepadState* gamepad, InputState* input,
                              ElevationMapLoader* loader, Preferences* preferences, Socket* simulatorSocket,
                              Socket* primaryPayloadSocket, Socket* secondaryPayloadSocket);
