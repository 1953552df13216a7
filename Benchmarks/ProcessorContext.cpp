// Built into every benchmark: the context printed above each table names the processor the figures
// came from (the "model name" of /proc/cpuinfo) and how many the process may use, so that a figure
// copied from the output can say where it was measured.
#include <benchmark/benchmark.h>
#include <sched.h>

#include <fstream>
#include <string>

namespace {

std::string processorName() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) != 0) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) break;
        size_t start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return "unknown (no model name in /proc/cpuinfo)";
}

[[maybe_unused]] const bool kNamed = [] {
    benchmark::AddCustomContext("processor", processorName());
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        benchmark::AddCustomContext("processors_usable", std::to_string(CPU_COUNT(&set)));
    }
    return true;
}();

}  // namespace
