// "Preferences.txt": the user's settings as UTF-8 lines of key, ": " and value in table order, and
// the per-frame step that loads the file once and writes it back whenever the record changes.
#pragma once
#include "Core/PreferenceFields.h"
#include "Platform/FileTables.h"

struct Platform;

constexpr u64 kPreferencesFileMaxSize = 50000;
// Numbers are written as value x 10,000,000 in a signed 64-bit integer; larger values are held here.
constexpr f64 kMaxPreferenceNumber = 900000000000.0;

// A number as a preference can hold it: not-a-number gives fallback, anything beyond the limits
// (infinities included) is held at them.
inline f64 heldPreferenceNumber(f64 value, f64 fallback) {
    if (!(value == value)) return fallback;
    if (value > kMaxPreferenceNumber) return kMaxPreferenceNumber;
    if (value < -kMaxPreferenceNumber) return -kMaxPreferenceNumber;
    return value;
}
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

// The defaults of the first call, the binding group of the controller kind included.
void setDefaultPreferences(Preferences* preferences, u32 controllerKind);
// Fills the binding group of out with the defaults of a controller kind (0 none, 1 game pad,
// 2 Herelink, 3 Pilot Pro).
void setBindingDefaults(Preferences* out, u32 controllerKind);
// Whether the binding groups of two records are equal, and copies one onto the other.
bool bindingGroupsEqual(const Preferences* a, const Preferences* b);
void copyBindingGroup(Preferences* to, const Preferences* from);

// Applies the lines of a file text to the record; unknown keys, unparsable values and enum names that
// match nothing change nothing (integers that cannot be read become 0; a number whose whole value is
// not one decimal number is refused; numbers and integers that do not fit are held at the field's
// limits). Lines are read whole; a text longer than a record's text is cut at a whole code point.
void parsePreferencesText(Preferences* preferences, const u8* text, i64 length);
// Writes the file text; the caller runs it twice (measure, then fill).
void writePreferencesText(const Preferences* preferences, ByteWriter* writer);

// The per-frame step. Returns 1 on the frame on which a changed record was queued for saving.
u32 updatePreferences(Preferences* preferences, PreferencesState* state, Platform* platform);
// At quit: queues a save of a record that differs from the saved copy (a change of the last frame),
// once the file has been loaded. Returns 1 when a save was queued.
u32 savePreferencesAtQuit(Preferences* preferences, PreferencesState* state, Platform* platform);
