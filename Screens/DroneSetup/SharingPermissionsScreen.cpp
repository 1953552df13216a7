// The Sharing Permissions screen: one block per device on the relay host's sharing list (its name or
// address and when it was last heard, then "Share Telemetry", "Share Video" and "Grant Control").
// A check box flips one grant of the user's decision on that device; control goes to one device at a
// time, whose address the app cache keeps as the controlling listener. Each device shows the link's
// fingerprint, which its own app shows too: the crew compares the two before granting.
//
// The list holds still under the pointer: the devices the user decided on come first, then the
// undecided ones, each group in the order the devices were listed, so a new device is added below
// and a device keeps its place while it stays listed. A press changes the grants of the device whose
// block it was made on; when that block shows another device by the time it is released (a device
// above it left the list, or the user's decision moved it), it changes nothing.
#include <cstring>

#include "AppState/AppState.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Network/Address.h"
#include "Platform/Input.h"
#include "Screens/DroneSetup/DroneSetupScreens.h"
#include "Screens/DroneSetup/SharingPeerWait.h"
#include "SourceCommon/Renderer/UiState.h"
#include "SourceCommon/UserInterface/ListView.h"
#include "SourceCommon/UserInterface/Rows.h"

namespace {

// The device a pointer's press was made on: its slot on the host's list and its list order.
struct PressedDevice {
    u64 pressTime;  // the press, by the time it began
    i32 slot;       // -1: made on no device
    u32 listOrder;
};

struct SharingPermissionsScreenState {
    u32 initialised;
    MapView listView;
    PressedDevice presses[kPointerSlots];
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

// When the device was last heard (a device that runs says hello every second), and the link's
// fingerprint; a device that showed the key of a device listed at another address is that one's
// messages relayed, not a device of its own.
FixedString peerHeardText(const SecureLinkHost* host, const SecureLinkPeer* peer, u32 pending, u64 now) {
    i64 seconds = (i64)((now - peer->lastHeardTime) / 1000000);
    FixedString heard = pending ? makeString("Waiting for your decision")
                        : peer->lastHeardTime == 0 || now < peer->lastHeardTime ? makeString("Not heard yet")
                        : now - peer->lastHeardTime > kSecureLinkPeerSilence
                            ? formatInt("Gone silent, last heard @ s ago", seconds)
                            : formatInt("Last heard @ s ago", seconds);
    if (const SecureLinkPeer* same = secureLinkPeerWithSameKey(host, peer)) {
        return formatStrStr("@ - the same key as the device at @", heard, addressString(&same->address));
    }
    FixedString fingerprint = secureLinkPeerFingerprint(host, peer);
    if (fingerprint.length == 0) return heard;
    return formatStrStr("@ - fingerprint @", heard, fingerprint);
}

// The listed devices' slots in the order they are shown: decided ones first, each group by list order.
i32 sharingListOrder(const SecureLinkHost* host, i32* slots) {
    i32 count = 0;
    for (i32 pass = 0; pass < 2; pass++) {
        bool decided = pass == 0;
        i32 groupStart = count;
        for (i32 i = 0; i < kSecureLinkPeers; i++) {
            const SecureLinkPeer* peer = &host->peers[i];
            if (peer->address.family == 0 || (peer->userDecision != 0) != decided) continue;
            i32 at = count++;
            while (at > groupStart && host->peers[slots[at - 1]].listOrder > peer->listOrder) {
                slots[at] = slots[at - 1];
                at--;
            }
            slots[at] = i;
        }
    }
    return count;
}

// Presses seen for the first time this frame are taken for the device whose rows lie under them.
void notePresses(SharingPermissionsScreenState* state, const ScreenStack* stack, const Rect& rows, i32 slot,
                 u32 listOrder, const bool* fresh) {
    for (i32 i = 0; i < kPointerSlots; i++) {
        if (!fresh[i] || !pointInRect(rows, stack->pointers[i].pressX, stack->pointers[i].pressY)) continue;
        state->presses[i].slot = slot;
        state->presses[i].listOrder = listOrder;
    }
}

// Whether one of the pointers that clicked was pressed on this device.
bool pressedOn(const SharingPermissionsScreenState* state, const ScreenStack* stack, u64 clickedPointers, i32 slot,
               u32 listOrder) {
    for (i32 i = 0; i < kPointerSlots; i++) {
        const PressedDevice* press = &state->presses[i];
        if ((clickedPointers >> i & 1) && stack->pointers && press->pressTime == stack->pointers[i].pressTime &&
            press->slot == slot && press->listOrder == listOrder) {
            return true;
        }
    }
    return false;
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
    bool fresh[kPointerSlots] = {};
    for (i32 i = 0; i < kPointerSlots && stack->pointers; i++) {
        const PointerSlot* pointer = &stack->pointers[i];
        if (pointer->state != PointerPressed || pointer->pressTime == state->presses[i].pressTime) continue;
        fresh[i] = true;
        state->presses[i] = PressedDevice{pointer->pressTime, -1, 0};
    }
    beginMapView(&ui->screenRect, platform, ui, view);
    i32 slots[kSecureLinkPeers];
    i32 listed = sharingListOrder(host, slots);
    for (i32 n = 0; n < listed; n++) {
        i32 slot = slots[n];
        SecureLinkPeer* peer = &host->peers[slot];
        u32 listOrder = peer->listOrder;
        FixedString title = peerTitle(peer);
        FixedString heard = peerHeardText(host, peer, sharingPeerWaits(host, peer, &app->preferences), now);
        Rect rows = infoRow(&title, &heard, 0, ui, view).layout.rowRect;
        u32 flip = 0;
        for (const GrantRow& row : kGrantRows) {
            FixedString rowTitle = makeString(row.title);
            FixedString description = makeString(row.description);
            i32 checked = (peer->userDecision & row.bit) ? 1 : 0;
            u64 clickedBefore = view->clickedPointerMask;
            RowResult box = checkboxRow(&rowTitle, &description, 0, checked, stack, ui, view);
            rows.y0 = box.layout.rowRect.y0;
            u64 clickedPointers = view->clickedPointerMask & ~clickedBefore;
            if (box.clicked && pressedOn(state, stack, clickedPointers, slot, listOrder)) flip ^= row.bit;
        }
        notePresses(state, stack, rows, slot, listOrder, fresh);
        if (flip) setSecureLinkPeerDecision(host, peer, peer->userDecision ^ flip);
    }
    if (listed == 0) {
        FixedString title = makeString("No devices");
        FixedString text = makeString("Devices that connect to this app's relay are listed here");
        infoRow(&title, &text, 0, ui, view);
    }
    endMapView(stack, ui, view);
}
