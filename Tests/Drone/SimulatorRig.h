// The simulated drone on the test's clock, on a free group of loopback ports, with its three
// sockets and preferences (take-off point, payload devices).
#pragma once
#include "Core/Preferences.h"
#include "Drone/SimulatedDrone.h"
#include "Platform/Input.h"
#include "StandInRig.h"

namespace simrig {

constexpr f64 kTakeoffLatitude = 47.397742;
constexpr f64 kTakeoffLongitude = 8.545594;

struct Simulator {
    std::unique_ptr<SimulatedDrone> drone = std::make_unique<SimulatedDrone>();
    std::unique_ptr<Socket> sockets[3] = {std::make_unique<Socket>(), std::make_unique<Socket>(),
                                          std::make_unique<Socket>()};
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    GamepadState pad{};
    InputState input{};
    const ElevationMapLoader* terrain = nullptr;  // none: flat ground at the take-off height

    void step() {
        controlSimulatedPx4Drone(drone.get(), &pad, &input, terrain, preferences.get(), sockets[0].get(),
                                 sockets[1].get(), sockets[2].get(), standin::simulatedNow);
        std::memcpy(input.previousKeys, input.keys, sizeof(input.keys));
    }
    // Binds the drone (and, with VOSK on, the units) on the first free group of ports from `first`.
    bool open(u16 first) {
        preferences->simulatorTakeoffLatitude = kTakeoffLatitude;
        preferences->simulatorTakeoffLongitude = kTakeoffLongitude;
        for (auto& socket : sockets) socket->clock = standin::simulatedClock;
        for (i32 attempt = 0; attempt < 8; attempt++) {
            u16 port = (u16)(first + 10 * attempt);
            for (i32 i = 0; i < 3; i++) {
                closeSocket(sockets[i].get());
                drone->localPorts[i] = (u16)(port + i);
            }
            step();
            bool bound = sockets[0]->localPort == port &&
                         (!preferences->simulateVosk ||
                          (sockets[1]->localPort == port + 1 && sockets[2]->localPort == port + 2));
            if (bound) return true;
        }
        return false;
    }
    f64 distanceTo(f64 east, f64 north, f64 up) const {
        f64 e = drone->east - east, n = drone->north - north, u = drone->altitude - up;
        return std::sqrt(e * e + n * n + u * u);
    }
    ~Simulator() {
        for (auto& socket : sockets) closeSocket(socket.get());
    }
};

}  // namespace simrig
