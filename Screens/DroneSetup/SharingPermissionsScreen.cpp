// The Sharing Permissions screen: one block per device on the relay host's sharing list (its name or
// address and when it was last heard, then "Share Telemetry", "Share Video" and "Grant Control").
// A check box flips one grant of the user's decision on that device; control goes to one device at a
// time, whose address the app cache keeps as the controlling listener. Each device shows the link's
// fingerprint, which its own app shows too: the crew compares the two before granting.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/SharingPeerWait.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

struct SharingPermissionsScreenState {
    u32 initialised;
    MapView listView;
};

struct GrantRow {
    const char* title;
    const char* description;
    u32 bit;
};
const GrantRow kGrantRows[3] = {
    {"Share Telemetry", "Send the drone's MAVLink telemetry to this device", SecureLinkGrantTelemetry},
    {"Share Video", "Send the video feed to this device", SecureLinkGrantVideo},
    {"Grant Control", "Let this device command the drone. Only one device can have control", SecureLinkGrantControl},
};

FixedString peerTitle(const SecureLinkPeer* peer) {
    FixedString address = endpointString(&peer->address);
    if (peer->name.length == 0) return address;
    return formatStrStr("@ (@)", peer->name, address);
}

FixedString peerHeardText(const SecureLinkHost* host, const SecureLinkPeer* peer, u32 pending, u64 now) {
    FixedString heard = pending ? makeString("Waiting for your decision")
                        : peer->lastHeardTime == 0 || now < peer->lastHeardTime
                            ? makeString("Not heard yet")
                            : formatInt("Last heard @ s ago", (i64)((now - peer->lastHeardTime) / 1000000));
    FixedString fingerprint = secureLinkPeerFingerprint(host, peer);
    if (fingerprint.length == 0) return heard;
    return formatStrStr("@ - fingerprint @", heard, fingerprint);
}

}  // namespace

void sharingPermissionsScreen(Platform* platform, ScreenStack* stack, UiState* ui, AppState* app,
                              ScreenResult* result, void* scratch) {
    (void)result;
    ProfilingScope scope("Sharing Permissions Screen");
    SharingPermissionsScreenState* state = (SharingPermissionsScreenState*)scratch;
    MapView* view = &state->listView;
    SecureLinkHost* host = &app->relayHost;
    u64 now = stack->now;
    if (!state->initialised) {
        state->initialised = 1;
        *view = makeScrollView(WIDGET_ID);
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    i32 listed = 0;
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        SecureLinkPeer* peer = &host->peers[i];
        if (peer->address.family == 0) continue;
        listed++;
        FixedString title = peerTitle(peer);
        FixedString heard = peerHeardText(host, peer, sharingPeerWaits(host, peer, &app->preferences), now);
        infoRow(&title, &heard, 0, ui, view);
        for (const GrantRow& row : kGrantRows) {
            FixedString rowTitle = makeString(row.title);
            FixedString description = makeString(row.description);
            i32 checked = (peer->userDecision & row.bit) ? 1 : 0;
            if (checkboxRow(&rowTitle, &description, 0, checked, stack, ui, view).clicked) {
                setSecureLinkPeerDecision(host, peer, peer->userDecision ^ row.bit);
            }
        }
    }
    if (listed == 0) {
        FixedString title = makeString("No devices");
        FixedString text = makeString("Devices that connect to this app's relay are listed here");
        infoRow(&title, &text, 0, ui, view);
    }
    endMapView(stack, ui, view);
}
