// The simulated drone's step, which the application update calls while the simulator runs. It does
// nothing for now; the drone link's simulator replaces it.
#pragma once
#include "Core/FixedString.h"

struct Socket;
struct GamepadState;
struct InputState;
struct ElevationMapLoader;
struct Preferences;

struct SimulatedDrone {
    u32 state;
};
void controlSimulatedPx4Drone(SimulatedDrone* drone, GamepadState* gamepad, InputState* input,
                              ElevationMapLoader* loader, Preferences* preferences, Socket* simulatorSocket,
                              Socket* primaryPayloadSocket, Socket* secondaryPayloadSocket);
