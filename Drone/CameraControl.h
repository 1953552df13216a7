// The drone connection's camera and gimbal steps: the pilot's bindings turned into gimbal inputs and
// camera requests, camera identification, the control of the connection's camera kind, and the
// hyperspectral sensor's commands.
#pragma once
#include "Drone/DroneConnection.h"

// The camera handlers in the order the connection offers a message to them; 1 when one took it.
u32 handleCameraMessages(DroneConnection* connection, const MavlinkMessage* message, u64 now);

// Reads the gimbal, zoom and camera bindings into the connection's gimbal requests and the current
// camera's request flags.
void applyCameraBindings(DroneConnection* connection, const DroneLinkInputs* inputs);

// Identification (COMMAND_LONG 521 until CAMERA_INFORMATION names the camera), then the control of
// the camera kind through the camera output.
void controlCameras(DroneConnection* connection, const DroneLinkInputs* inputs, DroneOutput* cameraOutput);
