// The DNS client: name encoding, against a scripted dnslib server and against dnsmasq on loopback,
// and its resend timing across servers that never answer (with an injected clock).
#include "HttpsTestPeers.h"
#include "NetworkTestSupport.h"
#include "Network/Dns.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace {

u64 dnsNow = 50000000;
u64 dnsClock() { return dnsNow; }

std::unique_ptr<DnsResolver> makeResolver() {
    auto resolver = std::make_unique<DnsResolver>();
    memset((void*)resolver.get(), 0, sizeof(DnsResolver));
    resolver->clock = dnsClock;
    return resolver;
}

void closeResolver(DnsResolver* resolver) { closeDnsResolver(resolver); }

DnsServerList loopbackServers(std::initializer_list<u16> ports) {
    DnsServerList list{};
    for (u16 port : ports) {
        u8 loopback[4] = {127, 0, 0, 1};
        list.servers[list.count++] = makeAddressRecord(4, loopback, port);
    }
    return list;
}

void start(DnsLookup* lookup, const char* name) {
    FixedString host = makeString(name);
    startDnsLookup(&host, lookup);
}

std::string queryName(const DnsLookup& lookup) { return hexOf(lookup.queryName.bytes, lookup.queryName.length); }

std::string resultText(const DnsLookup& lookup) { return text(addressString(&lookup.result)); }

// One frame: the clock moves on by a display refresh.
void frame(DnsResolver* resolver, const DnsServerList* servers) {
    dnsNow += 16667;
    checkDnsQueries(resolver, servers);
    waitBriefly();
}

// Frames until every lookup with a name has settled (resolved or no such name), or the limit.
bool settle(DnsResolver* resolver, const DnsServerList* servers, int limit = 3000) {
    for (int i = 0; i < limit; i++) {
        frame(resolver, servers);
        bool all = true;
        for (const DnsLookup& lookup : resolver->lookups) {
            if (lookup.hostName.length && !lookup.failed && !isDnsLookupResolved(&lookup) && !lookup.noSuchName) {
                all = false;
            }
        }
        if (all) {
            return true;
        }
    }
    return false;
}

TEST(DnsNames, LabelFormAndRefusedNames) {
    DnsLookup lookup{};
    start(&lookup, "a.bc");
    EXPECT_EQ(queryName(lookup), "0161026263" "00");
    EXPECT_EQ(lookup.failed, 0u);
    EXPECT_EQ(text(lookup.message), "Pending");

    // A fully qualified name: the trailing dot is the root, not an empty label to send.
    start(&lookup, "a.bc.");
    EXPECT_EQ(queryName(lookup), "016102626300");
    EXPECT_EQ(lookup.failed, 0u);

    // The letters go out in the case typed.
    start(&lookup, "Tiles-1.Test");
    EXPECT_EQ(queryName(lookup), "07" + hexOfText("Tiles-1") + "04" + hexOfText("Test") + "00");

    for (const char* name : {"a..bc", ".a.bc", ".", "a.bc..", ".."}) {
        start(&lookup, name);
        EXPECT_EQ(lookup.failed, 1u) << name;
        EXPECT_EQ(text(lookup.message), "Host name has an empty label") << name;
    }

    start(&lookup, "my_host.test");
    EXPECT_EQ(lookup.failed, 1u);
    EXPECT_EQ(text(lookup.message), "Unsupported codepoint 95");

    std::string label63(63, 'a');
    start(&lookup, (label63 + ".test").c_str());
    EXPECT_EQ(lookup.failed, 0u);
    start(&lookup, (label63 + "a.test").c_str());
    EXPECT_EQ(lookup.failed, 1u);
    EXPECT_EQ(text(lookup.message), "Label can't be longer than 63 characters");

    // 253 characters: 4 labels of 62 bytes and one of 1 take 255 bytes in label form.
    std::string label62(62, 'b');
    start(&lookup, (label62 + "." + label62 + "." + label62 + "." + label62 + ".b").c_str());
    EXPECT_EQ(lookup.failed, 1u);
    EXPECT_EQ(text(lookup.message), "Address is too long");
}

