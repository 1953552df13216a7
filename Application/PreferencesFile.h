// "Preferences.txt": the user's settings as UTF-8 lines of key, ": " and value in table order, and
// the per-frame step that loads the file once and writes it back whenever the record changes.
#pragma once
#include "AppState/PreferencesState.h"
#include "Core/PreferenceFields.h"

struct Platform;

constexpr u64 kPreferencesFileMaxSize = 50000;
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

// Queues the file's read ahead of the first frame (start-up calls it once the data folder is known),
// so that the first frame already shows the user's settings; the per-frame step takes the read over.
void requestPreferencesFile(PreferencesState* state, Platform* platform);

// The per-frame step. Returns 1 on the frame on which a changed record was queued for saving.
u32 updatePreferences(Preferences* preferences, PreferencesState* state, Platform* platform);
// At quit: queues a save of a record that differs from the saved copy (a change of the last frame),
// once the file has been loaded. Returns 1 when a save was queued.
u32 savePreferencesAtQuit(Preferences* preferences, PreferencesState* state, Platform* platform);
