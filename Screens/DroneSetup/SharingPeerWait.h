// Whether one device of the relay host's sharing list waits for the user's decision.
#pragma once
#include "Core/Types.h"

struct SecureLinkHost;
struct SecureLinkPeer;
struct Preferences;

// Whether this peer waits for the user's decision (the rule of the sharing request pulse).
u32 sharingPeerWaits(const SecureLinkHost* host, const SecureLinkPeer* peer, const Preferences* preferences);
