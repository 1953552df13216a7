// The DualShock 4's hidraw path over arbitrary bytes: the whole input as a uevent text, then as a
// stream of reports (each a length byte and that many bytes, as reads of the device deliver them).
// A decoded report must leave the sticks in [-1, 1], the triggers in [0, 1] and exactly the buttons
// its bits and hat name held down, with no key events; every report is either decoded or counted.
#include "Platform/DualShock4Device.h"

#include <cstdio>
#include <cstring>

static void fail(int line) {
    fprintf(stderr, "DualShock4ReportFuzz: check failed at line %d\n", line);
    __builtin_trap();
}
#define check(condition) ((condition) ? (void)0 : fail(__LINE__))

static bool inRange(f32 value, f32 low, f32 high) { return value >= low && value <= high; }

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    u32 vendor = 0xFFFFFFFF, product = 0xFFFFFFFF;
    if (parseHidUevent(data, (i64)size, &vendor, &product)) {
        // Only from a line that starts with the key.
        static const char kKey[] = "HID_ID=";
        bool found = false;
        for (size_t at = 0; at + 7 <= size && !found; at++) {
            if ((at == 0 || data[at - 1] == '\n') && std::memcmp(data + at, kKey, 7) == 0) found = true;
        }
        check(found);
    } else {
        check(vendor == 0xFFFFFFFF && product == 0xFFFFFFFF);
    }

    DualShock4Reader reader{};
    GamepadState pad{};
    InputState input{};
    u64 count = 0;
    for (size_t at = 0; at < size;) {
        size_t length = data[at++];
        if (length > size - at) length = size - at;
        const u8* report = data + at;
        at += length;
        bool bluetooth = length > 2 && report[0] == kDualShock4BluetoothReportId;
        const u8* fields = bluetooth ? report + 2 : report;  // where report 1's bytes stand
        size_t fieldsLength = bluetooth ? length - 2 : length;
        count++;
        u64 decodedBefore = reader.reports;
        i32 decoded = takeDualShock4Report(&reader, report, (i64)length, count, &pad, &input);
        check(reader.reports + reader.otherReports == count);
        check((decoded == 1) == (reader.reports == decodedBefore + 1));
        check(decoded == (fieldsLength >= 10 && (bluetooth || report[0] == kDualShock4InputReportId)));
        if (!decoded) continue;
        check(pad.time == count && pad.controllerKind == ControllerGamepad && equals(pad.name, "Sony Dualshock 4"));
        check(inRange(pad.leftStickX, -1, 1) && inRange(pad.leftStickY, -1, 1));
        check(inRange(pad.rightStickX, -1, 1) && inRange(pad.rightStickY, -1, 1));
        check(inRange(pad.leftTrigger, 0, 1) && inRange(pad.rightTrigger, 0, 1));
        report = fields;
        u32 hat = report[5] & 0x0F;
        bool held[14] = {
            (report[5] & 0x20) != 0, (report[5] & 0x40) != 0, (report[5] & 0x10) != 0, (report[5] & 0x80) != 0,
            hat == 5 || hat == 6 || hat == 7, hat == 1 || hat == 2 || hat == 3,
            hat == 0 || hat == 1 || hat == 7, hat == 3 || hat == 4 || hat == 5,
            (report[6] & 0x01) != 0, (report[6] & 0x02) != 0, (report[6] & 0x40) != 0, (report[6] & 0x80) != 0,
            (report[6] & 0x20) != 0, (report[6] & 0x10) != 0,
        };
        for (i32 b = 0; b < 14; b++) check(isKeyDown(&input, KeyPadCross + b) == held[b]);
        check(input.eventCount == 0);
    }
    return 0;
}
