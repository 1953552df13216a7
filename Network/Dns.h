// The program's own DNS client: seven lookup slots asked over UDP (A records, recursion desired),
// stepped once per frame. Lookups 0-4 belong to the application's fixed host names, lookup 5 to the
// download manager, lookup 6 to the host a Copernicus request is redirected to. A pending lookup asks
// again every second, each query from a socket of its own bound to a random local port, so a forged
// reply must guess the port as well as the transaction id. A slow server's answer is still taken:
// the lookup's queries of the last four seconds stay open, and a reply is believed when it answers
// one of them, with that query's random transaction id and question, from the server it went to, at
// the port it left from. A fixed host name that got "no such name", or no answer to a whole round of
// queries, is asked again 30 s later (the network may come up after start-up). There is no cache and
// no search domain.
#pragma once
#include "Network/Socket.h"
#include "Platform/Platform.h"

constexpr i32 kDnsLookups = 7;
constexpr i32 kDnsDownloadLookup = 5;
constexpr u64 kDnsResendInterval = 1000000;  // microseconds between queries of one lookup
constexpr i32 kDnsQueriesHeard = 4;          // queries of one lookup whose answers are still taken
constexpr u64 kDnsAnswerWindow = 4000000;    // microseconds a query's answer is waited for
constexpr i64 kDnsQueriesPerRound = 16;      // unanswered queries of a fixed host before it rests
constexpr u64 kDnsRetryInterval = 30000000;  // microseconds a fixed host rests before it is asked again
constexpr u16 kDnsLowestSourcePort = 1024;
constexpr i32 kDnsQueryNameBytes = 253;
constexpr i32 kDnsMaxLabel = 63;
constexpr u16 kDnsPort = 53;

// The name in DNS label form, terminating zero included.
struct DnsQueryName {
    u8 length;
    u8 overflow;
    u8 bytes[kDnsQueryNameBytes];
};

// A query that may still be answered; sendTime 0 = none.
struct DnsQuery {
    u64 sendTime;
    u16 transactionId;
    u16 port;  // the local port it left from
    AddressRecord server;
};

struct DnsLookup {
    FixedString hostName;  // empty: the slot is free
    DnsQueryName queryName;
    u32 failed;  // the name could not be encoded; it is never sent
    FixedString message;  // progress or failure text
    u64 lastSendTime;  // microseconds of the last query; 0 = never
    u16 transactionId;  // id of the last query sent
    AddressRecord server;  // where the last query went
    i64 attempts;  // queries sent so far
    u32 noSuchName;  // the server said the name does not exist
    AddressRecord result;  // family non-zero once resolved; port 0
    DnsQuery queries[kDnsQueriesHeard];  // the queries still heard, each with its socket in the resolver
};

struct DnsResolver {
    DnsLookup lookups[kDnsLookups];
    u16 nextTransactionId;  // drawn afresh from the system's random source for every query
    u16 nextSourcePort;     // likewise; the fallback generator's state when the random source fails
    // Per lookup, one socket for each query still heard (the same index in the lookup's queries),
    // bound afresh on a random local port for every query and closed once its query is over.
    Socket sockets[kDnsLookups][kDnsQueriesHeard];
    u8 newestSocket[kDnsLookups];  // the socket the lookup's last query went out on (or tried to)
    u64 (*clock)();  // null: getMicroseconds; tests set their own (and on the sockets)
};

// One received datagram.
struct DnsPacket {
    const u8* data;
    i64 length;
    AddressRecord source;
    u16 localPort;  // the port it arrived at
};

// (Re)starts the lookup unless it already holds exactly this name. An empty name frees the slot; a
// name that is already an IP address is resolved at once without asking any server.
void startDnsLookup(const FixedString* hostName, DnsLookup* lookup);
// One step: reads the replies that arrived and sends the queries that are due. Does nothing when
// the list is null or empty.
void checkDnsQueries(DnsResolver* resolver, const DnsServerList* servers);
// Closes the lookups' sockets.
void closeDnsResolver(DnsResolver* resolver);
// The socket of the lookup's newest query (the one a bind failure's status is on).
const Socket* newestDnsSocket(const DnsResolver* resolver, i32 lookup);
// Matches a reply's question to the lookup that asked it, at *position (12 in a whole reply): one
// of its queries still heard must carry the transaction id and have gone to the packet's source
// from the port it arrived at. A lookup holding the name that no query matches gets a rejection
// message and null is returned; *position ends after the question's type and class.
DnsLookup* acceptDnsReply(const DnsPacket* packet, u64* position, u16 transactionId, DnsLookup lookups[kDnsLookups]);
// Takes one reply: answers, CNAME chains and "no such name" for the lookup whose question it answers.
void readDnsReply(const DnsPacket* packet, DnsLookup lookups[kDnsLookups]);
// The built-in list of eight public resolvers, used when the system names none.
void setDefaultDnsServers(DnsServerList* list);

bool isDnsLookupResolved(const DnsLookup* lookup);
// Reads a host text that is an IP address ("192.0.2.1" or "[2001:db8::1]"); false for a name.
bool parseHostAddress(const FixedString* host, AddressRecord* out);
