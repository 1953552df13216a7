// Air traffic heard through the drone link, as the drone connection calls it. For now no message is
// taken; the air-traffic decoder replaces this.
#pragma once
#include "Core/Types.h"

struct MavlinkMessage;
struct DroneConnection;

// 1 when the message was an ADS-B report and has been stored.
u32 decodeAdsbVehicle(const MavlinkMessage* message, DroneConnection* connection, u64 now);
