// Command names against node-mavlink's MAV_CMD enumeration and the message definitions themselves.
#include "Mavlink/Mavlink.h"
#include "NodePeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

std::map<u32, std::string> namesFrom(const std::string& output, const std::string& prefix) {
    std::map<u32, std::string> names;
    std::istringstream stream(output);
    std::string line;
    while (std::getline(stream, line)) {
        std::vector<std::string> words = splitWords(line);
        if (words.size() != 2) {
            ADD_FAILURE() << line;
            continue;
        }
        names[(u32)std::stoul(words[0])] = prefix + words[1];
    }
    return names;
}

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
    pclose(pipe);
    return output;
}

TEST(MavCmdName, EveryCommandHasItsFullNameAndNoOtherValueHasOne) {
    ASSERT_EQ(prepareNodePeer(), "");
    std::map<u32, std::string> node = namesFrom(runNodePeer("commands"), "MAV_CMD_");
    ASSERT_GT(node.size(), 150u);
    // Every MAV_CMD entry of common.xml and the files it includes, read straight from the XML.
    std::string script =
        "import sys, os, xml.etree.ElementTree as E\n"
        "def walk(p, seen):\n"
        "    p = os.path.abspath(p)\n"
        "    if p in seen: return\n"
        "    seen.add(p); r = E.parse(p).getroot()\n"
        "    for i in r.findall('include'): walk(os.path.join(os.path.dirname(p), i.text.strip()), seen)\n"
        "    for e in r.iter('enum'):\n"
        "        if e.get('name') == 'MAV_CMD':\n"
        "            for x in e.findall('entry'): print(int(x.get('value'), 0), x.get('name'))\n"
        "walk(sys.argv[1], set())\n";
    std::string path = temporaryPath("mav_cmd_names.py");
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_TRUE(file);
    fputs(script.c_str(), file);
    fclose(file);
    std::string common = std::string(ORVIK_SOURCE_DIR) + "/../shared/mavlink/common.xml";
    std::map<u32, std::string> xml;
    if (std::filesystem::exists(common)) {
        xml = namesFrom(commandOutput("/usr/bin/python3 '" + path + "' '" + common + "' 2>&1"), "");
    } else {
        std::printf("MAVLink definitions not found at %s: compared with node-mavlink only\n", common.c_str());
    }
    std::remove(path.c_str());
    // The definitions lie beside the checkout here; where they do not, node-mavlink's names still
    // hold, and a few newer commands may stand beside them.
    bool haveXml = !xml.empty();

    int agreed = 0;
    int newer = 0;
    for (u32 value = 0; value <= 0xFFFF; value++) {
        const char* ours = mavCmdName((u16)value);
        auto inNode = node.find(value);
        auto inXml = xml.find(value);
        if (inNode != node.end()) {
            ASSERT_NE(ours, nullptr) << value;
            EXPECT_EQ(std::string(ours), inNode->second) << value;
            agreed++;
        } else if (inXml != xml.end()) {
            // Commands newer than node-mavlink's dialect.
            ASSERT_NE(ours, nullptr) << value;
            EXPECT_EQ(std::string(ours), inXml->second) << value;
        } else if (ours && !haveXml) {
            EXPECT_EQ(std::string(ours).rfind("MAV_CMD_", 0), 0u) << ours;
            newer++;
        } else {
            EXPECT_EQ(ours, nullptr) << value << " " << (ours ? ours : "");
        }
    }
    EXPECT_EQ(agreed, (int)node.size());
    EXPECT_LT(newer, (int)node.size() / 20);
    EXPECT_STREQ(mavCmdName(16), "MAV_CMD_NAV_WAYPOINT");
}

}  // namespace
