// The flight-log exports of a 100 MB log: a PX4 vehicle's datagrams (HEARTBEAT, ATTITUDE and
// GLOBAL_POSITION_INT) ten times a second with a position entry after each, a gimbal attitude twice a
// second, a photo every 2 s and payload drops. Each export runs as the export job runs it for a
// long log: one walk in slices of kExportSliceEntries entries into chunks of kExportChunkBytes (the
// file writes left out). Targets on one core: 2 s for a CSV, 3 s for a GPX.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Mavlink/Mavlink.h"
#include "Drone/TarnwickPayloads/PayloadFrame.h"
#include "FlightLogReplay/FlightLogExportJob.h"
#include "FlightLogs/FlightLogger.h"

namespace {

constexpr i64 kStart = 1765000000000;

struct LogBuilder {
    std::vector<u8> log;
    u8 sequence = 0;

    void entry(u8 type, i64 time, const u8* payload, u16 length) {
        u8 header[20];
        ByteWriter writer = makeByteWriter(header, sizeof(header));
        LengthFieldMark mark = writeFlightLogEntryHeader(&writer, time, type);
        patchLengthField(&mark, length);
        log.insert(log.end(), header, header + writer.length);
        log.insert(log.end(), payload, payload + length);
        u16 crc = flightLogChecksum(payload, length, type);
        log.push_back((u8)crc);
        log.push_back((u8)(crc >> 8));
    }
    // One MAVLink 2 frame of the message with the payload bytes given.
    void frame(ByteWriter* out, u16 source, u32 id, const u8* payload, i32 length) {
        LengthFieldMark mark = beginMavlinkPacket(out, &sequence, source, id, 1);
        appendBytes(payload, length, out);
        finishMavlinkPacket(&mark, out);
    }
};

void putU32(u8* p, u32 v) { std::memcpy(p, &v, 4); }
void putI32(u8* p, i32 v) { std::memcpy(p, &v, 4); }
void putF32(u8* p, f32 v) { std::memcpy(p, &v, 4); }

std::vector<u8> hundredMegabyteFlight() {
    LogBuilder b;
    b.log.reserve(104 << 20);
    u8 headerPayload[4] = {60, 0, 0, 0};
    b.entry(FlightLogHeader, kStart, headerPayload, 4);
    u8 datagram[512];
    // The camera-protocol camera and its gimbal announce themselves first.
    ByteWriter camera = makeByteWriter(datagram, sizeof(datagram));
    u8 cameraHeartbeat[9] = {0, 0, 0, 0, 30, 8, 0, 4, 3};
    b.frame(&camera, 0x0164, 0, cameraHeartbeat, 9);
    u8 information[235] = {};
    std::memcpy(information + 30, "Sony", 4);
    b.frame(&camera, 0x0164, 259, information, 235);
    b.entry(FlightLogReceivedFromDrone, kStart + 50, datagram, (u16)camera.length);
    for (i64 i = 0; b.log.size() < (100u << 20); i++) {
        i64 time = kStart + 100 + i * 100;
        ByteWriter out = makeByteWriter(datagram, sizeof(datagram));
        u8 heartbeat[9] = {0, 0, 0, 0, 2, 12, 0x81, 4, 3};
        b.frame(&out, 0x0101, 0, heartbeat, 9);
        u8 attitude[28] = {};
        putU32(attitude, (u32)i);
        putF32(attitude + 4, 0.1f * std::sin(i * 0.01f));
        putF32(attitude + 8, 0.1f * std::cos(i * 0.01f));
        putF32(attitude + 12, 0.001f * (f32)(i % 6000));
        b.frame(&out, 0x0101, 30, attitude, 28);
        u8 position[28] = {};
        putU32(position, (u32)i);
        putI32(position + 4, -335000000 + (i32)(i % 20000));
        putI32(position + 8, 1510000000 + (i32)(i % 30000));
        putI32(position + 12, 450000);
        putI32(position + 16, 50000 + (i32)(i % 1000));
        b.frame(&out, 0x0101, 33, position, 28);
        if (i % 20 == 0) {
            u8 capture[255] = {};
            std::memcpy(capture + 50, "IMG_0001.JPG", 12);
            b.frame(&out, 0x0164, 263, capture, 255);
        }
        if (i % 50 == 0) {
            u8 status[64];
            u8 frameSequence = (u8)i;
            ByteWriter body = makeByteWriter(status, sizeof(status));
            LengthFieldMark mark = beginPayloadFrame(&frameSequence, PayloadFrameOrvikStatus, &body);
            u8 fields[27] = {2, 0, (u8)(i / 50), 0, 0};
            appendBytes(fields, sizeof(fields), &body);
            finishPayloadFrame(&mark, &body);
            u8 encapsulated[255] = {};
            std::memcpy(encapsulated, status, (size_t)body.length);
            b.frame(&out, 0x0119, 131, encapsulated, 255);
        }
        b.entry(FlightLogReceivedFromDrone, time, datagram, (u16)out.length);
        if (i % 5 == 0) {
            ByteWriter gimbal = makeByteWriter(datagram, sizeof(datagram));
            u8 attitudeStatus[40] = {};
            putF32(attitudeStatus + 4, std::cos(i * 0.001f));
            putF32(attitudeStatus + 16, std::sin(i * 0.001f));
            b.frame(&gimbal, 0x019A, 285, attitudeStatus, 40);
            b.entry(FlightLogReceivedFromDrone, time + 20, datagram, (u16)gimbal.length);
        }
        u8 augmented[36];
        f64 latitude = -33.5 + (i % 20000) * 1e-7, longitude = 151.0 + (i % 30000) * 1e-7;
        std::memcpy(augmented, &latitude, 8);
        std::memcpy(augmented + 8, &longitude, 8);
        f32 altitudes[5] = {450.0f, 0.0f, 50.0f, 451.0f, 452.0f};
        std::memcpy(augmented + 16, altitudes, 20);
        b.entry(FlightLogAugmentedPosition, time + 10, augmented, 36);
    }
    return b.log;
}

struct ExportFixture {
    std::vector<u8> log = hundredMegabyteFlight();
    u64* buffer = static_cast<u64*>(std::malloc((log.size() / 8 + 1) * 8));
    FlightLogIndex index{};
    FlightLogReplay* replay = static_cast<FlightLogReplay*>(std::calloc(1, sizeof(FlightLogReplay)));
    i64 lastDatagram = -1;

