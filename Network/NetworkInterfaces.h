// Local addresses by interface, and the address a socket binds to for a configured interface name.
#pragma once
#include "Network/Address.h"

// Entry i of addresses matches entry i of names; addresses carry port 0. family 0 = all, 4 or 6 =
// only that family.
i32 listNetworkInterfaces(AddressRecord* addresses, FixedString* names, i32 maxCount, u32 family);

// The configured name is an address literal or an interface name (exact, case matters). An empty
// name gives the all-zero record (any interface) and no error; a failure gives the all-zero record
// and an error text.
AddressRecord findNetworkInterface(const FixedString* interfaceName, u32 family, FixedString* error);
