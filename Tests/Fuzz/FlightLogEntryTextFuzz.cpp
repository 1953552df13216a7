// The row title and detail lines of one flight-log entry of any type and payload: the payload sits
// in an exact-sized buffer, so a read beyond it is caught; the title is a well-formed FixedString,
// the details stay within their writer, and every detail line ends with a line break.
#include "FlightLogs/FlightLogEntryText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Core/Preferences.h"

static void fail(int line) {
    fprintf(stderr, "FlightLogEntryTextFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 65537) return 0;
    u8 type = data[0] % 20;
    Preferences units{};
    units.units = data[1] % 5;
    u16 length = (u16)(size - 2);
    u8* payload = static_cast<u8*>(std::malloc(length ? length : 1));
    std::memcpy(payload, data + 2, length);

    FixedString title = flightLogEntryTitle(type, payload, length);
    check(title.length <= kFixedStringCapacity);
    u8 buffer[2000];
    ByteWriter details = makeByteWriter(buffer, sizeof(buffer));
    appendFlightLogEntryDetails(type, payload, length, &units, &details);
    check(details.length <= details.capacity);
    check(details.overflow || details.length == 0 || buffer[details.length - 1] == '\n');
    std::free(payload);
    return 0;
}
