// The user's decisions on the devices of the relay host's sharing list: which streams each may have
// and which one device controls the drone.
#pragma once
#include "Core/Types.h"

struct AppState;
struct SecureLinkHost;
struct SecureLinkPeer;
struct Preferences;

// The bits of a peer's decision word; 0 means undecided.
constexpr u32 kSharingGrantTelemetry = 1;
constexpr u32 kSharingGrantVideo = 2;
constexpr u32 kSharingGrantControl = 4;

// Sets a peer's decision. Granting control makes the peer the controlling listener, whose address
// the app cache keeps, and takes control from every other peer; taking it away forgets the listener.
void setSharingDecision(AppState* app, SecureLinkPeer* peer, u32 decision);

// Whether this peer waits for the user's decision (the rule of the sharing request pulse).
u32 sharingPeerWaits(const SecureLinkHost* host, const SecureLinkPeer* peer, const Preferences* preferences);
