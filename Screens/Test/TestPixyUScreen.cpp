// The Gremsy gimbal's firmware test: its version and reported attitude, and a pitch, yaw and roll
// sent to it as one pointing command by the drone link's gimbal control.
#include <cmath>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

i64 truncatedPart(f32 value) { return std::fabs(value) < 1e15f ? (i64)value : 0; }

void angleInfo(const char* titleText, f32 degrees, UiState* ui, MapView* view) {
    FixedString title = makeString(titleText);
    FixedString value = stringFromDoubleTrimmed(degrees, 8);
    infoRow(&title, &value, 0, ui, view);
}

void commandRow(const char* titleText, f32* angle, TestPixyUState* state, ScreenStack* stack, UiState* ui,
                const WidgetId* id) {
    FixedString title = makeString(titleText);
    FixedString text = stringFromDoubleTrimmed(*angle, 8);
    FixedString description = formatStr("@ degrees", text);
    TextFieldRowResult r = textFieldRow(&title, &description, &state->editBuffer, &text, TextKeyboardNumpad, 0, stack,
                                        ui, &stack->runner.textFocus, &state->listView, id);
    if (r.submitted) {
        *angle = (f32)parseDoubleOr(state->editBuffer, 0);
        state->listView.openRowId = WidgetId{};
    }
}

}  // namespace

FixedString gimbalVersionText(f32 x, f32 y, f32 z) {
    return formatInt3("@.@.@", truncatedPart(x), truncatedPart(y), truncatedPart(z));
}

void testPixyUScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                     void* scratch) {
    (void)result;
    ProfilingScope scope("Test Pixy U Screen");
    setBackground(ui, kBlackBackground);
    TestPixyUState* state = (TestPixyUState*)scratch;
    if (!state->initialised) {
        state->initialised = 1;
        state->listView = makeScrollView(WIDGET_ID);
    }
    MapView* view = &state->listView;
    GremsyGimbalState* gimbal = &app->droneConnection.gremsyGimbal;
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("Firmware version");
        FixedString value = gimbalVersionText(parameterFloat(gimbal->parameters[GremsyVersionX].value),
                                              parameterFloat(gimbal->parameters[GremsyVersionY].value),
                                              parameterFloat(gimbal->parameters[GremsyVersionZ].value));
        infoRow(&title, &value, 0, ui, view);
    }
    angleInfo("Pitch reported", gimbal->pitch, ui, view);
    angleInfo("Roll reported", gimbal->roll, ui, view);
    angleInfo("Yaw from front reported", gimbal->yaw, ui, view);
    angleInfo("Yaw from North reported", gimbal->yawAbsolute, ui, view);
    {
        WidgetId id = WIDGET_ID;
        commandRow("Pitch to command", &gimbal->requestPitch, state, stack, ui, &id);
    }
    {
        WidgetId id = WIDGET_ID;
        commandRow("Yaw to command", &gimbal->requestYaw, state, stack, ui, &id);
    }
    {
        WidgetId id = WIDGET_ID;
        commandRow("Roll to command", &gimbal->requestRoll, state, stack, ui, &id);
    }
    {
        FixedString title = makeString("Send Command");
        FixedString description{};
        if (buttonRow(&title, &description, 0, stack, ui, view).clicked) gimbal->requestPending = 1;
    }
    endMapView(stack, ui, view);
}
