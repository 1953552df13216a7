#include "Platform/SystemInfo.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "Core/Format.h"

namespace {

// Reads at most capacity - 1 bytes of a small system file; returns the length, or -1.
i64 readSmallFile(const char* path, char* buffer, i64 capacity) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    i64 total = 0;
    while (total < capacity - 1) {
        ssize_t got = read(fd, buffer + total, (size_t)(capacity - 1 - total));
        if (got < 0) {
            close(fd);
            return -1;
        }
        if (got == 0) break;
        total += got;
    }
    close(fd);
    buffer[total] = 0;
    return total;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The next line of text at *position, without its line end.
bool nextLine(const char* text, i64 length, i64* position, const char** line, i64* lineLength) {
    if (*position >= length) return false;
    i64 start = *position;
    i64 end = start;
    while (end < length && text[end] != '\n') end++;
    *line = text + start;
    *lineLength = end - start;
    *position = end < length ? end + 1 : end;
    return true;
}

bool startsWith(const char* line, i64 lineLength, const char* prefix) {
    i64 n = (i64)std::strlen(prefix);
    return lineLength >= n && std::memcmp(line, prefix, (size_t)n) == 0;
}

// A trimmed value, without one pair of surrounding double quotes.
FixedString unquoted(const char* value, i64 length) {
    while (length > 0 && isBlank(value[0])) value++, length--;
    while (length > 0 && isBlank(value[length - 1])) length--;
    if (length >= 2 && value[0] == '"' && value[length - 1] == '"') value++, length -= 2;
    return stringFromBytes(value, length);
}

}  // namespace

FixedString dmiText(const char* path, u32* unread) {
    char buffer[256];
    i64 length = readSmallFile(path, buffer, sizeof(buffer));
    if (unread) *unread = length < 0 ? 1 : 0;
    if (length < 0) return formatCstr("Failed to read @", path);
    while (length > 0 && (buffer[length - 1] == '\n' || isBlank(buffer[length - 1]))) length--;
    return stringFromBytes(buffer, length);
}

i32 parseResolvConf(const char* text, i64 length, DnsServerList* list) {
    list->count = 0;
    i64 position = 0;
    const char* line;
    i64 lineLength;
    while (list->count < kMaxDnsServers && nextLine(text, length, &position, &line, &lineLength)) {
        if (!startsWith(line, lineLength, "nameserver") || lineLength < 11 || !isBlank(line[10])) continue;
        i64 at = 10;
        while (at < lineLength && isBlank(line[at])) at++;
        i64 end = at;
        while (end < lineLength && !isBlank(line[end]) && line[end] != '#' && line[end] != ';') end++;
        // Dotted IPv4 only: four numbers 0-255 and nothing else.
        u8 bytes[4];
        i64 cursor = at;
        bool ok = true;
        for (i32 part = 0; part < 4 && ok; part++) {
            i64 digits = 0;
            i32 value = 0;
            while (cursor < end && line[cursor] >= '0' && line[cursor] <= '9' && digits < 4) {
                value = value * 10 + (line[cursor] - '0');
                cursor++;
                digits++;
            }
            ok = digits > 0 && digits <= 3 && value <= 255;
            bytes[part] = (u8)value;
            if (ok && part < 3) ok = cursor < end && line[cursor++] == '.';
        }
        if (!ok || cursor != end) continue;
        AddressRecord* record = &list->servers[list->count++];
        std::memset(record, 0, sizeof(*record));
        record->family = 4;
        record->port = 53;
        std::memcpy(record->address, bytes, 4);
    }
    return (i32)list->count;
}

FixedString documentsFolderFromUserDirs(const char* text, i64 length, const char* home) {
    i64 position = 0;
    const char* line;
    i64 lineLength;
    FixedString homeText = makeString(home ? home : "");
    while (text && nextLine(text, length, &position, &line, &lineLength)) {
        while (lineLength > 0 && isBlank(line[0])) line++, lineLength--;
        if (!startsWith(line, lineLength, "XDG_DOCUMENTS_DIR=")) continue;
        FixedString value = unquoted(line + 18, lineLength - 18);
        if (value.length >= 5 && std::memcmp(value.text, "$HOME", 5) == 0) {
            FixedString rest = stringFromBytes(value.text + 5, value.length - 5);
            value = formatStrStr("@@", homeText, rest);
            if (homeText.truncated) value.truncated = 1;
        }
        if (value.length > 0 && value.text[0] == '/') {
            while (value.length > 1 && value.text[value.length - 1] == '/') value.text[--value.length] = 0;
            return value;
        }
    }
    if (homeText.length == 0) return FixedString{};
    FixedString documents = formatStr("@/Documents", homeText);
    if (homeText.truncated) documents.truncated = 1;
    return documents;
}

