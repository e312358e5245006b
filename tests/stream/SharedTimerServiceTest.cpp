#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "StreamTestSupport.h"
#include "stream/SharedTimerService.h"

namespace {

using namespace std::chrono_literals;
using Client = SharedTimerService::Client;

TEST(SharedTimerService, ClientsAreCalledOnceTheirIntervalHasPassed) {
    struct Case {
        int interval;
        int callsIn12Ticks;
    };
    for (const Case c : {Case{10, 12}, Case{25, 12}, Case{60, 4}, Case{100, 3}}) {
        auto service = SharedTimerService::CreateManual();
        int calls = 0;
        Client* seen = nullptr;
        intptr_t data = 0;
        Client* client = service->Register(c.interval, [&](Client* who, intptr_t d) {
            ++calls;
            seen = who;
            data = d;
        }, 42);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(client->interval, std::max(c.interval, 25));
        for (int i = 0; i < 12; ++i) service->Tick();
        EXPECT_EQ(calls, c.callsIn12Ticks) << c.interval;
        EXPECT_EQ(seen, client);
        EXPECT_EQ(data, 42);
    }
}

TEST(SharedTimerService, SuspendClearsElapsedTimeAndResumeNeverGoesBelowZero) {
    auto service = SharedTimerService::CreateManual();
    int calls = 0;
    Client* client = service->Register(75, [&](Client*, intptr_t) { ++calls; }, 0);
    service->Tick();
    service->Tick(); // 50 of 75 ms
    service->Suspend(client);
    for (int i = 0; i < 5; ++i) service->Tick();
    EXPECT_EQ(calls, 0);
    service->Resume(client);
    service->Tick();
    service->Tick();
    EXPECT_EQ(calls, 0); // counting started again from 0
    service->Tick();
    EXPECT_EQ(calls, 1);

    service->Resume(client); // already at 0
    service->Suspend(client);
    for (int i = 0; i < 6; ++i) service->Tick();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(client->suspendCount, 1);
}

TEST(SharedTimerService, CallbacksMayUnregisterAndRegisterDuringATick) {
    auto service = SharedTimerService::CreateManual();
    int selfRemoving = 0, other = 0, added = 0;
    service->Register(25, [&](Client* c, intptr_t) {
        ++selfRemoving;
        service->Unregister(c);
        service->Register(25, [&](Client*, intptr_t) { ++added; }, 0);
    }, 0);
    service->Register(25, [&](Client*, intptr_t) { ++other; }, 0);
    service->Tick();
    service->Tick();
    EXPECT_EQ(selfRemoving, 1);
    EXPECT_EQ(other, 2);
    EXPECT_GE(added, 1);
    EXPECT_EQ(service->ClientCount(), 2);
}

TEST(SharedTimerService, ProcessWideServiceRunsOnTheTimerThreadWhileItHasClients) {
    auto& service = SharedTimerService::Instance();
    const int timersBefore = TimerThread::Instance().ActiveCount();
    std::atomic<int> calls{0};
    std::mutex lock;
    std::string name;
    Client* client = service.Register(25, [&](Client*, intptr_t) {
        char n[32] = {};
        pthread_getname_np(pthread_self(), n, sizeof n);
        std::lock_guard guard(lock);
        name = n;
        ++calls;
    }, 0);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(TimerThread::Instance().ActiveCount(), timersBefore + 1);
    ASSERT_TRUE(streamtest::WaitUntil([&] { return calls >= 2; }));
    service.Unregister(client);
    const int atUnregister = calls;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(calls, atUnregister);
    EXPECT_EQ(TimerThread::Instance().ActiveCount(), timersBefore);
    std::lock_guard guard(lock);
    EXPECT_EQ(name, "MMTimer");
}

} // namespace
