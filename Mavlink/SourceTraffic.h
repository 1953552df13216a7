// Traffic counters per MAVLink source (system and component) of one link: messages, bytes, sequence
// gaps and a per-second message rate. The drone connection keeps one table for the drone link; the
// MAVLink communications screen shows a row per source and counts the components heard.
#pragma once
#include "Core/Types.h"

constexpr i32 kMavlinkSourceEntries = 32;

struct MavlinkSourceTraffic {
    u16 source;        // system << 8 | component
    u8 lastSequence;
    u8 pad;
    u64 messages;
    u64 lostMessages;  // sequence numbers skipped between two messages of this source
    u64 bytes;
    u64 lastMessageTime;  // us
    // The per-second rate, refreshed by updateSourceTrafficRates.
    u64 rateTime;
    u64 rateMessages;
    f64 messagesPerSecond;
};

// Sources in the order first heard; a source beyond the capacity is not counted.
struct MavlinkSourceTable {
    i32 count;
    i32 pad;
    MavlinkSourceTraffic entries[kMavlinkSourceEntries];
};

void recordSourceTraffic(MavlinkSourceTable* table, u16 source, u8 sequence, i32 frameLength, u64 now);
// Recomputes each source's rate once a second has passed since its last computation.
void updateSourceTrafficRates(MavlinkSourceTable* table, u64 now);
// The entry of a source, or null while it has not been heard.
const MavlinkSourceTraffic* findSourceTraffic(const MavlinkSourceTable* table, u16 source);
// Lost messages as a share of all the source sent (received + lost), in percent; 0 before any.
f64 sourceLossPercent(const MavlinkSourceTraffic* entry);
