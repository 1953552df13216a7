// The Relay Settings screen: the relay socket's status, the port and network interface that other
// ground-control apps reach this app's relay on, the switch that turns its encryption off, and the
// button that stops relaying (port 0) and goes back.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Screens/DroneSetup/DroneSetupRows.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/MavlinkConnectionSettings.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

struct RelaySettingsScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
    FixedString portError;
    InterfaceChoices interfaces;
};

}  // namespace

void relaySettingsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                         void* scratch) {
    ProfilingScope scope("Relay Settings Screen");
    RelaySettingsScreenState* state = (RelaySettingsScreenState*)scratch;
    MapView* view = &state->listView;
    Preferences* preferences = &app->preferences;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
        listInterfaceChoices(&state->interfaces);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        FixedString title = makeString("Relay status");
        FixedString text = app->relaySocket.shownStatus;
        if (text.length == 0) text = makeString("Not started");
        infoRow(&title, &text, 0, ui, view);
    }
    {
        FixedString title = makeString("Relay mode port");
        FixedString shown = state->portError.length ? state->portError : stringFromInt(preferences->relayModePort);
        WidgetId id = WIDGET_ID;
        if (view->rowJustOpened && sameWidget(view->openRowId, id)) state->portError = FixedString{};
        startEntryWithText(view, &id, &stack->runner.textFocus, TextKeyboardNumpad, &state->editBuffer,
                           stringFromInt(preferences->relayModePort));
        TextFieldRowResult r = textFieldBody(&title, &shown, &state->editBuffer, &shown, &state->portError,
                                             TextKeyboardNumpad, 0, stack, ui, &stack->runner.textFocus, view, &id);
        if (r.submitted) {
            state->portError = parsePortText(&state->editBuffer, &preferences->relayModePort);
            if (state->portError.length == 0) view->openRowId = WidgetId{};
        }
    }
    {
        WidgetId id = WIDGET_ID;
        interfaceChoiceRow("Relay network interface", &preferences->relayNetworkInterface, &state->interfaces, stack, ui, view, &id);
    }
    {
        FixedString title = makeString("Relay mode disable encryption");
        FixedString text = makeString(
            "Send and take relayed traffic unencrypted, to and from every listed device. Only for apps that "
            "cannot encrypt");
        if (checkboxRow(&title, &text, 0, preferences->relayModeDisableEncryption ? 1 : 0, stack, ui, view).clicked) {
            preferences->relayModeDisableEncryption = preferences->relayModeDisableEncryption ? 0 : 1;
        }
    }
    {
        FixedString title = makeString("Disable relaying");
        FixedString text = makeString("Stop acting as a relay between the flight controller and other GCSs");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) {
            preferences->relayModePort = 0;
            result->back = 1;
        }
    }
    endMapView(stack, ui, view);
}
