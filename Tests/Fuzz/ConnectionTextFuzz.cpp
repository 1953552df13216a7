// Typed port entries and 16-byte parameter ids from the vehicle: a port is stored only when it is
// one (and then it reads back the same), and a char field's text is whole UTF-8 within its width.
#include <cstdlib>
#include <cstring>

#include "Screens/DroneSetup/MavlinkConnectionSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    FixedString text = stringFromBytes(data, size < 253 ? (i64)size : 253);
    u16 port = 0xBEEF;
    FixedString message = parsePortText(&text, &port);
    if (message.length == 0) {
        FixedString printed = stringFromInt(port);
        u16 again = 0;
        if (parsePortText(&printed, &again).length != 0 || again != port) std::abort();
    } else if (port != 0xBEEF) {
        std::abort();
    }
    i64 width = size < 300 ? (i64)size : 300;
    FixedString field = fixedStringFromCharField(data, width);
    if (field.length > width || field.length > 253 || std::memchr(field.text, 0, field.length)) std::abort();
    i64 position = 0;
    while (position < field.length) {
        if (utf8DecodeNext((const u8*)field.text, field.length, &position) < 0) std::abort();
    }
    // Any setting built from the input describes itself within a FixedString.
    MavlinkConnectionSetting setting{};
    if (size >= sizeof(setting)) std::memcpy(&setting, data, sizeof(setting));
    const u8 families[3] = {0, 4, 6};  // the families a stored endpoint can have
    setting.remote.family = families[setting.remote.family % 3];
    setting.networkInterface.length = setting.networkInterface.length > 253 ? 253 : setting.networkInterface.length;
    FixedString description = mavlinkConnectionDescription(&setting);
    if (description.length > 253) std::abort();
    return 0;
}
