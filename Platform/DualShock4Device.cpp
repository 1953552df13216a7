#include "Platform/DualShock4Device.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace {

i32 hexDigit(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads 1 to 8 hex digits from `at` up to `end` or the stop character; false on anything else.
bool readHexField(const u8* text, i64* at, i64 end, u8 stop, u32* value) {
    u32 result = 0;
    i64 digits = 0;
    while (*at < end && text[*at] != stop) {
        i32 digit = hexDigit(text[*at]);
        if (digit < 0 || digits == 8) return false;
        result = result << 4 | (u32)digit;
        digits++;
        (*at)++;
    }
    if (digits == 0) return false;
    *value = result;
    return true;
}

FixedString joinPath(const char* root, const char* name, const char* tail) {
    return buildFixedString([&](ByteWriter* w) {
        appendCString(root, w);
        appendCString("/", w);
        appendCString(name, w);
        appendCString(tail, w);
    });
}

// The uevent of one hidraw entry, read whole (it is a few hundred bytes); false when it cannot be read.
bool readUevent(const char* sysfsRoot, const char* name, u32* vendor, u32* product) {
    FixedString path = joinPath(sysfsRoot, name, "/device/uevent");
    if (path.truncated) return false;
    i32 descriptor = ::open(path.text, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return false;
    u8 text[4096];
    i64 length = 0;
    while (length < (i64)sizeof(text)) {
        ssize_t got = ::read(descriptor, text + length, sizeof(text) - (size_t)length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += got;
    }
    ::close(descriptor);
    return parseHidUevent(text, length, vendor, product);
}

}  // namespace

bool parseHidUevent(const u8* text, i64 length, u32* vendor, u32* product) {
    if (!text || length <= 0) return false;
    static const char kKey[] = "HID_ID=";
    constexpr i64 kKeyLength = sizeof(kKey) - 1;
    for (i64 line = 0; line < length;) {
        i64 end = line;
        while (end < length && text[end] != '\n') end++;
        if (end - line > kKeyLength && memcmp(text + line, kKey, kKeyLength) == 0) {
            i64 at = line + kKeyLength;
            u32 bus = 0, v = 0, p = 0;
            bool ok = readHexField(text, &at, end, ':', &bus) && at < end && text[at++] == ':' &&
                      readHexField(text, &at, end, ':', &v) && at < end && text[at++] == ':' &&
                      readHexField(text, &at, end, ':', &p) && at == end;
            if (ok) {
                *vendor = v;
                *product = p;
                return true;
            }
            return false;
        }
        line = end + 1;
    }
    return false;
}

i32 openDualShock4Device(DualShock4Reader* reader, const char* sysfsRoot, const char* devRoot, FixedString* note) {
    if (reader->open) return 1;
    DIR* folder = opendir(sysfsRoot);
    if (!folder) return 0;
    bool unreadable = false;
    FixedString unreadablePath{};
    i32 unreadableError = 0;
    while (struct dirent* entry = readdir(folder)) {
        if (strncmp(entry->d_name, "hidraw", 6) != 0) continue;
        u32 vendor = 0, product = 0;
        if (!readUevent(sysfsRoot, entry->d_name, &vendor, &product)) continue;
        if (vendor != kDualShock4Vendor || product != kDualShock4Product) continue;
        FixedString path = joinPath(devRoot, entry->d_name, "");
        if (path.truncated) continue;
        i32 descriptor = ::open(path.text, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor >= 0) {
            closedir(folder);
            reader->open = 1;
            reader->descriptor = descriptor;
            reader->unreadable = 0;
            reader->path = path;
            return 1;
        }
        if (!unreadable) {
            unreadable = true;
            unreadablePath = path;
            unreadableError = errno;
        }
    }
    closedir(folder);
    reader->unreadable = unreadable ? 1 : 0;
    if (unreadable) {
        reader->path = unreadablePath;
        *note = buildFixedString([&](ByteWriter* w) {
            appendCString("DualShock 4 on ", w);
            appendFixedStringRef(&unreadablePath, w);
            appendCString(" cannot be read (", w);
            appendCString(strerror(unreadableError), w);
            appendCString("): its values come from the game-controller layer", w);
        });
    }
    return 0;
}

i32 takeDualShock4Report(DualShock4Reader* reader, const u8* report, i64 length, u64 now, GamepadState* pad,
                         InputState* input) {
    if (report && length > kDualShock4BluetoothOffset && report[0] == kDualShock4BluetoothReportId) {
        report += kDualShock4BluetoothOffset;  // its byte 0 stands where report 1 has its id
        length -= kDualShock4BluetoothOffset;
    } else if (!report || length < 1 || report[0] != kDualShock4InputReportId) {
        reader->otherReports++;
        return 0;
    }
    if (pad->remote) return 0;  // a relay host feeds the pad: its reports are not applied
    if (decodeDualShock4Report(report, length, now, pad, input) != 0) {
        reader->otherReports++;  // too short
        return 0;
    }
    reader->reports++;
    return 1;
}

i32 readDualShock4Reports(DualShock4Reader* reader, u64 now, GamepadState* pad, InputState* input) {
    if (!reader->open) return 0;
    i32 decoded = 0;
    u8 report[512];  // one report a read: the pad's longest is 547 bytes over Bluetooth, cut here
    for (i32 reads = 0; reads < kDualShock4ReportsPerFrame; reads++) {
        ssize_t got = ::read(reader->descriptor, report, sizeof(report));
        if (got > 0) {
            decoded += takeDualShock4Report(reader, report, got, now, pad, input);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        closeDualShock4Device(reader);  // unplugged (ENODEV) or ended
        break;
    }
    return decoded;
}

void stepDualShock4(DualShock4Reader* reader, const char* sysfsRoot, const char* devRoot, u64 now,
                    Platform* platform) {
    if (!reader->open && (!reader->scanned || now - reader->lastScan >= kDualShock4ScanInterval)) {
        reader->scanned = 1;
        reader->lastScan = now;
        FixedString note{};
        openDualShock4Device(reader, sysfsRoot, devRoot, &note);
        platform->gamepadNote = note;  // empty once the pad is read, or when there is none
    }
    if (reader->open) {
        readDualShock4Reports(reader, now, &platform->gamepad, &platform->input);
        if (!reader->open) reader->lastScan = now;
    }
}

void closeDualShock4Device(DualShock4Reader* reader) {
    if (reader->open) ::close(reader->descriptor);
    reader->open = 0;
    reader->descriptor = 0;
}
