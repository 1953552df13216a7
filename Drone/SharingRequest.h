// Whether a device on the relay host's sharing list waits for the operator's decision; the Main
// Screen and the Settings screen pulse their sharing controls while it does.
#pragma once
#include "Core/Types.h"

struct SecureLinkHost;
struct Preferences;

// 1 when a listed device without the user's decision asks for it: its address is not the list's
// reference address (family and address), its pending word is set, its counter word has reached 3,
// or "Relay mode disable encryption" is on. An empty list is never pending.
u32 hasPendingSharingRequest(const SecureLinkHost* sharingList, const Preferences* preferences);
