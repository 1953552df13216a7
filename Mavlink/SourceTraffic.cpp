#include "Mavlink/SourceTraffic.h"

namespace {

constexpr u64 kSourceRatePeriod = 1000000;

}  // namespace

void recordSourceTraffic(MavlinkSourceTable* table, u16 source, u8 sequence, i32 frameLength, u64 now) {
    MavlinkSourceTraffic* entry = nullptr;
    for (i32 i = 0; i < table->count && !entry; i++) {
        if (table->entries[i].source == source) entry = &table->entries[i];
    }
    if (!entry) {
        if (table->count >= kMavlinkSourceEntries) return;
        entry = &table->entries[table->count++];
        *entry = MavlinkSourceTraffic{};
        entry->source = source;
        entry->rateTime = now;
    } else {
        entry->lostMessages += (u8)(sequence - entry->lastSequence - 1);
    }
    entry->lastSequence = sequence;
    entry->messages++;
    entry->bytes += frameLength > 0 ? (u64)frameLength : 0;
    entry->lastMessageTime = now;
}

void updateSourceTrafficRates(MavlinkSourceTable* table, u64 now) {
    for (i32 i = 0; i < table->count; i++) {
        MavlinkSourceTraffic* entry = &table->entries[i];
        if (now < entry->rateTime || now - entry->rateTime < kSourceRatePeriod) continue;
        f64 seconds = (f64)(now - entry->rateTime) / 1e6;
        entry->messagesPerSecond = (f64)(entry->messages - entry->rateMessages) / seconds;
        entry->rateMessages = entry->messages;
        entry->rateTime = now;
    }
}

const MavlinkSourceTraffic* findSourceTraffic(const MavlinkSourceTable* table, u16 source) {
    for (i32 i = 0; i < table->count; i++) {
        if (table->entries[i].source == source) return &table->entries[i];
    }
    return nullptr;
}

f64 sourceLossPercent(const MavlinkSourceTraffic* entry) {
    u64 sent = entry->messages + entry->lostMessages;
    return sent ? 100.0 * (f64)entry->lostMessages / (f64)sent : 0.0;
}
