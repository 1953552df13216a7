// A flight path exported in slices, the job ring and the file thread run by hand between frames:
// the export row's "Writing @%" only ever goes forward, through the walk and the file's last job,
// and ends in "Saved to @@" with the data folder that start-up formed and the export's path.
#include <cstdlib>
#include <string>
#include <vector>

#include "Core/JobQueue.h"
#include "FlightLogReplay/FlightLogExportJob.h"
#include "FlightLogReplay/FlightLogTestLogs.h"
#include "Platform/FileTestSupport.h"

namespace {

using flightlogtest::Bytes;
using flightlogtest::Entry;

constexpr i64 kStart = 1765100000000;  // Unix ms

// A PX4 vehicle heard ten times a second; every `positionEvery`th datagram carries a position and
// is followed by its position entry.
std::vector<Entry> flight(i32 datagrams, i32 positionEvery) {
    std::vector<Entry> entries{{FlightLogHeader, kStart, {0, 0, 0, 0}}};
    for (i32 i = 0; i < datagrams; i++) {
        i64 time = kStart + 1000 + i * 100;
        Bytes datagram = flightlogtest::mavlinkFrame(MavlinkHeartbeat, {0, 0, 0, 0, 2, 12, 0x81, 4, 3}, 0x0101);
        if (i % positionEvery == 0) {
            Bytes position(28, 0);
            i32 lat = 473977420 + i % 2000, lon = 85455940 + i % 3000, relative = 50000 + i % 700;
            std::memcpy(position.data() + 4, &lat, 4);
            std::memcpy(position.data() + 8, &lon, 4);
            std::memcpy(position.data() + 16, &relative, 4);
            Bytes frame = flightlogtest::mavlinkFrame(MavlinkGlobalPositionInt, position, 0x0101);
            datagram.insert(datagram.end(), frame.begin(), frame.end());
            entries.push_back({FlightLogReceivedFromDrone, time, datagram});
            Bytes augmented(36, 0);
            f64 place[2] = {lat / 1e7, lon / 1e7};
            f32 heights[5] = {relative / 1000.0f, 0, 30, 430, 431};
            std::memcpy(augmented.data(), place, 16);
            std::memcpy(augmented.data() + 16, heights, 20);
            entries.push_back({FlightLogAugmentedPosition, time + 5, augmented});
        } else {
            entries.push_back({FlightLogReceivedFromDrone, time, datagram});
        }
    }
    return entries;
}

i64 nothing(void*) { return 0; }

class FlightLogExportJobTest : public FileThreadFixture {
protected:
    void SetUp() override {
        FileThreadFixture::SetUp();
        job = (FlightLogExportJob*)std::calloc(1, sizeof(FlightLogExportJob));
        queue.running = &running;
    }
    void TearDown() override {
        std::free(job);
        FileThreadFixture::TearDown();
    }

    // Exports the log's flight path frame by frame; each slice gives up its turn after one batch of
    // entries (a job waits behind it). Returns the row's text of every frame.
    std::vector<std::string> exportShowing(const std::vector<Entry>& entries, u32* chunks) {
        flightlogtest::IndexedLog log;
        log.build(entries);
        FixedString name = makeString("long");
        path = flightPathGpxPath(name, FlightPathGpsAltitude);
        FlightLogExportWalk walk;
        beginFlightPathExport(&walk, FlightPathGpsAltitude, name);
        EXPECT_EQ(startFlightLogExport(job, &walk, &log.index, path, "application/gpx+xml", 3, &queue, now), 1u);
        std::vector<std::string> shown;
        for (i32 frame = 0; frame < 2000; frame++) {
            updateFlightLogExport(job, &platform->fileJobs, &queue, &progress, now);
            shown.push_back(exportRowDescription(3, "idle", &job->status, &progress, platform->dataFolder, now).text);
            if (!flightLogExportBusy(job) && fileJobStatus(&progress) >= FileStatusSuccess) break;
            if (queuedJobCount(&queue) > 0) {
                pushAsyncJob(nothing, nullptr, &queue);
                while (runNextAsyncJob(&queue)) {
                }
            }
            pass();
            now += 16000;
        }
        *chunks = job->chunksWritten;
        return shown;
    }

    FlightLogExportJob* job = nullptr;
    JobQueue queue{};
    u32 running = 1;
    FileJobResult progress{};
    FixedString path{};
    i64 now = 1000000;
};

// Every text is "Writing @%" with a percentage no lower than the one before, or the last one, the
// saved file with the data folder's path and the export's.
void expectForwardThenSaved(const std::vector<std::string>& shown, const std::string& saved) {
    ASSERT_FALSE(shown.empty());
    i32 previous = -1;
    i32 writingTexts = 0;
    for (size_t i = 0; i + 1 < shown.size(); i++) {
        ASSERT_EQ(shown[i].rfind("Writing ", 0), 0u) << shown[i];
        i32 percent = std::atoi(shown[i].c_str() + 8);
        EXPECT_GE(percent, previous) << "frame " << i << ": " << shown[i];
        EXPECT_LE(percent, 100);
        previous = percent;
        writingTexts++;
    }
    EXPECT_GE(writingTexts, 3);
    EXPECT_GT(previous, 0) << "the walk's progress was shown";
    EXPECT_EQ(shown.back(), saved);
}

TEST_F(FlightLogExportJobTest, ProgressOfAnExportWrittenAsOneFileNeverGoesBack) {
    u32 chunks = 0;
    std::vector<std::string> shown = exportShowing(flight(30000, 10), &chunks);
    EXPECT_EQ(chunks, 0u) << "written as one file job";
    expectForwardThenSaved(shown, "Saved to " + dataFolder + "Flight Logs GPX/long.gpx");
    EXPECT_EQ(dataFolder.rfind(home, 0), 0u);
    EXPECT_TRUE(std::filesystem::exists(dataFolder + path.text));
}

TEST_F(FlightLogExportJobTest, ProgressOfAnExportWrittenInChunksNeverGoesBack) {
    u32 chunks = 0;
    std::vector<std::string> shown = exportShowing(flight(30000, 1), &chunks);
    EXPECT_GE(chunks, 2u);
    expectForwardThenSaved(shown, "Saved to " + dataFolder + "Flight Logs GPX/long.gpx");
    EXPECT_TRUE(std::filesystem::exists(dataFolder + path.text));
    EXPECT_FALSE(std::filesystem::exists(dataFolder + job->partPath.text));
}

}  // namespace
