// The flight-log exports of a flight recorded from node-mavlink frames, read back by readers of their
// own (python's csv module, gpxpy, OGR's GPX driver, gpsbabel, xmllint against the GPX 1.1 schema),
// and the export rows' progress and result texts over the real file thread.
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Core/Format.h"
#include "Mavlink/NodePeer.h"
#include "FlightLogReplay/FlightLogExports.h"
#include "FlightLogReplay/FlightLogTestLogs.h"
#include "Platform/FileTestSupport.h"

namespace {

using flightlogtest::Bytes;
using flightlogtest::Entry;

constexpr i64 kStart = 1765100000000;  // Unix ms

std::string run(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) text.append(chunk, n);
        pclose(pipe);
    }
    return text;
}

void appendF32(Bytes* out, f32 value) {
    u8 b[4];
    std::memcpy(b, &value, 4);
    out->insert(out->end(), b, b + 4);
}
void appendF64(Bytes* out, f64 value) {
    u8 b[8];
    std::memcpy(b, &value, 8);
    out->insert(out->end(), b, b + 8);
}

// The recorded flight: the peer's datagrams, a position entry 10 ms after each position the peer
// sent (one without its elevation-map altitude), and the header that starts the log.
struct RecordedFlight {
    std::string peerOutput;
    std::string augmented;  // "MS LAT LON AGL DEM PILOT" per position entry
    std::vector<Entry> entries;
};

RecordedFlight recordFlight() {
    RecordedFlight flight;
    flight.peerOutput = runNodePeer("exportflight " + std::to_string(kStart));
    Bytes header(4, 0);
    header[0] = 60;
    flight.entries.push_back({FlightLogHeader, kStart, header});
    std::istringstream lines(flight.peerOutput);
    std::string line;
    std::ostringstream augmented;
    augmented.precision(17);
    i32 positions = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> words = splitWords(line);
        if (words.size() == 4 && words[0] == "d") {
            flight.entries.push_back({(u8)std::stoi(words[1]), kStart + std::stoll(words[2]), bytesFromHex(words[3])});
        } else if (words.size() == 11 && words[0] == "pos") {
            i64 ms = std::stoll(words[1]) + 10;
            f64 latitude = std::stoll(words[2]) / 1e7, longitude = std::stoll(words[3]) / 1e7;
            f32 gps = (f32)(std::stoll(words[5]) / 1000.0);
            f32 agl = (f32)(std::stoll(words[4]) / 1000.0 + 1.5f);
            f32 dem = positions == 5 ? NAN : gps - 2.25f;
            f32 pilot = gps + 3.5f;
            Bytes payload;
            appendF64(&payload, latitude);
            appendF64(&payload, longitude);
            appendF32(&payload, gps);
            appendF32(&payload, 0);
            appendF32(&payload, agl);
            appendF32(&payload, dem);
            appendF32(&payload, pilot);
            flight.entries.push_back({FlightLogAugmentedPosition, kStart + ms, payload});
            augmented << ms << ' ' << latitude << ' ' << longitude << ' ' << agl << ' ' << dem << ' ' << pilot << '\n';
            positions++;
        }
    }
    flight.augmented = augmented.str();
    return flight;
}

i64 lastDatagramOf(const FlightLogIndex* index) {
    i64 last = -1;
    for (i64 i = 0; i < index->entryCount; i++) {
        if (index->entryTypes[i] == FlightLogReceivedFromDrone || index->entryTypes[i] == FlightLogReceivedFromCamera) last = i;
    }
    return last;
}

class FlightLogExportTest : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        replay = (FlightLogReplay*)std::calloc(1, sizeof(FlightLogReplay));
        ASSERT_EQ(prepareNodePeer(), "");
    }
    void TearDown() override {
        std::free(replay);
        FileThreadFixture::TearDown();
    }
    // Passes of the file thread until the progress record shows the job done.
    void writeOut() {
        for (int i = 0; i < 1000 && fileJobStatus(&progress) < FileStatusSuccess; i++) pass();
        pass();
    }
    FlightLogExportTarget target() { return FlightLogExportTarget{&status, &progress, &platform->fileJobs, now}; }

    FlightLogReplay* replay = nullptr;
    FlightLogExportStatus status{};
    FileJobResult progress{};
    i64 now = 1000000;
};

struct TimeZone {
    std::string saved;
    bool had = false;
    explicit TimeZone(const char* zone) {
        if (const char* value = std::getenv("TZ")) saved = value, had = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (had) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
        tzset();
    }
};

