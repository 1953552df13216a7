// How the program reaches the drone: off, or an IP endpoint with its transport, local port and
// network interface. The same record describes the active connection and the custom one kept in the
// preferences, and each row of the connection presets; one line of text describes it on the Drone
// Setup and Select Mavlink Connection screens.
#pragma once
#include "Core/AddressRecord.h"
#include "Core/FixedString.h"

struct Preferences;

struct MavlinkConnectionSetting {
    u32 kind;               // DroneConnectionKind: 0 none, 1 IP
    AddressRecord remote;   // family 0: address not given (autodetect); port 0: port not given
    u32 transportProtocol;  // TransportProtocol: 0 UDP, 1 TCP
    u16 localPort;          // 0: the operating system picks
    FixedString networkInterface;  // empty: any interface
    u32 appSendsSticks;     // 1: the program sends the controller's sticks to the drone
};

struct MavlinkConnectionPreset {
    const char* name;
    MavlinkConnectionSetting setting;
};

// The fixed presets of the Select Mavlink Connection screen, in their order. The custom connection
// is offered beside them while it is set (customMavlinkConnection kind 1).
constexpr i32 kMavlinkConnectionPresetCount = 4;
extern const MavlinkConnectionPreset mavlinkConnectionPresets[kMavlinkConnectionPresetCount];

// The well-known port on which a relaying app serves MAVLink.
constexpr u16 kRelayingAppMavlinkPort = 9876;
constexpr u16 kAutodetectLocalPort = 14550;

// The one-line description, cut at 253 bytes.
FixedString mavlinkConnectionDescription(const MavlinkConnectionSetting* setting);

// The text of a byte field that ends at its first NUL or after width bytes; malformed UTF-8 is
// skipped.
FixedString fixedStringFromCharField(const u8* field, i64 width);

// The connection the drone link follows, and the custom one (its kind worked out from its fields:
// IP when an address is stored or a local port is set).
MavlinkConnectionSetting activeMavlinkConnection(const Preferences* preferences);
MavlinkConnectionSetting customMavlinkConnection(const Preferences* preferences);
// Makes a setting the active connection. The stick flag is the preference "Enable mavlink joysticks",
// which stays as the user set it.
void setActiveMavlinkConnection(Preferences* preferences, const MavlinkConnectionSetting* setting);
// Whether the active connection is the setting (kind, remote, transport, local port, interface).
bool isActiveMavlinkConnection(const Preferences* preferences, const MavlinkConnectionSetting* setting);

// Whether any of the 16 address bytes is set.
bool hasStoredAddress(const AddressRecord* address);

// A port typed by the user: the decimal number at the start of the text (0 when there is none).
// A number outside 0 to 65,535 is refused with a message and *port is left alone; an empty message
// means *port was set.
FixedString parsePortText(const FixedString* text, u16* port);
