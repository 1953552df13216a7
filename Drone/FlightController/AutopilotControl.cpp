#include "Drone/FlightController/AutopilotControl.h"

// The ArduCopter handling is still to come: its handler takes no message and its control sends
// nothing.
u32 handleArduCopterMessage(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
void controlArduCopter(DroneConnection*, DroneOutput*, u64) {}
