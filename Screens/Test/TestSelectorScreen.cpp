// The developer menu: the forced drone configuration, a row per developer screen, the app's MAVLink
// identities, the system facts the platform read at start-up and the local network interfaces.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Network/NetworkInterfaces.h"
#include "Platform/Platform.h"
#include "Screens/Test/TestScreen.h"
#include "Screens/Test/TestScreenStates.h"
#include "Screens/Test/TestScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr i32 kInterfaceOptions = 10;

struct ScreenRow {
    const char* title;
    const char* description;
    ScreenFunction screen;
};

const ScreenRow kScreenRows[12] = {
    {"Profiling", "Call tree and execution time", profilingScreen},
    {"Flight controller's MAVLink message sequence numbers", "Identify if there are multiple sequence number sequences",
     fcSequenceScreen},
    {"Cropping test", "Test if GUI elements crop correctly", testClippingScreen},
    {"Automated Tests", "Run automated tests", testScreen},
    {"3D Test", "Test 3D rendering", test3DScreen},
    {"Test Keys", "See what keys are pressed", testKeysScreen},
    {"Test Gamepad", "See what buttons and sticks are pressed", testGamepadScreen},
    {"Test Sounds", "Hear the different sounds the app makes", testSoundsScreen},
    {"Design Synthesizer tune", "Design synthesizer tune", designSoundScreen},
    {"Debug NextVision problems", "", debugNvScreen},
    {"Test Pixy U firmware", "", testPixyUScreen},
    {"Duvev Test", "Duvev hello world", duvevDebugScreen},
};

void identityRow(const char* titleText, u8* identity, TestSelectorState* state, ScreenStack* stack, UiState* ui,
                 const WidgetId* id) {
    FixedString title = makeString(titleText);
    FixedString value = stringFromInt(*identity);
    TextFieldRowResult r = textFieldRow(&title, &value, &state->editBuffer, &value, TextKeyboardNumpad, 0, stack, ui,
                                        &stack->runner.textFocus, &state->listView, id);
    if (r.submitted) {
        *identity = enteredIdentity(state->editBuffer);
        state->listView.openRowId = WidgetId{};
    }
}

void info(const char* titleText, FixedString value, UiState* ui, MapView* view) {
    FixedString title = makeString(titleText);
    infoRow(&title, &value, 0, ui, view);
}

}  // namespace

i32 droneConfigurationOption(u32 autopilotKind, u32 cameraKind) {
    if (autopilotKind == AutopilotUnknown) return cameraKind == 0 ? 0 : -1;
    if (autopilotKind != AutopilotPx4) return -1;
    return cameraKind >= 1 && cameraKind <= 3 ? (i32)cameraKind : -1;
}

void chooseDroneConfiguration(DroneConnection* connection, i32 option) {
    if (option == 0) {
        connection->vehicle.autopilotKind = AutopilotUnknown;
        connection->cameraKind = 0;
    } else if (option >= 1 && option <= 3) {
        connection->vehicle.autopilotKind = AutopilotPx4;
        connection->cameraKind = (u32)option;
    }
}

u8 enteredIdentity(FixedString text) { return (u8)(parseIntOr(text, 0) & 0xFF); }

void testSelectorScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                        void* scratch) {
    ProfilingScope scope("Test Selector Screen");
    setBackground(ui, kListBackground);
    TestSelectorState* state = (TestSelectorState*)scratch;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
        const char* names[4] = {"Unknown", "Wiris Pro", "NextVision", "Mapping Kit"};
        for (i32 i = 0; i < 4; i++) state->configurationOptions[i] = makeString(names[i]);
    }
    beginMapView(&ui->screenRect, platform, ui, view);

    DroneConnection* drone = &app->droneConnection;
    {
        u32 k = drone->vehicle.autopilotKind, c = drone->cameraKind;
        i32 current = droneConfigurationOption(k, c);
        i32 chosen = current;
        FixedString title = makeString("Drone configuration");
        FixedString description = formatIntInt("@ @", (i32)k, (i32)c);
        WidgetId id = WIDGET_ID;
        ChoiceRowResult r = choiceRow(&title, &description, current, &chosen, state->configurationOptions, 4, 0, stack,
                                      ui, view, &id);
        if (r.changed) chooseDroneConfiguration(drone, chosen);
    }

    for (const ScreenRow& row : kScreenRows) {
        FixedString title = makeString(row.title);
        FixedString description = makeString(row.description);
        if (buttonRow(&title, &description, 0, stack, ui, view).clicked) result->next = row.screen;
    }

    {
        WidgetId id = WIDGET_ID;
        identityRow("System ID", &app->preferences.appSystemId, state, stack, ui, &id);
    }
    {
        WidgetId id = WIDGET_ID;
        identityRow("Component ID", &app->preferences.appComponentId, state, stack, ui, &id);
    }

    info("Sound system error", platform->soundSystemError, ui, view);
    info("OS Release Version", platform->systemReleaseId, ui, view);
    info("OS Incremental Version", platform->systemVersion, ui, view);
    info("Manufacturer", platform->biosManufacturer, ui, view);
    info("Device", platform->biosProductName, ui, view);
    info("User Name", platform->userName, ui, view);
    info("Computer Name", platform->computerName, ui, view);
    info("Installation ID", hexString(app->installationId, sizeof(app->installationId)), ui, view);
    {
        u64 password = 0;
        std::memcpy(&password, app->secureLinkClientIdentity.relayPassword, sizeof(password));
        info("Control Password", formatHex("@", password, 16), ui, view);
    }

    {
        AddressRecord addresses[kInterfaceOptions];
        FixedString names[kInterfaceOptions];
        i32 count = listNetworkInterfaces(addresses, names, kInterfaceOptions, 0);
        FixedString options[kInterfaceOptions + 1];
        options[0] = makeString("Any");
        for (i32 i = 0; i < count; i++) options[i + 1] = formatStrStr("@ (@)", names[i], addressString(&addresses[i]));
        // The choice is only a list to look at: it starts at "Any" every frame and keeps nothing.
        i32 highlighted = 0;
        i32 chosen = highlighted;
        FixedString title = makeString("Network Interfaces");
        FixedString description = formatInt("@", highlighted);
        WidgetId id = WIDGET_ID;
        choiceRow(&title, &description, highlighted, &chosen, options, count + 1, 0, stack, ui, view, &id);
    }

    endMapView(stack, ui, view);
}
