// Server chains judged against a trust store holding the test root: the good chains of every key
// kind pass; an untrusted root, a self-signed certificate, an expired one, an altered signature, a
// wrong host, a missing intermediate and misused certificates each give their verdict and text. Host
// names against alternative names: exact, any case, wildcards, IPv4 and IPv6.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>

#include "Crypto/X509Verify.h"
#include "CryptoTestSupport.h"
#include "TestPki.h"

namespace {

// The test certificates are valid from the moment they were made (once per build folder, possibly
// during this run), so "now" is read at each check, never once at start-up.
i64 currentSeconds() { return (i64)time(nullptr); }

struct Chain {
    std::vector<Bytes> der;
    std::vector<X509Certificate> parsed;
};

Chain loadChain(const std::string& file) {
    Chain chain;
    chain.der = testpki::certificates(file);
    chain.parsed.resize(chain.der.size());
    for (size_t i = 0; i < chain.der.size(); i++)
        EXPECT_EQ(parseX509Certificate(&chain.parsed[i], chain.der[i].data(), (u32)chain.der[i].size()).length, 0);
    return chain;
}

std::unique_ptr<TrustStore> storeWith(const std::vector<std::string>& files) {
    auto store = std::make_unique<TrustStore>();
    for (const auto& file : files) {
        std::string text = testpki::readText(testpki::path(file));
        EXPECT_EQ(addPemTrustAnchors(store.get(), (const u8*)text.data(), text.size()), 1u) << file;
    }
    return store;
}

struct Verdict {
    u8 alert;
    std::string message;
};

Verdict judge(const std::string& file, const TrustStore* store, const char* host = "localhost", i64 now = currentSeconds()) {
    Chain chain = loadChain(file);
    FixedString message, hostName = makeString(host);
    u8 alert = verifyServerChain(&message, chain.parsed.data(), (u32)chain.parsed.size(), store, &hostName, now);
    return {alert, std::string(message.text, message.length)};
}

class ChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(testpki::folder().empty());
        if (!store) store = storeWith({"ca.pem"});
    }
    static std::unique_ptr<TrustStore> store;
};
std::unique_ptr<TrustStore> ChainTest::store;

TEST_F(ChainTest, GoodChainsPass) {
    for (const char* file : {"rsa2048-chain.pem", "rsa4096-chain.pem", "p256-chain.pem", "p384-chain.pem",
                             "pss-chain.pem", "direct-chain.pem"}) {
        Verdict v = judge(file, store.get());
        EXPECT_EQ(v.alert, ChainTrusted) << file << ": " << v.message;
        EXPECT_EQ(v.message, "");
        // the same for the other names of the certificate
        EXPECT_EQ(judge(file, store.get(), "127.0.0.1").alert, ChainTrusted) << file;
        EXPECT_EQ(judge(file, store.get(), "::1").alert, ChainTrusted) << file;
        EXPECT_EQ(judge(file, store.get(), "tiles.wild.test").alert, ChainTrusted) << file;
        EXPECT_EQ(judge(file, store.get(), "LOCALHOST.").alert, ChainTrusted) << file;
    }
    // the intermediate may come in any order after the server's certificate, or repeated
    Chain chain = loadChain("p256-chain.pem");
    std::vector<X509Certificate> shuffled = {chain.parsed[0], chain.parsed[1], chain.parsed[1]};
    FixedString message, host = makeString("localhost");
    EXPECT_EQ(verifyServerChain(&message, shuffled.data(), 3, store.get(), &host, currentSeconds()), ChainTrusted);
}

