// What the simulated drone's two source files share.
#pragma once
#include "Drone/SimulatedDrone.h"

constexpr u16 kSimulatedNavWaypoint = 16;
constexpr u16 kSimulatedDoChangeSpeed = 178;
constexpr u8 kSimulatedMainAuto = 4;
constexpr u8 kSimulatedSubTakeoff = 2;
constexpr u8 kSimulatedSubLoiter = 3;
constexpr u8 kSimulatedSubReturn = 5;
constexpr u8 kSimulatedSubLand = 6;
// Within this of the ground the drone stands on it (m).
constexpr f64 kSimulatedGroundTolerance = 0.05;

// A REAL32 parameter's value by name (0 for an unknown name).
f64 simulatedParameterFloat(const SimulatedDrone* drone, const char* name);
// MISSION_CURRENT with the current item, at once.
void sendSimulatedMissionCurrent(SimulatedDrone* drone, Socket* socket);
// The periodic messages that are due, each through socket 0's queue to the ground station.
void sendSimulatedPeriodicMessages(SimulatedDrone* drone, Socket* socket, f64 takeoffLongitude, f64 takeoffLatitude,
                                   f64 takeoffGround, u64 now);
