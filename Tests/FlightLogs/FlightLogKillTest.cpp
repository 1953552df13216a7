// A process writing a log is killed with SIGKILL mid-flight: the file still holds every entry up to
// the last append the writer saw completed, in order, and nothing torn except possibly a last entry.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FlightLogReader.h"

namespace {

TEST(FlightLogProcess, KilledMidFlightKeepsEveryEntryUpToTheLastCompletedFlush) {
    char pattern[] = "/tmp/orvik-kill-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string home = pattern;
    std::filesystem::create_directory(home + "/Documents");

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        execl(ORVIK_FLIGHT_LOG_WRITER, ORVIK_FLIGHT_LOG_WRITER, (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    ASSERT_NE(lines, nullptr);
    std::string logName;
    unsigned flushed = 0, flushes = 0;
    char line[512];
    // The writer flushes at least once a second; three completed flushes, then the kill.
    while (flushes < 3 && std::fgets(line, sizeof line, lines)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (text.rfind("log ", 0) == 0) logName = text.substr(4);
        unsigned value;
        if (std::sscanf(text.c_str(), "flushed %u", &value) == 1) {
            flushed = value;
            flushes++;
        }
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    std::fclose(lines);
    ASSERT_EQ(flushes, 3u);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    FlightLogReading log = readFlightLogWithPython(home + "/Documents/Tarnwick/" + logName);
    ASSERT_EQ(log.exitStatus, 0) << (log.lines.empty() ? "" : log.lines.back());
    std::vector<std::string> entries = linesStartingWith(log.lines, "type=1 ");
    ASSERT_GE(entries.size(), flushed);
    for (size_t i = 0; i < entries.size(); i++) {
        std::string hex = entries[i].substr(entries[i].find("bytes=") + 6, 8);
        unsigned number = 0;
        for (int b = 3; b >= 0; b--) number = number << 8 | (unsigned)std::stoul(hex.substr(b * 2, 2), nullptr, 16);
        ASSERT_EQ(number, i);
    }
    // At most one entry's bytes (200 + 13) lie torn after the last whole one.
    unsigned entryCount = 0, tail = 0;
    ASSERT_EQ(std::sscanf(log.lines.back().c_str(), "end entries=%u tail=%u", &entryCount, &tail), 2);
    EXPECT_LT(tail, 213u);
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
}

}  // namespace
