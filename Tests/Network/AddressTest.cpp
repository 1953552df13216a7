#include "Network/Address.h"
#include "NetworkTestSupport.h"
#include "Platform/Socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <sstream>

namespace {

AddressRecord parseText(const std::string& value, u64* position = nullptr) {
    u64 local = 0;
    u64* cursor = position ? position : &local;
    return parseIpAddress((const u8*)value.data(), cursor, (i64)value.size());
}

AddressRecord v4(u8 a, u8 b, u8 c, u8 d, u16 port) {
    u8 bytes[4] = {a, b, c, d};
    return makeAddressRecord(4, bytes, port);
}

TEST(EndpointText, PrintsIpv4AndIpv6Forms) {
    AddressRecord drone = v4(10, 0, 0, 7, 14550);
    EXPECT_EQ(text(endpointString(&drone)), "10.0.0.7:14550");
    AddressRecord none{};
    EXPECT_EQ(text(endpointString(&none)), "0.0.0.0:0");
    EXPECT_EQ(text(addressString(&none)), "0.0.0.0");

    u8 bytes[16] = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4};
    AddressRecord local = makeAddressRecord(6, bytes, 8080);
    EXPECT_EQ(text(addressString(&local)), "[FE80:0000:0000:0000:0001:0002:0003:0004]");
    EXPECT_EQ(text(endpointString(&local)), "[FE80:0000:0000:0000:0001:0002:0003:0004]:8080");

    // Family 4 copies four bytes only, other families none.
    u8 many[16];
    std::memset(many, 0xAB, sizeof(many));
    AddressRecord four = makeAddressRecord(4, many, 1);
    EXPECT_EQ(four.address[3], 0xAB);
    EXPECT_EQ(four.address[4], 0);
    AddressRecord odd = makeAddressRecord(9, many, 2);
    EXPECT_EQ(odd.family, 9);
    EXPECT_EQ(odd.address[0], 0);
}

TEST(EndpointText, ComparesEndpointsByFamilyWidth) {
    AddressRecord a = v4(1, 2, 3, 4, 5);
    AddressRecord b = a;
    b.address[9] = 1;  // beyond an IPv4 address: not compared
    EXPECT_TRUE(sameEndpoint(&a, &b));
    b.port = 6;
    EXPECT_FALSE(sameEndpoint(&a, &b));
    EXPECT_TRUE(sameAddress(&a, &b));
    a.family = 6;
    b.family = 6;
    EXPECT_FALSE(sameAddress(&a, &b));
}

TEST(AddressParsing, ReadsAddressesAndPorts) {
    u64 position = 0;
    AddressRecord camera = parseText("192.168.4.1:5600", &position);
    EXPECT_EQ(camera.family, 4);
    EXPECT_EQ(camera.address[0], 192);
    EXPECT_EQ(camera.address[3], 1);
    EXPECT_EQ(camera.port, 5600);
    EXPECT_EQ(position, 16u);

    EXPECT_EQ(parseText("192.168.4").family, 0);
    AddressRecord spaced = parseText(" 10.1.2.3");
    EXPECT_EQ(spaced.family, 4);
    EXPECT_EQ(spaced.address[0], 10);

    AddressRecord six = parseText("[2001:0db8:0:0:0:0:0:1]:80");
    EXPECT_EQ(six.family, 6);
    EXPECT_EQ(six.port, 80);
    const u8 expected[16] = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(six.address, expected, 16), 0);
    EXPECT_EQ(parseText("[2001:db8::1]").family, 0);
    EXPECT_EQ(parseText("[1:2:3:4:5:6:7:8").family, 0);

    // Printing and parsing again gives the same record.
    FixedString printed = endpointString(&six);
    AddressRecord again = parseText(text(printed));
    EXPECT_EQ(std::memcmp(&again, &six, sizeof(six)), 0);
}

TEST(AddressParsing, RefusesNumbersOutOfRange) {
    EXPECT_EQ(parseText("300.1.1.1").family, 0);
    EXPECT_EQ(parseText("1.1.1.256").family, 0);
    EXPECT_EQ(parseText("1.-1.1.1").family, 0);
    EXPECT_EQ(parseText("-0.1.1.1").family, 4);  // minus zero is still zero
    EXPECT_EQ(parseText("1.1.1.1:65536").family, 0);
    EXPECT_EQ(parseText("1.1.1.1:-5").family, 0);
    EXPECT_EQ(parseText("[10000:0:0:0:0:0:0:1]").family, 0);
    AddressRecord top = parseText("255.255.255.255:65535");
    EXPECT_EQ(top.family, 4);
    EXPECT_EQ(top.port, 65535);
    AddressRecord empty = parseText("");
    EXPECT_EQ(empty.family, 0);
}

