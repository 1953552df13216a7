#include "Application/AppCache.h"

#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Mission/MissionPlanRecord.h"
#include "Platform/Platform.h"
#include "Platform/SystemInfo.h"

namespace {

constexpr const char* kAppCacheFileName = "OrvikAppCache.bin";
constexpr u64 kRecordHeaderBytes = 17;  // the name's length byte, the element size and the byte count

u8* installationIdField(AppState* app) { return app->installationId; }
u8* deviceNameField(AppState* app) { return (u8*)&app->secureLinkClientIdentity.name; }
u8* relayPasswordField(AppState* app) { return app->secureLinkClientIdentity.relayPassword; }
u8* controllingListenerField(AppState* app) { return (u8*)&app->relayHostIdentity.controllingListener; }
u8* controllingListenerPasswordField(AppState* app) { return app->relayHostIdentity.controllingListenerPassword; }
u8* orvikPositionsField(AppState* app) { return (u8*)app->orvikDropLocations.positions; }
u8* orvikTimesField(AppState* app) { return (u8*)app->orvikDropLocations.times; }
u8* orvikCountField(AppState* app) { return (u8*)&app->orvikDropLocations.count; }
u8* voskPositionsField(AppState* app) { return (u8*)app->dodireruDropLocations.positions; }
u8* voskTimesField(AppState* app) { return (u8*)app->dodireruDropLocations.times; }
u8* voskCountField(AppState* app) { return (u8*)&app->dodireruDropLocations.count; }
u8* voskArmedField(AppState* app) { return (u8*)app->dodireruDropLocations.armed; }
u8* arduCopterIdTypeField(AppState* app) { return app->arduCopterId.idType; }
u8* arduCopterIdField(AppState* app) { return app->arduCopterId.id; }

// The plan: waypoints with their locks, transect region and geofence, as one record.
constexpr u32 kPlanSettleFrames = 30;
constexpr i64 kLargestRecordBytes = 16384;
static_assert(kPlanRecordMaxBytes <= kLargestRecordBytes);

void writePlanRow(AppState* app, ByteWriter* writer) {
    writePlanRecord(&app->waypointMissionEditor, &app->transectRegion, &app->orvikGeofence, writer);
}

void readPlanRow(AppState* app, const u8* bytes, u64 size) {
    static PlanRecord record;
    FixedString why = readPlanRecord(bytes, size, &record);
    app->keptPlanNote =
        why.length ? formatStr("nothing restored: @", why)
                   : restorePlanRecord(&record, &app->waypointMissionEditor, &app->transectRegion, &app->orvikGeofence);
}

u64 readCount(const u8* field, i64 width) {
    switch (width) {
        case 8: {
            u64 v;
            std::memcpy(&v, field, 8);
            return v;
        }
        case 4: {
            u32 v;
            std::memcpy(&v, field, 4);
            return v;
        }
        case 2: {
            u16 v;
            std::memcpy(&v, field, 2);
            return v;
        }
        default:
            return field[0];
    }
}

void writeCount(u8* field, i64 width, u64 value) {
    switch (width) {
        case 8:
            std::memcpy(field, &value, 8);
            break;
        case 4: {
            u32 v = (u32)value;
            std::memcpy(field, &v, 4);
            break;
        }
        case 2: {
            u16 v = (u16)value;
            std::memcpy(field, &v, 2);
            break;
        }
        default:
            field[0] = (u8)value;
            break;
    }
}

u64 readU64Le(const u8* bytes) {
    u64 value = 0;
    for (i32 i = 7; i >= 0; i--) value = value << 8 | bytes[i];
    return value;
}

u64 mixHash(u64 hash, u64 value) {
    hash ^= value;
    hash *= 0x9E3779B97F4A7C15ull;
    return hash ^ (hash >> 29);
}

bool isRetryableReadStatus(u32 status) {
    return status == FileStatusCantAccessAppFolder || status == FileStatusTooManyOpenFiles;
}

bool queueRewrite(AppState* app, AppCacheState* state, Platform* platform) {
    ByteWriter measure = makeMeasuringWriter();
    writeAppCacheFile(app, &measure);
    if (measure.overflow || measure.length <= 0 || measure.length > 0xffffffffLL) return false;
    u8* buffer = allocateFileBuffer((u64)measure.length);
    if (!buffer) return false;
    ByteWriter fill = makeByteWriter(buffer, measure.length);
    writeAppCacheFile(app, &fill);
    state->saveJob = FileJobResult{};
    enqueueFileJob(makeString(kAppCacheFileName), "application/octet-stream", buffer, (u32)fill.length, 1, FileJobWrite,
                   &platform->fileJobs, &state->saveJob);
    state->saveQueued = 1;
    state->rewrites++;
    return true;
}

// Earlier versions named a computer whose product name could not be read after the read's failure
// ("Failed to read /sys/class/dmi/id/product_name 1A2B3C4D"), and other stations saw that text; such
// a stored name is replaced by the default this version gives.
bool replaceFailureAsComputerName(AppState* app, const Platform* platform) {
    FixedString* name = &app->secureLinkClientIdentity.name;
    const char* failure = "Failed to read /sys/class/dmi/id/product_name ";
    size_t length = std::strlen(failure);
    if (name->length < length || std::memcmp(name->text, failure, length) != 0) return false;
    *name = defaultComputerName(platform, app->installationId);
    return true;
}

}  // namespace

