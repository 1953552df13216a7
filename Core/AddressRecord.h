// A network endpoint as every subsystem passes it: by value, 20 bytes.
#pragma once
#include "Core/Types.h"

// A zero-filled record means "no address".
struct AddressRecord {
    u16 port;        // host byte order; 0 = none
    u8 family;       // 4 = IPv4, 6 = IPv6, 0 = no address
    u8 pad;
    u8 address[16];  // network order; IPv4 uses address[0..3], the rest stays zero
};
static_assert(sizeof(AddressRecord) == 20);
