// The simulated payload devices: what a ground station on the loopback receives from them, decoded
// with the payload frame reader, how they answer its command frames, and the drop engine's timing
// on the test's clock.
#include "SimulatorRig.h"

#include <functional>

namespace {

using namespace standin;
using namespace simrig;

// One payload frame as a MAVLink 1 ENCAPSULATED_DATA datagram from the ground station.
std::vector<u8> commandDatagram(u8 type, const std::vector<u8>& body) {
    static u8 frameSequence = 0;
    static u8 mavlinkSequence = 0;
    u8 frameBytes[kPayloadFrameWriterBytes];
    ByteWriter frame = makeByteWriter(frameBytes, sizeof(frameBytes));
    LengthFieldMark mark = beginPayloadFrame(&frameSequence, type, &frame);
    appendBytes(body.data(), (i64)body.size(), &frame);
    finishPayloadFrame(&mark, &frame);
    std::vector<u8> bytes(300);
    ByteWriter out = makeByteWriter(bytes.data(), (i64)bytes.size());
    LengthFieldMark packet = beginMavlinkPacket(&out, &mavlinkSequence, 255 << 8 | 190, MavlinkEncapsulatedData, 0);
    appendBytes(frameBytes, frame.length, &out);
    finishMavlinkPacket(&packet, &out);
    bytes.resize((size_t)out.length);
    return bytes;
}

MavlinkMessage decoded(const std::vector<u8>& datagram) {
    MavlinkMessage message{};
    parseMavlinkBytes(&message, datagram.data(), 0, (i32)datagram.size());
    return message;
}

// An Orvik control frame: flags, drop interval, injection, count, then counters 0 to 10.
std::vector<u8> orvikCommand(u8 flags, u8 interval, u8 count, u8 release, u8 start, u8 stop) {
    std::vector<u8> body(16, 0);
    body[0] = flags;
    body[1] = interval;
    body[2] = body[3] = 255;
    body[4] = count;
    body[6] = release;
    body[14] = start;
    body[15] = stop;
    return body;
}

struct Received {
    u16 localPort;
    u16 source;
    u8 type;
    std::vector<u8> body;
};

// A plain UDP ground station: sends datagrams to the simulator's ports and reads its frames.
struct GroundStation {
    int fd = -1;
    u16 port = 0;
    std::vector<Received> frames;

    bool open(u16 localPort) {
        fd = LossyRelay::bindUdp(localPort);
        port = localPort;
        return fd >= 0;
    }
    void send(u16 to, const std::vector<u8>& bytes) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(to);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, bytes.data(), bytes.size(), 0, (sockaddr*)&address, sizeof(address));
    }
    void receive() {
        u8 buffer[2048];
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof(from);
            ssize_t count = recvfrom(fd, buffer, sizeof(buffer), 0, (sockaddr*)&from, &length);
            if (count < 0) break;
            MavlinkMessage message{};
            i32 position = 0;
            for (;;) {
                position = parseMavlinkBytes(&message, buffer, position, (i32)count);
                if (!message.haveMessage) break;
                if (message.messageId != MavlinkEncapsulatedData) continue;
                EXPECT_EQ(message.version, 1);
                PayloadFrameParser parser{};
                i64 at = 0;
                for (;;) {
                    at = nextPayloadFrame(&parser, message.payload, at, message.payloadLength);
                    if (!parser.frameReady) break;
                    frames.push_back({ntohs(from.sin_port), message.source, parser.type,
                                      std::vector<u8>(parser.payload, parser.payload + parser.payloadLength)});
                }
            }
        }
    }
    const Received* last(u16 source, u8 type) const {
        for (size_t i = frames.size(); i-- > 0;) {
            if (frames[i].source == source && frames[i].type == type) return &frames[i];
        }
        return nullptr;
    }
    ~GroundStation() {
        if (fd >= 0) close(fd);
    }
};

u16 be16(const std::vector<u8>& body, size_t at) { return (u16)(body[at] << 8 | body[at + 1]); }
u64 be64(const std::vector<u8>& body, size_t at) {
    u64 value = 0;
    for (size_t i = 0; i < 8; i++) value = value << 8 | body[at + i];
    return value;
}

