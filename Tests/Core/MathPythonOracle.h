// Runs a script under Debian's Python and hands back the numbers it prints, for tests that compare
// against Python's own math.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace mathoracle {

// Runs `script` with /usr/bin/python3 and returns every whitespace-separated number it printed
// (Python's repr of a float reads back exactly). An empty result means that Python could not run.
inline std::vector<double> runPython(const std::string& script) {
    char path[] = "/tmp/orvik-math-oracle-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return {};
    FILE* file = fdopen(fd, "w");
    fputs(script.c_str(), file);
    fclose(file);
    std::string command = std::string("/usr/bin/python3 ") + path;
    FILE* pipe = popen(command.c_str(), "r");
    std::string text;
    if (pipe) {
        char buffer[65536];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
        pclose(pipe);
    }
    remove(path);
    std::vector<double> numbers;
    const char* at = text.c_str();
    for (;;) {
        char* end = nullptr;
        double value = strtod(at, &end);
        if (end == at) break;
        numbers.push_back(value);
        at = end;
    }
    return numbers;
}

}  // namespace mathoracle