TEST(DnsNames, AddressesAreNotLookedUp) {
    DnsLookup lookup{};
    start(&lookup, "127.0.0.9");
    EXPECT_TRUE(isDnsLookupResolved(&lookup));
    EXPECT_EQ(lookup.result.family, 4);
    EXPECT_EQ(lookup.result.port, 0);
    EXPECT_EQ(resultText(lookup), "127.0.0.9");
    EXPECT_EQ(lookup.attempts, 0);

    start(&lookup, "[0:0:0:0:0:0:0:1]");
    EXPECT_EQ(lookup.result.family, 6);
    EXPECT_EQ(lookup.result.address[15], 1);

    // Not an address: four numeric labels with one out of range are a name.
    start(&lookup, "300.1.2.3");
    EXPECT_FALSE(isDnsLookupResolved(&lookup));
    EXPECT_EQ(lookup.failed, 0u);

    // The same name again changes nothing; a new name starts over.
    lookup.attempts = 3;
    start(&lookup, "300.1.2.3");
    EXPECT_EQ(lookup.attempts, 3);
    start(&lookup, "");
    EXPECT_EQ(lookup.hostName.length, 0);
    EXPECT_EQ(lookup.attempts, 0);
}

TEST(DnsNames, DefaultServersArePublicIpv4OnPort53) {
    DnsServerList list;
    memset(&list, 0xAB, sizeof(list));
    setDefaultDnsServers(&list);
    ASSERT_EQ(list.count, 8u);
    for (const AddressRecord& server : list.servers) {
        EXPECT_EQ(server.family, 4);
        EXPECT_EQ(server.port, 53);
        EXPECT_NE(server.address[0], 0);
        EXPECT_NE(server.address[0], 127);
        for (int i = 4; i < 16; i++) EXPECT_EQ(server.address[i], 0);
    }
}

TEST(DnsClient, EmptyServerListDoesNothing) {
    auto resolver = makeResolver();
    start(&resolver->lookups[0], "tiles.test");
    DnsServerList none{};
    checkDnsQueries(resolver.get(), &none);
    checkDnsQueries(resolver.get(), nullptr);
    for (const auto& sockets : resolver->sockets)
        for (const Socket& socket : sockets) EXPECT_EQ(socket.initialised, 0u);
    EXPECT_EQ(resolver->lookups[0].attempts, 0);
}

struct ScriptedServerFixture : ::testing::Test {
    PythonPeer peer;
    u16 port = 0;
    std::unique_ptr<DnsResolver> resolver;
    DnsServerList servers{};

    void SetUp() override {
        ASSERT_TRUE(startPythonPeer(&peer, "DnsTestServer.py"));
        port = (u16)std::stoi(peerCommand(&peer, "port"));
        servers = loopbackServers({port});
        resolver = makeResolver();
    }
    void TearDown() override {
        closeResolver(resolver.get());
        stopPythonPeer(&peer);
    }
    int queries(const char* name) { return std::stoi(peerCommand(&peer, std::string("count ") + name)); }
};

TEST_F(ScriptedServerFixture, AnswersChainsAndMissingNames) {
    const char* names[] = {"tiles.test", "alias.test", "v6only.test", "nx.test", "Upper.test", "multi.test."};
    for (int i = 0; i < 6; i++) start(&resolver->lookups[i], names[i]);
    ASSERT_TRUE(settle(resolver.get(), &servers));
    DnsLookup* l = resolver->lookups;

    EXPECT_EQ(resultText(l[0]), "127.0.0.1");
    EXPECT_EQ(text(l[0].message), "tiles.test resolved to 127.0.0.1:0");
    // A CNAME chain of two links, its records in reverse order.
    EXPECT_EQ(resultText(l[1]), "127.0.0.3");
    EXPECT_EQ(l[2].result.family, 6);
    EXPECT_EQ(resultText(l[2]), "[0000:0000:0000:0000:0000:0000:0000:0001]");
    EXPECT_EQ(l[3].noSuchName, 1u);
    EXPECT_FALSE(isDnsLookupResolved(&l[3]));
    // The server may echo the question in other letters.
    EXPECT_EQ(resultText(l[4]), "127.0.0.8");
    EXPECT_EQ(l[5].result.family, 4);

    // Every question went out once; the one that does not exist is not asked again.
    for (int i = 0; i < 120; i++) frame(resolver.get(), &servers);
    EXPECT_EQ(queries("nx.test"), 1);
    EXPECT_EQ(queries("tiles.test"), 1);
    EXPECT_EQ(l[3].attempts, 1);
}

