// The "Payload Type" choice row, then the payloads heard in the last second, by that preference: at
// most one row, which opens the payload's setup screen. A row comes and goes as its payload's frames
// start and stop.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/PreferenceFields.h"
#include "Core/Profiler.h"
#include "Screens/ChildScreens.h"
#include "Screens/PayloadSetupScreens.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

constexpr i32 kPayloadTypes = 4;

struct SelectOrvikSetupConnectionState {
    u32 initialised;
    MapView listView;
    FixedString payloadTypeNames[kPayloadTypes];  // "None", "Orvik", "VOSK", "Water Sampler"
};

// The preference's names from its field, as "Preferences.txt" spells them.
void copyPayloadTypeNames(FixedString* names) {
    const char* key = "Payload Type";
    const PreferenceField* field = findPreferenceField((const u8*)key, (i64)std::strlen(key));
    for (i32 i = 0; i < kPayloadTypes; i++) {
        names[i] = field && field->enumNames && (u64)i < field->enumCount ? makeString(field->enumNames[i]) : FixedString{};
    }
}

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
        copyPayloadTypeNames(state->payloadTypeNames);
    }
    const PayloadLink* link = &app->droneConnection.payload;
    u64 now = stack->now;
    FixedString description = makeString("Communicate over the drone's radio");
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        // The payload the drone carries: the fly screen's panels and the rows below follow it.
        u32* preference = &app->preferences.payloadType;
        FixedString title = makeString("Payload Type");
        i32 current = *preference < (u32)kPayloadTypes ? (i32)*preference : -1;
        FixedString fallback{};
        if (current < 0) fallback = formatInt("Unknown Value (@)", (i64)*preference);
        i32 selected = current;
        WidgetId id = WIDGET_ID;
        ChoiceRowResult r = choiceRow(&title, &fallback, current, &selected, state->payloadTypeNames, kPayloadTypes, 0,
                                      stack, ui, view, &id);
        if (r.changed && selected >= 0 && selected < kPayloadTypes) {
            *preference = (u32)selected;
            view->openRowId = WidgetId{};
        }
    }
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
