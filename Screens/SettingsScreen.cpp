#include "Screens/SettingsScreen.h"

#include <cmath>
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/PreferenceFields.h"
#include "Core/Profiler.h"
#include "Drone/SharingRequest.h"
#include "Platform/Platform.h"
#include "Platform/SystemInfo.h"
#include "Platform/WebPage.h"
#include "Screens/AppBindsScreen.h"
#include "Screens/ChildScreens.h"
#include "Screens/DebugReport.h"
#include "Screens/MainScreen.h"
#include "SourceCommon/Renderer/Shapes.h"
#include "SourceCommon/Renderer/TextDrawers.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/TextEdit.h"

namespace {

constexpr f32 kIconDepth = 0.8f;
constexpr f32 kGridDepth = 0.7f;
constexpr f32 kPulseDepth = 0.6f;
constexpr i32 kTelemetryItems = 7;
constexpr i32 kAlwaysShownItem = 4;

// The telemetry grid: labels and the preference each item flips (null for the one always shown).
struct TelemetryItem {
    const char* label;
    u32 Preferences::*field;
};
const TelemetryItem kTelemetryItemsTable[kTelemetryItems] = {
    {"Horizontal ground speed", &Preferences::showHorizontalGroundSpeed},
    {"Vertical rate of climb", &Preferences::showVerticalSpeed},
    {"Latitude & Longitude", &Preferences::showLatLng},
    {"Distance from home", &Preferences::showDistanceFromHome},
    {"Altitude above takeoff location and above ground level", nullptr},
    {"Altitude above mean sea level, computed from elevation map", &Preferences::showAltMslFromElevationMap},
    {"Altitude above mean sea level, computed from inputted takeoff elevation",
     &Preferences::showAltMslFromTakeoffElevation},
};

void copyEnumNames(const char* key, FixedString* names, i32 capacity) {
    const PreferenceField* field = findPreferenceField((const u8*)key, (i64)std::strlen(key));
    for (i32 i = 0; i < capacity; i++) {
        names[i] = field && field->enumNames && (u64)i < field->enumCount ? makeString(field->enumNames[i]) : FixedString{};
    }
}

void appendSeparated(ByteWriter* writer, const char* text) {
    if (writer->length) appendCString("   ", writer);
    appendCString(text, writer);
}

i32 sharingListCount(const SecureLinkHost* host) {
    i32 count = 0;
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        if (host->peers[i].address.family != 0) count++;
    }
    return count;
}

// The image asset of a drone colour's arrow head, found by its file name; -1 when the program has none.
i32 droneColorIcon(const UiState* ui, u32 color) {
    const char* name = color == DroneColorRed ? "red_arrow_head_96_4_circles.png" : "yellow_arrow_head_96_4_circles.png";
    for (i32 i = 0; i < kImageAssetCount; i++) {
        if (ui->assets[i].name && std::strcmp(ui->assets[i].name, name) == 0) return i;
    }
    return -1;
}

void drawRowIcon(const Rect& iconRect, i32 asset, const MapView* view, UiState* ui) {
    drawIconInRect(&iconRect, &view->clipRect, kIconDepth, AnchorCentre, IconKindAsset, asset,
                   &ui->batches.textured2d, ui);
}

// The telemetry grid inside the expanded row's reserved area.
void telemetryGrid(const Rect& area, Preferences* preferences, ScreenStack* stack, UiState* ui, MapView* view) {
    f32 t = view->textSize, p = view->padding;
    TextStyle labelStyle{kSecondaryGrey, kNoOutline, kSelectionOrange, t, 0, 0};
    for (i32 i = 0; i < kTelemetryItems; i++) {
        const TelemetryItem& item = kTelemetryItemsTable[i];
        f32 top = area.y1 - p - 2 * i * t;
        Rect band{area.x0 + 2 * p, area.x1 - 2 * p, top - 2 * t, top};
        f32 side = 2 * t - 2 * p;
        Rect box{band.x0 + p, band.x0 + p + side, band.y0 + p, band.y1 - p};
        bool on = item.field && preferences->*item.field;
        Color fill = i == kAlwaysShownItem ? kSecondaryGrey : on ? kCheckedYellow : kNoOutline;
        addRoundedRect(box, kGridDepth, view->clipRect, 2, p / 2, fill, kSecondaryGrey, &ui->batches.coloredRect,
                       ui->halfWidth, ui->halfHeight);
        if (fill != kNoOutline) {
            f32 cx = (box.x0 + box.x1) / 2, cy = (box.y0 + box.y1) / 2, w = box.x1 - box.x0;
            addLine(Vec2F32{cx - w / 4, cy}, Vec2F32{cx, cy - w / 4}, kGridDepth, view->clipRect, kTextWhite, 3,
                    &ui->batches.line2d);
            addLine(Vec2F32{cx + w / 4, cy + w / 4}, Vec2F32{cx, cy - w / 4}, kGridDepth, view->clipRect, kTextWhite,
                    3, &ui->batches.line2d);
        }
        Rect labelCrop = intersectRect(band, view->clipRect);
        drawTextAt(ui, makeString(item.label), AnchorLeftCentre, Vec2F32{band.x0 + 2 * t, (band.y0 + band.y1) / 2},
                   kGridDepth, labelCrop, labelStyle);
        if (buttonBehavior(&band, view, stack) > 0xFFFFFFFFull && item.field) {
            preferences->*item.field = preferences->*item.field ? 0 : 1;
        }
    }
}

