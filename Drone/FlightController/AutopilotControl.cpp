#include "Drone/FlightController/AutopilotControl.h"

// The ArduCopter handling is still to come: its handler takes no message and its control sends
// nothing.
u32 handleArduCopterMessage(const MavlinkMessage*, ArduCopterState*, VehicleState*, WaypointMissionEditor*, DroneOutput*,
                            u64) {
    return 0;
}
void controlArduCopter(ArduCopterState*, const AutopilotFrame*) {}
