#include "Core/JobQueue.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr u32 countOf(u32 control) { return control & 0xFF; }
constexpr u32 readIndexOf(u32 control) { return (control >> 8) & 0xFF; }
constexpr u32 writeIndexOf(u32 control) { return (control >> 16) & 0xFF; }
constexpr u32 makeControl(u32 count, u32 readIndex, u32 writeIndex) {
    return count | (readIndex << 8) | (writeIndex << 16);
}

}  // namespace

u32 queuedJobCount(const JobQueue* queue) {
    return countOf(std::atomic_ref<u32>(const_cast<u32&>(queue->control)).load(std::memory_order_acquire));
}

i32 pushAsyncJob(JobFunction function, void* argument, JobQueue* queue) {
    std::atomic_ref<u32> control(queue->control);
    u32 seen = control.load(std::memory_order_acquire);
    if (countOf(seen) >= kJobQueueCapacity) return 0;
    // Only this thread moves the write index, and the slot there is free: the worker released it with
    // the compare-and-swap that lowered the count we just read.
    u32 writeIndex = writeIndexOf(seen);
    queue->slots[writeIndex].function = function;
    queue->slots[writeIndex].argument = argument;
    for (;;) {
        u32 next = makeControl(countOf(seen) + 1, readIndexOf(seen), (writeIndex + 1) % kJobQueueCapacity);
        if (control.compare_exchange_weak(seen, next, std::memory_order_acq_rel, std::memory_order_acquire)) {
            return 1;
        }
    }
}

i32 runNextAsyncJob(JobQueue* queue) {
    std::atomic_ref<u32> control(queue->control);
    for (;;) {
        u32 seen = control.load(std::memory_order_acquire);
        if (countOf(seen) == 0) return 0;
        u32 readIndex = readIndexOf(seen);
        JobSlot job = queue->slots[readIndex];
        u32 next = makeControl(countOf(seen) - 1, (readIndex + 1) % kJobQueueCapacity, writeIndexOf(seen));
        if (!control.compare_exchange_strong(seen, next, std::memory_order_acq_rel, std::memory_order_acquire)) {
            continue;
        }
        if (job.function) job.function(job.argument);
        return 1;
    }
}

i64 runAsyncJobWorker(JobQueue* queue, const u32* running, u64 idleMicroseconds) {
    std::atomic_ref<u32> runningFlag(const_cast<u32&>(*running));
    if (runningFlag.load(std::memory_order_acquire) == 0) return 0;
    for (;;) {
        if (!runNextAsyncJob(queue)) {
            if (idleMicroseconds) {
                std::this_thread::sleep_for(std::chrono::microseconds(idleMicroseconds));
            } else {
                std::this_thread::yield();
            }
        }
        if (runningFlag.load(std::memory_order_acquire) == 0) return 0;
    }
}

i64 asyncJobThread(JobQueue* queue) {
    if (!queue->running) return 0;
    return runAsyncJobWorker(queue, queue->running, 100000);
}
