// The main of a benchmark that runs the program's code beside a reference library in the same
// process: the usual console table, then one line per pair of cases named <Name>Ours and
// <Name><reference suffix> with the throughput ratio, ours / reference (the reference's median CPU
// time per iteration over ours: 1.0 is as fast as the reference, 0.5 half as fast). Use it as
//     int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv, "OpenSsl", "OpenSSL"); }
#pragma once
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace referenceratio {

// Collects every case's CPU time per iteration in seconds, or its median when the repetitions'
// aggregates are reported.
class Collector : public benchmark::ConsoleReporter {
public:
    struct Times {
        std::vector<double> samples;
        double median = -1;
    };
    std::map<std::string, Times> times;

    Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            std::string key = run.run_name.function_name + run.run_name.args;
            double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Iteration) times[key].samples.push_back(seconds);
            else if (run.aggregate_name == "median") times[key].median = seconds;
        }
    }

    double median(const std::string& key) const {
        auto found = times.find(key);
        if (found == times.end()) return -1;
        if (found->second.median > 0) return found->second.median;
        std::vector<double> sorted = found->second.samples;
        if (sorted.empty()) return -1;
        std::sort(sorted.begin(), sorted.end());
        size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
};

}  // namespace referenceratio

inline int runWithReferenceRatios(int argc, char** argv, const char* referenceSuffix, const char* referenceName) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    referenceratio::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    bool header = false;
    for (const auto& [key, times] : collector.times) {
        size_t at = key.find("Ours");
        if (at == std::string::npos) continue;
        std::string reference = key.substr(0, at) + referenceSuffix + key.substr(at + 4);
        double ours = collector.median(key), theirs = collector.median(reference);
        if (ours <= 0 || theirs <= 0) continue;
        if (!header) {
            printf("\nThroughput ratio, ours / %s (median CPU time per iteration; 1.0 = as fast):\n", referenceName);
            header = true;
        }
        std::string name = key.substr(0, at) + key.substr(at + 4);
        printf("  %-28s %8.3f  (ours %.2f us, %s %.2f us)\n", name.c_str(), theirs / ours, ours * 1e6, referenceName,
               theirs * 1e6);
    }
    return 0;
}
