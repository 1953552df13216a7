#include "Screens/DroneSetup/SharingPeerWait.h"

#include "Drone/SharingRequest.h"
#include "Network/SecureLink.h"

u32 sharingPeerWaits(const SecureLinkHost* host, const SecureLinkPeer* peer, const Preferences* preferences) {
    // The list's rule applied to a list of this one peer.
    SecureLinkHost alone{};
    alone.referenceAddress = host->referenceAddress;
    alone.peers[0] = *peer;
    return hasPendingSharingRequest(&alone, preferences);
}
