// The Mavlink Communications screen: the traffic of the drone link as a whole, then a row per source
// heard on it (system and component) with its messages, the share lost to sequence gaps and its
// message rate.
#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Screens/DroneSetup/DroneSetupRows.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"

namespace {

struct MavlinkCommunicationsScreenState {
    u32 initialised;
    MapView listView;
};

// "@ messages, @% lost, @ msg/s" with one decimal for the share and the rate.
FixedString trafficText(u64 messages, f64 lossPercent, f64 rate) {
    FixedString loss = stringFromDouble(lossPercent, 1);
    FixedString perSecond = stringFromDouble(rate, 1);
    return formatStrStrStr("@ messages, @% lost, @ msg/s", stringFromInt((i64)messages), loss, perSecond);
}

FixedString mavlinkSourceTitle(u16 source) {
    return formatIntInt("System @, component @", source >> 8, source & 0xFF);
}

}  // namespace

void mavlinkCommunicationsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                                 ScreenResult* result, void* scratch) {
    (void)result;
    ProfilingScope scope("Mavlink Communications Screen");
    MavlinkCommunicationsScreenState* state = (MavlinkCommunicationsScreenState*)scratch;
    MapView* view = &state->listView;
    const DroneConnection* connection = &app->droneConnection;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    {
        const MavlinkTrafficStats* link = &connection->traffic[TrafficDroneLink];
        FixedString title = makeString("Drone link");
        u64 sent = link->messages + link->lostMessages;
        f64 loss = sent ? 100.0 * (f64)link->lostMessages / (f64)sent : 0.0;
        FixedString text = trafficText(link->messages, loss, link->messagesPerSecond);
        infoRow(&title, &text, 0, ui, view);
    }
    const MavlinkSourceTable* sources = &connection->droneSources;
    if (sources->count == 0) {
        FixedString title = makeString("No MAVLink messages received");
        FixedString text = app->droneSocket.shownStatus;
        infoRow(&title, &text, 0, ui, view);
    }
    for (i32 i = 0; i < sources->count; i++) {
        const MavlinkSourceTraffic* entry = &sources->entries[i];
        FixedString title = mavlinkSourceTitle(entry->source);
        FixedString text = trafficText(entry->messages, sourceLossPercent(entry), entry->messagesPerSecond);
        infoRow(&title, &text, 0, ui, view);
    }
    endMapView(stack, ui, view);
}
