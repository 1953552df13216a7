// The idle program's processor use per frame on the display it finds (run it under Xvfb, where the
// buffer swap does not wait for a display refresh): the program runs twice, for a few frames and for
// many, and the difference between the runs is the cost of the frames alone, start-up excluded.
// "cpu_share" is processor time over wall time for those frames: near 1 means a core kept busy.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Run {
    double cpuSeconds;
    double wallSeconds;
    bool ok;
};

// The program for a number of frames in a temporary home, cut off from every network.
Run runProgram(int frames, const std::string& home) {
    std::vector<std::string> settings = {"HOME=" + home, "ORVIK_EXIT_AFTER_FRAMES=" + std::to_string(frames),
                                         "SDL_AUDIODRIVER=dummy", "ASAN_OPTIONS=detect_leaks=0"};
    std::vector<char*> environment;
    for (std::string& setting : settings) environment.push_back(setting.data());
    for (char** entry = environ; *entry; entry++) {
        std::string name(*entry);
        name = name.substr(0, name.find('='));
        if (name != "HOME" && name != "ORVIK_EXIT_AFTER_FRAMES" && name != "ASAN_OPTIONS" && name != "XDG_CONFIG_HOME") {
            environment.push_back(*entry);
        }
    }
    environment.push_back(nullptr);
    std::string program = ORVIK_PROGRAM;
    std::vector<char*> arguments = {(char*)"unshare", (char*)"-n", program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, "unshare", &actions, nullptr, arguments.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {0, 0, false};
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double cpu = (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6 + (double)usage.ru_stime.tv_sec +
                 (double)usage.ru_stime.tv_usec / 1e6;
    return {cpu, wall, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

void idleFramesOnTheTestDisplay(benchmark::State& state) {
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no display: run under xvfb-run");
        return;
    }
    char pattern[] = "/tmp/orvik-pacing-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string home = pattern;
    constexpr int kFewFrames = 30;
    const int manyFrames = (int)state.range(0);
    double cpu = 0, wall = 0;
    bool manyFirst = false;  // the run that goes first takes turns
    for (auto _ : state) {
        Run few{}, many{};
        if (manyFirst) many = runProgram(kFewFrames + manyFrames, home);
        few = runProgram(kFewFrames, home);
        if (!manyFirst) many = runProgram(kFewFrames + manyFrames, home);
        manyFirst = !manyFirst;
        if (!few.ok || !many.ok) {
            state.SkipWithError("the program did not end by itself");
            break;
        }
        cpu += many.cpuSeconds - few.cpuSeconds;
        wall += many.wallSeconds - few.wallSeconds;
        state.SetIterationTime(many.wallSeconds - few.wallSeconds);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    double frames = (double)manyFrames * (double)state.iterations();
    state.counters["cpu_ms_per_frame"] = frames > 0 ? 1000.0 * cpu / frames : 0;
    state.counters["wall_ms_per_frame"] = frames > 0 ? 1000.0 * wall / frames : 0;
    state.counters["cpu_share"] = wall > 0 ? cpu / wall : 0;
}
BENCHMARK(idleFramesOnTheTestDisplay)->Arg(300)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
