// A small window that puts numbered video packets (RTP, Qv) back in order before they are
// depacketised. A packet that comes early is held, for at most kReorderWait us and behind at most
// kReorderSlots - 1 others; when the packets before it arrive it follows them in place. Once a held
// packet has waited its time, or the window is full, the missing ones are given up on (lost) and
// the held ones go on. A packet whose place has already passed (a late one or a duplicate) is
// dropped and counted; a backward step never counts as a jump around the sequence numbers. A jump
// of more than kReorderRestartJump numbers ahead, or two consecutive packets far behind, means the
// sender numbers afresh: the window follows without counting a loss.
#pragma once
#include "Network/Socket.h"

constexpr i32 kReorderSlots = 8;
constexpr i64 kReorderWait = 20000;  // us
constexpr i32 kReorderRestartJump = 3000;
constexpr i32 kReorderRestartBehind = 64;

// Called for each packet in order. skipped: the sequence numbers given up on just before it.
typedef void (*ReorderDelivery)(void* context, u8* packet, i64 length, u16 sequence, u32 skipped);

struct ReorderSlot {
    u32 used;
    u16 sequence;
    i32 length;
    i64 arrival;
    u8 bytes[kSocketReceiveBytes];
};

// Zero-filled: the first packet sets the order.
struct PacketReorderWindow {
    u32 started;
    u16 expected;      // sequence number of the next packet to deliver
    u16 lastLate;      // sequence number of the last late packet
    u32 lateRun;       // 1 when the packet before was late
    u32 held;          // packets held
    u32 pendingSkips;  // numbers given up on that the next delivered packet follows
    ReorderSlot slots[kReorderSlots];
};

enum ReorderVerdict : u32 {
    ReorderDelivered = 0,  // delivered at once (with the held packets that follow it)
    ReorderHeld = 1,       // copied into the window; it waits for the ones before it
    ReorderLate = 2,       // its place has passed, or it is held already: dropped
};

// Takes one packet (length up to kSocketReceiveBytes; a longer one is dropped as late) and delivers
// what is now in order; a packet delivered at once is handed over where it lies.
ReorderVerdict admitReorderPacket(PacketReorderWindow* window, u8* packet, i64 length, u16 sequence, i64 now,
                                  ReorderDelivery deliver, void* context);

// Gives up on the missing packets in front of those held for kReorderWait us or longer, and
// delivers these. Called once a frame after the intake.
void expireReorderWindow(PacketReorderWindow* window, i64 now, ReorderDelivery deliver, void* context);

// The stream ended: everything held is delivered (gaps given up on) and the next packet starts a
// new order.
void flushReorderWindow(PacketReorderWindow* window, ReorderDelivery deliver, void* context);