// Random addresses printed by us and by Python's ipaddress module, each parsed by the other side.
TEST(AddressParsing, AgreesWithPythonOverRandomAddresses) {
    std::mt19937 random(1234);
    std::vector<AddressRecord> records;
    std::string input;
    for (int i = 0; i < 300; i++) {
        u8 bytes[16];
        for (u8& b : bytes) {
            b = (u8)random();
        }
        // Some runs of zeros so that Python's shortened forms are exercised too.
        if (i % 3 == 0) {
            std::memset(bytes + 4, 0, 6);
        }
        u8 family = i % 2 ? 6 : 4;
        records.push_back(makeAddressRecord(family, bytes, (u16)random()));
        input += std::to_string(family) + " " + hexOf(bytes, family == 4 ? 4 : 16) + "\n";
    }
    std::string program =
        "import ipaddress, sys\n"
        "for line in sys.stdin:\n"
        "    f, h = line.split()\n"
        "    a = ipaddress.ip_address(bytes.fromhex(h))\n"
        "    print(a.exploded, a.compressed)\n";
    std::istringstream answers(runPython(program, input));
    for (const AddressRecord& record : records) {
        std::string exploded;
        std::string compressed;
        ASSERT_TRUE(answers >> exploded >> compressed);
        std::string ours = text(addressString(&record));
        if (record.family == 4) {
            EXPECT_EQ(ours, exploded);
            AddressRecord parsed = parseText(compressed + ":" + std::to_string(record.port));
            EXPECT_EQ(std::memcmp(&parsed, &record, sizeof(record)), 0) << compressed;
        } else {
            std::string upper = exploded;
            for (char& c : upper) {
                c = (char)toupper(c);
            }
            EXPECT_EQ(ours, "[" + upper + "]");
            AddressRecord parsed = parseText("[" + exploded + "]:" + std::to_string(record.port));
            EXPECT_EQ(std::memcmp(&parsed, &record, sizeof(record)), 0) << exploded;
            // The shortened form is not an address here.
            if (compressed.find("::") != std::string::npos) {
                EXPECT_EQ(parseText("[" + compressed + "]").family, 0) << compressed;
            }
        }
    }
}

TEST(SocketAddress, UsesTheWinsockLayout) {
    u8 out[28];
    u8 bytes[16] = {127, 0, 0, 1};
    makeSockaddr(out, 4, bytes, 0x1234);
    const u8 expected4[8] = {2, 0, 0x12, 0x34, 127, 0, 0, 1};
    EXPECT_EQ(std::memcmp(out, expected4, 8), 0);
    for (int i = 8; i < 28; i++) {
        EXPECT_EQ(out[i], 0);
    }
    u8 six[16] = {0x20, 0x01};
    six[15] = 9;
    makeSockaddr(out, 6, six, 80);
    EXPECT_EQ(out[0], 23);
    EXPECT_EQ(out[3], 80);
    EXPECT_EQ(out[8], 0x20);
    EXPECT_EQ(out[23], 9);
    AddressRecord back = addressFromSockaddr(out, 6);
    EXPECT_EQ(back.port, 80);
    EXPECT_EQ(std::memcmp(back.address, six, 16), 0);
}

ParsedUrl parseUrlText(const std::string& url) {
    ByteWriter view{(i64)url.size(), (i64)url.size(), 0, (u8*)url.data()};
    return parseUrl(&view);
}

TEST(UrlSplitting, SplitsSchemeHostPortAndPath) {
    std::string url = "https://h:8443/a/b?c=1";
    ParsedUrl full = parseUrlText(url);
    EXPECT_EQ(text(full.scheme), "https");
    EXPECT_EQ(text(full.host), "h");
    EXPECT_EQ(full.port, 8443);
    EXPECT_EQ(std::string((const char*)full.path.data, full.path.length), "/a/b?c=1");

    ParsedUrl bare = parseUrlText("https://tiles.example");
    EXPECT_EQ(text(bare.host), "tiles.example");
    EXPECT_EQ(bare.port, 0);
    EXPECT_EQ(bare.path.length, 0);

    ParsedUrl noSlashes = parseUrlText("mailto:someone");
    EXPECT_EQ(text(noSlashes.scheme), "mailto");
    EXPECT_EQ(noSlashes.host.length, 0);

    ParsedUrl emptyPort = parseUrlText("https://h:/p");
    EXPECT_EQ(emptyPort.message.length, 0);
    EXPECT_EQ(emptyPort.port, 0);
    EXPECT_EQ(text(emptyPort.host), "h");
    ParsedUrl highest = parseUrlText("https://h:65535");
    EXPECT_EQ(highest.port, 65535);
    EXPECT_EQ(highest.message.length, 0);
}

