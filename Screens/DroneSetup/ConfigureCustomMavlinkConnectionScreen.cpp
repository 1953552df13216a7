// The Configure Custom Mavlink Connection screen: transport, drone address and port, local port and
// network interface of the custom connection, read from and written to the preferences every frame.
// A port outside 0 to 65,535 is refused with a note under the field instead of being stored cut.
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

struct ConfigureCustomMavlinkConnectionScreenState {
    u32 initialised;
    MapView listView;
    FixedString editBuffer;
    FixedString portError;       // the refused drone port entry, shown under its field
    FixedString localPortError;  // the refused local port entry
    FixedString protocolNames[2];
    InterfaceChoices interfaces;
};

const char* const kAutodetectText = "Autodetect";
const char* const kAutodetectWarning =
    "Autodetect. This won't work if you don't specify a well-known port for the app to listen on.";

// A port field: returns 1 on the frame an entry was stored.
u32 portRow(const char* titleText, const FixedString& shown, u16* port, FixedString* error,
            ConfigureCustomMavlinkConnectionScreenState* state, ScreenStack* stack, UiState* ui,
            const WidgetId* id) {
    FixedString title = makeString(titleText);
    const FixedString* description = error->length ? error : &shown;
    MapView* view = &state->listView;
    if (view->rowJustOpened && sameWidget(view->openRowId, *id)) *error = FixedString{};
    startEntryWithText(view, id, &stack->runner.textFocus, TextKeyboardNumpad, &state->editBuffer,
                       *port ? stringFromInt(*port) : FixedString{});
    TextFieldRowResult r = textFieldBody(&title, description, &state->editBuffer, &shown, error, TextKeyboardNumpad, 0,
                                         stack, ui, &stack->runner.textFocus, view, id);
    if (!r.submitted) return 0;
    *error = parsePortText(&state->editBuffer, port);
    if (error->length) return 0;  // the row stays open with the note
    state->listView.openRowId = WidgetId{};
    return 1;
}

}  // namespace

void configureCustomMavlinkConnectionScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                            ScreenResult* result, void* scratch) {
    (void)result;
    ProfilingScope scope("Configure Custom Mavlink Connection Screen");
    ConfigureCustomMavlinkConnectionScreenState* state = (ConfigureCustomMavlinkConnectionScreenState*)scratch;
    MapView* view = &state->listView;
    Preferences* preferences = &app->preferences;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
        const char* const protocols[2] = {"UDP", "TCP"};
        makeOptionLabels(state->protocolNames, protocols, 2);
        listInterfaceChoices(&state->interfaces);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    AddressRecord* remote = &preferences->customDroneAddress;

    // 1: transport.
    {
        WidgetId id = WIDGET_ID;
        enumChoiceRow("Protocol", &preferences->customDroneTransportProtocol, state->protocolNames, 2, stack, ui, view,
                      &id);
    }
    FixedString autodetect = makeString(preferences->customDroneLocalPort ? kAutodetectText : kAutodetectWarning);

    // 2: the drone's address; text that is no address means autodetect.
    {
        FixedString title = makeString("Drone IP Address");
        bool stored = hasStoredAddress(remote);
        FixedString shown = stored ? addressString(remote) : autodetect;
        WidgetId id = WIDGET_ID;
        startEntryWithText(view, &id, &stack->runner.textFocus, TextKeyboardFull, &state->editBuffer,
                           stored ? addressString(remote) : FixedString{});
        TextFieldRowResult r = textFieldRow(&title, &shown, &state->editBuffer, &shown, TextKeyboardFull, 0, stack, ui,
                                            &stack->runner.textFocus, view, &id);
        if (r.submitted) {
            u64 position = 0;
            AddressRecord parsed =
                parseIpAddress((const u8*)state->editBuffer.text, &position, fixedStringLength(&state->editBuffer));
            remote->family = parsed.family;
            for (i32 i = 0; i < 16; i++) remote->address[i] = parsed.family ? parsed.address[i] : 0;
            view->openRowId = WidgetId{};
        }
    }

    // 3: the drone's port.
    {
        bool known = hasStoredAddress(remote) && remote->port != 0;
        FixedString shown = known ? stringFromInt(remote->port) : autodetect;
        WidgetId id = WIDGET_ID;
        portRow("Drone Port", shown, &remote->port, &state->portError, state, stack, ui, &id);
    }

    // 4: the local port.
    {
        u16* port = &preferences->customDroneLocalPort;
        FixedString shown = *port ? stringFromInt(*port) : makeString("Let operating system pick");
        WidgetId id = WIDGET_ID;
        portRow("Local Port", shown, port, &state->localPortError, state, stack, ui, &id);
    }

    // 5: the network interface.
    {
        WidgetId id = WIDGET_ID;
        interfaceChoiceRow("Local Network Interface", &preferences->customDroneNetworkInterface, &state->interfaces, stack, ui, view, &id);
    }
    endMapView(stack, ui, view);
}