TEST_F(FlightLogExportTest, EveryExportReadsBackAsTheFlightThatWasRecorded) {
    RecordedFlight flight = recordFlight();
    ASSERT_GT(flight.entries.size(), 150u) << flight.peerOutput;
    flightlogtest::IndexedLog log;
    log.build(flight.entries);
    const FlightLogIndex* index = &log.index;
    FixedString name = flightLogExportName(makeString("flight_log_2025_12_07_09_33_20.qvlog3"));
    ASSERT_STREQ(name.text, "flight_log_2025_12_07_09_33_20");
    FlightLogExportSource source{index, replay, nullptr, name};

    FlightLogRecording visible{kStart + 4000, 6000, 1, 0, 0, 0};
    FlightLogRecording thermal{kStart, 3000, 0, 1, 1, 0};
    std::vector<std::string> first;
    {
        TimeZone zone("America/St_Johns");
        FlightLogExportTarget t = target();
        ASSERT_EQ(queuePhotoInfoExport(&source, lastDatagramOf(index), &t), 1u);
        writeOut();
        ASSERT_EQ(queueFmvExport(&source, &visible, 2, &t), 1u);
        writeOut();
        ASSERT_EQ(queueFmvExport(&source, &thermal, 3, &t), 1u);
        writeOut();
        for (u32 variant = 0; variant < kFlightPathVariants; variant++) {
            ASSERT_EQ(queueFlightPathExport(&source, variant, 4 + (i32)variant, &t), 1u);
            writeOut();
            EXPECT_EQ(status.exportNumber, 4 + (i32)variant);
            EXPECT_STREQ(status.exportPath.text, flightPathGpxPath(name, variant).text);
        }
        for (u32 variant = 0; variant < kFlightPathVariants; variant++) {
            first.push_back(readWholeFile(dataFolder + flightPathGpxPath(name, variant).text));
        }
    }
    // The export leaves the replay record cleared for the viewer to rebuild.
    EXPECT_EQ(replay->replayTime, 0);

    std::string augmented = home + "/augmented.txt", peer = home + "/peer.txt";
    std::ofstream(augmented) << flight.augmented;
    std::ofstream(peer) << flight.peerOutput;
    std::string checker = std::string(ORVIK_SOURCE_DIR) + "/Tests/FlightLogReplay/flight_log_exports.py";
    std::string result = run("/usr/bin/python3 " + checker + " " + peer + " " + augmented + " " +
                             std::to_string(kStart) + " '" + dataFolder + "' " + name.text);
    EXPECT_EQ(result.rfind("ok", 0), 0u) << result;

    // Every variant is valid GPX 1.1.
    std::string schema = std::string(ORVIK_SOURCE_DIR) + "/../shared/schemas/gpx-1.1.xsd";
    if (std::filesystem::exists(schema)) {
        for (u32 variant = 0; variant < kFlightPathVariants; variant++) {
            std::string path = dataFolder + flightPathGpxPath(name, variant).text;
            std::string lint = run("xmllint --noout --schema '" + schema + "' '" + path + "'");
            EXPECT_NE(lint.find("validates"), std::string::npos) << lint;
        }
    } else {
        std::printf("GPX schema not found at %s: schema check skipped\n", schema.c_str());
    }

    // Another time zone writes the same UTC times.
    TimeZone zone("Asia/Kolkata");
    for (u32 variant = 0; variant < kFlightPathVariants; variant++) {
        ByteWriter measure = makeMeasuringWriter();
        std::memset((void*)replay, 0, sizeof(*replay));
        writeFlightPathGpx(&measure, index, replay, variant, name, nullptr);
        std::string again((size_t)measure.length, '\0');
        ByteWriter fill = makeByteWriter(again.data(), measure.length);
        std::memset((void*)replay, 0, sizeof(*replay));
        writeFlightPathGpx(&fill, index, replay, variant, name, nullptr);
        EXPECT_EQ(fill.length, measure.length);
        EXPECT_EQ(again, first[variant]);
    }
}

