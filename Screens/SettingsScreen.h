// The Settings Screen: one scrolling list, rebuilt every frame, through which the operator changes a
// fixed selection of the preferences, the name of this computer on the relay link, and the switches
// of MAVLink relaying and the drone simulator. It also shows failed reads and writes of
// "Preferences.txt" and leads to the bindings, the warning sounds and the relay, sharing and
// simulator screens. Changes go straight into the Preferences record; the preferences step saves
// them.
#pragma once
#include "Core/FixedString.h"
#include "SourceCommon/UserInterface/MapView.h"
#include "SourceCommon/UserInterface/Screen.h"

struct Preferences;

constexpr f64 kFeetPerMetre = 3.280839895;
constexpr u16 kDefaultRelayModePort = 9876;
constexpr const char* kDownloadPageAddress = "https://www.tarnwick.com/permalinks/apps.html";

// The screen's scratch state (zero when the screen is pushed). The one text-field focus of the
// screen is the screen runner's.
struct SettingsScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
    FixedString unitsNames[5];
    FixedString latLngFormatNames[3];
    FixedString droneColorNames[2];
};

// The second line of the telemetry row: the chosen fields, three blanks apart.
FixedString telemetrySummary(const Preferences* preferences);
// Whether lengths are shown and entered in feet ("Units" above the two metric settings).
bool lengthsInFeet(const Preferences* preferences);
// A finished number entry: the number at the start of the text, or the default, in the display unit;
// a length comes back in metres.
f64 enteredLength(const FixedString* text, f64 defaultValue, const Preferences* preferences);
f64 enteredNumber(const FixedString* text, f64 defaultValue);
// The second line of the load-failure row.
FixedString preferencesLoadFailureText(u32 status);
// "@ hours" with the whole hours, cut toward zero.
FixedString persistenceText(f64 hours);

void settingsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                    void* scratch);