// Ports that do not fit 16 bits once wrapped round to another port ("h:65979" reached port 443),
// and user information was read as the host ("user:pw@h" went to host "user", port garbage).
TEST(UrlSplitting, PortsOutsideTheRangeAndUserInformationAreRefused) {
    for (const char* url : {"https://h:0/p", "https://h:65536/p", "https://h:65979/p", "https://h:99999999999999999999/",
                            "https://h:81x/p", "https://h:-1/p", "https://h: 80/p"}) {
        ParsedUrl parsed = parseUrlText(url);
        EXPECT_EQ(text(parsed.message), "The port of a URL must be a number from 1 to 65535") << url;
        EXPECT_EQ(parsed.host.length, 0) << url;
        EXPECT_EQ(parsed.port, 0) << url;
        EXPECT_EQ(parsed.path.length, 0) << url;
    }
    for (const char* url : {"https://user:pw@tiles.example/a", "https://user@tiles.example", "https://a@b:443/",
                            "https://tiles.example@evil.example/x"}) {
        ParsedUrl parsed = parseUrlText(url);
        EXPECT_EQ(text(parsed.message), "URLs with a user name or password are not supported") << url;
        EXPECT_EQ(parsed.host.length, 0) << url;
        EXPECT_EQ(parsed.path.length, 0) << url;
    }
    // A "/" spelt as an overlong sequence is no separator: a path always starts with the "/" byte.
    ParsedUrl overlong = parseUrlText("https://h\xC0\xAF" "etc/x");
    EXPECT_TRUE(overlong.path.length == 0 || overlong.path.data[0] == '/');
    EXPECT_EQ(overlong.port, 0);
    // An "@" in the path or query is not user information.
    ParsedUrl inPath = parseUrlText("https://tiles.example/a@b?c=@");
    EXPECT_EQ(inPath.message.length, 0);
    EXPECT_EQ(text(inPath.host), "tiles.example");
}

TEST(SocketErrors, MapsSystemErrorsOntoWinsockTexts) {
    struct Case {
        int systemError;
        const char* text;
    } cases[] = {
        {ECONNREFUSED, "Connection refused"},
        {ECONNRESET, "Connection closed by remote host"},
        {EPIPE, "Connection closed by remote host"},
        {EADDRINUSE, "Port already in use"},
        {EADDRNOTAVAIL, "Binding address not available."},
        {EPERM, "Permission denied. Try running in adminstrator mode."},
        {EACCES, "Permission denied. Try running in adminstrator mode."},
        {EAGAIN, "In progress"},
        {EINPROGRESS, "In progress"},
        {EALREADY, "In progress"},
        {ENETUNREACH, "Network is unreachable."},
        {EHOSTUNREACH, "No route to host."},
        {EISCONN, "Already connected"},
        {ENOTSOCK, "Handle is not a socket"},
        {EBADF, "Handle is invalid"},
        {ENOMEM, "Not enough memory"},
        {EINVAL, "Invalid argument"},
        {EFAULT, "Bad memory address or buffer too small"},
        {ENOPROTOOPT, "Option is invalid for this protocol"},
        {ECONNABORTED, "Connection aborted by this program"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(socketErrorString(socketErrorFromErrno(c.systemError))), c.text) << c.systemError;
    }
    EXPECT_EQ(socketErrorFromErrno(0), 0);
    EXPECT_EQ(text(socketErrorString(12345)), "Unrecognized error code (12345)");
    EXPECT_EQ(text(socketErrorString(995)), "Overlapped operation aborted");
    EXPECT_EQ(text(socketErrorString(10093)), "WSAStartup not called");
    // A system error with no Winsock counterpart never borrows a table entry's text.
    EXPECT_EQ(text(socketErrorString(socketErrorFromErrno(ENXIO))),
              "Unrecognized error code (" + std::to_string(kSocketErrorUnmappedBase + ENXIO) + ")");
}

}  // namespace
