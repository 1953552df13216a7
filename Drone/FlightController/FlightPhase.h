// Where the followed vehicle is in its flight, as the payload link and the flight log read it, and
// the take-off position that stands in for home once the vehicle has left the ground.
#pragma once
#include "Drone/FlightController/AutopilotState.h"

struct VehicleState;

enum FlightPhase : i32 {
    FlightPhaseNoVehicle = 0,
    FlightPhaseOnGround = 1,
    FlightPhaseInAir = 2,
    FlightPhaseTakeoffOrLanding = 3,  // drops are refused
    FlightPhaseMission = 4,           // flying the uploaded mission: the payload starts on its own
};

// A vehicle silent this long has no flight phase.
constexpr u64 kFlightPhaseSilence = 3000000;
// An ArduCopter vehicle in the air below this relative altitude is taking off or landing.
constexpr f64 kTakeoffClimbHeight = 2.0;

// Once per frame after the frame's messages: when the vehicle was on the ground in the last frame
// (its flight phase 1) and its landed state now is 2 or above, with a known global position, stores
// that position as the take-off position and selects it; then derives the vehicle's flight phase:
// - PX4: on the ground with landed state 1, or landed state 0 (not reported) while disarmed; taking
//   off or landing with landed state 3 or 4; the mission in AUTO MISSION; else in the air.
// - ArduCopter: on the ground with landed state 0; taking off or landing in LAND or while below 2 m
//   above the take-off point; the mission in AUTO; else in the air.
// - Another autopilot: in the air with landed state 2 and above, else on the ground.
void updateFlightPhase(VehicleState* vehicle, const Px4State* px4, const ArduCopterState* arduCopter, u64 now);
