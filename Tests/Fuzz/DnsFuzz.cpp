// DNS replies and host names from untrusted input. The first byte picks the case: odd, the rest is a
// host name to encode; even, the rest is a reply to the lookups, each with queries still heard on
// several ports. Bits 1-2 of the first byte pick the query that carried the reply's id, bits 3-4 the
// port the reply arrived at, bit 5 sends that query to another server: only a reply at the port its
// query left from, from the server it went to, may settle a lookup.
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
    AddressRecord elsewhere = makeAddressRecord(4, loopback, 54);
    u16 id = size >= 3 ? (u16)((data[1] << 8) | data[2]) : 0;
    i32 asked = (data[0] >> 1) & 3;
    i32 arrived = (data[0] >> 3) & 3;
    bool otherServer = (data[0] & 0x20) != 0;
    for (i32 i = 0; i < kDnsLookups; i++) {
        FixedString host = makeString(names[i]);
        startDnsLookup(&host, &lookups[i]);
        lookups[i].lastSendTime = 1 + kDnsQueriesHeard;
        for (i32 k = 0; k < kDnsQueriesHeard; k++) {
            bool carried = k == asked;
            u16 queryId = carried ? id : (u16)(id ^ (0x100 << k));
            const AddressRecord* to = carried && otherServer ? &elsewhere : &server;
            lookups[i].queries[k] = DnsQuery{(u64)(1 + k), queryId, (u16)(1000 + k), *to};
        }
        lookups[i].transactionId = lookups[i].queries[kDnsQueriesHeard - 1].transactionId;
        lookups[i].server = lookups[i].queries[kDnsQueriesHeard - 1].server;
    }
    DnsPacket packet{data + 1, (i64)size - 1, server, (u16)(1000 + arrived)};
    readDnsReply(&packet, lookups);
    bool answersAQuery = asked == arrived && !otherServer;
    for (const DnsLookup& lookup : lookups) {
        if (lookup.result.family != 0 && lookup.result.family != 4 && lookup.result.family != 6) std::abort();
        if (lookup.result.port != 0) std::abort();
        if (lookup.noSuchName && isDnsLookupResolved(&lookup)) std::abort();
        if (!answersAQuery && (lookup.noSuchName || isDnsLookupResolved(&lookup))) std::abort();
    }
    return 0;
}