const AppCacheField appCacheFields[kAppCacheRowCount] = {
    {"Installation ID", AppCacheFixed, installationIdField, 32, 0, nullptr, 0},
    {"Device Name", AppCacheFixed, deviceNameField, 256, 0, nullptr, 0},
    {"Encryption to Relay Password", AppCacheFixed, relayPasswordField, 8, 0, nullptr, 0},
    {"Controlling Listener IP", AppCacheFixed, controllingListenerField, 20, 0, nullptr, 0},
    {"Encryption to Controlling Listener Password", AppCacheFixed, controllingListenerPasswordField, 8, 0, nullptr, 0},
    {"Orvik Drop Coordinates", AppCacheArray, orvikPositionsField, kMaxOrvikDropLocations * 8, 8, orvikCountField, 4},
    {"Orvik Drop Times", AppCacheArray, orvikTimesField, kMaxOrvikDropLocations * 8, 8, orvikCountField, 4},
    {"VOSK Drop Coordinates", AppCacheArray, voskPositionsField, kMaxVoskDropLocations * 8, 8, voskCountField, 4},
    {"VOSK Drop Times", AppCacheArray, voskTimesField, kMaxVoskDropLocations * 8, 8, voskCountField, 4},
    // The armed mask itself, one bit per VOSK point.
    {"VOSK Armed", AppCacheFixed, voskArmedField, kMaxVoskDropLocations / 8, 0, nullptr, 0},
    {"ArduCopter ID Type", AppCacheFixed, arduCopterIdTypeField, 4, 0, nullptr, 0},
    {"ArduCopter ID", AppCacheFixed, arduCopterIdField, 20, 0, nullptr, 0},
    {"Mission Plan", AppCacheRecord, nullptr, kPlanRecordMaxBytes, 0, nullptr, 0, writePlanRow, readPlanRow,
     kPlanSettleFrames},
};

i64 cacheFieldByteCount(AppState* app, const AppCacheField* row) {
    if (row->kind == AppCacheRecord) {
        ByteWriter measure = makeMeasuringWriter(row->capacity);
        row->writeRecord(app, &measure);
        return measure.overflow ? 0 : measure.length;
    }
    if (row->elementSize <= 0) return row->capacity;
    u64 count = readCount(row->countField(app), row->countWidth);
    u64 limit = (u64)(row->capacity / row->elementSize);
    if (count > limit) count = limit;
    return (i64)(count * (u64)row->elementSize);
}

