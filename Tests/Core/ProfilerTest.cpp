// The profiler's region tree (nesting, re-entry, limits, the thread test) and its two report layouts,
// driven by an injected clock.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Core/Profiler.h"

namespace {

u64 fakeTime = 0;
u64 fakeClock() { return fakeTime; }

std::unique_ptr<Profiler> makeProfiler() {
    std::unique_ptr<Profiler> profiler(new Profiler());
    profiler->clock = fakeClock;
    fakeTime = 0;
    return profiler;
}

// Region names are told apart by address, so each is one shared literal.
const char* const kMainLoop = "Main Loop";
const char* const kUpdate = "Update";
const char* const kDraw = "Draw";
const char* const kSwap = "Swap";
const char* const kParsePng = "Parse PNG";
const char* const kInstant = "Instant";
const char* const kNeverLeft = "Never Left";

void enterAt(Profiler* p, u64 time, const char* name) {
    fakeTime = time;
    enterProfilingRegion(p, name);
}

void exitAt(Profiler* p, u64 time, const char* name) {
    fakeTime = time;
    exitProfilingRegionIn(p, name);
}

// Two frames of a main loop with nested regions, a second root, a root that takes no time, and a
// root that is never left.
void buildKnownTree(Profiler* p) {
    enterAt(p, 0, kMainLoop);
    enterAt(p, 100, kUpdate);
    exitAt(p, 600, kUpdate);
    enterAt(p, 600, kDraw);
    enterAt(p, 1000, kSwap);
    exitAt(p, 1200, kSwap);
    exitAt(p, 1600, kDraw);
    exitAt(p, 2000, kMainLoop);

    enterAt(p, 2000, kMainLoop);
    enterAt(p, 2000, kUpdate);
    exitAt(p, 3500, kUpdate);
    exitAt(p, 4000, kMainLoop);

    enterAt(p, 5000, kParsePng);
    exitAt(p, 5250, kParsePng);
    enterAt(p, 6000, kInstant);
    exitAt(p, 6000, kInstant);
    enterAt(p, 7000, kNeverLeft);
}

std::string report(Profiler* p, bool tabs, i64 capacity = 1 << 16) {
    std::vector<u8> buffer((size_t)capacity);
    ByteWriter writer = makeByteWriter(buffer.data(), capacity);
    if (tabs) {
        appendProfilingReportB(p, &writer);
    } else {
        appendProfilingReport(p, &writer);
    }
    return std::string((const char*)buffer.data(), (size_t)writer.length);
}

}  // namespace

TEST(Profiler, PaddedReportOfAKnownTree) {
    auto p = makeProfiler();
    buildKnownTree(p.get());
    EXPECT_EQ(p->errorFlags, 0u);
    const std::string expected =
        "--- Profiling Report ---  % top    % previous   average (ms)           runs       min (ms)       max (ms)      last (ms)\n"
        "Main Loop                100.0          100.0          2.000              2          2.000          2.000          2.000\n"
        "  Update                  50.0           50.0          1.000              2          0.500          1.500          1.500\n"
        "  Draw                    25.0           25.0          1.000              1          1.000          1.000          1.000\n"
        "    Swap                   5.0           20.0          0.200              1          0.200          0.200          0.200\n"
        "\n"
        "Parse PNG                100.0          100.0          0.250              1          0.250          0.250          0.250\n"
        "\n"
        "Instant                    ---            ---          0.000              1          0.000          0.000          0.000\n"
        "\n"
        "Never Left\n";
    EXPECT_EQ(report(p.get(), false), expected);
}

TEST(Profiler, TabSeparatedReportOfAKnownTree) {
    auto p = makeProfiler();
    buildKnownTree(p.get());
    const std::string expected =
        "--- Profiling Report --- \t % top\t % previous\t average (ms)\t runs\t min (ms)\t max (ms)\t last (ms)\n"
        "Main Loop\t100.0\t100.0\t2.000\t2\t2.000\t2.000\t2.000\n"
        "\tUpdate\t50.0\t50.0\t1.000\t2\t0.500\t1.500\t1.500\n"
        "\tDraw\t25.0\t25.0\t1.000\t1\t1.000\t1.000\t1.000\n"
        "\t\tSwap\t5.0\t20.0\t0.200\t1\t0.200\t0.200\t0.200\n"
        " \t\t\t\t\t\t\t\n"
        "Parse PNG\t100.0\t100.0\t0.250\t1\t0.250\t0.250\t0.250\n"
        " \t\t\t\t\t\t\t\n"
        "Instant\t---\t---\t0.000\t1\t0.000\t0.000\t0.000\n"
        " \t\t\t\t\t\t\t\n"
        "Never Left\t\t\t\t\t\t\t\n";
    EXPECT_EQ(report(p.get(), true), expected);
}

