#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "stream/MMEvent.h"

namespace {

using namespace std::chrono_literals;

TEST(MMEvent, AutoResetIsConsumedByOneWaitManualResetStaysSet) {
    struct Case {
        MMEvent::Kind kind;
        bool secondWaitSucceeds;
    };
    for (const Case c : {Case{MMEvent::AutoReset, false}, Case{MMEvent::ManualReset, true}}) {
        MMEvent e(c.kind);
        EXPECT_FALSE(e.TryWait());
        e.Set();
        EXPECT_TRUE(e.TryWait());
        EXPECT_EQ(e.TryWait(), c.secondWaitSucceeds);
        e.Reset();
        EXPECT_FALSE(e.IsSet());
        EXPECT_FALSE(e.Wait(5ms));
    }
}

TEST(MMEvent, WaitAnyPrefersEarlierEventsAndConsumesOnlyAutoReset) {
    MMEvent stop(MMEvent::AutoReset), busy(MMEvent::ManualReset);
    EXPECT_EQ(MMEvent::WaitAny({&stop, &busy}, 5ms), -1);
    busy.Set();
    EXPECT_EQ(MMEvent::WaitAny({&stop, &busy}, 5ms), 1);
    EXPECT_TRUE(busy.IsSet()); // manual reset: still set
    stop.Set();
    EXPECT_EQ(MMEvent::WaitAny({&stop, &busy}, 5ms), 0);
    EXPECT_FALSE(stop.IsSet());
}

TEST(MMEvent, SetFromAnotherThreadWakesEveryKindOfWaiter) {
    MMEvent go(MMEvent::AutoReset), stop(MMEvent::AutoReset), gate(MMEvent::ManualReset);
    std::atomic<int> woke{-2};
    std::atomic<bool> passedGate{false};
    std::thread anyWaiter([&] { woke = MMEvent::WaitAny({&stop, &go}); });
    std::thread gateWaiter([&] {
        gate.Wait();
        passedGate = true;
    });
    std::this_thread::sleep_for(10ms); // usually lets both block first; correct either way
    go.Set();
    gate.Set();
    anyWaiter.join();
    gateWaiter.join();
    EXPECT_EQ(woke.load(), 1);
    EXPECT_TRUE(passedGate);
    EXPECT_FALSE(go.IsSet());
}

} // namespace
