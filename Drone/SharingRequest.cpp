#include "Drone/SharingRequest.h"

#include "Core/Preferences.h"
#include "Network/SecureLink.h"
#include "Network/Address.h"

u32 hasPendingSharingRequest(const SecureLinkHost* sharingList, const Preferences* preferences) {
    if (!sharingList) return 0;
    for (i32 i = 0; i < kSecureLinkPeers; i++) {
        const SecureLinkPeer* peer = &sharingList->peers[i];
        if (peer->address.family == 0 || peer->userDecision != 0) continue;
        if (!sameAddress(&peer->address, &sharingList->referenceAddress)) return 1;
        if (peer->pending || peer->counter >= 3) return 1;
        if (preferences && preferences->relayModeDisableEncryption) return 1;
    }
    return 0;
}
