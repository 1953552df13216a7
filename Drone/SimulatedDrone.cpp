#include "Drone/SimulatedDrone.h"

void controlSimulatedPx4Drone(SimulatedDrone* drone, GamepadState* gamepad, InputState* input,
                              ElevationMapLoader* loader, Preferences* preferences, Socket* simulatorSocket,
                              Socket* primaryPayloadSocket, Socket* secondaryPayloadSocket) {
    (void)drone;
    (void)gamepad;
    (void)input;
    (void)loader;
    (void)preferences;
    (void)simulatorSocket;
    (void)primaryPayloadSocket;
    (void)secondaryPayloadSocket;
}
