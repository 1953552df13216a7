#include "Network/SendQueue.h"

#include <cstring>
#include <utility>

namespace {

u8 nextIndex(u32 index) { return (u8)((index + 1) % kPacketQueueSlots); }
u8 previousIndex(u32 index) { return (u8)((index + kPacketQueueSlots - 1) % kPacketQueueSlots); }

void startSlot(PacketSlot* slot, const AddressRecord* destination) {
    slot->destination = *destination;
    slot->writer = ByteWriter{0, kPacketSlotBytes, 0, slot->data};
}

}  // namespace

ByteWriter* queuePacket(const AddressRecord* destination, PacketQueue* queue) {
    if (nextIndex(queue->writeIndex) == queue->readIndex) {
        return nullptr;
    }
    PacketSlot* slot = &queue->slots[queue->writeIndex % kPacketQueueSlots];
    startSlot(slot, destination);
    queue->writeIndex = nextIndex(queue->writeIndex);
    return &slot->writer;
}

bool isPacketQueueEmpty(const PacketQueue* queue) { return queue->writeIndex == queue->readIndex; }

i32 queuedPacketCount(const PacketQueue* queue) {
    return (queue->writeIndex + kPacketQueueSlots - queue->readIndex) % kPacketQueueSlots;
}

PacketSlot* oldestQueuedPacket(PacketQueue* queue) {
    if (isPacketQueueEmpty(queue)) {
        return nullptr;
    }
    return &queue->slots[queue->readIndex % kPacketQueueSlots];
}

void dropOldestQueuedPacket(PacketQueue* queue) {
    if (!isPacketQueueEmpty(queue)) {
        queue->readIndex = nextIndex(queue->readIndex);
    }
}

ByteWriter* queuePacketDisplacingIn(const AddressRecord* destination, PacketQueue* queue) {
    // The oldest packet may be on the wire and the one after it is next: neither is touched, so
    // there must be a third packet to give up.
    if (queuedPacketCount(queue) < 3) {
        return nullptr;
    }
    u32 r = queue->readIndex % kPacketQueueSlots;
    u32 newestIndex = previousIndex(queue->writeIndex);
    // One bubble pass over the middle of the queue: each of the destination's packets moves one
    // place toward the head, past the packet of another destination in front of it.
    i32 count = queuedPacketCount(queue);
    for (i32 k = 3; k < count - 1; k++) {
        u32 j = (r + (u32)k) % kPacketQueueSlots;
        PacketSlot* current = &queue->slots[j];
        PacketSlot* before = &queue->slots[previousIndex(j)];
        if (sameAddress(&current->destination, destination) && !sameAddress(&before->destination, destination)) {
            std::swap(*current, *before);
            current->writer.data = current->data;
            before->writer.data = before->data;
        }
    }
    PacketSlot* newest = &queue->slots[newestIndex];
    if (sameAddress(&newest->destination, destination)) {
        return nullptr;
    }
    startSlot(newest, destination);
    return &newest->writer;
}
