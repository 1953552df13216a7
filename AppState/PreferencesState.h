// The record of the preferences file's per-frame step that the application state holds. The file's
// reader, writer and step are in Application/PreferencesFile.h.
#pragma once
#include "Core/Preferences.h"
#include "Platform/FileTables.h"

// Frames between repeated reads of a file that could not be loaded, and between repeated saves
// after a failed write.
constexpr u32 kPreferencesRetryFrames = 120;

struct PreferencesState {
    u32 started;  // the first call has set the defaults
    u32 loaded;  // the file has been read (or found missing); saving is allowed from then on
    FileReadRequest* pendingRead;
    u32 loadStatus;  // FileStatus of the last finished read, for the Settings screen
    u32 retryCountdown;  // frames until a failed read or save is tried again
    u32 saveQueued;  // a save job has been queued at least once
    u32 saveRetryDue;  // the last save failed: write again even though the record equals the saved copy
    FileJobResult saveJob;  // filled by the file thread
    u32 resetBindingsRequest;  // set by the App Binds Screen
    u32 applyControllerDefaults;
    u32 bindingsAtDefaults;
    u32 controllerKind;  // of this frame
    Preferences bindingDefaults;  // only the binding group is meaningful
    Preferences saved;  // the file's content as last loaded or queued for saving
};
