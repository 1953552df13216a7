#include "Application/Placeholders.h"

void startDnsLookup(FixedString name, DnsLookup* lookup) {
    if (equals(lookup->name, name)) return;
    lookup->name = name;
    lookup->state = 0;
}

void checkDnsQueries(DnsResolver* resolver, DnsServerList* servers) {
    (void)resolver;
    (void)servers;
}

void downloadFiles(DownloadPool* pool, DnsResolver* resolver, Socket* sockets, u32 socketCount) {
    (void)pool;
    (void)resolver;
    (void)sockets;
    (void)socketCount;
}

void updateScreen(ScreenStack* stack, Platform* platform, UiState* ui, AppState* app) {
    if (stack->depth == 0 || stack->depth > kMaxScreens) return;
    ScreenResult result{};
    ScreenFunction top = stack->screens[stack->depth - 1];
    if (top) top(platform, stack, ui, app, &result, nullptr);
    stack->framesRun++;
    if (result.back && stack->depth > 1) {
        stack->depth--;
    } else if (result.next && stack->depth < kMaxScreens) {
        stack->screens[stack->depth++] = (ScreenFunction)result.next;
    }
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
