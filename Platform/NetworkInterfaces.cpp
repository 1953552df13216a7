#include "Platform/NetworkInterfaces.h"

#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

i32 platformListInterfaceAddresses(PlatformInterfaceAddress* out, i32 maxCount, u32 family) {
    if (maxCount <= 0) {
        return 0;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return 0;
    }
    i32 count = 0;
    for (ifaddrs* entry = list; entry && count < maxCount; entry = entry->ifa_next) {
        if (!entry->ifa_addr) {
            continue;
        }
        PlatformInterfaceAddress item{};
        if (entry->ifa_addr->sa_family == AF_INET) {
            item.family = 4;
            std::memcpy(item.address, &((const sockaddr_in*)entry->ifa_addr)->sin_addr, 4);
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            item.family = 6;
            std::memcpy(item.address, &((const sockaddr_in6*)entry->ifa_addr)->sin6_addr, 16);
        } else {
            continue;
        }
        if (family != 0 && family != item.family) {
            continue;
        }
        item.name = makeString(entry->ifa_name ? entry->ifa_name : "");
        out[count++] = item;
    }
    freeifaddrs(list);
    return count;
}
