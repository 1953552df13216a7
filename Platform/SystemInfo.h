// System facts read once at start-up: the DNS servers, the data folder and the system strings.
#pragma once
#include "Platform/Platform.h"

// The IPv4 "nameserver" lines of a resolv.conf text, at most 8, each on port 53. Returns the count.
i32 parseResolvConf(const char* text, i64 length, DnsServerList* list);

// The Documents folder named by XDG_DOCUMENTS_DIR in a user-dirs.dirs text ("$HOME/..." or an
// absolute path), else home + "/Documents". No trailing separator.
FixedString documentsFolderFromUserDirs(const char* text, i64 length, const char* home);
// "<documents>/Tarnwick/"; empty when documents is empty.
FixedString dataFolderUnder(FixedString documents);
// The value of KEY="value" (or KEY=value) in an os-release text, or empty.
FixedString osReleaseValue(const char* text, i64 length, const char* key);

// The first line of a DMI file (blanks and line end cut), or "Failed to read <path>" when it cannot
// be read (no DMI on this machine, or no permission); *unread, when given, is set to 1 for the latter.
FixedString dmiText(const char* path, u32* unread = nullptr);

// The name this computer goes by on the relay link until the operator gives it one: the product
// name, or the host name where the product name could not be read or is empty (virtual machines,
// many boards), then a blank and the 8 hexadecimal digits of the installation id's first 4 bytes.
FixedString defaultComputerName(const Platform* platform, const u8* installationId);

// Fills the DNS list from /etc/resolv.conf and returns its count (0: the caller takes the built-in
// list). Fills the data folder and the six system strings of the running system.
i32 readSystemDnsServers(DnsServerList* list);
void readDataFolder(Platform* platform);
void readSystemStrings(Platform* platform);
