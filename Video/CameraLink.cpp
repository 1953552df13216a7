#include "Video/CameraLink.h"

u32 handleCameraInformation(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
u32 handleLayoutCameraMessage(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
u32 handleCameraProtocolMessage(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
u32 handleNextVisionExtension(const MavlinkMessage*, DroneConnection*, u64) { return 0; }
u32 handleGremsyGimbalMessage(const MavlinkMessage*, DroneConnection*, u64) { return 0; }

void controlCameraAndGimbal(DroneConnection*, DroneOutput*, u64) {}
