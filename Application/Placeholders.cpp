#include "Application/Placeholders.h"

void downloadFiles(DownloadPool* pool, DnsResolver* resolver, Socket* sockets, u32 socketCount) {
    (void)pool;
    (void)resolver;
    (void)sockets;
    (void)socketCount;
}

void mainScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result, void* scratch) {
    (void)platform;
    (void)stack;
    (void)ui;
    (void)app;
    (void)result;
    (void)scratch;
}

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

void writeDebugReport(AppState* app, Platform* platform, UiState* ui) {
    (void)app;
    (void)platform;
    (void)ui;
}
