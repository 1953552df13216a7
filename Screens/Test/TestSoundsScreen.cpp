// Each warning sound of the app on demand, with when the app plays it.
#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Core/WarningSounds.h"
#include "Drone/AirTraffic.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

struct SoundRow {
    const char* title;
    const char* description;
    const ToneSegment* first;
    u64 firstSteps;
    const ToneSegment* second;  // played together with the first; null none
    u64 secondSteps;
};

const SoundRow kSoundRows[8] = {
    {"Low Altitude Warning",
     "Plays when the drone descends below the Low altitude warning altitude above ground level", kLowAltitudeTone,
     toneSteps(kLowAltitudeTone), nullptr, 0},
    {"GPS Signal Degraded", "Plays when the drone's gps loses its 3D fix, or becomes significantly degraded (hdop > 200)",
     kGpsLostTone, toneSteps(kGpsLostTone), nullptr, 0},
    {"Position Control Mode", "Plays when the drone transitions to position control mode", kPositionToneLow,
     toneSteps(kPositionToneLow), kPositionToneHigh, toneSteps(kPositionToneHigh)},
    {"Auto / RTL Mode", "Plays when the drone transitions to auto mode, or periodically while in RTL mode", kAutoTone,
     toneSteps(kAutoTone), nullptr, 0},
    {"Altitude Control Mode", "Plays when the drone transitions to altitude control mode", kAltitudeToneLow,
     toneSteps(kAltitudeToneLow), kAltitudeToneHigh, toneSteps(kAltitudeToneHigh)},
    {"Emergency Mode", "Plays once when the drone transitions to emergency mode", kCriticalTone,
     toneSteps(kCriticalTone), nullptr, 0},
    {"New nearby aircraft (ADSB)",
     "Plays once when an aircraft enters or appears within the ADSB audible warning radius and altitude", kAdsbTone,
     kAdsbToneSegments, nullptr, 0},
    {"Orvik error", "Plays when communication with Orvik is lost, or Orvik has an error", kPayloadErrorTone,
     toneSteps(kPayloadErrorTone), nullptr, 0},
};

}  // namespace

void testSoundsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                      void* scratch) {
    (void)result;
    ProfilingScope scope("Test Sounds Screen");
    setBackground(ui, kListBackground);
    ListScreenState* state = (ListScreenState*)scratch;
    if (!state->initialised) {
        state->initialised = 1;
        state->listView = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, &state->listView);
    for (const SoundRow& row : kSoundRows) {
        FixedString title = makeString(row.title);
        FixedString description = makeString(row.description);
        if (!buttonRow(&title, &description, 0, stack, ui, &state->listView).clicked) continue;
        // A full queue drops a request; the second part is tried on its own.
        queueSound(&app->sound.queue, row.first, row.firstSteps);
        if (row.second) queueSound(&app->sound.queue, row.second, row.secondSteps);
    }
    endMapView(stack, ui, &state->listView);
}
