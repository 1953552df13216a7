#include "Mission/MissionFiles.h"

#include <cmath>
#include <cstring>

#include "Core/Format.h"
#include "Core/MathEarth.h"
#include "Map/ElevationMapLoader.h"
#include "Mission/WaypointUndo.h"

namespace {

constexpr const char* kMissionMime = "text/csv";

FixedString missionPath(FixedString file) { return formatStr("Missions/@", file); }

bool workBusy(const MissionList* list) { return list->work != MissionWorkNone; }

// Queues a job, with a copy of the bytes that the file thread frees.
void queueJob(MissionList* list, u32 work, FixedString path, const void* bytes, u32 size, u32 mode) {
    u8* data = nullptr;
    if (size) {
        data = allocateFileBuffer(size);
        if (!data) {
            list->job = FileJobResult{size, 0, FileStatusOutOfMemory};
            list->work = work;
            return;
        }
        std::memcpy(data, bytes, size);
    }
    list->work = work;
    enqueueFileJob(path, kMissionMime, data, size, 1, mode, list->jobs, &list->job);
}

bool listed(const MissionList* list, FixedString file) {
    for (i32 i = 0; i < list->count; i++) {
        if (equals(list->entries[i].name, file)) return true;
    }
    return false;
}

void takeListing(MissionList* list, FileReadRequest* listing) {
    list->count = 0;
    const FolderEntry* entries = (const FolderEntry*)listing->data;
    u64 total = listing->data ? listing->bytesRead / sizeof(FolderEntry) : 0;
    for (u64 i = 0; i < total; i++) {
        const FolderEntry* entry = &entries[i];
        if (!entry->isFile || !endsWithIgnoringCase(entry->name.text, entry->name.length, ".csv")) continue;
        if (list->count == kMaxMissionFiles) {
            // Full: the oldest listed gives way to a newer one.
            i32 oldest = list->count - 1;
            if (list->entries[oldest].modified >= entry->modified) continue;
            list->count--;
        }
        // Newest first, names in order between equal times.
        i32 at = list->count;
        while (at > 0) {
            const MissionFileEntry* before = &list->entries[at - 1];
            bool newer = entry->modified > before->modified ||
                         (entry->modified == before->modified && std::strcmp(entry->name.text, before->name.text) < 0);
            if (!newer) break;
            list->entries[at] = list->entries[at - 1];
            at--;
        }
        list->entries[at] = MissionFileEntry{entry->name, entry->modified, entry->size};
        list->count++;
    }
    list->listed = 1;
}

// The outcome of the current step once the file thread has finished it.
void advanceWork(MissionList* list) {
    if (list->work == MissionWorkNone) return;
    u32 status = fileJobStatus(&list->job);
    if (status < FileStatusSuccess) return;
    FixedString file = list->workFile;
    u32 work = list->work;
    list->work = MissionWorkNone;
    list->refreshWanted = 1;
    FixedString failure = fileStatusString(status);
    switch (work) {
        case MissionWorkSave:
            list->message = status == FileStatusSuccess
                                ? formatStr("Saved @", file)
                                : formatStrStr("Couldn't save @: @", file, fileJobFailureText(&list->job));
            return;
        case MissionWorkRename:
            list->message = status == FileStatusSuccess
                                ? formatStrStr("Renamed @ to @", file, list->workTarget)
                                : formatStrStrStr("Couldn't rename @ to @: @", file, list->workTarget, failure);
            return;
        case MissionWorkDelete:
            list->message = status == FileStatusSuccess ? formatStr("Deleted @", file)
                                                        : formatStrStr("Couldn't delete @: @", file, failure);
            return;
        default:
            return;
    }
}

}  // namespace

FixedString missionNameProblem(FixedString name) {
    if (name.length == 0) return makeString("Type a name for the mission");
    if (name.truncated || name.length > 200) return makeString("That name is too long");
    for (i64 i = 0; i < name.length; i++) {
        u8 c = (u8)name.text[i];
        if (c == '/' || c == '\\') return makeString("A mission name can't contain / or \\");
        if (c < 0x20 || c == 0x7F) return makeString("A mission name can't contain control characters");
        if (c == '.' && i + 1 < name.length && name.text[i + 1] == '.') {
            return makeString("A mission name can't contain ..");
        }
    }
    if (equals(missionFileName(name), ".csv")) return makeString("Type a name for the mission");
    return FixedString{};
}

FixedString missionFileName(FixedString name) {
    if (endsWithIgnoringCase(name.text, name.length, ".csv")) return name;
    return formatStr("@.csv", name);
}

FixedString startMissionSave(MissionList* list, FixedString name, const MissionPlanView* plan,
                             const Preferences* preferences, FileJobTable* jobs) {
    FixedString problem = missionNameProblem(name);
    if (problem.length) return problem;
    if (workBusy(list)) return makeString("Wait for the last change to the files to finish");
    ByteWriter measure = makeMeasuringWriter();
    i64 size = writeMissionCsv(plan, preferences, &measure);
    u8* text = allocateFileBuffer((u64)size);
    if (!text) return makeString("Not enough memory to save the mission");
    ByteWriter writer = makeByteWriter(text, size);
    writeMissionCsv(plan, preferences, &writer);
    FixedString file = missionFileName(name);
    list->jobs = jobs;
    list->workFile = file;
    list->work = MissionWorkSave;
    enqueueFileJob(missionPath(file), kMissionMime, text, (u32)size, 1, FileJobWrite, jobs, &list->job);
    return FixedString{};
}

