// PX4 and ArduCopter message handling and control, as the drone connection calls them. For now the
// handlers take no message and the controls send nothing; the flight-controller logic replaces this.
#pragma once
#include "Core/Types.h"

struct MavlinkMessage;
struct DroneConnection;
struct DroneOutput;

// 1 when the handler took a message of the followed vehicle.
u32 handlePx4Message(const MavlinkMessage* message, DroneConnection* connection, u64 now);
u32 handleArduCopterMessage(const MavlinkMessage* message, DroneConnection* connection, u64 now);

void controlPx4(DroneConnection* connection, DroneOutput* output, u64 now);
void controlArduCopter(DroneConnection* connection, DroneOutput* output, u64 now);
