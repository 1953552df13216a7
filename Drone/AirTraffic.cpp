#include "Drone/AirTraffic.h"

u32 decodeAdsbVehicle(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
