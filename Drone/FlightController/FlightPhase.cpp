#include "Drone/FlightController/FlightPhase.h"

#include "Drone/FlightController/AutopilotControl.h"
#include "Mavlink/VehicleState.h"

namespace {

constexpr u8 kArmedFlag = 0x80;  // MAV_MODE_FLAG_SAFETY_ARMED

// The rise is seen only from a frame in which the vehicle was known to be on the ground, so a vehicle
// first heard in the air keeps its home position as the reference.
void storeTakeoffPosition(VehicleState* vehicle, u64 now) {
    bool rose = vehicle->flightPhase == FlightPhaseOnGround && vehicle->landedState >= 2;
    if (!rose || vehicle->globalPosition.time == 0) return;
    vehicle->secondPosition.time = now;
    vehicle->secondPosition.longitude = vehicle->globalPosition.longitude;
    vehicle->secondPosition.latitude = vehicle->globalPosition.latitude;
    vehicle->secondPosition.altitude = vehicle->globalPosition.altitudeMsl;
    vehicle->secondPositionSelected = 1;
}

FlightPhase px4Phase(const VehicleState* vehicle, const Px4State* px4) {
    i32 landed = vehicle->landedState;
    if (landed == 1 || (landed == 0 && !(vehicle->baseMode & kArmedFlag))) return FlightPhaseOnGround;
    if (landed == 3 || landed == 4) return FlightPhaseTakeoffOrLanding;
    if (px4->mainMode == kPx4MainAuto && px4->subMode == kPx4SubMission) return FlightPhaseMission;
    return FlightPhaseInAir;
}

FlightPhase arduCopterPhase(const VehicleState* vehicle, const ArduCopterState* arduCopter) {
    if (vehicle->landedState < 2) return FlightPhaseOnGround;
    f64 height = vehicle->globalPosition.relativeAltitude + vehicle->altitudeOffset;
    if (arduCopter->customMode == kArduCopterModeLand || !(height >= kTakeoffClimbHeight)) {
        return FlightPhaseTakeoffOrLanding;
    }
    if (arduCopter->customMode == kArduCopterModeAuto) return FlightPhaseMission;
    return FlightPhaseInAir;
}

}  // namespace

void updateFlightPhase(VehicleState* vehicle, const Px4State* px4, const ArduCopterState* arduCopter, u64 now) {
    storeTakeoffPosition(vehicle, now);
    bool silent = vehicle->lastHeardTime == 0 || now < vehicle->lastHeardTime ||
                  now - vehicle->lastHeardTime >= kFlightPhaseSilence;
    if (silent) {
        vehicle->flightPhase = FlightPhaseNoVehicle;
    } else if (vehicle->autopilotKind == AutopilotPx4) {
        vehicle->flightPhase = px4Phase(vehicle, px4);
    } else if (vehicle->autopilotKind == AutopilotArduCopter) {
        vehicle->flightPhase = arduCopterPhase(vehicle, arduCopter);
    } else {
        vehicle->flightPhase = vehicle->landedState >= 2 ? FlightPhaseInAir : FlightPhaseOnGround;
    }
}
