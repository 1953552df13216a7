// System facts: DNS servers from resolv.conf, the data folder from user-dirs.dirs, os-release values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "Platform/SystemInfo.h"

namespace {

std::string ipv4(const AddressRecord& record) {
    return std::to_string(record.address[0]) + "." + std::to_string(record.address[1]) + "." +
           std::to_string(record.address[2]) + "." + std::to_string(record.address[3]);
}

TEST(ResolvConf, IPv4NameserversOnPort53) {
    const char* text =
        "# generated\n"
        "search example.lan\n"
        "nameserver 192.168.1.1\n"
        "nameserver\t10.0.0.53 # local\n"
        "nameserver ::1\n"
        "nameserver 300.1.1.1\n"
        "nameserver 1.2.3\n"
        "nameserver 1.2.3.4.5\n"
        "nameservers 9.9.9.9\n"
        "  nameserver 8.8.8.8\n"
        "nameserver 127.0.0.53\r\n"
        "nameserver 1.1.1.1";
    DnsServerList list{};
    ASSERT_EQ(parseResolvConf(text, (i64)std::strlen(text), &list), 4);
    EXPECT_EQ(ipv4(list.servers[0]), "192.168.1.1");
    EXPECT_EQ(ipv4(list.servers[1]), "10.0.0.53");
    EXPECT_EQ(ipv4(list.servers[2]), "127.0.0.53");
    EXPECT_EQ(ipv4(list.servers[3]), "1.1.1.1");
    for (u32 i = 0; i < list.count; i++) {
        EXPECT_EQ(list.servers[i].family, 4);
        EXPECT_EQ(list.servers[i].port, 53);
    }
}

TEST(ResolvConf, AtMostEightServersAndNoneFromEmptyText) {
    std::string text;
    for (int i = 1; i <= 12; i++) text += "nameserver 10.0.0." + std::to_string(i) + "\n";
    DnsServerList list{};
    EXPECT_EQ(parseResolvConf(text.data(), (i64)text.size(), &list), 8);
    EXPECT_EQ(ipv4(list.servers[7]), "10.0.0.8");
    EXPECT_EQ(parseResolvConf("", 0, &list), 0);
    EXPECT_EQ(list.count, 0u);
}

TEST(DataFolder, FromUserDirsOrHome) {
    const char* dirs = "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    FixedString documents = documentsFolderFromUserDirs(dirs, (i64)std::strlen(dirs), "/home/pilot");
    EXPECT_STREQ(documents.text, "/home/pilot/Dokumente");
    EXPECT_STREQ(dataFolderUnder(documents).text, "/home/pilot/Dokumente/Tarnwick/");

    const char* absolute = "XDG_DOCUMENTS_DIR=/srv/docs/\n";
    EXPECT_STREQ(documentsFolderFromUserDirs(absolute, (i64)std::strlen(absolute), "/home/x").text, "/srv/docs");
    const char* relative = "XDG_DOCUMENTS_DIR=\"docs\"\n";
    EXPECT_STREQ(documentsFolderFromUserDirs(relative, (i64)std::strlen(relative), "/home/x").text, "/home/x/Documents");
    EXPECT_STREQ(documentsFolderFromUserDirs(nullptr, -1, "/home/x").text, "/home/x/Documents");
    EXPECT_EQ(documentsFolderFromUserDirs(nullptr, -1, nullptr).length, 0);
    EXPECT_EQ(dataFolderUnder(FixedString{}).length, 0);
}

TEST(DataFolder, PathsTooLongForTheFolderLeaveItEmpty) {
    // The Documents folder fits but "/Tarnwick/" after it does not: no data folder, never a cut one.
    std::string longFolder = "/" + std::string(248, 'd');
    FixedString documents = makeString(longFolder.c_str());
    ASSERT_EQ(documents.truncated, 0);
    EXPECT_EQ(dataFolderUnder(documents).length, 0);
    std::string fits = "/" + std::string(200, 'd');
    EXPECT_STREQ(dataFolderUnder(makeString(fits.c_str())).text, (fits + "/Tarnwick/").c_str());

    // A home folder longer than a path text: the Documents folder below it is marked cut.
    std::string home = "/" + std::string(300, 'h');
    const char* dirs = "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n";
    FixedString fromDirs = documentsFolderFromUserDirs(dirs, (i64)std::strlen(dirs), home.c_str());
    EXPECT_EQ(dataFolderUnder(fromDirs).length, 0);
    FixedString fromHome = documentsFolderFromUserDirs(nullptr, -1, home.c_str());
    EXPECT_EQ(dataFolderUnder(fromHome).length, 0);
}

TEST(OsRelease, QuotedAndPlainValues) {
    const char* text = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=Debian\nVERSION_ID=\"12\"\nID=debian\n";
    i64 length = (i64)std::strlen(text);
    EXPECT_STREQ(osReleaseValue(text, length, "PRETTY_NAME").text, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_STREQ(osReleaseValue(text, length, "VERSION_ID").text, "12");
    EXPECT_STREQ(osReleaseValue(text, length, "ID").text, "debian");
    EXPECT_EQ(osReleaseValue(text, length, "VERSION").length, 0);
}

// Runs a test body with HOME pointing at a fresh temporary folder and no XDG_CONFIG_HOME.
template <typename Body>
void withTemporaryHome(Body body) {
    char pattern[] = "/tmp/orvik-home-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const char* savedHome = std::getenv("HOME");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    std::string home = savedHome ? savedHome : "", config = savedConfig ? savedConfig : "";
    setenv("HOME", pattern, 1);
    unsetenv("XDG_CONFIG_HOME");
    body(std::string(pattern));
    if (savedHome) setenv("HOME", home.c_str(), 1); else unsetenv("HOME");
    if (savedConfig) setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::filesystem::remove_all(pattern);
}

TEST(DataFolder, AMissingDocumentsFolderIsMadeAtStartUp) {
    withTemporaryHome([](const std::string& home) {
        Platform platform{};
        readDataFolder(&platform);
        EXPECT_TRUE(std::filesystem::is_directory(home + "/Documents"));
        EXPECT_EQ(std::string(platform.dataFolder.text), home + "/Documents/Tarnwick/");
        // An existing folder is left as it is.
        std::ofstream(home + "/Documents/keep.txt") << "kept";
        readDataFolder(&platform);
        EXPECT_TRUE(std::filesystem::exists(home + "/Documents/keep.txt"));
    });
    // Without a home there is nothing to make it in.
    withTemporaryHome([](const std::string& home) {
        setenv("HOME", (home + "/gone").c_str(), 1);
        Platform platform{};
        readDataFolder(&platform);
        EXPECT_FALSE(std::filesystem::exists(home + "/gone"));
    });
}

TEST(SystemStrings, ReadFromTheRunningSystem) {
    Platform platform{};
    readSystemStrings(&platform);
    withTemporaryHome([&](const std::string&) { readDataFolder(&platform); });
    EXPECT_GT(platform.userName.length, 0);
    EXPECT_GT(platform.computerName.length, 0);
    EXPECT_EQ(platform.pathSeparator, '/');
    if (platform.dataFolder.length) {
        std::string folder = platform.dataFolder.text;
        EXPECT_EQ(folder.substr(folder.size() - 10), "/Tarnwick/");
    }
}

}  // namespace
