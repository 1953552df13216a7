// The simulated payload devices that ride on the simulated drone (SimulatedDrone.h): the Orvik
// firmware (reads type 1, drops, sends types 5 and 6), two VOSK units (read type 8, send type 7) and
// the strobe light (reads type 9, sends type 10). Each frame they send is one MAVLink 1
// ENCAPSULATED_DATA (131) from system 1 whose payload is exactly one payload frame
// (TarnwickPayloads/PayloadFrame.h). Components: Orvik 61, VOSK units 62 and 63, strobe light 64.
// The records start zero-filled and live inside SimulatedDrone; only controlSimulatedPx4Drone drives
// them, but every function here takes the clock as an argument so it can be driven alone.
#pragma once
#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "Network/Socket.h"

constexpr u16 kSimulatedOrvikSource = 1 << 8 | 61;
constexpr u16 kSimulatedVoskSource[2] = {1 << 8 | 62, 1 << 8 | 63};
constexpr u16 kSimulatedStrobeSource = 1 << 8 | 64;

constexpr u64 kSimulatedStatusInterval = 100000;    // types 5, 7 and 10
constexpr u64 kSimulatedVersionInterval = 1000000;  // type 6, and how long a command holds it back
constexpr u64 kSimulatedOrvikStale = 5000000;       // commands older than this stop the drops
constexpr u64 kSimulatedVoskStale = 3000000;
constexpr u64 kSimulatedMinimumDropGap = 500000;
constexpr u64 kSimulatedContinuousDrops = 400;

// Orvik state codes the simulated firmware reports.
enum SimulatedOrvikState : u32 {
    SimulatedOrvikStopped = 7,         // disarmed with drops pending
    SimulatedOrvikStopRequested = 9,   // a stop request, or continuous mode turned off
    SimulatedOrvikCommandsLost = 105,  // no command for 5 s while dropping
    SimulatedOrvikFaulted = 162,       // the fault latch stopped the drops
};

struct SimulatedOrvikFirmware {
    PayloadFrameParser parser;  // the command reader's
    u64 lastStatusSendTime;
    u64 lastVersionSendTime;
    u8 mavlinkSequence;
    u8 frameSequence;
    u64 versionHoldTime;  // a command with flags bit 2 holds the version frame back for 1 s
    u64 lastCommandTime;
    u32 armed;  // flags bit 0 of the last command
    u64 targetDropCount;
    u64 lastDropTime;
    u64 dropCount;
    u8 dropInterval;  // tenths of a second, body byte 1 of the last command
    u8 reportedByte;  // body byte 2 of the last command that was below 255
    u32 lastContinuousBit;
    u32 continuousMode;
    u32 state;  // SimulatedOrvikState, 0 at start
    u8 lastCounters[3];  // body bytes 6 (emergency release), 14 (start), 15 (stop)
    u32 faultLatch;  // set by an emergency release request, never cleared
};

struct SimulatedVoskUnit {
    u64 lastStatusSendTime;
    u8 mavlinkSequence;
    u8 frameSequence;
    u64 lastCommandTime;
    u32 armed;  // flags bit 0 of the last command
    u8 lastCounters[5];  // safe, open A, drop A, open B, drop B
    u32 modeBit;  // flags bit 1 of the last command
    // Each goes from 0 to 1 once and stays.
    u32 eventFlag;
    u32 channelBFirst;
    u32 channelAFirst;
    u32 channelASecond;
    u32 channelBSecond;
};

// The light's state in the order of its frames: byte 0 brightness, byte 1 pattern, byte 2 mode.
struct SimulatedStrobeLight {
    u64 lastSendTime;
    u8 mavlinkSequence;
    u8 frameSequence;
    u64 lastControlTime;
    u8 brightness;
    u8 pattern;
    u8 mode;
    u8 lastChangeCounter;
};

// The VOSK unit's command reader: the type-8 frames of an ENCAPSULATED_DATA message (a fresh parser
// per message). Other messages and frame types change nothing.
void handleSimulatedKtqPacketA(const MavlinkMessage* message, SimulatedVoskUnit* unit, u64 now);
// The Orvik firmware's command reader: the type-1 frames of an ENCAPSULATED_DATA message, read with
// the firmware's own parser. Other messages and frame types change nothing.
void handleSimulatedKtqPacketB(const MavlinkMessage* message, SimulatedOrvikFirmware* firmware, u64 now);
// The strobe light's reader: the type-9 frames of an ENCAPSULATED_DATA message.
void handleSimulatedStrobePacket(const MavlinkMessage* message, SimulatedStrobeLight* light, u64 now);

// The Orvik drop engine: while the target differs from the count, one drop at most per call, at
// least 0.5 s and the drop interval apart; commands stopped for 5 s (state 105) or the fault latch
// (state 162) collapse the target to the count.
void runSimulatedDrops(SimulatedOrvikFirmware* firmware, u64 now);

// The senders, each through its socket's send queue to the ground station; a full queue skips the
// frame and keeps its timer. simPayloadSendStatus runs the drop engine first.
void simPayloadSendStatus(Socket* socket, const AddressRecord* groundStation, SimulatedOrvikFirmware* firmware,
                          u64 now);
void simPayloadSendFrame7(Socket* socket, const AddressRecord* groundStation, SimulatedVoskUnit* unit, u16 unitIndex,
                          u64 now);
void simPayloadSendFrame10(Socket* socket, const AddressRecord* groundStation, SimulatedStrobeLight* light, u64 now);

// The frame bodies, for the senders and for tests.
void appendSimulatedOrvikStatus(const SimulatedOrvikFirmware* firmware, u64 now, ByteWriter* body);
void appendSimulatedOrvikVersion(const SimulatedOrvikFirmware* firmware, ByteWriter* body);
void appendSimulatedVoskStatus(const SimulatedVoskUnit* unit, u16 unitIndex, u64 now, ByteWriter* body);