TEST_F(ScriptedServerFixture, QueriesCarryRandomIdsAndTheQuestion) {
    // Each query's id is drawn afresh: eight queries in a row are not a counting sequence.
    std::vector<u16> ids;
    for (int round = 0; round < 8; round++) {
        start(&resolver->lookups[0], round % 2 ? "nodata.test" : "nodata.test.");
        frame(resolver.get(), &servers);
        frame(resolver.get(), &servers);
        ids.push_back(resolver->lookups[0].transactionId);
        start(&resolver->lookups[0], "");
    }
    for (int i = 0; i < 200 && queries("nodata.test") < 8; i++) waitBriefly();
    std::vector<std::string> last = words(peerCommand(&peer, "last nodata.test"));
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(std::stoi(last[0]), ids.back());
    EXPECT_EQ(last[1], "nodata.test.");
    int steps = 0;
    for (size_t i = 1; i < ids.size(); i++) steps += (u16)(ids[i] - ids[i - 1]) == 1;
    EXPECT_LT(steps, 7);
}

TEST_F(ScriptedServerFixture, RepliesThatDoNotAnswerTheQueryAreIgnored) {
    const char* names[] = {"wrongid.test", "wrongsource.test", "badlength.test", "otherquestion.test",
                           "nodata.test",  "truncated.test"};
    for (int i = 0; i < 6; i++) start(&resolver->lookups[i], names[i]);
    // Long enough for every query to be answered and sent again at least once.
    for (int i = 0; i < 150; i++) frame(resolver.get(), &servers);
    for (int i = 0; i < 6; i++) {
        const DnsLookup& lookup = resolver->lookups[i];
        EXPECT_FALSE(isDnsLookupResolved(&lookup)) << text(lookup.hostName) << " " << resultText(lookup);
        EXPECT_EQ(lookup.noSuchName, 0u);
        EXPECT_GE(lookup.attempts, 2) << text(lookup.hostName);
    }
    // The rejection stays until the next query replaces it, so look right after an answer.
    DnsLookup* wrongId = &resolver->lookups[0];
    DnsLookup* wrongSource = &resolver->lookups[1];
    for (int i = 0; i < 100; i++) {
        frame(resolver.get(), &servers);
        bool both = text(wrongId->message).rfind("Rejecting packet with transaction Id ", 0) == 0 &&
                    text(wrongSource->message).rfind("Rejecting packet from 127.0.0.1:", 0) == 0;
        if (both) break;
    }
    EXPECT_EQ(text(wrongId->message), "Rejecting packet with transaction Id " +
                                          std::to_string((u16)(wrongId->transactionId + 1)));
    EXPECT_EQ(text(wrongSource->message).rfind("Rejecting packet from 127.0.0.1:", 0), 0u) << text(wrongSource->message);
    EXPECT_NE(text(wrongSource->message), "Rejecting packet from 127.0.0.1:" + std::to_string(port));
}

TEST_F(ScriptedServerFixture, AnAnswerForAnotherLookupsNameDoesNotResolveIt) {
    // other.test's reply carries an address record for tiles.test under other.test's id.
    start(&resolver->lookups[0], "other.test");
    start(&resolver->lookups[1], "tiles.test");
    settle(resolver.get(), &servers, 60);
    EXPECT_EQ(resultText(resolver->lookups[1]), "127.0.0.1");
    EXPECT_FALSE(isDnsLookupResolved(&resolver->lookups[0]));
}

