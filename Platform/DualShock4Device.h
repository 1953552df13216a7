// A DualShock 4 read from its raw HID input reports: from the pad's hidraw device, found by its
// HID_ID in sysfs and read without blocking once a frame. Each report replaces the game pad record
// (decodeDualShock4Report). Where the device is there but cannot be opened (its permissions), the pad
// stays with the game-controller layer, which then serves its values as it serves any other pad, and
// the platform's gamepad note says why.
#pragma once
#include "Platform/Platform.h"

constexpr u32 kDualShock4Vendor = 0x054C;
constexpr u32 kDualShock4Product = 0x09CC;
// The input report the pad sends over USB (and over Bluetooth until it is switched to its long
// reports): report id 1, then the bytes the decoder reads.
constexpr u8 kDualShock4InputReportId = 0x01;
// The long input report over Bluetooth (the system's driver switches the pad to it): report id
// 0x11 and two bytes of its own, then the same bytes as report 1 from its byte 1.
constexpr u8 kDualShock4BluetoothReportId = 0x11;
constexpr i64 kDualShock4BluetoothOffset = 2;
// Reports read in one frame at most; the pad sends about four a frame.
constexpr i32 kDualShock4ReportsPerFrame = 256;
// How often a missing pad is looked for again, microseconds.
constexpr u64 kDualShock4ScanInterval = 2000000;

// The vendor and product of a hidraw device's uevent text ("HID_ID=0003:0000054C:000009CC", bus,
// vendor and product in hex, among other lines). False when no well-formed HID_ID line is there.
bool parseHidUevent(const u8* text, i64 length, u32* vendor, u32* product);

struct DualShock4Reader {
    u32 open;          // 1 while the device is open and read
    i32 descriptor;    // the open device
    u32 scanned;       // 1 once a scan ran
    u32 unreadable;    // 1 while the pad's device is there but could not be opened
    u64 lastScan;      // microseconds
    FixedString path;  // the device read, or the one that could not be opened
    u64 reports;       // input reports decoded
    u64 otherReports;  // reports of another id, or too short: not decoded
};

// Looks for the pad among the hidraw devices under sysfsRoot ("/sys/class/hidraw") and opens its
// node under devRoot ("/dev") for reading without blocking. Returns 1 when a device is open. When
// the pad's node cannot be opened, the reader is marked unreadable and `note` tells why (the same
// text again for the same device).
i32 openDualShock4Device(DualShock4Reader* reader, const char* sysfsRoot, const char* devRoot, FixedString* note);

// Reads every report waiting on the open device (at most kDualShock4ReportsPerFrame) into the game
// pad and keys 223-236, without blocking. A device that went away (read error or end) is closed.
// Returns the number of reports decoded.
i32 readDualShock4Reports(DualShock4Reader* reader, u64 now, GamepadState* pad, InputState* input);

// One report as read from the device: decoded when it is an input report (id 1, or the Bluetooth
// report 0x11 from its third byte) that the decoder takes, otherwise counted in otherReports. Returns
// 1 when decoded.
i32 takeDualShock4Report(DualShock4Reader* reader, const u8* report, i64 length, u64 now, GamepadState* pad,
                         InputState* input);

// Per frame: looks for the pad when none is open (on the first frame and then every
// kDualShock4ScanInterval), then reads its reports. The platform's gamepad note says why a pad that
// is there is not read.
void stepDualShock4(DualShock4Reader* reader, const char* sysfsRoot, const char* devRoot, u64 now,
                    Platform* platform);

void closeDualShock4Device(DualShock4Reader* reader);
