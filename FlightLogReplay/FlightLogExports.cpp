#include "FlightLogReplay/FlightLogExports.h"

#include <cstring>

#include "Core/Format.h"

i64 datagramFirstMessageId(const u8* payload, i64 length) {
    if (!payload || length < 1) return -1;
    if (payload[0] == 0xFD) {
        if (length < 10) return -1;
        return (i64)payload[7] | (i64)payload[8] << 8 | (i64)payload[9] << 16;
    }
    if (length < 6) return -1;
    return payload[5];
}

FixedString flightLogExportName(FixedString logFileName) {
    i64 length = fixedStringLength(&logFileName);
    return stringFromBytes(logFileName.text, length > 7 ? length - 7 : 0);
}

FixedString photoInfoCsvPath(FixedString exportName) {
    return formatCpStr("Exported Photo Info@@_photo_info.csv", '/', exportName);
}

FixedString fmvCsvBase(FixedString exportName, i64 logStartTime, const FlightLogRecording* recording) {
    const char* kind = recording->visible ? "_vis" : recording->thermal ? "_ir" : "";
    return buildFixedString([&](ByteWriter* w) {
        appendCString("Exported FMV Metadata/", w);
        appendFixedStringRef(&exportName, w);
        appendCString("_fmv_", w);
        appendInt64((recording->start - logStartTime) / 1000, w);
        appendU8('_', w);
        appendInt64(recording->length / 1000, w);
        appendCString(kind, w);
    });
}

FixedString flightPathGpxPath(FixedString exportName, u32 variant) {
    static const char* const formats[kFlightPathVariants] = {
        "Flight Logs GPX@@.gpx", "Flight Logs GPX@@_ATO.gpx", "Flight Logs GPX@@_AGL.gpx",
        "Flight Logs GPX@@_MSL_DEM.gpx", "Flight Logs GPX@@_MSL_Pilot.gpx"};
    return formatCpStr(formats[variant < kFlightPathVariants ? variant : 0], '/', exportName);
}

void clearFlightLogReplay(FlightLogReplay* replay) { std::memset((void*)replay, 0, sizeof(*replay)); }

void writePhotoInfoCsv(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay, i64 lastDatagramEntry,
                       const ReplayElevation* elevation) {
    FlightLogExportWalk walk;
    beginPhotoInfoExport(&walk, lastDatagramEntry);
    continueFlightLogExport(&walk, out, index, replay, elevation, INT64_MAX, 0);
}

FmvCsvResult writeFmvCsv(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay,
                         const FlightLogRecording* recording, const ReplayElevation* elevation) {
    FlightLogExportWalk walk;
    beginFmvExport(&walk, recording);
    continueFlightLogExport(&walk, out, index, replay, elevation, INT64_MAX, 0);
    return walk.fmvResult;
}

void writeFmvTimeShift(ByteWriter* out, i64 recordingStart, i64 firstRowTime) {
    appendCString("Elapsed Time into video (days.hours:minutes:seconds),\"Time Shift (seconds).  Video relative to "
                  "metadata. If video lags footprint, use negative values\"\n0.00:00:00,",
                  out);
    appendFixedPoint(recordingStart - firstRowTime, 3, out);
    appendU8('\n', out);
}

void writeFlightPathGpx(ByteWriter* out, const FlightLogIndex* index, FlightLogReplay* replay, u32 variant,
                        FixedString exportName, const ReplayElevation* ground) {
    FlightLogExportWalk walk;
    beginFlightPathExport(&walk, variant, exportName);
    continueFlightLogExport(&walk, out, index, replay, ground, INT64_MAX, 0);
}

namespace {

// "Saved to " and the file's whole path. A path longer than a text holds gives up the start of its
// folder for an ellipsis, never the file's name at its end.
FixedString savedToText(const FixedString& dataFolder, const FixedString& exportPath) {
    FixedString text = formatStrStr("Saved to @@", dataFolder, exportPath);
    if (!text.truncated) return text;
    char path[2 * kFixedStringCapacity];
    i64 folderLength = fixedStringLength(&dataFolder), fileLength = fixedStringLength(&exportPath);
    std::memcpy(path, dataFolder.text, (size_t)folderLength);
    std::memcpy(path + folderLength, exportPath.text, (size_t)fileLength);
    static constexpr char kStart[] = "Saved to \xE2\x80\xA6";
    i64 length = folderLength + fileLength;
    i64 from = length - (kFixedStringCapacity - (i64)(sizeof(kStart) - 1));
    while (from < length && ((u8)path[from] & 0xC0) == 0x80) from++;  // a whole first character
    return buildFixedString([&](ByteWriter* out) {
        appendCString(kStart, out);
        appendBytes(path + from, length - from, out);
    });
}

}  // namespace

FixedString exportRowDescription(i32 rowNumber, const char* defaultDescription, const FlightLogExportStatus* status,
                                 const FileJobResult* progress, FixedString dataFolder, i64 nowMicros) {
    if (status->exportNumber != rowNumber) return makeString(defaultDescription);
    u32 state = fileJobStatus(progress);
    if (state < FileStatusSuccess) {
        i64 total = progress->size;
        i64 percent = total > 0 ? (i64)progress->written * 100 / total : 0;
        return formatInt("Writing @%", percent);
    }
    if (nowMicros - status->exportStartMicros < 5000000) {
        if (state == FileStatusSuccess) return savedToText(dataFolder, status->exportPath);
        return formatStr("Error saving file: @", fileStatusString(state));
    }
    return makeString(defaultDescription);
}

u32 queuePhotoInfoExport(const FlightLogExportSource* source, i64 lastDatagramEntry, const FlightLogExportTarget* target) {
    return queueFlightLogExport(photoInfoCsvPath(source->exportName), "text/csv", 1, target, source->replay,
                                [&](ByteWriter* out) {
                                    writePhotoInfoCsv(out, source->index, source->replay, lastDatagramEntry,
                                                      source->elevation);
                                });
}

u32 queueFmvExport(const FlightLogExportSource* source, const FlightLogRecording* recording, i32 rowNumber,
                   const FlightLogExportTarget* target) {
    FixedString base = fmvCsvBase(source->exportName, source->index->startTime, recording);
    FmvCsvResult result{};
    u32 queued = queueFlightLogExport(formatStr("@.csv", base), "text/csv", rowNumber, target, source->replay,
                                      [&](ByteWriter* out) {
                                          result = writeFmvCsv(out, source->index, source->replay, recording,
                                                               source->elevation);
                                      });
    if (!queued || result.rowsWritten == 0 || result.firstRowTime == recording->start) return queued;
    FlightLogExportTarget shiftTarget = *target;
    shiftTarget.progress = nullptr;
    queueFlightLogExport(formatStr("@_timeshift.csv", base), "text/csv", rowNumber, &shiftTarget, nullptr,
                         [&](ByteWriter* out) { writeFmvTimeShift(out, recording->start, result.firstRowTime); });
    return queued;
}

u32 queueFlightPathExport(const FlightLogExportSource* source, u32 variant, i32 rowNumber,
                          const FlightLogExportTarget* target) {
    return queueFlightLogExport(flightPathGpxPath(source->exportName, variant), "application/gpx+xml", rowNumber,
                                target, source->replay, [&](ByteWriter* out) {
                                    writeFlightPathGpx(out, source->index, source->replay, variant,
                                                       source->exportName, source->elevation);
                                });
}
