// The program itself on the test display: it starts, draws frames on an OpenGL core context of
// version 4.3 or higher and ends with status 0 when its window is closed. Without any display it
// ends at once with a message instead of running where no one can see it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <string>

namespace {

// Runs the shell command, returns what it wrote and its status, and removes its temporary home.
std::string runAndRemoveHome(const std::string& command, const std::string& home, int* status) {
    std::string output;
    FILE* program = popen(command.c_str(), "r");
    if (program) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof(buffer), program)) > 0) output.append(buffer, got);
        *status = pclose(program);
    } else {
        *status = -1;
        output = "could not start: " + command;
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return output;
}

// Why the program cannot be run here, or null. A network namespace of its own keeps the program's DNS
// look-ups off every real network.
const char* whyTheProgramCannotRun() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !display[0]) return "no display";
    if (std::system("unshare -n true > /dev/null 2>&1") != 0) return "no network namespace";
    return nullptr;
}

// A new temporary home (it keeps the program's data folder out of the user's Documents), or "".
std::string makeTemporaryHome() {
    char pattern[] = "/tmp/orvik-program-XXXXXX";
    return mkdtemp(pattern) ? std::string(pattern) : std::string();
}

// Runs the program in a network namespace of its own with the home and the environment settings
// ("NAME=value ..."), for at most two minutes; returns what it wrote, its status in *status, and
// removes the home.
std::string runProgram(const std::string& home, const std::string& settings, int* status) {
    std::string command = "env -u XDG_CONFIG_HOME -u SDL_VIDEO_X11_FORCE_EGL HOME='" + home + "' SDL_AUDIODRIVER=dummy " +
                          settings + " timeout 120 unshare -n '" + ORVIK_BINARY_DIR + "/orvik' 2>&1";
    return runAndRemoveHome(command, home, status);
}

TEST(Program, StartsDrawsFramesAndEndsWhenItsWindowCloses) {
    if (const char* reason = whyTheProgramCannotRun()) GTEST_SKIP() << reason;
    std::string home = makeTemporaryHome();
    ASSERT_FALSE(home.empty());
    // Mesa's GL driver and D-Bus keep allocations to the end of the process; their leaks are not ours
    // to find, so leaks do not change the exit status and only those from the program's own sources
    // count.
    int status = 0;
    std::string output =
        runProgram(home, "ORVIK_EXIT_AFTER_FRAMES=30 ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=exitcode=0", &status);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;

    int major = 0, minor = 0;
    char profile[32] = {};
    size_t at = output.find("OpenGL ");
    ASSERT_NE(at, std::string::npos) << output;
    ASSERT_EQ(std::sscanf(output.c_str() + at, "OpenGL %d.%d %31s profile", &major, &minor, profile), 3) << output;
    EXPECT_TRUE(major > 4 || (major == 4 && minor >= 3)) << output;
    EXPECT_STREQ(profile, "core");
    EXPECT_NE(output.find("debug"), std::string::npos) << output;
    EXPECT_NE(output.find(" through EGL: "), std::string::npos) << output;
    // The profiling report names the frame's regions.
    EXPECT_NE(output.find("Update and Render"), std::string::npos) << output;
    // Whatever the file thread made is freed by the time the program returns.
    for (size_t leak = output.find("leak of"); leak != std::string::npos; leak = output.find("leak of", leak + 1)) {
        std::string report = output.substr(leak, output.find("\n\n", leak) - leak);
        EXPECT_EQ(report.find(ORVIK_SOURCE_DIR), std::string::npos) << report;
    }
}

// Where EGL cannot be had (no vendor library answers) or makes no context (a vendor that refuses
// every one), the window is made again on GLX, and the program draws and ends as it does on EGL.
TEST(Program, FallsBackToGlxWhereEglMakesNoWindowOrNoContext) {
    if (const char* reason = whyTheProgramCannotRun()) GTEST_SKIP() << reason;
    for (bool vendorRefusesContexts : {false, true}) {
        std::string home = makeTemporaryHome();
        ASSERT_FALSE(home.empty());
        std::string vendorFile = home + "/no-vendor.json";
        if (vendorRefusesContexts) {
            vendorFile = home + "/no-context.json";
            FILE* file = std::fopen(vendorFile.c_str(), "w");
            ASSERT_NE(file, nullptr);
            std::fprintf(file, "{\"file_format_version\": \"1.0.0\", \"ICD\": {\"library_path\": \"%s\"}}\n",
                         NO_CONTEXT_EGL_VENDOR);
            std::fclose(file);
        }
        int status = 0;
        std::string output = runProgram(
            home, "__EGL_VENDOR_LIBRARY_FILENAMES='" + vendorFile + "' ORVIK_EXIT_AFTER_FRAMES=5 ASAN_OPTIONS=detect_leaks=0",
            &status);
        ASSERT_TRUE(WIFEXITED(status)) << output;
        EXPECT_EQ(WEXITSTATUS(status), 0) << output;
        EXPECT_NE(output.find("OpenGL through EGL failed"), std::string::npos) << output;
        EXPECT_NE(output.find(" through GLX: "), std::string::npos) << output;
        EXPECT_EQ(output.find("Orvik needs OpenGL 4.3"), std::string::npos) << output;
        EXPECT_NE(output.find("Update and Render"), std::string::npos) << output;
    }
}

