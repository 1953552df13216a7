// The entries list's plain-word texts of recorded datagrams against node-mavlink: node-mavlink frames
// messages of random field values (MAVLink 1, MAVLink 2 with its trailing zeros cut, signed MAVLink
// 2), decodes them again, and computes every expected line from the fields it decoded.
#include "Core/Preferences.h"
#include "Mavlink/NodePeer.h"
#include "FlightLogReplay/RecordedMavlink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace {

struct Expected {
    std::string kind;  // "line" or "approx"
    std::string text;  // the whole line, or the prefix of an approximate one
    double value = 0;
    std::string suffix;
    int decimals = 6;
};

struct Case {
    std::string label;
    std::vector<u8> frame;
    std::string sender;
    Expected summary;
    std::vector<Expected> lines;
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return parts;
        start = tab + 1;
    }
}

std::string runScript(const std::string& arguments) {
    std::string folder = std::string(ORVIK_BINARY_DIR) + "/node-peer";
    // Concurrent test processes each copy the script under a name of their own, then move it in place.
    std::string temporary = folder + "/recorded_messages." + std::to_string(getpid()) + ".tmp";
    std::string command = "cp '" + std::string(ORVIK_SOURCE_DIR) + "/Tests/FlightLogReplay/recorded_messages.mjs' '" +
                          temporary + "' && mv '" + temporary + "' '" + folder + "/recorded_messages.mjs' && node '" +
                          folder + "/recorded_messages.mjs' " + arguments + " 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[65536];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
    pclose(pipe);
    return output;
}

Expected approximate(const std::vector<std::string>& parts) {
    Expected expected;
    expected.kind = "approx";
    expected.text = parts.size() > 1 ? parts[1] : "";
    expected.value = parts.size() > 2 ? std::strtod(parts[2].c_str(), nullptr) : 0;
    expected.suffix = parts.size() > 3 ? parts[3] : "";
    expected.decimals = parts.size() > 4 ? std::atoi(parts[4].c_str()) : 6;
    return expected;
}

std::vector<Case> readCases(const std::string& output) {
    std::vector<Case> cases;
    std::istringstream stream(output);
    std::string line;
    Case current;
    while (std::getline(stream, line)) {
        std::vector<std::string> parts = splitTabs(line);
        const std::string& kind = parts[0];
        if (kind == "case" && parts.size() == 3) {
            current = Case();
            current.label = parts[1];
            current.frame = bytesFromHex(parts[2]);
        } else if (kind == "sender" && parts.size() == 2) {
            current.sender = parts[1];
        } else if (kind == "summary" && parts.size() == 2) {
            current.summary = {"line", parts[1], 0, "", 0};
        } else if (kind == "summaryapprox") {
            current.summary = approximate(parts);
        } else if (kind == "line" && parts.size() == 2) {
            current.lines.push_back({"line", parts[1], 0, "", 0});
        } else if (kind == "approx") {
            current.lines.push_back(approximate(parts));
        } else if (kind == "end") {
            cases.push_back(current);
        } else {
            ADD_FAILURE() << "the script wrote: " << line;
        }
    }
    return cases;
}

// A float written with at most D decimals, truncated: within 10^-D of the field's value.
void expectLine(const Expected& expected, const std::string& ours, const std::string& where) {
    if (expected.kind == "line") {
        EXPECT_EQ(ours, expected.text) << where;
        return;
    }
    bool framed = ours.size() >= expected.text.size() + expected.suffix.size() &&
                  ours.compare(0, expected.text.size(), expected.text) == 0 &&
                  ours.compare(ours.size() - expected.suffix.size(), expected.suffix.size(), expected.suffix) == 0;
    ASSERT_TRUE(framed) << where << ": " << ours << " is not " << expected.text << "..." << expected.suffix;
    std::string number = ours.substr(expected.text.size(), ours.size() - expected.text.size() - expected.suffix.size());
    char* end = nullptr;
    double value = std::strtod(number.c_str(), &end);
    EXPECT_TRUE(end && *end == 0 && !number.empty()) << where << ": " << ours;
    EXPECT_LE(std::fabs(value - expected.value), std::pow(10.0, -expected.decimals) * 1.0000001 + std::fabs(expected.value) * 1e-12)
        << where << ": " << ours << " for " << expected.value;
}

std::vector<std::string> linesOf(const ByteWriter& writer) {
    std::vector<std::string> lines;
    std::string text((const char*)writer.data, (size_t)writer.length);
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back(text.substr(start) + " (no newline)");
            break;
        }
        lines.push_back(text.substr(start, newline - start));
        start = newline + 1;
    }
    return lines;
}

TEST(RecordedMavlinkOracle, EveryNumberOfEveryLineIsTheFieldNodeMavlinkDecodes) {
    ASSERT_EQ(prepareNodePeer(), "");
    std::vector<Case> cases = readCases(runScript("details 20261207 8"));
    ASSERT_GT(cases.size(), 300u);
    Preferences prefs{};
    int withLines = 0;
    for (const Case& c : cases) {
        std::string where = c.label + " " + hexFromBytes(c.frame.data(), c.frame.size());
        u8 summaryBytes[kMavlinkSummaryBytes];
        ByteWriter summary = makeByteWriter(summaryBytes, sizeof(summaryBytes));
        MavlinkEntrySummary result = summarizeMavlinkEntry(c.frame.data(), (u16)c.frame.size(), &summary);
        EXPECT_EQ(result.messageCount, 1) << where;
        FixedString sender = mavlinkSenderText(result.sender);
        EXPECT_EQ(std::string(sender.text, sender.length), c.sender) << where;
        std::string ourSummary((const char*)summaryBytes, (size_t)summary.length);
        if (c.summary.kind == "line") {
            // The row's text is cut at the summary writer's size.
            EXPECT_EQ(ourSummary, c.summary.text.substr(0, kMavlinkSummaryBytes)) << where;
        } else {
            expectLine(c.summary, ourSummary, where + " (summary)");
        }

        static u8 detailBytes[8192];
        ByteWriter details = makeByteWriter(detailBytes, sizeof(detailBytes));
        appendMavlinkEntryDetails(c.frame.data(), (u16)c.frame.size(), &prefs, &details);
        ASSERT_FALSE(details.overflow);
        std::vector<std::string> ours = linesOf(details);
        ASSERT_EQ(ours.size(), c.lines.size()) << where << "\n" << std::string((const char*)detailBytes, details.length);
        for (size_t i = 0; i < ours.size(); i++) expectLine(c.lines[i], ours[i], where);
        withLines += !ours.empty();
    }
    EXPECT_GT(withLines, 250);
}

}  // namespace
