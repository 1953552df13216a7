// Our code beside a reference library on the same work, in one benchmark case: every iteration runs
// each side once, in turn, the side that goes first changing from one iteration to the next, each
// timed by the whole process's processor time (the machine may be shared; waiting is nobody's work;
// a library's helper threads are part of its side's work, and nothing else runs meanwhile). A
// side whose work is short runs it several times back to back per timing, the same count every
// iteration. The case's time is the whole iteration's (manual time); its counters are each side's median time per
// run of its work in microseconds ("<side>_us") and, per reference, "ratio_<side>": the reference's
// median time over ours (1.0 is as fast as the reference, 0.5 half as fast). Use it as
//     void Aes128Gcm(benchmark::State& state) {
//         compareSides(state, {{"ours", [&] { ... return true; }}, {"openssl", [&] { ... return true; }}});
//     }
//     BENCHMARK(Aes128Gcm)->UseManualTime();
//     int main(int argc, char** argv) { return runWithReferenceRatios(argc, argv); }
// The first side is ours. A side's work returns false when it failed (the case then stops with an
// error). After the console table, runWithReferenceRatios prints every ratio once more, one line per
// case and reference (the median over repetitions when they are asked for).
#pragma once
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct BenchmarkSide {
    std::string name;
    std::function<bool()> work;
};

namespace referenceratio {

// The process's processor time in seconds, all its threads together.
inline double processSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Each timing should last at least this long, so that reading the clock weighs nothing.
constexpr double kShortestTiming = 200e-6;

// Prints, after the console table, every "ratio_" counter of every case (of the median aggregate
// when repetitions are reported).
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<std::pair<std::string, double>>> ratios;

    Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") continue;
            std::string key = run.run_name.function_name;
            if (!run.run_name.args.empty()) key += "/" + run.run_name.args;
            std::vector<std::pair<std::string, double>> found;
            for (const auto& [name, counter] : run.counters) {
                if (name.rfind("ratio_", 0) == 0) found.emplace_back(name.substr(6), counter.value);
            }
            // A median over repetitions replaces the single runs it sums up.
            if (!found.empty() && (aggregate || !ratios.count(key))) ratios[key] = found;
        }
    }
};

}  // namespace referenceratio

inline void compareSides(benchmark::State& state, std::vector<BenchmarkSide> sides) {
    using referenceratio::processSeconds;
    // How many runs of each side's work make one timing long enough.
    std::vector<int> repeats(sides.size(), 1);
    for (size_t s = 0; s < sides.size(); s++) {
        double start = processSeconds();
        if (!sides[s].work()) return state.SkipWithError((sides[s].name + " failed").c_str());
        double once = processSeconds() - start;
        if (once < referenceratio::kShortestTiming)
            repeats[s] = (int)std::min(100000.0, referenceratio::kShortestTiming / std::max(once, 1e-8)) + 1;
    }
    std::vector<std::vector<double>> times(sides.size());
    size_t iteration = 0;
    for (auto _ : state) {
        double whole = 0;
        for (size_t k = 0; k < sides.size(); k++) {
            size_t s = (k + iteration) % sides.size();
            bool ok = true;
            double start = processSeconds();
            for (int r = 0; r < repeats[s]; r++) ok = sides[s].work() && ok;
            double seconds = processSeconds() - start;
            if (!ok) return state.SkipWithError((sides[s].name + " failed").c_str());
            times[s].push_back(seconds / repeats[s]);
            whole += seconds;
        }
        state.SetIterationTime(whole);
        iteration++;
    }
    double ours = referenceratio::median(times[0]);
    for (size_t s = 0; s < sides.size(); s++) {
        double side = referenceratio::median(times[s]);
        state.counters[sides[s].name + "_us"] = side * 1e6;
        if (s > 0 && ours > 0) state.counters["ratio_" + sides[s].name] = side / ours;
    }
}

inline int runWithReferenceRatios(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    referenceratio::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    if (collector.ratios.empty()) return 0;
    printf("\nThroughput ratio, ours / reference (median process CPU time per run; 1.0 = as fast):\n");
    for (const auto& [name, ratios] : collector.ratios) {
        for (const auto& [reference, ratio] : ratios)
            printf("  %-40s %-12s %8.3f\n", name.c_str(), reference.c_str(), ratio);
    }
    return 0;
}