// A reply forged by someone off the path must guess the query's source port as well as its id: each
// query leaves from a port of its own, drawn at random.
TEST_F(ScriptedServerFixture, EachQueryLeavesFromAFreshRandomPort) {
    start(&resolver->lookups[kDnsDownloadLookup], "silent.test");
    for (int i = 0; i < 8; i++) {
        dnsNow += kDnsResendInterval + 1;
        checkDnsQueries(resolver.get(), &servers);
    }
    for (int i = 0; i < 500 && queries("silent.test") < 8; i++) waitBriefly();
    std::vector<std::string> ports = words(peerCommand(&peer, "ports silent.test"));
    ASSERT_EQ(ports.size(), 8u);
    std::set<std::string> distinct(ports.begin(), ports.end());
    EXPECT_EQ(distinct.size(), 8u) << peerCommand(&peer, "ports silent.test");
    for (const std::string& port : ports) EXPECT_GE(std::stoi(port), (int)kDnsLowestSourcePort);
}

// The server answers each query only once the next one has arrived, first under an id that no query
// carried: the earlier query is still heard, the stranger still refused.
TEST_F(ScriptedServerFixture, AnAnswerSlowerThanTheResendIsTaken) {
    DnsLookup* lookup = &resolver->lookups[0];
    start(lookup, "slow.test");
    checkDnsQueries(resolver.get(), &servers);
    for (u64 begun = realMicroseconds(); queries("slow.test") < 1 && withinPatience(begun);) waitBriefly();
    dnsNow += kDnsResendInterval + 1;
    for (u64 begun = realMicroseconds(); !isDnsLookupResolved(lookup) && withinPatience(begun);) {
        checkDnsQueries(resolver.get(), &servers);
        waitBriefly();
    }
    EXPECT_EQ(resultText(*lookup), "127.0.1.1");
    EXPECT_EQ(lookup->attempts, 2);
}

// A fixed host name is not given up for good: after "no such name", or after a round of queries
// that all went unanswered, it is asked again 30 s later (a network that came up after start-up).
TEST_F(ScriptedServerFixture, AFixedHostIsAskedAgainThirtySecondsAfterNoSuchNameOrNoAnswer) {
    DnsLookup* later = &resolver->lookups[0];
    DnsLookup* silent = &resolver->lookups[1];
    start(later, "later.test");
    start(silent, "silent.test");
    auto step = [&] {
        checkDnsQueries(resolver.get(), &servers);
        waitBriefly();
    };
    for (int i = 0; i < 2000 && !later->noSuchName; i++) step();
    ASSERT_EQ(later->noSuchName, 1u);
    for (int i = 0; i < kDnsQueriesPerRound + 3; i++) {
        dnsNow += kDnsResendInterval + 1;
        step();
    }
    EXPECT_EQ(silent->attempts, kDnsQueriesPerRound);
    EXPECT_EQ(text(silent->message), "No answer for silent.test; asking again in 30 seconds");
    for (int i = 0; i < 500 && queries("silent.test") < kDnsQueriesPerRound; i++) waitBriefly();
    EXPECT_EQ(queries("silent.test"), kDnsQueriesPerRound);
    EXPECT_EQ(queries("later.test"), 1);

    // The name now exists and the server answers.
    EXPECT_EQ(peerCommand(&peer, "enable later.test"), "ok");
    EXPECT_EQ(peerCommand(&peer, "enable silent.test"), "ok");
    dnsNow = later->lastSendTime + kDnsRetryInterval - 1;
    for (int i = 0; i < 20; i++) step();
    EXPECT_EQ(later->noSuchName, 1u);
    EXPECT_EQ(queries("later.test"), 1);
    dnsNow = later->lastSendTime + kDnsRetryInterval;
    for (int i = 0; i < 2000 && !isDnsLookupResolved(later); i++) step();
    EXPECT_EQ(resultText(*later), "127.0.0.9");
    EXPECT_FALSE(isDnsLookupResolved(silent));

    dnsNow = silent->lastSendTime + kDnsRetryInterval;
    for (int i = 0; i < 2000 && !isDnsLookupResolved(silent); i++) step();
    EXPECT_EQ(resultText(*silent), "127.0.0.9");
    EXPECT_EQ(queries("silent.test"), kDnsQueriesPerRound + 1);
}

