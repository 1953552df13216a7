#include "Video/PacketReorder.h"

#include <cstring>

namespace {

struct Delivery {
    ReorderDelivery deliver;
    void* context;
};

ReorderSlot* slotOf(PacketReorderWindow* w, u16 sequence) { return &w->slots[sequence % kReorderSlots]; }

// Hands a packet on with the gap in front of it.
void deliverPacket(PacketReorderWindow* w, u8* packet, i64 length, u16 sequence, Delivery d) {
    u32 skipped = w->pendingSkips;
    w->pendingSkips = 0;
    d.deliver(d.context, packet, length, sequence, skipped);
}

void deliverSlot(PacketReorderWindow* w, ReorderSlot* slot, Delivery d) {
    slot->used = 0;
    w->held--;
    deliverPacket(w, slot->bytes, slot->length, slot->sequence, d);
}

// Delivers the held packets that are next in line.
void releaseInOrder(PacketReorderWindow* w, Delivery d) {
    for (ReorderSlot* slot = slotOf(w, w->expected); slot->used && slot->sequence == w->expected;
         slot = slotOf(w, w->expected)) {
        w->expected++;
        deliverSlot(w, slot, d);
    }
}

// The expected packet is given up on, or delivered when it is held.
void stepOver(PacketReorderWindow* w, Delivery d) {
    ReorderSlot* slot = slotOf(w, w->expected);
    u16 sequence = w->expected++;
    if (slot->used && slot->sequence == sequence) {
        deliverSlot(w, slot, d);
    } else {
        w->pendingSkips++;
    }
}

void releaseAll(PacketReorderWindow* w, Delivery d) {
    while (w->held) stepOver(w, d);
    w->pendingSkips = 0;
}

bool anyExpired(const PacketReorderWindow* w, i64 now) {
    for (const ReorderSlot& slot : w->slots) {
        if (slot.used && now - slot.arrival >= kReorderWait) return true;
    }
    return false;
}

}  // namespace

ReorderVerdict admitReorderPacket(PacketReorderWindow* w, u8* packet, i64 length, u16 sequence, i64 now,
                                  ReorderDelivery deliver, void* context) {
    Delivery d{deliver, context};
    if (length < 0 || length > kSocketReceiveBytes) return ReorderLate;
    if (!w->started) {
        w->started = 1;
        w->expected = sequence;
    }
    i32 distance = (i16)(u16)(sequence - w->expected);
    if (distance < 0) {
        bool renumbered = distance < -kReorderRestartBehind && w->lateRun && sequence == (u16)(w->lastLate + 1);
        if (!renumbered) {
            w->lateRun = 1;
            w->lastLate = sequence;
            return ReorderLate;
        }
        releaseAll(w, d);
        w->expected = sequence;
        distance = 0;
    } else if (distance > kReorderRestartJump) {
        releaseAll(w, d);
        w->expected = sequence;
        distance = 0;
    }
    w->lateRun = 0;
    // Too far ahead to wait for what is missing: give up on the oldest gaps.
    while (distance >= kReorderSlots) {
        stepOver(w, d);
        releaseInOrder(w, d);
        distance = (i16)(u16)(sequence - w->expected);
    }
    if (distance == 0) {
        w->expected++;
        deliverPacket(w, packet, length, sequence, d);
        releaseInOrder(w, d);
        return ReorderDelivered;
    }
    ReorderSlot* slot = slotOf(w, sequence);
    if (slot->used) return ReorderLate;  // the same packet again
    slot->used = 1;
    slot->sequence = sequence;
    slot->length = (i32)length;
    slot->arrival = now;
    std::memcpy(slot->bytes, packet, (size_t)length);
    w->held++;
    return ReorderHeld;
}

void expireReorderWindow(PacketReorderWindow* w, i64 now, ReorderDelivery deliver, void* context) {
    Delivery d{deliver, context};
    while (w->held && anyExpired(w, now)) {
        stepOver(w, d);
        releaseInOrder(w, d);
    }
}

void flushReorderWindow(PacketReorderWindow* w, ReorderDelivery deliver, void* context) {
    releaseAll(w, Delivery{deliver, context});
    w->started = 0;
    w->lateRun = 0;
}
