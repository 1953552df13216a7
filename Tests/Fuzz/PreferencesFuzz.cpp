// "Preferences.txt" as the user may have edited it: any bytes parse without fault, and the record
// they leave writes a text that reads back to the same text.
#include <cstdlib>
#include <cstring>
#include <string>

#include "Application/PreferencesFile.h"

namespace {

std::string written(const Preferences* preferences) {
    ByteWriter measure = makeMeasuringWriter();
    writePreferencesText(preferences, &measure);
    if (measure.overflow) std::abort();
    std::string text((size_t)measure.length, '\0');
    ByteWriter fill = makeByteWriter(text.data(), measure.length);
    writePreferencesText(preferences, &fill);
    if (fill.length != measure.length || fill.overflow) std::abort();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    static Preferences first;
    static Preferences second;
    first = Preferences{};
    setDefaultPreferences(&first, (u32)(size % 4));
    parsePreferencesText(&first, data, (i64)size);
    std::string text = written(&first);
    second = Preferences{};
    setDefaultPreferences(&second, 0);
    parsePreferencesText(&second, (const u8*)text.data(), (i64)text.size());
    if (written(&second) != text) std::abort();
    return 0;
}