FixedString startMissionRename(MissionList* list, FixedString file, FixedString newName, FileJobTable* jobs) {
    FixedString problem = missionNameProblem(newName);
    if (problem.length) return problem;
    if (workBusy(list)) return makeString("Wait for the last change to the files to finish");
    FixedString target = missionFileName(newName);
    if (equals(target, file)) return FixedString{};
    if (listed(list, target)) return formatStr("A mission named @ exists already", target);
    list->jobs = jobs;
    list->workFile = file;
    list->workTarget = target;
    queueJob(list, MissionWorkRename, missionPath(file), target.text, (u32)target.length, FileJobMove);
    return FixedString{};
}

FixedString startMissionDelete(MissionList* list, FixedString file, FileJobTable* jobs) {
    if (workBusy(list)) return makeString("Wait for the last change to the files to finish");
    list->jobs = jobs;
    list->workFile = file;
    queueJob(list, MissionWorkDelete, missionPath(file), nullptr, 0, FileJobWrite);
    return FixedString{};
}

FixedString startMissionLoad(FileReadRequest** pendingRead, FixedString file, FileReadTable* reads) {
    if (*pendingRead) return makeString("Wait for the mission being loaded");
    FileReadRequest* request = requestFile(missionPath(file), kMaxMissionFileBytes, 0, reads);
    if (fileRequestStatus(request) > FileStatusSuccess) {
        FixedString failure = formatStrStr("Couldn't load @: @", file, fileStatusString(request->status));
        releaseFileReadRequest(request, reads);
        return failure;
    }
    *pendingRead = request;
    return FixedString{};
}

void updateMissionList(MissionList* list, FileReadTable* reads) {
    list->dialogShown = list->dialogShownNow;
    list->dialogShownNow = 0;
    advanceWork(list);
    if (list->listing) {
        u32 status = fileRequestStatus(list->listing);
        if (status < FileStatusSuccess) return;
        if (status == FileStatusSuccess) {
            takeListing(list, list->listing);
        } else if (status == FileStatusNotFound) {
            list->count = 0;  // no "Missions" folder yet
            list->listed = 1;
        }
        releaseFileReadRequest(list->listing, reads);
        list->listing = nullptr;
        return;
    }
    if (!list->listed || list->refreshWanted) {
        list->refreshWanted = 0;
        FileReadRequest* listing = requestFolderListing(makeString("Missions"), reads);
        if (fileRequestStatus(listing) > FileStatusSuccess) {
            releaseFileReadRequest(listing, reads);  // a full table: the next frame tries again
            list->refreshWanted = 1;
            return;
        }
        list->listing = listing;
    }
}

namespace {

// Takes a finished read of a mission file into *content (on the heap, for freeFileBuffer). Returns
// the outcome when there is nothing to apply: a failed read, or no memory; an empty text with a null
// content while the read is still going.
FixedString takeLoadedMission(FileReadRequest** pendingRead, FileReadTable* reads, FixedString* name,
                              MissionFileContent** content) {
    *content = nullptr;
    FileReadRequest* request = *pendingRead;
    if (!request) return FixedString{};
    u32 status = fileRequestStatus(request);
    if (status < FileStatusSuccess) return FixedString{};
    *name = request->name;
    *pendingRead = nullptr;
    if (status != FileStatusSuccess) {
        FixedString failure = formatStrStr("Couldn't load @: @", *name, fileStatusString(status));
        releaseFileReadRequest(request, reads);
        return failure;
    }
    // The content is large (the whole plan twice over): it lives on the heap for the moment.
    *content = (MissionFileContent*)allocateFileBuffer(sizeof(MissionFileContent));
    if (!*content) {
        releaseFileReadRequest(request, reads);
        return formatStr("Not enough memory to load @", *name);
    }
    readMissionCsv(*content, request->data + request->headroom, (i64)request->bytesRead);
    releaseFileReadRequest(request, reads);
    return FixedString{};
}

bool holdsAMission(const MissionFileContent* content) {
    return content->hasReference || content->waypointsInFile || content->transectInFile || content->geofenceInFile ||
           content->settingsFound;
}

}  // namespace

