#include "Screens/DroneSetup/SharingDecisions.h"

#include "AppState/AppState.h"
#include "Drone/SharingRequest.h"

void setSharingDecision(AppState* app, SecureLinkPeer* peer, u32 decision) {
    SecureLinkHost* host = &app->relayHost;
    RelayHostIdentity* identity = &app->relayHostIdentity;
    if (decision & kSharingGrantControl) {
        for (SecureLinkPeer& other : host->peers) {
            if (&other != peer) other.userDecision &= ~kSharingGrantControl;
        }
        identity->controllingListener = peer->address;
        host->referenceAddress = peer->address;
    } else if (peer->userDecision & kSharingGrantControl) {
        identity->controllingListener = AddressRecord{};
        host->referenceAddress = AddressRecord{};
        if (host->controllingPeer == peer) host->controllingPeer = nullptr;
    }
    peer->userDecision = decision;
}

u32 sharingPeerWaits(const SecureLinkHost* host, const SecureLinkPeer* peer, const Preferences* preferences) {
    // The list's rule applied to a list of this one peer.
    SecureLinkHost alone{};
    alone.referenceAddress = host->referenceAddress;
    alone.peers[0] = *peer;
    return hasPendingSharingRequest(&alone, preferences);
}
