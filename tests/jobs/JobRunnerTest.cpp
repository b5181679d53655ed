// Pause, Resume and Stop of a running job, observed through the pause gate
// instead of sleeps: a paused job is seen waiting at the gate.

#include "jobs/JobRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace qis {
namespace {

// Counts the reports that reached the page.
class CountingReporter : public NullReporter {
public:
    void setProgressPos(std::int32_t position) override
    {
        std::lock_guard lock(mutex_);
        last_ = position;
        ++calls_;
        changed_.notify_all();
    }
    int calls()
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void awaitCalls(int n)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return calls_ >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int calls_ = 0;
    std::int32_t last_ = 0;
};

// A job that reports and checks its stop flag in a loop, as scans do.
struct LoopJob {
    std::atomic<bool> stopRequested{false};
    std::atomic<int> steps{0};
    std::atomic<bool> sawStop{false};

    void operator()(JobContext& job)
    {
        for (int i = 0; i < 1'000'000'000; ++i) {
            job.reporter().setProgressPos(i);
            if (job.stopSeen(stopRequested)) {
                sawStop = true;
                return;
            }
            ++steps;
        }
    }
};

TEST(JobRunner, PausedJobMakesNoProgressUntilResumed)
{
    CountingReporter page;
    JobRunner runner(page);
    LoopJob job;
    ASSERT_TRUE(runner.start([&](JobContext& c) { job(c); }));
    page.awaitCalls(10);

    runner.pause();
    runner.gate().awaitWaiting(1);
    int reported = page.calls();
    int steps = job.steps.load();
    // Held at the gate: the job is blocked inside its next report or check.
    EXPECT_EQ(runner.gate().waiting(), 1u);
    EXPECT_EQ(page.calls(), reported);
    EXPECT_LE(job.steps.load(), steps + 1);

    runner.resume();
    page.awaitCalls(reported + 10);
    job.stopRequested = true;
    runner.join();
    EXPECT_TRUE(job.sawStop);
    EXPECT_FALSE(runner.running());
}

TEST(JobRunner, TwoPausesNeedTwoResumes)
{
    CountingReporter page;
    JobRunner runner(page);
    LoopJob job;
    ASSERT_TRUE(runner.start([&](JobContext& c) { job(c); }));
    page.awaitCalls(1);
    runner.pause();
    runner.pause();
    runner.gate().awaitWaiting(1);
    runner.resume();
    EXPECT_TRUE(runner.gate().paused());
    EXPECT_EQ(runner.gate().waiting(), 1u);
    runner.resume();
    EXPECT_FALSE(runner.gate().paused());
    job.stopRequested = true;
    runner.join();
    EXPECT_TRUE(job.sawStop);
}

TEST(JobRunner, StopWhilePausedIsSeenOnlyAfterResume)
{
    CountingReporter page;
    JobRunner runner(page);
    LoopJob job;
    ASSERT_TRUE(runner.start([&](JobContext& c) { job(c); }));
    page.awaitCalls(1);
    runner.pause();
    runner.gate().awaitWaiting(1);
    job.stopRequested = true;
    EXPECT_TRUE(runner.running());
    EXPECT_FALSE(job.sawStop);
    EXPECT_EQ(runner.gate().waiting(), 1u);
    runner.resume();
    runner.join();
    EXPECT_TRUE(job.sawStop);
}

TEST(JobRunner, OneJobAtATimeAndControlsWithoutAJobDoNothing)
{
    CountingReporter page;
    JobRunner runner(page);
    runner.pause(); // no job yet: nothing happens
    runner.resume();
    EXPECT_FALSE(runner.gate().paused());

    LoopJob job;
    ASSERT_TRUE(runner.start([&](JobContext& c) { job(c); }));
    EXPECT_FALSE(runner.start([](JobContext&) {}));
    job.stopRequested = true;
    runner.join();
    std::atomic<bool> ran{false};
    ASSERT_TRUE(runner.start([&](JobContext&) { ran = true; }));
    runner.join();
    EXPECT_TRUE(ran);
}

TEST(JobRunner, DestroyingTheRunnerReleasesAPausedJob)
{
    CountingReporter page;
    LoopJob job;
    {
        JobRunner runner(page);
        ASSERT_TRUE(runner.start([&](JobContext& c) { job(c); }));
        page.awaitCalls(1);
        runner.pause();
        runner.gate().awaitWaiting(1);
        job.stopRequested = true;
    } // must not hang
    EXPECT_TRUE(job.sawStop);
}

} // namespace
} // namespace qis
