// DNS look-ups over UDP: name encoding, queries, and the reading of replies with their CNAME chains.
#include "Network/Dns.h"

#include "Core/Clock.h"
#include "Core/Format.h"
#include "Core/Profiler.h"
#include "Platform/Random.h"

#include <cstring>

namespace {

constexpr i32 kDnsHeaderBytes = 12;
constexpr i32 kDnsWireNameBytes = 255;  // the longest name on the wire, terminating zero included
constexpr i32 kDnsChainNames = 8;       // question name and the CNAME targets followed
constexpr i32 kDnsPointerJumps = 32;
constexpr i32 kDnsReadsPerQuery = 16;  // a step's reads from one query's socket
// Queries go out more than a resend interval apart, so no query still within the answer window is
// ever the oldest of a full set when the next one needs its socket.
static_assert(kDnsAnswerWindow <= kDnsQueriesHeard * kDnsResendInterval);

u16 readU16Be(const u8* bytes) { return (u16)((bytes[0] << 8) | bytes[1]); }

u8 lowerAscii(u8 c) { return (c >= 'A' && c <= 'Z') ? (u8)(c + 32) : c; }

bool sameNameIgnoringCase(const u8* a, i32 aLength, const u8* b, i32 bLength) {
    if (aLength != bLength) {
        return false;
    }
    for (i32 i = 0; i < aLength; i++) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Reads the name at *position, following compression pointers, into out in label form with its
// terminating zero. *position ends after the name's own bytes (after the first pointer, if any).
// Pointers must lead backwards, so a reply cannot send the reader round in a loop.
bool readName(const DnsPacket* packet, u64* position, u8* out, i32* outLength) {
    u64 at = *position;
    u64 resume = 0;
    bool jumped = false;
    i32 length = 0;
    for (i32 jumps = 0;;) {
        if (at >= (u64)packet->length) {
            return false;
        }
        u8 label = packet->data[at];
        if ((label & 0xC0) == 0xC0) {
            if (at + 1 >= (u64)packet->length || ++jumps > kDnsPointerJumps) {
                return false;
            }
            u64 target = ((u64)(label & 0x3F) << 8) | packet->data[at + 1];
            if (target >= at) {
                return false;
            }
            if (!jumped) {
                resume = at + 2;
                jumped = true;
            }
            at = target;
            continue;
        }
        if ((label & 0xC0) != 0) {
            return false;  // reserved label types
        }
        if (at + 1 + label > (u64)packet->length || length + 1 + label > kDnsWireNameBytes) {
            return false;
        }
        out[length++] = label;
        for (u32 i = 0; i < label; i++) {
            out[length++] = packet->data[at + 1 + i];
        }
        at += 1 + label;
        if (label == 0) {
            break;
        }
    }
    *outLength = length;
    *position = jumped ? resume : at;
    return true;
}

bool sameQueryName(const DnsLookup* lookup, const u8* name, i32 length) {
    return sameNameIgnoringCase(lookup->queryName.bytes, lookup->queryName.length, name, length);
}

void setResult(DnsLookup* lookup, u8 family, const u8* bytes) {
    AddressRecord result{};
    result.family = family;
    memcpy(result.address, bytes, family == 4 ? 4 : 16);
    lookup->result = result;
    lookup->message = formatStrStr("@ resolved to @", lookup->hostName, endpointString(&lookup->result));
}

// Encodes the host name in label form; returns the failure text, empty on success.
FixedString encodeQueryName(const FixedString* hostName, DnsQueryName* out) {
    memset(out, 0, sizeof(*out));
    const u8* text = (const u8*)hostName->text;
    i64 end = hostName->length;
    if (end > 1 && text[end - 1] == '.') {
        end--;  // a fully qualified name ends in the root's empty label
    }
    ByteWriter writer = makeByteWriter(out->bytes, kDnsQueryNameBytes);
    i64 placeholder = 0;
    appendU8(0, &writer);
    i64 position = 0;
    for (;;) {
        i32 codepoint = utf8DecodeNext(text, end, &position);
        if (codepoint == '.' || codepoint == kUtf8End) {
            if (writer.overflow) {
                break;
            }
            i64 labelLength = writer.length - placeholder - 1;
            if (labelLength == 0) {
                return makeString("Host name has an empty label");
            }
            if (labelLength > kDnsMaxLabel) {
                return makeString("Label can't be longer than 63 characters");
            }
            out->bytes[placeholder] = (u8)labelLength;
            placeholder = writer.length;
            appendU8(0, &writer);
            if (codepoint == kUtf8End) {
                break;
            }
            continue;
        }
        bool allowed = (codepoint >= 'a' && codepoint <= 'z') || (codepoint >= 'A' && codepoint <= 'Z') ||
                       (codepoint >= '0' && codepoint <= '9') || codepoint == '-';
        if (!allowed) {
            return formatInt("Unsupported codepoint @", codepoint);
        }
        appendCodepoint(codepoint, &writer);
    }
    out->length = (u8)writer.length;
    out->overflow = writer.overflow;
    if (writer.overflow) {
        return makeString("Address is too long");
    }
    return FixedString{};
}

u16 drawTransactionId(DnsResolver* resolver) {
    u8 random[2];
    if (getRandomBytes(random, 2) == 0) {
        resolver->nextTransactionId = readU16Be(random);
    } else {
        resolver->nextTransactionId = (u16)(resolver->nextTransactionId * 40503u + 1);
    }
    return resolver->nextTransactionId;
}

u16 drawRandomPort(DnsResolver* resolver) {
    u8 random[2];
    u16 value = 0;
    if (getRandomBytes(random, 2) == 0) {
        value = readU16Be(random);
    } else {
        resolver->nextSourcePort = (u16)(resolver->nextSourcePort * 25173u + 13849u);
        value = resolver->nextSourcePort;
    }
    return (u16)(kDnsLowestSourcePort + value % (65536u - kDnsLowestSourcePort));
}

bool isQueryPort(const DnsResolver* resolver, u16 port) {
    for (const DnsLookup& lookup : resolver->lookups) {
        for (const DnsQuery& query : lookup.queries) {
            if (query.sendTime != 0 && query.port == port) {
                return true;
            }
        }
    }
    return false;
}

// A random port that none of the queries still heard holds (a few draws at most).
u16 drawSourcePort(DnsResolver* resolver) {
    u16 port = drawRandomPort(resolver);
    for (i32 draw = 0; draw < 4 && isQueryPort(resolver, port); draw++) {
        port = drawRandomPort(resolver);
    }
    return port;
}

bool isPending(const DnsLookup* lookup) {
    return lookup->hostName.length != 0 && !lookup->failed && !isDnsLookupResolved(lookup);
}

// Reads the replies waiting on a lookup's query sockets. A socket whose query is over (the lookup
// settled, restarted or freed, or the query older than the answer window) is closed instead.
void readSockets(DnsResolver* resolver, i32 index, u64 now) {
    DnsLookup* lookup = &resolver->lookups[index];
    bool listening = isPending(lookup) && !lookup->noSuchName;
    FixedString noInterface{};
    for (i32 k = 0; k < kDnsQueriesHeard; k++) {
        Socket* socket = &resolver->sockets[index][k];
        DnsQuery* query = &lookup->queries[k];
        if (!listening || query->sendTime == 0 || now - query->sendTime > kDnsAnswerWindow) {
            *query = DnsQuery{};
            if (socket->initialised && socket->state != SocketStateNoHandle) {
                closeSocket(socket);
            }
            continue;
        }
        for (i32 i = 0; i < kDnsReadsPerQuery; i++) {
            SocketResult result;
            updateSocket(&result, socket, socket->family, SocketModeUdp, socket->boundPort, &noInterface, nullptr, 0);
            if (!result.received) {
                break;
            }
            DnsPacket packet{result.data, result.length, result.source, socket->localPort};
            readDnsReply(&packet, resolver->lookups);
        }
    }
}

// The slot for a new query: a free one, else the one of the oldest query.
i32 chooseQuerySlot(const DnsLookup* lookup) {
    i32 chosen = 0;
    for (i32 k = 0; k < kDnsQueriesHeard; k++) {
        if (lookup->queries[k].sendTime == 0) {
            return k;
        }
        if (lookup->queries[k].sendTime < lookup->queries[chosen].sendTime) {
            chosen = k;
        }
    }
    return chosen;
}

// A fixed host that got "no such name", or no answer to a whole round of queries, starts a new round
// once it has rested; the download manager's lookup gives up on its own terms instead.
bool restsBeforeNextRound(DnsLookup* lookup, i32 index, u64 now) {
    if (index == kDnsDownloadLookup) {
        return lookup->noSuchName != 0;
    }
    bool roundOver = lookup->noSuchName || lookup->attempts >= kDnsQueriesPerRound;
    if (!roundOver) {
        return false;
    }
    if (now - lookup->lastSendTime < kDnsRetryInterval) {
        if (lookup->attempts >= kDnsQueriesPerRound && !lookup->noSuchName) {
            lookup->message = formatStr("No answer for @; asking again in 30 seconds", lookup->hostName);
        }
        return true;
    }
    lookup->noSuchName = 0;
    lookup->attempts = 0;
    return false;
}

void sendDueQueries(DnsResolver* resolver, const DnsServerList* servers, u64 now) {
    u32 count = servers->count < (u32)kMaxDnsServers ? servers->count : (u32)kMaxDnsServers;
    FixedString noInterface{};
    for (i32 i = 0; i < kDnsLookups; i++) {
        DnsLookup* lookup = &resolver->lookups[i];
        if (!isPending(lookup) || restsBeforeNextRound(lookup, i, now)) {
            continue;
        }
        if (lookup->lastSendTime != 0 && now - lookup->lastSendTime <= kDnsResendInterval) {
            continue;
        }
        const AddressRecord* server = &servers->servers[(lookup->attempts >> 1) % count];
        if (server->family != 4 && server->family != 6) {
            continue;
        }
        // A fresh socket on a random port for this query, in place of the oldest query's; a port that
        // is taken is tried again with another on the next step.
        i32 slot = chooseQuerySlot(lookup);
        DnsQuery* query = &lookup->queries[slot];
        *query = DnsQuery{};
        resolver->newestSocket[i] = (u8)slot;
        Socket* socket = &resolver->sockets[i][slot];
        if (resolver->clock) {
            socket->clock = resolver->clock;
        }
        SocketResult result;
        updateSocket(&result, socket, server->family, SocketModeUdp, drawSourcePort(resolver), &noInterface, nullptr,
                     0);
        if (socket->state < SocketStateReady) {
            lookup->message = socket->status;
            continue;
        }
        ByteWriter* packet = queueSocketPacket(server, socket);
        if (!packet) {
            continue;
        }
        lookup->lastSendTime = now;
        lookup->transactionId = drawTransactionId(resolver);
        lookup->server = *server;
        *query = DnsQuery{now, lookup->transactionId, socket->localPort, *server};
        appendU16Be(lookup->transactionId, packet);
        appendU16Be(0x0100, packet);  // recursion desired
        appendU16Be(1, packet);
        appendU16Be(0, packet);
        appendU16Be(0, packet);
        appendU16Be(0, packet);
        appendBytes(lookup->queryName.bytes, lookup->queryName.length, packet);
        appendU16Be(1, packet);  // A
        appendU16Be(1, packet);  // IN
        lookup->attempts++;
        lookup->message = formatStrStr("Asking @ for the address of @", endpointString(server), lookup->hostName);
        // Out at once, from the port just bound.
        updateSocket(&result, socket, server->family, SocketModeUdp, socket->boundPort, &noInterface, nullptr, 0);
        if (result.received) {
            DnsPacket early{result.data, result.length, result.source, socket->localPort};
            readDnsReply(&early, resolver->lookups);
        }
    }
}

}  // namespace

bool isDnsLookupResolved(const DnsLookup* lookup) { return lookup->result.family != 0; }

bool parseHostAddress(const FixedString* host, AddressRecord* out) {
    u64 position = 0;
    AddressRecord address = parseIpAddress((const u8*)host->text, &position, host->length);
    if (address.family == 0 || position != host->length || address.port != 0) {
        return false;
    }
    *out = address;
    return true;
}

void startDnsLookup(const FixedString* hostName, DnsLookup* lookup) {
    if (equals(*hostName, lookup->hostName)) {
        return;
    }
    memset((void*)lookup, 0, sizeof(*lookup));
    lookup->hostName = *hostName;
    if (hostName->length == 0) {
        return;
    }
    AddressRecord address;
    if (parseHostAddress(hostName, &address)) {
        address.port = 0;
        lookup->queryName.length = 0;
        setResult(lookup, address.family, address.address);
        return;
    }
    FixedString failure = encodeQueryName(hostName, &lookup->queryName);
    if (failure.length != 0) {
        lookup->failed = 1;
        lookup->message = failure;
        return;
    }
    lookup->message = makeString("Pending");
}

DnsLookup* acceptDnsReply(const DnsPacket* packet, u64* position, u16 transactionId, DnsLookup lookups[kDnsLookups]) {
    u8 name[kDnsWireNameBytes];
    i32 length = 0;
    if (!readName(packet, position, name, &length) || *position + 4 > (u64)packet->length) {
        return nullptr;
    }
    u16 type = readU16Be(packet->data + *position);
    u16 dnsClass = readU16Be(packet->data + *position + 2);
    *position += 4;
    if (type != 1 || dnsClass != 1) {
        return nullptr;
    }
    // Several owners may ask for the same name; the one whose query this answers takes it.
    DnsLookup* rejected = nullptr;
    FixedString rejection{};
    for (i32 i = 0; i < kDnsLookups; i++) {
        DnsLookup* lookup = &lookups[i];
        if (lookup->hostName.length == 0 || lookup->failed || lookup->lastSendTime == 0 ||
            !sameQueryName(lookup, name, length) || isDnsLookupResolved(lookup) || lookup->noSuchName) {
            continue;
        }
        // The query this answers: by its id, then by where it went and the port it left from.
        FixedString refusal{};
        bool answered = false;
        for (i32 k = 0; k < kDnsQueriesHeard && !answered; k++) {
            const DnsQuery* query = &lookup->queries[k];
            if (query->sendTime == 0 || query->transactionId != transactionId) {
                continue;
            }
            if (!sameEndpoint(&packet->source, &query->server)) {
                refusal = formatStr("Rejecting packet from @", endpointString(&packet->source));
            } else if (packet->localPort != query->port) {
                refusal = formatInt("Rejecting packet that arrived at port @", packet->localPort);
            } else {
                answered = true;
            }
        }
        if (answered) {
            return lookup;
        }
        // A refusal for a query's own id says more than one for an id never sent.
        if (refusal.length != 0) {
            rejected = lookup;
            rejection = refusal;
        } else if (!rejected) {
            rejected = lookup;
            rejection = formatInt("Rejecting packet with transaction Id @", transactionId);
        }
    }
    if (rejected) {
        rejected->message = rejection;
    }
    return nullptr;
}

void readDnsReply(const DnsPacket* packet, DnsLookup lookups[kDnsLookups]) {
    if (packet->length < kDnsHeaderBytes) {
        return;
    }
    const u8* data = packet->data;
    u16 id = readU16Be(data);
    bool isResponse = (data[2] & 0x80) != 0;
    u32 opcode = (data[2] >> 3) & 0x0F;
    u32 rcode = data[3] & 0x0F;
    u16 questions = readU16Be(data + 4);
    u16 answers = readU16Be(data + 6);
    if (!isResponse || opcode != 0 || questions != 1) {
        return;  // every query asks exactly one question
    }
    u64 position = kDnsHeaderBytes;
    DnsLookup* lookup = acceptDnsReply(packet, &position, id, lookups);
    if (!lookup) {
        return;
    }
    if (rcode == 3) {
        lookup->noSuchName = 1;
        return;
    }
    if (rcode != 0) {
        return;  // a failing server: the query is sent again, and in time to the next server
    }

    // The names that lead to the address: the question's and the targets of CNAME records met so
    // far. Records may come in any order, so the answers are walked again while the chain grows.
    u8 chain[kDnsChainNames][kDnsWireNameBytes];
    i32 chainLengths[kDnsChainNames];
    i32 chainCount = 1;
    chainLengths[0] = lookup->queryName.length;
    memcpy(chain[0], lookup->queryName.bytes, lookup->queryName.length);
    u64 answersStart = position;
    for (i32 pass = 0; pass < kDnsChainNames; pass++) {
        i32 chainBefore = chainCount;
        position = answersStart;
        for (u32 i = 0; i < answers; i++) {
            u8 owner[kDnsWireNameBytes];
            i32 ownerLength = 0;
            if (!readName(packet, &position, owner, &ownerLength) || position + 10 > (u64)packet->length) {
                return;
            }
            u16 type = readU16Be(data + position);
            u16 dnsClass = readU16Be(data + position + 2);
            u16 dataLength = readU16Be(data + position + 8);
            u64 dataStart = position + 10;
            if (dataStart + dataLength > (u64)packet->length) {
                return;
            }
            position = dataStart + dataLength;
            bool inChain = false;
            for (i32 c = 0; c < chainCount && !inChain; c++) {
                inChain = sameNameIgnoringCase(chain[c], chainLengths[c], owner, ownerLength);
            }
            if (!inChain) {
                continue;
            }
            if (dnsClass == 1 && ((type == 1 && dataLength == 4) || (type == 28 && dataLength == 16))) {
                setResult(lookup, type == 1 ? 4 : 6, data + dataStart);
            } else if (type == 5 && chainCount < kDnsChainNames) {
                u8 target[kDnsWireNameBytes];
                i32 targetLength = 0;
                u64 at = dataStart;
                if (!readName(packet, &at, target, &targetLength) || at > dataStart + dataLength) {
                    continue;
                }
                bool known = false;
                for (i32 c = 0; c < chainCount && !known; c++) {
                    known = sameNameIgnoringCase(chain[c], chainLengths[c], target, targetLength);
                }
                if (!known) {
                    memcpy(chain[chainCount], target, targetLength);
                    chainLengths[chainCount++] = targetLength;
                }
            }
        }
        if (chainCount == chainBefore || isDnsLookupResolved(lookup)) {
            break;
        }
    }
}

void checkDnsQueries(DnsResolver* resolver, const DnsServerList* servers) {
    if (!servers || servers->count == 0) {
        return;
    }
    ProfilingScope scope("Check DNS Queries");
    u64 now = resolver->clock ? resolver->clock() : getMicroseconds();
    for (i32 i = 0; i < kDnsLookups; i++) {
        readSockets(resolver, i, now);
    }
    sendDueQueries(resolver, servers, now);
}

void closeDnsResolver(DnsResolver* resolver) {
    for (i32 i = 0; i < kDnsLookups; i++) {
        for (i32 k = 0; k < kDnsQueriesHeard; k++) {
            closeSocket(&resolver->sockets[i][k]);
        }
    }
}

const Socket* newestDnsSocket(const DnsResolver* resolver, i32 lookup) {
    return &resolver->sockets[lookup][resolver->newestSocket[lookup] % kDnsQueriesHeard];
}

void setDefaultDnsServers(DnsServerList* list) {
    // Cloudflare, Google, Quad9, OpenDNS: two addresses each.
    static constexpr u8 kResolvers[kMaxDnsServers][4] = {
        {1, 1, 1, 1}, {1, 0, 0, 1}, {8, 8, 8, 8}, {8, 8, 4, 4},
        {9, 9, 9, 9}, {149, 112, 112, 112}, {208, 67, 222, 222}, {208, 67, 220, 220},
    };
    memset((void*)list, 0, sizeof(*list));
    list->count = kMaxDnsServers;
    for (i32 i = 0; i < kMaxDnsServers; i++) {
        list->servers[i] = makeAddressRecord(4, kResolvers[i], kDnsPort);
    }
}