i64 cacheFieldFingerprint(AppState* app, const AppCacheField* row) {
    i64 length = cacheFieldByteCount(app, row);
    u8 recordBytes[kLargestRecordBytes];
    const u8* bytes = recordBytes;
    if (row->kind == AppCacheRecord) {
        ByteWriter record = makeByteWriter(recordBytes, length);
        row->writeRecord(app, &record);
    } else {
        bytes = row->field(app);
    }
    // Four independent lanes over 32-byte blocks keep the full drop lists cheap enough for every frame.
    u64 lanes[4] = {0x6A09E667F3BCC909ull, 0xBB67AE8584CAA73Bull, 0x3C6EF372FE94F82Bull, 0xA54FF53A5F1D36F1ull};
    i64 i = 0;
    for (; i + 32 <= length; i += 32) {
        u64 words[4];
        std::memcpy(words, bytes + i, 32);
        for (i32 k = 0; k < 4; k++) lanes[k] = mixHash(lanes[k], words[k]);
    }
    u64 hash = mixHash(lanes[0], (u64)length);
    for (i32 k = 1; k < 4; k++) hash = mixHash(hash, lanes[k]);
    for (; i + 8 <= length; i += 8) {
        u64 word;
        std::memcpy(&word, bytes + i, 8);
        hash = mixHash(hash, word);
    }
    for (; i < length; i++) hash = mixHash(hash, bytes[i] | 0x100);
    return (i64)hash;
}

u64 appCacheMaxFileSize() {
    u64 total = 0;
    for (u32 i = 0; i < kAppCacheRowCount; i++) {
        total += kRecordHeaderBytes + std::strlen(appCacheFields[i].name) + (u64)appCacheFields[i].capacity;
    }
    return total;
}

void parseAppCacheFile(AppState* app, const u8* data, u64 size, u32* found) {
    u64 loadedCounts[kAppCacheRowCount] = {};
    u64 position = 0;
    while (position < size) {
        u64 nameLength = data[position];
        if (size - position < kRecordHeaderBytes + nameLength) break;
        const u8* name = data + position + 1;
        u64 elementSize = readU64Le(name + nameLength);
        u64 byteCount = readU64Le(name + nameLength + 8);
        u64 dataStart = position + kRecordHeaderBytes + nameLength;
        if (byteCount > size - dataStart) break;
        const u8* bytes = data + dataStart;
        position = dataStart + byteCount;

        for (u32 r = 0; r < kAppCacheRowCount; r++) {
            const AppCacheField* row = &appCacheFields[r];
            if ((u64)row->elementSize != elementSize) continue;
            if (std::strlen(row->name) != nameLength || std::memcmp(row->name, name, nameLength) != 0) continue;
            if (row->kind == AppCacheRecord) {
                // The first record of a name is the one restored: a later one of the same name would
                // otherwise replace the note of what was restored with its own.
                if (found[r]) break;
                row->readRecord(app, bytes, byteCount);
                found[r] = 1;
                break;
            }
            u8* field = row->field(app);
            if (elementSize == 0) {
                if (byteCount != (u64)row->capacity && !row->countField) break;
                u64 copy = byteCount < (u64)row->capacity ? byteCount : (u64)row->capacity;
                std::memcpy(field, bytes, copy);
            } else {
                if (byteCount % elementSize != 0) break;
                u64 count = byteCount / elementSize;
                u64 copy = byteCount;
                if (byteCount > (u64)row->capacity) {
                    copy = (u64)row->capacity;
                    count = copy / elementSize;
                }
                std::memcpy(field, bytes, copy);
                // Rows that share a count (positions and times) keep the smaller of their lengths, so
                // no point is left with a position or time that the file did not hold.
                for (u32 other = 0; other < kAppCacheRowCount; other++) {
                    if (other != r && found[other] && appCacheFields[other].countField == row->countField &&
                        loadedCounts[other] < count) {
                        count = loadedCounts[other];
                    }
                }
                loadedCounts[r] = count;
                writeCount(row->countField(app), row->countWidth, count);
            }
            found[r] = 1;
            break;
        }
    }
}

void writeAppCacheFile(AppState* app, ByteWriter* writer) {
    for (u32 r = 0; r < kAppCacheRowCount; r++) {
        const AppCacheField* row = &appCacheFields[r];
        u64 nameLength = std::strlen(row->name);
        i64 byteCount = cacheFieldByteCount(app, row);
        appendU8((u8)nameLength, writer);
        appendBytes(row->name, (i64)nameLength, writer);
        appendU64Le((u64)row->elementSize, writer);
        appendU64Le((u64)byteCount, writer);
        if (row->kind == AppCacheRecord) {
            row->writeRecord(app, writer);
        } else {
            appendBytes(row->field(app), byteCount, writer);
        }
    }
}

