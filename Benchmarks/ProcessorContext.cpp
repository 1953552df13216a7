// Built into every benchmark: the context printed above each table names the processor the figures
// came from (from /proc/cpuinfo) and how many the process may use, so that a figure
// copied from the output can say where it was measured.
#include <benchmark/benchmark.h>
#include <sched.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

// "model name" of the first processor, with its family, model and stepping (a virtual machine may
// name only the maker's line: "AMD EPYC (family 25, model 1, stepping 1)" still tells the generation).
std::string processorName() {
    std::ifstream in("/proc/cpuinfo");
    std::string line, name, family, model, stepping;
    auto value = [&](const char* key, std::string* out) {
        if (!out->empty() || line.rfind(key, 0) != 0) return;
        size_t colon = line.find(':');
        if (colon == std::string::npos || line.find_first_not_of(" \t", std::strlen(key)) != colon) return;
        size_t start = line.find_first_not_of(" \t", colon + 1);
        *out = start == std::string::npos ? std::string() : line.substr(start);
    };
    while (std::getline(in, line) && !line.empty()) {
        value("model name", &name);
        value("cpu family", &family);
        value("model", &model);
        value("stepping", &stepping);
    }
    if (name.empty()) return "unknown (no model name in /proc/cpuinfo)";
    if (family.empty()) return name;
    return name + " (family " + family + ", model " + model + ", stepping " + stepping + ")";
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
