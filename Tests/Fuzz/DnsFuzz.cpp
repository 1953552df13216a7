// DNS replies and host names from untrusted input. The first byte picks the case: odd, the rest is a
// host name to encode; even, the rest is a reply to six lookups that all wait on its id and source.
#include "Network/Dns.h"

#include <cstdlib>
#include <cstring>

namespace {

void checkQueryName(const DnsLookup* lookup) {
    if (lookup->failed || isDnsLookupResolved(lookup) || lookup->hostName.length == 0) {
        return;
    }
    // Labels of 1 to 63 bytes, then the zero, filling the name exactly.
    const DnsQueryName* name = &lookup->queryName;
    i32 at = 0;
    while (at < name->length && name->bytes[at] != 0) {
        if (name->bytes[at] > 63) std::abort();
        at += 1 + name->bytes[at];
    }
    if (name->length > kDnsQueryNameBytes || at != name->length - 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    static DnsLookup lookups[kDnsLookups];
    memset((void*)lookups, 0, sizeof(lookups));
    if (data[0] & 1) {
        FixedString host = stringFromBytes(data + 1, (i64)size - 1);
        startDnsLookup(&host, &lookups[0]);
        checkQueryName(&lookups[0]);
        return 0;
    }
    const char* names[kDnsLookups] = {"tiles.test", "alias.test", "nx.test",   "upper.test",
                                      "multi.test", "other.test", "moved.test"};
    u8 loopback[4] = {127, 0, 0, 1};
    AddressRecord server = makeAddressRecord(4, loopback, 53);
    u16 id = size >= 3 ? (u16)((data[1] << 8) | data[2]) : 0;
    for (i32 i = 0; i < kDnsLookups; i++) {
        FixedString host = makeString(names[i]);
        startDnsLookup(&host, &lookups[i]);
        lookups[i].lastSendTime = 1;
        lookups[i].transactionId = id;
        lookups[i].server = server;
    }
    DnsPacket packet{data + 1, (i64)size - 1, server};
    readDnsReply(&packet, lookups);
    for (const DnsLookup& lookup : lookups) {
        if (lookup.result.family != 0 && lookup.result.family != 4 && lookup.result.family != 6) std::abort();
        if (lookup.result.port != 0) std::abort();
        if (lookup.noSuchName && isDnsLookupResolved(&lookup)) std::abort();
    }
    return 0;
}
