#include "Network/NetworkInterfaces.h"

#include "Core/Format.h"
#include "Platform/NetworkInterfaces.h"

namespace {
constexpr i32 kInterfaceSearchLimit = 20;
constexpr i32 kInterfaceListLimit = 64;
}  // namespace

i32 listNetworkInterfaces(AddressRecord* addresses, FixedString* names, i32 maxCount, u32 family) {
    if (maxCount <= 0) {
        return 0;
    }
    PlatformInterfaceAddress entries[kInterfaceListLimit];
    i32 limit = maxCount < kInterfaceListLimit ? maxCount : kInterfaceListLimit;
    i32 count = platformListInterfaceAddresses(entries, limit, family);
    for (i32 i = 0; i < count; i++) {
        addresses[i] = makeAddressRecord(entries[i].family, entries[i].address, 0);
        names[i] = entries[i].name;
    }
    return count;
}

AddressRecord findNetworkInterface(const FixedString* interfaceName, u32 family, FixedString* error) {
    AddressRecord none{};
    *error = FixedString{};
    if (interfaceName->length == 0) {
        return none;
    }
    u64 position = 0;
    AddressRecord literal = parseIpAddress((const u8*)interfaceName->text, &position, interfaceName->length);
    if (literal.family != 0) {
        if (literal.family == family) {
            return literal;
        }
        *error = formatStrIntInt("@ is an IPv@ address, but the socket requires v@", *interfaceName, literal.family,
                                 family);
        return none;
    }
    AddressRecord addresses[kInterfaceSearchLimit];
    FixedString names[kInterfaceSearchLimit];
    i32 count = listNetworkInterfaces(addresses, names, kInterfaceSearchLimit, family);
    for (i32 i = 0; i < count; i++) {
        if (equals(names[i], *interfaceName)) {
            return addresses[i];
        }
    }
    *error = formatStr("Couldn't find a network interface called \"@\"", *interfaceName);
    return none;
}
