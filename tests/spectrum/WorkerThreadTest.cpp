#include "spectrum/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
    auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Loops until a stop is requested, counting how many of its kind run at once.
class LoopingWorker : public WorkerThread {
  public:
    ~LoopingWorker() override { WaitForEnd(); }
    void Run() override {
        int now = ++running;
        int seen = maxRunning.load();
        while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
        }
        ++runs;
        while (state.load() != 1) {
            ++loops;
            std::this_thread::sleep_for(1ms);
        }
        // Touches the object after the stop was seen: a destructor that did
        // not wait for the thread would make this a use after free.
        std::this_thread::sleep_for(2ms);
        ++loops;
        --running;
    }
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    std::atomic<int> runs{0};
    std::atomic<int> loops{0};
};

// Returns at once.
class InstantWorker : public WorkerThread {
  public:
    void Run() override { ++runs; }
    std::atomic<int> runs{0};
};

// Never reads the state: runs until the test lets it go.
class StubbornWorker : public WorkerThread {
  public:
    explicit StubbornWorker(std::atomic<bool>& releaseFlag) : release(releaseFlag) {}
    void Run() override {
        while (!release.load()) {
            std::this_thread::sleep_for(1ms);
        }
    }
    std::atomic<bool>& release;
};

TEST(WorkerThread, StopOnIdleObjectReturnsAtOnce) {
    WorkerThread worker;
    EXPECT_EQ(worker.state.load(), 0u);
    auto begin = Clock::now();
    EXPECT_TRUE(worker.Stop(true));
    EXPECT_TRUE(worker.Stop(false));
    EXPECT_LT(Clock::now() - begin, 5ms);
    EXPECT_EQ(worker.state.load(), 0u);
}

TEST(WorkerThread, StopWithoutWaitLeavesStopRequestedUntilRunReturns) {
    std::atomic<bool> release{false};
    StubbornWorker worker(release);
    ASSERT_TRUE(worker.Start());
    EXPECT_GT(worker.state.load(), 1u);
    auto begin = Clock::now();
    EXPECT_TRUE(worker.Stop(false));
    EXPECT_LT(Clock::now() - begin, 5ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(worker.state.load(), 1u);
    // A second request changes nothing while the first is pending.
    EXPECT_TRUE(worker.Stop(false));
    EXPECT_EQ(worker.state.load(), 1u);
    release = true;
    EXPECT_TRUE(waitFor([&] { return worker.state.load() == 0; }));
}

TEST(WorkerThread, StopWithWaitEndsARunningLoop) {
    LoopingWorker worker;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(waitFor([&] { return worker.loops.load() > 0; }));
    EXPECT_TRUE(worker.Stop(true));
    EXPECT_EQ(worker.state.load(), 0u);
    EXPECT_EQ(worker.running.load(), 0);
}

TEST(WorkerThread, StartOnRunningObjectStopsTheOldThreadFirst) {
    LoopingWorker worker;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(waitFor([&] { return worker.runs.load() == i + 1; }));
    }
    EXPECT_EQ(worker.maxRunning.load(), 1);
    // Also when the old thread was only asked to stop and has not ended yet.
    worker.Stop(false);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(waitFor([&] { return worker.runs.load() == 6; }));
    EXPECT_EQ(worker.maxRunning.load(), 1);
    EXPECT_GT(worker.state.load(), 1u);
}

TEST(WorkerThread, RunThatReturnsAtOnceNeverLeavesAStaleMark) {
    InstantWorker worker;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(waitFor([&] { return worker.state.load() == 0; })) << "start " << i;
    }
    EXPECT_EQ(worker.runs.load(), 200);
    EXPECT_TRUE(worker.Stop(true));
}

TEST(WorkerThread, RunIgnoringTheStopMakesStopReportFailure) {
    std::atomic<bool> release{false};
    StubbornWorker worker(release);
    worker.stopPollCount = 20;
    worker.stopPollInterval = 1ms;
    ASSERT_TRUE(worker.Start());
    auto begin = Clock::now();
    EXPECT_FALSE(worker.Stop(true));
    EXPECT_GE(Clock::now() - begin, 20ms);
    EXPECT_EQ(worker.state.load(), 1u);
    release = true;
    EXPECT_TRUE(waitFor([&] { return worker.state.load() == 0; }));
}

TEST(WorkerThread, DestructorWaitsForAThreadAskedToStop) {
    for (int i = 0; i < 20; ++i) {
        auto worker = std::make_unique<LoopingWorker>();
        ASSERT_TRUE(worker->Start());
        worker->Stop(false);
        worker.reset(); // ASan/TSan see any touch of the freed object
    }
    // Destroyed while running, without any stop request.
    auto worker = std::make_unique<LoopingWorker>();
    ASSERT_TRUE(worker->Start());
    worker.reset();
}

} // namespace