FixedString dataFolderUnder(FixedString documents) {
    if (documents.length == 0 || documents.truncated) return FixedString{};
    FixedString folder = formatStr("@/Tarnwick/", documents);
    // A cut path would name some other folder: without a whole path there is no data folder, and
    // file access reports the missing Documents folder instead of writing elsewhere.
    if (folder.truncated) return FixedString{};
    return folder;
}

FixedString osReleaseValue(const char* text, i64 length, const char* key) {
    i64 position = 0;
    const char* line;
    i64 lineLength;
    i64 keyLength = (i64)std::strlen(key);
    while (nextLine(text, length, &position, &line, &lineLength)) {
        if (lineLength > keyLength && startsWith(line, lineLength, key) && line[keyLength] == '=') {
            return unquoted(line + keyLength + 1, lineLength - keyLength - 1);
        }
    }
    return FixedString{};
}

i32 readSystemDnsServers(DnsServerList* list) {
    static char buffer[16384];
    i64 length = readSmallFile("/etc/resolv.conf", buffer, sizeof(buffer));
    if (length < 0) {
        list->count = 0;
        return 0;
    }
    return parseResolvConf(buffer, length, list);
}

void readDataFolder(Platform* platform) {
    const char* home = std::getenv("HOME");
    if (!home || !home[0]) {
        struct passwd* entry = getpwuid(getuid());
        home = entry ? entry->pw_dir : nullptr;
    }
    static char buffer[16384];
    i64 length = -1;
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME"); configHome && configHome[0] == '/') {
        FixedString path = formatCstr("@/user-dirs.dirs", configHome);
        length = readSmallFile(path.text, buffer, sizeof(buffer));
    } else if (home) {
        FixedString path = formatCstr("@/.config/user-dirs.dirs", home);
        length = readSmallFile(path.text, buffer, sizeof(buffer));
    }
    FixedString documents = documentsFolderFromUserDirs(length >= 0 ? buffer : nullptr, length, home);
    // A fresh account may have no Documents folder yet, and then nothing could ever be saved: it is
    // made here, once, as a desktop's first login would (only the last step; the home must exist).
    if (documents.length && !documents.truncated) mkdir(documents.text, 0755);
    platform->dataFolder = dataFolderUnder(documents);
    platform->pathSeparator = '/';
}

void readSystemStrings(Platform* platform) {
    if (struct passwd* entry = getpwuid(getuid()); entry && entry->pw_name) {
        platform->userName = makeString(entry->pw_name);
    }
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) platform->computerName = makeString(host);

    static char osRelease[8192];
    i64 length = readSmallFile("/etc/os-release", osRelease, sizeof(osRelease));
    if (length < 0) length = readSmallFile("/usr/lib/os-release", osRelease, sizeof(osRelease));
    if (length >= 0) {
        platform->systemReleaseId = osReleaseValue(osRelease, length, "VERSION_ID");
        FixedString name = osReleaseValue(osRelease, length, "PRETTY_NAME");
        struct utsname system;
        if (uname(&system) == 0) {
            platform->systemVersion = formatStrCstr("@ (@)", name, system.release);
        } else {
            platform->systemVersion = name;
        }
    } else {
        platform->systemReleaseId = makeString("Failed to read /etc/os-release");
        platform->systemVersion = platform->systemReleaseId;
    }
    platform->biosManufacturer = dmiText("/sys/class/dmi/id/sys_vendor");
    platform->biosProductName = dmiText("/sys/class/dmi/id/product_name", &platform->biosProductNameUnread);
}

FixedString defaultComputerName(const Platform* platform, const u8* installationId) {
    const FixedString* base = &platform->biosProductName;
    if (platform->biosProductNameUnread || base->length == 0) base = &platform->computerName;
    FixedString id = hexString(installationId, 4);
    return base->length ? formatStrStr("@ @", *base, id) : id;
}
