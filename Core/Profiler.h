// Named profiling regions of the main thread, kept as a tree with run counts and times, and the
// text reports built from it.
#pragma once
#include "Core/FixedString.h"

struct ProfilingRegion {
    u64 runs;
    i32 childCount;
    const char* name;  // identified by address, not by characters
    i64 total;
    i64 minimum;
    i64 maximum;
    i64 last;
    i64 start;
    u16 children[64];
};

enum ProfilerErrorFlags : u32 {
    ProfilerTooManyRoots = 1,
    ProfilerTooManyChildren = 2,
    ProfilerTooDeep = 4,
};

struct Profiler {
    i32 rootCount;
    i32 poolCount;
    i32 depth;
    u32 errorFlags;
    ProfilingRegion* stack[20];
    ProfilingRegion roots[64];
    ProfilingRegion pool[65536];
};

extern Profiler globalProfiler;

void enterProfilingRegion(Profiler* profiler, const char* name);
void enterProfilingRegionChecked(const char* name);
void exitProfilingRegion(const char* name);
void appendProfilingReport(Profiler* profiler, ByteWriter* writer);
void appendProfilingReportB(Profiler* profiler, ByteWriter* writer);
void printProfilingReport(Profiler* profiler);

// Opens a region for the rest of the enclosing scope.
struct ProfilingScope {
    const char* name;
    explicit ProfilingScope(const char* regionName) : name(regionName) { enterProfilingRegionChecked(name); }
    ~ProfilingScope() { exitProfilingRegion(name); }
    ProfilingScope(const ProfilingScope&) = delete;
    ProfilingScope& operator=(const ProfilingScope&) = delete;
};
