// The payload link as the drone connection calls it: payload frames travel inside ENCAPSULATED_DATA.
// For now no frame is recognised and nothing is sent; the payload protocol replaces this.
#pragma once
#include "Core/Types.h"

struct MavlinkMessage;
struct DroneConnection;
struct DroneOutput;

// 1 when the ENCAPSULATED_DATA message holds a whole payload frame.
u32 containsPayloadFrame(const MavlinkMessage* message);
// 1 when the message was payload traffic and has been handled.
u32 handleEncapsulatedData(const MavlinkMessage* message, DroneConnection* connection, u64 now);
void controlPayloadLink(DroneConnection* connection, DroneOutput* output, u64 now);
