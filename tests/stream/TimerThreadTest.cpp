#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "StreamTestSupport.h"
#include "stream/MMEvent.h"
#include "stream/TimerThread.h"

namespace {

using namespace std::chrono_literals;
using streamtest::WaitUntil;
auto& timers() { return TimerThread::Instance(); }

std::string threadName() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

TEST(TimerThread, PeriodicTimerTicksOnTheNamedThreadUntilKilled) {
    std::atomic<int> ticks{0};
    std::mutex lock;
    std::string name;
    const int before = timers().ActiveCount();
    const auto id = timers().StartPeriodic(2ms, [&] {
        {
            std::lock_guard guard(lock);
            name = threadName();
        }
        ++ticks;
    });
    ASSERT_NE(id, 0u);
    EXPECT_EQ(timers().ActiveCount(), before + 1);
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }));
    timers().Kill(id);
    const int atKill = ticks;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticks, atKill); // nothing after Kill returned
    EXPECT_EQ(timers().ActiveCount(), before);
    std::lock_guard guard(lock);
    EXPECT_EQ(name, "MMTimer");
}

TEST(TimerThread, OneShotRunsOnce) {
    std::atomic<int> runs{0};
    timers().StartOneShot(1ms, [&] { ++runs; });
    ASSERT_TRUE(WaitUntil([&] { return runs >= 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(runs, 1);
}

TEST(TimerThread, KillWaitsForTheRunningCallback) {
    MMEvent entered(MMEvent::ManualReset);
    std::atomic<bool> inside{false};
    const auto id = timers().StartPeriodic(1ms, [&] {
        inside = true;
        entered.Set();
        std::this_thread::sleep_for(50ms);
        inside = false;
    });
    ASSERT_TRUE(entered.Wait(10s));
    timers().Kill(id);
    EXPECT_FALSE(inside);
}

TEST(TimerThread, CallbackMayKillItsOwnTimer) {
    std::atomic<int> runs{0};
    std::atomic<TimerThread::TimerId> id{0};
    MMEvent ready(MMEvent::ManualReset), finished(MMEvent::ManualReset);
    id = timers().StartPeriodic(1ms, [&] {
        ready.Wait();
        ++runs;
        timers().Kill(id); // returns at once: it is this very callback that runs
        finished.Set();
    });
    ready.Set();
    ASSERT_TRUE(finished.Wait(10s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(runs, 1);
}

TEST(TimerThread, TicksMissedDuringASlowCallbackAreSkippedNotMadeUp) {
    using Clock = std::chrono::steady_clock;
    std::mutex lock;
    std::vector<Clock::time_point> calls;
    Clock::time_point slowEnd{};
    std::atomic<int> n{0};
    const auto id = timers().StartPeriodic(20ms, [&] {
        const int k = n++;
        if (k == 0) {
            std::this_thread::sleep_for(200ms); // ten periods pass
            std::lock_guard guard(lock);
            slowEnd = Clock::now();
            return;
        }
        std::lock_guard guard(lock);
        calls.push_back(Clock::now());
    });
    ASSERT_TRUE(WaitUntil([&] { return n >= 4; }));
    timers().Kill(id);
    std::lock_guard guard(lock);
    // Deadlines after the slow call are at least a period apart, so no window of 5 ms right
    // after it can hold more than two calls; a catch-up burst would put about ten there.
    const auto burst = std::count_if(calls.begin(), calls.end(),
                                     [&](Clock::time_point t) { return t - slowEnd < 5ms; });
    EXPECT_LE(burst, 2);
}

} // namespace