i32 updateAppCache(AppState* app, AppCacheState* state, Platform* platform) {
    ProfilingScope scope("Update App Cache");
    i32 loadedNow = 0;
    if (!state->loaded) {
        if (state->retryCountdown > 0) state->retryCountdown--;
        if (!state->pendingRead && state->retryCountdown == 0) {
            state->pendingRead =
                requestFile(makeString(kAppCacheFileName), appCacheMaxFileSize(), 0, &platform->fileReads);
        }
        FileReadRequest* request = state->pendingRead;
        u32 status = request ? fileRequestStatus(request) : FileStatusNotYetProcessed;
        if (request && status >= FileStatusSuccess) {
            state->loadStatus = status;
            if (status == FileStatusSuccess) {
                u32 found[kAppCacheRowCount] = {};
                parseAppCacheFile(app, request->data + request->headroom, request->bytesRead, found);
                if (replaceFailureAsComputerName(app, platform)) state->rewriteDue = 1;
                if (!app->keptPlanNote.length) app->keptPlanNote = makeString("none was kept");
                for (u32 r = 0; r < kAppCacheRowCount; r++) {
                    if (found[r]) state->savedFingerprints[r] = cacheFieldFingerprint(app, &appCacheFields[r]);
                    else state->rewriteDue = 1;
                }
                state->loaded = 1;
                loadedNow = 1;
            } else if (status == FileStatusNotFound) {
                state->loaded = 1;
                state->rewriteDue = 1;
                app->keptPlanNote = makeString("none was kept");
            } else if (!isRetryableReadStatus(status)) {
                // The file is there but could not be read: keep it, and read it again later rather
                // than replace the stored lists with empty ones.
                state->retryCountdown = kAppCacheRetryFrames;
            }
            releaseFileReadRequest(request, &platform->fileReads);
            state->pendingRead = nullptr;
        }
    }

    i64 fingerprints[kAppCacheRowCount];
    bool changed = false;
    for (u32 r = 0; r < kAppCacheRowCount; r++) {
        fingerprints[r] = cacheFieldFingerprint(app, &appCacheFields[r]);
        if (fingerprints[r] != state->seenFingerprints[r]) {
            state->seenFingerprints[r] = fingerprints[r];
            state->unchangedFrames[r] = 0;
        } else if (state->unchangedFrames[r] < 0xFFFFFFFFu) {
            state->unchangedFrames[r]++;
        }
        bool settled = state->unchangedFrames[r] >= appCacheFields[r].settleFrames;
        if (fingerprints[r] != state->savedFingerprints[r] && settled) changed = true;
    }
    if (!state->loaded) return loadedNow;

    u32 jobStatus = state->saveQueued ? fileJobStatus(&state->saveJob) : FileStatusSuccess;
    if (jobStatus <= FileStatusProcessing) return loadedNow;
    if (jobStatus > FileStatusSuccess && !state->rewriteDue) {
        // The last write failed: the file may not hold what was saved; write again a little later.
        state->rewriteDue = 1;
        state->retryCountdown = kAppCacheRetryFrames;
    }
    if (state->retryCountdown > 0) {
        state->retryCountdown--;
        return loadedNow;
    }
    if (!changed && !state->rewriteDue) return loadedNow;
    if (queueRewrite(app, state, platform)) {
        for (u32 r = 0; r < kAppCacheRowCount; r++) state->savedFingerprints[r] = fingerprints[r];
        state->rewriteDue = 0;
    }
    return loadedNow;
}

void saveAppCacheAtQuit(AppState* app, AppCacheState* state, Platform* platform) {
    if (!state->loaded) return;
    bool changed = state->rewriteDue != 0;
    for (u32 r = 0; r < kAppCacheRowCount; r++) {
        if (cacheFieldFingerprint(app, &appCacheFields[r]) != state->savedFingerprints[r]) changed = true;
    }
    // A save still in flight runs first: jobs on one file run in the order they were queued.
    if (changed) queueRewrite(app, state, platform);
}
