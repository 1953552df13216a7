#include "Mavlink/DroneOutput.h"

ByteWriter* reserveDroneOutput(DroneOutput* output) {
    return output->socket ? queueSocketPacket(&output->destination, output->socket) : nullptr;
}
