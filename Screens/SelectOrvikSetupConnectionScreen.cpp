// The payloads heard in the last second, by the "Payload Type" preference: at most one row, which
// opens the payload's setup screen. A row comes and goes as its payload's frames start and stop.
#include "AppState/AppState.h"
#include "Core/Profiler.h"
#include "Screens/ChildScreens.h"
#include "Screens/PayloadSetupScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

struct SelectOrvikSetupConnectionState {
    u32 initialised;
    MapView listView;
};

bool heard(u64 statusTime, u64 now) { return statusTime != 0 && now >= statusTime && now - statusTime < kPayloadHeardTime; }

}  // namespace

void selectOrvikSetupConnectionScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                      ScreenResult* result, void* scratch) {
    ProfilingScope scope("Select Orvik Setup Connection Screen");
    SelectOrvikSetupConnectionState* state = (SelectOrvikSetupConnectionState*)scratch;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    const PayloadLink* link = &app->droneConnection.payload;
    u64 now = stack->now;
    FixedString description = makeString("Communicate over the drone's radio");
    beginMapView(&ui->screenRect, platform, ui, view);
    u32 type = app->preferences.payloadType;
    if (type == PayloadOrvik && heard(link->orvik.statusTime, now)) {
        FixedString title = makeString("Attached Orvik 2");
        if (buttonRow(&title, &description, 0, stack, ui, view).clicked) result->next = setupAttachedOrvik2Screen;
    }
    if (type == PayloadVosk && (heard(link->vosk.units[0].statusTime, now) || heard(link->vosk.units[1].statusTime, now))) {
        FixedString title = makeString("Attached Vezarire Dropper");
        if (buttonRow(&title, &description, 0, stack, ui, view).clicked) {
            result->next = setupAttachedDodireruDropperScreen;
        }
    }
    endMapView(stack, ui, view);
}