TEST(Profiler, LongNamesWidenTheNameColumn) {
    auto p = makeProfiler();
    const char* longName = "A region with a rather long name";  // 32 characters
    const char* child = "Child";
    enterAt(p.get(), 0, longName);
    enterAt(p.get(), 0, child);
    exitAt(p.get(), 1000, longName);
    std::string text = report(p.get(), false);
    // W = 10 + 32: the "% top" column ends at 42 on every line.
    size_t firstRow = text.find('\n') + 1;
    EXPECT_EQ(text.substr(0, 42), "--- Profiling Report ---" + std::string(12, ' ') + " % top");
    EXPECT_EQ(text.substr(firstRow, 42), std::string(longName) + std::string(5, ' ') + "100.0");
    size_t secondRow = text.find('\n', firstRow) + 1;
    EXPECT_EQ(text.substr(secondRow, 42), "  Child" + std::string(30, ' ') + "100.0");
}

TEST(Profiler, ReportsMeasureExactlyAsTheyFill) {
    auto p = makeProfiler();
    buildKnownTree(p.get());
    for (bool tabs : {false, true}) {
        std::string full = report(p.get(), tabs);
        for (i64 capacity : {(i64)0, (i64)10, (i64)200, (i64)full.size() - 1, (i64)full.size(), (i64)1 << 20}) {
            std::vector<u8> buffer((size_t)capacity + 1);
            ByteWriter filling = makeByteWriter(buffer.data(), capacity);
            ByteWriter measuring = makeMeasuringWriter(capacity);
            if (tabs) {
                appendProfilingReportB(p.get(), &filling);
                appendProfilingReportB(p.get(), &measuring);
            } else {
                appendProfilingReport(p.get(), &filling);
                appendProfilingReport(p.get(), &measuring);
            }
            EXPECT_EQ(measuring.length, filling.length) << capacity;
            EXPECT_EQ(measuring.overflow, filling.overflow) << capacity;
            EXPECT_EQ(std::string((const char*)buffer.data(), (size_t)filling.length), full.substr(0, (size_t)filling.length));
        }
    }
}

TEST(Profiler, LeavingAnOuterRegionClosesTheInnerOnes) {
    auto p = makeProfiler();
    const char* a = "A";
    const char* b = "B";
    enterAt(p.get(), 0, a);
    enterAt(p.get(), 10, b);
    exitAt(p.get(), 50, a);
    EXPECT_EQ(p->depth, 0);
    ASSERT_EQ(p->rootCount, 1);
    EXPECT_EQ(p->roots[0].runs, 1u);
    EXPECT_EQ(p->roots[0].total, 50);
    ASSERT_EQ(p->roots[0].childCount, 1);
    EXPECT_EQ(p->pool[p->roots[0].children[0]].runs, 1u);
    EXPECT_EQ(p->pool[p->roots[0].children[0]].last, 40);
    // Leaving a region that is not open changes nothing.
    exitAt(p.get(), 60, b);
    EXPECT_EQ(p->pool[p->roots[0].children[0]].runs, 1u);
}

TEST(Profiler, ReEnteringAnOpenRegionRestartsIt) {
    auto p = makeProfiler();
    const char* a = "A";
    const char* b = "B";
    enterAt(p.get(), 0, a);
    enterAt(p.get(), 0, a);  // at depth 1: the open "A" restarts
    EXPECT_EQ(p->depth, 1);
    enterAt(p.get(), 10, b);
    enterAt(p.get(), 20, a);  // "B" is dropped without a run, "A" restarts at 20
    EXPECT_EQ(p->depth, 1);
    exitAt(p.get(), 100, a);
    EXPECT_EQ(p->roots[0].runs, 1u);
    EXPECT_EQ(p->roots[0].total, 80);
    EXPECT_EQ(p->pool[p->roots[0].children[0]].runs, 0u);
    EXPECT_EQ(p->rootCount, 1);
    EXPECT_EQ(p->poolCount, 1);

    // The same text at another address is another region.
    static const char otherA[] = "A";
    enterAt(p.get(), 200, a);
    enterAt(p.get(), 200, otherA);
    exitAt(p.get(), 300, a);
    EXPECT_EQ(p->roots[0].childCount, 2);
    EXPECT_EQ(p->roots[0].runs, 2u);
    EXPECT_EQ(p->roots[0].minimum, 80);
    EXPECT_EQ(p->roots[0].maximum, 100);
}

