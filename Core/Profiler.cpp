// The region tree of the main thread and its two report layouts.
//
// A region is identified by the address of its name text. Regions are only ever added; running out
// of roots, children, pool or depth refuses the new region and sets an error flag.
#include "Core/Profiler.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Core/Clock.h"

Profiler globalProfiler;

namespace {

constexpr i32 kMaxRoots = 64;
constexpr i32 kMaxChildren = 64;
constexpr i32 kMaxPool = 65536;
constexpr i32 kMaxDepth = 20;
constexpr uintptr_t kStackReach = 0x200000;
constexpr i64 kColumnStep = 15;
constexpr i32 kValueColumns = 7;

const char* const kColumnTitles[kValueColumns] = {
    " % top", " % previous", " average (ms)", " runs", " min (ms)", " max (ms)", " last (ms)",
};
const char kReportTitle[] = "--- Profiling Report --- ";

// The stack address of the first profiled call; 0 until then.
std::atomic<uintptr_t> profiledStack{0};

// True when the calling thread is the profiled one: its stack lies within 2 MB of the first caller's.
bool onProfiledThread() {
    uintptr_t here = (uintptr_t)__builtin_frame_address(0);
    // A plain load once the profiled thread is known: regions entered in tight loops (once per entry
    // of a flight log) cost other threads next to nothing.
    uintptr_t base = profiledStack.load(std::memory_order_acquire);
    if (base == 0) {
        uintptr_t expected = 0;
        if (profiledStack.compare_exchange_strong(expected, here)) return true;
        base = expected;
    }
    uintptr_t distance = here > base ? here - base : base - here;
    return distance <= kStackReach;
}

u64 now(Profiler* profiler) { return profiler->clock ? profiler->clock() : getMicroseconds(); }

void initRegion(ProfilingRegion* region, const char* name) {
    std::memset(region, 0, sizeof *region);
    region->name = name;
    region->minimum = INT64_MAX;
}

void recordRun(ProfilingRegion* region, i64 elapsed) {
    region->total += elapsed;
    region->runs += 1;
    region->last = elapsed;
    if (elapsed < region->minimum) region->minimum = elapsed;
    if (elapsed > region->maximum) region->maximum = elapsed;
}

// ---------------------------------------------------------------------------------------------------
// Report helpers

i64 widestIndentedName(const Profiler* profiler, const ProfilingRegion* region, i32 level) {
    i64 widest = (i64)std::strlen(region->name ? region->name : "") + 2 * level;
    for (i32 i = 0; i < region->childCount; i++) {
        i64 child = widestIndentedName(profiler, &profiler->pool[region->children[i]], level + 1);
        if (child > widest) widest = child;
    }
    return widest;
}

i64 nameColumnWidth(const Profiler* profiler) {
    i64 widest = 20;
    for (i32 i = 0; i < profiler->rootCount; i++) {
        i64 width = widestIndentedName(profiler, &profiler->roots[i], 0);
        if (width > widest) widest = width;
    }
    return 10 + widest;
}

// A share of a base total in tenths of a percent, rounded to the nearest tenth.
i64 tenthsOfPercent(i64 total, i64 base) { return (base / 2 + total * 1000) / base; }

// The seven values of a row with at least one finished run, as texts.
void rowValues(const ProfilingRegion* region, i64 rootTotal, i64 parentTotal, FixedString values[kValueColumns]) {
    values[0] = rootTotal == 0 ? makeString("---") : stringFromFixedPoint(tenthsOfPercent(region->total, rootTotal), 1);
    values[1] =
        parentTotal == 0 ? makeString("---") : stringFromFixedPoint(tenthsOfPercent(region->total, parentTotal), 1);
    values[2] = stringFromFixedPoint(region->total / (i64)region->runs, 3);
    values[3] = stringFromInt((i64)region->runs);
    values[4] = stringFromFixedPoint(region->minimum, 3);
    values[5] = stringFromFixedPoint(region->maximum, 3);
    values[6] = stringFromFixedPoint(region->last, 3);
}

const char* regionName(const ProfilingRegion* region) { return region->name ? region->name : ""; }

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Entering and leaving regions

void enterProfilingRegion(Profiler* profiler, const char* name) {
    ProfilingRegion* region = nullptr;
    if (profiler->depth <= 0) {
        for (i32 i = 0; i < profiler->rootCount; i++) {
            if (profiler->roots[i].name == name) {
                region = &profiler->roots[i];
                break;
            }
        }
        if (!region) {
            if (profiler->rootCount >= kMaxRoots) {
                profiler->errorFlags |= ProfilerTooManyRoots;
                return;
            }
            region = &profiler->roots[profiler->rootCount++];
            initRegion(region, name);
        }
        profiler->depth = 0;
    } else {
        // Re-entering an open region makes it the innermost again and restarts its clock; the
        // regions opened inside it are dropped without a run.
        for (i32 k = 0; k < profiler->depth; k++) {
            if (profiler->stack[k]->name == name) {
                profiler->depth = k + 1;
                profiler->stack[k]->start = (i64)now(profiler);
                return;
            }
        }
        if (profiler->depth >= kMaxDepth) {
            profiler->errorFlags |= ProfilerTooDeep;
            return;
        }
        ProfilingRegion* parent = profiler->stack[profiler->depth - 1];
        for (i32 i = 0; i < parent->childCount; i++) {
            ProfilingRegion* child = &profiler->pool[parent->children[i]];
            if (child->name == name) {
                region = child;
                break;
            }
        }
        if (!region) {
            if (parent->childCount >= kMaxChildren || profiler->poolCount >= kMaxPool) {
                profiler->errorFlags |= ProfilerTooManyChildren;
                return;
            }
            i32 index = profiler->poolCount++;
            region = &profiler->pool[index];
            initRegion(region, name);
            parent->children[parent->childCount++] = (u16)index;
        }
    }
    profiler->stack[profiler->depth++] = region;
    region->start = (i64)now(profiler);
}

void exitProfilingRegionIn(Profiler* profiler, const char* name) {
    i64 time = (i64)now(profiler);
    for (i32 k = 0; k < profiler->depth; k++) {
        if (profiler->stack[k]->name != name) continue;
        for (i32 j = k; j < profiler->depth; j++) recordRun(profiler->stack[j], time - profiler->stack[j]->start);
        profiler->depth = k;
        return;
    }
}

void enterProfilingRegionChecked(const char* name) {
    if (onProfiledThread() && globalProfiler.paused == 0) enterProfilingRegion(&globalProfiler, name);
}

void exitProfilingRegion(const char* name) {
    if (profiledStack.load() != 0 && onProfiledThread() && globalProfiler.paused == 0) {
        exitProfilingRegionIn(&globalProfiler, name);
    }
}

ProfilingPause::ProfilingPause() : active(onProfiledThread() ? 1 : 0) {
    if (active) globalProfiler.paused++;
}

ProfilingPause::~ProfilingPause() {
    if (active) globalProfiler.paused--;
}

// ---------------------------------------------------------------------------------------------------
// Reports

void appendProfilingRegionTree(Profiler* profiler, const ProfilingRegion* region, i32 level, i64 nameWidth,
                               i64 rootTotal, i64 parentTotal, ByteWriter* writer) {
    i64 rowStart = writer->length;
    for (i32 i = 0; i < level; i++) appendCString("  ", writer);
    appendCString(regionName(region), writer);
    if (region->runs > 0) {
        FixedString values[kValueColumns];
        rowValues(region, rootTotal, parentTotal, values);
        for (i32 i = 0; i < kValueColumns; i++) {
            appendCStringRightAligned(values[i].text, rowStart + nameWidth + kColumnStep * i, writer);
        }
    }
    appendCString("\n", writer);
    for (i32 i = 0; i < region->childCount; i++) {
        appendProfilingRegionTree(profiler, &profiler->pool[region->children[i]], level + 1, nameWidth, rootTotal,
                                  region->total, writer);
    }
}

void appendProfilingRegionTreeB(Profiler* profiler, const ProfilingRegion* region, i32 level, i64 rootTotal,
                                i64 parentTotal, ByteWriter* writer) {
    for (i32 i = 0; i < level; i++) appendCString("\t", writer);
    appendCString(regionName(region), writer);
    if (region->runs > 0) {
        FixedString values[kValueColumns];
        rowValues(region, rootTotal, parentTotal, values);
        for (i32 i = 0; i < kValueColumns; i++) {
            appendCString("\t", writer);
            appendFixedStringRef(&values[i], writer);
        }
    } else {
        for (i32 i = 0; i < kValueColumns; i++) appendCString("\t", writer);
    }
    appendCString("\n", writer);
    for (i32 i = 0; i < region->childCount; i++) {
        appendProfilingRegionTreeB(profiler, &profiler->pool[region->children[i]], level + 1, rootTotal, region->total,
                                   writer);
    }
}

void appendProfilingReport(Profiler* profiler, ByteWriter* writer) {
    i64 width = nameColumnWidth(profiler);
    i64 reportStart = writer->length;
    appendCString(kReportTitle, writer);
    for (i32 i = 0; i < kValueColumns; i++) {
        appendCStringRightAligned(kColumnTitles[i], reportStart + width + kColumnStep * i, writer);
    }
    appendCString("\n", writer);
    for (i32 i = 0; i < profiler->rootCount; i++) {
        if (i > 0) appendCString("\n", writer);
        const ProfilingRegion* root = &profiler->roots[i];
        appendProfilingRegionTree(profiler, root, 0, width, root->total, root->total, writer);
    }
}

void appendProfilingReportB(Profiler* profiler, ByteWriter* writer) {
    appendCString(kReportTitle, writer);
    for (i32 i = 0; i < kValueColumns; i++) {
        appendCString("\t", writer);
        appendCString(kColumnTitles[i], writer);
    }
    appendCString("\n", writer);
    for (i32 i = 0; i < profiler->rootCount; i++) {
        if (i > 0) {
            // Between two roots' trees: a row of one blank and an empty cell for every column.
            appendCString(" ", writer);
            for (i32 k = 0; k < kValueColumns; k++) appendCString("\t", writer);
            appendCString("\n", writer);
        }
        const ProfilingRegion* root = &profiler->roots[i];
        appendProfilingRegionTreeB(profiler, root, 0, root->total, root->total, writer);
    }
}

void printProfilingReport(Profiler* profiler) {
    static char buffer[65534];
    // Room is kept for the closing newline and the zero.
    ByteWriter writer = makeByteWriter(buffer, (i64)sizeof buffer - 2);
    appendProfilingReport(profiler, &writer);
    i64 length = writer.length;
    if (length == 0 || buffer[length - 1] != '\n') buffer[length++] = '\n';
    buffer[length] = 0;
    std::fwrite(buffer, 1, (size_t)length, stdout);
    std::fflush(stdout);
}
