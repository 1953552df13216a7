// The machine's local addresses with the name of the interface that carries each one.
#pragma once
#include "Core/FixedString.h"

struct PlatformInterfaceAddress {
    u8 family;        // 4 or 6
    u8 address[16];   // network order; IPv4 in the first four bytes
    FixedString name; // the interface name ("lo", "eth0", ...)
};

// Fills up to maxCount entries of the given family (0 = all) in the system's order; returns the
// count, 0 when the list cannot be read.
i32 platformListInterfaceAddresses(PlatformInterfaceAddress* out, i32 maxCount, u32 family);