// With ORVIK_STARTUP_REPORT the program says when its first complete frame was presented, on the
// system's monotonic clock, and ends by itself.
TEST(Program, ReportsItsFirstCompleteFrameAndEnds) {
    if (const char* reason = whyTheProgramCannotRun()) GTEST_SKIP() << reason;
    std::string home = makeTemporaryHome();
    ASSERT_FALSE(home.empty());
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    int status = 0;
    std::string output = runProgram(home, "ORVIK_STARTUP_REPORT=1 ASAN_OPTIONS=detect_leaks=0", &status);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    unsigned long long mainAt = 0, setUpAt = 0, frameAt = 0, frame = 0;
    size_t at = output.find("Start-up: ");
    ASSERT_NE(at, std::string::npos) << output;
    ASSERT_EQ(std::sscanf(output.c_str() + at,
                          "Start-up: main %llu, set-up done %llu, first complete frame presented %llu (frame %llu)",
                          &mainAt, &setUpAt, &frameAt, &frame),
              4)
        << output;
    unsigned long long started = (unsigned long long)before.tv_sec * 1000000 + (unsigned long long)before.tv_nsec / 1000;
    EXPECT_LE(started, mainAt);
    EXPECT_LE(mainAt, setUpAt);
    EXPECT_LE(setUpAt, frameAt);
    EXPECT_GE(frame, 1u);
    EXPECT_EQ(output.find("Start-up: ", at + 1), std::string::npos) << "reported twice";
}

// SIGTERM (a system shutting down, a service manager, kill) ends the program as closing its window
// does: the main loop stops, the last saves are queued, the file thread finishes, the profiling
// report is printed and the status is 0.
TEST(Program, SigtermEndsItAsClosingTheWindowDoes) {
    if (const char* reason = whyTheProgramCannotRun()) GTEST_SKIP() << reason;
    std::string home = makeTemporaryHome();
    ASSERT_FALSE(home.empty());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        std::string command = "exec env -u XDG_CONFIG_HOME -u SDL_VIDEO_X11_FORCE_EGL HOME='" + home +
                              "' SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0 unshare -n '" + ORVIK_BINARY_DIR +
                              "/orvik'";
        execl("/bin/sh", "sh", "-c", command.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    std::string output;
    char line[4096];
    bool signalled = false;
    while (std::fgets(line, sizeof line, lines)) {
        output += line;
        // Its first frame is out: it runs.
        if (!signalled && output.find("OpenGL ") != std::string::npos) {
            kill(child, SIGTERM);
            signalled = true;
        }
    }
    std::fclose(lines);
    int status = 0;
    waitpid(child, &status, 0);
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    ASSERT_TRUE(signalled) << output;
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("Update and Render"), std::string::npos) << output;
}

// No X11 display and no Wayland socket: SDL falls back to a driver that draws nowhere. The program
// must say so and end, not run unseen. (The timeout only keeps a faulty build from hanging the suite.)
TEST(Program, WithNoDisplayEndsAtOnceWithAMessage) {
    char pattern[] = "/tmp/orvik-nodisplay-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string home = pattern;
    std::string runtime = home + "/runtime";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u XDG_CONFIG_HOME HOME='" + home +
                          "' XDG_RUNTIME_DIR='" + runtime +
                          "' SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0 timeout 60 '" + ORVIK_BINARY_DIR +
                          "/orvik' 2>&1 >/dev/null";
    int status = 0;
    std::string output = runAndRemoveHome(command, home, &status);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
    EXPECT_NE(output.find("No display to open a window on"), std::string::npos) << output;
}

}  // namespace
