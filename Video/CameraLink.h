// Camera and gimbal handling as the drone connection calls it. For now no handler takes a message
// and no camera is controlled; the camera and gimbal control replaces this.
#pragma once
#include "Core/Types.h"

struct MavlinkMessage;
struct DroneConnection;
struct DroneOutput;

// Each returns 1 when it took the message.
u32 handleCameraInformation(const MavlinkMessage* message, DroneConnection* connection, u64 now);
u32 handleLayoutCameraMessage(const MavlinkMessage* message, DroneConnection* connection, u64 now);
u32 handleCameraProtocolMessage(const MavlinkMessage* message, DroneConnection* connection, u64 now);
u32 handleNextVisionExtension(const MavlinkMessage* message, DroneConnection* connection, u64 now);
u32 handleGremsyGimbalMessage(const MavlinkMessage* message, DroneConnection* connection, u64 now);

// Camera identification and the camera and gimbal control of the connection's camera kind.
void controlCameraAndGimbal(DroneConnection* connection, DroneOutput* cameraOutput, u64 now);
