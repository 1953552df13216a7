// The writer through the real file thread, read back by an independent python reader: the start
// block and its order, every entry type's payload and checksum, the flush boundary, a full job table
// and refused entries.
#include <cstring>

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/PreferenceFields.h"
#include "FlightLogReader.h"
#include "FlightLogs/FlightLogProducers.h"
#include "FlightLogs/FlightLogSession.h"
#include "Platform/FileTestSupport.h"

namespace {

u64 gMicros;
i64 gUtc;
u64 testMicros() { return gMicros; }
i64 testUtc() { return gUtc; }
i64 testZone() { return 2 * 3600 * 1000; }

// 2024-07-03 09:05:07 UTC, in ms since 1601.
constexpr i64 kStartUtc1601 = 1719997507000LL + kUnixEpochIn1601Milliseconds;
constexpr i64 kStartUnix = 1719997507000LL;
const char* kLogName = "Flight Logs/flight_log_2024_7_3_11_05_07.qvlog3";

struct FlightLogFiles : FileThreadFixture {
    FlightLogger* logger = nullptr;
    Preferences* preferences = nullptr;
    u8 installationId[32];

    void SetUp() override {
        FileThreadFixture::SetUp();
        logger = (FlightLogger*)std::calloc(1, sizeof(FlightLogger));
        preferences = (Preferences*)std::calloc(1, sizeof(Preferences));
        logger->fileJobs = &platform->fileJobs;
        logger->clocks = FlightLogClocks{testMicros, testUtc, testZone};
        gMicros = 10000000;
        gUtc = kStartUtc1601;
        for (u32 i = 0; i < 32; i++) installationId[i] = (u8)(0xA0 + i);
    }
    void TearDown() override {
        std::free(logger);
        std::free(preferences);
        FileThreadFixture::TearDown();
    }
    void frame(i32 logging, u32 preferencesChanged = 0) {
        updateFlightLogger(logger, installationId, platform, preferences, logging, preferencesChanged);
    }
    // The file thread finishes the append out, if any; one frame a little over a second later: the
    // writer's periodic flush (one append is out at a time); then the file thread again.
    void flushAndWrite() {
        pass();
        gMicros += 1000001;
        frame(1);
        pass();
    }
    FlightLogReading read() { return readFlightLogWithPython(dataFolder + kLogName); }
    u32 queuedJobs() {
        u32 count = 0;
        for (u32 i = 0; i < kFileTableSlots; i++) count += isSlotUsed(platform->fileJobs.used, i) ? 1 : 0;
        return count;
    }
};

u32 loggedPreferenceRows() {
    u32 count = 0;
    for (const PreferenceField& field : preferenceFields) count += field.notLogged ? 0 : 1;
    return count;
}

TEST_F(FlightLogFiles, StartBlockOrderAndEveryPayloadReadBackByAnIndependentReader) {
    // What the log start must carry: two remembered records (one older than the log), the held
    // controller state and every logged preference.
    u8 older[] = {0xFD, 1, 2};
    u8 camera[] = {0xFE, 9};
    FlightLogEntryRecord records[2] = {{(i64)gMicros - 5000000, makeByteWriter(older, 3), FlightLogReceivedFromDrone},
                                       {(i64)gMicros, makeByteWriter(camera, 2), FlightLogReceivedFromCamera}};
    records[0].payload.length = 3;
    records[1].payload.length = 2;
    ASSERT_EQ(registerFlightLogEntry(logger, &records[0]), 1);
    ASSERT_EQ(registerFlightLogEntry(logger, &records[1]), 1);
    platform->gamepad.controllerKind = 1;
    platform->gamepad.name = makeString("Pad");
    platform->gamepad.leftStickX = 0.5f;
    platform->input.keys[1] = 1ull << 6;  // button 70 held
    preferences->waypointCurveRange = 12.5;
    preferences->droneAddress = AddressRecord{14550, 6, 0, {0x20, 0x01, 0x0d, 0xb8}};
    // System texts too long for the 200-byte header: the header stops before the first that does
    // not fit instead of cutting it.
    platform->systemReleaseId = makeString("12");
    platform->systemVersion = makeString(std::string(120, 'v').c_str());
    platform->biosManufacturer = makeString(std::string(100, 'm').c_str());

    frame(1);
    EXPECT_STREQ(logger->logFileName.text, kLogName);

    // Entries of the flight.
    gMicros += 2000;
    u8 datagram[] = {0xFD, 0x09, 0, 0};
    addFlightLogEntry(logger, (i64)gMicros, FlightLogSentToDrone, datagram, sizeof datagram);
    u8 position[36];
    ByteWriter writer = makeByteWriter(position, sizeof position);
    appendF64Le(-33.5, &writer);
    appendF64Le(150.25, &writer);
    for (f32 v : {10.0f, 200.0f, 8.5f, 210.0f, 1.0f}) appendF32Le(v, &writer);
    addFlightLogEntry(logger, (i64)gMicros, FlightLogAugmentedPosition, position, writer.length);
    VideoStreamStatistics video{1000123, 250000, 180, 20, 1280, -1};
    logVideoStreamStatus(logger, (i64)gMicros, &video);
    InputState input = platform->input;
    input.keys[0] = 1ull << 3;
    input.keys[1] = 0;
    logControllerState(logger, &platform->gamepad, &input);  // 3 pressed, 70 released; pad unchanged
    preferences->waypointCurveRange = 20;
    frame(1, 1);
    std::vector<u8> tooLong(65536, 1);
    addFlightLogEntry(logger, (i64)gMicros, FlightLogSentToDrone, tooLong.data(), (i64)tooLong.size());
    EXPECT_EQ(logger->refusedEntries, 1u);
    flushAndWrite();

    FlightLogReading log = read();
    ASSERT_EQ(log.exitStatus, 0) << (log.lines.empty() ? "" : log.lines.back());
    const std::vector<std::string>& l = log.lines;
    u32 rows = loggedPreferenceRows();
    ASSERT_EQ(l.size(), 5 + rows + 1 + 6 + 1u);
    std::string startMs = std::to_string(kStartUnix);
    EXPECT_EQ(l[0], "type=1 time=" + std::to_string(kStartUnix - 5000) + " bytes=fd0102");
    EXPECT_EQ(l[1], "type=2 time=" + startMs + " bytes=fe09");
    EXPECT_EQ(l[2], "type=16 time=" + startMs + " controller=1 emulated=0 axes=0.5,0,0,0,0,0,0,0");
    EXPECT_EQ(l[3], "type=13 time=" + startMs + " name=Pad");
    EXPECT_EQ(l[4], "type=12 time=" + startMs + " button=70");
    u32 row = 0;
    for (u32 i = 0; i < rows; i++, row++) {
        while (preferenceFields[row].notLogged) row++;
        std::string key = std::string("key=") + preferenceFields[row].key + " value=";
        EXPECT_EQ(l[5 + i].rfind("type=15 time=" + startMs + " kind=", 0), 0u) << l[5 + i];
        EXPECT_NE(l[5 + i].find(key), std::string::npos) << l[5 + i];
    }
    EXPECT_EQ(linesStartingWith(l, "type=15").size(), rows + 1);
    EXPECT_EQ(linesStartingWith(l, "type=15 time=" + startMs + " kind=3 key=Waypoint curve range (m) value=12.5").size(), 1u);
    EXPECT_EQ(linesStartingWith(l, "type=15 time=" + startMs +
                                       " kind=4 key=Drone IP address and port value=14550/6/20010db8000000000000000000000000")
                  .size(),
              1u);
    EXPECT_EQ(linesStartingWith(l, "type=15 time=" + startMs + " kind=1 key=Map URL").size(), 0u);
    EXPECT_EQ(l[5 + rows], "type=7 time=" + startMs + " shift=120 version=0 app=3.1.0 name=Orvik os=0 release=12 incremental=" +
                               std::string(120, 'v') + " cut");
    std::string later = std::to_string(kStartUnix + 2);
    EXPECT_EQ(l[6 + rows], "type=3 time=" + later + " bytes=fd090000");
    EXPECT_EQ(l[7 + rows], "type=10 time=" + later + " position=-33.5,150.25 10,200,8.5,210,1");
    EXPECT_EQ(l[8 + rows], "type=14 time=" + later + " interval=1000123 bytes=250000 received=180 dropped=20 size=1280x-1");
    EXPECT_EQ(entryBody(l[9 + rows]), "button=3");
    EXPECT_EQ(l[9 + rows].rfind("type=12 ", 0), 0u);
    EXPECT_EQ(entryBody(l[10 + rows]), "button=70");
    EXPECT_EQ(l[10 + rows].rfind("type=11 ", 0), 0u);
    EXPECT_EQ(entryBody(l[11 + rows]), "kind=3 key=Waypoint curve range (m) value=20");
    EXPECT_EQ(l.back(), "end entries=" + std::to_string(l.size() - 1) + " tail=0");

    // A full header: every field, the installation id's first 8 bytes last.
    u8 bytes[kFlightLogHeaderEntryBytes];
    ByteWriter header = makeByteWriter(bytes, sizeof bytes);
    platform->systemVersion = makeString("19045.1");
    platform->biosManufacturer = makeString("Maker");
    platform->biosProductName = makeString("Tablet");
    writeFlightLogHeaderEntry(&header, kStartUnix, -5 * 3600 * 1000, installationId, platform);
    EXPECT_EQ(header.overflow, 0);
    u8 checksum[2];
    u16 crc = flightLogChecksum(bytes + 11, header.length - 11, FlightLogHeader);
    checksum[0] = (u8)crc;
    checksum[1] = (u8)(crc >> 8);
    writeDataFile("header.qvlog3", std::string((char*)bytes, header.length) + std::string((char*)checksum, 2));
    FlightLogReading one = readFlightLogWithPython(dataFolder + "header.qvlog3");
    ASSERT_EQ(one.lines.size(), 2u);
    EXPECT_EQ(entryBody(one.lines[0]),
              "shift=-300 version=0 app=3.1.0 name=Orvik os=0 release=12 incremental=19045.1 manufacturer=Maker "
              "device=Tablet id=a0a1a2a3a4a5a6a7");

    // Logging off: the rest goes out, the log closes; a later start names a new file.
    frame(0);
    EXPECT_EQ(logger->logFileName.length, 0);
    gUtc += 61000;
    frame(1);
    EXPECT_STREQ(logger->logFileName.text, "Flight Logs/flight_log_2024_7_3_11_06_08.qvlog3");
}

TEST_F(FlightLogFiles, AnEntryReachingExactly0x80000BytesFlushesFirstAndTheFileKeepsEveryEntryInOrder) {
    frame(1);
    u32 next = 0;
    while (kFlightLogBufferBytes - 1 - logger->bufferFill > 60000 + 13) addNumbered(logger, (i64)gMicros, &next, 60000);
    // Bring the buffer to 0x7FFFF with one entry: no flush, no free byte left.
    u32 room = kFlightLogBufferBytes - 1 - logger->bufferFill;
    u32 jobsBefore = queuedJobs();
    addNumbered(logger, (i64)gMicros, &next, room - 13);
    EXPECT_EQ(logger->bufferFill, kFlightLogBufferBytes - 1);
    EXPECT_EQ(queuedJobs(), jobsBefore);
    // One entry of 17 bytes more would end past 0x80000: it goes after a flush.
    addNumbered(logger, (i64)gMicros, &next, 4);
    EXPECT_EQ(queuedJobs(), jobsBefore + 1);
    EXPECT_EQ(logger->bufferFill, 17u);
    // From an empty buffer, an entry ending at exactly 0x80000 would leave no free byte: flushed
    // before it.
    flushAndWrite();
    ASSERT_EQ(logger->bufferFill, 0u);
    addNumbered(logger, (i64)gMicros, &next, 65535);
    while (kFlightLogBufferBytes - logger->bufferFill > 65535 + 13) addNumbered(logger, (i64)gMicros, &next, 65535);
    u32 exact = kFlightLogBufferBytes - logger->bufferFill - 13;
    jobsBefore = queuedJobs();
    addNumbered(logger, (i64)gMicros, &next, exact);
    EXPECT_EQ(queuedJobs(), jobsBefore + 1);
    EXPECT_EQ(logger->bufferFill, exact + 13);
    flushAndWrite();

    FlightLogReading log = read();
    ASSERT_EQ(log.exitStatus, 0) << log.lines.back();
    std::vector<u32> numbers = numbersIn(log);
    ASSERT_EQ(numbers.size(), next);
    for (u32 i = 0; i < next; i++) ASSERT_EQ(numbers[i], i);
    EXPECT_EQ(log.lines.back(), "end entries=" + std::to_string(log.lines.size() - 1) + " tail=0");
}

TEST_F(FlightLogFiles, AFullJobTableLosesNothingAndOnlyEntriesThatCannotFitAreRefused) {
    frame(1);
    // Every job slot busy with work the file thread has not reached.
    for (u32 i = 0; i < kFileTableSlots; i++) {
        enqueueFileJob(formatInt("busy/@", i), "text/plain", nullptr, 0, 0, FileJobWrite, &platform->fileJobs, nullptr);
    }
    u32 next = 0;
    addNumbered(logger, (i64)gMicros, &next, 100);
    for (i32 second = 0; second < 3; second++) {
        gMicros += 1000001;
        frame(1);  // the periodic flush finds no slot: the bytes stay
    }
    EXPECT_NE(logger->bufferFill, 0u);
    while (kFlightLogBufferBytes - 1 - logger->bufferFill >= 60000 + 13) addNumbered(logger, (i64)gMicros, &next, 60000);
    u32 kept = next;
    addNumbered(logger, (i64)gMicros, &next, 60000);  // cannot fit and cannot be flushed: refused
    EXPECT_EQ(logger->refusedEntries, 1u);
    gMicros += 1;
    frame(1);  // the next frame tries again at once, still without a slot

    pass();  // the file thread finishes the busy jobs
    frame(1);
    pass();
    FlightLogReading log = read();
    ASSERT_EQ(log.exitStatus, 0) << log.lines.back();
    std::vector<u32> numbers = numbersIn(log);
    ASSERT_EQ(numbers.size(), kept);
    for (u32 i = 0; i < kept; i++) ASSERT_EQ(numbers[i], i);
    EXPECT_EQ(linesStartingWith(log.lines, "type=7 ").size(), 1u);

    // Logging stopped while the table is full: the closed log's last bytes wait, then go to it.
    for (u32 i = 0; i < kFileTableSlots; i++) {
        enqueueFileJob(formatInt("busy/@", i), "text/plain", nullptr, 0, 0, FileJobWrite, &platform->fileJobs, nullptr);
    }
    addNumbered(logger, (i64)gMicros, &next, 100);
    frame(0);
    EXPECT_EQ(logger->logFileName.length, 0);
    EXPECT_NE(logger->bufferFill, 0u);
    pass();
    frame(0);
    pass();
    numbers = numbersIn(read());
    ASSERT_EQ(numbers.size(), kept + 1);
    EXPECT_EQ(numbers.back(), next - 1);
}

}  // namespace
