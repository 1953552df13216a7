#include "Drone/TarnwickPayloads/PayloadLink.h"

u32 containsPayloadFrame(const MavlinkMessage*) { return 0; }
u32 handleEncapsulatedData(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
void controlPayloadLink(DroneConnection*, DroneOutput*, u64) {}