struct LengthRow {
    const char* title;
    f64 Preferences::*field;
    f64 defaultValue;
    i32 icon;  // -1 none
};

// A number row of a length; returns after storing a finished entry.
void lengthRow(const LengthRow& row, SettingsScreenState* state, Preferences* preferences, ScreenStack* stack,
               UiState* ui, const WidgetId* id) {
    FixedString title = makeString(row.title);
    FixedString value = formatLength(preferences->*row.field, 0.1, preferences);
    u32 hasIcon = row.icon >= 0 ? 1 : 0;
    TextFieldRowResult r = textFieldRow(&title, &value, &state->editBuffer, &value, TextKeyboardNumpad, hasIcon, stack,
                                        ui, &stack->runner.textFocus, &state->listView, id);
    if (r.visible && hasIcon) drawRowIcon(r.layout.iconRect, row.icon, &state->listView, ui);
    if (r.submitted) {
        preferences->*row.field = enteredLength(&state->editBuffer, row.defaultValue, preferences);
        state->listView.openRowId = WidgetId{};
    }
}

void choiceRowFor(const char* titleText, u32* preference, const FixedString* names, i32 count, u32 hasIcon,
                  ScreenStack* stack, UiState* ui, MapView* view, const WidgetId* id, Rect* iconRect) {
    FixedString title = makeString(titleText);
    i32 current = *preference <= 0x7FFFFFFF ? (i32)*preference : -1;
    FixedString fallback{};
    if (current < 0 || current >= count) fallback = formatInt("Unknown Value (@)", (i64)*preference);
    i32 selected = current;
    ChoiceRowResult r = choiceRow(&title, &fallback, current, &selected, names, count, hasIcon, stack, ui, view, id);
    if (r.changed && selected >= 0 && selected < count) *preference = (u32)selected;
    if (iconRect) *iconRect = r.visible ? r.layout.iconRect : Rect{};
}

}  // namespace

FixedString telemetrySummary(const Preferences* preferences) {
    u8 bytes[253];
    ByteWriter writer = makeByteWriter(bytes, sizeof(bytes));
    if (preferences->showHorizontalGroundSpeed) appendSeparated(&writer, "H.Spd");
    if (preferences->showVerticalSpeed) appendSeparated(&writer, "V.Spd");
    if (preferences->showLatLng) appendSeparated(&writer, "Lat   Lng");
    if (preferences->showDistanceFromHome) appendSeparated(&writer, "Dist");
    appendSeparated(&writer, "Alt AGL");
    if (preferences->showAltMslFromElevationMap) appendCString("   MSL", &writer);
    if (preferences->showAltMslFromTakeoffElevation) appendCString("   MSL", &writer);
    return stringFromBytes(bytes, writer.length);
}

bool lengthsInFeet(const Preferences* preferences) { return preferences->units > UnitsMetricKmh; }

f64 enteredNumber(const FixedString* text, f64 defaultValue) {
    i64 position = 0;
    f64 value = parseDouble((const u8*)text->text, &position, text->length, defaultValue);
    return heldPreferenceNumber(value, defaultValue);
}

f64 enteredLength(const FixedString* text, f64 defaultValue, const Preferences* preferences) {
    f64 value = enteredNumber(text, defaultValue);
    return heldPreferenceNumber(lengthsInFeet(preferences) ? value / kFeetPerMetre : value, defaultValue);
}

FixedString preferencesLoadFailureText(u32 status) {
    if (status == FileStatusCantAccessAppFolder) {
        return formatStr("@, retrying. Give the app permission to access the Tarnwick folder so this works.",
                         fileStatusString(status));
    }
    return fileStatusString(status);
}

FixedString persistenceText(f64 hours) {
    f64 whole = std::trunc(hours);
    if (!(whole == whole)) whole = 0;
    if (whole > 9e18) whole = 9e18;
    if (whole < -9e18) whole = -9e18;
    return formatInt("@ hours", (i64)whole);
}

void settingsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app, ScreenResult* result,
                    void* scratch) {
    ProfilingScope scope("Settings Screen");
    SettingsScreenState* state = (SettingsScreenState*)scratch;
    Preferences* preferences = &app->preferences;
    MapView* view = &state->listView;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
        copyEnumNames("Units", state->unitsNames, 5);
        copyEnumNames("Lat/Lng format", state->latLngFormatNames, 3);
        copyEnumNames("Drone color", state->droneColorNames, 2);
    }
    u64 now = stack->now;
    beginMapView(&ui->screenRect, platform, ui, view);
    f32 t = view->textSize, p = view->padding;

    // 1 and 2: failed reads and writes of the preferences file.
    u32 loadStatus = app->preferencesState.loadStatus;
    if (loadStatus > FileStatusSuccess && loadStatus != FileStatusNotFound) {
        FixedString title = makeString("Failed to load Preferences.txt");
        FixedString text = preferencesLoadFailureText(loadStatus);
        infoRow(&title, &text, 0, ui, view);
    }
    u32 saveStatus = app->preferencesState.saveJob.status;
    if (saveStatus > FileStatusSuccess) {
        FixedString title = makeString("Failed to save Preferences.txt");
        FixedString text = fileStatusString(saveStatus);
        infoRow(&title, &text, 0, ui, view);
    }

    // 3: sharing permissions, while the sharing list holds a device.
    if (sharingListCount(&app->relayHost) > 0) {
        FixedString title = makeString("Sharing permissions");
        FixedString text = makeString("Allow other devices to see the telemetry and video feed from the app");
        RowResult r = buttonRow(&title, &text, 0, stack, ui, view);
        if (r.visible && hasPendingSharingRequest(&app->relayHost, &app->preferences)) {
            Color pulse = sharingPulse(0xFF303030, now);
            addRoundedRect(r.layout.rowRect, kPulseDepth, view->clipRect, 0, 0, pulse, pulse,
                           &ui->batches.coloredRect, ui->halfWidth, ui->halfHeight);
        }
        if (r.clicked) result->next = sharingPermissionsScreen;
    }

    // 4: the telemetry fields of the flight display.
    {
        FixedString title = makeString("Flight telemetry in bottom display");
        FixedString summary = telemetrySummary(preferences);
        WidgetId id = WIDGET_ID;
        ExpandableRowResult r = optionGridRow(&title, &summary, 2 * p + 14 * t, 0, stack, ui, view, &id);
        if (r.expanded) telemetryGrid(r.area, preferences, stack, ui, view);
    }

    // 5 to 9: lengths.
    const LengthRow lengthRows[5] = {
        {"Takeoff elevation (MSL)", &Preferences::inputtedTakeoffElevation, 0, -1},
        {"Low altitude warning (AGL)", &Preferences::lowAltitudeWarning, 20, 84},
        {"Airspace indicator altitude (AGL)", &Preferences::airspaceIndicatorAltitude, 120, 85},
        {"ADSB audible warning cylinder altitude (MSL)", &Preferences::adsbWarningCylinderAltitude, 0, 30},
        {"ADSB audible warning cylinder radius", &Preferences::adsbWarningCylinderRadius, 0, 30},
    };
    const WidgetId ids[5] = {
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
        WIDGET_ID,
    };
    for (i32 i = 0; i < 5; i++) {
        if (i == 0 && !preferences->showAltMslFromTakeoffElevation) continue;
        lengthRow(lengthRows[i], state, preferences, stack, ui, &ids[i]);
    }

    // 10: the drone's icon colour, with the icon of the chosen colour.
    {
        Rect iconRect{};
        WidgetId id = WIDGET_ID;
        choiceRowFor("Drone icon color", &preferences->droneColor, state->droneColorNames, 2, 1, stack, ui, view, &id,
                     &iconRect);
        i32 icon = preferences->droneColor <= DroneColorYellow ? droneColorIcon(ui, preferences->droneColor) : -1;
        if (icon >= 0 && iconRect.x1 > iconRect.x0) drawRowIcon(iconRect, icon, view, ui);
    }

    // 11: how long drop locations are kept.
    {
        FixedString title = makeString("Drop location persistence");
        FixedString value = persistenceText(preferences->orvikDropLocationPersistence);
        WidgetId id = WIDGET_ID;
        TextFieldRowResult r = textFieldRow(&title, &value, &state->editBuffer, &value, TextKeyboardNumpad, 1, stack,
                                            ui, &stack->runner.textFocus, view, &id);
        if (r.visible) {
            Rect icon = r.layout.iconRect;
            f32 w = (icon.x1 - icon.x0) / 4, h = (icon.y1 - icon.y0) / 4;
            drawRowIcon(Rect{icon.x0 + w, icon.x1 - w, icon.y0 + h, icon.y1 - h}, 23, view, ui);
        }
        if (r.submitted) {
            preferences->orvikDropLocationPersistence = enteredNumber(&state->editBuffer, 24);
            view->openRowId = WidgetId{};
        }
    }

    // 12 and 13: units and coordinates.
    {
        WidgetId id = WIDGET_ID;
        choiceRowFor("Units", &preferences->units, state->unitsNames, 5, 0, stack, ui, view, &id, nullptr);
    }
    {
        WidgetId id = WIDGET_ID;
        choiceRowFor("Lat/Lng format", &preferences->latLngFormat, state->latLngFormatNames, 3, 0, stack, ui, view,
                     &id, nullptr);
    }

    // 14: controller bindings.
    {
        FixedString title = makeString("App bindings");
        FixedString text = makeString("Have controller inputs trigger things in the app");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = appBindsScreen;
    }

    // 15: the HUD's orientation circles.
    {
        FixedString title = makeString("Always show orientation on HUD");
        FixedString text = makeString(
            "The pitch circles will always overlay the video feed, even when you aren't moving the gimbal");
        if (checkboxRow(&title, &text, 0, (i32)preferences->alwaysShowHud, stack, ui, view).clicked) {
            preferences->alwaysShowHud = preferences->alwaysShowHud ? 0 : 1;
        }
    }

    // 16 and 17: the version and other versions.
    {
        FixedString title = makeString("App version");
        FixedString text = makeString(kApplicationVersion);
        infoRow(&title, &text, 0, ui, view);
    }
    {
        FixedString title = makeString("Download other versions");
        FixedString text = makeString(kDownloadPageAddress);
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) openWebPage(kDownloadPageAddress);
    }

    // 18: the warning sounds.
    {
        FixedString title = makeString("Warning sounds");
        FixedString text = makeString("Familiarize yourself with the different sounds the app makes");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = testSoundsScreen;
    }

    // 19: this computer's name on the relay link.
    {
        FixedString title = makeString("Tablet/Computer name");
        FixedString hint = makeString("Enter a unique name for this tablet/computer");
        FixedString* name = &app->secureLinkClientIdentity.name;
        FixedString shown = *name;
        WidgetId id = WIDGET_ID;
        TextFieldRowResult r = textFieldRow(&title, &shown, &state->editBuffer, &hint, TextKeyboardFull, 0, stack, ui,
                                            &stack->runner.textFocus, view, &id);
        if (r.submitted) {
            *name = state->editBuffer;
            if (name->length == 0) {
                *name = defaultComputerName(platform, app->installationId);
            }
            view->openRowId = WidgetId{};
        }
    }

    // 20: MAVLink relaying.
    if (preferences->relayModePort == 0) {
        FixedString title = makeString("Enable MAVLink relaying");
        FixedString text = makeString("Act as a relay between the flight controller and another GCS");
        if (checkboxRow(&title, &text, 0, 0, stack, ui, view).clicked) preferences->relayModePort = kDefaultRelayModePort;
    } else {
        FixedString title = makeString("MAVLink relaying settings");
        FixedString text = app->relaySocket.shownStatus;
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = relaySettingsScreen;
    }

    // 21: the simulator.
    if (app->simulatorRunning) {
        FixedString title = makeString("Simulator settings");
        FixedString text =
            makeString("Simulator running. DO NOT POWER THE DRONE ON. Stop it in the simulator settings.");
        if (buttonRow(&title, &text, 0, stack, ui, view).clicked) result->next = simulatorSettingsScreen;
    } else if (platform->gamepad.remote) {
        FixedString title = makeString("Enable simulator");
        FixedString text = makeString("Run the simulator on the other app. Not here.");
        infoRow(&title, &text, 0, ui, view);
    } else if (app->droneConnection.vehicle.lastHeardTime != 0) {
        FixedString title = makeString("Enable simulator");
        FixedString text =
            makeString("You can't run the simulator if the drone is on. Power the drone off and restart the app.");
        infoRow(&title, &text, 0, ui, view);
    } else {
        FixedString title = makeString("Enable simulator");
        FixedString text = makeString(platform->gamepad.controllerKind == ControllerNone
                                          ? "You should connect a controller first"
                                          : "The app will run a simple drone simulation");
        if (checkboxRow(&title, &text, 0, (i32)(app->simulatorRunning != 0), stack, ui, view).clicked) {
            app->simulatorRunning = app->simulatorRunning ? 0 : 1;
        }
    }

    // 22: developer mode.
    {
        FixedString title = makeString("Development mode");
        FixedString text = makeString("Enables in-development features");
        if (checkboxRow(&title, &text, 0, (i32)preferences->developerMode, stack, ui, view).clicked) {
            preferences->developerMode = preferences->developerMode ? 0 : 1;
        }
    }

    endMapView(stack, ui, view);
}
