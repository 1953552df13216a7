// The replay of a log built from node-mavlink datagrams: the replayed vehicle after each datagram
// against the values node-mavlink wrote, the idle updates between datagrams, the start block under
// a target before it; and the log's own entries, hostile ones included.
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "Mavlink/NodePeer.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "FlightLogReplay/FlightLogList.h"
#include "FlightLogs/FlightLogger.h"
#include "FlightLogReplay/FlightLogTestLogs.h"

namespace {

using flightlogtest::Bytes;
using flightlogtest::Entry;
using flightlogtest::encodeLog;

constexpr i64 kStart = 1765100000000;  // Unix ms

struct ReplayFixture : ::testing::Test {
    std::vector<u64> buffer;
    FlightLogIndex index{};
    FlightLogReplay* replay = (FlightLogReplay*)std::calloc(1, sizeof(FlightLogReplay));
    i64 cursor = 0;

    ~ReplayFixture() override { std::free(replay); }

    void build(const std::vector<Entry>& entries) {
        Bytes log = encodeLog(entries);
        buffer.assign(log.size() / 8 + 1, 0);
        std::memcpy(buffer.data(), log.data(), log.size());
        index = optimizeFlightLogFile((u8*)buffer.data(), (i64)log.size());
        ASSERT_EQ(index.error.length, 0) << index.error.text;
        std::memset((void*)replay, 0, sizeof(*replay));
        cursor = 0;
    }
    FlightLogReplayStep step(i64 target, i64 idle = 1000) {
        FlightLogReplayStep out;
        replayFlightLog(&out, &cursor, target, idle, nullptr, &index, replay, nullptr);
        return out;
    }
    void replayAll() {
        while (cursor < index.entryCount && step(INT64_MAX).type != -1) {
        }
    }
};

Bytes preference(u8 kind, const std::string& key, const Bytes& value) {
    Bytes out{kind, (u8)key.size()};
    out.insert(out.end(), key.begin(), key.end());
    out.push_back((u8)value.size());
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes f64Bytes(f64 value) {
    Bytes out(8);
    std::memcpy(out.data(), &value, 8);
    return out;
}

Bytes geofence(i32 stated, i32 points) {
    Bytes out{(u8)stated};
    for (i32 i = 0; i < points; i++) {
        Bytes lat = f64Bytes(45.0 + i * 0.001), lon = f64Bytes(-120.0 + i * 0.001);
        out.insert(out.end(), lat.begin(), lat.end());
        out.insert(out.end(), lon.begin(), lon.end());
    }
    return out;
}

TEST_F(ReplayFixture, NodeMavlinkFlightReplaysIntoTheVehicleStateWithIdleUpdatesBetweenDatagrams) {
    ASSERT_EQ(prepareNodePeer(), "");
    std::istringstream output(runNodePeer("flight 60"));
    std::vector<Entry> entries{
        {15, kStart, preference(0, "Units", Bytes{'I', 'M', 'P', 'E', 'R', 'I', 'A', 'L', ' ', '(', 'M', 'P', 'H', ')'})},
        {7, kStart, Bytes{0, 0, 0, 0}},
    };
    struct Expected {
        i64 time;
        i64 lat, lon, relativeAlt;
        f32 roll, pitch, yaw;
    };
    std::vector<Expected> expected;
    std::string word, hex;
    while (output >> word) {
        if (word == "datagram") {
            i64 ms;
            output >> ms >> hex;
            entries.push_back(Entry{1, kStart + 1000 + ms, bytesFromHex(hex)});
            entries.push_back(Entry{3, kStart + 1000 + ms, Bytes{0xFD, 0, 1}});  // sent: passed over
            expected.push_back(Expected{kStart + 1000 + ms, 0, 0, 0, 0, 0, 0});
        } else if (word == "expect") {
            Expected* e = &expected.back();
            output >> e->lat >> e->lon >> e->relativeAlt >> e->roll >> e->pitch >> e->yaw;
        } else {
            FAIL() << "peer said: " << word;
        }
    }
    ASSERT_EQ(expected.size(), 60u);
    // The file holds the datagrams newest first; the index puts them in time order, and each sent
    // datagram before the received one of the same time, as they stand in the file.
    std::reverse(entries.begin() + 2, entries.end());
    build(entries);

    // A target before every datagram: the start block is applied, then nothing.
    EXPECT_EQ(step(kStart - 10).type, 15);
    EXPECT_EQ(replay->preferences.units, 3u);
    EXPECT_EQ(step(kStart - 10).type, 7);
    EXPECT_EQ(step(kStart - 10).type, -1);
    EXPECT_EQ(cursor, 2);

    u64 steps = 0;
    i64 previous = 0;
    for (const Expected& e : expected) {
        ASSERT_EQ(step(index.endTime).type, 3);
        FlightLogReplayStep applied = step(index.endTime);
        ASSERT_EQ(applied.type, 1);
        ASSERT_EQ(applied.replayTime, e.time);
        EXPECT_EQ(applied.replayMicros, (e.time - index.timeBase) * 1000);
        const VehicleState* vehicle = &replay->connection.vehicle;
        EXPECT_EQ(vehicle->vehicleId, 0x0101);
        EXPECT_EQ(vehicle->autopilotKind, (u32)AutopilotPx4);
        EXPECT_EQ(vehicle->globalPosition.latitude, e.lat / 1e7);
        EXPECT_EQ(vehicle->globalPosition.longitude, e.lon / 1e7);
        EXPECT_EQ(vehicle->globalPosition.relativeAltitude, e.relativeAlt / 1000.0);
        EXPECT_EQ(vehicle->roll, e.roll);
        EXPECT_EQ(vehicle->pitch, e.pitch);
        EXPECT_EQ(vehicle->yaw, e.yaw);
        EXPECT_EQ(vehicle->attitudeTime, (u64)applied.replayMicros);
        // One update per 1,000 ms strictly between the datagrams, then the datagram's own.
        i64 idle = previous == 0 ? 0 : (e.time - previous + 999) / 1000 - 1;
        EXPECT_EQ(replay->droneLinkSteps - steps, (u64)idle + 1) << e.time - previous;
        steps = replay->droneLinkSteps;
        previous = e.time;
    }
    EXPECT_EQ(cursor, index.entryCount);
}

TEST_F(ReplayFixture, TwoDatagramsFiveSecondsApartRunFourIdleUpdatesAndIdleStepsStopAtTheTarget) {
    build({{1, kStart, Bytes{}}, {1, kStart + 5000, Bytes{}}});
    step(kStart + 5000);
    step(kStart + 5000);
    EXPECT_EQ(replay->droneLinkSteps, 2u + 4);

    build({{1, kStart, Bytes{}}, {1, kStart + 5000, Bytes{}}});
    step(kStart + 2500);
    EXPECT_EQ(step(kStart + 2500).type, -1);
    EXPECT_EQ(replay->replayTime, kStart + 2000);
    EXPECT_EQ(replay->droneLinkSteps, 1u + 2);
}

// A log with twenty days of silence in it (a damaged or merged log) replays in a bounded number of
// updates and still arrives at the same time.
TEST_F(ReplayFixture, LongSilenceRunsBoundedIdleUpdates) {
    const i64 month = 20LL * 24 * 3600 * 1000;
    build({{1, kStart, Bytes{}}, {1, kStart + month + 500, Bytes{}}});
    step(INT64_MAX);
    u64 before = replay->droneLinkSteps;
    EXPECT_EQ(step(kStart + month - 250).type, -1);
    EXPECT_EQ(replay->droneLinkSteps - before, (u64)kMaxIdleUpdatesPerGap);
    EXPECT_EQ(replay->replayTime, kStart + month - 1000);
    EXPECT_EQ(step(INT64_MAX).type, 1);
    EXPECT_EQ(replay->replayTime, kStart + month + 500);
    EXPECT_EQ(replay->droneLinkSteps - before, (u64)kMaxIdleUpdatesPerGap + 1 + 1);
}

TEST_F(ReplayFixture, HostileEntriesChangeOnlyWhatTheirBytesHold) {
    Bytes longText(255, 'x');
    Bytes cutMission{29, 3};  // three waypoints stated, one and a half present
    for (i32 i = 0; i < 29 + 14; i++) cutMission.push_back((u8)i);
    build({
        {12, kStart, Bytes{70, 0}},
        {12, kStart, Bytes{64, 1}},  // 320: beyond the key map
        {12, kStart, Bytes{5}},      // one byte: the index alone
        {11, kStart, Bytes{70, 0}},
        {15, kStart, preference(1, "RTSP URL", longText)},
        {15, kStart, preference(3, "Waypoint curve range (m)", Bytes{1, 2, 3, 4})},
        {15, kStart, preference(3, "waypoint curve range (m)", f64Bytes(9))},  // keys match exactly
        {15, kStart, preference(4, "QV video server IP address and port", Bytes(3 + 40, 0xAB))},
        {15, kStart, preference(4, "Drone IP address and port", Bytes{0x50, 0x00, 4, 10, 0, 0, 1})},
        {15, kStart, preference(0, "Units", Bytes{'F', 'u', 'r', 'l', 'o', 'n', 'g', 's'})},
        {9, kStart, geofence(150, 150)},
        {9, kStart + 1, geofence(5, 2)},
        {8, kStart, cutMission},
        {10, kStart, Bytes(20, 0)},
        {14, kStart, Bytes(22, 1)},
        {13, kStart, Bytes{'P', 'a', 'd', 0xC3, 0xA9, 0xFF, 0xE2, 0x82}},
        {16, kStart, Bytes{3, 1, 0, 0, 0x80, 0x3F, 0, 0}},
        {7, kStart, Bytes{}},
    });
    replayAll();
    const InputState* input = &replay->input;
    EXPECT_EQ(input->keys[0], 1ull << 5);  // 70 pressed and released, 320 ignored
    EXPECT_EQ(input->keys[1], 0u);
    EXPECT_EQ(input->keys[4], 0u);
    const Preferences* p = &replay->preferences;
    EXPECT_EQ(p->rtspUrl.length, 253);
    EXPECT_EQ(p->rtspUrl.text[253], 0);
    EXPECT_EQ(p->waypointCurveRange, 0.0);
    EXPECT_EQ(p->qvVideoServerAddress.family, 0xAB);
    EXPECT_EQ(p->qvVideoServerAddress.address[15], 0xAB);
    EXPECT_EQ(p->droneAddress.port, 0);  // a replay never talks to the recorded drone
    EXPECT_EQ(p->units, 0u);
    EXPECT_EQ(replay->geofence.pointCount, 2);  // the later entry, with the points it holds
    EXPECT_EQ(replay->mission.waypointCount, 1);
    EXPECT_EQ(replay->mission.waypoints[0].uploadMark, 2u);
    EXPECT_EQ(replay->positionEntries, 1u);
    EXPECT_TRUE(std::isnan(replay->altitudeAboveGround));
    EXPECT_EQ(replay->videoPacketsReceived, 0x01010101u);
    EXPECT_EQ(replay->videoPacketsDropped, 0u);
    EXPECT_EQ(std::string(replay->gamepad.name.text, replay->gamepad.name.length), "Pad\xC3\xA9");
    EXPECT_EQ(replay->gamepad.controllerKind, 3u);
    EXPECT_EQ(replay->controllerEmulated, 1);
    EXPECT_EQ(replay->gamepad.leftStickX, 1.0f);
    EXPECT_EQ(replay->gamepad.leftStickY, 0.0f);

    build({{9, kStart, geofence(150, 150)}});
    replayAll();
    EXPECT_EQ(replay->geofence.pointCount, 100);
}

TEST(FlightLogParse, ARecordingThatStopsAtTheFinalEntryCountsOnce) {
    // Recording from the second entry of four to the last one, which stops it.
    u32 flags[] = {0, 1, 1, 0};
    u32 videos = 0, was = 0;
    for (i64 i = 0; i < 4; i++) {
        videos += videoEndsAfterEntry(was, flags[i], 3 - i);
        was = flags[i];
    }
    EXPECT_EQ(videos, 1u);
    // Still recording at the end: counted once too.
    EXPECT_EQ(videoEndsAfterEntry(1, 1, 1) + videoEndsAfterEntry(1, 1, 0), 1u);
}

using flightlogtest::mavlinkFrame;
using flightlogtest::orvikStatus;

TEST(FlightLogParse, JobCountsTheIgnitionSpheresDroppedDuringTheLog) {
    Bytes heartbeat = mavlinkFrame(MavlinkHeartbeat, Bytes{0, 0, 0, 0, 2, 12, 0x81, 4, 3}, 0x0101);
    std::vector<Entry> entries{{7, kStart, Bytes{0, 0, 0, 0}}, {1, kStart + 100, heartbeat}};
    i16 counters[][2] = {{3, 2}, {3, 2}, {7, 2}, {10, 4}};
    for (i32 i = 0; i < 4; i++) entries.push_back(Entry{1, kStart + 1000 * (i + 1), orvikStatus(counters[i][0], counters[i][1])});
    FlightLogList* list = (FlightLogList*)std::calloc(1, sizeof(FlightLogList));
    FileReadRequest request{};
    request.name = makeString("flight_log_2025_12_7_10_00_00.qvlog3");
    Bytes log = encodeLog(entries);  // the job indexes the bytes itself
    std::vector<u64> bytes(log.size() / 8 + 1);
    std::memcpy(bytes.data(), log.data(), log.size());
    request.bytesRead = log.size();
    request.data = (u8*)bytes.data();
    list->logRequest = &request;
    parseFlightLogJob(list);
    EXPECT_EQ(list->index.entryCount, 6);
    EXPECT_EQ(list->parseReplay.connection.payload.orvik.dropCounterA, 10);
    EXPECT_EQ(list->ignitionSpheres, 9u);  // 14 at the end, 5 at the first status
    std::free(list);
}

TEST(FlightLogParse, JobIndexesTheLogAndPublishesItsResult) {
    Bytes log = encodeLog({{7, kStart, Bytes{}}, {1, kStart + 60000, Bytes{}}, {1, kStart + 120000, Bytes{}}});
    FlightLogList* list = (FlightLogList*)std::calloc(1, sizeof(FlightLogList));
    std::vector<u64> bytes(8 + log.size() / 8);
    std::memcpy((u8*)bytes.data() + 16, log.data(), log.size());
    FileReadRequest request{};
    request.data = (u8*)bytes.data();
    request.headroom = 16;
    request.bytesRead = log.size();
    request.name = makeString("flight_log_2025_12_7_10_00_00.QVLOG3");
    list->logRequest = &request;
    list->parseState = FlightLogParsing;
    parseFlightLogJob(list);
    EXPECT_EQ(flightLogParseState(list), (u32)FlightLogParseDone);
    EXPECT_EQ(list->extensionFound, 1u);
    EXPECT_EQ(list->index.entryCount, 3);
    EXPECT_EQ(list->index.endTime - list->index.startTime, 120000);

    request.name = makeString("notes.txt");
    list->extensionFound = 0;
    parseFlightLogJob(list);
    EXPECT_STREQ(list->index.error.text, "Unrecognized file extension, should be .qvlog3");
    EXPECT_EQ(list->extensionFound, 0u);
    std::free(list);
}

}  // namespace
