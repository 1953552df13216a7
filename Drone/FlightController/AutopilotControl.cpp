#include "Drone/FlightController/AutopilotControl.h"

u32 handlePx4Message(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
u32 handleArduCopterMessage(const MavlinkMessage*, DroneConnection*, u64) { return 0; }

void controlPx4(DroneConnection*, DroneOutput*, u64) {}
void controlArduCopter(DroneConnection*, DroneOutput*, u64) {}
