// Writes a flight log through the real file thread until it is killed or told to quit: one numbered
// entry per millisecond frame, the writer's step every frame. Whenever an append job has reached the
// disk it prints "flushed N", N being the number of entries that job completed the file up to. On
// SIGTERM it ends as the program does: it prints "quit N" (the entries added), hands the writer's
// buffers to the file thread, lets it finish and returns 0.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Core/Clock.h"
#include "FlightLogs/FlightLogSession.h"
#include "Platform/FileThread.h"
#include "Platform/SystemInfo.h"

namespace {

volatile sig_atomic_t quitAsked = 0;
void askToQuit(int) { quitAsked = 1; }

}  // namespace

int main() {
    Platform* platform = (Platform*)std::calloc(1, sizeof(Platform));
    FlightLogger* logger = (FlightLogger*)std::calloc(1, sizeof(FlightLogger));
    if (!platform || !logger) return 2;
    signal(SIGTERM, askToQuit);
    readDataFolder(platform);
    static u32 running = 1;
    std::thread files([platform] { runFileThread(platform, &running); });
    logger->fileJobs = &platform->fileJobs;
    u8 installationId[32] = {};

    updateFlightLogger(logger, installationId, platform, nullptr, 1, 0);
    std::printf("log %s\n", logger->logFileName.text);
    std::fflush(stdout);
    u32 next = 0;
    u32 inFlight = 0;  // entries the newest append job completes the file up to
    u32 reported = 0;
    const FileJobResult* watched = nullptr;
    while (!quitAsked) {
        u8 payload[200];
        std::memset(payload, (u8)next, sizeof payload);
        std::memcpy(payload, &next, 4);
        addFlightLogEntry(logger, (i64)getMicroseconds(), FlightLogReceivedFromDrone, payload, sizeof payload);
        next++;
        u64 appendsBefore = logger->fileJobs->nextId;
        updateFlightLogger(logger, installationId, platform, nullptr, 1, 0);
        if (logger->fileJobs->nextId != appendsBefore) {
            inFlight = next;
            watched = &logger->lastAppend;
        }
        if (watched && fileJobStatus(watched) == FileStatusSuccess && inFlight != reported) {
            reported = inFlight;
            std::printf("flushed %u\n", reported);
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("quit %u\n", next);
    std::fflush(stdout);
    finishFlightLogger(logger);
    std::atomic_ref<u32>(running).store(0, std::memory_order_release);
    files.join();
    return 0;
}
