// Mission files in "Missions/": the list of saved missions (newest first), saving the plan,
// loading a mission into the plan, renaming and deleting, and the dialog that does all of it.
//
// A save over an existing mission is one write job: the file thread writes the text to a temporary
// file beside it, makes it durable and renames it over the old one, so that at every moment either
// the old or the new file is there under the mission's name, whole.
//
// All file work goes through the file thread and is polled every frame by updateMissionList; one
// piece of work runs at a time.
#pragma once
#include "Core/FixedString.h"
#include "Core/GeometryTypes.h"
#include "Mission/MissionCsv.h"
#include "Platform/FileTables.h"

struct ElevationMapLoader;
struct Platform;
struct ScreenStack;
struct UiState;
struct TextEditState;
struct MapView;

constexpr i32 kMaxMissionFiles = 200;
constexpr u64 kMaxMissionFileBytes = 1000000;

struct MissionFileEntry {
    FixedString name;  // "<name>.csv"
    u64 modified;  // last write in 100-nanosecond units since 1601-01-01 UTC
    u64 size;
};

enum MissionFileWork : u32 {
    MissionWorkNone = 0,
    MissionWorkSave = 1,
    MissionWorkRename = 4,
    MissionWorkDelete = 5,
};

struct MissionList {
    i32 count;
    u32 listed;  // a listing has arrived at least once
    MissionFileEntry entries[kMaxMissionFiles];  // newest first
    FileReadRequest* listing;  // in flight
    u32 refreshWanted;
    u32 dialogShown;  // the dialog was drawn last frame
    u32 dialogShownNow;
    u32 confirmDelete;  // "Delete" was pressed once for the selected row
    FileJobTable* jobs;  // the table the current work was queued on
    u32 work;  // MissionFileWork
    FileJobResult job;  // the file thread's result of the current step
    FixedString workFile;  // the file being saved, renamed or deleted
    FixedString workTarget;  // a rename's new file name
    FixedString message;  // the last outcome, shown by the dialog
};

// Why a typed name cannot name a mission file, or empty when it can.
FixedString missionNameProblem(FixedString name);
// The file name for a typed name: ".csv" appended unless it ends so already.
FixedString missionFileName(FixedString name);

// Each starts one piece of file work and returns why it did not (empty when started). The outcome
// arrives in list->message through updateMissionList.
FixedString startMissionSave(MissionList* list, FixedString name, const MissionPlanView* plan,
                             const Preferences* preferences, FileJobTable* jobs);
FixedString startMissionRename(MissionList* list, FixedString file, FixedString newName, FileJobTable* jobs);
FixedString startMissionDelete(MissionList* list, FixedString file, FileJobTable* jobs);
// Asks for the file to be read; applyLoadedMission takes it from there.
FixedString startMissionLoad(FileReadRequest** pendingRead, FixedString file, FileReadTable* reads);

// Per frame: keeps the list of "Missions/*.csv" (listed at the start, after every piece of work
// and whenever the dialog opens) and moves the current file work on.
void updateMissionList(MissionList* list, FileReadTable* reads);

// Per frame: once the pending read has finished, replaces the plan with the file's mission, one
// undo record per object (waypoints from the first unlocked one, transect region, geofence) and
// stores its settings. Altitudes are rebased by the ground difference when the file's reference
// lies elsewhere than the mission's. Returns the outcome when a read finished this frame ("Loaded
// ...", with what could not be kept), else empty.
FixedString applyLoadedMission(FileReadRequest** pendingRead, WaypointMissionEditor* editor, TransectRegion* transect,
                               OrvikGeofence* geofence, ElevationMapLoader* loader, Preferences* preferences,
                               FileReadTable* reads);
// The same for a replayed plan, which keeps no undo history: the file's waypoints, transect region,
// geofence and reference take the place of the replayed ones as the file holds them, and its
// settings go into the replay's preferences.
FixedString applyLoadedMissionToReplay(FileReadRequest** pendingRead, ReplayedMission* mission,
                                       ReplayedGeofence* geofence, Preferences* preferences, FileReadTable* reads);

// The missions dialog in the panel rectangle: "Save" with a name field, the saved missions newest
// first, and for the selected one "Load", "Rename" and "Delete" (pressed twice). "Save" writes plan
// with the settings of preferences; "Load" only asks for the file into pendingRead, which the owner
// of the plan applies (applyLoadedMission, applyLoadedMissionToReplay).
void drawMissionFilesDialog(f32 lineHeight, f32 pad, f32 barHeight, Platform* platform, ScreenStack* stack,
                            UiState* ui, TextEditState* focus, const Preferences* preferences,
                            const MissionPlanView* plan, MissionList* list, MapView* scroll, i32* selectedRow,
                            FixedString* editText, Rect panel, FileReadRequest** pendingRead);