// Two servers that never answer: which one each query goes to, and when.
TEST(DnsClient, ResendsEverySecondAskingEachServerTwice) {
    int silent[2];
    u16 ports[2];
    for (int i = 0; i < 2; i++) {
        silent[i] = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(silent[i], (sockaddr*)&address, sizeof(address)), 0);
        socklen_t length = sizeof(address);
        getsockname(silent[i], (sockaddr*)&address, &length);
        ports[i] = ntohs(address.sin_port);
    }
    DnsServerList servers = loopbackServers({ports[0], ports[1]});
    auto resolver = makeResolver();
    start(&resolver->lookups[2], "slow.test");

    // Steps the resolver at the given time (twice: the second step sends what the first queued)
    // and says which server received a query, -1 for none.
    auto stepAt = [&](u64 time) {
        dnsNow = time;
        checkDnsQueries(resolver.get(), &servers);
        checkDnsQueries(resolver.get(), &servers);
        for (int wait = 0; wait < 50; wait++) {
            for (int i = 0; i < 2; i++) {
                pollfd ready{silent[i], POLLIN, 0};
                if (poll(&ready, 1, 0) == 1) {
                    u8 query[512];
                    ssize_t n = recv(silent[i], query, sizeof(query), 0);
                    EXPECT_EQ(n, 12 + 11 + 4);
                    EXPECT_EQ(query[2], 1);  // recursion desired
                    EXPECT_EQ(query[3], 0);
                    return i;
                }
            }
            waitBriefly();
        }
        return -1;
    };
    u64 t0 = 100000000;
    EXPECT_EQ(stepAt(t0), 0);
    EXPECT_EQ(stepAt(t0 + 500000), -1);
    EXPECT_EQ(stepAt(t0 + 1000000), -1);  // not yet: more than a second must pass
    EXPECT_EQ(stepAt(t0 + 1000001), 0);
    EXPECT_EQ(stepAt(t0 + 2000002), 1);
    EXPECT_EQ(stepAt(t0 + 2500000), -1);
    EXPECT_EQ(stepAt(t0 + 3000003), 1);
    EXPECT_EQ(stepAt(t0 + 4000004), 0);
    EXPECT_EQ(stepAt(t0 + 5000005), 0);
    EXPECT_EQ(stepAt(t0 + 6000006), 1);
    EXPECT_EQ(resolver->lookups[2].attempts, 7);
    EXPECT_EQ(text(resolver->lookups[2].message), "Asking 127.0.0.1:" + std::to_string(ports[1]) +
                                                      " for the address of slow.test");
    closeResolver(resolver.get());
    close(silent[0]);
    close(silent[1]);
}

TEST(DnsClient, AgainstDnsmasq) {
    std::string folder = makeScratchFolder("orvik-dns");
    ASSERT_FALSE(folder.empty());
    writeTextFile(folder + "/hosts.test", "127.0.0.10 multi.test\n127.0.0.11 multi.test\n127.0.0.12 target.test\n");
    u16 port = 0;
    PeerProcess dnsmasq;
    ASSERT_TRUE(startDnsmasq(&dnsmasq, folder,
                             {"--addn-hosts=" + folder + "/hosts.test", "--address=/tiles.test/127.0.0.1",
                              "--address=/v4only.test/127.0.0.2", "--cname=alias.test,target.test"},
                             &port))
        << readTextFile(dnsmasq.log);
    DnsServerList servers = loopbackServers({port});
    auto resolver = makeResolver();
    const char* names[] = {"tiles.test", "alias.test", "sub.tiles.test", "missing.test", "multi.test", "v4only.test"};
    for (int i = 0; i < 6; i++) start(&resolver->lookups[i], names[i]);
    EXPECT_TRUE(settle(resolver.get(), &servers));
    DnsLookup* l = resolver->lookups;
    EXPECT_EQ(resultText(l[0]), "127.0.0.1");
    EXPECT_EQ(resultText(l[1]), "127.0.0.12");
    EXPECT_EQ(resultText(l[2]), "127.0.0.1");
    EXPECT_EQ(l[3].noSuchName, 1u);
    std::string multi = resultText(l[4]);
    EXPECT_TRUE(multi == "127.0.0.10" || multi == "127.0.0.11") << multi;
    EXPECT_EQ(resultText(l[5]), "127.0.0.2");
    closeResolver(resolver.get());
    stopPeerProcess(&dnsmasq);
    removeFolder(folder);
}

}  // namespace
