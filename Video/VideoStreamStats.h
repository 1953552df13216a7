// The status-and-statistics head that both video stream records start with: the status line the
// screens show, the reception counters, and once a second the received percentage, the byte rate and
// a video-stream-status flight-log entry (type 14).
#pragma once
#include "Core/FixedString.h"
#include "FlightLogs/FlightLogger.h"

struct VideoStreamStats {
    FixedString status;      // the stream's status line
    i64 lastPacketTime;      // us of the last video packet; 0: none yet
    i64 packetsReceived;     // since start
    i64 packetsLost;         // sequence numbers given up on since start
    i64 packetsLate;         // came after their place in the stream had passed (or twice): dropped
    i64 strangerDatagrams;   // from addresses other than the configured server's: dropped
    i64 bytesReceived;       // Qv: datagram length - 3; RTSP: whole datagram length
    u8 receivedPercent;      // of the last full second, 0-100
    i64 bytesPerSecond;      // of the last full second
    i64 snapshotTime;        // us of the last once-a-second update
    i64 snapshotReceived;
    i64 snapshotLost;
    i64 snapshotBytes;
    u8 entryPayload[32];     // payload of the latest status entry
    FlightLogEntryRecord latestEntry;  // type 14, kept for the flight logger; empty until the first
    u64 (*clock)();          // null: getMicroseconds; tests set their own
};

// The stream's current time in us (its clock, or the system's).
i64 videoStreamNow(const VideoStreamStats* stats);

// Once at least a second has passed since the last snapshot: the percentage of packets received and
// the bytes per second of the interval, a new snapshot, and a type-14 entry (u64 interval us, u64
// bytes, u32 received, u32 lost, u32 width, u32 height) written to the logger. Every call registers
// the latest entry with the logger (when there is one), so that a new log starts with it.
void updateVideoStreamStats(VideoStreamStats* stats, FlightLogger* logger, i32 width, i32 height);
