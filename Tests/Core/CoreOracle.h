// Runs one of the Python oracle scripts of Tests/Core/oracles under Debian's Python: the script reads
// a binary input file and writes a binary output file, whose bytes come back to the test.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace coreoracle {

// Empty when Python could not run the script; `ok` tells the two apart from an empty answer.
inline std::string runScript(const char* scriptName, const std::string& input, bool* ok) {
    *ok = false;
    char inputPath[] = "/tmp/orvik-core-oracle-in-XXXXXX";
    char outputPath[] = "/tmp/orvik-core-oracle-out-XXXXXX";
    int inputFd = mkstemp(inputPath);
    int outputFd = mkstemp(outputPath);
    if (inputFd < 0 || outputFd < 0) return {};
    close(outputFd);
    FILE* file = fdopen(inputFd, "wb");
    fwrite(input.data(), 1, input.size(), file);
    fclose(file);
    std::string command = std::string("/usr/bin/python3 ") + ORVIK_SOURCE_DIR + "/Tests/Core/oracles/" + scriptName +
                          " " + inputPath + " " + outputPath;
    int status = std::system(command.c_str());
    std::string output;
    if (status == 0) {
        FILE* result = fopen(outputPath, "rb");
        if (result) {
            char buffer[65536];
            size_t got;
            while ((got = fread(buffer, 1, sizeof buffer, result)) > 0) output.append(buffer, got);
            fclose(result);
            *ok = true;
        }
    }
    remove(inputPath);
    remove(outputPath);
    return output;
}

}  // namespace coreoracle
