#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "StreamTestSupport.h"
#include "stream/MMErrors.h"
#include "stream/MMHiTimer.h"
#include "support/TestServices.h"

namespace {

using namespace std::chrono_literals;
using streamtest::Settle;
using streamtest::WaitUntil;
auto& dispatcher() { return MainThreadDispatcher::Instance(); }

// Counts ticks and remembers where they ran.
struct TickLog {
    std::atomic<int> ticks{0};
    std::atomic<int> onMain{0};
    std::mutex lock;
    std::string lastThreadName;
    TMMNotifyEvent Handler() {
        return [this](TMMComponent*) {
            if (dispatcher().IsMainThread()) ++onMain;
            char name[32] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            {
                std::lock_guard guard(lock);
                lastThreadName = name;
            }
            ++ticks;
        };
    }
};

TEST(TMMHiTimer, DefaultsAndNoTimerWithoutIntervalHandlerOrEnabled) {
    TMMHiTimer plain;
    EXPECT_EQ(plain.Interval(), 1000);
    EXPECT_TRUE(plain.Enabled());
    EXPECT_EQ(plain.CallBackMode(), cmWindow);
    EXPECT_EQ(plain.Priority(), tpNormal);
    EXPECT_TRUE(plain.Synchronize());
    EXPECT_FALSE(plain.WaitForTerminate());
    EXPECT_FALSE(plain.HasTimer()); // no OnTimer

    struct Case {
        int interval;
        bool handler;
        bool enabled;
    };
    const int before = TimerThread::Instance().ActiveCount();
    for (const Case c : {Case{0, true, true}, Case{10, false, true}, Case{10, true, false}}) {
        TickLog log;
        TMMHiTimer timer;
        timer.SetEnabled(c.enabled);
        timer.SetInterval(c.interval);
        if (c.handler) timer.SetOnTimer(log.Handler());
        EXPECT_FALSE(timer.HasTimer());
        EXPECT_EQ(TimerThread::Instance().ActiveCount(), before);
    }
}

TEST(TMMHiTimer, WindowModeDeliversOnTheMainThread) {
    TickLog log;
    TMMHiTimer timer;
    timer.SetInterval(5);
    timer.SetOnTimer(log.Handler());
    EXPECT_TRUE(timer.HasTimer());
    ASSERT_TRUE(WaitUntil([&] { return log.ticks >= 3; }));
    timer.SetEnabled(false);
    EXPECT_EQ(log.onMain.load(), log.ticks.load());
}

TEST(TMMHiTimer, WindowModeKeepsAtMostTenTicksWhileTheMainThreadIsBlocked) {
    TickLog log;
    TMMHiTimer timer;
    timer.SetInterval(10);
    timer.SetOnTimer(log.Handler());
    std::this_thread::sleep_for(1s); // the main thread serves nothing meanwhile
    dispatcher().ProcessPending();
    const int delivered = log.ticks;
    EXPECT_GE(delivered, 1);
    EXPECT_LE(delivered, TMMHiTimer::MaxPendingTicks);
}

TEST(TMMHiTimer, RebuildingWithdrawsTicksStillQueuedForTheOldTimer) {
    TickLog first, second;
    TMMHiTimer timer;
    timer.SetInterval(2);
    timer.SetOnTimer(first.Handler());
    std::this_thread::sleep_for(50ms); // ticks queue up for the main thread
    timer.SetOnTimer(second.Handler());
    ASSERT_TRUE(WaitUntil([&] { return second.ticks >= 2; }));
    EXPECT_EQ(first.ticks, 0);

    timer.SetInterval(3); // still one timer
    EXPECT_TRUE(timer.HasTimer());
    std::this_thread::sleep_for(30ms);
    timer.SetEnabled(false);
    const int atDisable = second.ticks;
    Settle();
    EXPECT_EQ(second.ticks, atDisable);
    EXPECT_FALSE(timer.HasTimer());
}

TEST(TMMHiTimer, ThreadModeRunsOnTheMainThreadOnlyWhenSynchronized) {
    for (const bool synchronize : {true, false}) {
        TickLog log;
        TMMHiTimer timer;
        timer.SetCallBackMode(cmThread);
        timer.SetSynchronize(synchronize);
        timer.SetPriority(tpHigher);
        timer.SetInterval(5);
        timer.SetOnTimer(log.Handler());
        ASSERT_TRUE(WaitUntil([&] { return log.ticks >= 3; })) << synchronize;
        timer.SetEnabled(false);
        if (synchronize) {
            EXPECT_EQ(log.onMain.load(), log.ticks.load());
        } else {
            EXPECT_EQ(log.onMain.load(), 0);
            std::lock_guard guard(log.lock);
            EXPECT_EQ(log.lastThreadName, "HiTimer");
        }
    }
}

TEST(TMMHiTimer, DestroyingWhileTicksRunIsSafe) {
    for (const bool synchronize : {true, false}) {
        TickLog log;
        auto timer = std::make_unique<TMMHiTimer>();
        timer->SetCallBackMode(cmThread);
        timer->SetSynchronize(synchronize);
        timer->SetWaitForTerminate(true);
        timer->SetInterval(1);
        timer->SetOnTimer(log.Handler());
        ASSERT_TRUE(WaitUntil([&] { return log.ticks >= 2; }));
        timer.reset();
        const int atDestroy = log.ticks;
        Settle();
        EXPECT_EQ(log.ticks, atDestroy);
    }
}

TEST(TMMHiTimer, CallbackModeIsRefusedWithAMessageAndTheModeStays) {
    ScopedTestServices services;
    for (const TMMCBMode before : {cmWindow, cmThread}) {
        TMMHiTimer timer;
        timer.SetCallBackMode(before);
        timer.SetCallBackMode(cmCallback);
        EXPECT_EQ(timer.CallBackMode(), before);
    }
    const auto shown = services.messages->Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].caption, "TMMHiTimer");
    EXPECT_EQ(shown[0].text,
              "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under Windows 95");
}

TEST(TMMHiTimer, ErrorsOfAHandlerReachTheErrorHandler) {
    ScopedTestServices services;
    for (const TMMCBMode mode : {cmWindow, cmThread}) {
        std::atomic<int> calls{0};
        TMMHiTimer timer;
        timer.SetCallBackMode(mode);
        timer.SetSynchronize(false);
        timer.SetInterval(5);
        timer.SetOnTimer([&](TMMComponent*) {
            if (calls++ == 0) throw EMMHiTimerError("tick failed");
        });
        ASSERT_TRUE(WaitUntil([&] { return calls >= 2 && !services.errors->Messages().empty(); }));
        timer.SetEnabled(false);
        Settle(10ms);
    }
    EXPECT_EQ(services.errors->Messages(), (std::vector<std::string>{"tick failed", "tick failed"}));
}

} // namespace
