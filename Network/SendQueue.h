// A socket's send queue: a ring of 64 packet slots (63 usable) that senders write into in place.
#pragma once
#include "Network/Address.h"

constexpr i32 kPacketQueueSlots = 64;
constexpr i64 kPacketSlotBytes = 6000;

struct PacketSlot {
    AddressRecord destination;
    ByteWriter writer;  // over this slot's data
    u8 data[kPacketSlotBytes];
};

struct PacketQueue {
    PacketSlot slots[kPacketQueueSlots];
    u8 writeIndex;
    u8 readIndex;
};

// Reserves the next slot for a destination and returns the writer over it; null when the queue is
// full. The slot counts as queued at once: finish writing before the socket's next step.
ByteWriter* queuePacket(const AddressRecord* destination, PacketQueue* queue);

bool isPacketQueueEmpty(const PacketQueue* queue);
i32 queuedPacketCount(const PacketQueue* queue);
PacketSlot* oldestQueuedPacket(PacketQueue* queue);  // null when empty
void dropOldestQueuedPacket(PacketQueue* queue);

// Favours one destination in a full queue: its packets move one place toward the head, and the
// newest packet of another destination gives up its slot to the caller. Null when the newest
// packet is already the destination's, or when fewer than three packets are queued (the two
// oldest are never touched).
ByteWriter* queuePacketDisplacingIn(const AddressRecord* destination, PacketQueue* queue);
