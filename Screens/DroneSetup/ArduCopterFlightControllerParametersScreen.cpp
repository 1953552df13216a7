// The ArduCopter Flight Controller screen: the Remote ID type and the UAS id that the ArduCopter
// control announces. Edits go into the ArduCopter state and into the app cache's copy.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Screens/DroneSetup/DroneSetupRows.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/MavlinkConnectionSettings.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr i32 kUasIdBytes = 20;

struct ArduCopterFlightControllerScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
    FixedString typeNames[2];
};

void keepInAppCache(AppState* app) {
    const ArduCopterState* arduCopter = &app->droneConnection.arduCopter;
    u32 type = arduCopter->remoteIdType;
    for (i32 i = 0; i < 4; i++) app->arduCopterId.idType[i] = (u8)(type >> (8 * i));
    std::memcpy(app->arduCopterId.id, arduCopter->uasId, kUasIdBytes);
}

}  // namespace

void arduCopterFlightControllerScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                      ScreenResult* result, void* scratch) {
    (void)result;
    ProfilingScope scope("ArduCopter Flight Controller Screen");
    ArduCopterFlightControllerScreenState* state = (ArduCopterFlightControllerScreenState*)scratch;
    MapView* view = &state->listView;
    ArduCopterState* arduCopter = &app->droneConnection.arduCopter;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
        const char* const types[2] = {"None", "Manufacturer Serial Number"};
        makeOptionLabels(state->typeNames, types, 2);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        WidgetId id = WIDGET_ID;
        if (enumChoiceRow("Remote ID Type", &arduCopter->remoteIdType, state->typeNames, 2, stack, ui, view, &id)) {
            std::memset(arduCopter->uasId, 0, kUasIdBytes);
            keepInAppCache(app);
        }
    }
    if (arduCopter->remoteIdType == 1) {
        FixedString title = makeString("Remote ID");
        FixedString shown = fixedStringFromCharField(arduCopter->uasId, kUasIdBytes);
        WidgetId id = WIDGET_ID;
        startEntryWithText(view, &id, &stack->runner.textFocus, TextKeyboardFull, &state->editBuffer, shown);
        TextFieldRowResult r = textFieldRow(&title, &shown, &state->editBuffer, &shown, TextKeyboardFull, 0, stack, ui,
                                            &stack->runner.textFocus, view, &id);
        if (r.submitted && arduCopter->remoteIdType == 1) {
            i64 length = fixedStringLength(&state->editBuffer);
            if (length > kUasIdBytes) length = kUasIdBytes;
            std::memset(arduCopter->uasId, 0, kUasIdBytes);
            std::memcpy(arduCopter->uasId, state->editBuffer.text, (size_t)length);
            keepInAppCache(app);
            view->openRowId = WidgetId{};
        }
    }
    endMapView(stack, ui, view);
}
