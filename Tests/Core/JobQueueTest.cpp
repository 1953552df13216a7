// The job ring between the main thread and the job worker: order, the full ring, wrap-around and a
// long run under two real threads in which every job runs exactly once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Core/JobQueue.h"

namespace {

struct Tally {
    std::vector<i32> order;
};

struct JobArgument {
    Tally* tally;
    i32 number;
};

i64 recordJob(void* argument) {
    auto* job = static_cast<JobArgument*>(argument);
    job->tally->order.push_back(job->number);
    return 0;
}

TEST(JobQueue, SeventeenthJobIsRefusedAndJobsRunInOrderAcrossTheWrap) {
    JobQueue queue{};
    Tally tally;
    std::vector<JobArgument> arguments(40);
    for (i32 i = 0; i < 40; i++) arguments[i] = {&tally, i};
    for (i32 i = 0; i < 16; i++) ASSERT_EQ(pushAsyncJob(recordJob, &arguments[i], &queue), 1);
    EXPECT_EQ(queuedJobCount(&queue), 16u);
    EXPECT_EQ(pushAsyncJob(recordJob, &arguments[16], &queue), 0);
    EXPECT_EQ(queuedJobCount(&queue), 16u);
    // Take ten, then fill again so the write index wraps past slot 15.
    for (i32 i = 0; i < 10; i++) ASSERT_EQ(runNextAsyncJob(&queue), 1);
    for (i32 i = 16; i < 26; i++) ASSERT_EQ(pushAsyncJob(recordJob, &arguments[i], &queue), 1);
    EXPECT_EQ(pushAsyncJob(recordJob, &arguments[26], &queue), 0);
    while (runNextAsyncJob(&queue)) {
    }
    EXPECT_EQ(runNextAsyncJob(&queue), 0);
    ASSERT_EQ(tally.order.size(), 26u);
    for (i32 i = 0; i < 26; i++) EXPECT_EQ(tally.order[i], i);
    EXPECT_EQ(queue.control, (10u << 8) | (10u << 16));  // empty, both indices at 26 mod 16
}

std::atomic<u32> runs[100000];

i64 countJob(void* argument) {
    runs[reinterpret_cast<std::uintptr_t>(argument)].fetch_add(1, std::memory_order_relaxed);
    return 0;
}

TEST(JobQueue, HundredThousandJobsEachRunOnceOnTheWorker) {
    constexpr i32 kJobs = 100000;
    for (auto& run : runs) run.store(0);
    JobQueue queue{};
    u32 running = 1;
    queue.running = &running;
    std::thread worker([&] { runAsyncJobWorker(&queue, &running, 0); });
    i64 refusals = 0;
    for (i32 i = 0; i < kJobs; i++) {
        while (!pushAsyncJob(countJob, reinterpret_cast<void*>(static_cast<std::uintptr_t>(i)), &queue)) {
            refusals++;
            std::this_thread::yield();
        }
    }
    while (queuedJobCount(&queue) != 0) std::this_thread::yield();
    std::atomic_ref<u32>(running).store(0, std::memory_order_release);
    worker.join();
    for (i32 i = 0; i < kJobs; i++) ASSERT_EQ(runs[i].load(), 1u) << "job " << i;
    RecordProperty("refusals", (int)refusals);
}

TEST(JobQueue, WorkerEndsWhenRunningIsClear) {
    JobQueue queue{};
    u32 running = 0;
    queue.running = &running;
    EXPECT_EQ(asyncJobThread(&queue), 0);
    JobQueue unset{};
    EXPECT_EQ(asyncJobThread(&unset), 0);
}

}  // namespace