TEST(SimulatedPayloads, DevicesSendReadableFramesAndAnswerCommandFrames) {
    simulatedNow = 3000000000;
    Simulator sim;
    sim.preferences->simulateOrvik = 1;
    sim.preferences->simulateVosk = 1;
    sim.preferences->simulateStrobe = 1;
    ASSERT_TRUE(sim.open(16300));
    u16 port = sim.drone->localPorts[0];
    GroundStation station;
    ASSERT_TRUE(station.open((u16)(port + 5)));
    auto run = [&](u64 microseconds, const std::function<void()>& everyTenth = {}) {
        for (u64 t = 0, frame = 0; t < microseconds; t += kFrameStep, frame++) {
            if (everyTenth && frame % 5 == 0) everyTenth();
            simulatedNow += kFrameStep;
            sim.step();
            station.receive();
        }
    };
    // Nothing before the ground station's HEARTBEAT.
    run(500000);
    EXPECT_TRUE(station.frames.empty());
    u8 heartbeatSequence = 0;
    u8 heartbeatBytes[64];
    ByteWriter heartbeat = makeByteWriter(heartbeatBytes, sizeof(heartbeatBytes));
    LengthFieldMark mark = beginMavlinkPacket(&heartbeat, &heartbeatSequence, 255 << 8 | 190, MavlinkHeartbeat, 0);
    const u8 payload[9] = {0, 0, 0, 0, 6, 8, 0xC0, 4, 3};
    appendBytes(payload, 9, &heartbeat);
    finishMavlinkPacket(&mark, &heartbeat);
    station.send(port, std::vector<u8>(heartbeatBytes, heartbeatBytes + heartbeat.length));
    run(1500000);

    // Orvik (component 61) and the light (64) on the drone's port, the units (62, 63) on their own.
    const Received* status = station.last(kSimulatedOrvikSource, PayloadFrameOrvikStatus);
    const Received* version = station.last(kSimulatedOrvikSource, PayloadFrameOrvikVersion);
    const Received* unitA = station.last(kSimulatedVoskSource[0], PayloadFrameVoskStatus);
    const Received* unitB = station.last(kSimulatedVoskSource[1], PayloadFrameVoskStatus);
    const Received* light = station.last(kSimulatedStrobeSource, PayloadFrameLightState);
    ASSERT_TRUE(status && version && unitA && unitB && light);
    EXPECT_EQ(status->localPort, port);
    EXPECT_EQ(light->localPort, port);
    EXPECT_EQ(unitA->localPort, port + 1);
    EXPECT_EQ(unitB->localPort, port + 2);
    ASSERT_EQ(status->body.size(), 27u);
    EXPECT_EQ(be64(status->body, 19), 24u);  // not armed, never commanded
    std::string texts(version->body.begin() + 10, version->body.end());
    EXPECT_EQ(texts, std::string("Simulated Firmware\0March 29, 2023\0Simulated Firmware\0March 29, 2023\0", 68));
    ASSERT_EQ(unitA->body.size(), 25u);
    EXPECT_EQ(unitA->body[0], 0);
    EXPECT_EQ(unitB->body[0], 1);
    EXPECT_EQ(be64(unitA->body, 1), 6u);  // not armed, stale
    EXPECT_EQ(light->body, (std::vector<u8>{0, 0, 0}));
    // Status frames come about every 100 ms, the version about every second.
    size_t statusCount = 0, versionCount = 0;
    for (const Received& frame : station.frames) {
        statusCount += frame.source == kSimulatedOrvikSource && frame.type == PayloadFrameOrvikStatus;
        versionCount += frame.source == kSimulatedOrvikSource && frame.type == PayloadFrameOrvikVersion;
    }
    EXPECT_GE(statusCount, 11u);
    EXPECT_LE(statusCount, 15u);
    EXPECT_GE(versionCount, 1u);
    EXPECT_LE(versionCount, 2u);

    // Armed, 5 drops asked for: dropping, then the counters split 3 and 2.
    u8 start = 0;
    run(4000000, [&] {
        station.send(port, commandDatagram(PayloadFrameOrvikControl, orvikCommand(1, 2, 5, 0, start, 0)));
        station.send((u16)(port + 1), commandDatagram(PayloadFrameVoskControl, {1, 0, start, 0, 0, 0}));
        station.send(port, commandDatagram(PayloadFrameLightControl, {5, 3, 1, 1}));
        start = 1;  // the first commands make the devices healthy, the next raise the counters
    });
    status = station.last(kSimulatedOrvikSource, PayloadFrameOrvikStatus);
    EXPECT_EQ(be16(status->body, 1), 3);
    EXPECT_EQ(be16(status->body, 3), 2);
    EXPECT_EQ(be16(status->body, 5), 3);
    EXPECT_EQ(be16(status->body, 7), 2);
    EXPECT_EQ(status->body[11], 0);         // done dropping
    EXPECT_EQ(be64(status->body, 19), 0u);  // armed and commanded
    unitA = station.last(kSimulatedVoskSource[0], PayloadFrameVoskStatus);
    EXPECT_EQ(be64(unitA->body, 1), 0u);
    EXPECT_EQ(std::vector<u8>(unitA->body.begin() + 13, unitA->body.end()),
              (std::vector<u8>{1, 1, 0x03, 0xE8, 0x03, 0xE8, 0, 0, 0x01, 0x2C, 0x01, 0x2C}));
    unitB = station.last(kSimulatedVoskSource[1], PayloadFrameVoskStatus);
    EXPECT_EQ(be64(unitB->body, 1), 6u);  // the command went to the primary unit only
    light = station.last(kSimulatedStrobeSource, PayloadFrameLightState);
    EXPECT_EQ(light->body, (std::vector<u8>{5, 3, 1}));
}

