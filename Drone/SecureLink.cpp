#include "Drone/SecureLink.h"

void sendSecureLinkPublicKey(SecureLinkHost*, Socket*, u32, const Preferences*, u64) {}
void sendSecureLinkStateUpdates(SecureLinkHost*, Socket*, const Preferences*, u64) {}

SecureLinkReceived* receiveFromSecureLinkPeer(SecureLinkReceived* out, const SocketResult*, SecureLinkHost*, u32,
                                              const Preferences*, u64) {
    *out = SecureLinkReceived{};
    return out;
}

void receiveFromSecureLinkHost(u8**, u32*, SecureLinkClient*, u64) {}
void relayPacketToPeers(SecureLinkHost*, Socket*, u32, const Preferences*, const ByteWriter*) {}
void sendSecureLinkHello(SecureLinkClient*, const AddressRecord*, Socket*, u64) {}
void encryptSecureLinkSendQueue(SecureLinkClient*, Socket*) {}