TEST_F(ChainTest, RefusedChains) {
    Verdict v = judge("untrusted-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainUnknownIssuer);
    EXPECT_EQ(v.message, "Certificate of localhost is from an unknown authority");
    v = judge("self-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainUnknownIssuer);
    EXPECT_EQ(v.message, "Certificate of localhost is self-signed and not trusted");
    v = judge("expired-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainExpired);
    EXPECT_EQ(v.message, "Certificate of localhost has expired");
    v = judge("p256-chain.pem", store.get(), "localhost", 1000000000);  // 2001
    EXPECT_EQ(v.alert, ChainExpired);
    EXPECT_EQ(v.message, "Certificate of localhost is not yet valid");
    v = judge("altered-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainBadCertificate);
    EXPECT_EQ(v.message, "Certificate of localhost rejected: bad signature");
    v = judge("p256-chain.pem", store.get(), "example.com");
    EXPECT_EQ(v.alert, ChainBadCertificate);
    EXPECT_EQ(v.message, "Certificate is not for example.com");
    EXPECT_EQ(judge("p256-chain.pem", store.get(), "127.0.0.2").alert, ChainBadCertificate);
    EXPECT_EQ(judge("p256-chain.pem", store.get(), "a.b.wild.test").alert, ChainBadCertificate);
    EXPECT_EQ(judge("p256-chain.pem", store.get(), "wild.test").alert, ChainBadCertificate);
    // the server's certificate without its intermediate
    Chain chain = loadChain("p256-chain.pem");
    FixedString message, host = makeString("localhost");
    EXPECT_EQ(verifyServerChain(&message, chain.parsed.data(), 1, store.get(), &host, currentSeconds()), ChainUnknownIssuer);
    // a server certificate posing as an intermediate: p256 "issues" nothing, and the intermediate
    // alone is not for localhost
    std::vector<X509Certificate> reversed = {chain.parsed[1], chain.parsed[0]};
    EXPECT_EQ(verifyServerChain(&message, reversed.data(), 2, store.get(), &host, currentSeconds()), ChainBadCertificate);
    // nothing at all, and an empty store
    EXPECT_EQ(verifyServerChain(&message, chain.parsed.data(), 0, store.get(), &host, currentSeconds()), ChainBadCertificate);
    TrustStore* empty = new TrustStore();
    EXPECT_EQ(verifyServerChain(&message, chain.parsed.data(), 2, empty, &host, currentSeconds()), ChainUnknownIssuer);
    EXPECT_EQ(std::string(message.text, message.length),
              "Can't check the certificate of localhost: no trusted certificates loaded");
    delete empty;
    EXPECT_EQ(verifyServerChain(&message, chain.parsed.data(), 2, nullptr, &host, currentSeconds()), ChainUnknownIssuer);
}

// A trusted server certificate is trusted by itself (a private server's own certificate as anchor);
// the intermediate as anchor shortens the chain; the untrusted root as well as ours.
TEST_F(ChainTest, OtherAnchors) {
    auto selfStore = storeWith({"self.crt"});
    EXPECT_EQ(judge("self-chain.pem", selfStore.get()).alert, ChainTrusted);
    EXPECT_EQ(judge("self-chain.pem", selfStore.get(), "example.com").alert, ChainBadCertificate);
    EXPECT_EQ(judge("p256-chain.pem", selfStore.get()).alert, ChainUnknownIssuer);
    auto interStore = storeWith({"inter.crt"});
    EXPECT_EQ(judge("p384-chain.pem", interStore.get()).alert, ChainTrusted);
    EXPECT_EQ(judge("direct-chain.pem", interStore.get()).alert, ChainUnknownIssuer);
    auto both = storeWith({"other-root.crt", "ca.pem"});
    EXPECT_EQ(judge("untrusted-chain.pem", both.get()).alert, ChainTrusted);
    EXPECT_EQ(judge("rsa2048-chain.pem", both.get()).alert, ChainTrusted);
}

// A chain whose server certificate is only for clients, and a CA:FALSE certificate used as issuer.
TEST_F(ChainTest, UsesAndFlags) {
    std::string dir = testpki::folder();
    std::string command =
        "cd '" + dir + "' && printf 'extendedKeyUsage=clientAuth\\nsubjectAltName=DNS:localhost\\n' > client.ext && "
        "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout client.key -out client.csr "
        "-subj /CN=client && openssl x509 -req -in client.csr -CA inter.crt -CAkey inter.key -set_serial 77 "
        "-days 30 -extfile client.ext -out client.crt && cat client.crt inter.crt > client-chain.pem && "
        "printf 'subjectAltName=DNS:localhost\\n' > leaf.ext && "
        "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout sub.key -out sub.csr -subj /CN=sub && "
        "openssl x509 -req -in sub.csr -CA p256.crt -CAkey p256.key -set_serial 78 -days 30 -extfile leaf.ext "
        "-out sub.crt && cat sub.crt p256.crt inter.crt > sub-chain.pem";
    ASSERT_EQ(system(("(" + command + ") > /dev/null 2>&1").c_str()), 0);
    Verdict v = judge("client-chain.pem", store.get(), "localhost", time(nullptr));
    EXPECT_EQ(v.alert, ChainBadCertificate);
    EXPECT_EQ(v.message, "Certificate of localhost is not for servers");
    v = judge("sub-chain.pem", store.get(), "localhost", time(nullptr));
    EXPECT_EQ(v.alert, ChainBadCertificate);
    EXPECT_EQ(v.message, "Certificate of localhost rejected: its issuer is not a certificate authority");
}

// Issuers' limits: a CA with path length 0 may issue servers but no further CA below it; a CA whose
// key usage lacks certificate signing issues nothing; a server certificate whose key usage lacks
// digital signatures cannot sign a handshake.
TEST_F(ChainTest, PathLengthAndKeyUsage) {
    std::string dir = testpki::folder();
    std::string newKey = "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes ";
    auto sign = [](const char* name, const char* issuer, const char* ext, int serial) {
        return std::string("openssl x509 -req -in ") + name + ".csr -CA " + issuer + ".crt -CAkey " + issuer +
               ".key -set_serial " + std::to_string(serial) + " -days 30 -extfile " + ext + " -out " + name + ".crt";
    };
    std::string command =
        "cd '" + dir + "' && " +
        "printf 'basicConstraints=critical,CA:TRUE,pathlen:0\\nkeyUsage=critical,keyCertSign\\n' > len0.ext && " +
        "printf 'basicConstraints=critical,CA:TRUE\\nkeyUsage=critical,digitalSignature\\n' > nosign.ext && " +
        "printf 'basicConstraints=CA:FALSE\\nkeyUsage=critical,keyEncipherment\\nsubjectAltName=DNS:localhost\\n' "
        "> encipher.ext && printf 'subjectAltName=DNS:localhost\\n' > plain.ext && " +
        newKey + "-keyout len0.key -out len0.csr -subj '/CN=Length Zero CA' && " + sign("len0", "root", "len0.ext", 81) +
        " && " + newKey + "-keyout below.key -out below.csr -subj '/CN=Below CA' && " +
        sign("below", "len0", "ca.ext", 82) + " && " + newKey + "-keyout deep.key -out deep.csr -subj /CN=deep && " +
        sign("deep", "below", "plain.ext", 83) + " && " + newKey + "-keyout near.key -out near.csr -subj /CN=near && " +
        sign("near", "len0", "plain.ext", 84) + " && " + newKey +
        "-keyout nosign.key -out nosign.csr -subj '/CN=No Signing CA' && " + sign("nosign", "root", "nosign.ext", 85) +
        " && " + newKey + "-keyout fromnosign.key -out fromnosign.csr -subj /CN=fromnosign && " +
        sign("fromnosign", "nosign", "plain.ext", 86) + " && " + newKey +
        "-keyout encipher.key -out encipher.csr -subj /CN=encipher && " + sign("encipher", "inter", "encipher.ext", 87) +
        " && cat deep.crt below.crt len0.crt > deep-chain.pem && cat near.crt len0.crt > near-chain.pem && "
        "cat fromnosign.crt nosign.crt > fromnosign-chain.pem && cat encipher.crt inter.crt > encipher-chain.pem";
    ASSERT_EQ(system(("(" + command + ") > /dev/null 2>&1").c_str()), 0);
    Verdict v = judge("near-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainTrusted) << v.message;
    v = judge("deep-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainBadCertificate);
    EXPECT_EQ(v.message, "Certificate chain of localhost is longer than its issuer allows");
    v = judge("fromnosign-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainBadCertificate);
    EXPECT_EQ(v.message, "Certificate of localhost rejected: its issuer is not a certificate authority");
    v = judge("encipher-chain.pem", store.get());
    EXPECT_EQ(v.alert, ChainBadCertificate);
    EXPECT_EQ(v.message, "Certificate of localhost is not for signing");
}

// An authority limited by name constraints: good.test and below, 127/8, but not bad.good.test. Its
// certificates are judged as openssl verify judges them, and a wildcard that could stand for the
// excluded name is refused as well.
TEST_F(ChainTest, NameConstrainedAuthority) {
    std::string dir = testpki::folder();
    std::string newKey = "openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes ";
    std::string command =
        "cd '" + dir + "' && printf 'basicConstraints=critical,CA:TRUE\\nkeyUsage=critical,keyCertSign\\n"
        "nameConstraints=critical,permitted;DNS:good.test,permitted;IP:127.0.0.0/255.0.0.0,"
        "excluded;DNS:bad.good.test\\n' > nc.ext && " +
        newKey + "-keyout nc.key -out nc.csr -subj '/CN=Constrained CA' && openssl x509 -req -in nc.csr -CA root.crt "
        "-CAkey root.key -set_serial 91 -days 30 -extfile nc.ext -out nc.crt";
    const std::vector<std::pair<std::string, std::string>> leaves = {
        {"ncinside", "DNS:www.good.test,DNS:good.test,IP:127.0.0.1"},
        {"ncoutside", "DNS:www.good.test,DNS:evil.test"},
        {"ncexcluded", "DNS:www.good.test,DNS:x.bad.good.test"},
        {"ncaddress", "DNS:www.good.test,IP:10.0.0.1"},
        {"ncwildcard", "DNS:*.good.test"},
    };
    int serial = 92;
    for (const auto& leaf : leaves) {
        command += " && printf 'subjectAltName=" + leaf.second + "\\n' > " + leaf.first + ".ext && " + newKey +
                   "-keyout " + leaf.first + ".key -out " + leaf.first + ".csr -subj /CN=" + leaf.first +
                   " && openssl x509 -req -in " + leaf.first + ".csr -CA nc.crt -CAkey nc.key -set_serial " +
                   std::to_string(serial++) + " -days 30 -extfile " + leaf.first + ".ext -out " + leaf.first +
                   ".crt && cat " + leaf.first + ".crt nc.crt > " + leaf.first + "-chain.pem";
    }
    ASSERT_EQ(system(("(" + command + ") > /dev/null 2>&1").c_str()), 0);
    for (size_t i = 0; i + 1 < leaves.size(); i++) {
        const std::string& name = leaves[i].first;
        std::string oracle = "cd '" + dir + "' && openssl verify -CAfile root.crt -untrusted nc.crt " + name +
                             ".crt > /dev/null 2>&1";
        bool opensslTrusts = system(oracle.c_str()) == 0;
        Verdict v = judge(name + "-chain.pem", store.get(), "www.good.test");
        EXPECT_EQ(v.alert == ChainTrusted, opensslTrusts) << name << ": " << v.message;
        EXPECT_EQ(opensslTrusts, i == 0) << name;
        if (i > 0) {
            EXPECT_EQ(v.message, "Certificate of www.good.test names a host its issuer may not certify");
        }
    }
    EXPECT_EQ(judge("ncinside-chain.pem", store.get(), "127.0.0.1").alert, ChainTrusted);
    Verdict wildcard = judge("ncwildcard-chain.pem", store.get(), "www.good.test");
    EXPECT_EQ(wildcard.alert, ChainBadCertificate);
    EXPECT_EQ(wildcard.message, "Certificate of www.good.test names a host its issuer may not certify");
}

X509Certificate withNames(std::vector<Bytes>* storage, const std::vector<std::pair<u8, std::string>>& names) {
    X509Certificate c = {};
    storage->clear();
    Bytes all;
    for (const auto& name : names) {
        c.nameTypes[c.nameCount] = name.first;
        c.names[c.nameCount] = DerSpan{(u32)all.size(), (u32)name.second.size()};
        all.insert(all.end(), name.second.begin(), name.second.end());
        c.nameCount++;
    }
    storage->push_back(all);
    c.der = storage->back().data();
    c.derLength = (u32)all.size();
    return c;
}

bool matches(const X509Certificate& c, const std::string& host) {
    return certificateMatchesHost(&c, (const u8*)host.data(), (u32)host.size());
}

TEST(HostNames, DnsNamesAndWildcards) {
    std::vector<Bytes> storage;
    X509Certificate c = withNames(&storage, {{X509NameDns, "tiles.example.com"}, {X509NameDns, "*.cdn.example.com"}});
    EXPECT_TRUE(matches(c, "tiles.example.com"));
    EXPECT_TRUE(matches(c, "Tiles.Example.COM"));
    EXPECT_TRUE(matches(c, "tiles.example.com."));
    EXPECT_TRUE(matches(c, "eu1.cdn.example.com"));
    EXPECT_FALSE(matches(c, "cdn.example.com"));
    EXPECT_FALSE(matches(c, "a.eu1.cdn.example.com"));
    EXPECT_FALSE(matches(c, ".cdn.example.com"));
    EXPECT_FALSE(matches(c, "example.com"));
    EXPECT_FALSE(matches(c, "tiles.example.co"));
    EXPECT_FALSE(matches(c, "xtiles.example.com"));
    EXPECT_FALSE(matches(c, ""));
    // too-wide and inner wildcards are not honoured
    X509Certificate wide = withNames(&storage, {{X509NameDns, "*.com"}, {X509NameDns, "f*.example.com"},
                                                {X509NameDns, "*"}, {X509NameDns, "a.*.example.com"}});
    EXPECT_FALSE(matches(wide, "example.com"));
    EXPECT_FALSE(matches(wide, "foo.example.com"));
    EXPECT_FALSE(matches(wide, "a.b.example.com"));
    EXPECT_FALSE(matches(wide, "x"));
    // names with a zero byte inside stand for nothing, neither the part before it nor the whole
    std::vector<Bytes> nulStorage, plainStorage;
    X509Certificate nul = withNames(&nulStorage, {{X509NameDns, std::string("tiles.example.com\0.evil.net", 26)},
                                               {X509NameDns, std::string("*.cdn.example.com\0.evil.net", 26)}});
    EXPECT_FALSE(matches(nul, "tiles.example.com"));
    EXPECT_FALSE(matches(nul, "eu1.cdn.example.com"));
    EXPECT_FALSE(matches(nul, "evil.net"));
    EXPECT_FALSE(certificateMatchesHost(&nul, (const u8*)"tiles.example.com\0.evil.net", 26));
    X509Certificate plain = withNames(&plainStorage, {{X509NameDns, "tiles.example.com"}});
    EXPECT_FALSE(certificateMatchesHost(&plain, (const u8*)"tiles.example.com\0", 18));
    EXPECT_TRUE(matches(plain, "tiles.example.com"));
    // a DNS name that looks like an address does not stand for the address
    X509Certificate text = withNames(&storage, {{X509NameDns, "127.0.0.1"}});
    EXPECT_FALSE(matches(text, "127.0.0.1"));
}

TEST(HostNames, Addresses) {
    std::vector<Bytes> storage;
    X509Certificate c = withNames(
        &storage, {{X509NameIp, std::string("\x0A\x00\x00\x07", 4)},
                   {X509NameIp, std::string("\x20\x01\x0d\xb8\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01", 16)},
                   {X509NameDns, "localhost"}});
    EXPECT_TRUE(matches(c, "10.0.0.7"));
    EXPECT_FALSE(matches(c, "10.0.0.8"));
    EXPECT_TRUE(matches(c, "2001:db8::1"));
    EXPECT_TRUE(matches(c, "2001:DB8:0:0:0:0:0:1"));
    EXPECT_TRUE(matches(c, "[2001:db8::1]"));
    EXPECT_FALSE(matches(c, "2001:db8::2"));
    EXPECT_FALSE(matches(c, "10.0.0.07"));  // not a numeric host, and no such DNS name
    u8 out[16];
    EXPECT_EQ(parseNumericHost(out, (const u8*)"::", 2), 16u);
    EXPECT_EQ(parseNumericHost(out, (const u8*)"::ffff:1.2.3.4", 14), 16u);
    EXPECT_EQ(toHex(out, 16), "00000000000000000000ffff01020304");
    EXPECT_EQ(parseNumericHost(out, (const u8*)"1::2:3", 6), 16u);
    EXPECT_EQ(toHex(out, 16), "00010000000000000000000000020003");
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", ":::", "1:2:3:4:5:6:7:8:9", "1::2::3",
                            "12345::", "1:", "g::1", "localhost", ""})
        EXPECT_EQ(parseNumericHost(out, (const u8*)bad, (u32)strlen(bad)), 0u) << bad;
}

}  // namespace