// The drop engine and command reader on the test's clock, without sockets.
struct Firmware {
    SimulatedOrvikFirmware record{};
    u64 now = 10000000;
    std::vector<u64> dropTimes;

    void command(const std::vector<u8>& body) {
        MavlinkMessage message = decoded(commandDatagram(PayloadFrameOrvikControl, body));
        handleSimulatedKtqPacketB(&message, &record, now);
    }
    // Frames of 20 ms with a command every 100 ms while `commanding`.
    void run(u64 microseconds, const std::vector<u8>& body, bool commanding) {
        for (u64 t = 0; t < microseconds; t += 20000) {
            now += 20000;
            if (commanding && (now / 20000) % 5 == 0) command(body);
            u64 before = record.dropCount;
            runSimulatedDrops(&record, now);
            if (record.dropCount != before) dropTimes.push_back(now);
        }
    }
    std::vector<u64> gaps() const {
        std::vector<u64> result;
        for (size_t i = 1; i < dropTimes.size(); i++) result.push_back(dropTimes[i] - dropTimes[i - 1]);
        return result;
    }
};

TEST(SimulatedPayloads, DropsComeAtTheLongerOfHalfASecondAndTheInterval) {
    for (u8 interval : {2, 10}) {
        Firmware firmware;
        firmware.command(orvikCommand(1, interval, 0, 0, 0, 0));
        std::vector<u8> start = orvikCommand(1, interval, 4, 0, 1, 0);
        firmware.run(8000000, start, true);
        ASSERT_EQ(firmware.dropTimes.size(), 4u) << "interval " << (int)interval;
        u64 least = interval == 2 ? 500000 : 1000000;
        for (u64 gap : firmware.gaps()) {
            EXPECT_GT(gap, least);
            EXPECT_LE(gap, least + 20000);
        }
        EXPECT_EQ(firmware.record.targetDropCount, 4u);
    }
}

TEST(SimulatedPayloads, StoppedCommandsOrAReleaseEndTheDrops) {
    Firmware firmware;
    firmware.command(orvikCommand(1, 0, 0, 0, 0, 0));
    firmware.command(orvikCommand(1, 0, 20, 0, 1, 0));
    firmware.run(1000000, {}, false);
    EXPECT_EQ(firmware.dropTimes.size(), 2u);
    // Silence: the drops go on until the last command is over 5 s old, then the target collapses.
    firmware.run(4000000, {}, false);
    EXPECT_NE(firmware.record.targetDropCount, firmware.record.dropCount);
    firmware.run(1000000, {}, false);
    EXPECT_EQ(firmware.record.targetDropCount, firmware.record.dropCount);
    EXPECT_EQ(firmware.record.state, (u32)SimulatedOrvikCommandsLost);
    u8 bytes[64];
    ByteWriter body = makeByteWriter(bytes, sizeof(bytes));
    appendSimulatedOrvikStatus(&firmware.record, firmware.now, &body);
    EXPECT_EQ(bytes[0], 105);
    EXPECT_EQ(bytes[11], 0);
    EXPECT_EQ(bytes[26], 16);  // the stale bit

    // An emergency release latches the fault: nothing drops any more and the word carries bit 19.
    firmware.command(orvikCommand(1, 0, 0, 1, 1, 0));
    firmware.command(orvikCommand(1, 0, 5, 1, 2, 0));
    u64 count = firmware.record.dropCount;
    firmware.run(2000000, orvikCommand(1, 0, 5, 1, 3, 0), true);
    EXPECT_EQ(firmware.record.dropCount, count);
    body = makeByteWriter(bytes, sizeof(bytes));
    appendSimulatedOrvikStatus(&firmware.record, firmware.now, &body);
    EXPECT_EQ(be64(std::vector<u8>(bytes, bytes + 27), 19), 1u << 19);

    // A stop request while dropping: state 9; disarming with drops pending: state 7.
    Firmware stopped;
    stopped.command(orvikCommand(1, 0, 0, 0, 0, 0));
    stopped.command(orvikCommand(1, 0, 9, 0, 1, 0));
    stopped.run(600000, {}, false);
    stopped.command(orvikCommand(1, 0, 9, 0, 1, 1));
    EXPECT_EQ(stopped.record.state, (u32)SimulatedOrvikStopRequested);
    EXPECT_EQ(stopped.record.targetDropCount, stopped.record.dropCount);
    stopped.command(orvikCommand(1, 0, 9, 0, 2, 1));
    stopped.command(orvikCommand(0, 0, 9, 0, 2, 1));
    EXPECT_EQ(stopped.record.state, (u32)SimulatedOrvikStopped);
}

}  // namespace
