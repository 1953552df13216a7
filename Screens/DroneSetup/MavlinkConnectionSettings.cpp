#include "Screens/DroneSetup/MavlinkConnectionSettings.h"

#include <cstring>

#include "Core/Format.h"
#include "Core/Preferences.h"
#include "Network/Address.h"

namespace {

constexpr MavlinkConnectionSetting relayingApp(u8 a, u8 b, u8 c, u8 d) {
    MavlinkConnectionSetting setting{};
    setting.kind = DroneConnectionIp;
    setting.remote.family = 4;
    setting.remote.port = kRelayingAppMavlinkPort;
    setting.remote.address[0] = a;
    setting.remote.address[1] = b;
    setting.remote.address[2] = c;
    setting.remote.address[3] = d;
    return setting;
}

constexpr MavlinkConnectionSetting autodetect() {
    MavlinkConnectionSetting setting{};
    setting.kind = DroneConnectionIp;
    setting.localPort = kAutodetectLocalPort;
    return setting;
}

}  // namespace

// The relaying apps are reached at the hosts that serve their video: a controller's hotspot and a
// radio's Ethernet address.
const MavlinkConnectionPreset mavlinkConnectionPresets[kMavlinkConnectionPresetCount] = {
    {"No drone connection", MavlinkConnectionSetting{}},
    {"Autodetect (UDP, local port 14550)", autodetect()},
    {"Connected to a relaying app (controller hotspot)", relayingApp(192, 168, 43, 1)},
    {"Connected to a relaying app (radio Ethernet)", relayingApp(192, 168, 144, 11)},
};

bool hasStoredAddress(const AddressRecord* address) {
    for (u8 byte : address->address) {
        if (byte) return true;
    }
    return false;
}

FixedString mavlinkConnectionDescription(const MavlinkConnectionSetting* setting) {
    if (setting->kind == DroneConnectionNone) return makeString("Disables drone communication");
    if (setting->kind != DroneConnectionIp) return FixedString{};
    if (setting->remote.family == 0) return makeString("Autodetect IP");
    FixedString result{};
    ByteWriter writer = makeByteWriter(result.text, kFixedStringCapacity);
    if (setting->remote.port == 0) {
        appendCString("Receive from ", &writer);
        appendFixedString(addressString(&setting->remote), &writer);
        appendCString(", autodetect port", &writer);
    } else {
        appendCString("Connect to ", &writer);
        appendFixedString(endpointString(&setting->remote), &writer);
    }
    appendCString(", run on ", &writer);
    if (setting->networkInterface.length) {
        appendFixedStringRef(&setting->networkInterface, &writer);
    } else {
        appendCString("any network interface", &writer);
    }
    if (setting->localPort == 0) {
        appendCString(", arbitrary port", &writer);
    } else {
        appendCString(", port ", &writer);
        appendInt64(setting->localPort, &writer);
    }
    if (setting->appSendsSticks) appendCString(", and app sends stick signals", &writer);
    result.length = (u8)writer.length;
    result.truncated = writer.overflow;
    return result;
}

FixedString fixedStringFromCharField(const u8* field, i64 width) {
    i64 end = 0;
    while (end < width && field[end] != 0) end++;
    FixedString result{};
    ByteWriter writer = makeByteWriter(result.text, kFixedStringCapacity);
    i64 position = 0;
    while (!writer.overflow) {
        i32 codepoint = utf8DecodeNext(field, end, &position);
        if (codepoint == kUtf8End || codepoint == kUtf8Truncated) break;
        if (codepoint == kUtf8Malformed) continue;
        appendCodepoint(codepoint, &writer);
    }
    // The writer takes whole code points only: one that does not fit ends the text.
    result.truncated = writer.overflow;
    result.length = (u8)writer.length;
    return result;
}

MavlinkConnectionSetting activeMavlinkConnection(const Preferences* preferences) {
    MavlinkConnectionSetting setting{};
    setting.kind = preferences->droneConnection;
    setting.remote = preferences->droneAddress;
    setting.transportProtocol = preferences->droneTransportProtocol;
    setting.localPort = preferences->droneLocalPort;
    setting.networkInterface = preferences->droneNetworkInterface;
    setting.appSendsSticks = preferences->enableMavlinkJoysticks;
    return setting;
}

MavlinkConnectionSetting customMavlinkConnection(const Preferences* preferences) {
    MavlinkConnectionSetting setting{};
    setting.remote = preferences->customDroneAddress;
    setting.transportProtocol = preferences->customDroneTransportProtocol;
    setting.localPort = preferences->customDroneLocalPort;
    setting.networkInterface = preferences->customDroneNetworkInterface;
    setting.kind = hasStoredAddress(&setting.remote) || setting.localPort != 0 ? DroneConnectionIp : DroneConnectionNone;
    return setting;
}

void setActiveMavlinkConnection(Preferences* preferences, const MavlinkConnectionSetting* setting) {
    preferences->droneConnection = setting->kind;
    preferences->droneAddress = setting->remote;
    preferences->droneTransportProtocol = setting->transportProtocol;
    preferences->droneLocalPort = setting->localPort;
    preferences->droneNetworkInterface = setting->networkInterface;
}

bool isActiveMavlinkConnection(const Preferences* preferences, const MavlinkConnectionSetting* setting) {
    if (preferences->droneConnection != setting->kind) return false;
    if (setting->kind == DroneConnectionNone) return true;
    const AddressRecord* a = &preferences->droneAddress;
    const AddressRecord* b = &setting->remote;
    return a->family == b->family && a->port == b->port && std::memcmp(a->address, b->address, 16) == 0 &&
           preferences->droneTransportProtocol == setting->transportProtocol &&
           preferences->droneLocalPort == setting->localPort &&
           equals(preferences->droneNetworkInterface, setting->networkInterface);
}

FixedString parsePortText(const FixedString* text, u16* port) {
    const u8* bytes = (const u8*)text->text;
    i64 length = fixedStringLength(text);
    i64 position = 0;
    i64 value = parseInteger(bytes, &position, length, 0);
    // parseInteger wraps on very long numbers: count the digits it read (leading zeros aside).
    i64 digits = 0;
    bool leading = true;
    for (i64 i = 0; i < position; i++) {
        if (bytes[i] < '0' || bytes[i] > '9') continue;
        if (leading && bytes[i] == '0') continue;
        leading = false;
        digits++;
    }
    if (digits > 5 || value < 0 || value > 65535) {
        FixedString shown = stringFromBytes(bytes, position);
        return formatStr("A port is a number from 0 to 65535; @ was not stored", shown);
    }
    *port = (u16)value;
    return FixedString{};
}
