// The reorder window over arbitrary arrivals: nothing held past its slots, every packet delivered
// is one that was taken in (its bytes intact), once, never a late one; consecutive deliveries step
// forward by the numbers given up on between them (or start a new numbering with none); and at the
// end everything taken in has come out. The input is a series of records: kind (1 byte: bit 0
// set: expire the window first; bits 1-7 the milliseconds passed), sequence number (2 bytes,
// big-endian), length (1 byte) of the packet that follows.
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "Video/PacketReorder.h"

static PacketReorderWindow window;

static void fail(int line) {
    fprintf(stderr, "PacketReorderFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

struct Ledger {
    std::map<u32, std::vector<u8>> pending;  // packets taken in and not yet delivered, by their number
    u32 nextId = 0;
    bool delivered = false;
    u16 last = 0;
};

static void deliver(void* context, u8* packet, i64 length, u16 sequence, u32 skipped) {
    Ledger* ledger = (Ledger*)context;
    check(length >= 6);
    u32 id;
    std::memcpy(&id, packet + 2, 4);
    auto it = ledger->pending.find(id);
    check(it != ledger->pending.end());
    check(it->second == std::vector<u8>(packet, packet + length));
    check((packet[0] << 8 | packet[1]) == sequence);
    ledger->pending.erase(it);
    if (ledger->delivered) {
        u16 step = (u16)(sequence - ledger->last);
        check(step != 0);
        check(skipped == 0 || skipped == step - 1u);
    }
    check(skipped <= (u32)kReorderRestartJump);
    ledger->delivered = true;
    ledger->last = sequence;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    window = PacketReorderWindow{};
    Ledger ledger;
    i64 now = 0;
    size_t at = 0;
    while (at + 4 <= size) {
        u8 kind = data[at];
        u16 sequence = (u16)(data[at + 1] << 8 | data[at + 2]);
        size_t extra = data[at + 3];
        at += 4;
        if (extra > size - at) extra = size - at;
        now += (kind >> 1) * 1000;
        if (kind & 1) expireReorderWindow(&window, now, deliver, &ledger);
        // The packet: its sequence number, an id, then the input's bytes, in a buffer of its size.
        std::vector<u8> packet = {(u8)(sequence >> 8), (u8)sequence};
        u32 id = ledger.nextId++;
        packet.insert(packet.end(), (u8*)&id, (u8*)&id + 4);
        packet.insert(packet.end(), data + at, data + at + extra);
        at += extra;
        ledger.pending[id] = packet;
        std::vector<u8> copy = packet;
        ReorderVerdict verdict =
            admitReorderPacket(&window, copy.data(), (i64)copy.size(), sequence, now, deliver, &ledger);
        if (verdict == ReorderLate) {
            check(ledger.pending.count(id));
            ledger.pending.erase(id);
        }
        check(window.held < (u32)kReorderSlots);
        u32 used = 0;
        for (const ReorderSlot& slot : window.slots) used += slot.used;
        check(used == window.held);
        check(ledger.pending.size() == window.held);
    }
    flushReorderWindow(&window, deliver, &ledger);
    check(window.held == 0 && ledger.pending.empty());
    return 0;
}