    ExportFixture() {
        std::memcpy(buffer, log.data(), log.size());
        index = optimizeFlightLogFile(reinterpret_cast<u8*>(buffer), (i64)log.size());
        for (i64 i = 0; i < index.entryCount; i++) {
            if (index.entryTypes[i] == FlightLogReceivedFromDrone) lastDatagram = i;
        }
    }
};

ExportFixture* fixture() {
    static ExportFixture* shared = new ExportFixture;
    return shared;
}

// The walk begun by begin, in slices into one chunk that is emptied whenever it is full.
template <typename Begin>
void runInSlices(benchmark::State& state, Begin begin) {
    ExportFixture* f = fixture();
    i64 length = 0;
    u8* chunk = static_cast<u8*>(std::malloc((size_t)kExportChunkBytes));
    for (auto _ : state) {
        FlightLogExportWalk walk;
        begin(f, &walk);
        ByteWriter out = makeByteWriter(chunk, kExportChunkBytes);
        length = 0;
        for (;;) {
            u32 done = continueFlightLogExport(&walk, &out, &f->index, f->replay, nullptr, kExportSliceEntries,
                                               kExportEntryReserve);
            if (done || out.capacity - out.length < kExportEntryReserve) {
                length += out.length;
                benchmark::DoNotOptimize(chunk);
                out.length = 0;
            }
            if (done) break;
        }
    }
    std::free(chunk);
    state.counters["log_MB"] = (f64)f->log.size() / 1e6;
    state.counters["output_MB"] = (f64)length / 1e6;
}

void PhotoInfoCsv(benchmark::State& state) {
    runInSlices(state, [](ExportFixture* f, FlightLogExportWalk* walk) { beginPhotoInfoExport(walk, f->lastDatagram); });
}
BENCHMARK(PhotoInfoCsv)->Unit(benchmark::kMillisecond)->Iterations(1);

void FmvCsv(benchmark::State& state) {
    runInSlices(state, [](ExportFixture* f, FlightLogExportWalk* walk) {
        FlightLogRecording recording{f->index.startTime, f->index.endTime - f->index.startTime, 1, 0, 0, 0};
        beginFmvExport(walk, &recording);
    });
}
BENCHMARK(FmvCsv)->Unit(benchmark::kMillisecond)->Iterations(1);

void FlightPathGpx(benchmark::State& state) {
    runInSlices(state, [](ExportFixture*, FlightLogExportWalk* walk) {
        beginFlightPathExport(walk, FlightPathAboveGround, makeString("flight"));
    });
}
BENCHMARK(FlightPathGpx)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