TEST(Profiler, LimitsRefuseNewRegions) {
    auto p = makeProfiler();
    static char names[80][8];
    for (int i = 0; i < 80; i++) std::snprintf(names[i], sizeof names[i], "R%d", i);
    for (int i = 0; i < 64; i++) {
        enterAt(p.get(), 0, names[i]);
        exitAt(p.get(), 1, names[i]);
    }
    EXPECT_EQ(p->errorFlags, 0u);
    enterAt(p.get(), 0, names[64]);
    EXPECT_EQ(p->errorFlags, (u32)ProfilerTooManyRoots);
    EXPECT_EQ(p->rootCount, 64);
    EXPECT_EQ(p->depth, 0);
    exitAt(p.get(), 5, names[64]);  // its exit does nothing
    EXPECT_EQ(p->depth, 0);

    // 64 children per region, then flag 2.
    enterAt(p.get(), 0, names[0]);
    for (int i = 1; i <= 65; i++) {
        enterAt(p.get(), 0, names[i]);
        if (i <= 64) exitAt(p.get(), 1, names[i]);
    }
    EXPECT_EQ(p->roots[0].childCount, 64);
    EXPECT_EQ(p->errorFlags & ProfilerTooManyChildren, (u32)ProfilerTooManyChildren);
    EXPECT_EQ(p->depth, 1);
    exitAt(p.get(), 2, names[0]);

    // 20 levels, then flag 4.
    for (int i = 0; i < 21; i++) enterAt(p.get(), 0, names[i]);
    EXPECT_EQ(p->depth, 20);
    EXPECT_EQ(p->errorFlags & ProfilerTooDeep, (u32)ProfilerTooDeep);
    exitAt(p.get(), 3, names[0]);
    EXPECT_EQ(p->depth, 0);
}

TEST(Profiler, PoolLimitSetsTheChildrenFlag) {
    auto p = makeProfiler();
    // Fill the pool by hand up to its last slot, as a long-running program would.
    p->poolCount = 65535;
    const char* root = "Root";
    const char* last = "Last";
    const char* refused = "Refused";
    enterAt(p.get(), 0, root);
    enterAt(p.get(), 0, last);
    exitAt(p.get(), 1, last);
    EXPECT_EQ(p->poolCount, 65536);
    EXPECT_EQ(p->roots[0].children[0], 65535);
    enterAt(p.get(), 1, refused);
    EXPECT_EQ(p->errorFlags, (u32)ProfilerTooManyChildren);
    EXPECT_EQ(p->depth, 1);
}

TEST(Profiler, OnlyTheFirstCallersThreadIsProfiled) {
    static const char mainRegion[] = "Profiled thread region";
    static const char workerRegion[] = "Worker thread region";
    globalProfiler.clock = fakeClock;
    enterProfilingRegionChecked(mainRegion);
    std::thread worker([] {
        enterProfilingRegionChecked(workerRegion);
        exitProfilingRegion(workerRegion);
        exitProfilingRegion(mainRegion);  // must not close the main thread's region
    });
    worker.join();
    bool mainOpen = false;
    for (i32 i = 0; i < globalProfiler.depth; i++) mainOpen |= globalProfiler.stack[i]->name == mainRegion;
    EXPECT_TRUE(mainOpen);
    {
        ProfilingScope scope(workerRegion);  // on this thread it is recorded, nested in the open region
    }
    exitProfilingRegion(mainRegion);
    bool workerSeen = false;
    for (i32 i = 0; i < globalProfiler.rootCount; i++) {
        const ProfilingRegion& root = globalProfiler.roots[i];
        if (root.name == workerRegion) workerSeen = true;
        if (root.name != mainRegion) continue;
        EXPECT_EQ(root.runs, 1u);
        ASSERT_EQ(root.childCount, 1);
        EXPECT_EQ(globalProfiler.pool[root.children[0]].runs, 1u);
    }
    EXPECT_FALSE(workerSeen);
    globalProfiler.clock = nullptr;
}

TEST(Profiler, RegionsInsideAPauseAreLeftOutAndTheOpenOnesStillClose) {
    static const char outer[] = "Region around a pause";
    static const char inner[] = "Region inside a pause";
    globalProfiler.clock = fakeClock;
    i32 depth = globalProfiler.depth;
    enterProfilingRegionChecked(outer);
    {
        ProfilingPause pause;
        ProfilingScope scope(inner);
        exitProfilingRegion(outer);  // must not close the region opened before the pause
        EXPECT_EQ(globalProfiler.depth, depth + 1);
    }
    EXPECT_EQ(globalProfiler.paused, 0);
    exitProfilingRegion(outer);
    EXPECT_EQ(globalProfiler.depth, depth);
    const ProfilingRegion* found = nullptr;
    for (i32 i = 0; i < globalProfiler.rootCount; i++) {
        if (globalProfiler.roots[i].name == outer) found = &globalProfiler.roots[i];
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->runs, 1u);
    EXPECT_EQ(found->childCount, 0);
    globalProfiler.clock = nullptr;
}
