#include "Video/VideoStreamStats.h"

#include "Core/Clock.h"
#include "FlightLogs/FlightLogProducers.h"

i64 videoStreamNow(const VideoStreamStats* stats) {
    return (i64)(stats->clock ? stats->clock() : getMicroseconds());
}

void updateVideoStreamStats(VideoStreamStats* stats, FlightLogger* logger, i32 width, i32 height) {
    i64 now = videoStreamNow(stats);
    if (now - stats->snapshotTime >= 1000000) {
        i64 elapsed = now - stats->snapshotTime;
        i64 byteDifference = stats->bytesReceived - stats->snapshotBytes;
        i64 received = stats->packetsReceived - stats->snapshotReceived;
        i64 lost = stats->packetsLost - stats->snapshotLost;
        stats->bytesPerSecond = byteDifference * 1000000 / elapsed;
        stats->receivedPercent = received ? (u8)(received * 100 / (received + lost)) : 0;
        stats->snapshotReceived = stats->packetsReceived;
        stats->snapshotLost = stats->packetsLost;
        stats->snapshotBytes = stats->bytesReceived;
        stats->snapshotTime = now;

        VideoStreamStatistics interval{(u64)elapsed, (u64)byteDifference, (u32)received, (u32)lost, width, height};
        logVideoStreamStatus(logger, now, &interval, &stats->latestEntry, stats->entryPayload);
    }
    if (logger && stats->latestEntry.payload.length) registerFlightLogEntry(logger, &stats->latestEntry);
}
