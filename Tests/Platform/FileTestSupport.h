// A temporary HOME with a Documents folder, a zero-filled Platform whose data folder lies in it, and
// the file thread's state, for tests that run file-thread passes by hand.
#pragma once
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Platform/FileThread.h"
#include "Platform/SystemInfo.h"

class FileThreadFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvik-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        std::filesystem::create_directory(home + "/Documents");
        if (const char* value = std::getenv("HOME")) savedHome = value, hadHome = true;
        if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value, hadConfig = true;
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        platform = (Platform*)std::calloc(1, sizeof(Platform));
        readDataFolder(platform);
        dataFolder = home + "/Documents/Tarnwick/";
        ASSERT_EQ(std::string(platform->dataFolder.text), dataFolder);
    }

    void TearDown() override {
        finishFileThread(&state);
        freeWhatTheTablesHold();
        std::free(platform);
        if (hadHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
        if (hadConfig) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    }

    void pass() { runFileThreadPass(&state, platform); }

    // As at the program's end, a test may stop with reads delivered but not yet taken and jobs not
    // yet run: their buffers go with the tables.
    void freeWhatTheTablesHold() { freeFileThreadBuffers(platform); }

    // Writes a file below the data folder (or at an absolute path), creating its folders.
    static void writeFile(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    void writeDataFile(const std::string& relative, const std::string& bytes) { writeFile(dataFolder + relative, bytes); }

    static std::string readWholeFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static std::string bytesOf(const u8* data, u64 count) { return std::string((const char*)data, count); }

    std::string home;
    std::string dataFolder;
    Platform* platform = nullptr;
    FileThreadState state{};

private:
    std::string savedHome;
    std::string savedConfig;
    bool hadHome = false;
    bool hadConfig = false;
};

// Mounts a tmpfs with the options ("size=4m", "ro,size=1m") over folder in a mount namespace of the
// calling process's own (a user namespace too when it is not root). Call it in a child process
// (runInChildProcess): the parent's view of the folder stays as it was. Returns why it could not.
inline std::string mountPrivateTmpfs(const std::string& folder, const char* options) {
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        return std::string("no mount namespace: ") + std::strerror(errno);
    }
    if (uid != 0) {
        auto put = [](const char* file, const std::string& text) {
            int fd = open(file, O_WRONLY);
            bool ok = fd >= 0 && write(fd, text.data(), text.size()) == (ssize_t)text.size();
            if (fd >= 0) close(fd);
            return ok;
        };
        if (!put("/proc/self/setgroups", "deny") || !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return "no user namespace mapping";
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return "mounts cannot be made private";
    unsigned long flags = std::strncmp(options, "ro", 2) == 0 ? MS_RDONLY : 0;
    if (mount("orvik-test", folder.c_str(), "tmpfs", flags, options) != 0) {
        return std::string("a tmpfs cannot be mounted: ") + std::strerror(errno);
    }
    return "";
}

// Runs body in a forked child that first mounts a private tmpfs over folder, and hands back what the
// child wrote to its report file (outside the mount). *skipped receives why no tmpfs could be had.
inline std::string runWithPrivateTmpfs(const std::string& folder, const char* options, const std::string& reportPath,
                                       const std::function<std::string()>& body, std::string* skipped) {
    pid_t child = fork();
    if (child == 0) {
        std::string why = mountPrivateTmpfs(folder, options);
        std::string report = why.empty() ? body() : why;
        std::FILE* out = std::fopen(reportPath.c_str(), "wb");
        if (out) {
            std::fwrite(report.data(), 1, report.size(), out);
            std::fclose(out);
        }
        _exit(why.empty() ? 0 : 77);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        *skipped = "";
        return "the child did not end normally";
    }
    std::ifstream in(reportPath, std::ios::binary);
    std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    *skipped = WEXITSTATUS(status) == 77 ? report : "";
    return report;
}
