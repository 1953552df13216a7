// The job ring: {function, argument} jobs handed from the main thread (the one producer) to the job
// worker thread (the one consumer) without locks. Count, read index and write index live in one
// 32-bit control word changed by compare-and-swap, so neither side ever sees them half-changed.
#pragma once
#include "Core/Types.h"

constexpr u32 kJobQueueCapacity = 16;

// A job function's result is ignored.
using JobFunction = i64 (*)(void* argument);

struct JobSlot {
    JobFunction function;
    void* argument;
};

struct JobQueue {
    u32 control;  // byte 0 queued jobs (0-16), byte 1 read index (0-15), byte 2 write index (0-15)
    u32 pad;
    JobSlot slots[kJobQueueCapacity];
    const u32* running;  // the program's running flag, set by start-up before the worker starts
};

// Queues a job: 1 when queued, 0 when the ring already holds 16 jobs (try again on a later frame).
i32 pushAsyncJob(JobFunction function, void* argument, JobQueue* queue);

// Runs one queued job, if any, on the calling thread: 1 when a job ran, 0 when the ring was empty.
i32 runNextAsyncJob(JobQueue* queue);

// The worker loop: runs jobs in the order queued while *running is nonzero, waiting idleMicroseconds
// whenever the ring is empty. Returns 0.
i64 runAsyncJobWorker(JobQueue* queue, const u32* running, u64 idleMicroseconds);

// The job worker's thread procedure: the worker loop over the queue's running flag with a 100 ms
// idle wait.
i64 asyncJobThread(JobQueue* queue);

// The queue's count, read index and write index.
u32 queuedJobCount(const JobQueue* queue);
