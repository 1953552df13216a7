// Start to first frame with software OpenGL (Mesa's llvmpipe; run it under Xvfb): the program is
// started with ORVIK_STARTUP_REPORT, which makes it write when main began, when its set-up ended and
// when its first complete frame (the font and every shader program and image asset it drew were
// ready) came back from the buffer swap, and then close its window. The times are measured from just
// before the program is started, on the same monotonic clock. Each figure is the median of the runs:
// "first_frame_ms" start to first complete frame, "setup_ms" start to the end of the set-up (loading
// the program and its libraries included), "main_setup_ms" the set-up in main alone, "frames" the
// frames drawn up to the first complete one. Arg 1 runs without Mesa's shader cache (a first start).
// Pin it with taskset to see the start on one core: the program and its threads inherit the mask.
// With ORVIK_REFERENCE_PROGRAM naming another build of the program (one that writes the same
// report), the two start in turn and "reference_*" and "ratio" (reference / this one, first frame)
// follow, so that a loaded machine slows both alike.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct StartRun {
    double firstFrameMs;
    double setUpMs;
    double mainSetUpMs;
    double frames;
    bool ok;
};

unsigned long long monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long long)now.tv_sec * 1000000 + (unsigned long long)now.tv_nsec / 1000;
}

// One start in a temporary home, cut off from every network, on software GL.
StartRun startProgram(const std::string& program, const std::string& home, bool coldShaderCache) {
    std::vector<std::string> settings = {"HOME=" + home, "ORVIK_STARTUP_REPORT=1", "SDL_AUDIODRIVER=dummy",
                                         "LIBGL_ALWAYS_SOFTWARE=1", "GALLIUM_DRIVER=llvmpipe",
                                         "ASAN_OPTIONS=detect_leaks=0"};
    if (coldShaderCache) settings.push_back("MESA_SHADER_CACHE_DISABLE=true");
    std::vector<char*> environment;
    for (std::string& setting : settings) environment.push_back(setting.data());
    for (char** entry = environ; *entry; entry++) {
        std::string name(*entry);
        name = name.substr(0, name.find('='));
        if (name != "HOME" && name != "ORVIK_EXIT_AFTER_FRAMES" && name != "ORVIK_STARTUP_REPORT" &&
            name != "ASAN_OPTIONS" && name != "XDG_CONFIG_HOME" && name != "LIBGL_ALWAYS_SOFTWARE" &&
            name != "GALLIUM_DRIVER" && name != "MESA_SHADER_CACHE_DISABLE") {
            environment.push_back(*entry);
        }
    }
    environment.push_back(nullptr);
    int output[2];
    if (pipe(output) != 0) return {};
    std::vector<char*> arguments = {(char*)"unshare", (char*)"-n", (char*)program.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
    unsigned long long start = monotonicMicroseconds();
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, "unshare", &actions, nullptr, arguments.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (spawned != 0) {
        close(output[0]);
        return {};
    }
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;) text.append(buffer, (size_t)got);
    close(output[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    unsigned long long mainAt = 0, setUpAt = 0, frameAt = 0, frame = 0;
    size_t at = text.find("Start-up: ");
    if (at == std::string::npos ||
        std::sscanf(text.c_str() + at, "Start-up: main %llu, set-up done %llu, first complete frame presented %llu (frame %llu)",
                    &mainAt, &setUpAt, &frameAt, &frame) != 4 ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return {};
    }
    return {(double)(frameAt - start) / 1000.0, (double)(setUpAt - start) / 1000.0, (double)(setUpAt - mainAt) / 1000.0,
            (double)frame, true};
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void startToFirstFrame(benchmark::State& state) {
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no display: run under xvfb-run");
        return;
    }
    char pattern[] = "/tmp/orvik-startup-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string home = pattern;
    bool cold = state.range(0) != 0;
    const char* reference = std::getenv("ORVIK_REFERENCE_PROGRAM");
    std::string programs[2] = {ORVIK_PROGRAM, reference ? reference : ""};
    int count = reference && reference[0] ? 2 : 1;
    // The first start makes the data folder and its files: later starts find them, as a user's do.
    bool ready = true;
    for (int p = 0; p < count; p++) ready = ready && startProgram(programs[p], home, cold).ok;
    std::vector<double> firstFrame[2], setUp[2], mainSetUp[2], frames[2];
    for (auto _ : state) {
        StartRun runs[2] = {};
        for (int p = 0; p < count; p++) runs[p] = ready ? startProgram(programs[p], home, cold) : StartRun{};
        if (!runs[0].ok || (count == 2 && !runs[1].ok)) {
            state.SkipWithError("a program did not report its first complete frame");
            break;
        }
        for (int p = 0; p < count; p++) {
            firstFrame[p].push_back(runs[p].firstFrameMs);
            setUp[p].push_back(runs[p].setUpMs);
            mainSetUp[p].push_back(runs[p].mainSetUpMs);
            frames[p].push_back(runs[p].frames);
        }
        state.SetIterationTime(runs[0].firstFrameMs / 1000.0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    state.counters["first_frame_ms"] = median(firstFrame[0]);
    state.counters["setup_ms"] = median(setUp[0]);
    state.counters["main_setup_ms"] = median(mainSetUp[0]);
    state.counters["frames"] = median(frames[0]);
    if (count == 2) {
        state.counters["reference_first_frame_ms"] = median(firstFrame[1]);
        state.counters["reference_setup_ms"] = median(setUp[1]);
        state.counters["reference_frames"] = median(frames[1]);
        double ours = median(firstFrame[0]);
        state.counters["ratio"] = ours > 0 ? median(firstFrame[1]) / ours : 0;
    }
}
BENCHMARK(startToFirstFrame)->Arg(0)->Arg(1)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