// Drops counted before the log's first payload status are not numbered; a name with "&" stays XML.
TEST_F(FlightLogExportTest, GpxNumbersDropsFromTheFirstStatusAndEscapesTheName) {
    RecordedFlight flight = recordFlight();
    flightlogtest::IndexedLog log;
    log.build(flight.entries);
    FixedString name = makeString("burn & <north>");
    ByteWriter measure = makeMeasuringWriter();
    writeFlightPathGpx(&measure, &log.index, replay, FlightPathAboveGround, name, nullptr);
    std::string text((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(text.data(), measure.length);
    std::memset((void*)replay, 0, sizeof(*replay));
    writeFlightPathGpx(&fill, &log.index, replay, FlightPathAboveGround, name, nullptr);
    std::string path = home + "/named.gpx";
    std::ofstream(path) << text;
    std::string read = run("/usr/bin/python3 -c \"import gpxpy,sys; d=gpxpy.parse(open(sys.argv[1])); "
                           "print(d.tracks[0].name + '|' + ','.join(w.name for w in d.waypoints))\" '" + path + "'");
    EXPECT_EQ(read, "burn & <north>|Drop 1,Drop 3\n");
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

template <typename Producer>
std::string produce(FlightLogReplay* replay, Producer producer) {
    ByteWriter measure = makeMeasuringWriter();
    std::memset((void*)replay, 0, sizeof(*replay));
    producer(&measure);
    std::string text((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(text.data(), measure.length);
    std::memset((void*)replay, 0, sizeof(*replay));
    producer(&fill);
    EXPECT_EQ(fill.length, measure.length);
    EXPECT_FALSE(fill.overflow);
    return text;
}

// A log that ends with a datagram still gets its last rows: the photo rows of that datagram and the
// video metadata of a recording that runs past the log's end.
TEST_F(FlightLogExportTest, RowsAtTheLogsLastEntryAreWritten) {
    RecordedFlight flight = recordFlight();
    i64 lastDatagram = 0;
    for (const Entry& entry : flight.entries) {
        if (entry.type == FlightLogReceivedFromDrone) lastDatagram = std::max(lastDatagram, entry.time);
    }
    std::erase_if(flight.entries, [&](const Entry& entry) { return entry.time > lastDatagram; });
    flightlogtest::IndexedLog log;
    log.build(flight.entries);
    ASSERT_EQ(flightLogEntryTime(&log.index, log.index.entryCount - 1), lastDatagram);
    std::string photos = produce(replay, [&](ByteWriter* out) {
        writePhotoInfoCsv(out, &log.index, replay, lastDatagramOf(&log.index), nullptr);
    });
    std::vector<std::string> rows = linesOf(photos);
    i32 atEnd = 0;
    for (const std::string& row : rows) atEnd += row.rfind(std::to_string(lastDatagram) + ",,", 0) == 0;
    // The track row on the way, then one for each of HEARTBEAT, ATTITUDE, GPS_RAW_INT and GLOBAL_POSITION_INT.
    EXPECT_EQ(atEnd, 5) << photos;

    FlightLogRecording recording{kStart + 15000, 10000, 1, 0, 0, 0};
    std::string fmv = produce(replay, [&](ByteWriter* out) { writeFmvCsv(out, &log.index, replay, &recording, nullptr); });
    rows = linesOf(fmv);
    ASSERT_GT(rows.size(), 2u);
    EXPECT_EQ(rows.back().substr(0, rows.back().find(',')), std::to_string(lastDatagram * 1000)) << fmv;
    EXPECT_EQ(datagramFirstMessageId(bytesFromHex("fd0900").data(), 3), -1);
    EXPECT_EQ(datagramFirstMessageId(bytesFromHex("fe0900000101").data(), 6), 1);
}

TEST(FlightLogExportRows, DescriptionFollowsTheWriteAndFallsBackAfterFiveSeconds) {
    FlightLogExportStatus status{1000000, 3, makeString("Flight Logs GPX/a.gpx")};
    FixedString folder = makeString("/home/crew/Documents/Tarnwick/");
    FileJobResult progress{200, 50, FileStatusProcessing};
    const char* fallback = "Elevation as reported by the GPS";
    EXPECT_STREQ(exportRowDescription(4, fallback, &status, &progress, folder, 1500000).text, fallback);
    EXPECT_STREQ(exportRowDescription(3, fallback, &status, &progress, folder, 1500000).text, "Writing 25%");
    // A write that outlasts the five seconds still shows its progress.
    EXPECT_STREQ(exportRowDescription(3, fallback, &status, &progress, folder, 9000000).text, "Writing 25%");
    progress = FileJobResult{200, 200, FileStatusSuccess};
    EXPECT_STREQ(exportRowDescription(3, fallback, &status, &progress, folder, 5999999).text,
                 "Saved to /home/crew/Documents/Tarnwick/Flight Logs GPX/a.gpx");
    EXPECT_STREQ(exportRowDescription(3, fallback, &status, &progress, folder, 6000000).text, fallback);
    progress = FileJobResult{200, 0, FileStatusTooManyOpenFiles};
    EXPECT_STREQ(exportRowDescription(3, fallback, &status, &progress, folder, 2000000).text,
                 formatStr("Error saving file: @", fileStatusString(FileStatusTooManyOpenFiles)).text);
}

TEST_F(FlightLogExportTest, FullJobTableShowsTheErrorAndWritesNothing) {
    RecordedFlight flight = recordFlight();
    flightlogtest::IndexedLog log;
    log.build(flight.entries);
    FlightLogExportSource source{&log.index, replay, nullptr, makeString("full")};
    std::vector<FileJobResult> fillers(kFileTableSlots + 1);
    size_t used = 0;
    while (used < fillers.size() && fileJobSlotAvailable(&platform->fileJobs)) {
        enqueueFileJob(makeString("filler.txt"), "text/plain", nullptr, 0, 0, FileJobWrite, &platform->fileJobs,
                       &fillers[used++]);
    }
    FlightLogExportTarget t = target();
    EXPECT_EQ(queueFlightPathExport(&source, FlightPathGpsAltitude, 7, &t), 1u);
    EXPECT_EQ(progress.status, (u32)FileStatusTooManyOpenFiles);
    EXPECT_STREQ(exportRowDescription(7, "x", &status, &progress, platform->dataFolder, now + 1000).text,
                 formatStr("Error saving file: @", fileStatusString(FileStatusTooManyOpenFiles)).text);
    for (int i = 0; i < 50; i++) pass();
    EXPECT_FALSE(std::filesystem::exists(dataFolder + "Flight Logs GPX/full.gpx"));
}

}  // namespace
