// A temporary HOME with a Documents folder, a zero-filled Platform whose data folder lies in it, and
// the file thread's state, for tests that run file-thread passes by hand.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
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
