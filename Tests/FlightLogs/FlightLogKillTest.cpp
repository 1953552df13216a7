// A process writing a log ends mid-flight. Killed with SIGKILL, the file still holds every entry up
// to the last append the writer saw completed, in order, and nothing torn except possibly a last
// entry. Told to quit with SIGTERM, it ends as the program does and the file holds every entry
// added before the quit, and nothing torn.
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

struct EndedWriter {
    std::string home;
    std::string logName;
    unsigned flushed = 0;  // entries the last completed append brought the file up to
    unsigned added = 0;    // entries added before a quit (0 after a kill)
    int status = 0;
};

// Runs the writer process until three appends are done, then sends it the signal and waits for it.
EndedWriter runWriterUntil(int signal) {
    EndedWriter run;
    char pattern[] = "/tmp/orvik-kill-XXXXXX";
    if (!mkdtemp(pattern)) return run;
    run.home = pattern;
    std::filesystem::create_directory(run.home + "/Documents");
    int out[2];
    if (pipe(out) != 0) return run;
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        setenv("HOME", run.home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        execl(ORVIK_FLIGHT_LOG_WRITER, ORVIK_FLIGHT_LOG_WRITER, (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    unsigned flushes = 0;
    char line[512];
    bool signalled = false;
    // The writer flushes at least once a second; three completed flushes, then the signal.
    while (std::fgets(line, sizeof line, lines)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (text.rfind("log ", 0) == 0) run.logName = text.substr(4);
        unsigned value;
        if (std::sscanf(text.c_str(), "flushed %u", &value) == 1) {
            run.flushed = value;
            flushes++;
        }
        std::sscanf(text.c_str(), "quit %u", &run.added);
        if (flushes == 3 && !signalled) {
            kill(child, signal);
            signalled = true;
        }
    }
    waitpid(child, &run.status, 0);
    std::fclose(lines);
    return run;
}

// The numbered entries of the log, every one from 0 on in order; returns how many.
size_t expectNumberedEntriesInOrder(const FlightLogReading& log) {
    std::vector<u32> numbers = numbersIn(log);
    for (size_t i = 0; i < numbers.size(); i++) {
        EXPECT_EQ(numbers[i], i);
        if (numbers[i] != i) break;
    }
    return numbers.size();
}

TEST(FlightLogProcess, KilledMidFlightKeepsEveryEntryUpToTheLastCompletedFlush) {
    EndedWriter run = runWriterUntil(SIGKILL);
    ASSERT_FALSE(run.logName.empty());
    EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGKILL);
    FlightLogReading log = readFlightLogWithPython(run.home + "/Documents/Tarnwick/" + run.logName);
    ASSERT_EQ(log.exitStatus, 0) << (log.lines.empty() ? "" : log.lines.back());
    EXPECT_GE(expectNumberedEntriesInOrder(log), run.flushed);
    // At most one entry's bytes (200 + 13) lie torn after the last whole one.
    unsigned entryCount = 0, tail = 0;
    ASSERT_EQ(std::sscanf(log.lines.back().c_str(), "end entries=%u tail=%u", &entryCount, &tail), 2);
    EXPECT_LT(tail, 213u);
    std::error_code ignored;
    std::filesystem::remove_all(run.home, ignored);
}

TEST(FlightLogProcess, QuitBySigtermWritesEveryEntryAddedBeforeIt) {
    EndedWriter run = runWriterUntil(SIGTERM);
    ASSERT_FALSE(run.logName.empty());
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
    ASSERT_GT(run.added, run.flushed);
    FlightLogReading log = readFlightLogWithPython(run.home + "/Documents/Tarnwick/" + run.logName);
    ASSERT_EQ(log.exitStatus, 0) << (log.lines.empty() ? "" : log.lines.back());
    EXPECT_EQ(expectNumberedEntriesInOrder(log), run.added);
    EXPECT_EQ(log.lines.back(), "end entries=" + std::to_string(log.lines.size() - 1) + " tail=0");
    std::error_code ignored;
    std::filesystem::remove_all(run.home, ignored);
}

}  // namespace