FixedString applyLoadedMission(FileReadRequest** pendingRead, WaypointMissionEditor* editor, TransectRegion* transect,
                               OrvikGeofence* geofence, ElevationMapLoader* loader, Preferences* preferences,
                               FileReadTable* reads) {
    FixedString name;
    MissionFileContent* content;
    FixedString outcome = takeLoadedMission(pendingRead, reads, &name, &content);
    if (!content) return outcome;

    i32 from = lockedWaypointCount(editor);
    i32 room = kMaxWaypoints - from;
    FixedString report = missionCsvReport(content, room);
    if (!holdsAMission(content)) {
        freeFileBuffer(content);
        return formatStrStr("@ holds no mission. @", name, report);
    }

    // Altitudes in the file stand on its reference's ground; the mission's stand on its own.
    f64 rebase = 0;
    if (content->hasReference) {
        bool noReference = editor->referenceLatitude == 0 && editor->referenceLongitude == 0;
        bool elsewhere = content->reference.latitude != editor->referenceLatitude ||
                         content->reference.longitude != editor->referenceLongitude;
        if (noReference) {
            editor->referenceLatitude = content->reference.latitude;
            editor->referenceLongitude = content->reference.longitude;
        } else if (elsewhere && loader) {
            GeoPoint ours = {editor->referenceLongitude, editor->referenceLatitude};
            f32 fileGround = getElevation(loader, content->reference, NAN);
            f32 ourGround = getElevation(loader, ours, NAN);
            if (std::isfinite(fileGround) && std::isfinite(ourGround)) rebase = (f64)fileGround - (f64)ourGround;
        }
    }

    Waypoint waypoints[kMaxWaypoints];
    i32 kept = content->waypointCount < room ? content->waypointCount : room;
    for (i32 i = 0; i < kept; i++) {
        const MissionFileWaypoint* source = &content->waypoints[i];
        Vec2 position;
        latLngToMercator(&position, &source->position);
        Waypoint waypoint{};
        waypoint.id = takeWaypointId(editor);
        waypoint.x = position.x;
        waypoint.y = position.y;
        waypoint.altitude = source->altitude + rebase;
        waypoint.ignitePreviousSegment = source->ignitePreviousSegment;
        waypoint.missionItemNumber = source->missionItemNumber;
        waypoints[i] = waypoint;
    }
    if (kept > 0 || editor->waypointCount > from) {
        runNewEdit(&editor->history, loadWaypointsAction, waypoints, sizeof(Waypoint) * (u64)kept);
    }
    Vec2 points[kMaxTransectPoints > kMaxGeofencePoints ? kMaxTransectPoints : kMaxGeofencePoints];
    for (i32 i = 0; i < content->transectCount; i++) latLngToMercator(&points[i], &content->transect[i]);
    if (content->transectCount > 0 || transect->pointCount > 0) {
        runNewEdit(&transect->history, loadTransectRegionAction, points, sizeof(Vec2) * (u64)content->transectCount);
    }
    for (i32 i = 0; i < content->geofenceCount; i++) latLngToMercator(&points[i], &content->geofence[i]);
    if (content->geofenceCount > 0 || geofence->pointCount > 0) {
        runNewEdit(&geofence->history, loadGeofenceAction, points, sizeof(Vec2) * (u64)content->geofenceCount);
    }
    applyMissionSettings(content, preferences);
    freeFileBuffer(content);
    if (report.length) return formatStrStr("Loaded @. @", name, report);
    return formatStr("Loaded @", name);
}

FixedString applyLoadedMissionToReplay(FileReadRequest** pendingRead, ReplayedMission* mission,
                                       ReplayedGeofence* geofence, Preferences* preferences, FileReadTable* reads) {
    FixedString name;
    MissionFileContent* content;
    FixedString outcome = takeLoadedMission(pendingRead, reads, &name, &content);
    if (!content) return outcome;
    FixedString report = missionCsvReport(content, kMaxWaypoints);
    if (!holdsAMission(content)) {
        freeFileBuffer(content);
        return formatStrStr("@ holds no mission. @", name, report);
    }
    if (content->hasReference) {
        mission->referenceLatitude = content->reference.latitude;
        mission->referenceLongitude = content->reference.longitude;
    }
    i32 kept = content->waypointCount < kMaxWaypoints ? content->waypointCount : kMaxWaypoints;
    for (i32 i = 0; i < kept; i++) {
        const MissionFileWaypoint* source = &content->waypoints[i];
        Vec2 position;
        latLngToMercator(&position, &source->position);
        Waypoint* waypoint = &mission->waypoints[i];
        *waypoint = Waypoint{};
        if (mission->nextWaypointId == 0) mission->nextWaypointId = 1;
        waypoint->id = mission->nextWaypointId++;
        waypoint->x = position.x;
        waypoint->y = position.y;
        waypoint->altitude = source->altitude;
        waypoint->ignitePreviousSegment = source->ignitePreviousSegment;
        waypoint->missionItemNumber = source->missionItemNumber;
    }
    mission->waypointCount = kept;
    mission->transectPointCount = content->transectCount;
    for (i32 i = 0; i < content->transectCount; i++) {
        latLngToMercator(&mission->transectPoints[i], &content->transect[i]);
    }
    geofence->pointCount = content->geofenceCount;
    for (i32 i = 0; i < content->geofenceCount; i++) latLngToMercator(&geofence->points[i], &content->geofence[i]);
    applyMissionSettings(content, preferences);
    freeFileBuffer(content);
    if (report.length) return formatStrStr("Loaded @. @", name, report);
    return formatStr("Loaded @", name);
}
