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
    u64 (*clock)();  // the time source in microseconds; null: getMicroseconds
    i32 paused;      // open ProfilingPause scopes: regions entered meanwhile are not recorded
};

extern Profiler globalProfiler;

// Region entry and exit on a given profiler, without the thread test.
void enterProfilingRegion(Profiler* profiler, const char* name);
void exitProfilingRegionIn(Profiler* profiler, const char* name);
// The thread test, then entry or exit on globalProfiler. Only the thread whose stack made the first
// entry is profiled; calls from other threads do nothing.
void enterProfilingRegionChecked(const char* name);
void exitProfilingRegion(const char* name);

// The report in padded columns (appendProfilingReport) or tab-separated (appendProfilingReportB).
void appendProfilingReport(Profiler* profiler, ByteWriter* writer);
void appendProfilingReportB(Profiler* profiler, ByteWriter* writer);
// One region's row and then its subtree's rows. nameWidth is the padded report's first column width.
void appendProfilingRegionTree(Profiler* profiler, const ProfilingRegion* region, i32 level, i64 nameWidth,
                               i64 rootTotal, i64 parentTotal, ByteWriter* writer);
void appendProfilingRegionTreeB(Profiler* profiler, const ProfilingRegion* region, i32 level, i64 rootTotal,
                                i64 parentTotal, ByteWriter* writer);
// Writes the padded report to standard output.
void printProfilingReport(Profiler* profiler);

// Leaves out of globalProfiler every region entered on the profiled thread for the rest of the
// enclosing scope (the work inside still counts in the regions already open). A flight-log replay
// runs the whole drone link per recorded datagram: timing each of its regions would cost more than
// the work, and would mix the replayed link's times into the live link's rows.
struct ProfilingPause {
    u32 active;
    ProfilingPause();
    ~ProfilingPause();
    ProfilingPause(const ProfilingPause&) = delete;
    ProfilingPause& operator=(const ProfilingPause&) = delete;
};

// Opens a region for the rest of the enclosing scope.
struct ProfilingScope {
    const char* name;
    explicit ProfilingScope(const char* regionName) : name(regionName) { enterProfilingRegionChecked(name); }
    ~ProfilingScope() { exitProfilingRegion(name); }
    ProfilingScope(const ProfilingScope&) = delete;
    ProfilingScope& operator=(const ProfilingScope&) = delete;
};
